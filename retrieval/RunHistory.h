#pragma once
// The commands' side of the run history: the Check stores its run after its reports; the Prüfe
// stores its rows as it goes and, at its end, what changed since the earlier runs of the domain.
// A fault of the history never stops a command: it is told once, in one box after the reports.

#include "app/contract/Window.h"
#include "retrieval/LinkReport.h"
#include "storage/Changes.h"
#include "storage/History.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace table {
class BacklinkTable;
}

namespace retrieval {

// The domain as the history and the watch list know it: the domain whose links the link finder
// counts (also when typed as an address; without port, final dot and leading "www."), in
// lower-case IDNA ASCII form. One domain, one history.
std::string DomainKey(std::string_view domainText);

// The address a page is known by across runs: a web address as the URL standard writes it
// (scheme and host in lower case, no default port, "/" for an empty path), without its fragment;
// any other text as it is.
std::string PageKey(std::string_view url);

// One history row from what the Prüfe found on a page.
storage::PageRow HistoryRow(const PageCheck& check);

// The history file with every stored row keyed (PageKey), for the comparisons.
storage::History::Opened OpenHistory(const std::string& programFolder);

// What is left to tell the user about the history, each at most once.
class HistoryMessages {
public:
    void noteOpened(const storage::History::Opened& opened);
    void noteFault(const storage::Fault& fault);
    bool failed() const { return !fault_.empty(); }
    // The notice of a damaged file (plain box), then the fault (error box).
    void tell(toolkit::MessageBox& box);

private:
    std::string notice_;
    std::string fault_;
};

// Stores the table the Check has just filled as a run of `service`, then tells of any fault.
// `sourceFile`: the name of the file an imported list came from.
void RecordCheckRun(toolkit::Window& window, std::string_view service, std::string_view sourceFile = {});

class CrossCheckHistory {
public:
    // The run starts now; the file is opened with the first rows to store.
    CrossCheckHistory(std::string programFolder, std::string domain);

    // The row of table row `tableRow`, in whatever order the pages finish. Rows are committed
    // every 50 rows or once a second has passed since the last commit, which the wait after each
    // page makes one commit per page: a killed program loses at most the page in flight.
    void add(std::int32_t tableRow, storage::PageRow row);

    // The comparison of a finished run, with the table row of each of its rows.
    struct Changes {
        storage::Comparison comparison;
        std::vector<std::int32_t> tableRows; // in the comparison's row order (table order)
    };
    // Stores the rest, marks the run finished and compares it with the earlier finished runs.
    // Empty when the history failed.
    std::optional<Changes> finish();
    // Stores the rest and leaves the run unfinished: a stopped run is no base for a comparison.
    void stop();

    void tell(toolkit::MessageBox& box) { messages_.tell(box); }

private:
    bool open();
    void flush();
    std::optional<Changes> compare();

    std::string folder_;
    std::string domain_;
    std::string key_;
    std::time_t started_;
    std::unique_ptr<storage::History> history_;
    std::int64_t runId_ = 0;
    std::int64_t stored_ = 0;
    std::vector<storage::PageRow> pending_;
    // The whole run by table row, for the comparison.
    std::vector<std::pair<std::int32_t, storage::PageRow>> rows_;
    std::chrono::steady_clock::time_point lastCommit_;
    HistoryMessages messages_;
};

// The Prüfe's checked table rows `rows` learn their change, matched by table row: one more line in
// the status cell's note, a loss or new-row mark on their number cell, and the change word as the
// last column of each of their details lines (`detailRows`: the table row of each line). Without
// a comparison that column stays empty and the number cells lose their marks.
void MarkChanges(table::BacklinkTable& table, std::int32_t statusCol, const std::vector<std::int32_t>& rows,
                 const std::optional<CrossCheckHistory::Changes>& changes,
                 std::vector<std::vector<std::string>>& details, const std::vector<std::int32_t>& detailRows);

// What Datei > Verlauf… shows of a domain: its stored Prüfe runs, oldest first, and the series of
// the plot; `fault` is a German reason why the history could not be read.
struct HistoryOverview {
    std::vector<storage::RunSummary> runs;
    std::string fault;
    std::string notice; // a damaged file was moved aside
};
HistoryOverview ReadHistoryOverview(const std::string& programFolder, std::string_view domainText);

// The plot's points: follow links and linking pages of each finished Prüfe, oldest first.
struct PlotPoint {
    std::time_t time = 0;
    std::int64_t follow = 0;
    std::int64_t linking = 0;
    bool operator==(const PlotPoint&) const = default;
};
std::vector<PlotPoint> PlotSeries(const std::vector<storage::RunSummary>& runs);

// Two stored Prüfe runs compared as the changes report compares a Prüfe with the one before it:
// the earlier of the two is the base, whichever order they come in.
storage::Result<storage::Comparison> CompareStoredRuns(const std::string& programFolder,
                                                       std::string_view domainText, std::int64_t runA,
                                                       std::int64_t runB);

// <basePath>_aenderungen.csv and .html.
void WriteChangesReports(const std::string& basePath, const storage::Comparison& comparison,
                         std::string_view domain);

} // namespace retrieval
