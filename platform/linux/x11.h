#pragma once
// Access to the X connection Qt already has open, and small helpers around xcb replies.

#include <xcb/xcb.h>

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
    xcb_window_t root = XCB_NONE;
};

// Qt's X connection, or std::nullopt when the program does not run on X (e.g. offscreen).
std::optional<X11> qtX11();

// xcb hands out replies and errors allocated with malloc.
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using XReply = std::unique_ptr<T, FreeDeleter>;

// The atoms for `names`, interned in one batch; XCB_NONE for any the server refused.
std::vector<xcb_atom_t> internAtoms(xcb_connection_t* connection,
                                    std::initializer_list<const char*> names);

// Sends a window-manager request (a 32-bit client message about `window`) to the root window.
void sendToWindowManager(const X11& x, xcb_window_t window, xcb_atom_t type,
                         std::initializer_list<std::uint32_t> data);

}  // namespace platform::linux_impl
