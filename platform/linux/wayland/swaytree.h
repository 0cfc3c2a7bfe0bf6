#pragma once
// sway's windows as its IPC describes them (the JSON of get_tree and of window events), and the
// list of them kept current from those events. Pure: no sockets here (swayipc.h has them).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QByteArray>

#include "platform/linux/merge/mergewindows.h"

namespace platform::linux_impl {

struct SwayView {
    std::int64_t id = 0;            // sway's container id
    std::uint32_t pid = 0;          // native: from the socket; X11: what the program wrote
    std::string title;              // well-formed UTF-8, at most kMaxTitleBytes; "" = none
    bool xwayland = false;
    std::uint64_t window = 0;       // X11 window id (Xwayland views only)
    std::uint64_t identity = 0;     // the owner's start time, read when the view is first seen
                                    // (native views only: for X11 ones the X server speaks)
    bool floating = false;
};

// Every view of a get_tree reply, most recently focused first: the tree walked along each
// container's focus list (sway's own order of its children, most recent first), children
// missing from that list after the others. std::nullopt when the text is not a tree.
std::optional<std::vector<SwayView>> parseSwayTree(const QByteArray& json);

struct SwayWindowEvent {
    std::string change;             // "new", "close", "focus", "title", "move", ...
    SwayView view;
};
// A window event's payload; std::nullopt when it is not one about a view.
std::optional<SwayWindowEvent> parseSwayWindowEvent(const QByteArray& json);

// The views, most recently focused first, kept current from sway's window events, and the same
// as the window list's merge takes them.
class SwayViews {
public:
    // `startTime` gives a process's start time (0 = unknown); asked once per native view.
    explicit SwayViews(std::function<std::uint64_t(std::uint32_t)> startTime);

    // What the socket's peer is believed about pids (peer.h): where it is not our own user, no
    // view has a pid (so that no row is made of a native one); where our pid namespace cannot
    // see it, the rows say their pids are foreign. Applies to the views given from now on.
    void setPeer(bool believePids, bool foreignPids);

    void reset(std::vector<SwayView> views);
    void apply(const SwayWindowEvent& event);
    void clear();
    const std::vector<SwayView>& views() const { return views_; }
    // Rebuilt only after a change: ticks far outnumber sway's events.
    const std::vector<CompositorWindow>& windows();

private:
    std::vector<SwayView>::iterator find(std::int64_t id);
    void identify(SwayView& view, const SwayView* known);

    std::function<std::uint64_t(std::uint32_t)> startTime_;
    std::vector<SwayView> views_;
    std::vector<CompositorWindow> windows_;
    bool changed_ = true;
    bool believePids_ = true, foreignPids_ = false;
};

}  // namespace platform::linux_impl
