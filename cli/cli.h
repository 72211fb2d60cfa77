#pragma once
// The `tovani` command line. Arguments and output are UTF-8; the core works in GBK.

#include <ostream>
#include <string>
#include <vector>

namespace tovani::cli {

/// Exit statuses.
inline constexpr int exit_ok = 0;
inline constexpr int exit_no_match = 1; ///< nothing found, or a failure on this machine
inline constexpr int exit_usage = 2;
inline constexpr int exit_site_failed = 3;    ///< unreachable, an HTTP error status, a refusal
inline constexpr int exit_layout_changed = 4; ///< the page came but does not fit the rule

/// Runs one command line (`args[0]` is the program name). Tables or JSON go to `out`,
/// messages to `err`.
int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tovani::cli
