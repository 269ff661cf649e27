// Random identifiers (layout, counter, threads) and Message-ID bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "helpers.h"
#include "mail/ident.h"
#include "support/encode.h"

namespace {

const char kUrlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

bool only_url_alphabet(const std::string &s)
{
    return s.find_first_not_of(kUrlAlphabet) == std::string::npos;
}

// The 12 bytes behind an identifier.
std::string id_bytes(const std::string &id)
{
    unsigned char buf[16];
    size_t n = b64_decode(id.data(), static_cast<ptrdiff_t>(id.size()), buf);
    return std::string(reinterpret_cast<char *>(buf), n);
}

unsigned id_counter_of(const std::string &id)
{
    std::string b = id_bytes(id);
    return static_cast<unsigned char>(b[4]) | static_cast<unsigned char>(b[5]) << 8;
}

std::string draw_id()
{
    char out[MAIL_ID_LEN + 1];
    EXPECT_EQ(mail_random_id(out), out);
    return out;
}

} // namespace

// ---- identifiers -----------------------------------------------------------

TEST(RandomId, SixteenUrlSafeCharactersWithACounterThatGrowsByOne)
{
    std::string prev = draw_id();
    for (int i = 0; i < 200; i++) {
        std::string id = draw_id();
        SCOPED_TRACE(id);
        ASSERT_EQ(id.size(), 16u);
        EXPECT_TRUE(only_url_alphabet(id));
        EXPECT_NE(id, prev);
        EXPECT_EQ(id_bytes(id).size(), 12u);
        // Bytes 4-5 hold the process-wide counter, least significant first.
        EXPECT_EQ(id_counter_of(id), (id_counter_of(prev) + 1) & 0xffff);
        prev = id;
    }
}

TEST(RandomId, BytesMatchPythonsBase64urlReading)
{
    // An independent reading of the same text: Python's urlsafe decoder
    // must give the same 12 bytes, counter included.
    std::string a = draw_id(), b = draw_id();
    std::string out = run_python("import sys, base64\n"
                                 "for t in sys.stdin.read().split():\n"
                                 "    d = base64.urlsafe_b64decode(t + '==')\n"
                                 "    print(len(d), d[4] | d[5] << 8, d.hex())\n",
                                 a + "\n" + b + "\n");
    std::string expect = "12 " + std::to_string(id_counter_of(a)) + " " + to_hex(id_bytes(a)) +
                         "\n12 " + std::to_string(id_counter_of(b)) + " " +
                         to_hex(id_bytes(b)) + "\n";
    EXPECT_EQ(out, expect);
}

TEST(RandomId, BoundaryIsTwentyCharactersBetweenDoubleEquals)
{
    char out[MAIL_BOUNDARY_LEN + 1];
    std::string before = draw_id();
    ASSERT_EQ(mail_random_boundary(out), out);
    std::string b = out;
    ASSERT_EQ(b.size(), 20u);
    EXPECT_EQ(b.substr(0, 2), "==");
    EXPECT_EQ(b.substr(18), "==");
    std::string id = b.substr(2, 16);
    EXPECT_TRUE(only_url_alphabet(id));
    // Boundaries take part in the same counter sequence.
    EXPECT_EQ(id_counter_of(id), (id_counter_of(before) + 1) & 0xffff);
}

TEST(RandomId, DrawsFromSeveralThreadsNeverCollide)
{
    const int kThreads = 8, kEach = 4000; // fewer than 65536 in all
    std::vector<std::vector<std::string>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&got, t] {
            char out[MAIL_ID_LEN + 1];
            for (int i = 0; i < kEach; i++)
                got[t].push_back(mail_random_id(out) ? out : "");
        });
    for (auto &th : threads)
        th.join();
    std::set<std::string> ids;
    std::set<unsigned> counters;
    for (const auto &v : got)
        for (const std::string &id : v) {
            ASSERT_EQ(id.size(), 16u);
            ids.insert(id);
            counters.insert(id_counter_of(id));
        }
    // Each draw held the lock: no two share a counter value or a text.
    EXPECT_EQ(ids.size(), size_t(kThreads) * kEach);
    EXPECT_EQ(counters.size(), size_t(kThreads) * kEach);
}

// ---- Message-ID ----------------------------------------------------------------

TEST(MessageId, AngleBracketsAroundIdAndTheSendersDomain)
{
    struct Case {
        const char *address;
        const char *domain;
    } cases[] = {
        {"user@example.com", "example.com"},
        {"\"a@b\"@c.example", "c.example"}, // a quoted local part may hold "@"
        {"x@", ""},
        {"j\xc3\xb6rg@b\xc3\xbc" "cher.example", "b\xc3\xbc" "cher.example"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.address);
        char out[512];
        ASSERT_EQ(mail_message_id(out, sizeof out, c.address), out);
        std::string m = out;
        ASSERT_EQ(m.size(), 1 + 16 + 1 + strlen(c.domain) + 1);
        EXPECT_EQ(m[0], '<');
        EXPECT_TRUE(only_url_alphabet(m.substr(1, 16)));
        EXPECT_EQ(m.substr(17), std::string("@") + c.domain + ">");
    }
}

TEST(MessageId, RefusedWhenUnfitForTheHeader)
{
    const char *bad[] = {"no-at-sign", "", "u@exa\r\nBcc: x@y", "u@a\tb", "u@a\x7f"};
    for (const char *a : bad) {
        SCOPED_TRACE(a);
        char out[64];
        memset(out, 'Z', sizeof out);
        EXPECT_EQ(mail_message_id(out, sizeof out, a), nullptr);
        EXPECT_STREQ(out, "");
    }
    char out[8] = "keep";
    EXPECT_EQ(mail_message_id(out, 8, nullptr), nullptr);
    EXPECT_STREQ(out, "");
}

TEST(MessageId, BoundedByTheOutputSize)
{
    // The session keeps the Message-ID in 512 bytes: "<" 16 "@" d ">" NUL
    // fits for a domain of 492 bytes and not one byte more.
    const size_t kSession = 512;
    for (size_t dlen : {491u, 492u, 493u, 600u}) {
        SCOPED_TRACE(dlen);
        std::string address = "u@" + std::string(dlen, 'd');
        std::vector<char> buf(kSession + 16, 'Z');
        char *r = mail_message_id(buf.data(), kSession, address.c_str());
        if (dlen <= 492) {
            ASSERT_EQ(r, buf.data());
            EXPECT_EQ(strlen(buf.data()), dlen + 19);
        } else {
            EXPECT_EQ(r, nullptr);
            EXPECT_EQ(buf[0], '\0');
        }
        for (size_t i = kSession; i < buf.size(); i++)
            ASSERT_EQ(buf[i], 'Z') << "written past the buffer at " << i;
    }
    // Every size around the exact need of a short domain.
    const std::string address = "me@example.org"; // needs 1+16+1+11+1+1 = 31
    for (size_t size = 0; size <= 33; size++) {
        SCOPED_TRACE(size);
        std::vector<char> buf(40, 'Z');
        char *r = mail_message_id(buf.data(), size, address.c_str());
        EXPECT_EQ(r != nullptr, size >= 31);
        if (size > 0 && !r) {
            EXPECT_EQ(buf[0], '\0');
        }
        if (size == 0) {
            EXPECT_EQ(buf[0], 'Z');
        }
        for (size_t i = size; i < buf.size(); i++)
            ASSERT_EQ(buf[i], 'Z') << "written past the buffer at " << i;
    }
}
