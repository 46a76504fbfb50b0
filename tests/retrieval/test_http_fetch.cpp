#include "app/contract/Error.h"
#include "retrieval/http/HttpFailure.h"
#include "retrieval/http/HttpFetch.h"
#include "retrieval/http/PageFetch.h"
#include "retrieval/http/PollEventSource.h"
#include "tests/support/LoopbackServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <curl/curl.h>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>

using namespace std::chrono_literals;
using retrieval::CurlHttpClient;
using retrieval::FetchError;
using retrieval::FetchOptions;
using retrieval::MaskSecrets;
using testsupport::LoopbackServer;
using testsupport::Response;

namespace {

testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\"" << text << "\" lacks \"" << part << '"';
}

// The error that `fetch(url)` raises; fails the test if none is raised.
template <typename Fetch> FetchError FailureOf(const Fetch& fetch, const std::string& url) {
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

std::string MessageOf(CurlHttpClient& client, const std::string& url) {
    return FailureOf([&](const std::string& u) { client.Get(u); }, url).what();
}

Response Gzipped(std::string body) {
    Response r = Response::Text(std::move(body));
    r.gzip = true;
    return r;
}

// A handler that gives every request the same answer, adjusted.
testsupport::Handler Answer(Response r, const std::function<void(Response&)>& adjust) {
    adjust(r);
    return [r](const testsupport::Request&) { return r; };
}

std::string RefusedUrl(const std::string& query) {
    return "http://127.0.0.1:" + std::to_string(testsupport::ClosedPort()) + "/?" + query;
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

} // namespace

TEST(HttpFetch, ReturnsTheDecodedBodyAndSendsTheRequestAsComposed) {
    LoopbackServer server;
    const std::string text = "<url>" + std::string(3000, 'k') + "</url>";
    server.handle("/SEOkicksService/V1/inlinkData", [&](const auto&) { return Gzipped(text); });
    CurlHttpClient client;
    // A space cannot travel in a request line; the caller encodes it, the client passes the rest on.
    const std::string sent = "appid=abc&query=my%20site&x=1&details=2&results=20000&page=1";
    EXPECT_EQ(client.Get(server.baseUrl() + "/SEOkicksService/V1/inlinkData?" + sent), text);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /SEOkicksService/V1/inlinkData?" + sent + " HTTP/1.1");
    EXPECT_EQ(requests[0].headers.at("user-agent"), "Quandrel Halmfang 0.1b");
    EXPECT_TRUE(Contains(requests[0].headers.at("accept-encoding"), "gzip"));
}

TEST(HttpFetch, HttpsWithTrustedCertificateAndTheAttachedTransport) {
    LoopbackServer server(LoopbackServer::Scheme::Https);
    server.handle("/index.php", [](const auto& r) { return Response::Text("geheim: " + r.query); });
    FetchOptions trusting;
    trusting.caFile = testsupport::TestCertificateFile();
    EXPECT_EQ(CurlHttpClient(trusting).Get(server.baseUrl() + "/index.php?key=K&format=xml"),
              "geheim: key=K&format=xml");

    // The attached TLS transport of the SEOkicks request neither weakens https nor touches http.
    FetchOptions attached;
    attached.tlsTransportAttached = true;
    CurlHttpClient withTransport(attached);
    EXPECT_TRUE(Contains(MessageOf(withTransport, server.baseUrl() + "/index.php?key=K"),
                         "Zertifikat des Servers nicht vertrauenswürdig"));
    LoopbackServer plain;
    plain.handle("/", [](const auto&) { return Response::Text("ok"); });
    EXPECT_EQ(withTransport.Get(plain.baseUrl() + "/"), "ok");
}

// Each failure names its cause in German and shows the address with its secrets masked.
TEST(HttpFetch, FailuresNameTheirCauseWithoutTheSecretsAndTheLimitsThemselvesPass) {
    LoopbackServer server;
    server.handle("/tot", [](const auto&) { return Response::Text("weg", 404); });
    server.handle("/kaputt", [](const auto&) { return Response::Text("oops", 500); });
    server.handle("/still", Answer({}, [](Response& r) { r.neverAnswer = true; }));
    server.handle("/1001", [](const auto&) { return Response::Text(std::string(1001, 'a')); });
    server.handle("/riesig", Answer({}, [](Response& r) { r.generatedBodyBytes = std::uint64_t{1} << 30; }));
    // Small when compressed, over the cap once unpacked.
    server.handle("/bombe", [](const auto&) { return Gzipped(std::string(5000, 'z')); });
    server.handle("/kreis", [](const auto&) { return Response::Redirect("/kreis"); });
    server.handle("/grenze", [](const auto&) { return Response::Text("fast", 399); });
    server.handle("/1000", [](const auto&) { return Response::Text(std::string(1000, 'a')); });
    server.handle("/alt", [](const auto&) { return Response::Redirect("/zwischen", 301); });
    server.handle("/zwischen", [](const auto&) { return Response::Redirect("/neu"); });
    server.handle("/neu", [](const auto&) { return Response::Text("angekommen"); });
    // A redirect to a server that never takes the connection, and one without a status line.
    const testsupport::FullPort full;
    server.handle("/voll", [&](const auto&) {
        return Response::Redirect("http://127.0.0.1:" + std::to_string(full.port()) + "/");
    });
    server.handle("/http09", Answer(Response::Text("hallo"), [](Response& r) { r.bodyOnly = true; }));
    // Two bytes, each 1.5 s after the last: below one byte per second, but never 2 s without data.
    server.handle("/tropfen", Answer(Response::Text("ab"), [](Response& r) { r.trickle = 1500ms; }));
    LoopbackServer tls(LoopbackServer::Scheme::Https);
    tls.handle("/index.php", [](const auto&) { return Response::Text("nie"); });

    FetchOptions plain, stall, total, small, connect, patient;
    connect.connectTimeout = 1s;
    patient.stallTimeout = 2s;
    stall.stallTimeout = 1s;
    total.totalTimeout = 300ms;
    small.maxBodyBytes = 1000;
    const std::string secret = "?key=GEHEIM123&x=1";
    const struct {
        FetchOptions options;
        std::string url;
        const char* says;
    } cases[] = {
        {plain, server.baseUrl() + "/tot" + secret, "HTTP-Status 404"},
        {plain, server.baseUrl() + "/kaputt" + secret, "HTTP-Status 500"},
        {plain, server.baseUrl() + "/unbekannt" + secret, "HTTP-Status 404"},
        {plain, RefusedUrl("appid=GEHEIM123&x=1"), "Verbindung abgelehnt"},
        {plain, tls.baseUrl() + "/index.php" + secret, "Zertifikat des Servers nicht vertrauenswürdig"},
        {stall, server.baseUrl() + "/still" + secret,
         "Zeitüberschreitung: Server sendet seit 1 s keine Daten"},
        {total, server.baseUrl() + "/still" + secret, "Zeitüberschreitung: Abruf dauerte länger als 300 ms"},
        {small, server.baseUrl() + "/1001" + secret, "Antwort zu groß (mehr als 1000 Bytes)"},
        {small, server.baseUrl() + "/riesig" + secret, "Antwort zu groß (mehr als 1000 Bytes)"},
        {small, server.baseUrl() + "/bombe" + secret, "Antwort zu groß (mehr als 1000 Bytes)"},
        {plain, server.baseUrl() + "/kreis" + secret, "Weiterleitungsschleife"},
        {connect, server.baseUrl() + "/voll" + secret, "Zeitüberschreitung beim Verbindungsaufbau (1 s)"},
        {plain, server.baseUrl() + "/http09" + secret, "Server antwortete nicht nach HTTP"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        CurlHttpClient client(c.options);
        const auto start = std::chrono::steady_clock::now();
        const std::string message = MessageOf(client, c.url);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
        EXPECT_TRUE(Contains(message, c.says));
        EXPECT_FALSE(Contains(message, "GEHEIM123"));
        EXPECT_TRUE(Contains(message, "=***&x=1"));
    }
    // The first request and ten redirects, then it gives up.
    std::size_t loops = 0;
    for (const auto& r : server.requests())
        loops += r.path == "/kreis";
    EXPECT_EQ(loops, 11u);

    // What lies just inside each limit passes.
    CurlHttpClient client(small);
    EXPECT_EQ(client.Get(server.baseUrl() + "/grenze"), "fast");
    EXPECT_EQ(client.Get(server.baseUrl() + "/1000").size(), 1000u);
    EXPECT_EQ(client.Get(server.baseUrl() + "/alt"), "angekommen");
    EXPECT_EQ(CurlHttpClient(patient).Get(server.baseUrl() + "/tropfen"), "ab");
}

// Every byte that arrives counts against the stall limit, not only whole header lines and decoded
// body bytes: a status line, a header line, chunk framing or a gzip header sent a byte at a time
// keeps the transfer going; a pause beyond the limit still ends it.
TEST(HttpFetch, AnyReceivedByteResetsTheStallClock) {
    const std::string ok = "HTTP/1.1 200 OK\r\n", gz = testsupport::Gzip("ok");
    const std::string gzipHead =
        ok + "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(gz.size()) + "\r\n\r\n";
    const struct {
        std::vector<std::string> pieces;
        std::chrono::milliseconds gap;
        const char* error = nullptr; // none: the body "ok" arrives
    } cases[] = {
        {{"HTTP/1.1 2", "0", "0", " ", "OK\r\nContent-Length: 2\r\n\r\nok"}, 150ms},
        {{ok + "Content-Le", "n", "g", "t", "h: 2\r\n\r\nok"}, 150ms},
        {{ok + "Transfer-Encoding: chunked\r\n\r\n", "0", "2", "\r", "\n", "ok\r\n0\r\n\r\n"}, 150ms},
        {{gzipHead + gz.substr(0, 2), gz.substr(2, 2), gz.substr(4, 2), gz.substr(6, 4), gz.substr(10)},
         150ms},
        {{"HTTP/1.1 2", "00 OK\r\nContent-Length: 2\r\n\r\nok"}, 1s, "seit 500 ms keine Daten"},
    };
    LoopbackServer server;
    FetchOptions options;
    options.stallTimeout = 500ms;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string path = "/" + std::to_string(i);
        SCOPED_TRACE(path);
        server.handle(path, Answer({}, [&](Response& r) {
                          r.rawPieces = cases[i].pieces;
                          r.trickle = cases[i].gap;
                      }));
        CurlHttpClient client(options);
        if (cases[i].error != nullptr) {
            EXPECT_TRUE(Contains(MessageOf(client, server.baseUrl() + path), cases[i].error));
            continue;
        }
        try {
            EXPECT_EQ(client.Get(server.baseUrl() + path), "ok");
        } catch (const FetchError& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

// The body buffer grows to the cap at most, also for a compressed answer whose announced length
// is its compressed one; an uncompressed answer gets its announced length at once.
TEST(HttpFetch, TheBodyBufferNeverOutgrowsTheCap) {
    LoopbackServer server;
    const std::string big(1'000'000, 'z');
    server.handle("/gepackt", [&](const auto&) { return Gzipped(big); });
    server.handle("/roh", [&](const auto&) { return Response::Text(big); });
    for (const std::uint64_t cap : {1'000'000u, 3'000'000u}) {
        for (const char* path : {"/gepackt", "/roh"}) {
            SCOPED_TRACE(std::string(path) + " " + std::to_string(cap));
            FetchOptions options;
            options.maxBodyBytes = cap;
            const std::string body = CurlHttpClient(options).Fetch(server.baseUrl() + path).body;
            EXPECT_EQ(body, big);
            EXPECT_LE(body.capacity(), path == std::string("/roh") ? big.size() : cap);
        }
    }
}

// An exception from inside libcurl's callbacks (here from the event source they call, when the
// transfer starts and when its socket is watched) stops the transfer and comes out of Fetch once
// libcurl has returned; it never unwinds through libcurl's C frames.
TEST(HttpFetch, AnExceptionInACallbackStopsTheTransferAndComesOutAfterwards) {
    struct Failing : toolkit::EventSource {
        retrieval::PollEventSource inner;
        const char* failing = "";
        void watchSocket(int fd, int interest, SocketReady onReady) override {
            if (interest != kNone && failing == std::string("socket"))
                throw std::runtime_error("socket");
            inner.watchSocket(fd, interest, std::move(onReady));
        }
        void startTimer(std::chrono::milliseconds delay, std::function<void()> onTimeout) override {
            if (failing == std::string("timer"))
                throw std::runtime_error("timer");
            inner.startTimer(delay, std::move(onTimeout));
        }
        void stopTimer() override { inner.stopTimer(); }
        void wait(std::chrono::milliseconds atMost) override { inner.wait(atMost); }
    };
    LoopbackServer server;
    server.handle("/", [](const auto&) { return Response::Text("da"); });
    Failing events;
    CurlHttpClient client({}, {}, &events);
    for (const char* where : {"timer", "socket"}) {
        events.failing = where;
        try {
            client.Get(server.baseUrl() + "/");
            ADD_FAILURE() << "no error from the " << where;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), where);
        }
        events.failing = "";
        EXPECT_EQ(client.Get(server.baseUrl() + "/"), "da");
    }
}

TEST(HttpFetch, KeepGoingHookRunsDuringTheTransferAndCanAbortByFalseOrByThrowing) {
    LoopbackServer server;
    server.handle("/langsam", Answer(Response::Text("spät"), [](Response& r) { r.delay = 400ms; }));
    server.handle("/still", Answer({}, [](Response& r) { r.neverAnswer = true; }));
    int calls = 0;
    FetchOptions options;
    options.pollInterval = 20ms;
    CurlHttpClient client(options, [&] { return ++calls > 0; });
    EXPECT_EQ(client.Get(server.baseUrl() + "/langsam"), "spät");
    EXPECT_GE(calls, 5);

    calls = 0;
    client.setKeepGoing([&] { return ++calls < 3; });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(
        Contains(MessageOf(client, server.baseUrl() + "/still?key=X"), "fehlgeschlagen: abgebrochen."));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(calls, 3);

    struct Closed {};
    client.setKeepGoing([]() -> bool { throw Closed{}; });
    EXPECT_THROW(client.Get(server.baseUrl() + "/still"), Closed);
    // The client is usable again afterwards.
    client.setKeepGoing({});
    EXPECT_EQ(client.Get(server.baseUrl() + "/langsam"), "spät");
}

TEST(HttpFetch, AFetchStartedFromTheHookIsRefused) {
    LoopbackServer server;
    server.handle("/a", Answer(Response::Text("a"), [](Response& r) { r.delay = 100ms; }));
    std::string nested;
    CurlHttpClient client;
    client.setKeepGoing([&] {
        if (nested.empty())
            nested = MessageOf(client, server.baseUrl() + "/a");
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
    server.handle("/alt", Answer(Response::Redirect("/seite"),
                                 [](Response& r) { r.headers.emplace_back("Content-Type", "text/plain"); }));
    server.handle("/seite", Answer(Gzipped(latin1), [](Response& r) {
                      r.headers = {{"Content-Type", "text/html; charset=ISO-8859-1"}};
                  }));
    server.handle("/ohne", Answer({}, [](Response& r) { r.body = "nackt"; }));
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

TEST(PageFetch, EachCallFetchesWithAClientOfItsOwnUnderThePageLimits) {
    EXPECT_EQ(retrieval::PageFetchOptions().maxBodyBytes, 16u * 1024 * 1024);
    EXPECT_EQ(retrieval::PageFetchOptions().totalTimeout, 60s);
    LoopbackServer server;
    server.handle("/eins",
                  Answer({200, {{"Content-Type", "text/html; charset=windows-1252"}}, "Gr\xfc\xdf\x80"},
                         [](Response& r) { r.delay = 60ms; }));
    server.handle("/zwei", [](const auto&) { return Response::Text("zwei"); });
    int hookCalls = 0;
    FetchOptions options = retrieval::PageFetchOptions();
    options.pollInterval = 10ms;
    const auto fetch = retrieval::MakeCurlPageFetcher(options, [&] { return ++hookCalls > 0; });
    const auto first = fetch(server.baseUrl() + "/eins");
    EXPECT_EQ(first.body, "Gr\xfc\xdf\x80");
    EXPECT_EQ(first.contentType, "text/html; charset=windows-1252");
    EXPECT_GT(hookCalls, 0);
    // A page failing in between leaves nothing behind for the next.
    EXPECT_EQ(FailureOf(fetch, server.baseUrl() + "/fehlt").reason(), "HTTP-Status 404");
    EXPECT_EQ(fetch(server.baseUrl() + "/zwei").body, "zwei");
    EXPECT_EQ(fetch(server.baseUrl() + "/eins").body, first.body);
    EXPECT_EQ(server.requests().size(), 4u);
}

// An error answer keeps what tells a challenge page from a dead one: its headers and the first
// kErrorBodyBytes of its body, decoded; the rest is not waited for.
TEST(HttpFetch, AnErrorAnswerKeepsItsHeadersAndTheFirstPartOfItsBody) {
    constexpr std::size_t cap = retrieval::kErrorBodyBytes;
    LoopbackServer server;
    server.handle("/gesperrt", [](const auto&) {
        Response r = Response::Text("Just a moment...", 403);
        r.headers.emplace_back("cf-mitigated", "challenge");
        return r;
    });
    server.handle("/genau", [](const auto&) { return Response::Text(std::string(cap, 'g'), 403); });
    server.handle("/drueber", [](const auto&) { return Response::Text(std::string(cap + 1, 'd'), 503); });
    server.handle("/gross",
                  Answer(Response::Text("", 429), [](Response& r) { r.generatedBodyBytes = 8u << 20; }));
    server.handle("/gepackt", [](const auto&) {
        Response r = Gzipped("<title>Access Denied</title>");
        r.status = 403;
        return r;
    });
    const auto fetch = retrieval::MakeCurlPageFetcher();
    const FetchError challenge = FailureOf(fetch, server.baseUrl() + "/gesperrt");
    EXPECT_EQ(challenge.reason(), "blockiert (HTTP 403)");
    EXPECT_EQ(challenge.answerBody(), "Just a moment...");
    EXPECT_TRUE(std::count(challenge.answerHeaders().begin(), challenge.answerHeaders().end(),
                           std::pair<std::string, std::string>("cf-mitigated", "challenge")));
    EXPECT_EQ(FailureOf(fetch, server.baseUrl() + "/genau").answerBody(), std::string(cap, 'g'));
    EXPECT_EQ(FailureOf(fetch, server.baseUrl() + "/drueber").answerBody(), std::string(cap, 'd'));
    const FetchError large = FailureOf(fetch, server.baseUrl() + "/gross");
    EXPECT_EQ(large.reason(), "blockiert (HTTP 429)");
    EXPECT_EQ(large.answerBody().size(), cap);
    EXPECT_EQ(FailureOf(fetch, server.baseUrl() + "/gepackt").answerBody(), "<title>Access Denied</title>");
    const FetchError refused = FailureOf(fetch, RefusedUrl("x=1"));
    EXPECT_TRUE(refused.answerHeaders().empty());
    EXPECT_TRUE(refused.answerBody().empty());
}

// A Refresh header or a meta refresh forwards as an HTTP redirect does: counted with the redirects,
// within the same limit (side by side: tests/retrieval/test_page_verdicts.cpp).
TEST(PageFetch, RefreshIsFollowedAsARedirectWithinTheSameLimit) {
    LoopbackServer server;
    const auto html = [](std::string body) {
        Response r;
        r.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
        r.body = std::move(body);
        return r;
    };
    const auto meta = [&](const std::string& to) {
        return html("<html><head><meta http-equiv=\"refresh\" content=\"0; url=" + to + "\"></head></html>");
    };
    const auto header = [&](const std::string& to) {
        Response r = html("weiter");
        r.headers.emplace_back("Refresh", "1; url=" + to);
        return r;
    };
    server.handle("/start", [](const auto&) { return Response::Redirect("/meta"); });
    server.handle("/meta", [&](const auto&) { return meta("kopf"); });
    server.handle("/kopf", [&](const auto&) { return header("/ziel"); });
    server.handle("/ziel", [&](const auto&) { return html("angekommen"); });
    // HTTP redirects after a refresh count against what is left.
    server.handle("/r1", [&](const auto&) { return meta("/r2"); });
    server.handle("/r2", [](const auto&) { return Response::Redirect("/r3"); });
    server.handle("/r3", [](const auto&) { return Response::Redirect("/ziel"); });
    server.handle("/a", [&](const auto&) { return meta("/b"); });
    server.handle("/b", [&](const auto&) { return header("/a"); });

    const auto within = [&](long maxRedirects) {
        FetchOptions options = retrieval::PageFetchOptions();
        options.maxRedirects = maxRedirects;
        return retrieval::MakeCurlPageFetcher(options);
    };
    const retrieval::FetchedPage page = within(3)(server.baseUrl() + "/start");
    EXPECT_EQ(page.body, "angekommen");
    EXPECT_EQ(page.finalUrl, server.baseUrl() + "/ziel");
    EXPECT_EQ(page.redirects, 3);
    const FetchError over = FailureOf(within(2), server.baseUrl() + "/start");
    EXPECT_EQ(over.reason(), "Zu viele Weiterleitungen");
    EXPECT_TRUE(Contains(over.what(), "mehr als 2"));
    EXPECT_EQ(within(3)(server.baseUrl() + "/r1").redirects, 3);
    EXPECT_TRUE(Contains(FailureOf(within(2), server.baseUrl() + "/r1").what(), "mehr als 2"));

    const std::size_t before = server.requests().size();
    const FetchError loop = FailureOf(within(10), server.baseUrl() + "/a");
    EXPECT_EQ(loop.reason(), "Zu viele Weiterleitungen (Refresh-Schleife)");
    EXPECT_TRUE(Contains(loop.what(), "mehr als 10"));
    EXPECT_EQ(server.requests().size() - before, 11u) << "the page and ten refreshes";
}

// A page's failure carries a short reason for the status cell beside the full message.
TEST(PageFetch, FailuresCarryAShortReason) {
    LoopbackServer server;
    server.handle("/still", Answer({}, [](Response& r) { r.neverAnswer = true; }));
    server.handle("/genau", [](const auto&) { return Response::Text(std::string(4096, 'a')); });
    server.handle("/drueber", [](const auto&) { return Response::Text(std::string(4097, 'a')); });
    server.handle("/strom", Answer({}, [](Response& r) { r.generatedBodyBytes = 64 * 1024; }));
    server.handle("/da", [](const auto&) { return Response::Text("da"); });
    LoopbackServer tls(LoopbackServer::Scheme::Https);
    tls.handle("/s", [](const auto&) { return Response::Text("sicher"); });
    FetchOptions options = retrieval::PageFetchOptions();
    options.totalTimeout = 300ms;
    options.maxBodyBytes = 4096;
    options.tlsTransportAttached = true; // https is verified all the same
    const auto fetch = retrieval::MakeCurlPageFetcher(options);
    const struct {
        std::string url;
        const char* reason;
        const char* message = "";
        bool mayPass = false; // a failure that a later fetch may not meet
    } cases[] = {
        {RefusedUrl("key=GEHEIM"), "Verbindung abgelehnt", "", true},
        {server.baseUrl() + "/still", "Zeitüberschreitung", "", true},
        {"", "Ungültige Adresse"},
        // Not the address before the NUL, which the server would answer.
        {server.baseUrl() + "/da" + std::string(1, '\0') + "x", "Ungültige Adresse"},
        {"ftp://127.0.0.1/x", "Keine http- oder https-Adresse"},
        {server.baseUrl() + "/drueber", "Antwort zu groß", "Antwort zu groß (mehr als 4096 Bytes)"},
        {server.baseUrl() + "/strom", "Antwort zu groß", "Antwort zu groß (mehr als 4096 Bytes)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const FetchError e = FailureOf(fetch, c.url);
        EXPECT_EQ(e.reason(), c.reason);
        EXPECT_TRUE(Contains(e.what(), c.message));
        EXPECT_FALSE(Contains(e.what(), "GEHEIM"));
        EXPECT_EQ(e.transient(), c.mayPass);
    }
    EXPECT_EQ(fetch(server.baseUrl() + "/genau").body.size(), 4096u);

    // Bot protection apart from a dead page; the wait a server asks for, whatever its error body.
    server.handle("/gesperrt", [](const auto&) { return Response::Text("nein", 403); });
    server.handle("/spaeter", [](const auto&) {
        Response r = Response::Text(std::string(8192, 'x'), 429);
        r.headers.emplace_back("Retry-After", "7");
        return r;
    });
    const FetchError blocked = FailureOf(fetch, server.baseUrl() + "/gesperrt");
    EXPECT_EQ(blocked.reason(), "blockiert (HTTP 403)");
    EXPECT_EQ(blocked.retryAfter(), std::nullopt);
    EXPECT_FALSE(blocked.transient()); // told by its status
    const FetchError later = FailureOf(fetch, server.baseUrl() + "/spaeter");
    EXPECT_EQ(later.reason(), "blockiert (HTTP 429)");
    EXPECT_EQ(later.httpStatus(), 429);
    EXPECT_EQ(later.retryAfter(), std::chrono::seconds(7));
    EXPECT_EQ(retrieval::ParseRetryAfter("Wed, 21 Oct 2015 07:28:30 GMT", 1445412480), std::chrono::seconds(30));
    EXPECT_EQ(retrieval::ParseRetryAfter("bald", 0), std::nullopt);
    // A TLS handshake can take longer than the short limit above on a loaded machine.
    options.totalTimeout = 10s;
    EXPECT_EQ(FailureOf(retrieval::MakeCurlPageFetcher(options), tls.baseUrl() + "/s").reason(),
              "TLS-Zertifikat nicht vertrauenswürdig");
    options.caFile = testsupport::TestCertificateFile();
    EXPECT_EQ(retrieval::MakeCurlPageFetcher(options)(tls.baseUrl() + "/s").body, "sicher");
}

TEST(FailureMessage, NamesWhatFailedInGermanWithTheDefaultLimitsAndAShortReason) {
    using retrieval::detail::FetchOutcome;
    const FetchOptions o;
    const std::string url = "https://api.example/index.php?key=SECRET&domain=a.de";
    auto outcome = [](int code, auto&&... tweak) {
        FetchOutcome out;
        out.curlCode = code;
        (tweak(out), ...);
        return out;
    };
    auto message = [&](auto&&... args) {
        return retrieval::detail::FailureMessage(url, outcome(args...), o);
    };
    auto reason = [&](int code) { return retrieval::detail::Failure(url, outcome(code), o).reason(); };
    EXPECT_EQ(
        message(CURLE_COULDNT_RESOLVE_HOST),
        "Abruf von https://api.example/index.php?key=***&domain=a.de fehlgeschlagen: Server nicht gefunden.");
    EXPECT_TRUE(Contains(message(CURLE_COULDNT_CONNECT, [](auto& x) { x.osErrno = EHOSTUNREACH; }),
                         "nicht erreichbar"));
    EXPECT_TRUE(Contains(message(CURLE_OPERATION_TIMEDOUT), "beim Verbindungsaufbau (15 s)"));
    EXPECT_TRUE(Contains(message(CURLE_OPERATION_TIMEDOUT, [](auto& x) { x.stalled = x.connected = true; }),
                         "seit 30 s keine Daten"));
    EXPECT_TRUE(Contains(message(CURLE_FILESIZE_EXCEEDED), "mehr als 256 MiB"));
    EXPECT_FALSE(Contains(message(CURLE_RECV_ERROR), "SECRET"));
    EXPECT_EQ(reason(CURLE_COULDNT_RESOLVE_HOST), "Server nicht gefunden");
    EXPECT_EQ(reason(CURLE_SSL_CONNECT_ERROR), "TLS-Fehler");

    // Failures that loopback cannot show, and whether a later fetch may not meet them.
    const struct {
        int code;
        bool nameMayResolve;
        const char* reason;
        bool mayPass;
    } kinds[] = {
        {CURLE_COULDNT_RESOLVE_HOST, false, "Server nicht gefunden", false},
        {CURLE_COULDNT_RESOLVE_HOST, true, "Namensauflösung gestört", true},
        {CURLE_COULDNT_RESOLVE_PROXY, false, "Proxy-Server nicht gefunden", true},
        {CURLE_RECV_ERROR, false, "Verbindung abgebrochen", true},
        {CURLE_GOT_NOTHING, false, "Keine Antwort", true},
        {CURLE_PEER_FAILED_VERIFICATION, false, "TLS-Zertifikat nicht vertrauenswürdig", false},
        {CURLE_TOO_MANY_REDIRECTS, false, "Zu viele Weiterleitungen", false},
    };
    for (const auto& k : kinds) {
        const FetchError e = retrieval::detail::Failure(
            url, outcome(k.code, [&k](auto& x) { x.nameMayResolve = k.nameMayResolve; }), o);
        EXPECT_EQ(e.reason(), k.reason);
        EXPECT_EQ(e.transient(), k.mayPass) << k.reason;
    }
    EXPECT_EQ(reason(CURLE_SSL_ENGINE_NOTFOUND),
              "Netzwerkfehler " + std::to_string(CURLE_SSL_ENGINE_NOTFOUND));
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
