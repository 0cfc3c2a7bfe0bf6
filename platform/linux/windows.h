#pragma once
// The list of top-level windows, read from the X server in one pipelined batch.

#include <xcb/res.h>
#include <xcb/xcb.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/linux/x11.h"

namespace platform::linux_impl {

class WindowLister {
public:
    // Topmost first. Empty when not on X. With a window manager: its client list in stacking
    // order; without one (or when it has gone), the root's mapped children that are not
    // override-redirect.
    std::vector<WindowInfo> list();

private:
    struct Atoms {
        xcb_atom_t clientListStacking, supportingWmCheck, netWmName, utf8String, compoundText,
            wmState, netWmPid;
    };

    // The cookies of everything asked about one window.
    struct Pending {
        xcb_window_t id = XCB_NONE;
        xcb_get_window_attributes_cookie_t attributes{};
        xcb_get_property_cookie_t netName{}, wmName{}, wmState{}, netPid{}, machine{};
        xcb_res_query_client_ids_cookie_t owner{};
    };

    bool prepare(const X11& x);
    struct ClientList {
        std::vector<xcb_window_t> ids;            // topmost first
        std::optional<xcb_window_t> checkWindow;  // the manager's _NET_SUPPORTING_WM_CHECK
    };

    std::optional<ClientList> clientList(const X11& x) const;
    std::vector<xcb_window_t> rootChildren(const X11& x) const;
    Pending ask(xcb_connection_t* c, xcb_window_t window, bool managed) const;
    void discard(xcb_connection_t* c, const Pending& p, bool managed) const;
    std::optional<WindowInfo> answer(const X11& x, const Pending& p, bool managed,
                                     const std::string& host) const;
    std::string titleOf(const X11& x, const xcb_get_property_reply_t* netName,
                        const xcb_get_property_reply_t* wmName) const;

    xcb_connection_t* preparedFor_ = nullptr;
    Atoms atoms_{};
    bool haveRes_ = false;   // the server can tell a window's owning process (XRes 1.2)
};

}  // namespace platform::linux_impl
