#!/usr/bin/python3
"""Dumps a running program's accessibility tree, as a screen reader sees it.

    atspi_dump.py --pid PID --title TITLE [--wait-for NAME] [--timeout SECS]
                  [--press ROLE NAME | --select-row ROLE NAME | --action ROLE NAME ACTION]
                  --text FILE --table FILE

Reads the AT-SPI registry of the current session (the accessibility bus that
org.a11y.Bus on the session bus hands out), finds the application whose
process is PID, waits until it shows a frame named TITLE (and, with
--wait-for, until some node in it is named NAME), and writes its tree:

  --text   for people: one node a line, indented by depth, as
           role "name" : "description" [states]
  --table  for the test: one node a line, tab separated:
           index, parent index (-1 for the application), depth, role, name,
           description, states (comma separated), and where it is on the
           screen (x,y,w,h; empty when it has no place); tabs, newlines and
           backslashes in the texts are written as \\t, \\n and \\\\.

Before the dump, as a screen reader user would, on the first node with that
role and name: --press does its default action (the first one: "press" on
a tab or a button); --action does the action so named ("Toggle" on a table
cell); --select-row adds the cell's row to its table's selection
(AddRowSelection). The tree is dumped half a second later.

Exit status: 0 written; 3 the application, its frame or the awaited node did
not turn up in time; 4 the registry could not be read at all; 5 nothing to
act on, or the action was refused; 2 on a usage error.

Run with Debian's /usr/bin/python3 (python3-gi, gir1.2-atspi-2.0).
"""

import argparse
import signal
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402  (needs the version set first)

# Action names come from get_action_name, deprecated in libatspi 2.46; its replacement get_name
# reads "" from Qt's bridge there.
warnings.filterwarnings("ignore", message=".*get_action_name is deprecated", category=DeprecationWarning)

# Tables list every cell as a child; a few rows tell the layout, all of them
# only make the dump long.
MAX_CHILDREN = 60
MAX_DEPTH = 40

# States worth seeing in the dump; the rest (enabled, sensitive, ...) is noise.
STATES = [
    ("showing", Atspi.StateType.SHOWING),
    ("visible", Atspi.StateType.VISIBLE),
    ("focusable", Atspi.StateType.FOCUSABLE),
    ("focused", Atspi.StateType.FOCUSED),
    ("selected", Atspi.StateType.SELECTED),
    ("checked", Atspi.StateType.CHECKED),
    ("active", Atspi.StateType.ACTIVE),
]


def log(msg):
    print("atspi_dump: " + msg, file=sys.stderr)


def safe(call, default=""):
    """One D-Bus round trip; an object that went away reads as DEFAULT."""
    try:
        value = call()
    except Exception:  # GLib.Error from the bus, or a dead proxy
        return default
    return default if value is None else value


def states_of(node):
    states = safe(node.get_state_set, None)
    if states is None:
        return []
    return [name for name, state in STATES if states.contains(state)]


def extents_of(node):
    if "Component" not in safe(node.get_interfaces, []):
        return ""
    box = safe(lambda: node.get_extents(Atspi.CoordType.SCREEN), None)
    if box is None or box.width <= 0 or box.height <= 0:
        return ""
    return "%d,%d,%d,%d" % (box.x, box.y, box.width, box.height)


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def find_app(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(safe(desktop.get_child_count, 0)):
        app = safe(lambda: desktop.get_child_at_index(i), None)
        if app is not None and safe(app.get_process_id, -1) == pid:
            return app
    return None


def has_frame(app, title):
    for i in range(safe(app.get_child_count, 0)):
        child = safe(lambda: app.get_child_at_index(i), None)
        if (child is not None and safe(child.get_role, None) == Atspi.Role.FRAME
                and safe(child.get_name) == title and safe(child.get_child_count, 0) > 0):
            return True
    return False


def has_name(app, name):
    return any(row[4] == name for row in walk(app))


def find_node(app, role, name):
    for node, row in walk(app, with_nodes=True):
        if row[3] == role and row[4] == name:
            return node
    return None


def walk(app, with_nodes=False):
    """Yields (index, parent, depth, role, name, description, states, extents, more)."""
    rows = []
    stack = [(app, -1, 0)]
    seen = set()
    while stack:
        node, parent, depth = stack.pop()
        # libatspi keeps one object per remote one: a broken tree that
        # leads back to a node must not loop us forever.
        if node in seen:
            continue
        seen.add(node)
        index = len(rows)
        count = safe(node.get_child_count, 0)
        row = [index, parent, depth, safe(node.get_role_name, "?"), safe(node.get_name),
               safe(node.get_description), states_of(node), extents_of(node), max(0, count - MAX_CHILDREN)]
        rows.append((node, row) if with_nodes else row)
        if depth >= MAX_DEPTH:
            continue
        children = []
        for i in range(min(count, MAX_CHILDREN)):
            child = safe(lambda: node.get_child_at_index(i), None)
            if child is not None:
                children.append(child)
        for child in reversed(children):
            stack.append((child, index, depth + 1))
    return rows


def act(app, args):
    """Does what --press, --action or --select-row asks; 0, or 5 when refused."""
    role, name = (args.press or args.action or args.select_row)[:2]
    node = find_node(app, role, name)
    if node is None:
        log("nothing to act on: no %s named %r" % (role, name))
        return 5
    if args.select_row:
        table = safe(node.get_parent, None)
        if table is None or "Table" not in safe(table.get_interfaces, []):
            log("the %s %r is not in a table" % (role, name))
            return 5
        row = safe(lambda: table.get_row_at_index(node.get_index_in_parent()), -1)
        if row < 0 or not safe(lambda: table.add_row_selection(row), False):
            log("the table refused to select row %d, that of the %s %r" % (row, role, name))
            return 5
        return 0
    actions = [safe(lambda: node.get_action_name(i)) for i in range(safe(node.get_n_actions, 0))]
    wanted = 0 if args.press else (actions.index(args.action[2]) if args.action[2] in actions else -1)
    if wanted < 0 or wanted >= len(actions):
        log("the %s %r has no such action (it has %s)" % (role, name, actions))
        return 5
    if not safe(lambda: node.do_action(wanted), False):
        log("the %s %r refused its action %r" % (role, name, actions[wanted]))
        return 5
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--title", required=True)
    parser.add_argument("--text", required=True)
    parser.add_argument("--table", required=True)
    parser.add_argument("--wait-for", metavar="NAME")
    acts = parser.add_mutually_exclusive_group()
    acts.add_argument("--press", nargs=2, metavar=("ROLE", "NAME"))
    acts.add_argument("--action", nargs=3, metavar=("ROLE", "NAME", "ACTION"))
    acts.add_argument("--select-row", nargs=2, metavar=("ROLE", "NAME"))
    parser.add_argument("--timeout", type=float, default=20)
    args = parser.parse_args()

    # A hung bus must not hang the test: every call has a time limit, and so
    # has the whole run.
    signal.signal(signal.SIGALRM, lambda *_: (log("gave up: the registry stopped answering"), sys.exit(4)))
    signal.alarm(int(args.timeout) + 30)
    Atspi.set_timeout(3000, 10000)

    deadline = time.monotonic() + args.timeout
    app = None
    while True:
        try:
            app = find_app(args.pid)
        except Exception as error:  # no registry, no bus
            log("cannot read the registry: %s" % error)
            return 4
        framed = app is not None and has_frame(app, args.title)
        if framed and (args.wait_for is None or has_name(app, args.wait_for)):
            break
        if time.monotonic() >= deadline:
            if app is None:
                log("no application with pid %d on the accessibility bus within %g s" % (args.pid, args.timeout))
            elif not framed:
                log("application %d shows no frame named %r within %g s" % (args.pid, args.title, args.timeout))
            else:
                log("no node named %r in application %d within %g s" % (args.wait_for, args.pid, args.timeout))
            return 3
        time.sleep(0.2)

    if args.press or args.action or args.select_row:
        status = act(app, args)
        if status:
            return status
        time.sleep(0.5)

    rows = walk(app)
    with open(args.text, "w", encoding="utf-8") as text, open(args.table, "w", encoding="utf-8") as table:
        text.write("# application %r, pid %d, toolkit %s %s\n" % (
            safe(app.get_name), args.pid, safe(app.get_toolkit_name), safe(app.get_toolkit_version)))
        for index, parent, depth, role, name, description, states, extents, more in rows:
            line = "  " * depth + role + ' "' + name + '"'
            if description:
                line += ' : "' + description + '"'
            if states:
                line += " [" + ",".join(states) + "]"
            text.write(line.replace("\n", "\\n") + "\n")
            if more:
                text.write("  " * (depth + 1) + "... %d more children\n" % more)
            table.write("\t".join([str(index), str(parent), str(depth), role, escape(name),
                                   escape(description), ",".join(states), extents]) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
