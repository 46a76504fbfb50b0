#include "retrieval/Parsing.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

using retrieval::ExtractRecords;
using retrieval::Headers;
using retrieval::Lines;
using retrieval::Record;
using retrieval::Service;
using retrieval::SplitTags;

namespace {

std::string ReadFixture(const std::string& name) {
    std::ifstream in(std::string(QH_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> out;
    for (std::string_view l : Lines(text))
        out.emplace_back(l);
    return out;
}

using Strings = std::vector<std::string>;

std::vector<Record> Parse(const std::string& answer, Service service) {
    const std::string split = SplitTags(answer);
    return ExtractRecords(Lines(split), service);
}

// Builds a split answer from explicit lines, so tests can place cells at exact offsets.
std::string Joined(const Strings& lines) {
    std::string out;
    for (const auto& l : lines)
        out += l + "\r\n";
    return out;
}

} // namespace

TEST(SplitTags, PutsEveryTagOnItsOwnLine) {
    EXPECT_EQ(SplitTags("a<b>c"), "a\r\n<b>\r\nc");
    EXPECT_EQ(LinesOf(SplitTags("a<b>c")), (Strings{"a", "<b>", "c"}));
    EXPECT_EQ(LinesOf(SplitTags("<x><y>")), (Strings{"", "<x>", "", "<y>"}));
    EXPECT_EQ(SplitTags(""), "");
    EXPECT_EQ(SplitTags("no tags"), "no tags");
    // Brackets are split wherever they stand, even unpaired or inside attribute values.
    EXPECT_EQ(LinesOf(SplitTags("<a t=\"x>y\">")), (Strings{"", "<a t=\"x>", "y\">"}));
    EXPECT_EQ(LinesOf(SplitTags("1 < 2")), (Strings{"1 ", "< 2"}));
}

TEST(SplitTags, WhitespaceBetweenElementsKeepsOrShiftsOffsets) {
    // A lone LF between elements is one line of its own...
    EXPECT_EQ(LinesOf(SplitTags("</a>\n<b>")), (Strings{"", "</a>", "\n", "<b>"}));
    // ...a CR LF adds a line.
    EXPECT_EQ(LinesOf(SplitTags("</a>\r\n<b>")), (Strings{"", "</a>", "", "", "<b>"}));
}

TEST(Lines, OnlyCrLfSeparates) {
    EXPECT_TRUE(Lines("").empty());
    EXPECT_EQ(LinesOf("a"), (Strings{"a"}));
    EXPECT_EQ(LinesOf("a\r\n"), (Strings{"a"}));
    EXPECT_EQ(LinesOf("\r\n"), (Strings{""}));
    EXPECT_EQ(LinesOf("\r\n\r\n"), (Strings{"", ""}));
    EXPECT_EQ(LinesOf("a\r\n\r\nb"), (Strings{"a", "", "b"}));
    EXPECT_EQ(LinesOf("a\nb\rc"), (Strings{"a\nb\rc"}));
    EXPECT_EQ(LinesOf("a\r\r\nb\n\r\n"), (Strings{"a\r", "b\n"}));
    EXPECT_EQ(LinesOf("a\r\n\nb\r"), (Strings{"a", "\nb\r"}));
}

TEST(ExtractRecords, ReadsSeokicksCellsAtTheirOffsets) {
    Strings lines(25);
    for (std::size_t i = 0; i < lines.size(); ++i)
        lines[i] = "L" + std::to_string(i);
    lines[2] = "<url>";
    lines[8] = "<![CDATA[ Anker &amp; Text ]]>";
    const auto records = ExtractRecords(Lines(Joined(lines)), Service::Seokicks);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], (Record{"L3", " Anker &amp; Text ", "L13", "L21"}));
}

TEST(ExtractRecords, ReadsXoviCellsUnchanged) {
    const std::string answer = "<linkingUrl> http://a.example/?x=1&amp;y=2 </linkingUrl>\n"
                               "<anchor><![CDATA[Anker]]></anchor>";
    const auto records = Parse(answer, Service::Xovi);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], (Record{" http://a.example/?x=1&amp;y=2 ", ""}));

    const auto plain = Parse("<linkingUrl>u</linkingUrl>\n<anchor>&lt;b&gt; \t</anchor>", Service::Xovi);
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0], (Record{"u", "&lt;b&gt; \t"}));
}

TEST(ExtractRecords, CleansCdataMarkersIgnoringCaseInSeokicksAnchorOnly) {
    const auto anchorCell = [](const std::string& anchorLine) {
        Strings lines{"<url>", "<![CDATA[u]]>", "", "", "", "", anchorLine};
        const auto records = ExtractRecords(Lines(Joined(lines)), Service::Seokicks);
        EXPECT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0][0], "<![CDATA[u]]>"); // only the anchor is cleaned
        return records[0][1];
    };
    EXPECT_EQ(anchorCell("<![cdata[Start]]>"), "Start");
    EXPECT_EQ(anchorCell("<![CdAtA[a]]>b]]>c<![CDATA[d"), "abcd");
    EXPECT_EQ(anchorCell("x]]"), "x]]");
    EXPECT_EQ(anchorCell("<![CDATA["), "");
    // The opening markers go first, so a closing marker they held apart is removed too.
    EXPECT_EQ(anchorCell("]]<![CDATA[>"), "");
    // One pass: what a removal joins together is not searched again.
    EXPECT_EQ(anchorCell("<![CDA<![CDATA[TA[x"), "<![CDATA[x");
    EXPECT_EQ(anchorCell("Grüße <![CDATA[für]]> dich"), "Grüße für dich");
}

TEST(ExtractRecords, OnlyTheExactTagLineOpensARecord) {
    const std::string answer = "<URL>a</URL><url id=\"1\">b</url>\n<url >c</url><Url>d</Url>"
                               "<linkingurl>e</linkingurl>";
    EXPECT_TRUE(Parse(answer, Service::Seokicks).empty());
    EXPECT_TRUE(Parse(answer, Service::Xovi).empty());
    // Each service reacts to its own tag only.
    EXPECT_TRUE(Parse("<url>a</url>", Service::Xovi).empty());
    EXPECT_TRUE(Parse("<linkingUrl>a</linkingUrl>", Service::Seokicks).empty());
    EXPECT_TRUE(Parse("", Service::Seokicks).empty());
}

TEST(ExtractRecords, CloseTagLinesGiveOverlappingRecords) {
    Strings lines{"<linkingUrl>", "<linkingUrl>", "x", "y", "z", "w", "v"};
    const auto records = ExtractRecords(Lines(Joined(lines)), Service::Xovi);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], (Record{"<linkingUrl>", "w"}));
    EXPECT_EQ(records[1], (Record{"x", "v"}));
}

TEST(ExtractRecords, CellsPastTheLastLineAreEmpty) {
    // Offsets 1 and 6 exist, 11 and 19 lie beyond; the boundary sits exactly at the line count.
    Strings lines{"<url>", "u", "", "", "", "", "a", "", "", "", ""};
    auto records = ExtractRecords(Lines(Joined(lines)), Service::Seokicks);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], (Record{"u", "a", "", ""}));

    lines.push_back("f");
    records = ExtractRecords(Lines(Joined(lines)), Service::Seokicks);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], (Record{"u", "a", "f", ""}));

    records = ExtractRecords(Lines("x\r\n<linkingUrl>"), Service::Xovi);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], (Record{"", ""}));
}

TEST(Headers, NameTheColumnsOfEachService) {
    EXPECT_EQ(Headers(Service::Seokicks), (Strings{"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"}));
    EXPECT_EQ(Headers(Service::Xovi), (Strings{"Nr.", "Link-URL", "Ankertext"}));
}

TEST(Fixtures, SeokicksAnswer) {
    const auto records = Parse(ReadFixture("seokicks_answer.xml"), Service::Seokicks);
    const std::vector<Record> expected{
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
    const auto records = Parse(ReadFixture("xovi_answer.xml"), Service::Xovi);
    const std::vector<Record> expected{
        {"https://www.laufblog-beispiel.de/2023/05/neue-schuhe/", "Schuhhaus Beispiel"},
        {"https://forum.example.org/thread.php?id=4711&amp;page=2", "Wanderschuhe &amp; Zubehör"},
        {"http://verzeichnis.example.net/einkaufen/schuhe.html", ""},
    };
    EXPECT_EQ(records, expected);
}

TEST(Fixtures, CutOffAnswerStillGivesFullRows) {
    const auto records = Parse(ReadFixture("seokicks_cutoff.xml"), Service::Seokicks);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0][3], "https://schuhhaus-beispiel.de/");
    EXPECT_EQ(records[1],
              (Record{"https://forum.example.org/thread.php?id=4711&amp;page=2", " Wander", "", ""}));
}

TEST(Fixtures, CrLfBetweenElementsShiftsTheOffsets) {
    const auto records = Parse(ReadFixture("seokicks_crlf.xml"), Service::Seokicks);
    ASSERT_EQ(records.size(), 2u);
    // Every gap between elements now takes two lines: the empty rest of the line and the indent.
    EXPECT_EQ(records[0],
              (Record{"http://www.laufblog-beispiel.de/2023/05/neue-schuhe/", "", "      ", "</linktype>"}));
    EXPECT_EQ(records[1][0], "https://forum.example.org/thread.php?id=4711&amp;page=2");
}
