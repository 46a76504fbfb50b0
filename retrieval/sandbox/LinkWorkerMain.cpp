// The worker's side of the link check: confine the process, then check page after page.
#include "retrieval/sandbox/Confinement.h"
#include "retrieval/sandbox/LinkWorker.h"
#include "retrieval/sandbox/VerdictCodec.h"
#include "retrieval/sandbox/WorkerProcess.h"

#include <new>

namespace retrieval {

namespace {

// Libraries that set themselves up on first use (IDNA tables) do so before the filter is in force.
void WarmUp() {
    FindLinks("<a href='http://b\xC3\xBC"
              "cher.example/x'>x</a>",
              "http://a.example/", {{"X-Robots-Tag", "noindex"}},
              "b\xC3\xBC"
              "cher.example");
}

} // namespace

int RunLinkWorker(int fd, WorkerPageHook hook, bool refuseFilter) {
    try {
        WarmUp();
        const Confinement confinement = ConfineWorker(fd, refuseFilter);
        if (!ChannelWriteAll(fd,
                             wire::MakeFrame(wire::Kind::Hello,
                                             wire::EncodeHello({confinement.seccomp, confinement.isolated}))))
            return 0;
        std::string body;
        for (;;) {
            char header[wire::kHeaderBytes];
            if (!ChannelReadAll(fd, header, sizeof header))
                return 0; // the window's side is done
            const auto length = wire::FrameLength({header, sizeof header}, wire::kMaxRequestBytes);
            if (!length)
                return kWorkerExitProtocol;
            body.resize(*length);
            if (!ChannelReadAll(fd, body.data(), body.size()))
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
            if (!ChannelWriteAll(fd, wire::MakeFrame(wire::Kind::Verdict, wire::EncodeVerdict(verdict))))
                return 0;
        }
    } catch (const std::bad_alloc&) {
        return kWorkerExitOutOfMemory;
    }
}

} // namespace retrieval
