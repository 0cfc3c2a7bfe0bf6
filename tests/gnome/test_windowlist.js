// The GNOME Shell extension's list, built outside the shell (node): the shared part of both of
// its forms, fed plain windows as mutter would describe them.
//   node test_windowlist.js platform/linux/wayland/gnome/windowlist.js
'use strict';
const assert = require('assert');
const fs = require('fs');
const vm = require('vm');

const context = {};
vm.runInNewContext(fs.readFileSync(process.argv[2], 'utf8') +
    '\nthis.api = {describeWindows, sameRows, parseCallers, callerAllowed, LIST_MAX_WINDOWS};', context);
const {describeWindows, sameRows, parseCallers, callerAllowed, LIST_MAX_WINDOWS} = context.api;

const X11 = 1, NORMAL = 0, TOOLTIP = 10;
const kinds = {x11: X11, popupTypes: [TOOLTIP]};
function win(id, pid, title, {x11 = false, description = '', type = NORMAL, overrideRedirect = false} = {}) {
    return {
        get_id: () => id, get_pid: () => pid, get_title: () => title,
        get_client_type: () => (x11 ? X11 : 0), get_description: () => description,
        get_window_type: () => type, is_override_redirect: () => overrideRedirect,
    };
}
// Arrays made in the script's own context: compared by value.
const plain = value => JSON.parse(JSON.stringify(value));
let failures = 0;
function test(name, body) {
    try {
        body();
        console.log(`ok - ${name}`);
    } catch (e) {
        failures += 1;
        console.log(`not ok - ${name}\n  ${e.message}`);
    }
}

test('rows come topmost first, X11 ones with their X id', () => {
    const rows = describeWindows([
        win(1, 100, 'bottom'),
        win(2, 200, '端末', {x11: true, description: '0x1e00004'}),
        win(3, 300, 'top'),
    ], kinds);
    assert.deepStrictEqual(plain(rows), [
        [3, 300, false, 0, 'top'],
        [2, 200, true, 0x1e00004, '端末'],
        [1, 100, false, 0, 'bottom'],
    ]);
});

test('popups and override-redirect windows are no rows', () => {
    const rows = describeWindows([
        win(1, 100, 'a'), win(2, 100, 'tip', {type: TOOLTIP}), win(3, 100, 'menu', {overrideRedirect: true}),
    ], kinds);
    assert.deepStrictEqual(plain(rows.map(r => r[0])), [1]);
});

test('what mutter cannot say is 0 or empty, never garbage', () => {
    const rows = describeWindows([
        win(1, -1, null),                                                   // pid unknown, no title
        win(2, 5, 'x', {x11: true, description: '0x1e00004 (a title)'}),   // not a bare X id
        win(3, 6, 'y', {description: '0x1e00005'}),                         // a native one has none
    ], kinds);
    assert.deepStrictEqual(plain(rows),
        [[3, 6, false, 0, 'y'], [2, 5, true, 0, 'x'], [1, 0, false, 0, '']]);
});

test('a flood of windows or a huge title stays bounded, never splitting a character', () => {
    const many = [];
    for (let i = 0; i < LIST_MAX_WINDOWS + 50; ++i)
        many.push(win(i, 1, 't'));
    const rows = describeWindows(many, kinds);
    assert.strictEqual(rows.length, LIST_MAX_WINDOWS);
    assert.strictEqual(rows[0][0], LIST_MAX_WINDOWS + 49);   // the topmost are kept
    const title = describeWindows([win(1, 1, `${'a'.repeat(1023)}😀😀`)], kinds)[0][4];
    assert.strictEqual(title, 'a'.repeat(1023));
});

test('a change is a change of the set, the order or a title', () => {
    const a = describeWindows([win(1, 1, 'a'), win(2, 2, 'b')], kinds);
    assert.ok(sameRows(a, describeWindows([win(1, 1, 'a'), win(2, 2, 'b')], kinds)));
    assert.ok(!sameRows(a, describeWindows([win(2, 2, 'b'), win(1, 1, 'a')], kinds)));
    assert.ok(!sameRows(a, describeWindows([win(1, 1, 'a'), win(2, 2, 'c')], kinds)));
    assert.ok(!sameRows(a, describeWindows([win(1, 1, 'a')], kinds)));
});

test('only the programs the callers file names may read', () => {
    const callers = parseCallers('/usr/bin/mirebo\n\n  relative/mirebo\n/opt/x/bin/mirebo  \n');
    assert.deepStrictEqual(plain(callers), ['/usr/bin/mirebo', '/opt/x/bin/mirebo']);
    assert.ok(callerAllowed('/usr/bin/mirebo', callers));
    assert.ok(!callerAllowed('/usr/bin/mirebo (deleted)', callers));   // replaced on disk
    assert.ok(!callerAllowed('/tmp/usr/bin/mirebo', callers));
    assert.ok(!callerAllowed(null, parseCallers('')));
});

process.exit(failures === 0 ? 0 : 1);
