#pragma once
// Physical memory figures from /proc/meminfo.

#include <optional>
#include <string_view>

#include "platform/types.h"

namespace platform::linux_impl {

// MemTotal and MemAvailable of a /proc/meminfo text. std::nullopt when either is missing or
// garbled, when the total is 0, or when more is available than there is.
std::optional<MemoryStatus> parseMeminfo(std::string_view text);

std::optional<MemoryStatus> readMemoryStatus();

}  // namespace platform::linux_impl
