#!/usr/bin/python3
"""The program as a user starts it: logging in through the dialog and by itself, second starts
that hand over to the running instance, one instance per user, failed logins that say why, and
a start that ends clearly when an image is missing."""
import os
import pwd
import shutil
import socket
import subprocess
import time
import unittest

import pyatspi

from harness import (BIN, BUILD, E2ETest, click, dialog, fill_login_dialog, find, find_all,
                     log_in_through_dialog, screenshot, table_rows, terminate,
                     wait_for)

TITLE_LOGGED_OUT = 'Velmo WebDisk - not login'
TITLE_DEMO = 'Velmo WebDisk - demo<100001>'


class StartTest(E2ETest):

    def test_login_once_then_the_next_start_logs_in_by_itself(self):
        proc = self.app.start()
        app = self.app.accessible(proc)
        frame = find(app, pyatspi.ROLE_FRAME, TITLE_LOGGED_OUT)
        log_in_through_dialog(app, 'demo', 'demo', remember=True, auto=True)
        wait_for(lambda: frame.name == TITLE_DEMO, what='the logged-in title')
        # quitting stops the engine cleanly: exit status 0
        self.assertEqual(0, terminate(proc))
        self.assertNotIn('login=demo:', self.app.log())  # never the password on standard output
        self.assertIn('login=demo', self.app.log())

        proc = self.app.start()
        frame = self.app.frame(proc)
        wait_for(lambda: frame.name == TITLE_DEMO, what='the automatic login')
        bar = find(frame, pyatspi.ROLE_PROGRESS_BAR)
        wait_for(lambda: bar.description == '0B/100.00GB', what='the space from the service')

    def test_second_starts_hand_over_to_the_running_instance(self):
        self.remember_demo_account()
        proc = self.app.start()
        frame = self.app.frame(proc)
        wait_for(lambda: frame.name == TITLE_DEMO, what='the automatic login')

        shown = self.app.run()
        self.assertEqual(0, shown.returncode)
        # a relative path, from a working directory the running instance does not share
        self.write_file('docs/my report.txt', b'quarterly numbers\n')
        added = self.app.run('my report.txt', cwd=os.path.join(self.home, 'docs'))
        self.assertEqual(0, added.returncode)
        app = self.app.accessible(proc)
        wait_for(lambda: any(row[0] == 'my report.txt' for row in table_rows(app)), what='the handed-over row')
        self.assertIn('add_task=' + os.path.join(self.home, 'docs/my report.txt'), self.app.log())

        usage = self.app.run('a', 'b')
        self.assertEqual(0, usage.returncode)
        self.assertEqual('Usage: %s [path]\n' % self.app.binary, usage.stdout)
        self.assertIsNone(proc.poll())
        self.assertEqual(1, len([a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == 'vurozudeduz']))

    def test_two_starts_at_once_leave_one_instance_and_a_stale_socket_does_not_stop_a_start(self):
        with socket.socket(socket.AF_UNIX) as s:  # nobody listens on it, as after a crash
            s.bind(os.path.join(self.runtime, 'ZOVBACKUP_SINGLETON'))
        first, second = self.app.start(), self.app.start()
        wait_for(lambda: first.poll() is not None or second.poll() is not None, what='one start to hand over')
        ended, running = (first, second) if first.poll() is not None else (second, first)
        self.assertEqual(0, ended.returncode)
        self.app.frame(running)
        time.sleep(1)
        self.assertIsNone(running.poll())

    @unittest.skipUnless(os.getuid() == 0, 'switching users needs root')
    def test_another_user_gets_an_instance_of_its_own_and_cannot_reach_ours(self):
        proc = self.app.start()
        self.app.frame(proc)
        nobody = pwd.getpwnam('nobody')
        other_home = os.path.join(self.tmp, 'nobody-home')
        os.makedirs(other_home)
        os.chown(other_home, nobody.pw_uid, nobody.pw_gid)
        os.chmod(self.tmp, 0o755)
        env = {'HOME': other_home, 'DISPLAY': os.environ['DISPLAY'], 'NO_AT_BRIDGE': '1',
               'PATH': os.environ['PATH'], 'VELMO_API_HOST': self.standin.host,
               'ASAN_OPTIONS': os.environ.get('ASAN_OPTIONS', '')}
        as_nobody = ['setpriv', '--reuid=%d' % nobody.pw_uid, '--regid=%d' % nobody.pw_gid, '--clear-groups']
        ours = os.path.join(self.runtime, 'ZOVBACKUP_SINGLETON')
        probe = subprocess.run(as_nobody + ['/usr/bin/python3', '-c',
                                            'import socket,sys\ns=socket.socket(socket.AF_UNIX)\n'
                                            'try:\n s.connect(sys.argv[1]); print("reached")\n'
                                            'except OSError as e: print(type(e).__name__)', ours],
                               env=env, capture_output=True, text=True, timeout=30)
        self.assertEqual('PermissionError', probe.stdout.strip())

        other = subprocess.Popen(as_nobody + [self.app.binary], env=env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        try:
            # the first instance of that user keeps running; a hand-over would have ended it
            time.sleep(3)
            self.assertIsNone(other.poll())
            # without a runtime folder the socket lives in a folder only that user can enter
            folder = '/tmp/ZOVBACKUP_SINGLETON-%d' % nobody.pw_uid
            self.assertTrue(os.path.exists(folder + '/ZOVBACKUP_SINGLETON'))
            self.assertEqual(0o700, os.lstat(folder).st_mode & 0o777)
        finally:
            other.terminate()
            other.wait(20)
        self.assertEqual([], [row for row in table_rows(self.app.accessible(proc))])

    def test_failed_logins_say_why_and_bring_the_dialog_back(self):
        proc = self.app.start()
        app = self.app.accessible(proc)
        log_in_through_dialog(app, 'demo', 'wrong')
        box = dialog(app, 'login error')
        labels = [label.name for label in find_all(box, pyatspi.ROLE_LABEL)]
        self.assertIn('password incorrect!\n帐号或密码错误', labels)
        screenshot('login-error')
        click(find(box, pyatspi.ROLE_PUSH_BUTTON, 'OK'))
        wait_for(lambda: not find_all(app, pyatspi.ROLE_DIALOG, 'login error'), what='the box to close')

        self.standin.stop()
        fill_login_dialog(app, 'demo', 'demo')
        box = dialog(app, 'login error')
        labels = [label.name for label in find_all(box, pyatspi.ROLE_LABEL)]
        self.assertIn('Cannot reach the service at %s.\nPlease check your network connection.' % self.standin.host,
                      labels)
        click(find(box, pyatspi.ROLE_PUSH_BUTTON, 'OK'))
        dialog(app, 'Login Velmo')

    def test_a_missing_image_ends_the_start_with_status_1(self):
        copy = os.path.join(self.tmp, 'copy')
        os.makedirs(os.path.join(copy, 'bin'))
        shutil.copy(self.app.binary, os.path.join(copy, 'bin'))
        shutil.copytree(os.path.join(BUILD, 'images'), os.path.join(copy, 'images'))
        os.remove(os.path.join(copy, 'images', 'zov_msg.png'))
        self.app.binary = os.path.join(copy, 'bin', 'vurozudeduz')
        result = self.app.run()
        self.assertEqual(1, result.returncode)
        self.assertRegex(result.stderr, r'FileError: .*zov_msg\.png')

    def test_an_install_runs_from_its_own_folders(self):
        root = os.path.join(self.tmp, 'root')
        subprocess.run(['cmake', '--install', BUILD, '--prefix', root + '/usr/local'], check=True,
                       capture_output=True, timeout=120)
        share = root + '/usr/local/share'
        for path in ('Vurozudeduz/images/zov_uploading.png', 'locale/zh_CN/LC_MESSAGES/Vurozudeduz.mo',
                     'applications/org.vurozudeduz.Vurozudeduz.desktop',
                     'metainfo/org.vurozudeduz.Vurozudeduz.metainfo.xml',
                     'icons/hicolor/48x48/apps/vurozudeduz.png', 'icons/hicolor/scalable/apps/vurozudeduz.svg'):
            self.assertTrue(os.path.exists(os.path.join(share, path)), path)
        self.app.binary = root + '/usr/local/bin/vurozudeduz'
        self.app.env['LANGUAGE'] = 'zh_CN'
        proc = self.app.start(cwd='/')
        wait_for(lambda: self.app.frame(proc).name == 'Velmo 网盘 - 未登录', what='the window in Chinese')


if __name__ == '__main__':
    unittest.main(verbosity=2)
