#include "retrieval/LinkReport.h"
#include "retrieval/page/LinkFinder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace std::string_literals;
using retrieval::FindLinks;
using retrieval::HeaderList;
using retrieval::LinkLimits;
using retrieval::LinkScan;
using retrieval::LinkVerdict;

namespace {

constexpr const char* kDomain = "halmtest.example";
constexpr const char* kPageUrl = "https://blog.example/artikel/eins.html";

// One line per kept link: target, rel ("follow" or its tokens), anchor; "img" for an image
// anchor. Then the robots directives, if any.
std::string Describe(const LinkVerdict& v) {
    std::string out;
    for (const retrieval::PageLink& l : v.links) {
        std::string rel = l.followed() ? "follow" : "";
        for (const auto& [set, name] : {std::pair{l.nofollow, "nofollow"},
                                        std::pair{l.sponsored, "sponsored"}, std::pair{l.ugc, "ugc"}})
            if (set)
                rel += (rel.empty() ? "" : "+") + std::string(name);
        out += l.target + " " + rel + " \"" + l.anchor + "\"" + (l.image ? " img" : "") + "\n";
    }
    const retrieval::RobotsDirectives& r = v.robots;
    for (const auto& [set, name] :
         {std::pair{r.metaNoindex, "meta-noindex"}, std::pair{r.metaNofollow, "meta-nofollow"},
          std::pair{r.headerNoindex, "header-noindex"}, std::pair{r.headerNofollow, "header-nofollow"}})
        if (set)
            out += std::string(name) + "\n";
    return out;
}

std::string Repeat(const std::string& unit, std::size_t times) {
    std::string out;
    out.reserve(unit.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += unit;
    return out;
}

} // namespace

TEST(LinkFinder, FindsTheLinksToTheDomainAndHowTheyAreMeant) {
    const struct {
        const char* name;
        std::string page;
        std::string expected;
        const char* domain = kDomain;
        const char* pageUrl = kPageUrl;
        HeaderList headers = {};
    } cases[] = {
        {"plain link, white space collapsed",
         "<p><a href='https://halmtest.example/'>  Halm\n <b>Test</b>&nbsp;Shop </a></p>",
         "https://halmtest.example/ follow \"Halm Test Shop\"\n"},
        {"relative link, <base> on a subdomain",
         "<base href='https://www.halmtest.example/blog/eintrag.html'><a href='../preise?x=1#neu'>Preise</a>",
         "https://www.halmtest.example/preise?x=1#neu follow \"Preise\"\n"},
        {"<base> after the link still applies; scheme-relative link",
         "<a href='produkt'>P</a><base href='https://halmtest.example/shop/'><a "
         "href='//cdn.halmtest.example/x'>C</a>",
         "https://halmtest.example/shop/produkt follow \"P\"\nhttps://cdn.halmtest.example/x follow \"C\"\n"},
        {"host case, final dot, port, user, backslashes, white space in the address",
         "<a href=' HTTP://HalmTest.Example.:8080/a '>a</a><a href='http://u@SHOP.halmtest.example\\b'>b</a>",
         "http://halmtest.example.:8080/a follow \"a\"\nhttp://u@shop.halmtest.example/b follow \"b\"\n"},
        {"look-alike hosts, other schemes, links in a template, an SVG link",
         "<a href='http://halmtest.example.evil.test/'>1</a><a href='http://nothalmtest.example/'>2</a>"
         "<a href='mailto:info@halmtest.example'>3</a><a href='ftp://halmtest.example/'>4</a>"
         "<a href='javascript:location=\"https://halmtest.example/\"'>5</a>"
         "<template><a href='https://halmtest.example/'>6</a></template>"
         "<svg><a href='https://halmtest.example/'>7</a></svg><a>8 halmtest.example</a>",
         ""},
        {"Unicode domain, link in the ASCII form", "<a href='http://www.xn--mller-kva.example/'>M</a>",
         "http://www.xn--mller-kva.example/ follow \"M\"\n", "müller.example"},
        {"ASCII domain, link in the Unicode form with capitals and percent escapes",
         "<a href='http://MÜLLER.example/x'>1</a><a href='https://m%C3%BCller.example/'>2</a>",
         "http://xn--mller-kva.example/x follow \"1\"\nhttps://xn--mller-kva.example/ follow \"2\"\n",
         "xn--mller-kva.example"},
        {"domain typed as an address", "<a href='http://halmtest.example/'>h</a>",
         "http://halmtest.example/ follow \"h\"\n", " https://HalmTest.example/start "},
        {"rel variants",
         "<a rel='nofollow' href='http://halmtest.example/1'>1</a>"
         "<a rel='Sponsored noopener' href='http://halmtest.example/2'>2</a>"
         "<a rel=' ugc\tNOFOLLOW ' href='http://halmtest.example/3'>3</a>"
         "<a rel='noopener noreferrer' href='http://halmtest.example/4'>4</a>",
         "http://halmtest.example/1 nofollow \"1\"\nhttp://halmtest.example/2 sponsored \"2\"\n"
         "http://halmtest.example/3 nofollow+ugc \"3\"\nhttp://halmtest.example/4 follow \"4\"\n"},
        {"image anchors and an image map",
         "<a href='http://halmtest.example/'><img src='l.png' alt=' Halm  Logo '></a>"
         "<a href='http://halmtest.example/'><img src='l.png'></a>"
         "<a href='http://halmtest.example/'><img alt='Pfeil'> Weiter</a>"
         "<map><area href='http://halmtest.example/karte' alt='Karte'></map>",
         "http://halmtest.example/ follow \"Halm Logo\" img\nhttp://halmtest.example/ follow \"\" img\n"
         "http://halmtest.example/ follow \"Pfeil Weiter\"\nhttp://halmtest.example/karte follow \"Karte\" "
         "img\n"},
        {"meta robots by name, any case; other crawlers do not count",
         "<meta name='ROBOTS' content='NoIndex, follow'><meta name='googlebot' content='none'>"
         "<meta name='bingbot' content='noindex'>",
         "meta-noindex\nmeta-nofollow\n"},
        {"X-Robots-Tag for every crawler and for googlebot; other crawlers and valued directives",
         "<p>halmtest.example</p>",
         "header-noindex\nheader-nofollow\n",
         kDomain,
         kPageUrl,
         {{"x-robots-tag", "unavailable_after: 25 Jun 2030 15:00:00 PST, noindex"},
          {"X-Robots-Tag", "otherbot: none"},
          {"X-Robots-Tag", "googlebot: max-snippet: 20, nofollow"}}},
        // A NUL in body text is dropped by the tree construction.
        {"broken markup and NUL bytes",
         "<div <a href=x>\0<table><a href='http://halmtest.example/'>Halm\0Test</td><p"s,
         "http://halmtest.example/ follow \"HalmTest\"\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const LinkVerdict v = FindLinks(c.page, c.pageUrl, c.headers, c.domain);
        EXPECT_EQ(v.scan, LinkScan::Complete);
        EXPECT_EQ(Describe(v), c.expected);
        EXPECT_EQ(v.linkCount, v.links.size());
    }
}

// Scripts count where a browser runs code, as far as the limit: only such a page is rendered.
TEST(LinkFinder, CountsTheScriptsABrowserWouldRun) {
    const struct {
        const char* name;
        std::string page;
        std::size_t scripts;
    } cases[] = {
        {"inline code and a source", "<script>var a = 1;</script><p>x</p><script src='/x.js'></script>", 2},
        {"types that run",
         "<script type=' Text/JavaScript '>a()</script><script type=module>b()</script>"
         "<script type=''>c()</script><script type='text/javascript; charset=utf-8'>d()</script>",
         4},
        {"data and templates do not run",
         "<script type='application/ld+json'>{}</script><script type='text/template'><a "
         "href=x>t</a></script>",
         0},
        {"empty, blank, blank source", "<script></script><script> \n </script><script src=' '></script>", 0},
        {"inline SVG runs; a template or MathML does not",
         "<svg><script>a()</script><script "
         "href='/s.js'></script></svg><template><script>b()</script></template>"
         "<math><script>c()</script></math>",
         2},
        {"counted up to the limit", Repeat("<script>x()</script>", retrieval::kMaxScriptsCounted + 500),
         retrieval::kMaxScriptsCounted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FindLinks(c.page, kPageUrl, {}, kDomain).scripts, c.scripts);
    }
}

// Addresses resolve as in a browser, where that differs from RFC 3986: the link goes where a
// click would go, and its target reads back as the same address.
TEST(LinkFinder, ResolvesLikeABrowser) {
    const struct {
        const char* pageUrl;
        const char* base; // null: no <base>
        const char* href;
        const char* domain;
        const char* target; // null: not counted
    } cases[] = {
        // Scheme and at most one slash: relative, also in <base>.
        {"http://evil.test/a/b", nullptr, "http:/example.de/", "example.de", nullptr},
        {"http://other.test/", "http://evil.test/a/b", "HTTP:\\EXAMPLE.DE\\", "evil.test", "http://evil.test/EXAMPLE.DE/"},
        {"http://evil.test/a/b", "http:/example.de/", "x", "example.de", nullptr},
        {"http://evil.test/", nullptr, "http://xn--zz.example.de/", "example.de", nullptr},
        {"http://evil.test/", nullptr, "http://xn--.example.de/", "example.de", nullptr},
        // Spellings browsers follow to the domain.
        {"http://evil.test/", nullptr, "https:example.de/", "example.de", "https://example.de/"},
        {"http://evil.test/", nullptr, "http:////example.de/", "example.de", "http://example.de/"},
        {"http://evil.test/", nullptr, "http://a@b@example.de/", "example.de", "http://a%40b@example.de/"},
        {"http://evil.test/", nullptr, "http://example\u3002de/", "example.de", "http://example.de/"},
        {"http://evil.test/", nullptr, "https://%e2%98%83.de/", "\u2603.de", "https://xn--n3h.de/"},
        {"http://evil.test/", nullptr, "http://xn--ls8h.de/", "\U0001F4A9.de", "http://xn--ls8h.de/"},
        // A base of another scheme leads relative links nowhere; an unparsable one is ignored.
        {"http://other.test/a/b", "sc:sd", "//example.de/x", "example.de", nullptr},
        {"http://other.test/a/b", "about:blank", "//example.de/x", "example.de", nullptr},
        {"http://other.test/a/b", "file:///c/", "//example.de/x", "example.de", nullptr},
        {"http://other.test/a/b", "about:blank", "http://example.de/", "example.de", "http://example.de/"},
        {"http://other.test/a/b", "http://[", "//example.de/x", "example.de", "http://example.de/x"},
        {"http://other.test/a/b", "javascript:void(0)", "//example.de/x", "example.de", "http://example.de/x"},
        // Query and fragment percent-encoded, their backslashes kept.
        {"http://evil.test/", nullptr, "http://example.de/p q?r s\\t#u v\\\u00e4", "example.de",
         "http://example.de/p%20q?r%20s\\t#u%20v\\%C3%A4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.href) + " on " + c.pageUrl);
        std::string page = c.base != nullptr ? "<base href=\"" + std::string(c.base) + "\">" : "";
        page += "<a href=\"" + std::string(c.href) + "\">x</a>";
        const LinkVerdict v = FindLinks(page, c.pageUrl, {}, c.domain);
        EXPECT_EQ(v.linkCount, c.target != nullptr ? 1u : 0u);
        if (c.target != nullptr && v.links.size() == 1) {
            EXPECT_EQ(v.links[0].target, c.target);
        }
    }
}

// Hostile pages end in a bounded effort and say how; what was found before a cap is kept.
TEST(LinkFinder, LimitsHoldOnHostilePages) {
    const std::string link = "<a href='http://halmtest.example/' rel=nofollow>x</a>";
    LinkLimits limits;
    limits.maxLinksExamined = 10;
    limits.maxLinksKept = 3;
    LinkVerdict v =
        FindLinks(Repeat("<a href=/other>o</a>", 5) + Repeat(link, 20), kPageUrl, {}, kDomain, limits);
    EXPECT_EQ(v.scan, LinkScan::CapReached);
    EXPECT_EQ(v.examined, 10u);
    EXPECT_EQ(v.linkCount, 5u);
    EXPECT_EQ(v.followCount, 0u);
    EXPECT_EQ(v.links.size(), 3u);

    // A tree deeper than a recursive walk or gumbo's own recursive release could go.
    v = FindLinks(Repeat("<span>", 200'000) + "<a href='http://halmtest.example/'>tief</a>", kPageUrl, {},
                  kDomain);
    EXPECT_EQ(Describe(v), "http://halmtest.example/ follow \"tief\"\n");

    // Megabyte-long attributes and anchor text.
    const std::string huge(1 << 20, 'a');
    v = FindLinks("<a href='http://halmtest.example/" + huge + "'>1</a><a title='" + huge +
                      "' href='http://halmtest.example/'>" + huge + "</a>",
                  kPageUrl, {}, kDomain);
    ASSERT_EQ(v.links.size(), 1u);
    EXPECT_EQ(v.links[0].anchor, std::string(300, 'a') + "\xE2\x80\xA6");

    // Nesting that makes the HTML5 tree construction quadratic: stopped by the time limit.
    limits = LinkLimits();
    limits.maxParseTime = std::chrono::milliseconds(50);
    v = FindLinks(Repeat("<div>", 400'000) + link, kPageUrl, {}, kDomain, limits);
    EXPECT_EQ(v.scan, LinkScan::TooSlow);
    EXPECT_TRUE(v.links.empty());

    limits = LinkLimits();
    limits.maxParserBytes = 1 << 20;
    v = FindLinks(Repeat(link, 20'000), kPageUrl, {}, kDomain, limits);
    EXPECT_EQ(v.scan, LinkScan::TooLarge);
    EXPECT_LE(v.parserPeakBytes, std::size_t{1} << 20);

    const std::atomic<bool> stop{true};
    v = FindLinks(Repeat(link, 20'000), kPageUrl, {}, kDomain, LinkLimits(), &stop);
    EXPECT_EQ(v.scan, LinkScan::Stopped);

    EXPECT_EQ(FindLinks(link, kPageUrl, {}, " ").scan, LinkScan::NoDomain);

    // A page that ends in a character reference without ";", right before memory that cannot be
    // read: nothing past the view is touched.
    const long pageSize = sysconf(_SC_PAGESIZE);
    void* pages = mmap(nullptr, 2 * static_cast<std::size_t>(pageSize), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    char* guard = static_cast<char*>(pages) + pageSize;
    ASSERT_EQ(mprotect(guard, static_cast<std::size_t>(pageSize), PROT_NONE), 0);
    const std::string edge = "<a href=http://halmtest.example/>x</a><a title=&amp";
    std::copy(edge.begin(), edge.end(), guard - edge.size());
    v = FindLinks(std::string_view(guard - edge.size(), edge.size()), kPageUrl, {}, kDomain);
    EXPECT_EQ(v.linkCount, 1u);
    munmap(pages, 2 * static_cast<std::size_t>(pageSize));
}

// Only what a browser shows: blocks, table cells and line breaks stand apart, inline elements join.
TEST(LinkFinder, AnchorTextSeparatesBlocksAsRendered) {
    const struct {
        const char* inner;
        const char* anchor;
    } cases[] = {
        {"<div>Logo</div><div>Titel</div>", "Logo Titel"},
        {"<table><tr><td>Halm</td><th>Test</th></tr><tr><td>Shop</td></tr></table>", "Halm Test Shop"},
        {"<p>Eins</p>Zwei<br>Drei<ul><li>x</li><li>y</li></ul>", "Eins Zwei Drei x y"},
        {"<h2>Titel</h2><span>Halm</span><b>Test</b>", "Titel HalmTest"},
        {"<div> <div>A</div> </div>", "A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.inner);
        const LinkVerdict v =
            FindLinks("<a href='http://halmtest.example/'>"s + c.inner + "</a>", kPageUrl, {}, kDomain);
        ASSERT_EQ(v.links.size(), 1u);
        EXPECT_EQ(v.links[0].anchor, c.anchor);
    }
}

// The anchor is collected up to its display limit of 300 characters (after white space is
// collapsed), whatever lies around it.
TEST(LinkFinder, AnchorTextIsCutAtItsDisplayLimit) {
    const std::string ae = "\xC3\xA4";
    const std::string exact = Repeat("ab ", 99) + "abc";
    const struct {
        std::string inner;
        std::string anchor;
    } cases[] = {
        {Repeat(ae, 301), Repeat(ae, 300) + "…"},
        {"<b>" + exact + "</b> \n <i> </i>", exact},
        {exact + "<br>d", exact + "…"},
        {Repeat("&nbsp;", 700) + "<b>Halm</b> <img alt='Test'>", "Halm Test"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.anchor);
        const LinkVerdict v =
            FindLinks("<a href='http://halmtest.example/'>" + c.inner + "</a>", kPageUrl, {}, kDomain);
        ASSERT_EQ(v.links.size(), 1u);
        EXPECT_EQ(v.links[0].anchor, c.anchor);
    }
    // Nested links, each with its own anchor.
    const LinkVerdict v = FindLinks(
        Repeat("<a href='http://halmtest.example/'><object>", 3) + Repeat("x", 400), kPageUrl, {}, kDomain);
    ASSERT_EQ(v.links.size(), 3u);
    for (const retrieval::PageLink& l : v.links)
        EXPECT_EQ(l.anchor, std::string(300, 'x') + "…");
}

TEST(LinkFinder, LeadingWwwOfTheTypedDomainIsOptional) {
    const struct {
        const char* typed;
        const char* href;
        bool counted;
    } cases[] = {
        {"www.halmtest.example", "http://halmtest.example/", true},
        {"WWW.HalmTest.example", "http://shop.halmtest.example/", true},
        {"https://www.halmtest.example/start", "http://HALMTEST.example/", true},
        {"www.halmtest.example", "http://halmtest.example.evil.test/", false},
        {"www.example", "http://other.example/", false}, // no domain left without it
        {"wwwhalmtest.example", "http://halmtest.example/", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.typed) + " " + c.href);
        const LinkVerdict v = FindLinks("<a href='"s + c.href + "'>x</a>", kPageUrl, {}, c.typed);
        EXPECT_EQ(v.linkCount, c.counted ? 1u : 0u);
    }
}

// A linking page that now leads onto the domain itself (an expired or bought domain) is no
// backlink, whatever links it holds.
TEST(LinkFinder, PageOnTheDomainItselfCountsNoLink) {
    using table::CellMark;
    const struct {
        const char* finalUrl;
        long redirects;
        std::string note;
        CellMark mark;
    } cases[] = {
        {"https://halmtest.example/neu", 1,
         "Seite leitet auf die Domain selbst weiter\nweitergeleitet nach https://halmtest.example/neu",
         CellMark::NotFound},
        {"http://Shop.HalmTest.Example.:8080/", 2,
         "Seite leitet auf die Domain selbst weiter\nweitergeleitet nach http://Shop.HalmTest.Example.:8080/",
         CellMark::NotFound},
        {"https://blog.halmtest.example/a", 0, "Seite liegt auf der Domain selbst", CellMark::NotFound},
        {"https://halmtest.example.evil.test/", 1,
         "Link vorhanden (follow) – Ankertext „Halm“\nweitergeleitet nach "
         "https://halmtest.example.evil.test/",
         CellMark::Found},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.finalUrl);
        retrieval::PageCheck check;
        check.status = "gefunden";
        check.finalUrl = c.finalUrl;
        check.redirects = c.redirects;
        check.links = FindLinks("<a href='https://halmtest.example/'>Halm</a>", c.finalUrl, {}, kDomain);
        EXPECT_EQ(check.links.linkCount, c.mark == CellMark::Found ? 1u : 0u);
        EXPECT_EQ(retrieval::PageNote(check), c.note);
        EXPECT_EQ(retrieval::PageMark(check), c.mark);
        EXPECT_EQ(retrieval::DetailLines(check).at(0).at(10),
                  c.mark == CellMark::Found ? "" : c.note.substr(0, c.note.find('\n')));
    }
}

// Title, main heading and canonical address, for the soft 404 and the note: shown text, bounded,
// and the canonical address where search engines read it.
TEST(LinkFinder, ReadsWhatThePageSaysOfItself) {
    const struct {
        const char* name;
        std::string page;
        HeaderList headers;
        const char* expected; // title|heading|canonical
    } cases[] = {
        {"shown text",
         "<title> Seite   nicht\n gefunden </title><h1>Oops! <img alt='404'> <b>Fehler</b></h1>",
         {},
         "Seite nicht gefunden|Oops! 404 Fehler|"},
        {"the first of each; an SVG title is no page title",
         "<svg><title>Symbol</title></svg><title>Echt</title><title>Zweit</title><h1>Eins</h1><h1>Zwei</h1>",
         {},
         "Echt|Eins|"},
        {"canonical after <base>",
         "<base href='https://cdn.example/x/'><link rel='Canonical' href='../kanon'>",
         {},
         "||https://cdn.example/kanon"},
        {"canonical among other rel tokens",
         "<link rel='alternate canonical' href='/a#teil'>",
         {},
         "||https://blog.example/a#teil"},
        {"a canonical link in the body does not count", "<p>Text</p><link rel=canonical href=/b>", {}, "||"},
        {"no web address", "<link rel=canonical href='mailto:info@blog.example'>", {}, "||"},
        {"Link header, relative to the answer's address, not <base>",
         "<base href='https://cdn.example/'>",
         {{"Link", "</style.css>; rel=preload; as=style, </kanon?a=1,2>; rel=\"canonical\""}},
         "||https://blog.example/kanon?a=1,2"},
        {"a quoted comma is no new entry",
         "",
         {{"link", "</x>; title=\"a, <b>\"; rel=canonical"}},
         "||https://blog.example/x"},
        {"other relations only", "", {{"Link", "</x>; rel=\"next\", </y>; rel=alternate"}}, "||"},
        {"the page's element before the header",
         "<link rel=canonical href=/element>",
         {{"Link", "</kopf>; rel=canonical"}},
         "||https://blog.example/element"},
    };
    for (const auto& c : cases) {
        const LinkVerdict v = FindLinks(c.page, kPageUrl, c.headers, kDomain);
        EXPECT_EQ(v.title + "|" + v.heading + "|" + v.canonical, c.expected) << c.name;
    }
    const LinkVerdict longTitle =
        FindLinks("<title>" + std::string(400, 'T') + "</title>", kPageUrl, {}, kDomain);
    EXPECT_EQ(longTitle.title, std::string(300, 'T') + "…");
}

// The canonical address shows where it names another page, in the note and the Robots column.
TEST(LinkReport, CanonicalAddressElsewhereIsNoted) {
    retrieval::PageCheck c;
    c.status = "gefunden";
    c.url = "http://blog.example/a?utm=x";
    c.finalUrl = "https://blog.example/a";
    c.links.linkCount = c.links.followCount = 1;
    c.links.links.resize(1);
    c.links.links[0].anchor = "Halm";
    c.links.robots.metaNoindex = true;
    c.links.canonical = "https://blog.example/b";
    EXPECT_EQ(retrieval::PageNote(c), "Link vorhanden (follow) – Ankertext „Halm“\naber Seite auf noindex "
                                      "(Meta-Robots); kanonisch: https://blog.example/b");
    EXPECT_EQ(retrieval::DetailLines(c).at(0).at(9),
              "noindex (Meta-Robots); kanonisch: https://blog.example/b");
    c.links.canonical = "https://blog.example/a#oben"; // the page itself
    EXPECT_EQ(retrieval::CanonicalElsewhere(c), "");
    EXPECT_EQ(retrieval::DetailLines(c).at(0).at(9), "noindex (Meta-Robots)");
    c.links.robots = {};
    c.links.canonical = "https://blog.example/" + std::string(200, 'k');
    EXPECT_EQ(retrieval::PageNote(c),
              "Link vorhanden (follow) – Ankertext „Halm“\nkanonisch: https://blog.example/" +
                  std::string(59, 'k') + "…");
    EXPECT_EQ(retrieval::DetailLines(c).at(0).at(9), "kanonisch: " + c.links.canonical);
}

TEST(LinkReport, NoteAndColourOfEachKindOfVerdict) {
    using retrieval::PageLink;
    using table::CellMark;
    const auto link = [](const char* anchor, bool followed = true) {
        PageLink l;
        l.target = "http://halmtest.example/";
        l.anchor = anchor;
        l.nofollow = !followed;
        return l;
    };
    const auto check = [](std::vector<PageLink> links, std::size_t followCount,
                          const char* status = "gefunden") {
        retrieval::PageCheck c;
        c.status = status;
        c.links.linkCount = links.size();
        c.links.followCount = followCount;
        c.links.links = std::move(links);
        return c;
    };
    PageLink image = link("");
    image.image = true;
    PageLink sponsored = link("S", true);
    sponsored.sponsored = true;
    PageLink ugc = link("U", true);
    ugc.ugc = true;

    std::vector<std::pair<retrieval::PageCheck, std::string>> cases;
    cases.push_back({check({link("A"), link("B"), link("C")}, 3), "3 Links, alle follow – Ankertext „A“"});
    cases.push_back({check({link("A", false), link("B"), link("C", false)}, 1),
                     "3 Links, davon 1 follow – Ankertext „B“"});
    cases.push_back({check({sponsored, ugc}, 0), "2 Links, alle mit nofollow, sponsored oder ugc"});
    cases.push_back({check({image}, 1), "Link vorhanden (follow) – Bild ohne Alt-Text\n"
                                        "aber Seite auf noindex, nofollow (Meta-Robots)"});
    cases.back().first.links.robots.metaNoindex = cases.back().first.links.robots.metaNofollow = true;
    cases.push_back({check({link("A")}, 1),
                     "Link vorhanden (follow) – Ankertext „A“\naber Seite auf noindex "
                     "(X-Robots-Tag), nofollow (Meta-Robots); nur die ersten 10.000 Links "
                     "der Seite geprüft"});
    cases.back().first.links.robots.headerNoindex = cases.back().first.links.robots.metaNofollow = true;
    cases.back().first.links.scan = LinkScan::CapReached;
    cases.back().first.links.examined = 10'000;
    cases.push_back({check({}, 0), "Links nicht geprüft: Seite zu umfangreich"});
    cases.back().first.links.scan = LinkScan::TooLarge;
    cases.push_back(
        {check({}, 0, "nicht gefunden"),
         "Kein Link auf die Domain\nweitergeleitet nach https://neu.example/" + std::string(60, 'x') + "…"});
    cases.back().first.redirects = 2;
    cases.back().first.finalUrl = "https://neu.example/" + std::string(100, 'x');

    const CellMark marks[] = {CellMark::Found,     CellMark::Found, CellMark::FoundWeak, CellMark::FoundWeak,
                              CellMark::FoundWeak, CellMark::Found, CellMark::NotFound};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].second);
        EXPECT_EQ(retrieval::PageNote(cases[i].first), cases[i].second);
        EXPECT_EQ(retrieval::PageMark(cases[i].first), marks[i]);
    }
}

// Text from the page or the fetch never breaks a note into more lines or makes it long.
TEST(LinkReport, NotesStayTwoShortLinesOfPlainText) {
    const auto check = [](const char* status, std::string anchor) {
        retrieval::PageCheck c;
        c.status = status;
        retrieval::PageLink l;
        l.anchor = std::move(anchor);
        l.hostAsWritten = "HalmTest.example";
        c.links.links = {l};
        c.links.linkCount = c.links.followCount = 1;
        return c;
    };
    std::vector<std::pair<retrieval::PageCheck, std::string>> cases;
    cases.push_back({check("gefunden", "Halm\u2028Test\u202E\u2066Shop\u0085\u2029\x01!\tEnde\r\n"),
                     "Link vorhanden (follow) – Ankertext „Halm TestShop ! Ende“"});
    cases.push_back({check("gefunden", std::string(300, 'a')),
                     "Link vorhanden (follow) – Ankertext „" + std::string(80, 'a') + "…“"});
    cases.push_back({check("nicht gefunden", "A"),
                     "Link vorhanden (follow) – Ankertext „A“\nweitergeleitet nach https://neu.example/ ÿ; "
                     "Textsuche erkennt die Schreibweise im Link nicht: " +
                         std::string(80, 'x') + "…"});
    cases.back().first.redirects = 1;
    cases.back().first.finalUrl = "https://neu.example/\n\xFF";
    cases.back().first.links.links[0].hostAsWritten = std::string(60'000, 'x');
    cases.push_back({check("Fehler", ""), "Verbindung abgebrochen (" + std::string(136, 'r') + "…"});
    cases.back().first.reason = "Verbindung\r\nabgebrochen\u2029(" + std::string(1000, 'r');
    for (const auto& [c, note] : cases) {
        SCOPED_TRACE(note);
        EXPECT_EQ(retrieval::PageNote(c), note);
    }
}
