// The formatted-output engine: walks a format, stages the produced text and
// hands finished pieces to a sink; the sinks and msg_printf; plus the StrBuf
// and its front ends.
#include "support/fmt.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "support/hex.h"

void *(*strbuf_realloc)(void *ptr, size_t size) = realloc;

namespace {

// Room for the text of any number, and of any double in "%f" form (the
// largest finite double needs 309 digits, a sign, a point and six decimals).
constexpr size_t kWorkSize = 512;

// The engine's state for one format. Pieces from the buffer hold at most
// size - 2 bytes; a piece of size - 1 bytes can only come from one
// conversion text taken whole into an empty buffer.
struct Stage {
    char *buf;
    size_t size;
    size_t pending;
    FmtSink sink;
    void *user;
    bool failed;

    void hand(const char *text, size_t len)
    {
        // A sink that failed once keeps its first error: hand it nothing more.
        if (!failed && !sink(user, text, len))
            failed = true;
    }
    void flush()
    {
        buf[pending] = '\0';
        hand(buf, pending);
        pending = 0;
    }
    // One piece of a conversion text (or an escape's character).
    void append(const char *text, size_t n, bool masked)
    {
        if (failed)
            return;
        if (masked) {
            // Masked text never passes through the buffer: the sink sees the
            // text before it, then one "*" per byte.
            flush();
            for (size_t i = 0; i < n && !failed; i++)
                hand("*", 1);
            return;
        }
        if (pending + n <= size - 2) {
            memcpy(buf + pending, text, n);
            pending += n;
            return;
        }
        flush();
        if (n >= size) {
            hand(text, n); // long texts skip the copy
        } else {
            memcpy(buf, text, n);
            pending = n;
        }
    }
    // A run of literal characters, with the same result as appending them
    // one at a time: every full buffer goes out as a piece of size - 2 bytes.
    void literal(const char *text, size_t n)
    {
        while (n && !failed) {
            if (pending >= size - 2)
                flush();
            size_t take = size - 2 - pending;
            if (take > n)
                take = n;
            memcpy(buf + pending, text, take);
            pending += take;
            text += take;
            n -= take;
        }
    }
};

// Digits of v in base Base, written backwards ending at end; returns the
// start. A constant base lets the compiler turn the divisions into shifts
// and multiplications.
template <unsigned Base> char *digits(uint64_t v, bool negative, char *end)
{
    char *p = end;
    do {
        *--p = HEX_DIGITS_LOWER[v % Base];
        v /= Base;
    } while (v);
    if (negative)
        *--p = '-';
    return p;
}

// The magnitude without overflow for the smallest value.
uint64_t magnitude(int64_t v) { return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v); }

template <unsigned Base> void number(Stage &st, uint64_t v, bool negative, bool masked)
{
    char work[72]; // 64 binary digits and a sign
    char *end = work + sizeof work;
    char *s = digits<Base>(v, negative, end);
    st.append(s, static_cast<size_t>(end - s), masked);
}

// %s, %S, %.*s and %.*S. A positive count takes exactly that many bytes,
// NUL bytes included; a negative one takes the whole text.
void text_conversion(Stage &st, const char *s, bool has_precision, int precision, bool masked,
                     FmtFilter filter)
{
    if (has_precision && precision == 0)
        return;
    if (!s) {
        st.flush();
        return;
    }
    size_t n = (has_precision && precision > 0) ? static_cast<size_t>(precision) : strlen(s);
    if (!filter) {
        st.append(s, n, masked);
        return;
    }
    char scratch[FMT_FILTER_SCRATCH];
    const char *marker = reinterpret_cast<const char *>(1);
    auto emit = [&](const char *r) {
        if (r)
            st.append(r, strlen(r), masked);
        else
            st.flush();
    };
    emit(filter(marker, scratch, sizeof scratch));
    // The filter works on characters: it stops at a NUL even within a count.
    for (size_t i = 0; i < n && s[i] && !st.failed; i++) {
        char one[2] = {s[i], '\0'};
        emit(filter(one, scratch, sizeof scratch));
    }
    emit(filter(marker, scratch, sizeof scratch));
}

void run(Stage &st, const unsigned char *mask, FmtFilter filter, const char *format, va_list ap)
{
    unsigned index = 0;
    const char *p = format;
    for (;;) {
        // Literal text goes in whole runs up to the next '%' or '\'.
        size_t run_len = strcspn(p, "%\\");
        if (run_len) {
            st.literal(p, run_len);
            p += run_len;
        }
        if (st.failed)
            return;
        char c = *p;
        if (c == '\0')
            break;
        if (c == '\\') {
            char e = p[1];
            if (e == '\0')
                break;
            char out = e == '\\' ? '\\' : e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : 0;
            if (out)
                st.literal(&out, 1);
            p += 2;
            continue;
        }
        // A conversion: "%", an optional ".*" (its count takes an argument
        // index of its own), then the letter.
        p++;
        bool has_precision = false;
        int precision = 0;
        if (p[0] == '.' && p[1] == '*') {
            has_precision = true;
            precision = va_arg(ap, int);
            index++;
            p += 2;
        }
        char letter = *p;
        if (letter == '\0')
            break;
        p++;
        bool masked = mask && fmt_mask_test(mask, index);
        switch (letter) {
        case 'd':
        case 'i': {
            int v = va_arg(ap, int);
            number<10>(st, magnitude(v), v < 0, masked);
            break;
        }
        case 'D':
        case 'I': {
            int64_t v = va_arg(ap, long long);
            number<10>(st, magnitude(v), v < 0, masked);
            break;
        }
        case 'u':
            number<10>(st, static_cast<uint32_t>(va_arg(ap, int)), false, masked);
            break;
        case 'x':
            number<16>(st, static_cast<uint32_t>(va_arg(ap, int)), false, masked);
            break;
        case 'o': {
            int v = va_arg(ap, int);
            number<8>(st, magnitude(v), v < 0, masked);
            break;
        }
        case 'b': {
            int v = va_arg(ap, int);
            number<2>(st, magnitude(v), v < 0, masked);
            break;
        }
        case 'c': {
            char ch = static_cast<char>(va_arg(ap, int));
            if (ch)
                st.append(&ch, 1, masked);
            break;
        }
        case 'f': {
            char work[kWorkSize];
            int n = snprintf(work, sizeof work, "%f", va_arg(ap, double));
            if (n > 0) {
                size_t len = static_cast<size_t>(n) < sizeof work ? static_cast<size_t>(n) : sizeof work - 1;
                st.append(work, len, masked);
            }
            break;
        }
        case 's':
            text_conversion(st, va_arg(ap, const char *), has_precision, precision, masked, filter);
            break;
        case 'S': // like s, but never filtered
            text_conversion(st, va_arg(ap, const char *), has_precision, precision, masked, nullptr);
            break;
        case '%':
            st.append("%", 1, masked);
            break;
        default:
            break; // an unknown letter prints nothing and reads nothing
        }
        if (st.failed)
            return;
        index++;
    }
    // The last piece always goes out, even when empty.
    st.flush();
}

// Gives a buffer with nothing allocated its first 1024 bytes. A failure is
// recorded like any growth failure, so later appends cannot leave a hole.
bool strbuf_start(StrBuf *sb)
{
    if (sb->data)
        return true;
    char *data = static_cast<char *>(strbuf_realloc(nullptr, 1024));
    if (!data) {
        sb->flags |= STRBUF_NOMEM;
        return false;
    }
    data[0] = '\0';
    sb->data = data;
    sb->capacity = 1024;
    sb->length = 0;
    return true;
}

} // namespace

int fmt_vformat(FmtSink sink, void *user, const unsigned char *mask, FmtFilter filter, const char *format,
                va_list ap)
{
    char buf[FMT_STAGE_SIZE];
    Stage st{buf, sizeof buf, 0, sink ? sink : fmt_stdout_sink, user, false};
    va_list copy;
    va_copy(copy, ap);
    run(st, mask, filter, format ? format : "", copy);
    va_end(copy);
    return st.failed ? 0 : 1;
}

int fmt_stage_append(char *stage, size_t stage_size, size_t *pending, int masked, FmtSink sink, void *user,
                     const char *text, size_t len)
{
    // The rule needs room for at least one byte and its NUL.
    if (!stage || !pending || stage_size < 2 || *pending >= stage_size)
        return 0;
    Stage st{stage, stage_size, *pending, sink ? sink : fmt_stdout_sink, user, false};
    st.append(text, len, masked != 0);
    *pending = st.pending;
    stage[st.pending] = '\0';
    return st.failed ? 0 : 1;
}

int fmt_fprintf(FILE *fp, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int ok = fmt_vformat(fmt_file_sink, fp, nullptr, nullptr, format, ap);
    va_end(ap);
    return ok;
}

int fmt_sink_printf(FmtSink sink, void *user, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int ok = fmt_vformat(sink, user, nullptr, nullptr, format, ap);
    va_end(ap);
    return ok;
}

// ---- sinks -----------------------------------------------------------------

int fmt_stdout_sink(void *, const char *text, size_t len)
{
    return len == 0 || fwrite(text, 1, len, stdout) == len;
}

int fmt_file_sink(void *fp, const char *text, size_t len)
{
    if (!fp)
        return 0;
    // A short write leaves the FILE's error flag set for whoever closes it.
    return len == 0 || fwrite(text, 1, len, static_cast<FILE *>(fp)) == len;
}

int strbuf_sink(void *p, const char *text, size_t len)
{
    StrBuf *sb = static_cast<StrBuf *>(p);
    if (!sb || (sb->flags & STRBUF_NOMEM))
        return 0; // a text with a hole in it must never look whole
    // Written as a difference (capacity > length once allocated), so that no
    // sum can wrap past the check.
    if (!sb->data || len >= sb->capacity - sb->length) {
        // Refuse sizes whose doubling or terminating NUL would wrap.
        if (len > SIZE_MAX / 4 || sb->length > SIZE_MAX / 4 || sb->capacity > SIZE_MAX / 4) {
            sb->flags |= STRBUF_NOMEM;
            return 0;
        }
        size_t cap = sb->capacity * 2 > sb->length + len ? sb->capacity * 2 : sb->length + len + 1;
        char *data = static_cast<char *>(strbuf_realloc(sb->data, cap));
        if (!data) {
            sb->flags |= STRBUF_NOMEM;
            return 0;
        }
        sb->data = data;
        sb->capacity = cap;
    }
    memcpy(sb->data + sb->length, text, len);
    sb->length += len;
    sb->data[sb->length] = '\0';
    return 1;
}

void msg_sink_init(MsgSink *ms, FmtSink sink, void *user)
{
    ms->sink = sink;
    ms->user = user;
    ms->failed = 0;
}

int msg_printf(void *p, const char *format, ...)
{
    MsgSink *ms = static_cast<MsgSink *>(p);
    if (ms->failed)
        return 0;
    va_list ap;
    va_start(ap, format);
    if (!fmt_vformat(ms->sink, ms->user, nullptr, nullptr, format, ap))
        ms->failed = 1;
    va_end(ap);
    return !ms->failed;
}

// ---- StrBuf front ends -------------------------------------------------------

char *sbuf_vprintf(StrBuf *sb, const char *format, va_list ap)
{
    if (!sb || (sb->flags & STRBUF_NOMEM) || !strbuf_start(sb))
        return nullptr;
    if (!fmt_vformat(strbuf_sink, sb, nullptr, nullptr, format, ap) || (sb->flags & STRBUF_NOMEM))
        return nullptr;
    return sb->data;
}

char *sbuf_printf(StrBuf *sb, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    char *r = sbuf_vprintf(sb, format, ap);
    va_end(ap);
    return r;
}

char *str_vaprintf_masked(char **strp, const unsigned char *mask, FmtFilter filter, const char *format,
                          va_list ap)
{
    // The new text is made apart and joined to the caller's text only when
    // it is whole, so a failure leaves *strp exactly as it was.
    StrBuf tmp = {};
    if (!strbuf_start(&tmp))
        return nullptr;
    if (!fmt_vformat(strbuf_sink, &tmp, mask, filter, format, ap) || (tmp.flags & STRBUF_NOMEM)) {
        free(tmp.data);
        return nullptr;
    }
    if (!strp)
        return tmp.data;
    if (!*strp) {
        *strp = tmp.data;
        return tmp.data;
    }
    size_t old = strlen(*strp);
    char *joined = nullptr;
    if (tmp.length < SIZE_MAX - old - 1)
        joined = static_cast<char *>(strbuf_realloc(*strp, old + tmp.length + 1));
    if (!joined) {
        free(tmp.data);
        return nullptr;
    }
    memcpy(joined + old, tmp.data, tmp.length + 1);
    free(tmp.data);
    *strp = joined;
    return joined;
}

char *str_aprintf(char **strp, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    char *r = str_vaprintf_masked(strp, nullptr, nullptr, format, ap);
    va_end(ap);
    return r;
}

int str_set_printf(char **strp, const char *format, ...)
{
    if (!strp)
        return 0;
    char buf[4096];
    buf[0] = '\0';
    va_list ap;
    va_start(ap, format);
    if (vsnprintf(buf, sizeof buf, format ? format : "", ap) < 0)
        buf[0] = '\0';
    va_end(ap);
    free(*strp);
    *strp = strdup(buf);
    return *strp != nullptr;
}

void fmt_mask_set(unsigned char *mask, unsigned n, int flag)
{
    if (!mask)
        return;
    unsigned char bit = static_cast<unsigned char>(1u << (n % 8));
    if (flag & 0xff)
        mask[n / 8] = static_cast<unsigned char>(mask[n / 8] | bit);
    else
        mask[n / 8] = static_cast<unsigned char>(mask[n / 8] & ~bit);
}

int fmt_mask_test(const unsigned char *mask, unsigned n) { return mask ? (mask[n / 8] >> (n % 8)) & 1 : 0; }

void sbuf_free(StrBuf *sb)
{
    if (!sb)
        return;
    free(sb->data);
    free(sb);
}

void sbuf_release(StrBuf *sb)
{
    if (!sb)
        return;
    free(sb->data);
    *sb = StrBuf{};
}

int sbuf_set_length(StrBuf *sb, long long n)
{
    if (!sb)
        return 0;
    long long target = n < 0 ? static_cast<long long>(sb->length) + n : n;
    if (target < 0 || static_cast<unsigned long long>(target) > sb->length)
        return 0;
    sb->length = static_cast<size_t>(target);
    // Keep data the NUL-terminated text of length bytes.
    if (sb->data)
        sb->data[sb->length] = '\0';
    return 1;
}

void str_list_free(void **head)
{
    if (!head)
        return;
    // Each link points at the next-field of its cell {payload, next}.
    void **next_field = static_cast<void **>(*head);
    while (next_field) {
        void **cell = next_field - 1;
        void **following = static_cast<void **>(*next_field);
        free(cell[0]);
        free(cell);
        next_field = following;
    }
    *head = nullptr;
}
