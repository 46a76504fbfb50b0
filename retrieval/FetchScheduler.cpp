#include "retrieval/FetchScheduler.h"

#include <algorithm>
#include <map>

namespace retrieval {

std::string HostOf(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return {};
    std::string_view rest = url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#\\"));
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos)
        rest.remove_prefix(at + 1);
    if (rest.starts_with('[')) {
        rest = rest.substr(1, rest.find(']') == std::string_view::npos ? rest.size() : rest.find(']') - 1);
    } else if (const std::size_t colon = rest.find(':'); colon != std::string_view::npos) {
        rest = rest.substr(0, colon);
    }
    std::string host(rest);
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return host;
}

FetchScheduler::FetchScheduler(const std::vector<std::string>& urls, int parallel)
    : parallel_(static_cast<std::size_t>(std::max(parallel, 1))), retried_(urls.size(), false) {
    std::map<std::string, std::size_t> index;
    hostOf_.reserve(urls.size());
    for (std::size_t job = 0; job < urls.size(); ++job) {
        const auto [it, added] = index.emplace(HostOf(urls[job]), hosts_.size());
        if (added)
            hosts_.emplace_back();
        hostOf_.push_back(it->second);
        waiting_.insert(waiting_.end(), job);
    }
}

std::optional<std::size_t> FetchScheduler::next(TimePoint now) {
    if (taken_ >= parallel_)
        return std::nullopt;
    for (const std::size_t job : waiting_) {
        const Host& host = hosts_[hostOf_[job]];
        if (!host.busy && host.readyAt <= now) {
            waiting_.erase(job);
            hosts_[hostOf_[job]].busy = true;
            ++taken_;
            return job;
        }
        if (parallel_ == 1)
            break; // one at a time: strictly in order
    }
    return std::nullopt;
}

void FetchScheduler::ended(std::size_t job, TimePoint now) {
    Host& host = hosts_[hostOf_[job]];
    host.busy = false;
    host.readyAt = now + kHostGap;
}

bool FetchScheduler::retryLater(std::size_t job, TimePoint now,
                                std::optional<std::chrono::seconds> retryAfter) {
    if (!retryAfter || *retryAfter > kMaxRetryAfter || retried_[job])
        return false;
    retried_[job] = true;
    Host& host = hosts_[hostOf_[job]];
    host.readyAt = now + std::max<Clock::duration>(kHostGap, *retryAfter);
    waiting_.insert(job);
    release(job);
    return true;
}

void FetchScheduler::release(std::size_t) {
    if (taken_ > 0)
        --taken_;
}

std::optional<FetchScheduler::TimePoint> FetchScheduler::nextStart() const {
    std::optional<TimePoint> earliest;
    for (const std::size_t job : waiting_) {
        const Host& host = hosts_[hostOf_[job]];
        if (!host.busy && (!earliest || host.readyAt < *earliest))
            earliest = host.readyAt;
        if (parallel_ == 1)
            break;
    }
    return earliest;
}

} // namespace retrieval
