#pragma once
// Access to the X connection Qt already has open, and small helpers around xcb replies.

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

typedef struct _XDisplay Display;

namespace platform::linux_impl {

struct X11 {
    xcb_connection_t* connection = nullptr;
    Display* display = nullptr;   // Xlib's view of the same connection; may be null
    const char* displayName = nullptr;   // the display it was opened on; null: $DISPLAY
    xcb_window_t root = XCB_NONE;
    int screen = 0;
    // The window-manager hints' atoms and requests (xcb-ewmh), for this connection.
    xcb_ewmh_connection_t* ewmh = nullptr;
};

// Qt's X connection, or std::nullopt when the program does not run on X (e.g. offscreen) or the
// server cannot name the window-manager hints' atoms.
std::optional<X11> qtX11();

// A connection of our own to the server Qt's connection goes to (check it with
// xcb_connection_has_error, and disconnect it), for questions whose answers are events.
xcb_connection_t* connectAgain(const X11& x);

// The connection the window list reads through: Qt's, or, where Qt runs as a native Wayland
// client while the session also has an X display (QT_QPA_PLATFORM=wayland), one of our own,
// opened at the first call (again at most every ten seconds after a failure). The program's
// own windows are Qt's business and never go through ours.
std::optional<X11> listingX11();

// The pid a window's program wrote itself (_NET_WM_PID); 0 when it wrote none or is gone.
std::uint32_t writtenPid(const X11& x, xcb_window_t window);

// xcb hands out replies and errors allocated with malloc.
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using XReply = std::unique_ptr<T, FreeDeleter>;

// The atoms for `names`, interned in one batch; XCB_NONE for any the server refused.
std::vector<xcb_atom_t> internAtoms(xcb_connection_t* connection,
                                    std::initializer_list<const char*> names);

}  // namespace platform::linux_impl
