#pragma once
// Whole-file reads and atomic writes of GBK-named files, folders, and the clean-up of
// temporaries a killed process left behind. Paths are GBK text, converted to the file system's
// UTF-8 only at the system call; file contents are bytes and are never converted.

#include <string>
#include <string_view>

namespace tovani {

/// Creates the folder and any missing parents; an existing folder is success.
bool create_directory(std::string_view path);

/// Removes the folder when it is empty; false when it is not there afterwards only because it
/// held something (a missing folder is success).
bool remove_empty_folder(std::string_view path);

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
    /// The temporary file's path in the file system's encoding, for writers (a zip library)
    /// that open files themselves; empty when it could not be made.
    const std::string& temporary_path() const { return temporary_; }

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
/// read_file for a path already in the file system's encoding (UTF-8).
bool read_system_file(const std::string& path, std::string& bytes);
/// Removes the file; a missing file is success.
bool delete_file(std::string_view path);
/// Whether a regular file is at `path`.
bool file_exists(std::string_view path);
/// Removes the temporary files that write_file left in `folder` when its process died before
/// the rename (a crash or a kill). Files of processes still running are kept. Returns how many
/// were removed.
int remove_stale_temporary_files(std::string_view folder);

} // namespace tovani
