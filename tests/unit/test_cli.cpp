// Tests of the front end's pieces: the option dispatcher and its parsers,
// configuration files, status and trace printing, the banner, and the
// platform calls the front end needs (exit code, console width, folder of
// the configuration file). Whole runs of the programs are tested end to end
// under tests/e2e/.
#include "cli/cli.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <openssl/crypto.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

#include "cli/exitcode.h"
#include "mail/lists.h"
#include "mail/option.h"
#include "mail/scan.h"
#include "mail/session.h"
#include "mail/wild.h"
#include "platform/platform.h"
#include "support/rand.h"
#include "tests/unit/helpers.h"

namespace {

std::string text(const char *t) { return t ? "\"" + std::string(t) + "\"" : "NULL"; }

// The session fields options can touch, as one comparable text.
std::string snapshot(const MailContext *c)
{
    std::ostringstream o;
    o << std::hex << c->flags << " " << c->flags2 << std::dec << " mode " << c->mode << " port "
      << c->port << " proxy " << text(c->proxy_host) << ":" << c->proxy_port << "/"
      << c->proxy_type << " " << text(c->proxy_user) << " " << text(c->proxy_password)
      << " prio " << c->priority << " ip " << c->ip_family << " len " << c->line_length
      << " timeout " << c->timeout;
    for (const char *t : {c->from_address, c->from_name, c->reply_to_address, c->reply_to_name,
                          c->return_path, c->subject, c->text_body, c->html_body, c->charset,
                          c->server_host, c->user, c->password, c->helo_name, c->output_file,
                          c->email_file, c->dsn_envid, c->tls_ciphers, c->tls_protocols})
        o << " " << text(t);
    for (const Recipient *list : {c->to, c->cc, c->bcc}) {
        o << " |";
        for (const Recipient *r = list; r; r = r->next)
            o << " " << r->address << "/" << text(r->display_name) << "/" << r->notify;
    }
    for (Attachment *a = att_first(c->attachments); a; a = att_next(a))
        o << " att " << a->path << "/" << a->encoding << "/" << a->is_inline << "/"
          << text(a->content_id);
    for (HeaderField *h = hdr_first(c->headers); h; h = hdr_next(h))
        o << " head " << h->name << "=" << text(h->value);
    for (HeaderField *h = hdr_first(c->removed_headers); h; h = hdr_next(h))
        o << " del " << h->name;
    return o.str();
}

struct Cli : ::testing::Test {
    void SetUp() override
    {
        cli_reset_switches();
        ctx = mail_new();
        ASSERT_NE(ctx, nullptr);
    }
    void TearDown() override
    {
        mail_free(ctx);
        cli_reset_switches();
    }
    // One word through the dispatcher; stderr is captured into `err`.
    int apply(const std::string &word)
    {
        std::string scratch = word;
        ::testing::internal::CaptureStderr();
        int status = cli_option_status(ctx, scratch.data());
        err += ::testing::internal::GetCapturedStderr();
        return status;
    }
    MailContext *ctx = nullptr;
    std::string err;
    TempDir dir;
};

// ---- accepted words and what they set ------------------------------------------

TEST_F(Cli, WordsSetTheSession)
{
    write_file(dir.file("a.txt"), "attachment\n");
    write_file(dir.file("a b&c.png"), "png");
    write_file(dir.file("body.txt"), "one\ntwo\n");
    write_file(dir.file("page.html"), "<p>x</p>");
    write_file(dir.file("msg.eml"), "Subject: x\r\n\r\nbody\r\n");
    ASSERT_TRUE(plat_mkdir(dir.file("c:").c_str()));
    write_file(dir.file("c:/body.txt"), "drive\n");
    const std::string a = dir.file("a.txt");
    struct Case {
        std::vector<std::string> words;
        std::function<void(const MailContext *)> check;
    } cases[] = {
        {{"subject:Hello there"}, [](auto c) { EXPECT_STREQ(c->subject, "Hello there"); }},
        // Trailing blanks belong to the value.
        {{"subject:Hi  "}, [](auto c) { EXPECT_STREQ(c->subject, "Hi  "); }},
        {{"from:a@b.c:Ann"},
         [](auto c) {
             EXPECT_STREQ(c->from_address, "a@b.c");
             EXPECT_STREQ(c->from_name, "Ann");
         }},
        {{"from:a@b.c:Ann:NSF"}, [](auto c) { EXPECT_STREQ(c->from_name, "Ann"); }},
        {{"reply-to:r@b.c"},
         [](auto c) {
             EXPECT_STREQ(c->reply_to_address, "r@b.c");
             EXPECT_EQ(c->reply_to_name, nullptr);
         }},
        {{"to:x@y.z:\"Doe: John\":NF"},
         [](auto c) {
             ASSERT_NE(c->to, nullptr);
             EXPECT_STREQ(c->to->address, "x@y.z");
             EXPECT_STREQ(c->to->display_name, "Doe: John");
             EXPECT_EQ(c->to->notify, unsigned(MAIL_NOTIFY_NEVER | MAIL_NOTIFY_FAILURE));
         }},
        // Between the closing quote and the next ":" everything is skipped.
        {{"to:x@y.z:\"Q\"junk:S"},
         [](auto c) {
             EXPECT_STREQ(c->to->display_name, "Q");
             EXPECT_EQ(c->to->notify, unsigned(MAIL_NOTIFY_SUCCESS));
         }},
        // A ":" before the "@" belongs to the address (a mailbox holds one
        // only in a quoted local part); an empty name is none.
        {{"cc:\"a:b\"@y.z::D"},
         [](auto c) {
             ASSERT_NE(c->cc, nullptr);
             EXPECT_STREQ(c->cc->address, "\"a:b\"@y.z");
             EXPECT_EQ(c->cc->display_name, nullptr);
             EXPECT_EQ(c->cc->notify, unsigned(MAIL_NOTIFY_DELAY));
         }},
        // Bcc recipients never carry a display name.
        {{"bcc:x@y.z:Name:SD"},
         [](auto c) {
             ASSERT_NE(c->bcc, nullptr);
             EXPECT_EQ(c->bcc->display_name, nullptr);
             EXPECT_EQ(c->bcc->notify, unsigned(MAIL_NOTIFY_SUCCESS | MAIL_NOTIFY_DELAY));
         }},
        {{"to:one@y.z", "to:two@y.z"},
         [](auto c) {
             ASSERT_NE(c->to, nullptr);
             EXPECT_STREQ(c->to->address, "two@y.z");
             ASSERT_NE(c->to->next, nullptr);
             EXPECT_STREQ(c->to->next->address, "one@y.z");
         }},
        {{"return-path:bounce@b.c"}, [](auto c) { EXPECT_STREQ(c->return_path, "bounce@b.c"); }},
        {{"body:a\\tb\\nc\\\\n"}, [](auto c) { EXPECT_STREQ(c->text_body, "a\tb\r\nc\\n"); }},
        {{"body--html:<p>x</p>"}, [](auto c) { EXPECT_STREQ(c->html_body, "<p>x</p>"); }},
        {{"body-64"}, [](auto c) { EXPECT_EQ((c->flags & MAILF_BODY_ENC_MASK) >> MAILF_BODY_ENC_SHIFT, unsigned(BODY_ENC_BASE64)); }},
        {{"body-qp"}, [](auto c) { EXPECT_EQ((c->flags & MAILF_BODY_ENC_MASK) >> MAILF_BODY_ENC_SHIFT, unsigned(BODY_ENC_QP)); }},
        {{"head:X-Test: value"},
         [](auto c) {
             HeaderField *h = hdr_first(c->headers);
             ASSERT_NE(h, nullptr);
             EXPECT_STREQ(h->name, "X-Test");
             EXPECT_STREQ(h->value, " value");
         }},
        {{"head:" + std::string(3000, 'x') + ":" + std::string(3000, 'v')},
         [](auto c) {
             HeaderField *h = hdr_first(c->headers);
             ASSERT_NE(h, nullptr);
             EXPECT_EQ(strlen(h->name), 3000u);
             EXPECT_EQ(strlen(h->value), 3000u);
         }},
        {{"delhead:Received"},
         [](auto c) {
             HeaderField *h = hdr_first(c->removed_headers);
             ASSERT_NE(h, nullptr);
             EXPECT_STREQ(h->name, "Received");
         }},
        {{"mime", "dotstuff", "mdn", "oauth", "rawheadanything"},
         [](auto c) {
             uint32_t want = MAILF_FORCE_MIME | MAILF_DOT_STUFF_FILE | MAILF_MDN |
                             MAILF_USE_OAUTHBEARER | MAILF_RAW_HEADERS;
             EXPECT_EQ(c->flags & want, want);
         }},
        {{"4"}, [](auto c) { EXPECT_EQ(c->ip_family, 4); }},
        {{"4", "6"}, [](auto c) { EXPECT_EQ(c->ip_family, 6); }},
        {{"linelen:100", "timeout:30", "helo:me.example"},
         [](auto c) {
             EXPECT_EQ(c->line_length, 100u);
             EXPECT_EQ(c->timeout, 30);
             EXPECT_STREQ(c->helo_name, "me.example");
         }},
        {{"dsnid:" + std::string(MAIL_DSN_ENVID_MAX, 'e')},
         [](auto c) { EXPECT_EQ(strlen(c->dsn_envid), size_t(MAIL_DSN_ENVID_MAX)); }},
        {{"dsn:SF", "dsnid:env-1"},
         [](auto c) {
             EXPECT_EQ((c->flags & MAILF_NOTIFY_MASK) >> MAILF_NOTIFY_SHIFT,
                       unsigned(MAIL_NOTIFY_SUCCESS | MAIL_NOTIFY_FAILURE));
             EXPECT_STREQ(c->dsn_envid, "env-1");
         }},
        {{"priority:2"}, [](auto c) { EXPECT_EQ(c->priority, 2); }},
        {{"file:" + dir.file("out.eml")},
         [&](auto c) {
             EXPECT_EQ(c->output_file, dir.file("out.eml"));
             EXPECT_EQ(c->mode, unsigned(MAIL_MODE_FILE));
         }},
        {{"emailfile:" + dir.file("msg.eml")}, [](auto c) { EXPECT_EQ(c->mode, unsigned(MAIL_MODE_PRECONSTRUCTED)); }},
        {{"a:" + a, "a64:" + a, "aqp:" + a, "auu:" + a},
         [](auto c) {
             std::vector<int> encodings;
             for (Attachment *at = att_first(c->attachments); at; at = att_next(at))
                 encodings.push_back(at->encoding);
             EXPECT_EQ(encodings, (std::vector<int>{ATT_ENC_AUTO, ATT_ENC_BASE64, ATT_ENC_QP,
                                                    ATT_ENC_UUENCODE}));
         }},
        // An inline part's content identifier is its escaped base name.
        {{"ai:" + dir.file("a b&c.png")},
         [](auto c) {
             Attachment *at = att_first(c->attachments);
             ASSERT_NE(at, nullptr);
             EXPECT_TRUE(at->is_inline);
             EXPECT_STREQ(at->content_id, "a b%26c.png");
         }},
        {{"body-file:" + dir.file("body.txt") + ":iso-8859-1"},
         [](auto c) {
             EXPECT_STREQ(c->text_body, "one\r\ntwo\r\n");
             EXPECT_STREQ(c->charset, "iso-8859-1");
         }},
        // A ":" followed by a path separator is part of the path (a drive
        // letter); a ":" with nothing after it ends the path.
        {{"body-file:" + dir.file("c:/body.txt")},
         [](auto c) {
             EXPECT_STREQ(c->text_body, "drive\r\n");
             EXPECT_EQ(c->charset, nullptr);
         }},
        {{"body-file:" + dir.file("body.txt") + ":"},
         [](auto c) {
             EXPECT_STREQ(c->text_body, "one\r\ntwo\r\n");
             EXPECT_EQ(c->charset, nullptr);
         }},
        {{"body-html:" + dir.file("page.html")},
         [](auto c) { EXPECT_TRUE(c->flags & MAILF_HTML_FROM_FILE); }},
        {{"host:u:p@mx.example:2525"},
         [](auto c) {
             EXPECT_STREQ(c->server_host, "mx.example");
             EXPECT_EQ(c->port, 2525);
             EXPECT_STREQ(c->user, "u");
             EXPECT_STREQ(c->password, "p");
         }},
        // A -host: without credentials drops those of an earlier one.
        {{"host:u:p@a.example", "host:b.example"},
         [](auto c) {
             EXPECT_STREQ(c->server_host, "b.example");
             EXPECT_EQ(c->port, 0);
             EXPECT_EQ(c->user, nullptr);
             EXPECT_EQ(c->password, nullptr);
         }},
        {{"host:u:@a.example"},
         [](auto c) {
             EXPECT_STREQ(c->user, "u");
             EXPECT_FALSE(mail_credentials_complete(c));
         }},
        // The delimiter counts for -host: options after it only.
        {{"host:u|p@a.example", "passdelim:|"},
         [](auto c) {
             EXPECT_STREQ(c->user, "u|p");
             EXPECT_STREQ(c->password, "");
         }},
        {{"passdelim:|", "host:u|p:w@a.example"},
         [](auto c) {
             EXPECT_STREQ(c->user, "u");
             EXPECT_STREQ(c->password, "p:w");
         }},
        // Too short to be an encrypted password: taken as written.
        {{"host:me:$ab@mx.example"}, [](auto c) { EXPECT_STREQ(c->password, "$ab"); }},
        {{"host:me:$@mx.example"}, [](auto c) { EXPECT_STREQ(c->password, "$"); }},
        // Long enough, but no type and marker: taken as written too.
        {{"host:me:$AAAAAAAAAAAAAAAA@mx.example"},
         [](auto c) { EXPECT_STREQ(c->password, "$AAAAAAAAAAAAAAAA"); }},
        // Longer than any encrypted text: never decoded, never cut.
        {{"host:me:$" + std::string(300, 'A') + "@mx.example"},
         [](auto c) { EXPECT_EQ(c->password, "$" + std::string(300, 'A')); }},
        // An encrypted password is decrypted.
        {{"host:me:$LfX5wKjdWdbaZ7TrWpc@mx.example"}, [](auto c) { EXPECT_STREQ(c->password, "s3cret"); }},
        {{"host:me@example.com:" + std::string(4000, 't') + "@mx.example"},
         [](auto c) {
             EXPECT_STREQ(c->user, "me@example.com");
             EXPECT_EQ(strlen(c->password), 4000u);
         }},
        {{"proxy:pu:pp@px.example:3128"},
         [](auto c) {
             EXPECT_STREQ(c->proxy_host, "px.example");
             EXPECT_EQ(c->proxy_port, 3128);
             EXPECT_STREQ(c->proxy_user, "pu");
             EXPECT_STREQ(c->proxy_password, "pp");
         }},
        {{"proxy:px.example"},
         [](auto c) {
             EXPECT_EQ(c->proxy_port, int(MAIL_PROXY_SOCKS_PORT));
             EXPECT_STREQ(c->proxy_user, "");
         }},
        {{"proxytype:HTTPS", "proxy:px.example"},
         [](auto c) {
             EXPECT_EQ(c->proxy_type, int(MAIL_PROXY_HTTPS));
             EXPECT_EQ(c->proxy_port, int(MAIL_PROXY_HTTPS_PORT));
         }},
        // The port was chosen when -proxy: was applied.
        {{"proxy:px.example", "proxytype:HTTPS"},
         [](auto c) {
             EXPECT_EQ(c->proxy_type, int(MAIL_PROXY_HTTPS));
             EXPECT_EQ(c->proxy_port, int(MAIL_PROXY_SOCKS_PORT));
         }},
        {{"proxytype:HTTPS", "proxytype:SOCKS5"}, [](auto c) { EXPECT_EQ(c->proxy_type, int(MAIL_PROXY_SOCKS)); }},
        {{"authtypes:PLAIN,,FOO,LOGIN"},
         [](auto c) {
             uint32_t off = MAILF_NO_CRAM_MD5 | MAILF_NO_OAUTHBEARER;
             EXPECT_EQ(c->flags & off, off);
             EXPECT_EQ(c->flags & (MAILF_NO_PLAIN | MAILF_NO_LOGIN), 0u);
         }},
        {{"starttls", "verify", "tls-ciphers:HIGH", "tls-protocols:tlsv1.3"},
         [](auto c) {
             EXPECT_TRUE(c->flags & MAILF_STARTTLS);
             EXPECT_TRUE(c->flags & MAILF_VERIFY);
             EXPECT_STREQ(c->tls_ciphers, "HIGH");
             EXPECT_STREQ(c->tls_protocols, "tlsv1.3");
         }},
        {{"requiretls"}, [](auto c) { EXPECT_TRUE(c->flags & MAILF_STARTTLS_REQUIRED); }},
        {{"secureport"}, [](auto c) { EXPECT_TRUE(c->flags & MAILF_SMTPS); }},
    };
    for (const Case &c : cases) {
        std::string trace;
        for (const std::string &w : c.words)
            trace += w.substr(0, 80) + " ";
        SCOPED_TRACE(trace);
        mail_free(ctx);
        ctx = mail_new();
        cli_reset_switches();
        err.clear();
        for (const std::string &w : c.words)
            ASSERT_EQ(apply(w), EXIT_OK) << err;
        EXPECT_EQ(err, "");
        c.check(ctx);
    }
}

TEST_F(Cli, IgnoredWordsChangeNothing)
{
    const std::string before = snapshot(ctx);
    // Values the session documents as having no effect: the rows whose
    // every refusal is such a value, and the values the front end leaves
    // out before asking the session (so that any other refusal of theirs
    // can end the run).
    const std::string long_envid = "dsnid:" + std::string(MAIL_DSN_ENVID_MAX + 1, 'e');
    for (const std::string &word :
         {std::string("config:/no/such/file"), std::string("nodefault"), std::string("skipnofile"),
          std::string("clutf8"), std::string("body-literal"), std::string("ign:anything at all"),
          std::string("head:Bad Name:v"), std::string("head:no colon"), std::string("head::v"),
          std::string("subject:"), std::string("delhead:"), std::string("dsnid:"), long_envid,
          std::string("timeout:"), std::string("priority:")}) {
        SCOPED_TRACE(word.substr(0, 40));
        EXPECT_EQ(apply(word), EXIT_OK);
        EXPECT_EQ(snapshot(ctx), before);
    }
    EXPECT_EQ(err, "");
    EXPECT_EQ(cli_no_default_config, 0); // read by the pre-scan only
}

TEST_F(Cli, SwitchesOfTheFrontEnd)
{
    EXPECT_EQ(apply("-"), EXIT_OK);
    EXPECT_EQ(cli_body_from_stdin, 1);
    EXPECT_EQ(apply("d"), EXIT_OK);
    EXPECT_EQ(ctx->trace_fn, &cli_trace_print);
    EXPECT_EQ(ctx->trace_user, ctx);
    EXPECT_EQ((ctx->flags2 & MAILF2_DEBUG_MASK) >> MAILF2_DEBUG_SHIFT, 1u);
    EXPECT_EQ(cli_timestamps, 0);
    EXPECT_EQ(apply("dd"), EXIT_OK);
    EXPECT_EQ((ctx->flags2 & MAILF2_DEBUG_MASK) >> MAILF2_DEBUG_SHIFT, 2u);
    EXPECT_EQ(cli_timestamps, 1);
}

TEST_F(Cli, SkipMissingFilesLeavesAttachmentsOut)
{
    cli_skip_missing_files = 1;
    EXPECT_EQ(apply("a:" + dir.file("missing.txt")), EXIT_OK);
    EXPECT_EQ(ctx->attachments, nullptr);
    EXPECT_EQ(err, "");
}

TEST_F(Cli, BodyLiteralReadsRawBytes)
{
    write_file(dir.file("raw.bin"), std::string("a\nb\0c", 5));
    cli_body_literal = 1;
    ASSERT_EQ(apply("body-file:" + dir.file("raw.bin")), EXIT_OK);
    EXPECT_EQ(std::string(ctx->text_body, ctx->text_body_length), std::string("a\nb\0c", 5));
}

// ---- refused words ---------------------------------------------------------------

TEST_F(Cli, RefusalsReportAndGiveTheirStatus)
{
    const std::string missing = dir.file("missing"), big_list = dir.file("big.list");
    const std::string bad_port = "The port is not a number from 1 to 65535";
    const std::string gone = ": No such file or directory\n";
    write_file(big_list, std::string(ADDR_LIST_FILE_MAX, ' ') + "a@b.org\n");
    struct Case {
        std::string word;
        int status;
        std::string message;
    } cases[] = {
        {"nosuch", EXIT_UNKNOWN_OPTION, "Unknown option: nosuch\n"},
        {"docs", EXIT_UNKNOWN_OPTION, "Unknown option: docs\n"},
        {"proxytype:socks", EXIT_UNKNOWN_OPTION, "Unknown option: proxytype:\n"},
        {"Subject:x", EXIT_UNKNOWN_OPTION, "Unknown option: Subject:\n"},
        {" subject:x", EXIT_UNKNOWN_OPTION, "Unknown option:  \n"},
        {"bad\x1b[2Jword", EXIT_UNKNOWN_OPTION, "Unknown option: bad\\x1b\n"},
        // -awild: flags: a letter that is none (shown printable), no pattern.
        {"awild:r:*.txt", EXIT_INPUT_FILE, "Invalid awild option 'r'\n"},
        {"awild:R\x1b:*.txt", EXIT_INPUT_FILE, "Invalid awild option '\\x1b'\n"},
        {"awild:R\xc3\xa9:*.txt", EXIT_INPUT_FILE, "Invalid awild option '\\xc3'\n"},
        {"awild:R", EXIT_INPUT_FILE, "No file pattern specified for awild setting\n"},
        {"awild:R6:", EXIT_INPUT_FILE, "No file pattern specified for awild setting\n"},
        {"awild:", EXIT_INPUT_FILE, "No file pattern specified for awild setting\n"},
        // Words of later parts of the program.
        {"asciidoc", EXIT_UNKNOWN_OPTION, "Unknown option: asciidoc\n"},
        {"bindpass", EXIT_UNKNOWN_OPTION, "Unknown option: bindpass\n"},
        // A password is never shown.
        {"encryptpass:s3cret", EXIT_UNKNOWN_OPTION, "Unknown option: encryptpass:\n"},
        {"encryptpass:", EXIT_UNKNOWN_OPTION, "Unknown option: encryptpass:\n"},
        // A mistyped word shows no more than its name (letters, digits,
        // "-") and the byte that ends it.
        {"hots:ann:s3cret@mail.example.com", EXIT_UNKNOWN_OPTION, "Unknown option: hots:\n"},
        {"host ann:s3cret@mail.example.com", EXIT_UNKNOWN_OPTION, "Unknown option: host \n"},
        {"encryptpass=s3cret", EXIT_UNKNOWN_OPTION, "Unknown option: encryptpass=\n"},
        {"proxy-pass/s3cret", EXIT_UNKNOWN_OPTION, "Unknown option: proxy-pass/\n"},
        {"s\xc3\xbc" "bject-s3cret", EXIT_UNKNOWN_OPTION, "Unknown option: s\\xc3\n"},
        {"proxi:pu:s3cret@px.example", EXIT_UNKNOWN_OPTION, "Unknown option: proxi:\n"},
        // A -host: or -proxy: that does not parse ends the run; the reason
        // never quotes the value, which may hold a password.
        {"host:mail.example.org:655350", EXIT_USAGE, "Invalid -host option (" + bad_port + ")\n"},
        {"host:mail.example.org:abc", EXIT_USAGE, "Invalid -host option (" + bad_port + ")\n"},
        {"host:ann:s3cret@h:25x", EXIT_USAGE, "Invalid -host option (" + bad_port + ")\n"},
        {"host:h:", EXIT_USAGE, "Invalid -host option (" + bad_port + ")\n"},
        {"host:h:0", EXIT_USAGE, "Invalid -host option (" + bad_port + ")\n"},
        // No "@": the password reads as a port, and is not shown.
        {"host:ann:s3cret", EXIT_USAGE, "Invalid -host option (" + bad_port + ")\n"},
        {"host:", EXIT_USAGE, "Invalid -host option (No host given)\n"},
        {"host:ann:s3cret@", EXIT_USAGE, "Invalid -host option (No host given)\n"},
        {"host:[::1", EXIT_USAGE, "Invalid -host option (The host begins with \"[\" and has no \"]\")\n"},
        {"host:[::1]25", EXIT_USAGE, "Invalid -host option (Only \":\" and a port may follow the \"]\")\n"},
        {"host:[::1]]:2600", EXIT_USAGE, "Invalid -host option (Only \":\" and a port may follow the \"]\")\n"},
        {"proxy:[::1]]:1080", EXIT_USAGE, "Invalid -proxy option (Only \":\" and a port may follow the \"]\")\n"},
        // A password without a user would be sent without AUTH, as "ann:"
        // and "ann@" are not.
        {"host::s3cret@mx.example", EXIT_USAGE, "Invalid -host option (A password is given without a user name)\n"},
        {"proxy::s3cret@px.example", EXIT_USAGE, "Invalid -proxy option (A password is given without a user name)\n"},
        {"proxy:px.example:655350", EXIT_USAGE, "Invalid -proxy option (" + bad_port + ")\n"},
        {"proxy:pu:s3cret@px.example:abc", EXIT_USAGE, "Invalid -proxy option (" + bad_port + ")\n"},
        {"proxy:px.example:1080x", EXIT_USAGE, "Invalid -proxy option (" + bad_port + ")\n"},
        {"proxy:", EXIT_USAGE, "Invalid -proxy option (No host given)\n"},
        // -proxy: refuses what -host: refuses.
        {"host:mx example.org", EXIT_USAGE, "Invalid -host option (Blank in the server host)\n"},
        {"proxy:px example.org", EXIT_USAGE, "Invalid -proxy option (Blank in the proxy host)\n"},
        {"proxy:p\ru:pw@px.example", EXIT_USAGE,
         "Invalid -proxy option (Control character in the proxy user name)\n"},
        {"proxy:p\x01u:pw@px.example", EXIT_USAGE,
         "Invalid -proxy option (Control character in the proxy user name)\n"},
        // The password "x", NUL, "y": not shown, not used.
        {"host:me:$AQIDBJa58uT0Sfw@mx.example", EXIT_USAGE,
         "Failed to decrypt password: the text was altered (it decrypts to control characters or invalid UTF-8)\n"},
        {"authtypes:FOO,BAR", EXIT_UNKNOWN_OPTION, "Unknown authentication types: FOO,BAR\n"},
        {"authtypes:,", EXIT_UNKNOWN_OPTION, "Unknown authentication types: ,\n"},
        {"to:nobody", EXIT_USAGE, "Invalid address in -to (nobody)\n"},
        {"from:", EXIT_USAGE, "Invalid address in -from ()\n"},
        {"reply-to:x.example:Name", EXIT_USAGE, "Invalid address in -reply-to (x.example:Name)\n"},
        {"return-path:nobody", EXIT_USAGE,
         "Invalid address in -return-path (nobody): The return path is not a valid mailbox\n"},
        {"to:a b@example.org", EXIT_USAGE,
         "Invalid address in -to (a b@example.org): The recipient address is not a valid mailbox\n"},
        {"cc:a..b@x", EXIT_USAGE, "Invalid address in -cc (a..b@x): The recipient address is not a valid mailbox\n"},
        {"bcc:.a@x", EXIT_USAGE, "Invalid address in -bcc (.a@x): The recipient address is not a valid mailbox\n"},
        {"to:j\xf6rg@b.c", EXIT_USAGE,
         "Invalid address in -to (j\\xf6rg@b.c): Invalid UTF-8 in the recipient address\n"},
        {"from:a@b.c:\"Ann", EXIT_USAGE, "Unclosed quote in -from (a@b.c:\"Ann)\n"},
        {"to:a\x01@b.c", EXIT_USAGE,
         "Invalid address in -to (a\\x01@b.c): Control character in the recipient address\n"},
        {"cc:a@b.c:Bad\nName", EXIT_USAGE,
         "Invalid address in -cc (a@b.c:Bad\\x0aName): Control character in the recipient name\n"},
        {"to:" + std::string(300, 'a') + "@b.c", EXIT_USAGE,
         "Invalid address in -to (" + std::string(300, 'a') +
             "@b.c): The recipient address is longer than 254 bytes\n"},
        // A file that cannot be used: one message, the file and the
        // system's reason (else the session's) after it.
        {"to:@" + missing, EXIT_INPUT_FILE, "Failed to set To from file (" + missing + ")" + gone},
        {"cc:@" + missing, EXIT_INPUT_FILE, "Failed to set Cc from file (" + missing + ")" + gone},
        {"bcc:@" + missing, EXIT_INPUT_FILE, "Failed to set Bcc from file (" + missing + ")" + gone},
        {"to:@" + dir.path, EXIT_INPUT_FILE, "Failed to set To from file (" + dir.path + "): Is a directory\n"},
        {"to:@" + big_list, EXIT_INPUT_FILE, "Failed to set To from file (" + big_list + "): " +
             "The recipient list file is too large, more than 16 MiB (" + big_list + ")\n"},
        {"a:" + missing, EXIT_INPUT_FILE, "Failed to attach file (" + missing + ")" + gone},
        {"ai:" + missing, EXIT_INPUT_FILE, "Failed to attach file (" + missing + ")" + gone},
        {"a:" + dir.path, EXIT_INPUT_FILE, "Failed to attach file (" + dir.path + "): Is a directory\n"},
        {"body-file:" + missing, EXIT_INPUT_FILE, "Failed to read body file (" + missing + ")" + gone},
        {"body-file:" + missing + ":utf-8", EXIT_INPUT_FILE, "Failed to read body file (" + missing + ")" + gone},
        {"body-file:" + dir.path, EXIT_INPUT_FILE, "Failed to read body file (" + dir.path + "): Is a directory\n"},
        {"body-html:" + missing, EXIT_INPUT_FILE, "Failed to read HTML body file (" + missing + ")" + gone},
        {"emailfile:" + missing, EXIT_INPUT_FILE, "Failed to find emailfile (" + missing + ")" + gone},
        {"dkim:example.com:sel:" + missing, EXIT_INPUT_FILE,
         "Error applying DKIM setting: example.com:sel:" + missing + " (the key file cannot be opened: No such file or directory)\n"},
        {"dkim:example.com:" + missing, EXIT_INPUT_FILE,
         "Error applying DKIM setting: example.com:" + missing + "\n(expected domain:selector:keyfile)\n"},
        {"dkim-algo:rsa-sha512", EXIT_UNKNOWN_OPTION, "Unknown DKIM signing/verification algorithm: rsa-sha512\n"},
        {"dkim-algo:RSA-SHA256", EXIT_UNKNOWN_OPTION, "Unknown DKIM signing/verification algorithm: RSA-SHA256\n"},
        {"dkim-canon:relaxed", EXIT_UNKNOWN_OPTION, "Unknown DKIM canonical form: relaxed\n"},
        {"passdelim:", EXIT_USAGE, "Missing delimiter character in -passdelim:\n"},
        {"subject:a\x01" "b", EXIT_USAGE, "Invalid -subject option (Control character in the subject)\n"},
        {"head:X-A:v\x01", EXIT_USAGE, "Invalid -head option (Control character in the header-field value)\n"},
        {"head:X-\xc3\xa4:v", EXIT_USAGE, "Invalid -head option (Invalid character in the header-field name)\n"},
        {"helo:a\rb", EXIT_USAGE, "Invalid -helo option (Control character in the HELO name)\n"},
        {"helo:x.org MAIL FROM:<evil@x.org>", EXIT_USAGE,
         "Invalid -helo option (The HELO name is not a domain or an address literal)\n"},
        {"helo:a\xc2\x85" "b.org", EXIT_USAGE, "Invalid -helo option (Control character in the HELO name)\n"},
        {"host:bo\rb:pw@mx.example", EXIT_USAGE, "Invalid -host option (Control character in the user name)\n"},
        {"host:bob\x01" "auth=Bearer x:pw@mx.example", EXIT_USAGE,
         "Invalid -host option (Control character in the user name)\n"},
        // Values are shown with a TAB, a byte that is no UTF-8 and a C1
        // control, U+2028 and U+2029 escaped; a character that is
        // well-formed stays.
        {"to:a\tb@b.c", EXIT_USAGE,
         "Invalid address in -to (a\\x09b@b.c): Control character in the recipient address\n"},
        {"to:a\xc2\x9b" "b@b.c", EXIT_USAGE,
         "Invalid address in -to (a\\xc2\\x9bb@b.c): Control character in the recipient address\n"},
        {"cc:a\xe2\x80\xa8@b.c", EXIT_USAGE,
         "Invalid address in -cc (a\\xe2\\x80\\xa8@b.c): Control character in the recipient address\n"},
        {"to:a\xe2\x80\xa9" "b@b.c", EXIT_USAGE,
         "Invalid address in -to (a\\xe2\\x80\\xa9b@b.c): Control character in the recipient address\n"},
        {"from:a@b.c:\xff", EXIT_USAGE, "Invalid address in -from (a@b.c:\\xff): Invalid UTF-8 in the sender name\n"},
        {"host:mx\x01.example", EXIT_USAGE, "Invalid -host option (Control character in the server host)\n"},
        {"proxy:px\x01.example", EXIT_USAGE, "Invalid -proxy option (Control character in the proxy host)\n"},
        {"dsnid:a b", EXIT_USAGE, "Invalid -dsnid option (Invalid character in the DSN envelope identifier)\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.word.substr(0, 80));
        mail_free(ctx);
        ctx = mail_new();
        err.clear();
        EXPECT_EQ(apply(c.word), c.status);
        EXPECT_EQ(err, c.message);
    }
}

// Every number an option takes is digits only, to the end of the value, on
// the command line and in a configuration file alike: nothing is read up to
// its first other character. Within that, the time-out and the priority
// are refused outside their ranges, the line length is brought into 78 to
// 998, and a number too long for its field is refused, never wrapped.
TEST_F(Cli, NumbersAreDigitsOnly)
{
    const std::string digits = "The value must be digits only: ";
    const std::string timeout_range = "Invalid -timeout option (The time-out is out of range (1 to 2147483 seconds))\n";
    const std::string priority_range = "Invalid -priority option (The priority must be 1 to 5)\n";
    const std::string bad_port = "The port is not a number from 1 to 65535";
    // Set before every case: a refused value leaves them as they are.
    const std::vector<std::string> earlier = {"timeout:30", "linelen:100", "priority:2",
                                              "host:mx.example:2525", "proxy:px.example:3128"};
    struct Case {
        std::string word;
        int status;
        std::string message;
        std::function<void(const MailContext *)> check; // accepted words
    } cases[] = {
        // -timeout: seconds, 1 to 2147483; empty has no effect.
        {"timeout:1", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->timeout, 1); }},
        {"timeout:2147483", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->timeout, 2147483); }},
        {"timeout:0060", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->timeout, 60); }},
        {"timeout:", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->timeout, 30); }},
        {"timeout:1m", EXIT_USAGE, "Invalid -timeout option (" + digits + "\"1m\")\n", nullptr},
        {"timeout:2min", EXIT_USAGE, "Invalid -timeout option (" + digits + "\"2min\")\n", nullptr},
        {"timeout:4x", EXIT_USAGE, "Invalid -timeout option (" + digits + "\"4x\")\n", nullptr},
        {"timeout:4.9", EXIT_USAGE, "Invalid -timeout option (" + digits + "\"4.9\")\n", nullptr},
        {"timeout:abc", EXIT_USAGE, "Invalid -timeout option (" + digits + "\"abc\")\n", nullptr},
        {"timeout: 5", EXIT_USAGE, "Invalid -timeout option (" + digits + "\" 5\")\n", nullptr},
        {"timeout:+5", EXIT_USAGE, "Invalid -timeout option (" + digits + "\"+5\")\n", nullptr},
        {"timeout:-1", EXIT_USAGE, "Invalid -timeout option (" + digits + "\"-1\")\n", nullptr},
        // A configuration line's trailing blank belongs to the value.
        {"timeout:30 ", EXIT_USAGE, "Invalid -timeout option (" + digits + "\"30 \")\n", nullptr},
        {"timeout:3\x01", EXIT_USAGE, "Invalid -timeout option (" + digits + "\"3\\x01\")\n", nullptr},
        {"timeout:0", EXIT_USAGE, timeout_range, nullptr},
        {"timeout:2147484", EXIT_USAGE, timeout_range, nullptr},
        {"timeout:4294967297", EXIT_USAGE, timeout_range, nullptr},
        {"timeout:99999999999999999999999", EXIT_USAGE, timeout_range, nullptr},
        // -linelen: brought into 78 to 998; empty is the default, 78.
        {"linelen:50", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->line_length, 78u); }},
        {"linelen:5000", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->line_length, 998u); }},
        {"linelen:4294967295", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->line_length, 998u); }},
        {"linelen:200", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->line_length, 200u); }},
        {"linelen:", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->line_length, 78u); }},
        {"linelen:120x", EXIT_USAGE, "Invalid -linelen option (" + digits + "\"120x\")\n", nullptr},
        {"linelen:-1", EXIT_USAGE, "Invalid -linelen option (" + digits + "\"-1\")\n", nullptr},
        {"linelen:0x50", EXIT_USAGE, "Invalid -linelen option (" + digits + "\"0x50\")\n", nullptr},
        // One more than 32 bits hold would have wrapped to 78.
        {"linelen:4294967374", EXIT_USAGE,
         "Invalid -linelen option (The number is too large: \"4294967374\")\n", nullptr},
        {"linelen:99999999999999999999999", EXIT_USAGE,
         "Invalid -linelen option (The number is too large: \"99999999999999999999999\")\n", nullptr},
        // -priority: 1 to 5; empty has no effect.
        {"priority:1", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->priority, 1); }},
        {"priority:5", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->priority, 5); }},
        {"priority:3", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->priority, 3); }},
        {"priority:", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->priority, 2); }},
        {"priority:high", EXIT_USAGE, "Invalid -priority option (" + digits + "\"high\")\n", nullptr},
        {"priority:1x", EXIT_USAGE, "Invalid -priority option (" + digits + "\"1x\")\n", nullptr},
        {"priority:4.9", EXIT_USAGE, "Invalid -priority option (" + digits + "\"4.9\")\n", nullptr},
        {"priority:0", EXIT_USAGE, priority_range, nullptr},
        {"priority:6", EXIT_USAGE, priority_range, nullptr},
        // 16 would reach the file bit of the option code and 128 its
        // clear bit; 2^32 + 1 would wrap to 1.
        {"priority:16", EXIT_USAGE, priority_range, nullptr},
        {"priority:128", EXIT_USAGE, priority_range, nullptr},
        {"priority:4294967297", EXIT_USAGE, priority_range, nullptr},
        {"priority:99999999999999999999999", EXIT_USAGE, priority_range, nullptr},
        // Ports of -host: and -proxy:: 1 to 65535.
        {"host:mx.example:587", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->port, 587); }},
        {"host:mx.example:25x", EXIT_USAGE, "Invalid -host option (" + bad_port + ")\n", nullptr},
        {"host:mx.example:+25", EXIT_USAGE, "Invalid -host option (" + bad_port + ")\n", nullptr},
        {"host:mx.example:65561", EXIT_USAGE, "Invalid -host option (" + bad_port + ")\n", nullptr},
        {"proxy:px.example:1080", EXIT_OK, "", [](auto c) { EXPECT_EQ(c->proxy_port, 1080); }},
        {"proxy:px.example:1e3", EXIT_USAGE, "Invalid -proxy option (" + bad_port + ")\n", nullptr},
    };
    for (const Case &c : cases) {
        for (bool from_file : {false, true}) {
            SCOPED_TRACE(c.word.substr(0, 40) + (from_file ? " (configuration line)" : ""));
            mail_free(ctx);
            ctx = mail_new();
            err.clear();
            for (const std::string &w : earlier)
                ASSERT_EQ(apply(w), EXIT_OK) << err;
            const std::string before = snapshot(ctx);
            int status = -7;
            std::string message;
            if (from_file) {
                write_file(dir.file("n.conf"), "# numbers\n" + c.word + "\n");
                ::testing::internal::CaptureStderr();
                ASSERT_EQ(cfg_apply_file(ctx, dir.file("n.conf").c_str(), &status), 1);
                message = ::testing::internal::GetCapturedStderr();
            } else {
                status = apply(c.word);
                message = err;
            }
            EXPECT_EQ(status, c.status);
            EXPECT_EQ(message, c.message.empty() ? "" : (from_file ? dir.file("n.conf") + ":2: " : "") + c.message);
            if (c.check)
                c.check(ctx);
            else
                EXPECT_EQ(snapshot(ctx), before);
        }
    }
}

// A bearer token may not hold the byte that separates OAUTHBEARER's
// fields: refused by the second of -oauth and -host:, whichever it is.
TEST_F(Cli, BearerTokenWithFieldSeparatorIsRefused)
{
    const std::string refused = "(The bearer token holds the byte 0x01)\n";
    const std::vector<std::string> orders[] = {{"host:bob:tok\x01x@mx.example", "oauth"},
                                               {"oauth", "host:bob:tok\x01x@mx.example"}};
    for (const auto &words : orders) {
        SCOPED_TRACE(words[0]);
        mail_free(ctx);
        ctx = mail_new();
        err.clear();
        EXPECT_EQ(apply(words[0]), EXIT_OK);
        EXPECT_EQ(apply(words[1]), EXIT_USAGE);
        EXPECT_EQ(err, "Invalid -" + words[1].substr(0, words[1].find(':')) + " option " + refused);
    }
}

TEST_F(Cli, RefusedServerOrProxyChangesNothing)
{
    ASSERT_EQ(apply("host:u:p@a.example:25"), EXIT_OK);
    ASSERT_EQ(apply("proxy:pu:pp@px.example:3128"), EXIT_OK);
    const std::string before = snapshot(ctx);
    struct Case {
        const char *word;
        int status;
    } cases[] = {
        {"host:v:q@b\x01.example", EXIT_USAGE},
        // An encrypted password with a NUL byte in it cannot be used.
        {"host:v:$AQIDBJa58uT0Sfw@b.example:26", EXIT_USAGE},
        {"proxy:qu:qp@qx\x01.example", EXIT_USAGE},
        // A value that does not parse: the earlier server and proxy stay,
        // with their credentials.
        {"host:v:q@b.example:0", EXIT_USAGE},
        {"host:v:q@b.example:70000", EXIT_USAGE},
        {"host:v:q@b.example:25x", EXIT_USAGE},
        {"host:v:q@[::1", EXIT_USAGE},
        {"host:v:q@:25", EXIT_USAGE},
        {"host:v:q@", EXIT_USAGE},
        {"host::q@b.example", EXIT_USAGE},
        {"host:v:q@[::1]]:26", EXIT_USAGE},
        {"proxy::qp@qx.example", EXIT_USAGE},
        {"proxy:qu:qp@qx.example:70000", EXIT_USAGE},
        {"proxy:qu:qp@qx.example:0x", EXIT_USAGE},
        {"proxy:qu:qp@", EXIT_USAGE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(apply(c.word), c.status);
        EXPECT_EQ(snapshot(ctx), before);
    }
}

TEST(CliDeathTest, FatalWordEndsTheProcessWithItsStatus)
{
    MailContext *ctx = mail_new();
    char word[] = "nosuch";
    EXPECT_EXIT(cli_apply_option(ctx, word), ::testing::ExitedWithCode(EXIT_UNKNOWN_OPTION), "Unknown option: nosuch");
    char good[] = "subject:x";
    EXPECT_EQ(cli_apply_option(ctx, good), 1);
    mail_free(ctx);
}

// ---- helpers of the dispatcher ------------------------------------------------------

TEST(CliUnescape, Table)
{
    struct Case {
        std::string in, out;
    } cases[] = {
        {"plain", "plain"},
        {"a\\tb", "a\tb"},
        {"a\\nb", "a\r\nb"},
        {"\\n\\n", "\r\n\r\n"},
        {"a\\\\nb", "a\\nb"}, // an escaped backslash, then the letter n
        {"a\\\\\\nb", "a\\\r\nb"},
        {"a\\xb", "a\\xb"},   // other escapes stay as they are
        {"end\\", "end\\"},   // a lone backslash at the end too
        {"", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.in);
        std::string buf = c.in;
        EXPECT_EQ(cli_unescape_body(buf.data()), buf.data());
        EXPECT_EQ(std::string(buf.c_str()), c.out);
    }
}

TEST(CliAwild, FlagLetters)
{
    struct Case {
        const char *value;
        int recursive, case_sensitive;
        uint32_t attributes;
        unsigned encoding;
        int is_inline;
        const char *rest;
    } cases[] = {
        {":*.txt", 0, 0, 0, MAILOPT_ATTACH_AUTO, 0, "*.txt"},
        {"RCHSAI:docs/!a*:x", 1, 1, DIRENT_HIDDEN | DIRENT_SYSTEM | DIRENT_ARCHIVE,
         MAILOPT_ATTACH_AUTO, 1, "docs/!a*:x"},
        {"S:x", 0, 0, DIRENT_SYSTEM, MAILOPT_ATTACH_AUTO, 0, "x"},
        {"A:x", 0, 0, DIRENT_ARCHIVE, MAILOPT_ATTACH_AUTO, 0, "x"},
        // Repeats are allowed; of the encodings the last one wins.
        {"6:x", 0, 0, 0, MAILOPT_ATTACH_BASE64, 0, "x"},
        {"UQ:x", 0, 0, 0, MAILOPT_ATTACH_QP, 0, "x"},
        {"Q6U:x", 0, 0, 0, MAILOPT_ATTACH_UUENCODE, 0, "x"},
        {"RRCC6:x", 1, 1, 0, MAILOPT_ATTACH_BASE64, 0, "x"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        int recursive = -1, case_sensitive = -1, is_inline = -1;
        uint32_t attributes = 99;
        unsigned encoding = 99;
        const char *rest = cli_awild_parse_flags(c.value, &recursive, &case_sensitive, &attributes,
                                                 &encoding, &is_inline);
        ASSERT_NE(rest, nullptr);
        EXPECT_STREQ(rest, c.rest);
        EXPECT_EQ(recursive, c.recursive);
        EXPECT_EQ(case_sensitive, c.case_sensitive);
        EXPECT_EQ(attributes, c.attributes);
        EXPECT_EQ(encoding, c.encoding);
        EXPECT_EQ(is_inline, c.is_inline);
    }
}

TEST(CliPrintable, ControlBytesAreShownEscaped)
{
    const std::pair<const char *, const char *> cases[] = {
        {"a\tb", "a\\x09b"},
        {"a\r\n\x7f\x1b", "a\\x0d\\x0a\\x7f\\x1b"},
        {"\xc3\xa4 \xe2\x80\xa7\xc2\xa0", "\xc3\xa4 \xe2\x80\xa7\xc2\xa0"}, // well-formed characters stay
        {"a\xe2\x80\xa8" "b\xe2\x80\xa9", "a\\xe2\\x80\\xa8b\\xe2\\x80\\xa9"},          // line, paragraph separator
        {"\xc2\x80\xc2\x9f", "\\xc2\\x80\\xc2\\x9f"},                                   // the ends of the C1 range
        {"caf\xe9!", "caf\\xe9!"},                               // no UTF-8
        {"ok\xe2\x82", "ok\\xe2\\x82"},                           // a cut sequence
        {"\xc0\xaf \xed\xa0\x80", "\\xc0\\xaf \\xed\\xa0\\x80"},    // overlong, surrogate
        {"\xc2\x9b[2J", "\\xc2\\x9b[2J"},                         // a C1 control (CSI)
        {nullptr, ""},
    };
    for (const auto &[text, shown] : cases)
        EXPECT_EQ(cli_printable(text), shown) << (text ? text : "NULL");
}

// ---- configuration files ----------------------------------------------------------------

TEST_F(Cli, ConfigFileAppliesEveryLine)
{
    struct Case {
        const char *name;
        std::string content;
    } cases[] = {
        {"bom-crlf", "\xEF\xBB\xBFsubject:From file\r\nto:a@b.c\r\n#to:never@b.c\r\n\r\n\r\nto:d@e.f\r\n-\r\n"},
        {"lf", "subject:From file\nto:a@b.c\n# comment\n\nto:d@e.f\n-"},
        {"cr", "subject:From file\rto:a@b.c\r\r\rto:d@e.f\r-\r"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        mail_free(ctx);
        ctx = mail_new();
        cli_reset_switches();
        write_file(dir.file("t.conf"), c.content);
        ASSERT_EQ(cfg_read_file(ctx, dir.file("t.conf").c_str()), 1);
        EXPECT_STREQ(ctx->subject, "From file");
        ASSERT_NE(ctx->to, nullptr);
        EXPECT_STREQ(ctx->to->address, "d@e.f");
        ASSERT_NE(ctx->to->next, nullptr);
        EXPECT_STREQ(ctx->to->next->address, "a@b.c");
        EXPECT_EQ(ctx->to->next->next, nullptr);
        EXPECT_EQ(cli_body_from_stdin, 1);
    }
}

TEST_F(Cli, ConfigFileStopsAtTheLineThatEndsTheRun)
{
    write_file(dir.file("t.conf"), "subject:First\nto:a@b.c\nnosuch\nsubject:Never\n");
    int status = -7;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(cfg_apply_file(ctx, dir.file("t.conf").c_str(), &status), 1);
    // The message names the file and the line.
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), dir.file("t.conf") + ":3: Unknown option: nosuch\n");
    EXPECT_EQ(status, EXIT_UNKNOWN_OPTION);
    EXPECT_STREQ(ctx->subject, "First");
    ASSERT_NE(ctx->to, nullptr);

    // Comments, blank lines, CR LF and lone CR line ends all count as
    // lines; a refused file names the file with the system's reason.
    struct Case {
        std::string content, message;
        int status;
    } cases[] = {
        {"# note\r\n\r\n\nsubject:x\rfoo:bar\n", ":5: Unknown option: foo:\n", EXIT_UNKNOWN_OPTION},
        {"subject:x\nencryptpass=s3cret\n", ":2: Unknown option: encryptpass=\n", EXIT_UNKNOWN_OPTION},
        {"a:" + dir.file("gone"), ":1: Failed to attach file (" + dir.file("gone") + "): No such file or directory\n",
         EXIT_INPUT_FILE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.content);
        write_file(dir.file("c.conf"), c.content);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(cfg_apply_file(ctx, dir.file("c.conf").c_str(), &status), 1);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), dir.file("c.conf") + c.message);
        EXPECT_EQ(status, c.status);
    }
    // Messages of the command line that follow have no origin.
    EXPECT_EQ(apply("nosuch"), EXIT_UNKNOWN_OPTION);
    EXPECT_EQ(err, "Unknown option: nosuch\n");

    write_file(dir.file("ok.conf"), "subject:Second\n");
    EXPECT_EQ(cfg_apply_file(ctx, dir.file("ok.conf").c_str(), &status), 1);
    EXPECT_EQ(status, EXIT_OK);
    EXPECT_STREQ(ctx->subject, "Second");
}

TEST_F(Cli, ConfigFileThatCannotBeOpened)
{
    EXPECT_EQ(cfg_read_file(ctx, dir.file("missing.conf").c_str()), 0);
    EXPECT_EQ(cfg_read_file(ctx, dir.path.c_str()), 0);
    write_file(dir.file("empty.conf"), "");
    EXPECT_EQ(cfg_read_file(ctx, dir.file("empty.conf").c_str()), 1);
}

TEST(CliConfigDeathTest, BadLinesEndTheRun)
{
    TempDir dir;
    struct Case {
        const char *name;
        std::string content;
        int status;
        const char *message;
    } cases[] = {
        {"leading blank", "subject:ok\n subject:s3cret\n", EXIT_UNKNOWN_OPTION, "Unknown option:  \n"},
        {"dash", "-subject:x\n", EXIT_UNKNOWN_OPTION, "Unknown option: -subject:\n"},
        {"NUL", std::string("subject:a\0b\n", 12), EXIT_USAGE, "NUL byte in configuration file"},
        {"too large", "subject:x\n#" + std::string(CFG_FILE_MAX, 'c'), EXIT_USAGE,
         "Configuration file .*bad.conf is too large, more than 16 MiB"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir.file("bad.conf"), c.content);
        MailContext *ctx = mail_new();
        EXPECT_EXIT(cfg_read_file(ctx, dir.file("bad.conf").c_str()),
                    ::testing::ExitedWithCode(c.status), c.message);
        mail_free(ctx);
    }
}

// ---- status and trace printing ---------------------------------------------------------

TEST_F(Cli, StatusReportTable)
{
    struct Case {
        int stage, result;
        const char *text;
        int answer;
        const char *printed;
        int succeeded; // cli_send_succeeded afterwards, starting from 7
    } cases[] = {
        {MAIL_STAGE_ATTACHMENT, MAIL_RESULT_FAILED, "/tmp/gone.pdf", MAIL_ANSWER_CONTINUE, "/tmp/gone.pdf\n", 7},
        {MAIL_STAGE_ATTACHMENT, MAIL_RESULT_FATAL, "/tmp/gone.pdf", MAIL_ANSWER_CONTINUE, "/tmp/gone.pdf\n", 7},
        {MAIL_STAGE_AUTH, MAIL_RESULT_FAILED, "535 bad credentials", MAIL_ANSWER_QUIT, "535 bad credentials\n", 7},
        {MAIL_STAGE_AUTH, MAIL_RESULT_OK, "ok", MAIL_ANSWER_CONTINUE, "", 7},
        {MAIL_STAGE_RCPT, MAIL_RESULT_FAILED, "x@y.z", MAIL_ANSWER_CONTINUE, "Recipient x@y.z rejected (550 no such user)\n", 7},
        {MAIL_STAGE_RCPT, MAIL_RESULT_OK, "x@y.z", MAIL_ANSWER_CONTINUE, "", 7},
        {MAIL_STAGE_NO_RECIPIENTS, MAIL_RESULT_FAILED, "", MAIL_ANSWER_QUIT, "", 0},
        {MAIL_STAGE_DATA, MAIL_RESULT_OK, "250 queued", MAIL_ANSWER_QUIT, "", 1},
        {MAIL_STAGE_DATA, MAIL_RESULT_FAILED, "554 no", MAIL_ANSWER_QUIT, "", 0},
        {MAIL_STAGE_DISCONNECTED, MAIL_RESULT_FATAL, "lost", MAIL_ANSWER_QUIT, "", 0},
        {MAIL_STAGE_AUTH, MAIL_RESULT_FATAL, "lost", MAIL_ANSWER_QUIT, "", 0},
        {MAIL_STAGE_CONNECT, MAIL_RESULT_FAILED, "refused", MAIL_ANSWER_CONTINUE, "", 7},
        {MAIL_STAGE_EHLO, MAIL_RESULT_OK, "ok", MAIL_ANSWER_CONTINUE, "", 7},
    };
    mail_set_error(ctx, strdup("550 no such user"));
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.stage) + "/" + std::to_string(c.result));
        cli_send_succeeded = 7;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(cli_status_report(ctx, c.stage, c.result, c.text), c.answer);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.printed);
        EXPECT_EQ(cli_send_succeeded, c.succeeded);
    }
}

TEST(CliStamp, SecondsAndThreeDigitMilliseconds)
{
    cli_start_ns = 1000;
    struct Case {
        uint64_t elapsed_ns;
        const char *stamp;
    } cases[] = {
        {0, "[0.000] "},
        {1500000000ull, "[1.500] "},
        {12034000000ull, "[12.034] "},
        {999999999ull, "[0.999] "},
        {3600007000000ull, "[3600.007] "},
    };
    for (const Case &c : cases) {
        char buf[32];
        EXPECT_STREQ(cli_format_stamp(buf, sizeof buf, 1000 + c.elapsed_ns), c.stamp);
    }
    char buf[32];
    EXPECT_STREQ(cli_format_stamp(buf, sizeof buf, 10), "[0.000] "); // clock before start
    cli_reset_switches();
}

TEST(CliTrace, DirectionsAndStamps)
{
    cli_reset_switches();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(cli_trace_print(nullptr, MAIL_TRACE_SENT, "ehlo me\r\n"), 1);
    cli_trace_print(nullptr, MAIL_TRACE_RECEIVED, "250 ok\r\n");
    cli_trace_print(nullptr, 7, "250 other\r\n");
    cli_trace_print(nullptr, MAIL_TRACE_NOTE, "ip_connect: refused\n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "> ehlo me\n< 250 ok\n< 250 other\nip_connect: refused\n");

    // What the server sends is shown printable; the line end at the very
    // end becomes LF, and a line without one still ends its trace line.
    // C1 controls, the line and paragraph separators and bytes that are no
    // UTF-8 are escaped as the ASCII controls are; other characters stay.
    struct Case {
        int direction;
        const char *text, *shown;
    } cases[] = {
        {MAIL_TRACE_RECEIVED, "250 ok\x1b[2J\r\n", "< 250 ok\\x1b[2J\n"},
        {MAIL_TRACE_RECEIVED, "250-a\rb\r\n", "< 250-a\\x0db\n"},
        {MAIL_TRACE_RECEIVED, "250 a\r\n\r\n", "< 250 a\\x0d\\x0a\n"},
        {MAIL_TRACE_RECEIVED, "220\tready\x7f\n", "< 220\tready\\x7f\n"},
        {MAIL_TRACE_RECEIVED, "250 a\xc2\x9b" "2J\r\n", "< 250 a\\xc2\\x9b2J\n"},
        {MAIL_TRACE_RECEIVED, "250 \xc2\x80\xc2\x9f\xc2\xa0\r\n", "< 250 \\xc2\\x80\\xc2\\x9f\xc2\xa0\n"},
        {MAIL_TRACE_SENT, "Subject: a\xe2\x80\xa8" "b\xe2\x80\xa9\r\n",
         "> Subject: a\\xe2\\x80\\xa8" "b\\xe2\\x80\\xa9\n"},
        {MAIL_TRACE_SENT, "caf\xc3\xa9 \xe2\x80\xa7\r\n", "> caf\xc3\xa9 \xe2\x80\xa7\n"},
        {MAIL_TRACE_RECEIVED, "250 \x9b\xff\r\n", "< 250 \\x9b\\xff\n"},
        {MAIL_TRACE_RECEIVED, "250 ok\n", "< 250 ok\n"},
        {MAIL_TRACE_RECEIVED, "no line end\x07", "< no line end\\x07\n"},
        {MAIL_TRACE_SENT, "part of a long line", "> part of a long line\n"},
        {MAIL_TRACE_NOTE, "proxy said \x1b]0;x\x07\n", "proxy said \\x1b]0;x\\x07\n"},
        {MAIL_TRACE_RECEIVED, "\r\n", "< \n"},
        {MAIL_TRACE_NOTE, "no line end", "no line end"},
        {MAIL_TRACE_RECEIVED, "", "< \n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.shown);
        ::testing::internal::CaptureStdout();
        cli_trace_print(nullptr, c.direction, c.text);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.shown);
    }

    cli_timestamps = 1;
    cli_start_ns = time_now_ns();
    ::testing::internal::CaptureStdout();
    cli_trace_print(nullptr, MAIL_TRACE_SENT, "quit\r\n");
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(::testing::internal::RE::FullMatch(out, "\\[[0-9]+\\.[0-9][0-9][0-9]\\] > quit\n")) << out;
    cli_reset_switches();
}

// ---- banner ---------------------------------------------------------------------------

TEST(CliBanner, FormatOfTheFullProgram)
{
    char buf[1024];
    std::string want = std::string("Tarvex ") + cli_version + " " + cli_architecture + " (" +
                       OpenSSL_version(OPENSSL_VERSION) + "), " + cli_build_date;
    EXPECT_EQ(cli_format_banner(buf, sizeof buf), buf);
    EXPECT_EQ(std::string(buf), want);
    EXPECT_EQ(strlen(cli_build_date), 11u); // "Mmm dd yyyy"
}

// ---- platform calls of the front end ---------------------------------------------------

TEST(CliPlatform, ExitStatusKeepsFailuresNonZero)
{
    struct Case {
        int status, code;
    } cases[] = {
        {0, 0}, {1, 1}, {2, 2}, {3, 3}, {10, 10}, {255, 255}, {256, 1}, {512, 1},
        {554, 42}, {666, 154}, {667, 155}, {-1, 255}, {-256, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        EXPECT_EQ(plat_exit_status(c.status), c.code);
    }
}

TEST(CliPlatformDeathTest, ExitReachesTheParentMapped)
{
    EXPECT_EXIT(plat_exit(554), ::testing::ExitedWithCode(42), "");
    EXPECT_EXIT(plat_exit(256), ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(plat_exit(0), ::testing::ExitedWithCode(0), "");
}

// Sets or unsets (NULL) an environment variable for one scope.
struct EnvVar {
    EnvVar(const char *name, const char *value) : name(name)
    {
        const char *old = getenv(name);
        had = old != nullptr;
        if (had)
            saved = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvVar()
    {
        if (had)
            setenv(name, saved.c_str(), 1);
        else
            unsetenv(name);
    }
    const char *name;
    bool had;
    std::string saved;
};

TEST(CliPlatform, ConfigFolderFromTheEnvironment)
{
    const std::string long_home = "/home/" + std::string(3000, 'h');
    const std::string long_want = long_home + "/.config";
    struct Case {
        const char *appdata, *xdg, *home;
        const char *want; // NULL: none
    } cases[] = {
        {"/w/AppData", "/x/config", "/h", "/w/AppData"},
        {nullptr, "/x/config", "/h", "/x/config"},
        {"", "/x/config", "/h", "/x/config"},
        {nullptr, nullptr, "/h", "/h/.config"},
        {nullptr, "", "/h", "/h/.config"},
        {nullptr, nullptr, long_home.c_str(), long_want.c_str()}, // kept whole
        {nullptr, nullptr, nullptr, nullptr},
        {nullptr, nullptr, "", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.appdata ? c.appdata : "-") + " " + (c.xdg ? c.xdg : "-") + " " +
                     std::string(c.home ? c.home : "-").substr(0, 20));
        EnvVar a("APPDATA", c.appdata), x("XDG_CONFIG_HOME", c.xdg), h("HOME", c.home);
        char *dir = plat_config_dir();
        if (c.want) {
            ASSERT_NE(dir, nullptr);
            EXPECT_STREQ(dir, c.want);
        } else {
            EXPECT_EQ(dir, nullptr);
        }
        free(dir);
    }
}

// Runs fn with standard output on fd, then puts the old one back.
template <typename F>
int with_stdout_on(int fd, F fn)
{
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
    int result = fn();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    return result;
}

TEST(CliPlatform, ConsoleWidth)
{
    int null_fd = open("/dev/null", O_WRONLY);
    ASSERT_GE(null_fd, 0);
    EXPECT_EQ(with_stdout_on(null_fd, plat_console_width), 80);
    close(null_fd);

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    struct winsize ws = {};
    ws.ws_row = 40;
    ws.ws_col = 132;
    ASSERT_EQ(ioctl(slave, TIOCSWINSZ, &ws), 0);
    EXPECT_EQ(with_stdout_on(slave, plat_console_width), 132);
    ws.ws_col = 0; // a terminal that reports no width
    ASSERT_EQ(ioctl(slave, TIOCSWINSZ, &ws), 0);
    EXPECT_EQ(with_stdout_on(slave, plat_console_width), 80);
    close(slave);
    close(master);
}

} // namespace
