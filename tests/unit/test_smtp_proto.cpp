// The SMTP client's pure pieces: the reply grammar and its caps, the EHLO
// capability parse, the envelope parameter texts and the SASL responses
// (checked against the RFCs' own examples and Python's base64).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers.h"
#include "mail/lists.h"
#include "mail/session.h"
#include "smtp/proto.h"
#include "support/encode.h"

namespace {

// Feeds lines until one is final or bad; returns the last result.
struct Fed {
    int result;
    int code;
    size_t taken;
    std::string error;
};

Fed feed_all(const std::vector<std::string> &lines)
{
    SmtpReplyState st{};
    Fed f{SMTP_LINE_MORE, 0, 0, ""};
    for (const std::string &line : lines) {
        const char *error = nullptr;
        f.result = smtp_reply_feed(&st, line.data(), line.size(), &error);
        f.taken++;
        if (f.result == SMTP_LINE_BAD)
            f.error = error;
        if (f.result != SMTP_LINE_MORE)
            break;
    }
    f.code = st.code;
    return f;
}

TEST(SmtpReply, GrammarOfReplyLines)
{
    struct Case {
        std::vector<std::string> lines;
        int result;
        int code;
        size_t taken;
        const char *error;
    };
    const Case cases[] = {
        {{"250"}, SMTP_LINE_FINAL, 250, 1, ""},
        {{"250 OK"}, SMTP_LINE_FINAL, 250, 1, ""},
        {{"250-first", "250-second", "250 last"}, SMTP_LINE_FINAL, 250, 3, ""},
        {{"250-first", "250"}, SMTP_LINE_FINAL, 250, 2, ""},
        {{"554 5.7.1 no"}, SMTP_LINE_FINAL, 554, 1, ""},
        {{""}, SMTP_LINE_BAD, 0, 1, "Empty reply line from server"},
        {{"250-a", ""}, SMTP_LINE_BAD, 250, 2, "Empty reply line from server"},
        {{"abc"}, SMTP_LINE_BAD, 0, 1, "Invalid reply from server"},
        {{"25"}, SMTP_LINE_BAD, 0, 1, "Invalid reply from server"},
        {{"2500 OK"}, SMTP_LINE_BAD, 0, 1, "Invalid reply from server"},
        {{"250OK"}, SMTP_LINE_BAD, 0, 1, "Invalid reply from server"},
        {{" 250 OK"}, SMTP_LINE_BAD, 0, 1, "Invalid reply from server"},
        {{"+250 OK"}, SMTP_LINE_BAD, 0, 1, "Invalid reply from server"},
        {{"2x0 OK"}, SMTP_LINE_BAD, 0, 1, "Invalid reply from server"},
        {{"250\tOK"}, SMTP_LINE_BAD, 0, 1, "Invalid reply from server"},
        {{"250-a", "HELLO"}, SMTP_LINE_BAD, 250, 2, "Invalid reply from server"},
        {{"250-a", "354 go on"}, SMTP_LINE_BAD, 250, 2, "Reply codes differ within one reply"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.lines));
        Fed f = feed_all(c.lines);
        EXPECT_EQ(f.result, c.result);
        EXPECT_EQ(f.taken, c.taken);
        EXPECT_EQ(f.error, c.error);
        if (c.result == SMTP_LINE_FINAL) {
            EXPECT_EQ(f.code, c.code);
        }
    }
}

TEST(SmtpReply, NumberOfLinesIsCapped)
{
    std::vector<std::string> lines(SMTP_REPLY_LINES_MAX - 1, "250-more");
    lines.push_back("250 last");
    Fed ok = feed_all(lines);
    EXPECT_EQ(ok.result, SMTP_LINE_FINAL);
    EXPECT_EQ(ok.taken, size_t(SMTP_REPLY_LINES_MAX));

    std::vector<std::string> endless(SMTP_REPLY_LINES_MAX + 5, "250-more");
    Fed bad = feed_all(endless);
    EXPECT_EQ(bad.result, SMTP_LINE_BAD);
    EXPECT_EQ(bad.taken, size_t(SMTP_REPLY_LINES_MAX) + 1);
    EXPECT_EQ(bad.error, "Reply from server has more than 128 lines");
}

TEST(SmtpEhlo, CapabilityLines)
{
    const uint32_t all_auth =
        MAILF_AUTH_CRAM_MD5 | MAILF_AUTH_PLAIN | MAILF_AUTH_LOGIN | MAILF_AUTH_OAUTHBEARER;
    struct Case {
        const char *line;
        int have_user;
        uint32_t no_mask;
        uint32_t flags;
        uint32_t flags2;
        int starttls;
    };
    const Case cases[] = {
        {"250-STARTTLS", 1, 0, 0, 0, 1},
        {"250 starttls", 0, 0, 0, 0, 1},
        {"250-STARTTLS ", 1, 0, 0, 0, 0},
        {"250-DSN", 0, 0, MAILF_SERVER_DSN, 0, 0},
        {"250-dsn", 0, 0, MAILF_SERVER_DSN, 0, 0},
        {"250-DSNX", 0, 0, 0, 0, 0},
        {"250-SMTPUTF8", 0, 0, 0, MAILF2_SERVER_SMTPUTF8, 0},
        {"250-AUTH LOGIN PLAIN", 1, 0, MAILF_AUTH_LOGIN | MAILF_AUTH_PLAIN, 0, 0},
        {"250 auth login plain", 1, 0, MAILF_AUTH_LOGIN | MAILF_AUTH_PLAIN, 0, 0},
        {"250-AUTH CRAM-MD5 PLAIN LOGIN OAUTHBEARER XOAUTH2", 1, 0, all_auth, 0, 0},
        {"250-AUTH CRAM-MD5 PLAIN LOGIN OAUTHBEARER", 0, 0, 0, 0, 0},
        {"250-AUTH CRAM-MD5 PLAIN LOGIN", 1, MAILF_NO_CRAM_MD5 | MAILF_NO_LOGIN, MAILF_AUTH_PLAIN, 0, 0},
        {"250-AUTH  PLAIN", 1, 0, MAILF_AUTH_PLAIN, 0, 0},
        {"250-AUTH=LOGIN PLAIN", 1, 0, 0, 0, 0},
        {"250-AUTH PLAINX XLOGIN", 1, 0, 0, 0, 0},
        {"250-X-AUTH PLAIN", 1, 0, 0, 0, 0},
        {"250-PLAIN", 1, 0, 0, 0, 0},
        {"250", 1, 0, 0, 0, 0},
        {"250 ", 1, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        SmtpEhloOffer offer{};
        smtp_ehlo_parse_line(&offer, c.line, strlen(c.line), c.have_user, c.no_mask);
        EXPECT_EQ(offer.flags, c.flags);
        EXPECT_EQ(offer.flags2, c.flags2);
        EXPECT_EQ(offer.starttls, c.starttls);
    }
}

TEST(SmtpEnvelope, NotifyText)
{
    struct Case {
        unsigned bits;
        const char *text;
    } cases[] = {
        {0, ""},
        {MAIL_NOTIFY_NEVER, " NOTIFY=NEVER"},
        {MAIL_NOTIFY_NEVER | MAIL_NOTIFY_SUCCESS, " NOTIFY=NEVER"},
        {MAIL_NOTIFY_SUCCESS, " NOTIFY=SUCCESS"},
        {MAIL_NOTIFY_FAILURE | MAIL_NOTIFY_DELAY, " NOTIFY=FAILURE,DELAY"},
        {MAIL_NOTIFY_SUCCESS | MAIL_NOTIFY_FAILURE | MAIL_NOTIFY_DELAY,
         " NOTIFY=SUCCESS,FAILURE,DELAY"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bits);
        char buf[SMTP_NOTIFY_TEXT_SIZE];
        EXPECT_STREQ(smtp_notify_text(buf, c.bits), c.text);
    }
}

TEST(SmtpEnvelope, XtextEncodesWhatAParameterCannotCarry)
{
    struct Case {
        const char *in;
        const char *out;
    } cases[] = {
        {"", ""},
        {"QQ314159", "QQ314159"},
        {"a+b=c", "a+2Bb+3Dc"},
        {"two words", "two+20words"},
        {"caf\xc3\xa9", "caf+C3+A9"},
        {"tab\there~!", "tab+09here~!"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(smtp_xtext(c.in), c.out);
    }
}

std::string text(const SecretText &s)
{
    return std::string(s.data(), s.size());
}

std::string b64_of(const std::string &bytes)
{
    std::string out(b64_encoded_size(bytes.size()), 0);
    out.resize(b64_encode(bytes.data(), static_cast<ptrdiff_t>(bytes.size()), out.data()));
    return out;
}

std::string python_b64(const std::string &python_bytes_literal)
{
    std::string out = run_python("import base64,sys; sys.stdout.write(base64.b64encode(" +
                                 python_bytes_literal + ").decode())");
    return out;
}

TEST(SmtpSasl, PlainAndOauthbearerResponses)
{
    SecretText s;
    smtp_sasl_plain("user@example.com", "pa ss\xc3\xa9", &s);
    EXPECT_EQ(text(s), python_b64("b'\\0user@example.com\\0pa ss\\xc3\\xa9'"));
    smtp_sasl_plain("", "", &s);
    EXPECT_EQ(text(s), "AAA=");

    // RFC 7628 escaping of the user name; the token goes as it is.
    const char *error = nullptr;
    ASSERT_EQ(smtp_sasl_oauthbearer("a,b=c@example.com", "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==", &s, &error), 1);
    EXPECT_EQ(text(s), python_b64("b'n,a=a=2Cb=3Dc@example.com,\\x01auth=Bearer "
                                  "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==\\x01\\x01'"));

    // A token far beyond any line length the server allows still encodes.
    std::string token(200000, 'T');
    ASSERT_EQ(smtp_sasl_oauthbearer("u", token.c_str(), &s, &error), 1);
    EXPECT_EQ(s.size(), (4 + 1 + 14 + token.size() + 2 + 2) / 3 * 4);

    // 0x01 separates the fields: where the caller put one, nothing is made.
    const struct {
        const char *user, *token, *error;
    } split[] = {
        {"u", "tok\x01" "auth=Bearer other", "the bearer token holds the byte 0x01"},
        {"u", "\x01", "the bearer token holds the byte 0x01"},
        {"u\x01host=evil", "tok", "the user name holds the byte 0x01"},
    };
    for (const auto &c : split) {
        SCOPED_TRACE(c.error);
        SecretText out("untouched");
        error = nullptr;
        EXPECT_EQ(smtp_sasl_oauthbearer(c.user, c.token, &out, &error), 0);
        EXPECT_STREQ(error, c.error);
        EXPECT_EQ(text(out), "untouched");
    }
}

TEST(SmtpSasl, CramMd5)
{
    SecretText s;
    const char *error = nullptr;
    // The example of RFC 2195.
    const char challenge[] = "PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+";
    ASSERT_EQ(smtp_sasl_cram_md5("tim", "tanstaaftanstaaf", challenge, strlen(challenge), &s, &error), 1);
    EXPECT_EQ(text(s), "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");

    // The challenge counts up to its first NUL: "<1896.697170952@postoffice.reston.mci.net>" NUL "junk".
    std::string with_nul = python_b64("b'<1896.697170952@postoffice.reston.mci.net>\\0junk'");
    ASSERT_EQ(smtp_sasl_cram_md5("tim", "tanstaaftanstaaf", with_nul.data(), with_nul.size(), &s, &error), 1);
    EXPECT_EQ(text(s), "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");

    struct Bad {
        std::string challenge;
        const char *error;
    } bad[] = {
        {"", "empty challenge"},
        {"AAAA", "empty challenge"},
        {b64_of(std::string(SMTP_CRAM_CHALLENGE_MAX + 1, 'x')), "challenge too long"},
        {std::string(1 << 20, 'Q'), "challenge too long"},
    };
    for (const Bad &b : bad) {
        SCOPED_TRACE(b.challenge.size());
        error = nullptr;
        EXPECT_EQ(smtp_sasl_cram_md5("tim", "pw", b.challenge.data(), b.challenge.size(), &s, &error), 0);
        EXPECT_STREQ(error, b.error);
    }
    // The longest challenge taken.
    std::string longest = b64_of(std::string(SMTP_CRAM_CHALLENGE_MAX, 'x'));
    EXPECT_EQ(smtp_sasl_cram_md5("tim", "pw", longest.data(), longest.size(), &s, &error), 1);
}

} // namespace
