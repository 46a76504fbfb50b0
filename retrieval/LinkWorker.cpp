#include "retrieval/LinkWorker.h"

#include "retrieval/VerdictCodec.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace retrieval {

namespace {

using Clock = std::chrono::steady_clock;

// How often a wait looks at the stop flag.
constexpr std::chrono::milliseconds kStopPoll{20};

bool workerCapable = false; // set once by RunLinkWorkerIfAsked, before any thread starts

enum class Io { Done, Closed, TimedOut, Stopped };

// Waits for `events` on `fd` until `deadline`, looking at `stop` in between.
Io Await(int fd, short events, Clock::time_point deadline, const std::atomic<bool>* stop) {
    for (;;) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed))
            return Io::Stopped;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Io::TimedOut;
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, static_cast<int>(std::min(left, kStopPoll).count()) + 1);
        if (n < 0 && errno != EINTR)
            return Io::Closed;
        if (n > 0)
            return Io::Done; // readable, writable, or hung up: the read or send says which
    }
}

Io Send(int fd, std::string_view data, Clock::time_point deadline, const std::atomic<bool>* stop) {
    while (!data.empty()) {
        const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return Io::Closed;
        if (const Io io = Await(fd, POLLOUT, deadline, stop); io != Io::Done)
            return io;
    }
    return Io::Done;
}

Io Receive(int fd, char* out, std::size_t size, Clock::time_point deadline, const std::atomic<bool>* stop) {
    while (size > 0) {
        const ssize_t n = recv(fd, out, size, MSG_DONTWAIT);
        if (n > 0) {
            out += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            return Io::Closed;
        if (const Io io = Await(fd, POLLIN, deadline, stop); io != Io::Done)
            return io;
    }
    return Io::Done;
}

// One frame of at most `max` bytes.
Io ReceiveFrame(int fd, std::uint32_t max, std::string& body, Clock::time_point deadline,
                const std::atomic<bool>* stop, bool& valid) {
    char header[wire::kHeaderBytes];
    if (const Io io = Receive(fd, header, sizeof header, deadline, stop); io != Io::Done)
        return io;
    const auto length = wire::FrameLength({header, sizeof header}, max);
    valid = length.has_value();
    if (!valid)
        return Io::Done;
    body.resize(*length);
    return Receive(fd, body.data(), body.size(), deadline, stop);
}

LinkVerdict Abandoned(LinkScan why) {
    LinkVerdict v;
    v.scan = why;
    return v;
}

} // namespace

LinkVerdict InProcessLinkChecker::check(std::string_view page, std::string_view finalUrl,
                                        const HeaderList& headers, std::string_view domain,
                                        const std::atomic<bool>* stop) {
    return FindLinks(page, finalUrl, headers, domain, LinkLimits(), stop);
}

WorkerLinkChecker::WorkerLinkChecker(std::string program, WorkerLimits limits)
    : program_(std::move(program)), limits_(limits) {}

WorkerLinkChecker::~WorkerLinkChecker() {
    finish();
}

bool WorkerLinkChecker::start(const std::atomic<bool>* stop) {
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return false;
    // Started with standard descriptors closed, the socket could sit where the worker's stdio goes.
    if (sockets[1] <= kWorkerFd) {
        const int high = fcntl(sockets[1], F_DUPFD_CLOEXEC, kWorkerFd + 1);
        close(sockets[1]);
        sockets[1] = high;
        if (high < 0) {
            close(sockets[0]);
            return false;
        }
    }
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&files);
    posix_spawnattr_init(&attributes);
    // Standard input, output and error lead nowhere; the socket is the only other descriptor.
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&files, sockets[1], kWorkerFd);
    posix_spawn_file_actions_addclosefrom_np(&files, kWorkerFd + 1);
    // A group of its own (a terminal's Ctrl+C is the window's to handle), default signal actions
    // and nothing blocked, whatever the calling thread has.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    std::string argument = kLinkWorkerArgument;
    std::string name = "quandrel-halmfang";
    char* argv[] = {name.data(), argument.data(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program_.c_str(), &files, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    close(sockets[1]);
    if (spawned != 0) {
        close(sockets[0]);
        return false;
    }
    pid_ = pid;
    fd_ = sockets[0];
    ++started_;
    // Ready once it says how it is confined.
    std::string body;
    bool valid = false;
    const Io io = ReceiveFrame(fd_, 64, body, Clock::now() + limits_.startUp, stop, valid);
    std::optional<wire::Frame> frame;
    if (io == Io::Done && valid)
        frame = wire::ReadFrame(body);
    std::optional<wire::Hello> hello;
    if (frame && frame->kind == wire::Kind::Hello)
        hello = wire::DecodeHello(frame->payload);
    if (!hello) {
        kill();
        return false;
    }
    seccomp_ = hello->seccomp;
    return true;
}

void WorkerLinkChecker::finish() {
    if (pid_ < 0)
        return;
    close(fd_); // the worker reads the end and leaves
    fd_ = -1;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        const timespec pause{0, 1'000'000};
        nanosleep(&pause, nullptr);
    }
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

LinkScan WorkerLinkChecker::kill() {
    ::kill(pid_, SIGKILL);
    reap();
    return LinkScan::WorkerTimedOut;
}

LinkScan WorkerLinkChecker::reap() {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    close(fd_);
    pid_ = fd_ = -1;
    if (WIFEXITED(status) && WEXITSTATUS(status) == kWorkerExitOutOfMemory)
        return LinkScan::WorkerOutOfMemory;
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
        return LinkScan::WorkerTimedOut; // its processor-time limit
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        return LinkScan::WorkerOutOfMemory; // not killed here: the kernel's out-of-memory killer
    return LinkScan::WorkerCrashed;
}

LinkVerdict WorkerLinkChecker::check(std::string_view page, std::string_view finalUrl,
                                     const HeaderList& headers, std::string_view domain,
                                     const std::atomic<bool>* stop) {
    const std::lock_guard lock(mutex_);
    if (pid_ < 0 && !start(stop))
        return Abandoned(stop != nullptr && *stop ? LinkScan::Stopped : LinkScan::WorkerUnavailable);
    const auto deadline = Clock::now() + limits_.wallClock;
    const std::string request =
        wire::MakeFrame(wire::Kind::Page, wire::EncodePage(page, finalUrl, headers, domain));
    Io io = Send(fd_, request, deadline, stop);
    std::string body;
    bool valid = true;
    if (io == Io::Done)
        io = ReceiveFrame(fd_, wire::kMaxAnswerBytes, body, deadline, stop, valid);
    switch (io) {
    case Io::Stopped:
        kill();
        return Abandoned(LinkScan::Stopped);
    case Io::TimedOut:
        return Abandoned(kill());
    case Io::Closed:
        return Abandoned(reap());
    case Io::Done:
        break;
    }
    std::optional<LinkVerdict> verdict;
    if (valid)
        if (const auto frame = wire::ReadFrame(body); frame && frame->kind == wire::Kind::Verdict)
            verdict = wire::DecodeVerdict(frame->payload, LinkLimits());
    if (!verdict) { // a worker that answers nonsense is no longer to be trusted
        kill();
        return Abandoned(LinkScan::WorkerCrashed);
    }
    // Replaced before its processor-time limit could end it in the middle of a page.
    clockid_t clock{};
    timespec used{};
    if (clock_getcpuclockid(pid_, &clock) == 0 && clock_gettime(clock, &used) == 0 &&
        used.tv_sec >= limits_.retireAfterCpu.count())
        finish();
    return *verdict;
}

SandboxState WorkerLinkChecker::sandbox() {
    const std::lock_guard lock(mutex_);
    if (pid_ < 0 && !start(nullptr))
        return SandboxState::Unavailable;
    return seccomp_ ? SandboxState::Seccomp : SandboxState::ResourceLimits;
}

std::optional<int> RunLinkWorkerIfAsked(int argc, char** argv, WorkerPageHook hook) {
    if (argc == 2 && std::strcmp(argv[1], kLinkWorkerArgument) == 0)
        _exit(RunLinkWorker(kWorkerFd, hook)); // no exit handlers: the filter would end them
    workerCapable = true;
    return std::nullopt;
}

WorkerLimits& DefaultWorkerLimits() {
    static WorkerLimits limits;
    return limits;
}

std::unique_ptr<LinkChecker> MakeLinkChecker() {
    if (!workerCapable)
        return std::make_unique<InProcessLinkChecker>();
    return std::make_unique<WorkerLinkChecker>("/proc/self/exe", DefaultWorkerLimits());
}

std::string SandboxLine() {
    if (!workerCapable)
        return "Sandbox: nicht aktiv (Seiten werden im Programm selbst geprüft)";
    switch (WorkerLinkChecker("/proc/self/exe", DefaultWorkerLimits()).sandbox()) {
    case SandboxState::Seccomp:
        return "Sandbox: aktiv (eigener Prüfprozess mit seccomp-Filter und Ressourcengrenzen)";
    case SandboxState::ResourceLimits:
        return "Sandbox: eingeschränkt (eigener Prüfprozess nur mit Ressourcengrenzen; seccomp vom System "
               "abgelehnt)";
    case SandboxState::Unavailable:
        break;
    }
    return "Sandbox: nicht verfügbar (Prüfprozess startet nicht)";
}

} // namespace retrieval
