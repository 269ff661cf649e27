// Random identifiers (MIME boundaries, Message-ID, DSN envelope ids) and the
// process's random generator they are drawn from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/lock.h"
#include "support/rand.h"

enum {
    MAIL_ID_LEN = 16,        // characters of one identifier
    MAIL_BOUNDARY_LEN = 20,  // "==" + identifier + "=="
};

// Made at the process start-up (mail_global_init seeds through
// mail_random_seed) and kept for the whole process: the lock held around
// every draw from the random generator, and the generator itself.
extern Mutex *mail_global_mutex;
extern RandState *mail_global_rand;

// Makes the lock when there is none and a generator seeded with seed; a
// second call re-seeds, and the old generator stays when no new one could
// be made.
void mail_random_seed(uint32_t seed);

// Draws one identifier under the global mutex: 16 base64url characters and
// a NUL into out (17 bytes or more). Returns out. A draw before the
// generator was seeded seeds it itself (from the clock); NULL, with out
// holding the empty text, only when that had no memory.
char *mail_random_id(char *out);
// "==" + a fresh identifier + "==" and a NUL into out (21 bytes or more);
// NULL (out empty) as for mail_random_id.
char *mail_random_boundary(char *out);
// "<" + identifier + "@" + the domain of address (after its first "@") +
// ">" into out of size bytes (the session's message_id is 512). NULL, with
// out holding the empty text when size > 0, when address has no "@", its
// domain holds a control byte, or the result does not fit.
char *mail_message_id(char *out, size_t size, const char *address);
