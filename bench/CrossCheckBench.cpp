// Times "Prüfe" through the window on linking pages served from 127.0.0.1: the real paced wait of
// one second per row, the curl page fetcher, decoding and the domain test, the caption and the
// reports. Prints the time beyond the mandated waits and the memory at 10 rows and at the end.
// Runs offscreen; prints figures only. Usage: bench_crosscheck [rows, 50] [page KiB, 64]
#include "app/QtToolkit.h"
#include "app/Unit1.h"
#include "bench/BenchSupport.h"
#include "table/BacklinkTable.h"
#include "tests/support/LoopbackServer.h"

#include <QApplication>
#include <QComboBox>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::PeakRssMiB;

using Clock = std::chrono::steady_clock;

double CurrentRssMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// An ordinary article page; every third one no longer mentions the domain.
std::string MakePage(int index, std::size_t bytes) {
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Beitrag " +
                       std::to_string(index) + "</title></head><body>\n";
    const std::string paragraph = "<p>Gartenmöbel, Terrassenplatten und Ratgeber rund ums Haus – "
                                  "Beitrag " +
                                  std::to_string(index) + ".</p>\n";
    while (page.size() + paragraph.size() < bytes)
        page += paragraph;
    if (index % 3 != 0)
        page += "<a href=\"https://beispiel-shop.example/\">Beispiel Shop</a>\n";
    return page + "</body></html>\n";
}

struct Sample {
    double seconds = 0;
    double rssMiB = 0;
    double peakMiB = 0;
};

} // namespace

int main(int argc, char** argv) {
    const bench::OffscreenEnvironment offscreen;
    QApplication application(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 50;
    const int pageKiB = argc > 2 ? std::atoi(argv[2]) : 64;
    if (rows < 1 || pageKiB < 1) {
        std::fprintf(stderr, "usage: bench_crosscheck [rows >= 1] [page KiB >= 1]\n");
        return 2;
    }

    testsupport::LoopbackServer server;
    std::vector<std::string> urls;
    for (int i = 0; i < rows; ++i) {
        const std::string path = "/artikel/" + std::to_string(i) + ".html";
        const std::string body = MakePage(i, static_cast<std::size_t>(pageKiB) * 1024);
        server.handle(path, [body](const testsupport::Request&) {
            testsupport::Response r;
            r.body = body;
            r.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
            return r;
        });
        urls.push_back(server.baseUrl() + path);
    }

    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    int boxes = 0;
    app::QtMessageBox::setHook([&boxes](app::QtMessageBox::Kind, const std::string&) { ++boxes; });
    {
        app::TForm1 form(folder.path().toStdString() + "/");
        form.Domainname->setEditText(QStringLiteral("beispiel-shop.example"));
        table::BacklinkTable& table = form.table();
        table.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"});
        for (const std::string& url : urls)
            table.AppendRecord({url, "Beispiel Shop", "1", "https://beispiel-shop.example/"});
        form.show();

        // The caption changes right after each row's wait: a sample per row.
        std::vector<Sample> samples;
        const auto start = Clock::now();
        QObject::connect(&form, &QWidget::windowTitleChanged, [&](const QString&) {
            samples.push_back(
                {std::chrono::duration<double>(Clock::now() - start).count(), CurrentRssMiB(), PeakRssMiB()});
        });
        const double rssBefore = CurrentRssMiB();
        form.Button3Click();
        const double total = std::chrono::duration<double>(Clock::now() - start).count();

        int found = 0;
        int notFound = 0;
        int failed = 0;
        for (int r = 2; r < table.RowCount(); ++r) {
            const std::string& status = table.GetCell(table.ColCount() - 1, r);
            found += status == "gefunden";
            notFound += status == "nicht gefunden";
            failed += status == "Fehler";
        }
        if (static_cast<int>(samples.size()) != rows + 1 || failed != 0 || boxes != 1) {
            std::fprintf(stderr, "unexpected run: %zu captions, %d failures, %d boxes\n", samples.size(),
                         failed, boxes);
            return 1;
        }

        const double mandated = rows * 1.0;
        const double overhead = total - mandated;
        double worstRow = 0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(rows); ++i) {
            const double previous = i == 0 ? 0.0 : samples[i - 1].seconds;
            worstRow = std::max(worstRow, samples[i].seconds - previous - 1.0);
        }
        const Sample& at10 = samples[static_cast<std::size_t>(std::min(rows, 10) - 1)];
        const Sample& atEnd = samples[static_cast<std::size_t>(rows - 1)];

        std::printf("cross-check of %d loopback pages of %d KiB: %d gefunden, %d nicht gefunden\n", rows,
                    pageKiB, found, notFound);
        std::printf("total                 %9.3f s   (mandated waits %.0f s; limit 1.01 x = %.2f s) %s\n",
                    total, mandated, 1.01 * mandated, total <= 1.01 * mandated ? "ok" : "OVER");
        std::printf("overhead beyond waits %9.1f ms  (%.2f ms per row; target <= 10) %s\n", overhead * 1000,
                    overhead * 1000 / rows, overhead * 1000 / rows <= 10 ? "ok" : "OVER");
        std::printf("worst single row      %9.1f ms beyond its wait\n", worstRow * 1000);
        std::printf("reports and caption   %9.1f ms after the last row\n",
                    (total - samples[static_cast<std::size_t>(rows - 1)].seconds) * 1000);
        std::printf("RSS before            %9.1f MiB\n", rssBefore);
        if (rows > 10)
            std::printf("RSS at row 10         %9.1f MiB  (peak %.1f MiB)\n", at10.rssMiB, at10.peakMiB);
        std::printf("RSS at row %-3d        %9.1f MiB  (peak %.1f MiB)\n", rows, atEnd.rssMiB, atEnd.peakMiB);
        if (rows > 10)
            std::printf("RSS growth per row    %9.1f KiB (rows 10..%d)\n",
                        (atEnd.rssMiB - at10.rssMiB) * 1024 / (rows - 10), rows);
    }
    app::QtMessageBox::setHook(nullptr);
    return 0;
}
