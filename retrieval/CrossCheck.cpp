#include "retrieval/CrossCheck.h"

#include "app/contract/Error.h"
#include "retrieval/FetchScheduler.h"
#include "retrieval/LinkReport.h"
#include "retrieval/PageVerdict.h"
#include "retrieval/RetryRule.h"
#include "retrieval/RunHistory.h"
#include "retrieval/SiteRobots.h"
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
#include <set>
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
    check.challenge = ChallengeOn(page);
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

// A page turned away with a Retry-After within the limit is asked once more after that wait, and
// `askedTwice` set.
FetchedPage FetchPolitely(const PageFetcher& fetch, const std::string& url, toolkit::PacedWaiter& waiter,
                          bool& askedTwice) {
    try {
        return FetchScreened(fetch, url);
    } catch (const FetchError&) {
        const std::optional<std::chrono::seconds> after = TurnedAway(std::current_exception());
        if (!after || *after > FetchScheduler::kMaxRetryAfter)
            throw;
        const auto wait = std::max<std::chrono::milliseconds>(FetchScheduler::kHostGap, *after);
        waiter.pacedWait(static_cast<std::int32_t>(wait.count()));
    }
    askedTwice = true;
    return FetchScreened(fetch, url);
}

// One "Prüfe" from the status column to the reports.
class CrossCheckRun {
public:
    CrossCheckRun(toolkit::Window& w, std::function<bool()> stopped, BrowserCheck browser)
        : w_(w), stopped_(std::move(stopped)), browser_(std::move(browser)), table_(w.table),
          urls_(table_.ColumnText(kLinkUrlColumn)), statusCol_(AddStatusColumn()),
          history_(ClearedStatusLine(w), w.fields.domainText()) {}

    void runInOrder(const PageFetcher& fetch, const PageFetcher& robots) {
        const auto n = static_cast<std::int32_t>(urls_.size());
        std::vector<Again> again;
        std::size_t next = 0; // the first of them not yet done
        try {
            for (std::int32_t r = kFirstRecordRow; r < n; ++r) {
                Row row;
                if (!visit(r, row, fetch, robots))
                    again.push_back({r, row.check, row.failedStatus});
            }
            retryTotal_ = again.size();
            for (; next < again.size(); ++next) {
                Row row;
                row.retryNumber = next + 1;
                try {
                    visit(again[next].row, row, fetch, robots);
                } catch (const toolkit::Cancelled&) {
                    next += row.completed ? 1 : 0;
                    throw;
                }
            }
        } catch (const toolkit::Cancelled&) {
            if (stopping())
                for (; next < again.size(); ++next)
                    completeUnretried(again[next]);
            throw;
        }
    }

    void runSideBySide(PageFetches& fetches, PageFetches* robots, int parallel) {
        const std::size_t first = std::min<std::size_t>(kFirstRecordRow, urls_.size());
        FetchScheduler plan({urls_.begin() + static_cast<std::ptrdiff_t>(first), urls_.end()}, parallel);
        const auto rowOf = [first](std::size_t job) { return static_cast<std::int32_t>(first + job); };
        std::map<std::size_t, Row> open;          // started and not yet done, by job
        std::map<std::size_t, Again> again;       // waiting for the second pass, by job
        std::map<std::size_t, std::string> asked; // robots.txt requests not yet answered, by job
        std::set<std::string> askedFiles;         // their addresses
        try {
            while (!plan.done()) {
                auto now = Clock::now();
                while (const std::optional<std::size_t> job = plan.next(now)) {
                    if (plan.isRequest(*job)) {
                        robots->start(*job, asked.at(*job));
                        continue;
                    }
                    Row& row = open[*job];
                    if (again.count(*job) > 0 && row.retryNumber == 0) {
                        retryTotal_ = plan.secondPass();
                        row.retryNumber = ++retriesStarted_;
                    }
                    begin(rowOf(*job), row);
                    fetches.start(*job, row.check.url);
                }
                for (PageFetches::Ended& ended : fetches.takeEnded()) {
                    if (ended.error)
                        ended.error = Screened(ended.error);
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
                        row.again = plan.firstFetch(ended.id) && RetryAtEnd(std::current_exception());
                    }
                    markFetched(rowOf(ended.id), row);
                    row.waitEnds = now + std::chrono::milliseconds(kWaitAfterFetch);
                }
                if (robots != nullptr)
                    for (PageFetches::Ended& ended : robots->takeEnded()) {
                        plan.ended(ended.id, Clock::now());
                        const std::string file = asked.at(ended.id);
                        asked.erase(ended.id);
                        askedFiles.erase(file);
                        if (ended.error)
                            robots_.failed(file, ended.error);
                        else
                            robots_.answered(file, ended.page);
                    }
                // Each row is done once its second of waiting is over, its links are read and the
                // robots.txt it needs is in.
                std::optional<Clock::time_point> wake = plan.nextStart();
                for (auto it = open.begin(); it != open.end();) {
                    Row& row = it->second;
                    if (row.links && row.links->ready())
                        takeLinks(rowOf(it->first), row);
                    const std::string file =
                        robots != nullptr && !row.links ? RobotsFileFor(row) : std::string();
                    if (!file.empty() && !robots_.known(file) && askedFiles.insert(file).second) {
                        asked[plan.addRequest(file)] = file;
                        wake = Clock::now();
                    }
                    const bool waited = row.waitEnds && Clock::now() >= *row.waitEnds;
                    if (waited && !row.links && (file.empty() || robots_.known(file))) {
                        if (row.again && plan.retryAtEnd(it->first)) {
                            again[it->first] = {rowOf(it->first), row.check, row.failedStatus};
                        } else {
                            row.check.robotsTxt = robots_.finding(row.check.finalUrl);
                            complete(rowOf(it->first), row);
                            plan.release(it->first);
                            again.erase(it->first);
                        }
                        it = open.erase(it);
                        wake = Clock::now(); // a place is free
                        continue;
                    }
                    // Links still being read are looked for every few milliseconds; a robots.txt
                    // request ends the wait by itself.
                    if (row.waitEnds && (!waited || row.links)) {
                        const auto due = waited ? Clock::now() + std::chrono::milliseconds(5) : *row.waitEnds;
                        wake = wake ? std::min(*wake, due) : due;
                    }
                    ++it;
                }
                const auto step =
                    std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   wake ? *wake - Clock::now() : std::chrono::milliseconds(1000)),
                               std::chrono::milliseconds(0), std::chrono::milliseconds(1000));
                // Event sources that share the window's loop end either wait at any transfer's news.
                if (fetches.running() > 0)
                    fetches.wait(step);
                else if (robots != nullptr && robots->running() > 0)
                    robots->wait(step);
                else if (step.count() > 0)
                    w_.waiter.pacedWait(static_cast<std::int32_t>(step.count()));
            }
        } catch (const toolkit::Cancelled&) {
            // Stopped: the pages in flight go, those already in count, with their first answer if
            // their second is still to come.
            if (stopping()) {
                fetches.stopAll();
                if (robots != nullptr)
                    robots->stopAll();
                for (auto& [job, row] : open)
                    if (row.links)
                        row.links->stopRender();
                for (auto& [job, row] : open)
                    if (row.waitEnds) {
                        complete(rowOf(job), row);
                        again.erase(job);
                    }
                for (auto& [job, waiting] : again)
                    completeUnretried(waiting);
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
        std::vector<std::int32_t> detailRows; // the table row of each details line
        std::vector<std::vector<std::string>> details;
        for (Done& done : done_) {
            for (std::vector<std::string>& line : done.details) {
                details.push_back(std::move(line));
                detailRows.push_back(done.row);
            }
            checkedRows.push_back(done.row);
        }
        std::optional<CrossCheckHistory::Changes> changes;
        if (stopped)
            history_.stop();
        else
            changes = history_.finish();
        MarkChanges(table_, statusCol_, checkedRows, changes, details, detailRows);
        storage::WriteReports(w_, "\\reporting\\backlinks\\", [&](const std::string& basePath) {
            storage::WriteDetailsCsv(basePath + "_details.csv", details);
            if (changes)
                WriteChangesReports(basePath, changes->comparison, w_.fields.domainText());
        });
        if (changes) {
            w_.fields.setStatusLine(storage::SummaryLine(changes->comparison));
            w_.fields.setChangeCounts(storage::ChangeCounts(changes->comparison),
                                      storage::LossCounts(changes->comparison));
        }
        history_.tell(w_.box);
        // Once per run, so that a user on a system without the filter knows what checked the pages.
        if (const std::string notice = checker_->weakeningNotice(); !notice.empty())
            w_.box.showMessage(notice);
    }

private:
    struct Row {
        PageCheck check;
        std::optional<LinkCheck> links;            // until its verdict is taken into check.links
        std::optional<Clock::time_point> waitEnds; // side by side: when its second of waiting is over
        long failedStatus = 0;                     // the error status of a failed fetch
        bool again = false;                        // fetched once more at the end of the run
        std::size_t retryNumber = 0;               // in that second pass: its place there, from 1
        bool completed = false;
    };
    // A row waiting for its second fetch, with what its first one gave.
    struct Again {
        std::int32_t row;
        PageCheck check;
        long failedStatus = 0;
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

    // The page's links, once read, and what the page turns out to be: a challenge served as
    // success or a soft 404 is "Fehler" after all.
    void takeLinks(std::int32_t r, Row& row) {
        if (!row.links)
            return;
        ApplyLinkOutcome(row.check, row.links->take());
        row.links.reset();
        if (JudgePage(row.check))
            row.failedStatus = row.check.httpStatus;
        table_.SetCell(statusCol_, r, row.check.status); // a rendered or judged page's own word
    }

    // The robots.txt a row needs: that of its page's origin, if the page links to the domain.
    static std::string RobotsFileFor(const Row& row) {
        if (row.check.status == kStatusError || row.check.links.linkCount == 0)
            return {};
        return RobotsUrlOf(row.check.finalUrl);
    }

    // "Wiederholung 2 von 5" for a row of the second pass, "" for any other.
    std::string passLabel(const Row& row) const {
        if (row.retryNumber == 0)
            return {};
        return "Wiederholung " + std::to_string(row.retryNumber) + " von " + std::to_string(retryTotal_);
    }

    void begin(std::int32_t r, Row& row) {
        row.check.number = table_.GetCell(kNumberColumn, r);
        row.check.url = urls_[static_cast<std::size_t>(r)];
        fetching_ = row.retryNumber > 0 ? passLabel(row) + ": " + row.check.url : row.check.url;
        reportProgress();
    }

    // One row, one at a time: its fetch (asked again after a short Retry-After in the first pass),
    // its second of waiting while its links are read, then the robots.txt it needs. False when the
    // row waits for the second pass instead of being done.
    bool visit(std::int32_t r, Row& row, const PageFetcher& fetch, const PageFetcher& robots) {
        begin(r, row);
        // The host of the robots.txt just asked for has its second before the next request.
        if (!robotsHost_.empty() && HostOf(row.check.url) == robotsHost_)
            w_.waiter.pacedWait(static_cast<std::int32_t>(FetchScheduler::kHostGap.count()));
        robotsHost_.clear();
        bool askedTwice = row.retryNumber > 0;
        try {
            w_.memo3.clear();
            FetchedPage page = askedTwice ? FetchScreened(fetch, row.check.url)
                                          : FetchPolitely(fetch, row.check.url, w_.waiter, askedTwice);
            TestPage(w_, *checker_, browser_, std::move(page), row.check, row.links);
        } catch (...) {
            fail(row, std::current_exception());
            row.again = !askedTwice && RetryAtEnd(std::current_exception());
        }
        markFetched(r, row);
        try {
            w_.waiter.pacedWait(kWaitAfterFetch);
            if (row.links)
                w_.waiter.waitUntil([&row] { return row.links->ready(); });
            takeLinks(r, row);
            if (const std::string file = robots ? RobotsFileFor(row) : std::string(); !file.empty()) {
                if (!robots_.known(file)) {
                    robotsHost_ = HostOf(file);
                    try {
                        robots_.answered(file, robots(file));
                    } catch (const toolkit::Cancelled&) {
                        throw;
                    } catch (...) {
                        robots_.failed(file, std::current_exception());
                    }
                }
                row.check.robotsTxt = robots_.finding(row.check.finalUrl);
            }
        } catch (const toolkit::Cancelled&) {
            if (stopping()) {
                if (row.links)
                    row.links->stopRender();
                complete(r, row); // its page is in: it counts, with its first answer if need be
            }
            throw;
        }
        if (row.again)
            return false;
        complete(r, row);
        return true;
    }

    // A stopped run keeps the first answer of a row whose second fetch did not come.
    void completeUnretried(Again& waiting) {
        Row row;
        row.check = std::move(waiting.check);
        row.failedStatus = waiting.failedStatus;
        complete(waiting.row, row);
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
            table_.SetCellNote(statusCol_, r,
                               PageNote(row.check) +
                                   (row.again ? "\nwird am Ende noch einmal abgerufen" : ""));
    }

    // The links found go into the note; the row into the history, the details and the caption.
    void complete(std::int32_t r, Row& row) {
        row.completed = true;
        takeLinks(r, row);
        table_.SetCellNote(statusCol_, r, PageNote(row.check));
        table_.SetCellMark(statusCol_, r, PageMark(row.check));
        done_.push_back({r, DetailLines(row.check)});
        reportProgress();
        storage::PageRow stored = HistoryRow(row.check);
        // The history tells a blocked page (403, 429, ...) from one that is gone by its status; the
        // details file names it in the reason alone, as it always has.
        if (row.check.status == kStatusError)
            stored.httpStatus = row.failedStatus;
        history_.add(r, std::move(stored));
        w_.fields.setCaption(w_.shared.titleText +
                             (row.retryNumber > 0 ? " " + passLabel(row) + ": " : " checke: ") +
                             row.check.url);
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
    SiteRobots robots_;
    std::string robotsHost_;         // one at a time: the host of the robots.txt just asked for
    std::size_t retryTotal_ = 0;     // rows of the second pass
    std::size_t retriesStarted_ = 0; // side by side: those of them started so far
};

} // namespace

void RunCrossCheck(toolkit::Window& w, const PageFetcher& fetch) {
    RunCrossCheck(w, CrossCheckSetup{fetch, nullptr, 1});
}

void RunCrossCheck(toolkit::Window& w, const CrossCheckSetup& setup) {
    CrossCheckRun run(w, setup.stopped, {setup.renderer, setup.browserOff, ProxyFromEnvironment()});
    try {
        if (setup.parallelFetches > 1 && setup.parallel != nullptr)
            run.runSideBySide(*setup.parallel, setup.robotsParallel, setup.parallelFetches);
        else
            run.runInOrder(setup.fetch, setup.robots);
    } catch (const toolkit::Cancelled&) {
        if (!run.stopping())
            throw;
    }
    run.finish();
}

} // namespace retrieval
