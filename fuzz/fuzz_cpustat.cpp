// The aggregate line of /proc/stat and the load between two readings. The input is two texts
// separated by the first NUL byte (none: the same text twice); the load between any two
// readings, and between raw counter values, stays within 0..100.

#include <cstdint>
#include <cstring>
#include <string_view>

#include "check.h"
#include "platform/linux/proc/cpustat.h"

using namespace platform::linux_impl;

namespace {

void checkLoad(const CpuTimes& prev, const CpuTimes& now)
{
    const std::int32_t load = cpuLoad(prev, now);
    FUZZ_CHECK(load >= 0 && load <= 100);
    FUZZ_CHECK(cpuLoad(now, now) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string_view first = input.substr(0, nul);
    const std::string_view second = nul == std::string_view::npos ? input : input.substr(nul + 1);

    const auto a = parseCpuLine(first);
    const auto b = parseCpuLine(second);
    if (a) {
        FUZZ_CHECK(first.starts_with("cpu "));
        checkLoad(CpuTimes{}, *a);
    }
    if (a && b) {
        checkLoad(*a, *b);
        checkLoad(*b, *a);
    }

    // Counters straight from the bytes, as a kernel bug or a wrapped counter might give them.
    if (size >= 2 * sizeof(CpuTimes::ticks)) {
        CpuTimes raw1, raw2;
        std::memcpy(raw1.ticks.data(), data, sizeof raw1.ticks);
        std::memcpy(raw2.ticks.data(), data + sizeof raw1.ticks, sizeof raw2.ticks);
        checkLoad(raw1, raw2);
    }
    return 0;
}
