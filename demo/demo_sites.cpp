#include "demo/demo_sites.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include <httplib.h>

#include "demo/cover_image.h"
#include "demo/site_pages.h"
#include "text/encoding.h"

namespace tovani::demo {
namespace {

// --- default ports --------------------------------------------------------------------------

// The bundled rules of the built-in sources name these ports on 127.0.0.1, so the program works
// against a demo started without options.
constexpr std::array<int, source_count> default_ports{18441, 18082, 18083, 18444, 18085,
                                                      18086, 18087, 18448, 18089};

bool https_source(int source) {
    return source == 1 || source == 4 || source == 8;
}

// --- self-signed certificate --------------------------------------------------------------

struct Certificate {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    Certificate() = default;
    Certificate(const Certificate&) = delete;
    Certificate& operator=(const Certificate&) = delete;
    ~Certificate() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
};

// An EC P-256 key and a certificate for 127.0.0.1 and localhost, valid from yesterday for a year.
bool make_certificate(Certificate& c) {
    c.key = EVP_EC_gen("P-256");
    c.cert = X509_new();
    if (c.key == nullptr || c.cert == nullptr) {
        return false;
    }
    X509_set_version(c.cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c.cert),
                     static_cast<long>(std::random_device{}() & 0x7FFFFFFF));
    X509_gmtime_adj(X509_getm_notBefore(c.cert), -24L * 3600);
    X509_gmtime_adj(X509_getm_notAfter(c.cert), 365L * 24 * 3600);
    X509_set_pubkey(c.cert, c.key);
    X509_NAME* name = X509_get_subject_name(c.cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Tovani demo sites"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(c.cert, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, c.cert, c.cert, nullptr, nullptr, 0);
    X509_EXTENSION* san =
        X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    if (san == nullptr) {
        return false;
    }
    X509_add_ext(c.cert, san, -1);
    X509_EXTENSION_free(san);
    return X509_sign(c.cert, c.key, EVP_sha256()) > 0;
}

// --- worker threads -----------------------------------------------------------------------

// One pool for all listeners. cpp-httplib gives each open connection a worker for as long as
// it stays open (keep-alive), so the pool grows on demand instead of queueing connections
// behind busy workers; threads are kept until the pool is destroyed.
class SharedWorkers {
public:
    explicit SharedWorkers(int max_threads) : max_threads_(std::max(1, max_threads)) {}
    SharedWorkers(const SharedWorkers&) = delete;
    SharedWorkers& operator=(const SharedWorkers&) = delete;
    ~SharedWorkers() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        cv_.notify_all();
        for (std::thread& t : threads_) {
            t.join();
        }
    }

    void post(std::function<void()> job) {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        // Every idle worker takes one queued job; start another when they are not enough.
        if (jobs_.size() > idle_ && threads_.size() < static_cast<std::size_t>(max_threads_)) {
            threads_.emplace_back([this] { run(); });
        } else {
            cv_.notify_one();
        }
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            cv_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            --idle_;
            if (jobs_.empty()) {
                return;
            }
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    const int max_threads_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

// The task queue one listener asks for; its shutdown waits for that listener's connections.
class ListenerQueue : public httplib::TaskQueue {
public:
    explicit ListenerQueue(SharedWorkers& workers) : workers_(workers) {}

    void enqueue(std::function<void()> fn) override {
        {
            std::lock_guard lock(mutex_);
            ++in_flight_;
        }
        workers_.post([this, fn = std::move(fn)] {
            fn();
            std::lock_guard lock(mutex_);
            --in_flight_;
            cv_.notify_all(); // under the lock: shutdown() may destroy us once it sees zero
        });
    }

    void shutdown() override { wait_idle(); }

    void wait_idle() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return in_flight_ == 0; });
    }

private:
    SharedWorkers& workers_;
    std::mutex mutex_;
    std::condition_variable cv_;
    int in_flight_ = 0;
};

// Gives access to the listening socket, whose backlog cpp-httplib leaves at 5: too short for
// fifty clients connecting at once.
template <typename Base> class Listener : public Base {
public:
    using Base::Base;
    void widen_backlog() {
        const auto fd = this->svr_sock_.load();
        if (fd != INVALID_SOCKET) {
            ::listen(fd, 1024);
        }
    }
};

// --- sockets ------------------------------------------------------------------------------

int port_of_address(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    }
    if (a.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    }
    return -1;
}

// Calls `fn(fd, local_port, peer_port)` for every connected TCP socket of this process.
// cpp-httplib does not hand the connection's socket to handlers, so this is how one is found.
template <typename Fn> void for_each_connected_socket(Fn fn) {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return;
    }
    const int own = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == own) {
            continue;
        }
        sockaddr_storage local{}, peer{};
        socklen_t local_len = sizeof local, peer_len = sizeof peer;
        if (::getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &local_len) !=
                0 ||
            ::getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peer_len) !=
                0) {
            continue;
        }
        if (fn(static_cast<int>(fd), port_of_address(local), port_of_address(peer))) {
            break;
        }
    }
    ::closedir(dir);
}

// Ends a connection at once: the peer gets no answer, and the close that follows is a reset.
void drop_connection(int fd) {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::shutdown(fd, SHUT_RDWR);
}

void drop_request_connection(const httplib::Request& req) {
    if (req.ssl != nullptr) {
        const int fd = SSL_get_fd(req.ssl);
        if (fd >= 0) {
            drop_connection(fd);
        }
        return;
    }
    // The handler runs on the connection's own worker, so the socket cannot close meanwhile.
    for_each_connected_socket([&](int fd, int local_port, int peer_port) {
        if (local_port == req.local_port && peer_port == req.remote_port) {
            drop_connection(fd);
            return true;
        }
        return false;
    });
}

// --- requests -----------------------------------------------------------------------------

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// %XX becomes the byte; "+" becomes a space; a broken escape is kept as it stands.
std::string percent_decode(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && hex_value(s[i + 1]) >= 0 &&
                   hex_value(s[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(s[i + 1]) * 16 + hex_value(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string query_value(std::string_view query, std::string_view key) {
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const auto eq = pair.find('=');
        if (pair.substr(0, eq) == key) {
            return eq == std::string_view::npos ? std::string{}
                                                : percent_decode(pair.substr(eq + 1));
        }
        if (amp == std::string_view::npos) {
            break;
        }
        query.remove_prefix(amp + 1);
    }
    return {};
}

bool valid_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t extra = c < 0x80             ? 0
                                  : (c & 0xE0) == 0xC0 ? 1
                                  : (c & 0xF0) == 0xE0 ? 2
                                  : (c & 0xF8) == 0xF0 ? 3
                                                       : 4;
        if (extra > 3 || s.size() - i <= extra) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}

// A positive decimal number filling `text`, or 0.
int whole_number(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return 0;
    }
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        n = n * 10 + (c - '0');
    }
    return n;
}

// The books as the sites show them now: the library's, or a copy a knob has changed.
using BookLookup = std::function<std::shared_ptr<const DemoBook>(int id)>;

struct Route {
    PageKind kind = PageKind::other;
    std::shared_ptr<const DemoBook> book;
    int chapter = 0;
    std::string keyword; ///< GBK
    int page = 1;
};

// The search path and keyword parameter of each source (source 5 keeps its keyword in the path).
struct SearchEntry {
    std::string_view path;
    std::string_view key;
};
constexpr std::array<SearchEntry, source_count> search_entries{{
    {"/s", "q"},
    {"/modules/article/search.php", "searchkey"},
    {"/modules/article/search.php", "searchkey"},
    {"/searchbook.php", "keyword"},
    {"", ""},
    {"/search.php", "searchkey"},
    {"/shaopu.php", "q"},
    {"/modules/article/search.php", "searchkey"},
    {"/search", "kw"},
}};

Route route_request(int source, const BookLookup& find_book, std::string_view target) {
    Route r;
    const auto qmark = target.find('?');
    const std::string_view path = target.substr(0, qmark);
    const std::string_view query =
        qmark == std::string_view::npos ? std::string_view{} : target.substr(qmark + 1);

    if (source == 5 && path.starts_with("/s/")) {
        std::string_view rest = path.substr(3);
        const auto slash = rest.rfind('/');
        if (slash != std::string_view::npos && whole_number(rest.substr(slash + 1)) > 0) {
            r.page = whole_number(rest.substr(slash + 1));
            rest = rest.substr(0, slash);
        }
        // The first page comes UTF-8 encoded; pager links may carry the keyword as raw GBK.
        const std::string bytes = percent_decode(rest);
        r.keyword = valid_utf8(bytes) ? utf8_to_text(bytes) : bytes;
        r.kind = PageKind::search;
        return r;
    }
    const SearchEntry& entry = search_entries[static_cast<std::size_t>(source - 1)];
    if (!entry.path.empty() && path == entry.path) {
        const std::string bytes = query_value(query, entry.key);
        r.keyword = (source == 7 || source == 8) ? bytes : utf8_to_text(bytes);
        r.kind = PageKind::search;
        return r;
    }
    if (path.starts_with("/cover/") && path.ends_with(".png")) {
        r.book = find_book(whole_number(path.substr(7, path.size() - 11)));
        r.kind = r.book != nullptr ? PageKind::cover : PageKind::other;
        return r;
    }
    const std::string_view prefix = source == 2 ? "/biquge_" : source == 9 ? "/novel/" : "/book/";
    if (!path.starts_with(prefix)) {
        return r;
    }
    std::string_view rest = path.substr(prefix.size());
    const auto slash = rest.find('/');
    r.book = find_book(whole_number(rest.substr(0, slash)));
    if (r.book == nullptr) {
        return r;
    }
    rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
    if (rest.empty()) {
        r.kind = PageKind::book;
    } else if (rest.ends_with(".html")) {
        r.chapter = whole_number(rest.substr(0, rest.size() - 5));
        const std::vector<int> ids = chapter_ids(*r.book);
        if (std::find(ids.begin(), ids.end(), r.chapter) != ids.end()) {
            r.kind = PageKind::chapter;
        }
    }
    return r;
}

// Host names a client may put in front of our paths; anything else falls back to our own.
bool plain_host(std::string_view host) {
    return !host.empty() && host.size() < 256 && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == ':' || c == '-' || c == '[' || c == ']';
    });
}

} // namespace

int default_port(int source) {
    return source < 1 || source > source_count
               ? 0
               : default_ports[static_cast<std::size_t>(source - 1)];
}

const char* fault_name(Fault fault) {
    switch (fault) {
    case Fault::none:
        return "none";
    case Fault::http_500:
        return "500";
    case Fault::http_429:
        return "429";
    case Fault::http_503:
        return "503";
    case Fault::reset:
        return "reset";
    case Fault::truncate:
        return "truncate";
    case Fault::stall:
        return "stall";
    case Fault::challenge:
        return "challenge";
    }
    return "none";
}

struct DemoSites::Impl {
    struct Site {
        std::unique_ptr<httplib::Server> server;
        std::thread thread;
        int port = 0;
        std::array<std::atomic<std::uint64_t>, page_kind_count> by_kind{};
        std::array<std::atomic<std::uint64_t>, fault_count> faults{};
        std::atomic<std::uint64_t> total{0};
        std::atomic<std::uint64_t> in_flight{0};
        std::atomic<std::uint64_t> peak{0};
        std::atomic<std::uint64_t> refused{0};
        std::atomic<bool> listen_returned{false};
        std::atomic<ListenerQueue*> queue{nullptr}; ///< owned by the server while it listens
    };

    DemoOptions options;
    DemoLibrary library;
    Certificate certificate;
    std::unique_ptr<SharedWorkers> workers;
    std::array<Site, source_count> sites;

    std::atomic<std::int64_t> latency_ms{0};
    std::atomic<std::int64_t> stall_ms{0};
    std::atomic<int> in_flight_limit{0};
    std::atomic<int> retry_after_s{0};
    std::atomic<bool> all_pages{false};

    std::mutex fault_mutex;
    FaultRates rates;
    std::mt19937_64 rng;
    struct ChapterFault {
        int remaining; ///< negative: always
        Fault fault;
    };
    std::map<std::tuple<int, int, int>, ChapterFault> chapter_faults; ///< (source, book, chapter)

    std::mutex stop_mutex;
    std::condition_variable stop_cv;
    bool stopping = false;

    mutable std::mutex books_mutex;
    std::map<int, std::shared_ptr<const DemoBook>> edited; ///< books a knob has changed

    std::shared_ptr<const DemoBook> book(int id) const {
        {
            std::lock_guard lock(books_mutex);
            if (const auto it = edited.find(id); it != edited.end()) {
                return it->second;
            }
        }
        const DemoBook* b = library.find(id);
        // The library lives as long as the sites: no ownership to share.
        return b ? std::shared_ptr<const DemoBook>(b, [](const DemoBook*) {}) : nullptr;
    }

    // Applies `change` to a copy of the book as the sites show it now.
    template <typename Change> void edit_book(int id, Change change) {
        std::shared_ptr<const DemoBook> current = book(id);
        if (!current) {
            return;
        }
        auto copy = std::make_shared<DemoBook>(*current);
        copy->order = chapter_ids(*copy);
        change(*copy);
        copy->chapter_count = static_cast<int>(copy->order.size());
        std::lock_guard lock(books_mutex);
        edited[id] = std::move(copy);
    }

    explicit Impl(const DemoOptions& o)
        : options(o), library(o.library), workers(std::make_unique<SharedWorkers>(o.max_workers)),
          stall_ms(o.stall_time.count()), in_flight_limit(o.refuse_above_in_flight),
          retry_after_s(o.retry_after), all_pages(o.faults_on_all_pages), rates(o.fault_rates),
          rng(o.seed) {}

    std::string root(int source) const {
        return std::string{https_source(source) ? "https://" : "http://"} +
               "127.0.0.1:" + std::to_string(sites[static_cast<std::size_t>(source - 1)].port);
    }

    // Sleeps up to `ms`; false when the sites are being stopped.
    bool pause(std::int64_t ms) {
        if (ms <= 0) {
            return true;
        }
        std::unique_lock lock(stop_mutex);
        return !stop_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
    }

    Fault choose_fault(int source, const Route& route) {
        std::lock_guard lock(fault_mutex);
        if (route.kind == PageKind::chapter) {
            for (int s : {source, 0}) {
                const auto it = chapter_faults.find({s, route.book->id, route.chapter});
                if (it != chapter_faults.end()) {
                    const Fault f = it->second.fault;
                    if (it->second.remaining > 0 && --it->second.remaining == 0) {
                        chapter_faults.erase(it);
                    }
                    return f;
                }
            }
        } else if (!all_pages.load() || route.kind == PageKind::other) {
            return Fault::none;
        }
        const double draw = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
        double edge = 0;
        const std::array<std::pair<double, Fault>, 7> table{{
            {rates.http_500, Fault::http_500},
            {rates.http_429, Fault::http_429},
            {rates.http_503, Fault::http_503},
            {rates.reset, Fault::reset},
            {rates.truncate, Fault::truncate},
            {rates.stall, Fault::stall},
            {rates.challenge, Fault::challenge},
        }};
        for (const auto& [rate, fault] : table) {
            edge += std::clamp(rate, 0.0, 1.0);
            if (draw < edge) {
                return fault;
            }
        }
        return Fault::none;
    }

    PageBody render(int source, const Route& route, std::string_view page_root) const {
        switch (route.kind) {
        case PageKind::search:
            return search_page(source, library, page_root, route.keyword, route.page,
                               options.search_page_size);
        case PageKind::book:
            return book_page(source, library, page_root, *route.book);
        case PageKind::chapter:
            return chapter_page(source, library, page_root, *route.book, route.chapter);
        case PageKind::cover:
            return {cover_png(static_cast<std::uint32_t>(route.book->id)), {}};
        case PageKind::other:
            break;
        }
        return error_page(404);
    }

    void handle(int source, const httplib::Request& req, httplib::Response& res) {
        Site& site = sites[static_cast<std::size_t>(source - 1)];
        const std::uint64_t now = ++site.in_flight;
        std::uint64_t peak = site.peak.load();
        while (now > peak && !site.peak.compare_exchange_weak(peak, now)) {
        }
        struct Leave {
            std::atomic<std::uint64_t>& n;
            ~Leave() { --n; }
        } leave{site.in_flight};

        ++site.total;
        const Route route = route_request(
            source, [this](int id) { return book(id); }, req.target);
        ++site.by_kind[static_cast<std::size_t>(route.kind)];

        if (!pause(latency_ms.load())) {
            res.status = 503;
            return;
        }
        const Fault fault = choose_fault(source, route);
        if (fault != Fault::none) {
            ++site.faults[static_cast<std::size_t>(fault)];
        }
        auto set_page = [this, &res](const PageBody& page, int status) {
            res.status = status;
            res.set_content(page.bytes, page.charset.empty()
                                            ? "image/png"
                                            : "text/html; charset=" + page.charset);
            if ((status == 429 || status == 503) && retry_after_s.load() > 0) {
                res.set_header("Retry-After", std::to_string(retry_after_s.load()));
            }
        };
        // A site that serves only so many requests at once refuses the rest.
        if (const int limit = in_flight_limit.load();
            limit > 0 && now > static_cast<std::uint64_t>(limit)) {
            ++site.refused;
            set_page(error_page(429), 429);
            return;
        }
        switch (fault) {
        case Fault::http_500:
        case Fault::http_429:
        case Fault::http_503: {
            const int status = fault == Fault::http_500   ? 500
                               : fault == Fault::http_429 ? 429
                                                          : 503;
            set_page(error_page(status), status);
            return;
        }
        case Fault::reset:
            drop_request_connection(req);
            res.status = 500; // never reaches the client
            return;
        case Fault::challenge:
            set_page(challenge_page(source), 200);
            return;
        case Fault::stall:
            if (!pause(stall_ms.load())) {
                res.status = 503;
                return;
            }
            break;
        case Fault::none:
        case Fault::truncate:
            break;
        }

        const std::string host_header = req.get_header_value("Host");
        const std::string page_root =
            plain_host(host_header)
                ? std::string{https_source(source) ? "https://" : "http://"} + host_header
                : root(source);
        const PageBody page = render(source, route, page_root);
        const int status = route.kind == PageKind::other ? 404 : 200;
        if (fault != Fault::truncate) {
            set_page(page, status);
            return;
        }
        // Promise the whole page, send half, then fail the provider: the connection closes.
        auto body = std::make_shared<std::string>(page.bytes);
        const std::size_t half = body->size() / 2;
        res.status = status;
        res.set_content_provider(
            body->size(), page.charset.empty() ? "image/png" : "text/html; charset=" + page.charset,
            [body, half](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset < half) {
                    sink.write(body->data() + offset, half - offset);
                    return true;
                }
                return false;
            });
    }

    bool start(std::string* error) {
        auto fail = [error](std::string message) {
            if (error != nullptr) {
                *error = std::move(message);
            }
            return false;
        };
        if (!make_certificate(certificate)) {
            return fail("cannot make the self-signed certificate");
        }
        for (int source = 1; source <= source_count; ++source) {
            Site& site = sites[static_cast<std::size_t>(source - 1)];
            if (https_source(source)) {
                auto server = std::make_unique<Listener<httplib::SSLServer>>(certificate.cert,
                                                                             certificate.key);
                if (!server->is_valid()) {
                    return fail("cannot set up TLS for source " + std::to_string(source));
                }
                site.server = std::move(server);
            } else {
                site.server = std::make_unique<Listener<httplib::Server>>();
            }
            httplib::Server& server = *site.server;
            server.new_task_queue = [this, &site]() -> httplib::TaskQueue* {
                auto* queue = new ListenerQueue(*workers);
                site.queue = queue;
                return queue;
            };
            // SO_REUSEADDR only: a second instance must not share a port taken by the first.
            server.set_socket_options([](socket_t sock) {
                int yes = 1;
                ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            });
            server.set_tcp_nodelay(true);
            server.set_keep_alive_max_count(1000000);
            server.set_keep_alive_timeout(3);
            server.set_pre_routing_handler(
                [this, source](const httplib::Request& req, httplib::Response& res) {
                    handle(source, req, res);
                    return httplib::Server::HandlerResponse::Handled;
                });

            if (options.free_ports) {
                site.port = server.bind_to_any_port("127.0.0.1");
            } else {
                const int port = default_port(source);
                site.port = server.bind_to_port("127.0.0.1", port) ? port : -1;
            }
            if (site.port <= 0) {
                std::string message = "cannot listen for source " + std::to_string(source);
                if (!options.free_ports) {
                    message += " on 127.0.0.1:" + std::to_string(default_port(source));
                }
                return fail(message);
            }
            if (https_source(source)) {
                static_cast<Listener<httplib::SSLServer>&>(server).widen_backlog();
            } else {
                static_cast<Listener<httplib::Server>&>(server).widen_backlog();
            }
            site.thread = std::thread([&site] {
                site.server->listen_after_bind();
                site.listen_returned = true;
            });
            // stop() is a no-op on a server that is not running yet, which would then never end.
            while (!server.is_running() && !site.listen_returned) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        warm_up();
        return true;
    }

    // One request per listener before any client comes, so that cpp-httplib's function-local
    // statics are made on one worker that then hands its jobs back through our locks. Without
    // it ThreadSanitizer takes the library's uninstrumented first-use checks for data races.
    void warm_up() {
        for (int source = 1; source <= source_count; ++source) {
            Site& site = sites[static_cast<std::size_t>(source - 1)];
            httplib::Client client(root(source));
            client.enable_server_certificate_verification(false);
            client.set_connection_timeout(std::chrono::seconds(5));
            client.set_read_timeout(std::chrono::seconds(5));
            client.Get("/");
            if (ListenerQueue* queue = site.queue.load()) {
                queue->wait_idle();
            }
        }
        reset_counts();
        latency_ms = options.latency.count(); // not before: the warm-up would wait for it
    }

    void reset_counts() {
        for (Site& site : sites) {
            for (auto& n : site.by_kind) {
                n = 0;
            }
            for (auto& n : site.faults) {
                n = 0;
            }
            site.total = 0;
            site.refused = 0;
            site.peak = site.in_flight.load();
        }
    }

    void stop() {
        {
            std::lock_guard lock(stop_mutex);
            if (stopping) {
                return;
            }
            stopping = true;
        }
        stop_cv.notify_all();
        std::vector<int> ports;
        for (Site& site : sites) {
            if (site.server) {
                site.server->stop();
                ports.push_back(site.port);
            }
        }
        // Idle keep-alive connections would hold their workers for the keep-alive time.
        for_each_connected_socket([&](int fd, int local_port, int) {
            if (std::find(ports.begin(), ports.end(), local_port) != ports.end()) {
                ::shutdown(fd, SHUT_RDWR);
            }
            return false;
        });
        for (Site& site : sites) {
            if (site.thread.joinable()) {
                site.thread.join();
            }
        }
        workers.reset();
    }
};

DemoSites::DemoSites(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

DemoSites::~DemoSites() {
    impl_->stop();
}

std::unique_ptr<DemoSites> DemoSites::start(const DemoOptions& options, std::string* error) {
    // A client that goes away mid-answer must not kill the process with SIGPIPE.
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        std::signal(SIGPIPE, SIG_IGN);
    }
    auto impl = std::make_unique<Impl>(options);
    if (!impl->start(error)) {
        impl->stop();
        return nullptr;
    }
    return std::unique_ptr<DemoSites>(new DemoSites(std::move(impl)));
}

std::string DemoSites::host(int source) const {
    return source < 1 || source > source_count ? std::string{}
                                               : "127.0.0.1:" + std::to_string(port(source));
}

int DemoSites::port(int source) const {
    return source < 1 || source > source_count
               ? 0
               : impl_->sites[static_cast<std::size_t>(source - 1)].port;
}

std::string DemoSites::site_root(int source) const {
    return source < 1 || source > source_count ? std::string{} : impl_->root(source);
}

std::string DemoSites::book_link(int source, int book_id) const {
    return site_root(source) + book_path(source, book_id);
}

std::string DemoSites::chapter_link(int source, int book_id, int number) const {
    return site_root(source) + chapter_path(source, book_id, number);
}

std::string DemoSites::cover_link(int source, int book_id) const {
    return site_root(source) + cover_path(book_id);
}

const DemoLibrary& DemoSites::library() const {
    return impl_->library;
}

void DemoSites::set_latency(std::chrono::milliseconds latency) {
    impl_->latency_ms = latency.count();
}

void DemoSites::set_fault_rates(const FaultRates& rates) {
    std::lock_guard lock(impl_->fault_mutex);
    impl_->rates = rates;
}

void DemoSites::set_faults_on_all_pages(bool on) {
    impl_->all_pages = on;
}

void DemoSites::set_stall_time(std::chrono::milliseconds stall) {
    impl_->stall_ms = stall.count();
}

void DemoSites::fail_chapter(int book_id, int number, int times, Fault fault, int source) {
    std::lock_guard lock(impl_->fault_mutex);
    const std::tuple<int, int, int> key{source, book_id, number};
    if (times == 0 || fault == Fault::none) {
        impl_->chapter_faults.erase(key);
    } else {
        impl_->chapter_faults[key] = {times < 0 ? -1 : times, fault};
    }
}

void DemoSites::set_refuse_above_in_flight(int limit) {
    impl_->in_flight_limit = limit;
}

void DemoSites::set_retry_after(int seconds) {
    impl_->retry_after_s = seconds;
}

void DemoSites::grow_book(int book_id, int count) {
    impl_->edit_book(book_id, [count](DemoBook& b) {
        int next = *std::max_element(b.order.begin(), b.order.end()) + 1;
        for (int i = 0; i < count; ++i) {
            b.order.push_back(next++);
        }
    });
}

void DemoSites::insert_chapters(int book_id, int position, int count) {
    impl_->edit_book(book_id, [position, count](DemoBook& b) {
        int next = *std::max_element(b.order.begin(), b.order.end()) + 1;
        const auto at = static_cast<std::ptrdiff_t>(std::clamp<std::size_t>(
            static_cast<std::size_t>(std::max(1, position)) - 1, 0, b.order.size()));
        std::vector<int> inserted;
        for (int i = 0; i < count; ++i) {
            inserted.push_back(next++);
        }
        b.order.insert(b.order.begin() + at, inserted.begin(), inserted.end());
    });
}

void DemoSites::reset_books() {
    std::lock_guard lock(impl_->books_mutex);
    impl_->edited.clear();
}

void DemoSites::clear_faults() {
    impl_->in_flight_limit = 0;
    impl_->retry_after_s = 0;
    std::lock_guard lock(impl_->fault_mutex);
    impl_->rates = {};
    impl_->chapter_faults.clear();
}

RequestCounts DemoSites::counts(int source) const {
    RequestCounts c;
    if (source < 1 || source > source_count) {
        return c;
    }
    const Impl::Site& site = impl_->sites[static_cast<std::size_t>(source - 1)];
    for (std::size_t i = 0; i < c.by_kind.size(); ++i) {
        c.by_kind[i] = site.by_kind[i].load();
    }
    for (std::size_t i = 0; i < c.faults.size(); ++i) {
        c.faults[i] = site.faults[i].load();
    }
    c.total = site.total.load();
    c.peak_concurrent = site.peak.load();
    c.refused_in_flight = site.refused.load();
    return c;
}

void DemoSites::reset_counts() {
    impl_->reset_counts();
}

} // namespace tovani::demo
