#pragma once
// How the headless browser is started: its command line (the closed-network switches, the proxy
// libcurl would use, the time limit) and the user it runs as. Plain values in, plain values out,
// so that every rule is testable without a browser.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace retrieval {

// The proxy variables as libcurl reads them: http_proxy in lower case only, the others in lower
// case before upper case; empty ones count as unset.
struct ProxySettings {
    std::string http;    // http_proxy
    std::string https;   // https_proxy, HTTPS_PROXY
    std::string all;     // all_proxy, ALL_PROXY
    std::string noProxy; // no_proxy, NO_PROXY
    bool operator==(const ProxySettings&) const = default;
};
using EnvironmentLookup = std::function<const char*(const char*)>;
ProxySettings ProxyFromEnvironment(const EnvironmentLookup& lookup);
ProxySettings ProxyFromEnvironment(); // this process's environment

// The browser's proxy switches for the same settings: --proxy-server with one proxy per scheme
// (socks5h and socks4a become the browser's socks5 and socks4, curl's default port 1080 is
// written out) and --proxy-bypass-list from no_proxy, where a name also covers its subdomains as
// in curl and loopback addresses go through the proxy as in curl; --no-proxy-server without any.
// `refused` is set (German) where the browser cannot follow: a proxy with user name and password,
// a kind of proxy it does not know.
struct ProxyArguments {
    std::vector<std::string> arguments;
    std::string refused;
};
ProxyArguments BrowserProxyArguments(const ProxySettings& proxy);

struct BrowserLaunch {
    std::string profile; // the fresh user-data folder of this start
    std::string url;
    ProxySettings proxy;
    std::chrono::milliseconds limit{15'000}; // the whole render
    bool ownSandbox = true;                  // false: --no-sandbox, where the system allows none
    std::string userAgent;
};
// The arguments after the program's name; `refused` as BrowserProxyArguments gives it, or set
// when the address is no http or https one.
ProxyArguments BrowserArguments(const BrowserLaunch& launch);

// An account of the system, as the password database has it.
struct Account {
    std::string name;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
};

// Who the browser runs as: never root. A program that runs as root starts it as the unprivileged
// account given (nobody); without one that is really unprivileged it is not started.
struct BrowserUser {
    std::optional<Account> switchTo; // set: groups, gid and uid are dropped to it before the start
    std::string refused;             // set: not started, in German
};
BrowserUser ChooseBrowserUser(std::uint32_t effectiveUid, const std::optional<Account>& unprivileged);

} // namespace retrieval
