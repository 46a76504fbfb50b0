#include "retrieval/sandbox/VerdictCodec.h"

#include <algorithm>

namespace retrieval::wire {

namespace {

// One string the worker sends (a target, a host, an anchor): the finder keeps each below 64 KiB.
constexpr std::uint32_t kMaxFieldBytes = 128u << 10;
// A title or heading: the finder keeps 300 characters of it.
constexpr std::uint32_t kMaxShownTextBytes = 4u << 10;
constexpr std::uint32_t kMaxHeaders = 1000;

void PutU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutU64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutText(std::string& out, std::string_view text) {
    PutU32(out, static_cast<std::uint32_t>(text.size()));
    out += text;
}

// Reads fields front to back; the first read past the end or past a bound spoils the rest.
class Reader {
public:
    explicit Reader(std::string_view data) : rest_(data) {}

    std::uint64_t number(int bytes) {
        if (!ok_ || rest_.size() < static_cast<std::size_t>(bytes))
            return fail();
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= std::uint64_t{static_cast<unsigned char>(rest_[static_cast<std::size_t>(i)])} << (8 * i);
        rest_.remove_prefix(static_cast<std::size_t>(bytes));
        return v;
    }
    std::uint8_t u8() { return static_cast<std::uint8_t>(number(1)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(number(4)); }
    std::uint64_t u64() { return number(8); }

    std::string text(std::uint32_t max) {
        const std::uint32_t size = u32();
        if (!ok_ || size > max || size > rest_.size()) {
            fail();
            return {};
        }
        std::string out(rest_.substr(0, size));
        rest_.remove_prefix(size);
        return out;
    }

    std::size_t left() const { return rest_.size(); }
    bool ok() const { return ok_; }
    void require(bool condition) { ok_ = ok_ && condition; }
    // All read, nothing left over.
    bool done() const { return ok_ && rest_.empty(); }

private:
    std::uint64_t fail() {
        ok_ = false;
        return 0;
    }

    std::string_view rest_;
    bool ok_ = true;
};

constexpr std::uint8_t kImage = 1, kNofollow = 2, kSponsored = 4, kUgc = 8;
constexpr std::uint8_t kMetaNoindex = 1, kMetaNofollow = 2, kHeaderNoindex = 4, kHeaderNofollow = 8;

} // namespace

std::string MakeFrame(Kind kind, std::string_view payload) {
    std::string out;
    out.reserve(kHeaderBytes + 2 + payload.size());
    PutU32(out, static_cast<std::uint32_t>(payload.size() + 2));
    out += static_cast<char>(kVersion);
    out += static_cast<char>(kind);
    out += payload;
    return out;
}

std::optional<std::uint32_t> FrameLength(std::string_view header, std::uint32_t max) {
    Reader r(header);
    const std::uint32_t length = r.u32();
    if (!r.done() || length < 2 || length > max)
        return std::nullopt;
    return length;
}

std::optional<Frame> ReadFrame(std::string_view body) {
    if (body.size() < 2 || static_cast<std::uint8_t>(body[0]) != kVersion)
        return std::nullopt;
    const auto kind = static_cast<std::uint8_t>(body[1]);
    if (kind < static_cast<std::uint8_t>(Kind::Hello) || kind > static_cast<std::uint8_t>(Kind::Verdict))
        return std::nullopt;
    return Frame{static_cast<Kind>(kind), body.substr(2)};
}

std::string EncodePage(std::string_view page, std::string_view finalUrl, const HeaderList& headers,
                       std::string_view domain) {
    std::string out;
    out.reserve(page.size() + finalUrl.size() + domain.size() + 64);
    PutText(out, page);
    PutText(out, finalUrl);
    PutText(out, domain);
    PutU32(out, static_cast<std::uint32_t>(headers.size()));
    for (const auto& [name, value] : headers) {
        PutText(out, name);
        PutText(out, value);
    }
    return out;
}

std::optional<PageRequest> DecodePage(std::string_view payload) {
    Reader r(payload);
    PageRequest request;
    request.page = r.text(kMaxRequestBytes);
    request.finalUrl = r.text(kMaxRequestBytes);
    request.domain = r.text(kMaxRequestBytes);
    const std::uint32_t headers = r.u32();
    r.require(headers <= kMaxHeaders && headers <= r.left() / 8);
    for (std::uint32_t i = 0; i < headers && r.ok(); ++i) {
        std::string name = r.text(kMaxRequestBytes);
        std::string value = r.text(kMaxRequestBytes);
        request.headers.emplace_back(std::move(name), std::move(value));
    }
    r.require(request.headers.size() == headers);
    if (!r.done())
        return std::nullopt;
    return request;
}

std::string EncodeHello(const Hello& hello) {
    return std::string(1, static_cast<char>((hello.seccomp ? 1 : 0) | (hello.isolated ? 2 : 0)));
}

std::optional<Hello> DecodeHello(std::string_view payload) {
    Reader r(payload);
    const std::uint8_t flags = r.u8();
    r.require(flags <= 3);
    if (!r.done())
        return std::nullopt;
    return Hello{(flags & 1) != 0, (flags & 2) != 0};
}

std::string EncodeVerdict(const LinkVerdict& v) {
    std::string out;
    out += static_cast<char>(v.scan);
    const RobotsDirectives& robots = v.robots;
    out += static_cast<char>(
        (robots.metaNoindex ? kMetaNoindex : 0) | (robots.metaNofollow ? kMetaNofollow : 0) |
        (robots.headerNoindex ? kHeaderNoindex : 0) | (robots.headerNofollow ? kHeaderNofollow : 0));
    PutU64(out, v.linkCount);
    PutU64(out, v.followCount);
    PutU64(out, v.examined);
    PutU64(out, v.parserPeakBytes);
    PutU32(out, static_cast<std::uint32_t>(v.links.size()));
    for (const PageLink& link : v.links) {
        out += static_cast<char>((link.image ? kImage : 0) | (link.nofollow ? kNofollow : 0) |
                                 (link.sponsored ? kSponsored : 0) | (link.ugc ? kUgc : 0));
        PutText(out, link.target);
        PutText(out, link.hostAsWritten);
        PutText(out, link.anchor);
    }
    PutText(out, v.title);
    PutText(out, v.heading);
    PutText(out, v.canonical);
    // Facts of the page beyond its links.
    PutU32(out, static_cast<std::uint32_t>(v.scripts));
    return out;
}

std::optional<LinkVerdict> DecodeVerdict(std::string_view payload, const LinkLimits& limits) {
    Reader r(payload);
    LinkVerdict v;
    const std::uint8_t scan = r.u8();
    // The finder's own outcomes only; those about the worker are the window's to give.
    r.require(scan <= static_cast<std::uint8_t>(LinkScan::Failed));
    v.scan = static_cast<LinkScan>(scan);
    const std::uint8_t robots = r.u8();
    r.require(robots < 16);
    v.robots = {(robots & kMetaNoindex) != 0, (robots & kMetaNofollow) != 0, (robots & kHeaderNoindex) != 0,
                (robots & kHeaderNofollow) != 0};
    const std::uint64_t linkCount = r.u64();
    const std::uint64_t followCount = r.u64();
    const std::uint64_t examined = r.u64();
    const std::uint64_t peak = r.u64();
    r.require(examined <= limits.maxLinksExamined && linkCount <= examined && followCount <= linkCount &&
              peak <= limits.maxParserBytes);
    v.linkCount = static_cast<std::size_t>(linkCount);
    v.followCount = static_cast<std::size_t>(followCount);
    v.examined = static_cast<std::size_t>(examined);
    v.parserPeakBytes = static_cast<std::size_t>(peak);
    const std::uint32_t kept = r.u32();
    r.require(kept <= std::min<std::uint64_t>(linkCount, limits.maxLinksKept) && kept <= r.left() / 13);
    // A page that was not parsed has no links.
    r.require(v.parsed() || (linkCount == 0 && examined == 0));
    std::size_t followedKept = 0;
    for (std::uint32_t i = 0; i < kept && r.ok(); ++i) {
        PageLink link;
        const std::uint8_t flags = r.u8();
        r.require(flags < 16);
        link.image = (flags & kImage) != 0;
        link.nofollow = (flags & kNofollow) != 0;
        link.sponsored = (flags & kSponsored) != 0;
        link.ugc = (flags & kUgc) != 0;
        link.target = r.text(kMaxFieldBytes);
        link.hostAsWritten = r.text(kMaxFieldBytes);
        link.anchor = r.text(kMaxFieldBytes);
        followedKept += link.followed() ? 1 : 0;
        v.links.push_back(std::move(link));
    }
    r.require(v.links.size() == kept);
    // Every kept followed link is counted; with all links kept, the counts are exactly theirs.
    r.require(followedKept <= v.followCount && v.followCount - followedKept <= v.linkCount - kept);
    v.title = r.text(kMaxShownTextBytes);
    v.heading = r.text(kMaxShownTextBytes);
    v.canonical = r.text(kMaxFieldBytes);
    r.require(v.parsed() || (v.title.empty() && v.heading.empty() && v.canonical.empty()));
    // Facts of the page beyond its links; a page that was not parsed has none.
    const std::uint32_t scripts = r.u32();
    r.require(scripts <= kMaxScriptsCounted && (v.parsed() || scripts == 0));
    v.scripts = scripts;
    if (!r.done())
        return std::nullopt;
    return v;
}

} // namespace retrieval::wire
