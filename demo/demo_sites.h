#pragma once
// The demo library of book sites: one loopback listener per book source (HTTPS with a
// self-signed certificate made at start for sources 1, 4 and 8, plain HTTP for the others),
// each serving the search, book, chapter and cover pages of the demo library in that site's
// layout and charset. For tests, benchmarks and trying the program without the real sites.
//
// Knobs (latency, fault rates, deterministic chapter faults) may be changed at any time from
// any thread; they apply to requests that arrive afterwards.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "demo/demo_library.h"

namespace tovani::demo {

/// Sites 1 to 8 have the layouts of the built-in sources; site 9 has a layout of its own, for a
/// source that a rule file alone adds (see docs/rules).
inline constexpr int source_count = 9;

/// The port site `source` listens on unless free ports are asked for.
int default_port(int source);

enum class PageKind { search, book, chapter, cover, other };
inline constexpr int page_kind_count = 5;

enum class Fault {
    none,
    http_500,
    http_429,
    http_503,
    reset,     ///< the connection is closed without an answer
    truncate,  ///< Content-Length promises the whole page, half of it is sent, then close
    stall,     ///< nothing is sent for the stall time, then the page
    challenge, ///< 200 with a page that lacks every content marker
};
inline constexpr int fault_count = 8;

/// Probability (0..1) of each fault per request. Faults exclude each other: one uniform draw
/// walks the rates in this order, so a total above 1 cuts off the later ones.
struct FaultRates {
    double http_500 = 0;
    double http_429 = 0;
    double http_503 = 0;
    double reset = 0;
    double truncate = 0;
    double stall = 0;
    double challenge = 0;
};

struct DemoOptions {
    /// Port 0 for every listener instead of the build's default ports.
    bool free_ports = false;
    LibraryOptions library;
    /// Results per search page on source 5, the one site that pages its results.
    int search_page_size = 3;
    std::chrono::milliseconds latency{0};
    FaultRates fault_rates;
    bool faults_on_all_pages = false; ///< else only chapter pages get random faults
    std::chrono::milliseconds stall_time{2000};
    std::uint64_t seed = 1; ///< of the fault draws
    /// Upper bound of the worker threads shared by all listeners; one is used per open
    /// connection, so this caps the number of connections served at the same time.
    int max_workers = 512;
    /// A site that refuses to serve more than this many requests at once: the others get 429
    /// with `retry_after`. 0: no such limit.
    int refuse_above_in_flight = 0;
    /// Sent as Retry-After with every 429 and 503 when above 0 (seconds).
    int retry_after = 0;
};

struct RequestCounts {
    std::array<std::uint64_t, page_kind_count> by_kind{}; ///< indexed by PageKind
    std::array<std::uint64_t, fault_count> faults{};      ///< indexed by Fault; none unused
    std::uint64_t total = 0;
    /// Most requests of this source being handled at the same moment since the last reset.
    std::uint64_t peak_concurrent = 0;
    /// Requests refused with 429 for going over the in-flight limit.
    std::uint64_t refused_in_flight = 0;

    std::uint64_t of(PageKind kind) const { return by_kind[static_cast<std::size_t>(kind)]; }
    std::uint64_t of(Fault fault) const { return faults[static_cast<std::size_t>(fault)]; }
};

class DemoSites {
public:
    /// Starts the eight listeners. Null when one cannot be started (a default port taken);
    /// `error` then says which.
    static std::unique_ptr<DemoSites> start(const DemoOptions& options = {},
                                            std::string* error = nullptr);
    ~DemoSites(); ///< stops every listener and closes open connections
    DemoSites(const DemoSites&) = delete;
    DemoSites& operator=(const DemoSites&) = delete;

    /// "127.0.0.1:PORT" of `source` (1..8).
    std::string host(int source) const;
    int port(int source) const;
    /// "https://127.0.0.1:PORT" or "http://…", without a trailing slash.
    std::string site_root(int source) const;
    /// The absolute links the source's readers form from its pages.
    std::string book_link(int source, int book_id) const;
    std::string chapter_link(int source, int book_id, int number) const;
    std::string cover_link(int source, int book_id) const;

    const DemoLibrary& library() const;

    void set_latency(std::chrono::milliseconds latency);
    void set_fault_rates(const FaultRates& rates);
    void set_faults_on_all_pages(bool on);
    void set_stall_time(std::chrono::milliseconds stall);
    /// Each site answers 429 to requests beyond `limit` in flight at once (0: no limit).
    void set_refuse_above_in_flight(int limit);
    /// Retry-After seconds sent with 429 and 503 answers (0: none).
    void set_retry_after(int seconds);
    /// Chapter `number` of `book_id` fails with `fault` on its next `times` requests (any
    /// negative number: always), then is served normally. `source` 0 means on every source.
    /// A later call for the same chapter and source replaces the earlier one.
    void fail_chapter(int book_id, int number, int times, Fault fault = Fault::http_500,
                      int source = 0);
    /// Book `book_id` gains `count` chapters at the end of its list, as a serial does.
    void grow_book(int book_id, int count);
    /// Book `book_id` gains `count` new chapters before list position `position` (1-based):
    /// every chapter after them moves down the list but keeps its link and text.
    void insert_chapters(int book_id, int position, int count);
    /// Every book as the library has it.
    void reset_books();

    /// Zero rates, no deterministic faults, no in-flight limit, no Retry-After; latency and
    /// stall time stay.
    void clear_faults();

    RequestCounts counts(int source) const;
    void reset_counts();

    struct Impl;

private:
    explicit DemoSites(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

/// Short lower-case name of a fault ("500", "429", "503", "reset", "truncate", "stall",
/// "challenge"), for messages and the program's options.
const char* fault_name(Fault fault);

} // namespace tovani::demo
