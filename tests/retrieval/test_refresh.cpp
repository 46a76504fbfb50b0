// Pages that forward by refresh: the value read as browsers read it, the meta element found by the
// prescan where a browser would act on it, and the address that fetching follows.
#include "retrieval/page/PageText.h"
#include "retrieval/page/Refresh.h"

#include <gtest/gtest.h>
#include <string>

using retrieval::HeaderList;

TEST(Refresh, ValueIsReadAsTheDeclarativeRefreshSteps) {
    const struct {
        std::string value;
        long delay;      // -1: no refresh at all
        const char* url; // null: the page reloads itself
    } cases[] = {
        {"0; url=https://neu.example/", 0, "https://neu.example/"},
        {"5;URL='/ziel?a=1'", 5, "/ziel?a=1"},
        {"  3 , url = \"ziel.html\" trailing", 3, "ziel.html"},
        {"0;url='/a'b'", 0, "/a"},
        {"0; https://neu.example/", 0, "https://neu.example/"},
        {"0; 'quoted.html'", 0, "quoted.html"},
        {"0; uri=/x", 0, "uri=/x"}, // not "url=": the whole rest is the address
        {"0; url /x", 0, "url /x"},
        {"1.5; url=/x", 1, "/x"},
        {".5; url=/x", 0, "/x"},
        {"30", 30, nullptr},
        {"0;", 0, nullptr},
        {"99999999999999999999; url=/x", 1'000'000'000, "/x"},
        {"", -1, nullptr},
        {"soon; url=/x", -1, nullptr},
        {"5x; url=/x", -1, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const auto refresh = retrieval::detail::ParseRefresh(c.value);
        ASSERT_EQ(refresh.has_value(), c.delay >= 0);
        if (!refresh)
            continue;
        EXPECT_EQ(refresh->delay.count(), c.delay);
        EXPECT_EQ(refresh->url.value_or("<none>"), c.url ? c.url : "<none>");
    }
}

TEST(Refresh, PrescanFindsTheMetaElementABrowserActsOn) {
    const std::string far(retrieval::detail::kRefreshPrescanBytes, ' ');
    const struct {
        std::string body;
        const char* content; // null: none
    } cases[] = {
        {"<html><head><meta http-equiv=\"refresh\" content=\"0; URL=/Neu/Seite\"></head>",
         "0; URL=/Neu/Seite"},
        {"<META HTTP-EQUIV=Refresh CONTENT='3;url=x.html'>", "3;url=x.html"},
        {"<meta content=\"0;url=/a\" http-equiv=\"refresh\"/>", "0;url=/a"},
        {"<meta http-equiv=\"refresh\" content=\"0;url=/a\"><meta http-equiv=\"refresh\" "
         "content=\"0;url=/b\">",
         "0;url=/a"},
        {"<body><p>Text</p><meta http-equiv=\"refresh\" content=\"0;url=/spaet\"></body>", "0;url=/spaet"},
        {"<meta http-equiv=\"refresh\">", nullptr},
        {"<meta http-equiv=\"content-type\" content=\"text/html\">", nullptr},
        {"<meta name=\"refresh\" content=\"0;url=/a\">", nullptr},
        // Where a browser with scripts does not act: comments, scripts, noscript, and text.
        {"<!-- <meta http-equiv=\"refresh\" content=\"0;url=/a\"> -->", nullptr},
        {"<noscript><meta http-equiv=\"refresh\" content=\"0;url=/ohne-js\"></noscript>", nullptr},
        {"<NOSCRIPT><META http-equiv=refresh content=0;url=/ohne-js></NOSCRIPT><meta http-equiv=refresh "
         "content=\"0;url=/b\">",
         "0;url=/b"},
        {"<script>document.write('<meta http-equiv=\"refresh\" content=\"0;url=/a\">')</script>", nullptr},
        {"<title><meta http-equiv=refresh content=0;url=/a></title>", nullptr},
        {"<textarea><meta http-equiv=refresh content=0;url=/a>", nullptr},
        {"<p title=\"<meta http-equiv=refresh content=0;url=/a>\">", nullptr},
        {"<meta http-equiv=refresh content=\"0;url=/a\"", nullptr}, // an unfinished tag
        // Only the first bytes are read.
        {far + "<meta http-equiv=refresh content=0;url=/a>", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 120));
        EXPECT_EQ(retrieval::detail::PrescanRefresh(c.body).value_or("<none>"),
                  c.content ? c.content : "<none>");
    }
}

TEST(Refresh, TargetIsAnotherWebAddressResolvedAgainstThePage) {
    const std::string page = "http://blog.example/2024/artikel.html";
    const std::string meta = "<meta http-equiv=\"refresh\" content=\"0; url=neu.html\">";
    const struct {
        const char* name;
        HeaderList headers;
        std::string contentType;
        std::string body;
        const char* target; // "" for none
    } cases[] = {
        {"meta, relative", {}, "text/html; charset=utf-8", meta, "http://blog.example/2024/neu.html"},
        {"meta without a content type", {}, "", meta, "http://blog.example/2024/neu.html"},
        {"meta in XHTML", {}, "application/xhtml+xml", meta, "http://blog.example/2024/neu.html"},
        {"meta in plain text is text", {}, "text/plain", meta, ""},
        {"header", {{"Refresh", "2; url=https://neu.example/x"}}, "image/png", "", "https://neu.example/x"},
        {"header before meta",
         {{"refresh", "0;url=/vom-kopf"}},
         "text/html",
         meta,
         "http://blog.example/vom-kopf"},
        {"to itself", {{"Refresh", "0; url=artikel.html"}}, "", "", ""},
        {"to itself with a fragment", {{"Refresh", "0; url=#oben"}}, "", "", ""},
        {"reload", {{"Refresh", "60"}}, "", "", ""},
        {"later than a forward", {{"Refresh", "1800; url=/abgemeldet"}}, "", "", ""},
        {"just within", {{"Refresh", "30; url=/weiter"}}, "", "", "http://blog.example/weiter"},
        {"not a web address", {{"Refresh", "0; url=javascript:alert(1)"}}, "", "", ""},
        {"ftp", {{"Refresh", "0; url=ftp://files.example/"}}, "", "", ""},
        {"an invalid header leaves it to the meta",
         {{"Refresh", "bald"}},
         "",
         meta,
         "http://blog.example/2024/neu.html"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(retrieval::RefreshTarget(page, c.headers, c.contentType, c.body).value_or(""), c.target)
            << c.name;
}
