// The table of bot-protection challenges: every service in it is told by an answer of its own, and
// ordinary answers (a page that names the services, a page behind a CDN, a plain refusal, a CDN's
// error page) are no challenge.
#include "retrieval/page/Challenge.h"
#include "tests/retrieval/ChallengeFixtures.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <string>

using challenge_test::ChallengeAnswers;
using retrieval::FindChallenge;
using retrieval::HeaderList;

namespace {

// The service found, "-" for none.
std::string Found(long status, const HeaderList& headers, const std::string& body) {
    const std::optional<retrieval::Challenge> challenge = FindChallenge(status, headers, body);
    return challenge ? challenge->service : "-";
}

} // namespace

TEST(Challenge, EveryServiceOfTheTableIsToldByItsAnswerWhateverTheStatus) {
    for (const challenge_test::ChallengeAnswer& a : ChallengeAnswers()) {
        SCOPED_TRACE(a.name);
        for (const long status : {403L, 429L})
            EXPECT_EQ(Found(status, a.headers, a.body), a.service) << status;
        EXPECT_EQ(Found(200, a.headers, a.body), a.knownOn200 ? a.service : "-");
    }
    for (const retrieval::ChallengeSignature& signature : retrieval::ChallengeSignatures())
        EXPECT_TRUE(std::any_of(ChallengeAnswers().begin(), ChallengeAnswers().end(),
                                [&](const auto& a) { return a.service == signature.service; }))
            << "no answer for \"" << signature.service << "\"";
    EXPECT_EQ(retrieval::ChallengeReason({"Cloudflare"}), "blockiert (Bot-Schutz: Cloudflare)");
    EXPECT_EQ(retrieval::ChallengeReason({""}), "blockiert (Bot-Schutz)");
}

TEST(Challenge, OrdinaryAnswersAreNoChallenge) {
    const HeaderList viaCloudflare = {{"Server", "cloudflare"}, {"CF-RAY", "8f1b2c3d4e5f6a7b-FRA"}};
    const std::string article =
        "<html><head><title>Bot-Schutz im Vergleich: Cloudflare, Akamai, DataDome, PerimeterX</title></head>"
        "<body><p>Wer „Just a moment...“ sieht, ist bei Cloudflare gelandet; Imperva (früher Incapsula) "
        "zeigt eine „incident ID“, DataDome lädt sein Captcha von captcha-delivery.com, AWS WAF heißt "
        "auch awswaf.com. Sucuri WebSite Firewall und Vercel Security Checkpoint kommen "
        "vor.</p></body></html>";
    // Cloudflare's script that watches for bots stands in every page it serves.
    const std::string behindCloudflare =
        "<html><head><title>Gartenblog</title></head><body><p>Artikel</p><script>(function(){var "
        "a=document.createElement('iframe');window.__CF$cv$params={r:'8f1b',t:'MTczMzY1'};a.src="
        "'/cdn-cgi/challenge-platform/scripts/jsd/main.js';})();</script></body></html>";
    const std::string originDown =
        "<html><head><title>blog.example | 522: Connection timed out</title></head><body><div "
        "id=\"cf-error-details\" class=\"cf-error-details-wrapper\"><h1>Connection timed out</h1>"
        "</div></body></html>";
    const struct {
        const char* name;
        long status;
        HeaderList headers;
        std::string body;
    } cases[] = {
        {"an article that names every service", 200, {{"Server", "nginx"}}, article},
        {"the same article refused", 403, {{"Server", "nginx"}}, article},
        {"an ordinary page behind Cloudflare", 200, viaCloudflare, behindCloudflare},
        {"a plain 403 behind Cloudflare", 403, viaCloudflare, behindCloudflare},
        {"a plain 403", 403, {{"Server", "nginx"}}, "<html><head><title>403 Forbidden</title></head></html>"},
        {"a dead page at Akamai's edge", 404, {{"Server", "AkamaiGHost"}}, "<H1>Not Found</H1>"},
        {"an origin down behind Cloudflare", 522, viaCloudflare, originDown},
        {"an ordinary page behind DDoS-Guard", 200, {{"Server", "ddos-guard"}}, "<p>Artikel</p>"},
        {"a header that only names the service's edge, on a page that works",
         200,
         {{"X-CDN", "Imperva"}, {"X-DataDome", "protected"}},
         "<p>Artikel</p>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Found(c.status, c.headers, c.body), "-") << c.name;
}

// Markers count within the window only: a challenge page is small, and the rest of a large page is
// never searched.
TEST(Challenge, OnlyTheFirstPartOfTheBodyIsSearched) {
    const std::string marker = "id=\"px-captcha\"";
    const std::string filler(retrieval::kChallengeWindowBytes - marker.size(), ' ');
    EXPECT_EQ(Found(403, {}, filler + marker + "></div>"), "PerimeterX");
    EXPECT_EQ(Found(403, {}, filler + " " + marker + "></div>"), "-");
}
