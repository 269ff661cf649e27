// The session option switch row by row, shared by the tests of the full and
// the plain program (each includes this file once and links its program's
// seam, which decides the rows there are): for every row a value that is
// stored, values that fail with their exact reason, and that a failure
// changed nothing (the whole session is compared before and after) beyond
// the early effect its row names.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "mail/lists.h"
#include "mail/option.h"
#include "mail/seam.h"
#include "mail/session.h"
#include "tests/unit/helpers.h"

// Not in an unnamed namespace: the test classes below derive from the
// fixture, and each test program includes this file exactly once.

std::string text(const char *t) { return t ? "\"" + std::string(t) + "\"" : "NULL"; }

// Every field of a session but its error (text, marks), as one comparable text. The
// structured binding names every field of the record: a field added to
// MailContext and not to this list stops the tests from compiling, so a
// failing option can never change a field that the comparison misses.
std::string describe(const MailContext *c)
{
    const auto &[connection, fixed_date, mode, flags, flags2, dkim_algorithms, dkim_canons,
                 line_length, trace_fn, status_fn, recipient_fn, ip_family, port, priority,
                 proxy_port, proxy_type, timeout, last_code, failing_code, charset, dsn_envid,
                 email_file, output_file, from_address, from_name, return_path, helo_name,
                 server_host, html_body, error_text, reply_masks, reply_mask_kinds, error_nomem, error_system,
                 text_body, text_body_length, body_file, password, proxy_host, proxy_password, proxy_user,
                 reply_to_address,
                 reply_to_name, subject, tls_ciphers, tls_protocols, user, mailer, boundary_mixed,
                 boundary_alternative, boundary_related, message_id, attachments, headers,
                 removed_headers, bcc, cc, to, extra_mixed, extra_related, trace_user, status_user,
                 recipient_user, dkim_keys, dkim_domain] = *c;
    (void)error_text; // the error text is compared on its own
    (void)error_nomem;
    (void)error_system;
    std::ostringstream o;
    for (size_t i = 0; i < MAIL_REPLY_MASKS_MAX; i++)
        o << "reply_mask=" << text(reply_masks[i]) << " kind=" << reply_mask_kinds[i] << "\n";
    o << "connection=" << connection << " fixed_date=" << fixed_date << " mode=" << mode
      << " flags=" << std::hex << flags << " flags2=" << flags2 << std::dec
      << " dkim_algorithms=" << dkim_algorithms << " dkim_canons=" << dkim_canons
      << " line_length=" << line_length << " trace=" << reinterpret_cast<void *>(trace_fn)
      << " status=" << reinterpret_cast<void *>(status_fn)
      << " recipients=" << reinterpret_cast<void *>(recipient_fn) << " ip_family=" << ip_family
      << " port=" << port << " priority=" << priority << " proxy_port=" << proxy_port
      << " proxy_type=" << proxy_type << " timeout=" << timeout << " last_code=" << last_code
      << " failing_code=" << failing_code << "\n";
    const char *const texts[][2] = {
        {"charset", charset},
        {"dsn_envid", dsn_envid},
        {"email_file", email_file},
        {"output_file", output_file},
        {"from_address", from_address},
        {"from_name", from_name},
        {"return_path", return_path},
        {"helo_name", helo_name},
        {"server_host", server_host},
        {"html_body", html_body},
        {"text_body", text_body},
        {"body_file", body_file},
        {"password", password},
        {"proxy_host", proxy_host},
        {"proxy_password", proxy_password},
        {"proxy_user", proxy_user},
        {"reply_to_address", reply_to_address},
        {"reply_to_name", reply_to_name},
        {"subject", subject},
        {"tls_ciphers", tls_ciphers},
        {"tls_protocols", tls_protocols},
        {"user", user},
        {"mailer", mailer},
        {"boundary_mixed", boundary_mixed},
        {"boundary_alternative", boundary_alternative},
        {"boundary_related", boundary_related},
        {"dkim_domain", dkim_domain},
    };
    for (const auto &t : texts)
        o << t[0] << "=" << text(t[1]) << "\n";
    o << "text_body_length=" << text_body_length << " message_id=" << text(message_id) << "\n";
    for (const auto &[name, list] : {std::pair<const char *, const Recipient *>{"to", to},
                                     {"cc", cc},
                                     {"bcc", bcc}}) {
        o << name << ":";
        for (const Recipient *r = list; r; r = r->next)
            o << " " << text(r->address) << "/" << text(r->display_name) << "/" << r->notify;
        o << "\n";
    }
    o << "attachments:";
    for (Attachment *a = att_first(attachments); a; a = att_next(a))
        o << " [" << text(a->path) << " " << text(a->encoded_name) << " " << text(a->content_id)
          << " " << text(a->mime_type) << " " << text(a->display_name) << " " << a->encoding << " "
          << a->is_inline << "]";
    o << "\nheaders:";
    for (HeaderField *h = hdr_first(headers); h; h = hdr_next(h))
        o << " " << text(h->name) << "=" << text(h->value);
    o << "\nremoved:";
    for (HeaderField *h = hdr_first(removed_headers); h; h = hdr_next(h))
        o << " " << text(h->name);
    o << "\nextra=" << extra_mixed << "/" << extra_related << " users=" << trace_user << "/"
      << status_user << "/" << recipient_user << " dkim_keys=" << dkim_keys << "\n";
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
constexpr const char *kUnavailable = "not available in this build";

struct Call {
    unsigned code;
    const char *v1 = nullptr, *v2 = nullptr, *v3 = nullptr, *v4 = nullptr;
};

int apply(MailContext *ctx, const Call &c) { return mail_set_option(ctx, c.code, c.v1, c.v2, c.v3, c.v4); }

unsigned body_encoding(const MailContext *c)
{
    return (c->flags & MAILF_BODY_ENC_MASK) >> MAILF_BODY_ENC_SHIFT;
}

struct StoreCase {
    const char *what;
    Call call;
    std::function<void(const MailContext *)> check;
};

struct FailCase {
    const char *what;
    Call call;
    const char *error; // the reason the refusal stores
    // The early effect the row names: checks it took place and takes it
    // back, so that the rest of the session can be compared. NULL: none.
    std::function<void(MailContext *)> early = nullptr;
};

class OptionTest : public ::testing::Test {
public:
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
    // option has something it could wrongly change. The text body is
    // quoted-printable (the early effect of a failing MAILOPT_BODY shows).
    void load()
    {
        ASSERT_EQ(mail_set_callback(ctx, MAILCB_TRACE, trace_sink, nullptr), 1);
        std::vector<Call> calls = {
            {MAILOPT_FROM, "old@from.org", "Old Sender"},
            {MAILOPT_RECIPIENT | MAILOPT_TO, "to@x.org", "To Name", "S"},
            {MAILOPT_RECIPIENT | MAILOPT_CC, "cc@x.org"},
            {MAILOPT_RECIPIENT | MAILOPT_BCC, "bcc@x.org"},
            {MAILOPT_SUBJECT, "Old subject"},
            {MAILOPT_BODY | MAILOPT_BODY_QP, "old body"},
            {MAILOPT_OUTPUT_FILE, "out.eml"},
            {MAILOPT_SERVER, "old.mx.org", "2525"},
            // A password may hold any byte; as a bearer token it may not
            // hold 0x01, so MAILOPT_OAUTH fails on this session.
            {MAILOPT_CREDENTIALS, "olduser", "old\x01pass"},
            {MAILOPT_ATTACH | MAILOPT_ATTACH_BASE64, att_path.c_str(), "oldcid", "text/plain", "Old"},
            {MAILOPT_PRIORITY | mailopt_priority(2)},
            {MAILOPT_REPLY_TO, "reply@x.org", "Reply"},
            {MAILOPT_BODY_HTML, "<p>old</p>"},
            {MAILOPT_HELO, "old.helo"},
            {MAILOPT_HEADER, "X-Old", "old value"},
            {MAILOPT_CHARSET, "iso-8859-1"},
            {MAILOPT_LINE_LENGTH, "100"},
            {MAILOPT_AUTH_TYPES | mailopt_auth_types(MAIL_AUTH_ALLOW_CRAM_MD5)},
            {MAILOPT_IP_FAMILY | MAILOPT_IPV4_ONLY},
            {MAILOPT_DSN, "F", "OLDENVID"},
            {MAILOPT_TLS_MODE | MAILOPT_TLS_STARTTLS},
            {MAILOPT_TIMEOUT, "60"},
            {MAILOPT_DATE, "1000"},
            {MAILOPT_RETURN_PATH, "bounce@x.org"},
            {MAILOPT_DELETE_HEADER, "X-Gone"},
            {MAILOPT_TLS_CIPHERS, "old-ciphers"},
            {MAILOPT_TLS_PROTOCOLS, "old-protocols"},
            {MAILOPT_DEBUG, "1"},
            {MAILOPT_PROXY | MAILOPT_PROXY_SOCKS, "old.proxy", "1234"},
            {MAILOPT_PROXY_AUTH, "puser", "ppass"},
            {MAILOPT_X_MAILER, "Old Mailer"},
            {MAILOPT_MESSAGE_ID, "old@id"},
            {MAILOPT_BOUNDARIES, "m", "a", "r"},
        };
        if (mail_full_program) {
            calls.push_back({MAILOPT_DKIM_ALGORITHMS | MAILOPT_DKIM_ALG_RSA_SHA1});
            calls.push_back({MAILOPT_DKIM_CANON | MAILOPT_DKIM_CANON_SIMPLE_RELAXED});
            calls.push_back({MAILOPT_DKIM_DOMAIN, "old.org"});
        }
        for (const Call &c : calls) {
            SCOPED_TRACE(c.code);
            ASSERT_EQ(apply(ctx, c), 1);
        }
        mail_set_error(ctx, strdup("previous error"));
    }

    // The call fails, stores `error` as its reason (replacing an earlier
    // one) and leaves every field as it was but for the row's early effect.
    void expect_fails_unchanged(const Call &c, const std::string &error,
                                const std::function<void(MailContext *)> &early = nullptr)
    {
        mail_set_error(ctx, strdup("previous error"));
        std::string before = describe(ctx);
        EXPECT_EQ(apply(ctx, c), 0);
        if (early)
            early(ctx);
        EXPECT_EQ(describe(ctx), before);
        EXPECT_EQ(std::string(mail_last_error(ctx)), error);
        EXPECT_EQ(mail_error_is_nomem(ctx), 0);
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

// The early effect of a failing MAILOPT_BODY: the encoding it names was
// stored; the loaded session's quoted-printable is put back.
std::function<void(MailContext *)> body_encoding_stored(unsigned encoding)
{
    return [encoding](MailContext *c) {
        EXPECT_EQ(body_encoding(c), encoding);
        c->flags = (c->flags & ~uint32_t(MAILF_BODY_ENC_MASK)) |
                   (uint32_t(BODY_ENC_QP) << MAILF_BODY_ENC_SHIFT);
    };
}

// Rows that cannot fail whatever they are given (no value is required
// and every sub-choice is accepted), and MAILOPT_FREE, which frees.
const std::set<unsigned> &rows_that_never_fail()
{
    static const std::set<unsigned> rows = [] {
        std::set<unsigned> r = {MAILOPT_FORCE_MIME,  MAILOPT_IP_FAMILY,   MAILOPT_MDN,
                                MAILOPT_TLS_MODE,    MAILOPT_DOT_STUFF,   MAILOPT_RAW_HEADERS,
                                MAILOPT_VERIFY,      MAILOPT_FREE};
        if (mail_full_program)
            r.insert(MAILOPT_DKIM);
        return r;
    }();
    return rows;
}

// Rows whose success the tables below cannot show, and where it is shown.
const std::map<unsigned, const char *> &rows_stored_elsewhere()
{
    static const std::map<unsigned, const char *> rows = {
        {MAILOPT_EMAIL_FILE_SCAN, "needs the address scanners: ActionsNotYetAvailable"},
        {MAILOPT_CONNECT, "needs the SMTP client: ActionsNotYetAvailable"},
        {MAILOPT_QUIT, "needs the SMTP client: ActionsNotYetAvailable"},
        {MAILOPT_SEND, "needs the SMTP client: ActionsNotYetAvailable"},
        {MAILOPT_DELIVER, "File mode needs a session without a server: ActionsNotYetAvailable"},
        {MAILOPT_FREE, "ends the session: FreeAction"},
    };
    return rows;
}

// The cases point into the fixture's texts, which outlive them.
std::vector<StoreCase> store_cases(const OptionTest &t)
{
    const std::string &att2 = t.att2_path, &html = t.html_path, &eml = t.eml_path;
    std::vector<StoreCase> cases = {
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
        {"recipient bcc", {MAILOPT_RECIPIENT | MAILOPT_BCC, "nb@b.org", "New", "d"},
         [](const MailContext *c) {
             ASSERT_NE(c->bcc, nullptr);
             EXPECT_STREQ(c->bcc->address, "nb@b.org");
             EXPECT_STREQ(c->bcc->display_name, "New");
             EXPECT_EQ(c->bcc->notify, unsigned(MAIL_NOTIFY_DELAY));
             ASSERT_NE(c->bcc->next, nullptr);
             EXPECT_STREQ(c->bcc->next->address, "bcc@x.org");
         }},
        {"subject encoded", {MAILOPT_SUBJECT, "caf\xc3\xa9"},
         [](const MailContext *c) { EXPECT_STREQ(c->subject, "=?utf-8?B?Y2Fmw6k=?="); }},
        {"body text", {MAILOPT_BODY | MAILOPT_BODY_BASE64, "new body"},
         [](const MailContext *c) {
             EXPECT_STREQ(c->text_body, "new body");
             EXPECT_EQ(c->text_body_length, 8u);
             EXPECT_EQ(body_encoding(c), unsigned(BODY_ENC_BASE64));
             EXPECT_FALSE(c->flags2 & MAILF2_BODY_FROM_FILE);
         }},
        {"body encoding only", {MAILOPT_BODY},
         [](const MailContext *c) {
             EXPECT_STREQ(c->text_body, "new body");
             EXPECT_EQ(body_encoding(c), unsigned(BODY_ENC_7BIT));
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
        {"email file", {MAILOPT_EMAIL_FILE, eml.c_str()},
         [eml](const MailContext *c) {
             EXPECT_EQ(std::string(c->email_file), eml);
             EXPECT_EQ(c->mode, uint32_t(MAIL_MODE_PRECONSTRUCTED));
         }},
        {"credentials, empty password", {MAILOPT_CREDENTIALS, "u", ""},
         [](const MailContext *c) {
             EXPECT_STREQ(c->user, "u");
             EXPECT_STREQ(c->password, "");
         }},
        {"oauth", {MAILOPT_OAUTH},
         [](const MailContext *c) { EXPECT_TRUE(c->flags & MAILF_USE_OAUTHBEARER); }},
        {"attach inline quoted-printable", {MAILOPT_ATTACH | MAILOPT_ATTACH_QP | MAILOPT_FROM_FILE, att2.c_str(), "cid2"},
         [att2](const MailContext *c) {
             Attachment *a = att_first(c->attachments);
             ASSERT_NE(a, nullptr);
             a = att_next(a);
             ASSERT_NE(a, nullptr);
             EXPECT_EQ(std::string(a->path), att2);
             EXPECT_STREQ(a->encoded_name, "b.txt");
             EXPECT_STREQ(a->content_id, "cid2");
             EXPECT_EQ(a->mime_type, nullptr);
             EXPECT_EQ(a->encoding, ATT_ENC_QP);
             EXPECT_EQ(a->is_inline, int(MAILOPT_FROM_FILE));
         }},
        {"priority 5", {MAILOPT_PRIORITY | mailopt_priority(5)},
         [](const MailContext *c) { EXPECT_EQ(c->priority, 5); }},
        {"priority 3", {MAILOPT_PRIORITY | mailopt_priority(3)},
         [](const MailContext *c) { EXPECT_EQ(c->priority, 3); }},
        {"reply-to without name", {MAILOPT_REPLY_TO, "r2@b.org"},
         [](const MailContext *c) {
             EXPECT_STREQ(c->reply_to_address, "r2@b.org");
             EXPECT_EQ(c->reply_to_name, nullptr);
         }},
        {"html file", {MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, html.c_str()},
         [html](const MailContext *c) {
             EXPECT_EQ(std::string(c->html_body), html);
             EXPECT_TRUE(c->flags & MAILF_HTML_FROM_FILE);
         }},
        {"html text", {MAILOPT_BODY_HTML, "<b>x</b>"},
         [](const MailContext *c) {
             EXPECT_STREQ(c->html_body, "<b>x</b>");
             EXPECT_FALSE(c->flags & MAILF_HTML_FROM_FILE);
         }},
        {"helo", {MAILOPT_HELO, "client.b.org"},
         [](const MailContext *c) { EXPECT_STREQ(c->helo_name, "client.b.org"); }},
        {"helo one label", {MAILOPT_HELO, "localhost"},
         [](const MailContext *c) { EXPECT_STREQ(c->helo_name, "localhost"); }},
        {"helo hyphens and digits", {MAILOPT_HELO, "0-a--b.9.example"},
         [](const MailContext *c) { EXPECT_STREQ(c->helo_name, "0-a--b.9.example"); }},
        {"helo non-ASCII in its ASCII form", {MAILOPT_HELO, "B\xc3\x9c" "CHER.example"},
         [](const MailContext *c) { EXPECT_STREQ(c->helo_name, "xn--bcher-kva.example"); }},
        {"helo IPv4 literal", {MAILOPT_HELO, "[192.0.2.255]"},
         [](const MailContext *c) { EXPECT_STREQ(c->helo_name, "[192.0.2.255]"); }},
        {"helo IPv6 literal", {MAILOPT_HELO, "[IPv6:2001:db8::1]"},
         [](const MailContext *c) { EXPECT_STREQ(c->helo_name, "[IPv6:2001:db8::1]"); }},
        {"helo NULL", {MAILOPT_HELO},
         [](const MailContext *c) { EXPECT_EQ(c->helo_name, nullptr); }},
        {"helo empty means default", {MAILOPT_HELO, ""},
         [](const MailContext *c) { EXPECT_EQ(c->helo_name, nullptr); }},
        {"header", {MAILOPT_HEADER, "X-New", "caf\xc3\xa9"},
         [](const MailContext *c) {
             HeaderField *h = hdr_next(hdr_first(c->headers));
             ASSERT_NE(h, nullptr);
             EXPECT_STREQ(h->name, "X-New");
             EXPECT_STREQ(h->value, "=?utf-8?B?Y2Fmw6k=?=");
         }},
        {"charset", {MAILOPT_CHARSET, "utf-8"},
         [](const MailContext *c) { EXPECT_STREQ(c->charset, "utf-8"); }},
        {"charset empty", {MAILOPT_CHARSET, ""},
         [](const MailContext *c) { EXPECT_EQ(c->charset, nullptr); }},
        {"line length", {MAILOPT_LINE_LENGTH, "200"},
         [](const MailContext *c) { EXPECT_EQ(c->line_length, 200u); }},
        {"force mime", {MAILOPT_FORCE_MIME},
         [](const MailContext *c) { EXPECT_TRUE(c->flags & MAILF_FORCE_MIME); }},
        {"auth types plain only", {MAILOPT_AUTH_TYPES | mailopt_auth_types(MAIL_AUTH_ALLOW_PLAIN)},
         [](const MailContext *c) {
             EXPECT_EQ(c->flags & (MAILF_NO_CRAM_MD5 | MAILF_NO_LOGIN | MAILF_NO_PLAIN | MAILF_NO_OAUTHBEARER),
                       uint32_t(MAILF_NO_CRAM_MD5 | MAILF_NO_LOGIN | MAILF_NO_OAUTHBEARER));
         }},
        {"ip family 6", {MAILOPT_IP_FAMILY | MAILOPT_IPV6_ONLY},
         [](const MailContext *c) { EXPECT_EQ(c->ip_family, 6); }},
        {"dsn letters", {MAILOPT_DSN, "sd"},
         [](const MailContext *c) {
             EXPECT_EQ((c->flags & MAILF_NOTIFY_MASK) >> MAILF_NOTIFY_SHIFT,
                       uint32_t(MAIL_NOTIFY_SUCCESS | MAIL_NOTIFY_DELAY));
             EXPECT_STREQ(c->dsn_envid, "OLDENVID");
         }},
        {"mdn", {MAILOPT_MDN}, [](const MailContext *c) { EXPECT_TRUE(c->flags & MAILF_MDN); }},
        {"tls mode implicit", {MAILOPT_TLS_MODE | MAILOPT_TLS_IMPLICIT},
         [](const MailContext *c) {
             EXPECT_EQ(c->flags & (MAILF_STARTTLS | MAILF_SMTPS), uint32_t(MAILF_STARTTLS | MAILF_SMTPS));
         }},
        {"dot stuff", {MAILOPT_DOT_STUFF},
         [](const MailContext *c) { EXPECT_TRUE(c->flags & MAILF_DOT_STUFF_FILE); }},
        {"timeout", {MAILOPT_TIMEOUT, "2147483"},
         [](const MailContext *c) { EXPECT_EQ(c->timeout, 2147483); }},
        {"date", {MAILOPT_DATE, "1700000000"},
         [](const MailContext *c) { EXPECT_EQ(c->fixed_date, 1700000000); }},
        {"date without digits, clear ignored", {MAILOPT_DATE | MAILOPT_CLEAR, "now"},
         [](const MailContext *c) { EXPECT_EQ(c->fixed_date, 0); }},
        {"date, year 9999", {MAILOPT_DATE, "253402300799"},
         [](const MailContext *c) { EXPECT_EQ(c->fixed_date, 253402300799LL); }},
        {"return path", {MAILOPT_RETURN_PATH, "rp@b.org"},
         [](const MailContext *c) { EXPECT_STREQ(c->return_path, "rp@b.org"); }},
        {"delete header", {MAILOPT_DELETE_HEADER, "X-Also-Gone"},
         [](const MailContext *c) {
             HeaderField *h = hdr_next(hdr_first(c->removed_headers));
             ASSERT_NE(h, nullptr);
             EXPECT_STREQ(h->name, "X-Also-Gone");
             EXPECT_STREQ(h->value, "");
         }},
        {"raw headers", {MAILOPT_RAW_HEADERS},
         [](const MailContext *c) { EXPECT_TRUE(c->flags & MAILF_RAW_HEADERS); }},
        {"verify", {MAILOPT_VERIFY}, [](const MailContext *c) { EXPECT_TRUE(c->flags & MAILF_VERIFY); }},
        {"tls ciphers", {MAILOPT_TLS_CIPHERS, "secure"},
         [](const MailContext *c) { EXPECT_STREQ(c->tls_ciphers, "secure"); }},
        {"tls protocols", {MAILOPT_TLS_PROTOCOLS, "tlsv1.3"},
         [](const MailContext *c) { EXPECT_STREQ(c->tls_protocols, "tlsv1.3"); }},
        {"timeout value 0, clear ignored", {MAILOPT_TIMEOUT_VALUE | MAILOPT_CLEAR, "0"},
         [](const MailContext *c) { EXPECT_EQ(c->timeout, 0); }},
        {"timeout value", {MAILOPT_TIMEOUT_VALUE, "5000"},
         [](const MailContext *c) { EXPECT_EQ(c->timeout, 5000); }},
        {"debug 3", {MAILOPT_DEBUG, "3"},
         [](const MailContext *c) { EXPECT_EQ(c->flags2 & MAILF2_DEBUG_MASK, 0xcu); }},
        {"debug 6 keeps low bits", {MAILOPT_DEBUG, "6"},
         [](const MailContext *c) { EXPECT_EQ(c->flags2 & MAILF2_DEBUG_MASK, 0x8u); }},
        {"proxy https, default port", {MAILOPT_PROXY | MAILOPT_PROXY_HTTPS, "np.b.org", "0"},
         [](const MailContext *c) {
             EXPECT_STREQ(c->proxy_host, "np.b.org");
             EXPECT_EQ(c->proxy_port, 8080);
             EXPECT_EQ(c->proxy_type, MAIL_PROXY_HTTPS);
         }},
        {"proxy type only: the port text is not read", {MAILOPT_PROXY | MAILOPT_PROXY_SOCKS, none, "99999"},
         [](const MailContext *c) {
             EXPECT_STREQ(c->proxy_host, "np.b.org");
             EXPECT_EQ(c->proxy_port, 8080);
             EXPECT_EQ(c->proxy_type, MAIL_PROXY_SOCKS);
         }},
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
    if (mail_full_program) {
        cases.insert(cases.end(), {
            {"dkim", {MAILOPT_DKIM}, [](const MailContext *c) { EXPECT_TRUE(c->flags2 & MAILF2_DKIM); }},
            {"dkim algorithms accumulate", {MAILOPT_DKIM_ALGORITHMS | MAILOPT_DKIM_ALG_ED25519_SHA256},
             [](const MailContext *c) {
                 EXPECT_EQ(c->dkim_algorithms, MAILOPT_DKIM_ALG_RSA_SHA1 | MAILOPT_DKIM_ALG_ED25519_SHA256);
             }},
            {"dkim canon replaces", {MAILOPT_DKIM_CANON | MAILOPT_DKIM_CANON_RELAXED_SIMPLE},
             [](const MailContext *c) { EXPECT_EQ(c->dkim_canons, MAILOPT_DKIM_CANON_RELAXED_SIMPLE); }},
            {"dkim domain", {MAILOPT_DKIM_DOMAIN, "b.org"},
             [](const MailContext *c) { EXPECT_STREQ(c->dkim_domain, "b.org"); }},
            {"dkim domain in its ASCII form", {MAILOPT_DKIM_DOMAIN, "B\xc3\x9c" "CHER.EXAMPLE"},
             [](const MailContext *c) { EXPECT_STREQ(c->dkim_domain, "xn--bcher-kva.example"); }},
            {"dkim domain NULL", {MAILOPT_DKIM_DOMAIN},
             [](const MailContext *c) { EXPECT_EQ(c->dkim_domain, nullptr); }},
        });
    }
    return cases;
}

std::vector<StoreCase> clear_cases()
{
    std::vector<StoreCase> cases = {
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
             EXPECT_EQ(body_encoding(c), unsigned(BODY_ENC_QP));
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
        {"email file", {MAILOPT_EMAIL_FILE | MAILOPT_CLEAR},
         [](const MailContext *c) {
             EXPECT_EQ(c->email_file, nullptr);
             EXPECT_EQ(c->mode, uint32_t(MAIL_MODE_SMTP));
         }},
        {"recipients all", {MAILOPT_RECIPIENT | MAILOPT_CLEAR},
         [](const MailContext *c) {
             EXPECT_EQ(c->to, nullptr);
             EXPECT_EQ(c->cc, nullptr);
             EXPECT_EQ(c->bcc, nullptr);
         }},
    };
    if (mail_full_program) {
        cases.insert(cases.end(), {
            {"dkim algorithms", {MAILOPT_DKIM_ALGORITHMS | MAILOPT_CLEAR},
             [](const MailContext *c) { EXPECT_EQ(c->dkim_algorithms, MAILOPT_DKIM_ALG_RSA_SHA256); }},
            {"dkim canon", {MAILOPT_DKIM_CANON | MAILOPT_CLEAR},
             [](const MailContext *c) { EXPECT_EQ(c->dkim_canons, MAILOPT_DKIM_CANON_SIMPLE_SIMPLE); }},
            {"dkim domain", {MAILOPT_DKIM_DOMAIN | MAILOPT_CLEAR},
             [](const MailContext *c) { EXPECT_EQ(c->dkim_domain, nullptr); }},
        });
    }
    return cases;
}

// The failing cases, with the texts they need kept alive by the caller.
struct FailTexts {
    explicit FailTexts(const OptionTest &t)
        : missing(t.missing_path), folder(t.dir.path),
          body_missing("Cannot open the body file (" + missing + "): No such file or directory"),
          body_folder("Cannot open the body file (" + folder + "): Is a directory"),
          html_missing("Cannot open the HTML body file for reading (" + missing + "): No such file or directory"),
          html_folder("Cannot open the HTML body file for reading (" + folder + "): Is a directory"),
          email_missing("The message file does not exist (" + missing + "): No such file or directory"),
          attach_missing("The attachment file does not exist (" + missing + "): No such file or directory"),
          list_unreadable(t.body_path + ", line 1: not a usable address")
    {
    }
    std::string missing, folder;
    std::string body_missing, body_folder, html_missing, html_folder, email_missing, attach_missing;
    std::string list_unreadable; // a recipient list file that is no list
    std::string long_address = std::string(250, 'l') + "@x.org";
    std::string envid_101 = std::string(101, 'e');
    std::string not_helo = "The HELO name is not a domain or an address literal";
    std::string label_64 = std::string(64, 'l') + ".org";
    // 59 letters and one "\xc3\xa4": a 67-byte A-label.
    std::string a_label_64 = "a@" + std::string(59, 'l') + "\xc3\xa4.org";
    std::string helo_256 = std::string(62, 'a') + "." + std::string(62, 'b') + "." + std::string(62, 'c') + "." +
                           std::string(62, 'd') + ".eeee";
    std::string id_510 = std::string(504, 'i') + "@x.org";
};

std::vector<FailCase> fail_cases(const OptionTest &t, const FailTexts &x)
{
    const char *missing = x.missing.c_str(), *folder = x.folder.c_str();
    const char *att = t.att2_path.c_str();
    const char *no_mailbox_port = "The server port is out of range (0 to 65535)";
    const char *timeout_range = "The time-out is out of range (1 to 2147483 seconds)";
    const char *timeout_value_range = "The time-out is out of range (0 to 2147483 seconds)";
    std::vector<FailCase> cases = {
        {"from NULL", {MAILOPT_FROM}, "No sender address given"},
        {"from empty", {MAILOPT_FROM, ""}, "No sender address given"},
        {"from without at", {MAILOPT_FROM, "nobody", "Name"}, "The sender address is not a valid mailbox"},
        {"from too long", {MAILOPT_FROM, x.long_address.c_str()}, "The sender address is longer than 254 bytes"},
        {"from CR LF", {MAILOPT_FROM, "a@b.org\r\nBcc: x@y.org"}, "Control character in the sender address"},
        {"from U+2028", {MAILOPT_FROM, "a@b\xe2\x80\xa8.org"}, "Control character in the sender address"},
        {"from C1", {MAILOPT_FROM, "\xc2\x9f@b.org"}, "Control character in the sender address"},
        {"from name LF", {MAILOPT_FROM, "a@b.org", "A\nB"}, "Control character in the sender name"},
        {"from not IDNA", {MAILOPT_FROM, "a@xn--zz-zzzzzzzzzz.example"},
         "The domain of the sender address is not a valid domain: a label is not a valid IDNA label"},
        {"from name cut UTF-8", {MAILOPT_FROM, "a@b.org", "J\xc3"}, "Invalid UTF-8 in the sender name"},
        {"recipient no list", {MAILOPT_RECIPIENT, "a@b.org"}, "No recipient list chosen (To, Cc or Bcc)"},
        {"recipient empty", {MAILOPT_RECIPIENT | MAILOPT_TO, ""}, "No recipient address given"},
        {"recipient NULL", {MAILOPT_RECIPIENT | MAILOPT_CC}, "No recipient address given"},
        {"recipient without at", {MAILOPT_RECIPIENT | MAILOPT_TO, "nobody"}, "The recipient address is not a valid mailbox"},
        {"recipient too long", {MAILOPT_RECIPIENT | MAILOPT_TO, x.long_address.c_str()}, "The recipient address is longer than 254 bytes"},
        {"recipient CR", {MAILOPT_RECIPIENT | MAILOPT_BCC, "a@b.org\r"}, "Control character in the recipient address"},
        {"recipient C1 NEL", {MAILOPT_RECIPIENT | MAILOPT_TO, "a\xc2\x85@b.org"}, "Control character in the recipient address"},
        {"recipient U+2029", {MAILOPT_RECIPIENT | MAILOPT_CC, "a\xe2\x80\xa9@b.org"}, "Control character in the recipient address"},
        {"recipient latin-1", {MAILOPT_RECIPIENT | MAILOPT_TO, "j\xf6rg@b.org"}, "Invalid UTF-8 in the recipient address"},
        {"recipient not IDNA", {MAILOPT_RECIPIENT | MAILOPT_TO, "a@xn--.example"},
         "The domain of the recipient address is not a valid domain: a label is not a valid IDNA label"},
        {"recipient label too long", {MAILOPT_RECIPIENT | MAILOPT_CC, x.a_label_64.c_str()},
         "The domain of the recipient address is not a valid domain: a label is longer than 63 bytes in its ASCII form"},
        {"recipient name", {MAILOPT_RECIPIENT | MAILOPT_TO, "a@b.org", "x\x1b"}, "Control character in the recipient name"},
        {"recipient name overlong UTF-8", {MAILOPT_RECIPIENT | MAILOPT_CC, "a@b.org", "\xc0\xaf"}, "Invalid UTF-8 in the recipient name"},
        {"recipient file", {MAILOPT_RECIPIENT | MAILOPT_TO | MAILOPT_FROM_FILE, t.body_path.c_str()},
         mail_full_program ? x.list_unreadable.c_str()
                           : "Recipient list files are not available in this program"},
        {"recipient file empty", {MAILOPT_RECIPIENT | MAILOPT_TO | MAILOPT_FROM_FILE, ""}, "No recipient list file given"},
        {"subject NULL", {MAILOPT_SUBJECT}, "No subject given"},
        {"subject empty", {MAILOPT_SUBJECT, ""}, "No subject given"},
        {"subject CR LF", {MAILOPT_SUBJECT, "Hi\r\nBcc: x@y.org"}, "Control character in the subject"},
        {"subject stray continuation byte", {MAILOPT_SUBJECT, "Hi \x80"}, "Invalid UTF-8 in the subject"},
        {"body encoding 3", {MAILOPT_BODY | mailopt_sub(3), "text"}, "Unknown text-body encoding"},
        {"body encoding 3 alone", {MAILOPT_BODY | mailopt_sub(3)}, "Unknown text-body encoding"},
        {"body file missing", {MAILOPT_BODY | MAILOPT_BODY_BASE64 | MAILOPT_FROM_FILE, missing}, x.body_missing.c_str(),
         body_encoding_stored(BODY_ENC_BASE64)},
        {"body file is a folder", {MAILOPT_BODY | MAILOPT_FROM_FILE | MAILOPT_BINARY, folder}, x.body_folder.c_str(),
         body_encoding_stored(BODY_ENC_7BIT)},
        {"output file NULL", {MAILOPT_OUTPUT_FILE}, "No output file given"},
        {"server port 65536", {MAILOPT_SERVER, "mx.b.org", "65536"}, no_mailbox_port},
        {"server port -1", {MAILOPT_SERVER, "mx.b.org", "-1"}, no_mailbox_port},
        {"server port wraps", {MAILOPT_SERVER, "mx.b.org", "4294967321"}, no_mailbox_port},
        {"server port huge", {MAILOPT_SERVER, "mx.b.org", "99999999999999999999999"}, no_mailbox_port},
        {"server port NULL", {MAILOPT_SERVER, "mx.b.org"}, "No server port given"},
        {"server host NULL", {MAILOPT_SERVER, none, "25"}, "No server host given"},
        {"server host LF", {MAILOPT_SERVER, "mx\n.b.org", "25"}, "Control character in the server host"},
        {"server host blank", {MAILOPT_SERVER, "mx.b.org HTTP/1.0", "25"}, "Blank in the server host"},
        {"email file missing", {MAILOPT_EMAIL_FILE, missing}, x.email_missing.c_str()},
        {"email file NULL", {MAILOPT_EMAIL_FILE}, "No message file given"},
        {"credentials empty user", {MAILOPT_CREDENTIALS, "", "p"}, "No user name given"},
        {"credentials NULL password", {MAILOPT_CREDENTIALS, "u"}, "No password given"},
        {"credentials user CR LF", {MAILOPT_CREDENTIALS, "u\r\nQUIT", "p"}, "Control character in the user name"},
        {"credentials user 0x01", {MAILOPT_CREDENTIALS, "bob\x01" "auth=Bearer evil", "p"}, "Control character in the user name"},
        {"credentials user C1", {MAILOPT_CREDENTIALS, "u\xc2\x85", "p"}, "Control character in the user name"},
        {"credentials user latin-1", {MAILOPT_CREDENTIALS, "j\xf6rg", "p"}, "Invalid UTF-8 in the user name"},
        {"oauth, the password holds 0x01", {MAILOPT_OAUTH}, "The bearer token holds the byte 0x01"},
        {"attach index 4", {MAILOPT_ATTACH | mailopt_sub(4), att}, "Unknown attachment encoding"},
        {"attach missing", {MAILOPT_ATTACH, missing}, x.attach_missing.c_str()},
        {"attach empty", {MAILOPT_ATTACH, ""}, "No attachment file given"},
        {"attach NULL", {MAILOPT_ATTACH | MAILOPT_FROM_FILE}, "No attachment file given"},
        {"attach content id", {MAILOPT_ATTACH, att, "c\r\nX: y"}, "Control character in the content ID"},
        {"attach mime type", {MAILOPT_ATTACH, att, none, "text/plain\n"}, "Control character in the MIME type"},
        {"attach name", {MAILOPT_ATTACH, att, none, none, "a\rb"}, "Control character in the attachment name"},
        {"attach name latin-1", {MAILOPT_ATTACH, att, none, none, "caf\xe9"}, "Invalid UTF-8 in the attachment name"},
        {"priority 0", {MAILOPT_PRIORITY}, "The priority must be 1 to 5"},
        {"priority 6", {MAILOPT_PRIORITY | mailopt_priority(6)}, "The priority must be 1 to 5"},
        {"priority 15", {MAILOPT_PRIORITY | mailopt_priority(15)}, "The priority must be 1 to 5"},
        {"reply-to without at", {MAILOPT_REPLY_TO, "x"}, "The reply-to address is not a valid mailbox"},
        {"reply-to empty", {MAILOPT_REPLY_TO, ""}, "No reply-to address given"},
        {"reply-to LF", {MAILOPT_REPLY_TO, "a@b.org\n"}, "Control character in the reply-to address"},
        {"reply-to name", {MAILOPT_REPLY_TO, "a@b.org", "\x01"}, "Control character in the reply-to name"},
        {"html NULL", {MAILOPT_BODY_HTML}, "No HTML body given"},
        {"html file missing", {MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, missing}, x.html_missing.c_str()},
        {"html file is a folder", {MAILOPT_BODY_HTML | MAILOPT_FROM_FILE, folder}, x.html_folder.c_str()},
        {"helo CR LF", {MAILOPT_HELO, "h\r\nMAIL FROM:<x@y.org>"}, "Control character in the HELO name"},
        {"helo TAB", {MAILOPT_HELO, "a\tb"}, "Control character in the HELO name"},
        {"helo C1", {MAILOPT_HELO, "a\xc2\x85" "b.org"}, "Control character in the HELO name"},
        {"helo U+2028", {MAILOPT_HELO, "a\xe2\x80\xa8" "b.org"}, "Control character in the HELO name"},
        {"helo blank", {MAILOPT_HELO, "x.org MAIL FROM:<evil@x>"}, x.not_helo.c_str()},
        {"helo empty label", {MAILOPT_HELO, "a..b"}, x.not_helo.c_str()},
        {"helo trailing dot", {MAILOPT_HELO, "a.b."}, x.not_helo.c_str()},
        {"helo hyphen first", {MAILOPT_HELO, "-a.b"}, x.not_helo.c_str()},
        {"helo hyphen last", {MAILOPT_HELO, "a-.b"}, x.not_helo.c_str()},
        {"helo underscore", {MAILOPT_HELO, "a_b.org"}, x.not_helo.c_str()},
        {"helo label of 64", {MAILOPT_HELO, x.label_64.c_str()}, x.not_helo.c_str()},
        {"helo too long", {MAILOPT_HELO, x.helo_256.c_str()}, x.not_helo.c_str()},
        {"helo not IDNA", {MAILOPT_HELO, "xn--zz-zzzzzzzzzz.example"},
         "The HELO name is not a valid domain: a label is not a valid IDNA label"},
        {"helo non-ASCII empty label", {MAILOPT_HELO, "b\xc3\xbc" "cher..example"}, x.not_helo.c_str()},
        {"helo non-ASCII not LDH", {MAILOPT_HELO, "b\xc3\xbc" "cher_x.example"},
         "The HELO name is not a valid domain: a label does not map to letters, digits and hyphens"},
        {"helo address", {MAILOPT_HELO, "me@x.org"}, x.not_helo.c_str()},
        {"helo literal of three", {MAILOPT_HELO, "[192.0.2]"}, x.not_helo.c_str()},
        {"helo literal 256", {MAILOPT_HELO, "[192.0.2.256]"}, x.not_helo.c_str()},
        {"helo literal letters", {MAILOPT_HELO, "[abc]"}, x.not_helo.c_str()},
        {"helo literal blank", {MAILOPT_HELO, "[IPv6:: x]"}, x.not_helo.c_str()},
        {"helo literal no tag", {MAILOPT_HELO, "[:1]"}, x.not_helo.c_str()},
        {"helo literal unclosed", {MAILOPT_HELO, "[192.0.2.1"}, x.not_helo.c_str()},
        {"helo literal empty", {MAILOPT_HELO, "[]"}, x.not_helo.c_str()},
        {"header name empty", {MAILOPT_HEADER, "", "v"}, "No header-field name given"},
        {"header name NULL", {MAILOPT_HEADER, none, "v"}, "No header-field name given"},
        {"header value NULL", {MAILOPT_HEADER, "X-A"}, "No header-field value given"},
        {"header name space", {MAILOPT_HEADER, "X A", "v"}, "Invalid character in the header-field name"},
        {"header name colon", {MAILOPT_HEADER, "X-A:", "v"}, "Invalid character in the header-field name"},
        {"header name LF", {MAILOPT_HEADER, "X\nA", "v"}, "Control character in the header-field name"},
        {"header value CR LF", {MAILOPT_HEADER, "X-A", "v\r\nBcc: x@y.org"}, "Control character in the header-field value"},
        {"header value surrogate", {MAILOPT_HEADER, "X-A", "\xed\xa0\x80"}, "Invalid UTF-8 in the header-field value"},
        {"charset NULL", {MAILOPT_CHARSET}, "No charset given"},
        {"charset LF", {MAILOPT_CHARSET, "utf-8\n"}, "Control character in the charset"},
        {"line length NULL", {MAILOPT_LINE_LENGTH}, "No line length given"},
        {"auth types 0", {MAILOPT_AUTH_TYPES}, "No AUTH mechanism allowed"},
        {"dsn nothing", {MAILOPT_DSN}, "No DSN NOTIFY letters or envelope identifier given"},
        {"dsn empty envid only", {MAILOPT_DSN, none, ""}, "No DSN NOTIFY letters or envelope identifier given"},
        {"dsn 101 envid only", {MAILOPT_DSN, none, x.envid_101.c_str()}, "The DSN envelope identifier is longer than 100 characters"},
        {"dsn envid CR", {MAILOPT_DSN, "S", "id\r\n"}, "Control character in the DSN envelope identifier"},
        {"dsn envid space", {MAILOPT_DSN, "S", "id NOTIFY=NEVER"}, "Invalid character in the DSN envelope identifier"},
        {"timeout 0", {MAILOPT_TIMEOUT, "0"}, timeout_range},
        {"timeout negative", {MAILOPT_TIMEOUT, "-5"}, timeout_range},
        {"timeout beyond ms range", {MAILOPT_TIMEOUT, "2147484"}, timeout_range},
        {"timeout huge", {MAILOPT_TIMEOUT, "18446744073709551617"}, timeout_range},
        {"timeout NULL", {MAILOPT_TIMEOUT}, "No time-out given"},
        {"date NULL", {MAILOPT_DATE}, "No date given"},
        {"date past year 9999", {MAILOPT_DATE, "253402300800"}, "The date lies beyond the year 9999"},
        {"date huge", {MAILOPT_DATE, "99999999999999999999999"}, "The date lies beyond the year 9999"},
        {"return path without at", {MAILOPT_RETURN_PATH, "x"}, "The return path is not a valid mailbox"},
        {"return path not IDNA", {MAILOPT_RETURN_PATH, "a@\xf0\x9f\x98\x80.example"},
         "The domain of the return path is not a valid domain: a label is not a valid IDNA label"},
        {"return path NULL", {MAILOPT_RETURN_PATH}, "No return path given"},
        {"return path LF", {MAILOPT_RETURN_PATH, "a@b.org\n"}, "Control character in the return path"},
        {"delete header empty", {MAILOPT_DELETE_HEADER, ""}, "No header-field name given"},
        {"delete header invalid", {MAILOPT_DELETE_HEADER, "Bad Name"}, "Invalid character in the header-field name"},
        {"tls ciphers NULL", {MAILOPT_TLS_CIPHERS}, "No TLS cipher list given"},
        {"tls protocols NULL", {MAILOPT_TLS_PROTOCOLS}, "No TLS protocol list given"},
        {"timeout value negative", {MAILOPT_TIMEOUT_VALUE, "-1"}, timeout_value_range},
        {"timeout value too big", {MAILOPT_TIMEOUT_VALUE, "2147484"}, timeout_value_range},
        {"timeout value NULL", {MAILOPT_TIMEOUT_VALUE}, "No time-out given"},
        {"debug NULL", {MAILOPT_DEBUG}, "No debug level given"},
        {"proxy port 65536", {MAILOPT_PROXY | MAILOPT_PROXY_HTTPS, "p.b.org", "65536"}, "The proxy port is out of range (0 to 65535)"},
        {"proxy port -1", {MAILOPT_PROXY, "p.b.org", "-1"}, "The proxy port is out of range (0 to 65535)"},
        {"proxy port wraps", {MAILOPT_PROXY, "p.b.org", "4294968376"}, "The proxy port is out of range (0 to 65535)"},
        {"proxy host LF", {MAILOPT_PROXY | MAILOPT_PROXY_HTTPS, "p\n", "80"}, "Control character in the proxy host"},
        {"proxy auth NULL user", {MAILOPT_PROXY_AUTH, none, "p"}, "No proxy user name given"},
        {"proxy auth NULL password", {MAILOPT_PROXY_AUTH, "u"}, "No proxy password given"},
        {"x-mailer NULL", {MAILOPT_X_MAILER}, "No X-Mailer text given"},
        {"x-mailer LF", {MAILOPT_X_MAILER, "M\nX: y"}, "Control character in the X-Mailer text"},
        {"x-mailer five-byte form", {MAILOPT_X_MAILER, "M \xf8\x88\x80\x80\x80"}, "Invalid UTF-8 in the X-Mailer text"},
        {"message id without at", {MAILOPT_MESSAGE_ID, "abc"}, "No \"@\" in the Message-ID"},
        {"message id NULL", {MAILOPT_MESSAGE_ID}, "No Message-ID given"},
        {"message id 510 characters", {MAILOPT_MESSAGE_ID, x.id_510.c_str()}, "The Message-ID is longer than 509 characters"},
        {"message id CR", {MAILOPT_MESSAGE_ID, "a@b\r"}, "Control character in the Message-ID"},
        {"boundary LF", {MAILOPT_BOUNDARIES, "ok", "bad\n", "ok"}, "Control character in the MIME boundary"},
        // Actions: the loaded session names a server and is not connected.
        {"connect", {MAILOPT_CONNECT}, kUnavailable},
        {"quit without a connection", {MAILOPT_QUIT}, "Not connected to a server"},
        {"send without a connection", {MAILOPT_SEND}, "Not connected to a server"},
        {"deliver to a server", {MAILOPT_DELIVER}, kUnavailable},
    };
    if (mail_full_program) {
        cases.insert(cases.end(), {
            {"email file scan without file", {MAILOPT_EMAIL_FILE_SCAN, "1", "1"}, "No message file set"},
            {"dkim algorithms 3", {MAILOPT_DKIM_ALGORITHMS | mailopt_sub(3)}, "Unknown DKIM algorithm choice"},
            {"dkim algorithms 0", {MAILOPT_DKIM_ALGORITHMS}, "Unknown DKIM algorithm choice"},
            {"dkim canon 3", {MAILOPT_DKIM_CANON | mailopt_sub(3)}, "Unknown DKIM canonicalisation choice"},
            {"dkim domain LF", {MAILOPT_DKIM_DOMAIN, "b.org\n"}, "Control character in the DKIM domain"},
            {"dkim domain not IDNA", {MAILOPT_DKIM_DOMAIN, "xn--.example"},
             "The DKIM domain is not a valid domain: a label is not a valid IDNA label"},
        });
    }
    return cases;
}

TEST_F(OptionTest, StoresEachRow)
{
    load();
    for (const StoreCase &c : store_cases(*this)) {
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
    ASSERT_EQ(apply(ctx, {MAILOPT_EMAIL_FILE, eml_path.c_str()}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_CREDENTIALS, "u", "token"}), 1);
    for (const StoreCase &c : clear_cases()) {
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
    if (mail_full_program) {
        ASSERT_EQ(apply(ctx, {MAILOPT_DKIM}), 1);
        ASSERT_EQ(apply(ctx, {MAILOPT_DKIM | MAILOPT_CLEAR}), 1);
        EXPECT_EQ(ctx->flags2 & MAILF2_DKIM, 0u);
    }
}

TEST_F(OptionTest, FailuresChangeNothing)
{
    load();
    FailTexts texts(*this);
    for (const FailCase &c : fail_cases(*this, texts)) {
        SCOPED_TRACE(c.what);
        expect_fails_unchanged(c.call, c.error, c.early);
    }
}

// OAUTHBEARER frames its fields with 0x01: a token holding one is refused
// whichever of the token and MAILOPT_OAUTH comes first, and a password for
// the other mechanisms may hold it.
TEST_F(OptionTest, BearerTokenHoldsNoFieldSeparator)
{
    load();
    const char *error = "The bearer token holds the byte 0x01";
    ASSERT_EQ(apply(ctx, {MAILOPT_CREDENTIALS, "u", "token"}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_OAUTH}), 1);
    expect_fails_unchanged({MAILOPT_CREDENTIALS, "u", "tok\x01" "auth=Bearer evil"}, error);
    ASSERT_EQ(apply(ctx, {MAILOPT_OAUTH | MAILOPT_CLEAR}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_CREDENTIALS, "u", "pass\x01word"}), 1);
    EXPECT_STREQ(ctx->password, "pass\x01word");
    expect_fails_unchanged({MAILOPT_OAUTH}, error);
}

TEST_F(OptionTest, RowsThatNeverFailTakeAnything)
{
    load();
    for (unsigned row : rows_that_never_fail()) {
        if (row == MAILOPT_FREE)
            continue; // FreeAction
        for (unsigned index = 0; index < 16; index++) {
            unsigned sub = mailopt_sub(index);
            for (unsigned modifiers : {0u, MAILOPT_FROM_FILE | MAILOPT_BINARY, unsigned(MAILOPT_CLEAR)}) {
                SCOPED_TRACE(std::to_string(row) + " sub " + std::to_string(index) + " modifiers " +
                             std::to_string(modifiers));
                EXPECT_EQ(apply(ctx, {row | sub | modifiers}), 1);
                EXPECT_EQ(apply(ctx, {row | sub | modifiers, "\r\n", "", "x", "y"}), 1);
            }
        }
    }
}

// Every row this program has is in the tables above: a value that is
// stored (or the test that shows it) and a value that fails (or the
// row's place among those that cannot fail).
TEST_F(OptionTest, EveryRowHasItsCases)
{
    std::set<unsigned> stored, failing;
    for (const StoreCase &c : store_cases(*this))
        stored.insert(c.call.code & MAILOPT_NUMBER_MASK);
    for (const StoreCase &c : clear_cases())
        stored.insert(c.call.code & MAILOPT_NUMBER_MASK);
    FailTexts texts(*this);
    for (const FailCase &c : fail_cases(*this, texts))
        failing.insert(c.call.code & MAILOPT_NUMBER_MASK);
    for (unsigned n = 0; n < 256; n++) {
        if (!mail_option_name(n))
            continue;
        SCOPED_TRACE(mail_option_name(n));
        EXPECT_TRUE(stored.count(n) || rows_stored_elsewhere().count(n));
        EXPECT_TRUE(failing.count(n) || rows_that_never_fail().count(n));
    }
}

TEST_F(OptionTest, UnlistedNumbersFailAndChangeNothing)
{
    load();
    for (unsigned n : {0u, 3u, 4u, 13u, 14u, 31u, 42u, 44u, 100u, 207u, 209u, 223u, 230u, 239u,
                       245u, 255u}) {
        SCOPED_TRACE(n);
        const std::string reason = "Unknown option number " + std::to_string(n);
        expect_fails_unchanged({n, "a@b.org", "x", "y", "z"}, reason);
        expect_fails_unchanged({n | MAILOPT_CLEAR}, reason);
    }
    EXPECT_EQ(mail_set_option(nullptr, MAILOPT_OAUTH, none, none, none, none), 0);
}

TEST_F(OptionTest, ActionsNotYetAvailable)
{
    std::vector<Report> reports;
    ASSERT_EQ(mail_set_callback(ctx, MAILCB_STATUS, record_status, &reports), 1);

    // Preconditions of the rows come first.
    expect_fails_unchanged({MAILOPT_QUIT}, "Not connected to a server");
    expect_fails_unchanged({MAILOPT_DELIVER}, "No server or output file set");
    expect_fails_unchanged({MAILOPT_DELIVER | MAILOPT_CLEAR}, "No server or output file set");
    EXPECT_TRUE(reports.empty());

    // Sending without a connection drops it with one report.
    mail_set_error(ctx, nullptr);
    ctx->failing_code = 550;
    EXPECT_EQ(apply(ctx, {MAILOPT_SEND}), 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].stage, MAIL_STAGE_DISCONNECTED);
    EXPECT_EQ(reports[0].result, MAIL_RESULT_FATAL);
    EXPECT_EQ(reports[0].text, "Disconnected");
    EXPECT_EQ(ctx->failing_code, 0u);
    EXPECT_STREQ(mail_last_error(ctx), "Not connected to a server");
    mail_set_error(ctx, nullptr);
    // The report carries the error text when there is one.
    mail_set_error(ctx, strdup("Connection lost"));
    EXPECT_EQ(apply(ctx, {MAILOPT_SEND}), 0);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].text, "Connection lost");
    mail_set_error(ctx, nullptr);

    EXPECT_EQ(apply(ctx, {MAILOPT_CONNECT}), 0);
    EXPECT_STREQ(mail_last_error(ctx), kUnavailable);
    mail_set_error(ctx, nullptr);
    // File mode delivers by writing the output file.
    ASSERT_EQ(apply(ctx, {MAILOPT_FROM, "a@b.org"}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_RECIPIENT | MAILOPT_TO, "t@b.org"}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_OUTPUT_FILE, dir.file("out.eml").c_str()}), 1);
    EXPECT_EQ(apply(ctx, {MAILOPT_DELIVER}), 1) << mail_last_error(ctx);
    EXPECT_NE(read_file(dir.file("out.eml")).find("Content-Type: text/plain"), std::string::npos);
    mail_set_error(ctx, nullptr);
    ASSERT_EQ(apply(ctx, {MAILOPT_OUTPUT_FILE | MAILOPT_CLEAR}), 1);
    ASSERT_EQ(apply(ctx, {MAILOPT_SERVER, "mx.b.org", "25"}), 1);
    EXPECT_EQ(apply(ctx, {MAILOPT_DELIVER}), 0);
    EXPECT_STREQ(mail_last_error(ctx), kUnavailable);

    // With the connected bit (no real connection can exist yet) QUIT and
    // SEND reach the missing machinery.
    ctx->flags |= MAILF_CONNECTED;
    mail_set_error(ctx, nullptr);
    EXPECT_EQ(apply(ctx, {MAILOPT_QUIT}), 0);
    EXPECT_STREQ(mail_last_error(ctx), kUnavailable);
    mail_set_error(ctx, nullptr);
    EXPECT_EQ(apply(ctx, {MAILOPT_SEND}), 0);
    EXPECT_STREQ(mail_last_error(ctx), kUnavailable);
    EXPECT_EQ(reports.size(), 2u);
    ctx->flags &= ~uint32_t(MAILF_CONNECTED);

    if (mail_full_program) {
        // The scan of the message file is there: it takes the sender and
        // the recipients and keeps the bits that asked for them.
        mail_set_error(ctx, nullptr);
        ASSERT_EQ(apply(ctx, {MAILOPT_EMAIL_FILE, eml_path.c_str()}), 1);
        ASSERT_EQ(apply(ctx, {MAILOPT_EMAIL_FILE_SCAN, "1", "1"}), 1);
        EXPECT_EQ(ctx->flags2 & (MAILF2_RECIPIENTS_FROM_FILE | MAILF2_FROM_FROM_FILE),
                  unsigned(MAILF2_RECIPIENTS_FROM_FILE | MAILF2_FROM_FROM_FILE));
        EXPECT_STREQ(ctx->to->address, "c@d.org");
    }
}

TEST_F(OptionTest, FreeAction)
{
    load();
    EXPECT_EQ(apply(ctx, {MAILOPT_FREE | MAILOPT_CLEAR}), 1);
    ctx = nullptr; // the session no longer exists (the sanitizer checks it was all freed)
}
