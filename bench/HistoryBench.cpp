// What the run history costs: the time it adds to a Check of 100,000 records, the comparison of
// two 100,000-row Prüfe runs, and the size of the file after a year of weekly Prüfe runs of
// 10,000 links. Works in a temporary folder; no window, no network.
// Usage: bench_history [records, 100000] [weekly rows, 10000] [weeks, 52]
#include "storage/Changes.h"
#include "storage/History.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <time.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const std::string kKey = "beispiel-shop.example";

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time of this process, which leaves out what other processes of a busy machine take.
double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string LinkUrl(int i) {
    return "https://blog-" + std::to_string(i % 7919) + ".example.com/2025/" + std::to_string(i % 12 + 1) +
           "/artikel-" + std::to_string(i) + ".html";
}

// A fetched page with one or two links, as most rows of a Prüfe are.
storage::PageRow PageRow(int i) {
    storage::PageRow row;
    row.url = LinkUrl(i);
    row.key = row.url; // already as the URL standard writes it
    row.status = "gefunden";
    row.httpStatus = 200;
    row.finalUrl = row.url;
    row.linkCount = 1 + i % 2;
    row.followCount = i % 5 == 0 ? 0 : *row.linkCount;
    row.rel = *row.followCount > 0 ? "follow" : "nofollow";
    row.anchor = "Beispiel Shop Angebot " + std::to_string(i % 97);
    row.target = "https://beispiel-shop.example/produkte/" + std::to_string(i % 53) + "/";
    return row;
}

storage::PageRow FailedRow(const std::string& url, std::int64_t httpStatus, const char* reason) {
    storage::PageRow row;
    row.url = row.key = url;
    row.status = "Fehler";
    row.httpStatus = httpStatus;
    row.reason = reason;
    return row;
}

// The next week: a few links lost, turned nofollow, blocked, gone, pages down, new ones listed.
std::vector<storage::PageRow> NextWeek(std::vector<storage::PageRow> rows, int base) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        storage::PageRow& row = rows[i];
        switch (i % 100) {
        case 1:
        case 2:
            row.linkCount = 0;
            row.followCount = 0;
            row.status = "nicht gefunden";
            row.rel = row.anchor = row.target = "";
            break;
        case 3:
            row.followCount = 0;
            row.rel = "nofollow";
            break;
        case 4:
            row = FailedRow(row.url, 403, "HTTP-Status 403");
            break;
        case 5:
            row = FailedRow(row.url, 0, "Zeitüberschreitung");
            break;
        case 6:
            row = PageRow(base + static_cast<int>(i)); // a new record in place of one no longer listed
            break;
        default:
            break;
        }
    }
    return rows;
}

std::unique_ptr<storage::History> Open(const std::string& folder) {
    storage::History::Opened opened = storage::History::Open(folder);
    if (!opened.history) {
        std::fprintf(stderr, "history: %s\n", opened.fault.reason.c_str());
        std::exit(1);
    }
    return std::move(opened.history);
}

void Check(const storage::Fault& fault) {
    if (fault) {
        std::fprintf(stderr, "history: %s\n", fault.reason.c_str());
        std::exit(1);
    }
}

// As the Prüfe stores: in batches of 50.
std::int64_t StoreCrossCheck(storage::History& h, const std::vector<storage::PageRow>& rows, std::time_t when) {
    const auto run = h.BeginCrossCheck(when, kKey, kKey);
    Check(run.fault);
    for (std::size_t first = 0; first < rows.size(); first += 50) {
        const std::vector<storage::PageRow> batch(rows.begin() + static_cast<std::ptrdiff_t>(first),
                                                  rows.begin() + static_cast<std::ptrdiff_t>(std::min(first + 50, rows.size())));
        Check(h.AddCrossRows(run.value, static_cast<std::int64_t>(first), batch));
    }
    return run.value;
}

std::string TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "qh-bench-history-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        std::exit(1);
    return pattern + "/";
}

} // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int weeklyRows = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int weeks = argc > 3 ? std::atoi(argv[3]) : 52;
    if (records <= 0 || weeklyRows <= 0 || weeks <= 0) {
        std::fprintf(stderr, "usage: %s [records] [weekly rows] [weeks]\n", argv[0]);
        return 2;
    }

    // 1. A Check: the file opened (with its quick check) and the run stored in one transaction.
    {
        const std::string folder = TempFolder();
        storage::CheckRun run;
        run.domain = run.domainKey = kKey;
        run.service = "SEOkicks";
        run.limit = std::to_string(records);
        run.headers = {"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"};
        for (int i = 0; i < records; ++i)
            run.rows.push_back({std::to_string(i + 2), LinkUrl(i), "Beispiel Shop Angebot " + std::to_string(i % 97),
                                i % 5 == 0 ? "0" : "1", "https://beispiel-shop.example/"});
        for (const char* which : {"first Check (new file)", "second Check (addresses known)"}) {
            const auto start = Clock::now();
            const double cpu = CpuSeconds();
            auto h = Open(folder);
            const double opened = Seconds(start);
            Check(h->StoreCheck(run));
            const double stored = Seconds(start);
            h.reset();
            std::printf("%-34s %7d records: %.3f s, processor %.3f s   (target 0.3 s)\n", which, records,
                        Seconds(start), CpuSeconds() - cpu);
            std::printf("  opened %.3f s, stored %.3f s, closed %.3f s\n", opened, stored - opened,
                        Seconds(start) - stored);
        }
        fs::remove_all(folder);
    }

    // 2. Two Prüfe runs of `records` rows: what the end of the second one adds (finish, base, compare).
    {
        const std::string folder = TempFolder();
        auto h = Open(folder);
        std::vector<storage::PageRow> first;
        for (int i = 0; i < records; ++i)
            first.push_back(PageRow(i));
        const std::int64_t one = StoreCrossCheck(*h, first, 1000);
        Check(h->FinishCrossCheck(one));
        const std::vector<storage::PageRow> second = NextWeek(first, records);
        const std::int64_t two = StoreCrossCheck(*h, second, 2000);

        auto start = Clock::now();
        Check(h->FinishCrossCheck(two));
        const double finished = Seconds(start);
        // Repeated, since other processes of a busy machine make single figures jump.
        std::vector<double> times;
        std::string summary;
        for (int i = 0; i < 5; ++i) {
            start = Clock::now();
            const auto base = h->LoadBase(kKey, two);
            Check(base.fault);
            const storage::Comparison c = storage::Compare(second, base.value);
            times.push_back(finished + Seconds(start));
            summary = storage::SummaryLine(c);
        }
        const double firstTime = times.front();
        std::sort(times.begin(), times.end());
        std::printf("comparison of two runs   %7d rows:    first %.3f s, best %.3f s, median %.3f s   (target 0.2 s)\n",
                    records, firstTime, times.front(), times[times.size() / 2]);
        std::printf("  %s\n", summary.c_str());
        h.reset();
        fs::remove_all(folder);
    }

    // 3. A year of weekly Prüfe runs.
    {
        const std::string folder = TempFolder();
        auto h = Open(folder);
        std::vector<storage::PageRow> rows;
        for (int i = 0; i < weeklyRows; ++i)
            rows.push_back(PageRow(i));
        auto start = Clock::now();
        for (int week = 0; week < weeks; ++week) {
            Check(h->FinishCrossCheck(StoreCrossCheck(*h, rows, 1000 + week * 604800)));
            rows = NextWeek(std::move(rows), weeklyRows * (week + 1));
        }
        const double stored = Seconds(start);
        h.reset();
        const double mib = static_cast<double>(fs::file_size(storage::HistoryPath(folder))) / (1024.0 * 1024.0);
        std::printf("file after %d weekly runs of %d rows: %.1f MiB (target 64 MiB), stored in %.1f s\n", weeks,
                    weeklyRows, mib, stored);
        // Every command opens the file; the first in a program run also checks it.
        start = Clock::now();
        h = Open(folder);
        std::printf("  opened in %.3f s", Seconds(start));
        h.reset();
        const std::string copy = TempFolder();
        fs::copy_file(storage::HistoryPath(folder), storage::HistoryPath(copy));
        start = Clock::now();
        h = Open(copy);
        std::printf(", the first time in a program run (quick check) in %.3f s\n", Seconds(start));
        h.reset();
        fs::remove_all(copy);
        fs::remove_all(folder);
    }
    return 0;
}
