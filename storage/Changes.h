#pragma once
// What changed on each linking page since the earlier Prüfe runs of the domain: one change word
// per row, the links the service no longer lists, the window's summary line and the changes
// report (<stem>_aenderungen.csv and .html).

#include "storage/History.h"

#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace storage {

// In the order of precedence: a row gets the first that applies.
inline constexpr std::string_view kChangeNew = "neu";
inline constexpr std::string_view kChangeBlocked = "blockiert";
inline constexpr std::string_view kChangeStillUnreachable = "weiterhin nicht erreichbar";
inline constexpr std::string_view kChangeUnreachable = "Seite nicht erreichbar";
inline constexpr std::string_view kChangeNotChecked = "nicht geprüft";
inline constexpr std::string_view kChangeOnDomain = "leitet auf die Domain weiter";
inline constexpr std::string_view kChangeLinkRemoved = "Link entfernt";
inline constexpr std::string_view kChangeNowNofollow = "nofollow geworden";
inline constexpr std::string_view kChangeNowFollow = "follow geworden";
inline constexpr std::string_view kChangeBack = "wieder da";
inline constexpr std::string_view kChangeTarget = "Linkziel geändert";
inline constexpr std::string_view kChangeAnchor = "Ankertext geändert";
inline constexpr std::string_view kChangeNone = "unverändert";
// A Link-URL of the previous Prüfe that the table no longer has.
inline constexpr std::string_view kChangeUnlisted = "nicht mehr gelistet";

struct RowChange {
    std::string_view word;
    // A link lost since the runs before, and not told before: removed, turned nofollow, or its
    // page no longer reached. A page whose links were never seen loses none.
    bool loss = false;
};

// `latest`: the page's most recent row in an earlier finished Prüfe (null: none had it);
// `lastSeen`: its most recent such row whose links were read (null if none);
// `toldUnreachable`: a run after lastSeen already found the page unreachable.
RowChange ChangeOf(const PageRow& now, const PageRow* latest, const PageRow* lastSeen, bool toldUnreachable);

struct ChangeEntry {
    std::string url;
    std::string_view word;
    std::string before;
    std::string now;
    std::time_t beforeTime = 0; // 0: nothing before
    bool loss = false;
};

struct Comparison {
    bool hasBase = false;
    std::time_t baseTime = 0;        // the start of the last earlier finished Prüfe
    std::vector<std::string_view> words; // one per row of the new Prüfe
    std::vector<bool> losses;            // one per row: RowChange::loss
    // The report's lines: the rows that changed, in row order, a page listed twice once per word,
    // then the ones no longer listed.
    std::vector<ChangeEntry> entries;
};

// Rows are matched on their key (the Link-URL where it has none); a page new under its key keeps
// the history of its http/https twin when the new Prüfe does not list that one too.
Comparison Compare(const std::vector<PageRow>& rows, const ComparisonBase& base);

// "01.12.2026 14:03" in local time.
std::string RunTimeText(std::time_t time);

// "Seit der Prüfung vom 01.12.2026 14:03: 3 Links entfernt, 1 nofollow geworden, 5 neu". Losses
// first (entfernt, nofollow, nicht erreichbar), then pages not seen as they were (blockiert,
// weiterhin nicht erreichbar, auf die Domain weitergeleitet, nicht geprüft, nicht mehr gelistet),
// then gains (follow, wieder da, neu), then the edits (Linkziel, Ankertext); words without a row
// are left out. Without a base it says that this Prüfe is the base for the next one.
std::string SummaryLine(const Comparison& comparison);
// The numbers behind the summary line, in its order, words without a row left out.
std::vector<std::pair<std::string, std::int64_t>> ChangeCounts(const Comparison& comparison);
// The same of the report lines that are losses; what exit status 3 and the notification count.
std::vector<std::pair<std::string, std::int64_t>> LossCounts(const Comparison& comparison);

// "Seit 01.12.2026 14:03: Link entfernt" for the status cell's note; empty without a base.
std::string NoteLine(const Comparison& comparison, std::size_t row);

// The report pair; text from outside is data in both.
inline constexpr std::string_view kChangesHeader[] = {"Link-URL", "Änderung", "vorher", "jetzt",
                                                      "Datum der vorherigen Prüfung"};
std::string ChangesCsv(const Comparison& comparison);
std::string ChangesHtml(const Comparison& comparison, std::string_view domain);

} // namespace storage
