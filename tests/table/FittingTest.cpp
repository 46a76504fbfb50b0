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

// Dense storage, every operation done the obvious way.
class ReferenceTable {
public:
    explicit ReferenceTable(const toolkit::TextWidth& measure) : measure_(measure) {}

    std::string Get(std::int32_t col, std::int32_t row) const {
        const auto c = static_cast<std::size_t>(col);
        const auto r = static_cast<std::size_t>(row);
        return c < cells_.size() && r < cells_[c].size() ? cells_[c][r] : std::string();
    }
    void Set(std::int32_t col, std::int32_t row, const std::string& text) {
        auto& column = Column(col);
        if (column.size() <= static_cast<std::size_t>(row))
            column.resize(static_cast<std::size_t>(row) + 1);
        if (column[static_cast<std::size_t>(row)] != text)
            notes.erase({col, row});
        column[static_cast<std::size_t>(row)] = text;
    }
    void SetNote(std::int32_t col, std::int32_t row, const std::string& note) {
        noted.insert({col, row});
        if (note.empty())
            notes.erase({col, row});
        else
            notes[{col, row}] = note;
    }
    std::string Note(std::int32_t col, std::int32_t row) const {
        const auto it = notes.find({col, row});
        return it == notes.end() ? std::string() : it->second;
    }
    void ClearAll() {
        for (std::int32_t row = 0; row < rows; ++row)
            for (std::size_t col = 0; col < cells_.size(); ++col)
                Set(static_cast<std::int32_t>(col), row, "");
        std::erase_if(notes, [this](const auto& entry) { return entry.first.second < rows; });
    }
    void Reset(const Strings& headers) {
        ClearAll();
        rows = 2;
        for (std::size_t i = 0; i < headers.size(); ++i)
            Set(static_cast<std::int32_t>(i), 0, headers[i]);
        cols = static_cast<std::int32_t>(headers.size());
    }
    void Append(const Strings& record) {
        const std::int32_t row = rows;
        Set(0, row, std::to_string(row));
        for (std::size_t i = 0; i < record.size(); ++i)
            Set(static_cast<std::int32_t>(i + 1), row, record[i]);
        rows = row + 1;
    }
    void Fit(std::int32_t minimum) {
        for (std::int32_t col = 0; col < cols; ++col) {
            std::int32_t widest = 0;
            for (std::int32_t row = 0; row < rows; ++row)
                widest = std::max(widest, measure_.width(Get(col, row)));
            if (widest > minimum)
                Width(col) = widest + 1 + 5;
        }
    }
    std::int32_t& Width(std::int32_t col) {
        if (widths_.size() <= static_cast<std::size_t>(col))
            widths_.resize(static_cast<std::size_t>(col) + 1, 64);
        return widths_[static_cast<std::size_t>(col)];
    }

    std::int32_t rows = 5;
    std::int32_t cols = 5;
    std::map<std::pair<std::int32_t, std::int32_t>, std::string> notes; // by (col, row)
    std::set<std::pair<std::int32_t, std::int32_t>> noted;              // every cell ever given one

private:
    std::vector<std::string>& Column(std::int32_t col) {
        if (cells_.size() <= static_cast<std::size_t>(col))
            cells_.resize(static_cast<std::size_t>(col) + 1);
        return cells_[static_cast<std::size_t>(col)];
    }

    const toolkit::TextWidth& measure_;
    std::vector<std::vector<std::string>> cells_;
    std::vector<std::int32_t> widths_;
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

constexpr std::int32_t kMaxCol = 8;
constexpr std::int32_t kMaxRow = 1100; // beyond one storage chunk of 1024 rows

void ExpectSameTables(BacklinkTable& t, ReferenceTable& ref, int step) {
    ASSERT_EQ(t.RowCount(), ref.rows) << "step " << step;
    ASSERT_EQ(t.ColCount(), ref.cols) << "step " << step;
    for (std::int32_t col = 0; col <= kMaxCol; ++col) {
        ASSERT_EQ(t.ColWidth(col), ref.Width(col)) << "step " << step << " col " << col;
        for (std::int32_t row = 0; row <= kMaxRow + 2; row += 37)
            ASSERT_EQ(t.GetCell(col, row), ref.Get(col, row)) << "step " << step;
    }
    for (const auto& [col, row] : ref.noted)
        ASSERT_EQ(t.GetCellNote(col, row), ref.Note(col, row))
            << "step " << step << " cell " << col << "," << row;
}

class IncrementalFitting : public ::testing::TestWithParam<unsigned> {};

TEST_P(IncrementalFitting, AgreesWithAFullFittingAfterEveryOperation) {
    FakeTextWidth measure;
    BacklinkTable t(measure);
    ReferenceTable ref(measure);
    RandomOps pick(GetParam());

    for (int step = 0; step < 4000; ++step) {
        const int op = pick.Below(100);
        if (op < 30) {
            const std::int32_t col = pick.Below(kMaxCol + 1);
            // Mostly rows near the count, so that texts get overwritten and counts cross them.
            const std::int32_t row =
                pick.Below(2) ? pick.Below(kMaxRow + 1) : std::max(0, t.RowCount() - 1 - pick.Below(4));
            const std::string text = pick.Text();
            t.SetCell(col, row, text);
            ref.Set(col, row, text);
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
            const std::int32_t count = pick.Below(5) == 0
                                           ? pick.Below(kMaxRow + 1)
                                           : std::clamp(t.RowCount() + pick.Below(9) - 4, 0, kMaxRow);
            t.SetRowCount(count);
            ref.rows = count;
        } else if (op < 90) {
            const std::int32_t count = pick.Below(kMaxCol + 1);
            t.SetColCount(count);
            ref.cols = count;
        } else if (op < 95) {
            const std::int32_t col = pick.Below(kMaxCol + 1);
            const std::int32_t row = std::max(0, t.RowCount() - 1 - pick.Below(6));
            const std::string note = pick.Text();
            t.SetCellNote(col, row, note);
            ref.SetNote(col, row, note);
        } else if (op < 98) {
            const std::int32_t row = std::max(0, t.RowCount() - 1 - pick.Below(6));
            const Strings notes = pick.Texts(kMaxCol + 1);
            t.SetRowNotes(row, notes);
            for (std::int32_t col = 0; col <= kMaxCol; ++col)
                ref.SetNote(
                    col, row,
                    static_cast<std::size_t>(col) < notes.size() ? notes[static_cast<std::size_t>(col)] : "");
        } else if (t.RowCount() > 0) {
            const std::int32_t row = pick.Below(t.RowCount());
            const Strings notes = t.RowNotes(row);
            ASSERT_EQ(notes.size(), static_cast<std::size_t>(t.ColCount()));
            for (std::int32_t col = 0; col < t.ColCount(); ++col)
                ASSERT_EQ(notes[static_cast<std::size_t>(col)], ref.Note(col, row)) << "step " << step;
        }
        const std::int32_t minimum = pick.Below(4) == 0 ? pick.Below(100) : 40;
        t.FitColumnWidths(minimum);
        ref.Fit(minimum);
        ExpectSameTables(t, ref, step);
        if (HasFatalFailure())
            return;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, IncrementalFitting, ::testing::Values(1u, 2u, 3u, 4u));

TEST(WideTables, MeasureEveryRowPastSixteenBits) {
    FakeTextWidth measure;
    BacklinkTable t(measure);
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

TEST(WideTables, TextWiderThanSixteenBitsOfPixels) {
    FakeTextWidth measure;
    BacklinkTable t(measure);
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

TEST(WideTables, ColumnsPastSixteenBits) {
    FakeTextWidth measure;
    BacklinkTable t(measure);
    t.SetColCount(70001);
    t.SetCell(70000, 1, std::string(10, 'z'));
    t.FitColumnWidths(40);
    EXPECT_EQ(t.ColWidth(70000), 66);
    EXPECT_EQ(t.ColWidth(4464), 64); // 70,000 mod 65,536
}

} // namespace
