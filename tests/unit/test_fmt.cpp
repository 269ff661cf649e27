// Tests of the formatted-output engine: conversions, escapes, masking, the
// exact pieces a sink receives, sink failure, the StrBuf growth rule and
// its sticky out-of-memory state, and the heap-string front ends.
#include "support/fmt.h"

#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/unit/helpers.h"

namespace {

// Records every piece a sink is handed, and whether the byte after it was
// a NUL.
struct Recorder {
    std::vector<std::string> pieces;
    bool all_terminated = true;
    size_t fail_at = SIZE_MAX; // index of the first call that fails
    size_t calls = 0;

    std::string joined() const
    {
        std::string s;
        for (const auto &p : pieces)
            s += p;
        return s;
    }
    std::vector<size_t> sizes() const
    {
        std::vector<size_t> v;
        for (const auto &p : pieces)
            v.push_back(p.size());
        return v;
    }
};

int record_sink(void *user, const char *text, size_t len)
{
    auto *r = static_cast<Recorder *>(user);
    if (r->calls++ >= r->fail_at)
        return 0;
    r->pieces.emplace_back(text, len);
    if (text[len] != '\0')
        r->all_terminated = false;
    return 1;
}

// Runs the engine into a Recorder with an optional mask and filter.
int record_v(Recorder &r, const unsigned char *mask, FmtFilter filter, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int ok = fmt_vformat(record_sink, &r, mask, filter, format, ap);
    va_end(ap);
    return ok;
}

// The whole text one format produces (NUL bytes kept).
std::string F(const char *format, ...)
{
    Recorder r;
    va_list ap;
    va_start(ap, format);
    int ok = fmt_vformat(record_sink, &r, nullptr, nullptr, format, ap);
    va_end(ap);
    EXPECT_EQ(ok, 1);
    return r.joined();
}

char *masked_aprintf(char **strp, const unsigned char *mask, FmtFilter filter, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    char *r = str_vaprintf_masked(strp, mask, filter, format, ap);
    va_end(ap);
    return r;
}

// Swaps the StrBuf allocation function for one that records the sizes asked
// for and fails from a chosen call on; restores the real one when it goes.
struct AllocHook {
    static inline std::vector<size_t> sizes;
    static inline size_t fail_from = SIZE_MAX;
    void *(*saved)(void *, size_t);

    explicit AllocHook(size_t fail_from_call = SIZE_MAX) : saved(strbuf_realloc)
    {
        sizes.clear();
        fail_from = fail_from_call;
        strbuf_realloc = &AllocHook::fake;
    }
    ~AllocHook() { strbuf_realloc = saved; }
    static void *fake(void *ptr, size_t size)
    {
        sizes.push_back(size);
        if (sizes.size() > fail_from)
            return nullptr;
        return realloc(ptr, size);
    }
};

// A StrBuf already holding `length` bytes of 'a' in a block of `capacity`.
StrBuf make_buf(size_t capacity, size_t length)
{
    StrBuf sb = {};
    sb.data = static_cast<char *>(malloc(capacity));
    memset(sb.data, 'a', length);
    sb.data[length] = '\0';
    sb.capacity = capacity;
    sb.length = length;
    return sb;
}

struct Case {
    std::string got;
    std::string want;
};

void check_table(const std::vector<Case> &cases)
{
    for (size_t i = 0; i < cases.size(); i++) {
        SCOPED_TRACE("case " + std::to_string(i) + ": want \"" + cases[i].want + "\"");
        EXPECT_EQ(cases[i].got, cases[i].want);
    }
}

std::string dbl(const char *cfmt, double v)
{
    char buf[512];
    snprintf(buf, sizeof buf, cfmt, v);
    return buf;
}

// ---- conversions and escapes ---------------------------------------------

TEST(FmtConversions, Integers)
{
    check_table({
        {F("%d", 0), "0"},
        {F("%d", 42), "42"},
        {F("%i", -42), "-42"},
        {F("%d", INT_MIN), "-2147483648"},
        {F("%d", INT_MAX), "2147483647"},
        {F("%D", static_cast<long long>(INT64_MIN)), "-9223372036854775808"},
        {F("%I", static_cast<long long>(INT64_MAX)), "9223372036854775807"},
        {F("%D", 0LL), "0"},
        {F("%u", -1), "4294967295"},
        {F("%u", INT_MIN), "2147483648"},
        {F("%u", 123), "123"},
        {F("%x", 255), "ff"},
        {F("%x", -1), "ffffffff"},
        {F("%x", 0), "0"},
        {F("%o", 8), "10"},
        {F("%o", -8), "-10"},
        {F("%b", 5), "101"},
        {F("%b", -5), "-101"},
        {F("%b", 0), "0"},
        {F("%b", INT_MIN), "-1" + std::string(31, '0')},
        {F("[%d|%x|%s]", 7, 10, "z"), "[7|a|z]"},
    });
}

TEST(FmtConversions, CharsFloatsAndTexts)
{
    check_table({
        {F("a%cb", 'X'), "aXb"},
        {F("a%cb", 0), "ab"},
        {F("%c", 0x141), "A"}, // the low byte only
        {F("%f", 1.5), "1.500000"},
        {F("%f", -0.25), "-0.250000"},
        {F("%f", 1e300), dbl("%f", 1e300)},
        {F("%f", DBL_MAX), dbl("%f", DBL_MAX)},
        {F("%f", -DBL_MAX), dbl("%f", -DBL_MAX)},
        {F("%s", "abc"), "abc"},
        {F("<%s>", ""), "<>"},
        {F("<%s>", static_cast<const char *>(nullptr)), "<>"},
        {F("%S", "Abc"), "Abc"},
        {F("%.*s", 3, "abcdef"), "abc"},
        {F("%.*s", -1, "abcdef"), "abcdef"},
        {F("<%.*s>", 0, "abcdef"), "<>"},
        {F("<%.*s>", 0, static_cast<const char *>(nullptr)), "<>"},
        {F("<%.*s>", 4, static_cast<const char *>(nullptr)), "<>"},
        {F("%.*S", 2, "xyz"), "xy"},
        {F("%.*d", 5, 42), "42"}, // a count before another letter is read and ignored
        {F("%s", "a\\nb"), "a\\nb"}, // no escapes in argument text
    });
    EXPECT_GT(F("%f", DBL_MAX).size(), 300u);
}

TEST(FmtConversions, PercentAndUnknownLetters)
{
    check_table({
        {F("100%%"), "100%"},
        {F("%5d", 42), "d"}, // no widths: "%5" is dropped, the d is literal
        {F("abc%"), "abc"},
        {F("a%qb"), "ab"},
        {F("%%%s", "x"), "%x"},
    });
}

TEST(FmtConversions, Escapes)
{
    check_table({
        {F("a\\tb"), "a\tb"},
        {F("a\\nb"), "a\nb"},
        {F("a\\rb"), "a\rb"},
        {F("a\\\\b"), "a\\b"},
        {F("a\\qb"), "ab"},
        {F("ab\\"), "ab"},
        {F("x\\r\\n%s\\r\\n", "y"), "x\r\ny\r\n"},
        {F(""), ""},
    });
}

TEST(FmtConversions, CountedTextKeepsNulBytes)
{
    static const char bytes[] = {'a', '\0', 'b', '\0', 'c'};
    EXPECT_EQ(F("[%.*s]", 5, bytes), std::string("[a\0b\0c]", 7));

    // A long counted text with NULs goes to the sink whole and intact.
    std::string big(6000, 'q');
    big[100] = '\0';
    big[5999] = '\0';
    Recorder r;
    ASSERT_EQ(record_v(r, nullptr, nullptr, "%.*s", static_cast<int>(big.size()), big.data()), 1);
    ASSERT_EQ(r.sizes(), (std::vector<size_t>{0, 6000, 0}));
    EXPECT_EQ(r.pieces[1], big);

    // The StrBuf keeps them too, and its length says how many bytes there are.
    StrBuf sb = {};
    ASSERT_NE(sbuf_printf(&sb, "%.*s|", 5, bytes), nullptr);
    EXPECT_EQ(std::string(sb.data, sb.length), std::string("a\0b\0c|", 6));
    sbuf_release(&sb);
}

// ---- masking ---------------------------------------------------------------

TEST(FmtMask, PieceSequences)
{
    struct MaskCase {
        const char *name;
        unsigned char mask;
        std::vector<std::string> want;
        int (*run)(Recorder &, const unsigned char *);
    };
    const std::vector<MaskCase> cases = {
        {"secret argument", 1, {"auth plain ", "*", "*", "*", "\r\n"},
         [](Recorder &r, const unsigned char *m) { return record_v(r, m, nullptr, "auth plain %s\r\n", "abc"); }},
        {"%% takes index 0, %s index 1", 2, {"%", "*", "*", ""},
         [](Recorder &r, const unsigned char *m) { return record_v(r, m, nullptr, "%%%s", "ab"); }},
        {"masked %% flushes an empty piece", 1, {"", "*", "ab"},
         [](Recorder &r, const unsigned char *m) { return record_v(r, m, nullptr, "%%%s", "ab"); }},
        {"%.*s: the count is index 0, the text index 1", 2, {"", "*", "*", ""},
         [](Recorder &r, const unsigned char *m) { return record_v(r, m, nullptr, "%.*s", 2, "xyz"); }},
        {"%.*s: masking the count masks nothing", 1, {"xy"},
         [](Recorder &r, const unsigned char *m) { return record_v(r, m, nullptr, "%.*s", 2, "xyz"); }},
        {"number", 1, {"", "*", "*", "*", "*", "!"},
         [](Recorder &r, const unsigned char *m) { return record_v(r, m, nullptr, "%d!", -123); }},
        {"empty text still flushes", 1, {"a", "b"},
         [](Recorder &r, const unsigned char *m) { return record_v(r, m, nullptr, "a%sb", ""); }},
        {"NULL text flushes", 1, {"a", "b"},
         [](Recorder &r, const unsigned char *m) {
             return record_v(r, m, nullptr, "a%sb", static_cast<const char *>(nullptr));
         }},
        {"escapes take no index", 2, {"\t", "*", ""},
         [](Recorder &r, const unsigned char *m) { return record_v(r, m, nullptr, "%s\\t%s", "", "k"); }},
        {"unknown letters take an index", 2, {"", "*", ""},
         [](Recorder &r, const unsigned char *m) { return record_v(r, m, nullptr, "%q%c", 'z'); }},
        {"no bit set", 0, {"auth plain abc\r\n"},
         [](Recorder &r, const unsigned char *m) { return record_v(r, m, nullptr, "auth plain %s\r\n", "abc"); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Recorder r;
        EXPECT_EQ(c.run(r, &c.mask), 1);
        EXPECT_EQ(r.pieces, c.want);
        EXPECT_TRUE(r.all_terminated);
    }
}

TEST(FmtMask, HeapStringFrontEnd)
{
    unsigned char mask[2] = {};
    fmt_mask_set(mask, 1, 1);
    char *s = masked_aprintf(nullptr, mask, nullptr, "user %s pass %s\r\n", "bob", "hunter2");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "user bob pass *******\r\n");
    free(s);
}

TEST(FmtMask, SetAndTest)
{
    unsigned char mask[3] = {};
    fmt_mask_set(mask, 0, 1);
    fmt_mask_set(mask, 9, 1);
    fmt_mask_set(mask, 23, 0x101); // only the low byte of the flag counts
    EXPECT_EQ(mask[0], 0x01);
    EXPECT_EQ(mask[1], 0x02);
    EXPECT_EQ(mask[2], 0x80);
    EXPECT_EQ(fmt_mask_test(mask, 0), 1);
    EXPECT_EQ(fmt_mask_test(mask, 1), 0);
    EXPECT_EQ(fmt_mask_test(mask, 9), 1);
    EXPECT_EQ(fmt_mask_test(mask, 23), 1);
    fmt_mask_set(mask, 9, 0x100); // low byte zero: clears
    fmt_mask_set(mask, 23, 0);
    EXPECT_EQ(fmt_mask_test(mask, 9), 0);
    EXPECT_EQ(fmt_mask_test(mask, 23), 0);
    EXPECT_EQ(mask[0], 0x01);
    EXPECT_EQ(fmt_mask_test(nullptr, 5), 0);
}

// ---- filter ----------------------------------------------------------------

// Wraps the text in "|", upper-cases it, and answers NULL for 'b'.
const char *test_filter(const char *ch, char *scratch, size_t scratch_size)
{
    if (ch == reinterpret_cast<const char *>(1))
        return "|";
    if (*ch == 'b')
        return nullptr;
    snprintf(scratch, scratch_size, "%c", *ch - 32);
    return scratch;
}

TEST(FmtFilter, PerCharacterResults)
{
    Recorder r;
    ASSERT_EQ(record_v(r, nullptr, test_filter, "x%sy", "abc"), 1);
    // The NULL answer for 'b' hands the pending text over.
    EXPECT_EQ(r.pieces, (std::vector<std::string>{"x|A", "C|y"}));

    r = Recorder();
    ASSERT_EQ(record_v(r, nullptr, test_filter, "%.*s", 2, "acd"), 1);
    EXPECT_EQ(r.pieces, (std::vector<std::string>{"|AC|"}));

    // The filter takes characters: a NUL ends them even within the count.
    static const char with_nul[] = {'a', '\0', 'c'};
    r = Recorder();
    ASSERT_EQ(record_v(r, nullptr, test_filter, "%.*s", 3, with_nul), 1);
    EXPECT_EQ(r.pieces, (std::vector<std::string>{"|A|"}));

    r = Recorder();
    ASSERT_EQ(record_v(r, nullptr, test_filter, "%S", "abc"), 1); // S ignores the filter
    EXPECT_EQ(r.pieces, (std::vector<std::string>{"abc"}));

    unsigned char mask = 1;
    r = Recorder();
    ASSERT_EQ(record_v(r, &mask, test_filter, "%s", "a"), 1);
    EXPECT_EQ(r.pieces, (std::vector<std::string>{"", "*", "", "*", "", "*", ""}));
}

// ---- pieces ----------------------------------------------------------------

TEST(FmtPieces, Boundaries)
{
    const std::string lit5000(5000, 'L');
    const std::string s5000(5000, 'S');
    const std::string s4095(4095, 'T');
    const std::string s4094(4094, 'U');
    const std::string s4096(4096, 'V');
    const std::string lit4094(4094, 'W');
    struct PieceCase {
        const char *name;
        std::string format;
        const char *arg;
        std::vector<size_t> want;
    };
    const std::vector<PieceCase> cases = {
        {"5000 literal characters", lit5000, nullptr, {4094, 906}},
        {"10 pending, then a 5000-byte text whole", "0123456789%s", s5000.c_str(), {10, 5000, 0}},
        {"4095-byte text into an empty buffer", "%s", s4095.c_str(), {0, 4095}},
        {"literal after a 4095-byte text", "%sxyz", s4095.c_str(), {0, 4095, 3}},
        {"4094-byte text fills the buffer", "%sa", s4094.c_str(), {4094, 1}},
        {"4096-byte text whole", "%s", s4096.c_str(), {0, 4096, 0}},
        {"escape after a full buffer", lit4094 + "\\n", nullptr, {4094, 1}},
        {"empty format", "", nullptr, {0}},
        {"exactly 4094 literal characters", lit4094, nullptr, {4094}},
        {"8188 literal characters", lit4094 + lit4094, nullptr, {4094, 4094}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Recorder r;
        ASSERT_EQ(record_v(r, nullptr, nullptr, c.format.c_str(), c.arg), 1);
        EXPECT_EQ(r.sizes(), c.want);
        EXPECT_TRUE(r.all_terminated);
        std::string want = F(c.format.c_str(), c.arg);
        EXPECT_EQ(r.joined(), want);
    }
    Recorder r;
    record_v(r, nullptr, nullptr, "0123456789%s", s5000.c_str());
    EXPECT_EQ(r.pieces[0], "0123456789");
    EXPECT_EQ(r.pieces[1], s5000);
}

TEST(FmtPieces, StageAppendOnItsOwn)
{
    char stage[8];
    size_t pending = 0;
    Recorder r;
    ASSERT_EQ(fmt_stage_append(stage, sizeof stage, &pending, 0, record_sink, &r, "abc", 3), 1);
    EXPECT_EQ(pending, 3u);
    EXPECT_STREQ(stage, "abc");
    EXPECT_TRUE(r.pieces.empty());
    // 3 + 5 is more than size - 2: the pending text goes, the piece stays.
    ASSERT_EQ(fmt_stage_append(stage, sizeof stage, &pending, 0, record_sink, &r, "defgh", 5), 1);
    EXPECT_EQ(pending, 5u);
    EXPECT_STREQ(stage, "defgh");
    // A piece as large as the stage goes whole.
    ASSERT_EQ(fmt_stage_append(stage, sizeof stage, &pending, 0, record_sink, &r, "0123456789", 10), 1);
    EXPECT_EQ(pending, 0u);
    ASSERT_EQ(fmt_stage_append(stage, sizeof stage, &pending, 0, record_sink, &r, "k", 1), 1);
    ASSERT_EQ(fmt_stage_append(stage, sizeof stage, &pending, 1, record_sink, &r, "xy", 2), 1);
    EXPECT_EQ(pending, 0u);
    EXPECT_EQ(r.pieces, (std::vector<std::string>{"abc", "defgh", "0123456789", "k", "*", "*"}));

    Recorder failing;
    failing.fail_at = 0;
    pending = 3;
    EXPECT_EQ(fmt_stage_append(stage, sizeof stage, &pending, 1, record_sink, &failing, "x", 1), 0);
    EXPECT_EQ(failing.calls, 1u);

    pending = 8; // beyond the stage
    EXPECT_EQ(fmt_stage_append(stage, sizeof stage, &pending, 0, record_sink, &r, "x", 1), 0);
    pending = 0;
    EXPECT_EQ(fmt_stage_append(stage, 1, &pending, 0, record_sink, &r, "x", 1), 0);
}

// ---- sink failure ------------------------------------------------------------

TEST(FmtSinkFailure, NothingMoreAfterTheFirstFailure)
{
    const std::string lit(10000, 'a');
    const std::string big(5000, 'b');
    struct FailCase {
        const char *name;
        size_t fail_at;
        std::vector<size_t> handed;
        int (*run)(Recorder &, const std::string &, const std::string &);
    };
    const std::vector<FailCase> cases = {
        {"literal pieces", 1, {4094},
         [](Recorder &r, const std::string &l, const std::string &) {
             return record_v(r, nullptr, nullptr, (l + "%s").c_str(), "tail");
         }},
        {"whole text", 1, {0},
         [](Recorder &r, const std::string &, const std::string &b) {
             return record_v(r, nullptr, nullptr, "%s%s%s", b.c_str(), b.c_str(), b.c_str());
         }},
        {"masked stars", 2, {3, 1},
         [](Recorder &r, const std::string &, const std::string &) {
             static const unsigned char mask = 1;
             return record_v(r, &mask, nullptr, "abc%s and more", "secret");
         }},
        {"last piece", 0, {},
         [](Recorder &r, const std::string &, const std::string &) {
             return record_v(r, nullptr, nullptr, "short");
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Recorder r;
        r.fail_at = c.fail_at;
        EXPECT_EQ(c.run(r, lit, big), 0);
        EXPECT_EQ(r.calls, c.fail_at + 1); // the failing call was the last
        EXPECT_EQ(r.sizes(), c.handed);
    }
}

TEST(FmtSinkFailure, FileSink)
{
    TempDir dir;
    const std::string path = dir.file("out");
    FILE *fp = fopen(path.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    static const char bytes[] = {'x', '\0', 'y'};
    EXPECT_EQ(fmt_fprintf(fp, "n=%d\\r\\n%.*s", 5, 3, bytes), 1);
    fclose(fp);
    EXPECT_EQ(read_file(path), std::string("n=5\r\nx\0y", 8));

    // A stream open only for reading refuses every write.
    fp = fopen(path.c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    setvbuf(fp, nullptr, _IONBF, 0);
    EXPECT_EQ(fmt_fprintf(fp, "hello"), 0);
    EXPECT_NE(ferror(fp), 0);
    fclose(fp);

    EXPECT_EQ(fmt_file_sink(nullptr, "x", 1), 0);
}

TEST(FmtSinkFailure, StdoutSinkAndAnySink)
{
    testing::internal::CaptureStdout();
    int ok = fmt_sink_printf(nullptr, nullptr, "out %d\\n", 3);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(out, "out 3\n");

    Recorder r;
    EXPECT_EQ(fmt_sink_printf(record_sink, &r, "%s-%d", "a", 1), 1);
    EXPECT_EQ(r.pieces, (std::vector<std::string>{"a-1"}));
}

// ---- StrBuf ----------------------------------------------------------------

TEST(StrBuf, GrowthRule)
{
    struct GrowCase {
        size_t capacity, length, append, want_capacity;
    };
    const std::vector<GrowCase> cases = {
        {1024, 1000, 30, 2048}, // doubling is enough
        {1024, 1000, 23, 1024}, // 1023 < 1024 still fits
        {1024, 1000, 24, 2048}, // 1024 does not: the NUL needs room
        {10, 5, 100, 106},      // doubling is not enough: exactly length + n + 1
        {0, 0, 5, 6},           // a zeroed record gets n + 1
        {0, 0, 0, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("capacity " + std::to_string(c.capacity) + " length " + std::to_string(c.length) +
                     " append " + std::to_string(c.append));
        StrBuf sb = c.capacity ? make_buf(c.capacity, c.length) : StrBuf{};
        std::string piece(c.append, 'z');
        ASSERT_EQ(strbuf_sink(&sb, piece.data(), piece.size()), 1);
        EXPECT_EQ(sb.capacity, c.want_capacity);
        EXPECT_EQ(sb.length, c.length + c.append);
        EXPECT_EQ(std::string(sb.data), std::string(c.length, 'a') + piece);
        EXPECT_EQ(sb.flags, 0u);
        sbuf_release(&sb);
    }
}

TEST(StrBuf, PrintfAppends)
{
    EXPECT_EQ(sbuf_printf(nullptr, "x"), nullptr);

    AllocHook hook;
    StrBuf sb = {};
    char *text = sbuf_printf(&sb, "%s=%d\r\n", "a", 1);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text, sb.data);
    EXPECT_EQ(sb.capacity, 1024u);
    EXPECT_EQ(AllocHook::sizes, (std::vector<size_t>{1024}));
    std::string want = "a=1\r\n";
    for (int i = 0; i < 300; i++) {
        ASSERT_NE(sbuf_printf(&sb, "line %d\r\n", i), nullptr);
        want += "line " + std::to_string(i) + "\r\n";
    }
    EXPECT_EQ(std::string(sb.data, sb.length), want);
    EXPECT_EQ(strlen(sb.data), sb.length);
    EXPECT_LT(sb.length, sb.capacity);
    sbuf_release(&sb);
    EXPECT_EQ(sb.data, nullptr);
    EXPECT_EQ(sb.capacity, 0u);
    EXPECT_EQ(sb.length, 0u);

    StrBuf *heap = static_cast<StrBuf *>(calloc(1, sizeof(StrBuf)));
    ASSERT_NE(sbuf_printf(heap, "%s", std::string(5000, 'h').c_str()), nullptr);
    sbuf_free(heap);
    sbuf_free(nullptr);
    sbuf_release(nullptr);
}

TEST(StrBuf, NoMemoryIsSticky)
{
    StrBuf sb = {};
    ASSERT_NE(sbuf_printf(&sb, "head "), nullptr);
    const std::string big(3000, 'b');
    {
        AllocHook hook(0); // every growth fails
        EXPECT_EQ(sbuf_printf(&sb, "%s", big.c_str()), nullptr);
    }
    EXPECT_NE(sb.flags & STRBUF_NOMEM, 0u);
    EXPECT_STREQ(sb.data, "head "); // the old text, whole
    // Memory is back, but the text already misses a piece: nothing more.
    EXPECT_EQ(sbuf_printf(&sb, "tail"), nullptr);
    EXPECT_EQ(strbuf_sink(&sb, "x", 1), 0);
    EXPECT_STREQ(sb.data, "head ");
    EXPECT_EQ(sb.length, 5u);
    sbuf_release(&sb);

    // A failed first allocation is recorded the same way.
    StrBuf fresh = {};
    {
        AllocHook hook(0);
        EXPECT_EQ(sbuf_printf(&fresh, "a"), nullptr);
    }
    EXPECT_EQ(fresh.capacity, 0u);
    EXPECT_EQ(fresh.data, nullptr);
    EXPECT_EQ(sbuf_printf(&fresh, "b"), nullptr);
    EXPECT_EQ(fresh.data, nullptr);

    // A length whose doubled capacity would wrap is refused before any
    // byte is read, and the refusal is as sticky as a failed allocation.
    StrBuf huge = {};
    ASSERT_NE(sbuf_printf(&huge, "ok"), nullptr);
    EXPECT_EQ(strbuf_sink(&huge, "x", SIZE_MAX), 0); // length + n would wrap to a small size
    EXPECT_EQ(huge.length, 2u);
    huge.flags = 0;
    EXPECT_EQ(strbuf_sink(&huge, "x", SIZE_MAX / 2), 0);
    EXPECT_NE(huge.flags & STRBUF_NOMEM, 0u);
    EXPECT_EQ(huge.capacity, 1024u);
    EXPECT_STREQ(huge.data, "ok");
    EXPECT_EQ(strbuf_sink(&huge, "y", 1), 0);
    sbuf_release(&huge);
}

TEST(StrBuf, SetLength)
{
    struct LenCase {
        long long n;
        int ok;
        const char *want;
    };
    const std::vector<LenCase> cases = {
        {3, 1, "hel"}, {-2, 1, "hel"}, {5, 1, "hello"}, {0, 1, ""},
        {-5, 1, ""},   {6, 0, "hello"}, {-6, 0, "hello"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("n " + std::to_string(c.n));
        StrBuf sb = {};
        ASSERT_NE(sbuf_printf(&sb, "hello"), nullptr);
        EXPECT_EQ(sbuf_set_length(&sb, c.n), c.ok);
        EXPECT_EQ(sb.length, strlen(c.want));
        EXPECT_STREQ(sb.data, c.want);
        sbuf_release(&sb);
    }
    StrBuf sb = {};
    ASSERT_NE(sbuf_printf(&sb, "hello"), nullptr);
    ASSERT_EQ(sbuf_set_length(&sb, 2), 1);
    ASSERT_NE(sbuf_printf(&sb, "XY"), nullptr);
    EXPECT_STREQ(sb.data, "heXY");
    sbuf_release(&sb);

    StrBuf zero = {};
    EXPECT_EQ(sbuf_set_length(&zero, 0), 1);
    EXPECT_EQ(sbuf_set_length(&zero, 1), 0);
    EXPECT_EQ(sbuf_set_length(nullptr, 0), 0);
}

// ---- heap strings ------------------------------------------------------------

TEST(StrAprintf, NewAndAppended)
{
    char *s = str_aprintf(nullptr, "%s-%d", "x", 9);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "x-9");
    free(s);

    char *held = nullptr;
    ASSERT_NE(str_aprintf(&held, "a%c", 'b'), nullptr);
    EXPECT_STREQ(held, "ab");
    char *two = strdup("ab");
    free(held);
    held = two;

    AllocHook hook;
    char *r = str_aprintf(&held, "%d", 7);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r, held);
    EXPECT_STREQ(held, "ab7");
    // The new text is made apart, then the two letters' block is
    // reallocated to the joined text of capacity 4.
    ASSERT_EQ(AllocHook::sizes.size(), 2u);
    EXPECT_EQ(AllocHook::sizes[1], 4u);
    free(held);
}

TEST(StrAprintf, FailureLeavesTheTextAsItWas)
{
    const std::string big(5000, 'g');
    // Allocation 0: the temporary's first block; 1: its growth; 2: the join.
    for (size_t fail_from : {0, 1, 2}) {
        SCOPED_TRACE("failing from allocation " + std::to_string(fail_from));
        char *held = strdup("keep");
        char *before = held;
        {
            AllocHook hook(fail_from);
            EXPECT_EQ(str_aprintf(&held, "%s", big.c_str()), nullptr);
        }
        EXPECT_EQ(held, before);
        EXPECT_STREQ(held, "keep");
        free(held);

        AllocHook hook(fail_from);
        char *none = nullptr;
        if (fail_from < 2) {
            EXPECT_EQ(str_aprintf(&none, "%s", big.c_str()), nullptr);
            EXPECT_EQ(none, nullptr);
        }
    }
}

TEST(StrSetPrintf, StandardFormatter)
{
    char *s = strdup("old");
    ASSERT_EQ(str_set_printf(&s, "%5d|%s|%03x", 42, "x", 10), 1);
    EXPECT_STREQ(s, "   42|x|00a");
    ASSERT_EQ(str_set_printf(&s, "a\\tb"), 1); // no backslash escapes here
    EXPECT_STREQ(s, "a\\tb");
    const std::string big(5000, 'c');
    ASSERT_EQ(str_set_printf(&s, "%s", big.c_str()), 1);
    EXPECT_EQ(strlen(s), 4095u);
    free(s);

    char *fresh = nullptr;
    ASSERT_EQ(str_set_printf(&fresh, "%s", "new"), 1);
    EXPECT_STREQ(fresh, "new");
    free(fresh);
    EXPECT_EQ(str_set_printf(nullptr, "x"), 0);
}

TEST(StrListFree, FreesEveryCell)
{
    // Three cells {payload, next}; each link points at the next-field.
    void **head_cell = nullptr;
    void *head = nullptr;
    for (int i = 0; i < 3; i++) {
        void **cell = static_cast<void **>(malloc(2 * sizeof(void *)));
        cell[0] = strdup("payload");
        cell[1] = head;
        head = &cell[1];
        head_cell = cell;
    }
    ASSERT_NE(head_cell, nullptr);
    str_list_free(&head); // the leak checker finds anything left
    EXPECT_EQ(head, nullptr);
    str_list_free(&head);
    EXPECT_EQ(head, nullptr);
    str_list_free(nullptr);
}

} // namespace
