#include "platform/linux/wayland/peer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <string_view>

#include "platform/linux/proc/procfs.h"

namespace platform::linux_impl {
namespace {

// Programs that carry the clients of another host's compositor session over a connection of
// their own; the compositor knows only them as the windows' owners.
constexpr std::string_view kForwarders[] = {"waypipe"};

std::string_view baseName(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool forwardsClients(std::uint32_t pid)
{
    // The executable's name, which a process cannot change as it can its comm; the comm where
    // the link cannot be read (a process of another user).
    char target[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    std::string name;
    if (n > 0) {
        name = baseName(std::string_view(target, static_cast<std::size_t>(n)));
    } else if (const auto comm = readProcFile(("/proc/" + std::to_string(pid) + "/comm").c_str())) {
        name = comm->substr(0, comm->find('\n'));
    }
    for (const std::string_view forwarder : kForwarders) {
        if (name == forwarder)
            return true;
    }
    return false;
}

}  // namespace

PeerTrust peerTrust(int fd)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer)
        return {};
    PeerTrust trust;
    trust.pids = peer.uid == ::geteuid();
    // The kernel gives the peer's pid as our namespace sees it, 0 where it sees none.
    struct stat info{};
    trust.foreign = peer.pid <= 0 ||
                    ::stat(("/proc/" + std::to_string(peer.pid)).c_str(), &info) != 0;
    return trust;
}

std::uint64_t clientIdentity(std::uint32_t pid)
{
    if (pid == 0 || forwardsClients(pid))
        return 0;
    return readStartTime(pid);
}

}  // namespace platform::linux_impl
