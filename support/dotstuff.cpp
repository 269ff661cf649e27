// Streaming dot-stuffing.
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
    for (size_t i = 0; i < len; i++) {
        if (ds->at_line_start && text[i] == '.') {
            // Hand on what came before, then one extra dot; the dot itself
            // goes with the next run.
            if (i > start && !ds->next(ds->next_user, text + start, i - start))
                return 0;
            if (!ds->next(ds->next_user, ".", 1))
                return 0;
            start = i;
        }
        ds->at_line_start = text[i] == '\n';
    }
    if (len > start || len == 0)
        return ds->next(ds->next_user, text + start, len - start);
    return 1;
}
