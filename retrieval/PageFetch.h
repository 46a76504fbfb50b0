#pragma once
// Fetching the linking pages for the cross-check over libcurl.

#include "retrieval/CrossCheck.h"
#include "retrieval/HttpFetch.h"

#include <chrono>
#include <cstdint>

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

} // namespace retrieval
