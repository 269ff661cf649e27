// Pieces shared by the address scanners: the list-file grammar
// (mail/scan_list.cpp), the header reader (mail/scan_header.cpp) and the
// session's scans that feed them from files (mail/scan.cpp). Internal to
// mail/.
#pragma once

#include <cstddef>

// The longest address and display name a scanned item may carry.
inline constexpr size_t kScanAddressMax = 255;
inline constexpr size_t kScanNameMax = 255;

// Bytes of the line end at p (LF, CR LF or a lone CR), 0 for none.
inline size_t scan_eol_at(const char *p, const char *end)
{
    if (p >= end)
        return 0;
    if (*p == '\n')
        return 1;
    if (*p == '\r')
        return p + 1 < end && p[1] == '\n' ? 2 : 1;
    return 0;
}

inline bool scan_is_blank(char c)
{
    return c == ' ' || c == '\t';
}
