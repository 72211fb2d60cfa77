#pragma once
// The progress file of a download: an INI file (GBK, CR LF) in the book's folder that lists
// every chapter's name and link by number, so a later run knows which chapter files belong to
// which chapters.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tovani {

/// Progress file sections (GBK): "章节名字" holds the chapter names, "章节链接" the links,
/// both under the decimal chapter number as key.
const std::string& chapter_names_section();
const std::string& chapter_links_section();

/// A longest value that reading a profile key gives back, in bytes.
inline constexpr std::size_t profile_value_limit = 10239;

/// A progress file (INI, GBK, CR LF) held in memory: load once, read or change any number of
/// keys, save once. Reading keeps the profile rules: section and key names match without
/// regard to ASCII letter case and surrounding blanks; a value comes back without leading and
/// trailing blanks and without one enclosing pair of quotes, at most profile_value_limit bytes.
/// Writing replaces a key's line in place or appends the key at the end of its section
/// (creating the section at the end of the file); every other line is kept as it was.
/// Const operations may run on several threads at once.
class ProgressFile {
public:
    /// Replaces the contents with the file at `path`. A missing file gives an empty document
    /// and true; a file that exists but cannot be read gives false.
    bool load(std::string_view path);
    /// Replaces the contents with `text` (CR LF or LF line ends).
    void parse(std::string_view text);
    /// The document with CR LF line ends.
    std::string text() const;
    /// Writes the document as the whole file at `path`, atomically.
    bool save(std::string_view path) const;

    /// Line breaks and zero bytes in `value` become spaces, so a value stays one line.
    void set(std::string_view section, std::string_view key, std::string_view value);
    /// "" when the section or key is absent.
    std::string get(std::string_view section, std::string_view key) const;

    /// Writes key `number` in the names section, then in the links section.
    void set_entry(int number, std::string_view name, std::string_view link);
    std::string entry_name(int number) const;
    std::string entry_link(int number) const;

private:
    struct Section {
        std::vector<std::string> lines; // raw lines after the header, without line ends
        std::unordered_map<std::string, std::size_t> keys; // folded key -> first line with it
    };
    Section* find_section(std::string_view name);
    const Section* find_section(std::string_view name) const;

    std::vector<std::string> headers_; // raw header line of each section; "" for the preamble
    std::vector<Section> sections_;    // sections_[0] holds the lines before the first header
    std::unordered_map<std::string, std::size_t> section_index_; // folded name -> first one
};

/// Writes one chapter's name and link into the progress file at `path` (read, change, write
/// back). For many chapters build a ProgressFile and save it once.
bool write_progress_entry(std::string_view path, int number, std::string_view name,
                          std::string_view link);
/// Reads key `number` of `section` from the progress file at `path`; "" when absent.
std::string read_progress_entry(std::string_view path, std::string_view section, int number);

} // namespace tovani
