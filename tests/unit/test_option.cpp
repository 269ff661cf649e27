// Tests of the session option switch of the full program: for every option
// row a value that is stored, values that fail, and that a failure changed
// nothing (the whole session is compared before and after).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "mail/list.h"
#include "mail/option.h"
#include "mail/session.h"
#include "tests/unit/helpers.h"

namespace {

std::string text(const char *t) { return t ? "\"" + std::string(t) + "\"" : "NULL"; }

// Every field of a session but its error text, as one comparable text.
std::string describe(const MailContext *c)
{
    std::ostringstream o;
    o << "connection=" << c->connection << " fixed_date=" << c->fixed_date << " mode=" << c->mode
      << " flags=" << std::hex << c->flags << " flags2=" << c->flags2 << std::dec
      << " dkim_algorithms=" << c->dkim_algorithms << " dkim_canons=" << c->dkim_canons
      << " line_length=" << c->line_length << " trace=" << reinterpret_cast<void *>(c->trace_fn)
      << " status=" << reinterpret_cast<void *>(c->status_fn)
      << " recipients=" << reinterpret_cast<void *>(c->recipient_fn) << " ip_family=" << c->ip_family
      << " port=" << c->port << " priority=" << c->priority << " proxy_port=" << c->proxy_port
      << " proxy_type=" << c->proxy_type << " timeout=" << c->timeout << " last_code=" << c->last_code
      << " failing_code=" << c->failing_code << "\n";
    const char *const texts[][2] = {
        {"charset", c->charset},
        {"dsn_envid", c->dsn_envid},
        {"email_file", c->email_file},
        {"output_file", c->output_file},
        {"from_address", c->from_address},
        {"from_name", c->from_name},
        {"return_path", c->return_path},
        {"helo_name", c->helo_name},
        {"server_host", c->server_host},
        {"html_body", c->html_body},
        {"text_body", c->text_body},
        {"password", c->password},
        {"proxy_host", c->proxy_host},
        {"proxy_password", c->proxy_password},
        {"proxy_user", c->proxy_user},
        {"reply_to_address", c->reply_to_address},
        {"reply_to_name", c->reply_to_name},
        {"subject", c->subject},
        {"tls_ciphers", c->tls_ciphers},
        {"tls_protocols", c->tls_protocols},
        {"user", c->user},
        {"mailer", c->mailer},
        {"boundary_mixed", c->boundary_mixed},
        {"boundary_alternative", c->boundary_alternative},
        {"boundary_related", c->boundary_related},
        {"dkim_domain", c->dkim_domain},
    };
    for (const auto &t : texts)
        o << t[0] << "=" << text(t[1]) << "\n";
    o << "text_body_length=" << c->text_body_length << " message_id=" << text(c->message_id) << "\n";
    for (const auto &[name, list] : {std::pair<const char *, const Recipient *>{"to", c->to},
                                     {"cc", c->cc},
                                     {"bcc", c->bcc}}) {
        o << name << ":";
        for (const Recipient *r = list; r; r = r->next)
            o << " " << text(r->address) << "/" << text(r->display_name) << "/" << r->notify;
        o << "\n";
    }
    o << "attachments:";
    for (Attachment *a = att_first(c->attachments); a; a = att_next(a))
        o << " [" << text(a->path) << " " << text(a->encoded_name) << " " << text(a->content_id)
          << " " << text(a->mime_type) << " " << text(a->display_name) << " " << a->encoding << " "
          << a->is_inline << "]";
    o << "\nheaders:";
    for (HeaderField *h = hdr_first(c->headers); h; h = hdr_next(h))
        o << " " << text(h->name) << "=" << text(h->value);
    o << "\nremoved:";
    for (HeaderField *h = hdr_first(c->removed_headers); h; h = hdr_next(h))
        o << " " << text(h->name);
    o << "\nextra=" << c->extra_mixed << "/" << c->extra_related << " users=" << c->trace_user << "/"
      << c->status_user << "/" << c->recipient_user << " dkim_keys=" << c->dkim_keys << "\n";
    return o.str();
}

int trace_sink(void *, int, const char *) { return 0; }

struct Report {
    int stage, result;
    std::string text;
};
int record_status(void *user, int stage, int result, const char *text)
{
    static_cast<std::vector<Report> *>(user)->push_back({stage, result, text ? text : ""});
    return MAIL_ANSWER_CONTINUE;
}

// A value that is not given.
constexpr const char *none = nullptr;

struct Call {
    unsigned code;
    const char *v1 = nullptr, *v2 = nullptr, *v3 = nullptr, *v4 = nullptr;
};

int apply(MailContext *ctx, const Call &c) { return mail_set_option(ctx, c.code, c.v1, c.v2, c.v3, c.v4); }

class OptionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        write_file(att_path, "attachment bytes");
        write_file(att2_path, "second");
        write_file(body_path, "one\ntwo\r\nthree");
        write_file(raw_path, std::string("raw\0body\n", 9));
        write_file(html_path, "<p>page</p>");
        write_file(eml_path, "From: a@b.org\r\nTo: c@d.org\r\n\r\nbody\r\n");
        ctx = mail_new();
        ASSERT_NE(ctx, nullptr);
    }
    void TearDown() override { mail_free(ctx); }

    // A session with something in almost every field, so that a failing
    // option has something it could wrongly change.
    void load()
    {
        ASSERT_EQ(mail_set_callback(ctx, MAILCB_TRACE, trace_sink, nullptr), 1);
        const Call calls[] = {
            {MAILOPT_FROM, "old@from.org", "Old Sender"},
            {MAILOPT_RECIPIENT | MAILOPT_TO, "to@x.org", "To Name", "S"},
            {MAILOPT_RECIPIENT | MAILOPT_CC, "cc@x.org"},
            {MAILOPT_RECIPIENT | MAILOPT_BCC, "bcc@x.org"},
            {MAILOPT_SUBJECT, "Old subject"},
            {MAILOPT_BODY | 0x200, "old body"},
            {MAILOPT_OUTPUT_FILE, "out.eml"},
            {MAILOPT_SERVER, "old.mx.org", "2525"},
            {MAILOPT_CREDENTIALS, "olduser", "oldpass"},
            {MAILOPT_ATTACH | 0x100, att_path.c_str(), "oldcid", "text/plain", "Old"},
            {MAILOPT_PRIORITY | 0x200},
            {MAILOPT_REPLY_TO, "reply@x.org", "Reply"},
            {MAILOPT_BODY_HTML, "<p>old</p>"},
            {MAILOPT_HELO, "old.helo"},
            {MAILOPT_HEADER, "X-Old", "old value"},
            {MAILOPT_CHARSET, "iso-8859-1"},
            {MAILOPT_LINE_LENGTH, "100"},
            {MAILOPT_AUTH_TYPES | 0x100},
            {MAILOPT_IP_FAMILY | 0x100},
            {MAILOPT_DSN, "F", "OLDENVID"},
            {MAILOPT_TLS_MODE | 0x100},
            {MAILOPT_TIMEOUT, "60"},
            {MAILOPT_DATE, "1000"},
            {MAILOPT_RETURN_PATH, "bounce@x.org"},
            {MAILOPT_DELETE_HEADER, "X-Gone"},
            {MAILOPT_TLS_CIPHERS, "old-ciphers"},
            {MAILOPT_TLS_PROTOCOLS, "old-protocols"},
            {MAILOPT_DKIM_ALGORITHMS | 0x100},
            {MAILOPT_DKIM_CANON | 0x200},
            {MAILOPT_DKIM_DOMAIN, "old.org"},
            {MAILOPT_DEBUG, "1"},
            {MAILOPT_PROXY | 0x100, "old.proxy", "1234"},
            {MAILOPT_PROXY_AUTH, "puser", "ppass"},
            {MAILOPT_X_MAILER, "Old Mailer"},
            {MAILOPT_MESSAGE_ID, "old@id"},
            {MAILOPT_BOUNDARIES, "m", "a", "r"},
        };
        for (const Call &c : calls) {
            SCOPED_TRACE(c.code);
            ASSERT_EQ(apply(ctx, c), 1);
        }
        mail_set_error(ctx, strdup("previous error"));
    }

    // The call fails and leaves every field as it was; its error text is
    // `error`, or (NULL) the previous one untouched.
    void expect_fails_unchanged(const Call &c, const char *error = nullptr)
    {
        std::string before = describe(ctx);
        std::string previous_error = mail_last_error(ctx);
        EXPECT_EQ(apply(ctx, c), 0);
        EXPECT_EQ(describe(ctx), before);
        EXPECT_EQ(std::string(mail_last_error(ctx)), error ? std::string(error) : previous_error);
    }

    TempDir dir;
    std::string att_path = dir.file("a.txt");
    std::string att2_path = dir.file("b.txt");
    std::string body_path = dir.file("body.txt");
    std::string raw_path = dir.file("raw.bin");
    std::string html_path = dir.file("page.html");
    std::string eml_path = dir.file("message.eml");
    std::string missing_path = dir.file("missing.txt");
    MailContext *ctx = nullptr;
};

struct StoreCase {
    const char *what;
    Call call;
    std::function<void(const MailContext *)> check;
};

struct FailCase {
    const char *what;
    Call call;
    const char *error; // NULL: the option leaves no message
};

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

TEST_F(OptionTest, UnlistedNumbersFailAndChangeNothing)
{
    load();
    for (unsigned n : {0u, 3u, 4u, 13u, 14u, 31u, 42u, 44u, 100u, 207u, 209u, 223u, 230u, 239u,
                       245u, 255u}) {
        SCOPED_TRACE(n);
        expect_fails_unchanged({n, "a@b.org", "x", "y", "z"});
        expect_fails_unchanged({n | MAILOPT_CLEAR});
    }
    EXPECT_EQ(mail_set_option(nullptr, MAILOPT_OAUTH, none, none, none, none), 0);
}

TEST_F(OptionTest, HighBitsAndBit14AreIgnored)
{
    EXPECT_EQ(mail_set_option(ctx, 0xabcd0000u | 0x4000 | MAILOPT_OAUTH, none, none, none, none), 1);
    EXPECT_TRUE(ctx->flags & MAILF_USE_OAUTHBEARER);
    EXPECT_EQ(mail_set_option_basic(ctx, MAILOPT_SUBJECT, "Hi", none, none), 1);
    EXPECT_STREQ(ctx->subject, "Hi");
}

// ---- stored values ----------------------------------------------------------------------

TEST_F(OptionTest, StoresEachRow)
{
    load();
    const StoreCase cases[] = {
        {"from with name", {MAILOPT_FROM, "a@b.org", "J\xc3\xb6rg"},
         [](const MailContext *c) {
             EXPECT_STREQ(c->from_address, "a@b.org");
             EXPECT_STREQ(c->from_name, "=?utf-8?B?SsO2cmc=?=");
         }},
        {"from without name", {MAILOPT_FROM, "n@b.org"},
         [](const MailContext *c) { EXPECT_EQ(c->from_name, nullptr); }},
        {"from ignores clear", {MAILOPT_FROM | MAILOPT_CLEAR, "c@b.org", "Tab\tName"},
         [](const MailContext *c) {
             EXPECT_STREQ(c->from_address, "c@b.org");
             EXPECT_STREQ(c->from_name, "Tab\tName");
         }},
        {"subject encoded", {MAILOPT_SUBJECT, "caf\xc3\xa9"},
         [](const MailContext *c) { EXPECT_STREQ(c->subject, "=?utf-8?B?Y2Fmw6k=?="); }},
        {"body text", {MAILOPT_BODY | 0x100, "new body"},
         [](const MailContext *c) {
             EXPECT_STREQ(c->text_body, "new body");
             EXPECT_EQ(c->text_body_length, 8u);
             EXPECT_EQ((c->flags & MAILF_BODY_ENC_MASK) >> MAILF_BODY_ENC_SHIFT, uint32_t(BODY_ENC_BASE64));
             EXPECT_FALSE(c->flags2 & MAILF2_BODY_FROM_FILE);
         }},
        {"body encoding only", {MAILOPT_BODY},
         [](const MailContext *c) {
             EXPECT_STREQ(c->text_body, "new body");
             EXPECT_EQ(c->flags & MAILF_BODY_ENC_MASK, 0u);
         }},
        {"output file", {MAILOPT_OUTPUT_FILE, "new.eml"},
         [](const MailContext *c) {
             EXPECT_STREQ(c->output_file, "new.eml");
             EXPECT_EQ(c->mode, uint32_t(MAIL_MODE_FILE));
         }},
        {"server, highest port", {MAILOPT_SERVER, "mx.b.org", "65535"},
         [](const MailContext *c) {
             EXPECT_STREQ(c->server_host, "mx.b.org");
             EXPECT_EQ(c->port, 65535);
         }},
        {"server, port without digits", {MAILOPT_SERVER | MAILOPT_CLEAR, "mx2.b.org", "smtp"},
         [](const MailContext *c) {
             EXPECT_STREQ(c->server_host, "mx2.b.org");
             EXPECT_EQ(c->port, 0);
         }},
        {"server, blanks and sign", {MAILOPT_SERVER, "mx3.b.org", "  +587x"},
         [](const MailContext *c) { EXPECT_EQ(c->port, 587); }},
        {"credentials, empty password", {MAILOPT_CREDENTIALS, "u", ""},
         [](const MailContext *c) {
             EXPECT_STREQ(c->user, "u");
             EXPECT_STREQ(c->password, "");
         }},
        {"oauth", {MAILOPT_OAUTH},
         [](const MailContext *c) { EXPECT_TRUE(c->flags & MAILF_USE_OAUTHBEARER); }},
        {"priority 5", {MAILOPT_PRIORITY | 0x500},
         [](const MailContext *c) { EXPECT_EQ(c->priority, 5); }},
        {"priority 3", {MAILOPT_PRIORITY | 0x300},
         [](const MailContext *c) { EXPECT_EQ(c->priority, 3); }},
        {"reply-to without name", {MAILOPT_REPLY_TO, "r2@b.org"},
         [](const MailContext *c) {
             EXPECT_STREQ(c->reply_to_address, "r2@b.org");
             EXPECT_EQ(c->reply_to_name, nullptr);
         }},
        {"html text", {MAILOPT_BODY_HTML, "<b>x</b>"},
         [](const MailContext *c) {
             EXPECT_STREQ(c->html_body, "<b>x</b>");
             EXPECT_FALSE(c->flags & MAILF_HTML_FROM_FILE);
         }},
        {"helo", {MAILOPT_HELO, "client.b.org"},
         [](const MailContext *c) { EXPECT_STREQ(c->helo_name, "client.b.org"); }},
        {"helo NULL", {MAILOPT_HELO},
         [](const MailContext *c) { EXPECT_EQ(c->helo_name, nullptr); }},
        {"helo empty means default", {MAILOPT_HELO, ""},
         [](const MailContext *c) { EXPECT_EQ(c->helo_name, nullptr); }},
        {"charset", {MAILOPT_CHARSET, "utf-8"},
         [](const MailContext *c) { EXPECT_STREQ(c->charset, "utf-8"); }},
        {"charset empty", {MAILOPT_CHARSET, ""},
         [](const MailContext *c) { EXPECT_EQ(c->charset, nullptr); }},
        {"force mime", {MAILOPT_FORCE_MIME},
         [](const MailContext *c) { EXPECT_TRUE(c->flags & MAILF_FORCE_MIME); }},
        {"mdn", {MAILOPT_MDN}, [](const MailContext *c) { EXPECT_TRUE(c->flags & MAILF_MDN); }},
        {"dot stuff", {MAILOPT_DOT_STUFF},
         [](const MailContext *c) { EXPECT_TRUE(c->flags & MAILF_DOT_STUFF_FILE); }},
        {"timeout", {MAILOPT_TIMEOUT, "2147483"},
         [](const MailContext *c) { EXPECT_EQ(c->timeout, 2147483); }},
        {"dkim", {MAILOPT_DKIM}, [](const MailContext *c) { EXPECT_TRUE(c->flags2 & MAILF2_DKIM); }},
        {"date", {MAILOPT_DATE, "1700000000"},
         [](const MailContext *c) { EXPECT_EQ(c->fixed_date, 1700000000); }},
        {"date without digits, clear ignored", {MAILOPT_DATE | MAILOPT_CLEAR, "now"},
         [](const MailContext *c) { EXPECT_EQ(c->fixed_date, 0); }},
        {"date, year 9999", {MAILOPT_DATE, "253402300799"},
         [](const MailContext *c) { EXPECT_EQ(c->fixed_date, 253402300799LL); }},
        {"return path", {MAILOPT_RETURN_PATH, "rp@b.org"},
         [](const MailContext *c) { EXPECT_STREQ(c->return_path, "rp@b.org"); }},
        {"raw headers", {MAILOPT_RAW_HEADERS},
         [](const MailContext *c) { EXPECT_TRUE(c->flags & MAILF_RAW_HEADERS); }},
        {"verify", {MAILOPT_VERIFY}, [](const MailContext *c) { EXPECT_TRUE(c->flags & MAILF_VERIFY); }},
        {"tls ciphers", {MAILOPT_TLS_CIPHERS, "secure"},
         [](const MailContext *c) { EXPECT_STREQ(c->tls_ciphers, "secure"); }},
        {"tls protocols", {MAILOPT_TLS_PROTOCOLS, "tlsv1.3"},
         [](const MailContext *c) { EXPECT_STREQ(c->tls_protocols, "tlsv1.3"); }},
        {"dkim algorithms accumulate", {MAILOPT_DKIM_ALGORITHMS | 0x400},
         [](const MailContext *c) { EXPECT_EQ(c->dkim_algorithms, 0x500); }},
        {"dkim canon replaces", {MAILOPT_DKIM_CANON | 0x800},
         [](const MailContext *c) { EXPECT_EQ(c->dkim_canons, 0x800); }},
        {"dkim domain", {MAILOPT_DKIM_DOMAIN, "b.org"},
         [](const MailContext *c) { EXPECT_STREQ(c->dkim_domain, "b.org"); }},
        {"dkim domain NULL", {MAILOPT_DKIM_DOMAIN},
         [](const MailContext *c) { EXPECT_EQ(c->dkim_domain, nullptr); }},
        {"timeout value 0, clear ignored", {MAILOPT_TIMEOUT_VALUE | MAILOPT_CLEAR, "0"},
         [](const MailContext *c) { EXPECT_EQ(c->timeout, 0); }},
        {"timeout value", {MAILOPT_TIMEOUT_VALUE, "5000"},
         [](const MailContext *c) { EXPECT_EQ(c->timeout, 5000); }},
        {"debug 3", {MAILOPT_DEBUG, "3"},
         [](const MailContext *c) { EXPECT_EQ(c->flags2 & MAILF2_DEBUG_MASK, 0xcu); }},
        {"debug 6 keeps low bits", {MAILOPT_DEBUG, "6"},
         [](const MailContext *c) { EXPECT_EQ(c->flags2 & MAILF2_DEBUG_MASK, 0x8u); }},
        {"proxy auth, empty texts", {MAILOPT_PROXY_AUTH, "", ""},
         [](const MailContext *c) {
             EXPECT_STREQ(c->proxy_user, "");
             EXPECT_STREQ(c->proxy_password, "");
         }},
        {"x-mailer with tab", {MAILOPT_X_MAILER, "Mailer\t2"},
         [](const MailContext *c) { EXPECT_STREQ(c->mailer, "Mailer\t2"); }},
        {"message id", {MAILOPT_MESSAGE_ID, "abc@b.org"},
         [](const MailContext *c) { EXPECT_STREQ(c->message_id, "<abc@b.org>"); }},
        {"boundaries, some drawn", {MAILOPT_BOUNDARIES, none, "alt"},
         [](const MailContext *c) {
             EXPECT_EQ(c->boundary_mixed, nullptr);
             EXPECT_STREQ(c->boundary_alternative, "alt");
             EXPECT_EQ(c->boundary_related, nullptr);
         }},
    };
    for (const StoreCase &c : cases) {
        SCOPED_TRACE(c.what);
        std::string error_before = mail_last_error(ctx);
        ASSERT_EQ(apply(ctx, c.call), 1);
        c.check(ctx);
        EXPECT_EQ(mail_last_error(ctx), error_before); // success leaves the error text
    }
}

TEST_F(OptionTest, ClearsEachRow)
{
    load();
    const StoreCase cases[] = {
        {"recipients cc only", {MAILOPT_RECIPIENT | MAILOPT_CC | MAILOPT_CLEAR},
         [](const MailContext *c) {
             EXPECT_NE(c->to, nullptr);
             EXPECT_EQ(c->cc, nullptr);
             EXPECT_NE(c->bcc, nullptr);
         }},
        {"subject", {MAILOPT_SUBJECT | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->subject, nullptr); }},
        {"body keeps encoding", {MAILOPT_BODY | MAILOPT_CLEAR},
         [](const MailContext *c) {
             EXPECT_EQ(c->text_body, nullptr);
             EXPECT_EQ(c->text_body_length, 0u);
             EXPECT_EQ((c->flags & MAILF_BODY_ENC_MASK) >> MAILF_BODY_ENC_SHIFT, uint32_t(BODY_ENC_QP));
         }},
        {"output file", {MAILOPT_OUTPUT_FILE | MAILOPT_CLEAR},
         [](const MailContext *c) {
             EXPECT_EQ(c->output_file, nullptr);
             EXPECT_EQ(c->mode, uint32_t(MAIL_MODE_SMTP));
         }},
        {"credentials", {MAILOPT_CREDENTIALS | MAILOPT_CLEAR},
         [](const MailContext *c) {
             EXPECT_EQ(c->user, nullptr);
             EXPECT_EQ(c->password, nullptr);
         }},
        {"attachments", {MAILOPT_ATTACH | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->attachments, nullptr); }},
        {"priority", {MAILOPT_PRIORITY | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->priority, 3); }},
        {"reply-to", {MAILOPT_REPLY_TO | MAILOPT_CLEAR},
         [](const MailContext *c) {
             EXPECT_EQ(c->reply_to_address, nullptr);
             EXPECT_EQ(c->reply_to_name, nullptr);
         }},
        {"helo", {MAILOPT_HELO | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->helo_name, nullptr); }},
        {"headers", {MAILOPT_HEADER | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->headers, nullptr); }},
        {"charset", {MAILOPT_CHARSET | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->charset, nullptr); }},
        {"line length", {MAILOPT_LINE_LENGTH | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->line_length, 78u); }},
        {"dsn", {MAILOPT_DSN | MAILOPT_CLEAR},
         [](const MailContext *c) {
             EXPECT_EQ(c->flags & MAILF_NOTIFY_MASK, 0u);
             EXPECT_EQ(c->dsn_envid, nullptr);
         }},
        {"tls mode", {MAILOPT_TLS_MODE | MAILOPT_CLEAR},
         [](const MailContext *c) {
             EXPECT_EQ(c->flags & (MAILF_STARTTLS | MAILF_STARTTLS_REQUIRED | MAILF_SMTPS), 0u);
         }},
        {"timeout", {MAILOPT_TIMEOUT | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->timeout, 300); }},
        {"return path", {MAILOPT_RETURN_PATH | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->return_path, nullptr); }},
        {"removed headers", {MAILOPT_DELETE_HEADER | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->removed_headers, nullptr); }},
        {"tls ciphers", {MAILOPT_TLS_CIPHERS | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->tls_ciphers, nullptr); }},
        {"tls protocols", {MAILOPT_TLS_PROTOCOLS | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->tls_protocols, nullptr); }},
        {"dkim algorithms", {MAILOPT_DKIM_ALGORITHMS | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->dkim_algorithms, 0x200); }},
        {"dkim canon", {MAILOPT_DKIM_CANON | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->dkim_canons, 0x100); }},
        {"dkim domain", {MAILOPT_DKIM_DOMAIN | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->dkim_domain, nullptr); }},
        {"debug", {MAILOPT_DEBUG | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->flags2 & MAILF2_DEBUG_MASK, 0u); }},
        {"proxy", {MAILOPT_PROXY | MAILOPT_CLEAR},
         [](const MailContext *c) {
             EXPECT_EQ(c->proxy_host, nullptr);
             EXPECT_EQ(c->proxy_port, 0);
             EXPECT_EQ(c->proxy_type, MAIL_PROXY_SOCKS);
         }},
        {"proxy auth", {MAILOPT_PROXY_AUTH | MAILOPT_CLEAR},
         [](const MailContext *c) {
             EXPECT_EQ(c->proxy_user, nullptr);
             EXPECT_EQ(c->proxy_password, nullptr);
         }},
        {"x-mailer", {MAILOPT_X_MAILER | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->mailer, nullptr); }},
        {"message id", {MAILOPT_MESSAGE_ID | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_STREQ(c->message_id, ""); }},
        {"boundaries", {MAILOPT_BOUNDARIES | MAILOPT_CLEAR},
         [](const MailContext *c) {
             EXPECT_EQ(c->boundary_mixed, nullptr);
             EXPECT_EQ(c->boundary_alternative, nullptr);
             EXPECT_EQ(c->boundary_related, nullptr);
         }},
        {"html keeps its flag", {MAILOPT_BODY_HTML | MAILOPT_CLEAR},
         [](const MailContext *c) { EXPECT_EQ(c->html_body, nullptr); }},
        {"recipients all", {MAILOPT_RECIPIENT | MAILOPT_CLEAR},
         [](const MailContext *c) {
             EXPECT_EQ(c->to, nullptr);
             EXPECT_EQ(c->cc, nullptr);
             EXPECT_EQ(c->bcc, nullptr);
         }},
    };
    for (const StoreCase &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(apply(ctx, c.call), 1);
        c.check(ctx);
    }
    // Clearing flag rows.
    for (auto [code, bit] : {std::pair<unsigned, uint32_t>{MAILOPT_OAUTH, MAILF_USE_OAUTHBEARER},
                             {MAILOPT_FORCE_MIME, MAILF_FORCE_MIME},
                             {MAILOPT_MDN, MAILF_MDN},
                             {MAILOPT_DOT_STUFF, MAILF_DOT_STUFF_FILE},
                             {MAILOPT_RAW_HEADERS, MAILF_RAW_HEADERS},
                             {MAILOPT_VERIFY, MAILF_VERIFY}}) {
        SCOPED_TRACE(code);
        ASSERT_EQ(apply(ctx, {code}), 1);
        EXPECT_EQ(ctx->flags & bit, bit);
        ASSERT_EQ(apply(ctx, {code | MAILOPT_CLEAR}), 1);
        EXPECT_EQ(ctx->flags & bit, 0u);
    }
    ASSERT_EQ(apply(ctx, {MAILOPT_DKIM}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_DKIM | MAILOPT_CLEAR}), 1);
    EXPECT_EQ(ctx->flags2 & MAILF2_DKIM, 0u);
}

// ---- failures change nothing ------------------------------------------------------------

TEST_F(OptionTest, FailuresChangeNothing)
{
    load();
    const std::string long_address = std::string(250, 'l') + "@x.org";
    const std::string envid_101(101, 'e');
    const std::string id_510 = std::string(505, 'i') + "@x.org";
    const std::string missing = missing_path;
    const FailCase cases[] = {
        {"from NULL", {MAILOPT_FROM}, nullptr},
        {"from empty", {MAILOPT_FROM, ""}, nullptr},
        {"from without at", {MAILOPT_FROM, "nobody", "Name"}, nullptr},
        {"from too long", {MAILOPT_FROM, long_address.c_str()}, nullptr},
        {"from CR LF", {MAILOPT_FROM, "a@b.org\r\nBcc: x@y.org"}, "Control character in the sender address"},
        {"from name LF", {MAILOPT_FROM, "a@b.org", "A\nB"}, "Control character in the sender name"},
        {"recipient no list", {MAILOPT_RECIPIENT, "a@b.org"}, nullptr},
        {"recipient empty", {MAILOPT_RECIPIENT | MAILOPT_TO, ""}, nullptr},
        {"recipient NULL", {MAILOPT_RECIPIENT | MAILOPT_CC}, nullptr},
        {"recipient without at", {MAILOPT_RECIPIENT | MAILOPT_TO, "nobody"}, nullptr},
        {"recipient too long", {MAILOPT_RECIPIENT | MAILOPT_TO, long_address.c_str()}, nullptr},
        {"recipient CR", {MAILOPT_RECIPIENT | MAILOPT_BCC, "a@b.org\r"}, "Control character in the recipient address"},
        {"recipient name", {MAILOPT_RECIPIENT | MAILOPT_TO, "a@b.org", "x\x1b"}, "Control character in the recipient name"},
        {"recipient file", {MAILOPT_RECIPIENT | MAILOPT_TO | MAILOPT_FROM_FILE, body_path.c_str()}, "not available in this build"},
        {"subject NULL", {MAILOPT_SUBJECT}, nullptr},
        {"subject empty", {MAILOPT_SUBJECT, ""}, nullptr},
        {"subject CR LF", {MAILOPT_SUBJECT, "Hi\r\nBcc: x@y.org"}, "Control character in the subject"},
        {"body encoding 0x300", {MAILOPT_BODY | 0x300, "text"}, nullptr},
        {"body encoding 0x300 alone", {MAILOPT_BODY | 0x300}, nullptr},
        {"body file missing", {MAILOPT_BODY | 0x100 | MAILOPT_FROM_FILE, missing.c_str()}, nullptr},
        {"body file is a folder", {MAILOPT_BODY | MAILOPT_FROM_FILE | MAILOPT_BINARY, dir.path.c_str()}, nullptr},
        {"output file NULL", {MAILOPT_OUTPUT_FILE}, nullptr},
        {"server port 65536", {MAILOPT_SERVER, "mx.b.org", "65536"}, nullptr},
        {"server port -1", {MAILOPT_SERVER, "mx.b.org", "-1"}, nullptr},
        {"server port wraps", {MAILOPT_SERVER, "mx.b.org", "4294967321"}, nullptr},
        {"server port huge", {MAILOPT_SERVER, "mx.b.org", "99999999999999999999999"}, nullptr},
        {"server port NULL", {MAILOPT_SERVER, "mx.b.org"}, nullptr},
        {"server host NULL", {MAILOPT_SERVER, none, "25"}, nullptr},
        {"server host LF", {MAILOPT_SERVER, "mx\n.b.org", "25"}, "Control character in the server host"},
        {"email file missing", {MAILOPT_EMAIL_FILE, missing.c_str()}, nullptr},
        {"email file NULL", {MAILOPT_EMAIL_FILE}, nullptr},
        {"credentials empty user", {MAILOPT_CREDENTIALS, "", "p"}, nullptr},
        {"credentials NULL password", {MAILOPT_CREDENTIALS, "u"}, nullptr},
        {"attach index 4", {MAILOPT_ATTACH | 0x400, att2_path.c_str()}, nullptr},
        {"attach missing", {MAILOPT_ATTACH, missing.c_str()}, nullptr},
        {"attach empty", {MAILOPT_ATTACH, ""}, nullptr},
        {"attach NULL", {MAILOPT_ATTACH | MAILOPT_FROM_FILE}, nullptr},
        {"attach content id", {MAILOPT_ATTACH, att2_path.c_str(), "c\r\nX: y"}, "Control character in the content ID"},
        {"attach mime type", {MAILOPT_ATTACH, att2_path.c_str(), none, "text/plain\n"}, "Control character in the MIME type"},
        {"attach name", {MAILOPT_ATTACH, att2_path.c_str(), none, none, "a\rb"}, "Control character in the attachment name"},
        {"priority 0", {MAILOPT_PRIORITY}, nullptr},
        {"priority 6", {MAILOPT_PRIORITY | 0x600}, nullptr},
        {"priority 15", {MAILOPT_PRIORITY | 0xf00}, nullptr},
        {"reply-to without at", {MAILOPT_REPLY_TO, "x"}, nullptr},
        {"reply-to empty", {MAILOPT_REPLY_TO, ""}, nullptr},
        {"reply-to LF", {MAILOPT_REPLY_TO, "a@b.org\n"}, "Control character in the reply-to address"},
        {"reply-to name", {MAILOPT_REPLY_TO, "a@b.org", "\x01"}, "Control character in the reply-to name"},
        {"html NULL", {MAILOPT_BODY_HTML}, nullptr},
        {"html file missing", {MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, missing.c_str()}, nullptr},
        {"helo CR LF", {MAILOPT_HELO, "h\r\nMAIL FROM:<x@y.org>"}, "Control character in the HELO name"},
        {"helo TAB", {MAILOPT_HELO, "a\tb"}, "Control character in the HELO name"},
        {"header name empty", {MAILOPT_HEADER, "", "v"}, nullptr},
        {"header name NULL", {MAILOPT_HEADER, none, "v"}, nullptr},
        {"header value NULL", {MAILOPT_HEADER, "X-A"}, nullptr},
        {"header name space", {MAILOPT_HEADER, "X A", "v"}, "Invalid character in the header-field name"},
        {"header name colon", {MAILOPT_HEADER, "X-A:", "v"}, "Invalid character in the header-field name"},
        {"header name LF", {MAILOPT_HEADER, "X\nA", "v"}, "Control character in the header-field name"},
        {"header value CR LF", {MAILOPT_HEADER, "X-A", "v\r\nBcc: x@y.org"}, "Control character in the header-field value"},
        {"charset NULL", {MAILOPT_CHARSET}, nullptr},
        {"charset LF", {MAILOPT_CHARSET, "utf-8\n"}, "Control character in the charset"},
        {"line length NULL", {MAILOPT_LINE_LENGTH}, nullptr},
        {"auth types 0", {MAILOPT_AUTH_TYPES}, nullptr},
        {"dsn nothing", {MAILOPT_DSN}, nullptr},
        {"dsn empty envid only", {MAILOPT_DSN, none, ""}, nullptr},
        {"dsn 101 envid only", {MAILOPT_DSN, none, envid_101.c_str()}, nullptr},
        {"dsn envid CR", {MAILOPT_DSN, "S", "id\r\n"}, "Control character in the DSN envelope identifier"},
        {"dsn envid space", {MAILOPT_DSN, "S", "id NOTIFY=NEVER"}, "Invalid character in the DSN envelope identifier"},
        {"timeout 0", {MAILOPT_TIMEOUT, "0"}, nullptr},
        {"timeout negative", {MAILOPT_TIMEOUT, "-5"}, nullptr},
        {"timeout beyond ms range", {MAILOPT_TIMEOUT, "2147484"}, nullptr},
        {"timeout huge", {MAILOPT_TIMEOUT, "18446744073709551617"}, nullptr},
        {"timeout NULL", {MAILOPT_TIMEOUT}, nullptr},
        {"date NULL", {MAILOPT_DATE}, nullptr},
        {"date past year 9999", {MAILOPT_DATE, "253402300800"}, nullptr},
        {"date huge", {MAILOPT_DATE, "99999999999999999999999"}, nullptr},
        {"return path without at", {MAILOPT_RETURN_PATH, "x"}, nullptr},
        {"return path NULL", {MAILOPT_RETURN_PATH}, nullptr},
        {"return path LF", {MAILOPT_RETURN_PATH, "a@b.org\n"}, "Control character in the return path"},
        {"delete header empty", {MAILOPT_DELETE_HEADER, ""}, nullptr},
        {"delete header invalid", {MAILOPT_DELETE_HEADER, "Bad Name"}, "Invalid character in the header-field name"},
        {"email file scan without file", {MAILOPT_EMAIL_FILE_SCAN, "1", "1"}, nullptr},
        {"tls ciphers NULL", {MAILOPT_TLS_CIPHERS}, nullptr},
        {"tls protocols NULL", {MAILOPT_TLS_PROTOCOLS}, nullptr},
        {"dkim algorithms 0x300", {MAILOPT_DKIM_ALGORITHMS | 0x300}, nullptr},
        {"dkim algorithms 0", {MAILOPT_DKIM_ALGORITHMS}, nullptr},
        {"dkim canon 0x300", {MAILOPT_DKIM_CANON | 0x300}, nullptr},
        {"dkim domain LF", {MAILOPT_DKIM_DOMAIN, "b.org\n"}, "Control character in the DKIM domain"},
        {"timeout value negative", {MAILOPT_TIMEOUT_VALUE, "-1"}, nullptr},
        {"timeout value too big", {MAILOPT_TIMEOUT_VALUE, "2147484"}, nullptr},
        {"timeout value NULL", {MAILOPT_TIMEOUT_VALUE}, nullptr},
        {"debug NULL", {MAILOPT_DEBUG}, nullptr},
        {"proxy port 65536", {MAILOPT_PROXY | 0x200, "p.b.org", "65536"}, nullptr},
        {"proxy port -1", {MAILOPT_PROXY, "p.b.org", "-1"}, nullptr},
        {"proxy port wraps", {MAILOPT_PROXY, "p.b.org", "4294968376"}, nullptr},
        {"proxy host LF", {MAILOPT_PROXY | 0x200, "p\n", "80"}, "Control character in the proxy host"},
        {"proxy auth NULL user", {MAILOPT_PROXY_AUTH, none, "p"}, nullptr},
        {"proxy auth NULL password", {MAILOPT_PROXY_AUTH, "u"}, nullptr},
        {"x-mailer NULL", {MAILOPT_X_MAILER}, nullptr},
        {"x-mailer LF", {MAILOPT_X_MAILER, "M\nX: y"}, "Control character in the X-Mailer text"},
        {"message id without at", {MAILOPT_MESSAGE_ID, "abc"}, nullptr},
        {"message id NULL", {MAILOPT_MESSAGE_ID}, nullptr},
        {"message id 510 characters", {MAILOPT_MESSAGE_ID, id_510.c_str()}, nullptr},
        {"message id CR", {MAILOPT_MESSAGE_ID, "a@b\r"}, "Control character in the Message-ID"},
        {"boundary LF", {MAILOPT_BOUNDARIES, "ok", "bad\n", "ok"}, "Control character in the MIME boundary"},
    };
    for (const FailCase &c : cases) {
        SCOPED_TRACE(c.what);
        expect_fails_unchanged(c.call, c.error);
        mail_set_error(ctx, strdup("previous error"));
    }
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
        {MAILOPT_ATTACH | 0x100, ATT_ENC_BASE64, 0},
        {MAILOPT_ATTACH | 0x200, ATT_ENC_QP, 0},
        {MAILOPT_ATTACH | 0x300 | MAILOPT_FROM_FILE, ATT_ENC_UUENCODE, 0x1000},
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
    ASSERT_EQ(apply(ctx, {MAILOPT_BODY | 0x100 | MAILOPT_FROM_FILE | MAILOPT_BINARY, raw_path.c_str()}), 1);
    EXPECT_EQ(std::string(ctx->text_body, ctx->text_body_length), std::string("raw\0body\n", 9));
    EXPECT_EQ((ctx->flags & MAILF_BODY_ENC_MASK) >> MAILF_BODY_ENC_SHIFT, uint32_t(BODY_ENC_BASE64));

    // A body given as text afterwards is no longer a file's body.
    ASSERT_EQ(apply(ctx, {MAILOPT_BODY, "typed"}), 1);
    EXPECT_FALSE(ctx->flags2 & MAILF2_BODY_FROM_FILE);

    ASSERT_EQ(apply(ctx, {MAILOPT_BODY | MAILOPT_FROM_FILE, body_path.c_str()}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_BODY | 0x200 | MAILOPT_CLEAR}), 1);
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
    EXPECT_EQ(ctx->flags & MAILF_NOTIFY_MASK, 0x1e00u);
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
        {"https default port", {MAILOPT_PROXY | 0x200, "p.b.org", "0"}, MAIL_PROXY_HTTPS, 8080, "p.b.org"},
        {"socks default port", {MAILOPT_PROXY | 0x100, "s.b.org", "0"}, MAIL_PROXY_SOCKS, 1080, "s.b.org"},
        {"type only", {MAILOPT_PROXY | 0x200}, MAIL_PROXY_HTTPS, 1080, "s.b.org"},
        {"no sub-choice keeps type", {MAILOPT_PROXY, "h.b.org"}, MAIL_PROXY_HTTPS, 8080, "h.b.org"},
        {"both bits: https", {MAILOPT_PROXY | 0x300, "x.b.org", "3128"}, MAIL_PROXY_HTTPS, 3128, "x.b.org"},
        {"highest port", {MAILOPT_PROXY | 0x100, "y.b.org", "65535"}, MAIL_PROXY_SOCKS, 65535, "y.b.org"},
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
        {MAILOPT_AUTH_TYPES | 0x600, MAILF_NO_CRAM_MD5 | MAILF_NO_OAUTHBEARER},
        {MAILOPT_AUTH_TYPES | 0x100, MAILF_NO_LOGIN | MAILF_NO_PLAIN | MAILF_NO_OAUTHBEARER},
        {MAILOPT_AUTH_TYPES | 0x800, MAILF_NO_CRAM_MD5 | MAILF_NO_LOGIN | MAILF_NO_PLAIN},
        {MAILOPT_AUTH_TYPES | 0xf00, 0},
        {MAILOPT_AUTH_TYPES | MAILOPT_CLEAR, MAILF_NO_OAUTHBEARER},
        {MAILOPT_AUTH_TYPES | 0x800 | MAILOPT_CLEAR, 0},
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
    ASSERT_EQ(apply(ctx, {MAILOPT_TLS_MODE | 0x100}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_TLS_MODE | 0x300}), 1);
    EXPECT_EQ(ctx->flags & (MAILF_STARTTLS | MAILF_SMTPS), uint32_t(MAILF_STARTTLS | MAILF_SMTPS));
    EXPECT_FALSE(ctx->flags & MAILF_STARTTLS_REQUIRED);
    ASSERT_EQ(apply(ctx, {MAILOPT_TLS_MODE | 0x200}), 1);
    EXPECT_TRUE(ctx->flags & MAILF_STARTTLS_REQUIRED);
    uint32_t before = ctx->flags;
    ASSERT_EQ(apply(ctx, {MAILOPT_TLS_MODE | 0x400}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_TLS_MODE}), 1);
    EXPECT_EQ(ctx->flags, before);

    const struct {
        unsigned code;
        int family;
    } families[] = {{MAILOPT_IP_FAMILY | 0x100, 4}, {MAILOPT_IP_FAMILY | 0x200, 6},
                    {MAILOPT_IP_FAMILY | 0x300, 0}, {MAILOPT_IP_FAMILY | 0x100 | MAILOPT_CLEAR, 4},
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
    expect_fails_unchanged({MAILOPT_DEBUG, "3"});
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
    expect_fails_unchanged({MAILOPT_MESSAGE_ID, id_511.c_str()});
    const std::string huge = std::string(5000, 'i') + "@x.org";
    expect_fails_unchanged({MAILOPT_MESSAGE_ID, huge.c_str()});
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

// ---- actions ------------------------------------------------------------------------------

TEST_F(OptionTest, ActionsNotYetAvailable)
{
    std::vector<Report> reports;
    ASSERT_EQ(mail_set_callback(ctx, MAILCB_STATUS, record_status, &reports), 1);

    // Preconditions of the rows come first and leave no message.
    expect_fails_unchanged({MAILOPT_QUIT});
    expect_fails_unchanged({MAILOPT_DELIVER});
    expect_fails_unchanged({MAILOPT_DELIVER | MAILOPT_CLEAR});
    EXPECT_TRUE(reports.empty());

    // Sending without a connection drops it with one report.
    ctx->failing_code = 550;
    EXPECT_EQ(apply(ctx, {MAILOPT_SEND}), 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].stage, MAIL_STAGE_DISCONNECTED);
    EXPECT_EQ(reports[0].result, MAIL_RESULT_FATAL);
    EXPECT_EQ(reports[0].text, "Disconnected");
    EXPECT_EQ(ctx->failing_code, 0u);

    const char *unavailable = "not available in this build";
    EXPECT_EQ(apply(ctx, {MAILOPT_CONNECT}), 0);
    EXPECT_STREQ(mail_last_error(ctx), unavailable);
    mail_set_error(ctx, nullptr);
    // File mode delivers by writing the output file.
    ASSERT_EQ(apply(ctx, {MAILOPT_OUTPUT_FILE, dir.file("out.eml").c_str()}), 1);
    EXPECT_EQ(apply(ctx, {MAILOPT_DELIVER}), 1);
    EXPECT_NE(read_file(dir.file("out.eml")).find("Content-Type: text/plain"), std::string::npos);
    mail_set_error(ctx, nullptr);
    ASSERT_EQ(apply(ctx, {MAILOPT_OUTPUT_FILE | MAILOPT_CLEAR}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_SERVER, "mx.b.org", "25"}), 1);
    EXPECT_EQ(apply(ctx, {MAILOPT_DELIVER}), 0);
    EXPECT_STREQ(mail_last_error(ctx), unavailable);

    // With the connected bit (no real connection can exist yet) QUIT and
    // SEND reach the missing machinery.
    ctx->flags |= MAILF_CONNECTED;
    mail_set_error(ctx, nullptr);
    EXPECT_EQ(apply(ctx, {MAILOPT_QUIT}), 0);
    EXPECT_STREQ(mail_last_error(ctx), unavailable);
    mail_set_error(ctx, nullptr);
    EXPECT_EQ(apply(ctx, {MAILOPT_SEND}), 0);
    EXPECT_STREQ(mail_last_error(ctx), unavailable);
    EXPECT_EQ(reports.size(), 1u);
    ctx->flags &= ~uint32_t(MAILF_CONNECTED);

    // The scanners are missing too; the message file is checked first.
    mail_set_error(ctx, nullptr);
    ASSERT_EQ(apply(ctx, {MAILOPT_EMAIL_FILE, eml_path.c_str()}), 1);
    expect_fails_unchanged({MAILOPT_EMAIL_FILE_SCAN, "1", "1"}, unavailable);
}

TEST_F(OptionTest, FreeAction)
{
    load();
    EXPECT_EQ(apply(ctx, {MAILOPT_FREE | MAILOPT_CLEAR}), 1);
    ctx = nullptr; // the session no longer exists (the sanitizer checks it was all freed)
}
