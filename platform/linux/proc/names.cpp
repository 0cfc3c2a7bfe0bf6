#include "platform/linux/proc/names.h"

#include <limits.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace platform::linux_impl {

std::uint32_t processorTypeFor(std::string_view machine)
{
    // The numbers callers expect in the processor-type field: the classic x86 model numbers,
    // and the architecture codes for 64-bit x86 and ARM.
    if (machine == "i386")
        return 386;
    if (machine == "i486")
        return 486;
    if (machine == "i586" || machine == "i686")
        return 586;
    if (machine == "x86_64")
        return 8664;
    if (machine == "aarch64")
        return 0xAA64;
    return 0;
}

std::uint32_t processorType()
{
    utsname info{};
    if (::uname(&info) != 0)
        return 0;
    return processorTypeFor(info.machine);
}

bool copyName(std::string_view name, char* buffer, std::uint32_t* size)
{
    if (buffer == nullptr || size == nullptr || name.empty() || name.size() >= *size)
        return false;
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
    *size = static_cast<std::uint32_t>(name.size());
    return true;
}

std::string hostName()
{
    // The whole buffer goes to the system: a name of HOST_NAME_MAX bytes needs every byte of it
    // for its NUL, and the call fails rather than cut the name when there is less room.
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host) != 0)
        return {};
    return std::string(host, ::strnlen(host, sizeof host));
}

bool computerName(char* buffer, std::uint32_t* size)
{
    return copyName(hostName(), buffer, size);
}

bool userName(char* buffer, std::uint32_t* size)
{
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> scratch(hint > 0 ? static_cast<std::size_t>(hint) : 1024);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int rc = ::getpwuid_r(::geteuid(), &entry, scratch.data(), scratch.size(), &found);
        if (rc == ERANGE && scratch.size() < (1u << 20)) {
            scratch.resize(scratch.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr || found->pw_name == nullptr)
            return false;
        return copyName(found->pw_name, buffer, size);
    }
}

}  // namespace platform::linux_impl
