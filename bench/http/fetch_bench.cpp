// Sequential page fetches from a loopback server over one kept-alive connection: the cost of a
// call on top of the network, which is what a chapter download pays per page.

#include "http/fetch.h"

#include "tests/support/loopback_server.h"
#include "text/encoding.h"

#include <benchmark/benchmark.h>

namespace {

using tovani::test::LoopbackServer;

// A 20 KB chapter page in GBK, as the sites serve them.
std::string chapter_page() {
    std::string page = tovani::gbk(
        "<html><head><meta charset=gbk><title>第一章</title></head><body><div id=content>");
    const std::string line =
        tovani::gbk("　　他抬头望向远处的山峰，心中暗暗发誓，一定要走到那里。<br />\n");
    while (page.size() < 20 * 1024)
        page += line;
    return page + "</div></body></html>";
}

void run(benchmark::State& state, LoopbackServer::Scheme scheme, bool winhttp) {
    LoopbackServer server(scheme);
    const std::string page = chapter_page();
    server.page("/book/1/1.html", page);
    const std::string url = server.url("/book/1/1.html");
    // The first call opens the connection (and the TLS session); the loop measures reuse.
    if (tovani::fetch_page(url).size() != page.size()) {
        state.SkipWithError("warm-up fetch failed");
        return;
    }
    for (auto _ : state) {
        std::string body = winhttp ? tovani::fetch_page_winhttp(url) : tovani::fetch_page(url);
        if (body.size() != page.size()) {
            state.SkipWithError("fetch failed");
            break;
        }
        benchmark::DoNotOptimize(body);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
    state.counters["connections"] = static_cast<double>(server.connection_count());
}

void BM_FetchPage20KbHttp(benchmark::State& state) {
    run(state, LoopbackServer::Scheme::http, false);
}
void BM_FetchPage20KbHttps(benchmark::State& state) {
    run(state, LoopbackServer::Scheme::https, false);
}
void BM_FetchPageWinhttp20KbHttp(benchmark::State& state) {
    run(state, LoopbackServer::Scheme::http, true);
}

BENCHMARK(BM_FetchPage20KbHttp)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FetchPage20KbHttps)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FetchPageWinhttp20KbHttp)->Iterations(1000)->Unit(benchmark::kMicrosecond);

} // namespace
