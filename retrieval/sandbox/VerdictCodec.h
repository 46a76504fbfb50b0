#pragma once
// The small format the link check's worker process and the window's process speak over their
// socket. Every message is one frame: a 4-byte little-endian length of what follows, a version
// byte, a kind byte and the payload. Nothing read from the worker is trusted: a frame of the wrong
// version, a length past the frame, a count larger than the limits allow or trailing bytes make
// the whole answer invalid.

#include "retrieval/page/LinkFinder.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace retrieval::wire {

// 2: a verdict ends with the page's title, heading and canonical address; 3: and its script count.
inline constexpr std::uint8_t kVersion = 3;
inline constexpr std::size_t kHeaderBytes = 4;
// A request holds a page of at most 16 MiB and its headers; an answer at most maxLinksKept links.
inline constexpr std::uint32_t kMaxRequestBytes = 64u << 20;
inline constexpr std::uint32_t kMaxAnswerBytes = 16u << 20;

enum class Kind : std::uint8_t {
    Hello = 1,   // worker -> window, once it has given up its rights: the sandbox's state
    Page = 2,    // window -> worker: one page to check
    Verdict = 3, // worker -> window: what the check found
};

struct Frame {
    Kind kind{};
    std::string_view payload;
};

struct PageRequest {
    std::string page;
    std::string finalUrl;
    HeaderList headers;
    std::string domain;
};

// What the worker reports of itself once it is ready.
struct Hello {
    bool seccomp = false;  // the system call filter is in force
    bool isolated = false; // namespaces of its own: an empty read-only file system, no network
};

// A whole frame, header included.
std::string MakeFrame(Kind kind, std::string_view payload);
// The length the header announces, when it is within `max` and can hold version and kind.
std::optional<std::uint32_t> FrameLength(std::string_view header, std::uint32_t max);
// The body after the header: version and kind checked.
std::optional<Frame> ReadFrame(std::string_view body);

std::string EncodePage(std::string_view page, std::string_view finalUrl, const HeaderList& headers,
                       std::string_view domain);
std::optional<PageRequest> DecodePage(std::string_view payload);

std::string EncodeHello(const Hello& hello);
std::optional<Hello> DecodeHello(std::string_view payload);

std::string EncodeVerdict(const LinkVerdict& verdict);
// Valid only within `limits` (the counts the finder can give at most) and with every count
// consistent with the others.
std::optional<LinkVerdict> DecodeVerdict(std::string_view payload, const LinkLimits& limits);

} // namespace retrieval::wire
