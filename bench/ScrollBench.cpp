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
#include <ctime>
#include <vector>

namespace {

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

} // namespace

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

    // Wall time is what a user sees; the thread's CPU time leaves out what other processes took
    // of a shared machine meanwhile.
    std::vector<double> wall; // ms
    std::vector<double> cpu;  // ms
    while (bar->value() < bar->maximum()) {
        const auto start = Clock::now();
        const double cpuStart = ThreadCpuMs();
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        grid->repaint();
        cpu.push_back(ThreadCpuMs() - cpuStart);
        wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        QCoreApplication::processEvents();
    }
    if (wall.empty()) {
        std::fprintf(stderr, "nothing to scroll\n");
        return 1;
    }

    const auto over = std::count_if(wall.begin(), wall.end(), [](double ms) { return ms > 16.0; });
    const auto worstWall = std::max_element(wall.begin(), wall.end()) - wall.begin();
    const auto worstCpu = std::max_element(cpu.begin(), cpu.end()) - cpu.begin();
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    const auto row = [&](const char* what, std::size_t at, const char* note) {
        std::printf("  %-12s %8.2f ms  %8.2f ms%s\n", what, wall[at], cpu[at], note);
    };
    std::printf("Scrolling %d table rows (filled in %.3f s) in %zu page steps of %d rows, grid %dx%d px:\n",
                form.table().RowCount() - 2, fill, wall.size(), bar->pageStep(), grid->width(),
                grid->height());
    std::printf("  %-12s %11s  %11s\n", "per step", "wall", "thread CPU");
    row("median", wall.size() / 2, "");
    row("99th pct.", wall.size() * 99 / 100, "");
    row("worst", wall.size() - 1, "   (target <= 16 ms)");
    std::printf(
        "  steps over 16 ms of wall time: %td; the worst was step %td in wall time, %td in CPU time\n", over,
        worstWall + 1, worstCpu + 1);
    return 0;
}
