// /proc/meminfo text as the memory chart reads it: garbled, cut short or absurd figures give
// no reading, never a crash or a load past 100 %.

#include <cstdint>
#include <string_view>

#include "check.h"
#include "platform/linux/proc/meminfo.h"

using namespace platform::linux_impl;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto status = parseMeminfo(text);
    if (!status)
        return 0;
    FUZZ_CHECK(status->memoryLoad <= 100);
    FUZZ_CHECK(status->totalPhys > 0);
    FUZZ_CHECK(status->totalPhys % 1024 == 0);
    // A reading needs both lines.
    FUZZ_CHECK(text.find("MemTotal:") != std::string_view::npos);
    FUZZ_CHECK(text.find("MemAvailable:") != std::string_view::npos);
    return 0;
}
