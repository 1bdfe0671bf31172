#!/usr/bin/python3
"""A small window that offers files for dragging, as a file manager does: a URI list with CR LF
line ends. usage: drag_source.py FILE..."""
import sys

import gi
gi.require_version('Gtk', '3.0')
gi.require_version('Gdk', '3.0')
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

uris = ''.join(GLib.filename_to_uri(path, None) + '\r\n' for path in sys.argv[1:])
window = Gtk.Window(title='drag source')
window.move(0, 0)
window.set_default_size(160, 100)
source = Gtk.Button(label='drag me')
source.drag_source_set(Gdk.ModifierType.BUTTON1_MASK, [Gtk.TargetEntry.new('text/uri-list', 0, 0)],
                       Gdk.DragAction.COPY)
source.connect('drag-data-get', lambda w, ctx, data, info, t: data.set(data.get_target(), 8, uris.encode()))
window.add(source)
window.connect('destroy', Gtk.main_quit)
window.show_all()
Gtk.main()
