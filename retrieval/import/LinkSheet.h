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

// The file is readable but lists no linking pages (it is empty, counts links, or has no column of
// addresses); in a ZIP archive the next file may be the list.
class NotAListError : public ImportError {
public:
    using ImportError::ImportError;
};

// "1.000.000" for messages.
std::string GroupedNumber(std::uint64_t n);

class LinkSheet {
public:
    // Data rows, the header row left out once takeHeader has run.
    std::size_t rows() const { return rows_.size() - first_; }
    std::size_t columns() const { return columns_; }
    std::string_view cell(std::size_t row, std::size_t col) const;
    const std::vector<std::string>& header() const { return header_; }
    bool hasHeader() const { return first_ == 1; }

    // Building. The cells of a row lie in the buffer one after the other, each one byte (its
    // delimiter) behind the end of the one before, so that a cell costs only its end offset.
    std::string& text() { return text_; }
    void reserve(std::size_t rows, std::size_t cells);
    void beginRow(std::size_t start);
    void endCell(std::size_t end);
    void appendCell(std::string_view cell); // copied to the end of the buffer
    std::size_t cellsInLastRow() const { return ends_.size() - rows_.back().firstCell; }
    // The first row becomes the header.
    void takeHeader();
    void finish();

    // The text of the rows before `row` is not read again: its memory goes back to the system
    // (a large list is let go of while the table fills). Their cells read as empty from then on.
    void releaseBefore(std::size_t row);

private:
    struct Row {
        std::uint32_t start;
        std::uint32_t firstCell;
    };
    std::string text_;
    std::vector<std::uint32_t> ends_;
    std::vector<Row> rows_;
    std::vector<std::string> header_;
    std::size_t first_ = 0;
    std::size_t columns_ = 0;
    std::size_t releasedRows_ = 0;
    std::size_t releasedBytes_ = 0;
};

} // namespace retrieval
