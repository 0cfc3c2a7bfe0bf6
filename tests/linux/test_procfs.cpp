#include <gtest/gtest.h>

#include <unistd.h>

#include <optional>
#include <string>

#include "platform/linux/proc/procfs.h"

using namespace platform::linux_impl;

namespace {

// A /proc/PID/stat line for `comm` with starttime 8123456 (field 22).
std::string statLine(const std::string& comm)
{
    return "4242 (" + comm +
           ") S 1 4242 4242 0 -1 4194560 1015 0 0 0 3 1 0 0 20 0 1 0 8123456 17903616 1107 "
           "18446744073709551615 1 1 0 0 0 0 0 4096 0 0 0 0 17 1 0 0 0 0 0\n";
}

}  // namespace

TEST(StartTime, PlainName)
{
    EXPECT_EQ(parseStartTime(statLine("sleep")), 8123456u);
}

TEST(StartTime, NamesWithSpacesAndParentheses)
{
    const char* const names[] = {"my prog", "a) b (c", "))", "(",
                                 ") 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21"};
    for (const char* comm : names) {
        SCOPED_TRACE(comm);
        EXPECT_EQ(parseStartTime(statLine(comm)), 8123456u);
    }
}

TEST(StartTime, BrokenTextsGiveNothing)
{
    const char* const texts[] = {
        "", "4242 sleep S 1", "4242 (sleep) S 1 2 3", "4242 (sleep)",
        "4242 (sleep) S 1 4242 4242 0 -1 4194560 1015 0 0 0 3 1 0 0 20 0 1 0 x"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseStartTime(text), std::nullopt);
    }
}

TEST(StartTime, StartTimeAsLastFieldOfACutText)
{
    EXPECT_EQ(parseStartTime("1 (x) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 77"), 77u);
}

TEST(StartTimeSystem, OwnProcessHasOne)
{
    const std::uint64_t mine = readStartTime(static_cast<std::uint32_t>(::getpid()));
    EXPECT_NE(mine, 0u);
    EXPECT_EQ(readStartTime(static_cast<std::uint32_t>(::getpid())), mine);
    EXPECT_EQ(readStartTime(0), 0u);
}

TEST(ProcFile, MissingFileIsNothing)
{
    EXPECT_EQ(readProcFile("/proc/no-such-file"), std::nullopt);
    EXPECT_TRUE(readProcFile("/proc/self/stat").has_value());
}
