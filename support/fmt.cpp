// The formatted-output engine: walks a format, stages the produced text and
// hands finished pieces to a sink; plus the StrBuf and its front ends.
#include "support/fmt.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

void *(*strbuf_realloc)(void *ptr, size_t size) = realloc;

namespace {

// The engine's state for one format.
struct Stage {
    char *buf;
    size_t size; // bytes of buf; pieces from it hold at most size - 2 bytes
    size_t pending;
    FmtSink sink;
    void *user;
    bool failed;

    void hand(const char *text, size_t len)
    {
        if (failed)
            return;
        if (!sink(user, text, len))
            failed = true;
    }
    void flush()
    {
        buf[pending] = '\0';
        hand(buf, pending);
        pending = 0;
    }
    void append(const char *text, size_t n, bool masked)
    {
        if (failed)
            return;
        if (masked) {
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
            hand(text, n);
        } else {
            memcpy(buf, text, n);
            pending = n;
        }
    }
    // Literal characters, taken as if appended one at a time.
    void literal(const char *text, size_t n)
    {
        while (n && !failed) {
            if (pending == size - 2)
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

// Digits of v in the given base into the end of a small buffer.
char *digits(uint64_t v, unsigned base, bool negative, char *end)
{
    static const char kDigits[] = "0123456789abcdef";
    char *p = end;
    do {
        *--p = kDigits[v % base];
        v /= base;
    } while (v);
    if (negative)
        *--p = '-';
    return p;
}

uint64_t magnitude(int64_t v) { return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v); }

void text_conversion(Stage &st, const char *s, int has_precision, int precision, bool masked,
                     FmtFilter filter, bool lower)
{
    if (has_precision && precision == 0)
        return;
    if (!s) {
        st.flush();
        return;
    }
    size_t n = (has_precision && precision > 0) ? static_cast<size_t>(precision) : strlen(s);
    if (filter && lower) {
        char scratch[FMT_FILTER_SCRATCH];
        auto emit = [&](const char *r) {
            if (r)
                st.append(r, strlen(r), masked);
            else
                st.flush();
        };
        emit(filter(reinterpret_cast<const char *>(1), scratch, sizeof scratch));
        for (size_t i = 0; i < n && (has_precision && precision > 0 ? true : s[i] != '\0'); i++) {
            char one[2] = {s[i], '\0'};
            emit(filter(one, scratch, sizeof scratch));
        }
        emit(filter(reinterpret_cast<const char *>(1), scratch, sizeof scratch));
        return;
    }
    st.append(s, n, masked);
}

void run(Stage &st, const unsigned char *mask, FmtFilter filter, const char *format, va_list ap)
{
    unsigned index = 0;
    const char *p = format;
    for (;;) {
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
        // A conversion.
        p++;
        int has_precision = 0, precision = 0;
        if (p[0] == '.' && p[1] == '*') {
            has_precision = 1;
            precision = va_arg(ap, int);
            index++;
            p += 2;
        }
        char letter = *p;
        if (letter == '\0')
            break;
        p++;
        bool masked = mask && fmt_mask_test(mask, index);
        char work[512];
        char *end = work + sizeof work;
        switch (letter) {
        case 'd':
        case 'i': {
            int v = va_arg(ap, int);
            char *s = digits(magnitude(v), 10, v < 0, end);
            st.append(s, static_cast<size_t>(end - s), masked);
            break;
        }
        case 'D':
        case 'I': {
            int64_t v = va_arg(ap, long long);
            char *s = digits(magnitude(v), 10, v < 0, end);
            st.append(s, static_cast<size_t>(end - s), masked);
            break;
        }
        case 'u':
        case 'x': {
            uint32_t v = static_cast<uint32_t>(va_arg(ap, int));
            char *s = digits(v, letter == 'u' ? 10 : 16, false, end);
            st.append(s, static_cast<size_t>(end - s), masked);
            break;
        }
        case 'o':
        case 'b': {
            int v = va_arg(ap, int);
            char *s = digits(magnitude(v), letter == 'o' ? 8 : 2, v < 0, end);
            st.append(s, static_cast<size_t>(end - s), masked);
            break;
        }
        case 'c': {
            char ch = static_cast<char>(va_arg(ap, int));
            if (ch)
                st.append(&ch, 1, masked);
            break;
        }
        case 'f': {
            double v = va_arg(ap, double);
            int n = snprintf(work, sizeof work, "%f", v);
            if (n > 0)
                st.append(work, static_cast<size_t>(n) < sizeof work ? static_cast<size_t>(n) : sizeof work - 1,
                          masked);
            break;
        }
        case 's':
        case 'S':
            text_conversion(st, va_arg(ap, const char *), has_precision, precision, masked, filter,
                            letter == 's');
            break;
        case '%':
            st.append("%", 1, masked);
            break;
        default:
            break; // unknown letters print nothing
        }
        index++;
    }
    st.flush();
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
    if (stage_size < 3)
        return 0;
    Stage st{stage, stage_size, *pending, sink ? sink : fmt_stdout_sink, user, false};
    st.append(text, len, masked != 0);
    *pending = st.pending;
    if (st.pending < stage_size)
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
    return len == 0 || fwrite(text, 1, len, static_cast<FILE *>(fp)) == len;
}

int strbuf_sink(void *p, const char *text, size_t len)
{
    StrBuf *sb = static_cast<StrBuf *>(p);
    if (sb->flags & STRBUF_NOMEM)
        return 0; // a text with a hole in it must never look whole
    if (len == 0 && sb->data)
        return 1;
    if (!sb->data || sb->length + len >= sb->capacity) {
        if (len > SIZE_MAX / 4 || sb->length > SIZE_MAX / 4) {
            sb->flags |= STRBUF_NOMEM;
            return 0;
        }
        size_t need = sb->length + len + 1;
        size_t cap = sb->capacity * 2 > sb->length + len ? sb->capacity * 2 : need;
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

// ---- StrBuf front ends -------------------------------------------------------

static bool strbuf_start(StrBuf *sb)
{
    if (sb->capacity != 0)
        return true;
    char *data = static_cast<char *>(strbuf_realloc(nullptr, 1024));
    if (!data)
        return false;
    data[0] = '\0';
    sb->data = data;
    sb->capacity = 1024;
    sb->length = 0;
    return true;
}

char *sbuf_vprintf(StrBuf *sb, const char *format, va_list ap)
{
    if (!sb || !strbuf_start(sb))
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
    StrBuf sb = {};
    bool adopted = strp && *strp;
    size_t original = 0;
    if (adopted) {
        original = strlen(*strp);
        sb.data = *strp;
        sb.capacity = original; // the first append reallocates
        sb.length = original;
    } else if (!strbuf_start(&sb)) {
        return nullptr;
    }
    int ok = fmt_vformat(strbuf_sink, &sb, mask, filter, format, ap);
    if (!ok || (sb.flags & STRBUF_NOMEM)) {
        if (adopted) {
            // The text may have moved while growing: hand back the caller's
            // own text, unchanged in content.
            sb.data[original] = '\0';
            *strp = sb.data;
        } else {
            free(sb.data);
        }
        return nullptr;
    }
    if (strp)
        *strp = sb.data;
    return sb.data;
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
    char buf[4096];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    free(*strp);
    *strp = strdup(buf);
    return *strp != nullptr;
}

void fmt_mask_set(unsigned char *mask, unsigned n, int flag)
{
    if (flag & 0xff)
        mask[n / 8] = static_cast<unsigned char>(mask[n / 8] | (1u << (n % 8)));
    else
        mask[n / 8] = static_cast<unsigned char>(mask[n / 8] & ~(1u << (n % 8)));
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
    long long target = n < 0 ? static_cast<long long>(sb->length) + n : n;
    if (target < 0 || static_cast<unsigned long long>(target) > sb->length)
        return 0;
    sb->length = static_cast<size_t>(target);
    return 1;
}

void str_list_free(void **head)
{
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
