// The formatted-output engine: a format from a fixed list, arguments from
// the input. Each run is compared with the C library's printf where the two
// dialects agree (else with a small model), and checked three more ways:
// masking keeps every length, the StrBuf front end gives the same text, and
// a sink that refuses at byte K sees exactly the first bytes of the text,
// nothing after its refusal, and makes the engine report the failure.
#include <cstdarg>
#include <climits>
#include <string>

#include "fuzz.h"
#include "support/fmt.h"

namespace {

struct Collect {
    std::string text;
    size_t limit = SIZE_MAX; // refuse a piece that would pass this many bytes
    bool refused = false;
    bool called_after_refusal = false;
};

int collect_sink(void *user, const char *text, size_t len)
{
    auto *c = static_cast<Collect *>(user);
    if (c->refused)
        c->called_after_refusal = true;
    if (c->text.size() + len > c->limit) {
        c->refused = true;
        return 0;
    }
    c->text.append(text, len);
    return 1;
}

int engine(Collect *c, const unsigned char *mask, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int ok = fmt_vformat(collect_sink, c, mask, nullptr, format, ap);
    va_end(ap);
    return ok;
}

char *strbuf_text(StrBuf *sb, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    char *r = sbuf_vprintf(sb, format, ap);
    va_end(ap);
    return r;
}

std::string c_printf(const char *format, ...)
{
    va_list ap, again;
    va_start(ap, format);
    va_copy(again, ap);
    int n = vsnprintf(nullptr, 0, format, ap);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        vsnprintf(out.data(), out.size() + 1, format, again);
    va_end(again);
    va_end(ap);
    return out;
}

// Runs one format with its arguments through every check; expected is the
// text the engine must produce.
template <typename... Args>
void check(FuzzInput &in, const std::string &expected, const char *format, Args... args)
{
    Collect plain;
    FUZZ_CHECK(engine(&plain, nullptr, format, args...) == 1);
    FUZZ_CHECK(plain.text == expected);

    unsigned char mask[4] = {in.byte(), in.byte(), in.byte(), in.byte()};
    Collect masked;
    FUZZ_CHECK(engine(&masked, mask, format, args...) == 1);
    FUZZ_CHECK(masked.text.size() == plain.text.size());

    // The StrBuf stops at the first NUL only for its C-text users; its
    // length counts every byte.
    StrBuf sb = {};
    FUZZ_CHECK(strbuf_text(&sb, format, args...) != nullptr);
    FUZZ_CHECK(sb.length == plain.text.size() && memcmp(sb.data, plain.text.data(), sb.length) == 0);
    sbuf_release(&sb);

    Collect cut;
    cut.limit = in.u32() % (plain.text.size() + 2);
    int ok = engine(&cut, nullptr, format, args...);
    FUZZ_CHECK(ok == (plain.text.size() <= cut.limit ? 1 : 0));
    FUZZ_CHECK(!cut.called_after_refusal);
    FUZZ_CHECK(plain.text.compare(0, cut.text.size(), cut.text) == 0);
}

std::string binary(int v)
{
    unsigned long long m = v < 0 ? 0ULL - static_cast<long long>(v) : static_cast<unsigned long long>(v);
    std::string s;
    do {
        s.insert(s.begin(), static_cast<char>('0' + (m & 1)));
        m >>= 1;
    } while (m);
    return v < 0 ? "-" + s : s;
}

// Long enough that the engine's 4096-byte staging buffer fills and flushes.
const std::string kLong(5000, 'x');

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    unsigned pick = in.byte();
    int i1 = static_cast<int>(in.u32()), i2 = static_cast<int>(in.u32());
    long long ll = static_cast<long long>(in.u64());
    std::string s1 = fuzz_no_nul(in.bytes(6000)), s2 = fuzz_no_nul(in.bytes(300));
    const char *t1 = s1.c_str(), *t2 = s2.c_str();
    // A precision within the text and its NUL, or negative (the whole text).
    int prec = static_cast<int>(in.u32() % (s1.size() + 3)) - 1;
    int c_prec = prec > static_cast<int>(s1.size()) ? static_cast<int>(s1.size()) : prec;
    double d;
    uint64_t bits = in.u64();
    memcpy(&d, &bits, sizeof d);

    switch (pick % 14) {
    case 0:
        check(in, c_printf("%d|%i|%d", i1, i2, INT_MIN), "%d|%i|%d", i1, i2, INT_MIN);
        break;
    case 1:
        check(in, c_printf("%u %x", static_cast<unsigned>(i1), static_cast<unsigned>(i2)), "%u %x", i1, i2);
        break;
    case 2:
        check(in, c_printf("%lld/%lld", ll, LLONG_MIN), "%D/%I", ll, LLONG_MIN);
        break;
    case 3:
        check(in, c_printf("%o", i1 & INT_MAX), "%o", i1 & INT_MAX);
        break;
    case 4:
        check(in, binary(i1) + "," + binary(i2), "%b,%b", i1, i2);
        break;
    case 5:
        check(in, c_printf("[%s](%s)", t1, t2), "[%s](%S)", t1, t2);
        break;
    case 6:
        // A positive count takes exactly that many bytes, a NUL included.
        check(in, prec > 0 ? std::string(t1, static_cast<size_t>(prec)) : prec < 0 ? s1 : "", "%.*s",
              prec, t1);
        break;
    case 7:
        check(in, c_printf("%f", d), "%f", d);
        break;
    case 8: {
        // %c prints nothing for a NUL.
        char c = static_cast<char>(i1);
        check(in, (c ? std::string(1, c) : "") + "%", "%c%%", i1);
        break;
    }
    case 9:
        check(in, c_printf("a\tb\n\\%dz", i1), "a\\tb\\n\\\\%d\\qz", i1);
        break;
    case 10:
        // An unknown letter prints and reads nothing; a format may end in
        // a lone "%" or backslash.
        check(in, c_printf("%s-%d", t2, i1), "%y%s-%d%", t2, i1);
        check(in, "end", "end\\");
        break;
    case 11:
        check(in, kLong + c_printf("%s%d", t1, i1) + kLong, (kLong + "%s%d" + kLong).c_str(), t1, i1);
        break;
    case 12:
        check(in, c_printf("%s%s%s", t1, t1, t2), "%s%S%s", t1, t1, t2);
        break;
    default:
        check(in, c_printf("%.*s|%d|%s", c_prec, t1, i2, t2), "%.*s|%d|%s", c_prec, t1, i2, t2);
        break;
    }
    return 0;
}
