#pragma once
// The order and pace of the page fetches of a "Prüfe": at most `parallel` rows at a time, each
// holding its place from the start of its fetch until its row is done (its wait of a second
// included); at most one request per host, and a second between the end of one and the start of
// the next to that host. One at a time, the rows go strictly in their order, as they always have.

#include <chrono>
#include <cstddef>
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
    std::optional<std::size_t> next(TimePoint now);
    // The job's request ended at `now`: its host may be asked again a gap later.
    void ended(std::size_t job, TimePoint now);
    // The job, ended, was turned away (429/503). With a Retry-After of at most kMaxRetryAfter, on
    // its first answer, it goes back to its place in the queue, its host waits that long (at least
    // the gap) and its place is free again: true. Otherwise nothing changes: false.
    bool retryLater(std::size_t job, TimePoint now, std::optional<std::chrono::seconds> retryAfter);
    // The job's row is done: its place is free.
    void release(std::size_t job);

    // When a waiting job may start once a place is free: none while every waiting job's host is
    // busy (an ending request changes that) or nothing waits.
    std::optional<TimePoint> nextStart() const;
    bool full() const { return taken_ >= parallel_; }
    bool done() const { return waiting_.empty() && taken_ == 0; }
    std::size_t waiting() const { return waiting_.size(); }

private:
    struct Host {
        bool busy = false;
        TimePoint readyAt{};
    };
    std::size_t parallel_;
    std::vector<std::size_t> hostOf_;
    std::vector<Host> hosts_;
    std::vector<bool> retried_;
    std::set<std::size_t> waiting_;
    std::size_t taken_ = 0;
};

} // namespace retrieval
