#pragma once
// The header lines of an answer as the page's verdict reads them (X-Robots-Tag, Link, ...).

#include <string>
#include <utility>
#include <vector>

namespace retrieval {

// Header lines of one answer as sent: name and value, without the line end.
using HeaderList = std::vector<std::pair<std::string, std::string>>;

} // namespace retrieval
