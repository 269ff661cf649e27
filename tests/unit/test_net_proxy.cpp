// The proxy tunnels against the scripted loopback peer: the peer sends its
// whole answer at once and records everything the client sent until the
// client closes, so each case checks the request bytes, the result, the
// reason and what was left unread for the dialogue after the tunnel.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "net/proxy.h"
#include "tests/unit/helpers.h"
#include "tests/unit/test_net_peer.h"

namespace {

// How the scripted proxy behaves after its answer.
enum PeerEnd {
    RECORD, // keeps reading until the client closes, recording what came
    CUT,    // takes in the request, then closes the connection
    SILENT, // says nothing more and keeps the connection open
};

struct Case {
    const char *name;
    std::string answer;                          // what the proxy sends
    std::function<int(Connection *)> tunnel;     // the call under test
    std::string sent;                            // what the client must send
    const char *reason;                          // ip_error part on failure, "" on success
    std::string left;                            // bytes left unread after the tunnel
    PeerEnd end = RECORD;
};

void run_cases(const std::vector<Case> &cases)
{
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<std::string> steps;
        if (!k.answer.empty())
            steps.push_back("send:" + to_hex(k.answer));
        if (k.end == CUT) // the request is taken in first, so the close is orderly
            steps.push_back("expect:" + std::to_string(k.sent.size()));
        steps.push_back(k.end == RECORD ? "recvall" : k.end == CUT ? "close" : "hold");
        auto peer = script_peer(steps);
        Connection *c = connect_to("127.0.0.1", peer->port(), 1000);
        ASSERT_NE(c, nullptr) << connect_error;
        TraceLog log;
        log.attach(c, CONN_LOG_LINES);
        int ok = k.tunnel(c);
        EXPECT_EQ(ok, *k.reason ? 0 : 1) << ip_error(c);
        if (*k.reason) {
            EXPECT_NE(std::string(ip_error(c)).find(k.reason), std::string::npos) << ip_error(c);
        }
        if (ok) {
            std::string left(ip_pending(c), '\0');
            if (!left.empty())
                ip_read(c, left.data(), left.size());
            EXPECT_EQ(left, k.left);
        }
        ip_close(c);
        ip_free(c);
        std::string output = peer->finish();
        if (k.end == RECORD) {
            EXPECT_EQ(peer_answer(output, "ALL"), k.sent);
        }
        // No credentials ever reach the trace in clear.
        for (const TraceLog::Entry &e : log.entries) {
            EXPECT_EQ(e.text.find("dTpw"), std::string::npos) << e.text;
            EXPECT_EQ(e.text.find("s3cr3t"), std::string::npos) << e.text;
        }
    }
}

std::function<int(Connection *)> https(const char *host, unsigned port, const char *user = nullptr,
                                       const char *password = nullptr, const char *agent = nullptr)
{
    return [=](Connection *c) { return proxy_https_connect(c, host, port, user, password, agent); };
}

std::function<int(Connection *)> socks(std::string host, unsigned port, const char *user = nullptr,
                                       const char *password = nullptr)
{
    return [=](Connection *c) { return proxy_socks5_connect(c, host.c_str(), port, user, password); };
}

std::string bytes(std::initializer_list<int> list)
{
    std::string s;
    for (int b : list)
        s.push_back(static_cast<char>(b));
    return s;
}

TEST(NetProxy, HttpsConnect)
{
    const std::string plain = "CONNECT mx.test:25 HTTP/1.0\r\nHost: mx.test:25\r\n\r\n";
    const std::string ok = "HTTP/1.1 200 Connection established\r\nProxy-agent: x\r\n\r\n";
    std::vector<Case> cases = {
        {"established, greeting left unread", ok + "220 hi\r\n", https("mx.test", 25), plain, "", "220 hi\r\n"},
        {"shortest status line", "HTTP/1.0 200\r\n\r\n", https("mx.test", 25), plain, "", ""},
        {"status line of 11 characters", "HTTP/1.0 20\r\n\r\n", https("mx.test", 25), plain, "refused", ""},
        {"credentials wanted", "HTTP/1.1 407 Proxy Authentication Required\r\n\r\n", https("mx.test", 25), plain,
         "refused the tunnel (HTTP/1.1 407", ""},
        {"no answer", "", https("mx.test", 25), plain, "sent no answer (Connection closed", "", CUT},
        {"silent proxy", "", https("mx.test", 25), plain, "sent no answer (Timed out", "", SILENT},
        {"header cut off", "HTTP/1.1 200 OK\r\nVia: x\r\n", https("mx.test", 25), plain, "broke off", "", CUT},
        {"overlong status line", "HTTP/1.1 200 " + std::string(PROXY_REPLY_LINE_MAX, 'x') + "\r\n\r\n",
         https("mx.test", 25), plain, "sent no answer", ""},
        {"endless header", "HTTP/1.1 200 OK\r\n" + [] {
             std::string h;
             for (size_t i = 0; i <= PROXY_HEADER_LINES_MAX; i++)
                 h += "X: y\r\n";
             return h;
         }() + "\r\n",
         https("mx.test", 25), plain, "header lines", ""},
        {"credentials and user agent", ok, https("mx.test", 587, "u", "p", "Agent 1"),
         "CONNECT mx.test:587 HTTP/1.0\r\nHost: mx.test:587\r\nUser-Agent: Agent 1\r\n"
         "Proxy-Authorization: Basic dTpw\r\n\r\n",
         "", ""},
        {"empty user and password still log in", ok, https("mx.test", 25, "", ""),
         "CONNECT mx.test:25 HTTP/1.0\r\nHost: mx.test:25\r\nProxy-Authorization: Basic Og==\r\n\r\n", "", ""},
        {"IPv6 target bracketed", ok, https("2001:db8::1", 465),
         "CONNECT [2001:db8::1]:465 HTTP/1.0\r\nHost: [2001:db8::1]:465\r\n\r\n", "", ""},
        {"port 0", ok, https("mx.test", 0), "", "out of range", ""},
        {"port above 65535", ok, https("mx.test", 65536), "", "out of range", ""},
    };
    run_cases(cases);
}

TEST(NetProxy, Socks5)
{
    const std::string hello = bytes({5, 1, 0});
    const std::string login_hello = bytes({5, 2, 0, 2});
    const std::string request = bytes({5, 1, 0, 3, 7}) + "mx.test" + bytes({0, 25});
    const std::string v4 = bytes({5, 0, 0, 1, 127, 0, 0, 1, 4, 56});
    const std::string v6 = bytes({5, 0, 0, 4}) + std::string(16, '\1') + bytes({4, 56});
    const std::string name = bytes({5, 0, 0, 3, 10}) + "0123456789" + bytes({4, 56});
    const std::string login = bytes({1, 1}) + "u" + bytes({6}) + "s3cr3t";
    const std::string long_password(256, 'p');
    std::vector<Case> cases = {
        {"IPv4 bound address, greeting left unread", bytes({5, 0}) + v4 + "220 hi\r\n", socks("mx.test", 25),
         hello + request, "", "220 hi\r\n"},
        {"IPv6 bound address", bytes({5, 0}) + v6 + "220", socks("mx.test", 25), hello + request, "", "220"},
        {"named bound address", bytes({5, 0}) + name, socks("mx.test", 25), hello + request, "", ""},
        {"credentials wanted, none given", bytes({5, 0xFF}), socks("mx.test", 25), hello,
         "wants credentials and none were given", ""},
        {"login", bytes({5, 2, 1, 0}) + v4, socks("mx.test", 25, "u", "s3cr3t"), login_hello + login + request, "",
         ""},
        {"login refused", bytes({5, 2, 1, 1}), socks("mx.test", 25, "u", "s3cr3t"), login_hello + login,
         "refused the user name and password", ""},
        {"no authentication chosen though offered", bytes({5, 0}) + v4, socks("mx.test", 25, "u", "s3cr3t"),
         login_hello + request, "", ""},
        {"connection refused", bytes({5, 0, 5, 5, 0, 1}), socks("mx.test", 25), hello + request, "reply code 5", ""},
        {"unknown address type", bytes({5, 0, 5, 0, 0, 2, 0, 0}), socks("mx.test", 25), hello + request,
         "address type 2", ""},
        {"reply cut off", bytes({5, 0, 5, 0, 0, 1, 127}), socks("mx.test", 25), hello + request, "ended the connection",
         "", CUT},
        {"silent proxy", bytes({5, 0, 5, 0, 0, 1, 127}), socks("mx.test", 25), hello + request, "Timed out", "",
         SILENT},
        {"longest host name", bytes({5, 0}) + v4, socks(std::string(255, 'h'), 25),
         hello + bytes({5, 1, 0, 3, 255}) + std::string(255, 'h') + bytes({0, 25}), "", ""},
        {"host name too long, nothing sent", bytes({5, 0}), socks(std::string(256, 'h'), 25), "", "too long", ""},
        {"password too long, nothing sent", bytes({5, 2}), socks("mx.test", 25, "u", long_password.c_str()),
         "", "too long", ""},
        {"port above 65535", bytes({5, 0}), socks("mx.test", 70000), "", "out of range", ""},
    };
    run_cases(cases);
}

} // namespace
