#pragma once
// Where a download's files go and what they are called. Each book has a folder of its own
// inside "小说下载", named after the book and its author, holding its progress file and its
// chapter files; the book files made by the merge stand beside that folder:
//
//   <base>/小说下载/书名  作者/书名  作者.ini
//   <base>/小说下载/书名  作者/【1】第一章.txt
//   <base>/小说下载/书名  作者.txt   (and .epub)
//
// Names are GBK text. Every name that comes from a site passes through safe_file_name.

#include <string>
#include <string_view>

namespace tovani {

/// `name` + `extension` made into a name that stays inside its folder and that the file system
/// accepts: "/" "\" ":" "*" "?" "\"" "<" ">" "|" become their full-width look-alikes, control
/// characters and stray bytes that are not GBK become "_", and the name is shortened at a
/// character boundary so that its UTF-8 form fits 255 bytes (the extension is kept whole).
/// "", "." and ".." become "_", "_" and "__". Ordinary Chinese names pass through unchanged.
std::string safe_file_name(std::string_view name, std::string_view extension = {});

/// `folder` with a "/" at its end; "" stays "".
std::string with_trailing_slash(std::string_view folder);

/// The download folder under `base_folder`: base + "小说下载" (no trailing "/"). A non-empty
/// base without a trailing "/" gets one; an empty base gives a relative path.
std::string download_folder(std::string_view base_folder);

/// The book's own folder: download folder + "/" + book + two spaces + author.
std::string book_folder(std::string_view base_folder, std::string_view book_name,
                        std::string_view author);

/// The progress file, in the book's folder: book + two spaces + author + ".ini".
std::string progress_file_path(std::string_view base_folder, std::string_view book_name,
                               std::string_view author);

/// A chapter file in `book_folder`: "【" + number + "】" + chapter name + ".txt".
std::string chapter_file_path(std::string_view book_folder, int number,
                              std::string_view chapter_name);

/// A book file beside the book's folder: download folder + "/" + book + two spaces + author +
/// `extension`.
std::string book_file_path(std::string_view base_folder, std::string_view book_name,
                           std::string_view author, std::string_view extension = ".txt");

} // namespace tovani
