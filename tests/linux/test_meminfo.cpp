#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/linux/proc/meminfo.h"

using platform::linux_impl::parseMeminfo;
using platform::linux_impl::readMemoryStatus;

namespace {

constexpr std::uint64_t KiB = 1024;

struct MeminfoCase {
    const char* name;
    const char* text;
    std::optional<std::uint32_t> load;   // nullopt: no figures
    std::uint64_t totalBytes;
};

const MeminfoCase kCases[] = {
    {"typical",
     "MemTotal:       16318412 kB\nMemFree:         1034540 kB\nMemAvailable:    8159206 kB\n"
     "Buffers:          250000 kB\n",
     50, 16318412 * KiB},
    {"reordered", "MemAvailable:     250 kB\nSwapTotal: 0 kB\nMemTotal:        1000 kB\n", 75,
     1000 * KiB},
    {"truncatesLoad", "MemTotal: 3 kB\nMemAvailable: 1 kB\n", 66, 3 * KiB},
    {"allFree", "MemTotal: 4096 kB\nMemAvailable: 4096 kB\n", 0, 4096 * KiB},
    {"allUsed", "MemTotal: 4096 kB\nMemAvailable: 0 kB\n", 100, 4096 * KiB},
    {"noFinalNewline", "MemTotal: 200 kB\nMemAvailable: 50 kB", 75, 200 * KiB},
    {"hugeTotal64GiB", "MemTotal: 67108864 kB\nMemAvailable: 16777216 kB\n", 75, 64ull << 30},
    {"terabytes", "MemTotal: 4294967296 kB\nMemAvailable: 1 kB\n", 99, 4ull << 40},
    {"missingAvailable", "MemTotal: 1000 kB\nMemFree: 500 kB\n", std::nullopt, 0},
    {"missingTotal", "MemAvailable: 1000 kB\n", std::nullopt, 0},
    {"empty", "", std::nullopt, 0},
    {"truncatedBeforeUnit", "MemTotal: 1000 kB\nMemAvailable: 12", std::nullopt, 0},
    {"truncatedAfterColon", "MemTotal: 1000 kB\nMemAvailable:", std::nullopt, 0},
    {"garbageNumber", "MemTotal: 10x0 kB\nMemAvailable: 10 kB\n", std::nullopt, 0},
    {"negativeNumber", "MemTotal: 1000 kB\nMemAvailable: -10 kB\n", std::nullopt, 0},
    {"wrongUnit", "MemTotal: 1000 MB\nMemAvailable: 10 MB\n", std::nullopt, 0},
    {"overflowingNumber", "MemTotal: 99999999999999999999999 kB\nMemAvailable: 1 kB\n",
     std::nullopt, 0},
    {"tooBigForBytes", "MemTotal: 18014398509481984 kB\nMemAvailable: 1 kB\n", std::nullopt, 0},
    {"zeroTotal", "MemTotal: 0 kB\nMemAvailable: 0 kB\n", std::nullopt, 0},
    {"moreAvailableThanTotal", "MemTotal: 100 kB\nMemAvailable: 101 kB\n", std::nullopt, 0},
    {"similarKeyIgnored", "MemTotalX: 5 kB\nMemTotal: 100 kB\nMemAvailable: 10 kB\n", 90,
     100 * KiB},
    {"binaryJunk", "\x01\xff\xfe:\n\n::::\nMemTotal\n", std::nullopt, 0},
};

}  // namespace

TEST(Meminfo, ParsesOrRejectsEachText)
{
    for (const MeminfoCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const auto status = parseMeminfo(c.text);
        ASSERT_EQ(status.has_value(), c.load.has_value());
        if (status) {
            EXPECT_EQ(status->memoryLoad, *c.load);
            EXPECT_EQ(status->totalPhys, c.totalBytes);
        }
    }
}

TEST(Meminfo, TextWithEmbeddedNulsIsSafe)
{
    const char raw[] = "MemTotal: 100 kB\nJunk\0\0\0: 7 kB\nMemAvailable: 40 kB\n";
    const std::string text(raw, sizeof raw - 1);
    const auto status = parseMeminfo(text);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->memoryLoad, 60u);
}

TEST(MeminfoSystem, AgreesWithProcMeminfo)
{
    const auto status = readMemoryStatus();
    ASSERT_TRUE(status);
    std::ifstream in("/proc/meminfo");
    std::string key, unit;
    std::uint64_t value = 0, total = 0;
    while (in >> key >> value >> unit) {
        if (key == "MemTotal:")
            total = value;
    }
    EXPECT_EQ(status->totalPhys, total * KiB);
    EXPECT_LE(status->memoryLoad, 100u);
}
