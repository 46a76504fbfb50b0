#include "retrieval/PageVerdict.h"

#include "retrieval/CrossCheck.h"
#include "retrieval/page/Challenge.h"
#include "retrieval/page/SoftNotFound.h"

#include <optional>
#include <utility>

namespace retrieval {

namespace {

std::string Quoted(const std::string& text) {
    return "„" + text + "“";
}

} // namespace

std::exception_ptr Screened(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const FetchError& e) {
        if (e.httpStatus() == 0)
            return error;
        const std::optional<Challenge> challenge =
            FindChallenge(e.httpStatus(), e.answerHeaders(), e.answerBody());
        if (!challenge)
            return error;
        FetchError blocked(e.what(), ChallengeReason(*challenge), e.httpStatus());
        return std::make_exception_ptr(blocked); // without Retry-After: a challenge is not "later"
    } catch (...) {
    }
    return error;
}

FetchedPage FetchScreened(const PageFetcher& fetch, const std::string& url) {
    try {
        return fetch(url);
    } catch (const FetchError&) {
        std::rethrow_exception(Screened(std::current_exception()));
    }
}

std::string ChallengeOn(const FetchedPage& page) {
    const std::optional<Challenge> challenge = FindChallenge(page.status, page.headers, page.body);
    return challenge ? ChallengeReason(*challenge) : std::string();
}

bool JudgePage(PageCheck& check) {
    const LinkVerdict& v = check.links;
    if (check.status == kStatusError || (v.parsed() && v.linkCount > 0))
        return false;
    if (!check.challenge.empty()) {
        check.status = kStatusError;
        check.reason = check.challenge;
        return true;
    }
    if (!v.parsed())
        return false;
    std::string detail;
    if (SaysNotFound(v.title))
        detail = "Titel " + Quoted(v.title);
    else if (SaysNotFound(v.heading))
        detail = "Überschrift " + Quoted(v.heading);
    else if (check.redirects > 0 && LeadsToHomePage(check.url, check.finalUrl))
        detail = "weitergeleitet auf die Startseite " + check.finalUrl;
    else
        return false;
    check.status = kStatusError;
    check.reason = kSoftNotFound;
    check.reasonDetail = std::move(detail);
    return true;
}

} // namespace retrieval
