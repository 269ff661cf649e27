// The session actions as a library caller uses them, against an aiosmtpd
// peer process on loopback (tests/e2e/smtp/peers.py serve): connect, two
// messages on one connection, quit; the recipient callback with its refusals;
// actions without a connection; certificate verification with a CA of the
// tests' own.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mail/option.h"
#include "mail/session.h"
#include "net/tls.h"
#include "smtp/smtp.h"
#include "support/str.h"
#include "tests/unit/helpers.h"
#include "tests/unit/test_net_peer.h"

// ---- a TLS library that runs out of memory on demand --------------------------------
// While g_tls_client_fails is set, tls_client() answers NULL, as libtls does
// when it cannot allocate a context; otherwise the call goes on to libtls.
static bool g_tls_client_fails = false;

extern "C" struct tls *tls_client(void)
{
    using TlsClientFn = struct tls *(*)(void);
    static auto real = reinterpret_cast<TlsClientFn>(dlsym(RTLD_NEXT, "tls_client"));
    return g_tls_client_fails || !real ? nullptr : real();
}

namespace {

struct Report {
    int stage;
    int result;
    std::string text;
};

struct Reports {
    std::vector<Report> all;
    static int hook(void *user, int stage, int result, const char *text)
    {
        static_cast<Reports *>(user)->all.push_back({stage, result, text ? text : ""});
        return MAIL_ANSWER_CONTINUE;
    }
    // The stages in order, as "stage/result" words.
    std::string stages() const
    {
        std::string out;
        for (const Report &r : all)
            out += (out.empty() ? "" : " ") + std::to_string(r.stage) + "/" + std::to_string(r.result);
        return out;
    }
};

// An aiosmtpd peer process taking `sessions` sessions.
std::unique_ptr<PeerProcess> aio_peer(const TempDir &dir, const std::string &options, int sessions = 1)
{
    std::string cmd = std::string(TARVEX_PYTHON) + " " + TARVEX_SMTP_PEERS + " serve --limit 60 --sessions " +
                      std::to_string(sessions) + " " + options + " " + dir.path;
    return std::make_unique<PeerProcess>(cmd, "PORT ");
}

// The "MESSAGE" lines of a finished peer: sender, recipients, tls, content.
struct Taken {
    std::string sender, recipients, content;
    int tls;
};

std::vector<Taken> messages(const std::string &output)
{
    std::vector<Taken> out;
    size_t at = 0;
    while ((at = output.find("MESSAGE ", at)) != std::string::npos) {
        size_t end = output.find('\n', at);
        std::string line = output.substr(at + 8, end - at - 8);
        size_t a = line.find(' '), b = line.find(' ', a + 1), c = line.find(' ', b + 1);
        out.push_back({line.substr(0, a), line.substr(a + 1, b - a - 1), bytes_of_hex(line.substr(c + 1)),
                       std::stoi(line.substr(b + 1, c - b - 1))});
        at = end;
    }
    return out;
}

class SmtpSession : public testing::Test {
  protected:
    void SetUp() override
    {
        smtp_install();
        ctx = mail_new();
        ASSERT_NE(ctx, nullptr);
        mail_set_callback(ctx, MAILCB_STATUS, Reports::hook, &reports);
        ASSERT_TRUE(set(MAILOPT_FROM, "sender@example.com"));
        ASSERT_TRUE(set(MAILOPT_RECIPIENT | MAILOPT_TO, "rcpt@example.org"));
        ASSERT_TRUE(set(MAILOPT_SUBJECT, "First"));
        ASSERT_TRUE(set(MAILOPT_BODY, "Hello"));
        ASSERT_TRUE(set(MAILOPT_TIMEOUT, "20"));
    }
    void TearDown() override
    {
        if (ctx)
            mail_set_option(ctx, MAILOPT_FREE, nullptr, nullptr, nullptr, nullptr);
        ip_tls_set_ca_file_for_tests(nullptr);
    }
    int set(unsigned code, const char *v1 = nullptr, const char *v2 = nullptr)
    {
        return mail_set_option(ctx, code, v1, v2, nullptr, nullptr);
    }
    void server(unsigned port, const char *host = "127.0.0.1")
    {
        ASSERT_NE(port, 0u) << "the peer did not start";
        ASSERT_TRUE(set(MAILOPT_SERVER, host, std::to_string(port).c_str()));
    }

    TempDir dir;
    MailContext *ctx = nullptr;
    Reports reports;
};

TEST_F(SmtpSession, ConnectSendTwiceQuit)
{
    auto peer = aio_peer(dir, "");
    server(peer->port());
    ASSERT_EQ(set(MAILOPT_CONNECT), 1) << mail_last_error(ctx);
    EXPECT_EQ(reports.stages(), "1/1 2/1 5/1");
    // While connected the peer is the server's address.
    char host[MAIL_HOST_TEXT_SIZE], peer_text[MAIL_HOST_TEXT_SIZE];
    unsigned short port = 0;
    int info = 0;
    EXPECT_EQ(mail_connection_info(ctx, host, peer_text, &port, &info), 2);
    EXPECT_STREQ(host, "127.0.0.1");
    EXPECT_STREQ(peer_text, "127.0.0.1");
    EXPECT_EQ(port, peer->port());
    EXPECT_EQ(info & 1, 1); // ESMTP
    ASSERT_EQ(set(MAILOPT_SEND), 1) << mail_last_error(ctx);
    ASSERT_TRUE(set(MAILOPT_SUBJECT, "Second"));
    ASSERT_EQ(set(MAILOPT_SEND), 1) << mail_last_error(ctx);
    EXPECT_EQ(set(MAILOPT_QUIT), 1);
    EXPECT_EQ(ctx->connection, nullptr);
    EXPECT_EQ(reports.stages(), "1/1 2/1 5/1 6/1 7/1 10/1 6/1 7/1 10/1 11/1");
    EXPECT_EQ(mail_connection_info(ctx, host, peer_text, nullptr, nullptr), 1);
    EXPECT_STREQ(peer_text, "");

    std::vector<Taken> got = messages(peer->finish());
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NE(got[0].content.find("Subject: First\r\n"), std::string::npos);
    EXPECT_NE(got[1].content.find("Subject: Second\r\n"), std::string::npos);
    EXPECT_EQ(got[1].recipients, "rcpt@example.org");

    // Without a connection the actions fail, with the one report of a
    // lost connection for SEND.
    reports.all.clear();
    EXPECT_EQ(set(MAILOPT_SEND), 0);
    EXPECT_EQ(reports.stages(), "11/4");
    EXPECT_EQ(set(MAILOPT_QUIT), 0);
    EXPECT_STREQ(mail_last_error(ctx), "Not connected to a server");
}

// A library caller may put the OAUTHBEARER user name and token into the
// session itself, past the option checks. One that holds the field
// separator 0x01 fails the AUTH before anything of it goes out; a clean one
// logs in at the same peer.
TEST_F(SmtpSession, OauthbearerFieldSeparatorNeverGoesOut)
{
    auto peer = aio_peer(dir, "--token u@example.com=good-token", 3);
    server(peer->port());
    std::vector<std::string> sent;
    MailTraceFn record = [](void *user, int direction, const char *text) {
        if (direction == MAIL_TRACE_SENT)
            static_cast<std::vector<std::string> *>(user)->push_back(text ? text : "");
        return 1;
    };
    ASSERT_EQ(mail_set_callback(ctx, MAILCB_TRACE, record, &sent), 1);
    ASSERT_TRUE(set(MAILOPT_DEBUG, "1"));
    MailStatusFn quit_on_auth_failure = [](void *user, int stage, int result, const char *text) {
        Reports::hook(user, stage, result, text);
        return stage == MAIL_STAGE_AUTH && result == MAIL_RESULT_FAILED ? int(MAIL_ANSWER_QUIT)
                                                                        : int(MAIL_ANSWER_CONTINUE);
    };
    mail_set_callback(ctx, MAILCB_STATUS, quit_on_auth_failure, &reports);
    ASSERT_TRUE(set(MAILOPT_CREDENTIALS, "u@example.com", "good-token"));
    ASSERT_TRUE(set(MAILOPT_OAUTH));

    const struct {
        const char *user, *token, *error; // error NULL: logged in and delivered
    } cases[] = {
        {"u@example.com", "good-token\x01" "auth=Bearer good-token", "the bearer token holds the byte 0x01"},
        {"u@example.com\x01", "good-token", "the user name holds the byte 0x01"},
        {"u@example.com", "good-token", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.token);
        str_free_secret(ctx->password);
        free(ctx->user);
        ctx->password = strdup(c.token);
        ctx->user = strdup(c.user);
        ASSERT_TRUE(ctx->password && ctx->user);
        sent.clear();
        reports.all.clear();
        int delivered = set(MAILOPT_DELIVER);
        bool auth_sent = false;
        for (const std::string &line : sent)
            auth_sent = auth_sent || line.rfind("auth ", 0) == 0;
        if (c.error) {
            EXPECT_EQ(delivered, 0);
            EXPECT_EQ(std::string(mail_last_error(ctx)), std::string("AUTH OAUTHBEARER failed (") + c.error + ")");
            EXPECT_NE(reports.stages().find("4/2"), std::string::npos) << reports.stages();
            EXPECT_FALSE(auth_sent);
            EXPECT_EQ(ctx->failing_code, 0u); // no reply failed: the run's status is 1
        } else {
            EXPECT_EQ(delivered, 1) << mail_last_error(ctx);
            EXPECT_TRUE(auth_sent);
        }
    }
    // The one response the peer took is the clean one, and only the
    // session that logged in delivered.
    std::string output = peer->finish();
    const std::string clean = "n,a=u@example.com,\x01" "auth=Bearer good-token\x01\x01";
    size_t at = output.find("OAUTH ");
    ASSERT_NE(at, std::string::npos) << output;
    EXPECT_EQ(bytes_of_hex(output.substr(at + 6, output.find('\n', at) - at - 6)), clean);
    EXPECT_EQ(output.find("OAUTH ", at + 1), std::string::npos) << output;
    EXPECT_EQ(messages(output).size(), 1u);
}

// Recipients from the callback: one whose parameter text would smuggle a
// command, one that needs SMTPUTF8 the server lacks, and one that goes.
struct CallbackRecipients {
    int next = 0;
    static int yield(void *user, int kind, const char **address, const char **name, const char **params)
    {
        auto *self = static_cast<CallbackRecipients *>(user);
        if (kind != MAIL_RCPT_ENVELOPE)
            return 0; // no To or Cc field

        static const char *const rows[][2] = {
            {"smuggler@example.org", " NOTIFY=NEVER\r\nRSET"},
            {"j\xc3\xb6rg@example.org", ""},
            {"good@example.org", nullptr},
        };
        if (self->next == 3)
            return 0;
        *address = rows[self->next][0];
        *name = nullptr;
        *params = rows[self->next][1];
        self->next++;
        return 1;
    }
};

TEST_F(SmtpSession, RecipientCallback)
{
    auto peer = aio_peer(dir, "");
    server(peer->port());
    CallbackRecipients source;
    mail_set_callback(ctx, MAILCB_RECIPIENTS, CallbackRecipients::yield, &source);
    ASSERT_EQ(set(MAILOPT_DELIVER), 1) << mail_last_error(ctx);

    std::vector<Report> rcpt;
    for (const Report &r : reports.all)
        if (r.stage == MAIL_STAGE_RCPT || r.stage == MAIL_STAGE_RCPT_UTF8)
            rcpt.push_back(r);
    ASSERT_EQ(rcpt.size(), 3u);
    EXPECT_EQ(rcpt[0].stage, MAIL_STAGE_RCPT);
    EXPECT_EQ(rcpt[0].result, MAIL_RESULT_FAILED);
    EXPECT_EQ(rcpt[1].stage, MAIL_STAGE_RCPT_UTF8);
    EXPECT_EQ(rcpt[1].result, MAIL_RESULT_FAILED);
    EXPECT_EQ(rcpt[2].text, "good@example.org");
    EXPECT_EQ(rcpt[2].result, MAIL_RESULT_OK);

    std::vector<Taken> got = messages(peer->finish());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].recipients, "good@example.org");
}

// Recipients per kind, each run starting afresh after its 0, with a count
// of the runs asked for.
struct KindRecipients {
    std::vector<const char *> envelope, to;
    size_t next = 0;
    int envelope_runs = 0;
    static int yield(void *user, int kind, const char **address, const char **name, const char **params)
    {
        auto *self = static_cast<KindRecipients *>(user);
        const std::vector<const char *> &rows = kind == MAIL_RCPT_ENVELOPE ? self->envelope
                                                : kind == MAIL_RCPT_TO     ? self->to
                                                                           : std::vector<const char *>();
        if (self->next == 0 && kind == MAIL_RCPT_ENVELOPE)
            self->envelope_runs++;
        if (self->next == rows.size()) {
            self->next = 0;
            return 0;
        }
        *address = rows[self->next++];
        *name = nullptr;
        *params = nullptr;
        return 1;
    }
};

// The callback's recipients count before MAIL FROM: a server with SMTPUTF8
// (one that refuses a non-ASCII address in a transaction that did not say
// SMTPUTF8) takes the message for jörg, and the envelope run is asked once.
TEST_F(SmtpSession, CallbackRecipientsDecideSmtputf8)
{
    auto peer = aio_peer(dir, "--smtputf8");
    server(peer->port());
    KindRecipients source;
    source.envelope = {"ann@example.org", "j\xc3\xb6rg@example.org"};
    source.to = {"ann@example.org"};
    mail_set_callback(ctx, MAILCB_RECIPIENTS, KindRecipients::yield, &source);
    ASSERT_EQ(set(MAILOPT_DELIVER), 1) << mail_last_error(ctx);
    EXPECT_EQ(source.envelope_runs, 1);
    std::vector<Taken> got = messages(peer->finish());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].recipients, "ann@example.org,j\xc3\xb6rg@example.org");
}

// A To entry from the callback that has no ASCII form stops the message
// before MAIL FROM at a server without SMTPUTF8; with SMTPUTF8 it makes
// MAIL FROM say so although the envelope is ASCII.
TEST_F(SmtpSession, CallbackHeaderAddressesNeedSmtputf8)
{
    KindRecipients source;
    source.envelope = {"ann@example.org"};
    source.to = {"ann@example.org", "j\xc3\xb6rg@example.org"};
    mail_set_callback(ctx, MAILCB_RECIPIENTS, KindRecipients::yield, &source);
    {
        auto peer = aio_peer(dir, "");
        server(peer->port());
        EXPECT_EQ(set(MAILOPT_DELIVER), 0);
        EXPECT_STREQ(mail_last_error(ctx), "SMTPUTF8 required for j\xc3\xb6rg@example.org in the To field");
        EXPECT_EQ(ctx->failing_code, 0u);
        for (const Report &r : reports.all)
            EXPECT_NE(r.stage, MAIL_STAGE_MAIL_FROM) << reports.stages();
        EXPECT_EQ(source.envelope_runs, 0);
        EXPECT_TRUE(messages(peer->finish()).empty());
    }
    auto peer = aio_peer(dir, "--smtputf8");
    server(peer->port());
    ASSERT_EQ(set(MAILOPT_DELIVER), 1) << mail_last_error(ctx);
    std::vector<Taken> got = messages(peer->finish());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_NE(got[0].content.find("To: ann@example.org,\r\n\tj\xc3\xb6rg@example.org\r\n"), std::string::npos)
        << got[0].content;
}

// An HTTPS proxy whose refusal quotes the Basic login it got: the error,
// the report of the failed connect and the trace show the mask, while the
// wire carries the real login. A password of two bytes leaves no base64 of
// its own to find in the login: the login itself is masked.
TEST_F(SmtpSession, ProxyRefusalQuotingTheLoginShowsTheMask)
{
    std::string trace;
    MailTraceFn record = [](void *user, int, const char *text) {
        *static_cast<std::string *>(user) += text ? text : "";
        return 1;
    };
    ASSERT_EQ(mail_set_callback(ctx, MAILCB_TRACE, record, &trace), 1);
    ASSERT_TRUE(set(MAILOPT_DEBUG, "1"));
    server(25); // only named to the proxy
    const struct {
        const char *password, *basic;
    } cases[] = {
        {"pr0xyS3cret", "cHU6cHIweHlTM2NyZXQ="},
        {"pw", "cHU6cHc="},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.password);
        const std::string basic = c.basic;
        auto peer = script_peer({"send:" + to_hex("HTTP/1.1 407 you sent Basic " + basic + "\r\n\r\n"), "recvall"});
        ASSERT_NE(peer->port(), 0u);
        ASSERT_TRUE(set(MAILOPT_PROXY | MAILOPT_PROXY_HTTPS, "127.0.0.1", std::to_string(peer->port()).c_str()));
        ASSERT_TRUE(set(MAILOPT_PROXY_AUTH, "pu", c.password));
        trace.clear();
        reports.all.clear();
        EXPECT_EQ(set(MAILOPT_CONNECT), 0);
        const std::string error = "Could not connect to [127.0.0.1]:25 via HTTPS proxy (HTTPS proxy refused the "
                                  "tunnel (HTTP/1.1 407 you sent Basic ****))";
        EXPECT_EQ(mail_last_error(ctx), error);
        ASSERT_EQ(reports.all.size(), 1u);
        EXPECT_EQ(reports.all[0].stage, MAIL_STAGE_CONNECT);
        EXPECT_EQ(reports.all[0].text, error);
        EXPECT_NE(trace.find("HTTP/1.1 407 you sent Basic ****"), std::string::npos) << trace;
        EXPECT_EQ(trace.find(basic), std::string::npos) << trace;
        EXPECT_NE(peer_answer(peer->finish(), "ALL").find("\r\nProxy-Authorization: Basic " + basic + "\r\n"),
                  std::string::npos);
    }
}

// The end of data refused with 552, the status answer asks for RSET, and
// RSET and QUIT are refused with 500: the 552 stays the failing code.
TEST_F(SmtpSession, CleanUpAfterAFailureKeepsItsCode)
{
    auto peer = aio_peer(dir, "--reply 'DATA=552 5.3.4 too big' --reply 'RSET=500 5.5.1 no' "
                              "--reply 'QUIT=500 5.5.1 no'");
    server(peer->port());
    MailStatusFn reset_on_data = [](void *user, int stage, int result, const char *text) {
        Reports::hook(user, stage, result, text);
        return stage == MAIL_STAGE_DATA && result == MAIL_RESULT_FAILED ? int(MAIL_ANSWER_RESET)
                                                                        : int(MAIL_ANSWER_CONTINUE);
    };
    mail_set_callback(ctx, MAILCB_STATUS, reset_on_data, &reports);
    EXPECT_EQ(set(MAILOPT_DELIVER), 0);
    EXPECT_EQ(ctx->failing_code, 552u);
    EXPECT_EQ(ctx->last_code, 500);
    // The refused RSET was reported: it did reach the server.
    EXPECT_NE(reports.stages().find("10/2 1/4"), std::string::npos) << reports.stages();
    EXPECT_TRUE(messages(peer->finish()).empty());
}

// Memory that runs out in the TLS layer, with implicit TLS and with
// STARTTLS, ends the session with the out-of-memory mark, not as a
// failure of some other kind. A scripted peer: a real one would wait for
// the handshake that never comes.
TEST_F(SmtpSession, TlsOutOfMemoryEndsWithTheMark)
{
    struct Case {
        const char *name;
        unsigned mode;
        std::vector<std::string> steps;
    };
    const Case cases[] = {
        {"implicit", MAILOPT_TLS_IMPLICIT, {"hold"}},
        {"starttls", MAILOPT_TLS_REQUIRED,
         {"send:" + to_hex("220 peer ESMTP\r\n"), "expect:18", "send:" + to_hex("250-peer\r\n250 STARTTLS\r\n"),
          "expect:10", "send:" + to_hex("220 go ahead\r\n"), "hold"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto peer = script_peer(c.steps);
        server(peer->port());
        ASSERT_TRUE(set(MAILOPT_HELO, "example.com"));
        ASSERT_TRUE(set(MAILOPT_TLS_MODE | MAILOPT_CLEAR)); // the modes add up
        ASSERT_TRUE(set(MAILOPT_TLS_MODE | c.mode));
        g_tls_client_fails = true;
        int delivered = set(MAILOPT_DELIVER);
        g_tls_client_fails = false;
        EXPECT_EQ(delivered, 0);
        EXPECT_TRUE(mail_error_is_nomem(ctx));
        EXPECT_STREQ(mail_last_error(ctx), "Out of memory");
        EXPECT_EQ(ctx->connection, nullptr);
    }
}

TEST_F(SmtpSession, VerifiedCertificateOfATrustedAuthority)
{
    auto peer = aio_peer(dir, "--implicit");
    server(peer->port());
    ASSERT_TRUE(set(MAILOPT_TLS_MODE | MAILOPT_TLS_IMPLICIT));
    ASSERT_TRUE(set(MAILOPT_VERIFY));
    // Not trusted: the system's authorities do not know the test CA.
    EXPECT_EQ(set(MAILOPT_DELIVER), 0);
    EXPECT_NE(std::string(mail_last_error(ctx)).find("certificate"), std::string::npos)
        << mail_last_error(ctx);
    // Trusted: the certificate chain and the name (127.0.0.1) check out.
    ip_tls_set_ca_file_for_tests(dir.file("ca.pem").c_str());
    EXPECT_EQ(set(MAILOPT_DELIVER), 1) << mail_last_error(ctx);
    std::vector<Taken> got = messages(peer->finish());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].tls, 1);
}

} // namespace
