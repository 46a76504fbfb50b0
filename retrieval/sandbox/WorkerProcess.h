#pragma once
// The worker's process as the checking side needs it: started with one channel as its only link,
// written and read with a deadline, killed, and why it ended. WorkerProcessLinux.cpp starts it with
// posix_spawn on a socket pair; a port adds its own file and leaves the check's logic as it is.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace retrieval {

enum class ChannelIo { Done, Closed, TimedOut, Stopped };

// Why a worker's process ended.
enum class WorkerEnd {
    OutOfMemory, // it said so by its exit status, or the kernel's out-of-memory killer ended it
    CpuLimit,    // its processor-time limit
    Other,       // a crash or any other end
};

class WorkerProcess {
public:
    using Clock = std::chrono::steady_clock;

    // Starts `program` with `argument`. Its standard streams lead nowhere, the channel is its only
    // other descriptor, it runs in a process group of its own with default signal actions. Null
    // when it cannot be started.
    static std::unique_ptr<WorkerProcess> Start(const std::string& program, const std::string& argument);
    // Lets it end by closing the channel, and kills it when it has not ended shortly after.
    ~WorkerProcess();
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    // Both wait until `deadline`, looking at `stop` (when given) in between.
    ChannelIo send(std::string_view data, Clock::time_point deadline, const std::atomic<bool>* stop);
    ChannelIo receive(char* out, std::size_t size, Clock::time_point deadline, const std::atomic<bool>* stop);

    // Kills it at once and waits for it.
    void kill();
    // Waits for its end after the channel closed under it.
    WorkerEnd reap();
    // The processor time it has used so far.
    std::chrono::seconds cpuTime() const;

private:
    struct Handle;
    explicit WorkerProcess(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> h_;
};

// This program, to be started as the worker.
std::string SelfProgram();

// The worker's side of the channel: whole buffers, blocking.
bool ChannelReadAll(int fd, char* data, std::size_t size);
bool ChannelWriteAll(int fd, std::string_view data);

// Ends the worker's process at once, without exit handlers (the filter would end them).
[[noreturn]] void EndWorkerProcess(int status);

} // namespace retrieval
