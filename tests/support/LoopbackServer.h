#pragma once
// A small HTTP and HTTPS server on 127.0.0.1 for tests: one handler per path, one thread per
// connection, every request recorded. The HTTPS server presents tests/data/loopback_cert.pem,
// which only a client told to trust that file accepts.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

struct Request {
    std::string requestLine; // "GET /path?query HTTP/1.1"
    std::string method;
    std::string target; // as sent: origin form, or absolute form through a proxy
    std::string path;
    std::string query;                          // without the '?'
    std::map<std::string, std::string> headers; // names in lower case
};

struct Response {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool gzip = false;                    // send the body gzip-compressed
    std::uint64_t generatedBodyBytes = 0; // if set: a body of this many 'x', sent in pieces
    std::chrono::milliseconds delay{0};   // wait before answering
    bool neverAnswer = false;             // hold the connection open without a word
    std::chrono::milliseconds trickle{
        0};                // if set: the body one byte at a time, each this long after the last
    bool bodyOnly = false; // no status line and no headers, as an HTTP/0.9 server
    // if set: sent as they are in place of a composed answer, each piece `trickle` after the last
    std::vector<std::string> rawPieces{};

    static Response Text(std::string body, int status = 200);
    static Response Redirect(const std::string& location, int status = 302);
};

using Handler = std::function<Response(const Request&)>;

class LoopbackServer {
public:
    enum class Scheme { Http, Https };

    explicit LoopbackServer(Scheme scheme = Scheme::Http);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Unknown paths answer 404.
    void handle(const std::string& path, Handler handler);

    std::uint16_t port() const { return port_; }
    std::string baseUrl() const; // "http://127.0.0.1:<port>" or https
    std::vector<Request> requests() const;

private:
    void acceptLoop();
    void serve(int fd);
    bool waitUnlessStopped(std::chrono::milliseconds duration);

    Scheme scheme_;
    void* sslContext_ = nullptr; // SSL_CTX*
    int listenFd_ = -1;
    int wakeFd_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    std::map<std::string, Handler> handlers_;
    std::vector<Request> requests_;
    std::vector<int> openFds_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

// A port on 127.0.0.1 whose listener never accepts and whose queue is full, so that a connection
// to it is neither made nor refused until the client gives up.
class FullPort {
public:
    FullPort();
    ~FullPort();
    FullPort(const FullPort&) = delete;
    FullPort& operator=(const FullPort&) = delete;
    std::uint16_t port() const { return port_; }

private:
    int listenFd_ = -1;
    std::vector<int> queued_;
    std::uint16_t port_ = 0;
};

// A port on 127.0.0.1 that was bound and then closed, so connecting to it is refused.
std::uint16_t ClosedPort();

// `text` gzip-compressed, as the server sends a body with `gzip` set.
std::string Gzip(const std::string& text);

// The certificate the HTTPS server presents, for a client's CA-file option.
std::string TestCertificateFile();

} // namespace testsupport
