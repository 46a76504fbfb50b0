#include "retrieval/FetchScheduler.h"

#include <algorithm>

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
    : parallel_(static_cast<std::size_t>(std::max(parallel, 1))), rows_(urls.size()),
      retried_(urls.size(), false) {
    hostOf_.reserve(urls.size());
    for (std::size_t job = 0; job < urls.size(); ++job) {
        hostOf_.push_back(hostIndex(urls[job]));
        waiting_.insert(waiting_.end(), job);
    }
}

std::size_t FetchScheduler::hostIndex(const std::string& url) {
    const auto [it, added] = hostIndex_.emplace(HostOf(url), hosts_.size());
    if (added)
        hosts_.emplace_back();
    return it->second;
}

std::optional<std::size_t> FetchScheduler::next(TimePoint now) {
    for (const std::size_t job : requests_) {
        Host& host = hosts_[hostOf_[job]];
        if (!host.busy && host.readyAt <= now) {
            requests_.erase(job);
            host.busy = true;
            ++requestsRunning_;
            return job;
        }
    }
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
    if (isRequest(job) && requestsRunning_ > 0)
        --requestsRunning_;
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

bool FetchScheduler::retryAtEnd(std::size_t job) {
    if (retried_[job])
        return false;
    retried_[job] = true;
    again_.insert(job);
    release(job);
    return true;
}

std::size_t FetchScheduler::addRequest(const std::string& url) {
    const std::size_t job = hostOf_.size();
    hostOf_.push_back(hostIndex(url));
    requests_.insert(job);
    return job;
}

void FetchScheduler::release(std::size_t) {
    if (taken_ > 0)
        --taken_;
    beginSecondPassWhenDue();
}

void FetchScheduler::beginSecondPassWhenDue() {
    if (taken_ > 0 || !waiting_.empty() || again_.empty())
        return;
    secondPass_ = again_.size();
    waiting_ = std::move(again_);
    again_.clear();
}

std::optional<FetchScheduler::TimePoint> FetchScheduler::nextStart() const {
    std::optional<TimePoint> earliest;
    const auto consider = [&](std::size_t job) {
        const Host& host = hosts_[hostOf_[job]];
        if (!host.busy && (!earliest || host.readyAt < *earliest))
            earliest = host.readyAt;
    };
    for (const std::size_t job : requests_)
        consider(job);
    if (full())
        return earliest;
    for (const std::size_t job : waiting_) {
        consider(job);
        if (parallel_ == 1)
            break;
    }
    return earliest;
}

} // namespace retrieval
