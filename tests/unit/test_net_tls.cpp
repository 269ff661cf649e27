// Tests of the TLS layer on loopback: the library's own server side,
// openssl s_server and Python's ssl module as peers, with certificates the
// tests make (an authority of their own, a certificate it signed for
// localhost and 127.0.0.1, and a self-signed one).
#include "net/tls.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "tests/unit/test_net_peer.h"

namespace {

const int kStarted = ip_global_init(1);

struct Closer {
    Connection *c;
    ~Closer() { ip_free(c); }
};

// The certificates, made once for all tests of this file.
struct Certificates {
    TempDir dir;
    std::string ca, key, cert, self_key, self_cert;
    bool made = false;
    Certificates()
    {
        const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
        write_file(dir.file("ext.cnf"),
                   "subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                   "extendedKeyUsage=serverAuth\n");
        int status = -1;
        run_command("cd '" + dir.path + "' && (openssl req -x509 -days 2 " + ec +
                        "-keyout ca.key -out ca.pem -subj /CN=Tarvex-Test-Authority"
                        " && openssl req " + ec + "-keyout srv.key -out srv.csr -subj /CN=localhost"
                        " && openssl x509 -req -in srv.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2"
                        " -extfile ext.cnf -out srv.pem"
                        " && openssl req -x509 -days 2 " + ec + "-keyout self.key -out self.pem -subj /CN=localhost"
                        " -addext subjectAltName=DNS:localhost) 2>/dev/null",
                    "", &status);
        ca = dir.file("ca.pem");
        key = dir.file("srv.key");
        cert = dir.file("srv.pem");
        self_key = dir.file("self.key");
        self_cert = dir.file("self.pem");
        made = status == 0;
    }
};

Certificates &certs()
{
    static Certificates c;
    return c;
}

// The library's own TLS server: takes one connection, starts TLS as the
// server and answers every line with "echo <line>" until the client ends.
class EchoServer {
  public:
    EchoServer()
    {
        listener_ = ip_new(CONN_TCP, 0, CONN_WAIT);
        listener_->timeout_ms = 10000;
        ip_set_family(listener_, 4);
        char text[NET_ADDRESS_TEXT_SIZE];
        if (ip_bind(listener_, 1, 0) && ip_listen(listener_) && ip_local_address(listener_, text, sizeof text, &port))
            thread_ = std::thread([this] { serve(); });
    }
    ~EchoServer() { finish(); }
    // Waits for the server to end; its TLS error, "" when the handshake
    // completed.
    std::string finish()
    {
        if (thread_.joinable())
            thread_.join();
        ip_free(listener_);
        listener_ = nullptr;
        return error_;
    }
    unsigned port = 0;

  private:
    void serve()
    {
        Connection *s = ip_accept(listener_, 0, CONN_WAIT);
        if (!s) {
            error_ = ip_error(listener_);
            return;
        }
        s->timeout_ms = 10000;
        const char *err = nullptr;
        if (ip_tls_start(s, 1, &err, nullptr, 0, nullptr, nullptr)) {
            while (char *line = ip_read_until(s, "\n", 0))
                ip_printf(s, "echo %s\n", line);
        } else {
            error_ = err ? err : "?";
        }
        ip_free(s);
    }
    Connection *listener_;
    std::thread thread_;
    std::string error_ = "";
};

class NetTls : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_EQ(kStarted, 1);
        ASSERT_TRUE(certs().made) << "openssl could not make the test certificates";
        ip_tls_set_ca_file_for_tests(certs().ca.c_str());
    }
    void TearDown() override { ip_tls_set_ca_file_for_tests(nullptr); }

    static void serve_with(const std::string &key, const std::string &cert)
    {
        const char *err = nullptr;
        ASSERT_EQ(ip_tls_server_setup(&err, key.c_str(), cert.c_str(), nullptr, nullptr), 1) << err;
    }
};

TEST_F(NetTls, VerifiedExchangeBufferedRecordsAndClose)
{
    serve_with(certs().key, certs().cert);
    EchoServer server;
    Connection *c = connect_to("127.0.0.1", server.port);
    ASSERT_NE(c, nullptr) << connect_error;
    TraceLog log;
    log.attach(c, CONN_LOG_DEBUG);
    const char *err = nullptr;
    ASSERT_EQ(ip_tls_start(c, 0, &err, "localhost", 1, nullptr, nullptr), 1) << err;
    EXPECT_EQ(log.count(NET_TRACE_NOTE, "TLS negotiation complete (version=TLSv1."), 1u);
    EXPECT_EQ(c->timeout_ms, 10000); // the handshake's own cap does not stay
    EXPECT_EQ(ip_tls_start(c, 0, &err, "localhost", 1, nullptr, nullptr), 0);
    EXPECT_STREQ(err, "TLS is already on");

    // Many small prints leave as one TLS record when the reply is read.
    std::string expected;
    for (int i = 0; i < 200; i++) {
        ASSERT_TRUE(ip_printf(c, "line %d\n", i));
        expected += "echo line " + std::to_string(i);
    }
    EXPECT_EQ(log.count(NET_TRACE_NOTE, "tls_write()"), 0u);
    std::string got;
    for (int i = 0; i < 200; i++) {
        char *line = ip_read_until(c, "\n", 0);
        ASSERT_NE(line, nullptr) << ip_error(c);
        got += line;
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(log.count(NET_TRACE_NOTE, "tls_write() sent"), 1u);
    ip_close(c); // ends TLS; the server sees the end of its stream
    EXPECT_EQ(c->tls, nullptr);
    EXPECT_EQ(server.finish(), "");
    ip_free(c);
}

TEST_F(NetTls, VerificationOfChainAndName)
{
    struct Case {
        const char *name;
        bool self_signed;
        const char *server_name;
        int verify;
        const char *error; // substring of the client's error; NULL: success
    } cases[] = {
        {"signed, right name", false, "localhost", 1, nullptr},
        {"signed, address", false, "127.0.0.1", 1, nullptr},
        {"signed, wrong name", false, "wrong.example", 1, "wrong.example"},
        {"signed, wrong name, no verify", false, "wrong.example", 0, nullptr},
        {"self-signed, no verify", true, "localhost", 0, nullptr},
        // Right after an unverified start: a start that asks for
        // verification must not get the unverified configuration.
        {"self-signed, verify", true, "localhost", 1, "certificate verification failed"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        serve_with(k.self_signed ? certs().self_key : certs().key, k.self_signed ? certs().self_cert : certs().cert);
        EchoServer server;
        Connection *c = connect_to("127.0.0.1", server.port);
        ASSERT_NE(c, nullptr) << connect_error;
        Closer hold{c};
        const char *err = nullptr;
        int ok = ip_tls_start(c, 0, &err, k.server_name, k.verify, nullptr, nullptr);
        if (!k.error) {
            ASSERT_EQ(ok, 1) << err;
            ASSERT_TRUE(ip_write_text(c, "ping\n"));
            char *line = ip_read_until(c, "\n", 0);
            ASSERT_NE(line, nullptr) << ip_error(c);
            EXPECT_STREQ(line, "echo ping");
        } else {
            ASSERT_EQ(ok, 0);
            ASSERT_NE(err, nullptr);
            EXPECT_NE(std::string(err).find(k.error), std::string::npos) << err;
            EXPECT_EQ(err, ip_error(c)); // the reason lives in the connection
            // Nothing goes over a connection whose handshake failed.
            EXPECT_EQ(ip_write(c, "x", 1), 0);
            EXPECT_EQ(ip_read_until(c, "\n", 0), nullptr);
        }
        ip_close(c);
        server.finish();
    }
}

TEST_F(NetTls, RefusedSettingsAreNotKept)
{
    serve_with(certs().key, certs().cert);
    EchoServer server;
    Connection *c = connect_to("127.0.0.1", server.port);
    ASSERT_NE(c, nullptr) << connect_error;
    Closer hold{c};
    struct {
        const char *protocols, *ciphers, *error;
    } refused[] = {
        {nullptr, "no-such-cipher", "tls_config_set_ciphers() failed"},
        {"tlsv9.9", nullptr, "tls_config_parse_protocols() failed"},
        {"!all", nullptr, "tls_config_parse_protocols() failed"}, // enables no protocol
    };
    for (auto &r : refused) {
        const char *err = nullptr;
        EXPECT_EQ(ip_tls_start(c, 0, &err, "localhost", 1, r.protocols, r.ciphers), 0);
        EXPECT_STREQ(err, r.error);
    }
    // Nothing was sent: the same connection still starts TLS.
    const char *err = nullptr;
    ASSERT_EQ(ip_tls_start(c, 0, &err, "localhost", 1, "tlsv1.2,tlsv1.3", "secure"), 1) << err;
    ASSERT_TRUE(ip_write_text(c, "after\n"));
    char *line = ip_read_until(c, "\n", 0);
    ASSERT_NE(line, nullptr) << ip_error(c);
    EXPECT_STREQ(line, "echo after");
}

// The lists a start would refuse are refused by the checks, without any
// connection.
TEST(NetTlsCheck, ProtocolAndCipherLists)
{
    struct {
        const char *text;
        int protocols, ciphers;
    } rows[] = {
        {"all", 1, 1},
        {"secure", 1, 1},
        {"tlsv1.2,tlsv1.3", 1, 0},
        {"HIGH:!aNULL", 0, 1},
        {"!all", 0, 0},
        {"tlsv9.9", 0, 0},
        {"", 0, 0},
    };
    for (auto &r : rows) {
        SCOPED_TRACE(r.text);
        const char *why = nullptr;
        EXPECT_EQ(ip_tls_check_protocols(r.text, &why), r.protocols);
        EXPECT_STREQ(why, r.protocols ? nullptr : "no protocol list libtls takes");
        why = nullptr;
        EXPECT_EQ(ip_tls_check_ciphers(r.text, &why), r.ciphers);
        EXPECT_STREQ(why, r.ciphers ? nullptr : "no cipher list libtls takes");
    }
}

TEST_F(NetTls, ReplacedConfigurationOutlivesItsConnections)
{
    // A start with other settings replaces the process's configuration
    // while an earlier connection still runs on the old one.
    serve_with(certs().key, certs().cert);
    EchoServer first_server, second_server;
    Connection *first = connect_to("127.0.0.1", first_server.port);
    Connection *second = connect_to("127.0.0.1", second_server.port);
    ASSERT_NE(first, nullptr) << connect_error;
    ASSERT_NE(second, nullptr) << connect_error;
    Closer hold_first{first}, hold_second{second};
    const char *err = nullptr;
    ASSERT_EQ(ip_tls_start(first, 0, &err, "localhost", 1, nullptr, nullptr), 1) << err;
    ASSERT_EQ(ip_tls_start(second, 0, &err, "localhost", 0, "tlsv1.2", nullptr), 1) << err;
    for (Connection *c : {first, second, first}) {
        ASSERT_TRUE(ip_write_text(c, "still\n"));
        char *line = ip_read_until(c, "\n", 0);
        ASSERT_NE(line, nullptr) << ip_error(c);
        EXPECT_STREQ(line, "echo still");
    }
}

TEST_F(NetTls, ServerSetupRefusesMissingFiles)
{
    struct {
        std::string key, cert;
        const char *error;
    } cases[] = {
        {certs().dir.file("missing.key"), certs().cert, "Key file error"},
        {certs().key, certs().dir.file("missing.pem"), "Cert file error"},
    };
    for (auto &k : cases) {
        const char *err = nullptr;
        EXPECT_EQ(ip_tls_server_setup(&err, k.key.c_str(), k.cert.c_str(), nullptr, nullptr), 0);
        EXPECT_STREQ(err, k.error);
    }
}

TEST_F(NetTls, RefusesDataAheadOfTheHandshake)
{
    // Bytes behind the reply that agreed to TLS, in the same packet or
    // already waiting on the socket, would be read as protected replies.
    struct {
        const char *name;
        std::vector<std::string> steps;
        bool later; // the extra bytes come after our next write
    } cases[] = {
        {"same packet", {"send:" + to_hex("220 go ahead\r\n250 injected\r\n"), "hold"}, false},
        {"on the socket",
         {"send:" + to_hex("220 go ahead\r\n"), "expect:1", "send:" + to_hex("250 injected\r\n"), "hold"},
         true},
    };
    for (auto &k : cases) {
        SCOPED_TRACE(k.name);
        auto peer = script_peer(k.steps);
        Connection *c = connect_to("127.0.0.1", peer->port());
        ASSERT_NE(c, nullptr) << connect_error;
        Closer hold{c};
        char *line = ip_read_until(c, "\r\n", 0);
        ASSERT_NE(line, nullptr) << ip_error(c);
        EXPECT_STREQ(line, "220 go ahead");
        if (k.later) {
            ASSERT_TRUE(ip_write(c, "!", 1));
            ASSERT_GT(ip_poll(c, PLAT_POLL_IN), 0);
            EXPECT_EQ(ip_pending(c), 0u);
        }
        const char *err = nullptr;
        EXPECT_EQ(ip_tls_start(c, 0, &err, "localhost", 0, nullptr, nullptr), 0);
        EXPECT_STREQ(err, "The peer sent data ahead of the TLS handshake");
        EXPECT_EQ(c->tls, nullptr);
    }
}

TEST_F(NetTls, SilentPeerEndsTheHandshake)
{
    auto peer = script_peer({"hold"});
    Connection *c = connect_to("127.0.0.1", peer->port(), 300);
    ASSERT_NE(c, nullptr) << connect_error;
    Closer hold{c};
    const char *err = nullptr;
    EXPECT_EQ(ip_tls_start(c, 0, &err, "localhost", 0, nullptr, nullptr), 0);
    EXPECT_STREQ(err, "tls_handskake() timeout");
    EXPECT_EQ(ip_write(c, "x", 1), 0);
}

TEST_F(NetTls, StartTlsAgainstPythonSsl)
{
    auto peer = script_peer({"send:" + to_hex("220 ready\r\n"), "starttls", "expect:6", "send:" + to_hex("250 ok\r\n"),
                             "hold"},
                            "--cert '" + certs().cert + "' --key '" + certs().key + "'");
    Connection *c = connect_to("127.0.0.1", peer->port());
    ASSERT_NE(c, nullptr) << connect_error;
    char *line = ip_read_until(c, "\r\n", 0);
    ASSERT_NE(line, nullptr) << ip_error(c);
    EXPECT_STREQ(line, "220 ready");
    const char *err = nullptr;
    ASSERT_EQ(ip_tls_start(c, 0, &err, "localhost", 1, nullptr, nullptr), 1) << err;
    ASSERT_TRUE(ip_write_text(c, "hello\n"));
    line = ip_read_until(c, "\r\n", 0);
    ASSERT_NE(line, nullptr) << ip_error(c);
    EXPECT_STREQ(line, "250 ok");
    ip_free(c);
    EXPECT_EQ(peer_answer(peer->finish(), "GOT"), "hello\n");
}

TEST_F(NetTls, AgainstOpensslServer)
{
    PeerProcess server("openssl s_server -accept 127.0.0.1:0 -naccept 1 -rev -cert '" + certs().cert + "' -key '" +
                           certs().key + "' 2>&1",
                       "ACCEPT");
    ASSERT_NE(server.port(), 0u);
    Connection *c = connect_to("127.0.0.1", server.port());
    ASSERT_NE(c, nullptr) << connect_error;
    const char *err = nullptr;
    ASSERT_EQ(ip_tls_start(c, 0, &err, "localhost", 1, nullptr, nullptr), 1) << err;
    ASSERT_TRUE(ip_printf(c, "%s\n", "stressed"));
    char *line = ip_read_until(c, "\n", 0);
    ASSERT_NE(line, nullptr) << ip_error(c);
    EXPECT_STREQ(line, "desserts");
    ip_free(c);
    server.finish();
}

} // namespace
