#include <cstring>

#include <gtest/gtest.h>

#include "apperror.h"
#include "platform/fake/FakePlatform.h"
#include "statreg.h"

using platform::FakePlatform;

namespace {

std::string Bytes(std::int32_t value)
{
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

QString ErrorOf(TStatReg& reg, const std::string& name)
{
    std::int32_t sample = 0;
    try {
        reg.ReadBinaryData(name, &sample, 4);
    } catch (const EAppError& error) {
        return error.message();
    }
    return {};
}

}  // namespace

class StatRegTest : public ::testing::Test {
protected:
    FakePlatform fake;
    TStatReg reg{fake};
};

TEST_F(StatRegTest, OpensBelowTheRootAndReadsABinaryValue)
{
    fake.setCpuUsage(57);
    ASSERT_TRUE(reg.OpenKey("PerfStats\\StatData"));
    std::int32_t sample = 0;
    EXPECT_EQ(reg.ReadBinaryData("KERNEL\\CPUUsage", &sample, 4), 4);
    EXPECT_EQ(sample, 57);
}

TEST_F(StatRegTest, AFailedOpenChangesNothing)
{
    fake.setCpuUsage(5);
    ASSERT_TRUE(reg.OpenKey("PerfStats\\StatData"));
    const auto current = reg.CurrentKey();
    EXPECT_FALSE(reg.OpenKey("PerfStats\\Missing"));
    EXPECT_EQ(reg.CurrentKey(), current);
    EXPECT_EQ(fake.openKeys(), 1u);
}

TEST_F(StatRegTest, OpensRelativeToTheCurrentKey)
{
    fake.keys["PerfStats"];
    fake.setCpuUsage(5);
    ASSERT_TRUE(reg.OpenKey("PerfStats"));
    ASSERT_TRUE(reg.OpenKey("StatData"));
    EXPECT_EQ(fake.openKeys(), 1u) << "the previous key is closed";
    // Below an open key the full path names nothing.
    EXPECT_FALSE(reg.OpenKey("PerfStats\\StatData"));
}

TEST_F(StatRegTest, WithoutAKeyOrValueReadsNothingSilently)
{
    std::int32_t sample = 99;
    EXPECT_EQ(reg.ReadBinaryData("KERNEL\\CPUUsage", &sample, 4), 0);
    fake.keys["PerfStats\\StatData"];
    ASSERT_TRUE(reg.OpenKey("PerfStats\\StatData"));
    EXPECT_EQ(reg.ReadBinaryData("KERNEL\\CPUUsage", &sample, 4), 0);
    EXPECT_EQ(sample, 99);
}

TEST_F(StatRegTest, TextAndNumberTypesAreRejected)
{
    for (std::uint32_t type : {platform::kTypeString, platform::kTypeExpandString, platform::kTypeDWord}) {
        fake.keys["PerfStats\\StatData"]["KERNEL\\CPUUsage"] = {type, Bytes(1), false};
        ASSERT_TRUE(reg.OpenKey("PerfStats\\StatData"));
        EXPECT_EQ(ErrorOf(reg, "KERNEL\\CPUUsage"), QStringLiteral("'KERNEL\\CPUUsage' のデータ型が不正です"))
            << type;
        reg.CloseKey();
    }
}

TEST_F(StatRegTest, OtherTypesAreReadAsBytes)
{
    fake.keys["PerfStats\\StatData"]["KERNEL\\CPUUsage"] = {11, Bytes(12), false};
    ASSERT_TRUE(reg.OpenKey("PerfStats\\StatData"));
    std::int32_t sample = 0;
    EXPECT_EQ(reg.ReadBinaryData("KERNEL\\CPUUsage", &sample, 4), 4);
    EXPECT_EQ(sample, 12);
}

TEST_F(StatRegTest, AValueLargerThanTheBufferIsATypeError)
{
    fake.keys["PerfStats\\StatData"]["KERNEL\\CPUUsage"] = {platform::kTypeBinary, std::string(5, 'x'), false};
    ASSERT_TRUE(reg.OpenKey("PerfStats\\StatData"));
    EXPECT_EQ(ErrorOf(reg, "KERNEL\\CPUUsage"), QStringLiteral("'KERNEL\\CPUUsage' のデータ型が不正です"));
}

TEST_F(StatRegTest, AShorterValueFillsOnlyItsBytes)
{
    fake.keys["PerfStats\\StatData"]["KERNEL\\CPUUsage"] = {platform::kTypeBinary, std::string("\x07", 1), false};
    ASSERT_TRUE(reg.OpenKey("PerfStats\\StatData"));
    std::uint32_t sample = 0xAABBCCDD;
    EXPECT_EQ(reg.ReadBinaryData("KERNEL\\CPUUsage", &sample, 4), 1);
    EXPECT_EQ(sample, 0xAABBCC07u);
}

TEST_F(StatRegTest, ADataReadFailingAfterTheInfoQueryIsAnError)
{
    fake.keys["PerfStats\\StatData"]["KERNEL\\CPUUsage"] = {platform::kTypeBinary, Bytes(3), true};
    ASSERT_TRUE(reg.OpenKey("PerfStats\\StatData"));
    EXPECT_EQ(ErrorOf(reg, "KERNEL\\CPUUsage"), QStringLiteral("'KERNEL\\CPUUsage' の取得に失敗しました"));
}

TEST(StatRegLifetime, ReleasingTheSourceClosesItsKey)
{
    FakePlatform fake;
    fake.setCpuUsage(1);
    {
        TStatReg reg(fake);
        ASSERT_TRUE(reg.OpenKey("PerfStats\\StartStat"));
        EXPECT_EQ(fake.openKeys(), 1u);
    }
    EXPECT_EQ(fake.openKeys(), 0u);
}
