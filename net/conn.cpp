// The connection object: creation, close and free, the library's process
// start-up, the error text, trace notes and the text form of addresses.
#include "net/conn.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "support/fmt.h"

RwLock *net_tls_lock = nullptr;
const char net_error_nomem[] = "Out of memory";

namespace {

std::mutex init_mutex;
bool initialised = false;

// A sink into a fixed text: what does not fit is cut, and the text always
// ends in a NUL.
struct FixedText {
    char *buf;
    size_t size;
    size_t len;
};

int fixed_sink(void *p, const char *text, size_t len)
{
    FixedText *ft = static_cast<FixedText *>(p);
    size_t room = ft->size - 1 - ft->len;
    size_t n = len < room ? len : room;
    memcpy(ft->buf + ft->len, text, n);
    ft->len += n;
    ft->buf[ft->len] = '\0';
    return 1;
}

void format_fixed(char *buf, size_t size, const char *format, va_list ap)
{
    FixedText ft{buf, size, 0};
    buf[0] = '\0';
    fmt_vformat(fixed_sink, &ft, nullptr, nullptr, format, ap);
}

char *socket_address(const Connection *c, int peer, char *buf, size_t size, unsigned *port)
{
    if (!buf || size == 0)
        return nullptr;
    buf[0] = '\0';
    if (!c || c->socket < 0)
        return nullptr;
    PlatSockAddr addr;
    int len = 0, family = 0;
    unsigned char bytes[16];
    unsigned p = 0;
    if (!plat_socket_address(c->socket, peer, &addr, &len) ||
        !plat_address_parts(&addr, len, &family, bytes, &p))
        return nullptr;
    ip_format_address(family, bytes, buf, size);
    if (port)
        *port = p;
    return buf;
}

} // namespace

int ip_global_init(int with_tls)
{
    std::lock_guard<std::mutex> hold(init_mutex);
    if (!initialised) {
        if (!plat_net_start())
            return 0; // the flag stays clear: a later call tries again
        initialised = true;
    }
    // A lock that could not be made is tried again by the next start-up;
    // the TLS layer calls it once more itself before it needs the lock.
    if (with_tls && !net_tls_lock)
        net_tls_lock = rwlock_new();
    return 1;
}

int ip_global_cleanup(void) { return plat_net_stop(); }

Connection *ip_new(int type, size_t buffer_size, uint32_t flags)
{
    if (type != CONN_TCP && type != CONN_UDP)
        return nullptr;
    Connection *c = static_cast<Connection *>(calloc(1, sizeof(Connection)));
    if (!c)
        return nullptr;
    if (type == CONN_TCP) {
        c->capacity = buffer_size ? buffer_size : NET_RECV_BUFFER_DEFAULT;
        c->buffer = static_cast<char *>(malloc(c->capacity));
        c->out = static_cast<char *>(malloc(NET_SEND_BUFFER_SIZE));
        if (!c->buffer || !c->out) {
            free(c->buffer);
            free(c->out);
            free(c);
            return nullptr;
        }
        c->cursor = c->buffer;
    }
    c->socket = -1;
    c->type = type;
    c->timeout_ms = NET_TIMEOUT_DEFAULT_MS;
    c->flags = flags & CONN_WAIT;
    c->line_max = NET_LINE_MAX_DEFAULT;
    return c;
}

int ip_set_family(Connection *c, int family)
{
    if (!c)
        return 0;
    c->family = family;
    return family == 4 || family == 6;
}

void ip_set_timeout(Connection *c, int seconds)
{
    if (!c)
        return;
    if (seconds < 0)
        seconds = 0;
    if (seconds > 2147483)
        seconds = 2147483; // the largest whole number of seconds in int milliseconds
    c->timeout_ms = seconds * 1000;
}

void ip_close(Connection *c)
{
    if (!c || c->socket < 0)
        return;
    // Whatever the owner wrote last still goes out (the flush is bounded
    // like every write; it does nothing after a failed write).
    ip_flush(c);
    net_trace_sent_rest(c);
    if (c->tls)
        c->tls_layer->end(c);
    plat_close_socket(c->socket);
    c->socket = -1;
    c->listening = 0;
    net_reset_stream(c);
}

void net_reset_stream(Connection *c)
{
    c->cursor = c->buffer;
    c->fill = 0;
    c->scanned = 0;
    c->out_fill = 0;
    c->trace_fill = 0;
    c->write_failed = 0;
    c->read_failed = 0;
    c->peer_closed = 0;
    c->read_past_write_failure = 0;
    c->flags &= ~CONN_WOULD_BLOCK;
    ip_end_deadline(c);
}

int ip_free(Connection *c)
{
    if (!c)
        return 0;
    // An owner that forgot ip_close must not leak the socket or the TLS
    // context with the object.
    ip_close(c);
    free(c->buffer);
    free(c->out);
    free(c->trace_line);
    free(c);
    return 1;
}

const char *ip_error(const Connection *c)
{
    if (!c)
        return "";
    return c->error_nomem ? net_error_nomem : c->error_text;
}

int ip_last_error(void) { return plat_net_last_error(); }

void net_note(Connection *c, uint32_t need, const char *format, ...)
{
    if (!c || !c->log_fn || !(c->flags & need))
        return;
    char text[1024];
    va_list ap;
    va_start(ap, format);
    format_fixed(text, sizeof text, format, ap);
    va_end(ap);
    c->log_fn(c->log_user, NET_TRACE_NOTE, text);
}

char *net_format(char *buf, size_t size, const char *format, ...)
{
    if (!buf || size == 0)
        return buf;
    va_list ap;
    va_start(ap, format);
    format_fixed(buf, size, format, ap);
    va_end(ap);
    return buf;
}

int net_fail(Connection *c, const char *format, ...)
{
    if (!c)
        return 0;
    // Formatted apart first: an argument may be the old error text itself.
    char text[NET_ERROR_TEXT_SIZE];
    va_list ap;
    va_start(ap, format);
    format_fixed(text, sizeof text, format, ap);
    va_end(ap);
    memcpy(c->error_text, text, sizeof text);
    c->error_nomem = 0;
    return 0;
}

int net_fail_nomem(Connection *c)
{
    net_fail(c, "%s", net_error_nomem);
    if (c)
        c->error_nomem = 1;
    return 0;
}

int net_fail_socket(Connection *c, const char *call)
{
    char why[128];
    c->last_error = plat_net_last_error();
    return net_fail(c, "%s failed: %s", call, plat_net_error_text(static_cast<int>(c->last_error), why, sizeof why));
}

char *ip_format_address(int family, const unsigned char *bytes, char *buf, size_t size)
{
    if (!buf || size == 0)
        return buf;
    if (family == 4) {
        return net_format(buf, size, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    }
    FixedText ft{buf, size, 0};
    buf[0] = '\0';
    for (int i = 0; i < 8; i++)
        fmt_sink_printf(fixed_sink, &ft, i ? ":%x" : "%x", (bytes[2 * i] << 8) | bytes[2 * i + 1]);
    return buf;
}

char *ip_local_address(const Connection *c, char *buf, size_t size, unsigned *port)
{
    return socket_address(c, 0, buf, size, port);
}

char *ip_peer_address(const Connection *c, char *buf, size_t size, unsigned *port)
{
    return socket_address(c, 1, buf, size, port);
}

int ip_socket(Connection *c)
{
    if (!c)
        return 0;
    int fd = plat_socket(c->family == 4 ? 4 : 6, c->type == CONN_TCP ? PLAT_SOCK_STREAM : PLAT_SOCK_DGRAM);
    if (fd < 0)
        return net_fail_socket(c, "socket()");
    c->socket = fd;
    return 1;
}
