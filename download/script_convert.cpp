#include "download/script_convert.h"

#include <opencc/opencc.h>

#include <mutex>

#include "text/encoding.h"

namespace tovani {

struct ScriptConverter::Impl {
    opencc_t handle = reinterpret_cast<opencc_t>(-1);
    std::mutex mutex; // one OpenCC instance is not documented as safe for concurrent use

    ~Impl() {
        if (handle != reinterpret_cast<opencc_t>(-1)) {
            opencc_close(handle);
        }
    }
};

const char* conversion_name(ScriptConversion conversion) {
    switch (conversion) {
    case ScriptConversion::t2s:
        return "t2s";
    case ScriptConversion::s2t:
        return "s2t";
    case ScriptConversion::none:
        break;
    }
    return "";
}

ScriptConversion conversion_named(std::string_view name) {
    return name == "t2s"   ? ScriptConversion::t2s
           : name == "s2t" ? ScriptConversion::s2t
                           : ScriptConversion::none;
}

ScriptConverter::ScriptConverter(ScriptConversion conversion) : conversion_(conversion) {
    if (conversion == ScriptConversion::none) {
        return;
    }
    impl_ = std::make_unique<Impl>();
    // OpenCC finds its shipped configurations (t2s.json, s2t.json) by name.
    impl_->handle = opencc_open(conversion == ScriptConversion::t2s ? "t2s.json" : "s2t.json");
}

ScriptConverter::~ScriptConverter() = default;

bool ScriptConverter::ok() const {
    return conversion_ == ScriptConversion::none ||
           (impl_ && impl_->handle != reinterpret_cast<opencc_t>(-1));
}

std::string ScriptConverter::convert_utf8(std::string_view utf8_text) const {
    if (conversion_ == ScriptConversion::none || !ok() || utf8_text.empty()) {
        return std::string(utf8_text);
    }
    std::lock_guard lock(impl_->mutex);
    char* converted = opencc_convert_utf8(impl_->handle, utf8_text.data(), utf8_text.size());
    if (converted == nullptr) {
        return std::string(utf8_text); // text OpenCC cannot take stays as it was
    }
    std::string out(converted);
    opencc_convert_utf8_free(converted);
    return out;
}

std::string ScriptConverter::convert(std::string_view gbk_text) const {
    if (conversion_ == ScriptConversion::none || !ok() || gbk_text.empty()) {
        return std::string(gbk_text);
    }
    return utf8_to_text(convert_utf8(to_utf8(gbk_text)));
}

} // namespace tovani
