#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/x11/x11.h"

// Requests to the window manager, as a second client watching the root sees them; skipped
// without an X display.

using namespace platform;

// A click that reached the program without an X event (a tray host's D-Bus call) has no X time
// of its own: the request then carries the server's time, never 0, which a manager takes for a
// faulty client's.
TEST(DesktopOnX, ABringForwardRequestWithoutAnXEventCarriesTheServersTime)
{
    const auto x = linux_impl::qtX11();
    if (!x)
        GTEST_SKIP() << "needs an X display";
    xcb_connection_t* watcher = linux_impl::connectAgain(*x);
    const xcb_atom_t active = linux_impl::internAtoms(watcher, {"_NET_ACTIVE_WINDOW"})[0];
    const std::uint32_t mask[] = {XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                                  XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_change_window_attributes(watcher, x->root, XCB_CW_EVENT_MASK, mask);
    std::free(xcb_get_input_focus_reply(watcher, xcb_get_input_focus(watcher), nullptr));

    QWidget window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    LinuxPlatform platform;
    platform.setForegroundWindow(&window);
    // The server's time just after the request: that of a change we make to a root property.
    xcb_change_property(watcher, XCB_PROP_MODE_APPEND, x->root, XCB_ATOM_CUT_BUFFER7,
                        XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(watcher);

    std::optional<std::uint32_t> sent, now;
    QElapsedTimer clock;
    clock.start();
    while (!(sent && now) && clock.elapsed() < 3000) {
        linux_impl::XReply<xcb_generic_event_t> event(xcb_poll_for_event(watcher));
        const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
        if (!event)
            QTest::qWait(5);
        else if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->type == active &&
                 message->data.data32[0] == XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER)
            sent = message->data.data32[1];
        else if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY)
            now = reinterpret_cast<const xcb_property_notify_event_t*>(event.get())->time;
    }
    xcb_disconnect(watcher);
    ASSERT_TRUE(sent && now) << "no request in the name of a pager";
    EXPECT_NE(*sent, 0u);
    EXPECT_LE(*now - *sent, 2000u) << "sent " << *sent << ", server time after it " << *now;
}
