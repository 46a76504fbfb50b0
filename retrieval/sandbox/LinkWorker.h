#pragma once
// The link check of untrusted pages, away from the window's process. A worker process (this same
// program, started with an internal argument) gives up every right parsing does not need, then
// checks one page after another that it reads from a socket, and answers each with a verdict
// (VerdictCodec.h). The window's process gives each page a wall-clock limit; a worker that
// crashes, runs out of time or memory, or answers nonsense is killed and replaced, and only that
// page's verdict says so.

#include "retrieval/page/LinkFinder.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace retrieval {

class WorkerProcess;

// Checks pages one at a time; `stop`, when given, ends a check early (LinkScan::Stopped).
class LinkChecker {
public:
    virtual ~LinkChecker() = default;
    virtual LinkVerdict check(std::string_view page, std::string_view finalUrl, const HeaderList& headers,
                              std::string_view domain, const std::atomic<bool>* stop) = 0;
    // A sentence for the user when the pages checked so far were checked without the system call
    // filter; empty otherwise.
    virtual std::string weakeningNotice() const { return {}; }
};

// FindLinks in this process: for tests and programs that cannot start a worker.
class InProcessLinkChecker final : public LinkChecker {
public:
    LinkVerdict check(std::string_view page, std::string_view finalUrl, const HeaderList& headers,
                      std::string_view domain, const std::atomic<bool>* stop) override;
};

struct WorkerLimits {
    std::chrono::milliseconds wallClock{10'000}; // per page, sending and answer included
    std::chrono::milliseconds startUp{5'000};    // until the worker reports ready
    std::chrono::seconds retireAfterCpu{60};     // a worker that used this much is replaced
};

// What a worker reports once it is ready.
enum class SandboxState {
    Seccomp,        // system call filter, resource limits, and namespaces where the kernel allows them
    Isolated,       // the kernel refused the filter: namespaces and resource limits
    ResourceLimits, // the kernel refused the filter and the namespaces: resource limits only
    Unavailable,    // no worker starts
};

class WorkerLinkChecker final : public LinkChecker {
public:
    // `program` is started with the internal argument; the first check starts it.
    explicit WorkerLinkChecker(std::string program, WorkerLimits limits = {});
    ~WorkerLinkChecker() override;
    WorkerLinkChecker(const WorkerLinkChecker&) = delete;
    WorkerLinkChecker& operator=(const WorkerLinkChecker&) = delete;

    LinkVerdict check(std::string_view page, std::string_view finalUrl, const HeaderList& headers,
                      std::string_view domain, const std::atomic<bool>* stop) override;

    // Starts a worker when none runs and says how it is confined.
    SandboxState sandbox();
    std::string weakeningNotice() const override;
    // Workers started so far.
    int started() const { return started_; }

private:
    bool start(const std::atomic<bool>* stop);
    void finish(); // asks the worker to end (closes its channel) and waits for it
    LinkScan kill();
    LinkScan reap(); // after the worker's end: why it ended

    std::string program_;
    WorkerLimits limits_;
    std::mutex mutex_; // one page at a time
    std::unique_ptr<WorkerProcess> process_;
    bool seccomp_ = false;
    bool isolated_ = false;
    std::atomic<bool> unfiltered_{false}; // a worker of this checker ran without the filter
    int started_ = 0;
};

// Called first thing in main(). When the arguments ask for the worker, runs it and returns its
// exit status. Otherwise remembers that this program can be started as the worker and returns
// nothing. `hook` (test programs only) sees each page before the worker checks it;
// `refuseFilter` (test programs only) makes the worker act as on a kernel that refuses the filter.
using WorkerPageHook = void (*)(std::string& page);
std::optional<int> RunLinkWorkerIfAsked(int argc, char** argv, WorkerPageHook hook = nullptr,
                                        bool refuseFilter = false);

// Those a Prüfe uses; tests may shorten them.
WorkerLimits& DefaultWorkerLimits();

// A worker when this program can be one (RunLinkWorkerIfAsked), else the check in this process.
std::unique_ptr<LinkChecker> MakeLinkChecker();

// One line for --version: whether pages are checked in the sandbox, and how it is confined.
std::string SandboxLine();

// The worker's side (LinkWorkerMain.cpp): runs on socket `fd` until the window's side closes it.
int RunLinkWorker(int fd, WorkerPageHook hook, bool refuseFilter);

inline constexpr const char* kLinkWorkerArgument = "--qh-link-worker";
inline constexpr int kWorkerFd = 3;
inline constexpr int kWorkerExitOutOfMemory = 3; // ran out of address space
inline constexpr int kWorkerExitProtocol = 4;    // the request was no valid frame

} // namespace retrieval
