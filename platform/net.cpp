// POSIX implementation of the socket layer: getaddrinfo, non-blocking
// connect finished by poll and SO_ERROR, MSG_DONTWAIT transfers (the
// sockets themselves stay blocking) and MSG_NOSIGNAL sends.
#include "platform/net.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/platform.h"

static_assert(sizeof(sockaddr_storage) <= sizeof(PlatSockAddr), "PlatSockAddr too small");
static_assert(alignof(sockaddr_storage) <= alignof(PlatSockAddr), "PlatSockAddr alignment");

namespace {

thread_local int last_error = 0;

// Records errno as the thread's last socket error and returns fail.
template <typename T> T failed(T fail)
{
    last_error = errno;
    return fail;
}

sockaddr *sa(PlatSockAddr *a) { return reinterpret_cast<sockaddr *>(a->bytes); }
const sockaddr *sa(const PlatSockAddr *a) { return reinterpret_cast<const sockaddr *>(a->bytes); }

int64_t now_ms(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int set_nonblocking(int fd, bool on)
{
    int fl = fcntl(fd, F_GETFL);
    if (fl < 0)
        return 0;
    int want = on ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK);
    return want == fl || fcntl(fd, F_SETFL, want) == 0;
}

bool would_block(int e) { return e == EAGAIN || e == EWOULDBLOCK; }

// The common tail of the transfer calls.
int64_t transfer_result(ssize_t r)
{
    if (r >= 0)
        return r;
    last_error = errno;
    return would_block(errno) ? PLAT_NET_WOULD_BLOCK : PLAT_NET_FAILED;
}

} // namespace

int plat_net_start(void)
{
    // A send to a vanished peer must come back as EPIPE, also from code
    // that does not pass MSG_NOSIGNAL.
    plat_ignore_write_signals();
    return 1;
}

int plat_net_stop(void) { return 0; }

int plat_net_last_error(void) { return last_error; }

const char *plat_net_error_text(int code, char *buf, size_t size)
{
    return plat_error_text(code, buf, size);
}

int plat_resolve(const char *host, unsigned port, int family, int socktype, int passive,
                 PlatSockAddr *addr, int *addr_len, int *family_found, char *why, size_t why_size)
{
    if (why && why_size)
        why[0] = '\0';
    addrinfo hints{};
    hints.ai_family = family == 4 ? AF_INET : family == 6 ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = socktype == PLAT_SOCK_DGRAM ? SOCK_DGRAM : SOCK_STREAM;
    hints.ai_flags = passive ? AI_PASSIVE : 0;
    char service[16];
    snprintf(service, sizeof service, "%u", port);
    addrinfo *res = nullptr;
    int rc = getaddrinfo(host, service, &hints, &res);
    if (rc != 0 || !res) {
        if (why && why_size) {
            if (rc == EAI_SYSTEM)
                plat_net_error_text(errno, why, why_size);
            else
                snprintf(why, why_size, "%s", rc ? gai_strerror(rc) : "no address");
        }
        if (res)
            freeaddrinfo(res);
        return 0;
    }
    int ok = 0;
    if (res->ai_addrlen <= sizeof addr->bytes &&
        (res->ai_family == AF_INET || res->ai_family == AF_INET6)) {
        memset(addr->bytes, 0, sizeof addr->bytes);
        memcpy(addr->bytes, res->ai_addr, res->ai_addrlen);
        *addr_len = static_cast<int>(res->ai_addrlen);
        *family_found = res->ai_family == AF_INET ? 4 : 6;
        ok = 1;
    } else if (why && why_size) {
        snprintf(why, why_size, "%s", "unsupported address family");
    }
    freeaddrinfo(res);
    return ok;
}

int plat_socket(int family, int socktype)
{
    int fd = socket(family == 4 ? AF_INET : AF_INET6,
                    (socktype == PLAT_SOCK_DGRAM ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    return fd < 0 ? failed(-1) : fd;
}

int plat_close_socket(int fd) { return close(fd) == 0 ? 1 : failed(0); }

int plat_connect(int fd, const PlatSockAddr *addr, int addr_len, int timeout_ms)
{
    // A blocking connect waits as long as the system likes (minutes for an
    // address that drops the SYN); started without blocking it is bounded
    // by our own poll.
    if (!set_nonblocking(fd, true))
        return failed(PLAT_NET_FAILED);
    int result = 1;
    if (connect(fd, sa(addr), static_cast<socklen_t>(addr_len)) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            result = failed(PLAT_NET_FAILED);
        } else {
            int ready = plat_poll(fd, PLAT_POLL_OUT, timeout_ms);
            if (ready == 0) {
                last_error = ETIMEDOUT;
                result = PLAT_NET_TIMED_OUT;
            } else if (ready < 0) {
                result = PLAT_NET_FAILED;
            } else {
                int err = 0;
                socklen_t len = sizeof err;
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    result = failed(PLAT_NET_FAILED);
                else if (err != 0) {
                    last_error = err;
                    result = PLAT_NET_FAILED;
                }
            }
        }
    }
    if (!set_nonblocking(fd, false) && result == 1)
        result = failed(PLAT_NET_FAILED);
    return result;
}

int plat_bind(int fd, const PlatSockAddr *addr, int addr_len)
{
    int type = 0;
    socklen_t tl = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &tl) == 0 && type == SOCK_STREAM) {
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    return bind(fd, sa(addr), static_cast<socklen_t>(addr_len)) == 0 ? 1 : failed(0);
}

int plat_listen(int fd, int backlog)
{
    if (listen(fd, backlog < 0 ? SOMAXCONN : backlog) != 0)
        return failed(0);
    // A connection that goes away between the poll and the accept must not
    // leave the accept blocked.
    return set_nonblocking(fd, true) ? 1 : failed(0);
}

int plat_accept(int fd, PlatSockAddr *addr, int *addr_len)
{
    for (;;) {
        PlatSockAddr tmp;
        socklen_t len = sizeof tmp.bytes;
        int s = accept4(fd, sa(addr ? addr : &tmp), &len, SOCK_CLOEXEC);
        if (s >= 0) {
            if (addr_len)
                *addr_len = static_cast<int>(len);
            return s;
        }
        if (errno == EINTR)
            continue;
        last_error = errno;
        // A connection reset before it was taken is simply not there.
        if (would_block(errno) || errno == ECONNABORTED)
            return PLAT_NET_WOULD_BLOCK;
        return PLAT_NET_FAILED;
    }
}

int64_t plat_recv(int fd, void *buf, size_t len, int peek)
{
    if (len > SSIZE_MAX)
        len = SSIZE_MAX;
    ssize_t r;
    do
        r = recv(fd, buf, len, MSG_DONTWAIT | (peek ? MSG_PEEK : 0));
    while (r < 0 && errno == EINTR);
    return transfer_result(r);
}

int64_t plat_send(int fd, const void *buf, size_t len)
{
    if (len > SSIZE_MAX)
        len = SSIZE_MAX;
    ssize_t r;
    do
        r = send(fd, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL);
    while (r < 0 && errno == EINTR);
    return transfer_result(r);
}

int64_t plat_sendto(int fd, const void *buf, size_t len, const PlatSockAddr *to, int to_len)
{
    ssize_t r;
    do
        r = sendto(fd, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL, sa(to), static_cast<socklen_t>(to_len));
    while (r < 0 && errno == EINTR);
    return transfer_result(r);
}

int64_t plat_recvfrom(int fd, void *buf, size_t len, PlatSockAddr *from, int *from_len)
{
    ssize_t r;
    socklen_t fl;
    do {
        fl = sizeof from->bytes;
        // MSG_TRUNC: the result is the datagram's real length, so a datagram
        // cut to fit can be told from one that fitted.
        r = recvfrom(fd, buf, len, MSG_DONTWAIT | MSG_TRUNC, sa(from), &fl);
    } while (r < 0 && errno == EINTR);
    if (r >= 0)
        *from_len = static_cast<int>(fl);
    return transfer_result(r);
}

int plat_poll(int fd, int events, int timeout_ms)
{
    pollfd p{};
    p.fd = fd;
    p.events = static_cast<short>(((events & PLAT_POLL_IN) ? POLLIN : 0) |
                                  ((events & PLAT_POLL_OUT) ? POLLOUT : 0));
    if (timeout_ms < 0)
        timeout_ms = 0;
    int64_t deadline = now_ms() + timeout_ms;
    for (;;) {
        int r = poll(&p, 1, timeout_ms);
        if (r >= 0)
            return r;
        if (errno != EINTR)
            return failed(-1);
        int64_t left = deadline - now_ms();
        timeout_ms = left > 0 ? static_cast<int>(left) : 0;
    }
}

int plat_set_broadcast(int fd)
{
    int one = 1;
    return setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) == 0 ? 1 : failed(0);
}

int plat_socket_address(int fd, int peer, PlatSockAddr *addr, int *addr_len)
{
    socklen_t len = sizeof addr->bytes;
    memset(addr->bytes, 0, sizeof addr->bytes);
    int r = peer ? getpeername(fd, sa(addr), &len) : getsockname(fd, sa(addr), &len);
    if (r != 0)
        return failed(0);
    *addr_len = static_cast<int>(len);
    return 1;
}

int plat_address_parts(const PlatSockAddr *addr, int addr_len, int *family, unsigned char bytes[16],
                       unsigned *port)
{
    const sockaddr *s = sa(addr);
    if (s->sa_family == AF_INET && addr_len >= static_cast<int>(sizeof(sockaddr_in))) {
        sockaddr_in in;
        memcpy(&in, addr->bytes, sizeof in);
        *family = 4;
        memcpy(bytes, &in.sin_addr, 4);
        *port = ntohs(in.sin_port);
        return 1;
    }
    if (s->sa_family == AF_INET6 && addr_len >= static_cast<int>(sizeof(sockaddr_in6))) {
        sockaddr_in6 in6;
        memcpy(&in6, addr->bytes, sizeof in6);
        *family = 6;
        memcpy(bytes, &in6.sin6_addr, 16);
        *port = ntohs(in6.sin6_port);
        return 1;
    }
    return 0;
}
