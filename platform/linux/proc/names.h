#pragma once
// The machine's processor type and the computer and user names.

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::linux_impl {

// The processor type number for a uname machine string; 0 for an unknown machine.
std::uint32_t processorTypeFor(std::string_view machine);
std::uint32_t processorType();

// Copies `name` and its NUL into `buffer` when all of it fits in *size bytes, then sets *size to
// the name's length. False, touching nothing, when it does not fit or the name is empty.
bool copyName(std::string_view name, char* buffer, std::uint32_t* size);

// The machine's host name, all of it (the longest legal one included); "" when none can be had.
std::string hostName();

bool computerName(char* buffer, std::uint32_t* size);
bool userName(char* buffer, std::uint32_t* size);

}  // namespace platform::linux_impl
