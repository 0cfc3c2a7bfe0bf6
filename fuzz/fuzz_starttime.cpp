// /proc/PID/stat as read for a process's start time. The command name is the process's own
// choice (spaces, parentheses, newlines, anything), so the parser sees hostile text there.

#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "platform/linux/proc/procfs.h"

using namespace platform::linux_impl;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto start = parseStartTime(text);
    if (start)
        FUZZ_CHECK(text.find(')') != std::string_view::npos);

    // Whatever the name, the fields after it are found: wrap the input as a command name in a
    // well-formed line whose start time is known.
    std::string line = "4242 (";
    line.append(text);
    line += ") S 1 4242 4242 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 987654321 10000 200\n";
    const auto known = parseStartTime(line);
    FUZZ_CHECK(known && *known == 987654321u);
    return 0;
}
