#include "retrieval/http/PageFetch.h"

#include "retrieval/http/PollEventSource.h"

#include <utility>

namespace retrieval {

namespace {

FetchedPage PageOf(HttpResponse response) {
    return FetchedPage{std::move(response.body),     std::move(response.contentType),
                       std::move(response.finalUrl), response.status,
                       response.redirects,           std::move(response.headers)};
}

} // namespace

FetchOptions PageFetchOptions() {
    FetchOptions options;
    options.maxBodyBytes = kPageMaxBytes;
    options.totalTimeout = kPageTotalTimeout;
    return options;
}

PageFetcher MakeCurlPageFetcher(FetchOptions options, KeepGoing keepGoing, toolkit::EventSource* events) {
    options.tlsTransportAttached = false;
    return [options = std::move(options), keepGoing = std::move(keepGoing), events](const std::string& url) {
        CurlHttpClient client(options, keepGoing, events);
        return PageOf(client.Fetch(url));
    };
}

CurlPageFetches::CurlPageFetches(FetchOptions options, KeepGoing keepGoing, EventSourceFactory newEvents)
    : options_(std::move(options)), keepGoing_(std::move(keepGoing)), newEvents_(std::move(newEvents)) {
    options_.tlsTransportAttached = false;
    if (!newEvents_)
        newEvents_ = [] { return std::make_unique<PollEventSource>(); };
}

CurlPageFetches::~CurlPageFetches() = default;

void CurlPageFetches::start(std::size_t id, const std::string& url) {
    Running run;
    try {
        run.events = newEvents_();
        run.transfer = std::make_unique<CurlTransfer>(url, options_, *run.events);
    } catch (...) {
        ended_.push_back({id, {}, std::current_exception()});
        return;
    }
    running_.insert_or_assign(id, std::move(run));
}

void CurlPageFetches::collect() {
    for (auto it = running_.begin(); it != running_.end();) {
        if (!it->second.transfer->poll()) {
            ++it;
            continue;
        }
        Ended ended{it->first, {}, {}};
        try {
            ended.page = PageOf(it->second.transfer->result());
        } catch (...) {
            ended.error = std::current_exception();
        }
        ended_.push_back(std::move(ended));
        it = running_.erase(it);
    }
}

std::vector<PageFetches::Ended> CurlPageFetches::takeEnded() {
    collect();
    return std::exchange(ended_, {});
}

void CurlPageFetches::wait(std::chrono::milliseconds atMost) {
    collect();
    if (!ended_.empty() || running_.empty())
        return;
    running_.begin()->second.events->wait(atMost);
    if (keepGoing_ && !keepGoing_())
        for (auto& [id, run] : running_)
            run.transfer->abort();
}

} // namespace retrieval
