#include "platform/linux/wayland/compositor.h"

#include <unistd.h>

#include <cstdlib>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include "platform/linux/merge/mergewindows.h"

namespace platform::linux_impl {
namespace {

std::string swaySocketOfSession()
{
    const char* path = std::getenv("SWAYSOCK");
    return path != nullptr ? path : "";
}

}  // namespace

Compositor::Compositor() : Compositor(swaySocketOfSession()) {}

Compositor::Compositor(std::string swaySocket) : sway_(std::move(swaySocket))
{
    // sway tiles every new window: ours would be stretched over a share of the screen, its
    // layout stuck in a corner, and lie flat among the others. Floating, it keeps its own size,
    // centred, above every tiled window (sway has no "above" among floating ones). Said before
    // any window of ours is mapped, so that none is ever tiled; the rule names our process,
    // whose windows sway knows by it both through Xwayland (_NET_WM_PID, which Qt sets) and
    // natively (the socket's owner).
    if (sway_.onSway()) {
        sway_.command("for_window [pid=" + std::to_string(::getpid()) + "] floating enable");
        return;
    }
    plasma_ = std::make_unique<PlasmaWindows>();
    if (!plasma_->available())
        plasma_.reset();
    // GNOME's list comes over the session bus, from an extension that may be enabled later:
    // watched on any Wayland session that KWin has not answered for.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!plasma_ && wayland != nullptr && *wayland != '\0' && QCoreApplication::instance() != nullptr)
        gnome_ = std::make_unique<GnomeWindows>();
}

std::vector<WindowInfo> Compositor::windows(std::vector<WindowInfo> x11)
{
    if (sway_.onSway())
        return mergeWindows(std::move(x11), sway_.windows());
    if (gnome_)
        return mergeWindows(std::move(x11), gnome_->windows());
    if (!plasma_)
        return x11;
    plasmaWindows_ = plasma_->windows();
    markX11Windows(plasmaWindows_, x11);
    return mergeWindows(std::move(x11), plasmaWindows_);
}

void Compositor::raise(QWidget* window)
{
    if (!sway_.onSway() || window == nullptr || window->isMinimized())
        return;
    const QWindow* handle = window->windowHandle();
    if (handle == nullptr)
        return;
    std::string criteria;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // Through Xwayland sway knows the window by its X id.
        criteria = "[id=" + std::to_string(handle->winId()) + "]";
    } else {
        // Natively it knows only sway's own id: find ours among its windows, by owner and title.
        const auto pid = static_cast<std::uint32_t>(::getpid());
        const std::string title = window->windowTitle().toStdString();
        for (const SwayView& view : sway_.views()) {
            if (!view.xwayland && view.pid == pid && view.title == title) {
                criteria = "[con_id=" + std::to_string(view.id) + "]";
                break;
            }
        }
    }
    if (!criteria.empty())
        sway_.command(criteria + " focus");
}

}  // namespace platform::linux_impl
