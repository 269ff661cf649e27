// Tests of the connection layer against real loopback peers: connect and
// its failures, the line reader under every kind of delivery, bounded
// waits, the send buffer and its sticky failure, trace copies, the server
// side and datagrams.
#include "net/conn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/fmt.h"
#include "tests/unit/test_net_peer.h"

namespace {

const int kStarted = ip_global_init(1);

struct Closer {
    Connection *c;
    ~Closer() { ip_free(c); }
};

// A listening connection on a free loopback port.
Connection *listener_on_loopback(int family, unsigned *port)
{
    Connection *l = ip_new(CONN_TCP, 0, CONN_WAIT);
    ip_set_family(l, family);
    char text[NET_ADDRESS_TEXT_SIZE];
    if (!ip_bind(l, 1, 0) || !ip_listen(l) || !ip_local_address(l, text, sizeof text, port)) {
        ip_free(l);
        return nullptr;
    }
    return l;
}

TEST(NetConnection, ObjectBasics)
{
    ASSERT_EQ(kStarted, 1);
    EXPECT_EQ(ip_global_init(1), 1); // a second start-up is harmless
    Connection *tcp = ip_new(CONN_TCP, 0, CONN_WAIT | CONN_LOG_DEBUG);
    ASSERT_NE(tcp, nullptr);
    Closer hold{tcp};
    EXPECT_EQ(tcp->socket, -1);
    EXPECT_EQ(tcp->capacity, NET_RECV_BUFFER_DEFAULT);
    EXPECT_EQ(tcp->timeout_ms, 300000);
    EXPECT_EQ(tcp->flags, CONN_WAIT); // log bits are the owner's to set
    Connection *udp = ip_new(CONN_UDP, 0, 0);
    ASSERT_NE(udp, nullptr);
    EXPECT_EQ(udp->buffer, nullptr);
    EXPECT_EQ(ip_free(udp), 1);
    EXPECT_EQ(ip_new(7, 0, 0), nullptr);
    EXPECT_EQ(ip_free(nullptr), 0);

    struct {
        int seconds, ms;
    } timeouts[] = {{30, 30000}, {0, 0}, {-5, 0}, {2147483, 2147483000}, {2147484, 2147483000}};
    for (auto &t : timeouts) {
        ip_set_timeout(tcp, t.seconds);
        EXPECT_EQ(tcp->timeout_ms, t.ms) << t.seconds;
    }
    ip_set_timeout(nullptr, 5);
    EXPECT_EQ(ip_set_family(tcp, 6), 1);
    EXPECT_EQ(ip_set_family(tcp, 5), 0);
    EXPECT_EQ(tcp->family, 5);

    // Closing what never connected leaves everything as it was.
    tcp->fill = 3;
    ip_close(tcp);
    EXPECT_EQ(tcp->fill, 3u);
    tcp->fill = 0;
    ip_close(nullptr);
}

TEST(NetConnection, AddressTexts)
{
    struct {
        int family;
        std::vector<unsigned char> bytes;
        size_t size;
        const char *text;
    } cases[] = {
        {4, {127, 0, 0, 1}, 64, "127.0.0.1"},
        {4, {255, 255, 255, 255}, 64, "255.255.255.255"},
        {6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 64, "2001:db8:0:0:0:0:0:1"},
        {6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 64, "0:0:0:0:0:0:0:1"},
        {6, {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0xab, 0xcd, 0, 0x12, 0, 0, 0xff, 0xff}, 64, "fe80:0:0:0:abcd:12:0:ffff"},
        {4, {192, 168, 100, 200}, 8, "192.168"}, // cut to fit
    };
    for (auto &c : cases) {
        char buf[64];
        std::vector<unsigned char> b = c.bytes;
        b.resize(16);
        EXPECT_STREQ(ip_format_address(c.family, b.data(), buf, c.size), c.text);
    }
}

TEST(NetConnect, RefusedPortOutOfRangeAndReconnect)
{
    unsigned port = 0;
    Connection *l = listener_on_loopback(4, &port);
    ASSERT_NE(l, nullptr);
    ip_free(l); // the port is free again: nobody listens there

    Connection *c = ip_new(CONN_TCP, 0, CONN_WAIT);
    Closer hold{c};
    c->timeout_ms = 5000;
    EXPECT_EQ(ip_connect(c, "127.0.0.1", port), 0);
    EXPECT_STREQ(ip_error(c), "connect() failed: Connection refused");
    EXPECT_EQ(c->socket, -1); // the spent socket is gone

    EXPECT_EQ(ip_connect(c, "127.0.0.1", 70000), 0);
    EXPECT_STREQ(ip_error(c), "Port 70000 out of range");
    EXPECT_EQ(ip_connect(c, nullptr, 25), 0);

    // The same object connects, closes and connects again.
    for (int round = 0; round < 2; round++) {
        auto peer = script_peer({"expect:4", "send:" + to_hex("ok\r\n")});
        ASSERT_NE(peer->port(), 0u);
        ASSERT_EQ(ip_connect(c, "127.0.0.1", peer->port()), 1) << ip_error(c);
        EXPECT_STREQ(ip_error(c), "");
        EXPECT_EQ(c->family, 4);
        ASSERT_TRUE(ip_printf(c, "r%d\r\n", round));
        char *line = ip_read_until(c, "\r\n", 0);
        ASSERT_NE(line, nullptr) << ip_error(c);
        EXPECT_STREQ(line, "ok");
        ip_close(c);
        EXPECT_EQ(c->fill, 0u);
        EXPECT_EQ(peer_answer(peer->finish(), "GOT"), "r" + std::to_string(round) + "\r\n");
    }
}

TEST(NetConnect, TimesOutAgainstAFullBacklog)
{
    // A listener with a backlog of 0 that never accepts: once its queue is
    // full the system drops further connection requests, so a connect
    // neither succeeds nor fails until our time-out.
    int fd = plat_socket(4, PLAT_SOCK_STREAM);
    ASSERT_GE(fd, 0);
    PlatSockAddr addr;
    int len = 0, family = 4;
    ASSERT_EQ(ip_resolve_sockaddr("127.0.0.1", 0, &family, &addr, &len), 1);
    ASSERT_EQ(plat_bind(fd, &addr, len), 1);
    ASSERT_EQ(plat_listen(fd, 0), 1);
    int alen = 0;
    ASSERT_EQ(plat_socket_address(fd, 0, &addr, &alen), 1);
    unsigned char bytes[16];
    unsigned port = 0;
    ASSERT_EQ(plat_address_parts(&addr, alen, &family, bytes, &port), 1);

    std::vector<Connection *> filled;
    bool timed_out = false;
    std::string error;
    for (int i = 0; i < 16 && !timed_out; i++) {
        Connection *c = ip_new(CONN_TCP, 0, CONN_WAIT);
        c->timeout_ms = 300;
        if (ip_connect(c, "127.0.0.1", port)) {
            filled.push_back(c);
            continue;
        }
        error = ip_error(c);
        timed_out = true;
        ip_free(c);
    }
    for (Connection *c : filled)
        ip_free(c);
    plat_close_socket(fd);
    if (!timed_out)
        GTEST_SKIP() << "this system never left a connect pending";
    EXPECT_EQ(error, "connect() timed out after 300 ms");
}

TEST(NetConnect, IPv6Loopback)
{
    unsigned port = 0;
    Connection *l = listener_on_loopback(6, &port);
    if (!l)
        GTEST_SKIP() << "no IPv6 loopback here";
    Closer hold_l{l};
    Connection *c = ip_new(CONN_TCP, 0, CONN_WAIT);
    Closer hold_c{c};
    ip_set_family(c, 6);
    ASSERT_EQ(ip_connect(c, "::1", port), 1) << ip_error(c);
    Connection *s = ip_accept(l, 0, CONN_WAIT);
    ASSERT_NE(s, nullptr) << ip_error(l);
    Closer hold_s{s};
    char text[NET_ADDRESS_TEXT_SIZE];
    unsigned p = 0;
    EXPECT_STREQ(ip_peer_address(c, text, sizeof text, &p), "0:0:0:0:0:0:0:1");
    EXPECT_EQ(p, port);
    s->timeout_ms = 10000;
    // Written data waits in the send buffer until a read or a flush.
    ASSERT_TRUE(ip_write_text(c, "over six\n"));
    ASSERT_TRUE(ip_flush(c));
    char *line = ip_read_until(s, "\n", 0);
    ASSERT_NE(line, nullptr) << ip_error(s);
    EXPECT_STREQ(line, "over six");
}

// ---- the line reader ----------------------------------------------------------

TEST(NetLineReader, EveryKindOfDelivery)
{
    const std::string reply = "250-first line\r\n250-second\r\n250 last\r\n";
    const std::vector<std::string> all = {"250-first line", "250-second", "250 last"};
    std::string long_line(300, 'x');
    struct Case {
        const char *name;
        std::string step;       // how the peer delivers
        size_t buffer, line_max; // 0: defaults
        std::vector<std::string> records;
        const char *end_error; // ip_error after the last record
    } cases[] = {
        {"whole", "send:" + to_hex(reply), 0, 0, all, "Connection closed by the peer"},
        {"byte by byte", "drip:" + to_hex(reply), 0, 0, all, "Connection closed by the peer"},
        {"odd chunks", "chunks:3,1,4,1,5,9,2,6:" + to_hex(reply), 0, 0, all, "Connection closed by the peer"},
        // A tiny buffer: every record crosses the buffer's edge, some grow it.
        {"tiny buffer, drip", "drip:" + to_hex(reply), 5, 0, all, "Connection closed by the peer"},
        {"tiny buffer, chunks", "chunks:7,2:" + to_hex(reply), 4, 0, all, "Connection closed by the peer"},
        {"longer than the buffer", "chunks:50:" + to_hex(long_line + "\r\nnext\r\n"), 16, 0, {long_line, "next"},
         "Connection closed by the peer"},
        {"closed mid-line", "chunks:2:" + to_hex("250 ok\r\n250 cut sho"), 0, 0, {"250 ok"},
         "Connection closed by the peer"},
        {"exactly the cap", "send:" + to_hex(std::string(64, 'y') + "\r\n"), 16, 64, {std::string(64, 'y')},
         "Connection closed by the peer"},
        {"one over the cap", "send:" + to_hex(std::string(65, 'y') + "\r\n"), 16, 64, {},
         "Received a line longer than 64 bytes"},
        {"endless line", "chunks:1000:" + to_hex(std::string(30000, 'z')), 0, 4096, {},
         "Received a line longer than 4096 bytes"},
        {"NUL byte", "drip:" + to_hex(std::string("250 ok\r\n25\0 x\r\n250 z\r\n", 20)), 0, 0, {"250 ok"},
         "Received a line holding a NUL byte"},
        {"empty lines", "send:" + to_hex("\r\n\r\nx\r\n"), 0, 0, {"", "", "x"}, "Connection closed by the peer"},
    };
    for (Case &k : cases) {
        SCOPED_TRACE(k.name);
        auto peer = script_peer({k.step, "close"});
        Connection *c = ip_new(CONN_TCP, k.buffer, CONN_WAIT);
        Closer hold{c};
        if (k.line_max)
            c->line_max = k.line_max;
        c->timeout_ms = 10000;
        TraceLog log;
        log.attach(c, CONN_LOG_DEBUG);
        ASSERT_EQ(ip_connect(c, "127.0.0.1", peer->port()), 1) << ip_error(c);
        for (const std::string &want : k.records) {
            char *line = ip_read_until(c, "\r\n", 2);
            ASSERT_NE(line, nullptr) << ip_error(c);
            EXPECT_EQ(std::string(line), want);
        }
        EXPECT_EQ(ip_read_until(c, "\r\n", 2), nullptr);
        EXPECT_STREQ(ip_error(c), k.end_error);
        // A broken rule stays broken: nothing later is read as a line.
        EXPECT_EQ(ip_read_until(c, "\r\n", 2), nullptr);
        EXPECT_STREQ(ip_error(c), k.end_error);
        // The paced peer really was read in single bytes (most of the time;
        // a busy machine may join a few).
        if (k.step.rfind("drip:", 0) == 0) {
            EXPECT_GE(log.count(NET_TRACE_NOTE, "recv() read 1 bytes"), 3u);
        }
        // The buffer grew no further than one record and its delimiter.
        size_t cap = k.line_max ? k.line_max : NET_LINE_MAX_DEFAULT;
        EXPECT_LE(c->capacity, std::max<size_t>(k.buffer ? k.buffer : NET_RECV_BUFFER_DEFAULT, cap + 2));
    }
}

TEST(NetLineReader, BufferedBytesComeBeforeTheSocket)
{
    const std::string answer("HTTP/1.0 200 OK\r\n\r\n\x05\x00tail", 25);
    auto peer = script_peer({"send:" + to_hex(answer), "hold"});
    Connection *c = connect_to("127.0.0.1", peer->port());
    ASSERT_NE(c, nullptr) << connect_error;
    Closer hold{c};
    TraceLog log;
    log.attach(c, CONN_LOG_DEBUG);
    char *line = ip_read_until(c, "\r\n", 0);
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "HTTP/1.0 200 OK");
    line = ip_read_until(c, "\r\n", 0);
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "");
    // Binary bytes behind the lines are not the line reader's business.
    char got[16] = {};
    EXPECT_EQ(ip_read(c, got, 1), 1u);
    EXPECT_EQ(ip_read(c, got + 1, sizeof got - 1), 5u);
    EXPECT_EQ(std::string(got, 6), std::string("\x05\x00tail", 6));
    EXPECT_EQ(log.count(NET_TRACE_NOTE, "ip_read() read 1 bytes from buffer"), 1u);
    EXPECT_EQ(log.count(NET_TRACE_RECEIVED, "HTTP/1.0 200 OK\r\n"), 1u);
}

TEST(NetLineReader, WithoutWaitingReportsWouldBlock)
{
    auto peer = script_peer({"send:" + to_hex("par"), "expect:2", "send:" + to_hex("tial\r\n"), "hold"});
    Connection *c = connect_to("127.0.0.1", peer->port());
    ASSERT_NE(c, nullptr) << connect_error;
    Closer hold{c};
    c->flags &= ~CONN_WAIT;
    ASSERT_GT(ip_poll(c, PLAT_POLL_IN), 0);
    // Each call reads at most once: it hands out what arrived, or reports
    // that it would have to wait, keeping the partial record.
    char *line = nullptr;
    for (int calls = 0; calls < 10 && !line && !(c->flags & CONN_WOULD_BLOCK); calls++)
        line = ip_read_until(c, "\r\n", 0);
    EXPECT_EQ(line, nullptr);
    EXPECT_TRUE(c->flags & CONN_WOULD_BLOCK);
    EXPECT_GT(ip_pending(c), 0u);
    ASSERT_TRUE(ip_write_text(c, "go"));
    while (!line && ip_poll(c, PLAT_POLL_IN) > 0) {
        line = ip_read_until(c, "\r\n", 0);
        if (!line) {
            ASSERT_TRUE(c->flags & CONN_WOULD_BLOCK) << ip_error(c);
        }
    }
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "partial");
}

// ---- bounded waits -------------------------------------------------------------

TEST(NetWaits, SilentPeerTimesOut)
{
    auto peer = script_peer({"hold"});
    Connection *c = connect_to("127.0.0.1", peer->port(), 300);
    ASSERT_NE(c, nullptr) << connect_error;
    Closer hold{c};
    EXPECT_EQ(ip_read_until(c, "\r\n", 0), nullptr);
    EXPECT_STREQ(ip_error(c), "Timed out after 300 ms waiting for data");
    char b;
    c->timeout_ms = 1000;
    EXPECT_EQ(ip_read(c, &b, 1), 0u);
    EXPECT_STREQ(ip_error(c), "Timed out after 1 second waiting for data");
    EXPECT_EQ(ip_read_all(c, nullptr), nullptr); // a time-out is not the end of the data
}

TEST(NetWaits, DebugNotesSayWhatAWaitMeans)
{
    // A read that finds nothing yet is no failure: the debug trace shows the
    // wait and its bound, never a bare result code.
    auto peer = script_peer({"expect:2", "pause:300", "send:" + to_hex("250 ok\r\n"), "close"});
    Connection *c = connect_to("127.0.0.1", peer->port(), 2000);
    ASSERT_NE(c, nullptr) << connect_error;
    Closer hold{c};
    TraceLog log;
    log.attach(c, CONN_LOG_DEBUG);
    // A look for bytes that have arrived, with none there, says nothing.
    EXPECT_EQ(ip_take_ready(c), 0u);
    EXPECT_TRUE(log.entries.empty());
    ASSERT_TRUE(ip_write_text(c, "go"));
    char *line = ip_read_until(c, "\r\n", 2);
    ASSERT_NE(line, nullptr) << ip_error(c);
    EXPECT_STREQ(line, "250 ok");
    EXPECT_EQ(ip_read_until(c, "\r\n", 2), nullptr);
    EXPECT_GE(log.count(NET_TRACE_NOTE, "poll() waiting for data, at most "), 1u);
    EXPECT_EQ(log.count(NET_TRACE_NOTE, "recv() read 0 bytes"), 1u);
    for (const TraceLog::Entry &e : log.entries)
        EXPECT_EQ(e.text.find("returned"), std::string::npos) << e.text;
}

TEST(NetWaits, PeerThatStopsReadingBlocksWritesOnlyUntilTheTimeOut)
{
    unsigned port = 0;
    Connection *l = listener_on_loopback(4, &port);
    ASSERT_NE(l, nullptr);
    Closer hold_l{l};
    Connection *c = connect_to("127.0.0.1", port, 300);
    ASSERT_NE(c, nullptr) << connect_error;
    Closer hold_c{c};
    Connection *s = ip_accept(l, 0, CONN_WAIT); // accepted, never read
    ASSERT_NE(s, nullptr);
    Closer hold_s{s};
    std::string block(1 << 20, 'b');
    int written = 0;
    while (written < 256 && ip_write(c, block.data(), block.size()))
        written++;
    ASSERT_LT(written, 256);
    EXPECT_STREQ(ip_error(c), "Timed out after 300 ms waiting to send");
}

// ---- writing -------------------------------------------------------------------

TEST(NetWrite, SmallPrintsLeaveInFullBuffers)
{
    auto peer = script_peer({"recvall"});
    Connection *c = connect_to("127.0.0.1", peer->port());
    ASSERT_NE(c, nullptr) << connect_error;
    TraceLog log;
    log.attach(c, CONN_LOG_DEBUG);
    std::string sent;
    for (int i = 0; i < 3000; i++) {
        ASSERT_TRUE(ip_printf(c, "line %d\r\n", i));
        sent += "line " + std::to_string(i) + "\r\n";
    }
    // Nothing left before the buffer filled up; then whole buffers only.
    size_t full = sent.size() / NET_SEND_BUFFER_SIZE;
    EXPECT_EQ(log.count(NET_TRACE_NOTE, "send() sent"), full);
    EXPECT_EQ(log.count(NET_TRACE_NOTE, "send() sent " + std::to_string(NET_SEND_BUFFER_SIZE) + " bytes"), full);
    ASSERT_EQ(ip_flush(c), 1);
    EXPECT_EQ(log.count(NET_TRACE_NOTE, "send() sent"), full + 1);
    // A large piece goes straight out behind what was buffered.
    std::string big(3 * NET_SEND_BUFFER_SIZE + 7, 'B');
    ASSERT_TRUE(ip_write(c, "head", 4));
    ASSERT_TRUE(ip_write(c, big.data(), big.size()));
    ASSERT_TRUE(ip_flush(c));
    sent += "head" + big;
    // Every print was traced once, as written.
    EXPECT_EQ(log.count(NET_TRACE_SENT, "line "), 3000u);
    EXPECT_EQ(log.count(NET_TRACE_SENT, "line 2999\r\n"), 1u);
    ip_free(c);
    EXPECT_EQ(peer_answer(peer->finish(), "ALL"), sent);
}

TEST(NetWrite, FailureIsStickyAndNeverSignals)
{
    // Without the start-up's signal setting a send to a vanished peer would
    // kill the process unless every send asks for no signal.
    void (*old)(int) = signal(SIGPIPE, SIG_DFL);
    auto peer = script_peer({"expect:1", "reset"});
    Connection *c = connect_to("127.0.0.1", peer->port());
    ASSERT_NE(c, nullptr) << connect_error;
    Closer hold{c};
    ASSERT_TRUE(ip_write(c, "!", 1) && ip_flush(c));
    peer->finish(); // the peer has reset the connection
    std::string block(NET_SEND_BUFFER_SIZE / 3, 'm');
    int accepted = 0;
    while (accepted < 10000 && ip_write(c, block.data(), block.size()))
        accepted++;
    ASSERT_LT(accepted, 10000);
    std::string first = ip_error(c);
    EXPECT_TRUE(first == "send() failed: Connection reset by peer" || first == "send() failed: Broken pipe") << first;
    // Nothing goes out after the hole, and nothing is read either.
    EXPECT_EQ(ip_write(c, "x", 1), 0);
    EXPECT_EQ(ip_printf(c, ".\r\n"), 0);
    EXPECT_EQ(ip_flush(c), 0);
    EXPECT_EQ(ip_write_str(c, "y", 1), 0);
    EXPECT_EQ(ip_read_until(c, "\r\n", 0), nullptr);
    EXPECT_EQ(ip_error(c), first); // the first reason stays
    signal(SIGPIPE, old);
}

TEST(NetWrite, TraceCopiesAndMasking)
{
    auto peer = script_peer({"expect:38", "send:" + to_hex("235 ok\r\n"), "hold"});
    Connection *c = connect_to("127.0.0.1", peer->port());
    ASSERT_NE(c, nullptr) << connect_error;
    TraceLog log;
    c->log_fn = TraceLog::hook;
    c->log_user = &log;
    // A hook without a log bit hears nothing.
    ASSERT_TRUE(ip_printf(c, "ehlo %s\r\n", "me"));
    EXPECT_TRUE(log.entries.empty());
    c->flags |= CONN_LOG_LINES;
    unsigned char mask[4] = {};
    fmt_mask_set(mask, 0, 1);
    ASSERT_TRUE(ip_printf_masked(c, mask, "auth plain %s %d\r\n", "c2VjcmV0", 42));
    ASSERT_TRUE(ip_write_str(c, "da\0ta", 5));
    char *line = ip_read_until(c, "\r\n", 0);
    ASSERT_NE(line, nullptr) << ip_error(c);
    EXPECT_STREQ(line, "235 ok");
    ASSERT_EQ(log.entries.size(), 3u);
    EXPECT_EQ(log.entries[0].direction, NET_TRACE_SENT);
    EXPECT_EQ(log.entries[0].text, "auth plain ******** 42\r\n");
    EXPECT_EQ(log.entries[1].text, "da"); // a trace text ends at a NUL; the wire has all five bytes
    EXPECT_EQ(log.entries[2].direction, NET_TRACE_RECEIVED);
    EXPECT_EQ(log.entries[2].text, "235 ok\r\n");
    ip_free(c);
    EXPECT_EQ(peer_answer(peer->finish(), "GOT"), std::string("ehlo me\r\nauth plain c2VjcmV0 42\r\nda\0ta", 38));
}

// The trace of what is sent shows the lines as they go on the wire,
// whatever pieces they were written in.
TEST(NetWrite, TraceIsMadeOfLines)
{
    std::string longest(NET_TRACE_LINE_MAX + 10, 'L');
    std::string wire = "Content-Type: multipart/mixed;\r\n\tboundary=\"b\"\r\n..dot line\r\nnext\r\n" +
                       longest + "\r\nend of data" + ".\r\nquit\r\nopen";
    auto peer = script_peer({"expect:" + std::to_string(wire.size()), "send:" + to_hex("221 bye\r\n"), "hold"});
    Connection *c = connect_to("127.0.0.1", peer->port());
    ASSERT_NE(c, nullptr) << connect_error;
    TraceLog log;
    log.attach(c, CONN_LOG_LINES);
    const char *pieces[] = {"Content-Type: multipart/mixed;\r", "\n\tboundary=\"b\"", "\r\n.", ".dot line\r\nnext\r\n"};
    for (const char *p : pieces)
        ASSERT_TRUE(ip_write_str(c, p, strlen(p)));
    ASSERT_TRUE(ip_write_str(c, longest.data(), longest.size()));
    ASSERT_TRUE(ip_printf(c, "\r\n%s", "end of data"));
    EXPECT_EQ(log.entries.size(), 6u); // the open line waits
    ASSERT_TRUE(ip_printf(c, ".\r\nquit\r\n"));
    // A line still open when the answer comes is traced before it, and one
    // open at close is traced then.
    ASSERT_TRUE(ip_write_str(c, "open", 4));
    ASSERT_NE(ip_read_until(c, "\r\n", 0), nullptr) << ip_error(c);
    ASSERT_TRUE(ip_write_str(c, "tail", 4));
    ip_close(c);
    struct {
        int direction;
        std::string text;
    } expected[] = {
        {NET_TRACE_SENT, "Content-Type: multipart/mixed;\r\n"},
        {NET_TRACE_SENT, "\tboundary=\"b\"\r\n"},
        {NET_TRACE_SENT, "..dot line\r\n"},
        {NET_TRACE_SENT, "next\r\n"},
        {NET_TRACE_SENT, longest.substr(0, NET_TRACE_LINE_MAX)},
        {NET_TRACE_SENT, longest.substr(NET_TRACE_LINE_MAX) + "\r\n"},
        {NET_TRACE_SENT, "end of data.\r\n"},
        {NET_TRACE_SENT, "quit\r\n"},
        {NET_TRACE_SENT, "open"},
        {NET_TRACE_RECEIVED, "221 bye\r\n"},
        {NET_TRACE_SENT, "tail"},
    };
    ASSERT_EQ(log.entries.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(log.entries[i].direction, expected[i].direction);
        EXPECT_EQ(log.entries[i].text, expected[i].text);
    }
    ip_free(c);
}

TEST(NetRead, ReadAllUntilThePeerCloses)
{
    std::string data(20000, 'q');
    data[7] = '\0';
    auto peer = script_peer({"chunks:3000:" + to_hex(data), "close"});
    Connection *c = connect_to("127.0.0.1", peer->port());
    ASSERT_NE(c, nullptr) << connect_error;
    Closer hold{c};
    size_t len = 0;
    char *all = ip_read_all(c, &len);
    ASSERT_NE(all, nullptr) << ip_error(c);
    EXPECT_EQ(std::string(all, len), data);
    EXPECT_EQ(all[len], '\0');
    free(all);
}

// ---- server side -------------------------------------------------------------

TEST(NetServer, AcceptWaitsBoundedAndServes)
{
    unsigned port = 0;
    Connection *l = listener_on_loopback(4, &port);
    ASSERT_NE(l, nullptr);
    Closer hold_l{l};
    EXPECT_EQ(l->listening, 1);
    l->timeout_ms = 200;
    EXPECT_EQ(ip_accept(l, 0, CONN_WAIT), nullptr);
    EXPECT_STREQ(ip_error(l), "Timed out after 200 ms waiting for a connection");
    l->flags &= ~CONN_WAIT;
    EXPECT_EQ(ip_accept(l, 0, CONN_WAIT), nullptr);
    EXPECT_TRUE(l->flags & CONN_WOULD_BLOCK);
    l->flags |= CONN_WAIT;

    Connection *c = connect_to("127.0.0.1", port);
    ASSERT_NE(c, nullptr) << connect_error;
    Closer hold_c{c};
    Connection *s = ip_accept(l, 64, CONN_WAIT);
    ASSERT_NE(s, nullptr) << ip_error(l);
    Closer hold_s{s};
    EXPECT_EQ(s->capacity, 64u);
    char a[NET_ADDRESS_TEXT_SIZE], b[NET_ADDRESS_TEXT_SIZE];
    unsigned pa = 0, pb = 0;
    ASSERT_NE(ip_local_address(c, a, sizeof a, &pa), nullptr);
    ASSERT_NE(ip_peer_address(s, b, sizeof b, &pb), nullptr);
    EXPECT_STREQ(a, b);
    EXPECT_EQ(pa, pb);
    s->timeout_ms = 10000;
    ASSERT_TRUE(ip_printf(c, "hello %s\n", "server"));
    ASSERT_TRUE(ip_flush(c));
    char *line = ip_read_until(s, "\n", 0);
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "hello server");
    ASSERT_TRUE(ip_printf(s, "hello client\n"));
    ASSERT_TRUE(ip_flush(s));
    line = ip_read_until(c, "\n", 0);
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "hello client");
}

TEST(NetUdp, DatagramsOnLoopback)
{
    Connection *rx = ip_new(CONN_UDP, 0, CONN_WAIT);
    Closer hold_rx{rx};
    ip_set_family(rx, 4);
    ASSERT_EQ(ip_bind(rx, 1, 0), 1) << ip_error(rx);
    char text[NET_ADDRESS_TEXT_SIZE];
    unsigned port = 0;
    ASSERT_NE(ip_local_address(rx, text, sizeof text, &port), nullptr);
    EXPECT_STREQ(text, "127.0.0.1");

    Connection *tx = ip_new(CONN_UDP, 0, CONN_WAIT);
    Closer hold_tx{tx};
    ip_set_family(tx, 4);
    ASSERT_EQ(ip_connect(tx, "127.0.0.1", port), 1) << ip_error(tx);
    EXPECT_EQ(ip_udp_send(tx, "ping", 4, nullptr, 0), 4u);
    std::string too_long(NET_UDP_MAX + 1, 'u');
    EXPECT_EQ(ip_udp_send(tx, too_long.data(), too_long.size(), nullptr, 0), 0u);
    EXPECT_STREQ(ip_error(tx), "Datagram of 549 bytes is longer than 548");
    std::string largest(NET_UDP_MAX, 'L');
    EXPECT_EQ(ip_udp_send(tx, largest.data(), largest.size(), nullptr, 0), NET_UDP_MAX);
    // A datagram from elsewhere that would not fit is dropped, not cut.
    std::string oversized(600, 'o');
    ASSERT_EQ(plat_sendto(tx->socket, oversized.data(), oversized.size(), &tx->peer_addr, tx->addr_len), 600);

    char got[NET_UDP_MAX];
    PlatSockAddr from;
    int from_len = 0;
    ASSERT_EQ(ip_udp_recv(rx, got, &from, &from_len), 4u) << ip_error(rx);
    EXPECT_EQ(std::string(got, 4), "ping");
    int family = 0;
    unsigned char bytes[16];
    unsigned from_port = 0, tx_port = 0;
    ASSERT_EQ(plat_address_parts(&from, from_len, &family, bytes, &from_port), 1);
    ASSERT_NE(ip_local_address(tx, text, sizeof text, &tx_port), nullptr);
    EXPECT_EQ(from_port, tx_port);
    EXPECT_EQ(ip_udp_recv(rx, got, nullptr, nullptr), NET_UDP_MAX);
    EXPECT_EQ(ip_udp_recv(rx, got, nullptr, nullptr), 0u);
    EXPECT_STREQ(ip_error(rx), "Dropped a datagram of 600 bytes (longer than 548)");
    rx->timeout_ms = 200;
    EXPECT_EQ(ip_udp_recv(rx, got, nullptr, nullptr), 0u);
    EXPECT_STREQ(ip_error(rx), "Timed out after 200 ms waiting for a datagram");
}

} // namespace
