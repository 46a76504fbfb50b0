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
#include <vector>

namespace table {
class BacklinkTable;
}

namespace retrieval {

// The domain as the history compares it: the host of the domain text (also when typed as an
// address), without a final dot, in lower-case IDNA ASCII form.
std::string DomainKey(std::string_view domainText);

// One history row from what the Prüfe found on a page.
storage::PageRow HistoryRow(const PageCheck& check);

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

    // Rows are committed every 50 rows or once a second has passed since the last commit, which
    // the wait after each page makes one commit per page: a killed program loses at most the
    // page in flight.
    void add(storage::PageRow row);

    // Stores the rest, marks the run finished and compares it with the earlier finished runs.
    // Empty when the history failed.
    std::optional<storage::Comparison> finish();
    // Stores the rest and leaves the run unfinished: a stopped run is no base for a comparison.
    void stop();

    void tell(toolkit::MessageBox& box) { messages_.tell(box); }

private:
    bool open();
    void flush();
    std::optional<storage::Comparison> compare();

    std::string folder_;
    std::string domain_;
    std::string key_;
    std::time_t started_;
    std::unique_ptr<storage::History> history_;
    std::int64_t runId_ = 0;
    std::int64_t stored_ = 0;
    std::vector<storage::PageRow> pending_;
    std::vector<storage::PageRow> rows_; // the whole run, for the comparison
    std::chrono::steady_clock::time_point lastCommit_;
    HistoryMessages messages_;
};

// The Prüfe's rows (table rows `rows`, in run order) learn their change: one more line in the
// status cell's note, a loss or new-row mark on their number cell, and the change word as the
// last column of each of their details lines (`detailRows`: the run row of each line). Without a
// comparison that column stays empty and the number cells lose their marks.
void MarkChanges(table::BacklinkTable& table, std::int32_t statusCol, const std::vector<std::int32_t>& rows,
                 const std::optional<storage::Comparison>& comparison, std::vector<std::vector<std::string>>& details,
                 const std::vector<std::size_t>& detailRows);

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
