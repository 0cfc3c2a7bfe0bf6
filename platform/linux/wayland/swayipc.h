#pragma once
// sway's IPC: the i3 protocol over the Unix socket that SWAYSOCK names. One connection stays
// subscribed to window events, which keep the list of sway's windows current (get_tree is asked
// only when connecting); each command gets a short connection of its own.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QByteArray>

#include "platform/linux/proc/fd.h"
#include "platform/linux/merge/mergewindows.h"
#include "platform/linux/wayland/swaytree.h"

class QSocketNotifier;

namespace platform::linux_impl {

constexpr std::uint32_t kSwayRunCommand = 0, kSwaySubscribe = 2, kSwayGetTree = 4;
constexpr std::uint32_t kSwayWindowEvent = 0x80000003;

// One message: "i3-ipc", the payload's length and the message type (32 bits each, in the
// machine's order), the payload.
std::string swayFrame(std::uint32_t type, std::string_view payload);

struct SwayMessage {
    std::uint32_t type = 0;
    QByteArray payload;
};
// Takes the first whole message off the front of `buffer`; std::nullopt while it is incomplete.
// *bad is set when the bytes are no i3-ipc message at all (the connection is then useless).
std::optional<SwayMessage> takeSwayMessage(std::string& buffer, bool* bad);

class SwayIpc {
public:
    // An empty path: not on sway; every call then does nothing.
    explicit SwayIpc(std::string socketPath);
    ~SwayIpc();
    SwayIpc(const SwayIpc&) = delete;
    SwayIpc& operator=(const SwayIpc&) = delete;

    bool onSway() const { return !path_.empty(); }

    // sway's windows, most recently focused first, after the events that have arrived. Never
    // blocks, except for connecting (again, at most every two seconds after a failure), which
    // waits for sway's answers up to half a second.
    const std::vector<CompositorWindow>& windows();
    const std::vector<SwayView>& views();

    // Runs sway commands; true when sway accepted every one. Waits up to half a second.
    bool command(const std::string& text) const;

private:
    bool connectEvents();
    void readEvents();
    void drop();

    std::string path_;
    UniqueFd events_;
    std::string inbox_;
    SwayViews views_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::chrono::steady_clock::time_point retryAt_{};
};

}  // namespace platform::linux_impl
