// What the commands store in the history and how stored runs are compared: the domain and page
// keys runs are matched on, and a comparison of stored runs with pages listed twice, written
// another way, or moved between http and https.
#include "retrieval/RunHistory.h"
#include "tests/storage/StorageTestSupport.h"

#include <gtest/gtest.h>

using namespace storage_test;
using storage::PageRow;

namespace {

using Counts = std::vector<std::pair<std::string, std::int64_t>>;

// A page with `links` links to the domain, all followed, keyed as the Prüfe keys it.
PageRow Page(const std::string& url, std::int64_t links) {
    PageRow row;
    row.url = url;
    row.key = retrieval::PageKey(url);
    row.status = links > 0 ? "gefunden" : "nicht gefunden";
    row.httpStatus = 200;
    row.linkCount = links;
    row.followCount = links;
    return row;
}

} // namespace

// One domain, one history: however the domain is typed, as the link finder reads it.
TEST(RunHistory, DomainAndPageKeys) {
    const struct {
        const char* typed;
        const char* key;
    } domains[] = {
        {"müller.example", "xn--mller-kva.example"},
        {"www.Müller.example", "xn--mller-kva.example"},
        {"https://www.müller.example:8443/shop?x=1", "xn--mller-kva.example"},
        {" MÜLLER.EXAMPLE.:8080 ", "xn--mller-kva.example"},
        {"www.de", "www.de"},
        {"127.0.0.1:8080", "127.0.0.1"},
        {"[::1]:8080", "[::1]"},
        {"", ""},
    };
    for (const auto& d : domains) {
        SCOPED_TRACE(d.typed);
        EXPECT_EQ(retrieval::DomainKey(d.typed), d.key);
    }
    const struct {
        const char* url;
        const char* key;
    } pages[] = {
        {"HTTP://Blog.Example", "http://blog.example/"},
        {"http://blog.example:80/a", "http://blog.example/a"},
        {"https://blog.example:443/a#kommentare", "https://blog.example/a"},
        {"http://blog.example:8080/a?b=1", "http://blog.example:8080/a?b=1"},
        {"http://Müller.example/ä", "http://xn--mller-kva.example/%C3%A4"},
        {"ftp://blog.example/a", "ftp://blog.example/a"},
        {"keine Adresse", "keine Adresse"},
    };
    for (const auto& p : pages) {
        SCOPED_TRACE(p.url);
        EXPECT_EQ(retrieval::PageKey(p.url), p.key);
    }
}

// Pages are matched on their normalised address, and one that only changed between http and https
// keeps its history, also from a run before the previous one; a page listed twice counts once.
TEST(RunHistory, StoredRunsCompareByNormalisedAddress) {
    TempFolder folder;
    const std::string key = retrieval::DomainKey("müller.example");
    std::vector<std::int64_t> runs;
    const auto store = [&](std::time_t time, const std::vector<PageRow>& rows) {
        storage::History::Opened opened = storage::History::Open(folder.path());
        ASSERT_TRUE(opened.history) << opened.fault.reason;
        const auto run = opened.history->BeginCrossCheck(time, "müller.example", key);
        ASSERT_FALSE(opened.history->AddCrossRows(run.value, 0, rows));
        ASSERT_FALSE(opened.history->FinishCrossCheck(run.value));
        runs.push_back(run.value);
    };
    store(1000, {Page("HTTP://Blog.Example", 1), Page("http://shop.example/a", 1),
                 Page("http://doppelt.example/", 1), Page("http://doppelt.example/", 1),
                 Page("http://beide.example/", 1), Page("http://weg.example/", 1),
                 Page("http://umzug.example/", 1)});
    store(2000, {Page("http://blog.example/", 0), Page("https://shop.example/a", 1),
                 Page("http://doppelt.example/", 0), Page("http://doppelt.example/", 0),
                 Page("http://beide.example/", 1), Page("https://beide.example/", 1)});
    store(3000, {Page("https://umzug.example/", 0)});

    // Typed with "www.": the same history.
    const auto second = retrieval::CompareStoredRuns(folder.path(), "www.müller.example", runs[1], runs[0]);
    ASSERT_FALSE(second.fault) << second.fault.reason;
    const storage::Comparison& c = second.value;
    EXPECT_EQ(c.words, (std::vector<std::string_view>{"Link entfernt", "unverändert", "Link entfernt",
                                                      "Link entfernt", "unverändert", "neu"}));
    EXPECT_EQ(storage::ChangeCounts(c),
              (Counts{{"Link entfernt", 2}, {"nicht mehr gelistet", 2}, {"neu", 1}}));
    EXPECT_EQ(storage::LossCounts(c), (Counts{{"Link entfernt", 2}}));

    const auto third = retrieval::CompareStoredRuns(folder.path(), "müller.example", runs[1], runs[2]);
    ASSERT_FALSE(third.fault) << third.fault.reason;
    EXPECT_EQ(third.value.words, std::vector<std::string_view>{"Link entfernt"});
    ASSERT_FALSE(third.value.entries.empty());
    EXPECT_EQ(third.value.entries[0].beforeTime, 1000);
}
