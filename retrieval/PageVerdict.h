#pragma once
// What a fetched linking page is as a person in a browser sees it, beyond its HTTP status: a
// bot-protection challenge in place of the page (whatever its status), or a page that answered
// with success and is gone all the same (soft 404).

#include "retrieval/LinkReport.h"
#include "retrieval/http/PageFetch.h"

#include <exception>
#include <string>
#include <string_view>

namespace retrieval {

inline constexpr std::string_view kSoftNotFound = "Seite nicht gefunden (Soft 404)";

// A failed fetch with bot protection told apart: an error answer that is a challenge page fails
// as "blockiert (Bot-Schutz: …)" and, whatever its Retry-After said, asks for no second try.
// Any other failure stays as it is.
std::exception_ptr Screened(std::exception_ptr error);

// `fetch(url)`, its failure Screened.
FetchedPage FetchScreened(const PageFetcher& fetch, const std::string& url);

// The reason for a challenge page served as success ("blockiert (Bot-Schutz: …)"); empty for
// any other page. It is judged once the page's links are read (JudgePage).
std::string ChallengeOn(const FetchedPage& page);

// Once the page's links are read. A page that links to the domain is the page, whatever it
// carries. Otherwise a challenge page served as success becomes "Fehler" with its reason; and a
// page whose title or main heading says it does not exist, or a deep address sent on to its
// site's home page, becomes "Fehler" with the reason kSoftNotFound and what gave it away. True
// when the check changed.
bool JudgePage(PageCheck& check);

} // namespace retrieval
