#include "platform/linux/proc/process.h"

#include <poll.h>
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <climits>

extern "C" {   // glibc's header lacks the C++ linkage wrapper
#include <sys/pidfd.h>
}

#include "platform/linux/proc/procfs.h"
#include "platform/linux/proc/textnum.h"

namespace platform::linux_impl {
namespace {

std::int64_t nowMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

std::optional<std::uint32_t> pidLimit()
{
    const auto text = readProcFile("/proc/sys/kernel/pid_max");
    if (!text)
        return std::nullopt;
    const auto value = parseDecimal(std::string_view(*text).substr(0, text->find('\n')));
    if (!value || *value > UINT32_MAX)
        return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

ProcessHandle ProcessTable::open(std::uint32_t pid, std::uint64_t identity)
{
    // Without the start time the listing saw, a process that took over the id since would be
    // ended in its place.
    if (pid == 0 || pid > INT_MAX || identity == 0)
        return 0;
    if (const auto limit = pidLimit(); limit && pid >= *limit)
        return 0;

    UniqueFd fd(::pidfd_open(static_cast<pid_t>(pid), 0));
    if (!fd.valid())
        return 0;
    // Checked only now: the pidfd holds on to the process it was opened for, so a start time
    // read after opening belongs to that process (or shows that the id moved on).
    if (readStartTime(pid) != identity)
        return 0;
    if (::pidfd_send_signal(fd.get(), 0, nullptr, 0) != 0)
        return 0;   // EPERM: not ours to end; ESRCH: already gone

    const ProcessHandle handle = next_++;
    open_.emplace(handle, std::move(fd));
    return handle;
}

int ProcessTable::fdOf(ProcessHandle process) const
{
    const auto it = open_.find(process);
    return it == open_.end() ? -1 : it->second.get();
}

void ProcessTable::terminate(ProcessHandle process)
{
    if (const int fd = fdOf(process); fd >= 0)
        ::pidfd_send_signal(fd, SIGKILL, nullptr, 0);
}

void ProcessTable::wait(ProcessHandle process, int milliseconds)
{
    const int fd = fdOf(process);
    if (fd < 0)
        return;
    const std::int64_t deadline = nowMs() + (milliseconds > 0 ? milliseconds : 0);
    for (;;) {
        const std::int64_t left = deadline - nowMs();
        pollfd p{fd, POLLIN, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left > 0 ? left : 0));
        if (rc >= 0 || errno != EINTR || left <= 0)
            return;
    }
}

void ProcessTable::close(ProcessHandle process)
{
    open_.erase(process);
}

}  // namespace platform::linux_impl
