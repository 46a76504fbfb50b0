// Times the Check pipeline on a generated SEOkicks answer (details=2) and compares the incremental
// column fitting with the literal full re-fit after every row. Runs offscreen; prints figures only.
// Usage: bench_pipeline [records, 100000] [rows of the side-by-side fitting, 5000; 0 skips it]
// The literal re-fit grows with the square of the rows, so it runs at a tenth, a fifth and two
// fifths of the side-by-side rows only; a power law through those three gives its time at the
// side-by-side rows and at all records, beside the incremental fitting measured at both.
// clang-format off
#include <QWidget> // app/QtToolkit.h needs the full type for its QPointer<QWidget>
#include "app/QtToolkit.h"
#include "bench/BenchSupport.h"
// clang-format on
#include "retrieval/Parsing.h"
#include "table/BacklinkTable.h"

#include <QApplication>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using bench::GenerateSeokicksAnswer;
using bench::PeakRssMiB;

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kMinimumWidth = 40;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// What the program did before: measure every cell of the whole table after every row.
void FullRefit(const table::BacklinkTable& table, const toolkit::TextWidth& measure,
               std::vector<std::int32_t>& widths) {
    widths.resize(static_cast<std::size_t>(table.ColCount()), table::BacklinkTable::kStartWidth);
    for (std::int32_t col = 0; col < table.ColCount(); ++col) {
        std::int32_t widest = 0;
        for (std::int32_t row = 0; row < table.RowCount(); ++row)
            widest = std::max(widest, measure.width(table.GetCell(col, row)));
        if (widest > kMinimumWidth)
            widths[static_cast<std::size_t>(col)] = widest + table::BacklinkTable::kGridLineWidth + 5;
    }
}

// Fills a table with the first `rows` records, fitting after every row; returns the seconds.
double FitPerRow(const std::vector<retrieval::Record>& records, int rows, const toolkit::TextWidth& measure,
                 bool literal, std::vector<std::int32_t>& widths) {
    table::BacklinkTable table(measure);
    const auto start = Clock::now();
    table.ResetWithHeaders(retrieval::Headers(retrieval::Service::Seokicks));
    for (int i = 0; i < rows; ++i) {
        table.AppendRecord(records[static_cast<std::size_t>(i)]);
        if (literal)
            FullRefit(table, measure, widths);
        else
            table.FitColumnWidths(kMinimumWidth);
    }
    const double seconds = SecondsSince(start);
    if (!literal) {
        widths.clear();
        for (std::int32_t col = 0; col < table.ColCount(); ++col)
            widths.push_back(table.ColWidth(col));
    }
    return seconds;
}

void ComparePerRowFitting(const toolkit::TextWidth& measure, int rows, int allRecords,
                          double allRecordsIncremental) {
    const std::string answer = GenerateSeokicksAnswer(rows);
    const std::string split = retrieval::SplitTags(answer);
    const auto records = retrieval::ExtractRecords(retrieval::Lines(split), retrieval::Service::Seokicks);
    rows = static_cast<int>(records.size());
    if (rows < 20) {
        std::printf("\nFitting side by side needs at least 20 rows.\n");
        return;
    }

    const std::array<int, 3> measured = {rows / 10, rows / 5, rows * 2 / 5};
    std::printf(
        "\nFitting after every row, side by side; the literal re-fit measured at %d, %d and %d rows:\n",
        measured[0], measured[1], measured[2]);
    std::printf("  %8s   %12s   %16s   %8s\n", "rows", "incremental", "literal re-fit", "speed-up");
    bool sameWidths = true;
    // Least squares of log(time) over log(rows): time = e^intercept * rows^slope.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const int n : measured) {
        std::vector<std::int32_t> incrementalWidths;
        std::vector<std::int32_t> literalWidths;
        const double incremental = FitPerRow(records, n, measure, false, incrementalWidths);
        const double literal = FitPerRow(records, n, measure, true, literalWidths);
        sameWidths = sameWidths && incrementalWidths == literalWidths;
        std::printf("  %8d   %10.4f s   %14.4f s   %6.0f x\n", n, incremental, literal,
                    literal / incremental);
        const double x = std::log(n);
        const double y = std::log(std::max(literal, 1e-9));
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double count = static_cast<double>(measured.size());
    const double slope = (count * sxy - sx * sy) / (count * sxx - sx * sx);
    const double intercept = (sy - slope * sx) / count;
    const auto extrapolated = [&](int n) { return std::exp(intercept + slope * std::log(n)); };

    std::vector<std::int32_t> widths;
    const double incremental = FitPerRow(records, rows, measure, false, widths);
    std::printf("  literal re-fit grows as rows^%.2f; beyond the measured rows it is extrapolated:\n", slope);
    std::printf("  %8d   %10.4f s   %14.4f s   %6.0f x   (target >= 100 x)\n", rows, incremental,
                extrapolated(rows), extrapolated(rows) / incremental);
    if (allRecords > rows && allRecordsIncremental > 0)
        std::printf("  %8d   %10.4f s   %14.0f s   %6.0f x   (incremental: the pipeline above)\n", allRecords,
                    allRecordsIncremental, extrapolated(allRecords),
                    extrapolated(allRecords) / allRecordsIncremental);
    std::printf("  same widths at the measured rows: %s\n", sameWidths ? "yes" : "NO");
}

} // namespace

int main(int argc, char** argv) {
    const bench::OffscreenEnvironment offscreen;
    QApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int compareRows = argc > 2 ? std::atoi(argv[2]) : 5000;

    const app::QtTextWidth measure;
    double appendSeconds = 0;
    {
        const std::string answer = GenerateSeokicksAnswer(records);
        const double rssBefore = PeakRssMiB();
        const double answerMiB = static_cast<double>(answer.size()) / (1024.0 * 1024.0);

        table::BacklinkTable table(measure);
        const bench::PipelineTimes t = bench::RunPipeline(answer, table);
        const double peakMiB = PeakRssMiB();
        appendSeconds = t.appendAndFit;

        std::printf(
            "Generated SEOkicks answer: %d records, %zu bytes (%.1f MiB), %zu lines, %zu records parsed\n",
            records, answer.size(), answerMiB, t.lineCount, t.recordCount);
        std::printf("  SplitTags            %10.4f s\n", t.splitTags);
        std::printf("  Lines                %10.4f s\n", t.lines);
        std::printf("  ExtractRecords       %10.4f s\n", t.extractRecords);
        std::printf("  ResetWithHeaders     %10.4f s\n", t.resetWithHeaders);
        std::printf("  AppendRecord + Fit   %10.4f s   = %.2f x SplitTags   (target <= 3 x)\n",
                    t.appendAndFit, t.splitTags > 0 ? t.appendAndFit / t.splitTags : 0.0);
        std::printf("  whole pipeline       %10.4f s   (target <= 0.6 s on an idle machine)\n", t.total);
        std::printf("Peak RSS %.1f MiB (%.1f MiB before the pipeline): %.2f x the answer   (target <= 5 x)\n",
                    peakMiB, rssBefore, peakMiB / answerMiB);
        std::printf("Widths:");
        for (std::int32_t col = 0; col < table.ColCount(); ++col)
            std::printf(" %d", table.ColWidth(col));
        std::printf("\n");
    }

    if (compareRows > 0)
        ComparePerRowFitting(measure, compareRows, records, appendSeconds);
    return 0;
}
