#include "retrieval/CrossCheck.h"

#include "app/contract/Error.h"
#include "retrieval/FetchScheduler.h"
#include "retrieval/LinkReport.h"
#include "retrieval/RunHistory.h"
#include "retrieval/ScriptedPages.h"
#include "retrieval/http/HttpFetch.h"
#include "retrieval/page/LinkFinder.h"
#include "retrieval/page/PageText.h"
#include "retrieval/sandbox/LinkWorker.h"
#include "storage/Reports.h"
#include "table/BacklinkTable.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <future>
#include <map>
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
// that follows the fetch anyway; a page built with scripts is shown in the browser there too.
// Going out of scope early (the window closes) stops the check and waits for the thread.
class LinkCheck {
public:
    LinkCheck(LinkChecker& checker, const BrowserCheck& browser, std::string text, std::string finalUrl,
              HeaderList headers, std::string domain)
        : result_(
              std::async(std::launch::async | std::launch::deferred,
                         [this, &checker, &browser, text = std::move(text), finalUrl = std::move(finalUrl),
                          headers = std::move(headers), domain = std::move(domain)] {
                             return CheckPageLinks(checker, browser, text, finalUrl, headers, domain, &stop_,
                                                   &stopRender_);
                         })) {}
    ~LinkCheck() {
        stop_ = true;
        stopRender_ = true;
        if (result_.valid())
            result_.wait();
    }
    LinkCheck(const LinkCheck&) = delete;
    LinkCheck& operator=(const LinkCheck&) = delete;

    bool ready() const { return result_.wait_for(std::chrono::seconds(0)) != std::future_status::timeout; }
    // The run stops: a page still in the browser is left unread rather than waited for.
    void stopRender() { stopRender_ = true; }

    LinkOutcome take() {
        LinkOutcome failed;
        try {
            return result_.get();
        } catch (const std::bad_alloc&) {
            failed.verdict.scan = LinkScan::TooLarge;
        } catch (...) {
            failed.verdict.scan = LinkScan::Failed;
        }
        return failed;
    }

private:
    std::atomic<bool> stop_{false}; // before result_: the thread reads them from its start
    std::atomic<bool> stopRender_{false};
    std::future<LinkOutcome> result_;
};

using Clock = std::chrono::steady_clock;

// Tests a fetched page: the status word goes into `check`, and the page on to the link check.
void TestPage(toolkit::Window& w, LinkChecker& checker, const BrowserCheck& browser, FetchedPage page,
              PageCheck& check, std::optional<LinkCheck>& links) {
    std::string text = DecodePage(page.body, page.contentType);
    page.body = {}; // only the text is needed from here on
    w.memo3.setText(text);
    std::string domain = w.fields.domainText();
    check.status = MentionsDomain(text, domain) ? kStatusFound : kStatusNotFound;
    check.finalUrl = page.finalUrl.empty() ? check.url : std::move(page.finalUrl);
    check.httpStatus = page.status;
    check.redirects = page.redirects;
    links.emplace(checker, browser, std::move(text), check.finalUrl, std::move(page.headers),
                  std::move(domain));
}

// The words for a failed row; toolkit::Cancelled goes on to the caller.
std::string ReasonOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const toolkit::Cancelled&) {
        throw;
    } catch (const FetchError& e) {
        return e.reason();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unbekannter Fehler";
    }
}

// The error status of a failed fetch (403, 429, ...), 0 for any other failure.
long StatusOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const FetchError& e) {
        return e.httpStatus();
    } catch (...) {
    }
    return 0;
}

// A server's "not now" (429, 503): how long it asked to be left alone, if it said so.
std::optional<std::chrono::seconds> TurnedAway(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const FetchError& e) {
        if (e.httpStatus() == 429 || e.httpStatus() == 503)
            return e.retryAfter();
    } catch (...) {
    }
    return std::nullopt;
}

// A page turned away with a Retry-After within the limit is asked once more after that wait.
FetchedPage FetchPolitely(const PageFetcher& fetch, const std::string& url, toolkit::PacedWaiter& waiter) {
    try {
        return fetch(url);
    } catch (const FetchError&) {
        const std::optional<std::chrono::seconds> after = TurnedAway(std::current_exception());
        if (!after || *after > FetchScheduler::kMaxRetryAfter)
            throw;
        const auto wait = std::max<std::chrono::milliseconds>(FetchScheduler::kHostGap, *after);
        waiter.pacedWait(static_cast<std::int32_t>(wait.count()));
    }
    return fetch(url);
}

// One "Prüfe" from the status column to the reports.
class CrossCheckRun {
public:
    CrossCheckRun(toolkit::Window& w, std::function<bool()> stopped, BrowserCheck browser)
        : w_(w), stopped_(std::move(stopped)), browser_(std::move(browser)), table_(w.table),
          urls_(table_.ColumnText(kLinkUrlColumn)), statusCol_(AddStatusColumn()),
          history_(ClearedStatusLine(w), w.fields.domainText()) {}

    void runInOrder(const PageFetcher& fetch) {
        const auto n = static_cast<std::int32_t>(urls_.size());
        for (std::int32_t r = kFirstRecordRow; r < n; ++r) {
            Row row;
            begin(r, row);
            try {
                w_.memo3.clear();
                TestPage(w_, *checker_, browser_, FetchPolitely(fetch, row.check.url, w_.waiter), row.check,
                         row.links);
            } catch (...) {
                fail(row, std::current_exception());
            }
            markFetched(r, row);
            try {
                w_.waiter.pacedWait(kWaitAfterFetch);
                if (row.links)
                    w_.waiter.waitUntil([&row] { return row.links->ready(); });
            } catch (const toolkit::Cancelled&) {
                if (stopping()) {
                    if (row.links)
                        row.links->stopRender();
                    complete(r, row); // its page is in: it counts
                }
                throw;
            }
            complete(r, row);
        }
    }

    void runSideBySide(PageFetches& fetches, int parallel) {
        const std::size_t first = std::min<std::size_t>(kFirstRecordRow, urls_.size());
        FetchScheduler plan({urls_.begin() + static_cast<std::ptrdiff_t>(first), urls_.end()}, parallel);
        const auto rowOf = [first](std::size_t job) { return static_cast<std::int32_t>(first + job); };
        std::map<std::size_t, Row> open; // started and not yet done, by job
        try {
            while (!plan.done()) {
                auto now = Clock::now();
                while (const std::optional<std::size_t> job = plan.next(now)) {
                    Row& row = open[*job];
                    begin(rowOf(*job), row);
                    fetches.start(*job, row.check.url);
                }
                for (PageFetches::Ended& ended : fetches.takeEnded()) {
                    now = Clock::now();
                    plan.ended(ended.id, now);
                    if (ended.error && plan.retryLater(ended.id, now, TurnedAway(ended.error))) {
                        open.erase(ended.id);
                        continue;
                    }
                    Row& row = open.at(ended.id);
                    try {
                        if (ended.error)
                            std::rethrow_exception(ended.error);
                        TestPage(w_, *checker_, browser_, std::move(ended.page), row.check, row.links);
                    } catch (...) {
                        fail(row, std::current_exception());
                    }
                    markFetched(rowOf(ended.id), row);
                    row.waitEnds = now + std::chrono::milliseconds(kWaitAfterFetch);
                }
                // Each row is done once its second of waiting is over and its links are read.
                std::optional<Clock::time_point> wake = plan.full() ? std::nullopt : plan.nextStart();
                for (auto it = open.begin(); it != open.end();) {
                    Row& row = it->second;
                    const bool waited = row.waitEnds && Clock::now() >= *row.waitEnds;
                    if (waited && (!row.links || row.links->ready())) {
                        complete(rowOf(it->first), row);
                        plan.release(it->first);
                        it = open.erase(it);
                        wake = Clock::now(); // a place is free
                        continue;
                    }
                    if (row.waitEnds) {
                        const auto due = waited ? Clock::now() + std::chrono::milliseconds(5) : *row.waitEnds;
                        wake = wake ? std::min(*wake, due) : due;
                    }
                    ++it;
                }
                const auto step =
                    std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   wake ? *wake - Clock::now() : std::chrono::milliseconds(1000)),
                               std::chrono::milliseconds(0), std::chrono::milliseconds(1000));
                if (fetches.running() > 0)
                    fetches.wait(step);
                else if (step.count() > 0)
                    w_.waiter.pacedWait(static_cast<std::int32_t>(step.count()));
            }
        } catch (const toolkit::Cancelled&) {
            // Stopped: the pages in flight go, those already in count.
            if (stopping()) {
                fetches.stopAll();
                for (auto& [job, row] : open)
                    if (row.links)
                        row.links->stopRender();
                for (auto& [job, row] : open)
                    if (row.waitEnds)
                        complete(rowOf(job), row);
            }
            throw;
        }
    }

    bool stopping() const { return stopped_ && stopped_(); }

    void finish() {
        const bool stopped = stopping();
        w_.fields.setCaption(w_.shared.titleText + (stopped ? " Gegenprüfung abgebrochen ..."
                                                            : " Gegenprüfung fertig gestellt ... "));
        // Rows that finished side by side go into the reports in table order.
        std::stable_sort(done_.begin(), done_.end(),
                         [](const Done& a, const Done& b) { return a.row < b.row; });
        std::vector<std::int32_t> checkedRows;
        std::vector<std::size_t> detailRows; // the checked row of each details line
        std::vector<std::vector<std::string>> details;
        for (Done& done : done_) {
            for (std::vector<std::string>& line : done.details) {
                details.push_back(std::move(line));
                detailRows.push_back(checkedRows.size());
            }
            checkedRows.push_back(done.row);
        }
        std::optional<storage::Comparison> changes;
        if (stopped)
            history_.stop();
        else
            changes = history_.finish();
        MarkChanges(table_, statusCol_, checkedRows, changes, details, detailRows);
        storage::WriteReports(w_, "\\reporting\\backlinks\\", [&](const std::string& basePath) {
            storage::WriteDetailsCsv(basePath + "_details.csv", details);
            if (changes)
                WriteChangesReports(basePath, *changes, w_.fields.domainText());
        });
        if (changes) {
            w_.fields.setStatusLine(storage::SummaryLine(*changes));
            w_.fields.setChangeCounts(storage::ChangeCounts(*changes));
        }
        history_.tell(w_.box);
    }

private:
    struct Row {
        PageCheck check;
        std::optional<LinkCheck> links;
        std::optional<Clock::time_point> waitEnds; // side by side: when its second of waiting is over
        long failedStatus = 0;                     // the error status of a failed fetch
    };
    struct Done {
        std::int32_t row;
        std::vector<std::vector<std::string>> details;
    };

    // The command works on the URL list throughout; Memo1 shows it. The column is fixed once: the
    // one this run writes, even if the table changes during a wait.
    std::int32_t AddStatusColumn() {
        w_.memo1.clear();
        w_.memo1.lines() = urls_;
        table_.SetColCount(table_.ColCount() + 1);
        table_.SetCell(table_.ColCount() - 1, 0, std::string(kStatusHeader));
        return table_.ColCount() - 1;
    }

    static std::string ClearedStatusLine(toolkit::Window& w) {
        w.fields.setStatusLine({});
        return w.shared.programFolder;
    }

    static void fail(Row& row, const std::exception_ptr& error) {
        row.check.reason = ReasonOf(error);
        row.failedStatus = StatusOf(error);
    }

    void begin(std::int32_t r, Row& row) {
        row.check.number = table_.GetCell(kNumberColumn, r);
        row.check.url = urls_[static_cast<std::size_t>(r)];
        fetching_ = row.check.url;
        reportProgress();
    }

    void reportProgress() {
        const auto total = static_cast<std::int64_t>(urls_.size()) - kFirstRecordRow;
        if (total > 0)
            w_.fields.setProgress({static_cast<std::int64_t>(done_.size()), total, fetching_});
    }

    // The status word as soon as the page is in; a failure's reason at once.
    void markFetched(std::int32_t r, Row& row) {
        if (!row.links) {
            row.check.status = kStatusError;
            row.check.finalUrl.clear();
        }
        table_.SetCell(statusCol_, r, row.check.status);
        table_.SetCellMark(statusCol_, r, PageMark(row.check));
        if (!row.links)
            table_.SetCellNote(statusCol_, r, PageNote(row.check));
    }

    // The links found go into the note; the row into the history, the details and the caption.
    void complete(std::int32_t r, Row& row) {
        if (row.links) {
            ApplyLinkOutcome(row.check, row.links->take());
            row.links.reset();
            table_.SetCell(statusCol_, r, row.check.status); // a rendered page's own word
            table_.SetCellNote(statusCol_, r, PageNote(row.check));
            table_.SetCellMark(statusCol_, r, PageMark(row.check));
        }
        done_.push_back({r, DetailLines(row.check)});
        reportProgress();
        storage::PageRow stored = HistoryRow(row.check);
        // The history tells a blocked page (403, 429, ...) from one that is gone by its status; the
        // details file names it in the reason alone, as it always has.
        if (row.check.status == kStatusError)
            stored.httpStatus = row.failedStatus;
        history_.add(std::move(stored));
        w_.fields.setCaption(w_.shared.titleText + " checke: " + row.check.url);
    }

    toolkit::Window& w_;
    std::function<bool()> stopped_;
    const BrowserCheck browser_;
    table::BacklinkTable& table_;
    const std::vector<std::string> urls_;
    const std::int32_t statusCol_;
    CrossCheckHistory history_;
    const std::unique_ptr<LinkChecker> checker_ = MakeLinkChecker(); // one worker for the whole run
    std::vector<Done> done_;
    std::string fetching_; // the page last started
};

} // namespace

void RunCrossCheck(toolkit::Window& w, const PageFetcher& fetch) {
    RunCrossCheck(w, CrossCheckSetup{fetch, nullptr, 1});
}

void RunCrossCheck(toolkit::Window& w, const CrossCheckSetup& setup) {
    CrossCheckRun run(w, setup.stopped, {setup.renderer, setup.browserOff, ProxyFromEnvironment()});
    try {
        if (setup.parallelFetches > 1 && setup.parallel != nullptr)
            run.runSideBySide(*setup.parallel, setup.parallelFetches);
        else
            run.runInOrder(setup.fetch);
    } catch (const toolkit::Cancelled&) {
        if (!run.stopping())
            throw;
    }
    run.finish();
}

} // namespace retrieval
