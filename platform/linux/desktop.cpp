#include "platform/linux/desktop.h"

#include <QCursor>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "platform/linux/x11.h"

namespace platform::linux_impl {
namespace {

// The X id the window has now. QWidget::winId() can still report an older one after the
// window was recreated (as toggling stay-on-top does); the QWindow always knows the current one.
xcb_window_t currentXid(QWidget* window)
{
    QWindow* handle = window != nullptr ? window->windowHandle() : nullptr;
    return handle != nullptr ? static_cast<xcb_window_t>(handle->winId()) : XCB_NONE;
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
    const xcb_window_t id = currentXid(window);
    if (!x || id == XCB_NONE)
        return;
    const auto atoms = internAtoms(x->connection, {"_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR"});
    constexpr std::uint32_t kRemove = 0, kAdd = 1;
    sendToWindowManager(*x, id, atoms[0], {hide ? kAdd : kRemove, atoms[1], 0, kFromApplication});
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
