// The plain program's stand-in for the TLS layer: the same entry points,
// each answering that TLS is not in this program, and no TLS library.
#include "net/tls.h"

namespace {
const char kNoTls[] = "TLS is not available in this program";
}

int ip_tls_start(Connection *, int, const char **error, const char *, int, const char *, const char *)
{
    if (error)
        *error = kNoTls;
    return 0;
}

int ip_tls_server_setup(const char **error, const char *, const char *, void *, NetKeyPairFn)
{
    if (error)
        *error = kNoTls;
    return 0;
}

int ip_tls_check_protocols(const char *, const char **why)
{
    *why = kNoTls;
    return 0;
}

int ip_tls_check_ciphers(const char *, const char **why)
{
    *why = kNoTls;
    return 0;
}

void ip_tls_set_ca_file_for_tests(const char *) {}
