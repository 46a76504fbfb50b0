#pragma once
// Pages that build their links with scripts. A page whose HTML holds scripts but no link to the
// domain is shown in a headless browser, and the document it shows is checked as any page is, in
// the worker. Where no browser can show it, its links count as unread: monitoring must not call
// a link removed that a person in a browser still sees.

#include "retrieval/LinkReport.h"
#include "retrieval/render/PageRenderer.h"
#include "retrieval/sandbox/LinkWorker.h"

#include <atomic>
#include <chrono>
#include <string_view>

namespace retrieval {

// How a Prüfe treats such pages.
struct BrowserCheck {
    PageRenderer* renderer = nullptr; // null: none was found, or the user switched it off
    bool switchedOff = false;         // the setting or --ohne-browser
    ProxySettings proxy;              // as libcurl reads it for the page fetches
    std::chrono::milliseconds limit = kRenderLimit;
};

// No link to the domain in the page's HTML, but scripts that may add one.
bool NeedsRendering(const LinkVerdict& verdict);

struct LinkOutcome {
    LinkVerdict verdict;
    ScriptFinding script;
};

// The link check of one page, with the browser's look where it is needed. `stop` ends all of it,
// `renderStop` the browser's part only (the page then counts as unread).
LinkOutcome CheckPageLinks(LinkChecker& checker, const BrowserCheck& browser, std::string_view page,
                           std::string_view finalUrl, const HeaderList& headers, std::string_view domain,
                           const std::atomic<bool>* stop, const std::atomic<bool>* renderStop);

// The outcome into the row's check; the status word of a rendered page is the rendered document's.
void ApplyLinkOutcome(PageCheck& check, LinkOutcome outcome);

} // namespace retrieval
