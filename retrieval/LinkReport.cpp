#include "retrieval/LinkReport.h"

#include "retrieval/CrossCheck.h"
#include "retrieval/url/WebUrl.h"
#include "text/Utf8.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace retrieval {

namespace {

// A note is one or two lines in a tooltip: each piece of outside text in it is cut to these.
constexpr std::size_t kNotePartChars = 80;
constexpr std::size_t kNoteReasonChars = 160;
const std::string kEllipsis = "\xE2\x80\xA6";
const std::string kCanonical = "kanonisch: ";

// 10000 as "10.000".
std::string Count(std::size_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, ".");
    return digits;
}

// Line and paragraph breaks of every kind and the other control characters.
bool BreaksLine(char32_t c) {
    return c <= 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// Bidi controls, which could turn the rest of the note around.
bool TurnsText(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

// Outside text (from the page, its address or the fetch) as one line of plain text: bytes that
// are no UTF-8 read as Windows-1252, as page bodies are; breaks and controls become one space,
// bidi controls are left out; at most `chars` characters, then "…".
std::string NoteText(std::string_view raw, std::size_t chars) {
    std::string converted;
    std::string_view text = raw;
    if (!text::IsValidUtf8(raw))
        text = converted = text::Windows1252ToUtf8(raw);
    std::string out;
    std::size_t count = 0;
    bool pendingSpace = false;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k)
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        const std::string_view character = text.substr(i, length);
        i += length;
        if (BreaksLine(c)) {
            pendingSpace = !out.empty();
            continue;
        }
        if (TurnsText(c))
            continue;
        for (const std::string_view piece : {std::string_view(pendingSpace ? " " : ""), character}) {
            if (piece.empty())
                continue;
            if (count++ == chars)
                return out + kEllipsis;
            out += piece;
        }
        pendingSpace = false;
    }
    return out;
}

std::string Quoted(const std::string& text) {
    return "\xE2\x80\x9E" + text + "\xE2\x80\x9C"; // „…“
}

// "nofollow/sponsored", or "" for a followed link.
std::string RelTokens(const PageLink& link) {
    std::string out;
    for (const auto& [set, name] : {std::pair{link.nofollow, "nofollow"},
                                    std::pair{link.sponsored, "sponsored"}, std::pair{link.ugc, "ugc"}})
        if (set)
            out += (out.empty() ? "" : "/") + std::string(name);
    return out;
}

std::string RelText(const PageLink& link) {
    return link.followed() ? "follow" : "rel=" + RelTokens(link);
}

std::string AnchorPart(const PageLink& link) {
    const std::string anchor = NoteText(link.anchor, kNotePartChars);
    if (link.image)
        return anchor.empty() ? " \xE2\x80\x93 Bild ohne Alt-Text"
                              : " \xE2\x80\x93 Bild mit Alt-Text " + Quoted(anchor);
    return anchor.empty() ? " \xE2\x80\x93 ohne Ankertext" : " \xE2\x80\x93 Ankertext " + Quoted(anchor);
}

const PageLink* FirstFollowed(const std::vector<PageLink>& links) {
    for (const PageLink& link : links)
        if (link.followed())
            return &link;
    return nullptr;
}

std::string Sources(bool meta, bool header) {
    if (meta && header)
        return "Meta-Robots, X-Robots-Tag";
    return meta ? "Meta-Robots" : "X-Robots-Tag";
}

// "noindex (X-Robots-Tag), nofollow (Meta-Robots)", "noindex, nofollow (Meta-Robots)"; empty
// when the page has neither.
std::string RobotsText(const RobotsDirectives& r) {
    const bool sameSources = r.metaNoindex == r.metaNofollow && r.headerNoindex == r.headerNofollow;
    if (r.noindex() && r.nofollow() && sameSources)
        return "noindex, nofollow (" + Sources(r.metaNoindex, r.headerNoindex) + ")";
    std::string out;
    if (r.noindex())
        out = "noindex (" + Sources(r.metaNoindex, r.headerNoindex) + ")";
    if (r.nofollow())
        out += (out.empty() ? "" : ", ") + std::string("nofollow (") +
               Sources(r.metaNofollow, r.headerNofollow) + ")";
    return out;
}

// "robots.txt: gesperrt"; empty where the file allows the page or was not asked.
std::string RobotsTxtText(const RobotsFinding& r) {
    switch (r.state) {
    case RobotsFinding::State::Disallowed:
        return "robots.txt: gesperrt";
    case RobotsFinding::State::Unreachable:
        return "robots.txt: nicht erreichbar (" + r.reason + ")";
    case RobotsFinding::State::Undecided:
        return "robots.txt: nicht auswertbar";
    default:
        return {};
    }
}

std::string NotExamined(LinkScan scan) {
    switch (scan) {
    case LinkScan::TooLarge:
        return "Links nicht geprüft: Seite zu umfangreich";
    case LinkScan::TooSlow:
        return "Links nicht geprüft: Seite zu aufwendig aufgebaut";
    case LinkScan::NoDomain:
        return "Links nicht geprüft: kein Domainname im Domainfeld";
    case LinkScan::WorkerCrashed:
        return "Links nicht geprüft: Prüfung der Seite abgebrochen (Absturz)";
    case LinkScan::WorkerTimedOut:
        return "Links nicht geprüft: Prüfung der Seite abgebrochen (Zeitlimit)";
    case LinkScan::WorkerOutOfMemory:
        return "Links nicht geprüft: Prüfung der Seite abgebrochen (Speicherlimit)";
    case LinkScan::WorkerUnavailable:
        return "Links nicht geprüft: Prüfprozess startet nicht";
    default:
        return "Links nicht geprüft";
    }
}

// Why the links were not read; for a page built with scripts, also why no browser showed it.
std::string NotExamined(const PageCheck& c) {
    if (c.links.scan != LinkScan::NeedsBrowser)
        return NotExamined(c.links.scan);
    return "Links nicht gepr\xC3\xBC"
           "ft: Die Seite baut ihren Inhalt mit JavaScript; " +
           (c.script.unread.empty() ? std::string("kein Browser vorhanden") : c.script.unread);
}

constexpr const char* kLinkByScript = "Link per JavaScript gesetzt";

std::string OnDomainText(const PageCheck& c) {
    return c.redirects > 0 ? "Seite leitet auf die Domain selbst weiter"
                           : "Seite liegt auf der Domain selbst";
}

std::string LinksLine(const PageCheck& c) {
    const LinkVerdict& v = c.links;
    if (v.scan == LinkScan::OnDomain)
        return OnDomainText(c);
    if (!v.parsed())
        return NotExamined(c);
    if (v.linkCount == 0)
        return c.status == kStatusFound ? "Domain nur im Text erw\xC3\xA4hnt, kein Link"
                                        : "Kein Link auf die Domain";
    const PageLink* followed = FirstFollowed(v.links);
    if (v.linkCount == 1 && !v.links.empty())
        return "Link vorhanden (" + RelText(v.links.front()) + ")" + AnchorPart(v.links.front());
    const std::string count = Count(v.linkCount) + " Links";
    if (v.followCount == v.linkCount)
        return count + ", alle follow" + (v.links.empty() ? "" : AnchorPart(v.links.front()));
    if (v.followCount > 0)
        return count + ", davon " + Count(v.followCount) + " follow" +
               (followed ? AnchorPart(*followed) : "");
    const std::string rel = v.links.empty() ? std::string() : RelTokens(v.links.front());
    const bool sameRel = std::all_of(v.links.begin(), v.links.end(),
                                     [&rel](const PageLink& l) { return RelTokens(l) == rel; });
    return count + (sameRel ? ", alle rel=" + rel : ", alle mit nofollow, sponsored oder ugc");
}

std::vector<std::string> PageFacts(const PageCheck& c) {
    const LinkVerdict& v = c.links;
    std::vector<std::string> facts;
    if (c.script.rendered)
        facts.push_back(c.script.linkOnlyRendered ? kLinkByScript
                                                  : "im Browser nachgepr\xC3\xBC"
                                                    "ft");
    if (const std::string robots = RobotsText(v.robots); !robots.empty())
        facts.push_back((v.linkCount > 0 ? "aber Seite auf " : "Seite auf ") + robots);
    if (const std::string robotsTxt = RobotsTxtText(c.robotsTxt); !robotsTxt.empty())
        facts.push_back(NoteText(robotsTxt, kNoteReasonChars));
    if (c.redirects > 0 && !c.finalUrl.empty())
        facts.push_back("weitergeleitet nach " + NoteText(c.finalUrl, kNotePartChars));
    if (v.scan == LinkScan::CapReached)
        facts.push_back("nur die ersten " + Count(v.examined) +
                        " Links der Seite gepr\xC3\xBC"
                        "ft");
    if (c.status == kStatusNotFound && !v.links.empty())
        facts.push_back("Textsuche erkennt die Schreibweise im Link nicht: " +
                        NoteText(v.links.front().hostAsWritten, kNotePartChars));
    if (const std::string canonical = CanonicalElsewhere(c); !canonical.empty())
        facts.push_back(kCanonical + NoteText(canonical, kNotePartChars));
    return facts;
}

// The Robots column: the directives, then a canonical address elsewhere.
std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (const std::string& part : parts)
        out += (out.empty() ? "" : separator) + part;
    return out;
}

std::string RobotsColumn(const PageCheck& c) {
    std::vector<std::string> parts;
    for (std::string part : {RobotsText(c.links.robots), RobotsTxtText(c.robotsTxt)})
        if (!part.empty())
            parts.push_back(std::move(part));
    if (const std::string canonical = CanonicalElsewhere(c); !canonical.empty())
        parts.push_back(kCanonical + canonical);
    return Join(parts, "; ");
}


} // namespace

std::string CanonicalElsewhere(const PageCheck& c) {
    const std::string& canonical = c.links.canonical;
    if (canonical.empty())
        return {};
    std::optional<WebUrl> page = ParseWebUrl(c.finalUrl.empty() ? c.url : c.finalUrl);
    std::optional<WebUrl> named = ParseWebUrl(canonical);
    if (!page || !named)
        return canonical;
    page->fragment.reset();
    named->fragment.reset();
    return page->href() == named->href() ? std::string() : canonical;
}

std::string PageNote(const PageCheck& c) {
    if (c.status == kStatusError)
        return NoteText(c.reason, kNoteReasonChars) +
               (c.reasonDetail.empty() ? "" : "\n" + NoteText(c.reasonDetail, kNoteReasonChars));
    const std::string facts = Join(PageFacts(c), "; ");
    return LinksLine(c) + (facts.empty() ? "" : "\n" + facts);
}

table::CellMark PageMark(const PageCheck& c) {
    if (c.status == kStatusError)
        return table::CellMark::Failed;
    if (c.links.scan == LinkScan::OnDomain)
        return table::CellMark::NotFound; // no backlink any more, whatever the text search says
    if (c.status != kStatusFound)
        return table::CellMark::NotFound;
    const LinkVerdict& v = c.links;
    if (!v.parsed())
        return table::CellMark::Found; // nothing known beyond the word
    const bool counts = v.followCount > 0 && !v.robots.noindex() && !v.robots.nofollow();
    return counts ? table::CellMark::Found : table::CellMark::FoundWeak;
}

std::vector<std::vector<std::string>> DetailLines(const PageCheck& c) {
    const LinkVerdict& v = c.links;
    const std::string http = c.httpStatus > 0 ? std::to_string(c.httpStatus) : std::string();
    if (c.status == kStatusError)
        return {{c.number, c.url, c.status, "", "", "", "", http, c.finalUrl, "", c.reason}};
    std::vector<std::string> reasons;
    if (!v.parsed())
        reasons.push_back(v.scan == LinkScan::OnDomain ? OnDomainText(c) : NotExamined(c));
    if (c.script.linkOnlyRendered)
        reasons.push_back(kLinkByScript);
    if (v.scan == LinkScan::CapReached)
        reasons.push_back("nur die ersten " + Count(v.examined) +
                          " Links der Seite gepr\xC3\xBC"
                          "ft");
    if (v.links.size() < v.linkCount)
        reasons.push_back("nur die ersten " + Count(v.links.size()) +
                          " Links auf die Domain aufgef\xC3\xBChrt");
    const std::string reason = Join(reasons, "; ");
    const std::string count = v.parsed() ? std::to_string(v.linkCount) : std::string();
    const std::string robots = RobotsColumn(c);
    if (v.links.empty())
        return {{c.number, c.url, c.status, count, "", "", "", http, c.finalUrl, robots, reason}};
    std::vector<std::vector<std::string>> lines;
    for (const PageLink& link : v.links)
        lines.push_back({c.number, c.url, c.status, count, link.followed() ? "follow" : RelTokens(link),
                         link.anchor, link.target, http, c.finalUrl, robots, reason});
    return lines;
}

} // namespace retrieval
