#pragma once
// What the cross-check found on one linking page, put the way the user sees it: the note of
// the status cell (German, one or two lines), its colour, and its lines in the details file.

#include "retrieval/page/LinkFinder.h"
#include "table/BacklinkTable.h"

#include <string>
#include <vector>

namespace retrieval {

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
    std::string finalUrl;
    long httpStatus = 0;
    long redirects = 0;
    LinkVerdict links;
    ScriptFinding script;
};

std::string PageNote(const PageCheck& check);
table::CellMark PageMark(const PageCheck& check);

// Nr., Link-URL, Status, Links, rel, Ankertext, Ziel-URL, HTTP-Status, Endadresse, Robots, Grund:
// one line per kept link, one line for a page without any.
std::vector<std::vector<std::string>> DetailLines(const PageCheck& check);

} // namespace retrieval
