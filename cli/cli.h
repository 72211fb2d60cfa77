#pragma once
// The `tovani` command line: search, chapters, details, read, download and sites.
// Arguments and output are UTF-8; the core works in GBK.

#include <ostream>
#include <string>
#include <vector>

namespace tovani::cli {

/// Exit statuses: 0 success, 1 a failure the program reports, 2 a usage error.
inline constexpr int exit_ok = 0;
inline constexpr int exit_failure = 1;
inline constexpr int exit_usage = 2;

/// Runs one command line (`args[0]` is the program name). Tables or JSON go to `out`,
/// messages to `err`.
int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tovani::cli
