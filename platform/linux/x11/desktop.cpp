#include "platform/linux/x11/desktop.h"

#include <poll.h>

#include <QCoreApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QInputEvent>
#include <QThread>
#include <QMessageBox>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "platform/linux/x11/x11.h"

#include <algorithm>
#include <cmath>
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

// An atom-list property (a window's _NET_WM_STATE, the root's _NET_SUPPORTED), through xcb-ewmh.
std::vector<xcb_atom_t> atomList(const X11& x, xcb_get_property_cookie_t cookie)
{
    xcb_ewmh_get_atoms_reply_t atoms{};
    if (xcb_ewmh_get_atoms_reply(x.ewmh, cookie, &atoms, nullptr) == 0)
        return {};
    std::vector<xcb_atom_t> list(atoms.atoms, atoms.atoms + atoms.atoms_len);
    xcb_ewmh_get_atoms_reply_wipe(&atoms);
    return list;
}

// The X time of the user's last key or button in this program, and how long ago it came. Qt
// gives input events from the X server the server's timestamp.
class InputClock final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
            if (event->spontaneous()) {
                if (const auto time = static_cast<QInputEvent*>(event)->timestamp(); time != 0) {
                    last = static_cast<xcb_timestamp_t>(time);
                    since.start();
                }
            }
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

    xcb_timestamp_t last = XCB_CURRENT_TIME;
    QElapsedTimer since;
};

QPointer<InputClock> inputClock;   // goes with the application object

// The server's time now, the way a client asks for it: a change to a property of a window of
// its own, and the time the server stamps on the notice of that change. On a connection of its
// own, since Qt reads every event of the program's connection; 0 when the server does not
// answer within the deadline.
xcb_timestamp_t serverTime(const X11& x)
{
    xcb_connection_t* c = connectAgain(x);
    const auto disconnect = qScopeGuard([c] { xcb_disconnect(c); });
    if (xcb_connection_has_error(c))
        return XCB_CURRENT_TIME;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t probe = xcb_generate_id(c);
    const std::uint32_t mask[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(c, 0, probe, screen->root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, mask);
    xcb_change_property(c, XCB_PROP_MODE_APPEND, probe, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0,
                        nullptr);
    xcb_flush(c);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        while (XReply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
            if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY)
                return reinterpret_cast<const xcb_property_notify_event_t*>(event.get())->time;
        }
        const auto left = 200 - waited.elapsed();
        pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
        if (left <= 0 || xcb_connection_has_error(c) || ::poll(&p, 1, static_cast<int>(left)) < 0)
            return XCB_CURRENT_TIME;
    }
}

// The time of the user's action behind a request made now: the last key or button, when it
// has only just come; otherwise (a click that reached us over D-Bus, say) the server's time.
xcb_timestamp_t userTime(const X11& x)
{
    if (inputClock != nullptr && inputClock->last != XCB_CURRENT_TIME &&
        inputClock->since.elapsed() < 1000)
        return inputClock->last;
    return serverTime(x);
}

}  // namespace

void watchUserInput()
{
    if (inputClock != nullptr || QCoreApplication::instance() == nullptr)
        return;
    inputClock = new InputClock;
    inputClock->setParent(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(inputClock);
}

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
    // in the name of a pager is what they grant to taskbars and the like, as this one answers
    // a click on the tray icon. Its time is that click's: a manager judges focus stealing by it
    // and takes 0 for a faulty client's.
    const auto x = qtX11();
    const xcb_window_t id = currentXid(window);
    if (!x || id == XCB_NONE)
        return;
    const xcb_timestamp_t time = userTime(*x);
    if (time == XCB_CURRENT_TIME)
        return;   // Qt's own request above stands alone
    xcb_ewmh_request_change_active_window(x->ewmh, x->screen, id, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                          time, XCB_NONE);
    xcb_flush(x->connection);
}

void hideTaskbarButton(QWidget* window, bool hide)
{
    const auto x = qtX11();
    const xcb_window_t shown = x ? currentXid(window) : XCB_NONE;
    if (shown == XCB_NONE)
        return;
    const xcb_atom_t skip = x->ewmh->_NET_WM_STATE_SKIP_TASKBAR;
    if (window->windowHandle()->isVisible()) {
        // A mapped window's state belongs to the window manager: ask it.
        xcb_ewmh_request_change_wm_state(
            x->ewmh, x->screen, shown,
            hide ? XCB_EWMH_WM_STATE_ADD : XCB_EWMH_WM_STATE_REMOVE, skip, XCB_NONE,
            XCB_EWMH_CLIENT_SOURCE_TYPE_NORMAL);
        xcb_flush(x->connection);
        return;
    }
    // Before the window is mapped its state is ours to write, and the manager takes it as the
    // window appears; Qt keeps the states it does not set itself when it maps the window. But
    // after a change of its window flags Qt makes a new X window as it shows it, which would
    // start without that state: make the new window now, so that the state goes on it.
    if (QWindow* handle = window->windowHandle(); handle != nullptr && handle->handle() != nullptr)
        handle->destroy();
    const xcb_window_t id = currentXid(window);
    if (id == XCB_NONE)
        return;
    std::vector<xcb_atom_t> states = atomList(*x, xcb_ewmh_get_wm_state(x->ewmh, id));
    if ((std::ranges::find(states, skip) != states.end()) == hide)
        return;
    if (hide)
        states.push_back(skip);
    else
        std::erase(states, skip);
    xcb_ewmh_set_wm_state(x->ewmh, id, static_cast<std::uint32_t>(states.size()), states.data());
    xcb_flush(x->connection);
}

QMargins frameMargins(QWidget* window)
{
    const auto x = qtX11();
    if (!x)
        return {};
    // Only a manager that says it answers is asked: the answer is waited for.
    const xcb_atom_t request = x->ewmh->_NET_REQUEST_FRAME_EXTENTS;
    const std::vector<xcb_atom_t> supported =
        atomList(*x, xcb_ewmh_get_supported(x->ewmh, x->screen));
    if (std::ranges::find(supported, request) == supported.end())
        return {};
    const xcb_window_t id = currentXid(window);
    if (id == XCB_NONE)
        return {};
    xcb_ewmh_request_frame_extents(x->ewmh, x->screen, id);
    xcb_flush(x->connection);
    // The manager answers with a property on our window; a busy one is not waited for long,
    // and the window is then placed as if it had no frame.
    QElapsedTimer waited;
    waited.start();
    do {
        xcb_ewmh_get_extents_reply_t e{};
        if (xcb_ewmh_get_frame_extents_reply(x->ewmh, xcb_ewmh_get_frame_extents(x->ewmh, id), &e,
                                             nullptr) != 0) {
            // The manager counts the screen's pixels; the window's geometry is in Qt's, which
            // are larger where Qt scales the window.
            const qreal ratio = std::max(window->devicePixelRatioF(), qreal(1) / 64);
            const auto side = [ratio](std::uint32_t v) {
                return static_cast<int>(std::lround(std::min(v, 1000u) / ratio));
            };
            return QMargins(side(e.left), side(e.top), side(e.right), side(e.bottom));
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
