#include "app/contract/LineBuffer.h"

namespace toolkit {

std::vector<std::string_view> SplitLinesView(std::string_view text) {
    // Counted first: answers run to millions of lines, and a growing vector would briefly hold
    // three times the views.
    std::size_t separators = 0;
    for (std::size_t pos = text.find("\r\n"); pos != std::string_view::npos; pos = text.find("\r\n", pos + 2))
        ++separators;
    std::vector<std::string_view> out;
    out.reserve(separators + 1);
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t pos = text.find("\r\n", start);
        if (pos == std::string_view::npos) {
            out.push_back(text.substr(start));
            break;
        }
        out.push_back(text.substr(start, pos - start));
        start = pos + 2;
    }
    return out;
}

void LineBuffer::setText(std::string_view text) {
    lines_.clear();
    for (std::string_view l : SplitLinesView(text))
        lines_.emplace_back(l);
}

std::string LineBuffer::text() const {
    std::size_t total = 0;
    for (const auto& l : lines_)
        total += l.size() + 2;
    std::string out;
    out.reserve(total);
    for (const auto& l : lines_) {
        out += l;
        out += "\r\n";
    }
    return out;
}

} // namespace toolkit
