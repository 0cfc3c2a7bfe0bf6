#include "platform/linux/x11.h"

#include <QGuiApplication>

#include <cstring>

#include <X11/Xlib.h>   // after Qt: its macros (None, Bool, ...) would break Qt's headers

namespace platform::linux_impl {

std::optional<X11> qtX11()
{
    if (qGuiApp == nullptr)
        return std::nullopt;
    auto* native = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (native == nullptr || native->connection() == nullptr)
        return std::nullopt;

    X11 x;
    x.connection = native->connection();
    x.display = native->display();
    if (xcb_connection_has_error(x.connection))
        return std::nullopt;
    const int screen = x.display != nullptr ? DefaultScreen(x.display) : 0;
    auto it = xcb_setup_roots_iterator(xcb_get_setup(x.connection));
    for (int i = 0; i < screen && it.rem > 1; ++i)
        xcb_screen_next(&it);
    if (it.rem == 0)
        return std::nullopt;
    x.root = it.data->root;
    return x;
}

std::vector<xcb_atom_t> internAtoms(xcb_connection_t* connection,
                                    std::initializer_list<const char*> names)
{
    std::vector<xcb_intern_atom_cookie_t> cookies;
    cookies.reserve(names.size());
    for (const char* name : names) {
        const auto length = static_cast<std::uint16_t>(std::strlen(name));
        cookies.push_back(xcb_intern_atom(connection, 0, length, name));
    }
    std::vector<xcb_atom_t> atoms;
    atoms.reserve(names.size());
    for (const auto cookie : cookies) {
        xcb_generic_error_t* error = nullptr;
        XReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, &error));
        std::free(error);
        atoms.push_back(reply ? reply->atom : XCB_NONE);
    }
    return atoms;
}

void sendToWindowManager(const X11& x, xcb_window_t window, xcb_atom_t type,
                         std::initializer_list<std::uint32_t> data)
{
    if (window == XCB_NONE || type == XCB_NONE)
        return;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    std::size_t i = 0;
    for (const std::uint32_t value : data) {
        if (i < 5)
            event.data.data32[i++] = value;
    }
    xcb_send_event(x.connection, 0, x.root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(x.connection);
}

}  // namespace platform::linux_impl
