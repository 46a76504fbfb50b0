#pragma once
// "Check": fetches the backlinks of the domain from the chosen service into the table and the
// reports.

#include "app/contract/Window.h"
#include "retrieval/http/HttpFetch.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace retrieval {

inline constexpr const char* kSeokicksBase = "http://www.seokicks.de/SEOkicksService/V1/inlinkData?appid=";
inline constexpr const char* kXoviBase = "https://api.xovi.net/index.php?key=";

// The settings of the window's TLS transport component, which the SEOkicks client gets attached.
struct TlsTransport {
    enum class Mode { Unassigned, Client, Server, Both };
    Mode mode = Mode::Unassigned;
    std::vector<std::string> verifyMode; // empty: no verification
    int verifyDepth = 0;
    int port = 0;
};

// Creates the client for one request; `tls` is the attached transport, or null for none.
using ClientFactory = std::function<std::unique_ptr<HttpClient>(const TlsTransport* tls)>;

struct CheckSetup {
    std::string seokicksBase = kSeokicksBase;
    std::string xoviBase = kXoviBase;
    ClientFactory makeClient;
    const TlsTransport* tlsTransport = nullptr;
    // True once the user stopped the command: its fetch and waits then end (toolkit::Cancelled or
    // an aborted fetch), and a stop while the XOVI rows come in puts the table and the answer file
    // back as they were.
    std::function<bool()> stopped{};
};

void RunCheck(toolkit::Window& window, const CheckSetup& setup);

// Field texts go into the URL as typed, except for what cannot travel in a request line at all
// (space, control characters, non-ASCII), which is percent-encoded as UTF-8, and "#", which would
// cut the rest of the query off as a fragment.
std::string EncodeForRequestLine(std::string_view text);
std::string SeokicksUrl(const std::string& base, const std::string& code, const std::string& domain,
                        const std::string& maxResults);
std::string XoviUrl(const std::string& base, const std::string& key, const std::string& domain,
                    const std::string& limit);

// Signed 32-bit decimal with an optional sign; throws toolkit::Error for anything else.
std::int32_t StrToInt(std::string_view text);

} // namespace retrieval
