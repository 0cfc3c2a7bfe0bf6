#pragma once
// sway's IPC: the i3 protocol over the Unix socket that SWAYSOCK names. One connection stays
// subscribed to window events, which keep the list of sway's windows current (get_tree is asked
// only when connecting), and carries the program's commands too.
//
// Nothing here waits for sway: the socket is connected without blocking, what sway sends is
// read as it comes (by a socket notifier where there is an event loop, else at the next call),
// a bounded amount at a time, and a sway that has not answered the subscription and the tree
// within a deadline is given up on and tried again later. A socket held by another user, or by
// a process our pid namespace cannot see, is not believed about pids (peer.h).

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/merge/mergewindows.h"
#include "platform/linux/proc/fd.h"
#include "platform/linux/wayland/peer.h"
#include "platform/linux/wayland/swayframe.h"
#include "platform/linux/wayland/swaytree.h"

class QSocketNotifier;

namespace platform::linux_impl {

class SwayIpc {
public:
    // An empty path: not on sway; every call then does nothing. Otherwise starts connecting.
    explicit SwayIpc(std::string socketPath);
    ~SwayIpc();
    SwayIpc(const SwayIpc&) = delete;
    SwayIpc& operator=(const SwayIpc&) = delete;

    bool onSway() const { return !path_.empty(); }

    // sway's windows, most recently focused first, after the events that have arrived; empty
    // until sway has answered. Never blocks. Connects again (at most every two seconds) after
    // sway went away or did not answer in time.
    const std::vector<CompositorWindow>& windows();
    const std::vector<SwayView>& views();

    // Sends sway commands; false when there is no connection to send them on (or sway takes no
    // more). sway's answer is not waited for.
    bool command(const std::string& text);

    // Floats the windows of process `pid` as they appear (and those already there once sway has
    // answered): sway tiles every new window. A rule (for_window) would outlive the program and
    // float whatever process gets the id next.
    void floatWindowsOf(std::uint32_t pid);

    // How much one wake-up reads at most: the notifier calls again while more is waiting.
    static constexpr std::size_t kReadPerWake = 256 * 1024;
    // How long sway has to answer the subscription and the tree.
    static constexpr std::chrono::milliseconds kAnswerTime{1000};
    static constexpr std::chrono::seconds kRetryAfter{2};
    // How long a new window of ours is left to sway's tiled layout before it floats.
    static constexpr std::chrono::milliseconds kSettleTime{150};

private:
    void start();
    void pump();
    void handle(const SwayMessage& message);
    void floatOurs(const SwayView& view);
    void floatAllOurs();
    void drop();

    std::string path_;
    UniqueFd events_;
    bool live_ = false;   // the tree has come: events now change the list
    std::chrono::steady_clock::time_point deadline_{}, retryAt_{};
    std::string inbox_;
    SwayViews views_;
    PeerTrust trust_;
    std::uint32_t floatPid_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform::linux_impl
