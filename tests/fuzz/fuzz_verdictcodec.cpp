// What the window's process reads from the link check's worker: a frame header, the frame and the
// verdict in it. Whatever the worker sends, a verdict that passes is within the limits, and encoding
// it again gives exactly the bytes read (nothing was ignored or guessed).
#include "retrieval/sandbox/VerdictCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace wire = retrieval::wire;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.size() < wire::kHeaderBytes)
        return 0;
    const auto length = wire::FrameLength(input.substr(0, wire::kHeaderBytes), wire::kMaxAnswerBytes);
    if (!length || *length != input.size() - wire::kHeaderBytes)
        return 0;
    const auto frame = wire::ReadFrame(input.substr(wire::kHeaderBytes));
    if (!frame)
        return 0;
    if (frame->kind == wire::Kind::Hello) {
        if (const auto hello = wire::DecodeHello(frame->payload))
            Require(wire::EncodeHello(*hello) == frame->payload);
        return 0;
    }
    retrieval::LinkLimits limits;
    limits.maxLinksKept = 5;
    limits.maxLinksExamined = 50;
    const auto verdict = wire::DecodeVerdict(frame->payload, limits);
    if (!verdict)
        return 0;
    Require(verdict->links.size() <= verdict->linkCount && verdict->links.size() <= limits.maxLinksKept);
    Require(verdict->followCount <= verdict->linkCount && verdict->linkCount <= verdict->examined);
    Require(verdict->examined <= limits.maxLinksExamined);
    Require(wire::EncodeVerdict(*verdict) == frame->payload);
    Require(wire::MakeFrame(frame->kind, frame->payload) == input);
    return 0;
}
