// safe_file_name on any name a site may send: the result never holds "/" or a zero byte, is
// never "", "." or "..", fits 255 bytes as UTF-8 (the file system's limit), is real GBK that
// goes to UTF-8 and back unchanged, and passing it through again changes nothing.
// Input: one byte picks the extension, the rest is the name (GBK bytes).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/file_names.h"
#include "fuzz/fuzz_support.h"
#include "text/encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovani;
    if (size < 1) {
        return 0;
    }
    constexpr std::array<std::string_view, 4> extensions = {"", ".txt", ".ini", ".epub"};
    const std::string_view extension = extensions[data[0] % extensions.size()];
    const std::string_view name(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::string safe = safe_file_name(name, extension);
    const std::string utf8 = to_utf8(safe);
    FUZZ_CHECK(!safe.empty() && safe != "." && safe != "..");
    FUZZ_CHECK(safe.find('\0') == std::string::npos);
    FUZZ_CHECK(utf8.find('/') == std::string::npos);
    FUZZ_CHECK(utf8.size() <= 255);
    FUZZ_CHECK(fuzz::is_valid_utf8(utf8));
    FUZZ_CHECK(utf8_to_text(utf8) == safe);
    FUZZ_CHECK(safe.ends_with(extension));
    FUZZ_CHECK(safe_file_name(safe) == safe);
    return 0;
}
