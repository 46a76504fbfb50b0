#include "app/contract/Error.h"
#include "app/filter/TableFilter.h"
#include "retrieval/CrossCheck.h"
#include "retrieval/Parsing.h"
#include "tests/storage/StorageTestSupport.h"

#include <gtest/gtest.h>

using namespace storage_test;
using filter::TableFilter;

namespace {

// A table as a cross-check leaves it: rows 2..5 with the given statuses in column 5.
void CheckedTable(table::BacklinkTable& table, const Lines& statuses) {
    table.ResetWithHeaders(retrieval::Headers(retrieval::Service::Seokicks));
    for (std::size_t i = 0; i < statuses.size(); ++i)
        table.AppendRecord(
            {"http://l" + std::to_string(i) + ".example/", "Anker", "http://shop.example/", "follow"});
    table.SetColCount(6);
    table.SetCell(5, 0, "Status");
    for (std::size_t i = 0; i < statuses.size(); ++i)
        table.SetCell(5, static_cast<std::int32_t>(i) + 2, statuses[i]);
}

std::vector<Lines> AllRows(const table::BacklinkTable& table) {
    std::vector<Lines> rows;
    for (std::int32_t r = 0; r < table.RowCount(); ++r)
        rows.push_back(table.RowCells(r));
    return rows;
}

const Lines kStatuses = {"gefunden", "Fehler", "nicht gefunden", "gefunden"};

} // namespace

TEST(TableFilter, KeepsMatchingRowsWithTheirNumbers) {
    CharWidth measure;
    table::BacklinkTable table{measure};
    CheckedTable(table, kStatuses);
    const std::vector<Lines> before = AllRows(table);
    const std::int32_t width1 = table.ColWidth(1);

    TableFilter filter;
    EXPECT_FALSE(filter.hasSnapshot());
    filter.FilterRows(table, 5, "gefunden");
    EXPECT_TRUE(filter.hasSnapshot());
    EXPECT_EQ(AllRows(table), (std::vector<Lines>{before[0], before[2], before[5]}));
    EXPECT_EQ(table.ColWidth(1), width1) << "no width fitting";
    // Rows left behind do not come back when the table grows again.
    table.SetRowCount(6);
    for (std::int32_t r = 3; r < 6; ++r)
        EXPECT_EQ(table.RowCells(r), Lines(6, "")) << r;
    table.SetRowCount(3);

    filter.RestoreRows(table);
    EXPECT_FALSE(filter.hasSnapshot());
    EXPECT_EQ(AllRows(table), before);
}

TEST(TableFilter, NonStatusColumnKeepsOnlyTheHeader) {
    CharWidth measure;
    table::BacklinkTable table{measure};
    CheckedTable(table, kStatuses);
    const Lines header = table.RowCells(0);
    TableFilter filter;
    filter.FilterRows(table, 1, "gefunden");
    EXPECT_EQ(table.RowCount(), 1);
    EXPECT_EQ(table.RowCells(0), header);
    // Exact match only: no other case, no part of a word.
    CheckedTable(table, {"Gefunden", "nicht gefunden", "gefunden "});
    filter.FilterRows(table, 5, "gefunden");
    EXPECT_EQ(table.RowCount(), 1);
}

TEST(TableFilter, ResetUndoesOnlyTheLastFilter) {
    CharWidth measure;
    table::BacklinkTable table{measure};
    CheckedTable(table, kStatuses);
    const std::vector<Lines> before = AllRows(table);

    TableFilter filter;
    filter.RestoreRows(table); // nothing to undo
    EXPECT_EQ(AllRows(table), before);

    filter.FilterRows(table, 5, "gefunden");
    const std::vector<Lines> found = AllRows(table);
    filter.FilterRows(table, 5, "nicht gefunden");
    EXPECT_EQ(AllRows(table), (std::vector<Lines>{before[0]}));
    filter.RestoreRows(table);
    EXPECT_EQ(AllRows(table), found);
    filter.RestoreRows(table);
    EXPECT_EQ(AllRows(table), found);
}

TEST(TableFilter, OneRowTableGivesEmptySnapshot) {
    CharWidth measure;
    table::BacklinkTable table{measure};
    table.SetCell(1, 0, "Link-URL");
    table.SetRowCount(1);
    TableFilter filter;
    filter.FilterRows(table, 1, "Fehler");
    EXPECT_TRUE(filter.hasSnapshot());
    EXPECT_EQ(table.RowCount(), 1);
    filter.RestoreRows(table);
    EXPECT_FALSE(filter.hasSnapshot());
    EXPECT_EQ(table.RowCount(), 1);
    EXPECT_EQ(table.GetCell(1, 0), "Link-URL");
}

TEST(TableFilter, ResetAfterCheckPutsSavedRowsUnderNewHeaders) {
    CharWidth measure;
    table::BacklinkTable table{measure};
    CheckedTable(table, kStatuses);
    const std::vector<Lines> before = AllRows(table);
    TableFilter filter;
    filter.FilterRows(table, 5, "Fehler");

    // A new XOVI check: three columns, more rows than the snapshot holds.
    const Lines xoviHeaders = retrieval::Headers(retrieval::Service::Xovi);
    table.ResetWithHeaders(xoviHeaders);
    for (int i = 0; i < 8; ++i)
        table.AppendRecord({"http://x" + std::to_string(i) + ".example/", "Anker"});
    ASSERT_EQ(table.ColCount(), 3);

    filter.RestoreRows(table);
    ASSERT_EQ(table.RowCount(), 6);
    EXPECT_EQ(table.RowCells(0), xoviHeaders);
    for (std::int32_t r = 1; r < 6; ++r)
        EXPECT_EQ(table.RowCells(r), Lines(before[r].begin(), before[r].begin() + 3)) << r;
    // The saved cells beyond the three columns show once the count grows.
    table.SetColCount(6);
    for (std::int32_t r = 1; r < 6; ++r)
        EXPECT_EQ(table.RowCells(r), before[r]) << r;
    // The check's rows below the restored ones are gone.
    table.SetRowCount(10);
    for (std::int32_t r = 6; r < 10; ++r)
        EXPECT_EQ(table.RowCells(r), Lines(6, "")) << r;
}

TEST(TableFilter, CrossCheckAfterFilterSkipsRowOneAndResetDropsItsColumn) {
    Harness h;
    CheckedTable(h.table, kStatuses);
    const std::vector<Lines> before = AllRows(h.table);
    TableFilter filter;
    filter.FilterRows(h.table, 5, "gefunden"); // rows 2 and 5 now stand in rows 1 and 2
    h.fields.domain = "shop.example";

    std::vector<std::string> fetched;
    retrieval::RunCrossCheck(h.window, [&](const std::string& url) {
        fetched.push_back(url);
        return retrieval::FetchedPage{"shop.example", ""};
    });
    EXPECT_EQ(fetched, Lines{before[5][1]});
    EXPECT_EQ(h.table.ColumnText(6), (Lines{"Status", "", "gefunden"}));

    filter.RestoreRows(h.table);
    ASSERT_EQ(h.table.RowCount(), 6);
    for (std::int32_t r = 1; r < 6; ++r) {
        Lines expected = before[r];
        expected.push_back(""); // the new status belonged to the filtered order, not to these rows
        EXPECT_EQ(h.table.RowCells(r), expected) << r;
    }
}

TEST(TableFilter, NotesTravelWithTheirRows) {
    CharWidth measure;
    table::BacklinkTable table{measure};
    CheckedTable(table, {"gefunden", "Fehler", "nicht gefunden", "Fehler"});
    table.SetCellNote(5, 3, "HTTP-Status 404");
    table.SetCellNote(5, 5, "Zeitüberschreitung");
    const auto notesOf = [&table] {
        Lines notes;
        for (std::int32_t r = 0; r < table.RowCount(); ++r)
            notes.push_back(table.GetCellNote(5, r));
        return notes;
    };

    TableFilter filter;
    filter.FilterRows(table, 5, "Fehler");
    EXPECT_EQ(table.ColumnText(0), (Lines{"Nr.", "3", "5"}));
    EXPECT_EQ(notesOf(), (Lines{"", "HTTP-Status 404", "Zeitüberschreitung"}));
    table.SetRowCount(6);
    EXPECT_EQ(notesOf(), (Lines{"", "HTTP-Status 404", "Zeitüberschreitung", "", "", ""}));
    table.SetRowCount(3);

    filter.FilterRows(table, 5, "gefunden");
    filter.RestoreRows(table);
    EXPECT_EQ(notesOf(), (Lines{"", "HTTP-Status 404", "Zeitüberschreitung"}));
}
