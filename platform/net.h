// The socket layer of the platform: name resolution, stream and datagram
// sockets, a bounded connect, single non-blocking sends and receives and a
// poll on one socket. Sockets are plain integers (-1 for none) and socket
// addresses opaque storage; every flag and result is the program's own, so
// nothing above this layer sees a system type or constant.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for any socket address the system hands out.
struct PlatSockAddr {
    alignas(8) unsigned char bytes[128];
};

enum {
    PLAT_SOCK_STREAM = 1, // TCP
    PLAT_SOCK_DGRAM = 2,  // UDP
};

// Poll events.
enum {
    PLAT_POLL_IN = 1,  // readable (data, end of stream, or a pending connection)
    PLAT_POLL_OUT = 2, // writable
};

// Negative results of the transfer calls.
enum {
    PLAT_NET_FAILED = -1,      // failed; plat_net_last_error tells why
    PLAT_NET_WOULD_BLOCK = -2, // nothing could move without waiting
    PLAT_NET_TIMED_OUT = -3,   // plat_connect: the time-out passed first
};

// Backlog for plat_listen: the largest the system allows.
enum { PLAT_LISTEN_MAX = -1 };

// Process start-up and clean-up of the socket layer. Start-up also makes
// writes to a closed peer plain errors instead of signals. 1, or 0 when the
// system's socket layer cannot start; stop returns the system's result.
int plat_net_start(void);
int plat_net_stop(void);

// The calling thread's last socket error code (0 when none was recorded);
// every failing call below records one.
int plat_net_last_error(void);
// A readable text for an error code, written into buf (size bytes).
const char *plat_net_error_text(int code, char *buf, size_t size);

// Resolves host (NULL: the local wildcard address when passive, else the
// loopback address) and port. family: 4 IPv4 only, 6 IPv6 only, anything
// else either. Only the first address found is kept: *addr, its length in
// *addr_len and its family (4 or 6) in *family_found. 1, or 0 with the
// resolver's reason in why (why_size bytes; why may be NULL).
int plat_resolve(const char *host, unsigned port, int family, int socktype, int passive,
                 PlatSockAddr *addr, int *addr_len, int *family_found, char *why,
                 size_t why_size);

// A new socket (family 4 or 6, PLAT_SOCK_*), blocking, not inherited by
// child processes; -1 on failure.
int plat_socket(int family, int socktype);
// 1, or 0 when the system reported an error (the socket is gone either way).
int plat_close_socket(int fd);

// Connects a stream socket and waits at most timeout_ms for the result; the
// socket is blocking again afterwards. 1 connected, PLAT_NET_TIMED_OUT, or
// PLAT_NET_FAILED (refused, unreachable, ...).
int plat_connect(int fd, const PlatSockAddr *addr, int addr_len, int timeout_ms);

// Binds (a stream socket may reuse a recently used local port). 1 or 0.
int plat_bind(int fd, const PlatSockAddr *addr, int addr_len);
// Listens; the socket then never blocks in plat_accept. 1 or 0.
int plat_listen(int fd, int backlog);
// Takes one pending connection: a new blocking socket, PLAT_NET_WOULD_BLOCK
// when none is pending, or PLAT_NET_FAILED. The peer's address goes to
// *addr (its length to *addr_len) when addr is given.
int plat_accept(int fd, PlatSockAddr *addr, int *addr_len);

// One receive of at most len bytes that never waits: the count (0 when the
// peer ended the stream), PLAT_NET_WOULD_BLOCK or PLAT_NET_FAILED. peek:
// the bytes stay queued for the next receive.
int64_t plat_recv(int fd, void *buf, size_t len, int peek);
// One send of at most len bytes that never waits and never raises a signal
// when the peer is gone: the count, PLAT_NET_WOULD_BLOCK or PLAT_NET_FAILED.
int64_t plat_send(int fd, const void *buf, size_t len);
// Datagrams: as plat_send to the address given.
int64_t plat_sendto(int fd, const void *buf, size_t len, const PlatSockAddr *to, int to_len);
// One datagram, without waiting: its full length (more than len when it was
// cut to fit), PLAT_NET_WOULD_BLOCK or PLAT_NET_FAILED. The sender's
// address goes to *from and its length to *from_len.
int64_t plat_recvfrom(int fd, void *buf, size_t len, PlatSockAddr *from, int *from_len);

// Waits up to timeout_ms (0: just looks) for PLAT_POLL_* events on one
// socket; interruptions by signals do not shorten or lengthen the wait.
// >0 ready (also on an error or hang-up, which the next call reports), 0 the
// time passed, <0 failed.
int plat_poll(int fd, int events, int timeout_ms);

// Lets a datagram socket send to broadcast addresses. 1 or 0.
int plat_set_broadcast(int fd);

// The local (peer 0) or remote (peer nonzero) address of a socket. 1 or 0.
int plat_socket_address(int fd, int peer, PlatSockAddr *addr, int *addr_len);
// Takes an address apart: family 4 (4 bytes in bytes) or 6 (16 bytes), and
// the port. 1, or 0 for another kind of address.
int plat_address_parts(const PlatSockAddr *addr, int addr_len, int *family,
                       unsigned char bytes[16], unsigned *port);
