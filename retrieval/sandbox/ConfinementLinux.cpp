// The worker's confinement on Linux: resource limits, no new privileges, a seccomp filter.
#include "retrieval/sandbox/Confinement.h"

#include <cstdio>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace retrieval {

namespace {

constexpr rlim_t kAddressSpace = rlim_t{512} << 20; // beyond what the program maps at its start
constexpr rlim_t kCpuSeconds = 90;                  // the window's side replaces it at 60

// The address space mapped now: the program and its libraries (and a sanitizer's reserve).
rlim_t MappedNow() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    if (statm != nullptr) {
        if (std::fscanf(statm, "%lu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    return static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

void Limit(int resource, rlim_t soft, rlim_t hard) {
    const rlimit limit{soft, hard};
    setrlimit(resource, &limit);
}

void SetResourceLimits(int channelFd) {
    Limit(RLIMIT_AS, MappedNow() + kAddressSpace, MappedNow() + kAddressSpace);
    Limit(RLIMIT_CPU, kCpuSeconds, kCpuSeconds + 1);
    Limit(RLIMIT_CORE, 0, 0);
    Limit(RLIMIT_FSIZE, 0, 0);
    Limit(RLIMIT_NOFILE, channelFd + 1, channelFd + 1); // no descriptor beyond stdio and the socket
    Limit(RLIMIT_NPROC, 0, 0);                          // no new processes where the filter is missing
    Limit(RLIMIT_MEMLOCK, 0, 0);
}

// Only what parsing needs: reading and writing the socket, memory (never executable), the
// processor-time clock of the parse limit, futex (the C++ runtime sets itself up once when the
// first exception is thrown), and the end. Any other call ends the process.
bool InstallFilter(int channelFd) {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr)
        return false;
    const auto allow = [filter](int call, unsigned count = 0, scmp_arg_cmp arg = {}) {
        return count == 0 ? seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0
                          : seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 1, arg) == 0;
    };
    bool ok = allow(SCMP_SYS(read), 1, SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(channelFd), 0)) &&
              allow(SCMP_SYS(write), 1, SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(channelFd), 0)) &&
              allow(SCMP_SYS(mmap), 1, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) &&
              allow(SCMP_SYS(mprotect), 1, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) &&
              allow(SCMP_SYS(munmap)) && allow(SCMP_SYS(mremap)) && allow(SCMP_SYS(brk)) &&
              allow(SCMP_SYS(madvise)) && allow(SCMP_SYS(futex)) && allow(SCMP_SYS(clock_gettime)) &&
              allow(SCMP_SYS(exit_group)) && allow(SCMP_SYS(exit)) && allow(SCMP_SYS(rt_sigreturn));
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

} // namespace

bool ConfineWorker(int channelFd) {
    SetResourceLimits(channelFd);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    return InstallFilter(channelFd);
}

} // namespace retrieval
