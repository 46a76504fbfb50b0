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

PageRow Failed(std::int64_t httpStatus) {
    PageRow row;
    row.url = "http://seite.example/";
    row.status = "Fehler";
    row.httpStatus = httpStatus;
    row.reason = httpStatus != 0 ? "HTTP-Status " + std::to_string(httpStatus) : "Zeitüberschreitung";
    return row;
}

struct Case {
    const char* name;
    PageRow now;
    std::optional<PageRow> previous;
    std::optional<PageRow> lastSeen;
    bool known;
    std::string_view word;
};

} // namespace

// Every word of the table, and where two apply, the earlier one wins.
TEST(Changes, EachRowGetsTheFirstWordThatApplies) {
    const PageRow followed = Fetched(1, 1);
    const Case cases[] = {
        {"new beats blocked", Failed(403), std::nullopt, std::nullopt, false, "neu"},
        {"new page with a link", followed, std::nullopt, std::nullopt, false, "neu"},
        {"401 blocks", Failed(401), followed, followed, true, "blockiert"},
        {"403 blocks before the lost link", Failed(403), followed, followed, true, "blockiert"},
        {"429 blocks", Failed(429), followed, followed, true, "blockiert"},
        {"503 blocks", Failed(503), followed, followed, true, "blockiert"},
        {"404 is unreachable", Failed(404), followed, followed, true, "Seite nicht erreichbar"},
        {"no connection is unreachable", Failed(0), followed, followed, true, "Seite nicht erreichbar"},
        {"500 is unreachable", Failed(500), Failed(500), followed, true, "Seite nicht erreichbar"},
        {"link removed", Fetched(0), followed, followed, true, "Link entfernt"},
        {"link removed while the page was down last time", Fetched(0), Failed(503), followed, true,
         "Link entfernt"},
        {"nofollow before a new target", Fetched(2, 0, "http://d.example/neu"), followed, followed, true,
         "nofollow geworden"},
        {"follow before a new anchor", Fetched(1, 1, "http://d.example/", "Neu"), Fetched(1, 0), Fetched(1, 0),
         true, "follow geworden"},
        {"back after a failure", followed, Failed(404), followed, true, "wieder da"},
        {"back after a page without link", followed, Fetched(0), Fetched(0), true, "wieder da"},
        {"back, never fetched before", followed, Failed(404), std::nullopt, true, "wieder da"},
        {"target before anchor", Fetched(1, 1, "http://d.example/b", "B"), followed, followed, true,
         "Linkziel geändert"},
        {"anchor", Fetched(1, 1, "http://d.example/", "Neu"), followed, followed, true, "Ankertext geändert"},
        {"same", followed, followed, followed, true, "unverändert"},
        {"still no link", Fetched(0), Fetched(0), Fetched(0), true, "unverändert"},
        {"links not read now", Fetched(std::nullopt), followed, followed, true, "unverändert"},
        {"never fetched, still no link", Fetched(0), Failed(404), std::nullopt, true, "unverändert"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(storage::ChangeWord(c.now, c.previous ? &*c.previous : nullptr,
                                      c.lastSeen ? &*c.lastSeen : nullptr, c.known),
                  c.word);
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
    const std::vector<PageRow> now = {at("http://a/", Fetched(0)), at("http://b/", Fetched(0)),
                                      at("http://c/", Fetched(2, 0)), at("http://d/", Failed(403)), formula};

    const storage::Comparison c = storage::Compare(now, base);
    EXPECT_EQ(c.words, (std::vector<std::string_view>{"Link entfernt", "Link entfernt", "nofollow geworden",
                                                      "blockiert", "neu"}));
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
