#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace tovani::test {

namespace {

bool same_name(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return std::string(s);
}

std::string reason_for(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

// One self-signed certificate (EC P-256, for 127.0.0.1 and localhost) per process.
struct Certificate {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
};

const Certificate& certificate() {
    static const Certificate made = [] {
        Certificate c;
        c.key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
        c.cert = X509_new();
        if (!c.key || !c.cert)
            throw std::runtime_error("test certificate: key or certificate not created");
        X509_set_version(c.cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(c.cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(c.cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(c.cert), 3600L * 24 * 365);
        X509_set_pubkey(c.cert, c.key);
        X509_NAME* name = X509_get_subject_name(c.cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(c.cert, name);
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, c.cert, c.cert, nullptr, nullptr, 0);
        if (X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name,
                                                      "IP:127.0.0.1,DNS:localhost")) {
            X509_add_ext(c.cert, san, -1);
            X509_EXTENSION_free(san);
        }
        if (X509_sign(c.cert, c.key, EVP_sha256()) == 0)
            throw std::runtime_error("test certificate: signing failed");
        return c;
    }();
    return made;
}

// A connection's byte stream, plain or TLS.
class Channel {
public:
    Channel(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
    ~Channel() {
        if (ssl_)
            SSL_free(ssl_);
    }

    long read(char* buffer, std::size_t size) {
        if (ssl_) {
            const int n =
                SSL_read(ssl_, buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
            return n > 0 ? n : -1;
        }
        const ssize_t n = ::recv(fd_, buffer, size, 0);
        return n > 0 ? static_cast<long>(n) : -1;
    }

    bool write(std::string_view bytes) {
        while (!bytes.empty()) {
            long n = 0;
            if (ssl_) {
                n = SSL_write(ssl_, bytes.data(),
                              static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)));
            } else {
                n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            }
            if (n <= 0)
                return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

private:
    int fd_;
    SSL* ssl_;
};

} // namespace

std::string SeenRequest::header(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (same_name(n, name))
            return v;
    return {};
}

std::size_t SeenRequest::header_count(std::string_view name) const {
    return static_cast<std::size_t>(std::count_if(
        headers.begin(), headers.end(), [&](const auto& h) { return same_name(h.first, name); }));
}

std::string SeenRequest::header_lines() const {
    const std::size_t line_end = raw.find("\r\n");
    const std::size_t head_end = raw.find("\r\n\r\n");
    if (line_end == std::string::npos || head_end == std::string::npos || head_end == line_end)
        return {};
    return raw.substr(line_end + 2, head_end + 2 - (line_end + 2));
}

Reply Reply::page(std::string body, std::string content_type) {
    Reply reply;
    reply.headers.emplace_back("Content-Type", std::move(content_type));
    reply.body = std::move(body);
    return reply;
}

Reply Reply::redirect(std::string location, int status) {
    Reply reply;
    reply.status = status;
    reply.headers.emplace_back("Location", std::move(location));
    return reply;
}

Reply Reply::silence() {
    Reply reply;
    reply.delay = std::chrono::hours(24);
    reply.ending = Ending::hold;
    return reply;
}

struct LoopbackServer::Impl {
    Scheme scheme = Scheme::http;
    bool ipv6 = false;
    int listen_fd = -1;
    int port = 0;
    SSL_CTX* tls = nullptr;
    std::thread acceptor;

    mutable std::mutex mutex;
    std::condition_variable stopping_changed;
    bool stopping = false;
    std::map<std::string, Handler> routes;
    std::vector<SeenRequest> seen;
    std::size_t connections = 0;
    std::set<int> open_fds;
    std::vector<std::thread> workers;

    void accept_loop();
    void serve(int fd);
    // Waits `time` unless the server stops first; true when it stops.
    bool wait_or_stop(std::chrono::milliseconds time) {
        std::unique_lock lock(mutex);
        return stopping_changed.wait_for(lock, time, [this] { return stopping; });
    }
    Reply answer(const SeenRequest& request);
};

LoopbackServer::LoopbackServer(Scheme scheme, bool ipv6) : impl_(std::make_unique<Impl>()) {
    static std::once_flag ignore_sigpipe;
    std::call_once(ignore_sigpipe,
                   [] { std::signal(SIGPIPE, SIG_IGN); }); // TLS writes to a closed peer

    impl_->scheme = scheme;
    if (scheme == Scheme::https) {
        const Certificate& c = certificate();
        impl_->tls = SSL_CTX_new(TLS_server_method());
        if (!impl_->tls || SSL_CTX_use_certificate(impl_->tls, c.cert) != 1 ||
            SSL_CTX_use_PrivateKey(impl_->tls, c.key) != 1)
            throw std::runtime_error("loopback server: TLS context not set up");
    }

    impl_->ipv6 = ipv6;
    impl_->listen_fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (ipv6) {
        auto& a6 = reinterpret_cast<sockaddr_in6&>(storage);
        a6.sin6_family = AF_INET6;
        a6.sin6_addr = in6addr_loopback;
        length = sizeof a6;
    } else {
        auto& a4 = reinterpret_cast<sockaddr_in&>(storage);
        a4.sin_family = AF_INET;
        a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof a4;
    }
    auto* address = reinterpret_cast<sockaddr*>(&storage);
    if (impl_->listen_fd < 0 || ::bind(impl_->listen_fd, address, length) != 0 ||
        ::listen(impl_->listen_fd, 64) != 0 ||
        ::getsockname(impl_->listen_fd, address, &length) != 0) {
        if (impl_->listen_fd >= 0)
            ::close(impl_->listen_fd);
        throw std::runtime_error(ipv6 ? "loopback server: cannot listen on ::1"
                                      : "loopback server: cannot listen on 127.0.0.1");
    }
    impl_->port = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6&>(storage).sin6_port)
                       : ntohs(reinterpret_cast<sockaddr_in&>(storage).sin_port);
    impl_->acceptor = std::thread([impl = impl_.get()] { impl->accept_loop(); });
}

LoopbackServer::~LoopbackServer() {
    stop();
    if (impl_->tls)
        SSL_CTX_free(impl_->tls);
}

void LoopbackServer::stop() {
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->stopping)
            return;
        impl_->stopping = true;
        for (int fd : impl_->open_fds)
            ::shutdown(fd, SHUT_RDWR); // wakes blocked reads; the worker closes the descriptor
    }
    impl_->stopping_changed.notify_all();
    ::shutdown(impl_->listen_fd, SHUT_RDWR);
    impl_->acceptor.join();
    ::close(impl_->listen_fd);
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(impl_->mutex);
        workers.swap(impl_->workers);
    }
    for (std::thread& worker : workers)
        worker.join();
}

int LoopbackServer::port() const {
    return impl_->port;
}

std::string LoopbackServer::url(std::string_view path) const {
    return std::string(impl_->scheme == Scheme::https ? "https://" : "http://") +
           (impl_->ipv6 ? "[::1]:" : "127.0.0.1:") + std::to_string(impl_->port) +
           std::string(path);
}

void LoopbackServer::route(std::string path, Handler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[std::move(path)] = std::move(handler);
}

void LoopbackServer::page(std::string path, std::string body, std::string content_type) {
    route(std::move(path), [body = std::move(body), type = std::move(content_type)](
                               const SeenRequest&) { return Reply::page(body, type); });
}

std::vector<SeenRequest> LoopbackServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->seen;
}

SeenRequest LoopbackServer::last_request() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->seen.empty() ? SeenRequest{} : impl_->seen.back();
}

std::size_t LoopbackServer::connection_count() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->connections;
}

void LoopbackServer::Impl::accept_loop() {
    for (;;) {
        const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard lock(mutex);
        if (fd < 0 || stopping) {
            if (fd >= 0)
                ::close(fd);
            if (stopping)
                return;
            continue;
        }
        ++connections;
        open_fds.insert(fd);
        workers.emplace_back([this, fd] { serve(fd); });
    }
}

Reply LoopbackServer::Impl::answer(const SeenRequest& request) {
    Handler handler;
    {
        std::lock_guard lock(mutex);
        seen.push_back(request);
        const std::string path = request.target.substr(0, request.target.find('?'));
        const auto found = routes.find(path);
        if (found != routes.end())
            handler = found->second;
    }
    if (!handler) {
        Reply missing = Reply::page("not found", "text/plain");
        missing.status = 404;
        return missing;
    }
    return handler(request);
}

// Reads one request (headers up to the empty line, then Content-Length bytes of body) from
// `channel`, keeping bytes of a following request in `buffer`. False when the connection ends.
static bool read_request(Channel& channel, std::string& buffer, SeenRequest& request) {
    char chunk[16384];
    auto fill = [&] {
        const long n = channel.read(chunk, sizeof chunk);
        if (n > 0)
            buffer.append(chunk, static_cast<std::size_t>(n));
        return n > 0;
    };
    std::size_t head_end;
    while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos)
        if (!fill())
            return false;

    const std::string_view head = std::string_view(buffer).substr(0, head_end + 2);
    std::size_t at = head.find("\r\n");
    const std::string_view request_line = head.substr(0, at);
    const std::size_t first_space = request_line.find(' ');
    const std::size_t last_space = request_line.rfind(' ');
    request.method = std::string(request_line.substr(0, first_space));
    if (first_space != std::string_view::npos && last_space > first_space)
        request.target =
            std::string(request_line.substr(first_space + 1, last_space - first_space - 1));
    std::size_t content_length = 0;
    for (at += 2; at < head.size();) {
        const std::size_t end = head.find("\r\n", at);
        const std::string_view line = head.substr(at, end - at);
        at = end + 2;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        request.headers.emplace_back(std::string(line.substr(0, colon)),
                                     trim(line.substr(colon + 1)));
        if (same_name(request.headers.back().first, "Content-Length"))
            content_length = std::strtoul(request.headers.back().second.c_str(), nullptr, 10);
    }

    const std::size_t total = head_end + 4 + content_length;
    while (buffer.size() < total)
        if (!fill())
            return false;
    request.body = buffer.substr(head_end + 4, content_length);
    request.raw = buffer.substr(0, total);
    buffer.erase(0, total);
    return true;
}

static std::string reply_bytes(const Reply& reply, bool head_request) {
    std::string bytes = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                        (reply.reason.empty() ? reason_for(reply.status) : reply.reason) + "\r\n";
    bool has_length = false;
    for (const auto& [name, value] : reply.headers) {
        bytes += name + ": " + value + "\r\n";
        has_length =
            has_length || same_name(name, "Content-Length") || same_name(name, "Transfer-Encoding");
    }
    if (!has_length)
        bytes += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    bytes += "\r\n";
    if (!head_request)
        bytes += reply.body.substr(0, reply.body_limit.value_or(reply.body.size()));
    return bytes;
}

void LoopbackServer::Impl::serve(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    SSL* ssl = nullptr;
    bool ready = true;
    if (tls) {
        ssl = SSL_new(tls);
        SSL_set_fd(ssl, fd);
        ready = SSL_accept(ssl) == 1;
    }
    {
        Channel channel(fd, ssl); // frees `ssl`
        std::string buffer;
        SeenRequest request;
        while (ready && read_request(channel, buffer, request)) {
            request.tls = ssl != nullptr;
            const Reply reply = answer(request);
            if (reply.delay.count() > 0 && wait_or_stop(reply.delay))
                break;
            const std::string bytes = reply_bytes(reply, request.method == "HEAD");
            if (reply.drip.count() > 0) {
                // The head at once, then the body a byte at a time: a server that never
                // quite stalls and never ends.
                const std::size_t body =
                    request.method == "HEAD"
                        ? 0
                        : std::min(reply.body.size(), reply.body_limit.value_or(reply.body.size()));
                const std::size_t head = bytes.size() - body;
                bool cut = !channel.write(bytes.substr(0, head));
                for (std::size_t i = head; !cut && i < bytes.size(); ++i)
                    cut = wait_or_stop(reply.drip) || !channel.write(bytes.substr(i, 1));
                if (cut)
                    break;
            } else if (!channel.write(bytes)) {
                break;
            }
            if (reply.ending == Ending::hold)
                wait_or_stop(std::chrono::hours(24));
            if (reply.ending != Ending::keep_alive ||
                same_name(request.header("Connection"), "close"))
                break;
            request = SeenRequest{};
        }
    }
    {
        std::lock_guard lock(mutex);
        open_fds.erase(fd);
    }
    ::close(fd);
}

int unused_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace tovani::test
