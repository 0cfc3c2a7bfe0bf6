// xtool: the X questions the tests and the desktop harness ask, and the top-level windows a
// window list has to survive, kept up until it is killed (or its X server goes away).
//
//   xtool --count N [--per-process M]
//                      N mapped windows titled "窓 1" .. "窓 N"; under a window manager it is
//                      ready once the manager lists them all. With --per-process, processes of
//                      M windows each hold them (a desktop of many programs)
//   xtool --huge       titles of 100 KB: _NET_WM_NAME, WM_NAME as STRING and as COMPOUND_TEXT,
//                      each cut by a fetch of the start inside a character
//   xtool --invalid    ill-formed UTF-8, control characters, right-to-left text, a zero-width
//                      joiner, names of the wrong type or format (each from a process of its
//                      own, so that each has a row in a list of processes) and odd _NET_WM_PID
//                      values
//   xtool --churn      retitles a window every 20 ms and creates a window and destroys an older
//                      one every 10 ms, so that windows vanish between a list request and the
//                      property reads that follow it
//
// Some windows carry _NET_WM_PID and some do not, so both ways of finding the owner are used.
// Once everything is set up (the server has processed every request) it prints "ready" on
// stdout. Exit status: 1 when the X connection cannot be opened or breaks, 2 on a usage error.
//
//   xtool --claiming PID TITLE
//                      one window titled TITLE that names PID as its process (_NET_WM_PID), as a
//                      program in a container, or one that lies, does
//
//   xtool --windows-of PID
//
// prints the mapped top-level windows whose _NET_WM_PID is PID, one "0xID WIDTHxHEIGHT TITLE"
// a line, and exits: the window manager's clients (the root's children without one), every
// question sent before the first answer is read. Unlike a walk of the whole window tree
// (xdotool search) it takes a few milliseconds among a thousand windows, and it does not fail
// when windows vanish while it looks.
//
//   xtool --selection-owner NAME
//
// prints the window owning the selection NAME (e.g. _NET_SYSTEM_TRAY_S0) as 0x..., or 0x0 when
// nobody owns it: no stock X tool asks the server that.
//
//   xtool --watch-activation
//
// prints "ready", then one line for each _NET_ACTIVE_WINDOW request any client sends to the
// root: "0xWINDOW source=S time=T now=N", with the request's source indication and timestamp
// and the server's time when the request was seen, until it is killed.
//
// Plain xcb, so that it depends on nothing the program under test uses.

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

struct Atoms {
    xcb_atom_t netWmName, utf8String, netWmPid, compoundText, netWmUserTime, netClientList;
};

xcb_connection_t* conn = nullptr;
xcb_screen_t* screen = nullptr;
Atoms atoms{};

[[noreturn]] void die(const char* why)
{
    std::fprintf(stderr, "xtool: %s\n", why);
    std::exit(1);
}

xcb_atom_t intern(const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        conn, xcb_intern_atom(conn, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    if (reply == nullptr)
        die("cannot intern an atom (X connection lost?)");
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

void connectDisplay()
{
    int screenNumber = 0;
    conn = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(conn))
        die("cannot open the X display");
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem == 0)
        die("no such screen");
    screen = it.data;
    atoms = {intern("_NET_WM_NAME"), intern("UTF8_STRING"), intern("_NET_WM_PID"),
             intern("COMPOUND_TEXT"), intern("_NET_WM_USER_TIME"), intern("_NET_CLIENT_LIST")};
}

// Waits until the server has processed everything sent so far.
void sync()
{
    std::free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
    if (xcb_connection_has_error(conn))
        die("the X connection broke");
}

void setProperty(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, std::uint8_t format,
                 const void* data, std::size_t units)
{
    xcb_change_property(conn, XCB_PROP_MODE_REPLACE, w, property, type, format,
                        static_cast<std::uint32_t>(units), data);
}

void setText(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, std::string_view bytes)
{
    setProperty(w, property, type, 8, bytes.data(), bytes.size());
}

void setPid(xcb_window_t w, std::uint32_t pid)
{
    setProperty(w, atoms.netWmPid, XCB_ATOM_CARDINAL, 32, &pid, 1);
}

void setMachine(xcb_window_t w, std::string_view host)
{
    setText(w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, host);
}

std::string hostName()
{
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return "localhost";
    return host;
}

// A top-level window (still to be mapped), small and spread over the screen. It asks for its
// own position and not to be focused, so that a window manager can take on a thousand of them
// without searching for free room or moving the focus each time.
xcb_window_t createWindow(int index)
{
    const xcb_window_t w = xcb_generate_id(conn);
    const std::uint32_t values[] = {screen->white_pixel};
    const auto x = static_cast<std::int16_t>(40 + (index * 37) % 800);
    const auto y = static_cast<std::int16_t>(40 + (index * 23) % 600);
    xcb_create_window(conn, XCB_COPY_FROM_PARENT, w, screen->root, x, y, 120, 40, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL,
                      values);
    // WM_NORMAL_HINTS: flags USPosition | PSize, then the (obsolete) position and size.
    std::uint32_t hints[18] = {1 | 8, std::uint32_t(x), std::uint32_t(y), 120, 40};
    setProperty(w, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, hints, 18);
    const std::uint32_t never = 0;   // _NET_WM_USER_TIME 0: do not focus on map
    setProperty(w, atoms.netWmUserTime, XCB_ATOM_CARDINAL, 32, &never, 1);
    return w;
}

void map(xcb_window_t w)
{
    xcb_map_window(conn, w);
}

// Blocks until killed; returns (with status 1) only when the server goes away.
[[noreturn]] void stayUp()
{
    for (;;) {
        xcb_generic_event_t* event = xcb_wait_for_event(conn);
        if (event == nullptr)
            die("the X connection broke");
        std::free(event);   // errors and events alike: nothing here needs an answer
    }
}

void ready()
{
    sync();
    std::printf("ready\n");
    std::fflush(stdout);
}

// ---- the modes --------------------------------------------------------------------------

std::vector<xcb_window_t> topLevels();

// Waits (at most 30 s) until the window manager's client list holds every one of `ours`; at
// once when no manager runs.
void waitUntilListed(std::vector<xcb_window_t> ours)
{
    std::sort(ours.begin(), ours.end());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        std::vector<xcb_window_t> listed = topLevels();
        std::sort(listed.begin(), listed.end());
        if (std::includes(listed.begin(), listed.end(), ours.begin(), ours.end()))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    die("the window manager did not list every window within 30 s");
}

void count(int n, int first = 1)
{
    const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
    const std::string host = hostName();
    std::vector<xcb_window_t> made;
    for (int i = first; i < first + n; ++i) {
        const xcb_window_t w = createWindow(i);
        made.push_back(w);
        const std::string title = "窓 " + std::to_string(i);
        // Titles the three ways clients give them: both names, the EWMH one, the old one only.
        if (i % 3 != 2)
            setText(w, atoms.netWmName, atoms.utf8String, title);
        if (i % 3 != 1)
            setText(w, XCB_ATOM_WM_NAME, atoms.utf8String, title);
        if (i % 2 == 0) {
            setPid(w, pid);
            setMachine(w, host);
        }
        map(w);
        if (i % 100 == 0)
            sync();   // keeps the request queue and the server's backlog short
    }
    waitUntilListed(made);
}

void claiming(std::uint32_t pid, std::string_view title)
{
    const xcb_window_t w = createWindow(0);
    setText(w, atoms.netWmName, atoms.utf8String, title);
    setPid(w, pid);
    setMachine(w, hostName());
    map(w);
    waitUntilListed({w});
}

// Runs `work` in a child process of its own with a connection of its own, which then stays up
// until this process (or its X server) ends; returns the pipe end that reads one byte once
// `work` is done, and none if it failed.
int inChild(const std::function<void()>& work)
{
    int up[2];
    if (::pipe(up) != 0)
        die("pipe failed");
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0)
        die("fork failed");
    if (child == 0) {
        ::close(up[0]);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            std::_Exit(0);
        connectDisplay();
        work();
        sync();
        (void)!::write(up[1], "+", 1);
        ::close(up[1]);
        stayUp();
    }
    ::close(up[1]);
    return up[0];
}

void awaitChild(int fd)
{
    char byte = 0;
    const bool ok = ::read(fd, &byte, 1) == 1;
    ::close(fd);
    if (!ok)
        die("a window's process failed");
}

// `n` windows in processes of `perProcess` each, which end with this one; returns once the
// window manager lists them all.
void countSpread(int n, int perProcess)
{
    std::vector<int> done;
    for (int first = 1; first <= n; first += perProcess)
        done.push_back(inChild([=] { count(std::min(perProcess, n - first + 1), first); }));
    for (const int fd : done)
        awaitChild(fd);
}

void huge()
{
    constexpr std::size_t kSize = 100 * 1024;
    // 3-byte characters: no fetch of a whole number of 32-bit units ends between two of them.
    std::string utf8;
    while (utf8.size() + 3 <= kSize)
        utf8 += "長";
    utf8 += "ab";
    std::string latin1;
    for (std::size_t i = 0; i < kSize; ++i)
        latin1 += static_cast<char>(i % 2 ? 0xE9 : 'x');
    // ISO 2022: JIS X 0208 into the right half, then "ミ" over and over.
    std::string compound = "\x1b$)B";
    while (compound.size() + 2 <= kSize)
        compound += "\xA5\xDF";

    const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
    const xcb_window_t both = createWindow(1);
    setText(both, atoms.netWmName, atoms.utf8String, utf8);
    setText(both, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, latin1);
    setPid(both, pid);
    map(both);
    const xcb_window_t string = createWindow(2);
    setText(string, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, latin1);
    map(string);
    const xcb_window_t ct = createWindow(3);
    setText(ct, XCB_ATOM_WM_NAME, atoms.compoundText, compound);
    setPid(ct, pid);
    map(ct);
}

// One window dressed by `dress`, in a process of its own: the list shows one row per process,
// so only this way does each of these titles get a row of its own. The process ends with
// this one (or with its X server). Returns once the window is up.
void inOwnProcess(int index, bool declarePid, const std::function<void(xcb_window_t)>& dress)
{
    awaitChild(inChild([&] {
        const xcb_window_t w = createWindow(index);
        dress(w);
        if (declarePid)
            setPid(w, static_cast<std::uint32_t>(::getpid()));
        map(w);
    }));
}

void invalid()
{
    const std::string_view utf8Titles[] = {
        std::string_view("bad \xC0\xAF overlong \xED\xA0\x80 surrogate \xF4\x90\x80\x80 big"),
        std::string_view("stray \x80\xBF and \xFF\xFE bytes, cut \xE3\x83"),
        std::string_view("tab\tnewline\ncr\rsoh\x01 del\x7f end"),
        std::string_view("مرحبا עולם"),
        std::string_view("zwj a\u200Db \U0001F469\u200D\U0001F4BB"),
        std::string_view("rtl override \u202Eabc\u202C and bidi \u2067x\u2069"),
        std::string_view("nul\0after", 9),
        std::string_view("\xE3\x83\x9F\xE3\x83\xAC\xE3\x83"),   // "ミレ" and half a "ボ"
    };
    std::vector<std::function<void(xcb_window_t)>> dresses;
    for (const std::string_view title : utf8Titles)
        dresses.push_back([title](xcb_window_t w) { setText(w, atoms.netWmName, atoms.utf8String, title); });

    // WM_NAME only, and names in types and formats a title should not have.
    dresses.push_back([](xcb_window_t w) {
        setText(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "latin-1 caf\xE9 \x01\x7f\xA0\xFF");
    });
    dresses.push_back([](xcb_window_t w) {
        setText(w, XCB_ATOM_WM_NAME, atoms.compoundText, "ct \x1b$(Q\x1b%/\x1b");
    });
    dresses.push_back([](xcb_window_t w) {
        setText(w, XCB_ATOM_WM_NAME, XCB_ATOM_INTEGER, "\xFF\xFEinteger");
    });
    dresses.push_back([](xcb_window_t w) {
        const std::uint16_t wide[] = {0x7A93, 0x0020, 0xD800, 0x0000};
        setProperty(w, atoms.netWmName, atoms.utf8String, 16, wide, 4);
        setProperty(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 16, wide, 4);
    });
    dresses.push_back([](xcb_window_t w) {
        const std::uint32_t longs[] = {0xE7AA93E7, 0x80808080};
        setProperty(w, atoms.netWmName, atoms.utf8String, 32, longs, 2);
    });
    dresses.push_back([](xcb_window_t w) {
        setText(w, atoms.netWmName, XCB_ATOM_STRING, "_NET_WM_NAME as STRING \xE9");
        setText(w, XCB_ATOM_WM_NAME, atoms.utf8String, "WM_NAME as UTF8_STRING 窓");
    });
    dresses.push_back([](xcb_window_t w) {
        setText(w, atoms.netWmName, atoms.utf8String, "");
        setText(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "");
    });
    int index = 0;
    for (const auto& dress : dresses) {
        ++index;
        inOwnProcess(index, index % 2 == 0, dress);
    }

    // Owners that cannot be true: no process, the biggest ids, another machine's, and a pid
    // of the wrong format; all but the first few windows are this process's own.
    connectDisplay();
    const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
    const std::string host = hostName();
    struct Claim {
        std::uint32_t pid;
        const char* machine;
    };
    const Claim claims[] = {{0, nullptr},
                            {0x7FFFFFFF, nullptr},
                            {0xFFFFFFFF, nullptr},
                            {1, "elsewhere.invalid"},
                            {pid, host.c_str()},
                            {pid, ""}};
    for (const Claim& claim : claims) {
        const xcb_window_t w = createWindow(++index);
        setText(w, atoms.netWmName, atoms.utf8String, "owner " + std::to_string(claim.pid));
        setPid(w, claim.pid);
        if (claim.machine != nullptr)
            setMachine(w, claim.machine);
        map(w);
    }
    const xcb_window_t shortPid = createWindow(++index);
    setText(shortPid, atoms.netWmName, atoms.utf8String, "pid of format 8");
    setText(shortPid, atoms.netWmPid, XCB_ATOM_CARDINAL, "12");
    map(shortPid);
}

[[noreturn]] void churn()
{
    using Clock = std::chrono::steady_clock;
    constexpr auto kTick = std::chrono::milliseconds(10);
    constexpr std::size_t kAlive = 4;   // windows from the churn that exist at any one time

    const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
    const xcb_window_t renamed = createWindow(0);
    setText(renamed, atoms.netWmName, atoms.utf8String, "変わる窓");
    setPid(renamed, pid);
    map(renamed);
    ready();

    std::deque<xcb_window_t> alive;
    const std::string longTitle(3000, 'L');
    auto next = Clock::now();
    for (std::uint64_t tick = 0;; ++tick) {
        // Every 20 ms a new title: short, longer than any fetch of it, or none at all.
        if (tick % 2 == 0) {
            switch ((tick / 2) % 3) {
            case 0:
                setText(renamed, atoms.netWmName, atoms.utf8String, "変わる窓 " + std::to_string(tick));
                setText(renamed, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "renamed " + std::to_string(tick));
                break;
            case 1:
                setText(renamed, atoms.netWmName, atoms.utf8String, longTitle);
                break;
            default:
                xcb_delete_property(conn, renamed, atoms.netWmName);
                break;
            }
        }
        // Every 10 ms one window more and, once there are enough, the oldest one less.
        const xcb_window_t w = createWindow(static_cast<int>(tick));
        setText(w, atoms.netWmName, atoms.utf8String, "束の間 " + std::to_string(tick));
        if (tick % 2 == 0)
            setPid(w, pid);
        map(w);
        alive.push_back(w);
        if (alive.size() > kAlive) {
            xcb_destroy_window(conn, alive.front());
            alive.pop_front();
        }
        xcb_flush(conn);

        while (xcb_generic_event_t* event = xcb_poll_for_event(conn))
            std::free(event);
        if (xcb_connection_has_error(conn))
            die("the X connection broke");
        next += kTick;
        std::this_thread::sleep_until(next);
    }
}

// ---- looking up a program's windows -------------------------------------------------------

template <class Reply>
struct Freed {
    Reply* reply;
    explicit Freed(Reply* r) : reply(r) {}
    Freed(const Freed&) = delete;
    Freed& operator=(const Freed&) = delete;
    ~Freed() { std::free(reply); }
    Reply* operator->() const { return reply; }
    explicit operator bool() const { return reply != nullptr; }
};

std::vector<xcb_window_t> topLevels()
{
    Freed<xcb_get_property_reply_t> clients(xcb_get_property_reply(
        conn, xcb_get_property(conn, 0, screen->root, atoms.netClientList, XCB_ATOM_WINDOW, 0, 1u << 16),
        nullptr));
    if (clients && clients->type == XCB_ATOM_WINDOW && clients->format == 32) {
        const auto* first = static_cast<const xcb_window_t*>(xcb_get_property_value(clients.reply));
        return {first, first + xcb_get_property_value_length(clients.reply) / 4};
    }
    Freed<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(conn, xcb_query_tree(conn, screen->root), nullptr));
    if (!tree)
        return {};
    const xcb_window_t* first = xcb_query_tree_children(tree.reply);
    return {first, first + xcb_query_tree_children_length(tree.reply)};
}

int windowsOf(std::uint32_t pid)
{
    struct Asked {
        xcb_window_t id;
        xcb_get_property_cookie_t pid, netName, wmName;
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
    };
    std::vector<Asked> asked;
    for (const xcb_window_t w : topLevels())
        asked.push_back({w, xcb_get_property(conn, 0, w, atoms.netWmPid, XCB_ATOM_CARDINAL, 0, 1),
                         xcb_get_property(conn, 0, w, atoms.netWmName, atoms.utf8String, 0, 256),
                         xcb_get_property(conn, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                         xcb_get_window_attributes(conn, w), xcb_get_geometry(conn, w)});
    // A window that is gone answers with an error instead, and is left out.
    const auto text = [](const Freed<xcb_get_property_reply_t>& r) {
        if (!r || r->format != 8)
            return std::string();
        return std::string(static_cast<const char*>(xcb_get_property_value(r.reply)),
                           static_cast<std::size_t>(xcb_get_property_value_length(r.reply)));
    };
    for (const Asked& a : asked) {
        Freed<xcb_get_property_reply_t> owner(xcb_get_property_reply(conn, a.pid, nullptr));
        Freed<xcb_get_property_reply_t> netName(xcb_get_property_reply(conn, a.netName, nullptr));
        Freed<xcb_get_property_reply_t> wmName(xcb_get_property_reply(conn, a.wmName, nullptr));
        Freed<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(conn, a.attributes, nullptr));
        Freed<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(conn, a.geometry, nullptr));
        if (!owner || owner->format != 32 || xcb_get_property_value_length(owner.reply) < 4 ||
            !attributes || !geometry)
            continue;
        std::uint32_t value = 0;
        std::memcpy(&value, xcb_get_property_value(owner.reply), sizeof value);
        if (value != pid || attributes->override_redirect ||
            attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        std::string title = text(netName);
        if (title.empty())
            title = text(wmName);
        std::printf("0x%x %ux%u %s\n", a.id, geometry->width, geometry->height, title.c_str());
    }
    return xcb_connection_has_error(conn) ? 1 : 0;
}

int selectionOwner(const char* name)
{
    Freed<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        conn, xcb_get_selection_owner(conn, intern(name)), nullptr));
    if (!owner)
        return 1;
    std::printf("0x%x\n", owner->owner);
    return 0;
}

[[noreturn]] void watchActivation()
{
    const xcb_atom_t active = intern("_NET_ACTIVE_WINDOW");
    const xcb_atom_t tick = intern("XTOOL_CLOCK");
    // Requests to the window manager reach whoever watches the root or its children; a property
    // change on a window of our own tells the server's time.
    const std::uint32_t rootMask[] = {XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                                      XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY};
    xcb_change_window_attributes(conn, screen->root, XCB_CW_EVENT_MASK, rootMask);
    const xcb_window_t clock = xcb_generate_id(conn);
    const std::uint32_t clockMask[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(conn, 0, clock, screen->root, -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      clockMask);
    ready();
    std::vector<std::string> seen;   // requests waiting for the time they were seen at
    for (;;) {
        Freed<xcb_generic_event_t> event(xcb_wait_for_event(conn));
        if (!event)
            die("the X connection broke");
        const auto type = event->response_type & 0x7f;
        if (type == XCB_CLIENT_MESSAGE) {
            const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event.reply);
            if (message->type != active || message->format != 32)
                continue;
            char line[96];
            std::snprintf(line, sizeof line, "0x%x source=%u time=%u", message->window,
                          message->data.data32[0], message->data.data32[1]);
            seen.emplace_back(line);
            xcb_change_property(conn, XCB_PROP_MODE_APPEND, clock, tick, XCB_ATOM_INTEGER, 32, 0,
                                nullptr);
            xcb_flush(conn);
        } else if (type == XCB_PROPERTY_NOTIFY) {
            const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event.reply);
            for (const std::string& line : seen)
                std::printf("%s now=%u\n", line.c_str(), change->time);
            std::fflush(stdout);
            seen.clear();
        }
    }
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: xtool --count N [--per-process M] | --huge | --invalid | --churn\n"
                         "       xtool --claiming PID TITLE | --windows-of PID | --selection-owner NAME\n"
                         "       xtool --watch-activation\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        usage();
    const std::string mode = argv[1];
    long n = 0;
    long perProcess = 0;
    if (mode == "--count" && argc == 5 && std::string(argv[3]) == "--per-process") {
        char* end = nullptr;
        perProcess = std::strtol(argv[4], &end, 10);
        if (*argv[4] == '\0' || *end != '\0' || perProcess < 1 || perProcess > 100000)
            usage();
        argc = 3;
    }
    if (mode == "--count" || mode == "--windows-of") {
        if (argc != 3)
            usage();
        char* end = nullptr;
        n = std::strtol(argv[2], &end, 10);
        if (*argv[2] == '\0' || *end != '\0' || n < 1 || n > (mode == "--count" ? 100000 : INT32_MAX))
            usage();
    } else if (mode == "--claiming") {
        if (argc != 4 || *argv[2] == '\0')
            usage();
        char* end = nullptr;
        n = std::strtol(argv[2], &end, 10);
        if (*end != '\0' || n < 1 || n > INT32_MAX)
            usage();
    } else if (mode == "--selection-owner") {
        if (argc != 3 || *argv[2] == '\0')
            usage();
    } else if (argc != 2 || (mode != "--huge" && mode != "--invalid" && mode != "--churn" &&
                             mode != "--watch-activation")) {
        usage();
    }

    if (mode == "--invalid") {
        invalid();   // connects once its helper processes are up
    } else if (perProcess > 0) {
        countSpread(static_cast<int>(n), static_cast<int>(perProcess));
        connectDisplay();
    } else {
        connectDisplay();
        if (mode == "--windows-of")
            return windowsOf(static_cast<std::uint32_t>(n));
        if (mode == "--selection-owner")
            return selectionOwner(argv[2]);
        if (mode == "--watch-activation")
            watchActivation();
        if (mode == "--claiming") {
            claiming(static_cast<std::uint32_t>(n), argv[3]);
            ready();
            stayUp();
        }
        if (mode == "--churn")
            churn();
        if (mode == "--count")
            count(static_cast<int>(n));
        else
            huge();
    }
    ready();
    stayUp();
}
