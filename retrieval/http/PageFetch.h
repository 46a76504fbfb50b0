#pragma once
// Fetching the linking pages: one at a time or several side by side, over libcurl. A page that
// forwards by a Refresh header or a meta refresh is followed like an HTTP redirect.

#include "retrieval/http/HttpFetch.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace retrieval {

struct FetchedPage {
    std::string body;        // the bytes as received
    std::string contentType; // the Content-Type header, empty when there was none
    std::string finalUrl{};  // after redirects and refreshes; empty: the URL asked for
    long status = 0;         // HTTP status of the final answer; 0 when unknown
    long redirects = 0;      // HTTP redirects and refreshes followed
    HeaderList headers{}; // of the final answer
};

// Fetches one page with a client of its own, released before it returns. Throws toolkit::Error
// on any failure (also for an empty or malformed URL), toolkit::Cancelled when the window closes.
using PageFetcher = std::function<FetchedPage(const std::string& url)>;

// Fetches several pages side by side, each with a client of its own. Every fetch that was started
// is handed back once by takeEnded(), with its page or its error (a FetchError as PageFetcher
// throws it).
class PageFetches {
public:
    struct Ended {
        std::size_t id = 0;
        FetchedPage page;
        std::exception_ptr error;
    };
    virtual ~PageFetches() = default;
    virtual void start(std::size_t id, const std::string& url) = 0;
    virtual std::vector<Ended> takeEnded() = 0;
    virtual std::size_t running() const = 0;
    // Lets the running fetches progress, handling window events, until one has ended or `atMost`
    // has passed. Throws what the keep-going hook throws (toolkit::Cancelled).
    virtual void wait(std::chrono::milliseconds atMost) = 0;
    // Ends every running fetch at once; none of them is handed back.
    virtual void stopAll() = 0;
};

inline constexpr std::uint64_t kPageMaxBytes = std::uint64_t{16} << 20;
inline constexpr std::chrono::milliseconds kPageTotalTimeout{60'000};

// A page over the cap fails ("Antwort zu groß") rather than being judged on its first part, and
// one dead host costs at most the total time-out. The rest as for service answers.
FetchOptions PageFetchOptions();

// Every call creates its own client, fetches the page and releases the client, whatever happens.
// No TLS transport is attached; https certificates are verified. Failures throw FetchError; an
// exception from `keepGoing` passes through as it is. `events` drives the transfers (see
// CurlHttpClient) and must outlive the fetcher.
// A successful answer that forwards elsewhere (RefreshTarget, retrieval/page/Refresh.h) is
// followed: HTTP redirects and refreshes together stay within options.maxRedirects, and the page
// is the last answer, with the address it came from. Each address gets the time-outs anew.
PageFetcher MakeCurlPageFetcher(FetchOptions options = PageFetchOptions(), KeepGoing keepGoing = {},
                                toolkit::EventSource* events = nullptr);

class PageTransfer;

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
    void stopAll() override;

private:
    struct Running {
        std::unique_ptr<toolkit::EventSource> events; // outlives its transfer
        std::unique_ptr<PageTransfer> transfer;
    };
    void collect();

    FetchOptions options_;
    KeepGoing keepGoing_;
    EventSourceFactory newEvents_;
    std::map<std::size_t, Running> running_;
    std::vector<Ended> ended_;
};

} // namespace retrieval
