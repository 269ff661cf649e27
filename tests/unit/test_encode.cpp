// Encoders: base64 / base64url and the decoder (against Python's base64),
// uuencode (against binascii and the uudecode program), yEnc, the streaming
// quoted-printable encoder (line rules, slicing anywhere, round trip through
// Python's quopri) and the percent-encoder and quoted-printable decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "helpers.h"
#include "support/encode.h"

namespace {

// Room past what a size helper allows is filled with this and checked.
const unsigned char kCanary = 0xA5;
const size_t kCanaryLen = 16;

bool canary_intact(const std::string &buf, size_t from)
{
    for (size_t i = from; i < buf.size(); i++)
        if (static_cast<unsigned char>(buf[i]) != kCanary)
            return false;
    return true;
}

std::string random_bytes(std::mt19937 &rng, size_t n)
{
    std::string s(n, '\0');
    for (auto &c : s)
        c = static_cast<char>(rng() & 0xff);
    return s;
}

std::string b64(const std::string &in)
{
    std::string buf(b64_encoded_size(in.size()) + kCanaryLen, static_cast<char>(kCanary));
    size_t n = b64_encode(in.data(), static_cast<ptrdiff_t>(in.size()), buf.data());
    EXPECT_EQ(n, b64_encoded_size(in.size()));
    EXPECT_TRUE(canary_intact(buf, b64_encoded_size(in.size())));
    return buf.substr(0, n);
}

std::string b64url(const std::string &in)
{
    std::string buf(b64_encoded_size(in.size()) + kCanaryLen, static_cast<char>(kCanary));
    size_t n = b64_encode_url(in.data(), static_cast<ptrdiff_t>(in.size()), buf.data());
    EXPECT_LE(n, b64_encoded_size(in.size()));
    EXPECT_TRUE(canary_intact(buf, b64_encoded_size(in.size())));
    return buf.substr(0, n);
}

std::string unb64(const std::string &text)
{
    size_t room = b64_decoded_max(text.size());
    std::string buf(room + kCanaryLen, static_cast<char>(kCanary));
    size_t n = b64_decode(text.data(), static_cast<ptrdiff_t>(text.size()),
                          reinterpret_cast<unsigned char *>(buf.data()));
    EXPECT_LE(n, room);
    EXPECT_TRUE(canary_intact(buf, room));
    return buf.substr(0, n);
}

// One uuencoded line of up to 45 bytes.
std::string uu(const std::string &in)
{
    std::string buf(uu_line_size(in.size()) + kCanaryLen, static_cast<char>(kCanary));
    size_t n = uu_encode_line(in.data(), in.size(), buf.data());
    EXPECT_EQ(n, uu_line_size(in.size()));
    EXPECT_TRUE(canary_intact(buf, n));
    return buf.substr(0, n);
}

// Every 45-byte line followed by "\n", the shape binascii writes.
std::string uu_lines(const std::string &in)
{
    std::string out;
    for (size_t i = 0; i < in.size(); i += UU_LINE_MAX_BYTES)
        out += uu(in.substr(i, UU_LINE_MAX_BYTES)) + "\n";
    return out;
}

std::string yenc(const std::string &in)
{
    std::string buf(yenc_max_output(in.size()) + kCanaryLen, static_cast<char>(kCanary));
    size_t n = yenc_encode(in.data(), in.size(), buf.data());
    EXPECT_LE(n, yenc_max_output(in.size()));
    EXPECT_TRUE(canary_intact(buf, yenc_max_output(in.size())));
    return buf.substr(0, n);
}

std::string unyenc(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '=' && i + 1 < text.size())
            c = static_cast<unsigned char>(static_cast<unsigned char>(text[++i]) - 64);
        out += static_cast<char>(c - 42);
    }
    return out;
}

// Records for the Python oracles: a 4-byte big-endian length, then the bytes.
std::string frame(const std::vector<std::string> &items)
{
    std::string out;
    for (const auto &s : items) {
        uint32_t n = static_cast<uint32_t>(s.size());
        out += static_cast<char>(n >> 24);
        out += static_cast<char>(n >> 16);
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(n);
        out += s;
    }
    return out;
}

std::vector<std::string> unframe(const std::string &in)
{
    std::vector<std::string> items;
    size_t pos = 0;
    while (pos + 4 <= in.size()) {
        uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(in[pos])) << 24 |
                     static_cast<uint32_t>(static_cast<unsigned char>(in[pos + 1])) << 16 |
                     static_cast<uint32_t>(static_cast<unsigned char>(in[pos + 2])) << 8 |
                     static_cast<unsigned char>(in[pos + 3]);
        pos += 4;
        items.push_back(in.substr(pos, n));
        pos += n;
    }
    return items;
}

const char kPyFraming[] = R"(
import sys, struct
def read_items(data):
    items, pos = [], 0
    while pos + 4 <= len(data):
        n = struct.unpack('>I', data[pos:pos + 4])[0]
        items.append(data[pos + 4:pos + 4 + n])
        pos += 4 + n
    return items
def write_items(items):
    sys.stdout.buffer.write(b''.join(struct.pack('>I', len(x)) + x for x in items))
)";

// Runs `transform` (a Python expression of x, giving bytes) over each item.
std::vector<std::string> python_map(const std::string &expr, const std::vector<std::string> &items,
                                    const std::string &imports)
{
    std::string script = std::string(kPyFraming) + imports +
                         "\nwrite_items([" + expr + " for x in read_items(sys.stdin.buffer.read())])\n";
    int status = -1;
    std::string out = run_python(script, frame(items), &status);
    EXPECT_EQ(status, 0);
    return unframe(out);
}

const std::vector<size_t> kSizes = {0, 1, 2, 3, 4, 5, 44, 45, 46, 56, 57, 58, 59, 1000, 65536 + 7, 300001};

// ---- base64 -------------------------------------------------------------

TEST(Base64, KnownVectors)
{
    struct Case {
        std::string in;
        const char *b64, *url;
    } cases[] = {
        {"", "", ""},
        {"f", "Zg==", "Zg"},
        {"fo", "Zm8=", "Zm8"},
        {"foo", "Zm9v", "Zm9v"},
        {"foob", "Zm9vYg==", "Zm9vYg"},
        {"fooba", "Zm9vYmE=", "Zm9vYmE"},
        {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
        {"\xfb\xff\xbf", "+/+/", "-_-_"},
        {std::string(3, '\0'), "AAAA", "AAAA"},
        {std::string(1, '\xff'), "/w==", "_w"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.b64);
        EXPECT_EQ(b64(c.in), c.b64);
        EXPECT_EQ(b64url(c.in), c.url);
        EXPECT_EQ(unb64(c.b64), c.in);
        EXPECT_EQ(unb64(c.url), c.in);
    }
}

TEST(Base64, NegativeLengthTakesTheText)
{
    char out[32];
    EXPECT_EQ(b64_encode("foobar", -1, out), 8u);
    EXPECT_EQ(std::string(out, 8), "Zm9vYmFy");
    EXPECT_EQ(b64_encode_url("fo", -5, out), 3u);
    EXPECT_EQ(std::string(out, 3), "Zm8");
    memset(out, 'x', sizeof out);
    EXPECT_EQ(b64_encode("foobar", 0, out), 0u);
    EXPECT_EQ(b64_encode_url("", -1, out), 0u);
    EXPECT_EQ(out[0], 'x');
}

TEST(Base64, MatchesPythonAtEverySize)
{
    std::mt19937 rng(1);
    std::vector<std::string> inputs;
    for (size_t n : kSizes)
        inputs.push_back(random_bytes(rng, n));
    auto std_out = python_map("base64.b64encode(x)", inputs, "import base64");
    auto url_out = python_map("base64.urlsafe_b64encode(x).rstrip(b'=')", inputs, "import base64");
    ASSERT_EQ(std_out.size(), inputs.size());
    ASSERT_EQ(url_out.size(), inputs.size());
    for (size_t i = 0; i < inputs.size(); i++) {
        SCOPED_TRACE(inputs[i].size());
        EXPECT_EQ(b64(inputs[i]), std_out[i]);
        EXPECT_EQ(b64url(inputs[i]), url_out[i]);
        EXPECT_EQ(unb64(std_out[i]), inputs[i]);
        EXPECT_EQ(unb64(url_out[i]), inputs[i]);
    }
}

// The MIME writers cut bodies into 57-byte slices: each gives one whole
// 76-character line, and the lines join to the base64 of the whole.
TEST(Base64, SlicesOf57BytesGiveWholeLines)
{
    std::mt19937 rng(2);
    std::string data = random_bytes(rng, 57 * 20 + 13);
    std::string joined;
    for (size_t i = 0; i < data.size(); i += B64_LINE_BYTES) {
        std::string line = b64(data.substr(i, B64_LINE_BYTES));
        if (i + B64_LINE_BYTES <= data.size()) {
            EXPECT_EQ(line.size(), 76u);
        }
        joined += line;
    }
    EXPECT_EQ(joined, b64(data));
}

TEST(Base64Decode, TableOfEveryByte)
{
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int c = 0; c < 256; c++) {
        SCOPED_TRACE(c);
        int want = 0;
        size_t at = alphabet.find(static_cast<char>(c));
        if (c != 0 && at != std::string::npos)
            want = static_cast<int>(at);
        if (c == '-')
            want = 62;
        if (c == '_')
            want = 63;
        // The character in first place gives the top 6 bits of the first byte.
        std::string text = std::string(1, static_cast<char>(c)) + "AAA";
        unsigned char out[3];
        ASSERT_EQ(b64_decode(text.data(), 4, out), 3u);
        EXPECT_EQ(out[0] >> 2, want);
    }
}

TEST(Base64Decode, LengthsAndPadding)
{
    struct Case {
        const char *text;
        const char *bytes;
        size_t len;
    } cases[] = {
        {"QQ==", "A", 1}, {"QUI=", "AB", 2}, {"QUJD", "ABC", 3},  {"QQ", "A", 1},
        {"QUI", "AB", 2}, {"QQ=", "A", 1},   {"QUJDRA", "ABCD", 4}, {"QUJDRA==", "ABCD", 4},
        // A last character alone in its group carries no byte.
        {"QUJD\n", "ABC", 3}, {"Q", "", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(unb64(c.text), std::string(c.bytes, c.len));
    }
    unsigned char out[8] = {7};
    EXPECT_EQ(b64_decode("QUJD", 0, out), 0u);
    EXPECT_EQ(b64_decode("QUJD", -1, out), 0u);
    EXPECT_EQ(out[0], 7);
}

TEST(Base64Decode, BothAlphabetsGiveTheSameBytes)
{
    std::mt19937 rng(3);
    for (size_t n : kSizes) {
        SCOPED_TRACE(n);
        std::string data = random_bytes(rng, n);
        std::string std_text = b64(data), url_text = b64url(data);
        std::string mixed = std_text;
        for (size_t i = 0; i < mixed.size(); i += 2) {
            if (mixed[i] == '+')
                mixed[i] = '-';
            if (mixed[i] == '/')
                mixed[i] = '_';
        }
        EXPECT_EQ(unb64(std_text), data);
        EXPECT_EQ(unb64(url_text), data);
        EXPECT_EQ(unb64(mixed), data);
    }
}

// Characters outside the alphabets are not skipped: a line end counts as a
// character of value 0 and shifts every group after it.
TEST(Base64Decode, LineEndShiftsTheGroupsAfterIt)
{
    // "\r\nRE" is one group and "VG" the cut-off last one.
    EXPECT_EQ(unb64("QUJD\r\nREVG"), std::string("ABC\x00\x04" "DT", 7));
    EXPECT_EQ(unb64("QUJDREVG"), "ABCDEF");
}

// ---- uuencode -----------------------------------------------------------

TEST(Uuencode, LineShapes)
{
    EXPECT_EQ(uu(std::string(45, 'a')).size(), 61u);
    EXPECT_EQ(uu(std::string(45, 'a'))[0], 'M');
    EXPECT_EQ(uu("a"), "!80``");
    EXPECT_EQ(uu(std::string(3, '\0')), "#````");
    // An empty line's length character is 32 + 0, a space (binascii writes
    // "`" there); the writers end the data with their own "`" line.
    EXPECT_EQ(uu(""), " ");
    char out[80];
    memset(out, 'x', sizeof out);
    EXPECT_EQ(uu_encode_line(std::string(46, 'a').data(), 46, out), 0u);
    EXPECT_EQ(out[0], 'x');
}

TEST(Uuencode, MatchesBinasciiForEveryLineLength)
{
    std::mt19937 rng(4);
    std::vector<std::string> inputs;
    for (size_t n = 1; n <= UU_LINE_MAX_BYTES; n++)
        inputs.push_back(random_bytes(rng, n));
    inputs.push_back(std::string(45, '\0'));
    inputs.push_back(std::string(45, '\xff'));
    auto want = python_map("binascii.b2a_uu(x, backtick=True)", inputs, "import binascii");
    ASSERT_EQ(want.size(), inputs.size());
    for (size_t i = 0; i < inputs.size(); i++) {
        SCOPED_TRACE(inputs[i].size());
        EXPECT_EQ(uu(inputs[i]) + "\n", want[i]);
    }
}

TEST(Uuencode, UudecodeReadsAWholeFile)
{
    std::mt19937 rng(5);
    for (size_t n : {size_t{1}, size_t{44}, size_t{45}, size_t{46}, size_t{90}, size_t{100003}}) {
        SCOPED_TRACE(n);
        std::string data = random_bytes(rng, n);
        std::string file = "begin 644 data.bin\n" + uu_lines(data) + "`\nend\n";
        int status = -1;
        std::string back = run_command("uudecode -o /dev/stdout", file, &status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(back, data);
    }
}

// ---- yEnc ---------------------------------------------------------------

TEST(Yenc, EscapedBytes)
{
    struct Case {
        unsigned char in;
        const char *out;
    } cases[] = {
        {214, "=@"}, {224, "=J"}, {227, "=M"}, {19, "=}"}, {0, "*"}, {1, "+"}, {213, "\xff"}, {215, "\x01"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.in));
        EXPECT_EQ(yenc(std::string(1, static_cast<char>(c.in))), c.out);
    }
    char out[4] = {'x'};
    EXPECT_EQ(yenc_encode("a", 0, out), 0u);
    EXPECT_EQ(out[0], 'x');
}

TEST(Yenc, RoundTripsAndNeverWritesCriticalBytes)
{
    std::mt19937 rng(6);
    std::string every;
    for (int b = 0; b < 256; b++)
        every += static_cast<char>(b);
    std::vector<std::string> inputs = {every, std::string(1000, '\xd6'), std::string(1000, '\x13')};
    for (size_t n : kSizes)
        inputs.push_back(random_bytes(rng, n));
    for (const auto &in : inputs) {
        SCOPED_TRACE(in.size());
        std::string out = yenc(in);
        EXPECT_EQ(unyenc(out), in);
        EXPECT_EQ(out.find_first_of(std::string("\0\r\n", 3)), std::string::npos);
    }
    // Exactly the four critical bytes are escaped.
    EXPECT_EQ(yenc(every).size(), 256u + 4u);
}

// ---- quoted-printable ---------------------------------------------------

// Encodes in slices of the given sizes (cycled), then flushes; each call's
// output is checked against its room helper.
std::string qp_sliced(const std::string &in, int text, const std::vector<size_t> &slices,
                      QpState *end_state = nullptr)
{
    QpState st = {};
    std::string out;
    size_t pos = 0, k = 0;
    while (pos < in.size()) {
        size_t n = slices.empty() ? in.size() : slices[k++ % slices.size()];
        if (n > in.size() - pos)
            n = in.size() - pos;
        std::string buf(qp_max_output(n) + kCanaryLen, static_cast<char>(kCanary));
        size_t w = qp_encode(&st, in.data() + pos, static_cast<ptrdiff_t>(n), buf.data(), text);
        EXPECT_LE(w, qp_max_output(n));
        EXPECT_TRUE(canary_intact(buf, qp_max_output(n)));
        out.append(buf, 0, w);
        pos += n;
    }
    if (end_state)
        *end_state = st;
    std::string buf(QP_FLUSH_MAX + kCanaryLen, static_cast<char>(kCanary));
    size_t w = qp_encode(&st, nullptr, 0, buf.data(), text);
    EXPECT_LE(w, 7u);
    EXPECT_TRUE(canary_intact(buf, QP_FLUSH_MAX));
    EXPECT_EQ(st.pending, 0);
    EXPECT_EQ(st.held, 0);
    out.append(buf, 0, w);
    return out;
}

std::string qp(const std::string &in, int text = 1) { return qp_sliced(in, text, {}); }

bool is_upper_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// The line rules every output must keep; returns an empty text or the fault.
std::string qp_fault(const std::string &out, int text)
{
    for (size_t start = 0;;) {
        size_t end = out.find("\r\n", start);
        bool last = end == std::string::npos;
        std::string line = out.substr(start, last ? std::string::npos : end - start);
        std::string where = " in line \"" + line + "\"";
        if (line.size() > QP_LINE_MAX)
            return "longer than 76" + where;
        if (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            return "trailing blank" + where;
        if (!line.empty() && line[0] == '.')
            return "leading dot" + where;
        for (size_t i = 0; i < line.size(); i++) {
            unsigned char c = static_cast<unsigned char>(line[i]);
            if (c == '=' && i + 1 < line.size()) {
                if (i + 2 >= line.size() || !is_upper_hex(line[i + 1]) || !is_upper_hex(line[i + 2]))
                    return "bad escape" + where;
                i += 2;
            } else if (c != '=' && c != ' ' && c != '\t' && (c < '!' || c > '~')) {
                return "raw byte " + std::to_string(c) + where;
            }
        }
        // Data "=" is always escaped, so a line ending in "=" is a soft break.
        bool soft = !line.empty() && line.back() == '=';
        if (last)
            return soft ? "ends in a soft break" : "";
        if (!text && !soft)
            return "hard line break in binary data" + where;
        start = end + 2;
    }
}

TEST(QuotedPrintable, LineRules)
{
    const std::string L75(75, 'a'), L73(73, 'a'), L72(72, 'a'), L74(74, 'a');
    struct Case {
        const char *name;
        std::string in, out;
        int text;
    } cases[] = {
        {"80 letters", std::string(80, 'a'), L75 + "=\r\n" + "aaaaa", 1},
        {"= at column 73", L73 + "=", L73 + "=\r\n=3D", 1},
        {"= at column 72", L72 + "=", L72 + "=3D", 1},
        {"8-bit run", std::string(30, '\xe9'), [] {
             std::string s;
             for (int i = 0; i < 25; i++)
                 s += "=E9";
             s += "=\r\n";
             for (int i = 0; i < 5; i++)
                 s += "=E9";
             return s;
         }(), 1},
        {"leading dot", ".abc", "=2Eabc", 1},
        {"dot after a soft break", L75 + ".x", L75 + "=\r\n=2Ex", 1},
        {"dot after a hard break", "a\r\n.b", "a\r\n=2Eb", 1},
        {"dot inside a line", "a.b", "a.b", 1},
        {"CR LF", "ab\r\ncd\r\n\r\nef", "ab\r\ncd\r\n\r\nef", 1},
        {"lone LF", "a\nb", "a=0Ab", 1},
        {"lone CR", "a\rb", "a=0Db", 1},
        {"CR CR LF", "a\r\r\nb", "a=0D\r\nb", 1},
        {"CR at the end", "ab\r", "ab=0D", 1},
        {"CR at column 75 at the end", L75 + "\r", L75 + "=\r\n=0D", 1},
        {"CR at column 72 at the end", L72 + "\r", L72 + "=0D", 1},
        {"lone CR at column 73", L73 + "\rb", L73 + "=\r\n=0Db", 1},
        {"binary CR LF", "a\r\nb", "a=0D=0Ab", 0},
        {"binary dot", ".a", "=2Ea", 0},
        {"equals", "a=b", "a=3Db", 1},
        {"control and DEL", std::string("\x01\x7f", 2), "=01=7F", 1},
        {"NUL", std::string("a\0b", 3), "a=00b", 0},
        // A blank before a line end is encoded; elsewhere it stays plain.
        {"space before CR LF", "a \r\nb", "a=20\r\nb", 1},
        {"TAB before CR LF", "a\t\r\nb", "a=09\r\nb", 1},
        {"two spaces before CR LF", "a  \r\nb", "a =20\r\nb", 1},
        {"blanks inside a line", "a b\tc  d", "a b\tc  d", 1},
        {"space at the end", "ab ", "ab=20", 1},
        {"TAB at the end", "ab\t", "ab=09", 1},
        {"space at the end, binary", "ab ", "ab=20", 0},
        {"space before a lone CR", "a \rb", "a =0Db", 1},
        {"space and CR at the end", "a \r", "a =0D", 1},
        {"space before a lone LF", "a \nb", "a =0Ab", 1},
        {"space before binary CR LF", "a \r\n", "a =0D=0A", 0},
        {"space at column 74", L74 + " b", L74 + " =\r\nb", 1},
        {"space at column 75", L75 + " b", L75 + "=\r\n b", 1},
        {"space before CR LF at column 73", L73 + " \r\nb", L73 + "=\r\n=20\r\nb", 1},
        {"space before CR LF at column 72", L72 + " \r\nb", L72 + "=20\r\nb", 1},
        {"space at the end at column 75", L75 + " ", L75 + "=\r\n=20", 1},
        {"only blanks", "  \t ", "  \t=20", 1},
        {"empty", "", "", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string got = qp(c.in, c.text);
        EXPECT_EQ(got, c.out);
        EXPECT_EQ(qp_fault(got, c.text), "");
        // One byte per call gives the same bytes.
        EXPECT_EQ(qp_sliced(c.in, c.text, {1}), c.out);
    }
}

TEST(QuotedPrintable, CrAndLfInSeparateCalls)
{
    EXPECT_EQ(qp_sliced("ab\r\ncd", 1, {3, 3}), "ab\r\ncd");
    EXPECT_EQ(qp_sliced("a \r\n.b", 1, {2, 1, 1, 2}), "a=20\r\n=2Eb");
    QpState st = {};
    char out[64];
    EXPECT_EQ(qp_encode(&st, "ab\r", 3, out, 1), 2u);
    EXPECT_EQ(st.pending, '\r');
    EXPECT_EQ(st.column, 2);
    // A count of 0 or less changes nothing.
    EXPECT_EQ(qp_encode(&st, "x", 0, out, 1), 0u);
    EXPECT_EQ(qp_encode(&st, "x", -1, out, 1), 0u);
    EXPECT_EQ(st.pending, '\r');
    EXPECT_EQ(qp_encode(&st, "\n", 1, out, 1), 2u);
    EXPECT_EQ(std::string(out, 2), "\r\n");
    EXPECT_EQ(st.column, 0);
    EXPECT_EQ(st.pending, 0);
}

// The flush from every column, with every combination of held bytes, stays
// within its room and the line rules.
TEST(QuotedPrintable, FlushFromEveryState)
{
    for (int column = 0; column <= QP_LINE_MAX - 1; column++)
        for (char held : {'\0', ' ', '\t'})
            for (char pending : {'\0', '\r'}) {
                SCOPED_TRACE(std::to_string(column) + " " + std::to_string(held) + " " + std::to_string(pending));
                QpState st = {column, pending, held};
                std::string buf(QP_FLUSH_MAX + kCanaryLen, static_cast<char>(kCanary));
                size_t n = qp_encode(&st, nullptr, 0, buf.data(), 1);
                EXPECT_LE(n, 7u);
                EXPECT_TRUE(canary_intact(buf, QP_FLUSH_MAX));
                EXPECT_EQ(qp_fault(std::string(static_cast<size_t>(column), 'a') + buf.substr(0, n), 1), "");
                EXPECT_EQ(st.pending, 0);
                EXPECT_EQ(st.held, 0);
                if (!held && !pending) {
                    EXPECT_EQ(n, 0u);
                }
                if (n == 0) {
                    EXPECT_EQ(st.column, 0);
                }
            }
}

// Text full of what the rules care about.
std::string tricky_text(std::mt19937 &rng, size_t n)
{
    static const char pieces[][4] = {" ", "\t", "\r\n", "\r", "\n", "=", ".", "\xe9", "\x01", "  ", "\r\n."};
    std::string s;
    while (s.size() < n) {
        unsigned r = rng() % 24;
        if (r < 11)
            s += pieces[r];
        else
            s += std::string(rng() % 90, static_cast<char>('a' + r));
    }
    s.resize(n);
    return s;
}

std::vector<std::string> qp_inputs()
{
    std::mt19937 rng(7);
    std::vector<std::string> inputs;
    for (size_t n : kSizes) {
        inputs.push_back(tricky_text(rng, n));
        inputs.push_back(random_bytes(rng, n));
    }
    // Mostly plain text with CR LF line ends, some lines over 76.
    std::string prose;
    while (prose.size() < 50000) {
        prose += std::string(rng() % 120, 'x');
        prose += rng() % 3 ? " word" : " \r\n";
    }
    inputs.push_back(prose);
    return inputs;
}

TEST(QuotedPrintable, SlicingAnywhereGivesTheSameOutput)
{
    std::mt19937 rng(8);
    for (int text : {1, 0}) {
        for (const auto &in : qp_inputs()) {
            if (in.size() > 70000)
                continue;
            SCOPED_TRACE(std::to_string(text) + " size " + std::to_string(in.size()));
            QpState whole_state, sliced_state;
            std::string whole = qp_sliced(in, text, {}, &whole_state);
            EXPECT_EQ(qp_fault(whole, text), "");
            std::vector<size_t> small, large;
            for (int i = 0; i < 64; i++) {
                small.push_back(1 + rng() % 7);
                large.push_back(1 + rng() % 5000);
            }
            for (const auto &slices : {std::vector<size_t>{1}, small, large}) {
                EXPECT_EQ(qp_sliced(in, text, slices, &sliced_state), whole);
                EXPECT_EQ(sliced_state.column, whole_state.column);
                EXPECT_EQ(sliced_state.pending, whole_state.pending);
                EXPECT_EQ(sliced_state.held, whole_state.held);
            }
        }
    }
}

// Python's quopri decodes what we write back to the input, in both modes
// (text mode: CR LF are hard line breaks, lone CR and LF are escaped).
TEST(QuotedPrintable, QuopriDecodesBackToTheInput)
{
    auto inputs = qp_inputs();
    for (int text : {1, 0}) {
        SCOPED_TRACE(text);
        std::vector<std::string> encoded;
        for (const auto &in : inputs)
            encoded.push_back(qp(in, text));
        auto decoded = python_map("quopri.decodestring(x)", encoded, "import quopri");
        ASSERT_EQ(decoded.size(), inputs.size());
        for (size_t i = 0; i < inputs.size(); i++) {
            SCOPED_TRACE(i);
            EXPECT_EQ(decoded[i], inputs[i]);
            EXPECT_EQ(qp_fault(encoded[i], text), "");
        }
    }
}

// The worst bytes one at a time, from every state, stay within the room.
TEST(QuotedPrintable, RoomHelperHoldsForTheWorstInput)
{
    std::mt19937 rng(9);
    const char worst[] = {' ', '\t', '\r', '\n', '\xff', '=', '.', 'a'};
    std::string in;
    for (int i = 0; i < 20000; i++)
        in += worst[rng() % sizeof worst];
    for (int text : {1, 0}) {
        for (size_t slice : {size_t{1}, size_t{2}, size_t{3}, size_t{100}}) {
            SCOPED_TRACE(slice);
            std::string out = qp_sliced(in, text, {slice});
            EXPECT_EQ(qp_fault(out, text), "");
        }
    }
}

// ---- percent-encoding and quoted-printable decoding ---------------------

TEST(PercentEncode, Table)
{
    struct Case {
        const char *in, *out;
        size_t size;
    } cases[] = {
        {"a b", "a+b", 64},
        {"!$'()*,-.;_", "!$'()*,-.;_", 64},
        {"AZaz09", "AZaz09", 64},
        {"/?&=+%~\"", "%2f%3f%26%3d%2b%25%7e%22", 64},
        {"\xc3\xa9\x01\x7f", "%c3%a9%01%7f", 64},
        {"", "", 64},
        // Stops before a replacement that leaves no room for the NUL.
        {"a%b", "a", 4},
        {"a%b", "a%25", 5},
        {"abc", "ab", 3},
        {"abc", "", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in);
        std::string buf(c.size + kCanaryLen, static_cast<char>(kCanary));
        EXPECT_EQ(pct_encode(c.in, buf.data(), c.size), buf.data());
        EXPECT_STREQ(buf.c_str(), c.out);
        EXPECT_TRUE(canary_intact(buf, c.size));
    }
    char untouched = 'x';
    EXPECT_EQ(pct_encode("abc", &untouched, 0), &untouched);
    EXPECT_EQ(untouched, 'x');
}

// The one escaper under both forms: what it keeps is the caller's choice.
TEST(PercentEscape, KeptBytesAndSpaceAreTheCallersChoice)
{
    struct Case {
        const char *in, *keep;
        int space_as_plus;
        const char *out;
    } cases[] = {
        {"a b+c", " +", 0, "a b+c"},
        {"a b+c", "", 0, "a%20b%2bc"},
        {"a b+c", nullptr, 1, "a+b%2bc"},
        {"x.y_z", "._", 0, "x.y_z"},
        {"\xc3\xa9", "", 0, "%c3%a9"},
        {nullptr, "", 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in ? c.in : "(null)");
        char out[32];
        EXPECT_STREQ(pct_escape(c.in, c.keep, c.space_as_plus, out, sizeof out), c.out);
    }
}

TEST(QuotedPrintableDecode, Table)
{
    struct Case {
        const char *in;
        int line_mode;
        std::string out;
    } cases[] = {
        {"a=3Db", 0, "a=b"},
        {"a=3db=e9", 0, "a=b\xe9"},
        {"soft=\r\nbreak", 0, "softbreak"},
        {"soft=\nbreak", 0, "softbreak"},
        {"soft=\rbreak", 0, "softbreak"},
        {"bad=G1x", 0, "badx"},
        {"plain text", 1, "plain text\r\n"},
        {"a=3Db", 1, "a=b\r\n"},
        {"goes on=", 1, "goes on"},
        {"", 1, "\r\n"},
        {"", 0, ""},
        // Cut-off escapes.
        {"abc=", 0, ""},
        {"abc=4", 0, ""},
        {"abc=4", 1, "abc\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in);
        size_t len = strlen(c.in);
        std::string buf(qp_decoded_max(len) + kCanaryLen, static_cast<char>(kCanary));
        size_t n = qp_decode(c.in, len, buf.data(), c.line_mode);
        EXPECT_EQ(buf.substr(0, n), c.out);
        EXPECT_TRUE(canary_intact(buf, qp_decoded_max(len)));
    }
}

TEST(QuotedPrintableDecode, ReadsWhatTheEncoderWrites)
{
    std::mt19937 rng(10);
    for (size_t n : kSizes) {
        SCOPED_TRACE(n);
        std::string data = random_bytes(rng, n);
        std::string enc = qp(data, 0);
        std::string buf(qp_decoded_max(enc.size()), '\0');
        size_t got = qp_decode(enc.data(), enc.size(), buf.data(), 0);
        EXPECT_EQ(buf.substr(0, got), data);
    }
}

} // namespace
