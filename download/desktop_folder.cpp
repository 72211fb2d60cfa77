#include "download/desktop_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <vector>

#include "download/file_io.h"
#include "download/file_names.h"
#include "text/encoding.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

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

} // namespace

std::string chosen_or_desktop(const std::string& base_folder) {
    return base_folder.empty() ? desktop_folder() : base_folder;
}

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

} // namespace tovani
