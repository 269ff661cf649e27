// The TLS layer of the full program, over libtls: the process-wide client
// configuration and server context (guarded by the library's TLS lock),
// the start of TLS on a connection with a bounded handshake, and the read,
// write and close that the connection layer calls while TLS is on. libtls
// moves its bytes through our own callbacks, which never wait, so every
// wait is the connection's own bounded poll.
#include "net/tls.h"

#include <tls.h>

#include <string>

namespace {

// No single handshake wait lasts longer than this, whatever the
// connection's time-out.
constexpr int kHandshakeWaitMaxMs = 5000;
// A key-pair source is asked at most this many times.
constexpr int kKeyPairsMax = 256;

struct ClientSettings {
    bool verify;
    std::string protocols, ciphers, ca_file;
    bool operator==(const ClientSettings &) const = default;
};

// Guarded by net_tls_lock.
bool library_started = false;
tls_config *client_config = nullptr;
ClientSettings client_settings;
std::string ca_file_override;
tls *server_context = nullptr;

class Hold {
  public:
    explicit Hold(bool exclusive) { rwlock_acquire(net_tls_lock, exclusive ? 1 : 0); }
    ~Hold() { rwlock_release(net_tls_lock); }
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;
};

// The lock exists once the library has started; a caller that skipped the
// start-up gets it made here.
bool have_lock(void) { return net_tls_lock || (ip_global_init(1) && net_tls_lock); }

// Under an exclusive hold.
void start_library(void)
{
    if (!library_started) {
        tls_init();
        library_started = true;
    }
}

::tls *context_of(Connection *c) { return static_cast<::tls *>(c->tls); }

ssize_t socket_read(::tls *, void *buf, size_t len, void *arg)
{
    Connection *c = static_cast<Connection *>(arg);
    int64_t n = plat_recv(c->socket, buf, len, 0);
    if (n >= 0)
        return static_cast<ssize_t>(n);
    if (n == PLAT_NET_WOULD_BLOCK)
        return TLS_WANT_POLLIN;
    c->last_error = plat_net_last_error();
    return -1;
}

ssize_t socket_write(::tls *, const void *buf, size_t len, void *arg)
{
    Connection *c = static_cast<Connection *>(arg);
    int64_t n = plat_send(c->socket, buf, len);
    if (n >= 0)
        return static_cast<ssize_t>(n);
    if (n == PLAT_NET_WOULD_BLOCK)
        return TLS_WANT_POLLOUT;
    c->last_error = plat_net_last_error();
    return -1;
}

int64_t transfer_result(Connection *c, ssize_t n, const char *call)
{
    if (n >= 0)
        return n;
    if (n == TLS_WANT_POLLIN)
        return NET_WANT_READ;
    if (n == TLS_WANT_POLLOUT)
        return NET_WANT_WRITE;
    const char *why = tls_error(context_of(c));
    net_fail(c, "%s failed: %s", call, why ? why : "unknown error");
    return NET_TLS_FAILED;
}

int64_t layer_read(Connection *c, void *buf, size_t len)
{
    return transfer_result(c, tls_read(context_of(c), buf, len), "tls_read()");
}

int64_t layer_write(Connection *c, const void *buf, size_t len)
{
    return transfer_result(c, tls_write(context_of(c), buf, len), "tls_write()");
}

int handshake_wait_ms(const Connection *c)
{
    return c->timeout_ms < kHandshakeWaitMaxMs ? c->timeout_ms : kHandshakeWaitMaxMs;
}

void layer_end(Connection *c)
{
    ::tls *t = context_of(c);
    // The close notice goes out if the peer takes it within the wait; a
    // peer that takes nothing cannot hold the close up for longer.
    for (int round = 0; round < 8; round++) {
        int r = tls_close(t);
        if (r != TLS_WANT_POLLIN && r != TLS_WANT_POLLOUT)
            break;
        if (plat_poll(c->socket, r == TLS_WANT_POLLIN ? PLAT_POLL_IN : PLAT_POLL_OUT, handshake_wait_ms(c)) <= 0)
            break;
    }
    tls_free(t);
    c->tls = nullptr;
    c->tls_layer = nullptr;
}

const NetTlsLayer kLayer = {layer_read, layer_write, layer_end};

int fail(const char **error, const char *text)
{
    if (error)
        *error = text;
    return 0;
}

// After the context was attached the stream is in an unknown state: the
// context goes and nothing more is read or written until the owner closes.
int fail_started(Connection *c, const char **error, const char *text)
{
    if (c->tls) {
        tls_free(context_of(c));
        c->tls = nullptr;
        c->tls_layer = nullptr;
    }
    c->write_failed = 1;
    c->read_failed = 1;
    return fail(error, text);
}

void attach(Connection *c, ::tls *t)
{
    c->tls = t;
    c->tls_layer = &kLayer;
}

// The protocol mask of a protocol list; false when libtls does not take
// the list or it enables no protocol at all.
bool protocol_mask(const char *text, uint32_t *mask)
{
    *mask = 0;
    return tls_config_parse_protocols(mask, text) == 0 && *mask != 0;
}

// A new client configuration; NULL with *msg set when it cannot be made.
tls_config *make_client_config(const ClientSettings &s, const char **msg)
{
    tls_config *cfg = tls_config_new();
    if (!cfg) {
        *msg = net_error_nomem;
        return nullptr;
    }
    *msg = nullptr;
    uint32_t mask = 0;
    // Verifying without a CA file of the tests' own keeps the library's
    // default locations, OpenSSL's, which SSL_CERT_FILE and SSL_CERT_DIR
    // replace: that is how a user trusts a CA of his own.
    if (!s.verify) {
        tls_config_insecure_noverifycert(cfg);
        tls_config_insecure_noverifyname(cfg);
        tls_config_insecure_noverifytime(cfg);
    } else if (!s.ca_file.empty() && tls_config_set_ca_file(cfg, s.ca_file.c_str()) != 0) {
        *msg = "tls_config_set_ca_file() failed";
    }
    if (!*msg) {
        tls_config_set_protocols(cfg, TLS_PROTOCOLS_ALL);
        if (tls_config_set_ciphers(cfg, s.ciphers.c_str()) != 0)
            *msg = "tls_config_set_ciphers() failed";
        else if (!protocol_mask(s.protocols.c_str(), &mask))
            *msg = "tls_config_parse_protocols() failed";
        else if (tls_config_set_protocols(cfg, mask) != 0)
            *msg = "tls_config_set_protocols() failed";
    }
    if (*msg) {
        tls_config_free(cfg);
        return nullptr;
    }
    return cfg;
}

// A client context configured with the configuration for these settings,
// made or replaced first when needed. NULL with *msg set.
::tls *new_client(const ClientSettings &want, const char **msg)
{
    Hold hold(true);
    start_library();
    ClientSettings s = want;
    s.ca_file = ca_file_override;
    if (!client_config || !(client_settings == s)) {
        tls_config *fresh = make_client_config(s, msg);
        if (!fresh)
            return nullptr;
        // Contexts made from the old configuration keep their own
        // reference to it.
        if (client_config)
            tls_config_free(client_config);
        client_config = fresh;
        client_settings = s;
    }
    ::tls *t = tls_client();
    if (!t) {
        *msg = net_error_nomem;
        return nullptr;
    }
    if (tls_configure(t, client_config) != 0) {
        tls_free(t);
        *msg = "tls_configure() failed";
        return nullptr;
    }
    return t;
}

int handshake(Connection *c, const char **error)
{
    ::tls *t = context_of(c);
    int wait = handshake_wait_ms(c);
    // Each wait is short, and the whole handshake ends within the
    // connection's time-out however slowly the peer hands its part over.
    ip_start_deadline(c, c->timeout_ms);
    for (;;) {
        int r = tls_handshake(t);
        if (r == 0) {
            ip_end_deadline(c);
            const char *version = tls_conn_version(t), *cipher = tls_conn_cipher(t);
            net_note(c, CONN_LOG_LINES | CONN_LOG_DEBUG, "TLS negotiation complete (version=%s, cipher=%s)\n",
                     version ? version : "", cipher ? cipher : "");
            return 1;
        }
        if (r == TLS_WANT_POLLIN || r == TLS_WANT_POLLOUT) {
            if (net_wait_for(c, r == TLS_WANT_POLLIN ? NET_WANT_READ : NET_WANT_WRITE, wait,
                             "during the TLS handshake"))
                continue;
            net_fail(c, "%s", "tls_handskake() timeout");
        } else {
            const char *why = tls_error(t);
            net_fail(c, "%s", why ? why : "TLS handshake failed");
        }
        ip_end_deadline(c);
        return fail_started(c, error, ip_error(c));
    }
}

// Bytes already on the socket before our first handshake message can only
// have come from the peer's side of the clear-text dialogue.
bool peer_spoke_early(Connection *c)
{
    char byte;
    return plat_recv(c->socket, &byte, 1, 1) > 0;
}

} // namespace

int ip_tls_start(Connection *c, int server, const char **error, const char *server_name, int verify,
                 const char *protocols, const char *ciphers)
{
    if (!c || c->socket < 0 || c->type != CONN_TCP)
        return fail(error, "Not connected");
    if (c->tls)
        return fail(error, "TLS is already on");
    if (c->read_failed || !ip_flush(c))
        return fail(error, ip_error(c));
    if (ip_pending(c) || (!server && peer_spoke_early(c))) {
        net_fail(c, "%s", "The peer sent data ahead of the TLS handshake");
        return fail(error, ip_error(c));
    }
    if (!have_lock())
        return fail(error, net_error_nomem);
    if (!server) {
        const char *msg = nullptr;
        ClientSettings want{verify != 0, protocols ? protocols : "all", ciphers ? ciphers : "all", ""};
        ::tls *t = new_client(want, &msg);
        if (!t)
            return fail(error, msg);
        attach(c, t);
        if (tls_connect_cbs(t, socket_read, socket_write, c, server_name) != 0)
            return fail_started(c, error, "connect_socket() failed");
    } else {
        ::tls *t = nullptr;
        {
            Hold hold(false);
            if (!server_context || tls_accept_cbs(server_context, &t, socket_read, socket_write, c) != 0)
                t = nullptr;
        }
        if (!t) {
            net_note(c, CONN_LOG_LINES | CONN_LOG_DEBUG, "%s\n", "tls_accept_socket() failed");
            return fail_started(c, error, "tls_accept_socket() failed");
        }
        attach(c, t);
    }
    return handshake(c, error);
}

int ip_tls_check_protocols(const char *text, const char **why)
{
    uint32_t mask;
    if (text && protocol_mask(text, &mask))
        return 1;
    *why = "no protocol list libtls takes";
    return 0;
}

int ip_tls_check_ciphers(const char *text, const char **why)
{
    // libtls checks a cipher list only as it sets it in a configuration.
    tls_config *cfg = tls_config_new();
    if (!cfg) {
        *why = net_error_nomem;
        return 0;
    }
    int ok = text && tls_config_set_ciphers(cfg, text) == 0;
    tls_config_free(cfg);
    if (!ok)
        *why = "no cipher list libtls takes";
    return ok;
}

int ip_tls_server_setup(const char **error, const char *key_file, const char *cert_file, void *user,
                        NetKeyPairFn pairs)
{
    if (!have_lock())
        return fail(error, net_error_nomem);
    {
        Hold hold(true);
        start_library();
    }
    tls_config *cfg = tls_config_new();
    if (!cfg)
        return fail(error, net_error_nomem);
    const char *msg = nullptr;
    uint32_t mask = 0;
    if (tls_config_parse_protocols(&mask, "secure") != 0) {
        msg = "tls_config_parse_protocols() failed";
    } else {
        tls_config_set_protocols(cfg, mask); // a parsed mask always fits
        if (tls_config_set_ciphers(cfg, "secure") != 0)
            msg = "tls_config_set_ciphers() failed";
        else if (!key_file || tls_config_set_key_file(cfg, key_file) != 0)
            msg = "Key file error";
        else if (!cert_file || tls_config_set_cert_file(cfg, cert_file) != 0)
            msg = "Cert file error";
    }
    for (int i = 0; !msg && pairs && i < kKeyPairsMax; i++) {
        const char *k = nullptr, *crt = nullptr;
        if (!pairs(user, &k, &crt))
            break;
        if (k && crt)
            tls_config_add_keypair_file(cfg, crt, k);
    }
    if (!msg) {
        Hold hold(true);
        if (server_context)
            tls_free(server_context);
        server_context = tls_server();
        if (!server_context) {
            msg = "tls_server() failed";
        } else if (tls_configure(server_context, cfg) != 0) {
            tls_free(server_context);
            server_context = nullptr;
            msg = "tls_configure() failed";
        }
    }
    tls_config_free(cfg);
    return msg ? fail(error, msg) : 1;
}

void ip_tls_set_ca_file_for_tests(const char *path)
{
    if (!have_lock())
        return;
    Hold hold(true);
    ca_file_override = path ? path : "";
}
