// An HTTP proxy on 127.0.0.1 for the real-window test: it answers every request itself and
// never connects anywhere. It plays the SEOkicks service and the linking pages its answer lists.
//
// Usage: loopback_proxy <port-file> <log-file> [lifetime-seconds]
// SIGUSR1 moves it to a week later: the service lists one page less and one more, and some pages
// have changed (history/ in the data folder).
// The chosen port goes to stdout and to <port-file> (written whole, then renamed into place).
// Every request line goes to <log-file> as it arrives. A request for http://loopback.steuerung/
// link-entfernen takes the link off the page of gefunden.example from then on, one for
// http://loopback.steuerung/seite-abschalten makes the page of puny.example answer 404 (until
// seite-anschalten), for tests of what a later Prüfe finds lost. The proxy ends on SIGTERM or SIGINT, and
// by itself after the lifetime (300 s unless given), so a crashed test leaves nothing behind.

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kServiceHost = "www.seokicks.de";
constexpr const char* kServicePath = "/SEOkicksService/V1/inlinkData";
constexpr std::chrono::seconds kSlowPageDelay{3};
constexpr const char* kFoundPage = "http://gefunden.example/artikel.html";
constexpr const char* kRemoveLinkControl = "http://loopback.steuerung/link-entfernen";
constexpr const char* kPunyPage = "http://puny.example/links.html";
constexpr const char* kPageOffControl = "http://loopback.steuerung/seite-abschalten";
constexpr const char* kPageOnControl = "http://loopback.steuerung/seite-anschalten";

std::atomic<bool> g_stop{false};
std::atomic<bool> g_later{false};

void OnSignal(int) {
    g_stop = true;
}

void OnLater(int) {
    g_later = true;
}

struct Answer {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::string body;
    std::chrono::seconds delay{0};
};

std::string ReadDataFile(const char* name) {
    const std::string path = std::string(QH_TEST_DATA_DIR) + "/e2e/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "loopback_proxy: cannot read " << path << "\n";
        std::exit(2);
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Answer Page(std::string body) {
    Answer a;
    a.body = std::move(body);
    return a;
}

// The linking pages, by absolute URI. "müller.example" is the domain the test types.
std::map<std::string, Answer> LinkingPages() {
    std::map<std::string, Answer> pages;
    pages[kFoundPage] =
        Page("<html><body><p>Alles f\xc3\xbcr den Garten bei <a href=\"http://m\xc3\xbcller.example/\">"
             "m\xc3\xbcller.example</a>.</p></body></html>\n");
    // Only another case of the domain: a case-blind test would wrongly find it.
    pages["http://anders.example/seite.html"] =
        Page("<html><body><p>Fr\xc3\xbchere Partner: M\xc3\xbcller.example und mueller.example.</p>"
             "</body></html>\n");
    Answer gone = Page("<html><body>Nicht gefunden</body></html>\n");
    gone.status = 404;
    pages["http://weg.example/alt.html"] = gone;
    Answer slow = Page("<html><body>Sp\xc3\xa4t, aber da: m\xc3\xbcller.example</body></html>\n");
    slow.delay = kSlowPageDelay;
    pages["http://langsam.example/blog/eintrag?id=7"] = slow;
    // The domain in ISO-8859-1 bytes: found only when the page is decoded by its charset.
    Answer latin1 = Page("<html><body>Verzeichnis: Gartenbau M\xfcller, m\xfcller.example</body></html>\n");
    latin1.contentType = "text/html; charset=ISO-8859-1";
    pages["http://latin1.example/verzeichnis.html"] = latin1;
    // Links carry a domain with umlauts in its ASCII form.
    pages["http://puny.example/links.html"] =
        Page("<html><body><a href=\"http://xn--mller-kva.example/\">Gartenbau</a></body></html>\n");
    return pages;
}

// A week later: a link removed, one turned nofollow, one page answering 403, one 404, one new page.
std::map<std::string, Answer> LaterPages() {
    std::map<std::string, Answer> pages;
    pages["http://gefunden.example/artikel.html"] =
        Page("<html><body><p>Alles f\xc3\xbcr den Garten bei m\xc3\xbcller.example.</p></body></html>\n");
    pages["http://puny.example/links.html"] = Page(
        "<html><body><a rel=\"nofollow\" href=\"http://xn--mller-kva.example/\">Gartenbau</a></body></html>\n");
    Answer forbidden = Page("<html><body>Zugriff verweigert</body></html>\n");
    forbidden.status = 403;
    pages["http://latin1.example/verzeichnis.html"] = forbidden;
    Answer gone = Page("<html><body>Nicht gefunden</body></html>\n");
    gone.status = 404;
    pages["http://anders.example/seite.html"] = gone;
    pages["http://neu.example/seite.html"] =
        Page("<html><body><a href=\"http://m\xc3\xbcller.example/\">M\xc3\xbcller</a></body></html>\n");
    return pages;
}

// The query must carry the keys the program sends, in order; only appid, query and results vary.
bool IsServiceQuery(const std::string& query) {
    std::istringstream in(query);
    std::string pair;
    const char* keys[] = {"appid=", "query=", "details=2", "results=", "page=1"};
    std::size_t i = 0;
    while (std::getline(in, pair, '&')) {
        const std::string key = keys[i == std::size(keys) ? 0 : i];
        const bool fixed = key.back() != '=';
        if (i == std::size(keys) || (fixed ? pair != key : pair.rfind(key, 0) != 0))
            return false;
        ++i;
    }
    return i == std::size(keys);
}

class Proxy {
public:
    explicit Proxy(const std::string& logPath)
        : serviceAnswer_(ReadDataFile("seokicks_answer.xml")),
          laterServiceAnswer_(ReadDataFile("history/seokicks_answer_2.xml")), pages_(LinkingPages()),
          laterPages_(LaterPages()) {
        logFd_ = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        if (logFd_ < 0) {
            std::perror("loopback_proxy: log file");
            std::exit(2);
        }
    }

    Answer answer(const std::string& method, const std::string& target) const {
        Answer bad;
        bad.status = 400;
        bad.contentType = "text/plain";
        bad.body = "loopback_proxy: only GET with an absolute http URI\n";
        if (method != "GET" || target.rfind("http://", 0) != 0)
            return bad;
        if (g_later) {
            const auto later = laterPages_.find(target);
            if (later != laterPages_.end())
                return later->second;
        }
        if (target == kRemoveLinkControl) {
            linkRemoved_ = true;
            return Page("ok\n");
        }
        if (linkRemoved_ && target == kFoundPage)
            return Page("<html><body><p>Alles f\xc3\xbcr den Garten.</p></body></html>\n");
        if (target == kPageOffControl || target == kPageOnControl) {
            pageOff_ = target == kPageOffControl;
            return Page("ok\n");
        }
        if (pageOff_ && target == kPunyPage) {
            Answer gone = Page("<html><body>Nicht gefunden</body></html>\n");
            gone.status = 404;
            return gone;
        }
        const auto page = pages_.find(target);
        if (page != pages_.end())
            return page->second;

        const std::size_t hostEnd = target.find('/', 7);
        const std::string host = target.substr(7, hostEnd - 7);
        const std::string rest = hostEnd == std::string::npos ? "/" : target.substr(hostEnd);
        const std::size_t q = rest.find('?');
        if (host == kServiceHost && rest.substr(0, q) == kServicePath && q != std::string::npos &&
            IsServiceQuery(rest.substr(q + 1))) {
            Answer a;
            a.contentType = "text/xml; charset=utf-8";
            a.body = g_later ? laterServiceAnswer_ : serviceAnswer_;
            return a;
        }
        Answer unknown;
        unknown.status = 404;
        unknown.contentType = "text/plain";
        unknown.body = "loopback_proxy: unknown address\n";
        return unknown;
    }

    void log(const std::string& requestLine) {
        const std::string line = requestLine + "\n";
        std::lock_guard lock(logMutex_);
        if (::write(logFd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            std::perror("loopback_proxy: log write");
    }

    void serve(int fd) {
        std::string head;
        char buf[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < (1 << 16)) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 200) <= 0) {
                if (g_stop)
                    break;
                continue;
            }
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            head.append(buf, static_cast<std::size_t>(n));
        }
        const std::size_t lineEnd = head.find("\r\n");
        if (lineEnd != std::string::npos && head.find("\r\n\r\n") != std::string::npos) {
            const std::string requestLine = head.substr(0, lineEnd);
            log(requestLine);
            const std::size_t s1 = requestLine.find(' ');
            const std::size_t s2 = requestLine.rfind(' ');
            Answer a;
            if (s1 == std::string::npos || s2 == s1)
                a = answer("", "");
            else
                a = answer(requestLine.substr(0, s1), requestLine.substr(s1 + 1, s2 - s1 - 1));
            for (auto until = std::chrono::steady_clock::now() + a.delay;
                 !g_stop && std::chrono::steady_clock::now() < until;)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const std::string reason = a.status == 200   ? "OK"
                                       : a.status == 404 ? "Not Found"
                                       : a.status == 403 ? "Forbidden"
                                                         : "Bad Request";
            const std::string out = "HTTP/1.1 " + std::to_string(a.status) + " " + reason +
                                    "\r\nContent-Type: " + a.contentType +
                                    "\r\nContent-Length: " + std::to_string(a.body.size()) +
                                    "\r\nConnection: close\r\n\r\n" + a.body;
            for (std::size_t sent = 0; sent < out.size();) {
                const ssize_t w = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
                if (w <= 0)
                    break;
                sent += static_cast<std::size_t>(w);
            }
        }
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }

private:
    std::string serviceAnswer_;
    std::string laterServiceAnswer_;
    std::map<std::string, Answer> pages_;
    std::map<std::string, Answer> laterPages_;
    int logFd_ = -1;
    std::mutex logMutex_;
    mutable std::atomic<bool> linkRemoved_{false};
    mutable std::atomic<bool> pageOff_{false};
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::cerr << "usage: loopback_proxy <port-file> <log-file> [lifetime-seconds]\n";
        return 2;
    }
    const std::string portFile = argv[1];
    const long lifetime = argc == 4 ? std::strtol(argv[3], nullptr, 10) : 300;
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGUSR1, OnLater);

    static Proxy& proxy = *new Proxy(argv[2]);

    const int listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listenFd < 0 || ::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd, 16) != 0 ||
        ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("loopback_proxy: listen");
        return 2;
    }
    const unsigned port = ntohs(addr.sin_port);
    {
        const std::string temporary = portFile + ".part";
        std::ofstream out(temporary, std::ios::trunc);
        out << port << "\n";
        out.close();
        if (!out || std::rename(temporary.c_str(), portFile.c_str()) != 0) {
            std::perror("loopback_proxy: port file");
            return 2;
        }
    }
    std::cout << port << std::endl;

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetime);
    while (!g_stop && std::chrono::steady_clock::now() < end) {
        pollfd p{listenFd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            std::thread([fd] { proxy.serve(fd); }).detach();
    }
    ::close(listenFd);
    // Connections still open are cut off with the process; their threads use the proxy to the end,
    // so it is never destroyed.
    std::_Exit(0);
}
