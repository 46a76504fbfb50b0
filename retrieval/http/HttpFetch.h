#pragma once
// HTTP GET for the commands: an interface they call, and its libcurl implementation.
// Every failure is raised as FetchError: a toolkit::Error with a German message that never shows
// the value of key= or appid=, plus a short reason fit for a tooltip.

#include "app/contract/Error.h"
#include "app/contract/EventSource.h"
#include "retrieval/page/Headers.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace retrieval {

inline constexpr const char* kUserAgent = "Quandrel Halmfang 0.1b";

class HttpClient {
public:
    virtual ~HttpClient() = default;
    // The body of a successful answer (final status below 400) as UTF-8 text; throws toolkit::Error.
    virtual std::string Get(const std::string& url) = 0;
    // Values that the client's messages hide wherever they stand (the stored key and code), also
    // where the parameter masking cannot tell where a value ends.
    void hideInMessages(std::vector<std::string> values) { hidden_ = std::move(values); }

protected:
    std::vector<std::string> hidden_;
};

class FetchError : public toolkit::Error {
public:
    FetchError(const std::string& message, std::string reason, long httpStatus = 0)
        : toolkit::Error(message), reason_(std::move(reason)), httpStatus_(httpStatus) {}
    // A few words without the URL, e.g. "HTTP-Status 404", "Zeitüberschreitung", "Antwort zu groß",
    // "blockiert (HTTP 403)".
    const std::string& reason() const noexcept { return reason_; }
    // The error status of the answer (400 or above), 0 for any other failure.
    long httpStatus() const noexcept { return httpStatus_; }
    // What the answer's Retry-After asked for, if it had one that could be read.
    std::optional<std::chrono::seconds> retryAfter() const noexcept { return retryAfter_; }
    void setAnswer(long status, std::optional<std::chrono::seconds> retryAfter) {
        httpStatus_ = status;
        retryAfter_ = retryAfter;
    }
    // A failure that may pass by itself: a time-out, a connection refused, unreachable or broken
    // off, a name the name server could not look up just then. Error answers are told by their
    // status instead.
    bool transient() const noexcept { return transient_; }
    void setTransient(bool transient) noexcept { transient_ = transient; }
    // What an error answer said beyond its status, so that a challenge page can be told from a
    // dead one: its headers and the first kErrorBodyBytes of its body. Empty for other failures.
    const HeaderList& answerHeaders() const noexcept { return answer_ ? answer_->headers : kNoHeaders; }
    std::string_view answerBody() const noexcept {
        return answer_ ? std::string_view(answer_->body) : std::string_view();
    }
    void keepAnswer(HeaderList headers, std::string body) {
        answer_ = std::make_shared<const Answer>(Answer{std::move(headers), std::move(body)});
    }

private:
    struct Answer {
        HeaderList headers;
        std::string body;
    };
    inline static const HeaderList kNoHeaders{};

    std::string reason_;
    long httpStatus_ = 0;
    std::optional<std::chrono::seconds> retryAfter_;
    bool transient_ = false;
    std::shared_ptr<const Answer> answer_; // shared: the error is copied as it is thrown and kept
};

// The part of an error answer's body that is kept; the transfer ends once it is in.
inline constexpr std::size_t kErrorBodyBytes = std::size_t{256} << 10;

// A successful answer as it arrived. Failures, including a final status of 400 or above, throw.
struct HttpResponse {
    long status = 0;
    std::string contentType; // of the final answer after redirects; empty when it had none
    std::string body;        // the bytes as sent, only a content encoding (gzip, ...) undone
    std::string finalUrl;    // the address that gave the final answer
    long redirects = 0;      // how many redirects were followed to get there
    HeaderList headers;      // of the final answer only, at most kMaxHeaderLines
};

inline constexpr std::size_t kMaxHeaderLines = 200;

struct FetchOptions {
    std::chrono::milliseconds connectTimeout{15'000};
    // A transfer that receives no byte at all for this long once it is connected fails; any byte
    // counts, also one of an unfinished header line, of chunk framing or of compressed data.
    std::chrono::milliseconds stallTimeout{30'000};
    std::chrono::milliseconds totalTimeout{120'000};
    std::uint64_t maxBodyBytes = std::uint64_t{256} << 20; // after decompression
    // A body over maxBodyBytes is cut there and the answer kept instead of failing (robots.txt,
    // which is read up to a limit).
    bool cutAtCap = false;
    long maxRedirects = 10;
    // Redirects the caller followed before this transfer (a page's refresh): they count against
    // maxRedirects, which the failure names as the limit.
    long redirectsBefore = 0;
    // Trusted certificates for https; empty: the system's store.
    std::string caFile;
    // The window's TLS transport component is attached (SEOkicks request). It changes nothing:
    // https certificates are verified either way, and plain http never uses TLS.
    bool tlsTransportAttached = false;
    // How often the keep-going hook is called while a transfer runs.
    std::chrono::milliseconds pollInterval{25};
};

// Called on the fetching thread about every FetchOptions::pollInterval while a transfer runs.
// Returning false aborts the fetch with an error; an exception it throws ends the transfer and
// passes out of Get/Fetch as it is.
using KeepGoing = std::function<bool()>;

// One transfer under way: it starts when made and progresses whenever `events` handles events, so
// that several can run side by side in one event loop. Each needs an event source of its own (its
// one timer). Going out of scope ends the transfer.
class CurlTransfer {
public:
    // Throws FetchError when the transfer cannot start (an address with a NUL, no libcurl).
    CurlTransfer(const std::string& url, const FetchOptions& options, toolkit::EventSource& events,
                 const std::vector<std::string>& hidden = {});
    ~CurlTransfer();
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    // Applies the stall time-out; true once the transfer has ended.
    bool poll();
    // Ends the transfer now; result() then throws the "abgebrochen" error.
    void abort();
    // The successful answer; throws FetchError (or what a callback raised) otherwise.
    HttpResponse result();

private:
    struct State;
    std::unique_ptr<State> s_;
};

// Seconds as a Retry-After header gives them, as a number or as an HTTP date (counted from `now`).
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value, std::time_t now);

// The transfer is driven through `events` (the window's event loop; a poll(2) loop of its own when
// null), and Get/Fetch wait in events->wait() until it is done, so that it goes on in whatever
// loop runs meanwhile. Its time-outs therefore count only time in which it could progress. No
// exception passes through libcurl: one raised in a callback stops the transfer and is raised
// again once libcurl has returned.
class CurlHttpClient : public HttpClient {
public:
    explicit CurlHttpClient(FetchOptions options = {}, KeepGoing keepGoing = {},
                            toolkit::EventSource* events = nullptr);
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    // Get() is Fetch() with the body turned into UTF-8 text.
    std::string Get(const std::string& url) override;
    HttpResponse Fetch(const std::string& url);

    FetchOptions& options() { return options_; }
    const FetchOptions& options() const { return options_; }
    void setKeepGoing(KeepGoing keepGoing) { keepGoing_ = std::move(keepGoing); }

private:
    FetchOptions options_;
    KeepGoing keepGoing_;
    toolkit::EventSource* events_;
    bool busy_ = false;
};

// Replaces the value of every key= and appid= parameter (any case) with "***".
std::string MaskSecrets(std::string_view text);
// Replaces every occurrence of each non-empty value with "***", the longest first.
std::string MaskValues(std::string_view text, std::vector<std::string> values);

} // namespace retrieval
