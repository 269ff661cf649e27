// Tests of encrypted passwords: round trips, the stored format read back
// from fixed texts, machine binding, refusals and the read-back check.
#include "cli/password.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/encode.h"
#include "tests/unit/helpers.h"

namespace {

// The machine identifier the tests stand in for this computer's.
const char *machine = "";

int fake_guid(char *out, size_t size)
{
    if (!*machine || strlen(machine) >= size)
        return 0;
    strcpy(out, machine);
    return 1;
}

// A different identifier on every call: the text made at encryption does
// not decrypt when it is read back.
int shifting_guid(char *out, size_t size)
{
    static unsigned calls;
    snprintf(out, size, "00000000-0000-0000-0000-%012x", ++calls);
    return 1;
}

const char *const machine_a = "3d1219c7-c4c5-404a-aa1f-6d2a48adfda4";
const char *const machine_b = "3d1219c7-c4c5-404a-aa1f-6d2a48adfda5";

struct Password : ::testing::Test {
    void SetUp() override
    {
        pw_machine_guid = fake_guid;
        machine = machine_a;
    }
    void TearDown() override { pw_machine_guid = plat_machine_guid; }

    std::string encrypt(const std::string &password, int bind)
    {
        char text[PW_OUT_SIZE];
        const char *why = nullptr;
        EXPECT_EQ(pw_encrypt(password.data(), password.size(), bind, text, &why), 1) << why;
        return text;
    }
    // 1/0/-1 of pw_decrypt, the password in *out.
    int decrypt(const std::string &text, std::string *out)
    {
        char plain[PW_OUT_SIZE];
        int r = pw_decrypt(text.c_str(), plain);
        *out = plain;
        return r;
    }
};

TEST_F(Password, RoundTrip)
{
    const std::string passwords[] = {
        "", "s3cret", "pa:ss word@host", "$AAAAAAAAAAAAAAAA", "p\xc3\xa4ss \xe2\x82\xac\xf0\x9f\x94\x91",
        std::string(PW_PASSWORD_MAX, 'x'),
    };
    for (const std::string &password : passwords) {
        for (int bind = 0; bind <= 1; bind++) {
            SCOPED_TRACE(password + (bind ? " bound" : ""));
            std::string one = encrypt(password, bind), two = encrypt(password, bind);
            // "$" and base64url of nonce, head and password, no padding.
            EXPECT_EQ(one.size(), 1 + (4 * (password.size() + 8) + 2) / 3);
            EXPECT_EQ(one[0], '$');
            EXPECT_EQ(one.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_", 1),
                      std::string::npos);
            // A new nonce every time.
            EXPECT_NE(one, two);
            std::string back;
            EXPECT_EQ(decrypt(one, &back), PW_DECRYPTED);
            EXPECT_EQ(back, password);
            EXPECT_EQ(decrypt(two, &back), PW_DECRYPTED);
            EXPECT_EQ(back, password);
        }
    }
}

// Texts made once and kept: configuration files hold such texts, so every
// later build must read them the same way.
TEST_F(Password, StoredTextsStillDecrypt)
{
    struct Case {
        const char *text;
        const char *machine;
        const char *password;
    } cases[] = {
        {"$LfX5wKjdWdbaZ7TrWpc", "", "s3cret"},
        {"$Vb9bTLkMBhuN0RihTxc", "3d1219c7-c4c5-404a-aa1f-6d2a48adfda4", "s3cret"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        machine = c.machine;
        std::string back;
        EXPECT_EQ(decrypt(c.text, &back), PW_DECRYPTED);
        EXPECT_EQ(back, c.password);
    }
}

// A bound text read on another computer: its key is made, but wrong, and
// the bytes it gives are refused, not taken for a password. The texts are
// fixed (their nonce too), so every run sees the same bytes.
TEST_F(Password, AnotherComputersTextIsRefused)
{
    struct Case {
        const char *text;     // made on machine_a
        const char *password; // what machine_a reads
    } cases[] = {
        {"$Vb9bTLkMBhuN0RihTxc", "s3cret"},
    };
    const char *const others[] = {machine_b, "00000000-0000-0000-0000-000000000001",
                                  "ffffffff-ffff-ffff-ffff-ffffffffffff"};
    for (const Case &c : cases) {
        for (const char *other : others) {
            SCOPED_TRACE(std::string(c.text) + " on " + other);
            machine = other;
            std::string back = "untouched";
            EXPECT_EQ(decrypt(c.text, &back), PW_FOREIGN);
            EXPECT_EQ(back, "");
        }
        machine = machine_a;
        std::string back;
        EXPECT_EQ(decrypt(c.text, &back), PW_DECRYPTED);
        EXPECT_EQ(back, c.password);
    }
    // Texts of every length made here and read there: with 24 bytes of
    // random garbage, clean UTF-8 by chance is about 1 in 200 million.
    for (int i = 0; i < 50; i++) {
        machine = machine_a;
        std::string text = encrypt(std::string(24, static_cast<char>('a' + i % 26)), 1), back;
        machine = machine_b;
        EXPECT_EQ(decrypt(text, &back), PW_FOREIGN) << text;
    }
    EXPECT_STREQ(pw_decrypt_failure(PW_FOREIGN),
                 "the text was made with -bindpass on another computer, or altered; the two cannot be "
                 "told apart (it decrypts to control characters or invalid UTF-8)");
}

TEST_F(Password, MachineBinding)
{
    std::string bound = encrypt("s3cret", 1), unbound = encrypt("s3cret", 0), back;
    // Another machine: the bound text is not read as this password (the
    // table above: it is refused); the unbound one reads the same.
    machine = machine_b;
    int r = decrypt(bound, &back);
    EXPECT_TRUE(r == PW_FOREIGN || (r == PW_DECRYPTED && back != "s3cret")) << r;
    EXPECT_EQ(decrypt(unbound, &back), PW_DECRYPTED);
    EXPECT_EQ(back, "s3cret");
    // No identifier at all: the bound text cannot be read, the other can.
    machine = "";
    EXPECT_EQ(decrypt(bound, &back), PW_NO_MACHINE_KEY);
    EXPECT_EQ(back, "");
    EXPECT_EQ(decrypt(unbound, &back), PW_DECRYPTED);
    // Nor can one be made.
    char text[PW_OUT_SIZE];
    const char *why = nullptr;
    EXPECT_EQ(pw_encrypt("s3cret", 6, 1, text, &why), 0);
    EXPECT_STREQ(text, "");
    EXPECT_NE(std::string(why).find("machine identifier"), std::string::npos);
    machine = "not-a-uuid";
    EXPECT_EQ(decrypt(bound, &back), PW_NO_MACHINE_KEY);
    machine = machine_a;
    EXPECT_EQ(decrypt(bound, &back), PW_DECRYPTED);
    EXPECT_EQ(back, "s3cret");
}

TEST_F(Password, MachineCryptAndComputerName)
{
    const unsigned char iv[3] = {1, 2, 3};
    unsigned char data[40], back[40];
    for (size_t i = 0; i < sizeof data; i++)
        data[i] = static_cast<unsigned char>(i * 7);
    unsigned char secret[40];
    ASSERT_EQ(pw_machine_crypt(data, sizeof data, secret, iv, sizeof iv), 1);
    EXPECT_NE(memcmp(secret, data, sizeof data), 0);
    ASSERT_EQ(pw_machine_crypt(secret, sizeof secret, back, iv, sizeof iv), 1);
    EXPECT_EQ(memcmp(back, data, sizeof data), 0);
    machine = machine_b; // another machine's key gives other bytes
    ASSERT_EQ(pw_machine_crypt(secret, sizeof secret, back, iv, sizeof iv), 1);
    EXPECT_NE(memcmp(back, data, sizeof data), 0);
    machine = "";
    EXPECT_EQ(pw_machine_crypt(data, sizeof data, back, iv, sizeof iv), 0);

    struct Case {
        const char *env;
        size_t size;
        const char *want;
    } cases[] = {{"BUILD-Host_01", 64, "build-host_01"}, {"ABCDEF", 4, "abc"}, {nullptr, 8, ""}};
    for (const Case &c : cases) {
        if (c.env)
            setenv("COMPUTERNAME", c.env, 1);
        else
            unsetenv("COMPUTERNAME");
        char buf[64];
        memset(buf, 'x', sizeof buf);
        cli_computer_name(buf, c.size);
        EXPECT_STREQ(buf, c.want);
    }
    unsetenv("COMPUTERNAME");
}

TEST_F(Password, RefusedEncryptions)
{
    struct Case {
        std::string password;
        int (*guid)(char *, size_t);
        int bind;
        const char *why;
    } cases[] = {
        // Its text would be longer than any text that is read back.
        {std::string(PW_PASSWORD_MAX + 1, 'x'), fake_guid, 0, "more than 183 bytes"},
        {std::string(255, 'x'), fake_guid, 1, "more than 183 bytes"},
        // The text does not give the password back.
        {"s3cret", shifting_guid, 1, "does not decrypt"},
        // Decryption would refuse it: a control character, or not UTF-8.
        {std::string("a\0b", 3), fake_guid, 0, "control character or is not valid UTF-8"},
        {"tab\there", fake_guid, 1, "control character or is not valid UTF-8"},
        {"del\x7f", fake_guid, 0, "control character or is not valid UTF-8"},
        {"c1\xc2\x85", fake_guid, 0, "control character or is not valid UTF-8"},
        {"p\xe4ss\xff", fake_guid, 0, "control character or is not valid UTF-8"},
        {"cut\xe2\x82", fake_guid, 1, "control character or is not valid UTF-8"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        pw_machine_guid = c.guid;
        char text[PW_OUT_SIZE];
        const char *why = "";
        EXPECT_EQ(pw_encrypt(c.password.data(), c.password.size(), c.bind, text, &why), 0);
        EXPECT_STREQ(text, "");
        EXPECT_NE(std::string(why).find(c.why), std::string::npos) << why;
    }
}

// A text with the password bytes of an "e" text flipped by mask: counter
// mode lets any byte be changed without the key.
std::string flipped(const std::string &text, size_t at, unsigned char mask)
{
    std::string raw(b64_decoded_max(text.size()), '\0');
    auto *bytes = reinterpret_cast<unsigned char *>(raw.data());
    raw.resize(b64_decode(text.c_str() + 1, static_cast<ptrdiff_t>(text.size() - 1), bytes));
    raw[at] = static_cast<char>(raw[at] ^ mask);
    std::string out(1 + b64_encoded_size(raw.size()), '\0');
    out.resize(1 + b64_encode_url(raw.data(), static_cast<ptrdiff_t>(raw.size()), out.data() + 1));
    out[0] = '$';
    return out;
}

TEST_F(Password, TextsThatAreNotEncrypted)
{
    std::string good = encrypt("AB", 0);
    struct Case {
        std::string text;
        int result;
    } cases[] = {
        {"", 0},
        {"s3cret", 0},
        {"$", 0},
        // Fewer than 11 characters carry fewer than 8 bytes.
        {"$AAAAAAAAAA", 0},
        {"$" + good.substr(1, 10), 0},
        // The head does not decrypt to a type and the marker.
        {"$AAAAAAAAAAAAAAAA", 0},
        {flipped(good, 4, 0x01), 0},
        {flipped(good, 6, 0x20), 0},
        // Longer than any encrypted text: never decoded.
        {good + std::string(PW_TEXT_MAX, 'A'), 0},
        {"$" + std::string(PW_TEXT_MAX, 'A'), 0},
        // A changed password byte that gives what no password holds: a
        // NUL, another control character, DEL, a C1 control, not UTF-8.
        {flipped(good, 8, 'A'), PW_ALTERED},
        {flipped(good, 9, 'B' ^ '\t'), PW_ALTERED},
        {flipped(good, 9, 'B' ^ 0x7f), PW_ALTERED},
        {flipped(flipped(good, 8, 'A' ^ 0xc2), 9, 'B' ^ 0x85), PW_ALTERED},
        {flipped(good, 8, 0x80), PW_ALTERED},
        // A changed byte that gives clean text decrypts to another
        // password: counter mode has no check value.
        {flipped(good, 8, 0x03), PW_DECRYPTED},
        {flipped(flipped(good, 8, 'A' ^ 0xc2), 9, 'B' ^ 0xa0), PW_DECRYPTED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        std::string back = "untouched";
        EXPECT_EQ(decrypt(c.text, &back), c.result);
        if (c.result != PW_DECRYPTED) {
            EXPECT_EQ(back, "");
        }
    }
}

TEST(MachineGuid, FromFile)
{
    TempDir dir;
    struct Case {
        std::string content;
        const char *guid; // NULL: refused
    } cases[] = {
        {"3d1219c7c4c5404aaa1f6d2a48adfda4\n", "3d1219c7-c4c5-404a-aa1f-6d2a48adfda4"},
        {"3D1219C7C4C5404AAA1F6D2A48ADFDA4", "3d1219c7-c4c5-404a-aa1f-6d2a48adfda4"},
        {"", nullptr},
        {"uninitialized\n", nullptr},
        {"3d1219c7c4c5404aaa1f6d2a48adfda\n", nullptr},
        {"3d1219c7c4c5404aaa1f6d2a48adfda44\n", nullptr},
        {"3d1219c7c4c5404aaa1f6d2a48adfda4\n\n", nullptr},
        {"3d1219c7-c4c5-404a-aa1f-6d2a48adfda4\n", nullptr},
        {"3d1219c7c4c5404aaa1f6d2a48adfdg4\n", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.content);
        write_file(dir.file("machine-id"), c.content);
        char out[PLAT_MACHINE_GUID_SIZE] = "x";
        EXPECT_EQ(plat_machine_guid_file(dir.file("machine-id").c_str(), out, sizeof out), c.guid ? 1 : 0);
        EXPECT_STREQ(out, c.guid ? c.guid : "");
    }
    char out[PLAT_MACHINE_GUID_SIZE] = "x";
    EXPECT_EQ(plat_machine_guid_file(dir.file("missing").c_str(), out, sizeof out), 0);
    EXPECT_EQ(plat_machine_guid_file(dir.path.c_str(), out, sizeof out), 0);
    write_file(dir.file("machine-id"), "3d1219c7c4c5404aaa1f6d2a48adfda4\n");
    EXPECT_EQ(plat_machine_guid_file(dir.file("machine-id").c_str(), out, sizeof out - 1), 0);
    EXPECT_STREQ(out, "");
}

// Bytes of a hexadecimal text.
std::string unhex(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

const unsigned char *bytes(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

// The counter mode against the published AES-128-CTR example (its counter
// carries from the last byte into the one before), with short and long IVs
// and a context that is used again.
TEST(AesCtr, PublishedExampleAndCounterBlocks)
{
    const std::string key = unhex("2b7e151628aed2a6abf7158809cf4f3c");
    const std::string iv = unhex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    const std::string plain = unhex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                                    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const std::string cipher = unhex("874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff"
                                     "5ae4df3edbd5d35e5b4f09020db03eab1e031dda2fbe03d1792170a0f3009cee");
    AesCtr ctx;
    ASSERT_EQ(aes_ctr_init(&ctx, bytes(key), bytes(iv), iv.size()), 1);
    std::string out(plain.size(), '\0');
    ASSERT_EQ(aes_ctr_crypt(&ctx, bytes(plain), reinterpret_cast<unsigned char *>(out.data()), out.size()), 1);
    EXPECT_EQ(to_hex(out), to_hex(cipher));
    // In place, and back again: the same operation.
    ASSERT_EQ(aes_ctr_init(&ctx, bytes(key), bytes(iv), iv.size()), 1);
    ASSERT_EQ(aes_ctr_crypt(&ctx, bytes(out), reinterpret_cast<unsigned char *>(out.data()), out.size()), 1);
    EXPECT_EQ(out, plain);

    // Each call starts a new key-stream block: 5 bytes use up one counter,
    // and the next call begins with the second block.
    ASSERT_EQ(aes_ctr_init(&ctx, bytes(key), bytes(iv), iv.size()), 1);
    unsigned char part[16];
    ASSERT_EQ(aes_ctr_crypt(&ctx, bytes(plain), part, 5), 1);
    EXPECT_EQ(to_hex(std::string(reinterpret_cast<char *>(part), 5)), to_hex(cipher.substr(0, 5)));
    ASSERT_EQ(aes_ctr_crypt(&ctx, bytes(plain) + 16, part, 16), 1);
    EXPECT_EQ(to_hex(std::string(reinterpret_cast<char *>(part), 16)), to_hex(cipher.substr(16, 16)));

    // An IV shorter than a block is followed by zeros; one longer is cut.
    const struct {
        std::string iv, block;
    } ivs[] = {
        {unhex("01020304"), unhex("01020304000000000000000000000000")},
        {iv + "extra", iv},
        {"", std::string(16, '\0')},
    };
    for (const auto &c : ivs) {
        SCOPED_TRACE(to_hex(c.iv));
        AesCtr a, b;
        ASSERT_EQ(aes_ctr_init(&a, bytes(key), bytes(c.iv), c.iv.size()), 1);
        ASSERT_EQ(aes_ctr_init(&b, bytes(key), bytes(c.block), 16), 1);
        EXPECT_EQ(to_hex(std::string(reinterpret_cast<char *>(a.counter), 16)), to_hex(c.block));
        unsigned char x[40], y[40];
        ASSERT_EQ(aes_ctr_crypt(&a, bytes(plain), x, sizeof x), 1);
        ASSERT_EQ(aes_ctr_crypt(&b, bytes(plain), y, sizeof y), 1);
        EXPECT_EQ(memcmp(x, y, sizeof x), 0);
    }
}

} // namespace
