// Reading an RSA private key from a PEM file. It lives in a library of its
// own (tarvex_support_full, linked with libcrypto) that only the full
// program links: the plain program has no cryptography library.
#pragma once

struct evp_pkey_st;

// 1 and *key when the PEM file holds an RSA private key; 0 (and *key NULL)
// for a missing file, an unreadable or encrypted key, or a key of another
// type. pem_rsa_key_free accepts NULL and always gives 1.
int pem_rsa_key_load(const char *path, evp_pkey_st **key);
int pem_rsa_key_free(evp_pkey_st *key);
