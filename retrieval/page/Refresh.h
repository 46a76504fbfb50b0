#pragma once
// A page that sends the browser on to another address without an HTTP redirect: a Refresh header
// or a <meta http-equiv="refresh"> (found by a bounded prescan, PageText.h). Fetching follows it
// as a redirect.

#include "retrieval/page/Headers.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace retrieval {

// A refresh later than this is a page that reloads or moves on after a while (a slide show, the
// end of a session), not one that forwards: a person sees the page itself.
inline constexpr std::chrono::seconds kMaxRefreshDelay{30};

// Where the answer for `pageUrl` forwards to: an absolute http or https address other than the
// page's own (a fragment aside). As in a browser, the first valid refresh decides, a reload
// included: a Refresh header before the page's meta element, which counts only for an HTML answer
// (or one without a Content-Type).
std::optional<std::string> RefreshTarget(std::string_view pageUrl, const HeaderList& headers,
                                         std::string_view contentType, std::string_view body);

namespace detail {
struct DeclarativeRefresh {
    std::chrono::seconds delay{0};
    std::optional<std::string> url; // as written; none: the page reloads itself
};
// A Refresh value ("5; url=/neu") read as the HTML standard's declarative refresh steps read it.
std::optional<DeclarativeRefresh> ParseRefresh(std::string_view value);
} // namespace detail

} // namespace retrieval
