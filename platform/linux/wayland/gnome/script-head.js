// The GNOME Shell extension of mirebo, for GNOME Shell 43 and 44 (loaded as a script).
// Generated at build time from platform/linux/wayland/gnome/: edit the parts there.
'use strict';

const {Gio, GLib, Meta} = imports.gi;
