#pragma once
// A link list as read from a file: the decoded text with its cells, the header row apart, and the
// limits every reader keeps to. Cells are views into one buffer, so that a large export costs
// little more than its own size.

#include "app/contract/Error.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace retrieval {

inline constexpr std::size_t kMaxImportRows = 1'000'000;
inline constexpr std::size_t kMaxImportLineBytes = std::size_t{1} << 20;
inline constexpr std::size_t kMaxImportColumns = 16384;
inline constexpr std::uint64_t kMaxImportBytes = std::uint64_t{512} << 20;

// Why a list cannot be read, in German, naming the file and, where it applies, the line. Nothing of
// such a file is imported.
class ImportError : public toolkit::Error {
public:
    using toolkit::Error::Error;
};

// "1.000.000" for messages.
std::string GroupedNumber(std::uint64_t n);

class LinkSheet {
public:
    // Data rows, the header row left out once TakeHeader has run.
    std::size_t rows() const { return rowStart_.size() - first_; }
    std::size_t columns() const { return columns_; }
    std::string_view cell(std::size_t row, std::size_t col) const;
    const std::vector<std::string>& header() const { return header_; }
    bool hasHeader() const { return first_ == 1; }

    // Building: the buffer that spans point into, then row after row.
    std::string& text() { return text_; }
    void beginRow();
    void addSpan(std::size_t offset, std::size_t size);
    void appendCell(std::string_view cell); // copied to the end of the buffer
    // Cells of the row begun last.
    std::size_t cellsInLastRow() const { return cells_.size() - rowStart_.back(); }
    void dropLastRow();
    // The first row becomes the header.
    void takeHeader();
    void shrink();

private:
    struct Span {
        std::uint32_t offset;
        std::uint32_t size;
    };
    std::string text_;
    std::vector<Span> cells_;
    std::vector<std::uint32_t> rowStart_;
    std::vector<std::string> header_;
    std::size_t first_ = 0;
    std::size_t columns_ = 0;
};

} // namespace retrieval
