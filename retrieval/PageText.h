#pragma once
// The text of a fetched linking page and the test whether it mentions the domain.

#include <optional>
#include <string>
#include <string_view>

namespace retrieval {

// The page body as UTF-8. The character set is taken from the charset parameter of the
// Content-Type header, else from a byte order mark (UTF-8, UTF-16LE/BE), else from a meta charset
// declaration in the first 4 KiB, else the body is UTF-8 when it is valid UTF-8 and Windows-1252
// otherwise. A label the system cannot decode counts as absent. ISO-8859-1 and US-ASCII are read
// as Windows-1252, as browsers do. Byte sequences that are invalid in the chosen set become
// U+FFFD each; the body never makes this fail.
std::string DecodePage(std::string_view body, std::string_view contentTypeHeader);

// Whether the page text contains the domain text (case-sensitive). A domain with non-ASCII
// letters is also found by its IDNA ASCII form (xn--), a domain typed in its ASCII form also by
// its Unicode form. An empty domain is found in no page.
bool MentionsDomain(std::string_view pageText, std::string_view domain);

namespace detail {
// The charset parameter of a Content-Type value, unquoted; empty when there is none.
std::string CharsetFromContentType(std::string_view contentType);
// The charset a <meta> tag declares within the first 4 KiB; empty when there is none.
std::string CharsetFromMeta(std::string_view body);
// The other form of the domain under IDNA (ASCII for Unicode, Unicode for ASCII), if it has one.
std::optional<std::string> OtherIdnaForm(std::string_view domain);
} // namespace detail

} // namespace retrieval
