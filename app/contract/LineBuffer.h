#pragma once
// A hidden multi-line text buffer held as a plain line list (Memo1, Memo3, Memo11).
// Text set as a whole is split at CR LF only; a lone CR or LF stays inside its line; a final
// CR LF adds no empty line; an empty text has no lines. text() ends every line with CR LF.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace toolkit {

// Splits by the line rules above. The views point into `text`.
std::vector<std::string_view> SplitLinesView(std::string_view text);

class LineBuffer {
public:
    void clear() { lines_.clear(); }
    void setText(std::string_view text);
    std::string text() const;
    std::size_t count() const { return lines_.size(); }
    const std::string& line(std::size_t i) const { return lines_.at(i); }
    void append(std::string line) { lines_.push_back(std::move(line)); }
    const std::vector<std::string>& lines() const { return lines_; }
    std::vector<std::string>& lines() { return lines_; }

private:
    std::vector<std::string> lines_;
};

} // namespace toolkit
