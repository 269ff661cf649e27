// Tests of the session option switch of the full program: the row tables
// shared with the plain program (option_rows.h), the option numbers of the
// table, and the rows with more to them than one value.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "mail/writer.h"
#include "tests/unit/option_rows.h"

namespace {

// Runs body in a child process and expects it to end with status 0; the
// child writes what went wrong to standard error.
void expect_child_succeeds(const std::function<int()> &body)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace

// ---- the table itself ----------------------------------------------------------------

TEST(OptionTable, KnowsExactlyTheListedNumbers)
{
    const std::set<unsigned> listed = {1,  2,  5,  6,  7,  8,  9,  10, 11, 12,  15,  16,  17,
                                       18, 19, 20, 21, 22, 23, 24, 25, 26, 27,  28,  29,  30,
                                       32, 33, 34, 35, 36, 37, 38, 39, 40, 41,  43,  208, 224,
                                       225, 226, 227, 228, 229, 240, 241, 242, 243, 244};
    ASSERT_EQ(listed.size(), 49u);
    for (unsigned n = 0; n < 256; n++) {
        SCOPED_TRACE(n);
        EXPECT_EQ(mail_option_name(n) != nullptr, listed.count(n) == 1);
    }
    EXPECT_STREQ(mail_option_name(MAILOPT_FROM), "MAILOPT_FROM");
    EXPECT_STREQ(mail_option_name(MAILOPT_DKIM_DOMAIN | MAILOPT_CLEAR), "MAILOPT_DKIM_DOMAIN");
    EXPECT_STREQ(mail_option_name(MAILOPT_FREE), "MAILOPT_FREE");
}

TEST_F(OptionTest, HighBitsAndBit14AreIgnored)
{
    EXPECT_EQ(mail_set_option(ctx, 0xabcd0000u | 0x4000 | MAILOPT_OAUTH, none, none, none, none), 1);
    EXPECT_TRUE(ctx->flags & MAILF_USE_OAUTHBEARER);
    EXPECT_EQ(mail_set_option_basic(ctx, MAILOPT_SUBJECT, "Hi", none, none), 1);
    EXPECT_STREQ(ctx->subject, "Hi");
}

// ---- rows with more to them -------------------------------------------------------------

TEST_F(OptionTest, LineLengthClamps)
{
    const struct {
        const char *text;
        uint32_t stored;
    } cases[] = {{"50", 78},   {"5000", 998}, {"-1", 998}, {"100", 100}, {"78", 78}, {"998", 998},
                 {"999", 998}, {"abc", 78},   {"4294967396", 998}, {"-99999999999999999999", 998}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(apply(ctx, {MAILOPT_LINE_LENGTH, c.text}), 1);
        EXPECT_EQ(ctx->line_length, c.stored);
    }
    ASSERT_EQ(apply(ctx, {MAILOPT_LINE_LENGTH | MAILOPT_CLEAR}), 1);
    EXPECT_EQ(ctx->line_length, 78u);
}

TEST_F(OptionTest, RecipientSubChoicePrecedence)
{
    ASSERT_EQ(apply(ctx, {MAILOPT_RECIPIENT | MAILOPT_TO | MAILOPT_CC, "a@b.org"}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_RECIPIENT | MAILOPT_CC | MAILOPT_BCC, "c@b.org"}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_RECIPIENT | MAILOPT_BCC, "d@b.org", "D", "nf"}), 1);
    ASSERT_NE(ctx->to, nullptr);
    EXPECT_STREQ(ctx->to->address, "a@b.org");
    ASSERT_NE(ctx->cc, nullptr);
    EXPECT_STREQ(ctx->cc->address, "c@b.org");
    ASSERT_NE(ctx->bcc, nullptr);
    EXPECT_STREQ(ctx->bcc->address, "d@b.org");
    EXPECT_STREQ(ctx->bcc->display_name, "D");
    EXPECT_EQ(ctx->bcc->notify, unsigned(MAIL_NOTIFY_NEVER | MAIL_NOTIFY_FAILURE));

    // To c, b, a: newest first.
    for (const char *a : {"b@b.org", "c@b.org"})
        ASSERT_EQ(apply(ctx, {MAILOPT_RECIPIENT | MAILOPT_TO, a}), 1);
    std::vector<std::string> to;
    for (const Recipient *r = ctx->to; r; r = r->next)
        to.push_back(r->address);
    EXPECT_EQ(to, (std::vector<std::string>{"c@b.org", "b@b.org", "a@b.org"}));

    // Clearing names any combination of lists.
    ASSERT_EQ(apply(ctx, {MAILOPT_RECIPIENT | MAILOPT_TO | MAILOPT_BCC | MAILOPT_CLEAR}), 1);
    EXPECT_EQ(ctx->to, nullptr);
    EXPECT_NE(ctx->cc, nullptr);
    EXPECT_EQ(ctx->bcc, nullptr);
}

TEST_F(OptionTest, AttachSubChoices)
{
    const struct {
        unsigned code;
        int encoding, is_inline;
    } cases[] = {
        {MAILOPT_ATTACH, ATT_ENC_AUTO, 0},
        {MAILOPT_ATTACH | MAILOPT_ATTACH_BASE64, ATT_ENC_BASE64, 0},
        {MAILOPT_ATTACH | MAILOPT_ATTACH_QP, ATT_ENC_QP, 0},
        {MAILOPT_ATTACH | MAILOPT_ATTACH_UUENCODE | MAILOPT_FROM_FILE, ATT_ENC_UUENCODE, MAILOPT_FROM_FILE},
    };
    for (const auto &c : cases)
        ASSERT_EQ(apply(ctx, {c.code, att_path.c_str(), "", "", "Shown"}), 1);
    Attachment *a = att_first(ctx->attachments);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->encoding, c.encoding);
        EXPECT_EQ(a->is_inline, c.is_inline);
        EXPECT_EQ(a->content_id, nullptr);
        EXPECT_EQ(a->mime_type, nullptr);
        EXPECT_STREQ(a->encoded_name, "Shown");
        a = att_next(a);
    }
    EXPECT_EQ(a, nullptr);
}

TEST_F(OptionTest, BodyFromFile)
{
    ASSERT_EQ(apply(ctx, {MAILOPT_BODY | MAILOPT_FROM_FILE, body_path.c_str()}), 1);
    EXPECT_STREQ(ctx->text_body, "one\r\ntwo\r\nthree");
    EXPECT_EQ(ctx->text_body_length, strlen("one\r\ntwo\r\nthree"));
    EXPECT_TRUE(ctx->flags2 & MAILF2_BODY_FROM_FILE);

    // Raw bytes, NUL included, with their length.
    ASSERT_EQ(apply(ctx, {MAILOPT_BODY | MAILOPT_BODY_BASE64 | MAILOPT_FROM_FILE | MAILOPT_BINARY, raw_path.c_str()}), 1);
    EXPECT_EQ(std::string(ctx->text_body, ctx->text_body_length), std::string("raw\0body\n", 9));
    EXPECT_EQ((ctx->flags & MAILF_BODY_ENC_MASK) >> MAILF_BODY_ENC_SHIFT, uint32_t(BODY_ENC_BASE64));

    // A body given as text afterwards is no longer a file's body.
    ASSERT_EQ(apply(ctx, {MAILOPT_BODY, "typed"}), 1);
    EXPECT_FALSE(ctx->flags2 & MAILF2_BODY_FROM_FILE);

    ASSERT_EQ(apply(ctx, {MAILOPT_BODY | MAILOPT_FROM_FILE, body_path.c_str()}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_BODY | MAILOPT_BODY_QP | MAILOPT_CLEAR}), 1);
    EXPECT_EQ(ctx->text_body, nullptr);
    EXPECT_FALSE(ctx->flags2 & MAILF2_BODY_FROM_FILE);
    EXPECT_EQ(ctx->flags & MAILF_BODY_ENC_MASK, 0u); // the encoding bits stay
}

TEST_F(OptionTest, HtmlFromFileAndModeFollowsLastFileOption)
{
    ASSERT_EQ(apply(ctx, {MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, html_path.c_str()}), 1);
    EXPECT_STREQ(ctx->html_body, html_path.c_str());
    EXPECT_TRUE(ctx->flags & MAILF_HTML_FROM_FILE);
    ASSERT_EQ(apply(ctx, {MAILOPT_BODY_HTML | MAILOPT_CLEAR}), 1);
    EXPECT_EQ(ctx->html_body, nullptr);
    EXPECT_TRUE(ctx->flags & MAILF_HTML_FROM_FILE);

    ASSERT_EQ(apply(ctx, {MAILOPT_OUTPUT_FILE, "out.eml"}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_EMAIL_FILE, eml_path.c_str()}), 1);
    EXPECT_EQ(ctx->mode, uint32_t(MAIL_MODE_PRECONSTRUCTED));
    EXPECT_STREQ(ctx->email_file, eml_path.c_str());
    ASSERT_EQ(apply(ctx, {MAILOPT_OUTPUT_FILE, "again.eml"}), 1);
    EXPECT_EQ(ctx->mode, uint32_t(MAIL_MODE_FILE));
    ASSERT_EQ(apply(ctx, {MAILOPT_EMAIL_FILE | MAILOPT_CLEAR}), 1);
    EXPECT_EQ(ctx->email_file, nullptr);
    EXPECT_EQ(ctx->mode, uint32_t(MAIL_MODE_SMTP));
}

TEST_F(OptionTest, DsnNotifyAndEnvid)
{
    ASSERT_EQ(apply(ctx, {MAILOPT_DSN, "SF"}), 1);
    EXPECT_EQ((ctx->flags & MAILF_NOTIFY_MASK) >> MAILF_NOTIFY_SHIFT,
              uint32_t(MAIL_NOTIFY_SUCCESS | MAIL_NOTIFY_FAILURE));
    EXPECT_EQ(ctx->dsn_envid, nullptr);

    // An ENVID on its own keeps the NOTIFY bits already set.
    ASSERT_EQ(apply(ctx, {MAILOPT_DSN, none, "ENV1"}), 1);
    EXPECT_STREQ(ctx->dsn_envid, "ENV1");
    EXPECT_EQ((ctx->flags & MAILF_NOTIFY_MASK) >> MAILF_NOTIFY_SHIFT, 6u);

    // Letters with an unusable ENVID: the letters count, the ENVID stays.
    const std::string envid_101(101, 'e');
    ASSERT_EQ(apply(ctx, {MAILOPT_DSN, "d", envid_101.c_str()}), 1);
    EXPECT_EQ((ctx->flags & MAILF_NOTIFY_MASK) >> MAILF_NOTIFY_SHIFT, uint32_t(MAIL_NOTIFY_DELAY));
    EXPECT_STREQ(ctx->dsn_envid, "ENV1");
    const std::string envid_100(100, 'e');
    ASSERT_EQ(apply(ctx, {MAILOPT_DSN, "", envid_100.c_str()}), 1);
    EXPECT_EQ(ctx->flags & MAILF_NOTIFY_MASK, 0u);
    EXPECT_EQ(std::string(ctx->dsn_envid), envid_100);

    // The other bits of flags are untouched by the NOTIFY setter.
    ctx->flags |= MAILF_MDN | MAILF_ESMTP;
    EXPECT_EQ(mail_set_dsn_notify(ctx, "NSFD"), 1);
    EXPECT_EQ(ctx->flags & MAILF_NOTIFY_MASK, uint32_t(MAILF_NOTIFY_MASK));
    EXPECT_EQ(ctx->flags & (MAILF_MDN | MAILF_ESMTP), uint32_t(MAILF_MDN | MAILF_ESMTP));
    EXPECT_EQ(mail_set_dsn_notify(ctx, nullptr), 1);
    EXPECT_EQ(ctx->flags & MAILF_NOTIFY_MASK, 0u);
}

TEST_F(OptionTest, ProxyTypeAndDefaults)
{
    const struct {
        const char *what;
        Call call;
        int type, port;
        const char *host;
    } steps[] = {
        {"https default port", {MAILOPT_PROXY | MAILOPT_PROXY_HTTPS, "p.b.org", "0"}, MAIL_PROXY_HTTPS, 8080, "p.b.org"},
        {"socks default port", {MAILOPT_PROXY | MAILOPT_PROXY_SOCKS, "s.b.org", "0"}, MAIL_PROXY_SOCKS, 1080, "s.b.org"},
        {"type only", {MAILOPT_PROXY | MAILOPT_PROXY_HTTPS}, MAIL_PROXY_HTTPS, 1080, "s.b.org"},
        {"no sub-choice keeps type", {MAILOPT_PROXY, "h.b.org"}, MAIL_PROXY_HTTPS, 8080, "h.b.org"},
        {"both bits: https", {MAILOPT_PROXY | MAILOPT_PROXY_SOCKS | MAILOPT_PROXY_HTTPS, "x.b.org", "3128"}, MAIL_PROXY_HTTPS, 3128, "x.b.org"},
        {"highest port", {MAILOPT_PROXY | MAILOPT_PROXY_SOCKS, "y.b.org", "65535"}, MAIL_PROXY_SOCKS, 65535, "y.b.org"},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.what);
        ASSERT_EQ(apply(ctx, s.call), 1);
        EXPECT_EQ(ctx->proxy_type, s.type);
        EXPECT_EQ(ctx->proxy_port, s.port);
        EXPECT_STREQ(ctx->proxy_host, s.host);
    }
}

TEST_F(OptionTest, AuthMechanismMask)
{
    const uint32_t all = MAILF_NO_CRAM_MD5 | MAILF_NO_LOGIN | MAILF_NO_PLAIN | MAILF_NO_OAUTHBEARER;
    const struct {
        unsigned code;
        uint32_t disabled;
    } cases[] = {
        {MAILOPT_AUTH_TYPES | mailopt_auth_types(MAIL_AUTH_ALLOW_PLAIN | MAIL_AUTH_ALLOW_LOGIN),
         MAILF_NO_CRAM_MD5 | MAILF_NO_OAUTHBEARER},
        {MAILOPT_AUTH_TYPES | mailopt_auth_types(MAIL_AUTH_ALLOW_CRAM_MD5),
         MAILF_NO_LOGIN | MAILF_NO_PLAIN | MAILF_NO_OAUTHBEARER},
        {MAILOPT_AUTH_TYPES | mailopt_auth_types(MAIL_AUTH_ALLOW_OAUTHBEARER),
         MAILF_NO_CRAM_MD5 | MAILF_NO_LOGIN | MAILF_NO_PLAIN},
        {MAILOPT_AUTH_TYPES | mailopt_auth_types(MAIL_AUTH_ALLOW_ALL), 0},
        {MAILOPT_AUTH_TYPES | MAILOPT_CLEAR, MAILF_NO_OAUTHBEARER},
        {MAILOPT_AUTH_TYPES | mailopt_auth_types(MAIL_AUTH_ALLOW_OAUTHBEARER) | MAILOPT_CLEAR, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        ASSERT_EQ(apply(ctx, {c.code}), 1);
        EXPECT_EQ(ctx->flags & all, c.disabled);
    }
    EXPECT_EQ(mail_set_auth_mechanisms(ctx, MAIL_AUTH_ALLOW_OAUTHBEARER), 1);
    EXPECT_EQ(mail_set_auth_mechanisms(ctx, MAIL_AUTH_ALLOW_PLAIN), 0);
    EXPECT_EQ(ctx->flags & all, all & ~uint32_t(MAILF_NO_PLAIN));
}

TEST_F(OptionTest, TlsModeAccumulatesAndIpFamily)
{
    ASSERT_EQ(apply(ctx, {MAILOPT_TLS_MODE | MAILOPT_TLS_STARTTLS}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_TLS_MODE | MAILOPT_TLS_IMPLICIT}), 1);
    EXPECT_EQ(ctx->flags & (MAILF_STARTTLS | MAILF_SMTPS), uint32_t(MAILF_STARTTLS | MAILF_SMTPS));
    EXPECT_FALSE(ctx->flags & MAILF_STARTTLS_REQUIRED);
    ASSERT_EQ(apply(ctx, {MAILOPT_TLS_MODE | MAILOPT_TLS_REQUIRED}), 1);
    EXPECT_TRUE(ctx->flags & MAILF_STARTTLS_REQUIRED);
    uint32_t before = ctx->flags;
    ASSERT_EQ(apply(ctx, {MAILOPT_TLS_MODE | mailopt_sub(4)}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_TLS_MODE}), 1);
    EXPECT_EQ(ctx->flags, before);

    const struct {
        unsigned code;
        int family;
    } families[] = {{MAILOPT_IP_FAMILY | MAILOPT_IPV4_ONLY, MAIL_IP_FAMILY_V4},
                    {MAILOPT_IP_FAMILY | MAILOPT_IPV6_ONLY, MAIL_IP_FAMILY_V6},
                    {MAILOPT_IP_FAMILY | MAILOPT_IPV4_ONLY | MAILOPT_IPV6_ONLY, MAIL_IP_FAMILY_ANY},
                    {MAILOPT_IP_FAMILY | MAILOPT_IPV4_ONLY | MAILOPT_CLEAR, MAIL_IP_FAMILY_V4},
                    {MAILOPT_IP_FAMILY, 0}};
    for (const auto &f : families) {
        SCOPED_TRACE(f.code);
        ASSERT_EQ(apply(ctx, {f.code}), 1);
        EXPECT_EQ(ctx->ip_family, f.family);
    }
}

TEST_F(OptionTest, DebugNeedsTraceCallback)
{
    ctx->flags2 |= 1u << MAILF2_DEBUG_SHIFT;
    expect_fails_unchanged({MAILOPT_DEBUG, "3"}, "No trace callback installed for the debug level");
    ASSERT_EQ(apply(ctx, {MAILOPT_DEBUG | MAILOPT_CLEAR}), 1); // clearing is always allowed
    EXPECT_EQ(ctx->flags2 & MAILF2_DEBUG_MASK, 0u);
    ASSERT_EQ(mail_set_callback(ctx, MAILCB_TRACE, trace_sink, nullptr), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_DEBUG, "7"}), 1);
    EXPECT_EQ((ctx->flags2 & MAILF2_DEBUG_MASK) >> MAILF2_DEBUG_SHIFT, 3u);
}

TEST_F(OptionTest, MessageIdBounds)
{
    const std::string id_509 = std::string(503, 'i') + "@x.org";
    ASSERT_EQ(id_509.size(), 509u);
    ASSERT_EQ(apply(ctx, {MAILOPT_MESSAGE_ID, id_509.c_str()}), 1);
    EXPECT_EQ(std::string(ctx->message_id), "<" + id_509 + ">");
    const std::string id_511 = std::string(505, 'i') + "@x.org";
    expect_fails_unchanged({MAILOPT_MESSAGE_ID, id_511.c_str()},
                           "The Message-ID is longer than 509 characters");
    const std::string huge = std::string(5000, 'i') + "@x.org";
    expect_fails_unchanged({MAILOPT_MESSAGE_ID, huge.c_str()},
                           "The Message-ID is longer than 509 characters");
}

TEST_F(OptionTest, ReplacingFreesTheOldCopy)
{
    // Run under the sanitizer: every replaced copy must be freed.
    for (int i = 0; i < 3; i++) {
        std::string n = std::to_string(i);
        ASSERT_EQ(apply(ctx, {MAILOPT_FROM, (n + "@b.org").c_str(), n.c_str()}), 1);
        ASSERT_EQ(apply(ctx, {MAILOPT_CREDENTIALS, n.c_str(), n.c_str()}), 1);
        ASSERT_EQ(apply(ctx, {MAILOPT_BOUNDARIES, n.c_str(), n.c_str(), n.c_str()}), 1);
        ASSERT_EQ(apply(ctx, {MAILOPT_BODY | MAILOPT_FROM_FILE, body_path.c_str()}), 1);
        ASSERT_EQ(apply(ctx, {MAILOPT_PROXY_AUTH, n.c_str(), n.c_str()}), 1);
        ASSERT_EQ(apply(ctx, {MAILOPT_DSN, "S", n.c_str()}), 1);
    }
    EXPECT_STREQ(ctx->from_address, "2@b.org");
    EXPECT_STREQ(ctx->password, "2");
    EXPECT_STREQ(ctx->dsn_envid, "2");
}

// ---- addresses, unreadable files, memory -------------------------------------------

// Every address option takes exactly what the header writer writes: one
// mailbox. What it refuses is refused with a reason when the option is
// applied; what it takes appears in the header.
TEST_F(OptionTest, AddressesAreOneMailboxAsTheHeaderWriterTakesThem)
{
    load();
    const struct {
        unsigned code;
        const char *role;
    } roles[] = {
        {MAILOPT_FROM, "sender address"},
        {MAILOPT_REPLY_TO, "reply-to address"},
        {MAILOPT_RETURN_PATH, "return path"},
        {MAILOPT_RECIPIENT | MAILOPT_TO, "recipient address"},
        {MAILOPT_RECIPIENT | MAILOPT_CC, "recipient address"},
        {MAILOPT_RECIPIENT | MAILOPT_BCC, "recipient address"},
    };
    for (const auto &r : roles) {
        for (const char *bad : {"a b@example.org", "bob@", "a..b@x", "a@b@c", ".a@x", "a@x.",
                                "@x.org", "a@x.org, b@y.org", "<a@x.org>", "a@[1.2.3.4"}) {
            SCOPED_TRACE(std::string(r.role) + ": " + bad);
            expect_fails_unchanged({r.code, bad}, std::string("The ") + r.role + " is not a valid mailbox");
        }
    }

    for (const char *good : {"\"a b\"@example.org", "a@[192.0.2.1]", "first.last+tag@sub.example.org",
                             "j\xc3\xb6rg@example.org"}) {
        SCOPED_TRACE(good);
        MailContext *c = mail_new();
        ASSERT_NE(c, nullptr);
        for (const auto &r : roles)
            ASSERT_EQ(mail_set_option(c, r.code, good, none, none, none), 1) << mail_last_error(c);
        StrBuf sb = {};
        size_t header_len = 0;
        ASSERT_EQ(mime_render_message(c, &sb, &header_len), MIME_OK) << mail_last_error(c);
        const std::string header(sb.data, header_len);
        for (const char *field : {"From: ", "Reply-To: ", "To: ", "Cc: "})
            EXPECT_NE(header.find(std::string(field) + good + "\r\n"), std::string::npos) << field << header;
        sbuf_release(&sb);
        mail_free(c);
    }
}

// A file that exists but cannot be read is refused when the option is
// applied, naming the file. Root reads any file, so the check runs as an
// ordinary user in a child.
TEST_F(OptionTest, FilesThatCannotBeReadAreRefusedAtOnce)
{
    const std::string locked = dir.file("locked.txt");
    write_file(locked, "not for you");
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    expect_child_succeeds([&] {
        if (geteuid() == 0 && setuid(65534) != 0)
            return 2;
        MailContext *c = mail_new();
        int failed = 0;
        const struct {
            unsigned code;
            std::string reason;
        } cases[] = {
            {MAILOPT_ATTACH, "Cannot open the attachment file for reading (" + locked + "): Permission denied"},
            {MAILOPT_ATTACH | MAILOPT_FROM_FILE, "Cannot open the attachment file for reading (" + locked + "): Permission denied"},
            {MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, "Cannot open the HTML body file for reading (" + locked + "): Permission denied"},
            {MAILOPT_BODY | MAILOPT_FROM_FILE, "Cannot open the body file (" + locked + "): Permission denied"},
        };
        for (const auto &k : cases) {
            int result = mail_set_option(c, k.code, locked.c_str(), none, none, none);
            if (result != 0 || mail_last_error(c) != k.reason || c->attachments || c->html_body ||
                c->text_body) {
                fprintf(stderr, "%u: result %d, reason \"%s\"\n", k.code, result, mail_last_error(c));
                failed = 1;
            }
        }
        mail_free(c);
        return failed;
    });
}

// Memory running out in an option is the out-of-memory mark (the front
// end's status 666), never a value quietly ignored, and the session stays
// as it was. Run in a child whose address space may not grow (the address
// sanitizer needs room of its own there, so not under it).
TEST_F(OptionTest, OutOfMemoryIsMarkedAndChangesNothing)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "needs a limit on the address space";
#else
    load();
    // Far larger than anything the heap has free: each copy needs new memory.
    const std::string big(16 << 20, 'x');
    const std::string big_file = dir.file("big.txt");
    write_file(big_file, big);
    const Call calls[] = {
        {MAILOPT_SUBJECT, big.c_str()},
        {MAILOPT_BODY | MAILOPT_BODY_QP, big.c_str()},
        {MAILOPT_BODY | MAILOPT_BODY_QP | MAILOPT_FROM_FILE, big_file.c_str()},
        {MAILOPT_BODY | MAILOPT_BODY_QP | MAILOPT_FROM_FILE | MAILOPT_BINARY, big_file.c_str()},
        {MAILOPT_BODY_HTML, big.c_str()},
        {MAILOPT_HEADER, "X-Big", big.c_str()},
        {MAILOPT_X_MAILER, big.c_str()},
        {MAILOPT_FROM, "a@b.org", big.c_str()},
        {MAILOPT_RECIPIENT | MAILOPT_TO, "a@b.org", big.c_str()},
        {MAILOPT_CREDENTIALS, "user", big.c_str()},
        {MAILOPT_PROXY_AUTH, "user", big.c_str()},
        {MAILOPT_ATTACH, att2_path.c_str(), none, none, big.c_str()},
        {MAILOPT_BOUNDARIES, "m", "a", big.c_str()},
    };
    expect_child_succeeds([&] {
        int failed = 0;
        struct rlimit saved;
        getrlimit(RLIMIT_AS, &saved);
        for (const Call &c : calls) {
            // MAILOPT_BODY keeps its early effect: the encoding asked for
            // is the loaded one, so it does not show.
            const std::string before = describe(ctx);
            struct rlimit none_more = saved;
            none_more.rlim_cur = 0;
            setrlimit(RLIMIT_AS, &none_more);
            int result = apply(ctx, c);
            int marked = mail_error_is_nomem(ctx);
            setrlimit(RLIMIT_AS, &saved);
            if (result != 0 || !marked || describe(ctx) != before) {
                fprintf(stderr, "option %u: result %d, marked %d, reason \"%s\", changed %d\n", c.code,
                        result, marked, mail_last_error(ctx), describe(ctx) != before);
                failed = 1;
            }
            mail_set_error(ctx, nullptr);
        }
        return failed;
    });
#endif
}
