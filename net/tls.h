// TLS on a connection, through libtls. The full program links the TLS
// library (tarvex_net_tls); the plain program links a stand-in
// (tarvex_net_tls_plain) whose every entry point answers that TLS is not in
// this program. Both offer this same interface.
#pragma once

#include "net/conn.h"

// Starts TLS on a connected CONN_TCP connection: right after the connect
// (and any proxy tunnel) for implicit TLS, or after the peer agreed to
// STARTTLS. server 0: client for server_name (also the name checked with
// verify); nonzero: the server side, with the context of
// ip_tls_server_setup. verify nonzero checks the certificate chain against
// the system's trusted authorities and the name; 0 accepts any certificate.
// protocols and ciphers are libtls texts (NULL: "all").
//
// Refused without any handshake when TLS is already on, when the send
// buffer cannot be flushed, and when bytes the peer sent after its last
// reply are waiting (in the receive buffer, or already on the socket for a
// client): such bytes would be taken for protected data.
//
// Every handshake wait lasts at most timeout_ms, and never longer than 5
// seconds; the whole handshake ends within timeout_ms. 1 when the handshake completed; 0 otherwise, with *error (when
// error is given) pointing at the reason: the connection's error text
// (valid until the connection's next failure or ip_free), a fixed text,
// or net_error_nomem when memory ran out. A connection whose start failed
// must be closed; ip_close frees whatever TLS state it kept.
//
// The client configuration is made by the first start and kept for the
// process; a later start that asks for different verification, protocols
// or ciphers gets a configuration of its own instead of silently the old
// one.
int ip_tls_start(Connection *c, int server, const char **error, const char *server_name, int verify,
                 const char *protocols, const char *ciphers);

// Checks a protocol list or a cipher list in libtls's syntax as a TLS
// start would take it, without starting anything, so that a list that
// could never work is refused when it is given. 1 when it is usable; 0 with
// *why pointing at a fixed text (net_error_nomem when memory ran out). A
// protocol list that enables no protocol ("!all") is not usable.
int ip_tls_check_protocols(const char *text, const char **why);
int ip_tls_check_ciphers(const char *text, const char **why);

// Source of further key pairs for the server: called until it answers 0;
// each call may fill *key_file and *cert_file with one more pair.
typedef int (*NetKeyPairFn)(void *user, const char **key_file, const char **cert_file);

// Makes the process-wide server context from a private-key file and a
// certificate file (plus the pairs of pairs, which may be NULL), replacing
// any earlier one. 1, or 0 with *error (must be given) pointing at a fixed
// text.
int ip_tls_server_setup(const char **error, const char *key_file, const char *cert_file, void *user,
                        NetKeyPairFn pairs);

// Tests only: trust the authorities in this PEM file instead of the
// system's (NULL: the system's again). Client starts from then on use it.
void ip_tls_set_ca_file_for_tests(const char *path);
