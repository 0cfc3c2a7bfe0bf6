#pragma once
// Reading the small texts the kernel publishes under /proc, and the per-process start time that
// tells a process from a later one reusing its id.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::linux_impl {

// The first few kilobytes of a /proc file (all the texts read here are shorter, or have what we
// need at the start); std::nullopt when it cannot be opened or read.
std::optional<std::string> readProcFile(const char* path);

// Field 22 (starttime, clock ticks after boot) of a /proc/PID/stat text. The command name
// (field 2) may hold spaces and parentheses, so fields are counted from its last ')'.
std::optional<std::uint64_t> parseStartTime(std::string_view statText);

// Start time of process `pid`; 0 when it cannot be read.
std::uint64_t readStartTime(std::uint32_t pid);

}  // namespace platform::linux_impl
