#include "platform/linux/proc/procfs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/linux/proc/fd.h"
#include "platform/linux/proc/textnum.h"

namespace platform::linux_impl {

std::optional<std::string> readProcFile(const char* path)
{
    UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid())
        return std::nullopt;
    char buffer[8192];
    std::size_t used = 0;
    while (used < sizeof buffer) {
        const ssize_t n = ::read(fd.get(), buffer + used, sizeof buffer - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    return std::string(buffer, used);
}

std::optional<std::uint64_t> parseStartTime(std::string_view statText)
{
    const std::size_t close = statText.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = statText.substr(close + 1);
    // After the name come field 3 (state) onwards, one space before each.
    constexpr int kFieldsBeforeStartTime = 19;   // fields 3..21
    for (int field = 0; field < kFieldsBeforeStartTime; ++field) {
        if (rest.empty() || rest.front() != ' ')
            return std::nullopt;
        const std::size_t next = rest.find(' ', 1);
        if (next == std::string_view::npos)
            return std::nullopt;
        rest.remove_prefix(next);
    }
    if (rest.empty() || rest.front() != ' ')
        return std::nullopt;
    rest.remove_prefix(1);
    return parseDecimal(rest.substr(0, rest.find_first_of(" \n")));
}

std::uint64_t readStartTime(std::uint32_t pid)
{
    if (pid == 0)
        return 0;
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u/stat", static_cast<unsigned>(pid));
    const auto text = readProcFile(path);
    if (!text)
        return 0;
    return parseStartTime(*text).value_or(0);
}

}  // namespace platform::linux_impl
