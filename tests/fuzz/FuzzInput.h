#pragma once
// Splitting a fuzz input into the fields a target feeds to the code under test.

#include <string_view>

namespace fuzz {

// The text up to the next LF (without it); `rest` moves past it.
inline std::string_view TakeLine(std::string_view& rest) {
    const std::size_t lf = rest.find('\n');
    const std::string_view line = rest.substr(0, lf);
    rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
    return line;
}

} // namespace fuzz
