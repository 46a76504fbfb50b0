// Link lists into the table: a Semrush-shaped export of 100,000 rows (19 columns) and a plain list
// of 1,000,000 addresses, each read from a file and added to a table that measures its texts in
// the grid's font (offscreen). Prints rows per second and the peak memory beyond what the process
// held before, as a multiple of the file's size; then what the reports and the history add.
// Last, the Semrush export into the table of the window, whose grid follows every row.
// Usage: bench_import [semrush rows, 100000] [list rows, 1000000]
// clang-format off
#include <QWidget> // app/QtToolkit.h needs the full type for its QPointer<QWidget>
#include "app/QtToolkit.h"
#include "app/Unit1.h"
#include "bench/BenchSupport.h"
// clang-format on
#include "retrieval/ImportCommand.h"
#include "retrieval/import/LinkFile.h"
#include "table/BacklinkTable.h"

#include <QApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <string>
#include <time.h>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time of this process, which leaves out what other processes of a busy machine take.
double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A field of /proc/self/status in KiB.
long StatusKiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::char_traits<char>::length(field));
    return -1;
}

// Starts a new peak: the kernel sets the high-water mark back to the current resident size.
bool ResetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

std::string SourceUrl(int i) {
    return "https://blog-" + std::to_string(i % 7919) + ".example.com/" + std::to_string(2015 + i % 10) +
           "/" + std::to_string(i % 12 + 1) + "/gartenbau-ratgeber-artikel-" + std::to_string(i) + ".html";
}

// The columns of a Semrush backlinks export, with values of typical length.
std::string SemrushFile(int rows) {
    std::string out = "Page ascore,Source title,Source url,Target url,Anchor,External links,Internal links,"
                      "Nofollow,Sponsored,Ugc,Text,Frame,Form,Image,Sitewide,First seen,Last seen,New link,"
                      "Lost link\r\n";
    for (int i = 0; i < rows; ++i) {
        out += std::to_string(i % 90 + 1) + ",\"Gartenbau, Pflanzen & Tipps – Beitrag " + std::to_string(i) +
               " | Blog\"," + SourceUrl(i) + ",https://" + bench::kDomain + "/kategorie/" +
               std::to_string(i % 40) + "/,Gartenbau Müller im Test," + std::to_string(i % 300) + "," +
               std::to_string(i % 120) + "," + (i % 4 == 0 ? "true" : "false") +
               ",false,false,true,false,false,false," + (i % 9 == 0 ? "true" : "false") +
               ",2023-04-17,2025-01-09,false,false\r\n";
    }
    return out;
}

std::string PlainList(int rows) {
    std::string out = "# Links der Agentur\n";
    for (int i = 0; i < rows; ++i)
        out += SourceUrl(i) + "\n";
    return out;
}

void Run(const char* what, const std::string& content, const toolkit::TextWidth& measure,
         double targetSeconds) {
    const std::string path =
        (fs::temp_directory_path() / ("qh-bench-import-" + std::to_string(::getpid()))).string();
    {
        std::ofstream out(path, std::ios::binary);
        out << content;
    }
    const double fileMiB = static_cast<double>(content.size()) / (1 << 20);
    malloc_trim(0);
    const long before = StatusKiB("VmRSS:");
    const bool peakReset = ResetPeak();

    const auto start = Clock::now();
    const double cpuStart = CpuSeconds();
    retrieval::LinkList list = retrieval::ReadLinkFile(path, retrieval::DomainFormsOf(bench::kDomain));
    const double read = Seconds(start);
    const double cpuRead = CpuSeconds() - cpuStart;
    table::BacklinkTable table(measure);
    const auto fillStart = Clock::now();
    const retrieval::ImportCounts counts = retrieval::AddToTable(table, list, list.roles);
    const double fill = Seconds(fillStart);
    const double total = Seconds(start);
    const double cpuTotal = CpuSeconds() - cpuStart;
    const long peak = StatusKiB("VmHWM:");
    fs::remove(path);

    const double rows = static_cast<double>(counts.fresh + counts.duplicate + counts.skipped);
    std::printf("%s: %.1f MiB, %s, %s\n", what, fileMiB, retrieval::Describe(list).c_str(),
                retrieval::CountsText(counts).c_str());
    std::printf("  read %.3f s, into the table %.3f s, together %.3f s (target %.1f s): %.0f rows/s\n", read,
                fill, total, targetSeconds, rows / total);
    std::printf("  processor time: read %.3f s, together %.3f s\n", cpuRead, cpuTotal);
    if (peakReset && before > 0 && peak > 0)
        std::printf("  peak memory beyond the start: %.1f MiB = %.2f x the file (target 3)\n",
                    static_cast<double>(peak - before) / 1024,
                    static_cast<double>(peak - before) / 1024 / fileMiB);
    else
        std::printf("  peak memory: %.1f MiB for the whole process (the kernel did not reset the peak)\n",
                    bench::PeakRssMiB());
}

// The rows into the table that the window shows: the grid's model hears of every row.
void RunInWindow(const std::string& content) {
    QTemporaryDir folder;
    const std::string path = folder.path().toStdString() + "/semrush.csv";
    {
        std::ofstream out(path, std::ios::binary);
        out << content;
    }
    app::TForm1 form(folder.path().toStdString() + "/");
    form.show();
    retrieval::LinkList list = retrieval::ReadLinkFile(path, retrieval::DomainFormsOf(bench::kDomain));
    const retrieval::ColumnRoles roles = list.roles;
    const auto start = Clock::now();
    const double cpuStart = CpuSeconds();
    retrieval::AddToTable(form.table(), list, roles);
    QCoreApplication::processEvents();
    std::printf("Semrush export into the window's table: %.3f s, processor time %.3f s\n", Seconds(start),
                CpuSeconds() - cpuStart);
}

} // namespace

int main(int argc, char** argv) {
    const int semrushRows = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int listRows = argc > 2 ? std::atoi(argv[2]) : 1000000;
    bench::OffscreenEnvironment offscreen;
    QApplication app(argc, argv);
    app::QtTextWidth measure(app::GridFont());
    try {
        Run("Semrush export", SemrushFile(semrushRows), measure, 0.5);
        Run("Plain list", PlainList(listRows), measure, 5.0);
        RunInWindow(SemrushFile(semrushRows));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
