// The dot-stuffing filter: a sink in front of another sink that doubles a
// "." standing first on a line, so that no line of a message can be taken
// for the end of the SMTP data. It keeps its line state across pieces, so a
// line end and the dot after it may arrive in different pieces, and it
// carries NUL bytes through unchanged.
#pragma once

#include <cstddef>

#include "support/fmt.h"

struct DotStuffSink {
    FmtSink next;     // where the stuffed text goes
    void *next_user;
    int at_line_start; // the next byte starts a line
};

// A filter in front of next; the first byte it sees starts a line.
void dotstuff_init(DotStuffSink *ds, FmtSink next, void *next_user);

// FmtSink over a DotStuffSink.
int dotstuff_sink(void *ds, const char *text, size_t len);
