#pragma once
// A file's bytes as UTF-8 text: a byte order mark (UTF-8, UTF-16) decides; without one, UTF-16 is
// told by its zero bytes, valid UTF-8 stays UTF-8 and anything else is read as Windows-1252.
// Binary data (an image, a program, an old .xls) is refused.

#include <string>
#include <string_view>

namespace retrieval {

struct DecodedText {
    std::string text;
    std::string encoding; // "UTF-8", "UTF-8 mit BOM", "UTF-16LE", "UTF-16BE", "Windows-1252"
};

// Throws ImportError naming `name` and the line of the first fault.
DecodedText DecodeText(std::string bytes, std::string_view name);

// The 1-based line of a byte offset.
std::size_t LineAt(std::string_view text, std::size_t offset);

} // namespace retrieval
