#!/usr/bin/python3
"""Backing up with the window alone: files and folders added by a second start and by a drop,
their rows reaching the end, the stand-in holding exactly their bytes and tree; a large file
stopped and started; the list emptied at logout; and an unfinished upload that survives a
restart of the program and completes after Start."""
import hashlib
import os
import pathlib
import subprocess
import time
import unittest

import pyatspi

from harness import BIN, E2ETest, click, find, log_in_through_dialog, screenshot, row_names, wait_for


class TasksTest(E2ETest):

    def tree(self, root, files):
        """Writes files (relative name -> size) below root; returns their paths."""
        return {name: self.write_file(os.path.join(root, name), os.urandom(size)) for name, size in files.items()}

    def assert_stored(self, local_paths, remote_prefix=''):
        stored = self.standin.stored()
        for name, path in local_paths.items():
            sha1 = hashlib.sha1(pathlib.Path(path).read_bytes()).hexdigest().upper()
            self.assertEqual(sha1, stored.get(remote_prefix + '/' + name), name)

    def test_files_and_folders_reach_the_service_exactly(self):
        proc = self.app.start()
        app = self.app.accessible(proc)
        log_in_through_dialog(app, 'demo', 'demo')
        frame = find(app, pyatspi.ROLE_FRAME)
        wait_for(lambda: frame.name.endswith('<100001>'), what='the login')

        files = self.tree('', {'notes.bin': 1500000})
        folder = self.tree('pics', {'a.jpg': 70000, 'sub/b.jpg': 300, 'sub/deeper/c.jpg': 2 * 1048576 + 17})
        for path in (files['notes.bin'], os.path.join(self.home, 'pics') + '/'):
            self.assertEqual(0, self.app.run(path).returncode)
        self.app.wait_for_status(files['notes.bin'], 5)
        self.app.wait_for_status(os.path.join(self.home, 'pics'), 5)
        self.assert_stored(files)
        self.assert_stored(folder, '/pics')
        self.assertEqual(['notes.bin', 'pics'], row_names(app))
        screenshot('list-finished')

        # a file dragged from another program and dropped on the window
        dropped = self.write_file('dropped file.txt', b'dragged and dropped\n')
        source = subprocess.Popen(['/usr/bin/python3', os.path.dirname(__file__) + '/drag_source.py', dropped])
        try:
            time.sleep(1.5)
            # pressed on the source, moved in steps to the middle of the screen (the window is centred)
            moves = ' '.join('mousemove %d %d sleep 0.05' % (40 + 60 * i, 40 + 47 * i) for i in range(1, 11))
            subprocess.run(['xdotool'] + ('mousemove 40 40 mousedown 1 %s mouseup 1' % moves).split(), check=True)
            self.app.wait_for_status(dropped, 5)
        finally:
            source.terminate()
        self.assert_stored({'dropped file.txt': dropped})

        click(find(frame, pyatspi.ROLE_PUSH_BUTTON, 'Logout'))
        wait_for(lambda: frame.name == 'Velmo WebDisk - not login', what='the logout')
        self.assertEqual([], row_names(app))

    def test_a_large_file_stops_starts_and_survives_a_restart(self):
        # the account remembered with automatic login, as the headless client leaves it
        subprocess.run([BIN + '/velmoupload-cli', '--user', 'demo', '--password-stdin', '--remember', '--auto'],
                       input='demo\n', env=self.app.env, check=True, capture_output=True, text=True, timeout=60)
        big = self.tree('', {'video.mkv': 24 * 1048576 + 5})['video.mkv']
        folder = self.tree('album', {'1.png': 1048576, '2.png': 1048576 + 1})
        # slow pieces: the upload is still under way when the user acts
        self.standin.get('/_standin/fault', b'action=stall&on=piece&count=1000&seconds=0.25')
        proc = self.app.start(big)
        frame = self.app.frame(proc)
        self.assertEqual(0, self.app.run(os.path.join(self.home, 'album')).returncode)
        wait_for(lambda: [r for r in self.app.reports(big) if int(r['nUploadSize']) >= 3 * 1048576],
                 60, 'the first pieces')
        screenshot('list-uploading')

        click(find(frame, pyatspi.ROLE_PUSH_BUTTON, 'Stop'))
        self.app.wait_for_status(big, 3)
        click(find(frame, pyatspi.ROLE_PUSH_BUTTON, 'Start'))
        stopped_at = int(self.app.reports(big)[-1]['nUploadSize'])
        wait_for(lambda: int(self.app.reports(big)[-1]['nUploadSize']) > stopped_at + 1048576, 60,
                 'the upload to go on')

        # quitting in the middle keeps the upload for the next start
        proc.terminate()
        self.assertEqual(0, proc.wait(20))
        self.standin.get('/_standin/reset', b'all=0')  # the pieces at full speed again
        proc = self.app.start()
        frame = self.app.frame(proc)
        self.app.wait_for_status(big, 3)
        wait_for(lambda: 'video.mkv' in row_names(frame), what='the stopped row')
        click(find(frame, pyatspi.ROLE_PUSH_BUTTON, 'Start'))
        self.app.wait_for_status(big, 5, timeout=120)
        self.app.wait_for_status(os.path.join(self.home, 'album'), 5, timeout=120)
        self.assert_stored({'video.mkv': big})
        self.assert_stored(folder, '/album')


if __name__ == '__main__':
    unittest.main(verbosity=2)
