#include "retrieval/ScriptedPages.h"

#include "retrieval/CrossCheck.h"
#include "retrieval/http/HttpFetch.h"
#include "retrieval/page/PageText.h"

#include <utility>

namespace retrieval {

namespace {

LinkOutcome Unread(LinkOutcome out, std::string why) {
    out.verdict.scan = LinkScan::NeedsBrowser;
    out.verdict.examined = 0;
    out.script.unread = std::move(why);
    return out;
}

// Why the browser showed no document, as the end of "Links nicht geprüft: …; ".
std::string Why(const Rendered& rendered) {
    switch (rendered.end) {
    case RenderEnd::TimedOut:
        return "der Browser brauchte zu lange (Zeitlimit)";
    case RenderEnd::Partial:
        return "die Seite lud im Browser nicht zu Ende (Zeitlimit)";
    case RenderEnd::TooLarge:
        return "die Seite ist im Browser zu umfangreich";
    case RenderEnd::LoadFailed:
        return "der Browser konnte die Seite nicht laden";
    case RenderEnd::Crashed:
        return "der Browser brach ab";
    case RenderEnd::Stopped:
        return "Prüfung im Browser abgebrochen";
    case RenderEnd::Unavailable:
        return rendered.reason.empty() ? "der Browser startet nicht" : rendered.reason;
    case RenderEnd::Complete:
        break;
    }
    return {};
}

} // namespace

bool NeedsRendering(const LinkVerdict& verdict) {
    return verdict.parsed() && verdict.linkCount == 0 && verdict.scripts > 0;
}

LinkOutcome CheckPageLinks(LinkChecker& checker, const BrowserCheck& browser, std::string_view page,
                           std::string_view finalUrl, const HeaderList& headers, std::string_view domain,
                           const std::atomic<bool>* stop, const std::atomic<bool>* renderStop) {
    LinkOutcome out;
    out.verdict = checker.check(page, finalUrl, headers, domain, stop);
    if (!NeedsRendering(out.verdict))
        return out;
    if (browser.renderer == nullptr || !browser.renderer->available())
        return Unread(std::move(out), browser.switchedOff ? "Prüfung im Browser ist ausgeschaltet"
                                                          : "kein Browser vorhanden");
    Rendered rendered = browser.renderer->render(
        {std::string(finalUrl), browser.proxy, browser.limit, kUserAgent}, renderStop);
    if (rendered.end != RenderEnd::Complete && rendered.end != RenderEnd::Partial)
        return Unread(std::move(out), Why(rendered));
    LinkVerdict seen = checker.check(rendered.dom, finalUrl, headers, domain, stop);
    if (!seen.parsed())
        return Unread(std::move(out), "das Dokument aus dem Browser lie\xC3\x9F sich nicht pr\xC3\xBC"
                                      "fen");
    // A document cut short proves a link that is in it, never one that is missing.
    if (rendered.end == RenderEnd::Partial && seen.linkCount == 0)
        return Unread(std::move(out), Why(rendered));
    out.script.rendered = true;
    out.script.linkOnlyRendered = seen.linkCount > 0;
    out.script.mentionsDomain = MentionsDomain(rendered.dom, domain);
    out.verdict = std::move(seen);
    return out;
}

void ApplyLinkOutcome(PageCheck& check, LinkOutcome outcome) {
    check.links = std::move(outcome.verdict);
    check.script = std::move(outcome.script);
    if (check.script.rendered)
        check.status = check.script.mentionsDomain ? kStatusFound : kStatusNotFound;
}

} // namespace retrieval
