// Times "Prüfe" through the window on linking pages served from 127.0.0.1: the real paced wait of
// one second per row, the curl page fetcher, decoding, the domain test, the link check, the caption
// and the reports. Prints the time beyond the mandated waits and the memory at 10 rows and at the
// end. Then pages at the 16 MiB cap: two rows through the window, and the link check alone on an
// ordinary and on hostile pages (time, outcome, parser memory, peak memory growth).
// Then pages whose link only a script sets: what the headless browser adds to each such row.
// Last, the worker process that checks the pages: its round trip beyond the parse for a 64 KiB page,
// and a crash-and-replace cycle. This program is its own worker (a page can ask it to crash).
// Runs offscreen; prints figures only. Usage: bench_crosscheck [rows, 50] [page KiB, 64]
//
// bench_crosscheck --parallel [pages at N = 1, 100]: 1,000 pages over 250 host names, each answer
// 200 ms late, fetched with "Gleichzeitige Abrufe" 8, and the first pages again with 1 (1,000 at
// one a time would take 20 minutes; the speed-up compares the time per page). Every host name is
// served by a loopback server that is the process's HTTP proxy, so nothing leaves 127.0.0.1.
//
// bench_crosscheck --extra: what robots.txt and the second pass add to a "Prüfe" of 100 pages over
// 10 host names (ten neighbouring rows each), one at a time and four at once. The same run three
// times: no page needs either; the first page of each host links to the domain (ten robots.txt
// requests); the first page of each host fails once with 503 (ten pages fetched again at the end).
// Pages answer at once, through the same loopback proxy.
#include "app/QtToolkit.h"
#include "app/Unit1.h"
#include "bench/BenchSupport.h"
#include "retrieval/http/PageFetch.h"
#include "retrieval/page/Challenge.h"
#include "retrieval/page/LinkFinder.h"
#include "retrieval/page/Refresh.h"
#include "retrieval/render/PageRenderer.h"
#include "retrieval/sandbox/LinkWorker.h"
#include "table/BacklinkTable.h"
#include "tests/support/LoopbackServer.h"

#include <QApplication>
#include <QComboBox>
#include <QSpinBox>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <malloc.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>
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

// The process's peak resident memory since the last reset (VmHWM), in MiB.
double HighWaterMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    return 0;
}

void ResetHighWater() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::string Fill(std::string page, const std::string& unit, std::size_t bytes, const std::string& tail = {}) {
    page.reserve(bytes);
    while (page.size() + unit.size() + tail.size() <= bytes)
        page += unit;
    return page + tail;
}

// The link check alone on an ordinary page of 64 KiB and on pages at the cap, each built just
// before it is read.
void HostilePages() {
    const std::size_t cap = retrieval::kPageMaxBytes;
    const std::string link = "<a href=\"https://beispiel-shop.example/\">Beispiel Shop</a>";
    const struct {
        const char* name;
        std::function<std::string()> make;
    } pages[] = {
        {"article, 64 KiB", [&] { return MakePage(1, 64 * 1024); }},
        {"ordinary article", [&] { return MakePage(1, cap - 200); }},
        {"1 million links", [&] { return Fill("<body>", "<a href=/x>y</a>", cap - link.size()) + link; }},
        {"nested <div>", [&] { return Fill("<body>", "<div>", cap - link.size()) + link; }},
        {"nested <span>", [&] { return Fill("<body>", "<span>", cap - link.size()) + link; }},
        {"1 MiB attributes",
         [&] {
             return Fill("<body>", "<p title=\"" + std::string(1 << 20, 'x') + "\">", cap - link.size()) +
                    link;
         }},
        {"NUL bytes", [&] { return Fill("<body>", std::string("a\0<\0b", 5), cap - link.size()) + link; }},
        {"broken markup",
         [&] { return Fill("<body>", "<a href='x <td><tr </table><!-- ", cap - link.size()) + link; }},
        {"12 MiB text node", [&] { return "<body>" + std::string(12 << 20, 'x'); }},
        // The same text in 100 links, each opened inside the one before (as <object> allows).
        {"100 nested links",
         [&] {
             std::string page = "<body>";
             for (int i = 0; i < 100; ++i)
                 page += "<a href=\"https://beispiel-shop.example/\"><object>";
             return page + std::string(12 << 20, 'x');
         }},
    };
    std::printf("\nlink check alone, pages of %zu MiB unless named (limits: %zu links, %zu MiB parser "
                "memory, %lld ms cpu)\n",
                cap >> 20, retrieval::LinkLimits().maxLinksExamined,
                retrieval::LinkLimits().maxParserBytes >> 20,
                static_cast<long long>(retrieval::LinkLimits().maxParseTime.count()));
    std::printf("%-18s %9s %9s  %-11s %7s %9s %11s %12s\n", "page", "time", "cpu", "outcome", "links",
                "examined", "parser MiB", "peak growth");
    const char* outcomes[] = {"complete",  "cap reached", "too large", "too slow",    "stopped",    "no domain",
                              "on domain", "failed",      "crashed",   "timed out", "out of memory", "no worker"};
    for (const auto& page : pages) {
        const std::string text = page.make();
        malloc_trim(0); // what earlier pages freed must not hide this one's growth
        const double before = CurrentRssMiB();
        ResetHighWater();
        const auto start = Clock::now();
        const std::clock_t cpuStart = std::clock();
        const retrieval::LinkVerdict v =
            retrieval::FindLinks(text, "https://blog.example/artikel/1.html", {}, bench::kDomain);
        const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("%-18s %7.3f s %7.3f s  %-11s %7zu %9zu %11.1f %8.1f MiB\n", page.name, seconds, cpu,
                    outcomes[static_cast<int>(v.scan)], v.linkCount, v.examined,
                    static_cast<double>(v.parserPeakBytes) / (1 << 20), HighWaterMiB() - before);
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Two linking pages at the cap through the window: what each row costs beyond its wait.
int CapSizedRows(const std::string& folderPath) {
    testsupport::LoopbackServer server;
    const std::string body = MakePage(1, retrieval::kPageMaxBytes - 200); // with its tail at most the cap
    std::vector<std::string> urls;
    for (int i = 0; i < 2; ++i) {
        const std::string path = "/gross/" + std::to_string(i) + ".html";
        server.handle(path, [&body](const testsupport::Request&) {
            testsupport::Response r;
            r.body = body;
            r.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
            return r;
        });
        urls.push_back(server.baseUrl() + path);
    }
    app::TForm1 form(folderPath);
    form.Domainname->setEditText(QString::fromLatin1(bench::kDomain));
    table::BacklinkTable& table = form.table();
    table.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"});
    for (const std::string& url : urls)
        table.AppendRecord({url, "Beispiel Shop", "1", "https://beispiel-shop.example/"});
    form.show();
    std::vector<double> captions;
    const auto start = Clock::now();
    QObject::connect(&form, &QWidget::windowTitleChanged, [&](const QString&) {
        captions.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    });
    malloc_trim(0);
    const double before = CurrentRssMiB();
    ResetHighWater();
    form.Button3Click();
    const std::string note = table.GetCellNote(table.ColCount() - 1, 2);
    if (captions.size() != 3 || table.GetCell(table.ColCount() - 1, 2) != "gefunden") {
        std::fprintf(stderr, "unexpected run with pages at the cap: %zu captions\n", captions.size());
        return 1;
    }
    std::printf("\n%zu MiB pages through the window (2 rows)\n", retrieval::kPageMaxBytes >> 20);
    std::printf("row 1 beyond its wait %9.1f ms\n", (captions[0] - 1.0) * 1000);
    std::printf("row 2 beyond its wait %9.1f ms\n", (captions[1] - captions[0] - 1.0) * 1000);
    std::printf("peak memory growth    %9.1f MiB\n", HighWaterMiB() - before);
    std::printf("note of row 1         %s\n", note.c_str());
    return 0;
}

void CrashOnRequest(std::string& page) {
    if (page.starts_with("<!--crash-->")) {
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
}

// The worker's cost: the same 64 KiB page checked in this process and through the worker, and a
// page that crashes the worker followed by one that a new worker checks.
int WorkerFigures() {
    const std::string page = MakePage(1, 64 * 1024);
    const char* url = "https://blog.example/artikel/1.html";
    constexpr int kRounds = 200;
    const auto time = [](const std::function<void()>& run) {
        const auto start = Clock::now();
        run();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    retrieval::WorkerLinkChecker worker("/proc/self/exe");
    if (worker.sandbox() == retrieval::SandboxState::Unavailable) {
        std::fprintf(stderr, "no worker starts\n");
        return 1;
    }
    std::vector<double> inProcess;
    std::vector<double> roundTrip;
    for (int i = 0; i < kRounds; ++i) {
        inProcess.push_back(time([&] { retrieval::FindLinks(page, url, {}, bench::kDomain); }));
        roundTrip.push_back(time([&] { worker.check(page, url, {}, bench::kDomain, nullptr); }));
    }
    std::vector<double> crash;
    std::vector<double> replaced;
    for (int i = 0; i < 20; ++i) {
        retrieval::LinkScan scan{};
        crash.push_back(time([&] { scan = worker.check("<!--crash-->", url, {}, bench::kDomain, nullptr).scan; }));
        replaced.push_back(time([&] { worker.check(page, url, {}, bench::kDomain, nullptr); }));
        if (scan != retrieval::LinkScan::WorkerCrashed) {
            std::fprintf(stderr, "the worker did not crash\n");
            return 1;
        }
    }
    const double overhead = Median(roundTrip) - Median(inProcess);
    const double cycle = Median(crash) + Median(replaced) - Median(roundTrip);
    std::printf("\nworker process (%s), medians of %d pages of 64 KiB\n",
                worker.sandbox() == retrieval::SandboxState::Seccomp ? "seccomp" : "resource limits only", kRounds);
    std::printf("check in this process %9.2f ms\n", Median(inProcess));
    std::printf("check in the worker   %9.2f ms\n", Median(roundTrip));
    std::printf("round trip overhead   %9.2f ms  (target <= 2) %s\n", overhead, overhead <= 2 ? "ok" : "OVER");
    std::printf("crash noticed, reaped %9.2f ms\n", Median(crash));
    std::printf("next page, new worker %9.2f ms\n", Median(replaced));
    std::printf("crash-and-replace     %9.2f ms  (beyond a normal round trip; target <= 50) %s\n", cycle,
                cycle <= 50 ? "ok" : "OVER");
    return 0;
}

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct ParallelRun {
    double seconds = 0;
    double windowCpuMsPerPage = 0; // the window thread: transfers, decoding, table, caption, reports
    double rssAtTenthMiB = 0;
    double rssEndMiB = 0;
    int found = 0;
    int failed = 0;
};

// "Prüfe" through the window over the first `pages` addresses with `parallel` fetches at once.
ParallelRun RunParallel(const std::string& folder, const std::vector<std::string>& urls, int pages,
                        int parallel) {
    app::TForm1 form(folder);
    form.Domainname->setEditText(QString::fromLatin1(bench::kDomain));
    form.GleichzeitigeAbrufe->setValue(parallel);
    table::BacklinkTable& table = form.table();
    table.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"});
    for (int i = 0; i < pages; ++i)
        table.AppendRecord({urls[static_cast<std::size_t>(i)], "Beispiel Shop", "1", "https://beispiel-shop.example/"});
    form.show();
    ParallelRun run;
    int captions = 0;
    QObject::connect(&form, &QWidget::windowTitleChanged, [&](const QString&) {
        if (++captions == pages / 10)
            run.rssAtTenthMiB = CurrentRssMiB();
    });
    const double cpuStart = ThreadCpuMs();
    const auto start = Clock::now();
    form.Button3Click();
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.windowCpuMsPerPage = (ThreadCpuMs() - cpuStart) / pages;
    run.rssEndMiB = CurrentRssMiB();
    for (int r = 2; r < table.RowCount(); ++r) {
        run.found += table.GetCell(table.ColCount() - 1, r) == "gefunden";
        run.failed += table.GetCell(table.ColCount() - 1, r) == "Fehler";
    }
    return run;
}

int ExtraTimes() {
    constexpr int kPages = 100;
    constexpr int kPerHost = 10;
    enum Variant { kPlain, kRobots, kRetry };
    testsupport::LoopbackServer server;
    std::mutex mutex;
    Variant variant = kPlain;
    std::map<std::string, int> asked; // requests per path in the current run
    const auto page = [](const char* body) {
        testsupport::Response r;
        r.body = body;
        r.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
        return r;
    };
    std::vector<std::string> urls;
    for (int i = 0; i < kPages; ++i) {
        const std::string path = "/seite/" + std::to_string(i) + ".html";
        urls.push_back("http://h" + std::to_string(i / kPerHost) + ".example" + path);
        const bool firstOfHost = i % kPerHost == 0;
        server.handle(path, [&, path, firstOfHost](const testsupport::Request&) {
            std::lock_guard lock(mutex);
            const int n = ++asked[path];
            if (firstOfHost && variant == kRetry && n == 1)
                return testsupport::Response::Text("Wartung", 503);
            return page(
                firstOfHost && variant == kRobots
                    ? "<html><body><a href=\"https://beispiel-shop.example/\">Beispiel Shop</a></body></html>"
                    : "<html><body><p>Ratgeber</p></body></html>");
        });
    }
    server.handle("/robots.txt", [&](const testsupport::Request&) {
        std::lock_guard lock(mutex);
        ++asked["/robots.txt"];
        return testsupport::Response::Text("User-agent: *\nDisallow: /privat/\n");
    });
    ::setenv("http_proxy", server.baseUrl().c_str(), 1);
    ::unsetenv("HTTP_PROXY");

    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    app::QtMessageBox::setHook([](app::QtMessageBox::Kind, const std::string&) {});
    std::printf(
        "%d pages over %d host names, answered at once; 10 need a robots.txt, or fail once with 503\n",
        kPages, kPages / kPerHost);
    for (const int parallel : {1, 4}) {
        double seconds[3] = {};
        for (const Variant v : {kPlain, kRobots, kRetry}) {
            {
                std::lock_guard lock(mutex);
                variant = v;
                asked.clear();
            }
            const ParallelRun run = RunParallel(folder.path().toStdString() + "/", urls, kPages, parallel);
            seconds[v] = run.seconds;
            int pages = 0;
            for (const auto& [path, n] : asked)
                pages += path == "/robots.txt" ? 0 : n;
            const int robots = asked.count("/robots.txt") ? asked.at("/robots.txt") : 0;
            if (run.failed != 0 || run.found != (v == kRobots ? 10 : 0) ||
                robots != (v == kRobots ? 10 : 0) || pages != kPages + (v == kRetry ? 10 : 0)) {
                std::fprintf(stderr, "unexpected run: %d found, %d failed, %d pages, %d robots.txt\n",
                             run.found, run.failed, pages, robots);
                app::QtMessageBox::setHook(nullptr);
                return 1;
            }
        }
        std::printf("N=%d: none %.1f s; robots.txt %.1f s (+%.1f s, %.2f s per file); second pass %.1f s "
                    "(+%.1f s, %.2f s per page)\n",
                    parallel, seconds[kPlain], seconds[kRobots], seconds[kRobots] - seconds[kPlain],
                    (seconds[kRobots] - seconds[kPlain]) / 10, seconds[kRetry],
                    seconds[kRetry] - seconds[kPlain], (seconds[kRetry] - seconds[kPlain]) / 10);
    }
    app::QtMessageBox::setHook(nullptr);
    std::printf(
        "One at a time a robots.txt costs its request and the second its host then waits before its next "
        "page;\na page fetched again costs its fetch and its own second of waiting. Four at a time other "
        "hosts fill\nthose seconds, as far as the per-host rule lets them.\n");
    return 0;
}

int ParallelComparison(int pagesAtOne) {
    constexpr int kPages = 1000;
    constexpr int kHosts = 250;
    testsupport::LoopbackServer server;
    std::mutex mutex;
    std::map<std::string, std::vector<std::pair<Clock::time_point, Clock::time_point>>> seen; // by host
    std::vector<std::string> urls;
    const std::string body = "<!DOCTYPE html><html><body><p>Ratgeber</p>"
                             "<a href=\"https://beispiel-shop.example/\">Beispiel Shop</a></body></html>\n";
    for (int i = 0; i < kPages; ++i) {
        const std::string path = "/seite/" + std::to_string(i) + ".html";
        // Four neighbouring rows share a host, so that the per-host rule has work to do.
        urls.push_back("http://h" + std::to_string(i / (kPages / kHosts)) + ".example" + path);
        server.handle(path, [&](const testsupport::Request& request) {
            const auto begun = Clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            {
                std::lock_guard lock(mutex);
                seen[request.headers.count("host") ? request.headers.at("host") : ""].emplace_back(begun, Clock::now());
            }
            testsupport::Response r;
            r.body = body;
            r.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
            return r;
        });
    }
    // Every host name goes to the loopback server; nothing is looked up or sent elsewhere.
    ::setenv("http_proxy", server.baseUrl().c_str(), 1);
    ::unsetenv("HTTP_PROXY");

    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    app::QtMessageBox::setHook([](app::QtMessageBox::Kind, const std::string&) {});
    const std::string path = folder.path().toStdString() + "/";
    const ParallelRun eight = RunParallel(path, urls, kPages, 8);
    const ParallelRun one = RunParallel(path, urls, pagesAtOne, 1);
    app::QtMessageBox::setHook(nullptr);

    double smallestGapMs = 1e9;
    std::size_t requests = 0;
    for (auto& [host, times] : seen) {
        std::sort(times.begin(), times.end());
        requests += times.size();
        for (std::size_t i = 1; i < times.size(); ++i)
            smallestGapMs = std::min(
                smallestGapMs, std::chrono::duration<double, std::milli>(times[i].first - times[i - 1].second).count());
    }
    if (eight.found != kPages || one.found != pagesAtOne ||
        requests != static_cast<std::size_t>(kPages + pagesAtOne) || seen.size() != kHosts) {
        std::fprintf(stderr, "unexpected run: %d and %d found, %zu requests, %zu hosts\n", eight.found, one.found,
                     requests, seen.size());
        return 1;
    }
    const double perPageOne = one.seconds / pagesAtOne;
    const double perPageEight = eight.seconds / kPages;
    std::printf("%d pages over %d host names, answers 200 ms late\n", kPages, kHosts);
    std::printf("N=8: %d pages in %8.1f s  (%.3f s a page)\n", kPages, eight.seconds, perPageEight);
    std::printf("N=1: %d pages in %8.1f s  (%.3f s a page; %d pages: %.0f s)\n", pagesAtOne, one.seconds,
                perPageOne, kPages, perPageOne * kPages);
    std::printf("window thread cpu per page, N=8: %.2f ms (limit 3), N=1: %.2f ms\n", eight.windowCpuMsPerPage,
                one.windowCpuMsPerPage);
    std::printf("RSS N=8 at page %d: %.1f MiB, at the end: %.1f MiB\n", kPages / 10, eight.rssAtTenthMiB,
                eight.rssEndMiB);
    std::printf("parallel speed-up N=8 vs N=1: %.2fx\n", perPageOne / perPageEight);
    std::printf("smallest same-host gap: %.0f ms\n", smallestGapMs);
    return 0;
}

// What the window's own process reads of every page beyond the text search, without parsing it:
// the challenge table's search and the refresh prescan, each bounded to the page's first part.
void ScreeningFigures() {
    std::printf("\nchallenge search and refresh prescan in the window's process, medians of 100 pages\n");
    for (const std::size_t bytes : {std::size_t{64} << 10, retrieval::kPageMaxBytes - 200}) {
        const std::string page = MakePage(1, bytes);
        const retrieval::HeaderList headers = {{"Server", "nginx"}, {"Content-Type", "text/html"}};
        std::vector<double> ms;
        for (int i = 0; i < 100; ++i) {
            const auto start = Clock::now();
            const bool challenge = retrieval::FindChallenge(200, headers, page).has_value();
            const bool forwards =
                retrieval::RefreshTarget("https://blog.example/a", headers, "text/html", page).has_value();
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            if (challenge || forwards)
                std::fprintf(stderr, "unexpected: an ordinary page read as a challenge or a forward\n");
        }
        const double median = Median(ms);
        std::printf("page of %5zu KiB      %9.2f ms  (target <= 2) %s\n", bytes >> 10, median,
                    median <= 2 ? "ok" : "OVER");
    }
}

// Pages whose link only a script sets (after a timer, as late-loading pages do), through the window
// with the browser it finds: each such row against a row whose page has its link in the HTML, and
// the render alone. The first render of each browser object starts it once more to check its sandbox.
int RenderFigures(const std::string& folderPath) {
    const std::unique_ptr<retrieval::PageRenderer> browser = retrieval::FindHeadlessBrowser();
    if (!browser) {
        std::printf(
            "\nno headless browser installed (chromium-headless-shell or chromium): no render figures\n");
        return 0;
    }
    constexpr int kPages = 10;
    const std::string scripted =
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body><p>Beitrag</p><script>"
        "setTimeout(function () { var a = document.createElement('a'); a.href = "
        "'https://beispiel-shop.example/';"
        "a.textContent = 'Beispiel Shop'; document.body.appendChild(a); }, 300);</script></body></html>";
    testsupport::LoopbackServer server;
    std::vector<std::string> plainUrls;
    std::vector<std::string> scriptedUrls;
    for (int i = 0; i < kPages; ++i) {
        for (const bool script : {false, true}) {
            const std::string path = (script ? "/js/" : "/html/") + std::to_string(i) + ".html";
            const std::string body = script ? scripted : MakePage(1, 8 * 1024);
            server.handle(path, [body](const testsupport::Request&) {
                testsupport::Response r;
                r.body = body;
                r.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
                return r;
            });
            (script ? scriptedUrls : plainUrls).push_back(server.baseUrl() + path);
        }
    }

    std::vector<double> alone;
    for (const std::string& url : scriptedUrls) {
        const auto start = Clock::now();
        const retrieval::Rendered page = browser->render({url, {}, retrieval::kRenderLimit}, nullptr);
        alone.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        if (page.end != retrieval::RenderEnd::Complete ||
            page.dom.find("beispiel-shop.example") == std::string::npos) {
            std::fprintf(stderr, "render of %s failed (%d): %s\n", url.c_str(), static_cast<int>(page.end),
                         page.reason.c_str());
            return 1;
        }
    }

    app::TForm1 form(folderPath);
    form.Domainname->setEditText(QString::fromLatin1(bench::kDomain));
    table::BacklinkTable& table = form.table();
    table.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"});
    for (const auto* urls : {&plainUrls, &scriptedUrls})
        for (const std::string& url : *urls)
            table.AppendRecord({url, "Beispiel Shop", "1", "https://beispiel-shop.example/"});
    form.show();
    std::vector<double> captions;
    const auto start = Clock::now();
    QObject::connect(&form, &QWidget::windowTitleChanged, [&](const QString&) {
        captions.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    });
    form.Button3Click();
    const std::int32_t status = table.ColCount() - 1;
    for (int r = 2; r < table.RowCount(); ++r)
        if (table.GetCell(status, r) != "gefunden" ||
            (r >= 2 + kPages &&
             table.GetCellNote(status, r).find("Link per JavaScript gesetzt") == std::string::npos)) {
            std::fprintf(stderr, "unexpected row %d: %s / %s\n", r, table.GetCell(status, r).c_str(),
                         table.GetCellNote(status, r).c_str());
            return 1;
        }
    if (captions.size() != 2 * kPages + 1) {
        std::fprintf(stderr, "unexpected run of scripted pages: %zu captions\n", captions.size());
        return 1;
    }
    std::vector<double> plainRows;
    std::vector<double> added;
    for (std::size_t i = 0; i < 2 * kPages; ++i) {
        const double row = captions[i] - (i == 0 ? 0.0 : captions[i - 1]);
        (i < kPages ? plainRows : added).push_back(row);
    }
    const double plainRow = Median(plainRows);
    for (double& row : added)
        row -= plainRow;
    std::printf(
        "\npages whose link a script sets, %d through the window beside %d with the link in their HTML\n",
        kPages, kPages);
    std::printf("row with its link in the HTML %7.3f s (median, the 1 s wait included)\n", plainRow);
    std::printf("added per rendered row  %7.3f s median, %.3f s worst  (target median <= 3 s) %s\n",
                Median(added), *std::max_element(added.begin(), added.end()),
                Median(added) <= 3.0 ? "ok" : "OVER");
    std::printf("render alone            %7.3f s median, %.3f s worst, %.3f s the first\n", Median(alone),
                *std::max_element(alone.begin(), alone.end()), alone.front());
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    if (const auto worker = retrieval::RunLinkWorkerIfAsked(argc, argv, CrashOnRequest))
        return *worker;
    if (argc > 1 && std::string(argv[1]) == "--extra") {
        const bench::OffscreenEnvironment offscreen;
        QApplication application(argc, argv);
        return ExtraTimes();
    }
    if (argc > 1 && std::string(argv[1]) == "--parallel") {
        const bench::OffscreenEnvironment offscreen;
        QApplication application(argc, argv);
        const int pagesAtOne = argc > 2 ? std::atoi(argv[2]) : 100;
        if (pagesAtOne < 10 || pagesAtOne > 1000) {
            std::fprintf(stderr, "usage: bench_crosscheck --parallel [pages at N=1, 10..1000]\n");
            return 2;
        }
        return ParallelComparison(pagesAtOne);
    }
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
    int rc = CapSizedRows(folder.path().toStdString() + "/");
    if (rc == 0)
        rc = RenderFigures(folder.path().toStdString() + "/");
    app::QtMessageBox::setHook(nullptr);
    if (rc != 0)
        return rc;
    HostilePages();
    ScreeningFigures();
    return WorkerFigures();
}
