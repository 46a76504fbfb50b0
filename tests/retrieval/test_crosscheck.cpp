#include "app/contract/Error.h"
#include "retrieval/CrossCheck.h"
#include "retrieval/Parsing.h"
#include "retrieval/http/HttpFetch.h"
#include "storage/Files.h"
#include "storage/Reports.h"
#include "tests/storage/StorageTestSupport.h"
#include "tests/support/FakeRenderer.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <regex>
#include <stdexcept>

using namespace storage_test;
namespace fs = std::filesystem;
using retrieval::FetchedPage;

namespace {

struct CrossCheckHarness : Harness {
    Lines events;                             // every fetch, wait and caption in the order they happen
    std::map<std::string, FetchedPage> pages; // a URL not in here fails like a real client
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

    void Run() {
        retrieval::CrossCheckSetup setup{[this](const std::string& url) {
            events.push_back("fetch " + url);
            const auto it = pages.find(url);
            if (it == pages.end())
                throw toolkit::Error(url.empty() ? "Keine URL angegeben" : "HTTP-Status 404: " + url);
            return it->second;
        }};
        setup.renderer = renderer;
        setup.browserOff = browserOff;
        retrieval::RunCrossCheck(window, setup);
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
