#pragma once
// Punycode (RFC 3492), the ASCII form of an internationalised label after "xn--". A coder of our
// own: libidn2 exports its coder only as a private, versioned symbol, which a later libidn2 may
// drop and with it every start of the program.

#include <optional>
#include <string>
#include <string_view>

namespace retrieval {

// The label's code points as punycode (basic code points first, then the deltas), without "xn--";
// none on overflow or for a code point beyond U+10FFFF or a surrogate. Case of basic code points
// is kept.
std::optional<std::string> PunycodeEncode(std::u32string_view label);

// The code points of a punycode label (without "xn--"); none for anything RFC 3492's decoder
// refuses: a non-ASCII byte, a bad digit, a cut-off number, an overflow, a result beyond U+10FFFF
// or a surrogate.
std::optional<std::u32string> PunycodeDecode(std::string_view ascii);

} // namespace retrieval
