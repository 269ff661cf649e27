// Tests of the host-text parser behind -host: and -proxy:.
#include "net/hostspec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

constexpr uint32_t kUntouched = 12345;

struct Parsed {
    int code;
    std::string host, user, password;
    uint32_t port;
    bool handed_out_nothing;
};

Parsed parse(const char *text, char delimiter = ':')
{
    char *host = reinterpret_cast<char *>(1), *user = host, *password = host;
    uint32_t port = kUntouched;
    Parsed p;
    p.code = ip_parse_host_spec(text, &host, &port, &user, &password, delimiter);
    p.port = port;
    p.handed_out_nothing = !host && !user && !password;
    if (host)
        p.host = host;
    if (user)
        p.user = user;
    if (password)
        p.password = password;
    free(host);
    free(user);
    free(password);
    return p;
}

TEST(HostSpec, SplitsCredentialsHostAndPort)
{
    struct Case {
        const char *text;
        char delimiter;
        const char *host, *user, *password;
        uint32_t port;
    } cases[] = {
        {"h", ':', "h", "", "", kUntouched},
        {"mail.example.com:587", ':', "mail.example.com", "", "", 587},
        {"u:pa:ss@h", ':', "h", "u", "pa:ss", kUntouched},
        // The last "@" separates the host: a user name may be an address.
        {"me@example.com:secret@mx.example.com:25", ':', "mx.example.com", "me@example.com", "secret", 25},
        {"user@h", ':', "h", "user", "", kUntouched},
        {"@h", ':', "h", "", "", kUntouched},
        {"u:@h", ':', "h", "u", "", kUntouched},
        {"u|p:w@h:2525", '|', "h", "u", "p:w", 2525},
        {"u:p@h", '|', "h", "u:p", "", kUntouched},
        {"[2001:db8::1]:2525", ':', "2001:db8::1", "", "", 2525},
        {"[2001:db8::1]", ':', "2001:db8::1", "", "", kUntouched},
        // A bracketed host takes port 0: the caller's default.
        {"u:p@[::1]:0", ':', "::1", "u", "p", 0},
        // A delimiter with neither a user nor a password gives neither.
        {":@h", ':', "h", "", "", kUntouched},
        // The delimiter may be "@" itself: the last "@" still ends the user part.
        {"u@p@h", '@', "h", "u", "p", kUntouched},
        {"h:65535", ':', "h", "", "", 65535},
        {"h:1", ':', "h", "", "", 1},
        // Leading zeros count for nothing.
        {"h:000000000000000000025", ':', "h", "", "", 25},
        {"[::1]:065535", ':', "::1", "", "", 65535},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Parsed p = parse(c.text, c.delimiter);
        ASSERT_EQ(p.code, HOSTSPEC_OK);
        EXPECT_EQ(p.host, c.host);
        EXPECT_EQ(p.user, c.user);
        EXPECT_EQ(p.password, c.password);
        EXPECT_EQ(p.port, c.port);
    }
}

TEST(HostSpec, FailuresHandOutNothing)
{
    struct Case {
        const char *text;
        int code;
    } cases[] = {
        {nullptr, HOSTSPEC_NO_TEXT},
        {"[::1", HOSTSPEC_NO_BRACKET},
        {"u:p@[::1", HOSTSPEC_NO_BRACKET},
        {"h:0", HOSTSPEC_BAD_PORT},
        {"h:abc", HOSTSPEC_BAD_PORT},
        {"h:", HOSTSPEC_BAD_PORT},
        {"h:-25", HOSTSPEC_BAD_PORT},
        {"[::1]:-1", HOSTSPEC_BAD_PORT},
        {"2001:db8::1", HOSTSPEC_BAD_PORT},
        {"u:secret@h:0", HOSTSPEC_BAD_PORT},
        // A port text is digits to its end, and a port the host may take.
        {"mail.example.org:655350", HOSTSPEC_BAD_PORT},
        {"h:65536", HOSTSPEC_BAD_PORT},
        {"h:25x", HOSTSPEC_BAD_PORT},
        {"h:25junk", HOSTSPEC_BAD_PORT},
        {"h: 25", HOSTSPEC_BAD_PORT},
        {"h:+25", HOSTSPEC_BAD_PORT},
        {"h:25 ", HOSTSPEC_BAD_PORT},
        {"h:00", HOSTSPEC_BAD_PORT},
        // Beyond 32 bits the number must not wrap into port 25.
        {"h:4294967321", HOSTSPEC_BAD_PORT},
        {"h:99999999999999999999999", HOSTSPEC_BAD_PORT},
        {"[::1]:abc", HOSTSPEC_BAD_PORT},
        {"[::1]:", HOSTSPEC_BAD_PORT},
        {"[::1]:70000", HOSTSPEC_BAD_PORT},
        // An unbracketed IPv6 literal is cut at its first ":", and the rest
        // is no port.
        {"2001:25::1", HOSTSPEC_BAD_PORT},
        {"[::1]x:25", HOSTSPEC_AFTER_BRACKET},
        {"[::1] ", HOSTSPEC_AFTER_BRACKET},
        // The first "]" closes: what follows it is ":" and a port or nothing.
        {"[::1]]:2600", HOSTSPEC_AFTER_BRACKET},
        {"[::1]]", HOSTSPEC_AFTER_BRACKET},
        {"[a]b]:25", HOSTSPEC_AFTER_BRACKET},
        {"u:secret@[::1]]:25", HOSTSPEC_AFTER_BRACKET},
        // A password needs a user name.
        {":secret@h", HOSTSPEC_NO_USER},
        {":secret@h:25", HOSTSPEC_NO_USER},
        {":secret@[::1]:25", HOSTSPEC_NO_USER},
        {"", HOSTSPEC_NO_HOST},
        {":25", HOSTSPEC_NO_HOST},
        {"u:p@", HOSTSPEC_NO_HOST},
        {"[]:25", HOSTSPEC_NO_HOST},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text ? c.text : "NULL");
        Parsed p = parse(c.text);
        EXPECT_EQ(p.code, c.code);
        EXPECT_TRUE(p.handed_out_nothing);
        EXPECT_EQ(p.port, kUntouched);
        // The reason never quotes the text, which may hold a password.
        EXPECT_EQ(std::string(ip_host_spec_reason(p.code)).find("secret"), std::string::npos);
    }
}

TEST(HostSpec, ColonFormUsesColon)
{
    char *host, *user, *password;
    uint32_t port = kUntouched;
    ASSERT_EQ(ip_parse_host_spec_colon("pu:pp:x@proxy.example:3128", &host, &port, &user, &password),
              HOSTSPEC_OK);
    EXPECT_STREQ(host, "proxy.example");
    EXPECT_STREQ(user, "pu");
    EXPECT_STREQ(password, "pp:x");
    EXPECT_EQ(port, 3128u);
    free(host);
    free(user);
    free(password);
}

TEST(HostSpec, LongCredentialsAreKeptWhole)
{
    // Bearer tokens are often longer than a thousand characters.
    std::string token(5000, 't');
    std::string text = "user@example.com:" + token + "@smtp.example.com:587";
    Parsed p = parse(text.c_str());
    ASSERT_EQ(p.code, HOSTSPEC_OK);
    EXPECT_EQ(p.password, token);
    EXPECT_EQ(p.user, "user@example.com");
}

} // namespace
