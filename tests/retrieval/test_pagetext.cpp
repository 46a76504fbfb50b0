#include "retrieval/PageText.h"

#include <gtest/gtest.h>
#include <string>

using retrieval::DecodePage;
using retrieval::MentionsDomain;

namespace {

const std::string kMuellerUtf8 = "m\xC3\xBCller.example";
const std::string kMuellerLatin1 = "m\xFCller.example";

std::string Utf16(const std::string& ascii, bool littleEndian) {
    std::string out;
    for (char c : ascii) {
        out += littleEndian ? c : '\0';
        out += littleEndian ? '\0' : c;
    }
    return out;
}

} // namespace

TEST(PageText, CharsetFromContentTypeHeader) {
    using retrieval::detail::CharsetFromContentType;
    EXPECT_EQ(CharsetFromContentType("text/html; charset=ISO-8859-1"), "ISO-8859-1");
    EXPECT_EQ(CharsetFromContentType("text/html;Charset=\"utf-8\" ; q=1"), "utf-8");
    EXPECT_EQ(CharsetFromContentType("text/html; format=flowed; charset = koi8-r"), "koi8-r");
    EXPECT_EQ(CharsetFromContentType("text/html"), "");
    EXPECT_EQ(CharsetFromContentType(""), "");
}

TEST(PageText, MetaCharsetDeclarations) {
    using retrieval::detail::CharsetFromMeta;
    EXPECT_EQ(CharsetFromMeta("<html><head><META CHARSET=\"iso-8859-15\"></head>"), "iso-8859-15");
    EXPECT_EQ(CharsetFromMeta("<meta http-equiv='Content-Type' content='text/html; charset=windows-1250'>"),
              "windows-1250");
    EXPECT_EQ(CharsetFromMeta("<meta content=\"text/html; charset=koi8-r\" http-equiv=Content-Type>"),
              "koi8-r");
    // Without http-equiv a content attribute says nothing about the encoding.
    EXPECT_EQ(CharsetFromMeta("<meta name=\"x\" content=\"text/html; charset=koi8-r\">"), "");
    EXPECT_EQ(CharsetFromMeta("<!-- <meta charset=koi8-r> --><p>"), "");
    EXPECT_EQ(CharsetFromMeta("<metadata charset=koi8-r>"), "");
    // Only the first 4 KiB are looked at.
    EXPECT_EQ(CharsetFromMeta(std::string(4090, ' ') + "<meta charset=koi8-r>"), "");
    EXPECT_EQ(CharsetFromMeta(std::string(4000, ' ') + "<meta charset=koi8-r>"), "koi8-r");
}

TEST(PageText, UmlautDomainFoundInEveryEncoding) {
    const std::string latin1Page = "<a href=\"http://www." + kMuellerLatin1 + "/\">M\xFCller</a>";
    const std::string latin1Text = DecodePage(latin1Page, "text/html; charset=ISO-8859-1");
    EXPECT_TRUE(MentionsDomain(latin1Text, kMuellerUtf8)) << latin1Text;

    const std::string metaPage = "<html><head><meta charset=\"iso-8859-1\"></head><body>" + kMuellerLatin1;
    EXPECT_TRUE(MentionsDomain(DecodePage(metaPage, "text/html"), kMuellerUtf8));

    const std::string utf8Page = "<p>" + kMuellerUtf8 + "</p>";
    EXPECT_EQ(DecodePage(utf8Page, ""), utf8Page);

    const std::string utf16le =
        "\xFF\xFE" + Utf16("<p>m", true) + std::string("\xFC\0", 2) + Utf16("ller.example</p>", true);
    EXPECT_EQ(DecodePage(utf16le, ""), "<p>" + kMuellerUtf8 + "</p>");
    const std::string utf16be =
        "\xFE\xFF" + Utf16("<p>m", false) + std::string("\0\xFC", 2) + Utf16("ller.example</p>", false);
    EXPECT_EQ(DecodePage(utf16be, "text/html"), "<p>" + kMuellerUtf8 + "</p>");
}

TEST(PageText, WhichDeclarationWins) {
    const std::string latin1Body = "<meta charset=utf-8>" + kMuellerLatin1;
    // The header goes before the meta declaration, the meta declaration before guessing.
    EXPECT_EQ(DecodePage(latin1Body, "text/html; charset=latin1"), "<meta charset=utf-8>" + kMuellerUtf8);
    EXPECT_EQ(DecodePage("<meta charset=koi8-r>\xE1", ""), "<meta charset=koi8-r>\xD0\x90");
    // A byte order mark of the declared charset is no text.
    EXPECT_EQ(DecodePage("\xEF\xBB\xBF"
                         "abc",
                         "text/html; charset=utf-8"),
              "abc");
    EXPECT_EQ(DecodePage("\xEF\xBB\xBF"
                         "abc",
                         ""),
              "abc");
    // An unknown label counts as absent: the next rule decides.
    EXPECT_EQ(DecodePage("<meta charset=latin1>" + kMuellerLatin1, "text/html; charset=no-such-set"),
              "<meta charset=latin1>" + kMuellerUtf8);
    EXPECT_EQ(DecodePage(kMuellerLatin1, "text/html; charset=no-such-set"), kMuellerUtf8);
    // Only plain labels reach iconv: a suffix such as //IGNORE makes the label unknown.
    EXPECT_EQ(DecodePage(kMuellerLatin1, "text/html; charset=\"iso-8859-5//IGNORE\""), kMuellerUtf8);
    // A meta declaration of UTF-16 is readable as ASCII, so the page is not UTF-16.
    EXPECT_EQ(DecodePage("<meta charset=utf-16>" + kMuellerUtf8, ""), "<meta charset=utf-16>" + kMuellerUtf8);
    // ISO-8859-1 is read as Windows-1252, like browsers do: 0x80 is the euro sign.
    EXPECT_EQ(DecodePage("\x80", "text/html; charset=iso-8859-1"), "\xE2\x82\xAC");
}

TEST(PageText, UndeclaredBodiesAreUtf8OrWindows1252) {
    EXPECT_EQ(DecodePage("", ""), "");
    EXPECT_EQ(DecodePage(kMuellerUtf8, ""), kMuellerUtf8);
    EXPECT_EQ(DecodePage(kMuellerLatin1 + " \x93quoted\x94", ""),
              kMuellerUtf8 + " \xE2\x80\x9Cquoted\xE2\x80\x9D");
}

TEST(PageText, InvalidBytesBecomeReplacementCharacters) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(DecodePage("a\xFF"
                         "b\xC3",
                         "text/html; charset=utf-8"),
              "a" + fffd + "b" + fffd);
    // An unpaired surrogate costs one code unit, and the text behind it stays aligned.
    const std::string lone = std::string("a\0\x00\xD8"
                                         "b\0",
                                         6);
    EXPECT_EQ(DecodePage(lone, "text/plain; charset=utf-16le"), "a" + fffd + "b");
    // Odd length: the last byte cannot be decoded.
    EXPECT_EQ(DecodePage(std::string("a\0b", 3), "text/plain; charset=utf-16le"), "a" + fffd);
    EXPECT_EQ(DecodePage("\x81", "text/html; charset=shift_jis"), fffd);
}

TEST(PageText, PlainDomainSearchIsCaseSensitive) {
    EXPECT_TRUE(MentionsDomain("see http://shop.example/x", "shop.example"));
    EXPECT_FALSE(MentionsDomain("see http://Shop.Example/x", "shop.example"));
    EXPECT_FALSE(MentionsDomain("anything", ""));
    EXPECT_FALSE(MentionsDomain("", ""));
    EXPECT_FALSE(MentionsDomain("", "a"));
}

TEST(PageText, InternationalisedDomainsInBothForms) {
    const std::string ascii = "xn--mller-kva.example";
    EXPECT_TRUE(MentionsDomain("<a href=\"https://" + ascii + "/\">", kMuellerUtf8));
    EXPECT_TRUE(MentionsDomain("Besuchen Sie " + kMuellerUtf8, ascii));
    EXPECT_TRUE(MentionsDomain("stra\xC3\x9F"
                               "e.example",
                               "xn--strae-oqa.example"));
    EXPECT_FALSE(MentionsDomain("<a href=\"https://" + ascii + "/\">", "m\xC3\xBCller.other"));

    // Case keeps counting: capitals have no ASCII form, and the capital ASCII form is not the domain.
    EXPECT_FALSE(MentionsDomain(ascii, "M\xC3\xBCller.example"));
    EXPECT_FALSE(MentionsDomain(kMuellerUtf8, "XN--MLLER-KVA.example"));
    EXPECT_EQ(retrieval::detail::OtherIdnaForm("XN--MLLER-KVA.example"), std::nullopt);

    // What is no domain at all is searched as typed, nothing more.
    EXPECT_EQ(retrieval::detail::OtherIdnaForm("shop.example"), std::nullopt);
    EXPECT_EQ(retrieval::detail::OtherIdnaForm("xn--zz.example"), std::nullopt);
    EXPECT_EQ(retrieval::detail::OtherIdnaForm("http://m\xC3\xBCller.example/"), std::nullopt);
    EXPECT_EQ(retrieval::detail::OtherIdnaForm("m\xFCller.example"), std::nullopt);
    EXPECT_TRUE(MentionsDomain("http://m\xC3\xBCller.example/a", "http://m\xC3\xBCller.example/"));
}
