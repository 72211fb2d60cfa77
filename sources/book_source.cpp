#include "sources/book_source.h"

namespace tovani {
namespace {

FetchedPage from_report(std::string body, const FetchReport& report) {
    return {std::move(body), report.http_status, report.failure, report.reason, report.retry_after};
}

} // namespace

std::string BookSource::site_root() const {
    return std::string(rule.https ? "https://" : "http://") + host;
}

const Fetchers& network_fetchers() {
    static const Fetchers fetchers{
        [](const std::string& url, std::chrono::milliseconds timeout) {
            FetchReport report;
            FetchPageArgs args;
            args.report_out = &report;
            args.timeout = timeout;
            std::string body = fetch_page(url, args);
            return from_report(std::move(body), report);
        },
        [](const std::string& url, std::chrono::milliseconds timeout) {
            std::string body;
            FetchReport report;
            FetchPageWinhttpArgs args;
            args.body_out = &body;
            args.report_out = &report;
            args.timeout_s =
                static_cast<int>(std::chrono::ceil<std::chrono::seconds>(timeout).count());
            fetch_page_winhttp(url, args);
            // A body cut short is a failed fetch here, whatever part of it arrived.
            if (report.failure != FetchFailure::none) {
                body.clear();
            }
            return from_report(std::move(body), report);
        },
    };
    return fetchers;
}

} // namespace tovani
