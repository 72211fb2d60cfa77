#pragma once
// Where downloads are saved and how their files are named and read: the download folder
// "小说下载" on the desktop (or under a chosen base folder), one progress file per book, one
// text file per chapter and one book file after merging.
//
// Paths and names are GBK text; they are converted to the file system's UTF-8 only at the
// system call. File contents are bytes and are never converted.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tovani {

/// The user's desktop folder, ending in "/": $XDG_DESKTOP_DIR, else XDG_DESKTOP_DIR from
/// $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config), else $HOME/Desktop. Looked up anew on
/// every call; "" when there is no home folder at all (paths are then relative).
std::string desktop_folder();

/// `name` + `extension` made into a name that stays inside its folder and that the file system
/// accepts: "/" "\" ":" "*" "?" "\"" "<" ">" "|" become their full-width look-alikes, control
/// characters and stray bytes that are not GBK become "_", and the name is shortened at a
/// character boundary so that its UTF-8 form fits 255 bytes (the extension is kept whole).
/// "", "." and ".." become "_", "_" and "__". Ordinary Chinese names pass through unchanged.
std::string safe_file_name(std::string_view name, std::string_view extension = {});

/// The download folder under `base_folder`: base + "小说下载" (no trailing "/"). A non-empty
/// base without a trailing "/" gets one; an empty base gives a relative path.
std::string download_folder(std::string_view base_folder);
/// Progress file: download folder + "/" + book + two spaces + author + ".ini".
std::string progress_file_path(std::string_view base_folder, std::string_view book_name,
                               std::string_view author);
/// Chapter file: download folder + "/【" + number + "】" + chapter name + ".txt".
std::string chapter_file_path(std::string_view base_folder, int number,
                              std::string_view chapter_name);
/// Book file: download folder + "/" + book + two spaces + author + ".txt".
std::string book_file_path(std::string_view base_folder, std::string_view book_name,
                           std::string_view author);

/// The same under desktop_folder().
std::string download_folder();
std::string progress_file_path(std::string_view book_name, std::string_view author);
std::string chapter_file_path(int number, std::string_view chapter_name);
std::string book_file_path(std::string_view book_name, std::string_view author);

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

/// Creates the folder and any missing parents; an existing folder is success.
bool create_directory(std::string_view path);
/// Writes a file piece by piece under a temporary name beside it; commit() renames it over the
/// target, so a reader never sees half a file. Destroyed without a successful commit, it
/// removes the temporary file and leaves the target as it was.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::string_view path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    /// False once anything failed (the temporary file could not be made or written).
    bool append(std::string_view bytes);
    /// Writes what is left and renames the file over the target.
    bool commit();

private:
    static constexpr std::size_t buffer_limit = 1u << 20;
    std::string target_;
    std::string temporary_;
    std::string buffer_;
    int fd_ = -1;
    bool failed_ = false;
};

/// Replaces the file at `path` with `bytes`: written to a temporary file in the same folder,
/// then renamed over the target, so a reader never sees half a file.
bool write_file(std::string_view path, std::string_view bytes);
/// The whole file into `bytes`. A missing file gives empty bytes and true; a file that exists
/// but cannot be read gives empty bytes and false.
bool read_file(std::string_view path, std::string& bytes);
/// Removes the file; a missing file is success.
bool delete_file(std::string_view path);
/// Removes the temporary files that write_file left in `folder` when its process died before
/// the rename (a crash or a kill). Files of processes still running are kept. Returns how many
/// were removed.
int remove_stale_temporary_files(std::string_view folder);

} // namespace tovani
