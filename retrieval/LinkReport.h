#pragma once
// What the cross-check found on one linking page, put the way the user sees it: the note of
// the status cell (German, one or two lines), its colour, and its lines in the details file.

#include "retrieval/page/LinkFinder.h"
#include "table/BacklinkTable.h"

#include <string>
#include <vector>

namespace retrieval {

// What the robots.txt of its host says of a page that links to the domain.
struct RobotsFinding {
    enum class State { NotAsked, Allowed, Disallowed, Unreachable, Undecided };
    State state = State::NotAsked;
    std::string reason{}; // Unreachable: why ("HTTP-Status 503", "Zeitüberschreitung")
};

// The browser's look at a page whose HTML had scripts and no link (ScriptedPages.h).
struct ScriptFinding {
    bool rendered = false;         // the links are those of the document the browser showed
    bool linkOnlyRendered = false; // and only that document has them
    bool mentionsDomain = false;   // the text search in that document
    std::string unread;            // LinkScan::NeedsBrowser: why no browser showed the page
};

struct PageCheck {
    std::string number; // the row's number cell
    std::string url;    // the Link-URL that was fetched
    std::string status; // the status word the row got
    std::string reason; // why the fetch failed ("Fehler" only)
    std::string reasonDetail; // what gave a failed page away (a soft 404's title), the note's second line
    std::string challenge;    // the reason of a challenge page served as success, until judged
    std::string finalUrl;
    long httpStatus = 0;
    long redirects = 0;
    LinkVerdict links;
    RobotsFinding robotsTxt{};
    ScriptFinding script;
};

std::string PageNote(const PageCheck& check);
// The page's canonical address where it names another one than its final address; else empty.
std::string CanonicalElsewhere(const PageCheck& check);
table::CellMark PageMark(const PageCheck& check);

// Nr., Link-URL, Status, Links, rel, Ankertext, Ziel-URL, HTTP-Status, Endadresse, Robots, Grund:
// one line per kept link, one line for a page without any. Robots holds the page's own directives
// and what its host's robots.txt says, joined by "; ".
std::vector<std::vector<std::string>> DetailLines(const PageCheck& check);

} // namespace retrieval
