// The Check command's number conversion and URL composition, without a window.
#include "app/contract/Error.h"
#include "retrieval/CheckCommand.h"
#include "retrieval/http/HttpFetch.h"
#include "tests/storage/StorageTestSupport.h"
#include "tests/support/LoopbackServer.h"

#include <gtest/gtest.h>

using retrieval::StrToInt;

TEST(StrToInt, AcceptsSignedDecimalsOfThirtyTwoBits) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("10000"), 10000);
    EXPECT_EQ(StrToInt("-5"), -5);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("007"), 7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
}

TEST(StrToInt, RejectsEverythingElseWithAMessageNamingTheText) {
    for (const char* text : {"", "-", "+", "abc", " 5", "5 ", "1e3", "0x10", "12a", "--1", "2147483648",
                             "-2147483649", "99999999999999999999999"}) {
        SCOPED_TRACE(text);
        try {
            StrToInt(text);
            ADD_FAILURE() << "accepted";
        } catch (const toolkit::Error& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("'") + text + "'"), std::string::npos)
                << e.what();
        }
    }
    // A NUL in the field must not cut the message short where it is read as a C string.
    try {
        StrToInt(std::string("12\0x", 4));
        ADD_FAILURE() << "accepted";
    } catch (const toolkit::Error& e) {
        EXPECT_STREQ(e.what(), "'12\u2400x' ist keine gültige ganze Zahl.");
    }
}

TEST(CheckUrls, ComposeTheServiceRequestsFromTheFieldTexts) {
    EXPECT_EQ(retrieval::SeokicksUrl(retrieval::kSeokicksBase, "c0de", "a&b c.example", "20000"),
              "http://www.seokicks.de/SEOkicksService/V1/inlinkData?appid=c0de&query=a&b%20c.example"
              "&details=2&results=20000&page=1");
    EXPECT_EQ(retrieval::XoviUrl(retrieval::kXoviBase, "k=y", "x.example", "-5"),
              "https://api.xovi.net/index.php?key=k=y&service=links&method=getbacklinks&domain=x.example"
              "&limit=-5&format=xml");
    EXPECT_EQ(retrieval::EncodeForRequestLine("\x7F\x01 #\xE2\x82\xAC%20&="), "%7F%01%20%23%E2%82%AC%20&=");
}

// The stored key and code are hidden wherever they stand in a message, whatever they hold.
TEST(CheckCommand, MessagesHideTheWholeCredentials) {
    const std::string closed = "http://127.0.0.1:" + std::to_string(testsupport::ClosedPort());
    for (const std::string secret : {"abc&def", "a#b c", "geheim&query=x", "k\xC3\xBCr"}) {
        SCOPED_TRACE(secret);
        storage_test::Harness h;
        h.fields.seokicks = secret;
        h.fields.domain = "shop.example";
        retrieval::CheckSetup setup;
        setup.seokicksBase = closed + "/x?appid=";
        setup.makeClient = [](const retrieval::TlsTransport*) {
            return std::make_unique<retrieval::CurlHttpClient>();
        };
        try {
            retrieval::RunCheck(h.window, setup);
            ADD_FAILURE() << "no error";
        } catch (const toolkit::Error& e) {
            EXPECT_STREQ(e.what(), ("Abruf von " + closed +
                                    "/x?appid=***&query=shop.example&details=2&results=1000&page=1 "
                                    "fehlgeschlagen: Verbindung abgelehnt.")
                                       .c_str());
        }
    }
}
