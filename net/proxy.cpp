// Proxy tunnels: HTTP CONNECT and SOCKS5 over a connected CONN_TCP
// connection.
#include "net/proxy.h"

#include <cstdlib>
#include <cstring>

#include "support/encode.h"
#include "support/fmt.h"
#include "support/secret.h"
#include "support/str.h"

namespace {

enum : unsigned { PROXY_PORT_MAX = 65535 };

// The checks every tunnel makes before it sends anything.
int usable(Connection *c, const char *host, unsigned port)
{
    if (!c)
        return 0;
    if (c->type != CONN_TCP || c->socket < 0)
        return net_fail(c, "Proxy tunnel needs a connected stream");
    if (!host || !*host)
        return net_fail(c, "Proxy tunnel without a target host");
    if (port == 0 || port > PROXY_PORT_MAX)
        return net_fail(c, "Proxy target port %u is out of range (1 to %u)", port,
                        unsigned(PROXY_PORT_MAX));
    return 1;
}

// The proxy's answer lines are bounded by their own cap while the tunnel is
// asked for; the caller's cap comes back afterwards.
struct LineCap {
    Connection *c;
    size_t saved;
    explicit LineCap(Connection *conn) : c(conn), saved(conn->line_max)
    {
        c->line_max = PROXY_REPLY_LINE_MAX;
    }
    ~LineCap() { c->line_max = saved; }
    LineCap(const LineCap &) = delete;
    LineCap &operator=(const LineCap &) = delete;
};

// One answer of the proxy (all its lines or bytes) comes within the
// connection's time-out, however slowly the proxy hands it over.
struct AnswerDeadline {
    Connection *c;
    explicit AnswerDeadline(Connection *conn) : c(conn) { ip_start_deadline(c, 0); }
    ~AnswerDeadline() { ip_end_deadline(c); }
    AnswerDeadline(const AnswerDeadline &) = delete;
    AnswerDeadline &operator=(const AnswerDeadline &) = delete;
};

// The status code of an HTTP status line ("HTTP/1.1 200 ..."), or -1.
int status_code(const char *line)
{
    if (strncmp(line, "HTTP/", 5) != 0 || strlen(line) < 12)
        return -1;
    const char *p = line + 9;
    if (p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9' || p[2] < '0' || p[2] > '9')
        return -1;
    if (p[3] != '\0' && p[3] != ' ')
        return -1;
    return (p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0');
}

// Exactly len bytes from the proxy. 1, or 0 with the reason set.
int read_exact(Connection *c, unsigned char *dst, size_t len, const char *what)
{
    for (size_t got = 0; got < len;) {
        size_t n = ip_read(c, dst + got, len - got);
        if (!n) {
            if (!*ip_error(c) || c->peer_closed)
                return net_fail(c, "SOCKS5 proxy ended the connection during its %s", what);
            return 0;
        }
        got += n;
    }
    return 1;
}

int send_bytes(Connection *c, const unsigned char *data, size_t len)
{
    return ip_write(c, data, len) && ip_flush(c);
}

// RFC 1929 user name and password exchange.
int socks5_login(Connection *c, const char *user, const char *password)
{
    size_t ulen = strlen(user), plen = strlen(password);
    unsigned char msg[3 + 2 * PROXY_SOCKS_FIELD_MAX];
    msg[0] = 1;
    msg[1] = static_cast<unsigned char>(ulen);
    memcpy(msg + 2, user, ulen);
    msg[2 + ulen] = static_cast<unsigned char>(plen);
    memcpy(msg + 3 + ulen, password, plen);
    net_note(c, CONN_LOG_LINES | CONN_LOG_DEBUG, "SOCKS5 login as %s with password %s\n", user,
             str_secret_mask);
    int sent = send_bytes(c, msg, 3 + ulen + plen);
    mem_wipe(msg, sizeof msg);
    if (!sent)
        return 0;
    unsigned char reply[2];
    AnswerDeadline answer(c);
    if (!read_exact(c, reply, 2, "login answer"))
        return 0;
    if (reply[1] != 0)
        return net_fail(c, "SOCKS5 proxy refused the user name and password");
    return 1;
}

} // namespace

int proxy_basic_credentials(const char *user, const char *password, SecretText *out)
{
    // The pair is wiped however this is left.
    if (!password)
        password = "";
    size_t ulen = strlen(user), plen = strlen(password);
    SecretText credentials;
    char *pair = credentials.resize(ulen + 1 + plen);
    if (!pair || !out->resize(b64_encoded_size(credentials.size())))
        return 0;
    memcpy(pair, user, ulen);
    pair[ulen] = ':';
    memcpy(pair + ulen + 1, password, plen);
    b64_encode(pair, static_cast<ptrdiff_t>(credentials.size()), out->data());
    return 1;
}

int proxy_https_connect(Connection *c, const char *host, unsigned port, const char *user,
                        const char *password, const char *user_agent)
{
    if (!usable(c, host, port))
        return 0;
    // An IPv6 literal is bracketed, or its colons would run into the port.
    const bool v6 = strchr(host, ':') != nullptr;
    const char *open = v6 ? "[" : "", *close = v6 ? "]" : "";
    int ok = ip_printf(c, "CONNECT %s%s%s:%u HTTP/1.0\r\nHost: %s%s%s:%u\r\n", open, host, close,
                       port, open, host, close, port);
    if (ok && user_agent)
        ok = ip_printf(c, "User-Agent: %s\r\n", user_agent);
    if (ok && user) {
        SecretText encoded;
        if (!proxy_basic_credentials(user, password, &encoded))
            return net_fail_nomem(c);
        unsigned char mask[1] = {};
        fmt_mask_set(mask, 0, 1);
        ok = ip_printf_masked(c, mask, "Proxy-Authorization: Basic %s\r\n", encoded.data());
    }
    if (ok)
        ok = ip_printf(c, "\r\n");
    if (!ok)
        return 0;

    LineCap cap(c);
    AnswerDeadline answer(c);
    const char *line = ip_read_until(c, "\r\n", 2);
    if (!line)
        return net_fail(c, "HTTPS proxy sent no answer (%s)", ip_error(c));
    int code = status_code(line);
    if (code != 200) {
        char status[80];
        net_format(status, sizeof status, "%s", line);
        return net_fail(c, "HTTPS proxy refused the tunnel (%s)", status);
    }
    for (size_t n = 0; n <= PROXY_HEADER_LINES_MAX; n++) {
        line = ip_read_until(c, "\r\n", 2);
        if (!line)
            return net_fail(c, "HTTPS proxy answer broke off (%s)", ip_error(c));
        if (!*line)
            return 1;
    }
    return net_fail(c, "HTTPS proxy answer holds more than %u header lines",
                    unsigned(PROXY_HEADER_LINES_MAX));
}

int proxy_socks5_connect(Connection *c, const char *host, unsigned port, const char *user,
                         const char *password)
{
    if (!usable(c, host, port))
        return 0;
    if (!password)
        password = "";
    size_t hlen = strlen(host);
    if (hlen > PROXY_SOCKS_FIELD_MAX)
        return net_fail(c, "Host name too long for a SOCKS5 proxy (%u bytes at most)",
                        unsigned(PROXY_SOCKS_FIELD_MAX));
    if (user && (strlen(user) > PROXY_SOCKS_FIELD_MAX || strlen(password) > PROXY_SOCKS_FIELD_MAX))
        return net_fail(c, "Proxy user name or password too long for SOCKS5 (%u bytes at most)",
                        unsigned(PROXY_SOCKS_FIELD_MAX));

    // Greeting: "no authentication", and with credentials also "user name
    // and password".
    const unsigned char plain_hello[] = {5, 1, 0};
    const unsigned char login_hello[] = {5, 2, 0, 2};
    int sent = user ? send_bytes(c, login_hello, sizeof login_hello)
                    : send_bytes(c, plain_hello, sizeof plain_hello);
    if (!sent)
        return 0;
    unsigned char choice[2];
    {
        AnswerDeadline answer(c);
        if (!read_exact(c, choice, 2, "method choice"))
            return 0;
    }
    if (choice[0] != 5)
        return net_fail(c, "SOCKS5 proxy answered with version %u", unsigned(choice[0]));
    if (choice[1] == 2 && user) {
        if (!socks5_login(c, user, password))
            return 0;
    } else if (choice[1] != 0) {
        return net_fail(c, user ? "SOCKS5 proxy accepts none of the offered methods"
                                : "SOCKS5 proxy wants credentials and none were given");
    }

    // The request: CONNECT to the host as a name, then the port.
    unsigned char request[7 + PROXY_SOCKS_FIELD_MAX];
    request[0] = 5;
    request[1] = 1;
    request[2] = 0;
    request[3] = 3;
    request[4] = static_cast<unsigned char>(hlen);
    memcpy(request + 5, host, hlen);
    request[5 + hlen] = static_cast<unsigned char>(port >> 8);
    request[6 + hlen] = static_cast<unsigned char>(port & 0xFF);
    net_note(c, CONN_LOG_LINES | CONN_LOG_DEBUG, "SOCKS5 CONNECT %s:%u\n", host, port);
    if (!send_bytes(c, request, 7 + hlen))
        return 0;

    // The reply: version, status, reserved, address type, then the bound
    // address and port, read and dropped.
    unsigned char reply[4 + 1 + PROXY_SOCKS_FIELD_MAX + 2];
    AnswerDeadline answer(c);
    if (!read_exact(c, reply, 4, "reply"))
        return 0;
    if (reply[0] != 5)
        return net_fail(c, "SOCKS5 proxy answered with version %u", unsigned(reply[0]));
    if (reply[1] != 0)
        return net_fail(c, "SOCKS5 proxy refused the connection (reply code %u)",
                        unsigned(reply[1]));
    size_t rest;
    switch (reply[3]) {
    case 1:
        rest = 4 + 2;
        break;
    case 4:
        rest = 16 + 2;
        break;
    case 3:
        if (!read_exact(c, reply + 4, 1, "reply"))
            return 0;
        rest = size_t(reply[4]) + 2;
        break;
    default:
        return net_fail(c, "SOCKS5 proxy answered with address type %u", unsigned(reply[3]));
    }
    return read_exact(c, reply + 5, rest, "reply");
}
