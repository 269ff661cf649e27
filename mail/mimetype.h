// MIME type of an attachment from its file name: the extension is looked up
// in a fixed table of extension-to-type rows; an unknown extension gives
// "application/octet-stream". Type texts are assembled from shared word
// pieces so that each row holds only four small indexes. The table is
// generated (mail/mimetype_table.cpp, scripts/gen_mimetype.py).
#pragma once

#include <cstddef>
#include <cstdint>

enum : size_t {
    MIMETYPE_ROW_COUNT = 987, // rows before the end row
    MIMETYPE_EXT_COUNT = 985, // distinct extensions (two occur twice)
    MIMETYPE_EXT_MAX = 11,    // longest extension in the table
    MIMETYPE_OUT_SIZE = 1024, // size of the caller's result buffer
};

#define MIMETYPE_DEFAULT "application/octet-stream"

// One row: extension (lower case, no dot; NULL in the end row) and the
// indexes into mimetype_pieces of the top-level type, the first subtype word
// and up to two further subtype words (-1 for none), joined with "." after
// the "/".
struct MimeTypeRow {
    const char *extension;
    int16_t type;
    int16_t subtype;
    int16_t part3;
    int16_t part4;
};

// The rows in descending byte order of their type text, then the end row.
extern const MimeTypeRow mimetype_rows[MIMETYPE_ROW_COUNT + 1];
extern const char *const mimetype_pieces[];
extern const size_t mimetype_piece_count;
// Row of the first occurrence of each extension, in ascending byte order of
// the extension: what the lookup searches.
extern const int16_t mimetype_ext_index[MIMETYPE_EXT_COUNT];

// Writes the type text of row into out (size bytes, cut to fit) and returns
// out; NULL (nothing written) for size 0.
char *mimetype_row_text(const MimeTypeRow *row, char *out, size_t size);

// Writes the MIME type for the file name into out (MIMETYPE_OUT_SIZE bytes)
// and returns out. name may be a path with "/" or "\" separators: only the
// text after the last "." of its last component counts, compared without
// regard to ASCII case. No extension, an empty one, a NULL name or one the
// table lacks gives MIMETYPE_DEFAULT.
char *mimetype_from_name(const char *name, char *out);
