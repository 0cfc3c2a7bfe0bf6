#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>

#include "platform/linux/proc/process.h"
#include "platform/linux/proc/procfs.h"

using platform::ProcessHandle;
using platform::linux_impl::pidLimit;
using platform::linux_impl::ProcessTable;
using platform::linux_impl::readStartTime;

namespace {

// A `sleep 30` child, killed and reaped at the end if the test did not end it.
class Child {
public:
    Child()
    {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Child()
    {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    std::uint32_t pid() const { return static_cast<std::uint32_t>(pid_); }
    bool started() const { return pid_ > 0; }

    // The wait status if the child has ended, reaping it; -1 while it runs.
    int reap()
    {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_)
            return -1;
        reaped_ = true;
        return status;
    }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

}  // namespace

TEST(Process, KillsAnOpenedChild)
{
    Child child;
    ASSERT_TRUE(child.started());
    ProcessTable table;
    const ProcessHandle handle = table.open(child.pid(), readStartTime(child.pid()));
    ASSERT_NE(handle, 0u);

    const auto before = std::chrono::steady_clock::now();
    table.terminate(handle);
    table.wait(handle, 500);
    const auto waited = std::chrono::steady_clock::now() - before;
    table.close(handle);

    EXPECT_LT(waited, std::chrono::milliseconds(500));
    const int status = child.reap();
    ASSERT_NE(status, -1) << "child still running";
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

// A row whose start time could not be read names whatever holds the id by the time of the
// click: it opens nothing, even while the id is held by a process we could end.
TEST(Process, AnUnknownIdentityOpensNothing)
{
    Child child;
    ASSERT_TRUE(child.started());
    ProcessTable table;
    EXPECT_EQ(table.open(child.pid(), 0), 0u);
    EXPECT_EQ(child.reap(), -1);
}

TEST(Process, WrongIdentityIsRefused)
{
    Child child;
    ASSERT_TRUE(child.started());
    ProcessTable table;
    EXPECT_EQ(table.open(child.pid(), readStartTime(child.pid()) + 1), 0u);
    EXPECT_EQ(child.reap(), -1);   // and nothing was done to it
}

TEST(Process, WaitReturnsAfterTheTimeoutWhileRunning)
{
    Child child;
    ASSERT_TRUE(child.started());
    ProcessTable table;
    const ProcessHandle handle = table.open(child.pid(), readStartTime(child.pid()));
    ASSERT_NE(handle, 0u);
    const auto before = std::chrono::steady_clock::now();
    table.wait(handle, 50);
    const auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_GE(waited, std::chrono::milliseconds(45));
    EXPECT_LT(waited, std::chrono::milliseconds(400));
    table.wait(handle, 0);
    table.wait(handle, -1);   // no endless wait for a negative time
    table.close(handle);
}

TEST(Process, ImpossibleIdsAreRefused)
{
    ProcessTable table;
    for (std::uint32_t pid : {0u, 0xFFFFFFFFu, 0x80000000u, static_cast<std::uint32_t>(INT_MAX)}) {
        SCOPED_TRACE(pid);
        EXPECT_EQ(table.open(pid, 1), 0u);
    }
    if (const auto limit = pidLimit()) {
        EXPECT_EQ(table.open(*limit, 1), 0u);
    }
}

TEST(Process, GonePidIsRefused)
{
    std::uint32_t gone = 0;
    std::uint64_t startTime = 0;
    {
        Child child;
        ASSERT_TRUE(child.started());
        gone = child.pid();
        startTime = readStartTime(gone);
    }   // killed and reaped
    ProcessTable table;
    EXPECT_EQ(table.open(gone, startTime), 0u);
}

TEST(Process, StaleAndUnknownHandlesAreIgnored)
{
    Child child;
    ASSERT_TRUE(child.started());
    ProcessTable table;
    const std::uint64_t identity = readStartTime(child.pid());
    const ProcessHandle first = table.open(child.pid(), identity);
    ASSERT_NE(first, 0u);
    table.close(first);
    const ProcessHandle second = table.open(child.pid(), identity);
    ASSERT_NE(second, 0u);
    EXPECT_NE(second, first);

    for (ProcessHandle stale : {first, ProcessHandle{0}, ProcessHandle{999999}}) {
        table.terminate(stale);
        table.wait(stale, 10);
        table.close(stale);
    }
    EXPECT_EQ(child.reap(), -1);   // the stale handle did not reach it
    table.close(second);
}

TEST(Process, PidLimitIsReadable)
{
    const auto limit = pidLimit();
    ASSERT_TRUE(limit);
    EXPECT_GT(*limit, static_cast<std::uint32_t>(::getpid()));
}
