"""End-to-end harness: the real vurozudeduz program against a real velmo-standin, driven the
way a user drives it, through the accessibility bus (buttons, entries, check boxes, the task
table) and through second starts of the program. Each test gets its own HOME, runtime folder
and stand-in; the display and session bus come from with_display.py.
"""
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest
import urllib.request

import gi
gi.require_version('Atspi', '2.0')
gi.require_version('Gdk', '3.0')
from gi.repository import Atspi, Gdk, GLib  # noqa: E402
import pyatspi  # noqa: E402

BUILD = os.environ.get('VELMO_BUILD_DIR') or os.path.join(os.path.dirname(__file__), '..', '..', '..', 'build')
BIN = os.path.join(BUILD, 'bin')


def wait_for(predicate, timeout=20.0, what='condition'):
    """Polls predicate until it returns something true; that value, or a failure."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = predicate()
        except (GLib.GError, RuntimeError, IndexError):
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
    folder = os.path.join(BUILD, 'screenshots')
    os.makedirs(folder, exist_ok=True)
    root = Gdk.get_default_root_window()
    shot = Gdk.pixbuf_get_from_window(root, 0, 0, root.get_width(), root.get_height())
    shot.savev(os.path.join(folder, name + '.png'), 'png', [], [])


class Standin:
    def __init__(self, data):
        log_path = os.path.join(data, 'standin.log')
        os.makedirs(data)
        with open(log_path, 'ab') as log:
            self.proc = subprocess.Popen([os.path.join(BIN, 'velmo-standin'), '--port', '0', '--data', data],
                                         stdout=log, stderr=subprocess.STDOUT)
        found = wait_for(lambda: re.search(r'listening on http://[\d.]+:(\d+)', read_text(log_path)), 10,
                         'the stand-in')
        self.host = '127.0.0.1:' + found.group(1)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)

    def get(self, path, body=None):
        return urllib.request.urlopen('http://%s%s' % (self.host, path), body, timeout=10).read()

    def stored(self):
        """path -> SHA-1 of every file the stand-in holds, from its home page."""
        page = self.get('/').decode()
        return dict(re.findall(r'<tr><td>([^<]+)</td><td>\d+</td><td><code>([0-9A-F]{40})</code>', page))


class App:
    """One user's copy of the program: its HOME and runtime folder, and its processes."""

    def __init__(self, home, env):
        self.home, self.env, self.procs = home, env, []
        self.binary = os.path.join(BIN, 'vurozudeduz')
        self.log_path = os.path.join(home, 'vurozudeduz.log')

    def start(self, *args, cwd=None):
        with open(self.log_path, 'ab') as log:
            self.procs.append(subprocess.Popen([self.binary, *args], env=self.env, cwd=cwd or self.home, stdout=log,
                                               stderr=subprocess.STDOUT))
        return self.procs[-1]

    def run(self, *args, cwd=None):
        """A start that is expected to end by itself (a hand-over, the usage line)."""
        return subprocess.run([self.binary, *args], env=self.env, cwd=cwd or self.home, capture_output=True, text=True,
                              timeout=30)

    def log(self):
        return read_text(self.log_path)

    def reports(self, path):
        """The progress reports the program printed for path, oldest first, as dicts."""
        blocks = re.findall(r'^isFolder=.*?^strErrorMsg=[^\n]*', self.log(), re.M | re.S)
        reports = [dict(line.split('=', 1) for line in block.split('\n') if '=' in line) for block in blocks]
        return [fields for fields in reports if fields.get('strFilePath') == path]

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

    def accessible(self, proc):
        return wait_for(lambda: [a for a in pyatspi.Registry.getDesktop(0)
                                 if a is not None and a.get_process_id() == proc.pid][0],
                        30, 'the window of process %d' % proc.pid)

    def frame(self, proc):
        return find(self.accessible(proc), pyatspi.ROLE_FRAME, timeout=30)


def children(acc):
    return [c for c in (acc.getChildAtIndex(i) for i in range(acc.childCount)) if c is not None]


def find_all(root, role, name=None, showing=True):
    found, queue = [], [root]
    while queue:
        acc = queue.pop(0)
        try:
            if showing and acc is not root and not acc.getState().contains(pyatspi.STATE_SHOWING):
                continue
            if acc.getRole() == role and name in (None, acc.name):
                found.append(acc)
            if acc.getRole() != pyatspi.ROLE_TABLE_CELL:
                queue.extend(children(acc))
        except GLib.GError:
            continue
    return found


def find(root, role, name=None, timeout=20):
    return wait_for(lambda: find_all(root, role, name)[0], timeout, '%s %r' % (role, name))


def click(acc):
    acc.queryAction().doAction(0)


def row_names(app):
    """The name column of the task list, top-level and child rows alike; the cell of an icon and
    a text is a cell of two cells."""
    table = wait_for(lambda: find_all(app, pyatspi.ROLE_TREE_TABLE, showing=False), 20, 'the task list')[0]
    cells = [table.queryTable().getAccessibleAt(r, 0) for r in range(table.queryTable().nRows)]
    return [' '.join(c.name for c in children(cell) if c.name) if cell.childCount else cell.name for cell in cells]


def log_in_through_dialog(app, name, password, remember=False, auto=False, open_it=True):
    """Fills the login dialog in as a user would, first opening it by the window's Login button."""
    if open_it:
        click(find(find(app, pyatspi.ROLE_FRAME), pyatspi.ROLE_PUSH_BUTTON, 'Login'))
    login = find(app, pyatspi.ROLE_DIALOG, 'Login Velmo')
    find(login, pyatspi.ROLE_TEXT).queryEditableText().setTextContents(name)
    find(login, pyatspi.ROLE_PASSWORD_TEXT).queryEditableText().setTextContents(password)
    for label, wanted in (('Remember Password', remember), ('AutoLogin', auto)):
        box = find(login, pyatspi.ROLE_CHECK_BOX, label)
        if box.getState().contains(pyatspi.STATE_CHECKED) != wanted:
            click(box)
    click(find(login, pyatspi.ROLE_PUSH_BUTTON, 'Login'))


class E2ETest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix='velmo-e2e-')
        self.home = os.path.join(self.tmp, 'home')
        self.runtime = os.path.join(self.tmp, 'run')
        os.makedirs(self.runtime, mode=0o700)
        # the pages the window opens are recorded, not shown
        xdg_open = self.write_file('bin/xdg-open', b'#!/bin/sh\necho "$1" >> "%s/opened-pages"\n' % self.home.encode())
        os.chmod(xdg_open, 0o755)
        self.standin = Standin(os.path.join(self.tmp, 'standin'))
        self.app = App(self.home, dict(
            os.environ, HOME=self.home, XDG_RUNTIME_DIR=self.runtime, VELMO_API_HOST=self.standin.host,
            LC_ALL='C.UTF-8', LANGUAGE='en', PATH=os.path.dirname(xdg_open) + ':' + os.environ['PATH']))

    def tearDown(self):
        self.app.stop()
        self.standin.stop()
        if getattr(self._outcome, 'success', True):  # a failed test's folder stays for a look
            shutil.rmtree(self.tmp, ignore_errors=True)

    def write_file(self, relative, data):
        path = os.path.join(self.home, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
        return path
