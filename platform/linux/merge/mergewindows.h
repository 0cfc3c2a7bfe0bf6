#pragma once
// One window list from two sources: the X server's (every X11 window, through Xwayland on a
// Wayland session) and the compositor's (its native Wayland windows, and where it is known
// the place of every window, X11 ones included, in its own order).
//
// The X11 list speaks for X11 windows: its owner comes from the X server (XRes) and its titles
// are decoded from every encoding X11 programs use, where a compositor has only the pid the
// program wrote itself (_NET_WM_PID) and no COMPOUND_TEXT titles. The compositor speaks for
// its native windows, whose owner it knows from the socket, and for the order: it sees every
// window, the X server only its own.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace platform::linux_impl {

struct CompositorWindow {
    std::uint64_t id = 0;         // the compositor's id of the window
    bool x11 = false;             // an X11 program's, shown through Xwayland
    std::uint64_t x11Id = 0;      // that window's X id; 0 = the compositor does not say
    std::string title;            // well-formed UTF-8, at most kMaxTitleBytes; "" = none
    std::uint32_t pid = 0;        // 0 = not known for sure
    std::uint64_t identity = 0;   // the owner's start time; 0 = unknown
    bool foreignPid = false;      // `pid` is of another pid namespace (WindowInfo::foreignPid)
};

// The merged list, best first: the compositor's windows in its order (`compositor` is best
// first), each X11 one as the X11 list has it. An X11 window the compositor does not name
// follows the one before it in the X11 list (or, ahead of the first named one, precedes that);
// an X11 window the X11 list lacks is left out, and so is a native one without a pid. With no
// compositor windows the X11 list comes back as it was. Native windows count as visible: a
// compositor lists only mapped windows, and has no minimised state that would hide one.
std::vector<WindowInfo> mergeWindows(std::vector<WindowInfo> x11,
                                     const std::vector<CompositorWindow>& compositor);

// For a compositor that lists X11 windows among its own without saying which, and under the pid
// each X11 program wrote itself (KWin): tells them apart, and gives each the X id of its X11
// window, so that the X11 list speaks for it. By identity, never by title alone (KWin numbers
// windows of one title, "ミレボ <2>"):
// - an entry whose pid owns X11 windows not yet accounted for is the first of them (both lists
//   run topmost first, and the compositor stacks X11 windows as the X server does);
// - then each X11 window still unaccounted for (a visible one) takes an entry left native whose
//   pid is the one that window wrote (`writtenPid`, asked only then), where several have it the
//   one showing the window's title, numbered or not.
// The rest are native: a written pid never makes a row of its own. Linear in both lists.
void markX11Windows(std::vector<CompositorWindow>& compositor, const std::vector<WindowInfo>& x11,
                    const std::function<std::uint32_t(std::uint64_t)>& writtenPid);

// `caption` is `title`, or the title as a compositor numbers it among windows of one title:
// "title <2>" (KWin follows the number with a left-to-right mark).
bool sameCaption(std::string_view caption, std::string_view title);

}  // namespace platform::linux_impl
