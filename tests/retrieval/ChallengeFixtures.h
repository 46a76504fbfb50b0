#pragma once
// Answers as the large CDNs and web-application firewalls send them in place of a page (headers and
// the telling part of the body), for the challenge table's own test and for the Prüfe's.

#include "retrieval/page/Headers.h"

#include <string>
#include <vector>

namespace challenge_test {

struct ChallengeAnswer {
    std::string name;
    std::string service; // as the reason names it; empty: an unknown service
    retrieval::HeaderList headers;
    std::string body;
    bool knownOn200 = true; // also told as a challenge when served with 200
};

inline const std::vector<ChallengeAnswer>& ChallengeAnswers() {
    static const std::vector<ChallengeAnswer> answers = {
        {"Cloudflare managed challenge",
         "Cloudflare",
         {{"Server", "cloudflare"}, {"cf-mitigated", "challenge"}, {"CF-RAY", "8f1b2c3d4e5f6a7b-FRA"}},
         "<!DOCTYPE html><html lang=\"en-US\"><head><title>Just a moment...</title>"
         "<meta name=\"robots\" content=\"noindex,nofollow\"></head><body><div class=\"main-wrapper\">"
         "<noscript><div class=\"h2\"><span id=\"challenge-error-text\">Enable JavaScript and cookies to "
         "continue</span></div></noscript></div><script>(function(){window._cf_chl_opt={cvId: '3',cZone: "
         "\"blog.example\",cType: 'managed',cRay: '8f1b2c3d4e5f6a7b'};var a = "
         "document.createElement('script');a.src = "
         "'/cdn-cgi/challenge-platform/h/g/orchestrate/chl_page/v1?ray=8f1b2c3d4e5f6a7b';"
         "document.getElementsByTagName('head')[0].appendChild(a);}());</script></body></html>"},
        {"Cloudflare challenge without its header (a proxy dropped it)",
         "Cloudflare",
         {{"Server", "cloudflare"}},
         "<!DOCTYPE html><html><head><title>Just a moment...</title></head><body><script>"
         "(function(){window._cf_chl_opt={cvId: '3',cType: 'non-interactive'};var a = "
         "document.createElement('script');a.src = "
         "'/cdn-cgi/challenge-platform/h/b/orchestrate/chl_page/v1?ray=8f1b';}());</script></body></html>"},
        {"Cloudflare block page",
         "Cloudflare",
         {{"Server", "cloudflare"}, {"CF-RAY", "8f1b2c3d4e5f6a7c-FRA"}},
         "<!DOCTYPE html><html><head><title>Attention Required! | Cloudflare</title></head><body>"
         "<div id=\"cf-wrapper\"><div id=\"cf-error-details\" class=\"cf-error-details-wrapper\">"
         "<h1 data-translate=\"block_headline\">Sorry, you have been blocked</h1><h2 "
         "class=\"cf-subheadline\">"
         "<span data-translate=\"unable_to_access\">You are unable to access</span> blog.example</h2>"
         "</div></div></body></html>"},
        {"Akamai access denied",
         "Akamai",
         {{"Server", "AkamaiGHost"}, {"Mime-Version", "1.0"}},
         "<HTML><HEAD>\n<TITLE>Access Denied</TITLE>\n</HEAD><BODY>\n<H1>Access Denied</H1>\n \nYou don't "
         "have permission to access \"http&#58;&#47;&#47;blog&#46;example&#47;artikel\" on this server.<P>\n"
         "Reference&#32;&#35;18&#46;2f3c1502&#46;1733650000&#46;1a2b3c4d\n<P>https&#58;&#47;&#47;errors&#46;"
         "edgesuite&#46;net&#47;18&#46;2f3c1502&#46;1733650000&#46;1a2b3c4d</P>\n</BODY>\n</HTML>\n"},
        {"Imperva (Incapsula) challenge",
         "Imperva",
         {{"X-CDN", "Imperva"}, {"X-Iinfo", "12-34567890-0 0NNN RT(1733650000000 0) q(0 -1 -1 -1) r(0 -1)"}},
         "<html style=\"height:100%\"><head><META NAME=\"ROBOTS\" CONTENT=\"NOINDEX, NOFOLLOW\"></head>"
         "<body style=\"margin:0px;height:100%\"><iframe id=\"main-iframe\" "
         "src=\"/_Incapsula_Resource?CWUDNSAI=23&xinfo=12-34567890-0&incident_id=1234-5678&edet=15\" "
         "frameborder=0 width=\"100%\" height=\"100%\">Request unsuccessful. Incapsula incident ID: "
         "1234-5678</iframe></body></html>"},
        {"DataDome captcha",
         "DataDome",
         {{"X-DataDome", "protected"}, {"Set-Cookie", "datadome=AHrlqAAAAAMA; Max-Age=31536000; Path=/"}},
         "<html lang=\"en\"><head><title>blog.example</title></head><body style=\"margin:0\">"
         "<p id=\"cmsg\">Please enable JS and disable any ad blocker</p><script data-cfasync=\"false\">"
         "var dd={'rt':'c','cid':'AHrlqAAAAAMA','hsh':'0A1B2C','t':'fe','s':12345,'e':'abc',"
         "'host':'geo.captcha-delivery.com'}</script><script data-cfasync=\"false\" "
         "src=\"https://ct.captcha-delivery.com/c.js\"></script></body></html>"},
        {"PerimeterX press and hold",
         "PerimeterX",
         {},
         "<!DOCTYPE html><html lang=\"en\"><head><title>Access to this page has been denied.</title></head>"
         "<body><h1>Please verify you are a human</h1><div id=\"px-captcha\"></div><script>"
         "window._pxAppId = 'PXab12cd34';</script><script "
         "src=\"https://captcha.px-cdn.net/PXab12cd34/captcha.js?a=c&m=0\"></script></body></html>"},
        {"AWS WAF challenge",
         "AWS WAF",
         {{"x-amzn-waf-action", "challenge"}},
         "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title></title><script>"
         "window.awsWafCookieDomainList = [];window.gokuProps = {\"key\":\"AQIDAHjc\",\"iv\":\"D549x\","
         "\"context\":\"p3mLQ\"};</script><script "
         "src=\"https://0f1e2d3c4b5a.edge.sdk.awswaf.com/0f1e2d3c4b5a/a1b2c3d4e5f6/challenge.js\">"
         "</script></head><body><div id=\"challenge-container\"></div></body></html>"},
        {"Sucuri firewall block",
         "Sucuri",
         {{"Server", "Sucuri/Cloudproxy"}, {"X-Sucuri-ID", "16014"}, {"X-Sucuri-Block", "BOT01"}},
         "<!DOCTYPE html><html><head><title>Sucuri WebSite Firewall - Access Denied</title></head><body>"
         "<h2>Access Denied - Sucuri Website Firewall</h2></body></html>"},
        {"Sucuri JavaScript challenge",
         "Sucuri",
         {{"Server", "Sucuri/Cloudproxy"}, {"X-Sucuri-ID", "16014"}},
         "<html><title>You are being redirected...</title><noscript>Javascript is required. Please enable "
         "javascript before you are allowed to see this page.</noscript><script>var s={},u,c,U,r,i,l=0,a,"
         "e=eval,w=String.fromCharCode,sucuri_cloudproxy_js='',S='cz0iNyIuY2hhckF0KDAp';</script></html>"},
        {"Vercel security checkpoint",
         "Vercel",
         {{"Server", "Vercel"}, {"x-vercel-mitigated", "challenge"}, {"x-vercel-id", "fra1::abcde"}},
         "<!DOCTYPE html><html><head><title>Vercel Security Checkpoint</title></head><body>"
         "<p>We're verifying your browser</p></body></html>"},
        {"DDoS-Guard check",
         "DDoS-Guard",
         {{"Server", "ddos-guard"}, {"Set-Cookie", "__ddg1_=AbCdEf; Path=/"}},
         "<!DOCTYPE html><html><head><title>DDoS-Guard</title></head><body>"
         "<p>Checking your browser before accessing blog.example</p></body></html>",
         false},
        {"challenge of an unknown service",
         "",
         {{"Server", "nginx"}},
         "<!DOCTYPE html><html><head><title>One moment, please...</title></head><body>"
         "<h1>Please verify you are a human</h1><p>Press and hold the button.</p></body></html>",
         false},
    };
    return answers;
}

} // namespace challenge_test
