#include "table/BacklinkTable.h"

#include "tests/table/FakeTextWidth.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Strings = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::int32_t, std::int32_t>>;

const Strings kSeokicksHeaders{"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"};
const Strings kStatusHeaders{"Nr.", "Link-URL", "Status"};

class RecordingObserver final : public table::TableObserver {
public:
    void cellChanged(std::int32_t col, std::int32_t row) override { cells.emplace_back(col, row); }
    void rowCountChanged(std::int32_t from, std::int32_t to) override { rowCounts.emplace_back(from, to); }
    void colCountChanged(std::int32_t from, std::int32_t to) override { colCounts.emplace_back(from, to); }
    void colWidthChanged(std::int32_t col, std::int32_t width) override { widths.emplace_back(col, width); }
    void tableReset() override { ++resets; }

    Pairs cells, rowCounts, colCounts, widths;
    int resets = 0;
};

struct Table : ::testing::Test {
    tabletest::FakeTextWidth measure;
    table::BacklinkTable t{measure};
};

TEST_F(Table, StartsAsFiveByFiveEmptyGrid) {
    EXPECT_EQ(t.RowCount(), 5);
    EXPECT_EQ(t.ColCount(), 5);
    EXPECT_EQ(t.Col(), 1);
    EXPECT_EQ(t.Row(), 1);
    t.FitColumnWidths(40);
    for (std::int32_t c = 0; c < 5; ++c) {
        EXPECT_EQ(t.ColWidth(c), 64);
        EXPECT_EQ(t.ColumnText(c), Strings(5, ""));
    }
}

TEST_F(Table, ResetWithHeadersLeavesNoTraceOfAWiderTable) {
    t.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL", "Status"});
    t.AppendRecord({"http://a.example/", "a", "1", "http://t.example/", "gefunden"});
    t.AppendRecord({"http://b.example/", "b", "0", "http://t.example/", "Fehler"});

    t.ResetWithHeaders(kSeokicksHeaders);
    EXPECT_EQ(t.RowCount(), 2);
    EXPECT_EQ(t.ColCount(), 5);
    EXPECT_EQ(t.RowCells(0), kSeokicksHeaders);
    // Nothing of the old rows or the status column comes back when the counts grow again.
    t.SetColCount(6);
    t.SetRowCount(4);
    for (std::int32_t row = 1; row < 4; ++row)
        EXPECT_EQ(t.RowCells(row), Strings(6, "")) << "row " << row;
    EXPECT_EQ(t.GetCell(5, 0), "");
}

TEST_F(Table, AppendRecordNumbersRowsFromTwo) {
    t.ResetWithHeaders(kSeokicksHeaders);
    t.AppendRecord({"http://a.example/", "Anker", "1", "http://ziel.example/"});
    t.AppendRecord(Strings{"http://b.example/"}); // a short record leaves the other cells empty
    EXPECT_EQ(t.RowCount(), 4);
    EXPECT_EQ(t.RowCells(2), (Strings{"2", "http://a.example/", "Anker", "1", "http://ziel.example/"}));
    EXPECT_EQ(t.RowCells(3), (Strings{"3", "http://b.example/", "", "", ""}));
}

TEST_F(Table, CellsBeyondTheCountsAreKeptUntilTheyShow) {
    t.SetCell(7, 3, "spät");
    t.SetCell(2, 3000, std::string(20, 'x')); // 120 px, far below the last row
    EXPECT_EQ(t.GetCell(7, 3), "spät");
    EXPECT_EQ(t.RowCells(3).size(), 5u);
    t.FitColumnWidths(40);
    EXPECT_EQ(t.ColWidth(2), 64) << "a hidden cell must not widen its column";

    t.SetColCount(8);
    EXPECT_EQ(t.RowCells(3).back(), "spät");
    t.SetRowCount(3001);
    EXPECT_EQ(t.ColumnText(2).back(), std::string(20, 'x'));
    t.FitColumnWidths(40);
    EXPECT_EQ(t.ColWidth(2), 126);

    // Lowering a count hides cells but keeps them.
    t.SetRowCount(2);
    t.SetColCount(2);
    t.SetRowCount(3001);
    t.SetColCount(8);
    EXPECT_EQ(t.GetCell(7, 3), "spät");
    EXPECT_EQ(t.GetCell(2, 3000), std::string(20, 'x'));

    // Also in the last row an index can name.
    t.SetCell(3, INT32_MAX, "ganz unten");
    EXPECT_EQ(t.GetCell(3, INT32_MAX), "ganz unten");
    EXPECT_EQ(t.GetCell(3, INT32_MAX - 1), "");
    t.ClearAll();
    EXPECT_EQ(t.GetCell(3, INT32_MAX), "ganz unten");
}

TEST_F(Table, FittingWidensOnlyPastTheMinimumAndCanNarrow) {
    measure.fixed = {{"vierzig", 40}, {"einundvierzig", 41}, {"breit", 120}, {"schmaler", 90}};
    t.ResetWithHeaders(kSeokicksHeaders); // "Link-URL" and "Ankertext" are 48 and 54 px
    t.AppendRecord({"a", "vierzig", "einundvierzig", "breit"});
    t.FitColumnWidths(40);
    EXPECT_EQ(t.ColWidth(0), 64) << "number column stays as it was";
    EXPECT_EQ(t.ColWidth(1), 54);
    EXPECT_EQ(t.ColWidth(2), 60);
    EXPECT_EQ(t.ColWidth(3), 47) << "41 px is past the minimum";
    EXPECT_EQ(t.ColWidth(4), 126);

    t.ResetWithHeaders({"N", "L", "A", "F", "Z"});
    t.AppendRecord({"", "", "vierzig", "schmaler"});
    t.FitColumnWidths(40);
    EXPECT_EQ(t.ColWidth(3), 47) << "40 px is not past the minimum: width stays";
    EXPECT_EQ(t.ColWidth(4), 96) << "a shorter result narrows the column";
}

TEST_F(Table, RejectsNegativeCountsAndIndicesAndFollowsLoweredCounts) {
    EXPECT_THROW(t.SetRowCount(-1), std::invalid_argument);
    EXPECT_THROW(t.SetColCount(-5), std::invalid_argument);
    EXPECT_THROW(t.SetCell(-1, 0, "x"), std::out_of_range);
    EXPECT_THROW(t.SetCell(0, -1, "x"), std::out_of_range);
    EXPECT_THROW(std::ignore = t.GetCell(0, -1), std::out_of_range);
    EXPECT_THROW(t.SetCurrentCell(5, 1), std::out_of_range);
    EXPECT_THROW(t.FitColumnWidths(-1), std::invalid_argument);
    EXPECT_THROW(t.SetCellNote(-1, 2, "x"), std::out_of_range);
    EXPECT_THROW(std::ignore = t.GetCellNote(2, -1), std::out_of_range);
    EXPECT_EQ(t.RowCount(), 5);
    EXPECT_EQ(t.ColCount(), 5);

    // The current cell moves inside lowered counts.
    t.SetCurrentCell(4, 4);
    t.SetRowCount(3);
    t.SetColCount(2);
    EXPECT_EQ(t.Col(), 1);
    EXPECT_EQ(t.Row(), 2);
    t.SetRowCount(0);
    EXPECT_EQ(t.Row(), 0);
    EXPECT_TRUE(t.ColumnText(0).empty());
}

TEST_F(Table, TellsTheObserverOnlyWhatAViewCanSee) {
    RecordingObserver seen;
    t.setObserver(&seen);
    t.ResetWithHeaders(kSeokicksHeaders);
    EXPECT_EQ(seen.resets, 1);

    t.AppendRecord({"http://a.example/seite", "a", "1", "z"});
    EXPECT_TRUE(seen.cells.empty()) << "appending is one row count change, not a change per cell";
    EXPECT_EQ(seen.rowCounts, (Pairs{{2, 3}}));

    t.SetCell(1, 1, "sichtbar");
    t.SetCell(1, 1, "sichtbar"); // same text: no change
    t.SetCell(9, 1, "verborgen");
    EXPECT_EQ(seen.cells, (Pairs{{1, 1}}));

    t.FitColumnWidths(40);
    t.FitColumnWidths(40);
    EXPECT_EQ(seen.widths, (Pairs{{1, 138}, {2, 60}, {4, 54}}));

    t.SetColCount(5);
    t.SetColCount(6);
    t.ClearAll();
    EXPECT_EQ(seen.colCounts, (Pairs{{5, 6}}));
    EXPECT_EQ(seen.resets, 2);
}

TEST_F(Table, MeasuresEachTextOnce) {
    t.ResetWithHeaders(kSeokicksHeaders);
    for (int i = 0; i < 3000; ++i) { // past a storage chunk
        const std::string n = std::to_string(i);
        t.AppendRecord(
            {"http://seite-" + n + ".example/", "Anker " + n, "f" + n, "http://ziel.example/" + n});
        t.FitColumnWidths(40);
    }
    // Counting and uncounting rows reuses what was measured.
    t.SetRowCount(10);
    t.SetRowCount(3002);
    t.FitColumnWidths(40);
    for (const auto& [text, times] : measure.measured)
        ASSERT_EQ(times, 1) << text;
    EXPECT_EQ(t.ColWidth(1), 26 * 6 + 6) << "http://seite-2999.example/";
}

TEST_F(Table, NotesFollowTheirCellTextAndStayOutOfTheText) {
    t.ResetWithHeaders(kStatusHeaders);
    t.AppendRecord({"http://a.example/", "Fehler"});
    t.AppendRecord({"http://b.example/", "Fehler"});
    RecordingObserver seen;
    t.setObserver(&seen);

    t.SetCellNote(2, 2, "HTTP 404");
    t.SetCellNote(2, 2, "HTTP 404"); // unchanged: not reported again
    t.SetCellNote(2, 3, "Zeitüberschreitung nach 60 s");
    t.SetCellNote(2, 9, "verborgen"); // outside the counts: kept, not reported
    EXPECT_EQ(seen.cells, (Pairs{{2, 2}, {2, 3}}));
    EXPECT_EQ(t.GetCellNote(2, 2), "HTTP 404");
    EXPECT_EQ(t.GetCellNote(2, 9), "verborgen");
    EXPECT_EQ(t.RowCells(2), (Strings{"2", "http://a.example/", "Fehler"}));
    EXPECT_EQ(t.RowNotes(3), (Strings{"", "", "Zeitüberschreitung nach 60 s"}));
    t.FitColumnWidths(0);
    EXPECT_EQ(t.ColWidth(2), 6 * 6 + 6) << "a note never widens its column";

    t.SetCell(2, 2, "Fehler"); // same text: the reason still holds
    EXPECT_EQ(t.GetCellNote(2, 2), "HTTP 404");
    t.SetCell(2, 2, "gefunden");
    EXPECT_EQ(t.GetCellNote(2, 2), "") << "a new text makes the old reason stale";
    t.SetCellNote(2, 3, "");
    EXPECT_EQ(t.RowNotes(3), Strings(3, ""));
}

TEST_F(Table, SetRowNotesReplacesTheWholeRow) {
    t.ResetWithHeaders(kStatusHeaders);
    t.AppendRecord({"http://a.example/", "Fehler"});
    t.SetCellNote(1, 2, "alt");
    t.SetCellNote(2, 2, "TLS");
    t.SetCellNote(6, 2, "jenseits der Spalten");
    RecordingObserver seen;
    t.setObserver(&seen);

    // How a filter moves a row: texts first, then the notes the row had.
    t.SetRowNotes(2, {"", "", "TLS", "", "neu"});
    EXPECT_EQ(t.RowNotes(2), (Strings{"", "", "TLS"}));
    EXPECT_EQ(t.GetCellNote(4, 2), "neu");
    EXPECT_EQ(t.GetCellNote(6, 2), "") << "every other note of the row goes";
    EXPECT_EQ(seen.cells, (Pairs{{1, 2}}));

    t.SetRowNotes(2, {});
    EXPECT_EQ(t.GetCellNote(2, 2), "");
    EXPECT_EQ(t.GetCellNote(4, 2), "");
}

TEST_F(Table, ClearingDropsTheNotesOfTheClearedRowsOnly) {
    t.ResetWithHeaders(kStatusHeaders);
    for (int i = 0; i < 4; ++i)
        t.AppendRecord({"http://" + std::to_string(i) + ".example/", "Fehler"});
    for (std::int32_t row = 2; row < 6; ++row)
        t.SetCellNote(2, row, "Host nicht gefunden");
    t.SetCellNote(7, 1, "leere Zelle, ferne Spalte");
    t.SetRowCount(4); // rows 4 and 5 are hidden, not cleared

    t.ClearAll();
    EXPECT_EQ(t.GetCellNote(2, 2), "");
    EXPECT_EQ(t.GetCellNote(7, 1), "");
    t.SetRowCount(6);
    EXPECT_EQ(t.GetCell(2, 5), "Fehler");
    EXPECT_EQ(t.GetCellNote(2, 5), "Host nicht gefunden") << "the hidden row kept text and note";

    t.ResetWithHeaders(kStatusHeaders);
    t.SetRowCount(6);
    for (std::int32_t row = 0; row < 6; ++row)
        EXPECT_EQ(t.RowNotes(row), Strings(3, "")) << row;
}

} // namespace
