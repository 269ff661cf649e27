// MD5 against the RFC 1321 test suite and Python's hashlib, HMAC-MD5 against
// the RFC 2202 cases and Python's hmac, the padding at the block edges, the
// bit count's carry, the wiping of the state and the hexadecimal form.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "helpers.h"
#include "support/md5.h"

namespace {

std::string hex_of(const unsigned char digest[MD5_DIGEST_LEN])
{
    char text[MD5_HEX_LEN + 1];
    return md5_digest_hex(text, digest);
}

std::string md5_hex(const std::string &data)
{
    unsigned char d[MD5_DIGEST_LEN];
    md5_digest(d, data.data(), static_cast<ptrdiff_t>(data.size()));
    return hex_of(d);
}

// The same digest through md5_update in pieces of the given sizes (cycled).
std::string md5_pieces(const std::string &data, const std::vector<size_t> &pieces)
{
    Md5State st;
    md5_init(&st);
    size_t pos = 0, k = 0;
    while (pos < data.size()) {
        size_t n = pieces[k++ % pieces.size()];
        if (n > data.size() - pos)
            n = data.size() - pos;
        md5_update(&st, data.data() + pos, n);
        pos += n;
    }
    unsigned char d[MD5_DIGEST_LEN];
    md5_final(d, &st);
    return hex_of(d);
}

std::string hmac_hex(const std::string &msg, const std::string &key)
{
    unsigned char d[MD5_DIGEST_LEN];
    hmac_md5(msg.data(), static_cast<ptrdiff_t>(msg.size()), key.data(), static_cast<ptrdiff_t>(key.size()), d);
    return hex_of(d);
}

std::string random_bytes(std::mt19937 &rng, size_t n)
{
    std::string s(n, '\0');
    for (auto &c : s)
        c = static_cast<char>(rng() & 0xff);
    return s;
}

TEST(Md5, Rfc1321Suite)
{
    struct Case {
        const char *text, *digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(md5_hex(c.text), c.digest);
        unsigned char d[MD5_DIGEST_LEN];
        md5_digest(d, c.text, -1);
        EXPECT_EQ(hex_of(d), c.digest);
        EXPECT_EQ(md5_pieces(c.text, {1}), c.digest);
        EXPECT_EQ(md5_pieces(c.text, {3, 61, 7}), c.digest);
    }
}

// Every length around the block and padding edges, against hashlib, whole
// and in pieces.
TEST(Md5, MatchesHashlibAtTheBlockEdges)
{
    std::mt19937 rng(11);
    std::vector<std::string> inputs;
    std::string script = "import hashlib, sys\ndata = sys.stdin.buffer.read()\npos = 0\n"
                         "for n in [";
    std::string all;
    for (size_t n = 0; n <= 200; n++)
        inputs.push_back(random_bytes(rng, n));
    inputs.push_back(random_bytes(rng, 1000003));
    for (const auto &in : inputs) {
        script += std::to_string(in.size()) + ",";
        all += in;
    }
    script += "]:\n    print(hashlib.md5(data[pos:pos + n]).hexdigest())\n    pos += n\n";
    int status = -1;
    std::string out = run_python(script, all, &status);
    ASSERT_EQ(status, 0);
    size_t line = 0;
    for (const auto &in : inputs) {
        SCOPED_TRACE(in.size());
        std::string want = out.substr(line * 33, 32);
        line++;
        EXPECT_EQ(md5_hex(in), want);
        EXPECT_EQ(md5_pieces(in, {1, 63, 64, 65, 200}), want);
    }
}

// A message of 55 bytes ends in one final block (0x80 and the bit count fit
// behind it), one of 56 bytes in two.
TEST(Md5, PaddingOfTheLastBlock)
{
    for (size_t n : {size_t{55}, size_t{56}}) {
        SCOPED_TRACE(n);
        std::string msg(n, 'q');
        std::string padded = msg + '\x80';
        while (padded.size() % 64 != 56)
            padded += '\0';
        uint64_t bits = n * 8;
        for (int i = 0; i < 8; i++)
            padded += static_cast<char>(bits >> (8 * i));
        EXPECT_EQ(padded.size(), n == 55 ? 64u : 128u);

        Md5State st;
        md5_init(&st);
        for (size_t b = 0; b < padded.size(); b += 64)
            md5_transform(&st, reinterpret_cast<const unsigned char *>(padded.data() + b));
        unsigned char d[MD5_DIGEST_LEN];
        for (int i = 0; i < 4; i++)
            for (int k = 0; k < 4; k++)
                d[4 * i + k] = static_cast<unsigned char>(st.state[i] >> (8 * k));
        EXPECT_EQ(hex_of(d), md5_hex(msg));
    }
}

TEST(Md5, BitCountCarriesIntoTheHighWord)
{
    Md5State st;
    md5_init(&st);
    st.count[0] = 0xfffffff8u; // 2^32 - 8 bits: one byte short of the carry
    st.count[1] = 0;
    md5_update(&st, "x", 1);
    EXPECT_EQ(st.count[0], 0u);
    EXPECT_EQ(st.count[1], 1u);
}

TEST(Md5, FinalWipesTheState)
{
    Md5State st;
    md5_init(&st);
    md5_update(&st, "secret key material", 19);
    unsigned char d[MD5_DIGEST_LEN];
    md5_final(d, &st);
    const unsigned char *p = reinterpret_cast<const unsigned char *>(&st);
    EXPECT_EQ(sizeof st, 88u);
    for (size_t i = 0; i < sizeof st; i++)
        ASSERT_EQ(p[i], 0) << "byte " << i;
}

TEST(Md5, HexFormIsLowerCase)
{
    unsigned char d[MD5_DIGEST_LEN];
    for (int i = 0; i < MD5_DIGEST_LEN; i++)
        d[i] = static_cast<unsigned char>(0xf0 + i * 0x11 - i);
    char text[MD5_HEX_LEN + 1];
    memset(text, 'x', sizeof text);
    EXPECT_EQ(md5_digest_hex(text, d), text);
    EXPECT_EQ(strlen(text), 32u);
    EXPECT_EQ(std::string(text).find_first_not_of("0123456789abcdef"), std::string::npos);
    unsigned char all_ff[MD5_DIGEST_LEN];
    memset(all_ff, 0xff, sizeof all_ff);
    EXPECT_EQ(hex_of(all_ff), std::string(32, 'f'));
}

TEST(HmacMd5, Rfc2202Cases)
{
    std::string k25;
    for (int i = 1; i <= 25; i++)
        k25 += static_cast<char>(i);
    struct Case {
        std::string key, msg;
        const char *digest;
    } cases[] = {
        {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
        {k25, std::string(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79"},
        {std::string(16, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.msg);
        EXPECT_EQ(hmac_hex(c.msg, c.key), c.digest);
    }
}

// Key lengths around the block size (64 is used as it is, 65 is hashed
// first) and the NUL-terminated form, against Python's hmac.
TEST(HmacMd5, KeyLengthsAroundTheBlock)
{
    std::mt19937 rng(12);
    const std::vector<size_t> key_sizes = {0, 1, 16, 63, 64, 65, 200};
    std::string msg = random_bytes(rng, 300);
    std::vector<std::string> keys;
    std::string script = "import hmac, hashlib, sys\ndata = sys.stdin.buffer.read()\nmsg = data[:300]\npos = 300\n"
                         "for n in [";
    std::string input = msg;
    for (size_t n : key_sizes) {
        keys.push_back(random_bytes(rng, n));
        input += keys.back();
        script += std::to_string(n) + ",";
    }
    script += "]:\n    print(hmac.new(data[pos:pos + n], msg, hashlib.md5).hexdigest())\n    pos += n\n";
    int status = -1;
    std::string out = run_python(script, input, &status);
    ASSERT_EQ(status, 0);
    for (size_t i = 0; i < keys.size(); i++) {
        SCOPED_TRACE(keys[i].size());
        EXPECT_EQ(hmac_hex(msg, keys[i]), out.substr(i * 33, 32));
    }

    // CRAM-MD5 style: both as NUL-terminated texts.
    unsigned char d[MD5_DIGEST_LEN];
    hmac_md5("what do ya want for nothing?", -1, "Jefe", -1, d);
    EXPECT_EQ(hex_of(d), "750c783e6ab0b503eaa86e310a5db738");
}

} // namespace
