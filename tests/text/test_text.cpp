// The text helpers every folder shares.
#include "text/Utf8.h"

#include <gtest/gtest.h>
#include <string>

TEST(Text, Utf8Validation) {
    EXPECT_TRUE(text::IsValidUtf8(""));
    EXPECT_TRUE(text::IsValidUtf8("plain"));
    EXPECT_TRUE(text::IsValidUtf8("Gr\xc3\xbc\xc3\x9f"
                                  "e \xe2\x82\xac \xf0\x9f\x98\x80"));
    EXPECT_FALSE(text::IsValidUtf8("m\xfcller"));        // Windows-1252 umlaut
    EXPECT_FALSE(text::IsValidUtf8("\xc3"));             // cut short
    EXPECT_FALSE(text::IsValidUtf8("\xc0\xaf"));         // overlong
    EXPECT_FALSE(text::IsValidUtf8("\xe0\x80\xaf"));     // overlong
    EXPECT_FALSE(text::IsValidUtf8("\xed\xa0\x80"));     // surrogate
    EXPECT_FALSE(text::IsValidUtf8("\xf4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(text::IsValidUtf8("\xe2\x82"
                                   "A")); // bad continuation
}

TEST(Text, Windows1252Decoding) {
    EXPECT_EQ(text::Windows1252ToUtf8("\xe4\xf6\xfc\xdf \x80 \x9f"), "äöüß € Ÿ");
    // Bytes the code page leaves undefined come through as the C1 controls, as Windows reads them.
    EXPECT_EQ(text::Windows1252ToUtf8("a\x81"
                                      "b\x9d"),
              "a\xc2\x81"
              "b\xc2\x9d");
    // Longer than one conversion buffer.
    const std::string many(5000, '\xe4');
    std::string expected;
    for (int i = 0; i < 5000; ++i)
        expected += "ä";
    EXPECT_EQ(text::Windows1252ToUtf8(many), expected);
}
