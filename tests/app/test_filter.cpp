#include "app/contract/Error.h"
#include "app/filter/TableFilter.h"
#include "retrieval/CrossCheck.h"
#include "retrieval/Parsing.h"
#include "tests/storage/StorageTestSupport.h"

#include <gtest/gtest.h>

using namespace storage_test;

namespace {

using Rows = std::vector<Lines>;

Rows AllRows(const table::BacklinkTable& table) {
    Rows rows;
    for (std::int32_t r = 0; r < table.RowCount(); ++r)
        rows.push_back(table.RowCells(r));
    return rows;
}

// The sequences of filter and reset as the window runs them; more of them go through the menu in
// the window tests.
struct TableFilter : ::testing::Test {
    Harness h;
    table::BacklinkTable& table = h.table;
    filter::TableFilter filter;
    Rows before;

    // A table as a cross-check leaves it: rows 2.. with the given statuses in column 5.
    void CheckedTable(const Lines& statuses) {
        table.ResetWithHeaders(retrieval::Headers(retrieval::Service::Seokicks));
        for (std::size_t i = 0; i < statuses.size(); ++i)
            table.AppendRecord(
                {"http://l" + std::to_string(i) + ".example/", "Anker", "http://shop.example/", "follow"});
        table.SetColCount(6);
        table.SetCell(5, 0, "Status");
        for (std::size_t i = 0; i < statuses.size(); ++i)
            table.SetCell(5, static_cast<std::int32_t>(i) + 2, statuses[i]);
        before = AllRows(table);
    }
};

TEST_F(TableFilter, KeepsExactlyMatchingRowsWithNumbersAndNotes) {
    CheckedTable({"gefunden", "Fehler", "nicht gefunden", "Fehler", "gefunden"});
    table.SetCellNote(5, 3, "HTTP-Status 404");
    table.SetCellNote(5, 5, "Zeitüberschreitung");
    const std::int32_t width1 = table.ColWidth(1);

    EXPECT_FALSE(filter.hasSnapshot());
    filter.FilterRows(table, 5, "Fehler");
    EXPECT_TRUE(filter.hasSnapshot());
    EXPECT_EQ(AllRows(table), (Rows{before[0], before[3], before[5]}));
    EXPECT_EQ(ColumnNotes(table, 5), (Lines{"", "HTTP-Status 404", "Zeitüberschreitung"}));
    EXPECT_EQ(table.ColWidth(1), width1) << "no width fitting";
    // Rows and notes left behind do not come back when the table grows again.
    table.SetRowCount(7);
    for (std::int32_t r = 3; r < 7; ++r)
        EXPECT_EQ(table.RowCells(r), Lines(6, "")) << r;
    EXPECT_EQ(ColumnNotes(table, 5), (Lines{"", "HTTP-Status 404", "Zeitüberschreitung", "", "", "", ""}));
    table.SetRowCount(3);

    filter.RestoreRows(table);
    EXPECT_FALSE(filter.hasSnapshot());
    EXPECT_EQ(AllRows(table), before);
    EXPECT_EQ(ColumnNotes(table, 5), (Lines{"", "", "", "HTTP-Status 404", "", "Zeitüberschreitung", ""}));

    // Exact match only: no other case, no part of a word.
    CheckedTable({"Gefunden", "nicht gefunden", "gefunden "});
    filter.FilterRows(table, 5, "gefunden");
    EXPECT_EQ(AllRows(table), Rows{before[0]});
}

TEST_F(TableFilter, OneRowTableGivesEmptySnapshot) {
    table.SetCell(1, 0, "Link-URL");
    table.SetRowCount(1);
    filter.FilterRows(table, 1, "Fehler");
    EXPECT_TRUE(filter.hasSnapshot());
    filter.RestoreRows(table);
    EXPECT_FALSE(filter.hasSnapshot());
    EXPECT_EQ(AllRows(table), (Rows{{"", "Link-URL", "", "", ""}}));
}

TEST_F(TableFilter, ResetAfterCheckPutsSavedRowsUnderNewHeaders) {
    CheckedTable({"gefunden", "Fehler", "nicht gefunden", "gefunden"});
    filter.FilterRows(table, 5, "Fehler");

    // A new XOVI check: three columns, more rows than the snapshot holds.
    const Lines xoviHeaders = retrieval::Headers(retrieval::Service::Xovi);
    table.ResetWithHeaders(xoviHeaders);
    for (int i = 0; i < 8; ++i)
        table.AppendRecord({"http://x" + std::to_string(i) + ".example/", "Anker"});

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

TEST_F(TableFilter, CrossCheckAfterFilterSkipsRowOneAndResetDropsItsColumn) {
    CheckedTable({"gefunden", "Fehler", "nicht gefunden", "gefunden"});
    filter.FilterRows(table, 5, "gefunden"); // rows 2 and 5 now stand in rows 1 and 2
    h.fields.domain = "shop.example";

    Lines fetched;
    retrieval::RunCrossCheck(h.window, [&](const std::string& url) {
        fetched.push_back(url);
        return retrieval::FetchedPage{"shop.example", ""};
    });
    EXPECT_EQ(fetched, Lines{before[5][1]});
    EXPECT_EQ(table.ColumnText(6), (Lines{"Status", "", "gefunden"}));

    filter.RestoreRows(table);
    ASSERT_EQ(table.RowCount(), 6);
    for (std::int32_t r = 1; r < 6; ++r) {
        Lines expected = before[r];
        expected.push_back(""); // the new status belonged to the filtered order, not to these rows
        EXPECT_EQ(table.RowCells(r), expected) << r;
    }
}

} // namespace
