#pragma once
// A hidden multi-line text buffer (Memo1, Memo3, Memo11).
// Text set as a whole is split at CR LF only; a lone CR or LF stays inside its line; a final
// CR LF adds no empty line; an empty text has no lines. text() ends every line with CR LF.
//
// A buffer set or grown as text keeps that one text, since answers run to millions of short
// lines that would each cost a string of their own. It turns into a list of strings the first
// time line() or lines() is asked for, and stays one until clear() or setText().

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace toolkit {

// Splits by the line rules above. The views point into `text`.
std::vector<std::string_view> SplitLinesView(std::string_view text);

class LineBuffer {
public:
    void clear();
    void setText(std::string_view text);
    // setText() for a text the caller has no more use for: it is kept without a copy.
    void takeText(std::string text);
    std::string text() const;
    std::size_t count() const;
    const std::string& line(std::size_t i) const { return asList().at(i); }
    void append(std::string line);
    const std::vector<std::string>& lines() const { return asList(); }
    std::vector<std::string>& lines() { return asList(); }
    // The lines as views into the buffer, valid until it next changes.
    std::vector<std::string_view> lineViews() const;

private:
    static constexpr std::size_t kUncounted = static_cast<std::size_t>(-1);

    std::vector<std::string>& asList() const;
    // The held text lacks the CR LF after its last line.
    bool textUnterminated() const;

    // Either the text, as given, with lines_ empty; or, once listed_, the lines with text_ empty.
    mutable std::string text_;
    mutable std::vector<std::string> lines_;
    mutable bool listed_ = false;
    mutable std::size_t count_ = 0; // of the lines in text_, or kUncounted
};

} // namespace toolkit
