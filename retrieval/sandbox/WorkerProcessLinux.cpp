// The worker's process on Linux: posix_spawn on a socket pair, poll(2) with a deadline, waitpid.
#include "retrieval/sandbox/LinkWorker.h"
#include "retrieval/sandbox/WorkerProcess.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace retrieval {

namespace {

// How often a wait looks at the stop flag.
constexpr std::chrono::milliseconds kStopPoll{20};

using Clock = WorkerProcess::Clock;

// Waits for `events` on `fd` until `deadline`, looking at `stop` in between.
ChannelIo Await(int fd, short events, Clock::time_point deadline, const std::atomic<bool>* stop) {
    for (;;) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed))
            return ChannelIo::Stopped;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return ChannelIo::TimedOut;
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, static_cast<int>(std::min(left, kStopPoll).count()) + 1);
        if (n < 0 && errno != EINTR)
            return ChannelIo::Closed;
        if (n > 0)
            return ChannelIo::Done; // readable, writable, or hung up: the read or send says which
    }
}

} // namespace

struct WorkerProcess::Handle {
    pid_t pid = -1;
    int fd = -1;
};

WorkerProcess::WorkerProcess(std::unique_ptr<Handle> handle) : h_(std::move(handle)) {}

std::unique_ptr<WorkerProcess> WorkerProcess::Start(const std::string& program, const std::string& argument) {
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return nullptr;
    // Started with standard descriptors closed, the socket could sit where the worker's stdio goes.
    if (sockets[1] <= kWorkerFd) {
        const int high = fcntl(sockets[1], F_DUPFD_CLOEXEC, kWorkerFd + 1);
        close(sockets[1]);
        sockets[1] = high;
        if (high < 0) {
            close(sockets[0]);
            return nullptr;
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
    std::string arg = argument;
    std::string name = "quandrel-halmfang";
    char* argv[] = {name.data(), arg.data(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &files, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    close(sockets[1]);
    if (spawned != 0) {
        close(sockets[0]);
        return nullptr;
    }
    auto handle = std::make_unique<Handle>();
    handle->pid = pid;
    handle->fd = sockets[0];
    return std::unique_ptr<WorkerProcess>(new WorkerProcess(std::move(handle)));
}

WorkerProcess::~WorkerProcess() {
    if (h_->pid < 0)
        return;
    close(h_->fd); // the worker reads the end and leaves
    for (int i = 0; i < 100; ++i) {
        if (waitpid(h_->pid, nullptr, WNOHANG) == h_->pid)
            return;
        const timespec pause{0, 1'000'000};
        nanosleep(&pause, nullptr);
    }
    ::kill(h_->pid, SIGKILL);
    waitpid(h_->pid, nullptr, 0);
}

ChannelIo WorkerProcess::send(std::string_view data, Clock::time_point deadline,
                              const std::atomic<bool>* stop) {
    while (!data.empty()) {
        const ssize_t n = ::send(h_->fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return ChannelIo::Closed;
        if (const ChannelIo io = Await(h_->fd, POLLOUT, deadline, stop); io != ChannelIo::Done)
            return io;
    }
    return ChannelIo::Done;
}

ChannelIo WorkerProcess::receive(char* out, std::size_t size, Clock::time_point deadline,
                                 const std::atomic<bool>* stop) {
    while (size > 0) {
        const ssize_t n = recv(h_->fd, out, size, MSG_DONTWAIT);
        if (n > 0) {
            out += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            return ChannelIo::Closed;
        if (const ChannelIo io = Await(h_->fd, POLLIN, deadline, stop); io != ChannelIo::Done)
            return io;
    }
    return ChannelIo::Done;
}

void WorkerProcess::kill() {
    ::kill(h_->pid, SIGKILL);
    reap();
}

WorkerEnd WorkerProcess::reap() {
    int status = 0;
    while (waitpid(h_->pid, &status, 0) < 0 && errno == EINTR) {
    }
    close(h_->fd);
    h_->pid = h_->fd = -1;
    if (WIFEXITED(status) && WEXITSTATUS(status) == kWorkerExitOutOfMemory)
        return WorkerEnd::OutOfMemory;
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
        return WorkerEnd::CpuLimit;
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        return WorkerEnd::OutOfMemory; // not killed by the checking side: the out-of-memory killer
    return WorkerEnd::Other;
}

std::chrono::seconds WorkerProcess::cpuTime() const {
    clockid_t clock{};
    timespec used{};
    if (h_->pid < 0 || clock_getcpuclockid(h_->pid, &clock) != 0 || clock_gettime(clock, &used) != 0)
        return std::chrono::seconds(0);
    return std::chrono::seconds(used.tv_sec);
}

std::string SelfProgram() {
    return "/proc/self/exe";
}

bool ChannelReadAll(int fd, char* data, std::size_t size) {
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

bool ChannelWriteAll(int fd, std::string_view data) {
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

void EndWorkerProcess(int status) {
    _exit(status);
}

} // namespace retrieval
