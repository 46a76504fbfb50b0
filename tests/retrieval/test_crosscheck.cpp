#include "app/contract/Error.h"
#include "retrieval/CrossCheck.h"
#include "retrieval/PageVerdict.h"
#include "retrieval/Parsing.h"
#include "retrieval/RetryRule.h"
#include "retrieval/SiteRobots.h"
#include "retrieval/http/HttpFetch.h"
#include "storage/Files.h"
#include "storage/History.h"
#include "storage/Reports.h"
#include "tests/storage/StorageTestSupport.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/FakeRenderer.h"

#include <algorithm>
#include <deque>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <regex>
#include <stdexcept>
#include <thread>

using namespace storage_test;
namespace fs = std::filesystem;
using retrieval::FetchedPage;

namespace {

struct CrossCheckHarness : Harness {
    Lines events;                             // every fetch, wait and caption in the order they happen
    std::map<std::string, FetchedPage> pages; // a URL not in here fails like a real client
    // Raised by the first fetches of a URL, one each, before its page is served.
    std::map<std::string, std::deque<std::exception_ptr>> failures;
    retrieval::PageRenderer* renderer = nullptr;
    bool browserOff = false;

    CrossCheckHarness() {
        fields.log = waiter.log = &events;
        fields.domain = "shop.example";
    }

    // A SEOkicks table of these linking pages, each served with `body` unless it is null.
    void SeokicksTable(const Lines& urls, const char* body = nullptr) {
        table.ResetWithHeaders(retrieval::Headers(retrieval::Service::Seokicks));
        for (const std::string& url : urls) {
            table.AppendRecord({url, "Ankertext", "http://shop.example/", "follow"});
            if (body)
                pages[url] = {body, ""};
        }
    }

    FetchedPage Serve(const std::string& what, const std::string& url) {
        events.push_back(what + " " + url);
        if (const auto f = failures.find(url); f != failures.end() && !f->second.empty()) {
            const std::exception_ptr error = f->second.front();
            f->second.pop_front();
            std::rethrow_exception(error);
        }
        const auto it = pages.find(url);
        if (it == pages.end())
            throw toolkit::Error(url.empty() ? "Keine URL angegeben" : "HTTP-Status 404: " + url);
        return it->second;
    }

    void Run() {
        retrieval::CrossCheckSetup setup;
        setup.fetch = [this](const std::string& url) { return Serve("fetch", url); };
        setup.renderer = renderer;
        setup.browserOff = browserOff;
        retrieval::RunCrossCheck(window, setup);
    }

    // With robots.txt, one page at a time.
    retrieval::CrossCheckSetup Setup() {
        retrieval::CrossCheckSetup setup;
        setup.fetch = [this](const std::string& url) { return Serve("fetch", url); };
        setup.robots = [this](const std::string& url) { return Serve("robots", url); };
        setup.renderer = renderer;
        setup.browserOff = browserOff;
        return setup;
    }

    Lines Column(std::int32_t col) const { return table.ColumnText(col); }
    Lines Notes(std::int32_t col) const { return ColumnNotes(table, col); }

    std::string ReportCsv() const {
        const std::string dir = folder / "reporting/backlinks";
        for (const std::string& name : FolderEntries(dir))
            if (name.ends_with(".csv"))
                return ReadBytes(dir + "/" + name);
        ADD_FAILURE() << "no CSV report in " << dir;
        return {};
    }
};

// Pages side by side over the harness's answers: each fetch ends as soon as it is looked for.
struct InstantFetches : retrieval::PageFetches {
    std::function<FetchedPage(const std::string&)> serve;
    std::vector<Ended> ended;

    void start(std::size_t id, const std::string& url) override {
        Ended e{id, {}, {}};
        try {
            e.page = serve(url);
        } catch (...) {
            e.error = std::current_exception();
        }
        ended.push_back(std::move(e));
    }
    std::vector<Ended> takeEnded() override { return std::exchange(ended, {}); }
    std::size_t running() const override { return ended.size(); }
    void wait(std::chrono::milliseconds) override {}
    void stopAll() override { ended.clear(); }
};

// Waits for real, as side by side the seconds are counted on the clock.
struct SleepingWait : toolkit::PacedWaiter {
    void pacedWait(std::int32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

std::exception_ptr TimedOut() {
    retrieval::FetchError e("Abruf fehlgeschlagen: Zeitüberschreitung.", "Zeitüberschreitung");
    e.setTransient(true);
    return std::make_exception_ptr(e);
}

// An error answer as the transport raises it.
std::exception_ptr Answered(long status, std::optional<long> retryAfter = std::nullopt) {
    const bool blocked = status == 403 || status == 429 || status == 503;
    retrieval::FetchError e("Abruf fehlgeschlagen.",
                            (blocked ? "blockiert (HTTP " : "HTTP-Status ") + std::to_string(status) +
                                (blocked ? ")" : ""),
                            status);
    e.setAnswer(status, retryAfter ? std::optional(std::chrono::seconds(*retryAfter)) : std::nullopt);
    return std::make_exception_ptr(e);
}

// An error answer that is a challenge page, as the Prüfe sees it once screened.
std::exception_ptr Challenged(long status) {
    retrieval::FetchError e("Abruf fehlgeschlagen.", "HTTP-Status " + std::to_string(status), status);
    e.setAnswer(status, std::nullopt);
    e.keepAnswer({{"cf-mitigated", "challenge"}}, "<html><title>Just a moment...</title></html>");
    return retrieval::Screened(std::make_exception_ptr(e));
}

const char* const kLinkPage = "<a href=\"http://shop.example/\">";
const std::string kLinked = "Link vorhanden (follow) – ohne Ankertext";

const std::string kTitle = toolkit::kTitleText;
const std::string kDone = "caption " + kTitle + " Gegenprüfung fertig gestellt ... ";
const Lines kAbc{"http://a.example/", "http://b.example/", "http://c.example/"};

} // namespace

TEST(CrossCheck, EachRecordFetchedOnceThenWaitThenCaption) {
    CrossCheckHarness h;
    h.SeokicksTable(kAbc);
    h.pages["http://a.example/"] = {"<a href=\"http://shop.example/\">", "text/html"};
    h.pages["http://b.example/"] = {"nothing here", ""};
    h.Run();

    Lines expected;
    for (const std::string& url : kAbc)
        expected.insert(expected.end(),
                        {"fetch " + url, "wait 1000", "caption " + kTitle + " checke: " + url});
    expected.push_back(kDone);
    EXPECT_EQ(h.events, expected);
    ASSERT_EQ(h.table.ColCount(), 6);
    EXPECT_EQ(h.Column(5), (Lines{"Status", "", "gefunden", "nicht gefunden", "Fehler"}));
    EXPECT_EQ(h.Notes(5), (Lines{"", "", "Link vorhanden (follow) – ohne Ankertext",
                                 "Kein Link auf die Domain", "HTTP-Status 404: http://c.example/"}));
    EXPECT_EQ(h.memo3.count(), 0u) << "Memo3 is emptied before each fetch";
}

TEST(CrossCheck, NoRecordsStillAddsTheColumnAndWritesReports) {
    CrossCheckHarness h;
    h.SeokicksTable({});
    h.Run();
    EXPECT_EQ(h.events, Lines{kDone});
    EXPECT_EQ(h.Column(5), (Lines{"Status", ""}));
    EXPECT_NE(h.ReportCsv().find("Status"), std::string::npos);
    EXPECT_EQ(h.box.messages, Lines{"Report gespeichert"});
}

TEST(CrossCheck, SecondRunAddsSecondStatusColumn) {
    CrossCheckHarness h;
    h.SeokicksTable({"http://a.example/", "http://b.example/"}, "shop.example");
    h.Run();
    h.pages["http://a.example/"] = {"gone", ""};
    h.pages.erase("http://b.example/");
    h.Run();

    ASSERT_EQ(h.table.ColCount(), 7);
    EXPECT_EQ(h.Column(5), (Lines{"Status", "", "gefunden", "gefunden"}));
    EXPECT_EQ(h.Column(6), (Lines{"Status", "", "nicht gefunden", "Fehler"}));
    // The second run is compared with the first: its notes say what changed since then.
    Lines notes = h.Notes(6);
    for (std::string& note : notes)
        note = std::regex_replace(note, std::regex("Seit \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:"), "Seit <Zeit>:");
    EXPECT_EQ(notes, (Lines{"", "", "Kein Link auf die Domain\nSeit <Zeit>: unverändert",
                            "HTTP-Status 404: http://b.example/\nSeit <Zeit>: Seite nicht erreichbar"}));
    const std::string csv = h.ReportCsv();
    EXPECT_NE(csv.find("Status"), csv.rfind("Status")) << csv;
}

// The history never costs the command its reports: a file that cannot be opened is told once
// after them; a damaged one is moved aside, said so, and a fresh history starts.
TEST(CrossCheck, HistoryFaultsAreToldOnceAfterTheReports) {
    const struct {
        const char* name;
        std::function<void(const TempFolder&)> prepare;
        Lines messages, errors;
        bool compared;
    } cases[] = {
        {"folder in the way", [](const TempFolder& f) { fs::create_directory(f / "halmfang.db"); },
         {"Report gespeichert"},
         {"Der Verlauf wurde nicht gespeichert: Die Verlaufsdatei konnte nicht angelegt werden (Ist ein "
          "Verzeichnis)."},
         false},
        {"damaged file", [](const TempFolder& f) { WriteBytes(f / "halmfang.db", std::string(3000, 'x')); },
         {"Report gespeichert", "Die Verlaufsdatei war beschädigt. Sie wurde als halmfang.db.defekt-"},
         {},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CrossCheckHarness h;
        h.SeokicksTable({"http://a.example/"}, "shop.example");
        c.prepare(h.folder);
        h.Run();
        EXPECT_EQ(h.Column(5), (Lines{"Status", "", "gefunden"}));
        ASSERT_EQ(h.box.messages.size(), c.messages.size());
        for (std::size_t i = 0; i < c.messages.size(); ++i)
            EXPECT_EQ(h.box.messages[i].substr(0, c.messages[i].size()), c.messages[i]);
        EXPECT_EQ(h.box.errors, c.errors);
        Lines written;
        for (const std::string& name : FolderEntries(h.folder / "reporting/backlinks"))
            written.push_back(name.substr(name.find('_')));
        const std::string stamp = "_" + storage::DateStamp();
        Lines expected = {stamp + ".csv", stamp + ".html", stamp + "_details.csv"};
        if (c.compared)
            expected.insert(expected.begin() + 1, {stamp + "_aenderungen.csv", stamp + "_aenderungen.html"});
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(written, expected);
    }
}

namespace {

// Pages side by side that end in the reverse order of their start, one at each wait.
class ReversedFetches final : public retrieval::PageFetches {
public:
    explicit ReversedFetches(const std::map<std::string, FetchedPage>& pages) : pages_(pages) {}
    void start(std::size_t id, const std::string& url) override { running_.emplace_back(id, url); }
    std::vector<Ended> takeEnded() override {
        if (running_.empty() || !waited_)
            return {};
        waited_ = false;
        const auto [id, url] = running_.back();
        running_.pop_back();
        Ended ended{id, {}, nullptr};
        if (const auto it = pages_.find(url); it != pages_.end())
            ended.page = it->second;
        else
            ended.error = std::make_exception_ptr(
                retrieval::FetchError("Abruf fehlgeschlagen", "HTTP-Status 404", 404));
        return {ended};
    }
    std::size_t running() const override { return running_.size(); }
    // Apart enough that each page's link check is done before the next one ends.
    void wait(std::chrono::milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        waited_ = true;
    }
    void stopAll() override { running_.clear(); }

private:
    const std::map<std::string, FetchedPage>& pages_;
    std::vector<std::pair<std::size_t, std::string>> running_;
    bool waited_ = false;
};

} // namespace

// Four at a time, finishing last page first: each row's change word, note, loss mark and details
// line are its own, whatever order the pages finished in.
TEST(CrossCheck, ChangesLandOnTheirRowsWhenPagesFinishOutOfOrder) {
    CrossCheckHarness h;
    const Lines urls = {"http://a.example/", "http://b.example/", "http://c.example/", "http://d.example/"};
    h.SeokicksTable(urls, "<a href=\"http://shop.example/\">Shop</a>");
    h.waiter.during = [] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); };
    const auto run = [&h] {
        ReversedFetches fetches(h.pages);
        retrieval::RunCrossCheck(h.window, retrieval::CrossCheckSetup{{}, &fetches, 4});
    };
    run();
    h.pages["http://a.example/"] = {"nichts mehr", "text/html"};
    h.pages.erase("http://c.example/");
    h.events.clear();
    run();

    Lines done; // the pages in the order they were done
    for (const std::string& e : h.events)
        if (const std::size_t at = e.find(" checke: "); at != std::string::npos)
            done.push_back(e.substr(at + 9));
    ASSERT_EQ(done, Lines(urls.rbegin(), urls.rend()));
    Lines words;
    for (std::string note : h.Notes(6))
        words.push_back(note.empty() ? "" : note.substr(note.find(": ", note.rfind("Seit ")) + 2));
    EXPECT_EQ(words,
              (Lines{"", "", "Link entfernt", "unverändert", "Seite nicht erreichbar", "unverändert"}));
    std::vector<table::CellMark> marks;
    for (std::int32_t row = 2; row < 6; ++row)
        marks.push_back(h.table.GetCellMark(0, row));
    using table::CellMark;
    EXPECT_EQ(marks,
              (std::vector<CellMark>{CellMark::RowLoss, CellMark::None, CellMark::RowLoss, CellMark::None}));
    // The details file's last column, line by line after its header.
    const std::string dir = h.folder / "reporting/backlinks";
    std::string details;
    for (const std::string& name : FolderEntries(dir))
        if (name.ends_with("_details.csv"))
            details = ReadBytes(dir + "/" + name);
    Lines lastColumns;
    for (std::size_t start = details.find("\r\n") + 2, end;
         (end = details.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::size_t comma = details.rfind(',', end);
        lastColumns.push_back(details.substr(comma + 1, end - comma - 1));
    }
    EXPECT_EQ(lastColumns, (Lines{"Link entfernt", "unverändert", "Seite nicht erreichbar", "unverändert"}));
}

TEST(CrossCheck, DomainIsReadAfreshForEveryRow) {
    CrossCheckHarness h;
    h.SeokicksTable(kAbc, "Links: shop.example, Shop.Example");
    h.fields.domain = "Shop.Example";
    h.waiter.during = [&h] { h.fields.domain = h.fields.domain == "Shop.Example" ? "SHOP.example" : ""; };
    h.Run();
    // Other case: not found; empty domain: found in no page. The notes follow the same text.
    EXPECT_EQ(h.Column(5), (Lines{"Status", "", "gefunden", "nicht gefunden", "nicht gefunden"}));
    EXPECT_EQ(h.Notes(5), (Lines{"", "", "Domain nur im Text erwähnt, kein Link", "Kein Link auf die Domain",
                                 "Links nicht geprüft: kein Domainname im Domainfeld"}));
}

TEST(CrossCheck, AnyExceptionOfARowIsFehler) {
    CrossCheckHarness h;
    std::size_t calls = 0;
    h.SeokicksTable(kAbc);
    retrieval::RunCrossCheck(h.window, [&](const std::string&) -> FetchedPage {
        if (++calls == 1)
            throw std::runtime_error("kaputt");
        if (calls == 2)
            throw retrieval::FetchError("Abruf von http://b.example/ fehlgeschlagen: ...", "HTTP-Status 503");
        throw 42;
    });
    EXPECT_EQ(h.Column(5), (Lines{"Status", "", "Fehler", "Fehler", "Fehler"}));
    // A failed transfer is noted by its short reason, anything else by its message.
    EXPECT_EQ(h.Notes(5), (Lines{"", "", "kaputt", "HTTP-Status 503", "Unbekannter Fehler"}));
    EXPECT_EQ(h.box.messages, Lines{"Report gespeichert"});
    EXPECT_TRUE(h.box.errors.empty());
}

TEST(CrossCheck, CancelledEndsTheCommandWithoutReports) {
    CrossCheckHarness h;
    h.SeokicksTable({"http://a.example/", "http://b.example/"}, "shop.example");
    h.waiter.during = [] { throw toolkit::Cancelled(); };
    EXPECT_THROW(h.Run(), toolkit::Cancelled);
    EXPECT_EQ(h.Column(5), (Lines{"Status", "", "gefunden", ""}));

    CrossCheckHarness g;
    g.SeokicksTable({"http://a.example/"});
    EXPECT_THROW(retrieval::RunCrossCheck(
                     g.window, [](const std::string&) -> FetchedPage { throw toolkit::Cancelled(); }),
                 toolkit::Cancelled);
    EXPECT_EQ(g.Column(5), (Lines{"Status", "", ""}));
    EXPECT_TRUE(g.box.messages.empty());
    EXPECT_FALSE(storage::DirectoryExists(g.folder / "reporting"));
}

TEST(CrossCheck, ReportFailureReachesTheCallerAndKeepsTheColumn) {
    CrossCheckHarness h;
    h.SeokicksTable({"http://a.example/"}, "shop.example");
    WriteBytes(h.folder / "reporting", "a file where the folder should be");
    EXPECT_THROW(h.Run(), toolkit::Error);
    EXPECT_EQ(h.Column(5), (Lines{"Status", "", "gefunden"}));
}

TEST(RetryRule, FailuresThatMayPassAreAskedAgainAtTheEnd) {
    const struct {
        const char* name;
        std::exception_ptr error;
        bool again;
    } cases[] = {
        {"time-out, refused, broken off", TimedOut(), true},
        {"500", Answered(500), true},
        {"502", Answered(502), true},
        {"503 without Retry-After", Answered(503), true},
        {"503 with a Retry-After the run waits for", Answered(503, 120), true},
        {"503 with a longer Retry-After", Answered(503, 121), false},
        {"504", Answered(504), true},
        {"501", Answered(501), false},
        {"404", Answered(404), false},
        {"403", Answered(403), false},
        {"429", Answered(429), false},
        {"not a transfer's failure", std::make_exception_ptr(std::runtime_error("kaputt")), false},
        {"a bot-protection challenge served with 503", Challenged(503), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(retrieval::RetryAtEnd(c.error), c.again) << c.name;
}

// A page that failed in a way that may pass is fetched again after all the others, one at a time
// and side by side; only its second answer reaches the cell, the details and the history, and the
// progress says that the second pass runs. A page is never fetched a third time.
TEST(CrossCheck, FailuresThatMayPassAreFetchedAgainAfterEveryOtherPage) {
    const Lines urls = {"http://a.example/", "http://b.example/", "http://c.example/", "http://d.example/"};
    const struct {
        int parallel;
        Lines events;
    } modes[] = {
        {1,
         {"fetch http://a.example/", "wait 1000", "fetch http://b.example/", "wait 1000",
          "fetch http://c.example/", "wait 1000", "caption " + kTitle + " checke: http://c.example/",
          "fetch http://d.example/", "wait 1000", "robots http://d.example/robots.txt",
          "caption " + kTitle + " checke: http://d.example/", "fetch http://a.example/", "wait 1000",
          "robots http://a.example/robots.txt",
          "caption " + kTitle + " Wiederholung 1 von 2: http://a.example/", "fetch http://b.example/",
          "wait 1000", "caption " + kTitle + " Wiederholung 2 von 2: http://b.example/", kDone}},
        // Two places: c and d once a and b are done waiting, the second pass once d has its robots.txt.
        {2,
         {"fetch http://a.example/", "fetch http://b.example/", "fetch http://c.example/",
          "fetch http://d.example/", "robots http://d.example/robots.txt", "fetch http://a.example/",
          "fetch http://b.example/", "robots http://a.example/robots.txt"}},
    };
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode.parallel);
        CrossCheckHarness h;
        h.SeokicksTable(urls);
        h.pages["http://a.example/"] = {kLinkPage, "text/html"};
        h.pages["http://d.example/"] = {kLinkPage, "text/html"};
        h.pages["http://d.example/robots.txt"] = {"User-agent: *\nDisallow: /\n", "text/plain", "", 200};
        h.failures["http://a.example/"] = {TimedOut()};
        h.failures["http://a.example/robots.txt"] = {Answered(404)};
        h.failures["http://b.example/"] = {Answered(503), Answered(503), Answered(503)};
        h.failures["http://c.example/"] = {Answered(404)};
        Lines progress;
        h.fields.progressLog = &progress;
        std::string noteWhileWaiting;
        retrieval::CrossCheckSetup setup = h.Setup();
        InstantFetches pages;
        InstantFetches robots;
        SleepingWait sleeper;
        toolkit::Window sleepy{h.shared, h.fields, h.box, sleeper, h.table, h.memo1, h.memo3, h.memo11};
        if (mode.parallel == 1) {
            h.waiter.during = [&] {
                if (noteWhileWaiting.empty())
                    noteWhileWaiting = h.table.GetCellNote(5, 2);
            };
            retrieval::RunCrossCheck(h.window, setup);
            EXPECT_EQ(h.events, mode.events);
            EXPECT_EQ(noteWhileWaiting, "Zeitüberschreitung\nwird am Ende noch einmal abgerufen");
        } else {
            pages.serve = setup.fetch;
            robots.serve = setup.robots;
            setup.parallel = &pages;
            setup.robotsParallel = &robots;
            setup.parallelFetches = 2;
            retrieval::RunCrossCheck(sleepy, setup);
            Lines fetches;
            std::copy_if(h.events.begin(), h.events.end(), std::back_inserter(fetches),
                         [](const std::string& e) { return !e.starts_with("caption"); });
            EXPECT_EQ(fetches, mode.events);
            EXPECT_EQ(h.events.back(), kDone);
        }

        EXPECT_EQ(h.Column(5), (Lines{"Status", "", "gefunden", "Fehler", "Fehler", "gefunden"}));
        EXPECT_EQ(h.Notes(5), (Lines{"", "", kLinked, "blockiert (HTTP 503)", "HTTP-Status 404",
                                     kLinked + "\nrobots.txt: gesperrt"}));
        EXPECT_NE(std::find(progress.begin(), progress.end(), "2/4 Wiederholung 1 von 2: http://a.example/"),
                  progress.end());
        EXPECT_EQ(progress.back(), "4/4 Wiederholung 2 von 2: http://b.example/");

        // One details line and one history row per page, with its last answer.
        const std::string details = ReadBytes(
            h.folder / ("reporting/backlinks/shopexample_" + storage::DateStamp() + "_details.csv"));
        EXPECT_EQ(std::count(details.begin(), details.end(), '\n'), 5)
            << details; // the header and a line a page
        EXPECT_NE(details.find(",http://a.example/,gefunden,1,"), std::string::npos) << details;
        storage::History::Opened opened = storage::History::Open(h.folder.path());
        ASSERT_TRUE(opened.history);
        const auto runs = opened.history->CrossCheckRuns("shop.example");
        ASSERT_EQ(runs.value.size(), 1u);
        std::map<std::string, storage::PageRow> rows;
        for (storage::PageRow& row : opened.history->CrossRows(runs.value[0].id).value)
            rows[row.url] = std::move(row);
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_EQ(rows["http://a.example/"].status, "gefunden");
        EXPECT_EQ(rows["http://b.example/"].httpStatus, 503);
    }
}

// Stopped before its second fetch, a page keeps its first answer; the run ends at once.
TEST(CrossCheck, StoppedBeforeTheSecondPassKeepsTheFirstAnswers) {
    CrossCheckHarness h;
    h.SeokicksTable({"http://a.example/", "http://b.example/", "http://c.example/"}, "shop.example");
    h.failures["http://a.example/"] = {TimedOut()};
    bool stop = false;
    int waits = 0;
    h.waiter.during = [&] {
        if (++waits == 2) {
            stop = true;
            throw toolkit::Cancelled();
        }
    };
    retrieval::CrossCheckSetup setup = h.Setup();
    setup.stopped = [&stop] { return stop; };
    retrieval::RunCrossCheck(h.window, setup);
    EXPECT_EQ(h.events, (Lines{"fetch http://a.example/", "wait 1000", "fetch http://b.example/", "wait 1000",
                               "caption " + kTitle + " checke: http://b.example/",
                               "caption " + kTitle + " checke: http://a.example/",
                               "caption " + kTitle + " Gegenprüfung abgebrochen ..."}));
    EXPECT_EQ(h.Column(5), (Lines{"Status", "", "Fehler", "gefunden", ""}));
    EXPECT_EQ(h.Notes(5)[2], "Zeitüberschreitung");
}

// robots.txt is asked once per origin, for pages with a link only, a second after the page and a
// second before that host's next page; what it says goes into the note and the Robots column.
TEST(CrossCheck, RobotsTxtOncePerOriginForPagesWithALink) {
    CrossCheckHarness h;
    const Lines urls = {"http://x.example/a", "http://x.example/b", "http://y.example/c",
                        "http://z.example/d", "https://x.example/e"};
    h.SeokicksTable(urls);
    h.pages[urls[0]] = {kLinkPage, "text/html"};
    h.pages[urls[1]] = {std::string("<meta name=\"robots\" content=\"noindex\">") + kLinkPage, "text/html"};
    h.pages[urls[2]] = {"nichts", "text/html"};
    h.pages[urls[3]] = {kLinkPage, "text/html"};
    h.pages[urls[4]] = {kLinkPage, "text/html"};
    h.pages["http://x.example/robots.txt"] = {"User-agent: *\nDisallow: /\n", "text/plain", "", 200};
    h.failures["http://z.example/robots.txt"] = {Answered(503)};
    h.failures["https://x.example/robots.txt"] = {Answered(404)};
    retrieval::RunCrossCheck(h.window, h.Setup());

    const auto caption = [](const std::string& url) { return "caption " + kTitle + " checke: " + url; };
    EXPECT_EQ(h.events, (Lines{"fetch " + urls[0],
                               "wait 1000",
                               "robots http://x.example/robots.txt",
                               caption(urls[0]),
                               "wait 1000",
                               "fetch " + urls[1],
                               "wait 1000",
                               caption(urls[1]),
                               "fetch " + urls[2],
                               "wait 1000",
                               caption(urls[2]),
                               "fetch " + urls[3],
                               "wait 1000",
                               "robots http://z.example/robots.txt",
                               caption(urls[3]),
                               "fetch " + urls[4],
                               "wait 1000",
                               "robots https://x.example/robots.txt",
                               caption(urls[4]),
                               kDone}));
    EXPECT_EQ(h.Notes(5), (Lines{"", "", kLinked + "\nrobots.txt: gesperrt",
                                 kLinked + "\naber Seite auf noindex (Meta-Robots); robots.txt: gesperrt",
                                 "Kein Link auf die Domain",
                                 kLinked + "\nrobots.txt: nicht erreichbar (HTTP-Status 503)", kLinked}));
    EXPECT_EQ(h.table.GetCellMark(5, 2), table::CellMark::Found); // the link still counts
    const std::string details =
        ReadBytes(h.folder / ("reporting/backlinks/shopexample_" + storage::DateStamp() + "_details.csv"));
    EXPECT_NE(details.find(",http://x.example/a,robots.txt: gesperrt,,"), std::string::npos) << details;
    EXPECT_NE(details.find(",http://x.example/b,noindex (Meta-Robots); robots.txt: gesperrt,,"),
              std::string::npos)
        << details;
    EXPECT_NE(details.find("robots.txt: nicht erreichbar (HTTP-Status 503)"), std::string::npos) << details;
}

// What a robots.txt answer means, over HTTP: rules, a missing file, a server that is down (never
// "gesperrt"), redirects up to five, a file read up to its limit, compressed or not.
TEST(SiteRobots, ReadsEachAnswerAsTheRfcSays) {
    using testsupport::Request;
    using testsupport::Response;
    using State = retrieval::RobotsFinding::State;
    const auto text = [](std::string body, int status = 200) {
        return [body, status](const Request&) { return Response::Text(body, status); };
    };
    const auto redirects = [&](testsupport::LoopbackServer& s, int hops) {
        s.handle("/robots.txt", [](const Request&) { return Response::Redirect("/r1"); });
        for (int i = 1; i < hops; ++i)
            s.handle("/r" + std::to_string(i),
                     [i](const Request&) { return Response::Redirect("/r" + std::to_string(i + 1)); });
        s.handle("/r" + std::to_string(hops),
                 [](const Request&) { return Response::Text("User-agent: *\nDisallow: /\n"); });
    };
    const std::string padding = [] {
        std::string p;
        while (p.size() < 600 * 1024)
            p += "# " + std::string(60, '-') + "\n";
        return p;
    }();
    const struct {
        const char* name;
        std::function<void(testsupport::LoopbackServer&)> serve;
        const char* page;
        State state;
        const char* reason;
    } cases[] = {
        {"Googlebot's group",
         [&](auto& s) { s.handle("/robots.txt", text("User-agent: Googlebot\nDisallow: /privat\n")); },
         "/privat/seite.html?x=1", State::Disallowed, ""},
        {"allowed path",
         [&](auto& s) { s.handle("/robots.txt", text("User-agent: *\nDisallow: /privat\n")); }, "/offen/",
         State::Allowed, ""},
        {"404: all allowed", [](auto&) {}, "/seite", State::Allowed, ""},
        {"503: unreachable", [&](auto& s) { s.handle("/robots.txt", text("Wartung", 503)); }, "/seite",
         State::Unreachable, "HTTP-Status 503"},
        {"five redirects", [&](auto& s) { redirects(s, 5); }, "/seite", State::Disallowed, ""},
        {"six redirects", [&](auto& s) { redirects(s, 6); }, "/seite", State::Unreachable,
         "Zu viele Weiterleitungen"},
        {"rule before the limit",
         [&](auto& s) {
             s.handle("/robots.txt",
                      text("User-agent: *\nDisallow: /frueh\n" + padding + "Disallow: /spaet\n"));
         },
         "/frueh", State::Disallowed, ""},
        {"rule beyond the limit",
         [&](auto& s) {
             s.handle("/robots.txt",
                      text("User-agent: *\nDisallow: /frueh\n" + padding + "Disallow: /spaet\n"));
         },
         "/spaet", State::Allowed, ""},
        {"compressed, beyond the limit once unpacked",
         [&](auto& s) {
             s.handle("/robots.txt", [&](const Request&) {
                 Response r = Response::Text("User-agent: *\n" + padding + padding + "Disallow: /\n");
                 r.gzip = true;
                 return r;
             });
         },
         "/seite", State::Allowed, ""},
        {"no answer in time",
         [](auto& s) {
             s.handle("/robots.txt", [](const Request&) {
                 Response r;
                 r.neverAnswer = true;
                 return r;
             });
         },
         "/seite", State::Unreachable, "Zeitüberschreitung"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::LoopbackServer server;
        c.serve(server);
        retrieval::FetchOptions options = retrieval::RobotsFetchOptions();
        options.totalTimeout = std::chrono::seconds(2);
        const retrieval::PageFetcher fetch = retrieval::MakeCurlPageFetcher(options);
        const std::string page = server.baseUrl() + c.page;
        const std::string file = retrieval::RobotsUrlOf(page);
        ASSERT_EQ(file, server.baseUrl() + "/robots.txt");
        retrieval::SiteRobots robots;
        try {
            robots.answered(file, fetch(file));
        } catch (...) {
            robots.failed(file, std::current_exception());
        }
        const retrieval::RobotsFinding finding = robots.finding(page);
        EXPECT_EQ(finding.state, c.state);
        EXPECT_EQ(finding.reason, c.reason);
    }
}
// A page whose HTML has scripts and no link is looked at in the browser, and its status word and
// note are then the rendered document's. A page the browser could not show counts as unread,
// never as "Kein Link"; a page without scripts or with a link in its HTML is never rendered.
TEST(CrossCheck, PagesBuiltWithScriptsAreCheckedAsTheBrowserShowsThem) {
    using retrieval::RenderEnd;
    const std::string script = "<script>document.write('<a href=\"http://shop.example/\">Shop</a>')</script>";
    const std::string withLink =
        "<html><body>" + script + "<a href=\"http://shop.example/\">Shop</a></body></html>";
    const std::string unread = "Links nicht geprüft: Die Seite baut ihren Inhalt mit JavaScript; ";
    const struct {
        const char* name;
        std::string page;
        std::optional<retrieval::Rendered> browser; // none: no browser
        std::string status;
        std::string note;
        bool rendered = true;
        bool off = false;
    } cases[] = {
        {"the link only in the rendered document", script, retrieval::Rendered{RenderEnd::Complete, withLink},
         "gefunden", "Link vorhanden (follow) – Ankertext „Shop“\nLink per JavaScript gesetzt"},
        {"rendered without a link: the word is the document's", "<script>go()</script>shop.example",
         retrieval::Rendered{RenderEnd::Complete, "<p>leer</p>"}, "nicht gefunden",
         "Kein Link auf die Domain\nim Browser nachgeprüft"},
        {"cut short, the link already there", script, retrieval::Rendered{RenderEnd::Partial, withLink},
         "gefunden", "Link vorhanden (follow) – Ankertext „Shop“\nLink per JavaScript gesetzt"},
        {"cut short without the link", script, retrieval::Rendered{RenderEnd::Partial, "<p>halb</p>"},
         "gefunden", unread + "die Seite lud im Browser nicht zu Ende (Zeitlimit)"},
        {"out of time", script, retrieval::Rendered{RenderEnd::TimedOut}, "gefunden",
         unread + "der Browser brauchte zu lange (Zeitlimit)"},
        {"not startable here", "<script src='/app.js'></script>",
         retrieval::Rendered{RenderEnd::Unavailable, {}, "kein Benutzerkonto ohne Rechte"}, "nicht gefunden",
         unread + "kein Benutzerkonto ohne Rechte"},
        {"no browser", script, std::nullopt, "gefunden", unread + "kein Browser vorhanden", false},
        {"switched off", script, std::nullopt, "gefunden", unread + "Prüfung im Browser ist ausgeschaltet",
         false, true},
        {"no scripts", "<p>shop.example</p>", retrieval::Rendered{RenderEnd::Complete, withLink}, "gefunden",
         "Domain nur im Text erwähnt, kein Link", false},
        {"a link in the HTML", withLink, retrieval::Rendered{RenderEnd::Complete, "<p></p>"}, "gefunden",
         "Link vorhanden (follow) – Ankertext „Shop“", false},
        {"JSON data is no script", "<script type='application/ld+json'>{}</script>",
         retrieval::Rendered{RenderEnd::Complete, withLink}, "nicht gefunden", "Kein Link auf die Domain",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CrossCheckHarness h;
        h.SeokicksTable({"http://a.example/"});
        h.pages["http://a.example/"] = {c.page, "text/html", "http://www.a.example/"};
        testsupport::FakeRenderer browser(c.browser.value_or(retrieval::Rendered{}));
        h.renderer = c.browser ? &browser : nullptr;
        h.browserOff = c.off;
        h.Run();
        EXPECT_EQ(h.Column(5).at(2), c.status);
        EXPECT_EQ(h.Notes(5).at(2), c.note);
        EXPECT_EQ(browser.urls(), c.rendered ? Lines{"http://www.a.example/"} : Lines{})
            << "the final address";
    }
}

// The history keeps no link counts for a page whose links went unread, so the next comparison
// never calls its link removed.
TEST(CrossCheck, AnUnreadScriptedPageLosesNoLink) {
    CrossCheckHarness h;
    h.SeokicksTable({"http://a.example/"});
    h.pages["http://a.example/"] = {"<a href='http://shop.example/'>Shop</a>", "text/html"};
    h.Run();
    h.pages["http://a.example/"] = {"<script>s('shop.example')</script>", "text/html"};
    h.Run();
    const std::string note = h.Notes(6).at(2);
    EXPECT_TRUE(note.starts_with("Links nicht geprüft: Die Seite baut ihren Inhalt mit JavaScript")) << note;
    EXPECT_EQ(note.find("Link entfernt"), std::string::npos) << note;
}
