#pragma once
// Whether a fetched page links to a domain, and how: every a[href] and area[href] whose target
// host is the domain or one of its subdomains, with its rel tokens and anchor text, and the
// robots directives of the page. The page is parsed as HTML5 (gumbo) within limits of time and
// memory, so that a hostile page costs a bounded effort.

#include "retrieval/page/Headers.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace retrieval {

struct PageLink {
    std::string target;        // absolute, after <base> and the page address
    std::string hostAsWritten; // the target's host as the page spells it
    std::string anchor;        // text with white space collapsed, or an image's alt text
    bool image = false;        // an image (or image-map area) is the anchor
    bool nofollow = false;
    bool sponsored = false;
    bool ugc = false;

    bool followed() const { return !nofollow && !sponsored && !ugc; }
};

// noindex / nofollow from <meta name="robots|googlebot"> and from X-Robots-Tag headers;
// "none" counts as both.
struct RobotsDirectives {
    bool metaNoindex = false;
    bool metaNofollow = false;
    bool headerNoindex = false;
    bool headerNofollow = false;

    bool noindex() const { return metaNoindex || headerNoindex; }
    bool nofollow() const { return metaNofollow || headerNofollow; }
};

enum class LinkScan {
    Complete,
    CapReached, // more links on the page than LinkLimits::maxLinksExamined: the rest unseen
    TooLarge,   // the parse needed more memory than allowed: nothing found
    TooSlow,    // the parse took more processor time than allowed: nothing found
    Stopped,    // asked to stop: nothing found
    NoDomain,   // the domain text names no host: nothing looked for
    OnDomain,   // the page itself lies on the domain (a linking page now leads there): no link counted
    Failed,     // the check itself failed (out of memory, no thread): nothing found
    // The worker process that checks pages (LinkWorker.h) gave up on the page: nothing found.
    WorkerCrashed,     // it died
    WorkerTimedOut,    // it did not answer in time, or used up its processor time
    WorkerOutOfMemory, // it ran out of address space
    WorkerUnavailable, // it could not be started
    // No link in the page's HTML, but scripts that may build one, and no browser could show the
    // page as a person sees it (retrieval/ScriptedPages.h): its links count as unread.
    NeedsBrowser,
};

struct LinkLimits {
    std::size_t maxLinksExamined = 10'000;               // a and area elements with href, per page
    std::size_t maxLinksKept = 100;                      // links to the domain kept with their details
    std::size_t maxParserBytes = std::size_t{300} << 20; // as malloc counts it
    std::chrono::milliseconds maxParseTime{4000};        // processor time of the parse
};

inline constexpr std::size_t kMaxScriptsCounted = 1000;

struct LinkVerdict {
    LinkScan scan = LinkScan::Complete;
    std::vector<PageLink> links; // to the domain, in page order, at most maxLinksKept
    std::size_t linkCount = 0;   // links to the domain among the examined ones
    std::size_t followCount = 0; // of those, without nofollow, sponsored or ugc in their rel
    std::size_t examined = 0;
    RobotsDirectives robots;
    std::size_t parserPeakBytes = 0; // the parse tree at its largest

    // What the page says of itself (soft 404, canonical address); set only for a parsed page.
    std::string title;     // the first <title> as shown: white space collapsed, at most 300 characters
    std::string heading;   // the first <h1>, likewise
    std::string canonical; // rel=canonical of a <link> in the head, else of a Link header; absolute
    // What the page runs itself: script elements with a src or with code that a browser runs,
    // counted up to kMaxScriptsCounted. A page without a link in its HTML may add one with them.
    std::size_t scripts = 0;

    bool parsed() const { return scan == LinkScan::Complete || scan == LinkScan::CapReached; }
};

// `page` is the decoded page (UTF-8), `finalUrl` the address it came from after redirects,
// `headers` those of its answer. The domain may also be typed as an address
// ("https://shop.example/"), and a leading "www." of it is optional; hosts compare
// case-insensitively in either IDNA form. `stop`, when
// given, is polled during the parse. Nothing the page holds makes this throw, and nothing past
// the view is read.
LinkVerdict FindLinks(std::string_view page, std::string_view finalUrl, const HeaderList& headers,
                      std::string_view domain, const LinkLimits& limits = {},
                      const std::atomic<bool>* stop = nullptr);

// The host whose links count for the domain field's text, as FindLinks takes it: lower-case
// IDNA ASCII form, no port, no final dot, no leading "www." (unless only a top-level name would
// remain); empty when the text names no host.
std::string LinkDomainHost(std::string_view domain);

} // namespace retrieval
