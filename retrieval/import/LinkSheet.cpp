#include "retrieval/import/LinkSheet.h"

namespace retrieval {

std::string GroupedNumber(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, 1, '.');
    return digits;
}

std::string_view LinkSheet::cell(std::size_t row, std::size_t col) const {
    const std::size_t r = row + first_;
    const std::size_t begin = rowStart_[r];
    const std::size_t end = r + 1 < rowStart_.size() ? rowStart_[r + 1] : cells_.size();
    if (col >= end - begin)
        return {};
    const Span span = cells_[begin + col];
    return std::string_view(text_).substr(span.offset, span.size);
}

void LinkSheet::beginRow() {
    if (!rowStart_.empty())
        columns_ = std::max(columns_, cellsInLastRow());
    rowStart_.push_back(static_cast<std::uint32_t>(cells_.size()));
}

void LinkSheet::addSpan(std::size_t offset, std::size_t size) {
    cells_.push_back({static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(size)});
}

void LinkSheet::appendCell(std::string_view cell) {
    const std::size_t offset = text_.size();
    text_ += cell;
    addSpan(offset, cell.size());
}

void LinkSheet::dropLastRow() {
    cells_.resize(rowStart_.back());
    rowStart_.pop_back();
}

void LinkSheet::takeHeader() {
    if (rowStart_.empty() || first_ == 1)
        return;
    for (std::size_t c = 0;; ++c) {
        const std::size_t end = rowStart_.size() > 1 ? rowStart_[1] : cells_.size();
        if (c >= end)
            break;
        header_.emplace_back(cell(0, c));
    }
    first_ = 1;
}

void LinkSheet::shrink() {
    if (!rowStart_.empty())
        columns_ = std::max(columns_, cellsInLastRow());
    cells_.shrink_to_fit();
    rowStart_.shrink_to_fit();
}

} // namespace retrieval
