#pragma once
// Processes opened for ending them, held as pidfds so that a recycled process id can never
// redirect a signal to the wrong process.

#include <cstdint>
#include <map>
#include <optional>

#include "platform/linux/proc/fd.h"
#include "platform/types.h"

namespace platform::linux_impl {

class ProcessTable {
public:
    ProcessHandle open(std::uint32_t pid, std::uint64_t identity);
    void terminate(ProcessHandle process);
    void wait(ProcessHandle process, int milliseconds);
    void close(ProcessHandle process);

private:
    int fdOf(ProcessHandle process) const;

    // Handles are never reused, so a stale one cannot reach a process opened later.
    std::map<ProcessHandle, UniqueFd> open_;
    ProcessHandle next_ = 1;
};

// The highest process id plus one (kernel.pid_max); std::nullopt when unreadable.
std::optional<std::uint32_t> pidLimit();

}  // namespace platform::linux_impl
