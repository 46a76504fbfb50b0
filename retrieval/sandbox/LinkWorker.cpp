#include "retrieval/sandbox/LinkWorker.h"

#include "retrieval/sandbox/VerdictCodec.h"
#include "retrieval/sandbox/WorkerProcess.h"

#include <cstring>

namespace retrieval {

namespace {

using Clock = WorkerProcess::Clock;

bool workerCapable = false; // set once by RunLinkWorkerIfAsked, before any thread starts

// One frame of at most `max` bytes.
ChannelIo ReceiveFrame(WorkerProcess& process, std::uint32_t max, std::string& body, Clock::time_point deadline,
                       const std::atomic<bool>* stop, bool& valid) {
    char header[wire::kHeaderBytes];
    if (const ChannelIo io = process.receive(header, sizeof header, deadline, stop); io != ChannelIo::Done)
        return io;
    const auto length = wire::FrameLength({header, sizeof header}, max);
    valid = length.has_value();
    if (!valid)
        return ChannelIo::Done;
    body.resize(*length);
    return process.receive(body.data(), body.size(), deadline, stop);
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
    process_ = WorkerProcess::Start(program_, kLinkWorkerArgument);
    if (!process_)
        return false;
    ++started_;
    // Ready once it says how it is confined.
    std::string body;
    bool valid = false;
    const ChannelIo io = ReceiveFrame(*process_, 64, body, Clock::now() + limits_.startUp, stop, valid);
    std::optional<wire::Frame> frame;
    if (io == ChannelIo::Done && valid)
        frame = wire::ReadFrame(body);
    std::optional<wire::Hello> hello;
    if (frame && frame->kind == wire::Kind::Hello)
        hello = wire::DecodeHello(frame->payload);
    if (!hello) {
        kill();
        return false;
    }
    seccomp_ = hello->seccomp;
    isolated_ = hello->isolated;
    if (!seccomp_)
        unfiltered_ = true;
    return true;
}

void WorkerLinkChecker::finish() {
    process_.reset();
}

LinkScan WorkerLinkChecker::kill() {
    process_->kill();
    process_.reset();
    return LinkScan::WorkerTimedOut;
}

LinkScan WorkerLinkChecker::reap() {
    const WorkerEnd end = process_->reap();
    process_.reset();
    switch (end) {
    case WorkerEnd::OutOfMemory:
        return LinkScan::WorkerOutOfMemory;
    case WorkerEnd::CpuLimit:
        return LinkScan::WorkerTimedOut; // its processor-time limit
    case WorkerEnd::Other:
        break;
    }
    return LinkScan::WorkerCrashed;
}

LinkVerdict WorkerLinkChecker::check(std::string_view page, std::string_view finalUrl,
                                     const HeaderList& headers, std::string_view domain,
                                     const std::atomic<bool>* stop) {
    const std::lock_guard lock(mutex_);
    if (!process_ && !start(stop))
        return Abandoned(stop != nullptr && *stop ? LinkScan::Stopped : LinkScan::WorkerUnavailable);
    const auto deadline = Clock::now() + limits_.wallClock;
    const std::string request =
        wire::MakeFrame(wire::Kind::Page, wire::EncodePage(page, finalUrl, headers, domain));
    ChannelIo io = process_->send(request, deadline, stop);
    std::string body;
    bool valid = true;
    if (io == ChannelIo::Done)
        io = ReceiveFrame(*process_, wire::kMaxAnswerBytes, body, deadline, stop, valid);
    switch (io) {
    case ChannelIo::Stopped:
        kill();
        return Abandoned(LinkScan::Stopped);
    case ChannelIo::TimedOut:
        return Abandoned(kill());
    case ChannelIo::Closed:
        return Abandoned(reap());
    case ChannelIo::Done:
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
    if (process_->cpuTime() >= limits_.retireAfterCpu)
        finish();
    return *verdict;
}

SandboxState WorkerLinkChecker::sandbox() {
    const std::lock_guard lock(mutex_);
    if (!process_ && !start(nullptr))
        return SandboxState::Unavailable;
    return seccomp_    ? SandboxState::Seccomp
           : isolated_ ? SandboxState::Isolated
                       : SandboxState::ResourceLimits;
}

std::string WorkerLinkChecker::weakeningNotice() const {
    if (!unfiltered_)
        return {};
    return "Hinweis: Dieses System lässt den Systemaufruf-Filter (seccomp) nicht zu. Die Seiten wurden "
           "deshalb in einem Prüfprozess geprüft, der nur durch Ressourcengrenzen" +
           std::string(isolated_ ? " und eigene Namensräume (kein Dateizugriff, kein Netz)" : "") +
           " eingeschränkt ist.";
}

std::optional<int> RunLinkWorkerIfAsked(int argc, char** argv, WorkerPageHook hook, bool refuseFilter) {
    if (argc == 2 && std::strcmp(argv[1], kLinkWorkerArgument) == 0)
        EndWorkerProcess(RunLinkWorker(kWorkerFd, hook, refuseFilter));
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
    return std::make_unique<WorkerLinkChecker>(SelfProgram(), DefaultWorkerLimits());
}

std::string SandboxLine() {
    if (!workerCapable)
        return "Sandbox: nicht aktiv (Seiten werden im Programm selbst geprüft)";
    switch (WorkerLinkChecker(SelfProgram(), DefaultWorkerLimits()).sandbox()) {
    case SandboxState::Seccomp:
        return "Sandbox: aktiv (eigener Prüfprozess mit seccomp-Filter und Ressourcengrenzen)";
    case SandboxState::Isolated:
        return "Sandbox: eingeschränkt (eigener Prüfprozess ohne seccomp-Filter, den das System ablehnt; "
               "eigene Namensräume ohne Dateien und Netz, Ressourcengrenzen)";
    case SandboxState::ResourceLimits:
        return "Sandbox: eingeschränkt (eigener Prüfprozess nur mit Ressourcengrenzen; seccomp und "
               "Namensräume vom System abgelehnt)";
    case SandboxState::Unavailable:
        break;
    }
    return "Sandbox: nicht verfügbar (Prüfprozess startet nicht)";
}

} // namespace retrieval
