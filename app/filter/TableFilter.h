#pragma once
// The table filter of the Tools menu: reduces the table to the rows whose cell in one column
// holds a given text, and brings the rows back as they were before the last filter.

#include "table/BacklinkTable.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace filter {

// Rows move with their cell notes and marks (reasons, colours); the match looks at the text only.
class TableFilter {
public:
    // Saves rows 1..RowCount-1 (replacing any earlier snapshot), then keeps only the rows whose
    // cell in `column` equals `value`, in order, packed from row 1 on. Widths are not fitted.
    void FilterRows(table::BacklinkTable& table, std::int32_t column, const std::string& value);
    // Puts the snapshot back from row 1 on and releases it; without a snapshot it does nothing.
    // Each restored row holds exactly its saved cells: cells of visible columns the entry does
    // not cover are emptied, cells beyond the column count are written all the same and show
    // once the count grows. Rows below the restored ones are emptied.
    void RestoreRows(table::BacklinkTable& table);

    bool hasSnapshot() const { return snapshot_.has_value(); }

private:
    struct Entry {
        std::vector<std::string> cells;
        std::vector<std::string> notes;
        std::vector<table::CellMark> marks;
    };
    std::optional<std::vector<Entry>> snapshot_;
};

} // namespace filter
