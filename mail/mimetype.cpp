// The lookup of a MIME type by file-name extension in the generated table
// (mail/mimetype_table.cpp, written by scripts/gen_mimetype.py).
#include "mail/mimetype.h"

#include <cstring>

#include "support/str.h"

static_assert(sizeof(mimetype_rows) / sizeof(mimetype_rows[0]) == MIMETYPE_ROW_COUNT + 1);

char *mimetype_row_text(const MimeTypeRow *row, char *out, size_t size)
{
    if (!str_copy_bounded(out, mimetype_pieces[row->type], size))
        return nullptr;
    str_append_bounded(out, "/", size);
    str_append_bounded(out, mimetype_pieces[row->subtype], size);
    if (row->part3 >= 0) {
        str_append_bounded(out, ".", size);
        str_append_bounded(out, mimetype_pieces[row->part3], size);
        // A third subtype word only ever follows a second one.
        if (row->part4 >= 0) {
            str_append_bounded(out, ".", size);
            str_append_bounded(out, mimetype_pieces[row->part4], size);
        }
    }
    return out;
}

// First row of ext (already lower case) or NULL: binary search over the
// extension index, which gives the same row as a scan of the table in order.
static const MimeTypeRow *find_row(const char *ext)
{
    size_t lo = 0, hi = MIMETYPE_EXT_COUNT;
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        const MimeTypeRow *row = &mimetype_rows[mimetype_ext_index[mid]];
        int c = strcmp(ext, row->extension);
        if (c == 0)
            return row;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return nullptr;
}

char *mimetype_from_name(const char *name, char *out)
{
    if (!out)
        return nullptr;
    str_copy_bounded(out, MIMETYPE_DEFAULT, MIMETYPE_OUT_SIZE);
    if (!name)
        return out;

    // The extension belongs to the last path component: a dot in a folder
    // name says nothing about the file.
    const char *base = name;
    for (const char *p = name; *p; p++)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    const char *dot = strrchr(base, '.');
    if (!dot)
        return out;

    // Longer than any row's extension: nothing can match, so nothing is
    // copied. This also keeps the small lower-casing buffer from overflowing.
    const char *ext = dot + 1;
    size_t len = strnlen(ext, MIMETYPE_EXT_MAX + 1);
    if (len == 0 || len > MIMETYPE_EXT_MAX)
        return out;
    char lower[MIMETYPE_EXT_MAX + 1];
    memcpy(lower, ext, len);
    lower[len] = '\0';
    str_lower_ascii(lower);

    if (const MimeTypeRow *row = find_row(lower))
        mimetype_row_text(row, out, MIMETYPE_OUT_SIZE);
    return out;
}
