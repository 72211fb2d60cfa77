// The demo sites' knobs: latency, random faults of every kind, deterministic chapter faults and
// the request counters.

#include "demo/demo_sites.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/demo/demo_client.h"
#include "text/encoding.h"
#include "text/text_helpers.h"

namespace tovani::demo {
namespace {

using namespace std::chrono_literals;
using test::fetch;
using test::Fetched;

// Everything a server sends on one connection for one GET, read until it closes.
struct RawExchange {
    std::string received;
    bool closed_cleanly = false; ///< end of stream rather than a reset or time-out
};

RawExchange raw_get(int port, const std::string& target) {
    RawExchange ex;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string request = "GET " + target +
                                    " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                    "\r\nConnection: close\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                ex.received.append(buffer, static_cast<std::size_t>(n));
            } else {
                ex.closed_cleanly = n == 0;
                break;
            }
        }
    }
    ::close(fd);
    return ex;
}

std::string path_of(const std::string& link) {
    return link.substr(link.find('/', link.find("://") + 3));
}

class DemoKnobsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        DemoOptions options;
        options.free_ports = true;
        options.library.scale_chapters = 20;
        std::string error;
        sites_ = DemoSites::start(options, &error);
        ASSERT_NE(sites_, nullptr) << error;
    }
    static void TearDownTestSuite() { sites_.reset(); }
    void TearDown() override {
        sites_->clear_faults();
        sites_->set_latency(0ms);
        sites_->set_faults_on_all_pages(false);
        sites_->set_stall_time(2000ms);
        sites_->reset_counts();
    }

    static Fetched chapter(int source, int book, int number,
                           std::chrono::milliseconds read_timeout = 10s) {
        return fetch(sites_->site_root(source), path_of(sites_->chapter_link(source, book, number)),
                     read_timeout);
    }

    static std::unique_ptr<DemoSites> sites_;
};
std::unique_ptr<DemoSites> DemoKnobsTest::sites_;

TEST_F(DemoKnobsTest, LatencyDelaysEveryAnswer) {
    sites_->set_latency(300ms);
    for (const std::string& target :
         {path_of(sites_->book_link(4, 101)), std::string{"/nothing"}}) {
        const auto start = std::chrono::steady_clock::now();
        const Fetched f = fetch(sites_->site_root(4), target);
        EXPECT_TRUE(f.answered);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms) << target;
    }
}

// The latency sleeps per request: requests that arrive together are all in the server at once.
TEST_F(DemoKnobsTest, LatencyDoesNotQueueConcurrentRequests) {
    sites_->set_latency(800ms);
    sites_->reset_counts();
    std::vector<std::thread> clients;
    std::vector<int> statuses(8);
    for (int i = 0; i < 8; ++i) {
        clients.emplace_back([i, &statuses] { statuses[i] = chapter(2, 103, i + 1).status; });
    }
    for (std::thread& t : clients) {
        t.join();
    }
    EXPECT_EQ(statuses, std::vector<int>(8, 200));
    EXPECT_EQ(sites_->counts(2).peak_concurrent, 8u);
}

TEST_F(DemoKnobsTest, EachFaultAtRateOneGivesThatFault) {
    struct Case {
        const char* name;
        FaultRates rates;
        Fault fault;
        std::function<void(const Fetched&)> check;
    };
    auto status_is = [](int status) {
        return [status](const Fetched& f) {
            EXPECT_TRUE(f.answered);
            EXPECT_EQ(f.status, status);
        };
    };
    const std::vector<Case> cases{
        {"500", {.http_500 = 1}, Fault::http_500, status_is(500)},
        {"429", {.http_429 = 1}, Fault::http_429, status_is(429)},
        {"503", {.http_503 = 1}, Fault::http_503, status_is(503)},
        {"reset", {.reset = 1}, Fault::reset, [](const Fetched& f) { EXPECT_FALSE(f.answered); }},
        {"truncate",
         {.truncate = 1},
         Fault::truncate,
         [](const Fetched& f) { EXPECT_FALSE(f.answered); }},
        {"challenge",
         {.challenge = 1},
         Fault::challenge,
         [](const Fetched& f) {
             EXPECT_EQ(f.status, 200);
             EXPECT_FALSE(f.body.empty());
             EXPECT_FALSE(contains_text(f.body, "showtxt\">")); // source 7's start marker
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sites_->reset_counts();
        sites_->set_fault_rates(c.rates);
        c.check(chapter(7, 101, 2));
        EXPECT_EQ(sites_->counts(7).of(c.fault), 1u);
        EXPECT_EQ(std::string{fault_name(c.fault)}, c.name);
    }
    sites_->clear_faults();
    EXPECT_EQ(chapter(7, 101, 2).status, 200);
}

TEST_F(DemoKnobsTest, ResetClosesWithoutAnyAnswerOnPlainAndTlsListeners) {
    sites_->set_fault_rates({.reset = 1});
    const RawExchange raw = raw_get(sites_->port(2), path_of(sites_->chapter_link(2, 101, 1)));
    EXPECT_EQ(raw.received, "");
    for (int source : {1, 8}) {
        const Fetched f = chapter(source, 101, 1);
        EXPECT_FALSE(f.answered) << source;
        EXPECT_NE(f.error, httplib::Error::Success);
    }
}

TEST_F(DemoKnobsTest, TruncateSendsLessThanItsContentLength) {
    sites_->set_fault_rates({.truncate = 1});
    const RawExchange raw = raw_get(sites_->port(3), path_of(sites_->chapter_link(3, 104, 5)));
    const std::size_t header_end = raw.received.find("\r\n\r\n");
    ASSERT_NE(header_end, std::string::npos);
    const std::string headers = raw.received.substr(0, header_end);
    const std::string length = text_between(headers + "\r\n", "Content-Length: ", "\r\n");
    ASSERT_FALSE(length.empty()) << headers;
    const std::size_t body = raw.received.size() - header_end - 4;
    EXPECT_GT(body, 0u);
    EXPECT_LT(body, std::stoul(length));
    EXPECT_EQ(headers.rfind("HTTP/1.1 200", 0), 0u);
}

TEST_F(DemoKnobsTest, StallHoldsTheAnswerBackForTheStallTime) {
    sites_->set_fault_rates({.stall = 1});
    sites_->set_stall_time(1500ms);
    const Fetched impatient = chapter(6, 102, 3, 300ms);
    EXPECT_FALSE(impatient.answered);
    EXPECT_EQ(impatient.error, httplib::Error::Read);

    const auto start = std::chrono::steady_clock::now();
    const Fetched patient = chapter(6, 102, 3, 10s);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_EQ(patient.status, 200);
    const DemoBook& book = *sites_->library().find(102);
    EXPECT_TRUE(contains_text(patient.body,
                              to_utf8(sites_->library().chapter_paragraphs(book, 3).front())));
}

TEST_F(DemoKnobsTest, RandomFaultsHitChapterPagesUnlessAllPagesAreChosen) {
    sites_->set_fault_rates({.http_503 = 1});
    const std::string book = path_of(sites_->book_link(5, 106));
    const std::string search = "/s/" + url_encode(gbk("雪落无声"), true, true);
    const std::string cover = path_of(sites_->cover_link(5, 106));
    for (const std::string& target : {book, search, cover}) {
        EXPECT_EQ(fetch(sites_->site_root(5), target).status, 200) << target;
    }
    EXPECT_EQ(chapter(5, 106, 1).status, 503);

    sites_->set_faults_on_all_pages(true);
    for (const std::string& target : {book, search, cover}) {
        EXPECT_EQ(fetch(sites_->site_root(5), target).status, 503) << target;
    }
    EXPECT_EQ(fetch(sites_->site_root(5), "/no/such/page").status, 404);
}

TEST_F(DemoKnobsTest, PartialRatesFaultSomeRequestsAndSplitByKind) {
    sites_->set_fault_rates({.http_500 = 0.3, .http_429 = 0.3});
    int ok = 0, e500 = 0, e429 = 0;
    for (int i = 0; i < 60; ++i) {
        const int status = chapter(6, 101, 1 + i % 20).status;
        ok += status == 200;
        e500 += status == 500;
        e429 += status == 429;
    }
    EXPECT_EQ(ok + e500 + e429, 60);
    EXPECT_GT(ok, 0);
    EXPECT_GT(e500, 0);
    EXPECT_GT(e429, 0);
    const RequestCounts counts = sites_->counts(6);
    EXPECT_EQ(counts.of(Fault::http_500), static_cast<std::uint64_t>(e500));
    EXPECT_EQ(counts.of(Fault::http_429), static_cast<std::uint64_t>(e429));
}

TEST_F(DemoKnobsTest, FailChapterFailsItsFirstRequestsThenRecovers) {
    sites_->fail_chapter(101, 5, 2);                       // every source, HTTP 500
    sites_->fail_chapter(101, 7, 1, Fault::http_503, 4);   // source 4 only
    sites_->fail_chapter(101, 9, -1, Fault::challenge, 1); // source 1, for good

    EXPECT_EQ(chapter(2, 101, 5).status, 500);
    EXPECT_EQ(chapter(3, 101, 5).status, 500);
    EXPECT_EQ(chapter(2, 101, 5).status, 200);
    EXPECT_EQ(chapter(3, 101, 5).status, 200);
    EXPECT_EQ(chapter(2, 101, 6).status, 200); // the next chapter is not touched

    EXPECT_EQ(chapter(3, 101, 7).status, 200);
    EXPECT_EQ(chapter(4, 101, 7).status, 503);
    EXPECT_EQ(chapter(4, 101, 7).status, 200);

    const std::string marker = "Readarea ReadAjax_content";
    for (int i = 0; i < 4; ++i) {
        const Fetched f = chapter(1, 101, 9);
        EXPECT_EQ(f.status, 200);
        EXPECT_FALSE(contains_text(f.body, marker)) << "attempt " << i;
    }
    sites_->fail_chapter(101, 9, 0, Fault::challenge, 1); // zero times removes it
    EXPECT_TRUE(contains_text(chapter(1, 101, 9).body, marker));
    EXPECT_EQ(sites_->counts(1).of(Fault::challenge), 4u);

    // A deterministic fault wins over the random rates; clear_faults removes both.
    sites_->set_fault_rates({.http_429 = 1});
    sites_->fail_chapter(102, 1, 1, Fault::http_500);
    EXPECT_EQ(chapter(8, 102, 1).status, 500);
    EXPECT_EQ(chapter(8, 102, 1).status, 429);
    sites_->fail_chapter(102, 1, -1, Fault::http_500);
    sites_->clear_faults();
    EXPECT_EQ(chapter(8, 102, 1).status, 200);
}

TEST_F(DemoKnobsTest, CountersTrackRequestsPerSourceAndKind) {
    sites_->reset_counts();
    const std::string root = sites_->site_root(6);
    fetch(root, "/search.php?searchkey=" + url_encode(gbk("夜航船"), true, true));
    for (int i = 0; i < 2; ++i) {
        fetch(root, path_of(sites_->book_link(6, 111)));
    }
    for (int n = 1; n <= 3; ++n) {
        chapter(6, 111, n);
    }
    fetch(root, path_of(sites_->cover_link(6, 111)));
    fetch(root, "/favicon.ico");

    const RequestCounts six = sites_->counts(6);
    EXPECT_EQ(six.of(PageKind::search), 1u);
    EXPECT_EQ(six.of(PageKind::book), 2u);
    EXPECT_EQ(six.of(PageKind::chapter), 3u);
    EXPECT_EQ(six.of(PageKind::cover), 1u);
    EXPECT_EQ(six.of(PageKind::other), 1u);
    EXPECT_EQ(six.total, 8u);
    EXPECT_EQ(sites_->counts(5).total, 0u);

    sites_->reset_counts();
    EXPECT_EQ(sites_->counts(6).total, 0u);
    EXPECT_EQ(sites_->counts(6).of(PageKind::chapter), 0u);
}

} // namespace
} // namespace tovani::demo
