#pragma once
// What the program asks of a Wayland compositor, whichever way its own windows reach it
// (through Xwayland or natively): the other programs' windows for the list, a floating place
// for its own window, and bringing that window forward. sway tells its windows, pids included,
// over its IPC socket; KWin over its org_kde_plasma_window_management protocol, to programs it
// trusts (plasmawindows.h); GNOME through the program's own GNOME Shell extension, to the
// installed program (gnomewindows.h). wlroots' foreign-toplevel list has no pids, and a row
// needs one. Where no compositor answers, the X11 list is the whole list, as on an X11 desktop.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Platform.h"
#include "platform/linux/wayland/gnomewindows.h"
#include "platform/linux/wayland/plasmawindows.h"
#include "platform/linux/wayland/swayipc.h"

class QWidget;

namespace platform::linux_impl {

class Compositor {
public:
    // The compositor of this session (SWAYSOCK names sway's socket).
    Compositor();
    explicit Compositor(std::string swaySocket);

    // The X11 list (topmost first) merged with the compositor's windows (mergewindows.h).
    std::vector<WindowInfo> windows(std::vector<WindowInfo> x11);

    // Gives the window the focus where asking X11 is not enough (sway only marks an X11
    // window that asks as urgent). Does nothing to a minimised window.
    void raise(QWidget* window);

private:
    // KWin has no list for us: GNOME's is tried instead.
    void plasmaGone();
    std::uint32_t writtenPid(std::uint64_t x11Id);

    SwayIpc sway_;
    std::unique_ptr<PlasmaWindows> plasma_;   // tried where sway is not
    std::vector<CompositorWindow> plasmaWindows_;
    // The pids X11 windows wrote themselves, asked once per window (only of windows whose
    // owner the compositor does not report as theirs).
    std::unordered_map<std::uint64_t, std::uint32_t> writtenPids_;
    std::unique_ptr<GnomeWindows> gnome_;     // tried where neither is
};

}  // namespace platform::linux_impl
