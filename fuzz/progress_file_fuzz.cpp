// The progress file round trip: any file text parses, writes back and parses again to the same
// text; a chapter entry set on top of it reads back as written (after the one-line rule) both
// from the document and after its text is parsed again.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/progress_file.h"
#include "fuzz/fuzz_support.h"

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// A value that reads back unchanged: one line, no surrounding blanks, no enclosing quotes,
// within the length a profile value keeps.
bool reads_back_unchanged(std::string_view value) {
    if (value.size() > tovani::profile_value_limit ||
        value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        return false;
    }
    if (!value.empty() && (is_blank(value.front()) || is_blank(value.back()))) {
        return false;
    }
    return !(value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
             value.back() == value.front());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovani;
    const auto pieces = fuzz::split(std::string_view(reinterpret_cast<const char*>(data), size),
                                    fuzz::piece_separator);
    const std::string_view file_text = pieces[0];
    const std::string_view name = pieces.size() > 1 ? pieces[1] : std::string_view("第1章");
    const std::string_view link =
        pieces.size() > 2 ? pieces[2] : std::string_view("http://a/1.html");
    const int number = pieces.size() > 3 ? static_cast<int>(pieces[3].size()) : 1;

    ProgressFile file;
    file.parse(file_text);
    const std::string written = file.text();
    ProgressFile again;
    again.parse(written);
    FUZZ_CHECK(again.text() == written);

    file.set_entry(number, name, link);
    ProgressFile reread;
    reread.parse(file.text());
    for (const ProgressFile* document : {&file, &reread}) {
        if (reads_back_unchanged(name)) {
            FUZZ_CHECK(document->entry_name(number) == name);
        }
        if (reads_back_unchanged(link)) {
            FUZZ_CHECK(document->entry_link(number) == link);
        }
    }
    FUZZ_CHECK(reread.text() == file.text());
    return 0;
}
