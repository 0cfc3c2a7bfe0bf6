#pragma once
// Strict decimal parsing for kernel texts: digits only, no sign, no overflow.

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace platform::linux_impl {

inline std::optional<std::uint64_t> parseDecimal(std::string_view text)
{
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

}  // namespace platform::linux_impl
