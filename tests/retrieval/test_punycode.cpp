// The punycode coder against RFC 3492's sample strings, and the inputs its decoder must refuse.
#include "retrieval/url/Punycode.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct Sample {
    const char* name;
    std::u32string unicode;
    std::string punycode;
};

// RFC 3492, section 7.1.
const Sample kSamples[] = {
    {"Arabic (Egyptian)",
     U"\u0644\u064A\u0647\u0645\u0627\u0628\u062A\u0643\u0644\u0645\u0648\u0634\u0639\u0631\u0628\u064A"
     U"\u061F",
     "egbpdaj6bu4bxfgehfvwxn"},
    {"Chinese (simplified)", U"\u4ED6\u4EEC\u4E3A\u4EC0\u4E48\u4E0D\u8BF4\u4E2D\u6587",
     "ihqwcrb4cv8a8dqg056pqjye"},
    {"Chinese (traditional)", U"\u4ED6\u5011\u7232\u4EC0\u9EBD\u4E0D\u8AAA\u4E2D\u6587",
     "ihqwctvzc91f659drss3x8bo0yb"},
    {"Czech", U"Pro\u010Dprost\u011Bnemluv\u00ED\u010Desky", "Proprostnemluvesky-uyb24dma41a"},
    {"Hebrew",
     U"\u05DC\u05DE\u05D4\u05D4\u05DD\u05E4\u05E9\u05D5\u05D8\u05DC\u05D0\u05DE\u05D3\u05D1\u05E8\u05D9\u05DD"
     U"\u05E2\u05D1\u05E8\u05D9\u05EA",
     "4dbcagdahymbxekheh6e0a7fei0b"},
    {"Hindi (Devanagari)",
     U"\u092F\u0939\u0932\u094B\u0917\u0939\u093F\u0928\u094D\u0926\u0940\u0915\u094D\u092F\u094B\u0902\u0928"
     U"\u0939\u0940\u0902\u092C\u094B\u0932\u0938\u0915\u0924\u0947\u0939\u0948\u0902",
     "i1baa7eci9glrd9b2ae1bj0hfcgg6iyaf8o0a1dig0cd"},
    {"Japanese (kanji and hiragana)",
     U"\u306A\u305C\u307F\u3093\u306A\u65E5\u672C\u8A9E\u3092\u8A71\u3057\u3066\u304F\u308C\u306A\u3044\u306E"
     U"\u304B",
     "n8jok5ay5dzabd5bym9f0cm5685rrjetr6pdxa"},
    {"3<nen>B<gumi><kinpachi><sensei>", U"3\u5E74B\u7D44\u91D1\u516B\u5148\u751F",
     "3B-ww4c5e180e575a65lsy2b"},
    {"<amuro><namie>-with-SUPER-MONKEYS", U"\u5B89\u5BA4\u5948\u7F8E\u6075-with-SUPER-MONKEYS",
     "-with-SUPER-MONKEYS-pc58ag80a8qai00g7n9n"},
    {"<hitotsu><yane><no><shita>2", U"\u3072\u3068\u3064\u5C4B\u6839\u306E\u4E0B2", "2-u9tlzr9756bt3uc0v"},
    {"Maji<de>Koi<suru>5<byou><mae>", U"Maji\u3067Koi\u3059\u308B5\u79D2\u524D",
     "MajiKoi5-783gue6qz075azm5e"},
    {"<pafii>de<runba>", U"\u30D1\u30D5\u30A3\u30FCde\u30EB\u30F3\u30D0", "de-jg4avhby1noc0d"},
    {"<sono><supiido><de>", U"\u305D\u306E\u30B9\u30D4\u30FC\u30C9\u3067", "d9juau41awczczp"},
    {"-> $1.00 <-", U"-> $1.00 <-", "-> $1.00 <--"},
    {"empty", U"", ""},
};

} // namespace

TEST(Punycode, RfcSamplesBothWays) {
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(retrieval::PunycodeEncode(s.unicode), s.punycode);
        EXPECT_EQ(retrieval::PunycodeDecode(s.punycode), s.unicode);
    }
}

TEST(Punycode, RefusesWhatNoEncoderWrites) {
    const struct {
        const char* name;
        std::string input;
    } cases[] = {
        {"a character that is no digit", "abc-d!e"},
        {"non-ASCII", "abc-\xC3\xA4"},
        {"a number cut off", "ihqwcrb4cv8a8dqg056pqjy9"},
        {"an overflow", "99999999999999"},
        {"a surrogate", "qf0c"},
        {"beyond U+10FFFF", "en32g"},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(retrieval::PunycodeDecode(c.input).has_value()) << c.name << ": " << c.input;
    EXPECT_FALSE(retrieval::PunycodeEncode(std::u32string{U'a', char32_t{0xD800}}).has_value());
    EXPECT_FALSE(retrieval::PunycodeEncode(std::u32string(1, char32_t{0x110000})).has_value());
}
