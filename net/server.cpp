// The server side of a connection (bind, listen, accept) and datagram
// send and receive, each wait bounded by the connection's timeout_ms.
#include <cstring>

#include "net/conn.h"

int ip_bind(Connection *c, int loopback, unsigned port)
{
    if (!c)
        return 0;
    if (port > 65535)
        return net_fail(c, "Port %u out of range", port);
    PlatSockAddr addr;
    int len = 0, found = 0;
    char why[256];
    // No host: the wildcard address when passive, the loopback address
    // otherwise.
    if (!plat_resolve(nullptr, port, c->family, c->type == CONN_UDP ? PLAT_SOCK_DGRAM : PLAT_SOCK_STREAM,
                      !loopback, &addr, &len, &found, why, sizeof why))
        return net_fail(c, "getaddrinfo() failed: %s", why);
    c->family = found;
    if (c->socket < 0 && !ip_socket(c))
        return 0;
    if (!plat_bind(c->socket, &addr, len))
        return net_fail_socket(c, "bind()");
    return 1;
}

int ip_listen(Connection *c)
{
    if (!c || c->socket < 0)
        return 0;
    if (!plat_listen(c->socket, PLAT_LISTEN_MAX))
        return net_fail_socket(c, "listen()");
    c->listening = 1;
    return 1;
}

Connection *ip_accept(Connection *listener, size_t buffer_size, uint32_t flags)
{
    if (!listener || listener->socket < 0)
        return nullptr;
    listener->flags &= ~CONN_WOULD_BLOCK;
    PlatSockAddr addr;
    int len = 0;
    int fd;
    for (;;) {
        fd = plat_accept(listener->socket, &addr, &len);
        if (fd >= 0)
            break;
        if (fd != PLAT_NET_WOULD_BLOCK) {
            net_fail_socket(listener, "accept()");
            return nullptr;
        }
        if (!(listener->flags & CONN_WAIT)) {
            listener->flags |= CONN_WOULD_BLOCK;
            return nullptr;
        }
        if (!net_wait_for(listener, NET_WANT_READ, listener->timeout_ms, "waiting for a connection"))
            return nullptr;
    }
    Connection *c = ip_new(CONN_TCP, buffer_size, flags);
    if (!c) {
        plat_close_socket(fd);
        net_fail_nomem(listener);
        return nullptr;
    }
    c->socket = fd;
    c->family = listener->family;
    c->accept_addr = addr;
    c->accept_addr_len = len;
    c->peer_addr = addr;
    c->addr_len = len;
    return c;
}

size_t ip_udp_send(Connection *c, const void *data, size_t len, const PlatSockAddr *addr, int addr_len)
{
    if (!c || c->socket < 0)
        return 0;
    if (len > NET_UDP_MAX) {
        net_fail(c, "Datagram of %D bytes is longer than %D", static_cast<long long>(len),
                 static_cast<long long>(NET_UDP_MAX));
        return 0;
    }
    if (!addr) {
        addr = &c->peer_addr;
        addr_len = c->addr_len;
    }
    for (;;) {
        int64_t n = plat_sendto(c->socket, data, len, addr, addr_len);
        if (n >= 0)
            return static_cast<size_t>(n);
        if (n != PLAT_NET_WOULD_BLOCK)
            return net_fail_socket(c, "sendto()");
        if (!net_wait_for(c, NET_WANT_WRITE, c->timeout_ms, "waiting to send"))
            return 0;
    }
}

size_t ip_udp_recv(Connection *c, void *dst, PlatSockAddr *from, int *from_len)
{
    if (!c || c->socket < 0 || !dst)
        return 0;
    c->flags &= ~CONN_WOULD_BLOCK;
    PlatSockAddr tmp;
    int tmp_len = 0;
    if (!from)
        from = &tmp;
    if (!from_len)
        from_len = &tmp_len;
    for (;;) {
        int64_t n = plat_recvfrom(c->socket, dst, NET_UDP_MAX, from, from_len);
        if (n > static_cast<int64_t>(NET_UDP_MAX)) {
            // Cut to fit, it would pass for a whole datagram.
            net_fail(c, "Dropped a datagram of %D bytes (longer than %D)", static_cast<long long>(n),
                     static_cast<long long>(NET_UDP_MAX));
            return 0;
        }
        if (n >= 0)
            return static_cast<size_t>(n);
        if (n != PLAT_NET_WOULD_BLOCK)
            return net_fail_socket(c, "recvfrom()");
        if (!(c->flags & CONN_WAIT)) {
            c->flags |= CONN_WOULD_BLOCK;
            return 0;
        }
        if (!net_wait_for(c, NET_WANT_READ, c->timeout_ms, "waiting for a datagram"))
            return 0;
    }
}
