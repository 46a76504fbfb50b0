#pragma once
// The order and pace of the page fetches of a "Prüfe": at most `parallel` rows at a time, each
// holding its place from the start of its fetch until its row is done (its wait of a second
// included); at most one request per host, and a second between the end of one and the start of
// the next to that host. One at a time, the rows go strictly in their order, as they always have.
// Rows to be fetched again at the end go once every other row is done, in their order and under
// the same rules; a row's extra request to its host (robots.txt) goes under those rules too.

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace retrieval {

// The host of an address in lower case, without user, port and brackets; "" for none.
std::string HostOf(std::string_view url);

class FetchScheduler {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    static constexpr std::chrono::milliseconds kHostGap{1000};
    static constexpr std::chrono::seconds kMaxRetryAfter{120};

    // One job per address, in this order.
    FetchScheduler(const std::vector<std::string>& urls, int parallel);

    // The job to start now, marked started; none while the places are taken or no host is ready.
    // Extra requests whose host is ready come first and take no place.
    std::optional<std::size_t> next(TimePoint now);
    // The job's request ended at `now`: its host may be asked again a gap later.
    void ended(std::size_t job, TimePoint now);
    // The job, ended, was turned away (429/503). With a Retry-After of at most kMaxRetryAfter, on
    // its first answer, it goes back to its place in the queue, its host waits that long (at least
    // the gap) and its place is free again: true. Otherwise nothing changes: false.
    bool retryLater(std::size_t job, TimePoint now, std::optional<std::chrono::seconds> retryAfter);
    // Whether the job has been asked only once so far.
    bool firstFetch(std::size_t job) const { return !retried_[job]; }
    // The job's row, done after a first fetch that failed in a way that may pass, frees its place;
    // the job starts again once every row of the first pass is done. False, and nothing changes,
    // for a job that was fetched twice already.
    bool retryAtEnd(std::size_t job);
    // An extra request to `url`'s host on behalf of a row that keeps its place meanwhile: it waits
    // only for its host, before the rows waiting for that host. Its job number follows the rows'.
    std::size_t addRequest(const std::string& url);
    bool isRequest(std::size_t job) const { return job >= rows_; }
    // The job's row is done: its place is free.
    void release(std::size_t job);

    // When a waiting job or request may start: none while every one waiting has its host busy (an
    // ending request changes that), while the places are taken and no request waits, or nothing waits.
    std::optional<TimePoint> nextStart() const;
    bool full() const { return taken_ >= parallel_; }
    bool done() const {
        return waiting_.empty() && again_.empty() && requests_.empty() && taken_ == 0 &&
               requestsRunning_ == 0;
    }
    std::size_t waiting() const { return waiting_.size(); }
    // How many rows the pass of second fetches holds; 0 until it begins.
    std::size_t secondPass() const { return secondPass_; }

private:
    struct Host {
        bool busy = false;
        TimePoint readyAt{};
    };
    std::size_t hostIndex(const std::string& url);
    void beginSecondPassWhenDue();

    std::size_t parallel_;
    std::size_t rows_;
    std::map<std::string, std::size_t> hostIndex_;
    std::vector<std::size_t> hostOf_; // per job, rows and requests
    std::vector<Host> hosts_;
    std::vector<bool> retried_; // per row
    std::set<std::size_t> waiting_;
    std::set<std::size_t> again_;    // rows for the second pass, until it begins
    std::set<std::size_t> requests_; // extra requests not yet started
    std::size_t requestsRunning_ = 0;
    std::size_t taken_ = 0;
    std::size_t secondPass_ = 0;
};

} // namespace retrieval
