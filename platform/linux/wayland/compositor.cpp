#include "platform/linux/wayland/compositor.h"

#include <unistd.h>

#include <cstdlib>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include "platform/linux/merge/mergewindows.h"
#include "platform/linux/x11/x11.h"

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
    // centred, above every tiled window (sway has no "above" among floating ones). sway knows
    // our windows by our pid both through Xwayland (_NET_WM_PID, which Qt sets) and natively
    // (the socket's owner); each is floated by its own id as it appears, so that nothing of it
    // stays in sway once we have gone.
    if (sway_.onSway()) {
        sway_.floatWindowsOf(static_cast<std::uint32_t>(::getpid()));
        return;
    }
    plasma_ = std::make_unique<PlasmaWindows>();
    if (!plasma_->available())
        plasmaGone();
}

void Compositor::plasmaGone()
{
    plasma_.reset();
    // GNOME's list comes over the session bus, from an extension that may be enabled later:
    // watched on any Wayland session that KWin has not answered for. KWin answers after the
    // connection is made, so this is known only at a later tick.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!gnome_ && wayland != nullptr && *wayland != '\0' && QCoreApplication::instance() != nullptr)
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
    if (!plasma_->available()) {   // not KWin after all, or KWin has gone
        plasmaGone();
        return x11;
    }
    markX11Windows(plasmaWindows_, x11, [this](std::uint64_t id) { return writtenPid(id); });
    // Forget the windows that have gone (the X server may give their ids to new ones).
    if (writtenPids_.size() > x11.size()) {
        std::unordered_map<std::uint64_t, std::uint32_t> kept;
        for (const WindowInfo& window : x11) {
            if (const auto it = writtenPids_.find(window.id); it != writtenPids_.end())
                kept.insert(*it);
        }
        writtenPids_ = std::move(kept);
    }
    return mergeWindows(std::move(x11), plasmaWindows_);
}

std::uint32_t Compositor::writtenPid(std::uint64_t x11Id)
{
    if (const auto it = writtenPids_.find(x11Id); it != writtenPids_.end())
        return it->second;
    const auto x = listingX11();
    const std::uint32_t pid = x ? linux_impl::writtenPid(*x, static_cast<xcb_window_t>(x11Id)) : 0;
    writtenPids_.emplace(x11Id, pid);
    return pid;
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
