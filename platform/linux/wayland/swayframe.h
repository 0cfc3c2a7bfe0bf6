#pragma once
// sway's IPC framing (the i3 protocol): "i3-ipc", the payload's length and the message type (32
// bits each, in the machine's order), the payload. Plain C++, so that it is fuzzed as it runs.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::linux_impl {

constexpr std::uint32_t kSwayRunCommand = 0, kSwaySubscribe = 2, kSwayGetTree = 4;
constexpr std::uint32_t kSwayWindowEvent = 0x80000003;
// A get_tree of a desktop with hundreds of windows is well under a megabyte; a message claiming
// more is no message of sway's.
constexpr std::uint32_t kSwayLargestMessage = 8u << 20;

std::string swayFrame(std::uint32_t type, std::string_view payload);

struct SwayMessage {
    std::uint32_t type = 0;
    std::string payload;
};

// Takes the first whole message off the front of `bytes` (the view moves past it, the bytes stay
// where they are, so that reading a buffer of many messages costs its length); std::nullopt while
// it is incomplete. *bad is set when the bytes are no i3-ipc message at all, or claim more than
// kSwayLargestMessage (the connection is then useless).
std::optional<SwayMessage> takeSwayMessage(std::string_view& bytes, bool* bad);

}  // namespace platform::linux_impl
