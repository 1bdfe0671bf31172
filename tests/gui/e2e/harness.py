"""End-to-end harness: the real vurozudeduz program against a real velmo-standin, driven the
way a user drives it, through the accessibility bus (buttons, entries, check boxes, the task
table) and through second starts of the program. Each test gets its own HOME, runtime folder
and stand-in; the display and session bus come from with_display.py.
"""
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

import gi
gi.require_version('Atspi', '2.0')
gi.require_version('Gdk', '3.0')
from gi.repository import Atspi, Gdk  # noqa: E402
import pyatspi  # noqa: E402

BUILD = os.environ.get('VELMO_BUILD_DIR') or os.path.join(os.path.dirname(__file__), '..', '..', '..', 'build')
BIN = os.path.join(BUILD, 'bin')
SCREENSHOTS = os.path.join(BUILD, 'screenshots')


def wait_for(predicate, timeout=20.0, what='condition'):
    """Polls predicate until it returns something true; that value, or a failure."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = predicate()
        except (gi.repository.GLib.GError, RuntimeError):
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError('timed out waiting for ' + what)
        time.sleep(0.05)


def read_text(path):
    with open(path, errors='replace') as f:
        return f.read()


def screenshot(name):
    """The whole display, for a person to look at."""
    os.makedirs(SCREENSHOTS, exist_ok=True)
    root = Gdk.get_default_root_window()
    shot = Gdk.pixbuf_get_from_window(root, 0, 0, root.get_width(), root.get_height())
    shot.savev(os.path.join(SCREENSHOTS, name + '.png'), 'png', [], [])


class Standin:
    def __init__(self, data, args=()):
        self.data = data
        self.args = list(args)
        self.port = 0
        self.proc = None
        self.log_path = os.path.join(data, 'standin.log')

    def start(self):
        os.makedirs(self.data, exist_ok=True)
        with open(self.log_path, 'ab') as log:
            self.proc = subprocess.Popen(
                [os.path.join(BIN, 'velmo-standin'), '--port', str(self.port), '--data', self.data] + self.args,
                stdout=log, stderr=subprocess.STDOUT)
        found = wait_for(lambda: re.search(r'listening on http://[\d.]+:(\d+)', self.log()), 10, 'the stand-in')
        self.port = int(found.group(1))
        return self

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)

    def log(self):
        return read_text(self.log_path)

    @property
    def host(self):
        return '127.0.0.1:%d' % self.port

    def get(self, path, body=None):
        return urllib.request.urlopen('http://%s%s' % (self.host, path), body, timeout=10).read()

    def fault(self, **params):
        """Makes the stand-in misbehave (see its fault control); reset() undoes it."""
        self.get('/_standin/fault', urllib.parse.urlencode(params).encode())

    def reset(self):
        self.get('/_standin/reset', b'all=0')

    def stored(self):
        """path -> SHA-1 of every file the stand-in holds, from its home page."""
        page = self.get('/').decode()
        return dict(re.findall(r'<tr><td>([^<]+)</td><td>\d+</td><td><code>([0-9A-F]{40})</code>', page))


class App:
    """One user's copy of the program: its HOME and runtime folder, and its processes."""

    def __init__(self, home, runtime, api_host, env=None):
        self.home = home
        self.runtime = runtime
        self.env = dict(os.environ)
        self.env.update({'HOME': home, 'XDG_RUNTIME_DIR': runtime, 'VELMO_API_HOST': api_host,
                         'LC_ALL': 'C.UTF-8', 'LANGUAGE': 'en'})
        self.env.update(env or {})
        self.binary = os.path.join(BIN, 'vurozudeduz')
        self.procs = []
        self.log_path = os.path.join(home, 'vurozudeduz.log')

    def start(self, *args, cwd=None):
        with open(self.log_path, 'ab') as log:
            proc = subprocess.Popen([self.binary] + list(args), env=self.env, cwd=cwd or self.home,
                                    stdout=log, stderr=subprocess.STDOUT)
        self.procs.append(proc)
        return proc

    def run(self, *args, cwd=None, timeout=30):
        """A start that is expected to end by itself (a hand-over, the usage line)."""
        return subprocess.run([self.binary] + list(args), env=self.env, cwd=cwd or self.home,
                              capture_output=True, text=True, timeout=timeout)

    def log(self):
        return read_text(self.log_path)

    def reports(self, path=None):
        """The progress reports the program printed, oldest first, as dicts of their fields."""
        found = []
        for block in re.findall(r'^isFolder=.*?^strErrorMsg=[^\n]*', self.log(), re.M | re.S):
            fields = dict(line.split('=', 1) for line in block.split('\n') if '=' in line)
            if path is None or fields.get('strFilePath') == path:
                found.append(fields)
        return found

    def wait_for_status(self, path, status, timeout=60):
        return wait_for(lambda: [r for r in self.reports(path) if r['status'] == str(status)],
                        timeout, 'status %s of %s' % (status, path))

    def stop(self):
        for proc in (p for p in self.procs if p.poll() is None):
            proc.terminate()
            try:
                proc.wait(20)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()

    def accessible(self, proc, timeout=30):
        """The program's accessible application for one of its processes."""
        def lookup():
            for app in pyatspi.Registry.getDesktop(0):
                if app is not None and app.get_process_id() == proc.pid:
                    return app
            return None
        return wait_for(lookup, timeout, 'the window of process %d' % proc.pid)

    def frame(self, proc, timeout=30):
        return find(self.accessible(proc, timeout), pyatspi.ROLE_FRAME, timeout=timeout)


def children(acc):
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield child


def find_all(root, role, name=None, showing=True):
    """Every descendant with that role (and name: a text or a compiled pattern)."""
    found = []
    queue = [root]
    while queue:
        acc = queue.pop(0)
        try:
            states = acc.getState()
            if showing and acc is not root and not states.contains(pyatspi.STATE_SHOWING) \
                    and acc.getRole() not in (pyatspi.ROLE_APPLICATION,):
                continue
            if acc.getRole() == role and (name is None or (name.search(acc.name) if hasattr(name, 'search') else acc.name == name)):
                found.append(acc)
            if acc.getRole() != pyatspi.ROLE_TABLE_CELL:
                queue.extend(children(acc))
        except gi.repository.GLib.GError:
            continue
    return found


def find(root, role, name=None, timeout=20):
    return wait_for(lambda: (find_all(root, role, name) or [None])[0], timeout,
                    '%s %r' % (role, name))


def click(acc):
    acc.queryAction().doAction(0)


def dialog(app, title, timeout=20):
    """A dialog of the program that is on screen, by its title."""
    return wait_for(lambda: [d for d in find_all(app, pyatspi.ROLE_DIALOG, title)], timeout,
                    'dialog ' + repr(title))[0]


def cell_text(cell):
    """A cell's text; a column of an icon and a text is a cell of two cells."""
    if cell is None or cell.childCount == 0:
        return cell.name if cell else ''
    return ' '.join(child.name for child in children(cell) if child.name)


def table_rows(app):
    """The task list as (name, size, progress, speed, status) texts per row, top-level and
    child rows alike (the progress cell shows no text to accessibility)."""
    table = wait_for(lambda: find_all(app, pyatspi.ROLE_TREE_TABLE, showing=False), 20, 'the task list')[0]
    t = table.queryTable()
    return [tuple(cell_text(t.getAccessibleAt(r, c)) for c in range(t.nColumns)) for r in range(t.nRows)]


def log_in_through_dialog(app, name, password, remember=False, auto=False):
    """Presses the window's Login button and fills the dialog in as a user would."""
    frame = find(app, pyatspi.ROLE_FRAME)
    click(find(frame, pyatspi.ROLE_PUSH_BUTTON, 'Login'))
    fill_login_dialog(app, name, password, remember, auto)


def fill_login_dialog(app, name, password, remember=False, auto=False):
    login = dialog(app, 'Login Velmo')
    entries = wait_for(lambda: len(find_all(login, pyatspi.ROLE_TEXT)) >= 1 and find_all(login, pyatspi.ROLE_TEXT), 10, 'entries')
    entries[0].queryEditableText().setTextContents(name)
    find(login, pyatspi.ROLE_PASSWORD_TEXT).queryEditableText().setTextContents(password)
    for label, wanted in (('Remember Password', remember), ('AutoLogin', auto)):
        box = find(login, pyatspi.ROLE_CHECK_BOX, label)
        if box.getState().contains(pyatspi.STATE_CHECKED) != wanted:
            click(box)
    click(find(login, pyatspi.ROLE_PUSH_BUTTON, 'Login'))


class E2ETest(unittest.TestCase):
    """A HOME, a runtime folder and a stand-in per test; everything stopped afterwards."""
    standin_args = ()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix='velmo-e2e-')
        self.home = os.path.join(self.tmp, 'home')
        self.runtime = os.path.join(self.tmp, 'run')
        os.makedirs(self.home)
        os.makedirs(self.runtime, mode=0o700)
        # the pages the window opens are recorded, not shown
        fake_bin = os.path.join(self.home, 'bin')
        self.write_file('bin/xdg-open', b'#!/bin/sh\necho "$1" >> "%s/opened-pages"\n' % self.home.encode())
        os.chmod(os.path.join(fake_bin, 'xdg-open'), 0o755)
        self.standin = Standin(os.path.join(self.tmp, 'standin'), self.standin_args).start()
        self.app = App(self.home, self.runtime, self.standin.host,
                       {'PATH': fake_bin + ':' + os.environ['PATH']})

    def tearDown(self):
        self.app.stop()
        self.standin.stop()
        if hasattr(self, '_outcome') and not any(e for _, e in getattr(self._outcome, 'errors', [])):
            shutil.rmtree(self.tmp, ignore_errors=True)

    def write_file(self, relative, data):
        path = os.path.join(self.home, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
        return path

    def remember_demo_account(self):
        """The account remembered with automatic login, as the headless client leaves it."""
        subprocess.run([os.path.join(BIN, 'velmoupload-cli'), '--user', 'demo', '--password-stdin',
                        '--remember', '--auto'], input='demo\n', env=self.app.env, check=True,
                       capture_output=True, text=True, timeout=60)


def terminate(proc, timeout=20):
    proc.send_signal(signal.SIGTERM)
    return proc.wait(timeout)
