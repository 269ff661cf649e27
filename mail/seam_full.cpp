// The session's seam as the full program answers it.
#include "mail/seam.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "dkim/dkim.h"
#include "mail/addr.h"
#include "mail/option.h"
#include "mail/scan.h"
#include "mail/writer.h"

const int mail_full_program = 1;

// Named on the link line of every program that links this seam (see
// mail/CMakeLists.txt), so that this file is always taken, whatever the
// order of the libraries; a program that links both seams fails to link.
extern const int mail_seam_full;
const int mail_seam_full = 1;

int mail_scan_recipient_file(MailContext *ctx, Recipient **list, const char *path)
{
    return addr_scan_recipient_file(ctx, list, path);
}

int mail_scan_message_file(MailContext *ctx, int recipients, int sender)
{
    return addr_scan_message_file(ctx, recipients, sender);
}

namespace {

// The registry entry of a domain, which the registry holds in its ASCII
// form: an internationalised domain is looked up converted.
const DkimKeyDomain *dkim_find_ascii(AvlNode *keys, const char *domain)
{
    char ascii[ADDR_BUF_SIZE];
    return domain && addr_idn_domain(domain, ascii, sizeof ascii) ? dkim_keys_find_domain(keys, ascii) : nullptr;
}

// The registry entry that signs for the session, or NULL.
const DkimKeyDomain *dkim_domain_of(MailContext *ctx)
{
    if (!(ctx->flags2 & MAILF2_DKIM) || !ctx->dkim_keys)
        return nullptr;
    const char *at = ctx->from_address ? strchr(ctx->from_address, '@') : nullptr;
    const DkimKeyDomain *d = at ? dkim_find_ascii(ctx->dkim_keys, at + 1) : nullptr;
    if (!d)
        d = dkim_find_ascii(ctx->dkim_keys, ctx->dkim_domain);
    return d;
}

} // namespace

int mail_dkim_signs(MailContext *ctx) { return dkim_domain_of(ctx) != nullptr; }

int mail_dkim_sign(MailContext *ctx, const char *text, size_t len, size_t header_len, StrBuf *fields)
{
    const DkimKeyDomain *d = dkim_domain_of(ctx);
    if (!d) {
        mail_set_errorf(ctx, "No DKIM key for the sender's domain");
        return MIME_FAIL_INPUT;
    }
    if (!ctx->dkim_algorithms)
        ctx->dkim_algorithms = MAILOPT_DKIM_ALG_RSA_SHA256 | MAILOPT_DKIM_ALG_ED25519_SHA256;
    if (!ctx->dkim_canons)
        ctx->dkim_canons = MAILOPT_DKIM_CANON_SIMPLE_SIMPLE;
    // The body follows the blank line after the header block.
    const size_t body_start = header_len + 2 <= len ? header_len + 2 : len;
    const int64_t now = static_cast<int64_t>(time(nullptr));
    int made = 0;
    // Canonicalisations in the order simple/simple, simple/relaxed,
    // relaxed/relaxed, relaxed/simple; within each, rsa-sha1, rsa-sha256,
    // ed25519-sha256. The session keeps both sets shifted by 8 bits.
    for (int canon = DKIM_CANON_SIMPLE_SIMPLE; canon <= DKIM_CANON_RELAXED_SIMPLE; canon <<= 1) {
        if (!(ctx->dkim_canons & (canon << 8)))
            continue;
        for (int alg = DKIM_ALG_RSA_SHA1; alg <= DKIM_ALG_ED25519_SHA256; alg <<= 1) {
            if (!(ctx->dkim_algorithms & (alg << 8)))
                continue;
            char *field = nullptr;
            const char *why = nullptr;
            DkimContext dc;
            int signed_ok = dkim_ctx_init(&dc, text, header_len, text + body_start, len - body_start);
            if (!signed_ok)
                why = dkim_error_nomem;
            else
                signed_ok = dkim_sign(&dc, canon, alg, d, now, &field, &why);
            dkim_ctx_clear(&dc);
            if (!signed_ok) {
                if (!why)
                    continue; // no key of the domain fits this algorithm
                if (why == dkim_error_nomem) {
                    mail_set_nomem(ctx);
                    return MIME_FAIL_NOMEM;
                }
                mail_set_errorf(ctx, "DKIM signing for %s failed: %s", d->domain, why);
                return MIME_FAIL_INPUT;
            }
            sbuf_printf(fields, "%s", field);
            free(field);
            if (fields->flags & STRBUF_NOMEM) {
                mail_set_nomem(ctx);
                return MIME_FAIL_NOMEM;
            }
            made++;
        }
    }
    if (!made) {
        // Signing was asked for and a key is registered: the message must not
        // go out unsigned without a word.
        mail_set_errorf(ctx, "No DKIM key of %s fits the chosen algorithms", d->domain);
        return MIME_FAIL_INPUT;
    }
    return MIME_OK;
}
