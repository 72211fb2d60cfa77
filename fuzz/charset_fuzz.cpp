// Charset conversion both ways between any two of the charsets a page may declare, the stateful
// ISO-2022 ones included: never reads past the input, and whatever it is given the UTF-8 it
// returns is well-formed and the GBK it returns reads back.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "text/encoding.h"

namespace {

constexpr std::array<std::string_view, 22> charsets = {"",
                                                       "UTF-8",
                                                       "GBK",
                                                       "gb2312",
                                                       "GB18030",
                                                       "BIG5",
                                                       "BIG5-HKSCS",
                                                       "ISO-2022-CN-EXT",
                                                       "ISO-2022-CN",
                                                       "ISO-2022-JP",
                                                       "ISO-2022-JP-3",
                                                       "ISO-2022-KR",
                                                       "UTF-7",
                                                       "UTF-16",
                                                       "UTF-16LE",
                                                       "UTF-32",
                                                       "SHIFT_JIS",
                                                       "EUC-JP",
                                                       "EUC-KR",
                                                       "ISO-8859-1",
                                                       "windows-1252",
                                                       "no-such-charset"};

// As the charset converted to: an empty name there means GBK.
bool names_utf8(std::string_view to_charset) {
    return to_charset == "UTF-8";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovani;
    if (size < 3) {
        return 0;
    }
    const std::string_view from = charsets[data[0] % charsets.size()];
    const std::string_view to = charsets[data[1] % charsets.size()];
    const std::string_view bytes(reinterpret_cast<const char*>(data + 3), size - 3);

    // Both directions, with the offset the search reader uses for its page parts.
    for (const auto& [a, b] : {std::pair{from, to}, std::pair{to, from}}) {
        const std::string whole = convert_charset(bytes, a, b);
        if (names_utf8(b)) {
            FUZZ_CHECK(fuzz::is_valid_utf8(whole));
        }
        const std::size_t offset = data[2] % (whole.size() + 1);
        const std::string tail = convert_charset(bytes, a, b, offset);
        FUZZ_CHECK(tail == std::string_view(whole).substr(offset));
    }

    // Into UTF-8 from anything: well-formed. Into GBK and back: still well-formed.
    FUZZ_CHECK(fuzz::is_valid_utf8(convert_charset(bytes, from, "UTF-8")));
    const std::string gbk_text = convert_charset(bytes, from, "GBK");
    FUZZ_CHECK(fuzz::is_valid_utf8(convert_charset(gbk_text, "GBK", "UTF-8")));

    // The GBK helpers the program uses at its edges.
    const std::string utf8 = to_utf8(bytes);
    FUZZ_CHECK(fuzz::is_valid_utf8(utf8));
    std::vector<std::size_t> offsets;
    const std::string mapped = to_utf8_with_offsets(bytes, offsets);
    FUZZ_CHECK(offsets.size() == mapped.size() + 1);
    FUZZ_CHECK(offsets.back() == bytes.size());
    for (std::size_t i = 1; i < offsets.size(); ++i) {
        FUZZ_CHECK(offsets[i - 1] <= offsets[i]);
    }
    const std::string back = utf8_to_text(bytes);
    FUZZ_CHECK(fuzz::is_valid_utf8(to_utf8(back)));
    url_encode(bytes, data[2] & 1, data[2] & 2);
    return 0;
}
