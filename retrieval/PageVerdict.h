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

// The page, unless it is a challenge page served as success: that throws its FetchError. A failure
// of `fetch` comes out Screened.
FetchedPage FetchScreened(const PageFetcher& fetch, const std::string& url);

// The same for a page fetched side by side: a challenge, served either way, becomes its error.
void Screen(PageFetches::Ended& ended, const std::string& url);

// Once the page's links are read: a page without a link to the domain whose title or main heading
// says it does not exist, or a deep address sent on to its site's home page, becomes "Fehler" with
// the reason kSoftNotFound and what gave it away. A page that still links to the domain keeps its
// verdict. True when the check changed.
bool JudgeSoftNotFound(PageCheck& check);

} // namespace retrieval
