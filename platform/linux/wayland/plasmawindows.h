#pragma once
// KDE Plasma's windows, from KWin's org_kde_plasma_window_management protocol: every window's
// title, process id and the stacking order, kept current from the protocol's events over a
// Wayland connection of our own (the program's windows may well be X11 ones).
//
// KWin offers the protocol only to a program whose /proc/PID/exe is the absolute Exec= path of
// an installed desktop entry naming it in X-KDE-Wayland-Interfaces (packaging/mirebo.desktop,
// installed with the path filled in): a program run from its build tree is not granted it.
// Built only where the protocol's description and wayland-scanner were found at configure time.

#include <memory>
#include <vector>

#include "platform/linux/merge/mergewindows.h"

namespace platform::linux_impl {

class PlasmaWindows {
public:
    // Connects to the session's compositor (WAYLAND_DISPLAY), without waiting for its answers;
    // nothing is offered outside KWin, or to a program KWin does not trust, and the connection
    // is then dropped once the compositor has told its globals (or not in two seconds).
    PlasmaWindows();
    ~PlasmaWindows();
    PlasmaWindows(const PlasmaWindows&) = delete;
    PlasmaWindows& operator=(const PlasmaWindows&) = delete;

    // Connected, and not yet told that there is nothing to list.
    bool available() const;

    // KWin's windows, topmost first, after the events that have arrived (never blocks). KWin
    // does not say which of them are X11 ones: all of them come as native here, and the caller
    // tells them apart by the X11 list (Compositor).
    const std::vector<CompositorWindow>& windows();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform::linux_impl
