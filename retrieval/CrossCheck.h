#pragma once
// "Prüfe": fetches every linking page listed in the table and marks whether it still mentions
// the domain, in a new status column and in the reports under reporting/backlinks.

#include "app/contract/Window.h"
#include "retrieval/HttpFetch.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace retrieval {

inline constexpr std::string_view kStatusHeader = "Status";
inline constexpr std::string_view kStatusFound = "gefunden";
inline constexpr std::string_view kStatusNotFound = "nicht gefunden";
inline constexpr std::string_view kStatusError = "Fehler";

struct FetchedPage {
    std::string body;        // the bytes as received
    std::string contentType; // the Content-Type header, empty when there was none
    std::string finalUrl{};  // after redirects; empty: the URL asked for
    long status = 0;         // HTTP status of the final answer; 0 when unknown
    long redirects = 0;
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

struct CrossCheckSetup {
    PageFetcher fetch;               // one page at a time
    PageFetches* parallel = nullptr; // several at once; needed when parallelFetches > 1
    int parallelFetches = 1;
    // True once the user stopped the command. Its waits and fetches then end with
    // toolkit::Cancelled, and the run ends as a finished one does, with what it checked: pages in
    // flight are dropped, the caption says "abgebrochen", the history keeps the run unfinished.
    // Without it (or while it is false) Cancelled ends the command at once, as a closing window does.
    std::function<bool()> stopped{};
};

// Runs the whole command on the window thread. A failure of a row only makes its cell "Fehler",
// with the error's message as the cell's note (the window's tooltip; the text, the filter and the
// reports never carry it). toolkit::Cancelled and errors of the report writing go to the caller.
// One page at a time, or with setup.parallelFetches > 1 several side by side (FetchScheduler's
// rules; rows get their status as their pages finish, the caption names the page last done).
void RunCrossCheck(toolkit::Window& window, const PageFetcher& fetch);
void RunCrossCheck(toolkit::Window& window, const CrossCheckSetup& setup);

} // namespace retrieval
