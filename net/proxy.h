// Proxy tunnels: over a connection that ip_connect has joined to a proxy,
// ask the proxy for a stream to the target host and port, either with an
// HTTP CONNECT request or with SOCKS version 5 (no authentication, or user
// name and password). Once a tunnel stands the connection carries the
// target's dialogue; TLS, when wanted, starts on top of it.
//
// Results: 1 when the tunnel stands; 0 otherwise with the reason in the
// connection's error text (ip_error). Every wait is bounded by the
// connection's time-out. Bytes the proxy sent after its reply stay in the
// receive buffer (ip_pending): a caller that starts TLS next must refuse
// them rather than hand them to the TLS layer.
#pragma once

#include <cstddef>

#include "net/conn.h"
#include "support/secret.h"

enum : size_t {
    PROXY_REPLY_LINE_MAX = 4096,  // longest status or header line of a CONNECT answer
    PROXY_HEADER_LINES_MAX = 100, // most header lines a CONNECT answer may hold
    PROXY_SOCKS_FIELD_MAX = 255,  // longest SOCKS5 host name, user name or password
};

// The base64 of "user:password" (password NULL counts as empty), as a
// "Proxy-Authorization: Basic" line carries it, into out. 0 when memory ran
// out.
int proxy_basic_credentials(const char *user, const char *password, SecretText *out);

// HTTP CONNECT to host:port (an IPv6 literal is written bracketed). With a
// user (password NULL counts as empty) a "Proxy-Authorization: Basic" line
// is sent, shown masked in the trace; user NULL sends none. user_agent
// NULL sends no "User-Agent" line. Succeeds on a 200 status and the end of
// the answer's header.
int proxy_https_connect(Connection *c, const char *host, unsigned port, const char *user,
                        const char *password, const char *user_agent);

// SOCKS5 CONNECT to host:port, the host always sent as a name. With a user
// (password NULL counts as empty) the proxy may choose user name and
// password authentication; user NULL offers only "no authentication".
// A host, user or password longer than PROXY_SOCKS_FIELD_MAX bytes, or an
// empty host, fails before anything is sent.
int proxy_socks5_connect(Connection *c, const char *host, unsigned port, const char *user,
                         const char *password);
