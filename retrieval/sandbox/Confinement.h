#pragma once
// What the worker gives up before it reads the first page. ConfinementLinux.cpp: resource limits,
// no new privileges and a seccomp filter that leaves only the channel, memory and the clock.

namespace retrieval {

// Confines the calling process, whose channel is `channelFd`. True when the system call filter is
// in force; false when the kernel refused it and only the limits hold.
bool ConfineWorker(int channelFd);

} // namespace retrieval
