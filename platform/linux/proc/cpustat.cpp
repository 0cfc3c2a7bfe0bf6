#include "platform/linux/proc/cpustat.h"

#include <algorithm>

#include "platform/linux/proc/procfs.h"
#include "platform/linux/proc/textnum.h"

namespace platform::linux_impl {

std::optional<CpuTimes> parseCpuLine(std::string_view text)
{
    std::string_view line = text.substr(0, text.find('\n'));
    if (!line.starts_with("cpu "))
        return std::nullopt;
    line.remove_prefix(3);

    CpuTimes times;
    std::size_t count = 0;
    while (!line.empty()) {
        const std::size_t start = line.find_first_not_of(' ');
        if (start == std::string_view::npos)
            break;
        line.remove_prefix(start);
        const std::size_t end = std::min(line.find(' '), line.size());
        const auto value = parseDecimal(line.substr(0, end));
        if (!value)
            return std::nullopt;
        if (count < CpuTimes::kCount)
            times.ticks[count] = *value;
        ++count;
        line.remove_prefix(end);
    }
    if (count <= CpuTimes::Idle)
        return std::nullopt;
    return times;
}

std::int32_t cpuLoad(const CpuTimes& prev, const CpuTimes& now)
{
    // Per-field deltas stay below 2^64 each; summed in 128 bits so that even garbage cannot wrap.
    __extension__ using Wide = unsigned __int128;
    Wide all = 0, idle = 0;
    for (std::size_t i = 0; i < CpuTimes::kCount; ++i) {
        const std::uint64_t delta = now.ticks[i] > prev.ticks[i] ? now.ticks[i] - prev.ticks[i] : 0;
        all += delta;
        if (i == CpuTimes::Idle || i == CpuTimes::IoWait)
            idle += delta;
    }
    if (all == 0)
        return 0;
    return static_cast<std::int32_t>((all - idle) * 100 / all);
}

std::optional<std::string> readProcStat()
{
    return readProcFile("/proc/stat");
}

}  // namespace platform::linux_impl
