#pragma once
// Fetching the linking pages for the cross-check over libcurl.

#include "retrieval/CrossCheck.h"
#include "retrieval/HttpFetch.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace retrieval {

inline constexpr std::uint64_t kPageMaxBytes = std::uint64_t{16} << 20;
inline constexpr std::chrono::milliseconds kPageTotalTimeout{60'000};

// A page over the cap fails ("Antwort zu groß") rather than being judged on its first part, and
// one dead host costs at most the total time-out. The rest as for service answers.
FetchOptions PageFetchOptions();

// Every call creates its own client, fetches the page and releases the client, whatever happens.
// No TLS transport is attached; https certificates are verified. Failures throw FetchError; an
// exception from `keepGoing` passes through as it is. `events` drives the transfers (see
// CurlHttpClient) and must outlive the fetcher.
PageFetcher MakeCurlPageFetcher(FetchOptions options = PageFetchOptions(), KeepGoing keepGoing = {},
                                toolkit::EventSource* events = nullptr);

// Pages side by side over libcurl, each with a client and an event source of its own, released
// once the page is handed back. Only sources that share one event loop (the window's) let all
// transfers progress in one wait; the default, poll(2) sources, suits a single page at a time.
class CurlPageFetches final : public PageFetches {
public:
    using EventSourceFactory = std::function<std::unique_ptr<toolkit::EventSource>()>;
    explicit CurlPageFetches(FetchOptions options = PageFetchOptions(), KeepGoing keepGoing = {},
                             EventSourceFactory newEvents = {});
    ~CurlPageFetches() override;
    CurlPageFetches(const CurlPageFetches&) = delete;
    CurlPageFetches& operator=(const CurlPageFetches&) = delete;

    void start(std::size_t id, const std::string& url) override;
    std::vector<Ended> takeEnded() override;
    std::size_t running() const override { return running_.size(); }
    // A keep-going hook that returns false aborts every running fetch.
    void wait(std::chrono::milliseconds atMost) override;
    void stopAll() override { running_.clear(); }

private:
    struct Running {
        std::unique_ptr<toolkit::EventSource> events; // outlives its transfer
        std::unique_ptr<CurlTransfer> transfer;
    };
    void collect();

    FetchOptions options_;
    KeepGoing keepGoing_;
    EventSourceFactory newEvents_;
    std::map<std::size_t, Running> running_;
    std::vector<Ended> ended_;
};

} // namespace retrieval
