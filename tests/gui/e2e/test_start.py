#!/usr/bin/python3
"""The program as a user starts it: logging in through the dialog and by itself, second starts
that hand over to the running instance, one instance per user, failed logins that say why, and
an install that runs from its own folders."""
import os
import pwd
import socket
import subprocess
import time
import unittest

import pyatspi

from harness import BUILD, E2ETest, click, find, find_all, log_in_through_dialog, screenshot, row_names, wait_for

TITLE_DEMO = 'Velmo WebDisk - demo<100001>'


class StartTest(E2ETest):

    def test_login_once_then_the_next_start_logs_in_by_itself_and_takes_second_starts(self):
        proc = self.app.start()
        app = self.app.accessible(proc)
        frame = find(app, pyatspi.ROLE_FRAME, 'Velmo WebDisk - not login')
        screenshot('main-logged-out-en')
        log_in_through_dialog(app, 'demo', 'demo', remember=True, auto=True)
        wait_for(lambda: frame.name == TITLE_DEMO, what='the logged-in title')
        screenshot('main-logged-in-en')
        # quitting stops the engine cleanly: exit status 0
        proc.terminate()
        self.assertEqual(0, proc.wait(20))
        self.assertNotIn('login=demo:', self.app.log())  # never the password on standard output
        self.assertIn('login=demo', self.app.log())

        proc = self.app.start()
        frame = self.app.frame(proc)
        wait_for(lambda: frame.name == TITLE_DEMO, what='the automatic login')
        bar = find(frame, pyatspi.ROLE_PROGRESS_BAR)
        wait_for(lambda: bar.description == '0B/100.00GB', what='the space from the service')

        self.assertEqual(0, self.app.run().returncode)
        # a relative path, from a working directory the running instance does not share
        self.write_file('docs/my report.txt', b'quarterly numbers\n')
        self.assertEqual(0, self.app.run('my report.txt', cwd=os.path.join(self.home, 'docs')).returncode)
        wait_for(lambda: 'my report.txt' in row_names(frame), what='the handed-over row')
        self.assertIn('add_task=' + os.path.join(self.home, 'docs/my report.txt'), self.app.log())
        usage = self.app.run('a', 'b')
        self.assertEqual((0, 'Usage: %s [path]\n' % self.app.binary), (usage.returncode, usage.stdout))
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
    def test_another_user_gets_an_instance_of_its_own(self):
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
        other = subprocess.Popen(['setpriv', '--reuid=%d' % nobody.pw_uid, '--regid=%d' % nobody.pw_gid,
                                  '--clear-groups', self.app.binary], env=env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
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
        self.assertEqual([], row_names(self.app.accessible(proc)))

    def test_failed_logins_say_why_and_bring_the_dialog_back(self):
        app = self.app.accessible(self.app.start())
        log_in_through_dialog(app, 'demo', 'wrong')
        for expected in ('password incorrect!\n帐号或密码错误',
                         'Cannot reach the service at %s.\nPlease check your network connection.' % self.standin.host):
            box = find(app, pyatspi.ROLE_DIALOG, 'login error')
            self.assertIn(expected, [label.name for label in find_all(box, pyatspi.ROLE_LABEL)])
            screenshot('login-error')
            click(find(box, pyatspi.ROLE_PUSH_BUTTON, 'OK'))
            wait_for(lambda: not find_all(app, pyatspi.ROLE_DIALOG, 'login error'), what='the box to close')
            self.standin.stop()
            log_in_through_dialog(app, 'demo', 'demo', open_it=False)

    def test_an_install_runs_from_its_own_folders(self):
        root = os.path.join(self.tmp, 'root', 'usr', 'local')
        subprocess.run(['cmake', '--install', BUILD, '--prefix', root], check=True, capture_output=True, timeout=120)
        # its images (without them no window) and catalogue from the prefix: a window, in Chinese
        self.app.binary = root + '/bin/vurozudeduz'
        self.app.env['LANGUAGE'] = 'zh_CN'
        proc = self.app.start(cwd='/')
        wait_for(lambda: self.app.frame(proc).name == 'Velmo 网盘 - 未登录', what='the window in Chinese')


if __name__ == '__main__':
    unittest.main(verbosity=2)
