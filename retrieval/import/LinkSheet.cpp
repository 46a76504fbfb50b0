#include "retrieval/import/LinkSheet.h"

#include <algorithm>
#include <sys/mman.h>
#include <unistd.h>

namespace retrieval {

std::string GroupedNumber(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, 1, '.');
    return digits;
}

std::string_view LinkSheet::cell(std::size_t row, std::size_t col) const {
    const std::size_t r = row + first_;
    if (r < releasedRows_)
        return {};
    const std::size_t first = rows_[r].firstCell;
    const std::size_t end = r + 1 < rows_.size() ? rows_[r + 1].firstCell : ends_.size();
    if (col >= end - first)
        return {};
    const std::size_t begin = col == 0 ? rows_[r].start : ends_[first + col - 1] + std::size_t{1};
    return std::string_view(text_).substr(begin, ends_[first + col] - begin);
}

void LinkSheet::reserve(std::size_t rows, std::size_t cells) {
    rows_.reserve(rows);
    ends_.reserve(cells);
}

void LinkSheet::beginRow(std::size_t start) {
    if (!rows_.empty())
        columns_ = std::max(columns_, cellsInLastRow());
    rows_.push_back({static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(ends_.size())});
}

void LinkSheet::endCell(std::size_t end) {
    ends_.push_back(static_cast<std::uint32_t>(end));
}

void LinkSheet::appendCell(std::string_view cell) {
    if (cellsInLastRow() > 0)
        text_ += '\x1F';
    text_ += cell;
    endCell(text_.size());
}

void LinkSheet::takeHeader() {
    if (rows_.empty() || first_ == 1)
        return;
    const std::size_t cells = rows_.size() > 1 ? rows_[1].firstCell : ends_.size();
    for (std::size_t c = 0; c < cells; ++c)
        header_.emplace_back(cell(0, c));
    first_ = 1;
}

void LinkSheet::finish() {
    if (!rows_.empty())
        columns_ = std::max(columns_, cellsInLastRow());
    // Only a large excess is worth the copy that giving it back costs.
    if (ends_.capacity() > ends_.size() + ends_.size() / 4)
        ends_.shrink_to_fit();
    if (rows_.capacity() > rows_.size() + rows_.size() / 4)
        rows_.shrink_to_fit();
}

void LinkSheet::releaseBefore(std::size_t row) {
    const std::size_t r = std::min(row + first_, rows_.size());
    if (r <= releasedRows_)
        return;
    releasedRows_ = r;
    const std::size_t keep = r < rows_.size() ? rows_[r].start : text_.size();
    // Whole pages inside the buffer only: the allocator's own bytes around it stay untouched.
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto base = reinterpret_cast<std::uintptr_t>(text_.data());
    const std::uintptr_t from = (base + releasedBytes_ + page - 1) / page * page;
    const std::uintptr_t to = (base + keep) / page * page;
    if (to > from)
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
    releasedBytes_ = std::max(releasedBytes_, keep);
}

} // namespace retrieval
