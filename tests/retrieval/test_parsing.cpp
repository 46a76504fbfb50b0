#include "retrieval/Parsing.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

using retrieval::ExtractRecords;
using retrieval::Lines;
using retrieval::Record;
using retrieval::Service;
using retrieval::SplitTags;

namespace {

using Strings = std::vector<std::string>;
using Records = std::vector<Record>;

Strings LinesOf(const std::string& text) {
    Strings out;
    for (std::string_view l : Lines(text))
        out.emplace_back(l);
    return out;
}

Records Parse(const std::string& answer, Service service) {
    const std::string split = SplitTags(answer);
    return ExtractRecords(Lines(split), service);
}

Records ParseFixture(const std::string& name, Service service) {
    std::ifstream in(std::string(QH_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    std::ostringstream s;
    s << in.rdbuf();
    return Parse(s.str(), service);
}

// Records of a split answer given line by line, so tests can place cells at exact offsets.
Records FromLines(const Strings& lines, Service service) {
    std::string split;
    for (const auto& l : lines)
        split += l + "\r\n";
    return ExtractRecords(Lines(split), service);
}

} // namespace

TEST(SplitTags, PutsEveryTagOnItsOwnLine) {
    EXPECT_EQ(SplitTags("a<b>c"), "a\r\n<b>\r\nc");
    const std::vector<std::pair<std::string, Strings>> cases{
        {"", {}},
        {"no tags", {"no tags"}},
        {"<x><y>", {"", "<x>", "", "<y>"}},
        // Brackets are split wherever they stand, even unpaired or inside attribute values.
        {"<a t=\"x>y\">", {"", "<a t=\"x>", "y\">"}},
        {"1 < 2", {"1 ", "< 2"}},
        // A lone LF between elements is one line of its own, a CR LF adds a line.
        {"</a>\n<b>", {"", "</a>", "\n", "<b>"}},
        {"</a>\r\n<b>", {"", "</a>", "", "", "<b>"}},
    };
    for (const auto& [answer, lines] : cases)
        EXPECT_EQ(LinesOf(SplitTags(answer)), lines) << answer;
}

TEST(Lines, OnlyCrLfSeparates) {
    const std::vector<std::pair<std::string, Strings>> cases{
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"\r\n", {""}},
        {"\r\n\r\n", {"", ""}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"a\nb\rc", {"a\nb\rc"}},
        {"a\r\r\nb\n\r\n", {"a\r", "b\n"}},
        {"a\r\n\nb\r", {"a", "\nb\r"}},
    };
    for (const auto& [text, lines] : cases)
        EXPECT_EQ(LinesOf(text), lines) << text;
}

TEST(ExtractRecords, ReadsSeokicksCellsAtTheirOffsets) {
    Strings lines(25);
    for (std::size_t i = 0; i < lines.size(); ++i)
        lines[i] = 'L' + std::to_string(i);
    lines[2] = "<url>";
    lines[8] = "<![CDATA[ Anker &amp; Text ]]>";
    EXPECT_EQ(FromLines(lines, Service::Seokicks), (Records{{"L3", " Anker &amp; Text ", "L13", "L21"}}));
}

TEST(ExtractRecords, ReadsXoviCellsUnchanged) {
    EXPECT_EQ(Parse("<linkingUrl> http://a.example/?x=1&amp;y=2 </linkingUrl>\n"
                    "<anchor><![CDATA[Anker]]></anchor>",
                    Service::Xovi),
              (Records{{" http://a.example/?x=1&amp;y=2 ", ""}}));
    EXPECT_EQ(Parse("<linkingUrl>u</linkingUrl>\n<anchor>&lt;b&gt; \t</anchor>", Service::Xovi),
              (Records{{"u", "&lt;b&gt; \t"}}));
}

TEST(ExtractRecords, CleansCdataMarkersIgnoringCaseInSeokicksAnchorOnly) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"<![cdata[Start]]>", "Start"},
        {"<![CdAtA[a]]>b]]>c<![CDATA[d", "abcd"},
        {"x]]", "x]]"},
        {"<![CDATA[", ""},
        // The opening markers go first, so a closing marker they held apart is removed too.
        {"]]<![CDATA[>", ""},
        // One pass: what a removal joins together is not searched again.
        {"<![CDA<![CDATA[TA[x", "<![CDATA[x"},
        {"Grüße <![CDATA[für]]> dich", "Grüße für dich"},
    };
    for (const auto& [anchorLine, anchor] : cases) {
        // Only the anchor is cleaned.
        EXPECT_EQ(FromLines({"<url>", "<![CDATA[u]]>", "", "", "", "", anchorLine}, Service::Seokicks),
                  (Records{{"<![CDATA[u]]>", anchor, "", ""}}))
            << anchorLine;
    }
}

TEST(ExtractRecords, OnlyTheExactTagLineOpensARecord) {
    const std::string answer = "<URL>a</URL><url id=\"1\">b</url>\n<url >c</url><Url>d</Url>"
                               "<linkingurl>e</linkingurl>";
    EXPECT_TRUE(Parse(answer, Service::Seokicks).empty());
    EXPECT_TRUE(Parse(answer, Service::Xovi).empty());
    // Each service reacts to its own tag only.
    EXPECT_TRUE(Parse("<url>a</url>", Service::Xovi).empty());
    EXPECT_TRUE(Parse("<linkingUrl>a</linkingUrl>", Service::Seokicks).empty());
}

TEST(ExtractRecords, CloseTagLinesGiveOverlappingRecords) {
    EXPECT_EQ(FromLines({"<linkingUrl>", "<linkingUrl>", "x", "y", "z", "w", "v"}, Service::Xovi),
              (Records{{"<linkingUrl>", "w"}, {"x", "v"}}));
}

TEST(ExtractRecords, CellsPastTheLastLineAreEmpty) {
    // Offsets 1 and 6 exist, 11 and 19 lie beyond; the boundary sits exactly at the line count.
    Strings lines{"<url>", "u", "", "", "", "", "a", "", "", "", ""};
    EXPECT_EQ(FromLines(lines, Service::Seokicks), (Records{{"u", "a", "", ""}}));
    lines.push_back("f");
    EXPECT_EQ(FromLines(lines, Service::Seokicks), (Records{{"u", "a", "f", ""}}));
    EXPECT_EQ(ExtractRecords(Lines("x\r\n<linkingUrl>"), Service::Xovi), (Records{{"", ""}}));
}

TEST(Fixtures, SeokicksAnswer) {
    const auto records = ParseFixture("seokicks_answer.xml", Service::Seokicks);
    const Records expected{
        {"http://www.laufblog-beispiel.de/2023/05/neue-schuhe/", "Schuhhaus Beispiel", "1",
         "https://schuhhaus-beispiel.de/"},
        {"https://forum.example.org/thread.php?id=4711&amp;page=2", " Wanderschuhe & Zubehör  ", "0",
         "https://schuhhaus-beispiel.de/wandern/?ref=forum&amp;utm=1"},
        {"http://verzeichnis.example.net/einkaufen/schuhe.html", "", "1", "https://schuhhaus-beispiel.de/"},
        {"https://news.example.com/lokal/eroeffnung", "Mehr beim Schuhhaus", "1",
         "https://schuhhaus-beispiel.de/filialen/"},
    };
    EXPECT_EQ(records, expected);
}

TEST(Fixtures, XoviAnswer) {
    const auto records = ParseFixture("xovi_answer.xml", Service::Xovi);
    const Records expected{
        {"https://www.laufblog-beispiel.de/2023/05/neue-schuhe/", "Schuhhaus Beispiel"},
        {"https://forum.example.org/thread.php?id=4711&amp;page=2", "Wanderschuhe &amp; Zubehör"},
        {"http://verzeichnis.example.net/einkaufen/schuhe.html", ""},
    };
    EXPECT_EQ(records, expected);
}

TEST(Fixtures, CutOffAnswerStillGivesFullRows) {
    const auto records = ParseFixture("seokicks_cutoff.xml", Service::Seokicks);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0][3], "https://schuhhaus-beispiel.de/");
    EXPECT_EQ(records[1],
              (Record{"https://forum.example.org/thread.php?id=4711&amp;page=2", " Wander", "", ""}));
}

TEST(Fixtures, CrLfBetweenElementsShiftsTheOffsets) {
    const auto records = ParseFixture("seokicks_crlf.xml", Service::Seokicks);
    ASSERT_EQ(records.size(), 2u);
    // Every gap between elements now takes two lines: the empty rest of the line and the indent.
    EXPECT_EQ(records[0],
              (Record{"http://www.laufblog-beispiel.de/2023/05/neue-schuhe/", "", "      ", "</linktype>"}));
    EXPECT_EQ(records[1][0], "https://forum.example.org/thread.php?id=4711&amp;page=2");
}
