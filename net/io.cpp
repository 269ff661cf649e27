// Moving bytes over a connection: resolve and connect, raw reads and
// writes through TLS or the socket with every wait bounded by timeout_ms,
// the send buffer, the buffered read, the line reader and the formatted
// writes with their trace copies.
#include <cstdlib>
#include <cstring>

#include "net/conn.h"
#include "support/fmt.h"
#include "support/rand.h"
#include "support/str.h"

namespace {

bool tracing(const Connection *c) { return c->log_fn && (c->flags & (CONN_LOG_LINES | CONN_LOG_DEBUG)); }

// Hands a copy of len bytes (which need not end in a NUL) to the trace.
void trace_copy(Connection *c, int direction, const char *text, size_t len)
{
    char *copy = static_cast<char *>(malloc(len + 1));
    if (!copy)
        return; // the trace loses a line; the transfer goes on
    memcpy(copy, text, len);
    copy[len] = '\0';
    c->log_fn(c->log_user, direction, copy);
    free(copy);
}

// "2 seconds" or "1500 ms".
const char *duration(int ms, char *buf, size_t size)
{
    if (ms >= 1000 && ms % 1000 == 0)
        return net_format(buf, size, ms == 1000 ? "%d second" : "%d seconds", ms / 1000);
    return net_format(buf, size, "%d ms", ms);
}

// The debug note of one raw transfer ("recv() read" and the like): the
// count moved, or the reason of a failure (already in the error text).
// Nothing for "would block", which is no failure: a wait that follows has
// a note of its own, and a mere look for bytes that have arrived is no news.
void note_transfer(Connection *c, const char *moved, int64_t n)
{
    if (n >= 0)
        net_note(c, CONN_LOG_DEBUG, "%s %D bytes\n", moved, static_cast<long long>(n));
    else if (n == NET_TLS_FAILED || n == PLAT_NET_FAILED)
        net_note(c, CONN_LOG_DEBUG, "%s\n", c->error_text);
}

int write_failure(Connection *c)
{
    c->write_failed = 1;
    return 0;
}

// Sends len bytes straight to TLS or the socket, waiting for room up to
// timeout_ms each time. 1, or 0 (sticky).
int send_all(Connection *c, const char *p, size_t len)
{
    if (c->write_failed)
        return 0;
    if (c->socket < 0) {
        net_fail(c, "Not connected");
        return write_failure(c);
    }
    while (len) {
        int64_t n;
        if (c->tls) {
            n = c->tls_layer->write(c, p, len);
            note_transfer(c, "tls_write() sent", n);
            if (n == NET_WANT_READ || n == NET_WANT_WRITE) {
                if (!net_wait_for(c, n, c->timeout_ms, "waiting to send"))
                    return write_failure(c);
                continue;
            }
            if (n <= 0) {
                if (n == 0)
                    net_fail(c, "tls_write() sent nothing");
                return write_failure(c);
            }
        } else {
            n = plat_send(c->socket, p, len);
            if (n == PLAT_NET_FAILED)
                net_fail_socket(c, "send()");
            note_transfer(c, "send() sent", n);
            if (n == PLAT_NET_WOULD_BLOCK) {
                if (!net_wait_for(c, NET_WANT_WRITE, c->timeout_ms, "waiting to send"))
                    return write_failure(c);
                continue;
            }
            if (n < 0)
                return write_failure(c);
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    return 1;
}

// Reads may go on only while nothing has broken: the send buffer goes out
// first (a reply is never awaited for a request still in the buffer), and
// after a broken input rule every read fails; after a failed write too,
// unless the owner asked to read on.
bool read_ready(Connection *c)
{
    if (c->read_failed)
        return false;
    if (c->write_failed)
        return c->read_past_write_failure != 0;
    return ip_flush(c) != 0;
}

// Moves the unread bytes to the start of the receive buffer.
void compact(Connection *c)
{
    size_t unread = ip_pending(c);
    if (c->cursor != c->buffer)
        memmove(c->buffer, c->cursor, unread);
    c->cursor = c->buffer;
    c->fill = unread;
}

// Gives the receive buffer new_cap bytes (unread bytes first). 1 or 0.
int grow_to(Connection *c, size_t new_cap)
{
    compact(c);
    char *grown = static_cast<char *>(realloc(c->buffer, new_cap));
    if (!grown)
        return 0;
    c->buffer = c->cursor = grown;
    c->capacity = new_cap;
    return 1;
}

// The first place in [p, p + n) where the delimiter starts in full.
char *find_delimiter(char *p, size_t n, const char *delim, size_t dlen)
{
    if (n < dlen)
        return nullptr;
    char *last = p + (n - dlen);
    while (p <= last) {
        char *hit = static_cast<char *>(memchr(p, delim[0], static_cast<size_t>(last - p) + 1));
        if (!hit)
            return nullptr;
        if (memcmp(hit, delim, dlen) == 0)
            return hit;
        p = hit + 1;
    }
    return nullptr;
}

int read_broken(Connection *c, const char *format, long long value)
{
    c->read_failed = 1;
    return net_fail(c, format, value);
}

// Adds sent bytes to the line being assembled for the trace, and traces
// each line they complete (a line that outgrows the room in parts).
void trace_sent(Connection *c, const char *text, size_t len)
{
    if (!c->trace_line) {
        c->trace_line = static_cast<char *>(malloc(NET_TRACE_LINE_MAX + 1));
        if (!c->trace_line) {
            // No room to assemble lines: the trace gets the piece as it is.
            trace_copy(c, NET_TRACE_SENT, text, len);
            return;
        }
    }
    while (len) {
        const char *nl = static_cast<const char *>(memchr(text, '\n', len));
        size_t want = nl ? static_cast<size_t>(nl - text) + 1 : len;
        size_t room = NET_TRACE_LINE_MAX - c->trace_fill;
        size_t n = want < room ? want : room;
        memcpy(c->trace_line + c->trace_fill, text, n);
        c->trace_fill += n;
        if ((nl && n == want) || c->trace_fill == NET_TRACE_LINE_MAX)
            net_trace_sent_rest(c);
        text += n;
        len -= n;
    }
}

} // namespace

void net_trace_sent_rest(Connection *c)
{
    if (!c->trace_fill)
        return;
    c->trace_line[c->trace_fill] = '\0';
    c->trace_fill = 0;
    if (tracing(c))
        c->log_fn(c->log_user, NET_TRACE_SENT, c->trace_line);
}

// ---- waits -------------------------------------------------------------------

void ip_start_deadline(Connection *c, int ms)
{
    if (!c)
        return;
    if (ms <= 0)
        ms = c->timeout_ms;
    c->deadline_ms = ms;
    c->deadline_ns = time_now_ns() + static_cast<uint64_t>(ms) * 1000000u;
}

void ip_end_deadline(Connection *c)
{
    if (!c)
        return;
    c->deadline_ns = 0;
    c->deadline_ms = 0;
}

int net_wait_for(Connection *c, int64_t want, int wait_ms, const char *what)
{
    int limit = wait_ms;
    bool by_deadline = false;
    if (c->deadline_ns) {
        uint64_t now = time_now_ns();
        // What is left, rounded up so that the last wait reaches the
        // deadline rather than stopping just short of it.
        uint64_t left = c->deadline_ns > now ? (c->deadline_ns - now + 999999u) / 1000000u : 0;
        if (left < static_cast<uint64_t>(limit)) {
            limit = static_cast<int>(left);
            by_deadline = true;
        }
    }
    char d[32];
    net_note(c, CONN_LOG_DEBUG, "poll() %s, at most %s\n", what,
             duration(by_deadline ? limit : wait_ms, d, sizeof d));
    // With no time left the poll only looks: bytes already there still count.
    int r = plat_poll(c->socket, want == NET_WANT_WRITE ? PLAT_POLL_OUT : PLAT_POLL_IN, limit);
    if (r > 0)
        return 1;
    if (r < 0)
        return net_fail_socket(c, "poll()");
    return net_fail(c, "Timed out after %s %s", duration(by_deadline ? c->deadline_ms : wait_ms, d, sizeof d),
                    what);
}

int ip_poll(Connection *c, int events)
{
    if (!c || c->socket < 0)
        return -1;
    // Waiting for input while the request still sits in the send buffer
    // would wait for nothing.
    if ((events & PLAT_POLL_IN) && !ip_flush(c))
        return -1;
    return plat_poll(c->socket, events, c->timeout_ms);
}

// ---- resolve and connect -------------------------------------------------------

int ip_resolve_sockaddr(const char *host, unsigned port, int *family, PlatSockAddr *addr, int *addr_len)
{
    int found = 0;
    if (port > 65535 || !plat_resolve(host, port, family ? *family : 0, PLAT_SOCK_STREAM, host == nullptr,
                                      addr, addr_len, &found, nullptr, 0))
        return 0;
    if (family)
        *family = found;
    return 1;
}

int ip_resolve(Connection *c, const char *host, unsigned port)
{
    if (!c)
        return 0;
    if (port > 65535)
        return net_fail(c, "Port %u out of range", port);
    char why[256];
    int found = 0;
    if (!plat_resolve(host, port, c->family, c->type == CONN_UDP ? PLAT_SOCK_DGRAM : PLAT_SOCK_STREAM,
                      host == nullptr, &c->peer_addr, &c->addr_len, &found, why, sizeof why))
        return net_fail(c, "getaddrinfo() failed: %s", why);
    c->family = found;
    return 1;
}

int ip_connect(Connection *c, const char *host, unsigned port)
{
    if (!c)
        return 0;
    // A fresh start: nothing buffered, nothing broken, no old reason.
    c->error_text[0] = '\0';
    c->error_nomem = 0;
    net_reset_stream(c);
    if (!host)
        return net_fail(c, "No host given");
    if (!ip_resolve(c, host, port))
        return 0;
    bool opened = false;
    if (c->socket < 0) {
        if (!ip_socket(c))
            return 0;
        opened = true;
    }
    if (c->type != CONN_TCP) {
        if (c->broadcast && !plat_set_broadcast(c->socket))
            return net_fail_socket(c, "setsockopt(SO_BROADCAST)");
        return 1;
    }
    int r = plat_connect(c->socket, &c->peer_addr, c->addr_len, c->timeout_ms);
    if (r == 1) {
        if (c->log_fn && (c->flags & CONN_LOG_DEBUG)) {
            char local[NET_ADDRESS_TEXT_SIZE], peer[NET_ADDRESS_TEXT_SIZE];
            unsigned lport = 0, pport = 0;
            ip_local_address(c, local, sizeof local, &lport);
            ip_peer_address(c, peer, sizeof peer, &pport);
            net_note(c, CONN_LOG_DEBUG, "connect() successful ([%s]:%d -> [%s]:%d)\n", local, lport, peer, pport);
        }
        return 1;
    }
    c->last_error = plat_net_last_error();
    net_note(c, CONN_LOG_DEBUG, "connect() failed with %d\n", static_cast<int>(c->last_error));
    if (r == PLAT_NET_TIMED_OUT) {
        char d[32];
        net_fail(c, "connect() timed out after %s", duration(c->timeout_ms, d, sizeof d));
    } else {
        net_fail_socket(c, "connect()");
    }
    // A socket whose connect failed is spent; one opened here goes again so
    // that the next connect starts clean.
    if (opened) {
        plat_close_socket(c->socket);
        c->socket = -1;
    }
    return 0;
}

// ---- reading -------------------------------------------------------------------

size_t ip_pending(const Connection *c)
{
    if (!c || !c->buffer)
        return 0;
    return c->fill - static_cast<size_t>(c->cursor - c->buffer);
}

namespace {

// One receive on the connection as it stands: nothing waiting in the send
// buffer is sent first. Waits as CONN_WAIT says; 0 as ip_recv_raw.
size_t recv_now(Connection *c, void *dst, size_t len)
{
    if (c->socket < 0)
        return net_fail(c, "Not connected");
    for (;;) {
        int64_t n;
        if (c->tls) {
            n = c->tls_layer->read(c, dst, len);
            note_transfer(c, "tls_read() read", n);
            if (n == NET_TLS_FAILED)
                return 0; // the TLS layer left the reason
        } else {
            n = plat_recv(c->socket, dst, len, 0);
            if (n == PLAT_NET_FAILED)
                net_fail_socket(c, "recv()");
            note_transfer(c, "recv() read", n);
            if (n == PLAT_NET_FAILED)
                return 0;
            if (n == PLAT_NET_WOULD_BLOCK)
                n = NET_WANT_READ;
        }
        if (n > 0)
            return static_cast<size_t>(n);
        if (n == 0) {
            c->peer_closed = 1;
            return net_fail(c, "Connection closed by the peer");
        }
        if (!(c->flags & CONN_WAIT)) {
            c->flags |= CONN_WOULD_BLOCK;
            return 0;
        }
        if (!net_wait_for(c, n, c->timeout_ms, "waiting for data"))
            return 0;
    }
}

} // namespace

size_t ip_take_ready(Connection *c)
{
    // Only a look: what waits in the send buffer stays there, so that the
    // data's last piece still goes out with the line that ends it.
    if (!c || !c->buffer || c->socket < 0 || c->read_failed)
        return 0;
    if (ip_pending(c) == 0) {
        c->cursor = c->buffer;
        c->fill = 0;
        c->scanned = 0;
    } else if (c->fill == c->capacity) {
        compact(c);
    }
    if (c->fill == c->capacity)
        return 0;
    const uint32_t wait = c->flags & CONN_WAIT;
    c->flags &= ~uint32_t(CONN_WAIT);
    size_t n = recv_now(c, c->buffer + c->fill, c->capacity - c->fill);
    c->flags = (c->flags & ~uint32_t(CONN_WOULD_BLOCK)) | wait;
    c->fill += n;
    return n;
}

void ip_read_past_write_failure(Connection *c)
{
    if (c)
        c->read_past_write_failure = 1;
}

size_t ip_recv_raw(Connection *c, void *dst, size_t len)
{
    if (!c || !dst || len == 0)
        return 0;
    c->flags &= ~CONN_WOULD_BLOCK;
    if (!read_ready(c))
        return 0;
    return recv_now(c, dst, len);
}

size_t ip_read(Connection *c, void *dst, size_t len)
{
    if (!c || !dst || len == 0 || !read_ready(c))
        return 0;
    size_t unread = ip_pending(c);
    if (unread) {
        size_t n = unread < len ? unread : len;
        memcpy(dst, c->cursor, n);
        c->cursor += n;
        c->scanned = c->scanned > n ? c->scanned - n : 0;
        net_note(c, CONN_LOG_DEBUG, "ip_read() read %D bytes from buffer\n", static_cast<long long>(n));
        return n;
    }
    size_t n;
    if (c->buffer && len < c->capacity) {
        // A small read fills the receive buffer, so reading a reply a byte
        // at a time costs one system call per buffer, not per byte.
        c->cursor = c->buffer;
        c->fill = 0;
        c->scanned = 0;
        size_t got = ip_recv_raw(c, c->buffer, c->capacity);
        c->fill = got;
        n = got < len ? got : len;
        memcpy(dst, c->buffer, n);
        c->cursor += n;
    } else {
        n = ip_recv_raw(c, dst, len);
    }
    net_note(c, CONN_LOG_DEBUG, "ip_read() read %D bytes from socket\n", static_cast<long long>(n));
    return n;
}

char *ip_read_until(Connection *c, const char *delim, size_t dlen)
{
    if (!c || !delim)
        return nullptr;
    if (!c->buffer) {
        net_fail(c, "No receive buffer");
        return nullptr;
    }
    if (dlen == 0)
        dlen = strlen(delim);
    if (dlen == 0) {
        net_fail(c, "Empty delimiter");
        return nullptr;
    }
    if (!read_ready(c))
        return nullptr;
    // A record may hold line_max bytes and its delimiter; kept far from
    // overflow however large the owner sets the cap.
    size_t line_max = c->line_max < SIZE_MAX / 4 ? c->line_max : SIZE_MAX / 4;
    size_t limit = line_max + dlen;
    bool may_read = true;
    for (;;) {
        size_t unread = ip_pending(c);
        if (unread == 0) {
            c->cursor = c->buffer;
            c->fill = 0;
            c->scanned = 0;
        }
        // Only the bytes not searched before are searched again (and the
        // few before them in which a delimiter could have begun).
        size_t from = c->scanned >= dlen - 1 ? c->scanned - (dlen - 1) : 0;
        char *hit = find_delimiter(c->cursor + from, unread - from, delim, dlen);
        size_t record = hit ? static_cast<size_t>(hit - c->cursor) : unread;
        size_t checked = c->scanned < record ? c->scanned : record;
        if (memchr(c->cursor + checked, '\0', record - checked)) {
            read_broken(c, "Received a line holding a NUL byte", 0);
            return nullptr;
        }
        if (hit ? record > line_max : unread >= limit) {
            read_broken(c, "Received a line longer than %D bytes", static_cast<long long>(line_max));
            return nullptr;
        }
        if (hit) {
            if (tracing(c)) {
                net_trace_sent_rest(c); // what was sent comes before its answer
                trace_copy(c, NET_TRACE_RECEIVED, c->cursor, record + dlen);
            }
            char *start = c->cursor;
            *hit = '\0';
            c->cursor = hit + dlen;
            c->scanned = 0;
            return start;
        }
        c->scanned = unread;
        if (!may_read)
            return nullptr; // CONN_WAIT off: the rest stays for the next call
        if (c->fill == c->capacity) {
            if (c->cursor != c->buffer) {
                compact(c);
            } else {
                size_t want = c->capacity <= limit / 2 ? c->capacity * 2 : limit;
                if (!grow_to(c, want)) {
                    net_fail_nomem(c);
                    return nullptr;
                }
            }
        }
        size_t n = ip_recv_raw(c, c->buffer + c->fill, c->capacity - c->fill);
        if (n == 0)
            return nullptr;
        c->fill += n;
        if (!(c->flags & CONN_WAIT))
            may_read = false;
    }
}

size_t ip_grow_buffer(Connection *c)
{
    if (!c || !c->buffer || c->capacity > SIZE_MAX / 2 || !grow_to(c, c->capacity * 2))
        return 0;
    return c->capacity;
}

char *ip_read_all(Connection *c, size_t *len)
{
    if (!c)
        return nullptr;
    StrBuf sb = {};
    char piece[4096];
    for (;;) {
        size_t n = ip_read(c, piece, sizeof piece);
        if (n == 0)
            break;
        if (sb.length + n > NET_READ_ALL_MAX) {
            sbuf_release(&sb);
            read_broken(c, "Received more than %D bytes", static_cast<long long>(NET_READ_ALL_MAX));
            return nullptr;
        }
        if (!strbuf_sink(&sb, piece, n)) {
            sbuf_release(&sb);
            net_fail_nomem(c);
            return nullptr;
        }
    }
    // Only the peer's end of the stream ends the text: a time-out or a
    // failure part-way must not pass for the whole.
    if (!c->peer_closed) {
        sbuf_release(&sb);
        return nullptr;
    }
    if (!sb.data && !strbuf_sink(&sb, "", 0)) {
        net_fail_nomem(c);
        return nullptr;
    }
    if (len)
        *len = sb.length;
    return sb.data;
}

// ---- writing -------------------------------------------------------------------

int ip_flush(Connection *c)
{
    if (!c || c->write_failed)
        return 0;
    if (c->out_fill == 0)
        return 1;
    size_t n = c->out_fill;
    c->out_fill = 0;
    int ok = send_all(c, c->out, n);
    // What went out may have been a password or token: it does not stay
    // in the buffer for the rest of the connection.
    mem_wipe(c->out, n);
    return ok;
}

int ip_write(Connection *c, const void *data, size_t len)
{
    if (!c || c->write_failed)
        return 0;
    if (c->socket < 0) {
        net_fail(c, "Not connected");
        return write_failure(c);
    }
    const char *p = static_cast<const char *>(data);
    if (!c->out)
        return send_all(c, p, len);
    while (len) {
        if (c->out_fill == 0 && len >= NET_SEND_BUFFER_SIZE)
            return send_all(c, p, len);
        size_t room = NET_SEND_BUFFER_SIZE - c->out_fill;
        size_t n = len < room ? len : room;
        memcpy(c->out + c->out_fill, p, n);
        c->out_fill += n;
        p += n;
        len -= n;
        if (c->out_fill == NET_SEND_BUFFER_SIZE && !ip_flush(c))
            return 0;
    }
    return 1;
}

int ip_write_str(void *conn, const char *text, size_t len)
{
    Connection *c = static_cast<Connection *>(conn);
    if (!ip_write(c, text, len))
        return 0;
    if (len && tracing(c) && !c->trace_held)
        trace_sent(c, text, len);
    return 1;
}

int ip_vprintf(Connection *c, const char *format, va_list ap)
{
    if (!c)
        return 0;
    return fmt_vformat(ip_write_str, c, nullptr, nullptr, format, ap);
}

int ip_printf(Connection *c, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int ok = ip_vprintf(c, format, ap);
    va_end(ap);
    return ok;
}

int ip_printf_masked(Connection *c, const unsigned char *mask, const char *format, ...)
{
    if (!c)
        return 0;
    va_list ap;
    va_start(ap, format);
    if (tracing(c)) {
        // The masked copy is traced before the line goes out; the real
        // text never reaches the trace.
        StrBuf masked = {};
        va_list copy;
        va_copy(copy, ap);
        fmt_vformat(strbuf_sink, &masked, mask, nullptr, format, copy);
        va_end(copy);
        if (masked.data && !(masked.flags & STRBUF_NOMEM))
            trace_sent(c, masked.data, masked.length);
        sbuf_release(&masked);
    }
    c->trace_held = 1;
    int ok = fmt_vformat(ip_write_str, c, nullptr, nullptr, format, ap);
    c->trace_held = 0;
    va_end(ap);
    return ok;
}

int ip_write_text(Connection *c, const char *text) { return ip_printf(c, "%s", text); }
