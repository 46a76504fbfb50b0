#include "app/contract/Error.h"
#include "retrieval/HttpFailure.h"
#include "retrieval/HttpFetch.h"
#include "retrieval/PageFetch.h"
#include "tests/support/LoopbackServer.h"

#include <cerrno>
#include <cstdlib>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <optional>

using namespace std::chrono_literals;
using retrieval::CurlHttpClient;
using retrieval::FetchError;
using retrieval::FetchOptions;
using retrieval::MaskSecrets;
using testsupport::LoopbackServer;
using testsupport::Response;

namespace {

// The message of the error that fetching `url` raises; fails the test if none is raised.
std::string FailureOf(CurlHttpClient& client, const std::string& url) {
    try {
        client.Get(url);
    } catch (const toolkit::Error& e) {
        return e.what();
    }
    ADD_FAILURE() << "no error for " << url;
    return {};
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// The error that fetching `url` through `fetch` raises; fails the test if none is raised.
template <typename Fetch> FetchError PageFailureOf(const Fetch& fetch, const std::string& url) {
    try {
        fetch(url);
    } catch (const toolkit::Error& e) {
        if (const auto* fetchError = dynamic_cast<const FetchError*>(&e))
            return *fetchError;
        ADD_FAILURE() << "not a FetchError: " << e.what();
        return FetchError(e.what(), "");
    }
    ADD_FAILURE() << "no error for " << url;
    return FetchError("", "");
}

FetchOptions Trusting() {
    FetchOptions o;
    o.caFile = testsupport::TestCertificateFile();
    return o;
}

} // namespace

TEST(HttpFetch, ReturnsTheBodyAndSendsTheRequestAsComposed) {
    LoopbackServer server;
    server.handle("/SEOkicksService/V1/inlinkData",
                  [](const auto&) { return Response::Text("<url>a</url>"); });
    CurlHttpClient client;
    // A space cannot travel in a request line; the caller encodes it, the client passes the rest on.
    const std::string sent = "appid=abc&query=my%20site&x=1&details=2&results=20000&page=1";
    EXPECT_EQ(client.Get(server.baseUrl() + "/SEOkicksService/V1/inlinkData?" + sent), "<url>a</url>");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /SEOkicksService/V1/inlinkData?" + sent + " HTTP/1.1");
    EXPECT_EQ(requests[0].headers.at("user-agent"), "Quandrel Halmfang 0.1b");
    EXPECT_NE(requests[0].headers.at("accept-encoding").find("gzip"), std::string::npos);
}

TEST(HttpFetch, HttpsWithTrustedCertificate) {
    LoopbackServer server(LoopbackServer::Scheme::Https);
    server.handle("/index.php", [](const auto& r) { return Response::Text("geheim: " + r.query); });
    CurlHttpClient client(Trusting());
    EXPECT_EQ(client.Get(server.baseUrl() + "/index.php?key=K&format=xml"), "geheim: key=K&format=xml");

    // The attached TLS transport of the SEOkicks request neither weakens https nor touches http.
    FetchOptions attached;
    attached.tlsTransportAttached = true;
    CurlHttpClient withTransport(attached);
    const std::string message = FailureOf(withTransport, server.baseUrl() + "/index.php?key=K");
    EXPECT_NE(message.find("Zertifikat des Servers nicht vertrauenswürdig"), std::string::npos) << message;
    LoopbackServer plain;
    plain.handle("/", [](const auto&) { return Response::Text("ok"); });
    EXPECT_EQ(withTransport.Get(plain.baseUrl() + "/"), "ok");
}

TEST(HttpFetch, UntrustedCertificateFails) {
    LoopbackServer server(LoopbackServer::Scheme::Https);
    server.handle("/index.php", [](const auto&) { return Response::Text("nie"); });
    CurlHttpClient client;
    const std::string message = FailureOf(client, server.baseUrl() + "/index.php?key=GEHEIM123&x=1");
    EXPECT_NE(message.find("Zertifikat des Servers nicht vertrauenswürdig"), std::string::npos) << message;
    EXPECT_EQ(message.find("GEHEIM123"), std::string::npos) << message;
    EXPECT_NE(message.find("key=***&x=1"), std::string::npos) << message;
}

TEST(HttpFetch, ErrorStatusesFailWithTheirNumber) {
    LoopbackServer server;
    server.handle("/tot", [](const auto&) { return Response::Text("weg", 404); });
    server.handle("/kaputt", [](const auto&) { return Response::Text("oops", 500); });
    server.handle("/grenze", [](const auto&) { return Response::Text("fast", 399); });
    CurlHttpClient client;
    EXPECT_NE(FailureOf(client, server.baseUrl() + "/tot").find("HTTP-Status 404"), std::string::npos);
    EXPECT_NE(FailureOf(client, server.baseUrl() + "/kaputt").find("HTTP-Status 500"), std::string::npos);
    EXPECT_NE(FailureOf(client, server.baseUrl() + "/unbekannt").find("HTTP-Status 404"), std::string::npos);
    EXPECT_EQ(client.Get(server.baseUrl() + "/grenze"), "fast");
}

TEST(HttpFetch, ConnectionRefused) {
    CurlHttpClient client;
    const std::string url =
        "http://127.0.0.1:" + std::to_string(testsupport::ClosedPort()) + "/?appid=CODE42";
    const std::string message = FailureOf(client, url);
    EXPECT_NE(message.find("Verbindung abgelehnt"), std::string::npos) << message;
    EXPECT_EQ(message.find("CODE42"), std::string::npos) << message;
}

TEST(HttpFetch, ServerThatNeverAnswersTimesOut) {
    LoopbackServer server;
    server.handle("/still", [](const auto&) {
        Response r;
        r.neverAnswer = true;
        return r;
    });
    FetchOptions stall;
    stall.stallTimeout = 1s;
    CurlHttpClient client(stall);
    const auto start = std::chrono::steady_clock::now();
    std::string message = FailureOf(client, server.baseUrl() + "/still");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
    EXPECT_NE(message.find("Zeitüberschreitung: Server sendet seit 1 s keine Daten"), std::string::npos)
        << message;

    FetchOptions total;
    total.totalTimeout = 300ms;
    CurlHttpClient quick(total);
    message = FailureOf(quick, server.baseUrl() + "/still");
    EXPECT_NE(message.find("Zeitüberschreitung: Abruf dauerte länger als 300 ms"), std::string::npos)
        << message;
}

TEST(HttpFetch, BodyCapHoldsAtItsBoundary) {
    LoopbackServer server;
    server.handle("/1000", [](const auto&) { return Response::Text(std::string(1000, 'a')); });
    server.handle("/1001", [](const auto&) { return Response::Text(std::string(1001, 'a')); });
    server.handle("/riesig", [](const auto&) {
        Response r;
        r.generatedBodyBytes = std::uint64_t{1} << 30;
        return r;
    });
    // Small when compressed, over the cap once unpacked.
    server.handle("/bombe", [](const auto&) {
        Response r = Response::Text(std::string(5000, 'z'));
        r.gzip = true;
        return r;
    });
    FetchOptions small;
    small.maxBodyBytes = 1000;
    CurlHttpClient client(small);
    EXPECT_EQ(client.Get(server.baseUrl() + "/1000").size(), 1000u);
    for (const char* path : {"/1001", "/riesig", "/bombe"}) {
        const std::string message = FailureOf(client, server.baseUrl() + path);
        EXPECT_NE(message.find("Antwort zu groß (mehr als 1000 Bytes)"), std::string::npos)
            << path << message;
    }
}

TEST(HttpFetch, RedirectsAreFollowedButNotForever) {
    LoopbackServer server;
    server.handle("/alt", [](const auto&) { return Response::Redirect("/zwischen", 301); });
    server.handle("/zwischen", [](const auto&) { return Response::Redirect("/neu"); });
    server.handle("/neu", [](const auto&) { return Response::Text("angekommen"); });
    server.handle("/kreis", [](const auto&) { return Response::Redirect("/kreis"); });
    CurlHttpClient client;
    EXPECT_EQ(client.Get(server.baseUrl() + "/alt"), "angekommen");
    const std::string message = FailureOf(client, server.baseUrl() + "/kreis");
    EXPECT_NE(message.find("Weiterleitungsschleife"), std::string::npos) << message;
    // The first request and ten redirects, then it gives up.
    std::size_t loops = 0;
    for (const auto& r : server.requests())
        loops += r.path == "/kreis";
    EXPECT_EQ(loops, 11u);
}

TEST(HttpFetch, CompressedBodyIsDecoded) {
    LoopbackServer server;
    const std::string text = "<linkingUrl>" + std::string(3000, 'k') + "</linkingUrl>";
    server.handle("/gz", [&](const auto&) {
        Response r = Response::Text(text);
        r.gzip = true;
        return r;
    });
    CurlHttpClient client;
    EXPECT_EQ(client.Get(server.baseUrl() + "/gz"), text);
}

TEST(HttpFetch, KeepGoingHookRunsDuringTheTransferAndCanAbort) {
    LoopbackServer server;
    server.handle("/langsam", [](const auto&) {
        Response r = Response::Text("spät");
        r.delay = 400ms;
        return r;
    });
    int calls = 0;
    FetchOptions options;
    options.pollInterval = 20ms;
    CurlHttpClient client(options, [&] {
        ++calls;
        return true;
    });
    EXPECT_EQ(client.Get(server.baseUrl() + "/langsam"), "spät");
    EXPECT_GE(calls, 5);

    server.handle("/still", [](const auto&) {
        Response r;
        r.neverAnswer = true;
        return r;
    });
    calls = 0;
    client.setKeepGoing([&] { return ++calls < 3; });
    const auto start = std::chrono::steady_clock::now();
    const std::string message = FailureOf(client, server.baseUrl() + "/still?key=X");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(calls, 3);
    EXPECT_NE(message.find("fehlgeschlagen: abgebrochen."), std::string::npos) << message;
}

TEST(HttpFetch, AnExceptionFromTheHookEndsTheFetch) {
    struct Closed {};
    LoopbackServer server;
    server.handle("/still", [](const auto&) {
        Response r;
        r.neverAnswer = true;
        return r;
    });
    CurlHttpClient client({}, []() -> bool { throw Closed{}; });
    EXPECT_THROW(client.Get(server.baseUrl() + "/still"), Closed);
    // The client is usable again afterwards.
    server.handle("/da", [](const auto&) { return Response::Text("da"); });
    client.setKeepGoing({});
    EXPECT_EQ(client.Get(server.baseUrl() + "/da"), "da");
}

TEST(HttpFetch, AFetchStartedFromTheHookIsRefused) {
    LoopbackServer server;
    server.handle("/a", [](const auto&) {
        Response r = Response::Text("a");
        r.delay = 100ms;
        return r;
    });
    std::string nested;
    CurlHttpClient client;
    client.setKeepGoing([&] {
        if (nested.empty())
            nested = FailureOf(client, server.baseUrl() + "/a");
        return true;
    });
    EXPECT_EQ(client.Get(server.baseUrl() + "/a"), "a");
    EXPECT_EQ(nested, "Es läuft bereits ein Abruf.");
}

TEST(HttpFetch, HonoursTheProxyVariables) {
    LoopbackServer proxy;
    proxy.handle("/weiter", [](const auto&) { return Response::Text("über den Proxy"); });
    LoopbackServer direct;
    direct.handle("/direkt", [](const auto&) { return Response::Text("ohne Proxy"); });
    ScopedEnv httpProxy("http_proxy", proxy.baseUrl());
    ScopedEnv noProxy("no_proxy", "127.0.0.1,localhost");
    CurlHttpClient client;
    // The proxy gets the request in absolute form; the made-up host is never looked up.
    EXPECT_EQ(client.Get("http://backlinks.invalid/weiter?q=1"), "über den Proxy");
    EXPECT_EQ(client.Get(direct.baseUrl() + "/direkt"), "ohne Proxy");
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0].target, "http://backlinks.invalid/weiter?q=1");
    ASSERT_EQ(direct.requests().size(), 1u);
    EXPECT_EQ(direct.requests()[0].target, "/direkt");
}

TEST(HttpFetch, FetchKeepsTheBytesAndReportsTheFinalContentType) {
    LoopbackServer server;
    const std::string latin1 = "<p>M\xfcller & S\xf6hne</p>";
    server.handle("/alt", [](const auto&) {
        Response r = Response::Redirect("/seite");
        r.headers.emplace_back("Content-Type", "text/plain");
        return r;
    });
    server.handle("/seite", [&](const auto&) {
        Response r;
        r.headers.emplace_back("Content-Type", "text/html; charset=ISO-8859-1");
        r.body = latin1;
        r.gzip = true;
        return r;
    });
    server.handle("/ohne", [](const auto&) {
        Response r;
        r.body = "nackt";
        return r;
    });
    CurlHttpClient client;
    const auto page = client.Fetch(server.baseUrl() + "/alt");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.contentType, "text/html; charset=ISO-8859-1");
    EXPECT_EQ(page.body, latin1);
    // Get turns the same answer into text.
    EXPECT_EQ(client.Get(server.baseUrl() + "/seite"), "<p>Müller & Söhne</p>");

    const auto bare = client.Fetch(server.baseUrl() + "/ohne");
    EXPECT_EQ(bare.contentType, "");
    EXPECT_EQ(bare.body, "nackt");
}

TEST(PageFetch, OptionsForPages) {
    const FetchOptions page = retrieval::PageFetchOptions();
    const FetchOptions service;
    EXPECT_EQ(page.maxBodyBytes, 16u * 1024 * 1024);
    EXPECT_EQ(page.totalTimeout, 60s);
    EXPECT_EQ(page.connectTimeout, service.connectTimeout);
    EXPECT_EQ(page.stallTimeout, service.stallTimeout);
    EXPECT_EQ(page.maxRedirects, service.maxRedirects);
    EXPECT_FALSE(page.tlsTransportAttached);
}

TEST(PageFetch, EachCallFetchesWithAClientOfItsOwn) {
    LoopbackServer server;
    server.handle("/eins", [](const auto&) {
        Response r;
        r.headers.emplace_back("Content-Type", "text/html; charset=windows-1252");
        r.body = "Gr\xfc\xdf\x80";
        r.delay = 60ms;
        return r;
    });
    server.handle("/zwei", [](const auto&) { return Response::Text("zwei"); });
    int hookCalls = 0;
    FetchOptions options = retrieval::PageFetchOptions();
    options.pollInterval = 10ms;
    const auto fetch = retrieval::MakeCurlPageFetcher(options, [&] {
        ++hookCalls;
        return true;
    });
    const auto first = fetch(server.baseUrl() + "/eins");
    EXPECT_EQ(first.body, "Gr\xfc\xdf\x80");
    EXPECT_EQ(first.contentType, "text/html; charset=windows-1252");
    EXPECT_GT(hookCalls, 0);
    // A page failing in between leaves nothing behind for the next.
    EXPECT_EQ(PageFailureOf(fetch, server.baseUrl() + "/fehlt").reason(), "HTTP-Status 404");
    EXPECT_EQ(fetch(server.baseUrl() + "/zwei").body, "zwei");
    EXPECT_EQ(fetch(server.baseUrl() + "/eins").body, first.body);
    EXPECT_EQ(server.requests().size(), 4u);
}

TEST(PageFetch, HttpsIsVerifiedEvenIfATransportIsRequested) {
    LoopbackServer server(LoopbackServer::Scheme::Https);
    server.handle("/s", [](const auto&) { return Response::Text("sicher"); });
    FetchOptions options = retrieval::PageFetchOptions();
    options.tlsTransportAttached = true;
    const auto untrusting = retrieval::MakeCurlPageFetcher(options);
    EXPECT_EQ(PageFailureOf(untrusting, server.baseUrl() + "/s").reason(),
              "TLS-Zertifikat nicht vertrauenswürdig");
    options.caFile = testsupport::TestCertificateFile();
    EXPECT_EQ(retrieval::MakeCurlPageFetcher(options)(server.baseUrl() + "/s").body, "sicher");
}

TEST(PageFetch, PageOverTheCapFails) {
    LoopbackServer server;
    server.handle("/genau", [](const auto&) { return Response::Text(std::string(4096, 'a')); });
    server.handle("/drueber", [](const auto&) { return Response::Text(std::string(4097, 'a')); });
    server.handle("/strom", [](const auto&) {
        Response r;
        r.generatedBodyBytes = 64 * 1024;
        return r;
    });
    FetchOptions options = retrieval::PageFetchOptions();
    options.maxBodyBytes = 4096;
    const auto fetch = retrieval::MakeCurlPageFetcher(options);
    EXPECT_EQ(fetch(server.baseUrl() + "/genau").body.size(), 4096u);
    for (const char* path : {"/drueber", "/strom"}) {
        const FetchError e = PageFailureOf(fetch, server.baseUrl() + path);
        EXPECT_EQ(e.reason(), "Antwort zu groß") << path;
        EXPECT_NE(std::string(e.what()).find("Antwort zu groß (mehr als 4096 Bytes)"), std::string::npos)
            << e.what();
    }
}

TEST(PageFetch, FailuresCarryAShortReason) {
    LoopbackServer server;
    server.handle("/still", [](const auto&) {
        Response r;
        r.neverAnswer = true;
        return r;
    });
    FetchOptions options = retrieval::PageFetchOptions();
    options.totalTimeout = 300ms;
    const auto fetch = retrieval::MakeCurlPageFetcher(options);
    const std::string refusedUrl =
        "http://127.0.0.1:" + std::to_string(testsupport::ClosedPort()) + "/?key=GEHEIM";
    const FetchError refused = PageFailureOf(fetch, refusedUrl);
    EXPECT_EQ(refused.reason(), "Verbindung abgelehnt");
    EXPECT_EQ(std::string(refused.what()).find("GEHEIM"), std::string::npos) << refused.what();
    EXPECT_EQ(PageFailureOf(fetch, server.baseUrl() + "/still").reason(), "Zeitüberschreitung");
    EXPECT_EQ(PageFailureOf(fetch, "").reason(), "Ungültige Adresse");
    // Not the address before the NUL, which the server would answer.
    server.handle("/da", [](const auto&) { return Response::Text("da"); });
    EXPECT_EQ(PageFailureOf(fetch, server.baseUrl() + "/da" + std::string(1, '\0') + "x").reason(),
              "Ungültige Adresse");
    EXPECT_EQ(PageFailureOf(fetch, "ftp://127.0.0.1/x").reason(), "Keine http- oder https-Adresse");
}

TEST(FailureMessage, ShortReasons) {
    using retrieval::detail::Failure;
    using retrieval::detail::FetchOutcome;
    const FetchOptions o;
    auto reason = [&](int code, long status = 0) {
        FetchOutcome out;
        out.curlCode = code;
        out.httpStatus = status;
        return Failure("http://x.example/", out, o).reason();
    };
    EXPECT_EQ(reason(CURLE_COULDNT_RESOLVE_HOST), "Server nicht gefunden");
    EXPECT_EQ(reason(CURLE_HTTP_RETURNED_ERROR, 503), "HTTP-Status 503");
    EXPECT_EQ(reason(CURLE_OPERATION_TIMEDOUT), "Zeitüberschreitung");
    EXPECT_EQ(reason(CURLE_FILESIZE_EXCEEDED), "Antwort zu groß");
    EXPECT_EQ(reason(CURLE_SSL_CONNECT_ERROR), "TLS-Fehler");
    EXPECT_EQ(reason(CURLE_SSL_ENGINE_NOTFOUND),
              "Netzwerkfehler " + std::to_string(CURLE_SSL_ENGINE_NOTFOUND));
}

TEST(FailureMessage, NamesWhatFailedInGerman) {
    using retrieval::detail::FailureMessage;
    using retrieval::detail::FetchOutcome;
    const FetchOptions o;
    const std::string url = "https://api.example/index.php?key=SECRET&domain=a.de";
    auto message = [&](int code, auto&&... tweak) {
        FetchOutcome out;
        out.curlCode = code;
        (tweak(out), ...);
        return FailureMessage(url, out, o);
    };
    EXPECT_EQ(
        message(CURLE_COULDNT_RESOLVE_HOST),
        "Abruf von https://api.example/index.php?key=***&domain=a.de fehlgeschlagen: Server nicht gefunden.");
    EXPECT_NE(
        message(CURLE_COULDNT_CONNECT, [](auto& x) { x.osErrno = EHOSTUNREACH; }).find("nicht erreichbar"),
        std::string::npos);
    EXPECT_NE(message(CURLE_OPERATION_TIMEDOUT).find("beim Verbindungsaufbau (15 s)"), std::string::npos);
    EXPECT_NE(
        message(CURLE_OPERATION_TIMEDOUT, [](auto& x) { x.connected = true; }).find("seit 30 s keine Daten"),
        std::string::npos);
    EXPECT_NE(message(CURLE_FILESIZE_EXCEEDED).find("mehr als 256 MiB"), std::string::npos);
    EXPECT_EQ(message(CURLE_RECV_ERROR).find("SECRET"), std::string::npos);
}

TEST(MaskSecrets, HidesKeyAndAppidValues) {
    EXPECT_EQ(MaskSecrets("https://h/index.php?key=abc123&service=links"),
              "https://h/index.php?key=***&service=links");
    EXPECT_EQ(MaskSecrets("http://h/x?appid=C0DE&query=a.de"), "http://h/x?appid=***&query=a.de");
    EXPECT_EQ(MaskSecrets("x?APPID=1&Key=2#frag"), "x?APPID=***&Key=***#frag");
    EXPECT_EQ(MaskSecrets("x?a=1&key=v1&key=v2 und appid=v3"), "x?a=1&key=***&key=*** und appid=***");
    // Other parameters that merely end in "key" keep their value; an empty value stays empty.
    EXPECT_EQ(MaskSecrets("x?monkey=1&apikey=2&key=&q=3"), "x?monkey=1&apikey=2&key=&q=3");
    EXPECT_EQ(MaskSecrets("kein Geheimnis"), "kein Geheimnis");
}

TEST(BodyAsText, KeepsUtf8AndConvertsWindows1252) {
    using retrieval::detail::BodyAsText;
    EXPECT_EQ(BodyAsText("Grüße"), "Grüße");
    EXPECT_EQ(BodyAsText("Gr\xfc\xdf"
                         "e \x80"),
              "Grüße €");
    EXPECT_EQ(BodyAsText("\xc3"), "Ã");
    EXPECT_EQ(BodyAsText("\xed\xa0\x80"), "í\u00a0€");
}
