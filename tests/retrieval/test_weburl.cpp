// The http(s) cases of the web-platform-tests URL data: href or failure as browsers give them.
#include "retrieval/WebUrl.h"

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
