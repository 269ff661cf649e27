// The DKIM signer: one signing context per field, the body hash, the walk
// over the signed header fields, the field text and the signature with RSA
// (PKCS#1 v1.5 over SHA-1 or SHA-256) or Ed25519 over the SHA-256 of the
// header data; simple and relaxed canonicalisation feed the digests.
#include "dkim/dkim.h"

#include <cstdlib>
#include <cstring>
#include <openssl/evp.h>

#include "support/encode.h"
#include "support/fmt.h"
#include "support/str.h"

namespace {

bool is_wsp(char c) { return c == ' ' || c == '\t'; }
bool is_eol(char c) { return c == '\r' || c == '\n'; }

const char kMalformed[] = "Malformed header";
const char kSignFailed[] = "DKIM signature failed";

bool relaxed_header(int canon) { return canon == DKIM_CANON_RELAXED_RELAXED || canon == DKIM_CANON_RELAXED_SIMPLE; }
bool relaxed_body(int canon) { return canon == DKIM_CANON_SIMPLE_RELAXED || canon == DKIM_CANON_RELAXED_RELAXED; }

// Collects canonical output in a small buffer before it reaches the digest,
// so that the relaxed rules, which look at every byte, hand over large
// pieces.
struct Batch {
    EVP_MD_CTX *md;
    size_t n = 0;
    char buf[4096];
    explicit Batch(EVP_MD_CTX *m) : md(m) {}
    ~Batch() { flush(); }
    void put(char c)
    {
        if (n == sizeof buf)
            flush();
        buf[n++] = c;
    }
    void put(const char *p, size_t len)
    {
        flush();
        EVP_DigestUpdate(md, p, len);
    }
    void flush()
    {
        if (n)
            EVP_DigestUpdate(md, buf, n);
        n = 0;
    }
};

// The end of the line that starts at p (its CR LF, or end).
const char *line_end(const char *p, const char *end)
{
    while (p < end && !(p[0] == '\r' && p + 1 < end && p[1] == '\n'))
        p++;
    return p;
}

// The header fields that are signed (compared without regard to case):
// what the reader sees and what says how to read the body (a changed
// Content-Transfer-Encoding shows other text under the same body hash),
// the thread and the mailing-list fields that RFC 6376 recommends.
const char *const kSignedNames[] = {
    "Cc",          "Content-Transfer-Encoding", "Content-Type", "Date",      "From",
    "In-Reply-To", "List-Archive",              "List-Help",    "List-Id",   "List-Owner",
    "List-Post",   "List-Subscribe",            "List-Unsubscribe",          "List-Unsubscribe-Post",
    "Message-ID",  "MIME-Version",              "References",   "Reply-To",  "Subject",
    "To",          "X-Mailer"};

enum { kNameMax = 1023 };

bool is_signed_name(const char *name, size_t len)
{
    // A NUL would end the copy early and let "Subject\0x" pass for "Subject".
    if (len > kNameMax || memchr(name, '\0', len))
        return false;
    char copy[kNameMax + 1];
    memcpy(copy, name, len);
    copy[len] = '\0';
    for (const char *n : kSignedNames)
        if (str_casecmp(copy, n) == 0)
            return true;
    return false;
}

const char *alg_name_of(int alg)
{
    switch (alg) {
    case DKIM_ALG_RSA_SHA1: return "rsa-sha1";
    case DKIM_ALG_RSA_SHA256: return "rsa-sha256";
    default: return "ed25519-sha256";
    }
}

bool canon_is_known(int canon)
{
    return canon == DKIM_CANON_SIMPLE_SIMPLE || canon == DKIM_CANON_SIMPLE_RELAXED ||
           canon == DKIM_CANON_RELAXED_RELAXED || canon == DKIM_CANON_RELAXED_SIMPLE;
}

void set_why(const char **why, const char *text)
{
    if (why)
        *why = text;
}

} // namespace

const char *dkim_canon_tag(int canon)
{
    switch (canon) {
    case DKIM_CANON_SIMPLE_RELAXED: return " c=simple/relaxed;";
    case DKIM_CANON_RELAXED_RELAXED: return " c=relaxed/relaxed;";
    case DKIM_CANON_RELAXED_SIMPLE: return " c=relaxed;";
    default: return "";
    }
}

int dkim_ctx_init(DkimContext *ctx, const char *message, size_t header_len, const char *body, size_t body_len)
{
    memset(ctx, 0, sizeof *ctx);
    ctx->header_md = EVP_MD_CTX_new();
    ctx->body_md = EVP_MD_CTX_new();
    ctx->canon = DKIM_CANON_SIMPLE_SIMPLE;
    ctx->message = message;
    ctx->header_len = header_len;
    ctx->body = body;
    ctx->body_len = body_len;
    return ctx->header_md && ctx->body_md;
}

int dkim_ctx_clear(DkimContext *ctx)
{
    free(ctx->signature);
    EVP_MD_CTX_free(ctx->header_md);
    EVP_MD_CTX_free(ctx->body_md);
    ctx->signature = nullptr;
    ctx->signature_len = 0;
    ctx->header_md = ctx->body_md = nullptr;
    ctx->message = ctx->body = nullptr;
    ctx->header_len = ctx->body_len = 0;
    return 1;
}

char *dkim_unfold_after_colon(const char *text, size_t *len)
{
    char *copy = static_cast<char *>(malloc(*len + 1));
    if (!copy)
        return nullptr;
    size_t n = 0;
    bool after_colon = false, seen_colon = false;
    for (size_t i = 0; i < *len; i++) {
        char c = text[i];
        if (is_eol(c) || (after_colon && is_wsp(c)))
            continue;
        after_colon = !seen_colon && c == ':';
        seen_colon = seen_colon || c == ':';
        copy[n++] = c;
    }
    copy[n] = '\0';
    *len = n;
    return copy;
}

int dkim_canon_relaxed(DkimContext *ctx, int mode, const char *text, size_t len)
{
    if (mode == DKIM_HASH_FIELD || mode == DKIM_HASH_UNSIGNED) {
        char *field = dkim_unfold_after_colon(text, &len);
        if (!field)
            return 0;
        // The name in lower case, every run of blanks one SP, none before
        // the colon or at the end.
        Batch out(ctx->header_md);
        bool in_name = true, blank = false, started = false;
        for (const char *p = field; p < field + len; p++) {
            char c = *p;
            if (is_wsp(c)) {
                blank = true;
                continue;
            }
            if (in_name && c == ':') {
                in_name = false;
                blank = started = false;
                out.put(':');
                continue;
            }
            if (blank && started)
                out.put(' ');
            blank = false;
            started = true;
            out.put(in_name && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
        }
        free(field);
        // The unsigned field is hashed without a line end.
        if (mode == DKIM_HASH_FIELD)
            out.put("\r\n", 2);
        return 1;
    }
    // The body, line by line: nothing is copied, so memory does not grow
    // with the body.
    Batch out(ctx->body_md);
    const char *p = text, *end = text + len;
    while (p < end) {
        const char *eol = line_end(p, end);
        bool blank = false;
        for (const char *q = p; q < eol; q++) {
            if (is_wsp(*q)) {
                blank = true;
                continue;
            }
            if (blank)
                out.put(' ');
            blank = false;
            out.put(*q);
        }
        out.put('\r');
        out.put('\n');
        p = eol < end ? eol + 2 : end;
    }
    return 1;
}

int dkim_hash_header(DkimContext *ctx, int mode, const char *text, size_t len)
{
    const bool relaxed = mode == DKIM_HASH_BODY ? relaxed_body(ctx->canon) : relaxed_header(ctx->canon);
    // Line ends at the end are not part of a field; empty lines at the end
    // are not part of the body; under relaxed rules neither are blanks.
    if (mode != DKIM_HASH_UNSIGNED)
        while (len && (is_eol(text[len - 1]) || (relaxed && is_wsp(text[len - 1]))))
            len--;
    if (relaxed)
        return dkim_canon_relaxed(ctx, mode, text, len); // an empty relaxed body is no text at all
    EVP_MD_CTX *md = mode == DKIM_HASH_BODY ? ctx->body_md : ctx->header_md;
    if (len)
        EVP_DigestUpdate(md, text, len);
    // A simple field and a simple body end in one line end (an empty body
    // is one line end).
    if (mode != DKIM_HASH_UNSIGNED)
        EVP_DigestUpdate(md, "\r\n", 2);
    return 1;
}

int dkim_hash_body(DkimContext *ctx, const char **why)
{
    if (!dkim_hash_header(ctx, DKIM_HASH_BODY, ctx->body, ctx->body_len)) {
        set_why(why, dkim_error_nomem);
        return 0;
    }
    if (EVP_DigestFinal_ex(ctx->body_md, ctx->body_hash, &ctx->body_hash_len) != 1) {
        set_why(why, kSignFailed);
        return 0;
    }
    EVP_MD_CTX_reset(ctx->body_md);
    return 1;
}

int dkim_hash_signed_headers(DkimContext *ctx, const char **why)
{
    ctx->signed_count = 0;
    const char *p = ctx->message, *end = ctx->message + ctx->header_len;
    DkimSignedField cur = {nullptr, 0, 0};
    bool selected = false;
    while (p < end) {
        const char *eol = line_end(p, end);
        size_t line_len = static_cast<size_t>(eol - p);
        if (is_wsp(*p)) {
            // A continuation line before the first field belongs to none.
            if (cur.start)
                cur.len = static_cast<size_t>(eol - cur.start);
        } else {
            if (selected)
                ctx->signed_fields[ctx->signed_count++] = cur;
            const char *colon = static_cast<const char *>(memchr(p, ':', line_len));
            if (!colon) {
                set_why(why, kMalformed);
                return 0;
            }
            cur = {p, line_len, static_cast<size_t>(colon - p)};
            selected = is_signed_name(p, cur.name_len);
            if (selected && ctx->signed_count == DKIM_SIGNED_MAX) {
                set_why(why, kMalformed);
                return 0;
            }
        }
        p = eol < end ? eol + 2 : end;
    }
    if (selected)
        ctx->signed_fields[ctx->signed_count++] = cur;
    // Repeated names are signed from the bottom up, the order in which
    // verifiers take them: the fields go into the digest from the last to
    // the first, and h= lists them in that order.
    for (size_t i = ctx->signed_count; i-- > 0;) {
        if (!dkim_hash_header(ctx, DKIM_HASH_FIELD, ctx->signed_fields[i].start, ctx->signed_fields[i].len)) {
            set_why(why, dkim_error_nomem);
            return 0;
        }
    }
    return 1;
}

int dkim_make_signature(DkimContext *ctx, const char *field, size_t len, const char *pem, const char **why)
{
    ctx->signature_len = 0;
    if (!dkim_hash_header(ctx, DKIM_HASH_UNSIGNED, field, len)) {
        set_why(why, dkim_error_nomem);
        return 0;
    }
    set_why(why, kSignFailed);
    EVP_PKEY *key = dkim_key_read(pem);
    if (!key)
        return 0;
    int size = EVP_PKEY_size(key);
    int ok = 0;
    free(ctx->signature);
    ctx->signature = size > 0 && size <= DKIM_SIGNATURE_MAX ? static_cast<unsigned char *>(malloc(size_t(size)))
                                                            : nullptr;
    if (ctx->signature && ctx->alg == DKIM_ALG_ED25519_SHA256) {
        // Ed25519 signs the 32-byte SHA-256 of the header data itself.
        unsigned char h[EVP_MAX_MD_SIZE];
        unsigned h_len = 0;
        EVP_MD_CTX *sign = EVP_MD_CTX_new();
        size_t sig_len = static_cast<size_t>(size);
        ok = sign && EVP_DigestFinal_ex(ctx->header_md, h, &h_len) == 1 &&
             EVP_DigestSignInit(sign, nullptr, nullptr, nullptr, key) == 1 &&
             EVP_DigestSign(sign, ctx->signature, &sig_len, h, h_len) == 1;
        ctx->signature_len = ok ? sig_len : 0;
        EVP_MD_CTX_free(sign);
    } else if (ctx->signature) {
        // RSA PKCS#1 v1.5 over the header digest.
        unsigned sig_len = 0;
        ok = EVP_SignFinal(ctx->header_md, ctx->signature, &sig_len, key) == 1;
        ctx->signature_len = ok ? sig_len : 0;
    }
    EVP_PKEY_free(key);
    EVP_MD_CTX_reset(ctx->header_md);
    if (ok)
        set_why(why, nullptr);
    return ok;
}

int dkim_sign(DkimContext *ctx, int canon, int alg, const DkimKeyDomain *d, int64_t t, char **field,
              const char **why)
{
    *field = nullptr;
    *why = nullptr;
    const DkimKeySelector *key = dkim_key_for(d, alg);
    if (!key || !canon_is_known(canon))
        return 0;
    ctx->canon = canon;
    ctx->alg = alg;
    ctx->alg_name = alg_name_of(alg);
    const EVP_MD *md = alg == DKIM_ALG_RSA_SHA1 ? EVP_sha1() : EVP_sha256();
    if (EVP_DigestInit_ex(ctx->header_md, md, nullptr) != 1 || EVP_DigestInit_ex(ctx->body_md, md, nullptr) != 1) {
        *why = kSignFailed;
        return 0;
    }
    // The body hash is final before the field text is built.
    if (!dkim_hash_body(ctx, why) || !dkim_hash_signed_headers(ctx, why))
        return 0;
    // A signature must cover the From field.
    bool has_from = false;
    for (size_t i = 0; i < ctx->signed_count; i++)
        has_from = has_from || (ctx->signed_fields[i].name_len == 4 &&
                                str_ncasecmp(ctx->signed_fields[i].start, "From", 4) == 0);
    if (!has_from) {
        *why = "The message has no From field to sign";
        return 0;
    }

    // The field without its signature.
    StrBuf f = {};
    sbuf_printf(&f, "DKIM-Signature: v=1; a=%s;%s t=%D;\r\n", ctx->alg_name, dkim_canon_tag(canon),
                static_cast<long long>(t));
    sbuf_printf(&f, "\ts=%s; d=%s;\r\n\th=", key->selector, d->domain);
    size_t line_start = f.length - 3;
    for (size_t i = ctx->signed_count; i-- > 0;) {
        if (i + 1 != ctx->signed_count) {
            sbuf_printf(&f, ":");
            if (f.length - line_start > 70) {
                sbuf_printf(&f, "\r\n\t");
                line_start = f.length - 1;
            }
        }
        sbuf_printf(&f, "%.*s", static_cast<int>(ctx->signed_fields[i].name_len), ctx->signed_fields[i].start);
    }
    char bh[b64_encoded_size(sizeof ctx->body_hash) + 1];
    bh[b64_encode(ctx->body_hash, ctx->body_hash_len, bh)] = '\0';
    sbuf_printf(&f, ";\r\n\tbh=%s;\r\n\tb=;", bh);
    if (f.flags & STRBUF_NOMEM) {
        sbuf_release(&f);
        *why = dkim_error_nomem;
        return 0;
    }
    if (!dkim_make_signature(ctx, f.data, f.length, key->key_pem, why)) {
        sbuf_release(&f);
        return 0;
    }

    // The signature in its place of the ";": base64 in slices of 57 bytes
    // (76 characters), each continuation line led by a TAB, the last slice
    // closed by ";".
    sbuf_set_length(&f, -1);
    const size_t kSlice = 57;
    for (size_t i = 0; i < ctx->signature_len; i += kSlice) {
        size_t n = ctx->signature_len - i < kSlice ? ctx->signature_len - i : kSlice;
        char b64[b64_encoded_size(kSlice) + 1];
        b64[b64_encode(ctx->signature + i, static_cast<ptrdiff_t>(n), b64)] = '\0';
        sbuf_printf(&f, "%s%s%s\r\n", i ? "\t" : "", b64, i + n == ctx->signature_len ? ";" : "");
    }
    if (f.flags & STRBUF_NOMEM) {
        sbuf_release(&f);
        *why = dkim_error_nomem;
        return 0;
    }
    *field = f.data;
    return 1;
}
