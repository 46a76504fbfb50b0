#include "retrieval/CrossCheck.h"

#include "app/contract/Error.h"
#include "retrieval/HttpFetch.h"
#include "retrieval/LinkFinder.h"
#include "retrieval/LinkReport.h"
#include "retrieval/LinkWorker.h"
#include "retrieval/PageText.h"
#include "retrieval/RunHistory.h"
#include "storage/Reports.h"
#include "table/BacklinkTable.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

namespace retrieval {

namespace {

constexpr std::int32_t kNumberColumn = 0;
constexpr std::int32_t kLinkUrlColumn = 1;
constexpr std::int32_t kFirstRecordRow = 2;
constexpr std::int32_t kWaitAfterFetch = 1000;

// Reads the links of one page (in the worker process) from a thread of its own, during the wait
// that follows the fetch anyway. Going out of scope early (the window closes) stops the check and
// waits for the thread.
class LinkCheck {
public:
    LinkCheck(LinkChecker& checker, std::string text, std::string finalUrl, HeaderList headers,
              std::string domain)
        : result_(std::async(std::launch::async | std::launch::deferred,
                             [this, &checker, text = std::move(text), finalUrl = std::move(finalUrl),
                              headers = std::move(headers), domain = std::move(domain)] {
                                 return checker.check(text, finalUrl, headers, domain, &stop_);
                             })) {}
    ~LinkCheck() {
        stop_ = true;
        if (result_.valid())
            result_.wait();
    }
    LinkCheck(const LinkCheck&) = delete;
    LinkCheck& operator=(const LinkCheck&) = delete;

    bool ready() const { return result_.wait_for(std::chrono::seconds(0)) != std::future_status::timeout; }

    LinkVerdict take() {
        LinkVerdict failed;
        try {
            return result_.get();
        } catch (const std::bad_alloc&) {
            failed.scan = LinkScan::TooLarge;
        } catch (...) {
            failed.scan = LinkScan::Failed;
        }
        return failed;
    }

private:
    std::atomic<bool> stop_{false}; // before result_: the thread reads it from its start
    std::future<LinkVerdict> result_;
};

// Fetches and tests one page: the status word goes into `check`, and the page on to the link
// check. Throws what the fetch or test raised.
void CheckPage(toolkit::Window& w, const PageFetcher& fetch, LinkChecker& checker, PageCheck& check,
               std::optional<LinkCheck>& links) {
    w.memo3.clear();
    FetchedPage page = fetch(check.url);
    std::string text = DecodePage(page.body, page.contentType);
    page.body = {}; // only the text is needed from here on
    w.memo3.setText(text);
    std::string domain = w.fields.domainText();
    check.status = MentionsDomain(text, domain) ? kStatusFound : kStatusNotFound;
    check.finalUrl = page.finalUrl.empty() ? check.url : std::move(page.finalUrl);
    check.httpStatus = page.status;
    check.redirects = page.redirects;
    links.emplace(checker, std::move(text), check.finalUrl, std::move(page.headers), std::move(domain));
}

} // namespace

void RunCrossCheck(toolkit::Window& w, const PageFetcher& fetch) {
    table::BacklinkTable& table = w.table;

    // The command works on this list throughout; Memo1 shows it.
    const std::vector<std::string> urls = table.ColumnText(kLinkUrlColumn);
    w.memo1.clear();
    w.memo1.lines() = urls;

    table.SetColCount(table.ColCount() + 1);
    // Fixed once: the column this run writes, even if the table changes during a wait.
    const std::int32_t statusCol = table.ColCount() - 1;
    table.SetCell(statusCol, 0, std::string(kStatusHeader));

    w.fields.setStatusLine({});
    CrossCheckHistory history(w.shared.programFolder, w.fields.domainText());
    std::vector<std::int32_t> checkedRows;
    std::vector<std::size_t> detailRows; // the checked row of each details line
    std::vector<std::vector<std::string>> details;
    const std::unique_ptr<LinkChecker> checker = MakeLinkChecker(); // one worker for the whole run
    const auto n = static_cast<std::int32_t>(urls.size());
    for (std::int32_t r = kFirstRecordRow; r < n; ++r) {
        PageCheck check;
        check.number = table.GetCell(kNumberColumn, r);
        check.url = urls[static_cast<std::size_t>(r)];
        std::optional<LinkCheck> links;
        long failedStatus = 0;
        try {
            CheckPage(w, fetch, *checker, check, links);
        } catch (const toolkit::Cancelled&) {
            throw;
        } catch (const FetchError& e) {
            check.reason = e.reason();
            failedStatus = e.httpStatus();
        } catch (const std::exception& e) {
            check.reason = e.what();
        } catch (...) {
            check.reason = "Unbekannter Fehler";
        }
        if (!links) {
            check.status = kStatusError;
            check.finalUrl.clear();
        }
        table.SetCell(statusCol, r, check.status);
        table.SetCellMark(statusCol, r, PageMark(check));
        if (!links)
            table.SetCellNote(statusCol, r, PageNote(check));

        w.waiter.pacedWait(kWaitAfterFetch);
        if (links) {
            w.waiter.waitUntil([&links] { return links->ready(); });
            check.links = links->take();
            links.reset();
            table.SetCellNote(statusCol, r, PageNote(check));
            table.SetCellMark(statusCol, r, PageMark(check));
        }
        for (std::vector<std::string>& line : DetailLines(check)) {
            details.push_back(std::move(line));
            detailRows.push_back(checkedRows.size());
        }
        checkedRows.push_back(r);
        storage::PageRow stored = HistoryRow(check);
        // The history tells a blocked page (403, 429, ...) from one that is gone by its status; the
        // details file names it in the reason alone, as it always has.
        if (!links)
            stored.httpStatus = failedStatus;
        history.add(std::move(stored));
        w.fields.setCaption(w.shared.titleText + " checke: " + check.url);
    }

    w.fields.setCaption(w.shared.titleText + " Gegenprüfung fertig gestellt ... ");
    const std::optional<storage::Comparison> changes = history.finish();
    MarkChanges(table, statusCol, checkedRows, changes, details, detailRows);
    storage::WriteReports(w, "\\reporting\\backlinks\\", [&](const std::string& basePath) {
        storage::WriteDetailsCsv(basePath + "_details.csv", details);
        if (changes)
            WriteChangesReports(basePath, *changes, w.fields.domainText());
    });
    if (changes) {
        w.fields.setStatusLine(storage::SummaryLine(*changes));
        w.fields.setChangeCounts(storage::ChangeCounts(*changes));
    }
    history.tell(w.box);
}

} // namespace retrieval
