#include "retrieval/PageFetch.h"

#include <utility>

namespace retrieval {

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
        HttpResponse response = client.Fetch(url);
        return FetchedPage{std::move(response.body),     std::move(response.contentType),
                           std::move(response.finalUrl), response.status,
                           response.redirects,           std::move(response.headers)};
    };
}

} // namespace retrieval
