#pragma once
// The text of a fetched linking page and the test whether it mentions the domain.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace retrieval {

// The page body as UTF-8, decoded the way browsers decide a page's encoding: a byte order mark
// (UTF-8, UTF-16LE/BE) goes before the charset parameter of the Content-Type header, the header
// before a meta declaration that the HTML standard's prescan finds in the first 4 KiB, and that
// before an XML declaration (<?xml ... encoding="..."?>) that opens the page; labels count as the
// web's Encoding standard names them, and one it does not name counts as absent.
// Without any of them the body is UTF-8 when it is valid UTF-8 and Windows-1252 otherwise.
// Byte sequences that are invalid in the chosen encoding become U+FFFD each; the body never makes
// this fail.
std::string DecodePage(std::string_view body, std::string_view contentTypeHeader);

// Whether the page text contains the domain text (case-sensitive). A domain with non-ASCII
// letters is also found by its IDNA ASCII form (xn--), a domain typed in its ASCII form also by
// its Unicode form. An empty domain is found in no page.
bool MentionsDomain(std::string_view pageText, std::string_view domain);

namespace detail {
// The charset parameter of a Content-Type value read as a MIME type, unquoted; empty when there is
// none or the value is no valid MIME type.
std::string CharsetFromContentType(std::string_view contentType);
// The encoding a label names, by the Encoding standard's name ("windows-1252" for "latin1");
// empty when the label names none.
std::string EncodingForLabel(std::string_view label);
// The encoding the prescan finds in the first 4 KiB (a meta declaration, else an XML declaration at
// the start); empty when it finds none.
std::string PrescanEncoding(std::string_view body);
// Bytes the refresh prescan reads: a forwarding page says so in its head.
inline constexpr std::size_t kRefreshPrescanBytes = std::size_t{64} << 10;
// The content attribute of the first <meta http-equiv="refresh"> in the first kRefreshPrescanBytes,
// as written, found as the charset prescan finds a meta declaration; one inside raw text (script,
// style, ...) or <noscript> does not count. Empty when there is none.
std::optional<std::string> PrescanRefresh(std::string_view body);
// The other form of the domain under IDNA (ASCII for Unicode, Unicode for ASCII), if it has one.
std::optional<std::string> OtherIdnaForm(std::string_view domain);
} // namespace detail

} // namespace retrieval
