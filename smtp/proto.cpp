// The SMTP client's pure pieces: reply grammar, EHLO parse, envelope
// parameter texts and SASL responses (see proto.h).
#include "smtp/proto.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "mail/lists.h"
#include "mail/sasl.h"
#include "mail/session.h"
#include "support/encode.h"
#include "support/hex.h"
#include "support/md5.h"
#include "support/str.h"

// ---- replies -------------------------------------------------------------------

namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

static_assert(SMTP_REPLY_LINES_MAX == 128, "the message below names the cap");

int smtp_reply_feed(SmtpReplyState *st, const char *line, size_t len, const char **error)
{
    if (st->lines >= SMTP_REPLY_LINES_MAX) {
        *error = "Reply from server has more than 128 lines";
        return SMTP_LINE_BAD;
    }
    if (len == 0) {
        *error = "Empty reply line from server";
        return SMTP_LINE_BAD;
    }
    if (len < 3 || !is_digit(line[0]) || !is_digit(line[1]) || !is_digit(line[2]) ||
        (len > 3 && line[3] != ' ' && line[3] != '-')) {
        *error = "Invalid reply from server";
        return SMTP_LINE_BAD;
    }
    int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    if (st->lines > 0 && code != st->code) {
        // Lines of two replies run together: the dialogue is out of step.
        *error = "Reply codes differ within one reply";
        return SMTP_LINE_BAD;
    }
    st->code = code;
    st->lines++;
    return len > 3 && line[3] == '-' ? SMTP_LINE_MORE : SMTP_LINE_FINAL;
}

// ---- EHLO ----------------------------------------------------------------------

namespace {

// Case-insensitive comparison of len bytes with a whole keyword.
bool keyword_is(const char *text, size_t len, const char *keyword)
{
    size_t n = strlen(keyword);
    return len == n && str_ncasecmp(text, keyword, static_cast<long>(n)) == 0;
}

} // namespace

void smtp_ehlo_parse_line(SmtpEhloOffer *offer, const char *line, size_t len, int have_user,
                          uint32_t no_mask)
{
    if (len < 5)
        return;
    const char *text = line + 4;
    size_t n = len - 4;
    if (keyword_is(text, n, "STARTTLS")) {
        offer->starttls = 1;
    } else if (keyword_is(text, n, "DSN")) {
        offer->flags |= MAILF_SERVER_DSN;
    } else if (keyword_is(text, n, "SMTPUTF8")) {
        offer->flags2 |= MAILF2_SERVER_SMTPUTF8;
    } else if (have_user && n >= 5 && str_ncasecmp(text, "AUTH ", 5) == 0) {
        // Mechanism names separated by single blanks; an empty word between
        // two blanks names nothing.
        const char *p = text + 5;
        const char *end = text + n;
        while (p < end) {
            const char *blank = static_cast<const char *>(memchr(p, ' ', static_cast<size_t>(end - p)));
            const char *word_end = blank ? blank : end;
            const MailSaslMech *m = mail_sasl_find(p, static_cast<size_t>(word_end - p));
            if (m && !(no_mask & m->disabled))
                offer->flags |= m->offered;
            p = blank ? blank + 1 : end;
        }
    }
}

// ---- envelope parameters -------------------------------------------------------

char *smtp_notify_text(char *buf, unsigned bits)
{
    buf[0] = 0;
    if (bits & MAIL_NOTIFY_NEVER) {
        str_copy_bounded(buf, " NOTIFY=NEVER", SMTP_NOTIFY_TEXT_SIZE);
        return buf;
    }
    static const struct {
        unsigned bit;
        const char *word;
    } words[] = {
        {MAIL_NOTIFY_SUCCESS, "SUCCESS"},
        {MAIL_NOTIFY_FAILURE, "FAILURE"},
        {MAIL_NOTIFY_DELAY, "DELAY"},
    };
    const char *sep = " NOTIFY=";
    for (const auto &w : words) {
        if (!(bits & w.bit))
            continue;
        str_append_bounded(buf, sep, SMTP_NOTIFY_TEXT_SIZE);
        str_append_bounded(buf, w.word, SMTP_NOTIFY_TEXT_SIZE);
        sep = ",";
    }
    return buf;
}

std::string smtp_xtext(const char *text)
{
    const char *hex = HEX_DIGITS_UPPER;
    std::string out;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
        if (*p < '!' || *p > '~' || *p == '+' || *p == '=') {
            out += '+';
            out += hex[*p >> 4];
            out += hex[*p & 15];
        } else {
            out += static_cast<char>(*p);
        }
    }
    return out;
}

// ---- SASL ----------------------------------------------------------------------

namespace {

// Room for n bytes in out, or std::bad_alloc.
char *room(SecretText *out, size_t n)
{
    char *p = out->resize(n);
    if (!p)
        throw std::bad_alloc();
    return p;
}

} // namespace

void smtp_sasl_base64(const void *data, size_t len, SecretText *out)
{
    char *p = room(out, b64_encoded_size(len));
    b64_encode(data, static_cast<ptrdiff_t>(len), p);
}

void smtp_sasl_plain(const char *user, const char *password, SecretText *out)
{
    size_t ul = strlen(user), pl = strlen(password);
    SecretText raw;
    char *p = room(&raw, ul + pl + 2);
    memcpy(p + 1, user, ul);
    memcpy(p + ul + 2, password, pl);
    smtp_sasl_base64(p, raw.size(), out);
}

int smtp_sasl_oauthbearer(const char *user, const char *token, SecretText *out, const char **error)
{
    // 0x01 ends a field: in the user name or the token it would end one
    // early and start fields of the caller's making.
    if (strchr(user, '\x01') || strchr(token, '\x01')) {
        *error = strchr(token, '\x01') ? "the bearer token holds the byte 0x01"
                                       : "the user name holds the byte 0x01";
        return 0;
    }
    // The user name with "," and "=" escaped (each grows by two bytes).
    size_t ul = 0;
    for (const char *u = user; *u; u++)
        ul += (*u == ',' || *u == '=') ? 3 : 1;
    static const char head[] = "n,a=";
    static const char middle[] = ",\x01" "auth=Bearer ";
    size_t tl = strlen(token);
    size_t n = (sizeof head - 1) + ul + (sizeof middle - 1) + tl + 2;
    SecretText raw;
    char *p = room(&raw, n);
    memcpy(p, head, sizeof head - 1);
    p += sizeof head - 1;
    for (const char *u = user; *u; u++) {
        if (*u == ',' || *u == '=') {
            memcpy(p, *u == ',' ? "=2C" : "=3D", 3);
            p += 3;
        } else {
            *p++ = *u;
        }
    }
    memcpy(p, middle, sizeof middle - 1);
    p += sizeof middle - 1;
    memcpy(p, token, tl);
    p += tl;
    *p++ = 1;
    *p++ = 1;
    smtp_sasl_base64(raw.data(), n, out);
    return 1;
}

int smtp_sasl_cram_md5(const char *user, const char *password, const char *challenge, size_t len,
                       SecretText *out, const char **error)
{
    // Decoding more than the cap's worth of text is never needed: four
    // characters give three bytes.
    if (len > b64_encoded_size(SMTP_CRAM_CHALLENGE_MAX) + 4) {
        *error = "challenge too long";
        return 0;
    }
    unsigned char decoded[b64_decoded_max(b64_encoded_size(SMTP_CRAM_CHALLENGE_MAX) + 4)];
    size_t n = b64_decode(challenge, static_cast<ptrdiff_t>(len), decoded);
    if (const void *nul = memchr(decoded, 0, n))
        n = static_cast<size_t>(static_cast<const unsigned char *>(nul) - decoded);
    if (n > SMTP_CRAM_CHALLENGE_MAX) {
        *error = "challenge too long";
        return 0;
    }
    if (n == 0) {
        *error = "empty challenge";
        return 0;
    }
    unsigned char digest[MD5_DIGEST_LEN];
    hmac_md5(decoded, static_cast<ptrdiff_t>(n), password, -1, digest);
    char hex[MD5_HEX_LEN + 1];
    md5_digest_hex(hex, digest);
    size_t ul = strlen(user);
    SecretText raw;
    char *p = room(&raw, ul + 1 + MD5_HEX_LEN);
    memcpy(p, user, ul);
    p[ul] = ' ';
    memcpy(p + ul + 1, hex, MD5_HEX_LEN);
    mem_wipe(hex, sizeof hex);
    mem_wipe(digest, sizeof digest);
    smtp_sasl_base64(raw.data(), raw.size(), out);
    return 1;
}
