#include "download/file_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "text/encoding.h"

namespace tovani {
namespace {

std::string system_path(std::string_view gbk_path) {
    return to_utf8(gbk_path);
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

} // namespace

bool read_system_file(const std::string& path, std::string& bytes) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    struct stat info {};
    // Read straight into the string: sized from fstat, grown if the file turns out longer.
    std::size_t capacity = ::fstat(fd, &info) == 0 && info.st_size > 0
                               ? static_cast<std::size_t>(info.st_size) + 1
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

bool create_directory(std::string_view path) {
    if (path.empty())
        return false;
    const std::filesystem::path folder(system_path(path));
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error);
}

bool remove_empty_folder(std::string_view path) {
    return ::rmdir(system_path(path).c_str()) == 0 || errno == ENOENT;
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
    if (fd_ < 0)
        temporary_.clear();
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

bool file_exists(std::string_view path) {
    struct stat st {};
    return ::stat(system_path(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
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
