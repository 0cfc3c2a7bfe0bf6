#include "platform/linux/proc/meminfo.h"

#include <algorithm>
#include <limits>

#include "platform/linux/proc/procfs.h"
#include "platform/linux/proc/textnum.h"

namespace platform::linux_impl {
namespace {

constexpr std::uint64_t kMaxKiB = std::numeric_limits<std::uint64_t>::max() / 1024;

std::string_view skipSpaces(std::string_view text)
{
    text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
    return text;
}

// The value of a "Key:   1234 kB" line, in KiB. A line cut short before its unit is not trusted.
std::optional<std::uint64_t> parseKiBLine(std::string_view line)
{
    const std::string_view rest = skipSpaces(line.substr(line.find(':') + 1));
    const std::size_t space = std::min(rest.find(' '), rest.size());
    const auto value = parseDecimal(rest.substr(0, space));
    if (!value || *value > kMaxKiB || skipSpaces(rest.substr(space)) != "kB")
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<MemoryStatus> parseMeminfo(std::string_view text)
{
    std::optional<std::uint64_t> total, available;
    bool garbled = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        std::optional<std::uint64_t>* slot = nullptr;
        if (line.starts_with("MemTotal:"))
            slot = &total;
        else if (line.starts_with("MemAvailable:"))
            slot = &available;
        if (slot == nullptr || slot->has_value())
            continue;
        *slot = parseKiBLine(line);
        garbled = garbled || !slot->has_value();
    }
    if (garbled || !total || !available || *total == 0 || *available > *total)
        return std::nullopt;

    // Both are below 2^54 KiB, so the product cannot overflow.
    const std::uint64_t usedKiB = *total - *available;
    MemoryStatus status;
    status.memoryLoad = static_cast<std::uint32_t>(usedKiB * 100 / *total);
    status.totalPhys = *total * 1024;
    return status;
}

std::optional<MemoryStatus> readMemoryStatus()
{
    const auto text = readProcFile("/proc/meminfo");
    if (!text)
        return std::nullopt;
    return parseMeminfo(*text);
}

}  // namespace platform::linux_impl
