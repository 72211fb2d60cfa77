#pragma once
// Chinese script conversion of book texts: traditional to simplified or back, with OpenCC.

#include <memory>
#include <string>
#include <string_view>

namespace tovani {

enum class ScriptConversion {
    none,
    t2s, ///< traditional characters to simplified
    s2t, ///< simplified characters to traditional
};

/// "t2s", "s2t" or "" (none).
const char* conversion_name(ScriptConversion conversion);
/// The conversion conversion_name gives `name` for; `none` for any other name.
ScriptConversion conversion_named(std::string_view name);

class ScriptConverter {
public:
    /// A converter for `conversion`; `none` converts nothing. Check ok() for the others: the
    /// conversion data may be missing.
    explicit ScriptConverter(ScriptConversion conversion = ScriptConversion::none);
    ~ScriptConverter();
    ScriptConverter(const ScriptConverter&) = delete;
    ScriptConverter& operator=(const ScriptConverter&) = delete;

    bool ok() const;
    ScriptConversion conversion() const { return conversion_; }

    /// `text` converted (GBK in, GBK out; a converted character GBK lacks becomes "?").
    /// Unchanged for `none`. Safe to call from several threads.
    std::string convert(std::string_view gbk_text) const;
    /// The same on UTF-8 text.
    std::string convert_utf8(std::string_view utf8_text) const;

private:
    struct Impl;
    ScriptConversion conversion_;
    std::unique_ptr<Impl> impl_;
};

} // namespace tovani
