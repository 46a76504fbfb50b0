#include "retrieval/RunHistory.h"

#include "retrieval/CrossCheck.h"
#include "retrieval/url/WebUrl.h"
#include "storage/Files.h"
#include "table/BacklinkTable.h"
#include "text/Ascii.h"

#include <algorithm>
#include <idn2.h>
#include <unordered_map>
#include <utility>

namespace retrieval {

namespace {

constexpr std::size_t kBatchRows = 50;

// The history's own faults come as values; this is for anything else (memory), which must not
// cost the command either.
storage::Fault Unexpected(const std::exception& e) {
    return {dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? "Nicht genug Arbeitsspeicher" : e.what()};
}
constexpr auto kBatchTime = std::chrono::seconds(1);

// Columns of a details line (LinkReport.h).
enum DetailColumn { kRel = 4, kAnchor = 5, kTarget = 6, kRobots = 9, kReason = 10 };

constexpr std::int32_t kNumberColumn = 0;

// Losses and new rows are marked; the first Prüfe of a domain, where every row is new, marks none.
table::CellMark RowMarker(const storage::Comparison& comparison, std::size_t row) {
    if (!comparison.hasBase || row >= comparison.words.size())
        return table::CellMark::None;
    if (comparison.losses[row])
        return table::CellMark::RowLoss;
    return comparison.words[row] == storage::kChangeNew ? table::CellMark::RowNew : table::CellMark::None;
}

} // namespace

std::string DomainKey(std::string_view text) {
    if (std::string host = LinkDomainHost(text); !host.empty())
        return host;
    // Text that names no host: as it is, which keeps such a domain's history together too.
    const std::size_t scheme = text.find("://");
    if (scheme != std::string_view::npos)
        text.remove_prefix(scheme + 3);
    text = text.substr(0, text.find_first_of("/?#"));
    while (!text.empty() && (text.back() == '.' || text.back() == ' '))
        text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    if (text::ascii::IsAscii(text))
        return text::ascii::Lower(text);
    const std::string host(text);
    char* converted = nullptr;
    std::string key = host.find('\0') == std::string::npos &&
                              idn2_to_ascii_8z(host.c_str(), &converted, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL) == IDN2_OK
                          ? text::ascii::Lower(converted)
                          : text::ascii::Lower(host);
    idn2_free(converted);
    return key;
}

std::string PageKey(std::string_view url) {
    std::optional<WebUrl> parsed = ParseWebUrl(url);
    if (!parsed || !parsed->web())
        return std::string(url);
    parsed->fragment.reset();
    return parsed->href();
}

storage::PageRow HistoryRow(const PageCheck& check) {
    storage::PageRow row;
    row.url = check.url;
    row.key = PageKey(check.url);
    row.status = check.status;
    row.httpStatus = check.httpStatus;
    row.finalUrl = check.finalUrl;
    row.redirects = check.redirects;
    if (check.status != kStatusError && check.links.parsed()) {
        row.linkCount = static_cast<std::int64_t>(check.links.linkCount);
        row.followCount = static_cast<std::int64_t>(check.links.followCount);
    }
    row.onDomain = check.status != kStatusError && check.links.scan == LinkScan::OnDomain;
    // The first details line is the first link, put as the details file puts it.
    const std::vector<std::vector<std::string>> lines = DetailLines(check);
    if (!lines.empty() && lines.front().size() > kReason) {
        const std::vector<std::string>& first = lines.front();
        row.rel = first[kRel];
        row.anchor = first[kAnchor];
        row.target = first[kTarget];
        row.robots = first[kRobots];
        row.reason = first[kReason];
    }
    return row;
}

storage::History::Opened OpenHistory(const std::string& programFolder) {
    storage::History::Opened opened = storage::History::Open(programFolder);
    if (opened.history)
        if (storage::Fault fault = opened.history->KeyRows(PageKey)) {
            opened.fault = std::move(fault);
            opened.history.reset();
        }
    return opened;
}

void HistoryMessages::noteOpened(const storage::History::Opened& opened) {
    if (!opened.notice.empty())
        notice_ = opened.notice;
    noteFault(opened.fault);
}

void HistoryMessages::noteFault(const storage::Fault& fault) {
    if (fault && fault_.empty())
        fault_ = fault.reason;
}

void HistoryMessages::tell(toolkit::MessageBox& box) {
    if (!notice_.empty())
        box.showMessage(std::exchange(notice_, {}));
    if (!fault_.empty())
        box.showError("Der Verlauf wurde nicht gespeichert: " + std::exchange(fault_, {}) + ".");
}

void RecordCheckRun(toolkit::Window& w, std::string_view service, std::string_view sourceFile) {
    HistoryMessages messages;
    try {
        storage::CheckRun run;
        run.time = std::time(nullptr);
        run.domain = w.fields.domainText();
        run.domainKey = DomainKey(run.domain);
        run.service = service;
        run.limit = sourceFile.empty() ? w.fields.maxergText() : std::string();
        run.sourceFile = sourceFile;
        run.headers = w.table.RowCells(0);
        for (std::int32_t row = 2; row < w.table.RowCount(); ++row)
            run.rows.push_back(w.table.RowCells(row));
        storage::History::Opened opened = storage::History::Open(w.shared.programFolder);
        messages.noteOpened(opened);
        if (opened.history)
            messages.noteFault(opened.history->StoreCheck(run));
    } catch (const std::exception& e) {
        messages.noteFault(Unexpected(e));
    }
    messages.tell(w.box);
}

CrossCheckHistory::CrossCheckHistory(std::string programFolder, std::string domain)
    : folder_(std::move(programFolder)), domain_(std::move(domain)), key_(DomainKey(domain_)),
      started_(std::time(nullptr)), lastCommit_(std::chrono::steady_clock::now()) {}

bool CrossCheckHistory::open() {
    if (history_)
        return true;
    if (messages_.failed())
        return false;
    storage::History::Opened opened = OpenHistory(folder_);
    messages_.noteOpened(opened);
    if (!opened.history)
        return false;
    const storage::Result<std::int64_t> run = opened.history->BeginCrossCheck(started_, domain_, key_);
    messages_.noteFault(run.fault);
    if (run.fault)
        return false;
    history_ = std::move(opened.history);
    runId_ = run.value;
    return true;
}

void CrossCheckHistory::flush() {
    lastCommit_ = std::chrono::steady_clock::now();
    if (pending_.empty() || !open())
        return;
    const storage::Fault fault = history_->AddCrossRows(runId_, stored_, pending_);
    messages_.noteFault(fault);
    if (fault) {
        history_.reset();
        return;
    }
    stored_ += static_cast<std::int64_t>(pending_.size());
    pending_.clear();
}

void CrossCheckHistory::add(std::int32_t tableRow, storage::PageRow row) {
    if (messages_.failed())
        return;
    try {
        rows_.emplace_back(tableRow, row);
        pending_.push_back(std::move(row));
        if (pending_.size() >= kBatchRows || std::chrono::steady_clock::now() - lastCommit_ >= kBatchTime)
            flush();
    } catch (const std::exception& e) {
        messages_.noteFault(Unexpected(e));
        history_.reset();
    }
}

std::optional<CrossCheckHistory::Changes> CrossCheckHistory::finish() {
    try {
        return compare();
    } catch (const std::exception& e) {
        messages_.noteFault(Unexpected(e));
        history_.reset();
        return std::nullopt;
    }
}

void CrossCheckHistory::stop() {
    try {
        flush();
    } catch (const std::exception& e) {
        messages_.noteFault(Unexpected(e));
    }
    history_.reset();
}

std::optional<CrossCheckHistory::Changes> CrossCheckHistory::compare() {
    flush();
    if (!open())
        return std::nullopt;
    storage::Fault fault = history_->FinishCrossCheck(runId_);
    messages_.noteFault(fault);
    if (fault)
        return std::nullopt;
    const storage::Result<storage::ComparisonBase> base = history_->LoadBase(key_, runId_);
    messages_.noteFault(base.fault);
    history_.reset();
    if (base.fault)
        return std::nullopt;
    // Pages finish in any order when fetched side by side: the comparison goes in table order,
    // and a row stored twice counts as it was stored last.
    std::stable_sort(rows_.begin(), rows_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    Changes changes;
    std::vector<storage::PageRow> rows;
    rows.reserve(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (i + 1 < rows_.size() && rows_[i + 1].first == rows_[i].first)
            continue;
        changes.tableRows.push_back(rows_[i].first);
        rows.push_back(std::move(rows_[i].second));
    }
    rows_.clear();
    changes.comparison = storage::Compare(rows, base.value);
    return changes;
}

void MarkChanges(table::BacklinkTable& table, std::int32_t statusCol, const std::vector<std::int32_t>& rows,
                 const std::optional<CrossCheckHistory::Changes>& changes,
                 std::vector<std::vector<std::string>>& details,
                 const std::vector<std::int32_t>& detailRows) {
    std::unordered_map<std::int32_t, std::size_t> compared; // table row -> row of the comparison
    if (changes)
        for (std::size_t i = 0; i < changes->tableRows.size(); ++i)
            compared.emplace(changes->tableRows[i], i);
    const auto at = [&compared](std::int32_t row) -> std::optional<std::size_t> {
        const auto it = compared.find(row);
        return it != compared.end() ? std::optional<std::size_t>(it->second) : std::nullopt;
    };
    for (std::size_t i = 0; i < details.size(); ++i) {
        const std::optional<std::size_t> row = at(detailRows[i]);
        details[i].emplace_back(row && *row < changes->comparison.words.size()
                                    ? changes->comparison.words[*row]
                                    : std::string_view());
    }
    for (const std::int32_t tableRow : rows) {
        const std::optional<std::size_t> row = at(tableRow);
        // A marker of an earlier Prüfe says nothing about this one.
        table.SetCellMark(kNumberColumn, tableRow,
                          row ? RowMarker(changes->comparison, *row) : table::CellMark::None);
        if (!row)
            continue;
        const std::string line = storage::NoteLine(changes->comparison, *row);
        if (line.empty())
            continue;
        const std::string& note = table.GetCellNote(statusCol, tableRow);
        table.SetCellNote(statusCol, tableRow, note.empty() ? line : note + "\n" + line);
    }
}

HistoryOverview ReadHistoryOverview(const std::string& programFolder, std::string_view domainText) {
    HistoryOverview overview;
    try {
        storage::History::Opened opened = storage::History::Open(programFolder);
        overview.notice = opened.notice;
        if (!opened.history) {
            overview.fault = opened.fault.reason;
            return overview;
        }
        storage::Result<std::vector<storage::RunSummary>> runs =
            opened.history->RunSummaries(DomainKey(domainText));
        overview.fault = runs.fault.reason;
        overview.runs = std::move(runs.value);
    } catch (const std::exception& e) {
        overview.fault = Unexpected(e).reason;
    }
    return overview;
}

std::vector<PlotPoint> PlotSeries(const std::vector<storage::RunSummary>& runs) {
    std::vector<PlotPoint> points;
    for (const storage::RunSummary& run : runs)
        if (run.finished) // an unfinished run would show a drop that never was
            points.push_back({run.time, run.follow, run.linking});
    return points;
}

storage::Result<storage::Comparison> CompareStoredRuns(const std::string& programFolder,
                                                       std::string_view domainText, std::int64_t runA,
                                                       std::int64_t runB) {
    storage::Result<storage::Comparison> result;
    try {
        storage::History::Opened opened = OpenHistory(programFolder);
        if (!opened.history) {
            result.fault = opened.fault;
            return result;
        }
        const std::int64_t earlier = std::min(runA, runB);
        const std::int64_t later = std::max(runA, runB);
        const storage::Result<std::vector<storage::PageRow>> rows = opened.history->CrossRows(later);
        if (rows.fault) {
            result.fault = rows.fault;
            return result;
        }
        const storage::Result<storage::ComparisonBase> base =
            earlier == later ? storage::Result<storage::ComparisonBase>{}
                             : opened.history->LoadBase(DomainKey(domainText), later, earlier);
        if (base.fault) {
            result.fault = base.fault;
            return result;
        }
        result.value = storage::Compare(rows.value, base.value);
    } catch (const std::exception& e) {
        result.fault = Unexpected(e);
    }
    return result;
}

void WriteChangesReports(const std::string& basePath, const storage::Comparison& comparison,
                         std::string_view domain) {
    storage::WriteFileAtomic(basePath + "_aenderungen.csv", storage::ChangesCsv(comparison));
    storage::WriteFileAtomic(basePath + "_aenderungen.html", storage::ChangesHtml(comparison, domain));
}

} // namespace retrieval
