// The worker's confinement on Linux: namespaces, resource limits, no new privileges, a seccomp filter.
#include "retrieval/sandbox/Confinement.h"

#include <cstdio>
#include <initializer_list>
#include <linux/capability.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
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

void SetResourceLimits(int channelFd, rlim_t mapped) {
    Limit(RLIMIT_AS, mapped + kAddressSpace, mapped + kAddressSpace);
    Limit(RLIMIT_CPU, kCpuSeconds, kCpuSeconds + 1);
    Limit(RLIMIT_CORE, 0, 0);
    Limit(RLIMIT_FSIZE, 0, 0);
    Limit(RLIMIT_NOFILE, channelFd + 1, channelFd + 1); // no descriptor beyond stdio and the socket
    Limit(RLIMIT_NPROC, 0, 0);                          // no new processes (execve is not stopped by it)
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

// Namespaces of its own, so that even without the filter the worker reaches nothing: a new user
// namespace (no uid map: it owns no file), an empty network namespace, and a mount namespace whose
// root is an empty, read-only tmpfs with the old root detached; then no capabilities at all.
// False where the kernel allows no unprivileged user namespaces, or a step fails.
bool Isolate() {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWIPC) != 0)
        return false;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    // Any folder will do as the mount point: the mount is seen in this namespace only.
    const char* point = nullptr;
    for (const char* candidate : {"/tmp", "/mnt", "/var/tmp", "/dev"})
        if (mount("none", candidate, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "size=4k,mode=0555") == 0) {
            point = candidate;
            break;
        }
    // pivot_root(".", ".") stacks the old root on the new one, which the detach then removes.
    if (point == nullptr || chdir(point) != 0 || syscall(SYS_pivot_root, ".", ".") != 0 ||
        umount2(".", MNT_DETACH) != 0 || chdir("/") != 0)
        return false;
    mount(nullptr, "/", nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr);
    for (int cap = 0; cap <= 63; ++cap)
        prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    return syscall(SYS_capset, &header, data) == 0;
}

} // namespace

Confinement ConfineWorker(int channelFd, bool refuseFilter) {
    const rlim_t mapped = MappedNow(); // while /proc is still there
    Confinement confinement;
    confinement.isolated = Isolate();
    SetResourceLimits(channelFd, mapped);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0); // no core file, no tracing by the user's other processes
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    confinement.seccomp = !refuseFilter && InstallFilter(channelFd);
    return confinement;
}

} // namespace retrieval
