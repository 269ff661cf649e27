// Streaming dot-stuffing: a "." that starts a line gets a second one in
// front. Only line starts are looked at; the runs between them go on whole.
#include "support/dotstuff.h"

#include <cstring>

void dotstuff_init(DotStuffSink *ds, FmtSink next, void *next_user)
{
    ds->next = next;
    ds->next_user = next_user;
    ds->at_line_start = 1;
}

int dotstuff_sink(void *p, const char *text, size_t len)
{
    DotStuffSink *ds = static_cast<DotStuffSink *>(p);
    size_t start = 0; // first byte not yet handed on
    size_t i = 0;     // the byte being looked at
    while (i < len) {
        if (ds->at_line_start && text[i] == '.') {
            // Hand on what came before, then one extra dot; the dot itself
            // goes with the next run.
            if (i > start && !ds->next(ds->next_user, text + start, i - start))
                return 0;
            if (!ds->next(ds->next_user, ".", 1))
                return 0;
            start = i;
        }
        // memchr, not strchr: the text may hold NUL bytes.
        const char *nl = static_cast<const char *>(memchr(text + i, '\n', len - i));
        if (!nl) {
            ds->at_line_start = 0;
            break;
        }
        i = static_cast<size_t>(nl - text) + 1;
        ds->at_line_start = 1;
    }
    // The last piece goes on even when it is empty, as the engine hands it.
    if (len > start || len == 0)
        return ds->next(ds->next_user, text + start, len - start);
    return 1;
}
