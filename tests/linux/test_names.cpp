#include <gtest/gtest.h>

#include <sched.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/linux/proc/names.h"

using namespace platform::linux_impl;

TEST(ProcessorType, MapsMachineNames)
{
    struct Case { const char* machine; std::uint32_t type; } cases[] = {
        {"i386", 386}, {"i486", 486}, {"i586", 586}, {"i686", 586},
        {"x86_64", 8664}, {"aarch64", 43620}, {"armv7l", 0}, {"riscv64", 0},
        {"ppc64le", 0}, {"", 0}, {"X86_64", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.machine);
        EXPECT_EQ(processorTypeFor(c.machine), c.type);
    }
}

TEST(ProcessorType, ThisMachine)
{
    utsname info{};
    ASSERT_EQ(::uname(&info), 0);
    EXPECT_EQ(processorType(), processorTypeFor(info.machine));
}

TEST(NameBuffer, FitsWithItsNul)
{
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    std::uint32_t size = 5;
    EXPECT_TRUE(copyName("abcd", buffer, &size));
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(size, 4u);
}

TEST(NameBuffer, NoRoomForTheNulLeavesBufferUntouched)
{
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    for (std::uint32_t room : {0u, 1u, 4u}) {
        SCOPED_TRACE(room);
        std::uint32_t size = room;
        EXPECT_FALSE(copyName("abcd", buffer, &size));
        EXPECT_EQ(size, room);
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(8, 'x'));
    }
}

TEST(NameBuffer, EmptyNameOrMissingPointersFail)
{
    char buffer[8] = "keep";
    std::uint32_t size = sizeof buffer;
    EXPECT_FALSE(copyName("", buffer, &size));
    EXPECT_STREQ(buffer, "keep");
    EXPECT_FALSE(copyName("abc", nullptr, &size));
    EXPECT_FALSE(copyName("abc", buffer, nullptr));
}

TEST(NameSystem, ComputerNameIsTheHostName)
{
    char host[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(::gethostname(host, sizeof host), 0);
    char buffer[300] = {};
    std::uint32_t size = sizeof buffer;
    ASSERT_TRUE(computerName(buffer, &size));
    EXPECT_STREQ(buffer, host);
    EXPECT_EQ(size, std::strlen(host));

    std::uint32_t tight = static_cast<std::uint32_t>(std::strlen(host));
    EXPECT_FALSE(computerName(buffer, &tight));
}

// The longest name the system allows, set in a private namespace of a child so the machine's own
// name stays as it is.
TEST(NameSystem, AHostNameOfTheLongestLegalLengthIsReadWhole)
{
    const std::string longest(HOST_NAME_MAX, 'n');
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWUTS) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWUTS) != 0)
            ::_exit(77);
        if (::sethostname(longest.data(), longest.size()) != 0)
            ::_exit(77);
        char buffer[128] = {};
        std::uint32_t size = 127;
        const bool named = computerName(buffer, &size) && buffer == longest;
        ::_exit(named && hostName() == longest ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no private host name namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(NameSystem, UserNameIsNonEmpty)
{
    char buffer[300] = {};
    std::uint32_t size = sizeof buffer;
    ASSERT_TRUE(userName(buffer, &size));
    EXPECT_GT(size, 0u);
    EXPECT_EQ(size, std::strlen(buffer));
}
