#pragma once
// Soft 404: a page answered with success that is gone all the same, as a person sees it. Its title
// or main heading says so, or a deep address was sent on to the site's home page.

#include <string_view>

namespace retrieval {

// Whether a title or heading says that the page does not exist, in German, English, French,
// Spanish, Italian, Dutch, Portuguese, Polish, Swedish, Danish or Czech. It is cut into parts at
// the separators titles put between page and site name (" | ", " - ", " – ", "::", ...); it says
// so when one part consists only of
// - a not-found phrase ("Seite nicht gefunden", "page introuvable", ...) with nothing around it but
//   words like "Fehler", "Oops", "die", "page", "that", or
// - the number 404 with nothing around it but words like "Fehler", "Error", "HTTP", "Oops".
// Any other word in the part ("Route 404", "Fehler 404 beheben") means it is about something else.
bool SaysNotFound(std::string_view text);

// Whether `finalUrl` is the home page of the site of `url` (the same host, "www." aside: "/", an
// index file, or a language root such as "/de/", without a query) while `url` is not.
bool LeadsToHomePage(std::string_view url, std::string_view finalUrl);

} // namespace retrieval
