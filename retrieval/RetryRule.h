#pragma once
// Which failed page fetches of a "Prüfe" are asked once more, and when. No page is asked more than
// twice: a server that asks for a short pause (429 or 503 with a Retry-After of at most
// FetchScheduler::kMaxRetryAfter) is asked again once that pause is over; a failure that may pass
// by itself is asked again at the end of the run, after every other page. The second answer stands.

#include <chrono>
#include <exception>
#include <optional>

namespace retrieval {

// How long a server that turned the page away (429, 503) asked to be left alone, if it said so.
std::optional<std::chrono::seconds> TurnedAway(const std::exception_ptr& error);

// Whether a page whose first fetch failed so is fetched once more at the end of the run: a
// time-out, a connection refused, unreachable or broken off, a name the name server could not
// look up just then, or a server error 500, 502, 503 or 504 whose server did not ask for a longer
// pause than the run waits. Anything else (404, 403, a certificate, a page too large) is an answer.
bool RetryAtEnd(const std::exception_ptr& error);

} // namespace retrieval
