// The string helpers: bounded copy and append, case-folding comparison,
// tokenizers, the whole-file readers, the line iterator and the line wrapper.
#include "support/str.h"

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/unit/helpers.h"

namespace {

// Every byte of s in a heap block of exactly s.size() bytes (no NUL after
// it), so that a read past the end shows under the address sanitizer.
std::vector<char> exact(const std::string &s) { return std::vector<char>(s.begin(), s.end()); }

// Opens bytes as a stream through a temporary file.
struct StreamOf {
    TempDir dir;
    FILE *fp = nullptr;
    explicit StreamOf(const std::string &bytes)
    {
        write_file(dir.file("in"), bytes);
        fp = fopen(dir.file("in").c_str(), "rb");
    }
    ~StreamOf()
    {
        if (fp)
            fclose(fp);
    }
};

// Independent rule for the CR LF reader: each of CR LF, lone CR and lone LF
// becomes CR LF; every other byte stays.
std::string crlf_reference(const std::string &in)
{
    std::string out;
    for (size_t i = 0; i < in.size(); i++) {
        if (in[i] == '\r') {
            out += "\r\n";
            if (i + 1 < in.size() && in[i + 1] == '\n')
                i++;
        } else if (in[i] == '\n') {
            out += "\r\n";
        } else {
            out += in[i];
        }
    }
    return out;
}

std::string read_crlf(const std::string &in, bool *ok = nullptr)
{
    StreamOf s(in);
    size_t len = 12345;
    char *text = file_read_text_crlf(s.fp, &len);
    if (ok)
        *ok = text != nullptr;
    if (!text)
        return "";
    std::string out(text, len);
    EXPECT_EQ(text[len], '\0');
    free(text);
    return out;
}

} // namespace

TEST(StrFold, FoldsOnlyLowerCaseLetters)
{
    for (int i = 0; i < 256; i++) {
        SCOPED_TRACE(i);
        uint32_t want = (i >= 'a' && i <= 'z') ? static_cast<uint32_t>(i - 32) : static_cast<uint32_t>(i);
        EXPECT_EQ(str_fold_table[i], want);
    }
}

TEST(StrBounded, CopyCutsToSizeMinusOne)
{
    struct Case {
        const char *src;
        size_t size;
        const char *want;
    } cases[] = {
        {"abc", 4, "abc"},    // exactly size - 1 characters: whole
        {"abcd", 4, "abc"},   // longer: size - 1 kept
        {"abcdefgh", 1, ""},  // room for the NUL only
        {"", 4, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.src) + " size " + std::to_string(c.size));
        std::vector<char> dst(c.size, 'X');
        EXPECT_EQ(str_copy_bounded(dst.data(), c.src, c.size), dst.data());
        EXPECT_STREQ(dst.data(), c.want);
    }
    char untouched[4] = "xyz";
    EXPECT_EQ(str_copy_bounded(untouched, "abc", 0), nullptr);
    EXPECT_STREQ(untouched, "xyz");
}

TEST(StrBounded, AppendKeepsTextWithinSize)
{
    struct Case {
        const char *start;
        const char *src;
        size_t size;
        const char *want;
    } cases[] = {
        {"ab", "cd", 8, "abcd"},
        {"ab", "cdefgh", 5, "abcd"},
        {"abcd", "ef", 5, "abcd"}, // destination holds size - 1: nothing added
        {"", "xyz", 3, "xy"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.start) + "+" + c.src);
        std::vector<char> dst(c.size, 'X');
        memcpy(dst.data(), c.start, strlen(c.start) + 1);
        EXPECT_EQ(str_append_bounded(dst.data(), c.src, c.size), dst.data());
        EXPECT_STREQ(dst.data(), c.want);
    }
    char buf[4] = "abc";
    EXPECT_EQ(str_append_bounded(buf, "x", 0), nullptr);
    EXPECT_STREQ(buf, "abc");
    // A destination already filling size bytes without a NUL: nothing is
    // written (in particular not at position size) and NULL says so.
    std::vector<char> full = exact("abcd");
    EXPECT_EQ(str_append_bounded(full.data(), "x", full.size()), nullptr);
    EXPECT_EQ(std::string(full.data(), full.size()), "abcd");
}

TEST(StrBounded, AppendNumbersAndCharacters)
{
    char buf[32] = "n=";
    str_append_int_bounded(buf, -2147483647 - 1, sizeof buf);
    EXPECT_STREQ(buf, "n=-2147483648");
    buf[2] = '\0';
    str_append_u64_bounded(buf, UINT64_MAX, sizeof buf);
    EXPECT_STREQ(buf, "n=18446744073709551615");
    char small[6] = "ab";
    str_append_u64_bounded(small, 123456, sizeof small);
    EXPECT_STREQ(small, "ab123");
    str_append_char_bounded(small, 'z', sizeof small);
    EXPECT_STREQ(small, "ab123");
    char c2[4] = "a";
    EXPECT_EQ(str_append_char_bounded(c2, 'b', sizeof c2), c2);
    EXPECT_STREQ(c2, "ab");
    EXPECT_EQ(str_append_int_bounded(c2, 5, 0), nullptr);
}

TEST(StrCase, CompareGivesFirstDifferencePosition)
{
    struct Case {
        const char *a, *b;
        int want;
    } cases[] = {
        {"Hello", "hELLO", 0},
        {"", "", 0},
        {"ab_", "abc", 3},   // "_" sorts after every letter
        {"abc", "ab_", -3},
        {"ab[", "abZ", 3},
        {"a`", "az", 2},
        {"@", "a", -1},      // the at sign sorts before the letters
        {"9", "A", -1},
        {"\x80", "z", 1},    // high bytes after all ASCII
        {"\xc3\xa9", "\xc3\x89", 2},
        {"ab", "abc", -3},   // a prefix: minus (its length + 1)
        {"abc", "ab", 3},
        {"", "x", -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(str_casecmp(c.a, c.b), c.want);
    }
    const char *same = "x";
    EXPECT_EQ(str_casecmp(same, same), 0);
}

TEST(StrCase, CompareBoundedByN)
{
    struct Case {
        const char *a, *b;
        long n;
        int want;
    } cases[] = {
        {"abcX", "ABCY", 3, 0},
        {"abcX", "ABCY", 4, -4},
        {"abc", "xyz", 0, 0},
        {"abc", "xyz", -5, 0},
        {"ab", "abc", 2, 0},
        {"ab", "abc", 3, -3},
        {"same", "SAME", 100, 0}, // stops at the NUL, not at n
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b + " n " + std::to_string(c.n));
        EXPECT_EQ(str_ncasecmp(c.a, c.b, c.n), c.want);
    }
}

TEST(StrCase, LowerUpperAscii)
{
    char t[] = "AbZ\xc3\x89-9";
    EXPECT_EQ(str_lower_ascii(t), t);
    EXPECT_STREQ(t, "abz\xc3\x89-9");
    EXPECT_STREQ(str_upper_ascii(t), "ABZ\xc3\x89-9");
    EXPECT_EQ(str_tolower_char('Q'), 'q');
    EXPECT_EQ(str_tolower_char('q'), 'q');
    EXPECT_EQ(str_tolower_char(0xC9), 0xC9);
    EXPECT_EQ(str_toupper_char('q'), 'Q');
    EXPECT_EQ(str_toupper_char('['), '[');
}

TEST(StrToken, SplitsInPlaceLikeStrtok)
{
    struct Case {
        const char *text;
        const char *delims;
        std::vector<std::string> tokens;
    } cases[] = {
        {"a,b,,c", ",", {"a", "b", "c"}},      // adjacent delimiters: no empty token
        {",, ,", ", ", {}},                     // only delimiters
        {"", ",", {}},
        {"  one two  ", " ", {"one", "two"}},
        {"x", ",", {"x"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        std::string buf = c.text;
        std::vector<std::string> got;
        char *cursor = nullptr;
        for (char *t = str_token(buf.data(), c.delims, &cursor); t;
             t = str_token(nullptr, c.delims, &cursor))
            got.push_back(t);
        EXPECT_EQ(got, c.tokens);
        EXPECT_EQ(*cursor, '\0'); // rests at the end
        EXPECT_EQ(str_token(nullptr, c.delims, &cursor), nullptr);
    }
}

TEST(StrToken, QuotedLengthLeavesTextAlone)
{
    const char *text = "  ab, \"c d\" ,e";
    const char *cursor = nullptr;
    size_t len = 99;
    const char *t = str_token_quoted_len(text, " ,", '"', &cursor, &len);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(std::string(t, len), "ab");
    EXPECT_EQ(cursor, t + 3); // after the delimiter that ended it
    t = str_token_quoted_len(nullptr, " ,", '"', &cursor, &len);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(std::string(t, len), "\"c d\""); // quotes stay in the token
    t = str_token_quoted_len(nullptr, " ,", '"', &cursor, &len);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(std::string(t, len), "e");
    EXPECT_EQ(*cursor, '\0');
    len = 99;
    EXPECT_EQ(str_token_quoted_len(nullptr, " ,", '"', &cursor, &len), nullptr);
    EXPECT_EQ(len, 99u); // the remaining text was empty: untouched
    EXPECT_STREQ(text, "  ab, \"c d\" ,e");

    // Only delimiters remain: NULL with the length set to 0.
    cursor = nullptr;
    len = 99;
    EXPECT_EQ(str_token_quoted_len(" ,, ", " ,", 0, &cursor, &len), nullptr);
    EXPECT_EQ(len, 0u);

    // A quote character of 0 disables quoting.
    cursor = nullptr;
    t = str_token_quoted_len("\"a b\"", " ", 0, &cursor, &len);
    EXPECT_EQ(std::string(t, len), "\"a");
}

TEST(StrToken, QuotedInPlace)
{
    std::string buf = "x 'y z' w";
    std::vector<std::string> got;
    char *cursor = nullptr;
    for (char *t = str_token_quoted(buf.data(), " ", '\'', &cursor); t;
         t = str_token_quoted(nullptr, " ", '\'', &cursor))
        got.push_back(t);
    EXPECT_EQ(got, (std::vector<std::string>{"x", "'y z'", "w"}));
}

TEST(StrReadAll, KeepsEveryByteAndCountsThem)
{
    std::string big;
    for (size_t i = 0; i < 300000; i++)
        big += static_cast<char>(i * 7 % 256); // holds NUL bytes, spans many blocks
    const std::string inputs[] = {"", "x", std::string("a\0b", 3), std::string(1024, 'q'),
                                  std::string(65536, 'r'), big};
    for (const std::string &in : inputs) {
        SCOPED_TRACE(in.size());
        StreamOf s(in);
        size_t len = 12345;
        char *text = file_read_all(s.fp, &len);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(len, in.size());
        EXPECT_EQ(std::string(text, len), in);
        EXPECT_EQ(text[len], '\0');
        free(text);
    }
}

TEST(StrReadAll, ReadsFromTheCurrentPosition)
{
    StreamOf s("headerBODY");
    ASSERT_EQ(fseek(s.fp, 6, SEEK_SET), 0);
    size_t len = 0;
    char *text = file_read_all(s.fp, &len);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text, len), "BODY");
    free(text);
}

// A stream on a directory opens but every read fails: that is an error,
// not an empty file.
TEST(StrReadAll, ReadErrorIsFailure)
{
    TempDir dir;
    FILE *fp = fopen(dir.path.c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    size_t len = 777;
    int why = -1;
    EXPECT_EQ(file_read_all(fp, &len, &why), nullptr);
    EXPECT_EQ(len, 777u);
    EXPECT_EQ(why, STR_READ_ERROR);
    clearerr(fp);
    why = -1;
    EXPECT_EQ(file_read_text_crlf(fp, &len, &why), nullptr);
    EXPECT_EQ(len, 777u);
    EXPECT_EQ(why, STR_READ_ERROR);
    fclose(fp);

    StreamOf ok("text\n");
    char *text = file_read_all(ok.fp, &len, &why);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(why, STR_READ_OK);
    free(text);
}

TEST(StrReadCrlf, LineEndsBecomeCrlf)
{
    struct Case {
        std::string in, want;
    } cases[] = {
        {"a\nb", "a\r\nb"},          // no line end after the last line
        {"a\r\nb\r\n", "a\r\nb\r\n"}, // CR LF stays
        {"", ""},
        {"\n\n", "\r\n\r\n"},
        {"a\rb", "a\r\nb"},           // lone CR: a line end, nothing after it lost
        {"a\r\rb", "a\r\n\r\nb"},
        {"a\r", "a\r\n"},
        {"\r\n\r", "\r\n\r\n"},
        {"x\n\ry", "x\r\n\r\ny"},
        {std::string("n\0ul\n", 5), std::string("n\0ul\r\n", 6)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(to_hex(c.in));
        bool ok = false;
        EXPECT_EQ(read_crlf(c.in, &ok), c.want);
        EXPECT_TRUE(ok);
    }
    // The length out is optional.
    StreamOf s("p\nq");
    char *text = file_read_text_crlf(s.fp);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "p\r\nq");
    free(text);
}

// A cap on the bytes read and the refusal of NUL bytes, each found as soon
// as the bytes come: an endless stream is not read on.
TEST(StrReadCrlf, CapAndNulRefusedWhenRead)
{
    const std::string block(100000, 'x');
    struct Case {
        std::string in;
        size_t cap;
        bool refuse_nul;
        int why;
    } cases[] = {
        {block, block.size(), false, STR_READ_OK},
        {block, block.size() - 1, false, STR_READ_TOO_BIG},
        {block + "\n", block.size(), false, STR_READ_TOO_BIG}, // the cap counts bytes read
        {std::string("a\0b", 3), 10, false, STR_READ_OK},
        {std::string("a\0b", 3), 10, true, STR_READ_NUL},
        {block + std::string(1, '\0'), STR_FILE_READ_MAX, true, STR_READ_NUL},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.in.size());
        StreamOf s(c.in);
        size_t len = 777;
        int why = -1;
        char *text = file_read_text_crlf(s.fp, &len, &why, c.cap, c.refuse_nul);
        EXPECT_EQ(why, c.why);
        EXPECT_EQ(text != nullptr, c.why == STR_READ_OK);
        EXPECT_EQ(len, c.why == STR_READ_OK ? c.in.size() : 777u);
        free(text);
    }
    FILE *zero = fopen("/dev/zero", "rb");
    ASSERT_NE(zero, nullptr);
    int why = -1;
    EXPECT_EQ(file_read_text_crlf(zero, nullptr, &why, STR_FILE_READ_MAX, true), nullptr);
    EXPECT_EQ(why, STR_READ_NUL);
    fclose(zero);
}

// Line ends at and around every piece edge a reader might use (1023/1024
// bytes, 64 KiB), and lines far longer than any piece, lose no byte and
// split no CR LF pair into two line ends.
TEST(StrReadCrlf, NoByteLostAtSliceEdges)
{
    const size_t edges[] = {1022, 1023, 1024, 1025, 2047, 2048, 4095, 4096,
                            65534, 65535, 65536, 65537, 131071, 131072};
    const char *ends[] = {"\r\n", "\r", "\n", "\n\r", "\r\r\n"};
    for (size_t edge : edges) {
        for (const char *end : ends) {
            SCOPED_TRACE(std::to_string(edge) + " " + to_hex(end));
            std::string in(edge, 'a');
            in += end;
            in += std::string(3000, 'b');
            in += "\r";
            EXPECT_EQ(read_crlf(in), crlf_reference(in));
        }
    }
    // One line longer than several blocks, then short lines.
    std::string huge;
    for (size_t i = 0; i < 500000; i++)
        huge += static_cast<char>('a' + i % 26);
    std::string in = huge + "\r\n" + "x\ry\n" + huge;
    std::string got = read_crlf(in);
    EXPECT_EQ(got.size(), crlf_reference(in).size());
    EXPECT_TRUE(got == crlf_reference(in));
}

// The streaming converter keeps its state between calls: cut anywhere, the
// two outputs together equal the conversion of the whole text.
TEST(StrCrlfConvert, SplitAnywhereGivesTheWholeConversion)
{
    const std::string texts[] = {"a\r\nb", "a\rb\r", "\r\r\n\n", "x\n\ry\r\n", std::string("n\0\r\n", 4)};
    for (const std::string &in : texts) {
        for (size_t cut = 0; cut <= in.size(); cut++) {
            SCOPED_TRACE(to_hex(in) + " cut " + std::to_string(cut));
            CrlfState st = {};
            std::string out(2 * in.size(), '\0');
            size_t n = str_crlf_convert(&st, in.data(), cut, &out[0]);
            n += str_crlf_convert(&st, in.data() + cut, in.size() - cut, &out[n]);
            EXPECT_EQ(out.substr(0, n), crlf_reference(in));
        }
    }
}

TEST(StrNextLine, AllLineEnds)
{
    const char *text = "one\r\ntwo\rthree\nfour";
    const char *cursor = text;
    size_t len = 99;
    std::vector<std::string> lines;
    while (const char *line = str_next_line(&cursor, &len, nullptr))
        lines.emplace_back(line, len);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three", "four"}));
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(*cursor, '\0');

    cursor = "";
    len = 5;
    EXPECT_EQ(str_next_line(&cursor, &len, nullptr), nullptr);
    EXPECT_EQ(len, 0u);

    // A text ending in a line end gives no empty last line.
    cursor = "a\n";
    lines.clear();
    while (const char *line = str_next_line(&cursor, &len, nullptr))
        lines.emplace_back(line, len);
    EXPECT_EQ(lines, (std::vector<std::string>{"a"}));
}

// With an end bound only the bound ends the text: NUL bytes inside belong
// to their line, and nothing at or after the bound is read.
TEST(StrNextLine, BoundNotNulEndsTheText)
{
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {std::string("a\0b\r\nc", 6), {std::string("a\0b", 3), "c"}},
        {std::string("\0\n\0", 3), {std::string("\0", 1), std::string("\0", 1)}},
        {"x\r", {"x"}},              // a CR as the last byte before the bound
        {"x\r\n", {"x"}},
        {"\n\n", {"", ""}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(to_hex(c.text));
        std::vector<char> buf = exact(c.text);
        const char *cursor = buf.data();
        const char *end = buf.data() + buf.size();
        size_t len = 0;
        std::vector<std::string> lines;
        while (const char *line = str_next_line(&cursor, &len, end))
            lines.emplace_back(line, len);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(cursor, end);
    }
    // A cursor already at the bound gives nothing, whatever follows it.
    std::vector<char> at = exact("more");
    const char *at_cursor = at.data();
    size_t at_len = 9;
    EXPECT_EQ(str_next_line(&at_cursor, &at_len, at.data()), nullptr);
    EXPECT_EQ(at_len, 0u);
    EXPECT_EQ(at_cursor, at.data());

    // A bound between CR and LF: the LF lies beyond it and is not looked at.
    std::vector<char> buf = exact("ab\r\n");
    const char *cursor = buf.data();
    size_t len = 0;
    const char *line = str_next_line(&cursor, &len, buf.data() + 3);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(len, 2u);
    EXPECT_EQ(cursor, buf.data() + 3);
    EXPECT_EQ(str_next_line(&cursor, &len, buf.data() + 3), nullptr);
}

namespace {
// Every line the wrapper gives for text at width n (with max, every run
// the span taker gives at that limit); the cursor must be NULL after the
// last.
std::vector<std::string> wrap_all(const char *text, size_t n, size_t max = 0)
{
    std::vector<std::string> lines;
    std::vector<char> out(n + 1, 'Z');
    const char *cursor = text;
    for (int guard = 0; guard < 1000; guard++) {
        size_t len = 99;
        const char *line = max ? str_wrap_next_span(&cursor, &len, n, max) : str_wrap_next_line(&cursor, out.data(), n);
        if (!line)
            break;
        if (!max)
            len = strlen(line);
        EXPECT_LE(len, max < n ? n : max);
        lines.emplace_back(line, len);
    }
    EXPECT_EQ(cursor, nullptr);
    return lines;
}
} // namespace

TEST(StrWrap, Lines)
{
    using V = std::vector<std::string>;
    struct Case {
        const char *text;
        size_t n;
        V lines;
    } cases[] = {
        {"abcd efghijk", 10, {"abcd ", "efghijk"}},
        {"abcdefghijkl", 5, {"abcde", "fghij", "kl"}},     // a long word is cut
        {"ab cdefghij", 5, {"ab cd", "efghi", "j"}},
        {"ab\n", 5, {"ab", ""}},                           // trailing line end: one empty line
        {"abcde fgh", 5, {"abcde", "fgh"}},                // the space after a full line goes
        {"abcde\nfgh", 5, {"abcde", "fgh"}},               // full line: its line end goes with it
        {"abcde\r\nfgh", 5, {"abcde", "fgh"}},
        {"abcde\rfgh", 5, {"abcde", "fgh"}},
        {"abcde \nfgh", 5, {"abcde", "fgh"}},
        {"abcde\n\nfgh", 5, {"abcde", "", "fgh"}},         // a real empty line stays
        {"abcde", 5, {"abcde"}},
        {"abcde ", 5, {"abcde"}},
        {"a\tb c", 10, {"a\tb c"}},
        {"ab\rcd\r\nef\ngh", 10, {"ab", "cd", "ef", "gh"}},
        {"", 5, {""}},
        {"abc   def", 5, {"abc  ", "def"}},
        {"x\x01y zz", 3, {"x\x01y", "zz"}},                  // control bytes belong to words
        {"aa bb cc", 1, {"a", "a", "b", "b", "c", "c"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(to_hex(c.text) + " n " + std::to_string(c.n));
        EXPECT_EQ(wrap_all(c.text, c.n), c.lines);
    }
}

TEST(StrWrap, CursorSteps)
{
    char out[11];
    const char *text = "abcd efghijk";
    const char *cursor = text;
    EXPECT_STREQ(str_wrap_next_line(&cursor, out, 10), "abcd ");
    EXPECT_EQ(cursor, text + 5);
    EXPECT_STREQ(str_wrap_next_line(&cursor, out, 10), "efghijk");
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(str_wrap_next_line(&cursor, out, 10), nullptr);

    text = "abcde fgh";
    cursor = text;
    EXPECT_STREQ(str_wrap_next_line(&cursor, out, 5), "abcde");
    EXPECT_EQ(cursor, text + 6);
}


// Words longer than the width stay whole up to the limit; only a longer
// one is cut, and never inside a UTF-8 character.
TEST(StrWrap, SpansKeepLongWordsWhole)
{
    using V = std::vector<std::string>;
    struct Case {
        const char *text;
        size_t n, max;
        V lines;
    } cases[] = {
        {"abcdefghijkl", 5, 20, {"abcdefghijkl"}},
        {"ab cdefghij kl", 5, 20, {"ab ", "cdefghij", "kl"}},   // on a line of its own
        {"  cdefghij", 5, 20, {"  ", "cdefghij"}},
        {"abcdefgh\tij", 5, 20, {"abcdefgh", "\tij"}},
        {"abcdefgh\nij", 5, 20, {"abcdefgh", "ij"}},
        {"abcde", 5, 20, {"abcde"}},                           // exactly the width
        {"abcdefghijkl", 5, 12, {"abcdefghijkl"}},              // exactly the limit
        {"abcdefghijklm n", 5, 12, {"abcdefghijkl", "m n"}},    // one over: cut at the limit
        {"ab cdefghijklmn", 5, 8, {"ab cdefg", "hijklmn"}},
        {"abcdefgh", 5, 3, {"abcde", "fgh"}},                   // a limit below the width is the width
        {"\xc3\xa9\xc3\xa9\xc3\xa9", 2, 5, {"\xc3\xa9\xc3\xa9", "\xc3\xa9"}},
        {"a \xe2\x82\xac\xe2\x82\xac", 2, 4, {"a ", "\xe2\x82\xac", "\xe2\x82\xac"}},
        {"\xe2\x82\xac", 1, 1, {"\xe2", "\x82", "\xac"}},      // one character wider than a line
        {"", 5, 20, {""}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(to_hex(c.text) + " n " + std::to_string(c.n) + " max " + std::to_string(c.max));
        EXPECT_EQ(wrap_all(c.text, c.n, c.max), c.lines);
    }
    size_t len = 7;
    const char *cursor = nullptr;
    EXPECT_EQ(str_wrap_next_span(&cursor, &len, 5, 20), nullptr);
    EXPECT_EQ(len, 0u);
}

TEST(StrWrap, LongestWord)
{
    EXPECT_EQ(str_longest_word("", 0), 0u);
    EXPECT_EQ(str_longest_word(" \t\r\n", 4), 0u);
    EXPECT_EQ(str_longest_word("ab abcd\tabc", 12), 4u);
    EXPECT_EQ(str_longest_word("ab\0cd e", 7), 5u); // NUL bytes belong to words
    EXPECT_EQ(str_longest_word("abc\r\nabcde", 10), 5u);
}

// The one UTF-8 decoder: each character with its length and code point,
// and every malformed form refused, also when the bound cuts a sequence.
TEST(Utf8, DecodesWellFormedAndRefusesTheRest)
{
    struct Case {
        std::string bytes;
        size_t avail; // bytes the decoder may look at
        size_t length; // 0: refused
        uint32_t cp;
    } cases[] = {
        {"A", 1, 1, 'A'},
        {std::string(1, '\0'), 1, 1, 0}, // a NUL byte is a character too
        {"\xc3\xa9", 2, 2, 0xe9},
        {"\xe2\x82\xac", 3, 3, 0x20ac},
        {"\xf0\x9f\x98\x80", 4, 4, 0x1f600},
        {"\xf4\x8f\xbf\xbf", 4, 4, 0x10ffff},
        {"\xc3\xa9", 1, 0, 0},         // cut by the bound
        {"\xf0\x9f\x98\x80", 3, 0, 0}, // cut by the bound
        {"\x80", 1, 0, 0},             // a stray continuation byte
        {"\xc0\xaf", 2, 0, 0},         // overlong
        {"\xe0\x80\xaf", 3, 0, 0},     // overlong
        {"\xed\xa0\x80", 3, 0, 0},     // a surrogate
        {"\xf4\x90\x80\x80", 4, 0, 0}, // beyond U+10FFFF
        {"\xf8\x88\x80\x80\x80", 5, 0, 0},
        {"\xff", 1, 0, 0},
        {"\xc3" "A", 2, 0, 0},          // a lead byte without its continuation
        {"A", 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(to_hex(c.bytes) + " avail " + std::to_string(c.avail));
        std::vector<char> buf = exact(c.bytes.substr(0, c.avail));
        uint32_t cp = 0xdeadbeef;
        EXPECT_EQ(utf8_decode(buf.data(), c.avail, &cp), c.length);
        if (c.length) {
            EXPECT_EQ(cp, c.cp);
        }
        EXPECT_EQ(utf8_valid_n(buf.data(), c.avail), c.length == c.avail ? 1 : 0);
    }
    EXPECT_EQ(utf8_valid("plain caf\xc3\xa9 \xe2\x82\xac"), 1);
    EXPECT_EQ(utf8_valid("caf\xe9"), 0);
    EXPECT_EQ(utf8_valid("ok\xe2\x82"), 0);
    EXPECT_EQ(utf8_valid(""), 1);
    EXPECT_EQ(utf8_valid(nullptr), 1);
}

TEST(StrWide, RoundTripsThroughUtf16)
{
    const char *texts[] = {"", "plain", "caf\xc3\xa9", "\xe2\x82\xac 5",
                           "\xf0\x9f\x98\x80 smile", "\xf4\x8f\xbf\xbf"};
    for (const char *t : texts) {
        SCOPED_TRACE(to_hex(t));
        char16_t *w = str_to_wide(t);
        ASSERT_NE(w, nullptr);
        char *back = str_from_wide(w);
        ASSERT_NE(back, nullptr);
        EXPECT_STREQ(back, t);
        free(w);
        free(back);
    }
    char16_t *w = str_to_wide("a\xf0\x9f\x98\x80");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w[0], u'a');
    EXPECT_EQ(w[1], 0xD83D);
    EXPECT_EQ(w[2], 0xDE00);
    EXPECT_EQ(w[3], 0);
    free(w);
}

TEST(StrWide, RefusesMalformedInput)
{
    const char *bad_utf8[] = {
        "\x80",             // a continuation byte alone
        "\xc3",             // cut short by the NUL
        "\xc0\xaf",         // overlong
        "\xe0\x80\xaf",     // overlong
        "\xed\xa0\x80",     // a surrogate written in UTF-8
        "\xf4\x90\x80\x80", // beyond U+10FFFF
        "\xff",
        "ok\xe2\x82",
    };
    for (const char *t : bad_utf8) {
        SCOPED_TRACE(to_hex(t));
        EXPECT_EQ(str_to_wide(t), nullptr);
    }
    const std::u16string bad_utf16[] = {
        std::u16string(1, char16_t(0xD800)),      // high surrogate at the end
        u"a" + std::u16string(1, char16_t(0xDC00)) + u"b", // lone low surrogate
        std::u16string(1, char16_t(0xD800)) + u"x",
    };
    for (const std::u16string &t : bad_utf16) {
        SCOPED_TRACE(t.size());
        EXPECT_EQ(str_from_wide(t.c_str()), nullptr);
    }
    EXPECT_EQ(str_to_wide(nullptr), nullptr);
    EXPECT_EQ(str_from_wide(nullptr), nullptr);
}

TEST(StrSmall, Helpers)
{
    EXPECT_EQ(str_has_nonprint("plain text ~"), 0);
    EXPECT_EQ(str_has_nonprint("tab\there"), 1);
    EXPECT_EQ(str_has_nonprint("caf\xc3\xa9"), 1);
    EXPECT_EQ(str_has_nonprint("\x7f"), 1);
    EXPECT_EQ(str_has_nonprint(""), 0);

    EXPECT_EQ(str_is_ascii(nullptr), 1);
    EXPECT_EQ(str_is_ascii("plain text\t~"), 1);
    EXPECT_EQ(str_is_ascii("caf\xc3\xa9"), 0);

    EXPECT_EQ(int_abs(-5), 5);
    EXPECT_EQ(int_abs(7), 7);
    EXPECT_EQ(int_abs(INT_MAX), INT_MAX);
    EXPECT_EQ(int_abs(-INT_MAX), INT_MAX);
    EXPECT_EQ(int_abs(INT_MIN), INT_MIN); // no positive counterpart; no overflow

    const char *hay = "Hello World";
    EXPECT_EQ(str_contains_nocase(hay, "wORLD"), hay); // the text, not the match
    EXPECT_EQ(str_contains_nocase(hay, "worlds"), nullptr);
    EXPECT_EQ(str_contains_nocase(hay, ""), nullptr);
    EXPECT_EQ(str_contains_nocase("", "a"), nullptr);

    char r[] = "abcde";
    EXPECT_STREQ(str_reverse(r), "edcba");
    char r2[] = "";
    EXPECT_STREQ(str_reverse(r2), "");

    char line[] = "value\r\nmore";
    EXPECT_STREQ(str_cut_line_end(line), "value");
    char line2[] = "no end";
    EXPECT_STREQ(str_cut_line_end(line2), "no end");

    char in[] = "A-b c_9!\xc3\xa9";
    char out[sizeof in];
    EXPECT_EQ(str_keep_alnum_space(in, out), out);
    EXPECT_STREQ(out, "Ab c9");
    EXPECT_EQ(str_keep_alnum_space(in, nullptr), in);
    EXPECT_STREQ(in, "A-b c_9!\xc3\xa9");
}

TEST(StrFindAny, StopsAtBoundOrNul)
{
    const char *text = "key=value;rest";
    const char *pos = nullptr;
    EXPECT_EQ(str_find_any_bounded(text, ";=", &pos, nullptr), text + 3);
    EXPECT_EQ(pos, text + 3);
    EXPECT_EQ(str_find_any_bounded(text, ";", &pos, text + 5), nullptr);
    EXPECT_EQ(pos, text + 5); // stopped at the bound
    EXPECT_EQ(str_find_any_bounded(text, "#", &pos, nullptr), nullptr);
    EXPECT_EQ(pos, text + strlen(text)); // stopped at the NUL
    EXPECT_EQ(str_find_any_bounded(text, "", &pos, nullptr), nullptr);
    // Nothing at or after the bound is read.
    std::vector<char> buf = exact("abc");
    EXPECT_EQ(str_find_any_bounded(buf.data(), "z", &pos, buf.data() + buf.size()), nullptr);
    EXPECT_EQ(pos, buf.data() + 3);
}

// Every way a peer may quote a secret it got, against what the dialogue
// registered: passwords as typed and the texts sent (an AUTH PLAIN
// response, a proxy's Basic login).
TEST(StrMask, SecretsTheirPiecesAndBase64FormsBecomeOneMask)
{
    const StrSecret secrets[] = {
        {"AGJvYgBzM2NyZXQ=", STR_SECRET_SENT}, // PLAIN for bob, s3cret
        {nullptr, STR_SECRET_SENT},
        {"", STR_SECRET_PASSWORD},
        {"s3cret", STR_SECRET_PASSWORD},
        {"a+b/c", STR_SECRET_PASSWORD},
        {"good-token", STR_SECRET_PASSWORD},
        {"p@ss!", STR_SECRET_PASSWORD},
        {"ab cd", STR_SECRET_PASSWORD},
        {"cHU6cHIweHlTM2NyZXQ=", STR_SECRET_SENT}, // Basic for pu, pr0xyS3cret
    };
    struct Case {
        const char *text, *masked;
    } cases[] = {
        {"535 you said auth PLAIN AGJvYgBzM2NyZXQ= ok", "535 you said auth PLAIN **** ok"},
        {"AGJvYgBzM2NyZXQ=", "****"},
        {"535 twice AGJvYgBzM2NyZXQ=AGJvYgBzM2NyZXQ=", "535 twice ****"},
        // An echo cut short: a run of at least four base64 letters inside a
        // text sent; three letters, and runs that merely hold a piece, stay.
        {"535 got AGJvYgBz...", "535 got ****..."},
        {"535 got M2NyZXQ=", "535 got ****"},
        {"535 got AGJv, AGJvY, M2NyZX, AGJvYgB; kept AGJ and AGJvYgBzXXXX",
         "535 got ****, ****, ****, ****; kept AGJ and AGJvYgBzXXXX"},
        {"HTTP/1.1 407 you sent Basic cHU6cHI", "HTTP/1.1 407 you sent Basic ****"},
        // "=" ends a base64 text: a piece glued to a name by one still goes.
        {"535 response=AGJvYgBz, auth=PLAIN", "535 response=****, auth=PLAIN"},
        // A password's pieces go from eight letters: shorter ones are words.
        {"the bearer token holds 0x01", "the bearer token holds 0x01"},
        // A password wherever it stands, also inside a word.
        {"pw s3cret.", "pw ****."},
        {"xs3crety", "x****y"},
        {"s3crets3cret", "****"},
        // A short password only where it stands alone, whatever it holds.
        {"a+b/c", "****"},
        {"pw a+b/c.", "pw ****."},
        {"xa+b/cy", "xa+b/cy"},
        {"535 you said p@ss! (not xp@ss!y)", "535 you said **** (not xp@ss!y)"},
        {"535 grab cdef: ab cd", "535 grab cdef: ****"},
        {"535 [p@ss!]=[ab cd]", "535 [****]=[****]"},
        // A password's base64 at each alignment inside a longer base64 text
        // (PLAIN for al, ann, anna; LOGIN), and "user:password": the whole
        // run goes, its edge letters holding bits of the password too.
        {"535 got AGFsAHMzY3JldA== for al", "535 got **** for al"},
        {"535 got AGFubgBzM2NyZXQ= for ann", "535 got **** for ann"},
        {"535 got AGFubmEAczNjcmV0 for anna", "535 got **** for anna"},
        {"535 got czNjcmV0 and cEBzcyE=", "535 got **** and ****"},
        {"401 Basic Ym9iOnMzY3JldA== and Ym9iOnBAc3Mh and Ym9iOmFiIGNk", "401 Basic **** and **** and ****"},
        {"535 5.7.8 Authentication credentials invalid", "535 5.7.8 Authentication credentials invalid"},
        {"", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        char *masked = str_mask_secrets(c.text, secrets, sizeof secrets / sizeof secrets[0]);
        ASSERT_NE(masked, nullptr);
        EXPECT_STREQ(masked, c.masked);
        free(masked);
    }
    char *copy = str_mask_secrets("no secrets", nullptr, 0);
    EXPECT_STREQ(copy, "no secrets");
    free(copy);
}
