// Reading an RSA private key from a PEM file, for the full program only:
// the plain program links no cryptography library.
#include "support/pem.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include "support/file.h"

// An encrypted key must fail here, not stop the run to ask on the terminal
// for a passphrase (what the library does when no callback is given).
static int no_passphrase(char *, int, int, void *) { return -1; }

int pem_rsa_key_load(const char *path, evp_pkey_st **key)
{
    if (!key)
        return 0;
    *key = nullptr;
    FILE *fp = file_fopen_utf8(path, "rb");
    if (!fp)
        return 0;
    EVP_PKEY *pkey = PEM_read_PrivateKey(fp, nullptr, no_passphrase, nullptr);
    fclose(fp);
    if (!pkey)
        return 0;
    if (EVP_PKEY_base_id(pkey) != EVP_PKEY_RSA) {
        EVP_PKEY_free(pkey); // a key, but not an RSA one
        return 0;
    }
    *key = pkey;
    return 1;
}

int pem_rsa_key_free(evp_pkey_st *key)
{
    EVP_PKEY_free(key); // NULL is accepted
    return 1;
}
