#pragma once
// How a failed transfer is put into words. Apart from HttpFetch.h so that tests can check the
// wording of failures they cannot provoke on loopback (a host that is not found).

#include "retrieval/http/HttpFetch.h"

#include <chrono>
#include <string>

namespace retrieval::detail {

struct FetchOutcome {
    int curlCode = 0; // CURLcode
    long httpStatus = 0;
    int osErrno = 0;
    bool connected = false; // the last request got its connection
    bool stalled = false;   // nothing arrived for the stall time-out
    bool tooLarge = false;
    bool nameMayResolve = false; // a name not found: the name server failed, or it resolves now
    std::chrono::milliseconds elapsed{0};
};

// The error for a failed transfer: the German message, secrets in `url` masked, and its short reason.
FetchError Failure(const std::string& url, const FetchOutcome& outcome, const FetchOptions& options);

// Failure(...).what() as a string.
std::string FailureMessage(const std::string& url, const FetchOutcome& outcome, const FetchOptions& options);

// A body that is valid UTF-8 is kept; any other is taken as Windows-1252 and turned into UTF-8.
std::string BodyAsText(std::string body);

} // namespace retrieval::detail
