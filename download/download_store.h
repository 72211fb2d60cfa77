#pragma once
// Where downloads are saved and how their files are named, read and written: the download
// folder "小说下载" on the desktop (or under a chosen base folder), one folder per book with its
// progress file and chapter files, and the book files beside it.

#include "download/desktop_folder.h"
#include "download/file_io.h"
#include "download/file_names.h"
#include "download/progress_file.h"
