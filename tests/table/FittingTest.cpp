// The incremental widths against a plain model that measures the whole table at every fitting;
// cell notes ride along, since they must follow the texts without touching the widths.
#include "table/BacklinkTable.h"
#include "tests/table/FakeTextWidth.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using table::BacklinkTable;
using tabletest::FakeTextWidth;
using Strings = std::vector<std::string>;

// Every cell in one map, every operation done the obvious way.
class ReferenceTable {
public:
    using Cell = std::pair<std::int32_t, std::int32_t>; // (col, row)

    std::string Get(Cell cell) const {
        const auto it = cells.find(cell);
        return it == cells.end() ? std::string() : it->second;
    }
    void Set(Cell cell, const std::string& text) {
        if (Get(cell) != text)
            notes.erase(cell);
        cells[cell] = text;
    }
    void SetNote(Cell cell, const std::string& note) {
        noted.insert(cell);
        if (note.empty())
            notes.erase(cell);
        else
            notes[cell] = note;
    }
    std::string Note(Cell cell) const {
        const auto it = notes.find(cell);
        return it == notes.end() ? std::string() : it->second;
    }
    void ClearAll() {
        const auto shown = [this](const auto& entry) { return entry.first.second < rows; };
        std::erase_if(cells, shown);
        std::erase_if(notes, shown);
    }
    void Reset(const Strings& headers) {
        ClearAll();
        rows = 2;
        cols = static_cast<std::int32_t>(headers.size());
        for (std::int32_t col = 0; col < cols; ++col)
            Set({col, 0}, headers[static_cast<std::size_t>(col)]);
    }
    void Append(const Strings& record) {
        Set({0, rows}, std::to_string(rows));
        for (std::size_t i = 0; i < record.size(); ++i)
            Set({static_cast<std::int32_t>(i + 1), rows}, record[i]);
        ++rows;
    }
    // Measures the whole shown table, as if nothing had been measured before.
    void Fit(std::int32_t minimum) {
        std::map<std::int32_t, std::int32_t> widest;
        for (const auto& [cell, text] : cells)
            if (cell.first < cols && cell.second < rows)
                widest[cell.first] = std::max(widest[cell.first], static_cast<std::int32_t>(text.size()) *
                                                                      FakeTextWidth::kPerByte);
        for (const auto& [col, width] : widest)
            if (width > minimum)
                widths[col] = width + 1 + 5;
    }
    std::int32_t Width(std::int32_t col) const {
        const auto it = widths.find(col);
        return it == widths.end() ? 64 : it->second;
    }

    std::int32_t rows = 5;
    std::int32_t cols = 5;
    std::map<Cell, std::string> cells, notes;
    std::map<std::int32_t, std::int32_t> widths;
    std::set<Cell> noted; // every cell ever given a note
};

class RandomOps {
public:
    explicit RandomOps(unsigned seed) : rng_(seed) {}
    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    std::string Text() {
        if (Below(4) == 0)
            return "";
        return std::string(static_cast<std::size_t>(Below(16)), static_cast<char>('a' + Below(3)));
    }
    Strings Texts(int most) {
        Strings texts(static_cast<std::size_t>(Below(most + 1)));
        for (auto& text : texts)
            text = Text();
        return texts;
    }

private:
    std::mt19937 rng_;
};

constexpr int kSteps = 2000;
constexpr std::int32_t kMaxCol = 8;
constexpr std::int32_t kMaxRow = 1100; // beyond one storage chunk of 1024 rows

class IncrementalFitting : public ::testing::TestWithParam<unsigned> {};

TEST_P(IncrementalFitting, AgreesWithAFullFittingAfterEveryOperation) {
    FakeTextWidth measure;
    BacklinkTable t(measure);
    ReferenceTable ref;
    RandomOps pick(GetParam());
    const auto nearLastRow = [&](int spread) { return std::max(0, t.RowCount() - 1 - pick.Below(spread)); };

    for (int step = 0; step < kSteps; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const int op = pick.Below(100);
        if (op < 30) {
            // Half of them near the count, so that texts get overwritten and counts cross them.
            const ReferenceTable::Cell cell{pick.Below(kMaxCol + 1),
                                            pick.Below(2) ? pick.Below(kMaxRow + 1) : nearLastRow(4)};
            const std::string text = pick.Text();
            t.SetCell(cell.first, cell.second, text);
            ref.Set(cell, text);
        } else if (op < 65) {
            if (t.RowCount() >= kMaxRow)
                continue;
            const Strings record = pick.Texts(kMaxCol);
            t.AppendRecord(record);
            ref.Append(record);
        } else if (op < 68) {
            t.ClearAll();
            ref.ClearAll();
        } else if (op < 71) {
            const Strings headers = pick.Texts(kMaxCol);
            t.ResetWithHeaders(headers);
            ref.Reset(headers);
        } else if (op < 85) {
            // Small steps around the present count, now and then a jump.
            ref.rows = pick.Below(5) == 0 ? pick.Below(kMaxRow + 1)
                                          : std::clamp(t.RowCount() + pick.Below(9) - 4, 0, kMaxRow);
            t.SetRowCount(ref.rows);
        } else if (op < 90) {
            ref.cols = pick.Below(kMaxCol + 1);
            t.SetColCount(ref.cols);
        } else if (op < 95) {
            const ReferenceTable::Cell cell{pick.Below(kMaxCol + 1), nearLastRow(6)};
            const std::string note = pick.Text();
            t.SetCellNote(cell.first, cell.second, note);
            ref.SetNote(cell, note);
        } else if (op < 98) {
            const std::int32_t row = nearLastRow(6);
            Strings notes = pick.Texts(kMaxCol + 1);
            t.SetRowNotes(row, notes);
            notes.resize(kMaxCol + 1);
            for (std::int32_t col = 0; col <= kMaxCol; ++col)
                ref.SetNote({col, row}, notes[static_cast<std::size_t>(col)]);
        } else if (t.RowCount() > 0) {
            const std::int32_t row = pick.Below(t.RowCount());
            const Strings notes = t.RowNotes(row);
            ASSERT_EQ(notes.size(), static_cast<std::size_t>(t.ColCount()));
            for (std::int32_t col = 0; col < t.ColCount(); ++col)
                ASSERT_EQ(notes[static_cast<std::size_t>(col)], ref.Note({col, row}));
        }
        const std::int32_t minimum = pick.Below(4) == 0 ? pick.Below(100) : 40;
        t.FitColumnWidths(minimum);
        ref.Fit(minimum);

        ASSERT_EQ(t.RowCount(), ref.rows);
        ASSERT_EQ(t.ColCount(), ref.cols);
        for (std::int32_t col = 0; col <= kMaxCol; ++col) {
            ASSERT_EQ(t.ColWidth(col), ref.Width(col)) << "col " << col;
            for (std::int32_t row = 0; row <= kMaxRow + 2; row += 37)
                ASSERT_EQ(t.GetCell(col, row), ref.Get({col, row})) << col << "," << row;
        }
        for (const auto& [col, row] : ref.noted)
            ASSERT_EQ(t.GetCellNote(col, row), ref.Note({col, row})) << col << "," << row;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, IncrementalFitting, ::testing::Values(1u, 2u, 3u, 4u));

struct WideTables : ::testing::Test {
    FakeTextWidth measure;
    BacklinkTable t{measure};
};

TEST_F(WideTables, MeasureEveryRowPastSixteenBits) {
    t.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext"});
    while (t.RowCount() < 70000)
        t.AppendRecord({t.RowCount() == 65536 ? std::string(50, 'w') : "kurz", "x"});
    t.SetCell(2, 65600, std::string(70, 'y'));
    t.FitColumnWidths(40);

    EXPECT_EQ(t.ColWidth(1), 50 * 6 + 6) << "widest text in row 65,536";
    EXPECT_EQ(t.ColWidth(2), 70 * 6 + 6);

    // Dropping the rows that hold the widest texts hands the width back to what remains.
    t.SetRowCount(65536);
    t.FitColumnWidths(40);
    EXPECT_EQ(t.ColWidth(1), 48 + 6) << "back to the header \"Link-URL\"";
    EXPECT_EQ(t.ColWidth(2), 54 + 6);
}

TEST_F(WideTables, TextWiderThanSixteenBitsOfPixels) {
    t.ResetWithHeaders({"Nr.", "Link-URL"});
    t.AppendRecord({std::string(12000, 'a')}); // 72,000 px
    t.FitColumnWidths(40);
    EXPECT_EQ(t.ColWidth(1), 72006);

    measure.fixed["riesig"] = 65536 + 10; // taken modulo 65,536 this would fall below the minimum
    t.AppendRecord({"riesig"});
    t.SetCell(1, 2, "");
    t.FitColumnWidths(40);
    EXPECT_EQ(t.ColWidth(1), 65552);
}

TEST_F(WideTables, ColumnsPastSixteenBits) {
    t.SetColCount(70001);
    t.SetCell(70000, 1, std::string(10, 'z'));
    t.FitColumnWidths(40);
    EXPECT_EQ(t.ColWidth(70000), 66);
    EXPECT_EQ(t.ColWidth(4464), 64); // 70,000 mod 65,536
}

} // namespace
