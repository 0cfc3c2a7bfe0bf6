#!/usr/bin/python3
"""What a user of GNOME Shell sees and does, for the tests on a headless GNOME Shell.

    gnome_shell.py find ROLE NAME [--timeout SECS]
    gnome_shell.py input STEP...

find: waits for a node of GNOME Shell's own accessibility tree (its panel, its menus) with that
role and a name matching the regular expression NAME, showing on screen, and prints
"X Y W H NAME" (screen coordinates). Exit status 3 when none turns up in time.

input: the steps, in order, as the pointer and keyboard of a remote desktop session
(org.gnome.Mutter.RemoteDesktop: a headless GNOME Shell has no input devices of its own):
  key NAME[+NAME...]   press the keys (X keysym names: Escape, Alt_L+Tab), release in reverse
  click X Y BUTTON     move the pointer to X,Y and click BUTTON (left or right)
  press ROLE NAME BUTTON   click BUTTON on the middle of what find would find (printing it):
                       the shell's panel makes room for its own remote-access indicator while
                       the session runs, so places are looked up inside it
  sleep SECS

The accessibility bus is the one AT_SPI_BUS_ADDRESS names, or the session's.
Run with Debian's /usr/bin/python3 (python3-gi, gir1.2-atspi-2.0).
"""

import re
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

BTN = {"left": 0x110, "right": 0x111}   # evdev button codes
KEYSYM = {"Escape": 0xFF1B, "Tab": 0xFF09, "Alt_L": 0xFFE9, "Return": 0xFF0D, "Super_L": 0xFFEB}


def shell_nodes(role, pattern):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None or app.get_name() != "gnome-shell":
            continue
        stack = [(app, 0)]
        while stack:
            node, depth = stack.pop()
            try:
                if node.get_role_name() == role and re.fullmatch(pattern, node.get_name() or ""):
                    box = node.get_extents(Atspi.CoordType.SCREEN)
                    if box.width > 0 and box.height > 0 and box.x >= 0 and box.y >= 0:
                        yield box, node.get_name()
                if depth < 40:
                    stack.extend((node.get_child_at_index(k), depth + 1)
                                 for k in range(node.get_child_count() - 1, -1, -1))
            except GLib.Error:
                continue


def screen_height():
    for box, _ in shell_nodes("window", ".*"):
        return box.y + box.height
    return 768


def look(role, pattern, timeout):
    end = time.monotonic() + timeout
    while True:
        for box, name in shell_nodes(role, pattern):
            print(box.x, box.y, box.width, box.height, name, flush=True)
            return box
        if time.monotonic() > end:
            return None
        time.sleep(0.2)


def find(role, pattern, timeout):
    return 0 if look(role, pattern, timeout) else 3


def call(bus, path, interface, method, args=None):
    return bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, interface, method, args, None,
                         Gio.DBusCallFlags.NONE, 5000, None)


def steps(argv):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    (session,) = call(bus, "/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop",
                      "CreateSession").unpack()
    iface = "org.gnome.Mutter.RemoteDesktop.Session"
    call(bus, session, iface, "Start")
    time.sleep(0.3)   # the session's devices come a moment after

    def move(dx, dy):
        call(bus, session, iface, "NotifyPointerMotionRelative", GLib.Variant("(dd)", (dx, dy)))
    try:
        while argv:
            step = argv.pop(0)
            if step == "key":
                names = argv.pop(0).split("+")
                for name in names:
                    call(bus, session, iface, "NotifyKeyboardKeysym", GLib.Variant("(ub)", (KEYSYM[name], True)))
                for name in reversed(names):
                    call(bus, session, iface, "NotifyKeyboardKeysym", GLib.Variant("(ub)", (KEYSYM[name], False)))
            elif step in ("click", "press"):
                if step == "click":
                    x, y = float(argv.pop(0)), float(argv.pop(0))
                else:
                    time.sleep(0.5)   # the panel's own indicator for the session slides in
                    role, pattern = argv.pop(0), argv.pop(0)
                    box = look(role, pattern, 10)
                    if box is None:
                        print("nothing showing: %s %r" % (role, pattern), file=sys.stderr)
                        return 3
                    x, y = float(box.x + box.width // 2), float(box.y + box.height // 2)
                button = BTN[argv.pop(0)]
                # Only relative motion works without a screen cast, and exactly only in small
                # steps: into the bottom left corner first, where the pointer stops (the top left
                # one opens the overview), then to the place.
                height = screen_height()
                for _ in range(40):
                    move(-100.0, 100.0)
                dx, dy = x, y - (height - 1)
                while dx != 0 or dy != 0:
                    sx, sy = max(-10.0, min(10.0, dx)), max(-10.0, min(10.0, dy))
                    move(sx, sy)
                    dx, dy = dx - sx, dy - sy
                time.sleep(0.2)
                call(bus, session, iface, "NotifyPointerButton", GLib.Variant("(ib)", (button, True)))
                time.sleep(0.05)
                call(bus, session, iface, "NotifyPointerButton", GLib.Variant("(ib)", (button, False)))
            elif step == "sleep":
                time.sleep(float(argv.pop(0)))
            else:
                raise ValueError("unknown step " + step)
            time.sleep(0.1)
    finally:
        call(bus, session, iface, "Stop")
    return 0


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "find":
        timeout = float(sys.argv[5]) if len(sys.argv) >= 6 and sys.argv[4] == "--timeout" else 10.0
        return find(sys.argv[2], sys.argv[3], timeout)
    if len(sys.argv) >= 3 and sys.argv[1] == "input":
        return steps(sys.argv[2:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
