#include "retrieval/RetryRule.h"

#include "retrieval/FetchScheduler.h"
#include "retrieval/http/HttpFetch.h"
#include "retrieval/page/Challenge.h"

namespace retrieval {

std::optional<std::chrono::seconds> TurnedAway(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const FetchError& e) {
        if (e.httpStatus() == 429 || e.httpStatus() == 503)
            return e.retryAfter();
    } catch (...) {
    }
    return std::nullopt;
}

bool RetryAtEnd(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const FetchError& e) {
        if (IsChallengeReason(e.reason())) // blocked, not "try again later"
            return false;
        if (e.transient())
            return true;
        switch (e.httpStatus()) {
        case 500:
        case 502:
        case 503:
        case 504:
            return !(e.retryAfter() && *e.retryAfter() > FetchScheduler::kMaxRetryAfter);
        default:
            return false;
        }
    } catch (...) {
    }
    return false;
}

} // namespace retrieval
