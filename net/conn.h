// The network library's connection: one socket with its resolved address,
// a receive buffer served by one line reader, a send buffer that turns many
// small writes into one system call (or one TLS record), a wait limit that
// bounds every wait, and a trace hook that sees every line sent and
// received. Also the library's process start-up, the server side (bind,
// listen, accept) and datagrams. Knows nothing about any mail protocol.
//
// Results: 1/0 (or a pointer/NULL). A failure leaves its reason in the
// connection's error text (ip_error), which stays until the next failure
// or the next connect; success leaves it untouched.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "platform/net.h"
#include "support/lock.h"

// ---- trace hook ------------------------------------------------------------

// The same shape as the mail session's trace callback, so a caller can
// hand its callback straight through.
typedef int (*NetTraceFn)(void *user, int direction, const char *text);

enum {
    NET_TRACE_NOTE = -1,    // a socket-level note (debug level)
    NET_TRACE_SENT = 0,     // one line written, with its line end (secrets masked)
    NET_TRACE_RECEIVED = 1, // a received line with its delimiter, as received
};

// ---- constants -------------------------------------------------------------

enum {
    CONN_TCP = 1, // stream connection with receive and send buffers
    CONN_UDP = 2, // datagram connection, no buffers
};

// Bits of Connection::flags.
enum : uint32_t {
    CONN_WAIT = 1,        // wait (up to timeout_ms) when an operation would block
    CONN_WOULD_BLOCK = 2, // the last raw read would have blocked (CONN_WAIT off)
    CONN_LOG_LINES = 4,   // trace every line sent and received
    CONN_LOG_DEBUG = 8,   // the same, and a note for every socket-level step
};

enum : size_t {
    NET_RECV_BUFFER_DEFAULT = 10000, // receive buffer of a new connection
    NET_SEND_BUFFER_SIZE = 16384,    // send buffer: one full TLS record of plaintext
    NET_LINE_MAX_DEFAULT = 65536,    // longest record the line reader accepts
    NET_UDP_MAX = 548,               // longest datagram sent or received
    NET_READ_ALL_MAX = 64u << 20,    // most ip_read_all collects
    NET_ERROR_TEXT_SIZE = 512,       // room of the error text (longer texts are cut)
    NET_ADDRESS_TEXT_SIZE = 64,      // room for any address text
    NET_TRACE_LINE_MAX = 4096,       // longest sent line traced whole (longer: in parts)
};

enum { NET_TIMEOUT_DEFAULT_MS = 300000 }; // five minutes

// ---- the connection --------------------------------------------------------

struct Connection;

// What the TLS layer plugs into a connection (it lives in a library of its
// own, so the plain program links none). read and write move at most len
// bytes once and return the count (0 from read: the peer ended TLS),
// NET_WANT_READ / NET_WANT_WRITE (wait, then call again) or
// NET_TLS_FAILED (reason in the error text); end shuts TLS down within the
// time-out, frees it and clears the connection's tls fields.
enum { NET_TLS_FAILED = -1, NET_WANT_READ = -2, NET_WANT_WRITE = -3 };
struct NetTlsLayer {
    int64_t (*read)(Connection *c, void *buf, size_t len);
    int64_t (*write)(Connection *c, const void *buf, size_t len);
    void (*end)(Connection *c);
};

// Every field is a plain member the owner may read; the owner sets family,
// timeout_ms, log_fn, log_user, the log bits of flags, line_max and
// broadcast after ip_new. Invariants: buffer <= cursor <= buffer + fill <=
// buffer + capacity; the unread bytes run from cursor to buffer + fill.
struct Connection {
    int socket;               // -1 while none is open
    PlatSockAddr peer_addr;   // last resolution: the peer of a connect
    int family;               // before resolving 0/4/6 (choice), after: 4 or 6 (found)
    int addr_len;             // bytes of peer_addr in use
    int type;                 // CONN_TCP or CONN_UDP
    int listening;            // 1 once the socket listens
    int timeout_ms;           // bound of every wait on the socket
    uint64_t deadline_ns;     // while nonzero: no wait goes past this moment (time_now_ns)
    int deadline_ms;          // the length of that deadline, for its message
    uint32_t flags;           // CONN_* bits
    int64_t last_error;       // system error code of the last failed socket call
    char *buffer;             // receive buffer (CONN_TCP only), owned
    char *cursor;             // first unread byte
    size_t capacity;          // bytes allocated at buffer
    size_t fill;              // bytes held, counted from buffer
    size_t scanned;           // unread bytes the line reader has already searched
    size_t line_max;          // longest record ip_read_until hands out
    char *out;                // send buffer (CONN_TCP only), owned
    size_t out_fill;          // bytes waiting in it
    int write_failed;         // sticky: a write failed; every later write fails
    int read_failed;          // sticky: the input broke a rule (long line, NUL)
    int peer_closed;          // a read saw the peer end the stream
    int read_past_write_failure; // reads go on after a failed write (ip_read_past_write_failure)
    int accept_addr_len;
    PlatSockAddr accept_addr; // peer taken by ip_accept
    char *trace_line;         // the sent line being assembled for the trace, owned
    size_t trace_fill;        // bytes of it so far
    int trace_held;           // while set, ip_write_str leaves the trace to its caller (a masked line)
    NetTraceFn log_fn;        // NULL: no trace at all (borrowed)
    void *log_user;           // handed to log_fn (borrowed)
    int broadcast;            // datagram connection: allow broadcast at connect
    void *tls;                // the TLS layer's context while TLS is on, else NULL
    const NetTlsLayer *tls_layer;
    char error_text[NET_ERROR_TEXT_SIZE]; // reason of the last failure, "" when none
    int error_nomem;          // the last failure was memory running out (net_fail_nomem)
};

// ---- process start-up --------------------------------------------------------

// Once per process, before other threads use the library (a second call
// returns 1 at once): starts the system's socket layer (sends to a vanished
// peer become errors, not signals) and, with with_tls, makes the lock that
// guards the TLS configurations. 1, or 0 when the socket layer cannot start
// (a later call tries again).
int ip_global_init(int with_tls);
// Stops the system's socket layer; returns the system's result. The TLS
// lock and configurations live until the process ends.
int ip_global_cleanup(void);
// The lock of the TLS configurations (NULL before ip_global_init(1)).
extern RwLock *net_tls_lock;
// The library's one signal that memory ran out: the words "Out of memory"
// at this very pointer. Every *why and *error of the library and ip_error
// of a connection whose last failure was memory hand out this pointer, so
// a caller tells memory exhaustion from other failures by comparing it.
extern const char net_error_nomem[];

// ---- the object ------------------------------------------------------------

// A closed connection (socket -1), time-out NET_TIMEOUT_DEFAULT_MS, flags
// only CONN_WAIT from the given flags, line cap NET_LINE_MAX_DEFAULT. A
// CONN_TCP connection gets a receive buffer of buffer_size bytes (0: the
// default) and a send buffer. NULL when memory runs out or type is unknown.
Connection *ip_new(int type, size_t buffer_size, uint32_t flags);
// Stores family; 1 when it is 4 or 6, else 0 (any other value means either).
int ip_set_family(Connection *c, int family);
// timeout_ms := seconds * 1000, seconds taken within 0..2147483. NULL: nothing.
void ip_set_timeout(Connection *c, int seconds);
// Flushes what waits in the send buffer (bounded), ends TLS (bounded),
// closes the socket and empties both buffers; the object can connect
// again. Nothing when c is NULL or no socket is open.
void ip_close(Connection *c);
// Closes when still open, then frees the buffers and the object. 1, or 0
// for NULL.
int ip_free(Connection *c);
// Opens the socket for c->family (4: IPv4, else IPv6) and c->type; 1 or 0.
int ip_socket(Connection *c);
// Doubles the receive buffer (its unread bytes moved to the start): the new
// capacity, or 0 when memory runs out (the buffer stays as it was).
size_t ip_grow_buffer(Connection *c);
// The reason of the last failure ("" when none); never NULL for a
// connection, "" for NULL; net_error_nomem itself when memory ran out.
const char *ip_error(const Connection *c);
// The calling thread's last socket error code.
int ip_last_error(void);

// ---- addresses ---------------------------------------------------------------

// Address text of 4 (IPv4) or 16 raw bytes: dotted decimal for family 4,
// else eight lower-case hexadecimal groups joined by ":" without "::"
// shortening (0:0:0:0:0:0:0:1). Written into buf (size bytes, cut to fit).
char *ip_format_address(int family, const unsigned char *bytes, char *buf, size_t size);
// Address text and port of the local or remote end of the socket; NULL
// (text empty, port untouched) when the socket has no such address.
char *ip_local_address(const Connection *c, char *buf, size_t size, unsigned *port);
char *ip_peer_address(const Connection *c, char *buf, size_t size, unsigned *port);

// ---- resolve and connect -----------------------------------------------------

// Resolves host and port (family choice from c->family) into peer_addr,
// addr_len and family (4 or 6); the first address found is used. 1 or 0.
int ip_resolve(Connection *c, const char *host, unsigned port);
// The same into caller storage; *family (may be NULL) is the choice on
// entry and the family found on return. host NULL: the local wildcard.
int ip_resolve_sockaddr(const char *host, unsigned port, int *family, PlatSockAddr *addr,
                        int *addr_len);
// Resolves, opens the socket (unless one is open already, e.g. bound) and
// connects within timeout_ms; a datagram connection only records the peer
// (and switches to broadcast when asked). Starts with empty buffers, no
// sticky failure and an empty error text. A socket this call opened is
// closed again when the connect fails. 1 or 0.
//
// A proxy tunnel goes right after this call, before any TLS: the caller
// connects to the proxy here and asks it for the tunnel over the same
// connection (the tunnel only reads and writes through it).
int ip_connect(Connection *c, const char *host, unsigned port);
// Waits up to timeout_ms for PLAT_POLL_* events (flushing the send buffer
// first when waiting for input): >0 ready, 0 time passed, <0 failed.
int ip_poll(Connection *c, int events);

// ---- deadlines -----------------------------------------------------------------

// Bounds a whole exchange (a reply of many lines, a handshake, a proxy's
// answer), not only each wait: from now on no wait on the connection goes
// past ms milliseconds from now (0 or less: timeout_ms), so a peer that
// trickles its bytes cannot stretch one answer beyond it. Each wait keeps
// its own bound of timeout_ms too. A wait that the deadline ends fails with
// "Timed out after <ms> ..." in the error text. ip_end_deadline lifts it;
// a connect starts without one.
void ip_start_deadline(Connection *c, int ms);
void ip_end_deadline(Connection *c);

// ---- reading -----------------------------------------------------------------

// One read of at most len bytes from TLS or the socket, after the send
// buffer was flushed: the count, or 0 for closed, failed, timed out or
// (CONN_WAIT off, CONN_WOULD_BLOCK then set) would block.
size_t ip_recv_raw(Connection *c, void *dst, size_t len);
// Bytes already in the receive buffer first; otherwise one read (through
// the receive buffer when len is smaller than it). 0 as ip_recv_raw.
size_t ip_read(Connection *c, void *dst, size_t len);
// The next record ending in the delimiter (dlen 0: its text length), the
// delimiter replaced by a NUL, in place in the receive buffer: valid until
// the next read on the connection. NULL when the peer closed, a wait timed
// out, a read failed, the record grew beyond line_max bytes, held a NUL
// byte, or (CONN_WAIT off) the record is not complete yet; the reason is in
// ip_error. Traced (direction 1) with its delimiter.
char *ip_read_until(Connection *c, const char *delim, size_t dlen);
// Unread bytes in the receive buffer.
size_t ip_pending(const Connection *c);
// Takes into the receive buffer, without waiting, what has already arrived
// on the connection (what waits in the send buffer is not sent): the bytes
// taken, 0 when nothing waits, the stream has ended or reading
// failed (the reason then in ip_error, as for any read).
size_t ip_take_ready(Connection *c);
// After a failed write, lets reads go on, so that what the peer sent before
// it stopped reading or left (a refusal of what it was being sent) can
// still be read; every write stays failed. Until the next connect.
void ip_read_past_write_failure(Connection *c);
// Everything until the peer closes, as a new NUL-terminated text of at most
// NET_READ_ALL_MAX bytes (the caller frees it); its length in *len. NULL
// when memory runs out or the cap is passed.
char *ip_read_all(Connection *c, size_t *len);

// ---- writing -----------------------------------------------------------------

// Queues len bytes in the send buffer, sending each buffer as it fills;
// pieces at least as large as the buffer go out directly. What is queued
// leaves at the next read, ip_poll for input, ip_flush or ip_close: a
// writer that expects no answer (the end of a message's data before its
// final line, a server's reply) flushes itself. 1 when every
// byte was taken; 0 once any write failed, and from then on every write
// and flush of the connection fails (the first reason stays in ip_error)
// and reads fail too (unless ip_read_past_write_failure), so nothing can
// follow a hole.
int ip_write(Connection *c, const void *data, size_t len);
// Sends what waits in the send buffer. 1, or 0 (sticky) on failure.
int ip_flush(Connection *c);
// The trace of what is sent (direction 0) is made of lines, as they go on
// the wire, whatever pieces they were written in: each line with its line
// end once it is complete, a line longer than NET_TRACE_LINE_MAX in parts.
// A line still open is traced before the next received line and at close.
//
// The connection as a support-library sink (FmtSink): ip_write of the
// piece, traced as sent. user is the Connection.
int ip_write_str(void *conn, const char *text, size_t len);
// Formats with the support library's engine straight into the connection,
// traced as sent as it is written. 1, or 0 when c is NULL or a write
// failed.
int ip_printf(Connection *c, const char *format, ...);
int ip_vprintf(Connection *c, const char *format, va_list ap);
// The same, but the trace shows each argument whose bit is set in mask
// (fmt_mask_set) as one "*" per character; the masked copy is traced
// before the real text is written, and the real text never is.
int ip_printf_masked(Connection *c, const unsigned char *mask, const char *format, ...);
// ip_printf with "%s".
int ip_write_text(Connection *c, const char *text);

// ---- server side -------------------------------------------------------------

// Binds to the port on the local wildcard address, or the loopback address
// with loopback nonzero (port 0: any free port, see ip_local_address),
// opening the socket when none is open. 1 or 0.
int ip_bind(Connection *c, int loopback, unsigned port);
// Listens with the largest backlog allowed. 1 or 0.
int ip_listen(Connection *c);
// Waits up to the listener's timeout_ms (with CONN_WAIT) for a connection
// and takes it: a new CONN_TCP connection (buffer_size as for ip_new,
// CONN_WAIT from flags) with the peer in accept_addr. NULL on time-out,
// failure or memory exhaustion (reason in the listener's error text).
Connection *ip_accept(Connection *listener, size_t buffer_size, uint32_t flags);

// ---- datagrams ---------------------------------------------------------------

// Sends one datagram of at most NET_UDP_MAX bytes to addr (NULL: peer_addr),
// waiting up to timeout_ms for room. The count sent, or 0 when it is too
// long or the send failed.
size_t ip_udp_send(Connection *c, const void *data, size_t len, const PlatSockAddr *addr,
                   int addr_len);
// Receives one datagram into dst (NET_UDP_MAX bytes) with its sender, with
// CONN_WAIT waiting up to timeout_ms. The count, or 0 on time-out, failure,
// would-block or a datagram longer than NET_UDP_MAX (dropped).
size_t ip_udp_recv(Connection *c, void *dst, PlatSockAddr *from, int *from_len);

// ---- shared by the library's own parts -------------------------------------

// Empties both buffers and clears the sticky failures and end-of-stream
// mark (a connection starting over).
void net_reset_stream(Connection *c);
// Hands a sent line still being assembled to the trace (nothing when none).
void net_trace_sent_rest(Connection *c);
// Reports a note (direction NET_TRACE_NOTE) formatted with the engine when
// the connection's flags hold any of the bits in need.
void net_note(Connection *c, uint32_t need, const char *format, ...);
// Formats with the engine into buf (size bytes, cut to fit); returns buf.
char *net_format(char *buf, size_t size, const char *format, ...);
// Sets the error text (engine formatting, cut to fit). Returns 0.
int net_fail(Connection *c, const char *format, ...);
// The failure of memory running out: error text net_error_nomem's words,
// and ip_error hands out net_error_nomem. Returns 0.
int net_fail_nomem(Connection *c);
// Records the thread's last socket error in last_error and sets the error
// text "<call> failed: <system's reason>". Returns 0.
int net_fail_socket(Connection *c, const char *call);
// Waits up to wait_ms, and never past the connection's deadline, until the
// socket is readable (NET_WANT_READ) or writable (NET_WANT_WRITE). 1 ready,
// 0 time passed or poll failed (reason set, naming what was waited for and
// the time: wait_ms, or the deadline's length when that ended the wait).
int net_wait_for(Connection *c, int64_t want, int wait_ms, const char *what);
