// String helpers and tokenizers on plain NUL-terminated texts, and the two
// whole-file readers. The readers grow their buffer geometrically and treat
// a read error as failure, never as the end of the file.
#include "support/str.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "support/encode.h"
#include "support/secret.h"

namespace {
struct FoldTable {
    uint32_t v[256];
    constexpr FoldTable() : v()
    {
        for (int i = 0; i < 256; i++)
            v[i] = (i >= 'a' && i <= 'z') ? static_cast<uint32_t>(i - 32) : static_cast<uint32_t>(i);
    }
};
constexpr FoldTable kFold;
} // namespace

const uint32_t str_fold_table[256] = {
#define F(i) kFold.v[i]
#define F8(i) F(i), F(i + 1), F(i + 2), F(i + 3), F(i + 4), F(i + 5), F(i + 6), F(i + 7)
#define F64(i) F8(i), F8(i + 8), F8(i + 16), F8(i + 24), F8(i + 32), F8(i + 40), F8(i + 48), F8(i + 56)
    F64(0), F64(64), F64(128), F64(192)
#undef F64
#undef F8
#undef F
};

char *str_copy_bounded(char *dst, const char *src, size_t size)
{
    if (size == 0)
        return nullptr;
    size_t i = 0;
    for (; i + 1 < size && src[i]; i++)
        dst[i] = src[i];
    dst[i] = '\0';
    return dst;
}

char *str_append_bounded(char *dst, const char *src, size_t size)
{
    if (size == 0)
        return nullptr;
    size_t len = strnlen(dst, size);
    if (len >= size)
        return nullptr; // no terminator within size: nothing may be written
    str_copy_bounded(dst + len, src, size - len);
    return dst;
}

static int casecmp_n(const char *a, const char *b, long n)
{
    if (a == b)
        return 0;
    const unsigned char *pa = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *pb = reinterpret_cast<const unsigned char *>(b);
    for (long i = 0; n < 0 || i < n; i++) {
        uint32_t fa = str_fold_table[pa[i]], fb = str_fold_table[pb[i]];
        if (fa != fb)
            return fa > fb ? static_cast<int>(i + 1) : -static_cast<int>(i + 1);
        if (fa == 0)
            return 0;
    }
    return 0;
}

int str_casecmp(const char *a, const char *b) { return casecmp_n(a, b, -1); }

int str_ncasecmp(const char *a, const char *b, long n) { return n <= 0 ? 0 : casecmp_n(a, b, n); }

char *str_token(char *text, const char *delims, char **cursor)
{
    char *p = text ? text : *cursor;
    if (!p)
        return nullptr;
    p += strspn(p, delims);
    if (!*p) {
        *cursor = p;
        return nullptr;
    }
    char *end = p + strcspn(p, delims);
    if (*end) {
        *end = '\0';
        *cursor = end + 1;
    } else {
        *cursor = end;
    }
    return p;
}

const char *str_token_quoted_len(const char *text, const char *delims, char quote,
                                 const char **cursor, size_t *len)
{
    const char *p = text ? text : *cursor;
    if (!p || !*p) {
        if (p)
            *cursor = p;
        return nullptr;
    }
    p += strspn(p, delims);
    if (!*p) {
        *cursor = p;
        *len = 0;
        return nullptr;
    }
    const char *start = p;
    bool quoted = false;
    for (; *p; p++) {
        if (quote && *p == quote)
            quoted = !quoted;
        else if (!quoted && strchr(delims, *p))
            break;
    }
    *len = static_cast<size_t>(p - start);
    *cursor = *p ? p + 1 : p;
    return start;
}

char *str_token_quoted(char *text, const char *delims, char quote, char **cursor)
{
    const char *cur = text ? nullptr : *cursor;
    size_t len = 0;
    const char *start = str_token_quoted_len(text, delims, quote, &cur, &len);
    *cursor = const_cast<char *>(cur);
    if (!start)
        return nullptr;
    char *tok = const_cast<char *>(start);
    if (tok[len]) {
        tok[len] = '\0';
        *cursor = tok + len + 1;
    }
    return tok;
}

// A growing heap buffer for the file readers. A failed reserve says why in
// `why` (STR_READ_TOO_BIG or STR_READ_NOMEM).
namespace {
struct Grow {
    char *data = nullptr;
    size_t len = 0;
    size_t cap = 0;
    int why = STR_READ_OK;
    bool reserve(size_t extra)
    {
        if (extra > STR_FILE_READ_MAX || len > STR_FILE_READ_MAX - extra) {
            why = STR_READ_TOO_BIG;
            return false;
        }
        size_t need = len + extra + 1;
        if (need <= cap)
            return true;
        size_t ncap = cap ? cap : 4096;
        while (ncap < need)
            ncap *= 2;
        char *n = static_cast<char *>(realloc(data, ncap));
        if (!n) {
            why = STR_READ_NOMEM;
            return false;
        }
        data = n;
        cap = ncap;
        return true;
    }
    char *finish(size_t *out_len, int *out_why)
    {
        if (!reserve(0))
            return fail(out_why);
        data[len] = '\0';
        if (out_len)
            *out_len = len;
        if (out_why)
            *out_why = STR_READ_OK;
        return data;
    }
    // Frees what was read; the reason of the failure goes to *out_why.
    char *fail(int *out_why)
    {
        free(data);
        data = nullptr;
        if (out_why)
            *out_why = why;
        return nullptr;
    }
};

const size_t kReadBlock = 64 * 1024;

// One read of up to size bytes into buf; *got is the count. 1 while the
// stream may hold more, 0 at its end, -1 on a read error (which must never
// pass for the end of the file).
int read_block(FILE *fp, char *buf, size_t size, size_t *got)
{
    *got = fread(buf, 1, size, fp);
    if (*got == size)
        return 1;
    if (ferror(fp))
        return -1;
    return feof(fp) ? 0 : 1;
}
} // namespace

char *file_read_all(FILE *fp, size_t *len, int *why)
{
    Grow g;
    for (;;) {
        if (!g.reserve(kReadBlock))
            return g.fail(why);
        size_t n = 0;
        int more = read_block(fp, g.data + g.len, kReadBlock, &n);
        g.len += n;
        if (more < 0) {
            g.why = STR_READ_ERROR;
            return g.fail(why);
        }
        if (more == 0)
            break;
    }
    return g.finish(len, why);
}

size_t str_crlf_convert(CrlfState *st, const char *in, size_t len, char *out)
{
    size_t o = 0;
    for (size_t i = 0; i < len; i++) {
        char c = in[i];
        if (c == '\n') {
            if (!st->after_cr) {
                out[o++] = '\r';
                out[o++] = '\n';
            }
            st->after_cr = 0;
        } else if (c == '\r') {
            out[o++] = '\r';
            out[o++] = '\n';
            st->after_cr = 1;
        } else {
            out[o++] = c;
            st->after_cr = 0;
        }
    }
    return o;
}

char *file_read_text_crlf(FILE *fp, size_t *len, int *why, size_t cap, bool refuse_nul)
{
    Grow g;
    char block[kReadBlock];
    CrlfState st = {};
    size_t taken = 0;
    for (;;) {
        size_t n = 0;
        int more = read_block(fp, block, sizeof block, &n);
        if (more < 0) {
            g.why = STR_READ_ERROR;
            return g.fail(why);
        }
        if (n > cap - taken) {
            g.why = STR_READ_TOO_BIG;
            return g.fail(why);
        }
        taken += n;
        if (refuse_nul && memchr(block, 0, n)) {
            g.why = STR_READ_NUL;
            return g.fail(why);
        }
        // At worst every byte becomes CR LF.
        if (n > 0) {
            if (!g.reserve(2 * n))
                return g.fail(why);
            g.len += str_crlf_convert(&st, block, n, g.data + g.len);
        }
        if (more == 0)
            break;
    }
    return g.finish(len, why);
}

const char *str_next_line(const char **cursor, size_t *len, const char *end)
{
    *len = 0;
    const char *p = *cursor;
    if (end ? p >= end : !*p)
        return nullptr;
    const char *start = p;
    if (end) {
        while (p < end && *p != '\n' && *p != '\r')
            p++;
    } else {
        while (*p && *p != '\n' && *p != '\r')
            p++;
    }
    *len = static_cast<size_t>(p - start);
    if (end ? p < end : *p != '\0') {
        if (*p == '\r') {
            p++;
            if ((end ? p < end : true) && *p == '\n')
                p++;
        } else if (*p == '\n') {
            p++;
        }
    }
    *cursor = p;
    return start;
}

static bool word_char(char c) { return c && c != ' ' && c != '\t' && c != '\n' && c != '\r'; }

// How many of a word's first take bytes a cut keeps: none of a UTF-8
// character whose bytes would be parted.
static size_t cut_word(const char *word, size_t take)
{
    size_t t = take;
    for (int back = 0; back < 3 && t > 0 && (static_cast<unsigned char>(word[t]) & 0xC0) == 0x80; back++)
        t--;
    return t;
}

const char *str_wrap_next_span(const char **cursor, size_t *length, size_t n, size_t max)
{
    *length = 0;
    if (!*cursor)
        return nullptr;
    const char *const start = *cursor;
    if (n == 0) {
        // No character fits a line of width 0: end the text rather than
        // return empty lines for ever.
        *cursor = nullptr;
        return start;
    }
    if (max < n)
        max = n;
    const char *p = start;
    size_t len = 0;
    bool word_start = true; // the first character of the line starts a word
    for (;;) {
        char c = *p;
        if (c == '\0') {
            *cursor = nullptr;
            break;
        }
        if (c == '\n') {
            *cursor = p + 1;
            break;
        }
        if (c == '\r') {
            *cursor = p + ((p[1] == '\n') ? 2 : 1);
            break;
        }
        if (len >= n) {
            // A full line: one space after it is the break and goes with it,
            // and so does a line end right after it (or after that space),
            // so that a line of exactly the width is not followed by an
            // empty one. A space that ends the text finishes it.
            if (*p == ' ') {
                p++;
                if (!*p) {
                    *cursor = nullptr;
                    break;
                }
            }
            if (*p == '\r')
                p += (p[1] == '\n') ? 2 : 1;
            else if (*p == '\n')
                p++;
            *cursor = p;
            break;
        }
        if (c == ' ' || c == '\t') {
            len++;
            p++;
            word_start = true;
            continue;
        }
        if (word_start) {
            size_t w = 0;
            while (word_char(p[w]))
                w++;
            word_start = false;
            if (w > max) {
                // Too long for any line: it fills this one and goes on in
                // the next.
                size_t take = cut_word(p, max - len);
                if (take == 0 && len == 0)
                    take = max;
                len += take;
                p += take;
                *cursor = p;
                break;
            }
            if (len + w > n && len > 0) {
                // The word goes to the next line; one longer than the width
                // stands there whole, on a line of its own.
                *cursor = p;
                break;
            }
            len += w;
            p += w;
            continue;
        }
        len++;
        p++;
    }
    *length = len;
    return start;
}

char *str_wrap_next_line(const char **cursor, char *out, size_t n)
{
    if (!*cursor)
        return nullptr;
    size_t len = 0;
    const char *line = str_wrap_next_span(cursor, &len, n, n);
    memcpy(out, line, len);
    out[len] = '\0';
    return out;
}

size_t str_longest_word(const char *text, size_t len)
{
    size_t longest = 0, run = 0;
    for (size_t i = 0; i < len; i++) {
        char c = text[i];
        run = c == ' ' || c == '\t' || c == '\n' || c == '\r' ? 0 : run + 1;
        if (run > longest)
            longest = run;
    }
    return longest;
}

void mem_wipe(void *p, size_t n)
{
    // volatile: the stores must happen although the memory dies next.
    volatile unsigned char *v = static_cast<volatile unsigned char *>(p);
    for (size_t i = 0; i < n; i++)
        v[i] = 0;
}

void str_free_secret(char *text)
{
    if (!text)
        return;
    mem_wipe(text, strlen(text));
    free(text);
}

const char str_secret_mask[] = "****";

namespace {

bool is_base64_letter(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '+' || c == '/' || c == '=';
}

// 1 when a run of base64 letters goes on across the point before text[i]
// (text of len bytes): letters on both sides, the left one no "=" unless
// another "=" follows (the padding ends a base64 text).
bool run_goes_on(const char *text, size_t len, size_t i)
{
    if (i == 0 || i >= len)
        return false;
    unsigned char before = static_cast<unsigned char>(text[i - 1]);
    unsigned char after = static_cast<unsigned char>(text[i]);
    return is_base64_letter(before) && is_base64_letter(after) && (before != '=' || after == '=');
}

// The end of the run of base64 letters that starts at text[at].
size_t run_end(const char *text, size_t len, size_t at)
{
    size_t end = at + 1;
    while (end < len && run_goes_on(text, len, end))
        end++;
    return end;
}

// Where the next run of base64 letters starts, at or after text[at]; len
// when none does.
size_t next_run(const char *text, size_t len, size_t at)
{
    while (at < len && !is_base64_letter(static_cast<unsigned char>(text[at])))
        at++;
    return at;
}

// 1 when the len bytes at piece stand somewhere in one of the secrets of
// this kind.
bool inside_a_secret(const char *piece, size_t len, const StrSecret *secrets, size_t count, int kind)
{
    for (size_t i = 0; i < count; i++)
        if (secrets[i].text && secrets[i].kind == kind &&
            std::string_view(secrets[i].text).find(std::string_view(piece, len)) != std::string_view::npos)
            return true;
    return false;
}

// The letters of the base64 of the slen bytes at secret that stand for
// them alone when lead other bytes (0 to 2) come before them inside a
// longer base64 text, whatever bytes come before and after: the letters
// that take bits of a neighbour are left off. 0 when memory ran out.
int base64_core(const char *secret, size_t slen, size_t lead, SecretText *core)
{
    static const size_t head[3] = {0, 2, 3}; // letters with bits of the bytes before
    static const size_t tail[3] = {0, 3, 2}; // letters and "=" signs where the bytes after would go
    SecretText raw, encoded;
    char *bytes = raw.resize(lead + slen);
    if (!bytes || !encoded.resize(b64_encoded_size(lead + slen)))
        return 0;
    memcpy(bytes + lead, secret, slen);
    size_t n = b64_encode(bytes, static_cast<ptrdiff_t>(raw.size()), encoded.data());
    size_t from = head[lead], cut = tail[(lead + slen) % 3];
    if (n <= from + cut) {
        core->clear();
        return 1;
    }
    *core = SecretText(encoded.data() + from, n - from - cut);
    return core->ok();
}

} // namespace

char *str_mask_secrets(const char *text, const StrSecret *secrets, size_t count)
{
    const size_t len = strlen(text);
    // One mark per byte of text: the bytes that belong to a secret.
    char *marks = static_cast<char *>(calloc(len + 1, 1));
    if (!marks)
        return nullptr;
    for (size_t i = 0; i < count; i++) {
        const char *secret = secrets[i].text;
        size_t slen = secret ? strlen(secret) : 0;
        if (!slen)
            continue;
        for (const char *hit = strstr(text, secret); hit; hit = strstr(hit + 1, secret)) {
            size_t at = static_cast<size_t>(hit - text);
            // A secret too short to be told from a piece of a word is
            // masked only where it stands alone.
            bool alone = !run_goes_on(text, len, at) && !run_goes_on(text, len, at + slen);
            if (slen >= STR_MASK_WHOLE_MIN || alone)
                memset(marks + at, 1, slen);
        }
        if (secrets[i].kind != STR_SECRET_PASSWORD)
            continue;
        // The password in base64, at each alignment: the run that holds it
        // goes whole, as its first and last letters hold bits of it too.
        for (size_t lead = 0; lead < 3; lead++) {
            if (b64_encoded_size(lead + slen) > len + 6)
                break; // too long to stand in this text
            SecretText core;
            if (!base64_core(secret, slen, lead, &core)) {
                free(marks);
                return nullptr;
            }
            if (core.size() < STR_MASK_PIECE_MIN)
                continue;
            const std::string_view form(core.data(), core.size());
            for (size_t at = next_run(text, len, 0); at < len; at = next_run(text, len, at)) {
                size_t end = run_end(text, len, at);
                if (std::string_view(text + at, end - at).find(form) != std::string_view::npos)
                    memset(marks + at, 1, end - at);
                at = end;
            }
        }
    }
    for (size_t at = next_run(text, len, 0); at < len; at = next_run(text, len, at)) {
        size_t end = run_end(text, len, at), n = end - at;
        if ((n >= STR_MASK_PIECE_MIN && inside_a_secret(text + at, n, secrets, count, STR_SECRET_SENT)) ||
            (n >= STR_MASK_PASSWORD_PIECE_MIN &&
             inside_a_secret(text + at, n, secrets, count, STR_SECRET_PASSWORD)))
            memset(marks + at, 1, n);
        at = end;
    }
    const size_t mask_len = strlen(str_secret_mask);
    size_t out_len = 0;
    for (size_t i = 0; i < len; i++)
        out_len += !marks[i] ? 1 : i == 0 || !marks[i - 1] ? mask_len : 0;
    char *out = static_cast<char *>(malloc(out_len + 1));
    if (out) {
        char *w = out;
        for (size_t i = 0; i < len; i++) {
            if (!marks[i]) {
                *w++ = text[i];
            } else if (i == 0 || !marks[i - 1]) {
                memcpy(w, str_secret_mask, mask_len);
                w += mask_len;
            }
        }
        *w = '\0';
    }
    free(marks);
    return out;
}

char *str_lower_ascii(char *text)
{
    for (char *p = text; *p; p++)
        if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<char>(*p + 32);
    return text;
}

int str_tolower_char(int c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

char *str_upper_ascii(char *text)
{
    for (char *p = text; *p; p++)
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>(*p - 32);
    return text;
}

int str_toupper_char(int c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

size_t utf8_decode(const char *text, size_t avail, uint32_t *cp)
{
    if (!avail)
        return 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    unsigned char c = p[0];
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    size_t n;
    uint32_t v, min;
    if ((c & 0xe0) == 0xc0) {
        n = 2, v = c & 0x1f, min = 0x80;
    } else if ((c & 0xf0) == 0xe0) {
        n = 3, v = c & 0x0f, min = 0x800;
    } else if ((c & 0xf8) == 0xf0) {
        n = 4, v = c & 0x07, min = 0x10000;
    } else {
        return 0; // a continuation byte where a character should start, or 0xf8 and up
    }
    if (n > avail)
        return 0; // cut short
    for (size_t i = 1; i < n; i++) {
        if ((p[i] & 0xc0) != 0x80)
            return 0;
        v = (v << 6) | (p[i] & 0x3f);
    }
    if (v < min || v > 0x10ffff || (v >= 0xd800 && v <= 0xdfff))
        return 0; // overlong, beyond Unicode, or a surrogate
    *cp = v;
    return n;
}

int utf8_valid_n(const char *text, size_t len)
{
    for (size_t i = 0; i < len;) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            i++;
            continue;
        }
        uint32_t cp;
        size_t n = utf8_decode(text + i, len - i, &cp);
        if (!n)
            return 0;
        i += n;
    }
    return 1;
}

int utf8_valid(const char *text)
{
    return text ? utf8_valid_n(text, strlen(text)) : 1;
}

int str_is_ascii(const char *text)
{
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text ? text : ""); *p; p++)
        if (*p >= 0x80)
            return 0;
    return 1;
}

char16_t *str_to_wide(const char *text)
{
    if (!text)
        return nullptr;
    // First pass: check and count the UTF-16 units; second pass: write.
    size_t len = strlen(text), units = 0;
    for (size_t i = 0; i < len;) {
        uint32_t cp;
        size_t n = utf8_decode(text + i, len - i, &cp);
        if (!n)
            return nullptr;
        units += cp >= 0x10000 ? 2 : 1;
        i += n;
    }
    char16_t *out = static_cast<char16_t *>(malloc((units + 1) * sizeof(char16_t)));
    if (!out)
        return nullptr;
    size_t o = 0;
    for (size_t i = 0; i < len;) {
        uint32_t cp = 0;
        i += utf8_decode(text + i, len - i, &cp);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out[o++] = static_cast<char16_t>(0xd800 + (cp >> 10));
            out[o++] = static_cast<char16_t>(0xdc00 + (cp & 0x3ff));
        } else {
            out[o++] = static_cast<char16_t>(cp);
        }
    }
    out[o] = 0;
    return out;
}

// The code point of the UTF-16 text at p and the units it takes (0 for a
// lone surrogate).
static size_t utf16_decode(const char16_t *p, uint32_t *cp)
{
    uint32_t u = p[0];
    if (u >= 0xd800 && u <= 0xdbff) {
        if (p[1] < 0xdc00 || p[1] > 0xdfff)
            return 0;
        *cp = 0x10000 + ((u - 0xd800) << 10) + (p[1] - 0xdc00u);
        return 2;
    }
    if (u >= 0xdc00 && u <= 0xdfff)
        return 0;
    *cp = u;
    return 1;
}

static size_t utf8_length_of(uint32_t cp)
{
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

char *str_from_wide(const char16_t *text)
{
    if (!text)
        return nullptr;
    size_t bytes = 0;
    for (const char16_t *p = text; *p;) {
        uint32_t cp;
        size_t n = utf16_decode(p, &cp);
        if (!n)
            return nullptr;
        bytes += utf8_length_of(cp);
        p += n;
    }
    char *out = static_cast<char *>(malloc(bytes + 1));
    if (!out)
        return nullptr;
    char *o = out;
    for (const char16_t *p = text; *p;) {
        uint32_t cp = 0;
        p += utf16_decode(p, &cp);
        size_t n = utf8_length_of(cp);
        static const unsigned char lead[] = {0, 0, 0xc0, 0xe0, 0xf0};
        for (size_t k = n; k-- > 1;) {
            o[k] = static_cast<char>(0x80 | (cp & 0x3f));
            cp >>= 6;
        }
        o[0] = static_cast<char>(lead[n] | cp);
        o += n;
    }
    *o = '\0';
    return out;
}

int str_has_nonprint(const char *text)
{
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++)
        if (*p < 0x20 || *p > 0x7e)
            return 1;
    return 0;
}

// The smallest int has no positive counterpart: it stays as it is (the
// unsigned negation wraps back to it) instead of overflowing.
int int_abs(int v) { return v < 0 ? static_cast<int>(0u - static_cast<unsigned>(v)) : v; }

char *str_append_u64_bounded(char *dst, uint64_t v, size_t size)
{
    char digits[24];
    int i = sizeof digits - 1;
    digits[i] = '\0';
    do {
        digits[--i] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    return str_append_bounded(dst, digits + i, size);
}

char *str_append_int_bounded(char *dst, int v, size_t size)
{
    if (v < 0) {
        if (!str_append_bounded(dst, "-", size))
            return nullptr;
        return str_append_u64_bounded(dst, static_cast<uint64_t>(-static_cast<int64_t>(v)), size);
    }
    return str_append_u64_bounded(dst, static_cast<uint64_t>(v), size);
}

char *str_append_char_bounded(char *dst, char c, size_t size)
{
    char one[2] = {c, '\0'};
    return str_append_bounded(dst, one, size);
}

const char *str_contains_nocase(const char *text, const char *needle)
{
    if (!text || !needle || !*text || !*needle)
        return nullptr;
    size_t n = strlen(needle);
    for (const char *p = text; *p; p++)
        if (str_ncasecmp(p, needle, static_cast<long>(n)) == 0)
            return text;
    return nullptr;
}

char *str_reverse(char *text)
{
    size_t n = strlen(text);
    for (size_t i = 0; i < n / 2; i++) {
        char t = text[i];
        text[i] = text[n - 1 - i];
        text[n - 1 - i] = t;
    }
    return text;
}

char *str_cut_line_end(char *text)
{
    text[strcspn(text, "\r\n")] = '\0';
    return text;
}

char *str_keep_alnum_space(char *text, char *out)
{
    if (!out)
        return text;
    char *o = out;
    for (const char *p = text; *p; p++) {
        char c = *p;
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' ')
            *o++ = c;
    }
    *o = '\0';
    return out;
}

const char *str_find_any_bounded(const char *text, const char *set, const char **pos,
                                 const char *end)
{
    const char *p = text;
    for (; (end ? p < end : true) && *p; p++) {
        if (*set && strchr(set, *p)) {
            *pos = p;
            return p;
        }
    }
    *pos = p;
    return nullptr;
}
