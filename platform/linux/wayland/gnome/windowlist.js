// The window list as the program reads it, built from the shell's windows. Plain functions of
// plain values, so that they run outside the shell too (tests/gnome/test_windowlist.js).

// A peer that floods the shell with windows or with a huge title must not make every answer
// huge: the program keeps at most this many rows, and cuts titles to 1023 bytes anyway.
const LIST_MAX_WINDOWS = 2048;
const LIST_MAX_TITLE = 1024;   // UTF-16 code units, never more than the program keeps

// Window types that are parts of another window (menus, tooltips, drag icons), never rows.
const LIST_POPUP_TYPES = ['DROPDOWN_MENU', 'POPUP_MENU', 'TOOLTIP', 'NOTIFICATION', 'COMBO', 'DND'];

// The X id mutter describes an X11 window by ("0x1e00004"); 0 where it says anything else.
function parseXid(description) {
    if (typeof description !== 'string' || !/^0x[0-9a-fA-F]{1,8}$/.test(description))
        return 0;
    return parseInt(description, 16);
}

function cutTitle(title) {
    if (typeof title !== 'string')
        return '';
    if (title.length <= LIST_MAX_TITLE)
        return title;
    let end = LIST_MAX_TITLE;
    const last = title.charCodeAt(end - 1);
    if (last >= 0xD800 && last <= 0xDBFF)   // never half a surrogate pair
        end -= 1;
    return title.slice(0, end);
}

// `windows`: bottom first, as mutter stacks them. `kinds`: { x11, popupTypes } in mutter's
// numbers (Meta.WindowClientType.X11, the Meta.WindowType values of LIST_POPUP_TYPES).
// Returns [id, pid, x11, xid, title] rows, topmost first.
function describeWindows(windows, kinds) {
    const rows = [];
    for (let i = windows.length - 1; i >= 0 && rows.length < LIST_MAX_WINDOWS; --i) {
        const w = windows[i];
        if (w.is_override_redirect() || kinds.popupTypes.includes(w.get_window_type()))
            continue;
        const x11 = w.get_client_type() === kinds.x11;
        const pid = w.get_pid();
        rows.push([
            w.get_id(),
            Number.isInteger(pid) && pid > 0 && pid <= 0xFFFFFFFF ? pid : 0,
            x11,
            x11 ? parseXid(w.get_description()) : 0,
            cutTitle(w.get_title()),
        ]);
    }
    return rows;
}

function sameRows(a, b) {
    if (a.length !== b.length)
        return false;
    for (let i = 0; i < a.length; ++i) {
        for (let k = 0; k < 5; ++k) {
            if (a[i][k] !== b[i][k])
                return false;
        }
    }
    return true;
}

// The programs allowed to read the list: absolute paths, one a line, as installed.
function parseCallers(text) {
    return text.split('\n').map(line => line.trim()).filter(line => line.startsWith('/'));
}

// `exe`: the caller's /proc/PID/exe. A program replaced on disk while it runs reads
// "... (deleted)" there and is refused: it is no longer the installed program.
function callerAllowed(exe, callers) {
    return typeof exe === 'string' && callers.includes(exe);
}
