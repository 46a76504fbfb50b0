#pragma once
// The backlink table: a grid of text cells with a fixed header row 0 and a fixed number column 0.

#include "app/contract/Toolkit.h"

#include <cstdint>
#include <string>
#include <vector>

namespace table {

// Told of every change so that a view can follow. All calls come after the change is made.
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

    std::int32_t Col() const;                             // current column
    std::int32_t Row() const;                             // current row
    void SetCurrentCell(std::int32_t col, std::int32_t row); // the user's selection

    std::int32_t ColWidth(std::int32_t col) const;

    void ClearAll();
    void ResetWithHeaders(const std::vector<std::string>& headers);
    // cells[0] goes to column 1; column 0 gets the row's own index.
    void AppendRecord(const std::vector<std::string>& cells);
    std::vector<std::string> ColumnText(std::int32_t col) const;
    std::vector<std::string> RowCells(std::int32_t row) const;
    void FitColumnWidths(std::int32_t minimumWidth);

private:
    // filled in by the implementation
};

} // namespace table
