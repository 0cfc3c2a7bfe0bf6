#pragma once
// The list of top-level windows: a copy kept up to date from the X server's events, so that a
// refresh costs what changed since the last one, not what exists.

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/types.h"
#include "platform/linux/x11/x11.h"
#include "platform/linux/x11/xlink.h"

class QSocketNotifier;

namespace platform::linux_impl {

// The clients in the X server's own stacking order, topmost first. `rootChildren` runs bottom
// first, as the server lists them; `topLevelOf` gives the root child (frame) holding each client.
// Clients sharing a frame, or whose frame is unknown (gone meanwhile: they go last), keep the
// order they have in `clients`. Window managers publish their stacking list in their own terms
// (some leave out their layers), so only the server's order is taken for the truth.
std::vector<xcb_window_t> serverStackingOrder(
    const std::vector<xcb_window_t>& rootChildren, const std::vector<xcb_window_t>& clients,
    const std::unordered_map<xcb_window_t, xcb_window_t>& topLevelOf);

class WindowLister {
public:
    // `ownPid`: this process as the X server should know it (0: getpid()). When the server
    // names our own connection by another id, its ids are of another pid namespace (a sandbox
    // or container) and every row says so (WindowInfo::foreignPid).
    explicit WindowLister(std::uint32_t ownPid = 0);
    ~WindowLister();
    WindowLister(const WindowLister&) = delete;
    WindowLister& operator=(const WindowLister&) = delete;

    // Topmost first, in the X server's stacking order. Empty when not on X. Which windows: the
    // window manager's clients (_NET_CLIENT_LIST, else _NET_CLIENT_LIST_STACKING); with a manager
    // that publishes neither, the windows carrying WM_STATE below the root's children; with no
    // manager at all, the root's mapped children that are not override-redirect.
    //
    // Cost: the events that came since the last call, and a request for each change they
    // announce (a new window, a new title, a new list); none per window when nothing changed.
    // Waits for the server at most a fraction of a second; a server that answers later leaves
    // the rows as they were, and the copy is read again in full on a later call.
    std::vector<WindowInfo> list();

    // One round trip: afterwards the copy holds every change the server made before the call.
    // For tests and benchmarks, which change windows and look at once; the refresh relies on
    // the events alone.
    void catchUp();

private:
    struct Client {
        std::optional<std::string> netTitle;   // _NET_WM_NAME, when it is a usable one
        std::string wmTitle;                   // WM_NAME, decoded
        bool visible = false;                  // WM_STATE Normal or Iconic; unmanaged: mapped
        std::uint32_t serverPid = 0;           // XRes: the process holding the connection
        std::uint32_t declaredPid = 0;         // _NET_WM_PID
        bool remote = false;                   // WM_CLIENT_MACHINE names another host
        std::uint32_t pid = 0;
        std::uint64_t identity = 0;
        xcb_window_t frame = XCB_NONE;         // the root's child holding it
    };
    enum Property : unsigned { kNetName = 1, kWmName = 2, kWmState = 4, kNetPid = 8, kMachine = 16 };
    enum class Mode { Lists, Bare };

    bool connect();
    void pump();
    void drainEvents();
    void handle(const xcb_generic_event_t* event);
    void rootStructure(const xcb_generic_event_t* event);
    void resync(const Deadline& deadline);
    void scanBare(Batch& batch, const Deadline& deadline);
    void readLists(const Deadline& deadline);
    void resolve(const std::vector<xcb_window_t>& ids, bool managed, std::uint32_t eventMask,
                 const Deadline& deadline,
                 const std::unordered_map<xcb_window_t, xcb_window_t>* frames = nullptr);
    void refetch(const Deadline& deadline);
    void climb(std::unordered_map<xcb_window_t, xcb_window_t> from, const Deadline& deadline);
    void settleOwner(Client& client);
    void apply(Client& client, unsigned property, const xcb_get_property_reply_t* reply);
    void forget(xcb_window_t window);
    void rebuild();
    void fill(WindowInfo& row, xcb_window_t id, const Client& client) const;
    void refresh(xcb_window_t id, const Client& client);
    std::vector<xcb_window_t> pickList(Batch& batch, unsigned plain, unsigned stacking);
    unsigned askProperty(Batch& batch, xcb_window_t window, unsigned property);

    std::uint32_t ownPid_;
    std::unique_ptr<XLink> link_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::int64_t lastAttempt_ = 0;   // ms, monotonic: when a connection was last tried

    struct Atoms {
        xcb_atom_t netWmName, utf8String, netWmPid, wmState, compoundText, clientList,
            clientListStacking, supportingWmCheck;
    } atoms_{};
    bool haveRes_ = false;
    bool foreignPids_ = false;
    std::string host_;
    Display* display_ = nullptr;   // Qt's Xlib display, for decoding COMPOUND_TEXT
    std::unordered_map<std::uint32_t, std::uint64_t> startTimes_;   // read during one pump

    // The copy.
    Mode mode_ = Mode::Lists;
    std::vector<xcb_window_t> rootChildren_;   // bottom first
    unsigned treeSequence_ = 0;                // structure events before it are in rootChildren_
    unsigned lastSequence_ = 0;                // of the last event read
    xcb_window_t checkWindow_ = XCB_NONE;
    xcb_atom_t listAtom_ = XCB_NONE;           // the manager's list the clients come from
    std::vector<xcb_window_t> order_;          // the clients as listed, topmost first
    std::unordered_map<xcb_window_t, Client> clients_;
    std::unordered_set<xcb_window_t> watched_;   // bare mode: windows whose changes matter

    // What the events announced and is still to be asked.
    bool needResync_ = true;
    bool listsChanged_ = false;
    std::unordered_map<xcb_window_t, unsigned> stale_;        // client -> properties
    std::unordered_map<xcb_window_t, xcb_window_t> moved_;   // client -> its new parent

    bool rowsChanged_ = true;   // order or membership changed: the rows are built again
    std::vector<WindowInfo> rows_;
    std::unordered_map<xcb_window_t, std::size_t> rowOf_;   // client -> its place in rows_
};

}  // namespace platform::linux_impl
