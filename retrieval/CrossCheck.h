#pragma once
// "Prüfe": fetches every linking page listed in the table and marks whether it still mentions
// the domain, in a new status column and in the reports under reporting/backlinks.

#include "app/contract/Window.h"
#include "retrieval/http/PageFetch.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace retrieval {

class PageRenderer;

inline constexpr std::string_view kStatusHeader = "Status";
inline constexpr std::string_view kStatusFound = "gefunden";
inline constexpr std::string_view kStatusNotFound = "nicht gefunden";
inline constexpr std::string_view kStatusError = "Fehler";

struct CrossCheckSetup {
    PageFetcher fetch;               // one page at a time
    PageFetches* parallel = nullptr; // several at once; needed when parallelFetches > 1
    int parallelFetches = 1;
    // True once the user stopped the command. Its waits and fetches then end with
    // toolkit::Cancelled, and the run ends as a finished one does, with what it checked: pages in
    // flight are dropped, the caption says "abgebrochen", the history keeps the run unfinished.
    // Without it (or while it is false) Cancelled ends the command at once, as a closing window does.
    std::function<bool()> stopped{};
    // robots.txt of the hosts whose pages link to the domain, fetched as `fetch` and `parallel`
    // fetch pages, with RobotsFetchOptions(). Without them no robots.txt is asked.
    PageFetcher robots{};
    PageFetches* robotsParallel = nullptr;
    // A page whose HTML has scripts and no link to the domain is looked at again in this browser;
    // null when none was found or the user switched it off (`browserOff`), and such a page's links
    // then count as unread.
    PageRenderer* renderer = nullptr;
    bool browserOff = false;
};

// Runs the whole command on the window thread. A failure of a row only makes its cell "Fehler",
// with the error's message as the cell's note (the window's tooltip; the text, the filter and the
// reports never carry it). toolkit::Cancelled and errors of the report writing go to the caller.
// One page at a time, or with setup.parallelFetches > 1 several side by side (FetchScheduler's
// rules; rows get their status as their pages finish, the caption names the page last done).
// A page whose first fetch failed in a way that may pass (RetryAtEnd) is fetched once more after
// all the others; only that second answer counts. A stopped run keeps the first answer instead.
void RunCrossCheck(toolkit::Window& window, const PageFetcher& fetch);
void RunCrossCheck(toolkit::Window& window, const CrossCheckSetup& setup);

} // namespace retrieval
