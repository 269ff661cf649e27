// Reading body and attachment files for the message writers: an owned file
// descriptor and a read that fills its buffer unless the file ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// Reads until buf holds n bytes or the file ends; the count, or -1 on a
// read error.
inline int64_t mime_read_full(int fd, char *buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        int64_t r = plat_read(fd, buf + got, n - got);
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += static_cast<size_t>(r);
    }
    return static_cast<int64_t>(got);
}

// Closes its descriptor when it goes.
struct MimeFd {
    int fd;
    explicit MimeFd(int f) : fd(f) {}
    ~MimeFd()
    {
        if (fd >= 0)
            plat_close(fd);
    }
    MimeFd(const MimeFd &) = delete;
    MimeFd &operator=(const MimeFd &) = delete;
};
