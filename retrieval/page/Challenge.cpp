#include "retrieval/page/Challenge.h"

#include "text/Ascii.h"

#include <algorithm>

namespace retrieval {

namespace {

// Markers are machine-made strings of the challenge pages (script names, element ids, variables),
// mostly with markup around them, so that an article that names the service or quotes its page
// as text does not match. Vendor names alone never count: ordinary pages mention them, and a CDN's
// server header comes with every page it serves.
constexpr ChallengeSignature kSignatures[] = {
    {"Cloudflare",
     {"cf-mitigated", "challenge"},
     {{{"_cf_chl_opt", "/cdn-cgi/challenge-platform/"},
       {"<title>Just a moment...</title>", "/cdn-cgi/challenge-platform/"},
       {"id=\"cf-error-details\"", "you have been blocked"}}}},
    // Its page writes the reference and its address in character references.
    {"Akamai",
     {"server", "akamaighost", true},
     {{{"<title>Access Denied</title>", "Reference&#32;&#35;"},
       {"errors&#46;edgesuite&#46;net", ""},
       {"/_sec/cp_challenge/", ""}}}},
    {"Imperva",
     {"x-cdn", "imperva", true},
     {{{"/_Incapsula_Resource?", "id=\"main-iframe\""}, {"Incapsula incident ID", ""}}}},
    {"DataDome", {"x-datadome", "", true}, {{{"captcha-delivery.com", "var dd="}}}},
    {"PerimeterX", {}, {{{"id=\"px-captcha\"", ""}, {"captcha.px-cdn.net/", ""}}}},
    {"AWS WAF", {"x-amzn-waf-action", ""}, {{{"window.gokuProps", "awswaf.com"}}}},
    {"Sucuri",
     {"x-sucuri-block", ""},
     {{{"sucuri_cloudproxy_js", ""}, {"<title>Sucuri WebSite Firewall - Access Denied</title>", ""}}}},
    {"Vercel", {"x-vercel-mitigated", "challenge"}, {}},
    {"DDoS-Guard", {"server", "ddos-guard", true}, {}},
    // Last: the words of challenge pages in general, on an error answer.
    {"",
     {},
     {{{"Checking your browser before accessing", ""},
       {"verify you are a human", ""},
       {"Enable JavaScript and cookies to continue", ""}}},
     true},
};

bool IsError(long status) {
    return status >= 400;
}

bool IsRefusal(long status) {
    return status == 403 || status == 429;
}

bool HeaderMatches(const ChallengeHeader& rule, long status, const HeaderList& headers) {
    if (rule.name.empty() || (rule.onRefusalOnly && !IsRefusal(status)))
        return false;
    return std::any_of(headers.begin(), headers.end(), [&rule](const auto& header) {
        return text::ascii::Lower(text::ascii::Trim(header.first)) == rule.name &&
               text::ascii::Lower(header.second).find(rule.contains) != std::string::npos;
    });
}

bool MarkersMatch(const ChallengeSignature& signature, long status, std::string_view lowered) {
    if (signature.markersOnErrorOnly && !IsError(status))
        return false;
    return std::any_of(
        signature.markers.begin(), signature.markers.end(), [lowered](const ChallengeMarkers& group) {
            if (group[0].empty())
                return false;
            return std::all_of(group.begin(), group.end(), [lowered](std::string_view marker) {
                return marker.empty() || lowered.find(text::ascii::Lower(marker)) != std::string_view::npos;
            });
        });
}

} // namespace

std::span<const ChallengeSignature> ChallengeSignatures() {
    return kSignatures;
}

std::optional<Challenge> FindChallenge(long status, const HeaderList& headers, std::string_view body) {
    // A header that only a challenge carries is the surest sign.
    for (const ChallengeSignature& signature : kSignatures)
        if (HeaderMatches(signature.header, status, headers))
            return Challenge{std::string(signature.service)};
    const std::string lowered =
        text::ascii::Lower(body.substr(0, std::min(body.size(), kChallengeWindowBytes)));
    for (const ChallengeSignature& signature : kSignatures)
        if (MarkersMatch(signature, status, lowered))
            return Challenge{std::string(signature.service)};
    return std::nullopt;
}

bool IsChallengeReason(std::string_view reason) {
    return reason.starts_with("blockiert (Bot-Schutz");
}

std::string ChallengeReason(const Challenge& challenge) {
    if (challenge.service.empty())
        return "blockiert (Bot-Schutz)";
    return "blockiert (Bot-Schutz: " + challenge.service + ")";
}

} // namespace retrieval
