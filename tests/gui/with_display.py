#!/usr/bin/python3
"""Runs a command on a display of its own (a fresh Xvfb) and, unless --no-bus, its own session
bus, so window tests neither need a desktop nor disturb one, and can run side by side.

usage: with_display.py [--no-bus] COMMAND [ARG...]
"""
import os
import signal
import subprocess
import sys


def main():
    bus = sys.argv[1:2] != ['--no-bus']
    args = sys.argv[1 if bus else 2:]
    if not args:
        sys.exit(__doc__)
    read_fd, write_fd = os.pipe()
    # -displayfd picks a free display atomically: parallel runs never race for a number
    xvfb = subprocess.Popen(
        ['Xvfb', '-displayfd', str(write_fd), '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'],
        pass_fds=[write_fd], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    with os.fdopen(read_fd, 'rb') as pipe:
        number = pipe.readline().strip().decode()
    if not number:
        xvfb.kill()
        sys.exit('with_display: Xvfb did not start')
    env = dict(os.environ, DISPLAY=':' + number)
    env.pop('WAYLAND_DISPLAY', None)
    # GTK keeps its caches until the process ends; leak reports of them are noise
    env['ASAN_OPTIONS'] = ':'.join(filter(None, ['detect_leaks=0', env.get('ASAN_OPTIONS')]))
    if not bus:
        env['NO_AT_BRIDGE'] = '1'
    try:
        child = subprocess.Popen((['dbus-run-session', '--'] if bus else []) + args, env=env)
        # a test run stopped by CTest's time-out must not leave the display behind
        signal.signal(signal.SIGTERM, lambda *_: child.terminate())
        status = child.wait()
    finally:
        xvfb.terminate()
        xvfb.wait()
    sys.exit(status if status >= 0 else 128 - status)


if __name__ == '__main__':
    main()
