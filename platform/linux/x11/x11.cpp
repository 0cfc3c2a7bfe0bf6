#include "platform/linux/x11/x11.h"

#include <QGuiApplication>

#include <cstring>

#include <X11/Xlib.h>   // after Qt: its macros (None, Bool, ...) would break Qt's headers

namespace platform::linux_impl {
namespace {

// Interned once for Qt's connection, the one the program has for its whole run.
xcb_ewmh_connection_t* ewmhFor(xcb_connection_t* connection)
{
    static xcb_connection_t* preparedFor = nullptr;
    static xcb_ewmh_connection_t ewmh{};
    if (preparedFor != connection) {
        if (preparedFor != nullptr)
            xcb_ewmh_connection_wipe(&ewmh);
        preparedFor = nullptr;
        xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection, &ewmh);
        if (cookies == nullptr || xcb_ewmh_init_atoms_replies(&ewmh, cookies, nullptr) == 0)
            return nullptr;
        preparedFor = connection;
    }
    return &ewmh;
}

}  // namespace

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
    if (x.display != nullptr)
        x.displayName = XDisplayString(x.display);
    if (xcb_connection_has_error(x.connection))
        return std::nullopt;
    const int screen = x.display != nullptr ? DefaultScreen(x.display) : 0;
    auto it = xcb_setup_roots_iterator(xcb_get_setup(x.connection));
    for (int i = 0; i < screen && it.rem > 1; ++i)
        xcb_screen_next(&it);
    if (it.rem == 0)
        return std::nullopt;
    x.root = it.data->root;
    x.screen = screen;
    x.ewmh = ewmhFor(x.connection);
    if (x.ewmh == nullptr)
        return std::nullopt;
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

}  // namespace platform::linux_impl
