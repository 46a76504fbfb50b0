#include "app/contract/Error.h"
#include "retrieval/CrossCheck.h"
#include "retrieval/Parsing.h"
#include "retrieval/http/HttpFetch.h"
#include "storage/Files.h"
#include "storage/Reports.h"
#include "tests/storage/StorageTestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
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

    void Run() {
        retrieval::RunCrossCheck(window, [this](const std::string& url) {
            events.push_back("fetch " + url);
            const auto it = pages.find(url);
            if (it == pages.end())
                throw toolkit::Error(url.empty() ? "Keine URL angegeben" : "HTTP-Status 404: " + url);
            return it->second;
        });
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
