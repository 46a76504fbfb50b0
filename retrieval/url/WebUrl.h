#pragma once
// URLs read as browsers read them: the WHATWG URL standard's basic URL parser and its
// serialization, so that a link counts exactly where a browser would follow it. Special schemes
// (http, https, ws, wss, ftp, file) are parsed in full, others as far as the standard's generic
// rules go, which is enough to tell "sc:sd" or "about:blank" apart from a web address.
//
// Hosts are mapped by UTS 46 (nontransitional) through libidn2. libidn2 adds IDNA2008's rules,
// which the URL standard leaves out: for a label it refuses for its hyphens or for symbols, the
// parts between hyphens and known symbol and emoji blocks are mapped by libidn2 and the label
// encoded with our own punycode coder (Punycode.h). What still differs from browsers: symbols
// outside those blocks that IDNA2008 refuses (vulgar fractions, for one) make the host fail; in a
// label with such symbols no bidi or joiner rule is checked across the parts, and a combining mark
// right after a symbol fails. libidn2 applies the bidi rule to labels of digits like U+0660, which
// some browsers accept.
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
