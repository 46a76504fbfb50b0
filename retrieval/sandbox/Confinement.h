#pragma once
// What the worker gives up before it reads the first page. ConfinementLinux.cpp: namespaces of its
// own (an empty read-only root, no network, no capabilities) where the kernel allows them,
// resource limits, no new privileges, no core dumps or tracing, and a seccomp filter that leaves
// only the channel, memory and the clock.

namespace retrieval {

struct Confinement {
    bool seccomp = false;  // the system call filter is in force
    bool isolated = false; // the namespaces are in force
};

// Confines the calling process, whose channel is `channelFd`, as far as the kernel allows.
// `refuseFilter` (test programs only) acts as a kernel that refuses the filter.
Confinement ConfineWorker(int channelFd, bool refuseFilter = false);

} // namespace retrieval
