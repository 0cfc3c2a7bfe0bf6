// The service: the list above, read-only, on the session bus under a name of its own, and a
// signal when it changes. It offers nothing else: no window is moved, focused or closed from
// here, and no caller's text is ever run.

const SERVICE_NAME = 'io.github.mirebo.Windows';
const SERVICE_PATH = '/io/github/mirebo/Windows';
const SERVICE_XML = `
<node>
  <interface name="io.github.mirebo.Windows1">
    <method name="List">
      <arg name="windows" type="a(tubts)" direction="out"/>
    </method>
    <signal name="Changed"/>
  </interface>
</node>`;

class WindowListService {
    constructor(extensionPath) {
        this._path = extensionPath;
    }

    enable() {
        this._callers = [];
        try {
            const [, bytes] = GLib.file_get_contents(`${this._path}/callers`);
            this._callers = parseCallers(new TextDecoder().decode(bytes));
        } catch (e) {
            console.warn(`${SERVICE_NAME}: no callers file, nobody may read the list (${e.message})`);
        }
        this._kinds = {
            x11: Meta.WindowClientType.X11,
            popupTypes: LIST_POPUP_TYPES.map(name => Meta.WindowType[name]),
        };
        this._rows = this._current();
        this._watched = new Map();
        for (const w of this._windows())
            this._watch(w);
        this._displaySignals = [
            global.display.connect('window-created', (display, w) => {
                this._watch(w);
                this._changed();
            }),
            global.display.connect('restacked', () => this._changed()),
        ];
        this._object = Gio.DBusExportedObject.wrapJSObject(SERVICE_XML, this);
        this._object.export(Gio.DBus.session, SERVICE_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, SERVICE_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        if (this._nameId)
            Gio.bus_unown_name(this._nameId);
        this._nameId = 0;
        this._object?.unexport();
        this._object = null;
        for (const id of this._displaySignals ?? [])
            global.display.disconnect(id);
        this._displaySignals = [];
        for (const [w, ids] of this._watched ?? [])
            ids.forEach(id => w.disconnect(id));
        this._watched = new Map();
        if (this._idle)
            GLib.source_remove(this._idle);
        this._idle = 0;
    }

    _windows() {
        const windows = global.get_window_actors().map(actor => actor.get_meta_window()).filter(w => w);
        return global.display.sort_windows_by_stacking(windows);
    }

    _current() {
        return describeWindows(this._windows(), this._kinds);
    }

    _watch(w) {
        if (this._watched.has(w))
            return;
        this._watched.set(w, [
            w.connect('notify::title', () => this._changed()),
            w.connect('unmanaged', () => {
                this._watched.get(w)?.forEach(id => w.disconnect(id));
                this._watched.delete(w);
                this._changed();
            }),
        ]);
    }

    // Many changes come at once (a window maps, takes the focus and restacks): one look at the
    // list once they are done, and a signal only when what the program sees differs.
    _changed() {
        if (this._idle)
            return;
        this._idle = GLib.idle_add(GLib.PRIORITY_DEFAULT_IDLE, () => {
            this._idle = 0;
            const rows = this._current();
            if (!sameRows(rows, this._rows)) {
                this._rows = rows;
                this._object?.emit_signal('Changed', null);
            }
            return GLib.SOURCE_REMOVE;
        });
    }

    // Only the installed program may read the list: the bus tells the caller's process, whose
    // /proc/PID/exe must be one the callers file names.
    ListAsync(params, invocation) {
        Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
            'GetConnectionUnixProcessID', new GLib.Variant('(s)', [invocation.get_sender()]),
            new GLib.VariantType('(u)'), Gio.DBusCallFlags.NONE, 1000, null, (connection, result) => {
                let allowed = false;
                try {
                    const [pid] = connection.call_finish(result).deepUnpack();
                    allowed = callerAllowed(GLib.file_read_link(`/proc/${pid}/exe`), this._callers);
                } catch (e) {
                    allowed = false;
                }
                if (!allowed) {
                    invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied',
                        'only the installed mirebo may read the window list');
                } else if (!this._object) {
                    invocation.return_dbus_error('org.freedesktop.DBus.Error.Failed', 'disabled');
                } else {
                    this._rows = this._current();
                    invocation.return_value(new GLib.Variant('(a(tubts))', [this._rows]));
                }
            });
    }
}
