// The SASL mechanisms of SMTP AUTH, as one table: each mechanism's name as
// EHLO offers it and the front end's -authtypes: names it, the bit that
// says the server offered it, the bit by which the caller disables it, and
// its bit in an allow mask. Naming the allowed mechanisms, setting them,
// reading an offer and choosing a mechanism all go through it. The SMTP
// client keeps its exchange for each row with the rest of the dialogue
// (smtp/login.cpp), found by the row's allow bit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mail/session.h"

// Allow mask of mail_set_auth_mechanisms (and, shifted by 8, the
// sub-choice of MAILOPT_AUTH_TYPES).
enum {
    MAIL_AUTH_ALLOW_CRAM_MD5 = 1,
    MAIL_AUTH_ALLOW_PLAIN = 2,
    MAIL_AUTH_ALLOW_LOGIN = 4,
    MAIL_AUTH_ALLOW_OAUTHBEARER = 8,
    MAIL_AUTH_ALLOW_ALL = 15,
};

// One mechanism.
struct MailSaslMech {
    const char *name; // as an "AUTH" line of EHLO names it, upper case
    uint32_t offered; // MAILF_AUTH_*: offered by the server and not disabled
    uint32_t disabled; // MAILF_NO_*: disabled by the caller
    int allow;        // MAIL_AUTH_ALLOW_*
};

enum { MAIL_SASL_COUNT = 4 };

// The mechanisms, in the order the client prefers them when the server
// offers several: CRAM-MD5, PLAIN, LOGIN, then OAUTHBEARER (which is used
// only when the caller asked for it with MAILF_USE_OAUTHBEARER).
extern const MailSaslMech mail_sasl_mechs[MAIL_SASL_COUNT];

// The row of a mechanism name of len bytes, compared without regard to
// ASCII case (EHLO lines may be in any case); NULL for another name.
const MailSaslMech *mail_sasl_find(const char *name, size_t len);

// Disables every mechanism not in the allow mask and enables each one in
// it; returns 1 when OAUTHBEARER is allowed, else 0.
int mail_set_auth_mechanisms(MailContext *ctx, int allow);
