#pragma once
// The list of top-level windows, read from the X server in pipelined batches.

#include <xcb/res.h>
#include <xcb/xcb.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/types.h"
#include "platform/linux/x11/x11.h"

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
    // Topmost first, in the X server's stacking order. Empty when not on X. Which windows: the
    // window manager's clients (_NET_CLIENT_LIST_STACKING, else _NET_CLIENT_LIST); with a manager
    // that publishes neither, the windows carrying WM_STATE below the root's children; with no
    // manager at all, the root's mapped children that are not override-redirect.
    std::vector<WindowInfo> list();

private:
    // The hints' atoms not among the window-manager hints' (xcb-ewmh) own.
    struct Atoms {
        xcb_atom_t compoundText, wmState;
    };

    // The cookies of everything asked about one window.
    struct Pending {
        xcb_window_t id = XCB_NONE;
        bool managed = true;
        xcb_get_window_attributes_cookie_t attributes{};
        xcb_get_property_cookie_t netName{}, wmName{}, wmState{}, netPid{}, machine{};
        xcb_res_query_client_ids_cookie_t owner{};
        std::optional<xcb_query_tree_cookie_t> tree;   // asked when the frame is still unknown
    };
    struct Answer {
        std::optional<WindowInfo> info;   // std::nullopt: gone, or not to be listed
        xcb_window_t parent = XCB_NONE;
    };

    bool prepare(const X11& x);
    std::vector<xcb_window_t> windowList(const X11& x, xcb_get_property_cookie_t cookie) const;
    std::vector<WindowInfo> managedClients(const X11& x, const std::vector<xcb_window_t>& clients,
                                           const std::vector<xcb_window_t>& rootChildren,
                                           std::optional<xcb_window_t> checkWindow);
    std::vector<xcb_window_t> wmStateClients(const X11& x,
                                             const std::vector<xcb_window_t>& rootChildren) const;
    std::vector<WindowInfo> answerAll(const X11& x, const std::vector<xcb_window_t>& ids,
                                      bool managed);
    void climbToTopLevels(const X11& x, std::unordered_map<xcb_window_t, xcb_window_t>& parentOf,
                          const std::vector<xcb_window_t>& rootChildren) const;

    Pending ask(xcb_connection_t* c, xcb_window_t window, bool managed, bool wantParent) const;
    void discard(xcb_connection_t* c, const Pending& p) const;
    Answer answer(const X11& x, const Pending& p);
    std::string titleOf(const X11& x, const xcb_get_property_reply_t* netName,
                        const xcb_get_property_reply_t* wmName) const;
    void stamp(std::vector<WindowInfo>& windows) const;

    xcb_connection_t* preparedFor_ = nullptr;
    Atoms atoms_{};
    xcb_ewmh_connection_t* ewmh_ = nullptr;
    bool haveRes_ = false;   // the server can tell a window's owning process (XRes 1.2)
    std::string host_;       // this machine's name, for windows that declare theirs
};

}  // namespace platform::linux_impl
