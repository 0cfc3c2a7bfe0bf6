// The GNOME Shell extension of mirebo, for GNOME Shell 45 and later (loaded as a module).
// Generated at build time from platform/linux/wayland/gnome/: edit the parts there.
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import Meta from 'gi://Meta';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
