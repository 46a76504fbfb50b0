#pragma once
// "Prüfe": fetches every linking page listed in the table and marks whether it still mentions
// the domain, in a new status column and in the reports under reporting/backlinks.

#include "app/contract/Window.h"
#include "retrieval/HttpFetch.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

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

// Runs the whole command on the window thread. A failure of a row only makes its cell "Fehler",
// with the error's message as the cell's note (the window's tooltip; the text, the filter and the
// reports never carry it). toolkit::Cancelled and errors of the report writing go to the caller.
void RunCrossCheck(toolkit::Window& window, const PageFetcher& fetch);

} // namespace retrieval
