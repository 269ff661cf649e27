// The table of SASL mechanisms and the operations that go through it.
#include "mail/sasl.h"

#include <cstring>

#include "support/str.h"

constexpr MailSaslMech mail_sasl_mechs[MAIL_SASL_COUNT] = {
    {.name = "CRAM-MD5", .offered = MAILF_AUTH_CRAM_MD5, .disabled = MAILF_NO_CRAM_MD5,
     .allow = MAIL_AUTH_ALLOW_CRAM_MD5},
    {.name = "PLAIN", .offered = MAILF_AUTH_PLAIN, .disabled = MAILF_NO_PLAIN,
     .allow = MAIL_AUTH_ALLOW_PLAIN},
    {.name = "LOGIN", .offered = MAILF_AUTH_LOGIN, .disabled = MAILF_NO_LOGIN,
     .allow = MAIL_AUTH_ALLOW_LOGIN},
    {.name = "OAUTHBEARER", .offered = MAILF_AUTH_OAUTHBEARER, .disabled = MAILF_NO_OAUTHBEARER,
     .allow = MAIL_AUTH_ALLOW_OAUTHBEARER},
};

namespace {
// The table covers each bit of the three masks exactly once.
constexpr bool covers_masks()
{
    uint32_t offered = 0, disabled = 0;
    int allow = 0;
    for (const MailSaslMech &m : mail_sasl_mechs) {
        if ((offered & m.offered) || (disabled & m.disabled) || (allow & m.allow))
            return false;
        offered |= m.offered;
        disabled |= m.disabled;
        allow |= m.allow;
    }
    return offered == MAILF_AUTH_MASK && disabled == MAILF_NO_AUTH_MASK &&
           allow == MAIL_AUTH_ALLOW_ALL;
}
static_assert(covers_masks(), "one row per mechanism, every bit once");
} // namespace

const MailSaslMech *mail_sasl_find(const char *name, size_t len)
{
    if (!name)
        return nullptr;
    for (const MailSaslMech &m : mail_sasl_mechs) {
        if (strlen(m.name) == len && str_ncasecmp(name, m.name, static_cast<long>(len)) == 0)
            return &m;
    }
    return nullptr;
}

int mail_set_auth_mechanisms(MailContext *ctx, int allow)
{
    if (!ctx)
        return 0;
    for (const MailSaslMech &m : mail_sasl_mechs) {
        if (allow & m.allow)
            ctx->flags &= ~m.disabled;
        else
            ctx->flags |= m.disabled;
    }
    return allow & MAIL_AUTH_ALLOW_OAUTHBEARER ? 1 : 0;
}
