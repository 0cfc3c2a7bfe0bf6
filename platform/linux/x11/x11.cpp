#include "platform/linux/x11/x11.h"

#include <QGuiApplication>

#include <cstring>

#include <chrono>

#include <X11/Xlib.h>   // after Qt: its macros (None, Bool, ...) would break Qt's headers
#include <X11/Xlib-xcb.h>

namespace platform::linux_impl {
namespace {

// Interned once for the connection the program has for its whole run (Qt's, or the list's own).
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

// The X11 description of a connection (and of Xlib's view of it, which decodes COMPOUND_TEXT).
std::optional<X11> describe(xcb_connection_t* connection, Display* display)
{
    X11 x;
    x.connection = connection;
    x.display = display;
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

// Our own connection to the session's X display, for the list only: nothing selects events on
// it, and what the server sends unasked (errors of requests whose answers were discarded) is
// thrown away at each use.
class OwnDisplay {
public:
    ~OwnDisplay()
    {
        if (display_ != nullptr)
            XCloseDisplay(display_);
    }

    Display* get()
    {
        if (display_ != nullptr && xcb_connection_has_error(XGetXCBConnection(display_))) {
            XCloseDisplay(display_);
            display_ = nullptr;
        }
        const auto now = std::chrono::steady_clock::now();
        if (display_ == nullptr && now >= retryAt_) {
            retryAt_ = now + std::chrono::seconds(10);
            display_ = XOpenDisplay(nullptr);
            if (display_ != nullptr)
                XSetEventQueueOwner(display_, XCBOwnsEventQueue);
        }
        if (display_ == nullptr)
            return nullptr;
        xcb_connection_t* const c = XGetXCBConnection(display_);
        while (xcb_generic_event_t* event = xcb_poll_for_event(c))
            std::free(event);
        return display_;
    }

private:
    Display* display_ = nullptr;
    std::chrono::steady_clock::time_point retryAt_{};
};

}  // namespace

std::optional<X11> qtX11()
{
    if (qGuiApp == nullptr)
        return std::nullopt;
    auto* native = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (native == nullptr || native->connection() == nullptr)
        return std::nullopt;
    return describe(native->connection(), native->display());
}

std::optional<X11> listingX11()
{
    if (auto x = qtX11())
        return x;
    if (qGuiApp == nullptr || !QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return std::nullopt;
    static OwnDisplay own;
    Display* const display = own.get();
    if (display == nullptr)
        return std::nullopt;
    return describe(XGetXCBConnection(display), display);
}

std::uint32_t writtenPid(const X11& x, xcb_window_t window)
{
    std::uint32_t pid = 0;
    if (xcb_ewmh_get_wm_pid_reply(x.ewmh, xcb_ewmh_get_wm_pid(x.ewmh, window), &pid, nullptr) == 0)
        return 0;
    return pid;
}

xcb_connection_t* connectAgain(const X11& x)
{
    return xcb_connect(x.display != nullptr ? DisplayString(x.display) : nullptr, nullptr);
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
