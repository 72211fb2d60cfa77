// tovani-demo-sites: serves the demo library in the layouts of the eight book sources until
// SIGINT or SIGTERM. Prints one "N URL" line and one "TOVANI_SITE_HOST_N=host" line per source,
// so a shell can pick up the hosts with: eval "$(grep ^TOVANI_ <output file>)".

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "demo/demo_sites.h"

int main(int argc, char** argv) {
    using namespace tovani::demo;
    CLI::App app{"Loopback copies of the eight book sites, serving the demo library."};
    DemoOptions options;
    int latency_ms = 0;
    int stall_ms = static_cast<int>(options.stall_time.count());
    app.add_flag("--free-ports", options.free_ports,
                 "listen on free ports instead of the build's default hosts");
    app.add_option("--latency-ms", latency_ms, "delay before every answer")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--scale-chapters", options.library.scale_chapters,
                   "chapters of the generated scale book")
        ->check(CLI::Range(1, 1000000));
    app.add_option("--scale-chapter-bytes", options.library.scale_chapter_bytes,
                   "minimum size of each scale-book chapter text (0: natural size)");
    app.add_option("--search-page-size", options.search_page_size,
                   "results per search page on source 5")
        ->check(CLI::Range(1, 1000));
    app.add_option("--fault-500", options.fault_rates.http_500, "rate of HTTP 500 answers")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--fault-429", options.fault_rates.http_429, "rate of HTTP 429 answers")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--fault-503", options.fault_rates.http_503, "rate of HTTP 503 answers")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--fault-reset", options.fault_rates.reset,
                   "rate of connections closed without an answer")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--fault-truncate", options.fault_rates.truncate,
                   "rate of bodies cut short of their Content-Length")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--fault-stall", options.fault_rates.stall,
                   "rate of answers held back for the stall time")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--fault-challenge", options.fault_rates.challenge,
                   "rate of empty challenge pages")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--stall-ms", stall_ms, "how long a stalled answer is held back")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("--fault-all-pages", options.faults_on_all_pages,
                 "inject faults into every page, not only chapter pages");
    app.add_option("--seed", options.seed, "seed of the fault draws");
    app.add_option("--refuse-above", options.refuse_above_in_flight,
                   "answer 429 to requests beyond this many in flight at once on a site")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--retry-after", options.retry_after,
                   "seconds of Retry-After sent with every 429 and 503")
        ->check(CLI::NonNegativeNumber);
    CLI11_PARSE(app, argc, argv);
    options.latency = std::chrono::milliseconds(latency_ms);
    options.stall_time = std::chrono::milliseconds(stall_ms);

    // Block the stop signals before any thread starts, so every thread inherits the mask and
    // sigwait below is the only place they arrive.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    std::string error;
    auto sites = DemoSites::start(options, &error);
    if (!sites) {
        std::cerr << "tovani-demo-sites: " << error << "\n";
        return 1;
    }
    for (int source = 1; source <= source_count; ++source) {
        std::cout << source << " " << sites->site_root(source) << "\n";
    }
    for (int source = 1; source <= source_count; ++source) {
        std::cout << "TOVANI_SITE_HOST_" << source << "=" << sites->host(source) << "\n";
    }
    std::cout << std::flush;

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    // What each site was asked, for scripts that measure a client against the demo.
    for (int source = 1; source <= source_count; ++source) {
        const RequestCounts c = sites->counts(source);
        if (c.total > 0) {
            std::cerr << "site " << source << ": " << c.total << " requests, "
                      << c.of(PageKind::chapter) << " for chapters, " << c.refused_in_flight
                      << " refused for too many at once, " << c.of(Fault::http_503)
                      << " answered 503, at most " << c.peak_concurrent << " at once\n";
        }
    }
    sites.reset();
    return 0;
}
