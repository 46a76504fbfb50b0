#include "retrieval/http/HttpFetch.h"

#include "app/contract/Error.h"
#include "retrieval/http/HttpFailure.h"
#include "retrieval/http/PollEventSource.h"
#include "text/Utf8.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <curl/curl.h>
#include <exception>
#include <mutex>
#include <netdb.h>
#include <set>
#include <sys/socket.h>
#include <system_error>
#include <thread>

namespace retrieval {

namespace {

using Clock = std::chrono::steady_clock;

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw FetchError("Die HTTP-Bibliothek ließ sich nicht starten.", "Interner Fehler");
    });
}

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};

// The smallest buffer a growing body starts with.
constexpr std::size_t kMinBodyBuffer = std::size_t{64} << 10;

// Room for at least `needed` bytes: the cap, halved as often as that still leaves room. The
// buffer thus doubles up to exactly the cap, and a move to a larger buffer, which holds the old
// and the new one at once, never has more than the cap in use.
std::size_t BodyBufferFor(std::size_t needed, std::uint64_t cap) {
    std::uint64_t size = cap;
    while (size / 2 >= needed && size / 2 >= kMinBodyBuffer)
        size /= 2;
    return static_cast<std::size_t>(size);
}

bool StartsWithNoCase(std::string_view text, std::string_view lower) {
    if (text.size() < lower.size())
        return false;
    for (std::size_t k = 0; k < lower.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(text[k])) != lower[k])
            return false;
    return true;
}

// libcurl tells only that a name did not resolve, not whether the name server said there is no
// such name or failed to answer. A second lookup through the system's resolver, on a thread of its
// own, tells them apart: "no such name" stands, anything else may pass.
struct NameCheck {
    std::atomic<bool> done{false};
    std::atomic<bool> missing{false};
};

std::shared_ptr<NameCheck> StartNameCheck(std::string host) {
    auto check = std::make_shared<NameCheck>();
    try {
        std::thread([check, host = std::move(host)] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
            if (found != nullptr)
                ::freeaddrinfo(found);
            check->missing = rc == EAI_NONAME || rc == EAI_NODATA;
            check->done = true;
        }).detach(); // outlives the transfer if need be, as libcurl's own resolver threads do
    } catch (const std::system_error&) {
        check->done = true; // no thread: the failure counts as one that may pass
    }
    return check;
}

// The host of the address a transfer asked last (after redirects), in its ASCII form.
std::string HostOfEffectiveUrl(CURL* handle) {
    const char* effective = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK || effective == nullptr)
        return {};
    std::string host;
    CURLU* url = curl_url();
    char* part = nullptr;
    if (url != nullptr && curl_url_set(url, CURLUPART_URL, effective, 0) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_HOST, &part, CURLU_PUNYCODE) == CURLUE_OK && part != nullptr)
        host = part;
    curl_free(part);
    curl_url_cleanup(url);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return host;
}

// One transfer on its multi handle, driven through an event source. The libcurl callbacks below
// catch everything: an exception must not unwind through libcurl's C frames.
struct Transfer {
    CURL* handle = nullptr;
    CURLM* multi = nullptr;
    toolkit::EventSource* events = nullptr;
    std::string body;
    std::uint64_t cap = 0;
    bool tooLarge = false;
    bool cutAtCap = false;
    bool cut = false;     // the body was cut at the cap, as asked
    bool encoded = false; // the answer has a Content-Encoding: its Content-Length is not the body's
    long connections = 0; // requests that got their connection, redirects included
    // When a byte last arrived, or the current request got its connection. Counted at the socket,
    // since libcurl's callbacks see only whole header lines and decoded body bytes: a status line,
    // chunk framing or a gzip header coming in slowly would look like silence to them.
    Clock::time_point lastData = Clock::now();
    HeaderList headers; // of the latest answer
    std::set<curl_socket_t> watched;
    bool finished = false;
    bool internalError = false;
    CURLcode result = CURLE_OK;
    std::exception_ptr error; // raised in a callback, raised again after libcurl has returned

    void fail(std::exception_ptr e) {
        if (!error)
            error = std::move(e);
    }

    // From the event loop: lets libcurl act on a ready socket or its timer.
    void act(curl_socket_t fd, int ready) noexcept {
        if (finished)
            return;
        if (fd != CURL_SOCKET_TIMEOUT && (ready & toolkit::EventSource::kRead))
            lastData = Clock::now();
        const int mask = ((ready & toolkit::EventSource::kRead) ? CURL_CSELECT_IN : 0) |
                         ((ready & toolkit::EventSource::kWrite) ? CURL_CSELECT_OUT : 0);
        int running = 0;
        const CURLMcode rc = curl_multi_socket_action(multi, fd, mask, &running);
        if (error) {
            finished = true;
            return;
        }
        if (rc != CURLM_OK) {
            internalError = finished = true;
            return;
        }
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == handle) {
                result = msg->data.result;
                finished = true;
            }
        }
    }
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& t = *static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    try {
        long status = 0;
        curl_easy_getinfo(t.handle, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 400) {
            // Its first part tells a challenge page from a dead one; the rest is not waited for.
            const std::size_t room = kErrorBodyBytes - std::min(t.body.size(), kErrorBodyBytes);
            t.body.append(data, std::min(n, room));
            return n <= room ? n : 0;
        }
        const std::size_t needed = t.body.size() + n;
        if (needed > t.cap) {
            if (t.cutAtCap) {
                t.body.append(data, static_cast<std::size_t>(t.cap - t.body.size()));
                t.cut = true;
            } else {
                t.tooLarge = true;
            }
            return 0; // ends the transfer with a write error
        }
        if (needed > t.body.capacity()) {
            // Room for the announced length at once, rather than growing a 40 MB answer step by step;
            // a compressed answer announces its compressed length, which says nothing.
            curl_off_t announced = -1;
            curl_easy_getinfo(t.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
            if (t.body.empty() && !t.encoded && announced > 0 &&
                static_cast<std::uint64_t>(announced) <= t.cap &&
                static_cast<std::uint64_t>(announced) >= needed)
                t.body.reserve(static_cast<std::size_t>(announced));
            else
                t.body.reserve(BodyBufferFor(needed, t.cap));
        }
        t.body.append(data, n);
        return n;
    } catch (...) {
        t.fail(std::current_exception());
        return 0;
    }
}

// Keeps the header lines of the latest answer: a status line starts a new answer (a redirect or
// a 1xx answer came before it).
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& t = *static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    try {
        std::string_view line(data, n);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.remove_suffix(1);
        if (line.starts_with("HTTP/")) {
            t.encoded = false;
            t.headers.clear();
            return n;
        }
        if (StartsWithNoCase(line, "content-encoding:"))
            t.encoded = true;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || t.headers.size() >= kMaxHeaderLines)
            return n;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        t.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
        return n;
    } catch (...) {
        t.fail(std::current_exception());
        return 0;
    }
}

// Called once the connection of a request stands, before the request is sent.
int OnConnected(void* user, char*, char*, int, int) noexcept {
    auto& t = *static_cast<Transfer*>(user);
    ++t.connections;
    t.lastData = Clock::now();
    return CURL_PREREQFUNC_OK;
}

int OnSocket(CURL*, curl_socket_t fd, int what, void* user, void*) noexcept {
    auto& t = *static_cast<Transfer*>(user);
    try {
        if (what == CURL_POLL_REMOVE) {
            t.watched.erase(fd);
            t.events->watchSocket(fd, toolkit::EventSource::kNone, {});
            return 0;
        }
        const int interest =
            ((what == CURL_POLL_IN || what == CURL_POLL_INOUT) ? toolkit::EventSource::kRead : 0) |
            ((what == CURL_POLL_OUT || what == CURL_POLL_INOUT) ? toolkit::EventSource::kWrite : 0);
        t.watched.insert(fd);
        t.events->watchSocket(fd, interest, [&t](int socket, int ready) { t.act(socket, ready); });
        return 0;
    } catch (...) {
        t.fail(std::current_exception());
        return -1;
    }
}

int OnTimer(CURLM*, long timeoutMs, void* user) noexcept {
    auto& t = *static_cast<Transfer*>(user);
    try {
        if (timeoutMs < 0)
            t.events->stopTimer();
        else
            t.events->startTimer(std::chrono::milliseconds(timeoutMs),
                                 [&t] { t.act(CURL_SOCKET_TIMEOUT, 0); });
        return 0;
    } catch (...) {
        t.fail(std::current_exception());
        return -1;
    }
}

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool StartsWithIgnoringCase(std::string_view text, std::size_t at, std::string_view lower) {
    if (text.size() - at < lower.size())
        return false;
    for (std::size_t k = 0; k < lower.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(text[at + k])) != lower[k])
            return false;
    return true;
}

std::string Seconds(std::chrono::milliseconds ms) {
    if (ms.count() % 1000 == 0)
        return std::to_string(ms.count() / 1000) + " s";
    return std::to_string(ms.count()) + " ms";
}

std::string Bytes(std::uint64_t n) {
    if (n >= (1u << 20) && n % (1u << 20) == 0)
        return std::to_string(n >> 20) + " MiB";
    return std::to_string(n) + " Bytes";
}

} // namespace

std::string MaskSecrets(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t nameLen = 0;
        if (i == 0 || !IsWordChar(text[i - 1])) {
            if (StartsWithIgnoringCase(text, i, "key="))
                nameLen = 4;
            else if (StartsWithIgnoringCase(text, i, "appid="))
                nameLen = 6;
        }
        if (nameLen == 0) {
            out.push_back(text[i++]);
            continue;
        }
        out.append(text.substr(i, nameLen));
        i += nameLen;
        std::size_t end = i;
        while (end < text.size() && text[end] != '&' && text[end] != '#' &&
               !std::isspace(static_cast<unsigned char>(text[end])))
            ++end;
        if (end > i)
            out.append("***");
        i = end;
    }
    return out;
}

std::string MaskValues(std::string_view text, std::vector<std::string> values) {
    std::erase(values, std::string());
    std::sort(values.begin(), values.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto hit = std::find_if(values.begin(), values.end(),
                                      [&](const std::string& v) { return text.substr(i).starts_with(v); });
        if (hit == values.end()) {
            out.push_back(text[i++]);
            continue;
        }
        out.append("***");
        i += hit->size();
    }
    return out;
}

namespace detail {

FetchError Failure(const std::string& url, const FetchOutcome& o, const FetchOptions& options) {
    std::string reason; // in the full message
    std::string brief;  // the short reason; the same words unless set
    bool transient = false;
    switch (o.curlCode) {
    case CURLE_COULDNT_RESOLVE_HOST:
        reason = o.nameMayResolve ? "Namensauflösung gestört" : "Server nicht gefunden";
        transient = o.nameMayResolve;
        break;
    case CURLE_COULDNT_RESOLVE_PROXY:
        reason = "Proxy-Server nicht gefunden";
        transient = true; // the proxy's name: the own network's fault
        break;
    case CURLE_COULDNT_CONNECT:
        reason = o.osErrno == ECONNREFUSED ? "Verbindung abgelehnt" : "Server nicht erreichbar";
        transient = true;
        break;
    case CURLE_OPERATION_TIMEDOUT:
        transient = true;
        brief = "Zeitüberschreitung";
        if (o.stalled)
            reason =
                "Zeitüberschreitung: Server sendet seit " + Seconds(options.stallTimeout) + " keine Daten";
        else if (!o.connected && o.elapsed + std::chrono::milliseconds(50) < options.totalTimeout)
            reason = "Zeitüberschreitung beim Verbindungsaufbau (" + Seconds(options.connectTimeout) + ")";
        else
            reason = "Zeitüberschreitung: Abruf dauerte länger als " + Seconds(options.totalTimeout);
        break;
    case CURLE_HTTP_RETURNED_ERROR:
        brief = "HTTP-Status " + std::to_string(o.httpStatus);
        reason = "Server antwortete mit " + brief;
        // What bot protection answers, told apart from a dead page.
        if (o.httpStatus == 401 || o.httpStatus == 403 || o.httpStatus == 429 || o.httpStatus == 503)
            brief = "blockiert (HTTP " + std::to_string(o.httpStatus) + ")";
        break;
    case CURLE_PEER_FAILED_VERIFICATION:
        reason = "Zertifikat des Servers nicht vertrauenswürdig";
        brief = "TLS-Zertifikat nicht vertrauenswürdig";
        break;
    case CURLE_SSL_CACERT_BADFILE:
        reason = "Zertifikatsspeicher nicht lesbar";
        break;
    case CURLE_SSL_CONNECT_ERROR:
        reason = "Aufbau der TLS-Verbindung gescheitert";
        brief = "TLS-Fehler";
        break;
    case CURLE_WRITE_ERROR:
    case CURLE_FILESIZE_EXCEEDED:
        if (o.tooLarge || o.curlCode == CURLE_FILESIZE_EXCEEDED) {
            brief = "Antwort zu groß";
            reason = brief + " (mehr als " + Bytes(options.maxBodyBytes) + ")";
        } else {
            reason = "Antwort konnte nicht gespeichert werden";
        }
        break;
    case CURLE_ABORTED_BY_CALLBACK:
        reason = "abgebrochen";
        brief = "Abgebrochen";
        break;
    case CURLE_TOO_MANY_REDIRECTS:
        reason = "zu viele Weiterleitungen (mehr als " + std::to_string(options.maxRedirects) +
                 "), vermutlich eine Weiterleitungsschleife";
        brief = "Zu viele Weiterleitungen";
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY:
        // A server reached that answers without a status line (HTTP/0.9) or with garbage.
        if (o.connected || o.curlCode == CURLE_WEIRD_SERVER_REPLY) {
            reason = "Server antwortete nicht nach HTTP";
            brief = "Keine HTTP-Antwort";
        } else {
            reason = "nur http- und https-Adressen werden unterstützt";
            brief = "Keine http- oder https-Adresse";
        }
        break;
    case CURLE_URL_MALFORMAT:
        reason = "ungültige Adresse";
        brief = "Ungültige Adresse";
        break;
    case CURLE_BAD_CONTENT_ENCODING:
        reason = "komprimierte Antwort nicht lesbar";
        brief = "Komprimierte Antwort nicht lesbar";
        break;
    case CURLE_GOT_NOTHING:
        reason = "Server schloss die Verbindung ohne Antwort";
        brief = "Keine Antwort";
        transient = true;
        break;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        reason = "Verbindung während der Übertragung abgebrochen";
        brief = "Verbindung abgebrochen";
        transient = true;
        break;
    default:
        brief = "Netzwerkfehler " + std::to_string(o.curlCode);
        reason = brief + " (" + curl_easy_strerror(static_cast<CURLcode>(o.curlCode)) + ")";
        break;
    }
    if (brief.empty())
        brief = reason;
    FetchError error(MaskSecrets("Abruf von " + url + " fehlgeschlagen: " + reason + "."), std::move(brief),
                     o.curlCode == CURLE_HTTP_RETURNED_ERROR ? o.httpStatus : 0);
    error.setTransient(transient);
    return error;
}

std::string FailureMessage(const std::string& url, const FetchOutcome& o, const FetchOptions& options) {
    return Failure(url, o, options).what();
}

std::string BodyAsText(std::string body) {
    if (text::IsValidUtf8(body))
        return body;
    return text::Windows1252ToUtf8(body);
}

} // namespace detail

CurlHttpClient::CurlHttpClient(FetchOptions options, KeepGoing keepGoing, toolkit::EventSource* events)
    : options_(std::move(options)), keepGoing_(std::move(keepGoing)), events_(events) {
    InitCurlOnce();
}

CurlHttpClient::~CurlHttpClient() = default;

std::string CurlHttpClient::Get(const std::string& url) {
    return detail::BodyAsText(Fetch(url).body);
}

HttpResponse CurlHttpClient::Fetch(const std::string& url) {
    // The hook may handle window events, and with them a click that fetches again.
    if (busy_)
        throw FetchError("Es läuft bereits ein Abruf.", "Abruf läuft bereits");
    busy_ = true;
    struct Release {
        bool& flag;
        ~Release() { flag = false; }
    } release{busy_};

    PollEventSource ownEvents;
    toolkit::EventSource& events = events_ != nullptr ? *events_ : ownEvents;
    CurlTransfer transfer(url, options_, events, hidden_);
    auto lastHook = Clock::now();
    const auto poll =
        std::clamp(options_.pollInterval, std::chrono::milliseconds(1), std::chrono::milliseconds(1000));
    while (!transfer.poll()) {
        events.wait(poll);
        if (transfer.poll())
            break;
        const auto now = Clock::now();
        if (keepGoing_ && now - lastHook >= options_.pollInterval) {
            lastHook = now;
            if (!keepGoing_()) {
                transfer.abort();
                break;
            }
        }
    }
    return transfer.result();
}

struct CurlTransfer::State {
    Transfer transfer;
    std::unique_ptr<CURL, EasyDeleter> easy;
    std::unique_ptr<CURLM, MultiDeleter> multi;
    FetchOptions options;
    std::string shownUrl;
    Clock::time_point started = Clock::now();
    bool added = false;
    bool aborted = false;
    bool stalled = false;
    std::shared_ptr<NameCheck> nameCheck;

    // Requests that followed a redirect; the current one is connected once there are more connections.
    long redirects() const {
        long count = 0;
        curl_easy_getinfo(easy.get(), CURLINFO_REDIRECT_COUNT, &count);
        return count;
    }

    // Whatever way the transfer ends, the event source keeps no socket or timer of it, and libcurl
    // calls nothing of ours any more.
    ~State() {
        if (!added)
            return;
        curl_multi_remove_handle(multi.get(), easy.get());
        curl_multi_setopt(multi.get(), CURLMOPT_SOCKETFUNCTION, nullptr);
        curl_multi_setopt(multi.get(), CURLMOPT_TIMERFUNCTION, nullptr);
        transfer.finished = true;
        try {
            for (const curl_socket_t fd : transfer.watched)
                transfer.events->watchSocket(fd, toolkit::EventSource::kNone, {});
            transfer.events->stopTimer();
        } catch (...) {
            // Nothing of the transfer is left to call back into.
        }
    }
};

CurlTransfer::CurlTransfer(const std::string& url, const FetchOptions& options, toolkit::EventSource& events,
                           const std::vector<std::string>& hidden)
    : s_(std::make_unique<State>()) {
    InitCurlOnce();
    State& s = *s_;
    s.options = options;
    s.shownUrl = MaskValues(url, hidden);
    // libcurl takes a C string: a NUL inside would fetch a shorter address than the one given.
    if (url.find('\0') != std::string::npos) {
        detail::FetchOutcome malformed;
        malformed.curlCode = CURLE_URL_MALFORMAT;
        throw detail::Failure(s.shownUrl.substr(0, s.shownUrl.find('\0')), malformed, options);
    }

    Transfer& transfer = s.transfer;
    transfer.events = &events;
    transfer.cap = options.maxBodyBytes;
    transfer.cutAtCap = options.cutAtCap;
    s.easy.reset(curl_easy_init());
    s.multi.reset(curl_multi_init());
    if (!s.easy || !s.multi)
        throw FetchError("Die HTTP-Bibliothek ließ sich nicht starten.", "Interner Fehler");
    CURL* h = s.easy.get();
    transfer.handle = h;
    transfer.multi = s.multi.get();

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, std::max(0L, options.maxRedirects - options.redirectsBefore));
    // No CURLOPT_FAILONERROR: the headers and the first part of an error answer are kept.
    curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalTimeout.count()));
    if (!options.cutAtCap)
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBodyBytes));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.caFile.empty())
        curl_easy_setopt(h, CURLOPT_CAINFO, options.caFile.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &OnConnected);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024);
    // No CURLOPT_PROXY: libcurl then takes the proxy from the environment.
    curl_multi_setopt(s.multi.get(), CURLMOPT_SOCKETFUNCTION, &OnSocket);
    curl_multi_setopt(s.multi.get(), CURLMOPT_SOCKETDATA, &transfer);
    curl_multi_setopt(s.multi.get(), CURLMOPT_TIMERFUNCTION, &OnTimer);
    curl_multi_setopt(s.multi.get(), CURLMOPT_TIMERDATA, &transfer);

    const CURLMcode added = curl_multi_add_handle(s.multi.get(), h);
    s.added = true;
    if (transfer.error)
        std::rethrow_exception(transfer.error);
    if (added != CURLM_OK)
        throw FetchError("Die HTTP-Bibliothek ließ sich nicht starten.", "Interner Fehler");
}

CurlTransfer::~CurlTransfer() = default;

bool CurlTransfer::poll() {
    State& s = *s_;
    if (s.transfer.finished && s.transfer.result == CURLE_COULDNT_RESOLVE_HOST && !s.aborted &&
        !s.transfer.error) {
        if (!s.nameCheck)
            s.nameCheck = StartNameCheck(HostOfEffectiveUrl(s.easy.get()));
        // A name server that does not answer is given up on at the transfer's time-out.
        if (!s.nameCheck->done && Clock::now() - s.started < s.options.totalTimeout)
            return false;
    }
    if (s.transfer.finished || s.aborted || s.stalled)
        return true;
    if (s.transfer.connections > s.redirects() &&
        Clock::now() - s.transfer.lastData >= s.options.stallTimeout)
        s.stalled = true;
    return s.stalled;
}

void CurlTransfer::abort() {
    s_->aborted = true;
}

HttpResponse CurlTransfer::result() {
    State& s = *s_;
    Transfer& transfer = s.transfer;
    CURL* h = s.easy.get();
    if (transfer.error)
        std::rethrow_exception(transfer.error);
    if (transfer.internalError)
        throw FetchError(MaskSecrets("Abruf von " + s.shownUrl + " fehlgeschlagen: interner Fehler."),
                         "Interner Fehler");

    detail::FetchOutcome outcome;
    outcome.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - s.started);
    if (s.aborted)
        outcome.curlCode = CURLE_ABORTED_BY_CALLBACK;
    else if (s.stalled)
        outcome.curlCode = CURLE_OPERATION_TIMEDOUT;
    else
        outcome.curlCode = transfer.result;
    outcome.stalled = s.stalled;
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    outcome.httpStatus = status;
    long osErrno = 0;
    curl_easy_getinfo(h, CURLINFO_OS_ERRNO, &osErrno);
    outcome.osErrno = static_cast<int>(osErrno);
    outcome.connected = transfer.connections > s.redirects();
    outcome.tooLarge = transfer.tooLarge;
    outcome.nameMayResolve = s.nameCheck && !(s.nameCheck->done && s.nameCheck->missing);
    if (transfer.cut && outcome.curlCode == CURLE_WRITE_ERROR)
        outcome.curlCode = CURLE_OK; // cut at the cap, as asked

    // An error answer is told by its status, also where its body broke a limit or was cut off.
    if (status >= 400 && !s.aborted && !s.stalled) {
        outcome.curlCode = CURLE_HTTP_RETURNED_ERROR;
        FetchError error = detail::Failure(s.shownUrl, outcome, s.options);
        std::optional<std::chrono::seconds> retryAfter;
        for (const auto& [name, value] : transfer.headers)
            if (StartsWithNoCase(name, "retry-after") && name.size() == 11)
                retryAfter = ParseRetryAfter(value, std::time(nullptr));
        error.setAnswer(status, retryAfter);
        error.keepAnswer(std::move(transfer.headers), std::move(transfer.body));
        throw error;
    }
    if (outcome.curlCode != CURLE_OK)
        throw detail::Failure(s.shownUrl, outcome, s.options);

    HttpResponse response;
    response.status = status;
    const char* contentType = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType != nullptr)
        response.contentType = contentType;
    response.body = std::move(transfer.body);
    const char* finalUrl = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &finalUrl) == CURLE_OK && finalUrl != nullptr)
        response.finalUrl = finalUrl;
    curl_easy_getinfo(h, CURLINFO_REDIRECT_COUNT, &response.redirects);
    response.headers = std::move(transfer.headers);
    return response;
}

std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value, std::time_t now) {
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    if (value.empty())
        return std::nullopt;
    if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return value.size() > 9 ? std::chrono::seconds(999'999'999)
                                : std::chrono::seconds(std::stol(std::string(value)));
    const std::time_t at = curl_getdate(std::string(value).c_str(), nullptr);
    if (at < 0)
        return std::nullopt;
    return std::chrono::seconds(std::max<std::time_t>(at - now, 0));
}

} // namespace retrieval
