#include <gtest/gtest.h>

#include <QtEndian>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "platform/linux/proc/statregistry.h"

using namespace platform;
using platform::linux_impl::StatRegistry;

namespace {

// A registry reading a /proc/stat text the test sets.
class StatRegistryTest : public ::testing::Test {
protected:
    std::optional<std::string> procStat = "cpu 0 0 0 0\n";
    StatRegistry registry{[this] { return procStat; }};

    void setTimes(std::uint64_t busy, std::uint64_t idle)
    {
        procStat = "cpu " + std::to_string(busy) + " 0 0 " + std::to_string(idle) +
                   " 0 0 0 0 0 0\ncpu0 1 2 3 4\n";
    }

    StatKey open(StatKey parent, const std::string& path)
    {
        StatKey key = 0;
        EXPECT_EQ(registry.openKey(parent, path, &key), kErrorSuccess) << path;
        return key;
    }

    // The load a key's value gives now; nullopt when the read fails.
    std::optional<std::int32_t> read(StatKey key)
    {
        std::uint32_t type = 0, size = 4;
        unsigned char bytes[4] = {};
        if (registry.queryValue(key, "KERNEL\\CPUUsage", &type, bytes, &size) != kErrorSuccess)
            return std::nullopt;
        EXPECT_EQ(type, kTypeBinary);
        EXPECT_EQ(size, 4u);
        return qFromLittleEndian<qint32>(bytes);
    }
};

}  // namespace

TEST_F(StatRegistryTest, OpensEachKeyByFullPath)
{
    for (const char* path : {"PerfStats", "PerfStats\\StartStat", "PerfStats\\StatData"}) {
        SCOPED_TRACE(path);
        StatKey key = 0;
        EXPECT_EQ(registry.openKey(kDynDataRoot, path, &key), kErrorSuccess);
        EXPECT_NE(key, 0u);
        EXPECT_NE(key, kDynDataRoot);
    }
}

TEST_F(StatRegistryTest, OpensRelativeToAnOpenKey)
{
    const StatKey perf = open(kDynDataRoot, "PerfStats");
    const StatKey data = open(perf, "StatData");
    setTimes(30, 70);
    EXPECT_EQ(read(data), 30);
}

TEST_F(StatRegistryTest, NamesIgnoreCase)
{
    const StatKey key = open(kDynDataRoot, "perfstats\\STATDATA");
    setTimes(1, 3);
    std::uint32_t size = 4;
    unsigned char bytes[4];
    EXPECT_EQ(registry.queryValue(key, "kernel\\cpuusage", nullptr, bytes, &size), kErrorSuccess);
    EXPECT_EQ(bytes[0], 25);
}

TEST_F(StatRegistryTest, EveryOpenGivesANewHandle)
{
    const StatKey a = open(kDynDataRoot, "PerfStats\\StatData");
    const StatKey b = open(kDynDataRoot, "PerfStats\\StatData");
    EXPECT_NE(a, b);
    registry.closeKey(a);
    const StatKey c = open(kDynDataRoot, "PerfStats\\StatData");
    EXPECT_NE(c, a);
    EXPECT_TRUE(read(b).has_value());
}

TEST_F(StatRegistryTest, UnknownPathsAreNotFound)
{
    const StatKey perf = open(kDynDataRoot, "PerfStats");
    struct Case { StatKey parent; const char* path; } cases[] = {
        {kDynDataRoot, "StatData"},        {kDynDataRoot, "PerfStats\\Nothing"},
        {kDynDataRoot, "PerfStats\\"},     {kDynDataRoot, "\\PerfStats"},
        {kDynDataRoot, "PerfStats\\\\StatData"}, {kDynDataRoot, "PerfStats/StatData"},
        {perf, "PerfStats"},               {perf, "StatData\\More"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        StatKey key = 1234;
        EXPECT_EQ(registry.openKey(c.parent, c.path, &key), kErrorFileNotFound);
        EXPECT_EQ(key, 0u);
    }
}

TEST_F(StatRegistryTest, EmptyPathReopensTheParent)
{
    const StatKey data = open(kDynDataRoot, "PerfStats\\StatData");
    const StatKey again = open(data, "");
    EXPECT_NE(again, data);
    setTimes(1, 1);
    EXPECT_EQ(read(again), 50);
}

TEST_F(StatRegistryTest, UnknownAndClosedHandlesAreInvalid)
{
    StatKey key = 0;
    EXPECT_EQ(registry.openKey(987654, "PerfStats", &key), kErrorInvalidHandle);
    const StatKey data = open(kDynDataRoot, "PerfStats\\StatData");
    registry.closeKey(data);
    EXPECT_EQ(registry.openKey(data, "", &key), kErrorInvalidHandle);
    std::uint32_t size = 4;
    unsigned char bytes[4];
    EXPECT_EQ(registry.queryValue(data, "KERNEL\\CPUUsage", nullptr, bytes, &size),
              kErrorInvalidHandle);
    registry.closeKey(data);   // closing twice is harmless
    registry.closeKey(kDynDataRoot);
    EXPECT_EQ(registry.openKey(kDynDataRoot, "PerfStats", &key), kErrorSuccess);
}

TEST_F(StatRegistryTest, SizeQueryTellsTypeAndSizeWithoutSampling)
{
    const StatKey data = open(kDynDataRoot, "PerfStats\\StatData");
    setTimes(50, 50);
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(registry.queryValue(data, "KERNEL\\CPUUsage", &type, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(type, kTypeBinary);
    EXPECT_EQ(size, 4u);
    setTimes(150, 50);
    EXPECT_EQ(read(data), 75);   // the interval still starts at boot
}

TEST_F(StatRegistryTest, SmallBufferIsMoreDataAndCopiesNothing)
{
    const StatKey data = open(kDynDataRoot, "PerfStats\\StatData");
    setTimes(50, 50);
    unsigned char bytes[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    std::uint32_t type = 0, size = 3;
    EXPECT_EQ(registry.queryValue(data, "KERNEL\\CPUUsage", &type, bytes, &size), kErrorMoreData);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, kTypeBinary);
    for (const unsigned char b : bytes)
        EXPECT_EQ(b, 0xAA);
    EXPECT_EQ(read(data), 50);   // nor did it end the interval
}

TEST_F(StatRegistryTest, LargerBufferGetsFourBytes)
{
    const StatKey data = open(kDynDataRoot, "PerfStats\\StatData");
    setTimes(10, 90);
    unsigned char bytes[8] = {0, 0, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA};
    std::uint32_t size = sizeof bytes;
    EXPECT_EQ(registry.queryValue(data, "KERNEL\\CPUUsage", nullptr, bytes, &size), kErrorSuccess);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(bytes[0], 10);
    EXPECT_EQ(bytes[4], 0xAA);
}

TEST_F(StatRegistryTest, UnknownValuesAreNotFound)
{
    const StatKey data = open(kDynDataRoot, "PerfStats\\StatData");
    const StatKey perf = open(kDynDataRoot, "PerfStats");
    std::uint32_t size = 4;
    unsigned char bytes[4];
    EXPECT_EQ(registry.queryValue(data, "KERNEL\\Other", nullptr, bytes, &size),
              kErrorFileNotFound);
    EXPECT_EQ(registry.queryValue(data, "CPUUsage", nullptr, bytes, &size), kErrorFileNotFound);
    EXPECT_EQ(registry.queryValue(perf, "KERNEL\\CPUUsage", nullptr, bytes, &size),
              kErrorFileNotFound);
    EXPECT_EQ(registry.queryValue(kDynDataRoot, "KERNEL\\CPUUsage", nullptr, bytes, &size),
              kErrorFileNotFound);
}

TEST_F(StatRegistryTest, FirstReadIsSinceBoot)
{
    const StatKey data = open(kDynDataRoot, "PerfStats\\StatData");
    setTimes(20, 80);
    EXPECT_EQ(read(data), 20);
}

TEST_F(StatRegistryTest, StatDataStartsANewInterval)
{
    const StatKey data = open(kDynDataRoot, "PerfStats\\StatData");
    setTimes(20, 80);
    EXPECT_EQ(read(data), 20);
    setTimes(120, 80);
    EXPECT_EQ(read(data), 100);
    setTimes(120, 180);
    EXPECT_EQ(read(data), 0);
    EXPECT_EQ(read(data), 0);   // nothing passed since the last reading
}

TEST_F(StatRegistryTest, StartStatLeavesTheIntervalOpen)
{
    const StatKey start = open(kDynDataRoot, "PerfStats\\StartStat");
    const StatKey data = open(kDynDataRoot, "PerfStats\\StatData");
    setTimes(10, 10);
    EXPECT_EQ(read(data), 50);
    setTimes(20, 10);
    EXPECT_EQ(read(start), 100);
    setTimes(20, 30);
    EXPECT_EQ(read(start), 33);   // still measured from the StatData reading
    EXPECT_EQ(read(data), 33);
    setTimes(20, 40);
    EXPECT_EQ(read(start), 0);
}

TEST_F(StatRegistryTest, StartStatBeforeAnyStatDataIsSinceBoot)
{
    const StatKey start = open(kDynDataRoot, "PerfStats\\StartStat");
    setTimes(30, 70);
    EXPECT_EQ(read(start), 30);
    const StatKey data = open(kDynDataRoot, "PerfStats\\StatData");
    EXPECT_EQ(read(data), 30);
}

TEST_F(StatRegistryTest, UnreadableStatIsNoValueAndKeepsTheInterval)
{
    const StatKey data = open(kDynDataRoot, "PerfStats\\StatData");
    setTimes(10, 10);
    EXPECT_EQ(read(data), 50);
    const std::optional<std::string> badTexts[] = {std::nullopt, "garbage", "cpu 1 2\n"};
    for (const auto& bad : badTexts) {
        procStat = bad;
        unsigned char bytes[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        std::uint32_t size = 4;
        EXPECT_EQ(registry.queryValue(data, "KERNEL\\CPUUsage", nullptr, bytes, &size),
                  kErrorFileNotFound);
        EXPECT_EQ(bytes[0], 0xAA);
    }
    setTimes(30, 10);
    EXPECT_EQ(read(data), 100);   // measured from the last good reading
}

TEST_F(StatRegistryTest, ValueIsLittleEndianSigned32)
{
    const StatKey data = open(kDynDataRoot, "PerfStats\\StatData");
    setTimes(99, 1);
    unsigned char bytes[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    std::uint32_t size = 4;
    ASSERT_EQ(registry.queryValue(data, "KERNEL\\CPUUsage", nullptr, bytes, &size), kErrorSuccess);
    EXPECT_EQ(bytes[0], 99);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[3], 0);
}

TEST(StatRegistrySystem, RealProcStatGivesAPercent)
{
    StatRegistry registry(&platform::linux_impl::readProcStat);
    StatKey key = 0;
    ASSERT_EQ(registry.openKey(kDynDataRoot, "PerfStats\\StatData", &key), kErrorSuccess);
    for (int i = 0; i < 3; ++i) {
        std::int32_t load = -1;
        std::uint32_t size = sizeof load;
        ASSERT_EQ(registry.queryValue(key, "KERNEL\\CPUUsage", nullptr, &load, &size),
                  kErrorSuccess);
        EXPECT_GE(load, 0);
        EXPECT_LE(load, 100);
    }
}
