// The header-text encoder and decoder (checked against Python's e-mail
// package) and the Content-ID percent-escape.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "helpers.h"
#include "mail/hdrtext.h"
#include "support/encode.h"

namespace {

// n copies of s.
std::string rep(const std::string &s, int n)
{
    std::string r;
    for (int i = 0; i < n; i++)
        r += s;
    return r;
}

// Owns a result of hdr_encode_text.
std::string encode(const std::string &text)
{
    char *r = hdr_encode_text(text.c_str());
    EXPECT_NE(r, nullptr);
    std::string s = r ? r : "";
    free(r);
    return s;
}

std::vector<std::string> split_words(const std::string &s)
{
    std::vector<std::string> words;
    size_t start = 0;
    for (;;) {
        size_t sp = s.find(' ', start);
        words.push_back(s.substr(start, sp - start));
        if (sp == std::string::npos)
            return words;
        start = sp + 1;
    }
}

// Checks the form of every encoded word and returns the bytes they carry,
// in order. utf8_words: each word's bytes must be whole UTF-8 characters.
std::string decode_words(const std::string &encoded, bool utf8_words)
{
    std::string all;
    for (const std::string &w : split_words(encoded)) {
        SCOPED_TRACE(w);
        EXPECT_LE(w.size(), 75u);
        EXPECT_EQ(w.rfind("=?utf-8?B?", 0), 0u);
        EXPECT_GE(w.size(), 12u + 4u);
        EXPECT_EQ(w.substr(w.size() - 2), "?=");
        std::string b64 = w.substr(10, w.size() - 12);
        EXPECT_EQ(b64.size() % 4, 0u);
        EXPECT_EQ(b64.find_first_not_of(
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
                  std::string::npos);
        std::vector<unsigned char> buf(b64.size());
        size_t n = b64_decode(b64.data(), static_cast<ptrdiff_t>(b64.size()), buf.data());
        std::string bytes(reinterpret_cast<char *>(buf.data()), n);
        if (utf8_words) {
            // A word never starts with a continuation byte nor ends inside a
            // sequence.
            EXPECT_NE(static_cast<unsigned char>(bytes[0]) & 0xc0, 0x80);
            size_t i = bytes.size();
            while (i > 0 && (static_cast<unsigned char>(bytes[i - 1]) & 0xc0) == 0x80)
                i--;
            EXPECT_GT(i, 0u);
            if (i == 0)
                continue;
            unsigned char lead = static_cast<unsigned char>(bytes[i - 1]);
            size_t seq = lead < 0x80 ? 1 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
            EXPECT_EQ(bytes.size() - (i - 1), seq);
        }
        all += bytes;
    }
    return all;
}

// Python's e-mail package as the reader: decode_header on the words, and the
// modern header registry on a Subject folded at every space between words.
// Prints two lines: the bytes decode_header gives (hex), and the registry's
// decoded text (hex of its UTF-8, or "-" when the input is not UTF-8).
std::string python_decodes(const std::string &text, const std::string &encoded)
{
    const char *script =
        "import sys, email, email.header, email.policy\n"
        "src_hex, enc = sys.stdin.read().split('\\n')[:2]\n"
        "src = bytes.fromhex(src_hex)\n"
        "raw = b''.join(p if isinstance(p, bytes) else p.encode('ascii')\n"
        "               for p, _ in email.header.decode_header(enc))\n"
        "print(raw.hex())\n"
        "folded = '\\r\\n '.join(enc.split(' '))\n"
        "msg = email.message_from_string('Subject: ' + folded + '\\r\\n\\r\\n',\n"
        "                                policy=email.policy.default)\n"
        "try:\n"
        "    src.decode('utf-8')\n"
        "    print(str(msg['Subject']).encode('utf-8').hex())\n"
        "except UnicodeDecodeError:\n"
        "    print('-')\n";
    int status = -1;
    std::string out = run_python(script, to_hex(text) + "\n" + encoded + "\n", &status);
    EXPECT_EQ(status, 0) << out;
    return out;
}

} // namespace

// ---- header-text encoder ------------------------------------------------------

TEST(HeaderText, PlainPrintableTextPassesUnchanged)
{
    std::string every_printable;
    for (int c = 0x20; c <= 0x7e; c++)
        every_printable += static_cast<char>(c);
    const std::string cases[] = {
        "", "abc", "Hello World", "tab\there", "Re: [list] =?not-a-word?= 100% (ok)",
        every_printable,
        std::string(400, 'x'), // long plain text is the header writer's to fold
    };
    for (const std::string &t : cases) {
        SCOPED_TRACE(t);
        EXPECT_EQ(encode(t), t);
    }
    EXPECT_EQ(hdr_encode_text(nullptr), nullptr);
}

TEST(HeaderText, AnyOtherByteGivesEncodedWords)
{
    struct Case {
        std::string text;
        std::string expect;
    } cases[] = {
        // abc alone stays; with 0xE9 after it the base64 part is 8 long.
        {"abc\xe9", "=?utf-8?B?YWJj6Q==?="},
        {"J\xc3\xb6rg", "=?utf-8?B?SsO2cmc=?="},
        {"line\r\nBcc: x@y", "=?utf-8?B?bGluZQ0KQmNjOiB4QHk=?="},
        {"bell\x07", "=?utf-8?B?YmVsbAc=?="},
        {"del\x7f", "=?utf-8?B?ZGVsfw==?="},
        {"\n", "=?utf-8?B?Cg==?="},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(to_hex(c.text));
        EXPECT_EQ(encode(c.text), c.expect);
    }
}

TEST(HeaderText, WordsSplitOnlyBetweenCharacters)
{
    // A word carries at most 45 bytes, and only whole characters: the count
    // of words and the bytes in the first one show where each cut falls.
    std::string e2 = "\xc3\xa9", e3 = "\xe2\x82\xac", e4 = "\xf0\x9f\x98\x80";
    struct Case {
        std::string text;
        size_t words;
        size_t first_bytes;
    } cases[] = {
        {rep(e2, 22), 1, 44},
        {rep(e2, 23), 2, 44},         // 46 bytes: the 23rd character moves on
        {"a" + rep(e2, 22), 1, 45},
        {"a" + rep(e2, 23), 2, 45},
        {rep(e3, 15), 1, 45},
        {rep(e3, 16), 2, 45},
        {"ab" + rep(e3, 15), 2, 44},  // 47 bytes: a cut at 45 would split a char
        {rep(e4, 11), 1, 44},
        {rep(e4, 12), 2, 44},
        {"a" + rep(e4, 11), 1, 45},
        {"ab" + rep(e4, 11), 2, 42},
        {rep("x", 44) + e2, 2, 44},
        {rep("x", 45) + e2, 2, 45},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(to_hex(c.text));
        std::string enc = encode(c.text);
        std::vector<std::string> words = split_words(enc);
        EXPECT_EQ(words.size(), c.words);
        EXPECT_EQ(enc.find("  "), std::string::npos);
        EXPECT_EQ(decode_words(enc, true), c.text);
        EXPECT_EQ(decode_words(words[0], true).size(), c.first_bytes);
    }
}

TEST(HeaderText, EncodeWordsSizesTheFirstWordAndDecodeGivesTheBytesBack)
{
    // The one encoder behind every encoded word of a header: always words
    // (plain text too), the first one no larger than the room its line
    // has, whole characters in every word, and at least one in each.
    std::string e2 = "\xc3\xa9", e4 = "\xf0\x9f\x98\x80";
    struct Case {
        std::string text;
        size_t first_bytes;
        size_t words;
        size_t first_word_bytes;
    } cases[] = {
        {"abc", 45, 1, 3},
        {rep("x", 100), 9, 4, 9},           // 9, 45, 45, 1
        {rep(e2, 10), 5, 2, 4},             // a cut at 5 would split a character
        {rep(e4, 3), 3, 2, 4},              // the first character does not fit: it goes alone
        {rep("x", 100), 0, 3, 45},          // 0: a full word
        {rep("x", 100), 200, 3, 45},        // never more than a full word
        {std::string("a\0b\0", 4) + e2, 45, 1, 6}, // NUL bytes are bytes like any other
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(to_hex(c.text) + " first " + std::to_string(c.first_bytes));
        char *r = hdr_encode_words(c.text.data(), c.text.size(), c.first_bytes);
        ASSERT_NE(r, nullptr);
        std::string enc = r;
        free(r);
        std::vector<std::string> words = split_words(enc);
        EXPECT_EQ(words.size(), c.words);
        EXPECT_EQ(decode_words(enc, true), c.text);
        EXPECT_EQ(decode_words(words[0], true).size(), c.first_word_bytes);
        // The decoder the header writers use gives the bytes back.
        char *back = nullptr;
        size_t len = 0;
        ASSERT_EQ(hdr_decode_words(enc.c_str(), &back, &len), 1);
        EXPECT_EQ(std::string(back, len), c.text);
        free(back);
    }
    // Anything but words alone, separated by single spaces, is text.
    std::string overlong = "=?utf-8?B?" + std::string(64, 'A') + "?=";
    for (const char *text : {"", "abc", "=?utf-8?B?YWJj?=x", "=?utf-8?B?YWJj?=  =?utf-8?B?YWJj?=",
                             "=?utf-8?B?YWJ?=", "=?UTF-8?B?YWJj?=", " =?utf-8?B?YWJj?=", overlong.c_str()}) {
        SCOPED_TRACE(text);
        char *back = reinterpret_cast<char *>(1);
        size_t len = 9;
        EXPECT_EQ(hdr_decode_words(text, &back, &len), 0);
        EXPECT_EQ(back, nullptr);
        EXPECT_EQ(len, 0u);
    }
    char *empty = hdr_encode_words("", 0, 45);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    free(empty);
}

TEST(HeaderText, MalformedUtf8IsCarriedByteWise)
{
    // Lone Latin-1 bytes, a stray continuation byte, a sequence cut by the
    // end of the text and one cut by an ASCII byte: nothing is lost.
    const std::string cases[] = {
        [] {
            std::string s;
            for (int i = 0; i < 30; i++)
                s += "Caf\xe9 ";
            return s;
        }(),
        std::string(44, 'a') + "\x80\x80\x80",
        std::string(43, 'a') + "\xe2\x82",
        std::string(44, 'a') + "\xf0\x9f" "b\xf0\x9f\x98",
        "\xff\xfe" + std::string(60, 'z'),
    };
    for (const std::string &t : cases) {
        SCOPED_TRACE(to_hex(t));
        std::string enc = encode(t);
        EXPECT_EQ(decode_words(enc, false), t);
        std::string py = python_decodes(t, enc);
        EXPECT_EQ(py.substr(0, py.find('\n')), to_hex(t));
    }
}

TEST(HeaderText, LongMixedTextDecodesExactlyInPython)
{
    // 300 characters of ASCII and 2-, 3- and 4-byte characters, and a
    // 4-byte run that does not line up with the 45-byte words.
    const char *pieces[] = {"a",    "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", " ",
                            "Z",    "\xd0\xb6", "\xe4\xb8\xad", "\xf0\x9d\x84\x9e", "!",
                            "\t"};
    std::string mixed;
    for (int i = 0; i < 300; i++)
        mixed += pieces[(i * 7 + i / 3) % 11];
    std::string emoji = "x";
    for (int i = 0; i < 100; i++)
        emoji += "\xf0\x9f\x98\x80";
    for (const std::string &t : {mixed, emoji}) {
        SCOPED_TRACE(to_hex(t).substr(0, 40));
        std::string enc = encode(t);
        EXPECT_GT(split_words(enc).size(), 5u);
        EXPECT_EQ(decode_words(enc, true), t);
        EXPECT_EQ(python_decodes(t, enc), to_hex(t) + "\n" + to_hex(t) + "\n");
    }
}

// ---- Content-ID percent-escape --------------------------------------------------

TEST(PercentEscape, KeepsTheSafeSetAndEscapesEveryOtherByte)
{
    const std::string kept = " !$'()*+,-.0123456789;ABCDEFGHIJKLMNOPQRSTUVWXYZ_"
                             "abcdefghijklmnopqrstuvwxyz";
    ASSERT_EQ(kept.size(), 75u);
    for (int c = 1; c < 256; c++) {
        SCOPED_TRACE(c);
        char in[2] = {static_cast<char>(c), 0};
        char out[8];
        mime_percent_escape(in, out, sizeof out);
        if (kept.find(static_cast<char>(c)) != std::string::npos) {
            EXPECT_EQ(std::string(out), std::string(in));
        } else {
            char expect[4];
            snprintf(expect, sizeof expect, "%%%02x", c);
            EXPECT_EQ(std::string(out), expect);
        }
    }
    char out[64];
    EXPECT_EQ(mime_percent_escape("a%b/c:d@e \xdb", out, sizeof out), out);
    EXPECT_STREQ(out, "a%25b%2fc%3ad%40e %db");
}

TEST(PercentEscape, NeverWritesAPartialEscapeOrPastTheSize)
{
    struct Case {
        const char *text;
        size_t size;
        const char *expect;
    } cases[] = {
        {"a%", 4, "a"},    // "%25" needs positions 1-3 plus the NUL
        {"a%", 5, "a%25"},
        {"a%", 6, "a%25"},
        {"a%", 2, "a"},
        {"a%", 1, ""},
        {"abc", 3, "ab"},
        {"abc", 4, "abc"},
        {"%%", 7, "%25%25"},
        {"%%", 6, "%25"},
        {"", 1, ""},
        {nullptr, 4, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text ? c.text : "(null)") + " size " +
                     std::to_string(c.size));
        char buf[16];
        memset(buf, 'Z', sizeof buf);
        EXPECT_EQ(mime_percent_escape(c.text, buf, c.size), buf);
        EXPECT_STREQ(buf, c.expect);
        for (size_t i = c.size; i < sizeof buf; i++)
            ASSERT_EQ(buf[i], 'Z');
    }
    char untouched[4] = "xyz";
    mime_percent_escape("abc", untouched, 0);
    EXPECT_STREQ(untouched, "xyz");
}
