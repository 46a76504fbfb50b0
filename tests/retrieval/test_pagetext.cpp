#include "retrieval/page/PageText.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

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

// The header is read as a MIME type, as browsers read it: an invalid type or subtype means no
// charset; parameter names are tokens; a quoted value takes backslash escapes, runs to the end when
// its quote is not closed, and what follows its closing quote is ignored.
TEST(PageText, CharsetFromContentTypeHeader) {
    using retrieval::detail::CharsetFromContentType;
    const std::pair<const char*, const char*> cases[] = {
        {"text/html; charset=ISO-8859-1", "ISO-8859-1"},
        {"text/html;Charset=\"utf-8\" ; q=1", "utf-8"},
        {" text/html ;;\tcharset=koi8-r \t", "koi8-r"},
        {"text/html; charset=\"koi8-r", "koi8-r"},
        {"text/html; charset=\"koi\\8-r\"", "koi8-r"},
        {"text/html; charset=\"koi8-r\"x; q=1", "koi8-r"},
        {"text/html; charset=koi8-r; charset=utf-8", "koi8-r"},
        {"text/html; charset=; charset=koi8-r", "koi8-r"},
        {"text/html; charset =koi8-r", ""},
        {"text/html; format=flowed; charset = koi8-r", ""},
        {"garbage; charset=koi8-r", ""},
        {"text /html; charset=koi8-r", ""},
        {"text/; charset=koi8-r", ""},
        {"\ftext/html; charset=koi8-r", ""},
        {"text/html charset=koi8-r", ""},
        {"text/html", ""},
        {"", ""}};
    for (const auto& [contentType, charset] : cases)
        EXPECT_EQ(CharsetFromContentType(contentType), charset) << contentType;
}

TEST(PageText, LabelsAreThoseOfTheEncodingStandard) {
    using retrieval::detail::EncodingForLabel;
    const std::pair<const char*, const char*> cases[] = {
        {" LATIN1\t", "windows-1252"},
        {"us-ascii", "windows-1252"},
        {"utf8", "UTF-8"},
        {"unicode", "UTF-16LE"},
        {"x-sjis", "Shift_JIS"},
        {"gb2312", "GBK"},
        {"iso-2022-kr", "replacement"},
        {"logical", "ISO-8859-8-I"},
        // Names iconv knows, which would turn an ASCII page into noise, are no labels.
        {"UCS4", ""},
        {"UNICODELITTLE", ""},
        {"CSUNICODE11", ""},
        {"WCHAR_T", ""},
        {"ISO-10646", ""},
        {"EBCDIC-CP-US", ""},
        {"IBM037", ""},
        {"utf-32", ""},
        {"utf-8//IGNORE", ""},
        {"utf 8", ""},
        {"", ""}};
    for (const auto& [label, name] : cases)
        EXPECT_EQ(EncodingForLabel(label), name) << label;
}

// The prescan of the HTML standard, including where it differs from a quick search for <meta.
TEST(PageText, PrescanFindsTheDeclarationAsBrowsersDo) {
    using retrieval::detail::PrescanEncoding;
    const std::pair<std::string, const char*> cases[] = {
        {"<html><head><META CHARSET=\"iso-8859-15\"></head>", "ISO-8859-15"},
        {"<meta http-equiv='Content-Type' content='text/html; charset=windows-1250'>", "windows-1250"},
        {"<meta content=\"text/html; charset=koi8-r\" http-equiv=Content-Type>", "KOI8-R"},
        {"<meta name=\"x\" content=\"text/html; charset=koi8-r\">", ""}, // content needs http-equiv
        {"<meta http-equiv=\"Content-Type \" content=\"text/html; charset=koi8-r\">", ""},
        {"<meta http-equiv=content-type content=\"text/html; charset='koi8-r\">", ""}, // unclosed quote
        {"<meta http-equiv=content-type content=\"text/html; charset=koi8-r\" charset=utf-8>", "UTF-8"},
        {"<meta charset=koi8-r charset=utf-8>", "KOI8-R"}, // the first of an attribute counts
        {"<meta charset=no-such-set><meta charset=koi8-r>", "KOI8-R"},
        {"<meta charset=UCS4><p>", ""},
        {"<meta charset=utf-16le>", "UTF-8"},
        {"<meta charset=x-user-defined>", "windows-1252"},
        {"<p title=\"<meta charset=koi8-r>\"><meta charset=iso-8859-5>", "ISO-8859-5"},
        {"<!-- <meta charset=koi8-r> --><p>", ""},
        {"<!--><meta charset=koi8-r>", "KOI8-R"},
        {"<!DOCTYPE html><?xml x?></p><meta/charset=koi8-r>", "KOI8-R"},
        {"<metadata charset=koi8-r>", ""},
        {"<meta charset=koi8-r", ""}, // an unfinished tag counts for nothing
        {"<meta charset=\"koi8-r>", ""},
        {std::string("<\0?\0x\0", 6), "UTF-16LE"},
        // Without a meta declaration, an XML declaration at the very start names the encoding.
        {"<?xml version=\"1.0\" encoding=\"windows-1251\"?><html>", "windows-1251"},
        {"<?xml version='1.0' encoding \t= 'KOI8-R'?>", "KOI8-R"},
        {"<?xml encoding=\"utf-16\"?>", "UTF-8"},
        {"<?xml encoding=\"x-user-defined\"?>", "x-user-defined"},
        {"<?xml encoding=\"koi8-r\"?><meta charset=iso-8859-5>", "ISO-8859-5"},
        {"<?xml encoding=\"koi8-r\"?><meta charset=iso-8859-5", "KOI8-R"},
        {" <?xml encoding=\"koi8-r\"?>", ""},
        {"<?XML encoding=\"koi8-r\"?>", ""},
        {"<?xml Encoding=\"koi8-r\"?>", ""},
        {"<?xml encoding=koi8-r?>", ""},
        {"<?xml encoding=\" koi8-r\"?>", ""},
        {"<?xml encoding=\"koi8-r\"", ""},
        {"<?xml version=\"1.0\"?><p>encoding=\"koi8-r\"</p>", ""},
        {"<?xml encoding=\"koi8-r\"" + std::string(4100, ' ') + "?>", ""},
        // Only the first 4 KiB are looked at.
        {std::string(4090, ' ') + "<meta charset=koi8-r>", ""},
        {std::string(4000, ' ') + "<meta charset=koi8-r>", "KOI8-R"},
    };
    for (const auto& [body, name] : cases)
        EXPECT_EQ(PrescanEncoding(body), name) << body;
}

TEST(PageText, DecodesByTheDeclarationThatWins) {
    const std::string bom = "\xEF\xBB\xBF", fffd = "\xEF\xBF\xBD";
    const std::string xml1251 = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>";
    struct Case {
        std::string body, contentType, text;
    };
    const std::vector<Case> cases{
        // The header goes before the meta declaration, the meta declaration before guessing.
        {"<meta charset=utf-8>" + kMuellerLatin1, "text/html; charset=latin1",
         "<meta charset=utf-8>" + kMuellerUtf8},
        {"<meta charset=koi8-r>\xE1", "", "<meta charset=koi8-r>\xD0\x90"},
        // A byte order mark of the declared charset is no text.
        {bom + "abc", "text/html; charset=utf-8", "abc"},
        {bom + "abc", "", "abc"},
        // An unknown label counts as absent: the next rule decides.
        {"<meta charset=latin1>" + kMuellerLatin1, "text/html; charset=no-such-set",
         "<meta charset=latin1>" + kMuellerUtf8},
        {kMuellerLatin1, "text/html; charset=no-such-set", kMuellerUtf8},
        // Only plain labels reach iconv: a suffix such as //IGNORE makes the label unknown.
        {kMuellerLatin1, "text/html; charset=\"iso-8859-5//IGNORE\"", kMuellerUtf8},
        // A byte order mark goes before the header.
        {bom + kMuellerUtf8, "text/html; charset=latin1", kMuellerUtf8},
        {"\xFF\xFE" + Utf16("ab", true), "text/html; charset=utf-8", "ab"},
        // A header label that is no label of the standard counts as absent, and so does a meta one.
        {"<p>plain</p>", "text/html; charset=ucs-4", "<p>plain</p>"},
        {"<meta charset=ebcdic-cp-us><p>plain</p>", "", "<meta charset=ebcdic-cp-us><p>plain</p>"},
        {"ab", "text/html; charset=utf-16", std::string("\xE6\x89\xA1")},
        {"a\x80", "text/html; charset=x-user-defined", "a\xEF\x9E\x80"},
        {"<p>a</p>", "text/html; charset=iso-2022-kr", fffd},
        // A meta declaration of UTF-16 is readable as ASCII, so the page is not UTF-16.
        {"<meta charset=utf-16>" + kMuellerUtf8, "", "<meta charset=utf-16>" + kMuellerUtf8},
        // An XML declaration counts after the header and a meta declaration.
        {xml1251 + "\xEF\xF0\xE8\xEC\xE5\xF0.\xF0\xF4", "text/html", xml1251 + "пример.рф"},
        {xml1251 + "\xE0", "text/html; charset=koi8-r", xml1251 + "Ю"},
        // One character per byte: a letter and the combining mark after it stay two code points,
        // and bytes that glibc leaves undefined decode as the standard's index has them.
        {"example.de\xEC", "text/html; charset=windows-1258", "example.de\xCC\x81"},
        {"\xE0\xC8\xCA\x81", "text/html; charset=windows-1255", "\xD7\x90\xD6\xB8\xD6\xBA\xC2\x81"},
        {"\x81\x80", "text/html; charset=cp1258", "\xC2\x81\xE2\x82\xAC"},
        // ISO-8859-1 is read as Windows-1252, like browsers do: 0x80 is the euro sign.
        {"\x80", "text/html; charset=iso-8859-1", "\xE2\x82\xAC"},
        // A byte order mark tells UTF-16 in either order.
        {"\xFF\xFE" + Utf16("<p>m", true) + std::string("\xFC\0", 2) + Utf16("ller.example</p>", true), "",
         "<p>" + kMuellerUtf8 + "</p>"},
        {"\xFE\xFF" + Utf16("<p>m", false) + std::string("\0\xFC", 2) + Utf16("ller.example</p>", false),
         "text/html", "<p>" + kMuellerUtf8 + "</p>"},
        // Undeclared bodies are UTF-8 or else Windows-1252.
        {"", "", ""},
        {kMuellerUtf8, "", kMuellerUtf8},
        {kMuellerLatin1 + " \x93quoted\x94", "", kMuellerUtf8 + " \xE2\x80\x9Cquoted\xE2\x80\x9D"},
        // Invalid bytes become replacement characters; an unpaired surrogate costs one code unit and
        // the text behind it stays aligned; of an odd length the last byte cannot be decoded.
        {"a\xFF" + std::string("b\xC3"), "text/html; charset=utf-8", "a" + fffd + "b" + fffd},
        {std::string("a\0\0\xD8\x62\0", 6), "text/plain; charset=utf-16le", "a" + fffd + "b"},
        {std::string("a\0b", 3), "text/plain; charset=utf-16le", "a" + fffd},
        {"\x81", "text/html; charset=shift_jis", fffd},
        // UTF-8 as Unicode defines it: no five- or six-byte forms, nothing above U+10FFFF, no
        // surrogates; each byte that cannot continue a sequence counts on its own.
        {"a\xF5\x80\x80\x80" + std::string("b"), "text/html; charset=utf-8",
         "a" + fffd + fffd + fffd + fffd + "b"},
        {"\xFC\x84\x80\x80\x80\x80", "text/html; charset=utf-8", fffd + fffd + fffd + fffd + fffd + fffd},
        {"\xF4\x90\x80\x80\xED\xA0\x80", "text/html; charset=utf-8",
         fffd + fffd + fffd + fffd + fffd + fffd + fffd},
        {"\xE2\x82" + std::string("x\xF0\x9F\x98\x80\xF0\x9F\x98"), "text/html; charset=utf-8",
         fffd + "x\xF0\x9F\x98\x80" + fffd},
    };
    for (const auto& [body, contentType, text] : cases)
        EXPECT_EQ(DecodePage(body, contentType), text) << contentType << ": " << body;
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
    // What is no domain at all is searched as typed, nothing more.
    for (const char* typed : {"XN--MLLER-KVA.example", "shop.example", "xn--zz.example",
                              "http://m\xC3\xBCller.example/", "m\xFCller.example"})
        EXPECT_EQ(retrieval::detail::OtherIdnaForm(typed), std::nullopt) << typed;
    EXPECT_TRUE(MentionsDomain("http://m\xC3\xBCller.example/a", "http://m\xC3\xBCller.example/"));
}
