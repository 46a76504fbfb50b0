// Scrolls the grid of the offscreen window from the top of a filled table to its bottom in page
// steps, as clicks into the scroll bar's trough do, and times each step: the scroll and the
// synchronous repaint it needs. Prints the median and the worst step against one 60 Hz frame.
// Usage: bench_scroll [records, 100000]
#include "app/TableModel.h"
#include "app/Unit1.h"
#include "bench/BenchSupport.h"
#include "table/BacklinkTable.h"

#include <QApplication>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (records <= 0) {
        std::fprintf(stderr, "usage: %s [records]\n", argv[0]);
        return 2;
    }
    const bench::OffscreenEnvironment offscreen;
    QApplication app(argc, argv);
    QTemporaryDir folder;
    app::TForm1 form(folder.path().toStdString() + "/");
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        std::fprintf(stderr, "the window was not exposed\n");

    // Filled as "Check" fills it, with the view following every row.
    const double fill = bench::RunPipeline(bench::GenerateSeokicksAnswer(records), form.table()).total;
    QCoreApplication::processEvents();
    app::StringGrid* grid = form.StringGrid1;
    QScrollBar* bar = grid->verticalScrollBar();
    bar->setValue(0);
    grid->repaint();

    std::vector<double> steps; // ms
    while (bar->value() < bar->maximum()) {
        const auto start = Clock::now();
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        grid->repaint();
        steps.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        QCoreApplication::processEvents();
    }
    if (steps.empty()) {
        std::fprintf(stderr, "nothing to scroll\n");
        return 1;
    }

    std::vector<double> sorted = steps;
    std::sort(sorted.begin(), sorted.end());
    const auto over = std::count_if(steps.begin(), steps.end(), [](double ms) { return ms > 16.0; });
    std::printf("Scrolling %d table rows (filled in %.3f s) in %zu page steps of %d rows, grid %dx%d px:\n",
                form.table().RowCount() - 2, fill, steps.size(), bar->pageStep(), grid->width(),
                grid->height());
    std::printf("  median step   %8.2f ms\n", sorted[sorted.size() / 2]);
    std::printf("  99th pct.     %8.2f ms\n", sorted[sorted.size() * 99 / 100]);
    std::printf("  worst step    %8.2f ms   (target <= 16 ms)\n", sorted.back());
    std::printf("  steps > 16 ms %8td\n", over);
    return 0;
}
