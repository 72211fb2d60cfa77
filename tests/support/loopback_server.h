#pragma once
// An in-process HTTP/1.1 server on 127.0.0.1 for tests: plain or TLS (with a self-signed
// certificate made in memory at start), a free port, keep-alive connections, and every request
// recorded byte for byte. Stopping is immediate: open connections are cut and held replies end.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tovani::test {

using HeaderLines = std::vector<std::pair<std::string, std::string>>;

/// One request as the server received it.
struct SeenRequest {
    std::string raw;     ///< exact bytes: request line, header lines, empty line, body
    std::string method;  ///< as on the request line
    std::string target;  ///< path and query as on the request line
    HeaderLines headers; ///< in order of arrival, names as sent, values without surrounding spaces
    std::string body;
    bool tls = false;

    /// Value of the first header of that name (letter case ignored); "" when absent.
    std::string header(std::string_view name) const;
    /// Number of header lines of that name (letter case ignored).
    std::size_t header_count(std::string_view name) const;
    /// The header lines exactly as received, each followed by CR LF (no request line).
    std::string header_lines() const;
};

/// What happens to the connection once a reply is written.
enum class Ending {
    keep_alive, ///< wait for the next request on it
    close,      ///< close it (with `body_limit` this is a dropped connection)
    hold,       ///< write nothing more and keep it open until the server stops (a stall)
};

/// A reply to one request. Content-Length is added unless `headers` has it or Transfer-Encoding
/// (a chunked body is then given already encoded).
struct Reply {
    int status = 200;
    std::string reason;  ///< "" picks the usual phrase for `status`
    HeaderLines headers; ///< written in this order, names as given
    std::string body;
    std::chrono::milliseconds delay{0};    ///< silence before anything is written
    std::optional<std::size_t> body_limit; ///< write only this many body bytes
    std::chrono::milliseconds drip{0};     ///< when set, the body goes out a byte per interval
    Ending ending = Ending::keep_alive;

    static Reply page(std::string body, std::string content_type = "text/html");
    static Reply redirect(std::string location, int status = 302);
    /// Never answers: the connection stays open and silent until the server stops.
    static Reply silence();
};

class LoopbackServer {
public:
    enum class Scheme { http, https };
    using Handler = std::function<Reply(const SeenRequest&)>;

    /// Listens on 127.0.0.1, or on ::1 with `ipv6` (throws when the machine has no IPv6).
    explicit LoopbackServer(Scheme scheme = Scheme::http, bool ipv6 = false);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const;
    /// "http://127.0.0.1:<port>" (or https, or "[::1]") followed by `path`.
    std::string url(std::string_view path = "/") const;

    /// Answers requests of any method for exactly `path` (the query is ignored). A later route
    /// for the same path replaces the earlier one. Handlers run on connection threads.
    void route(std::string path, Handler handler);
    /// A fixed page for `path`.
    void page(std::string path, std::string body, std::string content_type = "text/html");

    std::vector<SeenRequest> requests() const;
    /// The latest request; an empty one when none arrived.
    SeenRequest last_request() const;
    /// Connections accepted so far (keep-alive reuse shows as fewer connections than requests).
    std::size_t connection_count() const;

    /// Cuts every connection and joins the server's threads; the destructor calls it.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// A port on 127.0.0.1 that nothing listens on (it was free a moment ago), for refused connections.
int unused_port();

} // namespace tovani::test
