#pragma once
// The backlink table: a grid of text cells with a fixed header row 0 and a fixed number column 0.

#include "app/contract/Toolkit.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace table {

// Told of every change so that a view can follow. All calls come after the change is made.
// Cells written outside the counts are not reported; they show through rowCountChanged or
// colCountChanged once the counts include them.
class TableObserver {
public:
    virtual ~TableObserver() = default;
    virtual void cellChanged(std::int32_t col, std::int32_t row) = 0;
    virtual void rowCountChanged(std::int32_t oldCount, std::int32_t newCount) = 0;
    virtual void colCountChanged(std::int32_t oldCount, std::int32_t newCount) = 0;
    virtual void colWidthChanged(std::int32_t col, std::int32_t width) = 0;
    // Many cells changed at once (ClearAll, ResetWithHeaders).
    virtual void tableReset() = 0;
};

// A cell's colour by what its text means; the view picks the colours.
enum class CellMark : std::uint8_t {
    None,
    Found,     // the page links to the domain
    FoundWeak, // found, but no link that counts: all nofollow/sponsored/ugc, noindex, text only
    NotFound,
    Failed,
    // Marks of a row's number cell (column 0): what the last Prüfe found changed on its page.
    RowLoss, // link removed, turned nofollow, or the page no longer reachable
    RowNew,  // a Link-URL no earlier Prüfe of the domain had
};

class BacklinkTable {
public:
    static constexpr std::int32_t kStartCount = 5;
    static constexpr std::int32_t kStartWidth = 64;
    static constexpr std::int32_t kGridLineWidth = 1;

    explicit BacklinkTable(const toolkit::TextWidth& measure);

    void setObserver(TableObserver* observer);

    // Cells beyond the current counts are kept and show once the counts grow.
    const std::string& GetCell(std::int32_t col, std::int32_t row) const;
    void SetCell(std::int32_t col, std::int32_t row, std::string text);

    std::int32_t RowCount() const;
    void SetRowCount(std::int32_t count);
    std::int32_t ColCount() const;
    void SetColCount(std::int32_t count);

    std::int32_t Col() const;                                // current column
    std::int32_t Row() const;                                // current row
    void SetCurrentCell(std::int32_t col, std::int32_t row); // the user's selection

    std::int32_t ColWidth(std::int32_t col) const;

    void ClearAll();
    void ResetWithHeaders(const std::vector<std::string>& headers);
    // cells[0] goes to column 1; column 0 gets the row's own index.
    void AppendRecord(const std::vector<std::string>& cells);
    void AppendRecord(std::vector<std::string>&& cells); // takes the texts over instead of copying
    std::vector<std::string> ColumnText(std::int32_t col) const;
    std::vector<std::string> RowCells(std::int32_t row) const;
    // Costs one look per column: the widths are kept up to date as cells and counts change.
    void FitColumnWidths(std::int32_t minimumWidth);

    // A note beside a cell's text, e.g. why a check failed. It never counts as text (widths,
    // RowCells, ColumnText). A new, different text for the cell drops its note and mark; ClearAll
    // and ResetWithHeaders drop those of the cells they clear. An empty note removes it.
    void SetCellNote(std::int32_t col, std::int32_t row, std::string note);
    const std::string& GetCellNote(std::int32_t col, std::int32_t row) const; // empty when none
    // One per column 0..ColCount-1, like RowCells.
    std::vector<std::string> RowNotes(std::int32_t row) const;
    // Gives the row exactly these notes: column c gets notes[c], and every other column of the row
    // (stored ones beyond the count too) loses its note. Set after the row's texts when moving a
    // row, since writing a different text drops the note.
    void SetRowNotes(std::int32_t row, const std::vector<std::string>& notes);

    // A mark beside a cell's text, kept and dropped exactly like its note, and apart from it.
    void SetCellMark(std::int32_t col, std::int32_t row, CellMark mark);
    CellMark GetCellMark(std::int32_t col, std::int32_t row) const; // None when none
    std::vector<CellMark> RowMarks(std::int32_t row) const;
    void SetRowMarks(std::int32_t row, const std::vector<CellMark>& marks);

private:
    static constexpr int kChunkBits = 10;
    static constexpr std::int32_t kChunkSize = std::int32_t{1} << kChunkBits;
    static constexpr std::int32_t kUnmeasured = std::numeric_limits<std::int32_t>::min();

    // Rows are stored in chunks so that a cell written far beyond the others costs one chunk.
    struct Chunk {
        std::array<std::string, kChunkSize> text;
        std::array<std::int32_t, kChunkSize> width; // of text, or kUnmeasured
        Chunk() { width.fill(kUnmeasured); }
    };

    struct Column {
        std::vector<std::unique_ptr<Chunk>> chunks;
        // No text is stored in this row or later ones; 64 bits, since a cell in the last row
        // puts it one past the largest row index.
        std::int64_t extent = 0;
        std::int32_t width = kStartWidth;
        // Widths of the non-empty cells in rows 0..RowCount-1, each with its number of cells.
        // Empty cells measure 0 and cannot raise a widest width, which starts at 0.
        std::map<std::int32_t, std::int32_t> widthCounts;
    };

    template <typename Fn>
    static void ForStoredRows(Column& column, std::int32_t from, std::int32_t to, Fn fn);
    Column& ColumnAt(std::int32_t col);
    const Column* FindColumn(std::int32_t col) const;
    static void AddWidth(Column& column, std::int32_t width);
    static void RemoveWidth(Column& column, std::int32_t width);
    bool StoreCell(std::int32_t col, std::int32_t row, std::string&& text);
    void ChangeRowCount(std::int32_t count);
    void ChangeColCount(std::int32_t count);
    void ClearRows();
    struct Annotation {
        std::string note;
        CellMark mark = CellMark::None;
        bool empty() const { return note.empty() && mark == CellMark::None; }
    };
    Annotation* FindAnnotation(std::int32_t col, std::int32_t row);
    const Annotation* FindAnnotation(std::int32_t col, std::int32_t row) const;
    template <typename Value>
    void SetField(std::int32_t col, std::int32_t row, Value value, Value Annotation::*field);
    template <typename Value> std::vector<Value> RowField(std::int32_t row, Value Annotation::*field) const;
    template <typename Value>
    void SetRowField(std::int32_t row, const std::vector<Value>& values, Value Annotation::*field);
    void DropNote(std::int32_t col, std::int32_t row); // the whole annotation
    template <typename Cells> void Append(Cells&& cells);
    bool Visible(std::int32_t col, std::int32_t row) const { return col < colCount_ && row < rowCount_; }

    // Each cell is measured once, when it first counts; its width is kept beside its text.
    const toolkit::TextWidth& measure_;
    TableObserver* observer_ = nullptr;
    std::map<std::int32_t, Column> columns_; // only columns that hold text or a changed width
    // Few cells carry a note or mark, so they live apart: row -> column -> both, only rows with one.
    std::unordered_map<std::int32_t, std::map<std::int32_t, Annotation>> annotations_;
    std::int32_t rowCount_ = kStartCount;
    std::int32_t colCount_ = kStartCount;
    std::int32_t col_ = 1;
    std::int32_t row_ = 1;
};

} // namespace table
