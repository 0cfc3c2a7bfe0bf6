#include "platform/linux/wayland/swayframe.h"

#include <algorithm>
#include <cstring>

namespace platform::linux_impl {
namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kHeader = sizeof kMagic + 8;

}  // namespace

std::string swayFrame(std::uint32_t type, std::string_view payload)
{
    std::string frame(kMagic, sizeof kMagic);
    const auto length = static_cast<std::uint32_t>(payload.size());
    frame.append(reinterpret_cast<const char*>(&length), 4);
    frame.append(reinterpret_cast<const char*>(&type), 4);
    frame.append(payload);
    return frame;
}

std::optional<SwayMessage> takeSwayMessage(std::string_view& bytes, bool* bad)
{
    *bad = false;
    if (bytes.empty())
        return std::nullopt;
    // A wrong magic shows as soon as its bytes are there.
    if (std::memcmp(bytes.data(), kMagic, std::min(bytes.size(), sizeof kMagic)) != 0) {
        *bad = true;
        return std::nullopt;
    }
    if (bytes.size() < kHeader)
        return std::nullopt;
    std::uint32_t length = 0, type = 0;
    std::memcpy(&length, bytes.data() + sizeof kMagic, 4);
    std::memcpy(&type, bytes.data() + sizeof kMagic + 4, 4);
    if (length > kSwayLargestMessage) {
        *bad = true;
        return std::nullopt;
    }
    if (bytes.size() - kHeader < length)
        return std::nullopt;
    SwayMessage message{type, std::string(bytes.substr(kHeader, length))};
    bytes.remove_prefix(kHeader + length);
    return message;
}

}  // namespace platform::linux_impl
