#include "app/contract/Error.h"
#include "retrieval/CrossCheck.h"
#include "retrieval/HttpFetch.h"
#include "retrieval/Parsing.h"
#include "storage/Files.h"
#include "tests/storage/StorageTestSupport.h"

#include <gtest/gtest.h>
#include <map>
#include <stdexcept>

using namespace storage_test;
using retrieval::FetchedPage;

namespace {

// Every fetch, wait and caption in the order they happen.
struct Log {
    std::vector<std::string> events;
};

class LoggingFields : public FakeFields {
public:
    explicit LoggingFields(Log& log) : log_(log) {}
    void setCaption(const std::string& text) override {
        FakeFields::setCaption(text);
        log_.events.push_back("caption " + text);
    }

private:
    Log& log_;
};

class RecordingWaiter : public toolkit::PacedWaiter {
public:
    explicit RecordingWaiter(Log& log) : log_(log) {}
    std::function<void()> during; // runs inside each wait, as a window event would
    void pacedWait(std::int32_t milliseconds) override {
        log_.events.push_back("wait " + std::to_string(milliseconds));
        if (during)
            during();
    }

private:
    Log& log_;
};

struct CrossCheckHarness {
    Log log;
    TempFolder folder;
    toolkit::Shared shared;
    LoggingFields fields{log};
    FakeBox box;
    RecordingWaiter waiter{log};
    CharWidth measure;
    table::BacklinkTable table{measure};
    toolkit::LineBuffer memo1, memo3, memo11;
    toolkit::Window window{shared, fields, box, waiter, table, memo1, memo3, memo11};

    std::map<std::string, FetchedPage> pages; // a URL not in here fails like a real client

    CrossCheckHarness() {
        shared.programFolder = folder.path();
        fields.domain = "shop.example";
    }

    void SeokicksTable(const std::vector<std::string>& urls) {
        table.ResetWithHeaders(retrieval::Headers(retrieval::Service::Seokicks));
        for (const std::string& url : urls)
            table.AppendRecord({url, "Ankertext", "http://shop.example/", "follow"});
    }

    void Run() {
        retrieval::RunCrossCheck(window, [this](const std::string& url) {
            log.events.push_back("fetch " + url);
            const auto it = pages.find(url);
            if (it == pages.end())
                throw toolkit::Error(url.empty() ? "Keine URL angegeben" : "HTTP-Status 404: " + url);
            return it->second;
        });
    }

    std::vector<std::string> Column(std::int32_t col) const { return table.ColumnText(col); }
    std::vector<std::string> Notes(std::int32_t col) const {
        std::vector<std::string> notes;
        for (std::int32_t r = 0; r < table.RowCount(); ++r)
            notes.push_back(table.GetCellNote(col, r));
        return notes;
    }

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

} // namespace

TEST(CrossCheck, EachRecordFetchedOnceThenWaitThenCaption) {
    CrossCheckHarness h;
    h.SeokicksTable({"http://a.example/", "http://b.example/", "http://c.example/"});
    h.pages["http://a.example/"] = {"<a href=\"http://shop.example/\">", "text/html"};
    h.pages["http://b.example/"] = {"nothing here", ""};
    h.Run();

    EXPECT_EQ(h.log.events, (Lines{
                                "fetch http://a.example/",
                                "wait 1000",
                                "caption " + kTitle + " checke: http://a.example/",
                                "fetch http://b.example/",
                                "wait 1000",
                                "caption " + kTitle + " checke: http://b.example/",
                                "fetch http://c.example/",
                                "wait 1000",
                                "caption " + kTitle + " checke: http://c.example/",
                                "caption " + kTitle + " Gegenprüfung fertig gestellt ... ",
                            }));
    ASSERT_EQ(h.table.ColCount(), 6);
    EXPECT_EQ(h.Column(5), (Lines{"Status", "", "gefunden", "nicht gefunden", "Fehler"}));
    EXPECT_EQ(h.Notes(5), (Lines{"", "", "", "", "HTTP-Status 404: http://c.example/"}));
    // The reason stays out of the table and the reports.
    EXPECT_EQ(h.ReportCsv().find("404"), std::string::npos);
    EXPECT_NE(h.ReportCsv().find("nicht gefunden"), std::string::npos);
    EXPECT_EQ(h.box.messages, Lines{"Report gespeichert"});

    EXPECT_EQ(h.memo1.lines(), h.Column(1));
    EXPECT_EQ(h.memo3.count(), 0u) << "Memo3 is emptied before each fetch";
}

TEST(CrossCheck, NoRecordsStillAddsTheColumnAndWritesReports) {
    CrossCheckHarness h;
    h.SeokicksTable({});
    h.Run();
    EXPECT_EQ(h.log.events, Lines{"caption " + kTitle + " Gegenprüfung fertig gestellt ... "});
    EXPECT_EQ(h.Column(5), (Lines{"Status", ""}));
    EXPECT_NE(h.ReportCsv().find("Status"), std::string::npos);
    EXPECT_EQ(h.box.messages, Lines{"Report gespeichert"});
}

TEST(CrossCheck, SecondRunAddsSecondStatusColumn) {
    CrossCheckHarness h;
    h.SeokicksTable({"http://a.example/", "http://b.example/"});
    h.pages["http://a.example/"] = {"shop.example", ""};
    h.pages["http://b.example/"] = {"shop.example", ""};
    h.Run();
    h.pages["http://a.example/"] = {"gone", ""};
    h.pages.erase("http://b.example/");
    h.Run();

    ASSERT_EQ(h.table.ColCount(), 7);
    EXPECT_EQ(h.Column(5), (Lines{"Status", "", "gefunden", "gefunden"}));
    EXPECT_EQ(h.Column(6), (Lines{"Status", "", "nicht gefunden", "Fehler"}));
    EXPECT_EQ(h.Notes(6), (Lines{"", "", "", "HTTP-Status 404: http://b.example/"}));
    const std::string csv = h.ReportCsv();
    EXPECT_NE(csv.find("Status"), csv.rfind("Status")) << csv;
}

TEST(CrossCheck, UntouchedStartTableFetchesEmptyUrls) {
    CrossCheckHarness h;
    h.Run();
    EXPECT_EQ(h.log.events.front(), "fetch ");
    EXPECT_EQ(std::count(h.log.events.begin(), h.log.events.end(), "fetch "), 3);
    EXPECT_EQ(std::count(h.log.events.begin(), h.log.events.end(), "wait 1000"), 3);
    EXPECT_EQ(h.Column(5), (Lines{"Status", "", "Fehler", "Fehler", "Fehler"}));
    EXPECT_EQ(h.Notes(5),
              (Lines{"", "", "Keine URL angegeben", "Keine URL angegeben", "Keine URL angegeben"}));
    EXPECT_EQ(h.box.messages, Lines{"Report gespeichert"});
}

TEST(CrossCheck, DomainIsReadAfreshForEveryRow) {
    CrossCheckHarness h;
    h.SeokicksTable({"http://a.example/", "http://b.example/", "http://c.example/"});
    for (const char* url : {"http://a.example/", "http://b.example/", "http://c.example/"})
        h.pages[url] = {"Links: shop.example, Shop.Example", ""};
    h.fields.domain = "Shop.Example";
    h.waiter.during = [&h] { h.fields.domain = h.fields.domain == "Shop.Example" ? "SHOP.example" : ""; };
    h.Run();
    // Other case: not found; empty domain: found in no page.
    EXPECT_EQ(h.Column(5), (Lines{"Status", "", "gefunden", "nicht gefunden", "nicht gefunden"}));
    EXPECT_EQ(h.Notes(5), Lines(5, ""));
}

TEST(CrossCheck, PageIsDecodedBeforeTheTest) {
    CrossCheckHarness h;
    h.fields.domain = "m\xC3\xBCller.example";
    h.SeokicksTable({"http://latin1.example/", "http://idna.example/", "http://utf8.example/"});
    h.pages["http://latin1.example/"] = {"<a href=\"http://m\xFCller.example/\">",
                                         "text/html; charset=ISO-8859-1"};
    h.pages["http://idna.example/"] = {"<a href=\"http://xn--mller-kva.example/\">", "text/html"};
    h.pages["http://utf8.example/"] = {"m\xC3\xBC"
                                       "ller",
                                       "text/html; charset=utf-8"};
    h.Run();
    EXPECT_EQ(h.Column(5), (Lines{"Status", "", "gefunden", "gefunden", "nicht gefunden"}));
    EXPECT_EQ(h.memo3.text(), "m\xC3\xBC"
                              "ller\r\n");
}

TEST(CrossCheck, AnyExceptionOfARowIsFehler) {
    CrossCheckHarness h;
    std::size_t calls = 0;
    h.SeokicksTable({"http://a.example/", "http://b.example/", "http://c.example/"});
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
    h.SeokicksTable({"http://a.example/", "http://b.example/"});
    h.pages["http://a.example/"] = {"shop.example", ""};
    h.pages["http://b.example/"] = {"shop.example", ""};
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
    h.SeokicksTable({"http://a.example/"});
    h.pages["http://a.example/"] = {"shop.example", ""};
    WriteBytes(h.folder / "reporting", "a file where the folder should be");
    EXPECT_THROW(h.Run(), toolkit::Error);
    EXPECT_EQ(h.Column(5), (Lines{"Status", "", "gefunden"}));
}
