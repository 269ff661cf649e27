// File helpers under UTF-8 names: open and test files, load a whole file
// for in-place scanning, take the base name of a path; plus copy, move,
// directory and path helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// A whole file held for reading. The view is a private copy of the file's
// bytes (followed by a NUL that is not counted), so a file changed on disk
// afterwards cannot disturb its readers. Readers go by `size`.
struct FileMap {
    char *view;
    uint64_t size;
};

enum : uint64_t { FILE_MAP_MAX = (uint64_t)1 << 36 }; // 64 GiB

// NULL for a missing, empty, non-regular or unreadable file (or one larger
// than FILE_MAP_MAX). write is accepted for compatibility; the view is
// always writable and never written back.
FileMap *file_map(const char *path, int write);
void file_unmap(FileMap *map);

FILE *file_fopen_utf8(const char *path, const char *mode);
int file_open_utf8(const char *path, int how); // PLAT_OPEN_*; -1 on failure
int file_exists_utf8(const char *path);
int file_exists(const char *path);
// Pointer into path after its last "\" or "/", or path itself.
const char *file_base_name(const char *path);

// Buffer size of path_join and file_full_path; dir_create_path refuses
// longer paths than DIR_CREATE_PATH_MAX characters.
enum { FILE_PATH_MAX = 4096, DIR_CREATE_PATH_MAX = 1023 };

// Library helpers that the program itself does not call.
int file_append_zeros(const char *path, size_t count);
// 1 only when every byte was copied and both files were closed cleanly.
int file_copy(const char *from, const char *to);
// Renames, else copies and removes the source only after a complete copy.
int file_move(const char *from, const char *to);
int64_t file_size(const char *path); // -1 on failure
int64_t file_mtime(const char *path); // 0 on failure
char *file_full_path(const char *path, char *buf); // buf of FILE_PATH_MAX
int file_chmod_text(const char *path, const char *mode_text);
int dir_create_path(const char *path, const char *mode_text);
int dir_create_path_default(const char *path);
char *path_join(char *buf, const char *dir, const char *subdir, const char *name, int create);
int str_in_list(const char *text, int exact_case, const char *const *list);
