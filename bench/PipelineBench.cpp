// Times the Check pipeline on a generated SEOkicks answer (details=2) and compares the incremental
// column fitting with a full re-fit after every row. Runs offscreen; prints figures only.
// Usage: bench_pipeline [records, 100000] [records of the side-by-side fitting, 5000; 0 skips it]
// The full re-fit grows with the square of the rows: at 5000 it takes minutes.
// clang-format off
#include <QWidget> // app/QtToolkit.h needs the full type for its QPointer<QWidget>
#include "app/QtToolkit.h"
#include "bench/BenchSupport.h"
// clang-format on
#include "retrieval/Parsing.h"
#include "table/BacklinkTable.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

using bench::GenerateSeokicksAnswer;
using bench::PeakRssMiB;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Remembers every text it measured. Given to the full re-fit so that the comparison shows the
// algorithm and not the width cache of the table; a re-fit over the plain measure is slower still.
class RememberingWidth final : public toolkit::TextWidth {
public:
    explicit RememberingWidth(const toolkit::TextWidth& measure) : measure_(measure) {}
    std::int32_t width(std::string_view text) const override {
        const auto [it, added] = known_.try_emplace(std::string(text), 0);
        if (added)
            it->second = measure_.width(text);
        return it->second;
    }

private:
    const toolkit::TextWidth& measure_;
    mutable std::unordered_map<std::string, std::int32_t> known_;
};

// What the program did before: measure every cell of the whole table after every row.
void FullRefit(const table::BacklinkTable& table, const toolkit::TextWidth& measure,
               std::vector<std::int32_t>& widths, std::int32_t minimumWidth) {
    widths.resize(static_cast<std::size_t>(table.ColCount()), table::BacklinkTable::kStartWidth);
    for (std::int32_t col = 0; col < table.ColCount(); ++col) {
        std::int32_t widest = 0;
        for (std::int32_t row = 0; row < table.RowCount(); ++row)
            widest = std::max(widest, measure.width(table.GetCell(col, row)));
        if (widest > minimumWidth)
            widths[static_cast<std::size_t>(col)] = widest + table::BacklinkTable::kGridLineWidth + 5;
    }
}

double FitPerRow(const std::vector<retrieval::Record>& records, int rows, const toolkit::TextWidth& measure,
                 const toolkit::TextWidth* fullRefitMeasure, std::vector<std::int32_t>& widths) {
    table::BacklinkTable table(measure);
    const auto start = Clock::now();
    table.ResetWithHeaders(retrieval::Headers(retrieval::Service::Seokicks));
    for (int i = 0; i < rows; ++i) {
        table.AppendRecord(records[static_cast<std::size_t>(i)]);
        if (fullRefitMeasure != nullptr)
            FullRefit(table, *fullRefitMeasure, widths, 40);
        else
            table.FitColumnWidths(40);
    }
    const double seconds = SecondsSince(start);
    if (fullRefitMeasure == nullptr) {
        widths.clear();
        for (std::int32_t col = 0; col < table.ColCount(); ++col)
            widths.push_back(table.ColWidth(col));
    }
    return seconds;
}

void ComparePerRowFitting(const toolkit::TextWidth& measure, int rows) {
    const std::string answer = GenerateSeokicksAnswer(rows);
    const std::string split = retrieval::SplitTags(answer);
    const auto records = retrieval::ExtractRecords(retrieval::Lines(split), retrieval::Service::Seokicks);
    rows = static_cast<int>(records.size());

    std::vector<std::int32_t> incrementalWidths;
    std::vector<std::int32_t> fullWidths;
    std::vector<std::int32_t> rememberingWidths;
    const double incrementalSeconds = FitPerRow(records, rows, measure, nullptr, incrementalWidths);
    const double fullSeconds = FitPerRow(records, rows, measure, &measure, fullWidths);
    const RememberingWidth remembering(measure);
    const double rememberingSeconds = FitPerRow(records, rows, measure, &remembering, rememberingWidths);

    std::printf("\nFitting after every row, %d records, side by side:\n", rows);
    std::printf("  incremental                        %10.4f s\n", incrementalSeconds);
    std::printf("  full re-fit                        %10.4f s   speed-up %6.0f x   (target >= 100 x)\n",
                fullSeconds, fullSeconds / incrementalSeconds);
    std::printf("  full re-fit, remembering measure   %10.4f s   speed-up %6.0f x\n", rememberingSeconds,
                rememberingSeconds / incrementalSeconds);
    std::printf("  same widths                        %10s\n",
                incrementalWidths == fullWidths && fullWidths == rememberingWidths ? "yes" : "NO");
}

} // namespace

int main(int argc, char** argv) {
    const bench::OffscreenEnvironment offscreen;
    QApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int compareRows = argc > 2 ? std::atoi(argv[2]) : 5000;

    const app::QtTextWidth measure;
    std::string answer = GenerateSeokicksAnswer(records);
    const double rssBefore = PeakRssMiB();
    const double answerMiB = static_cast<double>(answer.size()) / (1024.0 * 1024.0);

    const auto total = Clock::now();
    auto start = Clock::now();
    std::string split = retrieval::SplitTags(answer);
    const double splitSeconds = SecondsSince(start);

    start = Clock::now();
    const std::vector<std::string_view> lines = retrieval::Lines(split);
    const double linesSeconds = SecondsSince(start);

    start = Clock::now();
    std::vector<retrieval::Record> records_ = retrieval::ExtractRecords(lines, retrieval::Service::Seokicks);
    const double extractSeconds = SecondsSince(start);

    start = Clock::now();
    table::BacklinkTable table(measure);
    table.ResetWithHeaders(retrieval::Headers(retrieval::Service::Seokicks));
    const double resetSeconds = SecondsSince(start);

    start = Clock::now();
    // The Check command has no use for a record once it is in the table.
    for (retrieval::Record& record : records_) {
        table.AppendRecord(std::move(record));
        table.FitColumnWidths(40);
    }
    const double appendSeconds = SecondsSince(start);
    const double totalSeconds = SecondsSince(total);
    const double peakMiB = PeakRssMiB();

    std::printf(
        "Generated SEOkicks answer: %d records, %zu bytes (%.1f MiB), %zu lines, %zu records parsed\n",
        records, answer.size(), answerMiB, lines.size(), records_.size());
    std::printf("  SplitTags            %10.4f s\n", splitSeconds);
    std::printf("  Lines                %10.4f s\n", linesSeconds);
    std::printf("  ExtractRecords       %10.4f s\n", extractSeconds);
    std::printf("  ResetWithHeaders     %10.4f s\n", resetSeconds);
    std::printf("  AppendRecord + Fit   %10.4f s\n", appendSeconds);
    std::printf("  whole pipeline       %10.4f s   (target <= 1.5 s)\n", totalSeconds);
    std::printf("Peak RSS %.1f MiB (%.1f MiB before the pipeline): %.2f x the answer   (target <= 6 x)\n",
                peakMiB, rssBefore, peakMiB / answerMiB);
    std::printf("Widths:");
    for (std::int32_t col = 0; col < table.ColCount(); ++col)
        std::printf(" %d", table.ColWidth(col));
    std::printf("\n");

    if (compareRows > 0)
        ComparePerRowFitting(measure, compareRows);
    return 0;
}
