#pragma once
// HTTP GET for the commands: an interface they call, and its libcurl implementation.
// Every failure is raised as toolkit::Error with a German message that never shows the value of
// key= or appid=.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace retrieval {

inline constexpr const char* kUserAgent = "Quandrel Halmfang 0.1b";

class HttpClient {
public:
    virtual ~HttpClient() = default;
    // The body of a successful answer (final status below 400) as UTF-8 text; throws toolkit::Error.
    virtual std::string Get(const std::string& url) = 0;
};

struct FetchOptions {
    std::chrono::milliseconds connectTimeout{15'000};
    // A transfer that receives nothing for this long fails. Counted in whole seconds, at least one.
    std::chrono::milliseconds stallTimeout{30'000};
    std::chrono::milliseconds totalTimeout{120'000};
    std::uint64_t maxBodyBytes = std::uint64_t{256} << 20; // after decompression
    long maxRedirects = 10;
    // Trusted certificates for https; empty: the system's store.
    std::string caFile;
    // The window's TLS transport component is attached (SEOkicks request). It changes nothing:
    // https certificates are verified either way, and plain http never uses TLS.
    bool tlsTransportAttached = false;
    // How often the keep-going hook is called while a transfer runs.
    std::chrono::milliseconds pollInterval{25};
};

// Called on the fetching thread about every FetchOptions::pollInterval while a transfer runs, so
// the caller can handle window events. Returning false aborts the fetch with an error; an
// exception it throws ends the transfer and passes out of Get as it is.
using KeepGoing = std::function<bool()>;

class CurlHttpClient : public HttpClient {
public:
    explicit CurlHttpClient(FetchOptions options = {}, KeepGoing keepGoing = {});
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    std::string Get(const std::string& url) override;

    FetchOptions& options() { return options_; }
    const FetchOptions& options() const { return options_; }
    void setKeepGoing(KeepGoing keepGoing) { keepGoing_ = std::move(keepGoing); }

private:
    FetchOptions options_;
    KeepGoing keepGoing_;
    bool busy_ = false;
};

// Replaces the value of every key= and appid= parameter (any case) with "***".
std::string MaskSecrets(std::string_view text);

} // namespace retrieval
