#include "app/contract/LineBuffer.h"

#include <utility>

namespace toolkit {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

} // namespace

std::vector<std::string_view> SplitLinesView(std::string_view text) {
    // Counted first: answers run to millions of lines, and a growing vector would briefly hold
    // three times the views.
    std::size_t separators = 0;
    for (std::size_t pos = text.find(kLineEnd); pos != std::string_view::npos;
         pos = text.find(kLineEnd, pos + 2))
        ++separators;
    std::vector<std::string_view> out;
    out.reserve(separators + 1);
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t pos = text.find(kLineEnd, start);
        if (pos == std::string_view::npos) {
            out.push_back(text.substr(start));
            break;
        }
        out.push_back(text.substr(start, pos - start));
        start = pos + 2;
    }
    return out;
}

void LineBuffer::clear() {
    std::string().swap(text_);
    std::vector<std::string>().swap(lines_);
    listed_ = false;
    count_ = 0;
}

void LineBuffer::setText(std::string_view text) {
    // Copied before anything is released: `text` may lie in this buffer.
    takeText(std::string(text));
}

void LineBuffer::takeText(std::string text) {
    std::vector<std::string>().swap(lines_);
    listed_ = false;
    text_ = std::move(text);
    count_ = kUncounted;
}

bool LineBuffer::textUnterminated() const {
    return !text_.empty() && !text_.ends_with(kLineEnd);
}

std::string LineBuffer::text() const {
    std::string out;
    if (!listed_) {
        out.reserve(text_.size() + kLineEnd.size());
        out = text_;
        if (textUnterminated())
            out += kLineEnd;
        return out;
    }
    std::size_t total = 0;
    for (const auto& l : lines_)
        total += l.size() + kLineEnd.size();
    out.reserve(total);
    for (const auto& l : lines_) {
        out += l;
        out += kLineEnd;
    }
    return out;
}

std::size_t LineBuffer::count() const {
    if (listed_)
        return lines_.size();
    if (count_ == kUncounted) {
        std::size_t n = textUnterminated() ? 1 : 0;
        for (std::size_t pos = text_.find(kLineEnd); pos != std::string::npos;
             pos = text_.find(kLineEnd, pos + 2))
            ++n;
        count_ = n;
    }
    return count_;
}

void LineBuffer::append(std::string line) {
    // A line holding CR LF itself stays one line, which only the list can keep.
    if (listed_ || line.find(kLineEnd) != std::string::npos) {
        asList().push_back(std::move(line));
        return;
    }
    if (textUnterminated())
        text_ += kLineEnd;
    text_ += line;
    text_ += kLineEnd;
    if (count_ != kUncounted)
        ++count_;
}

std::vector<std::string_view> LineBuffer::lineViews() const {
    if (!listed_)
        return SplitLinesView(text_);
    return {lines_.begin(), lines_.end()};
}

std::vector<std::string>& LineBuffer::asList() const {
    if (!listed_) {
        const std::vector<std::string_view> views = SplitLinesView(text_);
        lines_.assign(views.begin(), views.end());
        std::string().swap(text_);
        listed_ = true;
    }
    return lines_;
}

} // namespace toolkit
