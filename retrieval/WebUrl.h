#pragma once
// URLs read as browsers read them: the WHATWG URL standard's basic URL parser and its
// serialization, so that a link counts exactly where a browser would follow it. Special schemes
// (http, https, ws, wss, ftp, file) are parsed in full, others as far as the standard's generic
// rules go, which is enough to tell "sc:sd" or "about:blank" apart from a web address.
//
// Hosts are mapped by UTS 46 (nontransitional) through libidn2. Where libidn2's IDNA2008 checks
// reject a label that UTS 46 accepts (emoji and other symbols), the label's code points are
// mapped one by one and the result punycode-encoded; in that fallback no normalisation across
// code points and no bidi or joiner rule applies.
//
// Input is UTF-8; invalid sequences read as U+FFFD, as a browser's decoder would have made them.
// The work is linear in the input.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace retrieval {

struct WebUrl {
    std::string scheme; // lower case, without ':'
    std::string username;
    std::string password;
    std::optional<std::string> host; // serialized: domain in ASCII form, IPv4, [IPv6] or opaque
    std::string hostAsWritten;       // the host's text before host parsing
    std::optional<std::uint16_t> port;
    std::vector<std::string> path; // segments; with opaquePath its only item is the opaque path
    bool opaquePath = false;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    bool special() const;
    bool web() const { return scheme == "http" || scheme == "https"; }
    std::string href() const;
};

// Null where the standard's parser returns failure. `base` is used for relative references.
std::optional<WebUrl> ParseWebUrl(std::string_view input, const WebUrl* base = nullptr);

// The standard's host parser for a special URL's host (percent-decoding, UTS 46, IPv4, [IPv6]).
std::optional<std::string> ParseWebHost(std::string_view input);

} // namespace retrieval
