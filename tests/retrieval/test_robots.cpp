// robots.txt read and applied: the examples of RFC 9309 and the edge cases around them.
#include "retrieval/robots/RobotsTxt.h"

#include <gtest/gtest.h>
#include <string>

using retrieval::RobotsRules;
using Verdict = RobotsRules::Verdict;

namespace {

constexpr Verdict kAllowed = Verdict::Allowed;
constexpr Verdict kDisallowed = Verdict::Disallowed;

const char* const kRfcSimple = "User-Agent: *\n"
                               "Disallow: *.gif$\n"
                               "Disallow: /example/\n"
                               "Allow: /publications/\n"
                               "\n"
                               "User-Agent: foobot\n"
                               "Disallow:/\n"
                               "Allow:/example/page.html\n"
                               "Allow:/example/allowed.gif\n"
                               "\n"
                               "User-Agent: barbot\n"
                               "User-Agent: bazbot\n"
                               "Disallow: /example/page.html\n"
                               "\n"
                               "User-Agent: quxbot\n";

const char* const kRfcLongest = "User-Agent: foobot\n"
                                "Allow: /example/page/\n"
                                "Disallow: /example/page/disallowed.gif\n";

} // namespace

TEST(RobotsTxt, TheGroupOfTheAgentAndTheLongestMatchDecide) {
    const struct {
        const char* name;
        const char* body;
        const char* agent;
        const char* path;
        Verdict expected;
    } cases[] = {
        {"own group: allow inside a disallow of all", kRfcSimple, "foobot", "/example/page.html", kAllowed},
        {"own group: the rest disallowed", kRfcSimple, "foobot", "/example/other.html", kDisallowed},
        {"agent without regard to case", kRfcSimple, "FooBot", "/", kDisallowed},
        {"two agents share a group", kRfcSimple, "bazbot", "/example/page.html", kDisallowed},
        {"... which leaves the rest allowed", kRfcSimple, "barbot", "/example/other.html", kAllowed},
        {"an own group without rules allows all", kRfcSimple, "quxbot", "/example/x.gif", kAllowed},
        {"no own group: '*'", kRfcSimple, "Googlebot", "/example/x", kDisallowed},
        {"'*' group, pattern with '*' and '$'", kRfcSimple, "Googlebot", "/images/a.gif", kDisallowed},
        {"'$' ends the match", kRfcSimple, "Googlebot", "/images/a.gif?size=2", kAllowed},
        {"no rule matches", kRfcSimple, "Googlebot", "/publications/a", kAllowed},
        {"longest match: allow", kRfcLongest, "foobot", "/example/page/", kAllowed},
        {"longest match: disallow", kRfcLongest, "foobot", "/example/page/disallowed.gif", kDisallowed},
        {"allow wins a tie", "User-agent: *\nDisallow: /a\nAllow: /a\n", "Googlebot", "/a/b", kAllowed},
        {"empty Disallow allows", "User-agent: *\nDisallow:\n", "Googlebot", "/a", kAllowed},
        {"product with version", "User-agent: Googlebot/2.1\nDisallow: /p\n", "Googlebot", "/p", kDisallowed},
        {"another product is not ours",
         "User-agent: Googlebot-Image\nDisallow: /\n\nUser-agent: *\nDisallow: /x\n", "Googlebot", "/p",
         kAllowed},
        {"groups of the agent are merged",
         "User-agent: googlebot\nDisallow: /a\n\nUser-agent: *\nDisallow: /\n\nUser-agent: "
         "GOOGLEBOT\nDisallow: /b\n",
         "Googlebot", "/b", kDisallowed},
        {"merged groups, '*' left aside",
         "User-agent: googlebot\nDisallow: /a\n\nUser-agent: *\nDisallow: /\n\nUser-agent: "
         "GOOGLEBOT\nDisallow: /b\n",
         "Googlebot", "/c", kAllowed},
        {"a rule ends the agent lines", "User-agent: a\nDisallow: /x\nUser-agent: googlebot\nDisallow: /p\n",
         "Googlebot", "/x", kAllowed},
        {"sitemap between agent lines keeps the group",
         "User-agent: a\nSitemap: http://s.example/map.xml\nUser-agent: googlebot\nDisallow: /p\n",
         "Googlebot", "/p", kDisallowed},
        {"rules before any agent count for none", "Disallow: /\nUser-agent: *\nDisallow: /x\n", "Googlebot",
         "/p", kAllowed},
        {"keys in any case, comments, CR line ends",
         "\xEF\xBB\xBFUSER-AGENT : googlebot # wir\rDISALLOW:/p # nicht\r", "Googlebot", "/p/q", kDisallowed},
        {"comment cuts the pattern", "User-agent: *\nDisallow: /p#q\n", "Googlebot", "/p", kDisallowed},
        {"line without colon is no rule", "User-agent: *\nDisallow /p\n", "Googlebot", "/p", kAllowed},
        {"pattern that is no path is no rule", "User-agent: *\nDisallow: p\n", "Googlebot", "/p", kAllowed},
        {"query is part of the path", "User-agent: *\nDisallow: /*?\n", "Googlebot", "/a?b=1", kDisallowed},
        {"... and absent from it", "User-agent: *\nDisallow: /*?\n", "Googlebot", "/a", kAllowed},
        {"'$' after a plain path", "User-agent: *\nDisallow: /a$\n", "Googlebot", "/ab", kAllowed},
        {"'$' exact", "User-agent: *\nDisallow: /a$\n", "Googlebot", "/a", kDisallowed},
        {"'*' within", "User-agent: *\nAllow: /this/*/exactly\nDisallow: /this/\n", "Googlebot",
         "/this/and/that/exactly", kAllowed},
        {"'*$' matches to any end", "User-agent: *\nDisallow: /a*$\n", "Googlebot", "/abc", kDisallowed},
        {"'$' within is a plain character", "User-agent: *\nDisallow: /a$b\n", "Googlebot", "/a$b",
         kDisallowed},
        {"%2A matches '*'", "User-agent: *\nDisallow: /path/file-with-a-%2A.html\n", "Googlebot",
         "/path/file-with-a-*.html", kDisallowed},
        {"%24 matches '$'", "User-agent: *\nDisallow: /path/foo-%24\n", "Googlebot", "/path/foo-$",
         kDisallowed},
        {"octets beyond ASCII are encoded", "User-agent: *\nDisallow: /foo/bar/\xE3\x83\x84\n", "Googlebot",
         "/foo/bar/%E3%83%84", kDisallowed},
        {"escapes in either case", "User-agent: *\nDisallow: /foo/bar/%e3%83%84\n", "Googlebot",
         "/foo/bar/%E3%83%84", kDisallowed},
        {"unreserved octets are decoded in the path", "User-agent: *\nDisallow: /foo/bar/baz\n", "Googlebot",
         "/foo/bar/%62%61%7A", kDisallowed},
        {"... and in the pattern", "User-agent: *\nDisallow: /foo/bar/%62%61%7A\n", "Googlebot",
         "/foo/bar/baz", kDisallowed},
        {"a reserved escape stays one", "User-agent: *\nDisallow: /a/b\n", "Googlebot", "/a%2Fb", kAllowed},
        {"/robots.txt is always allowed", "User-agent: *\nDisallow: /\n", "Googlebot", "/robots.txt",
         kAllowed},
        {"empty path is '/'", "User-agent: *\nDisallow: /$\n", "Googlebot", "", kDisallowed},
        {"no groups at all", "# nichts\n", "Googlebot", "/", kAllowed},
        {"an HTML page is no rule", "<html><body>Not found: /</body></html>", "Googlebot", "/", kAllowed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.path);
        EXPECT_EQ(RobotsRules::Parse(c.body, c.agent).check(c.path), c.expected);
    }
}

// The first 500 KiB are read; a line the limit cuts is left out, not read as a shorter pattern.
TEST(RobotsTxt, ReadsUpToTheLimitAndDropsALineItCuts) {
    const std::string head = "User-agent: *\n";
    const auto bodyWithRuleEndingAt = [&](std::size_t end, const std::string& rule) {
        std::string body = head;
        while (body.size() + rule.size() + 40 < end)
            body += "# " + std::string(36, 'x') + "\n";
        body += "#" + std::string(end - body.size() - rule.size() - 2, 'y') + "\n";
        return body + rule;
    };
    const std::size_t limit = retrieval::kRobotsMaxBytes;
    const struct {
        const char* name;
        std::string body;
        const char* path;
        Verdict expected;
    } cases[] = {
        {"rule up to the limit", bodyWithRuleEndingAt(limit, "Disallow: /abc\n") + "Disallow: /x\n", "/abc",
         kDisallowed},
        {"rule after the limit", bodyWithRuleEndingAt(limit, "Disallow: /abc\n") + "Disallow: /x\n", "/x",
         kAllowed},
        {"line end just beyond the limit", bodyWithRuleEndingAt(limit + 1, "Disallow: /abc\n"), "/abc",
         kDisallowed},
        {"rule cut by the limit", bodyWithRuleEndingAt(limit + 2, "Disallow: /abc\n"), "/ab", kAllowed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RobotsRules::Parse(c.body, "Googlebot").check(c.path), c.expected);
    }
}

// Patterns made to make matching slow get no verdict rather than hold up the run.
TEST(RobotsTxt, MatchingThatWouldTakeTooLongDecidesNothing) {
    std::string body = "User-agent: *\n";
    for (int i = 0; i < 5000; ++i)
        body += "Disallow: /*" + std::string(40, 'a') + "b\n";
    const RobotsRules rules = RobotsRules::Parse(body, "Googlebot");
    EXPECT_EQ(rules.size(), 5000u);
    EXPECT_EQ(rules.check("/" + std::string(8000, 'a')), Verdict::Undecided);
    EXPECT_EQ(rules.check("/" + std::string(40, 'a') + "b"), kDisallowed);
}
