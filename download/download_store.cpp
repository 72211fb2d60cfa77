#include "download/download_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "text/encoding.h"

namespace tovani {
namespace {

constexpr std::size_t file_name_limit = 255; // bytes of a UTF-8 name on Linux file systems

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool is_gbk_lead(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}
bool is_gbk_trail(unsigned char b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

std::string_view trim_blanks(std::string_view s) {
    while (!s.empty() && is_blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Profile names match without regard to surrounding blanks and ASCII letter case; the second
// byte of a two-byte character is never folded.
std::string fold_name(std::string_view name) {
    name = trim_blanks(name);
    std::string out(name);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto b = static_cast<unsigned char>(out[i]);
        if (is_gbk_lead(b) && i + 1 < out.size())
            ++i;
        else if (b >= 'A' && b <= 'Z')
            out[i] = static_cast<char>(b - 'A' + 'a');
    }
    return out;
}

// Longest prefix of `text` of at most `limit` bytes that does not end inside a character.
std::size_t gbk_prefix_length(std::string_view text, std::size_t limit) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t step =
            is_gbk_lead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
        if (i + step > limit)
            break;
        i += step;
    }
    return i;
}

// Characters that a file name may not hold on Linux ("/") or on the Windows and FAT file
// systems that desktops are often synced or copied to.
bool is_refused_in_file_name(char c) {
    switch (c) {
    case '/':
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
        return true;
    default:
        return false;
    }
}

// Each character of GBK `name` either kept, or replaced so that it is allowed in a file name.
std::string clean_name_characters(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto b = static_cast<unsigned char>(name[i]);
        if (b < 0x20 || b == 0x7F) {
            out += '_';
        } else if (b < 0x80) {
            if (is_refused_in_file_name(name[i])) {
                // Full-width forms: U+FF01..FF5E are GBK A3A1..A3FE, in ASCII order.
                out += static_cast<char>(0xA3);
                out += static_cast<char>(0xA1 + (b - 0x21));
            } else {
                out += name[i];
            }
        } else if (is_gbk_lead(b) && i + 1 < name.size() &&
                   is_gbk_trail(static_cast<unsigned char>(name[i + 1]))) {
            out += name[i];
            out += name[i + 1];
            ++i;
        } else {
            out += '_'; // a byte that starts no GBK character
        }
    }
    return out;
}

std::size_t utf8_length(std::string_view gbk_text) {
    return to_utf8(gbk_text).size();
}

std::string with_trailing_slash(std::string_view folder) {
    std::string out(folder);
    if (!out.empty() && out.back() != '/')
        out += '/';
    return out;
}

const std::string& download_folder_name() {
    static const std::string name = gbk("小说下载");
    return name;
}

std::string book_stem(std::string_view book_name, std::string_view author) {
    std::string stem(book_name);
    stem += "  ";
    stem += author;
    return stem;
}

// ---- file helpers ----

std::string system_path(std::string_view gbk_path) {
    return to_utf8(gbk_path);
}

// The whole file at a path already in the file system's encoding; see read_file.
bool read_system_file(const std::string& path, std::string& bytes) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    struct stat info {};
    // Read straight into the string: sized from fstat, grown if the file turns out longer.
    std::size_t capacity =
        ::fstat(fd, &info) == 0 && info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1
                                                   : 65536;
    bytes.resize(capacity);
    std::size_t used = 0;
    bool ok = true;
    for (;;) {
        if (used == capacity) {
            capacity *= 2;
            bytes.resize(capacity);
        }
        const ssize_t n = ::read(fd, bytes.data() + used, capacity - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(ok ? used : 0);
    return ok;
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// ---- desktop lookup ----

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string home_folder() {
    std::string home = env("HOME");
    if (!home.empty())
        return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr)
        home = found->pw_dir;
    return home;
}

// A value of user-dirs.dirs: "$HOME/..." or an absolute path, in double quotes with shell
// escapes. Empty when the value is neither.
std::string user_dirs_value(std::string_view raw, const std::string& home) {
    raw = trim_blanks(raw);
    std::string value;
    if (raw.size() >= 2 && raw.front() == '"') {
        for (std::size_t i = 1; i < raw.size() && raw[i] != '"'; ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size())
                ++i;
            value += raw[i];
        }
    } else {
        value = std::string(raw);
    }
    for (std::string_view prefix : {std::string_view("$HOME"), std::string_view("${HOME}")}) {
        if (value.compare(0, prefix.size(), prefix) == 0 &&
            (value.size() == prefix.size() || value[prefix.size()] == '/')) {
            if (home.empty())
                return {};
            return home + value.substr(prefix.size());
        }
    }
    if (!value.empty() && value.front() == '/')
        return value;
    return {};
}

std::string desktop_from_user_dirs(const std::string& home) {
    std::string config = env("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/') {
        if (home.empty())
            return {};
        config = home + "/.config";
    }
    std::string text;
    if (!read_system_file(config + "/user-dirs.dirs", text))
        return {};
    std::string desktop;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line = trim_blanks(std::string_view(text).substr(begin, end - begin));
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        constexpr std::string_view key = "XDG_DESKTOP_DIR=";
        if (line.substr(0, key.size()) == key) {
            std::string value = user_dirs_value(line.substr(key.size()), home);
            if (!value.empty())
                desktop = std::move(value); // the last assignment wins, as in a shell
        }
        begin = end + 1;
    }
    return desktop;
}

std::string profile_value(std::string_view raw) {
    std::string_view value = trim_blanks(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value.substr(0, gbk_prefix_length(value, profile_value_limit)));
}

} // namespace

std::string desktop_folder() {
    const std::string home = home_folder();
    std::string desktop = env("XDG_DESKTOP_DIR");
    if (!desktop.empty())
        desktop = user_dirs_value(desktop, home);
    if (desktop.empty())
        desktop = desktop_from_user_dirs(home);
    if (desktop.empty() && !home.empty())
        desktop = home + "/Desktop";
    if (desktop.empty())
        return {};
    return utf8_to_text(with_trailing_slash(desktop));
}

std::string safe_file_name(std::string_view name, std::string_view extension) {
    std::string stem = clean_name_characters(name);
    const std::string ext = clean_name_characters(extension);
    const std::size_t ext_length = utf8_length(ext);
    if (utf8_length(stem) + ext_length > file_name_limit) {
        const std::size_t budget = ext_length < file_name_limit ? file_name_limit - ext_length : 0;
        // Keep whole characters while their UTF-8 form fits the budget.
        std::size_t used = 0;
        std::size_t keep = 0;
        while (keep < stem.size()) {
            const std::size_t step =
                static_cast<unsigned char>(stem[keep]) >= 0x80 && keep + 1 < stem.size() ? 2 : 1;
            const std::size_t length = utf8_length(std::string_view(stem).substr(keep, step));
            if (used + length > budget)
                break;
            used += length;
            keep += step;
        }
        stem.resize(keep);
    }
    std::string result = stem + ext;
    if (result.empty() || result == "." || result == "..")
        result = result.empty() ? "_" : std::string(result.size(), '_');
    return result;
}

std::string download_folder(std::string_view base_folder) {
    return with_trailing_slash(base_folder) + download_folder_name();
}

std::string progress_file_path(std::string_view base_folder, std::string_view book_name,
                               std::string_view author) {
    return download_folder(base_folder) + "/" +
           safe_file_name(book_stem(book_name, author), ".ini");
}

std::string chapter_file_path(std::string_view base_folder, int number,
                              std::string_view chapter_name) {
    static const std::string open_bracket = gbk("【");
    static const std::string close_bracket = gbk("】");
    std::string stem = open_bracket + std::to_string(number) + close_bracket;
    stem += chapter_name;
    return download_folder(base_folder) + "/" + safe_file_name(stem, ".txt");
}

std::string book_file_path(std::string_view base_folder, std::string_view book_name,
                           std::string_view author) {
    return download_folder(base_folder) + "/" +
           safe_file_name(book_stem(book_name, author), ".txt");
}

std::string download_folder() {
    return download_folder(desktop_folder());
}

std::string progress_file_path(std::string_view book_name, std::string_view author) {
    return progress_file_path(desktop_folder(), book_name, author);
}

std::string chapter_file_path(int number, std::string_view chapter_name) {
    return chapter_file_path(desktop_folder(), number, chapter_name);
}

std::string book_file_path(std::string_view book_name, std::string_view author) {
    return book_file_path(desktop_folder(), book_name, author);
}

const std::string& chapter_names_section() {
    static const std::string name = gbk("章节名字");
    return name;
}

const std::string& chapter_links_section() {
    static const std::string name = gbk("章节链接");
    return name;
}

// ---- ProgressFile ----

bool ProgressFile::load(std::string_view path) {
    std::string bytes;
    const bool ok = read_file(path, bytes);
    parse(bytes);
    return ok;
}

void ProgressFile::parse(std::string_view text) {
    headers_.assign(1, std::string());
    sections_.assign(1, Section{});
    section_index_.clear();
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        begin = end + 1;

        const std::string_view trimmed = trim_blanks(line);
        if (!trimmed.empty() && trimmed.front() == '[') {
            std::string_view name = trimmed.substr(1);
            name = name.substr(0, name.find(']'));
            headers_.emplace_back(line);
            sections_.emplace_back();
            section_index_.try_emplace(fold_name(name), sections_.size() - 1);
            continue;
        }
        Section& section = sections_.back();
        section.lines.emplace_back(line);
        const std::size_t equals = line.find('=');
        if (equals != std::string_view::npos && sections_.size() > 1)
            section.keys.try_emplace(fold_name(line.substr(0, equals)), section.lines.size() - 1);
    }
}

std::string ProgressFile::text() const {
    std::string out;
    for (std::size_t s = 0; s < sections_.size(); ++s) {
        if (s > 0) {
            out += headers_[s];
            out += "\r\n";
        }
        for (const std::string& line : sections_[s].lines) {
            out += line;
            out += "\r\n";
        }
    }
    return out;
}

bool ProgressFile::save(std::string_view path) const {
    return write_file(path, text());
}

ProgressFile::Section* ProgressFile::find_section(std::string_view name) {
    const auto it = section_index_.find(fold_name(name));
    return it == section_index_.end() ? nullptr : &sections_[it->second];
}

const ProgressFile::Section* ProgressFile::find_section(std::string_view name) const {
    const auto it = section_index_.find(fold_name(name));
    return it == section_index_.end() ? nullptr : &sections_[it->second];
}

void ProgressFile::set(std::string_view section_name, std::string_view key,
                       std::string_view value) {
    if (sections_.empty()) {
        headers_.assign(1, std::string());
        sections_.assign(1, Section{});
    }
    std::string line(key);
    line += '=';
    for (char c : value)
        line += c == '\r' || c == '\n' || c == '\0' ? ' ' : c;

    Section* section = find_section(section_name);
    if (section == nullptr) {
        headers_.push_back("[" + std::string(section_name) + "]");
        sections_.emplace_back();
        section_index_.try_emplace(fold_name(section_name), sections_.size() - 1);
        section = &sections_.back();
    }
    const std::string folded_key = fold_name(key);
    if (const auto it = section->keys.find(folded_key); it != section->keys.end()) {
        section->lines[it->second] = std::move(line);
        return;
    }
    // After the section's last non-blank line; blank lines before the next header stay there.
    std::size_t at = section->lines.size();
    while (at > 0 && trim_blanks(section->lines[at - 1]).empty())
        --at;
    section->lines.insert(section->lines.begin() + static_cast<std::ptrdiff_t>(at),
                          std::move(line));
    section->keys.emplace(folded_key, at);
}

std::string ProgressFile::get(std::string_view section_name, std::string_view key) const {
    const Section* section = find_section(section_name);
    if (section == nullptr)
        return {};
    const auto it = section->keys.find(fold_name(key));
    if (it == section->keys.end())
        return {};
    const std::string& line = section->lines[it->second];
    return profile_value(std::string_view(line).substr(line.find('=') + 1));
}

void ProgressFile::set_entry(int number, std::string_view name, std::string_view link) {
    const std::string key = std::to_string(number);
    set(chapter_names_section(), key, name);
    set(chapter_links_section(), key, link);
}

std::string ProgressFile::entry_name(int number) const {
    return get(chapter_names_section(), std::to_string(number));
}

std::string ProgressFile::entry_link(int number) const {
    return get(chapter_links_section(), std::to_string(number));
}

bool write_progress_entry(std::string_view path, int number, std::string_view name,
                          std::string_view link) {
    ProgressFile file;
    if (!file.load(path))
        return false; // never overwrite a file that is there but unreadable
    file.set_entry(number, name, link);
    return file.save(path);
}

std::string read_progress_entry(std::string_view path, std::string_view section, int number) {
    ProgressFile file;
    file.load(path);
    return file.get(section, std::to_string(number));
}

// ---- files ----

bool create_directory(std::string_view path) {
    if (path.empty())
        return false;
    const std::filesystem::path folder(system_path(path));
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error);
}

AtomicFileWriter::AtomicFileWriter(std::string_view path) : target_(system_path(path)) {
    static std::atomic<unsigned> serial{0};
    if (target_.empty())
        return;
    const std::size_t slash = target_.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string("./") : target_.substr(0, slash + 1);
    // A short hidden name beside the target, so the rename stays within one file system.
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temporary_ = folder + ".tovani-" + std::to_string(getpid()) + "-" +
                     std::to_string(serial.fetch_add(1)) + ".tmp";
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
}

AtomicFileWriter::~AtomicFileWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temporary_.c_str());
    }
}

bool AtomicFileWriter::append(std::string_view bytes) {
    if (fd_ < 0 || failed_)
        return false;
    // Small pieces are gathered so a book of thousands of chapters is a few large writes.
    if (buffer_.size() + bytes.size() > buffer_limit) {
        if (!write_all(fd_, buffer_) || !write_all(fd_, bytes)) {
            failed_ = true;
            return false;
        }
        buffer_.clear();
        return true;
    }
    buffer_.append(bytes);
    return true;
}

bool AtomicFileWriter::commit() {
    if (fd_ < 0)
        return false;
    const bool written = !failed_ && write_all(fd_, buffer_);
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    buffer_.clear();
    if (!written || !closed || ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        ::unlink(temporary_.c_str());
        return false;
    }
    return true;
}

bool write_file(std::string_view path, std::string_view bytes) {
    AtomicFileWriter writer(path);
    return writer.append(bytes) && writer.commit();
}

bool read_file(std::string_view path, std::string& bytes) {
    return read_system_file(system_path(path), bytes);
}

bool delete_file(std::string_view path) {
    return ::unlink(system_path(path).c_str()) == 0 || errno == ENOENT;
}

int remove_stale_temporary_files(std::string_view folder) {
    const std::string dir = system_path(folder);
    std::error_code error;
    int removed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        // ".tovani-PID-SERIAL.tmp", as write_file names its temporary files.
        if (name.rfind(".tovani-", 0) != 0 || name.size() < 13 ||
            name.compare(name.size() - 4, 4, ".tmp") != 0) {
            continue;
        }
        const long pid = std::strtol(name.c_str() + 8, nullptr, 10);
        // A writer that is still alive may be about to rename its file; leave it alone.
        if (pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) {
            continue;
        }
        if (::unlink(entry.path().c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

} // namespace tovani
