// Fresh private keys in PEM form for the tests of the DKIM signer.
#pragma once

#include <cstring>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <string>

// The text written into a memory BIO, which is freed.
inline std::string test_bio_text(BIO *bio)
{
    char *data;
    long len = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<size_t>(len));
    BIO_free(bio);
    return text;
}

// A new key of type "RSA" (1024 bits, quick to make), "ED25519" or "EC"
// (P-256), PEM-encoded; encrypted with a pass phrase when asked.
inline std::string test_key_pem(const char *type, bool encrypted = false)
{
    EVP_PKEY *key = strcmp(type, "RSA") == 0  ? EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{1024})
                    : strcmp(type, "EC") == 0 ? EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")
                                              : EVP_PKEY_Q_keygen(nullptr, nullptr, type);
    BIO *bio = BIO_new(BIO_s_mem());
    if (encrypted)
        PEM_write_bio_PKCS8PrivateKey(bio, key, EVP_aes_256_cbc(), "pw", 2, nullptr, nullptr);
    else
        PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    EVP_PKEY_free(key);
    return test_bio_text(bio);
}

// The public key of a PEM private key, PEM-encoded.
inline std::string test_public_pem(const std::string &private_pem)
{
    BIO *in = BIO_new_mem_buf(private_pem.data(), static_cast<int>(private_pem.size()));
    EVP_PKEY *key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
    BIO_free(in);
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PUBKEY(bio, key);
    EVP_PKEY_free(key);
    return test_bio_text(bio);
}
