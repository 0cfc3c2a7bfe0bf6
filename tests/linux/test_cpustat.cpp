#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "platform/linux/proc/cpustat.h"

using platform::linux_impl::cpuLoad;
using platform::linux_impl::CpuTimes;
using platform::linux_impl::parseCpuLine;

namespace {

CpuTimes times(std::uint64_t user, std::uint64_t nice, std::uint64_t system, std::uint64_t idle,
               std::uint64_t iowait = 0, std::uint64_t irq = 0, std::uint64_t softirq = 0,
               std::uint64_t steal = 0)
{
    return CpuTimes{{user, nice, system, idle, iowait, irq, softirq, steal}};
}

struct LineCase {
    const char* name;
    const char* text;
    std::optional<CpuTimes> expected;
};

const LineCase kLines[] = {
    {"modernKernel",
     "cpu  4705 356 584 3699 23 0 23 7 11 13\ncpu0 1393 280 290 1866 9 0 0 0 0 0\nintr 1\n",
     times(4705, 356, 584, 3699, 23, 0, 23, 7)},
    {"noGuestFields", "cpu  1 2 3 4 5 6 7 8\n", times(1, 2, 3, 4, 5, 6, 7, 8)},
    {"fourFields", "cpu 10 20 30 40\n", times(10, 20, 30, 40)},
    {"sevenFields", "cpu 10 20 30 40 50 60 70", times(10, 20, 30, 40, 50, 60, 70)},
    {"futureExtraField", "cpu 1 2 3 4 5 6 7 8 9 10 11\n", times(1, 2, 3, 4, 5, 6, 7, 8)},
    {"bigCounters", "cpu 18446744073709551615 0 0 1\n", times(18446744073709551615ull, 0, 0, 1)},
    {"threeFields", "cpu 10 20 30\n", std::nullopt},
    {"truncatedAfterLabel", "cpu ", std::nullopt},
    {"empty", "", std::nullopt},
    {"perCpuLineFirst", "cpu0 1 2 3 4\n", std::nullopt},
    {"otherLine", "intr 1 2 3 4\n", std::nullopt},
    {"garbageField", "cpu 1 2 x 4\n", std::nullopt},
    {"negativeField", "cpu 1 -2 3 4\n", std::nullopt},
    {"overflowingField", "cpu 1 2 3 99999999999999999999\n", std::nullopt},
    {"trailingJunk", "cpu 1 2 3 4 5z\n", std::nullopt},
    {"onlyFirstLineCounts", "cpu 1 2\n 3 4\n", std::nullopt},
};

}  // namespace

TEST(CpuLine, ParsesOrRejectsEachText)
{
    for (const LineCase& c : kLines) {
        SCOPED_TRACE(c.name);
        const auto parsed = parseCpuLine(c.text);
        ASSERT_EQ(parsed.has_value(), c.expected.has_value());
        if (parsed) {
            EXPECT_EQ(parsed->ticks, c.expected->ticks);
        }
    }
}

TEST(CpuLoad, LoadOfEachInterval)
{
    const std::uint64_t big = 1ull << 62;
    struct Case {
        const char* name;
        CpuTimes before, after;
        int load;
    };
    const Case cases[] = {
        {"halfBusy", times(100, 0, 100, 200), times(150, 0, 150, 300), 50},
        {"ioWaitCountsAsIdle", times(0, 0, 0, 0), times(10, 0, 0, 45, 45), 10},
        {"irqSoftIrqStealAndNiceCountAsBusy", times(0, 0, 0, 0), times(0, 10, 0, 60, 0, 10, 10, 10), 40},
        {"truncatesTowardZero", times(0, 0, 0, 0), times(2, 0, 0, 1), 66},
        {"fullyBusy", times(0, 0, 0, 5), times(100, 0, 0, 5), 100},
        {"noTimePassed", times(5, 5, 5, 5), times(5, 5, 5, 5), 0},
        // Idle went back by 1000 (a hotplugged processor, a counter reset): only user time passed.
        {"idleSteppedBack", times(100, 0, 0, 5000), times(150, 0, 0, 4000), 100},
        {"everythingSteppedBack", times(100, 100, 100, 100), times(1, 1, 1, 1), 0},
        {"sinceBootFromZero", CpuTimes{}, times(4705, 356, 584, 3699, 23, 0, 23, 7), 60},
        {"hugeCountersDoNotOverflow", CpuTimes{}, times(big, big, big, big, big, big, big, big), 75},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cpuLoad(c.before, c.after), c.load) << c.name;
}
