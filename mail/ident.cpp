// Random identifiers (MIME boundaries, Message-ID, DSN envelope ids) and
// the process's random generator they are drawn from.
#include "mail/ident.h"

#include <cstdint>
#include <cstring>
#include <ctime>
#include <mutex>

#include "mail/check.h"
#include "support/encode.h"

Mutex *mail_global_mutex = nullptr;
RandState *mail_global_rand = nullptr;

void mail_random_seed(uint32_t seed)
{
    if (!mail_global_mutex)
        mail_global_mutex = mutex_new();
    RandState *fresh = rand_new(seed);
    // A second seeding replaces the generator; swap under the lock so that
    // a draw in progress never sees a freed generator.
    if (mail_global_mutex)
        mutex_lock(mail_global_mutex);
    RandState *old = mail_global_rand;
    if (fresh)
        mail_global_rand = fresh;
    if (mail_global_mutex)
        mutex_unlock(mail_global_mutex);
    if (fresh && old)
        rand_free(old);
}

// Grows by one per identifier drawn in the process; its low 16 bits go into
// every identifier so that ids drawn close together always differ.
static uint32_t id_counter = 0;

// The front end seeds the generator at start-up (mail_global_init), before
// any session exists; a caller that draws an identifier without it (a
// library user, a test) gets it seeded from the clock once instead of a
// null generator.
static bool id_state_ready()
{
    static std::once_flag once;
    if (!mail_global_mutex || !mail_global_rand)
        std::call_once(once, [] {
            if (!mail_global_mutex || !mail_global_rand)
                mail_random_seed(static_cast<uint32_t>(time(nullptr)));
        });
    return mail_global_mutex && mail_global_rand;
}

char *mail_random_id(char *out)
{
    if (!id_state_ready()) {
        out[0] = '\0';
        return nullptr;
    }
    uint32_t w[3];
    mutex_lock(mail_global_mutex);
    w[0] = rand_next(mail_global_rand);
    w[1] = (rand_next(mail_global_rand) & 0xffff0000u) | (id_counter & 0xffffu);
    w[2] = rand_next(mail_global_rand);
    id_counter++;
    mutex_unlock(mail_global_mutex);
    unsigned char bytes[12];
    for (int i = 0; i < 3; i++)
        for (int k = 0; k < 4; k++)
            bytes[i * 4 + k] = static_cast<unsigned char>(w[i] >> (8 * k));
    size_t n = b64_encode_url(bytes, sizeof bytes, out);
    out[n] = '\0';
    return out;
}

char *mail_random_boundary(char *out)
{
    out[0] = out[1] = '=';
    if (!mail_random_id(out + 2)) {
        out[0] = '\0';
        return nullptr;
    }
    memcpy(out + 2 + MAIL_ID_LEN, "==", 3);
    return out;
}

char *mail_message_id(char *out, size_t size, const char *address)
{
    if (size)
        out[0] = '\0';
    const char *at = address ? strchr(address, '@') : nullptr;
    // The field goes raw into the header block: nothing after the local
    // part may start a new line.
    if (!at || !text_is_clean(at + 1, TEXT_NO_TAB))
        return nullptr;
    // A quoted local part may hold "@"; the domain follows the last one.
    const char *domain = strrchr(at, '@') + 1;
    size_t dlen = strlen(domain);
    // "<" id "@" domain ">" NUL; a Message-ID that does not fit is refused
    // rather than cut.
    if (size < 1 + MAIL_ID_LEN + 1 + 1 + 1 || dlen > size - (1 + MAIL_ID_LEN + 1 + 1 + 1))
        return nullptr;
    char id[MAIL_ID_LEN + 1];
    if (!mail_random_id(id))
        return nullptr;
    char *o = out;
    *o++ = '<';
    memcpy(o, id, MAIL_ID_LEN);
    o += MAIL_ID_LEN;
    *o++ = '@';
    memcpy(o, domain, dlen);
    o += dlen;
    *o++ = '>';
    *o = '\0';
    return out;
}
