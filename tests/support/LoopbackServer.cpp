#include "tests/support/LoopbackServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

namespace testsupport {

namespace {

std::string DataFile(const char* name) {
    return std::string(QH_TEST_DATA_DIR) + "/" + name;
}

std::string ReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Plain socket or TLS session over it.
class Stream {
public:
    Stream(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
    ~Stream() {
        if (ssl_ != nullptr) {
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
    }
    long read(char* buf, int n) {
        if (ssl_ != nullptr)
            return SSL_read(ssl_, buf, n);
        return ::recv(fd_, buf, static_cast<std::size_t>(n), 0);
    }
    bool writeAll(const char* data, std::size_t n) {
        while (n > 0) {
            const int chunk = static_cast<int>(std::min<std::size_t>(n, 1 << 16));
            const long w = ssl_ != nullptr ? SSL_write(ssl_, data, chunk)
                                           : ::send(fd_, data, static_cast<std::size_t>(chunk), MSG_NOSIGNAL);
            if (w <= 0)
                return false;
            data += w;
            n -= static_cast<std::size_t>(w);
        }
        return true;
    }
    bool writeAll(const std::string& s) { return writeAll(s.data(), s.size()); }

private:
    int fd_;
    SSL* ssl_;
};

bool ParseRequest(const std::string& head, Request& r) {
    const std::size_t lineEnd = head.find("\r\n");
    r.requestLine = head.substr(0, lineEnd);
    const std::size_t s1 = r.requestLine.find(' ');
    const std::size_t s2 = r.requestLine.rfind(' ');
    if (s1 == std::string::npos || s2 == s1)
        return false;
    r.method = r.requestLine.substr(0, s1);
    r.target = r.requestLine.substr(s1 + 1, s2 - s1 - 1);
    std::string pathAndQuery = r.target;
    if (pathAndQuery.rfind("http://", 0) == 0 || pathAndQuery.rfind("https://", 0) == 0) {
        const std::size_t slash = pathAndQuery.find('/', pathAndQuery.find("//") + 2);
        pathAndQuery = slash == std::string::npos ? "/" : pathAndQuery.substr(slash);
    }
    const std::size_t q = pathAndQuery.find('?');
    r.path = pathAndQuery.substr(0, q);
    r.query = q == std::string::npos ? "" : pathAndQuery.substr(q + 1);
    std::size_t pos = lineEnd + 2;
    while (pos < head.size()) {
        const std::size_t end = head.find("\r\n", pos);
        const std::string line = head.substr(pos, end - pos);
        pos = end == std::string::npos ? head.size() : end + 2;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        r.headers[Lower(line.substr(0, colon))] = value;
    }
    return true;
}

// A developer's proxy variables must not carry test traffic away from loopback.
void KeepLoopbackOffProxies() {
    const char* lower = std::getenv("no_proxy");
    const char* upper = std::getenv("NO_PROXY");
    std::string list = lower != nullptr ? lower : (upper != nullptr ? upper : "");
    if (list.find("127.0.0.1") != std::string::npos || list == "*")
        return;
    list += list.empty() ? "127.0.0.1,localhost" : ",127.0.0.1,localhost";
    ::setenv("no_proxy", list.c_str(), 1);
}

} // namespace

std::string Gzip(const std::string& in) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&z, static_cast<uLong>(in.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("deflate");
    return out;
}

Response Response::Text(std::string body, int status) {
    Response r;
    r.status = status;
    r.body = std::move(body);
    r.headers.emplace_back("Content-Type", "text/xml; charset=utf-8");
    return r;
}

Response Response::Redirect(const std::string& location, int status) {
    Response r;
    r.status = status;
    r.headers.emplace_back("Location", location);
    return r;
}

LoopbackServer::LoopbackServer(Scheme scheme) : scheme_(scheme) {
    std::signal(SIGPIPE, SIG_IGN);
    KeepLoopbackOffProxies();
    if (scheme_ == Scheme::Https) {
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        if (ctx == nullptr ||
            SSL_CTX_use_certificate_file(ctx, DataFile("loopback_cert.pem").c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, DataFile("loopback_key.pem").c_str(), SSL_FILETYPE_PEM) != 1)
            throw std::runtime_error("test certificate not loadable");
        sslContext_ = ctx;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("loopback server cannot listen");
    port_ = ntohs(addr.sin_port);
    if (::pipe2(wakeFd_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    acceptor_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (int fd : openFds_)
            ::shutdown(fd, SHUT_RDWR);
    }
    stopped_.notify_all();
    [[maybe_unused]] const auto n = ::write(wakeFd_[1], "x", 1);
    acceptor_.join();
    for (auto& w : workers_)
        w.join();
    ::close(listenFd_);
    ::close(wakeFd_[0]);
    ::close(wakeFd_[1]);
    if (sslContext_ != nullptr)
        SSL_CTX_free(static_cast<SSL_CTX*>(sslContext_));
}

void LoopbackServer::handle(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[path] = std::move(handler);
}

std::string LoopbackServer::baseUrl() const {
    return std::string(scheme_ == Scheme::Https ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::vector<Request> LoopbackServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LoopbackServer::waitUnlessStopped(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !stopped_.wait_for(lock, duration, [this] { return stopping_.load(); });
}

void LoopbackServer::acceptLoop() {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
    while (!stopping_) {
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents != 0)
            break;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            break;
        }
        openFds_.push_back(fd);
        workers_.emplace_back([this, fd] { serve(fd); });
    }
}

void LoopbackServer::serve(int fd) {
    SSL* ssl = nullptr;
    if (sslContext_ != nullptr) {
        ssl = SSL_new(static_cast<SSL_CTX*>(sslContext_));
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
            SSL_free(ssl);
            ssl = nullptr;
            ERR_clear_error();
            std::lock_guard lock(mutex_);
            openFds_.erase(std::find(openFds_.begin(), openFds_.end(), fd));
            ::close(fd);
            return;
        }
    }
    {
        Stream stream(fd, ssl);
        std::string head;
        char buf[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < (1 << 16)) {
            const long n = stream.read(buf, sizeof buf);
            if (n <= 0)
                break;
            head.append(buf, static_cast<std::size_t>(n));
        }
        Request request;
        if (head.find("\r\n\r\n") != std::string::npos &&
            ParseRequest(head.substr(0, head.find("\r\n\r\n")), request)) {
            Handler handler;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
                const auto it = handlers_.find(request.path);
                if (it != handlers_.end())
                    handler = it->second;
            }
            Response response = handler ? handler(request) : Response::Text("not found", 404);
            if (response.neverAnswer) {
                waitUnlessStopped(std::chrono::hours(1));
            } else if (!response.rawPieces.empty()) {
                for (std::size_t i = 0; i < response.rawPieces.size(); ++i)
                    if ((i > 0 && !waitUnlessStopped(response.trickle)) ||
                        !stream.writeAll(response.rawPieces[i]))
                        break;
            } else if (response.delay.count() == 0 || waitUnlessStopped(response.delay)) {
                std::string body = response.gzip ? Gzip(response.body) : response.body;
                const std::uint64_t length =
                    response.generatedBodyBytes != 0 ? response.generatedBodyBytes : body.size();
                std::string out =
                    "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonPhrase(response.status) +
                    "\r\nContent-Length: " + std::to_string(length) + "\r\nConnection: close\r\n";
                if (response.gzip)
                    out += "Content-Encoding: gzip\r\n";
                for (const auto& [name, value] : response.headers)
                    out += name + ": " + value + "\r\n";
                out += "\r\n";
                if (response.bodyOnly)
                    out.clear();
                if (stream.writeAll(out)) {
                    if (response.trickle.count() != 0) {
                        for (std::size_t i = 0; i < body.size() && waitUnlessStopped(response.trickle); ++i)
                            if (!stream.writeAll(body.data() + i, 1))
                                break;
                    } else if (response.generatedBodyBytes != 0) {
                        const std::string piece(1 << 16, 'x');
                        for (std::uint64_t left = length; left > 0 && !stopping_;) {
                            const std::size_t n =
                                static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
                            if (!stream.writeAll(piece.data(), n))
                                break;
                            left -= n;
                        }
                    } else {
                        stream.writeAll(body);
                    }
                }
            }
        }
    }
    std::lock_guard lock(mutex_);
    openFds_.erase(std::find(openFds_.begin(), openFds_.end(), fd));
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

FullPort::FullPort() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 0) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("no port to fill");
    port_ = ntohs(addr.sin_port);
    // Linux keeps backlog + 1 connections waiting and drops the handshakes beyond.
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            throw std::runtime_error("socket");
        queued_.push_back(fd);
        [[maybe_unused]] const int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
}

FullPort::~FullPort() {
    for (const int fd : queued_)
        ::close(fd);
    ::close(listenFd_);
}

std::uint16_t ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("no free port");
    ::close(fd);
    return ntohs(addr.sin_port);
}

std::string TestCertificateFile() {
    return DataFile("loopback_cert.pem");
}

} // namespace testsupport
