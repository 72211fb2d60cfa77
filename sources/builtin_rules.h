#pragma once
// The rule files of the built-in book sources, compiled into the program from sources/rules/.

#include <string_view>
#include <vector>

namespace tovani {

struct BuiltinRuleFile {
    std::string_view name; ///< file name, e.g. "01.toml"
    std::string_view text; ///< the file's bytes (UTF-8 TOML)
};

/// Every bundled rule file, in file-name order.
const std::vector<BuiltinRuleFile>& builtin_rule_files();

} // namespace tovani
