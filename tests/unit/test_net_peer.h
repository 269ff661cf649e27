// Loopback peers for the network library's tests: the scripted peer of
// tests/py/net_peer.py and openssl s_server, each started on a free port
// and taken as ready once it prints its port; plus a trace collector.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "net/conn.h"
#include "tests/unit/helpers.h"

// A peer process whose output is read line by line.
class PeerProcess {
  public:
    // Runs command and reads its output until a line starts with
    // ready_prefix; the port is the number after the line's last ':' or
    // ' '. port() is 0 when no such line came.
    PeerProcess(const std::string &command, const std::string &ready_prefix);
    ~PeerProcess();
    PeerProcess(const PeerProcess &) = delete;
    PeerProcess &operator=(const PeerProcess &) = delete;
    unsigned port() const { return port_; }
    // Reads the rest of the output until the process ends.
    std::string finish();

  private:
    FILE *out_ = nullptr;
    unsigned port_ = 0;
    std::string rest_;
};

// The scripted peer with these steps (see net_peer.py); options go before
// the steps (e.g. "--family 6").
std::unique_ptr<PeerProcess> script_peer(const std::vector<std::string> &steps, const std::string &options = "");

// Bytes of a hex text (the peer's answers; to_hex of helpers.h goes the
// other way).
std::string bytes_of_hex(const std::string &hex);
// The bytes of the first "<tag> <hex>" line of a peer's output.
std::string peer_answer(const std::string &output, const std::string &tag);

// A connected CONN_TCP connection (CONN_WAIT) to host:port, or NULL with
// the reason in connect_error.
Connection *connect_to(const char *host, unsigned port, int timeout_ms = 10000);
extern std::string connect_error;

// Collects trace calls.
struct TraceLog {
    struct Entry {
        int direction;
        std::string text;
    };
    std::vector<Entry> entries;
    static int hook(void *user, int direction, const char *text);
    void attach(Connection *c, uint32_t bits);
    // Entries of this direction whose text starts with prefix.
    size_t count(int direction, const std::string &prefix) const;
};
