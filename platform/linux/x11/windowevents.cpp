// The window list's copy, as the server's events change it (see windows.h).

#include "platform/linux/x11/windows.h"

#include <algorithm>
#include <cstring>

#include "platform/linux/x11/xreplies.h"

namespace platform::linux_impl {
namespace {

void move(std::vector<xcb_window_t>& order, std::size_t from, std::size_t to)
{
    const xcb_window_t w = order[from];
    order.erase(order.begin() + static_cast<std::ptrdiff_t>(from));
    order.insert(order.begin() + static_cast<std::ptrdiff_t>(to), w);
}

}  // namespace

// ---- what the events say -----------------------------------------------------------------------

void WindowLister::handle(const xcb_generic_event_t* event)
{
    const xcb_window_t root = link_->root();
    // Events come in the order the server made them; one out of order means some went missing
    // between (or were numbered wrongly), and the copy cannot say what they changed.
    if (before(event->full_sequence, lastSequence_))
        needResync_ = true;
    lastSequence_ = event->full_sequence;
    switch (event->response_type & 0x7F) {
    case 0: {
        // BadWindow about a window of the copy: it went away between the news and the question.
        // Any other error means the copy may have missed something.
        const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event);
        if (error->error_code != XCB_WINDOW) {
            needResync_ = true;
        } else if (clients_.contains(error->resource_id)) {
            forget(error->resource_id);
        } else if (watched_.contains(error->resource_id)) {
            needResync_ = true;
        }
        return;
    }
    case XCB_PROPERTY_NOTIFY: {
        const auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (e->window == root) {
            if (e->atom == atoms_.supportingWmCheck)
                needResync_ = true;   // another window manager
            else if (mode_ == Mode::Bare && (e->atom == atoms_.clientList || e->atom == atoms_.clientListStacking))
                needResync_ = true;   // a window manager has come
            else if (mode_ == Mode::Lists && e->atom == listAtom_)
                listsChanged_ = true;
            return;
        }
        unsigned property = 0;
        if (e->atom == atoms_.netWmName)
            property = kNetName;
        else if (e->atom == XCB_ATOM_WM_NAME)
            property = kWmName;
        else if (e->atom == atoms_.wmState)
            property = kWmState;
        else if (e->atom == atoms_.netWmPid)
            property = kNetPid;
        else if (e->atom == XCB_ATOM_WM_CLIENT_MACHINE)
            property = kMachine;
        if (property == 0)
            return;
        if (clients_.contains(e->window))
            stale_[e->window] |= property;
        else if (mode_ == Mode::Bare && property == kWmState && watched_.contains(e->window))
            needResync_ = true;   // a window manager without lists took on a window
        return;
    }
    case XCB_CREATE_NOTIFY:
    case XCB_DESTROY_NOTIFY:
    case XCB_REPARENT_NOTIFY:
    case XCB_CONFIGURE_NOTIFY:
    case XCB_CIRCULATE_NOTIFY:
    case XCB_MAP_NOTIFY:
    case XCB_UNMAP_NOTIFY:
        rootStructure(event);
        return;
    default:
        return;
    }
}

// Structure events: the root's children in the server's order, clients that go or move into
// another frame, and (without a manager's lists) any change of which windows are clients.
void WindowLister::rootStructure(const xcb_generic_event_t* event)
{
    const xcb_window_t root = link_->root();
    const std::uint8_t type = event->response_type & 0x7F;
    // All these events start with the window they were reported on and the one they are about,
    // except CreateNotify, which names the parent first as well.
    xcb_window_t on = XCB_NONE, window = XCB_NONE;
    bool overrideRedirect = false;
    std::memcpy(&on, reinterpret_cast<const char*>(event) + 4, 4);
    std::memcpy(&window, reinterpret_cast<const char*>(event) + 8, 4);

    if (on != root) {
        if (on == window && clients_.contains(window)) {
            if (type == XCB_DESTROY_NOTIFY) {
                forget(window);
            } else if (type == XCB_REPARENT_NOTIFY) {
                moved_[window] = reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->parent;
            }
        } else if (on == checkWindow_ && type == XCB_DESTROY_NOTIFY) {
            needResync_ = true;   // the window manager has gone, leaving its lists behind
        }
        if (mode_ == Mode::Bare && watched_.contains(on) &&
            (type == XCB_MAP_NOTIFY || type == XCB_UNMAP_NOTIFY || type == XCB_REPARENT_NOTIFY ||
             type == XCB_DESTROY_NOTIFY))
            needResync_ = true;   // something changed inside a frame
        return;
    }

    // Changes the tree read at the last resync already holds are not applied twice.
    if (before(event->full_sequence, treeSequence_))
        return;
    const auto at = [this](xcb_window_t w) {
        return static_cast<std::size_t>(std::ranges::find(rootChildren_, w) - rootChildren_.begin());
    };
    const std::size_t n = rootChildren_.size();
    bool membership = false;   // with no lists to go by: may change which windows are clients
    switch (type) {
    case XCB_CREATE_NOTIFY:
        if (at(window) != n) {
            needResync_ = true;   // a window we already had: an event was lost
            return;
        }
        rootChildren_.push_back(window);
        rowsChanged_ = true;
        return;
    case XCB_DESTROY_NOTIFY:
    case XCB_REPARENT_NOTIFY: {
        const bool arrives = type == XCB_REPARENT_NOTIFY &&
                             reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->parent == root;
        const std::size_t i = at(window);
        if ((i == n) != arrives) {
            needResync_ = true;
            return;
        }
        if (arrives)
            rootChildren_.push_back(window);
        else
            rootChildren_.erase(rootChildren_.begin() + static_cast<std::ptrdiff_t>(i));
        if (type == XCB_REPARENT_NOTIFY)
            overrideRedirect =
                reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->override_redirect;
        membership = !overrideRedirect;
        rowsChanged_ = true;
        break;
    }
    case XCB_CONFIGURE_NOTIFY: {
        const xcb_window_t sibling =
            reinterpret_cast<const xcb_configure_notify_event_t*>(event)->above_sibling;
        const std::size_t i = at(window);
        const std::size_t s = sibling == XCB_NONE ? n : at(sibling);
        if (i == n || (sibling != XCB_NONE && s == n)) {
            needResync_ = true;
            return;
        }
        // Where it belongs: right above its sibling, or at the bottom.
        const std::size_t want = sibling == XCB_NONE ? 0 : (s < i ? s + 1 : s);
        if (want != i) {
            move(rootChildren_, i, want);
            rowsChanged_ = true;
        }
        return;
    }
    case XCB_CIRCULATE_NOTIFY: {
        const std::size_t i = at(window);
        if (i == n) {
            needResync_ = true;
            return;
        }
        const bool top =
            reinterpret_cast<const xcb_circulate_notify_event_t*>(event)->place == XCB_PLACE_ON_TOP;
        move(rootChildren_, i, top ? n - 1 : 0);
        rowsChanged_ = true;
        return;
    }
    case XCB_MAP_NOTIFY:
        membership = !reinterpret_cast<const xcb_map_notify_event_t*>(event)->override_redirect;
        break;
    case XCB_UNMAP_NOTIFY:
        membership = clients_.contains(window) || watched_.contains(window);
        break;
    default:
        return;
    }
    if (mode_ == Mode::Bare && membership)
        needResync_ = true;
}

void WindowLister::forget(xcb_window_t window)
{
    clients_.erase(window);
    stale_.erase(window);
    moved_.erase(window);
    rowsChanged_ = true;
}

}  // namespace platform::linux_impl
