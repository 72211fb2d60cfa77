#include "download/progress_file.h"

#include "download/file_io.h"
#include "text/encoding.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

// Profile names match without regard to surrounding blanks and ASCII letter case; the second
// byte of a two-byte character is never folded.
std::string fold_name(std::string_view name) {
    name = trim_blanks(name);
    std::string out(name);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto b = static_cast<unsigned char>(out[i]);
        if (is_gbk_lead_byte(b) && i + 1 < out.size())
            ++i;
        else if (b >= 'A' && b <= 'Z')
            out[i] = static_cast<char>(b - 'A' + 'a');
    }
    return out;
}

std::string profile_value(std::string_view raw) {
    std::string_view value = trim_blanks(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value.substr(0, gbk_prefix_length(value, profile_value_limit)));
}

} // namespace

const std::string& chapter_names_section() {
    static const std::string name = gbk("章节名字");
    return name;
}

const std::string& chapter_links_section() {
    static const std::string name = gbk("章节链接");
    return name;
}

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

} // namespace tovani
