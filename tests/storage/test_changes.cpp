// The change word of each row and the summary and report built from them.
#include "storage/Changes.h"

#include <gtest/gtest.h>

using storage::PageRow;

namespace {

// A fetched page with `links` links to the domain, `follow` of them followed, the first one
// pointing at `target` with `anchor`; links unset: not read.
PageRow Fetched(std::optional<std::int64_t> links, std::int64_t follow = 0, std::string target = "http://d.example/",
                std::string anchor = "Anker") {
    PageRow row;
    row.url = "http://seite.example/";
    row.status = links.value_or(0) > 0 ? "gefunden" : "nicht gefunden";
    row.httpStatus = 200;
    row.linkCount = links;
    row.followCount = links ? std::optional<std::int64_t>(follow) : std::nullopt;
    if (links.value_or(0) > 0) {
        row.target = std::move(target);
        row.anchor = std::move(anchor);
    }
    return row;
}

PageRow Failed(std::int64_t httpStatus, std::string reason = {}) {
    PageRow row;
    row.url = "http://seite.example/";
    row.status = "Fehler";
    row.httpStatus = httpStatus;
    row.reason = !reason.empty()   ? std::move(reason)
                 : httpStatus != 0 ? "HTTP-Status " + std::to_string(httpStatus)
                                   : "Zeitüberschreitung";
    return row;
}

// Now on the domain itself, by a redirect or from the start.
PageRow OnDomain(std::int64_t redirects) {
    PageRow row = Fetched(std::nullopt);
    row.status = "gefunden";
    row.onDomain = true;
    row.redirects = redirects;
    return row;
}

struct Case {
    const char* name;
    PageRow now;
    std::optional<PageRow> latest;
    std::optional<PageRow> lastSeen;
    bool toldUnreachable;
    std::string_view word;
    bool loss;
};

} // namespace

// Every word of the table, and where two apply, the earlier one wins; a loss only where a link
// seen before is gone and that was not told before.
TEST(Changes, EachRowGetsTheFirstWordThatApplies) {
    const PageRow followed = Fetched(1, 1);
    const PageRow unread = Fetched(std::nullopt);
    const Case cases[] = {
        {"new beats blocked", Failed(403), std::nullopt, std::nullopt, false, "neu", false},
        {"new page with a link", followed, std::nullopt, std::nullopt, false, "neu", false},
        {"401 blocks", Failed(401), followed, followed, false, "blockiert", false},
        {"403 blocks before the lost link", Failed(403), followed, followed, false, "blockiert", false},
        {"429 blocks", Failed(429), followed, followed, false, "blockiert", false},
        {"503 blocks", Failed(503), followed, followed, false, "blockiert", false},
        {"bot protection answering 200 blocks", Failed(200, "blockiert (Bot-Schutz: Prüfseite)"), followed,
         followed, false, "blockiert", false},
        {"404 after a page with a link", Failed(404), followed, followed, false, "Seite nicht erreichbar",
         true},
        {"no connection", Failed(0), followed, followed, false, "Seite nicht erreichbar", true},
        {"soft 404", Failed(200, "Seite nicht gefunden (Soft 404)"), followed, followed, false,
         "Seite nicht erreichbar", true},
        {"still unreachable", Failed(500), Failed(404), followed, true, "weiterhin nicht erreichbar", false},
        {"unreachable after a blocked run", Failed(404), Failed(403), followed, false,
         "Seite nicht erreichbar", true},
        {"unreachable after blocked, told before that", Failed(404), Failed(403), followed, true,
         "Seite nicht erreichbar", false},
        {"unreachable after a run that read no links", Failed(404), unread, followed, false,
         "Seite nicht erreichbar", true},
        {"a page without a link gone dark", Failed(404), Fetched(0), Fetched(0), false,
         "Seite nicht erreichbar", false},
        {"a page never seen gone dark", Failed(404), unread, std::nullopt, false, "Seite nicht erreichbar",
         false},
        {"links not read now", unread, followed, followed, false, "nicht geprüft", false},
        {"links not read again", unread, unread, followed, false, "nicht geprüft", false},
        {"redirects onto the domain", OnDomain(1), followed, followed, false, "leitet auf die Domain weiter",
         false},
        {"on the domain from the start", OnDomain(0), OnDomain(0), std::nullopt, false, "nicht geprüft",
         false},
        {"link removed", Fetched(0), followed, followed, false, "Link entfernt", true},
        {"link removed while the page was blocked last time", Fetched(0), Failed(503), followed, false,
         "Link entfernt", true},
        {"link removed while the last run read no links", Fetched(0), unread, followed, false,
         "Link entfernt", true},
        {"link removed after its page was told unreachable", Fetched(0), Failed(404), followed, true,
         "Link entfernt", false},
        {"link removed after a redirect onto the domain", Fetched(0), OnDomain(1), followed, false,
         "Link entfernt", true},
        {"nofollow before a new target", Fetched(2, 0, "http://d.example/neu"), followed, followed, false,
         "nofollow geworden", true},
        {"follow before a new anchor", Fetched(1, 1, "http://d.example/", "Neu"), Fetched(1, 0),
         Fetched(1, 0), false, "follow geworden", false},
        {"back after a failure", followed, Failed(404), followed, true, "wieder da", false},
        {"back after a redirect onto the domain", followed, OnDomain(2), followed, false, "wieder da", false},
        {"back after a page without link", followed, Fetched(0), Fetched(0), false, "wieder da", false},
        {"back, never fetched before", followed, Failed(404), std::nullopt, true, "wieder da", false},
        {"links read again, as they were", followed, unread, followed, false, "unverändert", false},
        {"target before anchor", Fetched(1, 1, "http://d.example/b", "B"), followed, followed, false,
         "Linkziel geändert", false},
        {"anchor", Fetched(1, 1, "http://d.example/", "Neu"), followed, followed, false, "Ankertext geändert",
         false},
        {"same", followed, followed, followed, false, "unverändert", false},
        {"still no link", Fetched(0), Fetched(0), Fetched(0), false, "unverändert", false},
        {"never fetched, still no link", Fetched(0), Failed(404), std::nullopt, true, "unverändert", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const storage::RowChange change = storage::ChangeOf(
            c.now, c.latest ? &*c.latest : nullptr, c.lastSeen ? &*c.lastSeen : nullptr, c.toldUnreachable);
        EXPECT_EQ(change.word, c.word);
        EXPECT_EQ(change.loss, c.loss);
    }
}

TEST(Changes, SummaryNotesAndReportFromAComparison) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const auto at = [](const char* url, PageRow row) {
        row.url = url;
        return row;
    };
    storage::ComparisonBase base;
    base.exists = true;
    base.previousTime = 1796133780; // 01.12.2026 14:03 UTC
    base.previous = {at("http://a/", Fetched(1, 1)), at("http://b/", Fetched(1, 1)), at("http://c/", Fetched(2, 2)),
                     at("http://weg/", Fetched(1, 1)), at("http://d/", Failed(403))};
    PageRow formula = at("=HYPERLINK(\"x\")", Fetched(1, 1, "http://d.example/", "<b>\"Müller\"</b>"));
    // A Link-URL listed twice counts once.
    const std::vector<PageRow> now = {at("http://a/", Fetched(0)),
                                      at("http://b/", Fetched(0)),
                                      at("http://c/", Fetched(2, 0)),
                                      at("http://d/", Failed(403)),
                                      formula,
                                      at("http://a/", Fetched(0))};

    const storage::Comparison c = storage::Compare(now, base);
    EXPECT_EQ(c.words, (std::vector<std::string_view>{"Link entfernt", "Link entfernt", "nofollow geworden",
                                                      "blockiert", "neu", "Link entfernt"}));
    EXPECT_EQ(c.losses, (std::vector<bool>{true, true, true, false, false, true}));
    EXPECT_EQ(storage::SummaryLine(c), "Seit der Prüfung vom 01.12.2026 14:03: 2 Links entfernt, 1 nofollow "
                                       "geworden, 1 blockiert, 1 nicht mehr gelistet, 1 neu");
    EXPECT_EQ(storage::NoteLine(c, 2), "Seit 01.12.2026 14:03: nofollow geworden");
    EXPECT_EQ(storage::ChangesCsv(c),
                  "Link-URL,Änderung,vorher,jetzt,Datum der vorherigen Prüfung\r\n"
                  "http://a/,Link entfernt,\"gefunden; 1 Link, follow; Ankertext „Anker“; Ziel http://d.example/\","
                  "nicht gefunden; kein Link,01.12.2026 14:03\r\n"
                  "http://b/,Link entfernt,\"gefunden; 1 Link, follow; Ankertext „Anker“; Ziel http://d.example/\","
                  "nicht gefunden; kein Link,01.12.2026 14:03\r\n"
                  "http://c/,nofollow geworden,\"gefunden; 2 Links, alle follow; Ankertext „Anker“; Ziel "
                  "http://d.example/\",\"gefunden; 2 Links, kein follow; Ankertext „Anker“; Ziel "
                  "http://d.example/\",01.12.2026 14:03\r\n"
                  "http://d/,blockiert,Fehler: HTTP-Status 403,Fehler: HTTP-Status 403,01.12.2026 14:03\r\n"
                  "\"'=HYPERLINK(\"\"x\"\")\",neu,,\"gefunden; 1 Link, follow; Ankertext „<b>\"\"Müller\"\"</b>“; "
                  "Ziel http://d.example/\",\r\n"
                  "http://weg/,nicht mehr gelistet,\"gefunden; 1 Link, follow; Ankertext „Anker“; Ziel "
                  "http://d.example/\",,01.12.2026 14:03\r\n");
    const std::string html = storage::ChangesHtml(c, "m<ü>ller.example");
    EXPECT_NE(html.find("<p>Seit der Prüfung vom 01.12.2026 14:03: 2 Links entfernt"), std::string::npos);
    EXPECT_NE(html.find("Ankertext „&lt;b&gt;&quot;Müller&quot;&lt;/b&gt;“"), std::string::npos);
    EXPECT_NE(html.find("<title>Änderungen m&lt;ü&gt;ller.example</title>"), std::string::npos);
    EXPECT_EQ(html.find("<b>"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);

    const storage::Comparison first = storage::Compare(now, {});
    EXPECT_EQ(first.words, std::vector<std::string_view>(now.size(), "neu"));
    EXPECT_EQ(storage::NoteLine(first, 0), "");
    EXPECT_EQ(storage::SummaryLine(first),
              "Erste Prüfung dieser Domain: Sie ist die Grundlage für den Vergleich bei der nächsten Prüfung.");
}

// The words that are no loss, with their plurals, after the losses; only the new losses count.
TEST(Changes, SummaryPutsLossesFirstAndCountsOnlyNewLosses) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const auto at = [](const char* url, PageRow row) {
        row.url = url;
        return row;
    };
    storage::ComparisonBase base;
    base.exists = true;
    base.previousTime = 1796133780;
    base.previous = {at("http://e/", Failed(404)),   at("http://f/", Failed(0)),
                     at("http://g/", Fetched(1, 1)), at("http://h/", Fetched(1, 1)),
                     at("http://i/", Fetched(1, 1)), at("http://j/", Fetched(0)),
                     at("http://k/", Fetched(1, 1))};
    const std::vector<PageRow> now = {at("http://e/", Failed(404)),
                                      at("http://f/", Failed(404)),
                                      at("http://g/", Fetched(std::nullopt)),
                                      at("http://h/", Fetched(std::nullopt)),
                                      at("http://i/", OnDomain(1)),
                                      at("http://j/", Failed(404)),
                                      at("http://k/", Failed(404))};
    const storage::Comparison c = storage::Compare(now, base);
    EXPECT_EQ(storage::SummaryLine(c),
              "Seit der Prüfung vom 01.12.2026 14:03: 2 Seiten nicht erreichbar, 2 Seiten "
              "weiterhin nicht erreichbar, 1 Seite leitet auf die Domain weiter, 2 Seiten "
              "nicht geprüft");
    EXPECT_EQ(c.losses, (std::vector<bool>{false, false, false, false, false, false, true}));
    EXPECT_EQ(storage::LossCounts(c),
              (std::vector<std::pair<std::string, std::int64_t>>{{"Seite nicht erreichbar", 1}}));
    EXPECT_EQ(storage::NoteLine(c, 4), "Seit 01.12.2026 14:03: leitet auf die Domain weiter");
}
