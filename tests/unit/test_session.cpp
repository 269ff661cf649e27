// Tests of the mail session object: creation defaults, callbacks, error
// text, accessors, the process-wide start-up and freeing a loaded session.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mail/delivery.h"
#include "mail/ident.h"
#include "mail/option.h"
#include "mail/sasl.h"
#include "mail/session.h"
#include "support/str.h"
#include "support/rand.h"
#include "tests/unit/helpers.h"

namespace {

int trace_count;
int count_trace(void *, int, const char *)
{
    trace_count++;
    return 0;
}

int answer_quit(void *, int, int, const char *) { return MAIL_ANSWER_QUIT; }

int no_recipients(void *, int, const char **, const char **, const char **) { return 0; }

struct SessionPtr {
    MailContext *ctx = mail_new();
    ~SessionPtr() { mail_free(ctx); }
    MailContext *operator->() const { return ctx; }
};

} // namespace

TEST(Session, NewSessionDefaults)
{
    SessionPtr s;
    ASSERT_NE(s.ctx, nullptr);
    EXPECT_EQ(s->line_length, 78u);
    EXPECT_EQ(s->mode, uint32_t(MAIL_MODE_SMTP));
    EXPECT_EQ(s->priority, 0);
    EXPECT_EQ(s->port, 0);
    EXPECT_EQ(s->timeout, 0);
    EXPECT_EQ(s->flags, 0u);
    EXPECT_EQ(s->flags2, 0u);
    EXPECT_EQ(s->connection, nullptr);
    EXPECT_EQ(s->trace_fn, nullptr);
    EXPECT_EQ(s->recipient_fn, nullptr);
    EXPECT_EQ(s->to, nullptr);
    EXPECT_EQ(s->attachments, nullptr);
    EXPECT_EQ(s->headers, nullptr);
    EXPECT_EQ(s->from_address, nullptr);
    EXPECT_EQ(s->message_id[0], '\0');
    ASSERT_EQ(s->status_fn, &mail_status_default);
    EXPECT_EQ(s->status_fn(nullptr, MAIL_STAGE_DATA, MAIL_RESULT_FATAL, "x"), MAIL_ANSWER_CONTINUE);
}

TEST(Session, CallbackSlots)
{
    SessionPtr s;
    int user = 0;
    EXPECT_EQ(mail_set_callback(s.ctx, MAILCB_TRACE, count_trace, &user), 1);
    EXPECT_EQ(s->trace_fn, &count_trace);
    EXPECT_EQ(s->trace_user, &user);

    EXPECT_EQ(mail_set_callback(s.ctx, MAILCB_STATUS, answer_quit, &user), 1);
    EXPECT_EQ(s->status_fn, &answer_quit);
    EXPECT_EQ(mail_set_callback(s.ctx, MAILCB_STATUS, nullptr, nullptr), 1);
    EXPECT_EQ(s->status_fn, &mail_status_default);

    EXPECT_EQ(mail_set_callback(s.ctx, MAILCB_RECIPIENTS, no_recipients, &user), 1);
    EXPECT_EQ(s->recipient_fn, &no_recipients);
    EXPECT_EQ(mail_set_callback(s.ctx, MAILCB_RECIPIENTS, nullptr, nullptr), 1);
    EXPECT_EQ(s->recipient_fn, nullptr);

    // Unknown types and a function of the wrong kind store nothing.
    EXPECT_EQ(mail_set_callback(s.ctx, 4, nullptr, &user), 0);
    EXPECT_EQ(mail_set_callback(s.ctx, 0, count_trace, &user), 0);
    EXPECT_EQ(mail_set_callback(s.ctx, MAILCB_STATUS, count_trace, &user), 0);
    EXPECT_EQ(s->status_fn, &mail_status_default);
    EXPECT_EQ(s->status_user, nullptr);
    EXPECT_EQ(mail_set_callback(s.ctx, MAILCB_TRACE, answer_quit, nullptr), 0);
    EXPECT_EQ(s->trace_fn, &count_trace);
}

TEST(Session, CredentialsComplete)
{
    struct Case {
        const char *user, *password;
        int complete;
    } cases[] = {
        {nullptr, nullptr, 1}, {"", "secret", 0}, {"u", "", 0}, {"u", "secret", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.user ? c.user : "(none)") + "/" + (c.password ? c.password : ""));
        SessionPtr s;
        if (c.user) {
            // The option refuses an empty user name, so set the fields directly.
            s->user = strdup(c.user);
            s->password = strdup(c.password);
        }
        EXPECT_EQ(mail_credentials_complete(s.ctx), c.complete);
    }
}

TEST(Session, ErrorText)
{
    SessionPtr s;
    EXPECT_STREQ(mail_last_error(s.ctx), "");
    mail_set_error(s.ctx, strdup("first"));
    EXPECT_STREQ(mail_last_error(s.ctx), "first");
    mail_set_error(s.ctx, strdup("second")); // the first copy is freed (ASan)
    EXPECT_STREQ(mail_last_error(s.ctx), "second");
    mail_set_error(s.ctx, nullptr);
    EXPECT_STREQ(mail_last_error(s.ctx), "");
    EXPECT_STREQ(mail_last_error(nullptr), "");
    mail_set_error(nullptr, strdup("dropped")); // freed, not leaked
}

// Secrets the dialogue sent are masked in every error text and report;
// the oldest goes when one more than fit comes.
TEST(Session, ReplyMasksHideEchoedSecrets)
{
    SessionPtr s;
    std::string reported;
    MailStatusFn keep = [](void *user, int, int, const char *text) {
        *static_cast<std::string *>(user) = text;
        return int(MAIL_ANSWER_CONTINUE);
    };
    mail_set_callback(s.ctx, MAILCB_STATUS, keep, &reported);
    mail_set_errorf(s.ctx, "535 you said %s", "AGJvYgBzM2NyZXQ=");
    EXPECT_STREQ(mail_last_error(s.ctx), "535 you said AGJvYgBzM2NyZXQ=");
    ASSERT_EQ(mail_add_reply_mask(s.ctx, "AGJvYgBzM2NyZXQ=", STR_SECRET_SENT), 1);
    ASSERT_EQ(mail_add_reply_mask(s.ctx, "s3cret", STR_SECRET_PASSWORD), 1);
    ASSERT_EQ(mail_add_reply_mask(s.ctx, "", STR_SECRET_SENT), 1); // nothing to mask
    ASSERT_EQ(mail_add_reply_mask(s.ctx, nullptr, STR_SECRET_PASSWORD), 1);
    mail_set_errorf(s.ctx, "535 you said %s", "AGJvYgBzM2NyZXQ=");
    EXPECT_STREQ(mail_last_error(s.ctx), "535 you said ****");
    mail_set_error(s.ctx, strdup("535 s3cret is wrong"));
    EXPECT_STREQ(mail_last_error(s.ctx), "535 **** is wrong");
    mail_report(s.ctx, MAIL_STAGE_AUTH, MAIL_RESULT_FAILED, "535 got AGJvYgBz...");
    EXPECT_EQ(reported, "535 got ****...");
    // The password's base64 is masked too (the kind goes with the slot).
    mail_set_errorf(s.ctx, "535 you said %s", "czNjcmV0");
    EXPECT_STREQ(mail_last_error(s.ctx), "535 you said ****");
    for (const char *more : {"three", "four", "five", "six", "seven"})
        ASSERT_EQ(mail_add_reply_mask(s.ctx, more, STR_SECRET_SENT), 1);
    static_assert(MAIL_REPLY_MASKS_MAX == 6);
    EXPECT_STREQ(s->reply_masks[0], "s3cret");
    EXPECT_EQ(s->reply_mask_kinds[0], STR_SECRET_PASSWORD);
    EXPECT_STREQ(s->reply_masks[5], "seven");
    mail_set_errorf(s.ctx, "535 you said %s", "czNjcmV0");
    EXPECT_STREQ(mail_last_error(s.ctx), "535 you said ****");
    mail_clear_reply_masks(s.ctx);
    for (const char *mask : s->reply_masks)
        EXPECT_EQ(mask, nullptr);
    mail_set_error(s.ctx, strdup("s3cret"));
    EXPECT_STREQ(mail_last_error(s.ctx), "s3cret");
}

// What a server offered is forgotten before every EHLO; the caller's
// choices and the connection state (STARTTLS in force) stay.
TEST(Session, ClearingCapabilitiesKeepsChoicesAndState)
{
    SessionPtr s;
    s->flags = ~uint32_t(0);
    s->flags2 = ~uint32_t(0);
    mail_clear_capabilities(s.ctx);
    EXPECT_EQ(s->flags & (MAILF_AUTH_MASK | MAILF_SERVER_DSN | MAILF_ESMTP), 0u);
    EXPECT_EQ(s->flags2 & MAILF2_SERVER_SMTPUTF8, 0u);
    EXPECT_EQ(s->flags & MAILF_CHOICE_MASK, uint32_t(MAILF_CHOICE_MASK));
    EXPECT_EQ(s->flags & (MAILF_CONNECTED | MAILF_STARTTLS_NOW | MAILF_DOT_STUFF),
              uint32_t(MAILF_CONNECTED | MAILF_STARTTLS_NOW | MAILF_DOT_STUFF));
    EXPECT_EQ(s->flags2 & MAILF2_CHOICE_MASK, uint32_t(MAILF2_CHOICE_MASK));
    mail_clear_capabilities(nullptr);
}

// One row per mechanism ties its EHLO name to its three bits.
TEST(Session, SaslTable)
{
    const struct {
        const char *word;
        uint32_t offered, disabled;
        int allow;
    } known[] = {
        {"CRAM-MD5", MAILF_AUTH_CRAM_MD5, MAILF_NO_CRAM_MD5, MAIL_AUTH_ALLOW_CRAM_MD5},
        {"plain", MAILF_AUTH_PLAIN, MAILF_NO_PLAIN, MAIL_AUTH_ALLOW_PLAIN},
        {"Login", MAILF_AUTH_LOGIN, MAILF_NO_LOGIN, MAIL_AUTH_ALLOW_LOGIN},
        {"OAUTHBEARER", MAILF_AUTH_OAUTHBEARER, MAILF_NO_OAUTHBEARER, MAIL_AUTH_ALLOW_OAUTHBEARER},
    };
    for (const auto &k : known) {
        SCOPED_TRACE(k.word);
        const MailSaslMech *m = mail_sasl_find(k.word, strlen(k.word));
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->offered, k.offered);
        EXPECT_EQ(m->disabled, k.disabled);
        EXPECT_EQ(m->allow, k.allow);
    }
    // Whole words only: a name is found by its exact length.
    for (const char *other : {"PLAI", "PLAINX", "AUTH", "", "XOAUTH2", "CRAM-MD5 "})
        EXPECT_EQ(mail_sasl_find(other, strlen(other)), nullptr) << other;
    EXPECT_EQ(mail_sasl_find("PLAIN LOGIN", 5), &mail_sasl_mechs[1]);
    EXPECT_EQ(mail_sasl_find(nullptr, 0), nullptr);
    // The order of preference when several are offered.
    EXPECT_STREQ(mail_sasl_mechs[0].name, "CRAM-MD5");
    EXPECT_STREQ(mail_sasl_mechs[1].name, "PLAIN");
    EXPECT_STREQ(mail_sasl_mechs[2].name, "LOGIN");
}

TEST(Session, ExtraParts)
{
    SessionPtr s;
    DataBlob blob = {"Content-Type: text/plain\r\n\r\nx\r\n", 31};
    DataBlob empty = {"", 0};
    EXPECT_EQ(mail_set_extra_part(s.ctx, &blob, 0), 1);
    EXPECT_EQ(s->extra_mixed, &blob);
    EXPECT_EQ(s->extra_related, nullptr);
    EXPECT_EQ(mail_set_extra_part(s.ctx, &blob, 1), 1);
    EXPECT_EQ(s->extra_related, &blob);
    EXPECT_EQ(mail_set_extra_part(s.ctx, &empty, 0), 1);
    EXPECT_EQ(s->extra_mixed, nullptr);
    EXPECT_EQ(mail_set_extra_part(s.ctx, nullptr, 7), 1);
    EXPECT_EQ(s->extra_related, nullptr);
}

TEST(Session, ConnectionInfo)
{
    SessionPtr s;
    char host[MAIL_HOST_TEXT_SIZE], peer[MAIL_HOST_TEXT_SIZE] = "junk";
    unsigned short port = 1;
    int info = -1;
    EXPECT_EQ(mail_connection_info(s.ctx, host, peer, &port, &info), 1);
    EXPECT_STREQ(host, "");
    EXPECT_STREQ(peer, "");
    EXPECT_EQ(port, 0);
    EXPECT_EQ(info, 0);

    ASSERT_EQ(mail_set_option_basic(s.ctx, MAILOPT_SERVER, "mx.example.org", "587", nullptr), 1);
    s->flags |= MAILF_ESMTP | MAILF_STARTTLS_NOW | MAILF_SMTPS;
    EXPECT_EQ(mail_connection_info(s.ctx, host, peer, &port, &info), 1);
    EXPECT_STREQ(host, "mx.example.org");
    EXPECT_STREQ(peer, ""); // not connected (the connected peer: SmtpSession tests)
    EXPECT_EQ(port, 587);
    EXPECT_EQ(info, 7);

    s->flags &= ~uint32_t(MAILF_STARTTLS_NOW);
    EXPECT_EQ(mail_connection_info(s.ctx, nullptr, nullptr, nullptr, &info), 0);
    EXPECT_EQ(info, 5);

    // A host name longer than the buffer is cut, never written past it.
    std::string long_host(400, 'h');
    ASSERT_EQ(mail_set_option_basic(s.ctx, MAILOPT_SERVER, long_host.c_str(), "25", nullptr), 1);
    EXPECT_EQ(mail_connection_info(s.ctx, host, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(std::string(host), long_host.substr(0, MAIL_HOST_TEXT_SIZE - 1));
}

TEST(Session, GlobalInitSeedsTheGenerator)
{
    EXPECT_EQ(mail_global_init(1, 12345), 1);
    ASSERT_NE(mail_global_mutex, nullptr);
    ASSERT_NE(mail_global_rand, nullptr);
    Mutex *mutex = mail_global_mutex;
    RandState *expected = rand_new(12345);
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(rand_next(mail_global_rand), rand_next(expected));
    rand_free(expected);

    // A second start-up re-seeds but keeps the one mutex; the clean-up
    // keeps both.
    EXPECT_EQ(mail_global_init(1, 777), 1);
    EXPECT_EQ(mail_global_mutex, mutex);
    expected = rand_new(777);
    EXPECT_EQ(rand_next(mail_global_rand), rand_next(expected));
    rand_free(expected);
    EXPECT_EQ(mail_global_init(0, 0), 1);
    EXPECT_EQ(mail_global_mutex, mutex);
    EXPECT_NE(mail_global_rand, nullptr);

    // Seed 0 means the current time: it still makes a generator.
    EXPECT_EQ(mail_global_init(1, 0), 1);
    EXPECT_NE(mail_global_rand, nullptr);
}

// The process start-up and clean-up reach the network library through the
// installed SMTP client.
namespace {
int net_starts, net_stops;
void count_start(void) { net_starts++; }
int count_stop(void)
{
    net_stops++;
    return 0;
}
} // namespace

TEST(Session, GlobalInitReachesTheNetworkLibrary)
{
    MailDelivery counting = {};
    counting.net_start = count_start;
    counting.net_stop = count_stop;
    const MailDelivery *before = mail_installed_delivery();
    mail_set_delivery(&counting);
    EXPECT_EQ(mail_global_init(1, 5), 1);
    EXPECT_EQ(net_starts, 1);
    EXPECT_EQ(net_stops, 0);
    EXPECT_EQ(mail_global_init(0, 0), 1);
    EXPECT_EQ(net_starts, 1);
    EXPECT_EQ(net_stops, 1);
    mail_set_delivery(before);
}

// Every owned text, list and record of a session goes with mail_free; the
// sanitizer build reports anything left behind.
TEST(Session, FreeFullyLoadedSession)
{
    TempDir dir;
    write_file(dir.file("a.txt"), "attachment");
    write_file(dir.file("body.txt"), "line1\nline2\n");
    write_file(dir.file("page.html"), "<p>x</p>");
    write_file(dir.file("message.eml"), "From: a@b.org\r\n\r\nbody\r\n");

    const std::string att = dir.file("a.txt"), body = dir.file("body.txt"),
                      html = dir.file("page.html"), eml = dir.file("message.eml"),
                      out = dir.file("out.eml");

    MailContext *ctx = mail_new();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(mail_set_callback(ctx, MAILCB_TRACE, count_trace, nullptr), 1);
    struct Set {
        unsigned code;
        const char *v1, *v2, *v3, *v4;
    } sets[] = {
        {MAILOPT_FROM, "a@b.org", "Sender", nullptr, nullptr},
        {MAILOPT_RECIPIENT | MAILOPT_TO, "t@b.org", "To", "SF", nullptr},
        {MAILOPT_RECIPIENT | MAILOPT_CC, "c@b.org", "Cc", nullptr, nullptr},
        {MAILOPT_RECIPIENT | MAILOPT_BCC, "b@b.org", nullptr, nullptr, nullptr},
        {MAILOPT_SUBJECT, "Subject", nullptr, nullptr, nullptr},
        {MAILOPT_BODY | MAILOPT_FROM_FILE, body.c_str(), nullptr, nullptr, nullptr},
        {MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, html.c_str(), nullptr, nullptr, nullptr},
        {MAILOPT_OUTPUT_FILE, out.c_str(), nullptr, nullptr, nullptr},
        {MAILOPT_EMAIL_FILE, eml.c_str(), nullptr, nullptr, nullptr},
        {MAILOPT_SERVER, "mx.b.org", "25", nullptr, nullptr},
        {MAILOPT_CREDENTIALS, "user", "secret", nullptr, nullptr},
        {MAILOPT_ATTACH | MAILOPT_FROM_FILE, att.c_str(), "cid", "text/plain", "Name"},
        {MAILOPT_REPLY_TO, "r@b.org", "Reply", nullptr, nullptr},
        {MAILOPT_HELO, "client.b.org", nullptr, nullptr, nullptr},
        {MAILOPT_HEADER, "X-Custom", "value", nullptr, nullptr},
        {MAILOPT_CHARSET, "utf-8", nullptr, nullptr, nullptr},
        {MAILOPT_DSN, "F", "ENVID1", nullptr, nullptr},
        {MAILOPT_RETURN_PATH, "bounce@b.org", nullptr, nullptr, nullptr},
        {MAILOPT_DELETE_HEADER, "X-Old", nullptr, nullptr, nullptr},
        {MAILOPT_TLS_CIPHERS, "secure", nullptr, nullptr, nullptr},
        {MAILOPT_TLS_PROTOCOLS, "tlsv1.3", nullptr, nullptr, nullptr},
        {MAILOPT_DKIM_DOMAIN, "b.org", nullptr, nullptr, nullptr},
        {MAILOPT_PROXY, "proxy.b.org", "1080", nullptr, nullptr},
        {MAILOPT_PROXY_AUTH, "puser", "ppass", nullptr, nullptr},
        {MAILOPT_X_MAILER, "Mailer 1.0", nullptr, nullptr, nullptr},
        {MAILOPT_MESSAGE_ID, "id@b.org", nullptr, nullptr, nullptr},
        {MAILOPT_BOUNDARIES, "m", "a", "r", nullptr},
    };
    for (const Set &s : sets) {
        SCOPED_TRACE(s.code);
        ASSERT_EQ(mail_set_option(ctx, s.code, s.v1, s.v2, s.v3, s.v4), 1);
    }
    mail_set_error(ctx, strdup("an error"));
    EXPECT_EQ(mail_free(ctx), 1);
    str_free_secret(nullptr);
    EXPECT_EQ(mail_free(nullptr), 0);
}
