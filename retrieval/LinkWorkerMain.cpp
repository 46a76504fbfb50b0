// The worker's side of the link check: confine the process, then check page after page.
#include "retrieval/LinkWorker.h"
#include "retrieval/VerdictCodec.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <new>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace retrieval {

namespace {

constexpr rlim_t kAddressSpace = rlim_t{512} << 20; // beyond what the program maps at its start
constexpr rlim_t kCpuSeconds = 90;                  // the window's side replaces it at 60

bool ReadAll(int fd, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

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

void SetResourceLimits() {
    Limit(RLIMIT_AS, MappedNow() + kAddressSpace, MappedNow() + kAddressSpace);
    Limit(RLIMIT_CPU, kCpuSeconds, kCpuSeconds + 1);
    Limit(RLIMIT_CORE, 0, 0);
    Limit(RLIMIT_FSIZE, 0, 0);
    Limit(RLIMIT_NOFILE, kWorkerFd + 1, kWorkerFd + 1); // no descriptor beyond stdio and the socket
    Limit(RLIMIT_NPROC, 0, 0);                          // no new processes where the filter is missing
    Limit(RLIMIT_MEMLOCK, 0, 0);
}

// Only what parsing needs: reading and writing the socket, memory (never executable), the
// processor-time clock of the parse limit, futex (the C++ runtime sets itself up once when the
// first exception is thrown), and the end. Any other call ends the process.
bool InstallFilter() {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr)
        return false;
    const auto allow = [filter](int call, unsigned count = 0, scmp_arg_cmp arg = {}) {
        return count == 0 ? seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0
                          : seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 1, arg) == 0;
    };
    bool ok = allow(SCMP_SYS(read), 1, SCMP_A0(SCMP_CMP_EQ, kWorkerFd, 0)) &&
              allow(SCMP_SYS(write), 1, SCMP_A0(SCMP_CMP_EQ, kWorkerFd, 0)) &&
              allow(SCMP_SYS(mmap), 1, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) &&
              allow(SCMP_SYS(mprotect), 1, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) &&
              allow(SCMP_SYS(munmap)) && allow(SCMP_SYS(mremap)) && allow(SCMP_SYS(brk)) &&
              allow(SCMP_SYS(madvise)) && allow(SCMP_SYS(futex)) && allow(SCMP_SYS(clock_gettime)) &&
              allow(SCMP_SYS(exit_group)) && allow(SCMP_SYS(exit)) && allow(SCMP_SYS(rt_sigreturn));
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

// Libraries that set themselves up on first use (IDNA tables) do so before the filter is in force.
void WarmUp() {
    FindLinks("<a href='http://b\xC3\xBC"
              "cher.example/x'>x</a>",
              "http://a.example/", {{"X-Robots-Tag", "noindex"}},
              "b\xC3\xBC"
              "cher.example");
}

} // namespace

int RunLinkWorker(int fd, WorkerPageHook hook) {
    try {
        WarmUp();
        SetResourceLimits();
        prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
        const bool seccomp = InstallFilter();
        if (!WriteAll(fd, wire::MakeFrame(wire::Kind::Hello, wire::EncodeHello({seccomp}))))
            return 0;
        std::string body;
        for (;;) {
            char header[wire::kHeaderBytes];
            if (!ReadAll(fd, header, sizeof header))
                return 0; // the window's side is done
            const auto length = wire::FrameLength({header, sizeof header}, wire::kMaxRequestBytes);
            if (!length)
                return kWorkerExitProtocol;
            body.resize(*length);
            if (!ReadAll(fd, body.data(), body.size()))
                return 0;
            const auto frame = wire::ReadFrame(body);
            std::optional<wire::PageRequest> request;
            if (frame && frame->kind == wire::Kind::Page)
                request = wire::DecodePage(frame->payload);
            if (!request)
                return kWorkerExitProtocol;
            body = {};
            if (hook != nullptr)
                hook(request->page);
            const LinkVerdict verdict =
                FindLinks(request->page, request->finalUrl, request->headers, request->domain);
            if (!WriteAll(fd, wire::MakeFrame(wire::Kind::Verdict, wire::EncodeVerdict(verdict))))
                return 0;
        }
    } catch (const std::bad_alloc&) {
        return kWorkerExitOutOfMemory;
    }
}

} // namespace retrieval
