#include "bench/BenchSupport.h"

#include "retrieval/Parsing.h"

#include <chrono>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace bench {

std::string GenerateSeokicksAnswer(int records) {
    static const char* const kAnchors[] = {"Gartenmöbel günstig kaufen",
                                           "hier",
                                           "www.beispiel-shop.example",
                                           "Zum Anbieter",
                                           "Ratgeber: Terrassenplatten richtig verlegen",
                                           "Beispiel Shop",
                                           "mehr erfahren",
                                           "Lounge-Möbel für draußen – Übersicht & Preise",
                                           "",
                                           "Quelle"};
    static const char* const kTargets[] = {
        "https://www.beispiel-shop.example/", "https://www.beispiel-shop.example/gartenmoebel/",
        "https://www.beispiel-shop.example/ratgeber/terrasse-anlegen.html",
        "https://www.beispiel-shop.example/lounge/sofa-set-malaga-4-teilig.html?ref=blog&amp;utm=1",
        "https://www.beispiel-shop.example/kontakt"};
    static const char* const kHosts[] = {"blog", "www", "forum", "news", "magazin", "shop"};
    static const char* const kTlds[] = {".example", ".example.org", ".example.net", ".test"};
    static const char* const kTypes[] = {"text", "text", "text", "image", "redirect"};

    std::mt19937 rng(20240601);
    const auto pick = [&rng](auto& list) {
        return list[std::uniform_int_distribution<std::size_t>(0, std::size(list) - 1)(rng)];
    };
    const auto number = [&rng](unsigned below) { return std::to_string(rng() % below); };
    std::string out;
    out.reserve(static_cast<std::size_t>(records) * 640 + 512);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<inlinkdata>\n  <overview>\n    <query>";
    out += kDomain;
    out += "</query>\n    <details>2</details>\n    <results>" + std::to_string(records) +
           "</results>\n    <page>1</page>\n    <totalinlinks>" + std::to_string(records * 3) +
           "</totalinlinks>\n    <totaldomains>" + std::to_string(records / 4) +
           "</totaldomains>\n  </overview>\n  <inlinks>\n";
    for (int i = 0; i < records; ++i) {
        const std::string host = std::string(pick(kHosts)) + ".seite-" + number(40000) + pick(kTlds);
        out += "    <inlink>\n      <url>http://" + host + "/" + std::to_string(2010 + rng() % 15) + "/" +
               std::to_string(1 + rng() % 12) + "/beitrag-" + number(100000) + "-garten-und-terrasse.html";
        out += "</url>\n      <anchortext><![CDATA[";
        out += pick(kAnchors);
        out += "]]></anchortext>\n      <follow>";
        out += (rng() % 5 == 0) ? "0" : "1";
        out += "</follow>\n      <linktype>";
        out += pick(kTypes);
        out += "</linktype>\n      <target>";
        out += pick(kTargets);
        out += "</target>\n      <domainpop>" + number(5000) +
               "</domainpop>\n      <pagetitle><![CDATA[Beitrag " + std::to_string(i) + " auf " + host +
               " – Garten, Haus und Terrasse]]></pagetitle>\n      <ip>203.0." + number(256) + "." +
               number(256) + "</ip>\n      <firstseen>20" + std::to_string(10 + rng() % 15) + "-0" +
               std::to_string(1 + rng() % 9) + "-1" + number(10) + "</firstseen>\n    </inlink>\n";
    }
    out += "  </inlinks>\n</inlinkdata>\n";
    return out;
}

PipelineTimes RunPipeline(const std::string& answer, table::BacklinkTable& table) {
    using Clock = std::chrono::steady_clock;
    const auto since = [](Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    PipelineTimes times;
    const auto total = Clock::now();
    auto start = Clock::now();
    const std::string split = retrieval::SplitTags(answer);
    times.splitTags = since(start);

    start = Clock::now();
    const std::vector<std::string_view> lines = retrieval::Lines(split);
    times.lines = since(start);

    start = Clock::now();
    std::vector<retrieval::Record> records = retrieval::ExtractRecords(lines, retrieval::Service::Seokicks);
    times.extractRecords = since(start);

    start = Clock::now();
    table.ResetWithHeaders(retrieval::Headers(retrieval::Service::Seokicks));
    times.resetWithHeaders = since(start);

    start = Clock::now();
    // The Check command has no use for a record once it is in the table.
    for (retrieval::Record& record : records) {
        table.AppendRecord(std::move(record));
        table.FitColumnWidths(40);
    }
    times.appendAndFit = since(start);
    times.total = since(total);
    times.lineCount = lines.size();
    times.recordCount = records.size();
    return times;
}

double PeakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // KiB on Linux
}

OffscreenEnvironment::OffscreenEnvironment() {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string dir = "/tmp/qh-bench-runtime-XXXXXX";
    if (mkdtemp(dir.data()) != nullptr) {
        chmod(dir.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        runtimeDir_ = dir;
    }
}

OffscreenEnvironment::~OffscreenEnvironment() {
    if (!runtimeDir_.empty())
        rmdir(runtimeDir_.c_str());
}

} // namespace bench
