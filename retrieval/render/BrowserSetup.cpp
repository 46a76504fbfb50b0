#include "retrieval/render/BrowserSetup.h"

#include "text/Ascii.h"

#include <algorithm>
#include <cstdlib>

namespace retrieval {

namespace {

// Switches that keep the browser from reaching anything but the page: no updates, reports,
// safe-browsing lists, sync, link auditing or preconnects of its own; no dialogs, pop-ups or sound.
constexpr const char* kClosedNetwork[] = {
    "--headless",
    "--disable-gpu",
    "--no-first-run",
    "--no-default-browser-check",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--disable-default-apps",
    "--disable-extensions",
    "--disable-breakpad",
    "--disable-crash-reporter",
    "--disable-domain-reliability",
    "--disable-client-side-phishing-detection",
    "--safebrowsing-disable-auto-update",
    "--metrics-recording-only",
    "--no-pings",
    ("--disable-features=Translate,OptimizationHints,MediaRouter,DialMediaRouteProvider,"
     "CertificateTransparencyComponentUpdater,AutofillServerCommunication,NetworkTimeServiceQuerying"),
    "--password-store=basic",
    "--deny-permission-prompts",
    "--block-new-web-contents",
    "--noerrdialogs",
    "--mute-audio",
    "--hide-scrollbars",
    "--disable-dev-shm-usage",
};

// Timers of the page run ahead in virtual time, so that a link added after a delay is there.
constexpr int kVirtualTimeMs = 5000;

bool IsAsciiDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Names, addresses and address ranges as no_proxy lists them; nothing that could be read as a
// second rule of the browser's list.
bool IsPlainEntry(std::string_view entry) {
    return !entry.empty() && std::all_of(entry.begin(), entry.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '-' || c == '_' || c == ':' || c == '[' || c == ']' || c == '/';
    });
}

bool IsAddress(std::string_view entry) {
    if (entry.front() == '[' || entry.find(':') != std::string_view::npos)
        return true; // IPv6
    const std::string_view bare = entry.substr(0, entry.find('/'));
    int parts = 0;
    for (std::size_t at = 0; at <= bare.size(); ++parts) {
        const std::size_t dot = std::min(bare.find('.', at), bare.size());
        if (!IsAsciiDigits(bare.substr(at, dot - at)))
            return false;
        at = dot + 1;
    }
    return parts == 4;
}

// One proxy address in the browser's form, or empty with `refused` set.
std::string BrowserProxy(std::string_view value, std::string& refused) {
    value = text::ascii::Trim(value);
    std::string scheme = "http";
    if (const std::size_t colon = value.find("://"); colon != std::string_view::npos) {
        scheme = text::ascii::Lower(value.substr(0, colon));
        value.remove_prefix(colon + 3);
    }
    const std::string_view authority = value.substr(0, value.find_first_of("/?#"));
    if (authority.find('@') != std::string_view::npos) {
        refused = "der Browser kann keinen Proxy mit Benutzername und Passwort nutzen";
        return {};
    }
    std::string kind;
    if (scheme == "http" || scheme == "https")
        kind = scheme;
    else if (scheme == "socks4" || scheme == "socks4a")
        kind = "socks4";
    else if (scheme == "socks5" || scheme == "socks5h")
        kind = "socks5";
    if (kind.empty() || !IsPlainEntry(authority) || authority.front() == ':') {
        refused = "der Browser kann den Proxy aus http_proxy, https_proxy oder all_proxy nicht nutzen";
        return {};
    }
    const std::size_t bracket = authority.rfind(']');
    const std::size_t colon = authority.rfind(':');
    const bool hasPort =
        colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket);
    std::string out = kind + "://" + std::string(authority);
    if (!hasPort)
        out += kind == "https" ? ":443" : ":1080"; // curl's defaults, not the browser's
    return out;
}

} // namespace

ProxySettings ProxyFromEnvironment(const EnvironmentLookup& lookup) {
    const auto first = [&lookup](std::initializer_list<const char*> names) {
        for (const char* name : names)
            if (const char* value = lookup(name); value != nullptr && *value != '\0')
                return std::string(value);
        return std::string();
    };
    return {first({"http_proxy"}), first({"https_proxy", "HTTPS_PROXY"}), first({"all_proxy", "ALL_PROXY"}),
            first({"no_proxy", "NO_PROXY"})};
}

ProxySettings ProxyFromEnvironment() {
    return ProxyFromEnvironment([](const char* name) { return std::getenv(name); });
}

ProxyArguments BrowserProxyArguments(const ProxySettings& proxy) {
    ProxyArguments out;
    const std::string& http = proxy.http.empty() ? proxy.all : proxy.http;
    const std::string& https = proxy.https.empty() ? proxy.all : proxy.https;
    if ((http.empty() && https.empty()) || text::ascii::Trim(proxy.noProxy) == "*") {
        out.arguments.push_back("--no-proxy-server");
        return out;
    }
    std::string rules;
    for (const auto& [scheme, value] : {std::pair{"http", &http}, std::pair{"https", &https}}) {
        if (value->empty())
            continue;
        const std::string browserProxy = BrowserProxy(*value, out.refused);
        if (browserProxy.empty())
            return {{}, out.refused};
        rules += (rules.empty() ? "" : ";") + std::string(scheme) + "=" + browserProxy;
    }
    out.arguments.push_back("--proxy-server=" + rules);
    // The browser never sends loopback addresses to a proxy unless told to; curl does.
    std::string bypass;
    std::string_view rest = proxy.noProxy;
    while (!rest.empty()) {
        const std::size_t comma = std::min(rest.find(','), rest.size());
        std::string_view entry = text::ascii::Trim(rest.substr(0, comma));
        rest.remove_prefix(std::min(comma + 1, rest.size()));
        while (!entry.empty() && entry.front() == '.')
            entry.remove_prefix(1);
        if (!IsPlainEntry(entry))
            continue;
        bypass += std::string(entry) + ";";
        if (!IsAddress(entry))
            bypass += "*." + std::string(entry) + ";";
    }
    out.arguments.push_back("--proxy-bypass-list=" + bypass + "<-loopback>");
    return out;
}

ProxyArguments BrowserArguments(const BrowserLaunch& launch) {
    const std::string scheme = text::ascii::Lower(launch.url.substr(0, launch.url.find(':')));
    const bool controls = std::any_of(launch.url.begin(), launch.url.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    // about:blank only tells whether the browser starts at all.
    if ((scheme != "http" && scheme != "https" && launch.url != "about:blank") || controls)
        return {{}, "der Browser öffnet nur http- und https-Adressen"};
    ProxyArguments proxy = BrowserProxyArguments(launch.proxy);
    if (!proxy.refused.empty())
        return proxy;
    std::vector<std::string> args(std::begin(kClosedNetwork), std::end(kClosedNetwork));
    args.push_back("--user-data-dir=" + launch.profile);
    if (!launch.ownSandbox)
        args.push_back("--no-sandbox");
    args.insert(args.end(), proxy.arguments.begin(), proxy.arguments.end());
    if (!launch.userAgent.empty())
        args.push_back("--user-agent=" + launch.userAgent);
    // The browser's own limit ends the load a little before ours, so that it still hands over the
    // document as far as it got; ours ends a browser that hands over nothing.
    const auto limit = launch.limit.count();
    const auto own = std::max<std::int64_t>(1000, limit - std::max<std::int64_t>(2000, limit / 5));
    args.push_back("--virtual-time-budget=" + std::to_string(kVirtualTimeMs));
    args.push_back("--timeout=" + std::to_string(own));
    args.push_back("--dump-dom");
    args.push_back(launch.url);
    return {args, {}};
}

BrowserUser ChooseBrowserUser(std::uint32_t effectiveUid, const std::optional<Account>& unprivileged) {
    if (effectiveUid != 0)
        return {};
    if (!unprivileged || unprivileged->uid == 0 || unprivileged->gid == 0)
        return {std::nullopt, "kein Benutzerkonto ohne Rechte (nobody), unter dem der Browser laufen könnte"};
    return {unprivileged, {}};
}

} // namespace retrieval
