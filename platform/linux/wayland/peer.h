#pragma once
// What the program may believe of a compositor's socket and of the processes it names.

#include <cstdint>

namespace platform::linux_impl {

struct PeerTrust {
    // The pids the compositor reports name the owners of its clients: only when its end of the
    // socket is held by our own user. Anyone can listen on a socket and report any pid.
    bool pids = false;
    // They are pids of another pid namespace (a sandbox or a container between the compositor
    // and us): the kernel cannot name the peer's process in ours. The same numbers here may
    // belong to other processes altogether.
    bool foreign = false;
};

// The peer of a connected Unix socket (SO_PEERCRED), judged as above.
PeerTrust peerTrust(int fd);

// The identity (start time) that a row of a compositor's client carries, from the pid the
// compositor reports for it. 0, so that End task never ends it, for a process that only
// forwards clients of another host (waypipe): the window's program does not run here, and
// ending the forwarder ends every window forwarded through it.
std::uint64_t clientIdentity(std::uint32_t pid);

}  // namespace platform::linux_impl
