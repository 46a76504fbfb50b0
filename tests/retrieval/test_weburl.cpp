// The http(s) cases of the web-platform-tests URL data: href or failure as browsers give them.
#include "retrieval/url/WebUrl.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// \\, \t, \r, \n and \u{hex}; a lone surrogate reads as U+FFFD, as a browser's string conversion makes it.
std::string Unescape(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        const char next = field[++i];
        if (next == 't' || next == 'r' || next == 'n') {
            out += next == 't' ? '\t' : next == 'r' ? '\r' : '\n';
        } else if (next == 'u') {
            const std::size_t close = field.find('}', i);
            const unsigned long cp = std::stoul(field.substr(i + 2, close - i - 2), nullptr, 16);
            out += cp >= 0xD800 && cp <= 0xDFFF ? std::string("\xEF\xBF\xBD") : std::string(1, static_cast<char>(cp));
            i = close;
        } else {
            out += next;
        }
    }
    return out;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == '\t')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

} // namespace

TEST(WebUrl, WebPlatformTestsHttpCases) {
    std::ifstream file(QH_TEST_DATA_DIR "/url/wpt_http_cases.tsv");
    ASSERT_TRUE(file) << "tests/data/url/wpt_http_cases.tsv missing";
    std::size_t passed = 0, skipped = 0;
    std::string line;
    while (std::getline(file, line) && !line.starts_with("# input\t")) {
    } // the header, which ends with the column names
    while (std::getline(file, line)) {
        const std::vector<std::string> f = Fields(line);
        ASSERT_EQ(f.size(), 4u) << line;
        if (!f[3].empty()) {
            ++skipped;
            continue;
        }
        const std::string input = Unescape(f[0]), expected = Unescape(f[2]);
        std::optional<retrieval::WebUrl> base;
        if (!f[1].empty()) {
            base = retrieval::ParseWebUrl(Unescape(f[1]));
            ASSERT_TRUE(base) << "base of " << line;
        }
        const auto url = retrieval::ParseWebUrl(input, base ? &*base : nullptr);
        const std::string got = url ? url->href() : "failure";
        EXPECT_EQ(got, expected) << "input: " << f[0] << "  base: " << f[1];
        if (got != expected)
            continue;
        ++passed;
        // A serialization reads back as itself.
        if (url) {
            const auto again = retrieval::ParseWebUrl(got);
            EXPECT_TRUE(again && again->href() == got) << got;
        }
    }
    EXPECT_EQ(passed + skipped, 468u);
    std::printf("%zu cases passed, %zu skipped\n", passed, skipped);
}

// Hosts beyond the shared data: where libidn2's IDNA2008 rules differ from UTS 46 as browsers
// apply it, and the spellings the link check meets.
TEST(WebUrl, HostsMapAsInBrowsers) {
    const struct {
        const char* input;
        const char* href; // null: failure
    } cases[] = {
        {"http://\xF0\x9F\x92\xA9.example/", "http://xn--ls8h.example/"},              // emoji
        {"http://I\xE2\x99\xA5\xEF\xB8\x8F.example/", "http://xn--i-n3p.example/"},    // symbol, VS16 dropped
        {"http://\xC3\xA9\xF0\x9F\x99\x82.de/", "http://xn--9ca4087w.de/"},            // letter and emoji
        {"http://xn--ls8h.de/", "http://xn--ls8h.de/"},                                // A-label of an emoji
        {"http://-\xC3\xBC.de/", "http://xn----eha.de/"},                              // leading hyphen
        {"http://\xC3\xBC--x.de/", "http://xn----x-goa.de/"},                          // hyphens in places 3, 4
        {"http://fa\xC3\x9F.DE/", "http://xn--fa-hia.de/"},                            // nontransitional
        {"http://example\xE3\x80\x82" "de/", "http://example.de/"},                    // ideographic full stop
        {"https://%e2%98%83/", "https://xn--n3h/"},                                    // percent-encoded
        {"http://\xEF\xBD\x85xample.de/", "http://example.de/"},                       // fullwidth
        {"http://xn--zz.de/", nullptr},                                                // no punycode
        {"http://xn--.example.de/", nullptr},
        {"http://xn--a.de/", nullptr},
        {"http://a\xE2\x80\x8D" "b.de/", nullptr},                                     // joiner out of context
        {"http://ab\xEF\xBF\xBD.de/", nullptr},                                        // replacement character
        {"http://\xC2\xAD/", nullptr},                                                 // nothing left
        {"http://0x7f.1/", "http://127.0.0.1/"},
        {"http://a.1.2/", nullptr},
    };
    for (const auto& c : cases) {
        const auto url = retrieval::ParseWebUrl(c.input);
        EXPECT_EQ(url ? url->href() : "failure", c.href != nullptr ? c.href : "failure") << c.input;
    }
}
