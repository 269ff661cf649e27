// The full program's DKIM policy: which registered key signs for the
// session, which algorithms and canonicalisations it signs with when none
// is chosen, and the keys the -dkim: word registers (refused when they fit
// none of the chosen algorithms).
#include "mail/seam.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "dkim/dkim.h"
#include "mail/addr.h"
#include "mail/option.h"
#include "mail/writer.h"
#include "platform/platform.h"
#include "support/file.h"

namespace {

// What the session signs with when nothing is chosen.
constexpr unsigned default_algorithms = MAILOPT_DKIM_ALG_RSA_SHA256 | MAILOPT_DKIM_ALG_ED25519_SHA256;
constexpr unsigned default_canons = MAILOPT_DKIM_CANON_SIMPLE_SIMPLE;

// Whether a signer's algorithm or canonicalisation bit is in a set the
// session keeps, which holds them shifted by 8 bits (MAILOPT_DKIM_ALG_*,
// MAILOPT_DKIM_CANON_*).
bool chosen(unsigned set, int signer_bit) { return (set & (unsigned(signer_bit) << 8)) != 0; }

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
    const char *at = ctx->from_address ? strrchr(ctx->from_address, '@') : nullptr;
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
        ctx->dkim_algorithms = default_algorithms;
    if (!ctx->dkim_canons)
        ctx->dkim_canons = default_canons;
    // The body follows the blank line after the header block.
    const size_t body_start = header_len + 2 <= len ? header_len + 2 : len;
    const int64_t now = static_cast<int64_t>(time(nullptr));
    int made = 0;
    // Canonicalisations in the order simple/simple, simple/relaxed,
    // relaxed/relaxed, relaxed/simple; within each, rsa-sha1, rsa-sha256,
    // ed25519-sha256.
    for (int canon = DKIM_CANON_SIMPLE_SIMPLE; canon <= DKIM_CANON_RELAXED_SIMPLE; canon <<= 1) {
        if (!chosen(ctx->dkim_canons, canon))
            continue;
        for (int alg = DKIM_ALG_RSA_SHA1; alg <= DKIM_ALG_ED25519_SHA256; alg <<= 1) {
            if (!chosen(ctx->dkim_algorithms, alg))
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

int mail_dkim_add_key(MailContext *ctx, const char *value, const char **why)
{
    // domain ":" selector ":" key file; the path is the rest of the value.
    const char *c1 = strchr(value, ':');
    const char *c2 = c1 ? strchr(c1 + 1, ':') : nullptr;
    if (!c1 || !c2 || c1 == value || c2 == c1 + 1 || !c2[1]) {
        *why = "expected domain:selector:keyfile";
        return 0;
    }
    std::string domain(value, c1), selector(c1 + 1, c2);
    // The registry keeps a domain in its ASCII form, the form in which the
    // sender's domain is looked up and d= is written.
    char ascii[ADDR_BUF_SIZE];
    if (!mail_dkim_domain_ascii(ctx, domain.c_str(), ascii, sizeof ascii))
        return mail_error_is_nomem(ctx) ? -1 : -2;
    FILE *fp = file_fopen_utf8(c2 + 1, "rb");
    if (!fp) {
        mail_set_system_error(ctx, plat_last_error(), "the key file cannot be opened");
        return -3;
    }
    // Read with a bound: a key file is a few kilobytes, and a huge file
    // named by mistake must not be taken into memory whole.
    std::string pem(DKIM_KEY_TEXT_MAX + 1, '\0');
    size_t len = fread(pem.data(), 1, pem.size(), fp);
    int failed = ferror(fp) ? plat_last_error() : 0;
    fclose(fp);
    if (failed) {
        mail_set_system_error(ctx, failed, "the key file cannot be read");
        return -3;
    }
    if (len > DKIM_KEY_TEXT_MAX || memchr(pem.data(), '\0', len)) {
        *why = "the key file is not a PEM key (too large, or NUL bytes)";
        return 0;
    }
    pem.resize(len);
    // A key that fits none of the algorithms chosen so far would sign
    // nothing: an error now rather than an unsigned message later.
    int type = dkim_key_type(pem.c_str(), why);
    if (type && ctx->dkim_algorithms) {
        bool fits = false;
        for (int alg = DKIM_ALG_RSA_SHA1; alg <= DKIM_ALG_ED25519_SHA256; alg <<= 1)
            if (chosen(ctx->dkim_algorithms, alg) && dkim_alg_key_type(alg) == type)
                fits = true;
        if (!fits) {
            *why = "the key's type fits none of the chosen DKIM algorithms";
            return 0;
        }
    }
    // Empty labels, which the conversion drops, leave the domain as it
    // stands: the registry refuses it.
    const char *name = domain.c_str();
    if (std::count(ascii, ascii + strlen(ascii), '.') == std::count(domain.begin(), domain.end(), '.'))
        name = ascii;
    DkimKeyDomain *d = type ? dkim_keys_add(&dkim_keys_root, name, selector.c_str(), pem.c_str(), why) : nullptr;
    if (!d)
        return *why == dkim_error_nomem ? -1 : 0;
    // The session borrows the registry's root as it stands.
    ctx->dkim_keys = dkim_keys_root;
    if (!mail_set_option_basic(ctx, MAILOPT_DKIM, nullptr, nullptr, nullptr)) {
        *why = "signing could not be switched on";
        return mail_error_is_nomem(ctx) ? -1 : 0;
    }
    return 1;
}

void mail_dkim_free_keys(void) { dkim_keys_free(&dkim_keys_root); }
