#!/usr/bin/python3
"""A GTK text field for the end-to-end tests: `field.py 3|4`.

Prints "shown" once its window is up and "text<TAB>TEXT" (backslash, tab and newline escaped) on every
change; answers "sync" on standard input with "ok" once the compositor has handled all it sent."""
import sys

import gi

VERSION = sys.argv[1]
gi.require_version("Gtk", VERSION + ".0")
gi.require_version("Gdk", VERSION + ".0")
from gi.repository import GLib, Gdk, Gtk  # noqa: E402

GLib.set_prgname("lumaret-field-gtk" + VERSION)


def emit(line):
    print(line, flush=True)


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def on_changed(buffer):
    emit("text\t" + escape(buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True)))


def on_command(channel, condition):
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    if line.strip() == "sync":
        # Twice, with the events of the first round handled between: what the field sent in answer to
        # the input method has reached the compositor too.
        Gdk.Display.get_default().sync()
        while GLib.MainContext.default().iteration(False):
            pass
        Gdk.Display.get_default().sync()
        emit("ok")
    return True


if VERSION == "3":
    Gtk.init(sys.argv)
else:
    Gtk.init()
loop = GLib.MainLoop()
window = Gtk.Window(title="lumaret field")
view = Gtk.TextView()
view.get_buffer().connect("changed", on_changed)
window.connect("map", lambda *_: emit("shown"))
if VERSION == "3":
    window.add(view)
    window.show_all()
else:
    window.set_child(view)
    window.present()
view.grab_focus()
GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.PRIORITY_DEFAULT, GLib.IOCondition.IN | GLib.IOCondition.HUP,
                  on_command)
loop.run()
