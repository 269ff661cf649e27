// Number, date and text helpers: calendar names, UUID text, character-set
// tests, numbers in any base, byte swapping and shared-library access.
#include "support/util.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

static const char *const kMonthAbbr[] = {"", "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
static const char *const kMonthName[] = {"", "January", "February", "March", "April",
                                         "May", "June", "July", "August", "September",
                                         "October", "November", "December"};
static const char *const kDayAbbr[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
static const char *const kDayName[] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                       "Thursday", "Friday", "Saturday", "Sunday"};
static const char *const kDayShort[] = {"Su", "Mo", "Tu", "We", "Th", "Fr", "Sa", "Su"};
static const char kDefaultSet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

const char *time_month_abbr(int m) { return (m >= 1 && m <= 12) ? kMonthAbbr[m] : ""; }
const char *time_month_name(int m) { return (m >= 1 && m <= 12) ? kMonthName[m] : ""; }
const char *time_weekday_abbr(int d) { return (d >= 0 && d <= 7) ? kDayAbbr[d] : ""; }
const char *time_weekday_name(int d) { return (d >= 0 && d <= 7) ? kDayName[d] : ""; }
const char *time_weekday_short(int d) { return (d >= 0 && d <= 7) ? kDayShort[d] : ""; }

struct tm *time_utc_calendar(int64_t t, struct tm *out)
{
    time_t tt = static_cast<time_t>(t);
    return gmtime_r(&tt, out);
}

int str_parse_uuid(const char *text, unsigned char out[16])
{
    if (!text || strlen(text) != 36)
        return 0;
    for (int i = 0; i < 36; i++) {
        bool dash_pos = i == 8 || i == 13 || i == 18 || i == 23;
        // A "-" in a digit position is accepted and counts as 0.
        if (dash_pos ? text[i] != '-' : text[i] != '-' && hex_nibble(text[i]) < 0)
            return 0;
    }
    static const int pairs[16] = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};
    for (int i = 0; i < 16; i++)
        out[i] = static_cast<unsigned char>(hex_digit_value(text[pairs[i]]) << 4 |
                                            hex_digit_value(text[pairs[i] + 1]));
    return 1;
}

int str_all_in_set_n(const char *text, const char *set, long n)
{
    if (!text)
        return 0;
    if (!set)
        set = kDefaultSet;
    for (long i = 0; i < n; i++)
        if (!text[i] || !strchr(set, text[i]))
            return 0;
    return 1;
}

int str_all_in_set(const char *text, const char *set)
{
    if (!text)
        return 0;
    return str_all_in_set_n(text, set, static_cast<long>(strlen(text)));
}

static bool base_ok(int base) { return base >= 2 && base <= 36; }

char *str_u64_to_base(uint64_t value, int base, char *out)
{
    if (!base_ok(base)) {
        out[0] = '\0';
        return nullptr;
    }
    char *p = out;
    do {
        unsigned d = static_cast<unsigned>(value % static_cast<unsigned>(base));
        *p++ = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
        value /= static_cast<unsigned>(base);
    } while (value);
    *p = '\0';
    for (char *a = out, *b = p - 1; a < b; a++, b--) {
        char t = *a;
        *a = *b;
        *b = t;
    }
    return out;
}

char *str_u64_to_base_right(uint64_t value, int base, char *buf, size_t size)
{
    if (size == 0 || !base_ok(base))
        return nullptr;
    char *p = buf + size - 1;
    *p = '\0';
    do {
        if (p == buf)
            return nullptr; // no room for the digits
        unsigned d = static_cast<unsigned>(value % static_cast<unsigned>(base));
        *--p = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
        value /= static_cast<unsigned>(base);
    } while (value);
    return p;
}

char *str_i64_to_base_right(int64_t value, int base, char *buf, size_t size)
{
    uint64_t mag = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char *p = str_u64_to_base_right(mag, base, buf, size);
    if (p && value < 0) {
        if (p == buf)
            return nullptr;
        *--p = '-';
    }
    return p;
}

void sleep_1ms(void) { plat_sleep_ms(1); }

const char *num_ordinal_suffix(long n)
{
    if (n < 0)
        return "th";
    long last2 = n % 100;
    if (last2 >= 11 && last2 <= 13)
        return "th";
    switch (n % 10) {
    case 1: return "st";
    case 2: return "nd";
    case 3: return "rd";
    default: return "th";
    }
}

static int days_in_month(long y, long m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return (m == 2 && leap) ? 29 : days[m - 1];
}

int date_neighbours(long date, char unit, long *prev, long *next)
{
    // Eight digits at most: the year stays within four, and no neighbour
    // computed below can overflow.
    if (date < 0 || date > 99999999)
        return 0;
    long y = date / 10000, m = date / 100 % 100, d = date % 100;
    if (unit != 'd' && unit != 'm' && unit != 'y')
        unit = m == 0 ? 'y' : (d != 0 ? 'd' : 'm');
    if (unit == 'y') {
        *prev = (y - 1) * 10000;
        *next = (y + 1) * 10000;
    } else if (unit == 'm') {
        if (m < 1 || m > 12)
            m = 1;
        *prev = (m == 1 ? (y - 1) * 10000 + 1200 : y * 10000 + (m - 1) * 100);
        *next = (m == 12 ? (y + 1) * 10000 + 100 : y * 10000 + (m + 1) * 100);
    } else {
        if (m < 1 || m > 12)
            m = 1;
        if (d < 1 || d > days_in_month(y, m))
            d = 1;
        long py = y, pm = m, pd = d - 1;
        if (pd == 0) {
            if (--pm == 0) {
                pm = 12;
                py--;
            }
            pd = days_in_month(py, pm);
        }
        long ny = y, nm = m, nd = d + 1;
        if (nd > days_in_month(y, m)) {
            nd = 1;
            if (++nm == 13) {
                nm = 1;
                ny++;
            }
        }
        *prev = py * 10000 + pm * 100 + pd;
        *next = ny * 10000 + nm * 100 + nd;
    }
    return 1;
}

char *str_random(char *buf, const char *set, long n)
{
    if (!set || !*set)
        set = kDefaultSet;
    size_t len = strlen(set);
    long i = 0;
    for (; i < n; i++)
        buf[i] = set[static_cast<size_t>(rand()) % len];
    buf[i < 0 ? 0 : i] = '\0';
    return buf;
}

char *str_unescape(char *text)
{
    char *out = text;
    for (const char *p = text; *p; p++) {
        if (*p == '\\' && p[1]) {
            char c = p[1];
            char r = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c == '\\' ? '\\' : 0;
            if (r) {
                *out++ = r;
                p++;
                continue;
            }
        }
        *out++ = *p; // any other backslash stays as it is
    }
    *out = '\0';
    return text;
}

char *str_from_double(double v, char *buf, size_t size)
{
    if (!buf || size == 0)
        return nullptr;
    snprintf(buf, size, "%f", v);
    return buf;
}

int int_pow(int base, int exponent)
{
    uint32_t result = 1, b = static_cast<uint32_t>(base);
    for (unsigned e = static_cast<unsigned>(exponent < 0 ? 0 : exponent); e; e >>= 1) {
        if (e & 1)
            result *= b;
        b *= b;
    }
    return static_cast<int>(result);
}

int int_in_list(int value, ...)
{
    va_list ap;
    va_start(ap, value);
    int found = 0;
    for (;;) {
        int v = va_arg(ap, int);
        if (v == value)
            found = 1;
        if (v < 0 || found)
            break;
    }
    va_end(ap);
    return found;
}

int str_list_index(const char *text, const char *const *list)
{
    for (int i = 0; list && list[i]; i++)
        if (strcmp(text, list[i]) == 0)
            return i;
    return -1;
}

char *str_html_escape(const char *text)
{
    // Sized for the worst case: every byte becoming "&percnt;".
    size_t len = strlen(text);
    if (len > (SIZE_MAX - 1) / 8)
        return nullptr;
    char *out = static_cast<char *>(malloc(len * 8 + 1));
    if (!out)
        return nullptr;
    char *o = out;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
        const char *rep = nullptr;
        switch (*p) {
        case '"': rep = "&quot;"; break;
        case '%': rep = "&percnt;"; break;
        case '&': rep = "&amp;"; break;
        case '<': rep = "&lt;"; break;
        case '>': rep = "&gt;"; break;
        default: break;
        }
        if (rep) {
            size_t n = strlen(rep);
            memcpy(o, rep, n);
            o += n;
        } else if ((*p >= 0x20 && *p != 0x7f) || *p == '\t' || *p == '\n' || *p == '\r') {
            *o++ = static_cast<char>(*p);
        }
    }
    *o = '\0';
    return out;
}

char *str_rot13(char *text)
{
    if (!text)
        return nullptr;
    for (char *p = text; *p; p++) {
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>('a' + (*p - 'a' + 13) % 26);
        else if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<char>('A' + (*p - 'A' + 13) % 26);
    }
    return text;
}

uint16_t bswap16_at(const void *p)
{
    uint16_t v;
    memcpy(&v, p, sizeof v);
    return __builtin_bswap16(v);
}

uint32_t bswap32_at(const void *p)
{
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return __builtin_bswap32(v);
}

uint64_t bswap64_at(const void *p)
{
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return __builtin_bswap64(v);
}

void *bswap16_to(void *dst, uint16_t v)
{
    v = __builtin_bswap16(v);
    return memcpy(dst, &v, sizeof v);
}

void *bswap32_to(void *dst, uint32_t v)
{
    v = __builtin_bswap32(v);
    return memcpy(dst, &v, sizeof v);
}

void *bswap64_to(void *dst, uint64_t v)
{
    v = __builtin_bswap64(v);
    return memcpy(dst, &v, sizeof v);
}

void *lib_load(const char *name) { return plat_lib_load(name); }
void *lib_symbol(void *lib, const char *name) { return plat_lib_symbol(lib, name); }
int lib_free(void *lib) { return plat_lib_free(lib) ? 0 : 1; }
void mem_free(void *p) { free(p); }
