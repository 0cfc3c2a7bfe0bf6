#include "platform/linux/desktop.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QThread>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "platform/linux/x11.h"

#include <algorithm>
#include <vector>

namespace platform::linux_impl {
namespace {

// The X id the window has now, made if it has none yet (so that its state can be set before it
// is mapped). QWidget::winId() can still report an older id after the window was recreated (as
// toggling stay-on-top does); the QWindow always knows the current one.
xcb_window_t currentXid(QWidget* window)
{
    if (window == nullptr)
        return XCB_NONE;
    window->winId();   // makes the native window if the widget has none yet
    QWindow* handle = window->windowHandle();
    return handle != nullptr ? static_cast<xcb_window_t>(handle->winId()) : XCB_NONE;
}

std::vector<xcb_atom_t> atomList(const X11& x, xcb_window_t window, xcb_atom_t property)
{
    XReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        x.connection, xcb_get_property(x.connection, 0, window, property, XCB_ATOM_ATOM, 0, 1024),
        nullptr));
    if (!reply || reply->type != XCB_ATOM_ATOM || reply->format != 32)
        return {};
    const auto* first = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    return {first, first + xcb_get_property_value_length(reply.get()) / 4};
}

constexpr std::uint32_t kFromApplication = 1, kFromPager = 2;

}  // namespace

QPoint cursorPos()
{
    return QCursor::pos();
}

void setForegroundWindow(QWidget* window)
{
    if (window == nullptr || window->isMinimized())
        return;
    window->raise();
    window->activateWindow();
    // Window managers may refuse focus requests from applications as focus stealing; a request
    // in the name of a pager is what they grant to taskbars and the like.
    const auto x = qtX11();
    const xcb_window_t id = currentXid(window);
    if (!x || id == XCB_NONE)
        return;
    const auto atoms = internAtoms(x->connection, {"_NET_ACTIVE_WINDOW"});
    sendToWindowManager(*x, id, atoms[0], {kFromPager, XCB_CURRENT_TIME, XCB_NONE});
}

void hideTaskbarButton(QWidget* window, bool hide)
{
    const auto x = qtX11();
    if (!x)
        return;
    const xcb_window_t id = currentXid(window);
    if (id == XCB_NONE)
        return;
    const auto atoms = internAtoms(x->connection, {"_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR"});
    if (window->windowHandle()->isVisible()) {
        // A mapped window's state belongs to the window manager: ask it.
        constexpr std::uint32_t kRemove = 0, kAdd = 1;
        sendToWindowManager(*x, id, atoms[0],
                            {hide ? kAdd : kRemove, atoms[1], 0, kFromApplication});
        return;
    }
    // Before the window is mapped its state is ours to write, and the manager takes it as the
    // window appears; Qt keeps the states it does not set itself when it maps the window. But
    // after a change of its window flags Qt makes a new X window as it shows it, which would
    // start without that state: make the new window now, so that the state goes on it.
    if (QWindow* handle = window->windowHandle(); handle != nullptr && handle->handle() != nullptr) {
        handle->destroy();
        window->winId();
    }
    const xcb_window_t fresh = currentXid(window);
    if (fresh == XCB_NONE)
        return;
    std::vector<xcb_atom_t> states = atomList(*x, fresh, atoms[0]);
    const bool has = std::ranges::find(states, atoms[1]) != states.end();
    if (has == hide)
        return;
    if (hide)
        states.push_back(atoms[1]);
    else
        std::erase(states, atoms[1]);
    xcb_change_property(x->connection, XCB_PROP_MODE_REPLACE, fresh, atoms[0], XCB_ATOM_ATOM,
                        32, static_cast<std::uint32_t>(states.size()), states.data());
    xcb_flush(x->connection);
}

QMargins frameMargins(QWidget* window)
{
    const auto x = qtX11();
    if (!x)
        return {};
    const auto atoms = internAtoms(
        x->connection, {"_NET_SUPPORTED", "_NET_REQUEST_FRAME_EXTENTS", "_NET_FRAME_EXTENTS"});
    // Only a manager that says it answers is asked: the answer is waited for.
    const std::vector<xcb_atom_t> supported = atomList(*x, x->root, atoms[0]);
    if (atoms[1] == XCB_NONE || std::ranges::find(supported, atoms[1]) == supported.end())
        return {};
    const xcb_window_t id = currentXid(window);
    if (id == XCB_NONE)
        return {};
    sendToWindowManager(*x, id, atoms[1], {});
    // The manager answers with a property on our window; a busy one is not waited for long,
    // and the window is then placed as if it had no frame.
    QElapsedTimer waited;
    waited.start();
    do {
        XReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            x->connection,
            xcb_get_property(x->connection, 0, id, atoms[2], XCB_ATOM_CARDINAL, 0, 4), nullptr));
        if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) == 16) {
            const auto* e = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
            const auto side = [](std::uint32_t v) { return static_cast<int>(std::min(v, 1000u)); };
            return QMargins(side(e[0]), side(e[2]), side(e[1]), side(e[3]));
        }
        QThread::msleep(2);
    } while (waited.elapsed() < 150);
    return {};
}

bool startTimer(QTimer& timer, int milliseconds)
{
    timer.start(milliseconds);
    // A timer the event loop refused still reads as active; only its id tells.
    if (timer.timerId() > 0)
        return true;
    timer.stop();
    return false;
}

void errorBox(QWidget* parent, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace platform::linux_impl
