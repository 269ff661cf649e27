// Reading body and attachment files for the message writers: an owned
// descriptor that knows the size its file had when it was opened, so a
// file that ends before that size (it shrank while being read) is caught
// as a read error instead of going out cut.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "support/file.h"

// Every read of a writer goes through this function (plat_read); tests
// swap it to watch or disturb the reading.
extern int64_t (*mime_read_fn)(int fd, void *buf, size_t len);

// Reads until buf holds n bytes or the file ends; the count, or -1 on a
// read error.
inline int64_t mime_read_full(int fd, char *buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        int64_t r = mime_read_fn(fd, buf + got, n - got);
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += static_cast<size_t>(r);
    }
    return static_cast<int64_t>(got);
}

// Results of MimeFile::read besides a byte count.
enum {
    MIME_READ_ERROR = -1,  // the system reported a read error
    MIME_READ_SHRANK = -2, // the file ended before the size it had when opened
    MIME_READ_CHANGED = -3, // a second reading differs from what the first one found
};

// One file opened for reading by its UTF-8 name; closed when it goes.
struct MimeFile {
    int fd;
    uint64_t size; // bytes the file had when it was opened
    uint64_t done; // bytes read since it was opened or rewound
    int error;     // the system's code of the last MIME_READ_ERROR, or of a failed rewind

    explicit MimeFile(const char *path)
        : fd(file_open_utf8(path, PLAT_OPEN_READ)), size(0), done(0), error(0)
    {
        if (fd >= 0 && !plat_fd_size(fd, &size))
            size = 0;
    }
    ~MimeFile()
    {
        if (fd >= 0)
            plat_close(fd);
    }
    MimeFile(const MimeFile &) = delete;
    MimeFile &operator=(const MimeFile &) = delete;

    bool is_open() const { return fd >= 0; }

    // Reads until buf holds n bytes or the file ends: the count, or
    // MIME_READ_ERROR / MIME_READ_SHRANK. A file that grows is read on to
    // its new end (a file of the proc kind reports size 0 and has content).
    int64_t read(char *buf, size_t n)
    {
        int64_t r = mime_read_full(fd, buf, n);
        if (r < 0) {
            error = plat_last_error();
            return MIME_READ_ERROR;
        }
        size_t got = static_cast<size_t>(r);
        done += got;
        if (got < n && done < size)
            return MIME_READ_SHRANK;
        return static_cast<int64_t>(got);
    }

    // Back to the start for a second reading; false when the file cannot
    // be rewound.
    bool rewind()
    {
        done = 0;
        if (plat_seek(fd, 0, PLAT_SEEK_SET) == 0)
            return true;
        error = plat_last_error();
        return false;
    }
};
