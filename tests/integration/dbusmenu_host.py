#!/usr/bin/python3
"""Chooses an item of a StatusNotifierItem's menu the way GTK panels do.

    dbusmenu_host.py --label LABEL [--timeout SECS]

Takes org.kde.StatusNotifierWatcher on the session bus (prints "ready" once it
holds the name), waits for an item to register, reads the item's Menu
property and opens that menu with libdbusmenu-glib's client, the library
that xfce4-panel, Waybar and other GTK hosts draw items' menus with. Once it
gets SIGUSR1 (the caller's sign that the program is up), it asks the menu to
show and clicks the item labelled LABEL through that client, which sends
clicks with EventGroup once the menu says Version 3 or more, and waits until
the item leaves the bus.

Exit status: 0 the item left the bus after the click; 3 no item registered,
no such item in its menu, or the item still on the bus, within the time
given; 2 on a usage error.

Run with Debian's /usr/bin/python3 (python3-gi, gir1.2-dbusmenu-glib-0.4).
"""

import argparse
import signal
import sys

import gi

gi.require_version("Dbusmenu", "0.4")
from gi.repository import Dbusmenu, Gio, GLib  # noqa: E402  (needs the version set first)

# What of a watcher an item uses: it registers there.
WATCHER = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
  </interface>
</node>
"""


def log(msg):
    print("dbusmenu_host: " + msg, file=sys.stderr, flush=True)


class Host:
    def __init__(self, bus, label, loop):
        self.bus, self.label, self.loop = bus, label, loop
        self.items = []
        self.client = None
        self.clicked = False
        self.go = False
        self.status = 3

    # The watcher's side: an item registers (by its bus name, or by its path on the caller's
    # connection); its menu is opened as a host would.
    def call(self, _bus, sender, _path, _iface, _method, params, invocation):
        service = params.unpack()[0]
        name, path = (sender, service) if service.startswith("/") else (service, "/StatusNotifierItem")
        self.items.append(name + path)
        invocation.return_value(None)
        self.open_menu(name, path)

    def open_menu(self, name, path):
        try:
            reply = self.bus.call_sync(name, path, "org.freedesktop.DBus.Properties", "Get",
                                       GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", "Menu")),
                                       GLib.VariantType("(v)"), Gio.DBusCallFlags.NONE, 5000, None)
        except GLib.Error as error:
            log("cannot read the item's Menu: %s" % error.message)
            self.loop.quit()
            return
        menu = reply.unpack()[0]
        log("item %s%s, menu %s" % (name, path, menu))
        Gio.bus_watch_name_on_connection(self.bus, name, Gio.BusNameWatcherFlags.NONE, None, self.gone)
        self.client = Dbusmenu.Client.new(name, menu)
        self.client.connect("layout-updated", self.layout)
        self.client.connect("root-changed", lambda *_: self.layout())

    def start(self):
        self.go = True
        if self.client is not None:
            self.layout()
        return GLib.SOURCE_REMOVE

    def layout(self, *_):
        root = self.client.get_root()
        if not self.go or self.clicked or root is None:
            return
        for item in root.get_children():
            if item.property_get("label") == self.label:
                self.clicked = True
                root.send_about_to_show(None, None)
                root.handle_event("opened", GLib.Variant("i", 0), now_ms())
                item.handle_event("clicked", GLib.Variant("i", 0), now_ms())
                log("clicked %r (item %d)" % (self.label, item.get_id()))
                return

    def gone(self, *_):
        if self.clicked:
            self.status = 0
            self.loop.quit()


def now_ms():
    return int(GLib.get_monotonic_time() // 1000) & 0xFFFFFFFF


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--label", required=True)
    parser.add_argument("--timeout", type=float, default=20)
    args = parser.parse_args()

    loop = GLib.MainLoop()
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    host = Host(bus, args.label, loop)
    info = Gio.DBusNodeInfo.new_for_xml(WATCHER).interfaces[0]
    bus.register_object("/StatusNotifierWatcher", info, host.call, None, None)

    def owned(*_):
        print("ready", flush=True)

    def lost(*_):
        log("cannot take org.kde.StatusNotifierWatcher")
        loop.quit()

    Gio.bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher", Gio.BusNameOwnerFlags.NONE, owned, lost)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, host.start)
    GLib.timeout_add(int(args.timeout * 1000), loop.quit)
    loop.run()
    if host.status != 0:
        if not host.items:
            log("no item registered within %g s" % args.timeout)
        elif not host.clicked:
            log("no item labelled %r in the menu within %g s" % (args.label, args.timeout))
        else:
            log("the item was still on the bus %g s after the click" % args.timeout)
    return host.status


if __name__ == "__main__":
    sys.exit(main())
