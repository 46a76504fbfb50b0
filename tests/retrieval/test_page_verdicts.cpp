// Pages as they commonly look on the web, through the whole Prüfe: the real page fetcher against a
// loopback server, the link check in its worker, one page at a time and side by side. One row per
// case: what the server answers, and the status word, the details file's reason and a part of the
// status cell's note the row ends with.
//
// The loopback server is the process's HTTP proxy, so that every row has a host of its own
// (zeile<N>.example, which is never looked up) and rows run side by side without the per-host pause.
#include "retrieval/CrossCheck.h"
#include "retrieval/Parsing.h"
#include "retrieval/http/PageFetch.h"
#include "retrieval/sandbox/LinkWorker.h"
#include "tests/retrieval/ChallengeFixtures.h"
#include "tests/storage/StorageTestSupport.h"
#include "tests/support/LoopbackServer.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace storage_test;
using testsupport::Response;

namespace {

// One answer of a case's server: its path within the case's folder ("seite" is
// http://zeile<N>.example/zeile<N>/seite), or from the root when it starts with '/'.
struct Served {
    std::string path;
    Response answer;
};

struct PageCase {
    std::string name;
    std::vector<Served> served; // the first is the linking page
    std::string status;
    std::string reason; // the details file's reason; empty where there is none
    std::string note;   // in the status cell's note; "{folder}" stands for http://zeile<N>.example/zeile<N>/
};

Response Html(std::string body, int status = 200) {
    Response r;
    r.status = status;
    r.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
    r.body = std::move(body);
    return r;
}

Response With(Response r, std::string header, std::string value) {
    r.headers.emplace_back(std::move(header), std::move(value));
    return r;
}

const std::string kWithLink = "<html><head><title>Gartenblog</title></head><body><p>Empfehlung: "
                              "<a href=\"https://shop.example/\">Shop</a></p></body></html>";
const std::string kWithoutLink =
    "<html><head><title>Gartenblog</title></head><body><p>Der Link ist entfernt.</p></body></html>";

std::string Refreshing(const std::string& to) {
    return "<html><head><meta http-equiv=\"refresh\" content=\"0; url=" + to +
           "\"><title>Weiter</title></head><body>Sie werden weitergeleitet.</body></html>";
}

const std::string kLinkShown = "Link vorhanden (follow) – Ankertext „Shop“";
const std::string kSoft404 = "Seite nicht gefunden (Soft 404)";

std::vector<PageCase> Cases() {
    std::vector<PageCase> cases = {
        // Controls.
        {"the link is there", {{"seite", Html(kWithLink)}}, "gefunden", "", kLinkShown},
        {"the link was removed",
         {{"seite", Html(kWithoutLink)}},
         "nicht gefunden",
         "",
         "Kein Link auf die Domain"},
        {"a dead page",
         {{"seite", Html("<title>404 Not Found</title>", 404)}},
         "Fehler",
         "HTTP-Status 404",
         "HTTP-Status 404"},
        {"a plain refusal",
         {{"seite", Html("<title>403 Forbidden</title>", 403)}},
         "Fehler",
         "blockiert (HTTP 403)",
         "blockiert (HTTP 403)"},
        // An old-style challenge: "come back later", which is no reason to ask again.
        {"a 503 challenge with Retry-After",
         {{"seite", With(Html(challenge_test::ChallengeAnswers()[1].body, 503), "Retry-After", "1")}},
         "Fehler",
         "blockiert (Bot-Schutz: Cloudflare)",
         "blockiert (Bot-Schutz: Cloudflare)"},
        {"a challenge's marker on a page that shows the link",
         {{"seite", With(Html(kWithLink + "<div id=\"px-captcha\"></div>"), "cf-mitigated", "challenge")}},
         "gefunden",
         "",
         kLinkShown},
        // Soft 404s, and what must not be one.
        {"soft 404 by its title",
         {{"seite", Html("<title>Seite nicht gefunden – Gartenblog</title><p>Leider weg.</p>")}},
         "Fehler",
         kSoft404,
         kSoft404 + "\nTitel „Seite nicht gefunden – Gartenblog“"},
        {"soft 404 by its heading, in Spanish",
         {{"seite", Html("<title>Jardín</title><h1>Página no encontrada</h1>")}},
         "Fehler",
         kSoft404,
         "Überschrift „Página no encontrada“"},
        {"soft 404: a deep address sent to the home page",
         {{"2019/artikel.html", Response::Redirect("/")}, {"/", Html(kWithoutLink)}},
         "Fehler",
         kSoft404,
         "weitergeleitet auf die Startseite http://{host}/"},
        {"a gone page that still shows the link",
         {{"seite", Html("<title>404</title>" + kWithLink)}},
         "gefunden",
         "",
         kLinkShown},
        {"a title about a 404 that is none",
         {{"seite", Html("<title>Fehler 404 beheben – Anleitung</title><p>Schritt 1</p>")}},
         "nicht gefunden",
         "",
         "Kein Link auf die Domain"},
        {"the home page sent to itself",
         {{"/", Response::Redirect("/index.html")}, {"/index.html", Html(kWithoutLink)}},
         "nicht gefunden",
         "",
         "weitergeleitet nach http://{host}/index.html"},
        // Forwarding without an HTTP redirect.
        {"meta refresh",
         {{"seite", Html(Refreshing("ziel"))}, {"ziel", Html(kWithLink)}},
         "gefunden",
         "",
         kLinkShown + "\nweitergeleitet nach {folder}ziel"},
        {"Refresh header",
         {{"seite", With(Html("Weiter"), "Refresh", "2; url={folder}ziel")}, {"ziel", Html(kWithLink)}},
         "gefunden",
         "",
         "weitergeleitet nach {folder}ziel"},
        {"a redirect, then a meta refresh to a page without the link",
         {{"seite", Response::Redirect("zwischen")},
          {"zwischen", Html(Refreshing("ziel"))},
          {"ziel", Html(kWithoutLink)}},
         "nicht gefunden",
         "",
         "Kein Link auf die Domain\nweitergeleitet nach {folder}ziel"},
        {"a refresh loop",
         {{"seite", Html(Refreshing("zwei"))}, {"zwei", Html(Refreshing("seite"))}},
         "Fehler",
         "Zu viele Weiterleitungen (Refresh-Schleife)",
         "Zu viele Weiterleitungen (Refresh-Schleife)"},
        {"a refresh for browsers without scripts stays unfollowed",
         {{"seite",
           Html("<noscript><meta http-equiv=refresh content=\"0;url=ohne-js\"></noscript>" + kWithLink)},
          {"ohne-js", Html(kWithoutLink)}},
         "gefunden",
         "",
         kLinkShown},
        // The canonical address.
        {"a canonical address elsewhere",
         {{"seite?utm_source=x", Html("<link rel=canonical href=\"/kanonisch\">" + kWithLink)}},
         "gefunden",
         "",
         kLinkShown + "\nkanonisch: http://{host}/kanonisch"},
        {"a canonical address by Link header",
         {{"seite", With(Html(kWithLink), "Link", "<http://{host}/kanonisch>; rel=\"canonical\"")}},
         "gefunden",
         "",
         "kanonisch: http://{host}/kanonisch"},
        {"the canonical address is the page's own",
         {{"seite", Html("<link rel=canonical href=\"seite\">" + kWithLink)}},
         "gefunden",
         "",
         kLinkShown},
    };
    // Every service of the challenge table, refused and served as success.
    for (const challenge_test::ChallengeAnswer& a : challenge_test::ChallengeAnswers()) {
        const std::string blocked =
            a.service.empty() ? "blockiert (Bot-Schutz)" : "blockiert (Bot-Schutz: " + a.service + ")";
        Response answer = Html(a.body, 403);
        answer.headers.insert(answer.headers.end(), a.headers.begin(), a.headers.end());
        cases.push_back({a.name + ", 403", {{"seite", answer}}, "Fehler", blocked, blocked});
        answer.status = 200;
        if (a.knownOn200)
            cases.push_back({a.name + ", 200", {{"seite", answer}}, "Fehler", blocked, blocked});
        else
            cases.push_back(
                {a.name + ", 200", {{"seite", answer}}, "nicht gefunden", "", "Kein Link auf die Domain"});
    }
    return cases;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// The cells of one line of an RFC 4180 file.
std::vector<std::string> CsvCells(const std::string& line) {
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
            cells.back() += line[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            cells.emplace_back();
        else
            cells.back() += c;
    }
    return cells;
}

// The cases' server, as the proxy of every http and https request of this process.
class CaseServer {
public:
    explicit CaseServer(const std::vector<PageCase>& cases) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const std::string host = HostOf(i);
            for (const Served& s : cases[i].served) {
                Response answer = s.answer;
                for (auto& [name, value] : answer.headers)
                    value = Replace(Replace(value, "{folder}", FolderOf(i)), "{host}", host);
                const std::string path = PathOf(i, s.path);
                const std::string pathOnly = path.substr(0, path.find('?'));
                answers_[{host, pathOnly}] = answer;
                server_.handle(pathOnly, [this](const testsupport::Request& request) {
                    const auto it = answers_.find(
                        {request.headers.count("host") ? request.headers.at("host") : "", request.path});
                    return it != answers_.end() ? it->second : Html("nicht da", 404);
                });
            }
        }
        ::setenv("http_proxy", server_.baseUrl().c_str(), 1);
        ::setenv("https_proxy", server_.baseUrl().c_str(), 1);
        ::setenv("all_proxy", server_.baseUrl().c_str(), 1);
        for (const char* name : {"HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
            ::unsetenv(name);
    }

    static std::string HostOf(std::size_t i) { return "zeile" + std::to_string(i) + ".example"; }
    static std::string FolderOf(std::size_t i) {
        return "http://" + HostOf(i) + "/zeile" + std::to_string(i) + "/";
    }
    static std::string PathOf(std::size_t i, const std::string& path) {
        return path.starts_with("/") ? path : "/zeile" + std::to_string(i) + "/" + path;
    }
    static std::string UrlOf(std::size_t i, const PageCase& c) {
        return "http://" + HostOf(i) + PathOf(i, c.served.front().path);
    }

    std::size_t RequestsTo(const std::string& host) const {
        std::size_t n = 0;
        for (const testsupport::Request& r : server_.requests())
            n += r.headers.count("host") && r.headers.at("host") == host;
        return n;
    }

private:
    testsupport::LoopbackServer server_;
    std::map<std::pair<std::string, std::string>, Response> answers_; // by host and path
};

struct Outcome {
    std::string status, reason, note;
};

// One Prüfe of all cases, each a row of the table; what each row ended with.
std::vector<Outcome> RunPruefe(const std::vector<PageCase>& cases, int parallel) {
    Harness h;
    h.fields.domain = "shop.example";
    h.table.ResetWithHeaders(retrieval::Headers(retrieval::Service::Seokicks));
    for (std::size_t i = 0; i < cases.size(); ++i)
        h.table.AppendRecord({CaseServer::UrlOf(i, cases[i]), "Shop", "https://shop.example/", "follow"});
    // Side by side, the run waits for the seconds after each fetch in real time.
    if (parallel > 1)
        h.waiter.during = [] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); };
    retrieval::FetchOptions options = retrieval::PageFetchOptions();
    options.totalTimeout = std::chrono::seconds(20);
    retrieval::CurlPageFetches sideBySide(options);
    retrieval::RunCrossCheck(h.window, {retrieval::MakeCurlPageFetcher(options), &sideBySide, parallel});

    const std::int32_t statusCol = h.table.ColCount() - 1;
    std::map<std::string, std::string> reasons; // by Link-URL, from the details file
    const std::string dir = h.folder / "reporting/backlinks";
    for (const std::string& name : FolderEntries(dir))
        if (name.ends_with("_details.csv")) {
            const std::string csv = ReadBytes(dir + "/" + name);
            for (std::size_t at = csv.find("\r\n") + 2; at < csv.size();) {
                const std::size_t end = csv.find("\r\n", at);
                const std::vector<std::string> cells = CsvCells(csv.substr(at, end - at));
                if (cells.size() > 10)
                    reasons[cells[1]] = cells[10];
                at = end + 2;
            }
        }
    std::vector<Outcome> out;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto row = static_cast<std::int32_t>(i) + 2;
        out.push_back({h.table.GetCell(statusCol, row), reasons[CaseServer::UrlOf(i, cases[i])],
                       h.table.GetCellNote(statusCol, row)});
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (const auto worker = retrieval::RunLinkWorkerIfAsked(argc, argv))
        return *worker;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST(PageVerdicts, EachPageEndsAsAPersonInABrowserWouldSeeIt) {
    const std::vector<PageCase> cases = Cases();
    for (const int parallel : {1, 4}) {
        SCOPED_TRACE(parallel == 1 ? "one page at a time" : "side by side");
        const CaseServer server(cases);
        const std::vector<Outcome> outcomes = RunPruefe(cases, parallel);
        ASSERT_EQ(outcomes.size(), cases.size());
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const PageCase& c = cases[i];
            const Outcome& o = outcomes[i];
            SCOPED_TRACE(c.name + " (" + CaseServer::HostOf(i) + ")");
            EXPECT_EQ(o.status, c.status);
            EXPECT_EQ(o.reason, c.reason);
            const std::string note = Replace(Replace(c.note, "{folder}", CaseServer::FolderOf(i)), "{host}",
                                             CaseServer::HostOf(i));
            EXPECT_NE(o.note.find(note), std::string::npos) << "note: " << o.note << "\nlacks: " << note;
            // A challenge is not asked again, whatever its Retry-After said.
            if (c.name == "a 503 challenge with Retry-After") {
                EXPECT_EQ(server.RequestsTo(CaseServer::HostOf(i)), 1u);
            }
        }
    }
}
