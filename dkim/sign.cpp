// The DKIM signer: canonicalisation of the header fields and the body
// (simple and relaxed), the body hash, the choice of the signed header
// fields, and the DKIM-Signature field signed with RSA (PKCS#1 v1.5 over
// SHA-1 or SHA-256) or Ed25519 over the SHA-256 of the header data.
#include "dkim/dkim.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/encode.h"
#include "support/str.h"

namespace {

bool is_wsp(char c) { return c == ' ' || c == '\t'; }

// Collects canonical output in a small buffer before it reaches the feed,
// so that the relaxed rules, which look at every byte, hand over large
// pieces.
struct Batch {
    DkimFeedFn feed;
    void *user;
    size_t n = 0;
    char buf[4096];
    Batch(DkimFeedFn f, void *u) : feed(f), user(u) {}
    void put(char c)
    {
        if (n == sizeof buf)
            flush();
        buf[n++] = c;
    }
    void put(const char *p, size_t len)
    {
        flush();
        feed(user, p, len);
    }
    void flush()
    {
        if (n)
            feed(user, buf, n);
        n = 0;
    }
};

} // namespace

const char *dkim_canon_tag(int canon)
{
    switch (canon) {
    case DKIM_CANON_SIMPLE_RELAXED:
        return " c=simple/relaxed;";
    case DKIM_CANON_RELAXED_RELAXED:
        return " c=relaxed/relaxed;";
    case DKIM_CANON_RELAXED_SIMPLE:
        return " c=relaxed/simple;";
    default:
        return "";
    }
}

void dkim_canon_header(int relaxed, const char *field, size_t len, int with_crlf, DkimFeedFn feed, void *user)
{
    Batch out(feed, user);
    if (!relaxed) {
        out.put(field, len);
    } else {
        // Unfolded (no CR or LF anywhere), the name lower-cased, every run of
        // blanks one SP, none at either end of the name or the value.
        bool in_name = true, blank = false, started = false;
        for (const char *p = field; p < field + len; p++) {
            char c = *p;
            if (c == '\r' || c == '\n')
                continue;
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
    }
    if (with_crlf)
        out.put("\r\n", 2);
    out.flush();
}

void dkim_canon_body(int relaxed, const char *body, size_t len, DkimFeedFn feed, void *user)
{
    // Empty lines at the end are not part of the body; under relaxed rules
    // neither are blanks at the ends of lines.
    while (len && (body[len - 1] == '\r' || body[len - 1] == '\n' || (relaxed && is_wsp(body[len - 1]))))
        len--;
    Batch out(feed, user);
    if (!relaxed) {
        // An empty body is one line end.
        if (len)
            out.put(body, len);
        out.put("\r\n", 2);
        out.flush();
        return;
    }
    if (!len)
        return; // an empty body is no text at all
    const char *p = body, *end = body + len;
    while (p < end) {
        const char *eol = p;
        while (eol < end && !(eol[0] == '\r' && eol + 1 < end && eol[1] == '\n'))
            eol++;
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
    out.flush();
}

namespace {

// The header fields that are signed (compared without regard to case).
const char *const kSignedNames[] = {"Cc",         "Content-Type", "Date",     "From",    "List-Unsubscribe",
                                    "Message-ID", "MIME-Version", "Reply-To", "Subject", "To",
                                    "X-Mailer"};

// Bounds on the signed header fields: a generated header holds a handful.
enum { kSignedFieldsMax = 100, kNameMax = 1023 };

struct Field {
    const char *start;
    size_t len;      // without the final line end
    size_t name_len; // as written, before the colon
};

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

// The fields of the header block that are signed, in message order.
const char *select_fields(const DkimMessage *m, std::vector<Field> &out)
{
    const char *p = m->text, *end = m->text + m->header_len;
    Field cur = {nullptr, 0, 0};
    bool selected = false;
    auto close = [&] {
        if (selected)
            out.push_back(cur);
        selected = false;
    };
    while (p < end) {
        const char *eol = p;
        while (eol < end && !(eol[0] == '\r' && eol + 1 < end && eol[1] == '\n'))
            eol++;
        size_t line_len = static_cast<size_t>(eol - p);
        if (is_wsp(*p)) {
            if (cur.start)
                cur.len = static_cast<size_t>(eol - cur.start);
        } else {
            close();
            const char *colon = static_cast<const char *>(memchr(p, ':', line_len));
            if (!colon)
                return "Malformed header field (no colon)";
            cur = {p, line_len, static_cast<size_t>(colon - p)};
            selected = is_signed_name(p, cur.name_len);
            if (selected && out.size() >= kSignedFieldsMax)
                return "Too many header fields to sign";
        }
        p = eol < end ? eol + 2 : end;
    }
    close();
    return nullptr;
}

void digest_feed(void *ctx, const char *data, size_t len)
{
    EVP_DigestUpdate(static_cast<EVP_MD_CTX *>(ctx), data, len);
}

struct MdCtx {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    ~MdCtx() { EVP_MD_CTX_free(ctx); }
};

struct PkeyCtx {
    EVP_PKEY_CTX *ctx;
    ~PkeyCtx() { EVP_PKEY_CTX_free(ctx); }
};

struct Pkey {
    EVP_PKEY *key;
    ~Pkey() { EVP_PKEY_free(key); }
};

// Signs the header hash h (hlen bytes) with key; the signature into sig.
bool sign_hash(int alg, const EVP_MD *md, const char *pem, const unsigned char *h, unsigned hlen,
               std::vector<unsigned char> &sig)
{
    Pkey key{dkim_key_read(pem)};
    if (!key.key || EVP_PKEY_size(key.key) <= 0 || EVP_PKEY_size(key.key) > DKIM_SIGNATURE_MAX)
        return false;
    sig.resize(static_cast<size_t>(EVP_PKEY_size(key.key)));
    size_t sig_len = sig.size();
    if (alg == DKIM_ALG_ED25519_SHA256) {
        // Ed25519 signs the 32-byte SHA-256 of the header data itself.
        MdCtx c;
        if (!c.ctx || EVP_DigestSignInit(c.ctx, nullptr, nullptr, nullptr, key.key) != 1 ||
            EVP_DigestSign(c.ctx, sig.data(), &sig_len, h, hlen) != 1)
            return false;
    } else {
        // RSA PKCS#1 v1.5 over the digest, with the digest's identifier.
        PkeyCtx c{EVP_PKEY_CTX_new(key.key, nullptr)};
        if (!c.ctx || EVP_PKEY_sign_init(c.ctx) != 1 || EVP_PKEY_CTX_set_rsa_padding(c.ctx, RSA_PKCS1_PADDING) != 1 ||
            EVP_PKEY_CTX_set_signature_md(c.ctx, md) != 1 || EVP_PKEY_sign(c.ctx, sig.data(), &sig_len, h, hlen) != 1)
            return false;
    }
    sig.resize(sig_len);
    return true;
}

void append_base64(std::string &s, const unsigned char *data, size_t len)
{
    std::string b64(b64_encoded_size(len) + 1, '\0');
    b64.resize(b64_encode(data, static_cast<ptrdiff_t>(len), b64.data()));
    s += b64;
}

int sign_field(const DkimMessage *m, int canon, int alg, const DkimKeyDomain *d, int64_t t, char **field,
               const char **why)
{
    const DkimKeySelector *key = dkim_key_for(d, alg);
    if (!key || !(canon == DKIM_CANON_SIMPLE_SIMPLE || canon == DKIM_CANON_SIMPLE_RELAXED ||
                  canon == DKIM_CANON_RELAXED_RELAXED || canon == DKIM_CANON_RELAXED_SIMPLE))
        return 0;
    int relaxed_header = canon == DKIM_CANON_RELAXED_RELAXED || canon == DKIM_CANON_RELAXED_SIMPLE;
    int relaxed_body = canon == DKIM_CANON_SIMPLE_RELAXED || canon == DKIM_CANON_RELAXED_RELAXED;
    const EVP_MD *md = alg == DKIM_ALG_RSA_SHA1 ? EVP_sha1() : EVP_sha256();
    const char *alg_name = alg == DKIM_ALG_RSA_SHA1 ? "rsa-sha1" : alg == DKIM_ALG_RSA_SHA256 ? "rsa-sha256" : "ed25519-sha256";

    std::vector<Field> fields;
    if ((*why = select_fields(m, fields)) != nullptr)
        return 0;
    // A signature must cover the From field.
    bool has_from = false;
    for (const Field &fl : fields)
        has_from = has_from || (fl.name_len == 4 && str_ncasecmp(fl.start, "From", 4) == 0);
    if (!has_from) {
        *why = "The message has no From field to sign";
        return 0;
    }
    *why = "DKIM signature failed";

    // The body hash. The body follows the blank line after the header.
    size_t body_start = m->header_len + 2 <= m->len ? m->header_len + 2 : m->len;
    unsigned char bh[EVP_MAX_MD_SIZE];
    unsigned bh_len = 0;
    MdCtx body;
    if (!body.ctx || EVP_DigestInit_ex(body.ctx, md, nullptr) != 1)
        return 0;
    dkim_canon_body(relaxed_body, m->text + body_start, m->len - body_start, digest_feed, body.ctx);
    if (EVP_DigestFinal_ex(body.ctx, bh, &bh_len) != 1)
        return 0;

    // The field without its signature. Repeated names are signed from the
    // bottom up, the order in which verifiers take them, so h= lists the
    // fields from the last to the first.
    std::string f = "DKIM-Signature: v=1; a=";
    f += alg_name;
    f += ";";
    f += dkim_canon_tag(canon);
    f += " t=" + std::to_string(t) + ";\r\n\ts=";
    f += key->selector;
    f += "; d=";
    f += d->domain;
    f += ";\r\n\th=";
    size_t line_start = f.size() - 3;
    for (size_t i = fields.size(); i-- > 0;) {
        if (i + 1 != fields.size()) {
            f += ":";
            if (f.size() - line_start > 70) {
                f += "\r\n\t";
                line_start = f.size() - 1;
            }
        }
        f.append(fields[i].start, fields[i].name_len);
    }
    f += ";\r\n\tbh=";
    append_base64(f, bh, bh_len);
    f += ";\r\n\tb=";

    // The header hash: the signed fields, then this field with an empty b=.
    MdCtx header;
    if (!header.ctx || EVP_DigestInit_ex(header.ctx, md, nullptr) != 1)
        return 0;
    for (size_t i = fields.size(); i-- > 0;)
        dkim_canon_header(relaxed_header, fields[i].start, fields[i].len, 1, digest_feed, header.ctx);
    dkim_canon_header(relaxed_header, f.data(), f.size(), 0, digest_feed, header.ctx);
    unsigned char h[EVP_MAX_MD_SIZE];
    unsigned h_len = 0;
    if (EVP_DigestFinal_ex(header.ctx, h, &h_len) != 1)
        return 0;
    std::vector<unsigned char> sig;
    if (!sign_hash(alg, md, key->key_pem, h, h_len, sig))
        return 0;

    // The signature in base64, folded into lines of 76 characters.
    std::string b64;
    append_base64(b64, sig.data(), sig.size());
    for (size_t i = 0; i < b64.size(); i += 76) {
        if (i)
            f += "\r\n\t";
        f.append(b64, i, 76);
    }
    f += "\r\n";
    *field = static_cast<char *>(malloc(f.size() + 1));
    if (!*field) {
        *why = "out of memory";
        return 0;
    }
    memcpy(*field, f.c_str(), f.size() + 1);
    *why = nullptr;
    return 1;
}

} // namespace

int dkim_sign(const DkimMessage *m, int canon, int alg, const DkimKeyDomain *d, int64_t t, char **field,
              const char **why)
{
    *field = nullptr;
    *why = nullptr;
    try {
        return sign_field(m, canon, alg, d, t, field, why);
    } catch (const std::bad_alloc &) {
    } catch (const std::length_error &) {
    }
    *why = "out of memory";
    return 0;
}
