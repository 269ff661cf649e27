// File helpers under UTF-8 names: every name goes to the file system
// unchanged through the platform layer. file_map loads a whole file into a
// private heap copy, so that a file changed on disk cannot hurt its reader.
#include "support/file.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "support/str.h"

// Reads of a whole file go in pieces of this size.
static const size_t kMapReadChunk = (size_t)64 << 20;

FileMap *file_map(const char *path, int write)
{
    (void)write; // the view is a private copy: writable, never written back
    int fd = plat_open(path, PLAT_OPEN_READ);
    if (fd < 0)
        return nullptr;
    uint64_t size64 = 0;
    FileMap *map = nullptr;
    char *view = nullptr;
    if (plat_fd_size(fd, &size64) && size64 > 0 && size64 <= FILE_MAP_MAX &&
        size64 < SIZE_MAX) {
        size_t size = static_cast<size_t>(size64);
        view = static_cast<char *>(malloc(size + 1));
        map = view ? static_cast<FileMap *>(calloc(1, sizeof(FileMap))) : nullptr;
        // Read exactly the size seen at the start: a file that shrinks while
        // we read (or a read error) fails instead of handing out a hole.
        size_t got = 0;
        while (map && got < size) {
            size_t want = size - got < kMapReadChunk ? size - got : kMapReadChunk;
            int64_t n = plat_read(fd, view + got, want);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        if (map && got == size) {
            view[size] = '\0';
            map->view = view;
            map->size = size64;
            view = nullptr;
        } else {
            free(map);
            map = nullptr;
        }
    }
    free(view);
    plat_close(fd);
    return map;
}

void file_unmap(FileMap *map)
{
    if (!map)
        return;
    free(map->view);
    free(map);
}

FILE *file_fopen_utf8(const char *path, const char *mode) { return plat_fopen(path, mode); }

int file_open_utf8(const char *path, int how) { return plat_open(path, how); }

int file_exists_utf8(const char *path) { return plat_file_exists(path); }

int file_exists(const char *path) { return plat_file_exists(path); }

const char *file_base_name(const char *path)
{
    const char *base = path;
    for (const char *p = path; *p; p++)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    return base;
}

int file_append_zeros(const char *path, size_t count)
{
    FILE *fp = plat_fopen(path, "ab");
    if (!fp)
        return 0;
    bool ok = true;
    if (void *zeros = calloc(1, count ? count : 1)) {
        ok = fwrite(zeros, 1, count, fp) == count;
        free(zeros);
    } else {
        for (size_t i = 0; ok && i < count; i++)
            ok = fputc(0, fp) != EOF;
    }
    return fclose(fp) == 0 && ok;
}

int file_copy(const char *from, const char *to)
{
    // Copying a file onto itself would truncate it before reading it.
    if (plat_same_file(from, to))
        return 0;
    FILE *in = plat_fopen(from, "rb");
    if (!in)
        return 0;
    // Only a regular file is written: a device or FIFO as the destination
    // is refused like a folder.
    FILE *out = plat_fopen(to, "wb");
    if (!out) {
        fclose(in);
        return 0;
    }
    char buf[4096];
    bool ok = true;
    for (;;) {
        size_t n = fread(buf, 1, sizeof buf, in);
        if (n && fwrite(buf, 1, n, out) != n) {
            ok = false;
            break;
        }
        if (n < sizeof buf)
            break;
    }
    // Only the end of the source counts as done; a read error does not.
    if (ferror(in) || !feof(in))
        ok = false;
    fclose(in);
    if (fclose(out) != 0)
        ok = false;
    // No partial copy that could pass for a whole one.
    if (!ok)
        plat_remove(to);
    return ok;
}

int file_move(const char *from, const char *to)
{
    if (plat_rename(from, to))
        return 1;
    // Only a complete copy may cost the source.
    if (!file_copy(from, to))
        return 0;
    return plat_remove(from);
}

int64_t file_size(const char *path)
{
    PlatPathInfo info;
    if (!plat_path_info(path, &info) || info.size > static_cast<uint64_t>(INT64_MAX))
        return -1;
    return static_cast<int64_t>(info.size);
}

int64_t file_mtime(const char *path)
{
    PlatPathInfo info;
    return plat_path_info(path, &info) ? info.mtime : 0;
}

char *file_full_path(const char *path, char *buf)
{
    return plat_full_path(path, buf, FILE_PATH_MAX);
}

int file_chmod_text(const char *path, const char *mode_text)
{
    if (!path || !mode_text)
        return 0;
    char *end = nullptr;
    long mode = strtol(mode_text, &end, 8);
    if (!*mode_text || *end || mode < 0 || mode > 07777)
        return 0;
    return plat_chmod(path, static_cast<unsigned>(mode));
}

static int is_dir(const char *p)
{
    PlatPathInfo info;
    return plat_path_info(p, &info) && info.is_dir;
}

int dir_create_path(const char *path, const char *mode_text)
{
    (void)mode_text; // accepted and not used: the umask decides
    if (!path || !*path)
        return 0;
    if (plat_path_info(path, nullptr))
        return 1;
    if (strlen(path) > DIR_CREATE_PATH_MAX)
        return 0;
    // Rebuilt with "/" between the components: never longer than the path
    // itself, so the fixed buffer always has room.
    char built[DIR_CREATE_PATH_MAX + 2];
    size_t len = 0;
    const char *p = path;
    if (*p == '/' || *p == '\\')
        built[len++] = '/';
    while (*p) {
        while (*p == '/' || *p == '\\')
            p++;
        const char *start = p;
        while (*p && *p != '/' && *p != '\\')
            p++;
        if (p == start)
            break;
        if (len > 0 && built[len - 1] != '/')
            built[len++] = '/';
        memcpy(built + len, start, static_cast<size_t>(p - start));
        len += static_cast<size_t>(p - start);
        built[len] = '\0';
        PlatPathInfo info;
        if (plat_path_info(built, &info)) {
            if (!info.is_dir)
                return 0; // a file stands where a directory must go
            continue;
        }
        // Another process may create the same component in between.
        if (!plat_mkdir(built) && !is_dir(built))
            return 0;
    }
    return 1;
}

int dir_create_path_default(const char *path) { return dir_create_path(path, nullptr); }

char *path_join(char *buf, const char *dir, const char *subdir, const char *name, int create)
{
    buf[0] = '\0';
    str_append_bounded(buf, dir ? dir : "", FILE_PATH_MAX);
    str_append_bounded(buf, "/", FILE_PATH_MAX);
    if (subdir) {
        str_append_bounded(buf, subdir, FILE_PATH_MAX);
        str_append_bounded(buf, "/", FILE_PATH_MAX);
        if (create && !is_dir(buf))
            dir_create_path(buf, nullptr);
    }
    str_append_bounded(buf, name ? name : "", FILE_PATH_MAX);
    return buf;
}

int str_in_list(const char *text, int exact_case, const char *const *list)
{
    for (; list && *list; list++)
        if (exact_case ? strcmp(text, *list) == 0 : str_casecmp(text, *list) == 0)
            return 1;
    return 0;
}
