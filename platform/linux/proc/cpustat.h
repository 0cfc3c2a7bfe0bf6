#pragma once
// Processor time from the aggregate "cpu" line of /proc/stat, and the load between two readings.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::linux_impl {

// Clock ticks since boot: user nice system idle iowait irq softirq steal. Guest time is
// already counted inside user and nice, so it is left out.
struct CpuTimes {
    enum Field { User, Nice, System, Idle, IoWait, Irq, SoftIrq, Steal, kCount };
    std::array<std::uint64_t, kCount> ticks{};
};

// The first line of a /proc/stat text, which must be the aggregate "cpu" line. Older kernels
// print fewer fields: at least user nice system idle are needed; the rest count as 0.
std::optional<CpuTimes> parseCpuLine(std::string_view text);

// Percent of processor time in use from `prev` to `now`, truncated; 0 when no time passed.
// A counter that went back counts as no time.
std::int32_t cpuLoad(const CpuTimes& prev, const CpuTimes& now);

// The text of /proc/stat (its start), std::nullopt when unreadable.
std::optional<std::string> readProcStat();

}  // namespace platform::linux_impl
