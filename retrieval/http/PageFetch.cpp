#include "retrieval/http/PageFetch.h"

#include "retrieval/http/HttpFailure.h"
#include "retrieval/http/PollEventSource.h"
#include "retrieval/page/Refresh.h"

#include <algorithm>
#include <curl/curl.h>
#include <set>
#include <utility>

namespace retrieval {

namespace {

using Clock = std::chrono::steady_clock;

FetchedPage PageOf(HttpResponse response) {
    return FetchedPage{std::move(response.body),     std::move(response.contentType),
                       std::move(response.finalUrl), response.status,
                       response.redirects,           std::move(response.headers)};
}

// An address as a loop is told by: without its fragment.
std::string Place(std::string url) {
    url.erase(std::min(url.find('#'), url.size()));
    return url;
}

} // namespace

// One page: a transfer per address, one after the other on the same event source, until an answer
// forwards nowhere.
class PageTransfer {
public:
    PageTransfer(const std::string& url, const FetchOptions& options, toolkit::EventSource& events)
        : url_(url), options_(options), events_(events) {
        visited_.insert(Place(url));
        transfer_ = std::make_unique<CurlTransfer>(url, options_, events_);
    }

    // True once the page is in or has failed.
    bool poll() {
        if (page_ || error_)
            return true;
        if (!transfer_->poll())
            return false;
        try {
            HttpResponse response = transfer_->result();
            response.redirects += options_.redirectsBefore;
            std::optional<std::string> next =
                RefreshTarget(response.finalUrl, response.headers, response.contentType, response.body);
            if (!next) {
                page_ = std::move(response);
                return true;
            }
            visited_.insert(Place(response.finalUrl));
            if (response.redirects >= options_.maxRedirects)
                throw TooManyRedirects(visited_.contains(Place(*next)));
            visited_.insert(Place(*next));
            options_.redirectsBefore = response.redirects + 1;
            transfer_.reset(); // its socket and timer go before the next one's come
            transfer_ = std::make_unique<CurlTransfer>(*next, options_, events_);
            return false;
        } catch (...) {
            error_ = std::current_exception();
            return true;
        }
    }

    void abort() {
        if (transfer_)
            transfer_->abort();
    }

    HttpResponse result() {
        poll();
        if (error_)
            std::rethrow_exception(error_);
        return std::move(*page_);
    }

private:
    FetchError TooManyRedirects(bool loop) const {
        detail::FetchOutcome outcome;
        outcome.curlCode = CURLE_TOO_MANY_REDIRECTS;
        FetchError plain = detail::Failure(url_, outcome, options_);
        if (!loop)
            return plain;
        return FetchError(
            MaskSecrets("Abruf von " + url_ + " fehlgeschlagen: zu viele Weiterleitungen (mehr als " +
                        std::to_string(options_.maxRedirects) + "), die Seite leitet per Refresh im Kreis."),
            "Zu viele Weiterleitungen (Refresh-Schleife)");
    }

    std::string url_;
    FetchOptions options_;
    toolkit::EventSource& events_;
    std::unique_ptr<CurlTransfer> transfer_;
    std::set<std::string> visited_;
    std::optional<HttpResponse> page_;
    std::exception_ptr error_;
};

FetchOptions PageFetchOptions() {
    FetchOptions options;
    options.maxBodyBytes = kPageMaxBytes;
    options.totalTimeout = kPageTotalTimeout;
    return options;
}

PageFetcher MakeCurlPageFetcher(FetchOptions options, KeepGoing keepGoing, toolkit::EventSource* events) {
    options.tlsTransportAttached = false;
    return [options = std::move(options), keepGoing = std::move(keepGoing), events](const std::string& url) {
        PollEventSource ownEvents;
        toolkit::EventSource& source = events != nullptr ? *events : ownEvents;
        PageTransfer transfer(url, options, source);
        auto lastHook = Clock::now();
        const auto poll =
            std::clamp(options.pollInterval, std::chrono::milliseconds(1), std::chrono::milliseconds(1000));
        while (!transfer.poll()) {
            source.wait(poll);
            if (transfer.poll())
                break;
            const auto now = Clock::now();
            if (keepGoing && now - lastHook >= options.pollInterval) {
                lastHook = now;
                if (!keepGoing()) {
                    transfer.abort();
                    break;
                }
            }
        }
        return PageOf(transfer.result());
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
        run.transfer = std::make_unique<PageTransfer>(url, options_, *run.events);
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

void CurlPageFetches::stopAll() {
    running_.clear();
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
