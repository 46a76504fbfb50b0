#include "app/filter/TableFilter.h"

#include "table/BacklinkTable.h"

#include <algorithm>

namespace filter {

namespace {

void EmptyRow(table::BacklinkTable& table, std::int32_t row, std::int32_t fromCol = 0) {
    for (std::int32_t c = fromCol; c < table.ColCount(); ++c)
        if (!table.GetCell(c, row).empty())
            table.SetCell(c, row, std::string());
}

void ClearAnnotations(table::BacklinkTable& table, std::int32_t row) {
    table.SetRowNotes(row, {});
    table.SetRowMarks(row, {});
}

} // namespace

void TableFilter::FilterRows(table::BacklinkTable& table, std::int32_t column, const std::string& value) {
    const std::int32_t rowCount = table.RowCount();
    std::vector<Entry> snapshot;
    snapshot.reserve(static_cast<std::size_t>(std::max(rowCount - 1, 0)));
    for (std::int32_t row = 1; row < rowCount; ++row)
        snapshot.push_back({table.RowCells(row), table.RowNotes(row), table.RowMarks(row)});
    snapshot_ = std::move(snapshot);

    const std::int32_t cols = table.ColCount();
    std::int32_t dst = 1;
    for (std::int32_t src = 1; src < rowCount; ++src) {
        if (table.GetCell(column, src) != value) {
            EmptyRow(table, src);
            ClearAnnotations(table, src);
            continue;
        }
        if (src != dst) {
            for (std::int32_t c = 0; c < cols; ++c)
                table.SetCell(c, dst, table.GetCell(c, src));
            EmptyRow(table, src);
            // After the texts: a changed text drops the note and mark of its cell.
            const Entry& saved = (*snapshot_)[static_cast<std::size_t>(src - 1)];
            table.SetRowNotes(dst, saved.notes);
            table.SetRowMarks(dst, saved.marks);
            ClearAnnotations(table, src);
        }
        ++dst;
    }
    table.SetRowCount(dst);
}

void TableFilter::RestoreRows(table::BacklinkTable& table) {
    if (!snapshot_)
        return;
    std::vector<Entry> entries = std::move(*snapshot_);
    snapshot_.reset();

    const auto restoredCount = static_cast<std::int32_t>(entries.size()) + 1;
    // Rows that the smaller restored table no longer shows would otherwise come back with stale
    // cells when a later command lets the table grow.
    for (std::int32_t row = restoredCount; row < table.RowCount(); ++row) {
        EmptyRow(table, row);
        ClearAnnotations(table, row);
    }
    table.SetRowCount(restoredCount);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto row = static_cast<std::int32_t>(i) + 1;
        Entry& entry = entries[i];
        const auto width = static_cast<std::int32_t>(entry.cells.size());
        for (std::int32_t c = 0; c < width; ++c)
            table.SetCell(c, row, std::move(entry.cells[static_cast<std::size_t>(c)]));
        EmptyRow(table, row, width);
        table.SetRowNotes(row, entry.notes);
        table.SetRowMarks(row, entry.marks);
    }
}

} // namespace filter
