// A digest that keeps the text it is fed instead of hashing it, so that the
// tests of the DKIM signer see the canonical text that goes into a digest.
#pragma once

#include <cstring>
#include <openssl/evp.h>
#include <string>

#include "dkim/dkim.h"

// Where the recording digest appends what it is fed.
inline std::string *&dkim_record_target()
{
    static std::string *target = nullptr;
    return target;
}

// The legacy method interface is the one way to plug a digest of one's own
// into a digest context.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
inline const EVP_MD *dkim_record_md()
{
    static EVP_MD *md = [] {
        EVP_MD *m = EVP_MD_meth_new(NID_undef, NID_undef);
        EVP_MD_meth_set_result_size(m, 32);
        EVP_MD_meth_set_app_datasize(m, 8); // without state of its own, updates are refused
        EVP_MD_meth_set_init(m, [](EVP_MD_CTX *) { return 1; });
        EVP_MD_meth_set_update(m, [](EVP_MD_CTX *, const void *data, size_t len) {
            dkim_record_target()->append(static_cast<const char *>(data), len);
            return 1;
        });
        EVP_MD_meth_set_final(m, [](EVP_MD_CTX *, unsigned char *out) {
            memset(out, 0, 32);
            return 1;
        });
        return m;
    }();
    return md;
}
#pragma GCC diagnostic pop

// The text that one piece (DKIM_HASH_*) puts into its digest under the
// canonicalisation canon: the body through dkim_hash_body, a header field
// or the unsigned field through dkim_hash_header.
inline std::string dkim_record(int canon, int mode, const std::string &text)
{
    std::string out;
    dkim_record_target() = &out;
    DkimContext c;
    dkim_ctx_init(&c, text.data(), 0, text.data(), text.size());
    c.canon = canon;
    EVP_DigestInit_ex(mode == DKIM_HASH_BODY ? c.body_md : c.header_md, dkim_record_md(), nullptr);
    if (mode == DKIM_HASH_BODY)
        dkim_hash_body(&c, nullptr);
    else
        dkim_hash_header(&c, mode, text.data(), text.size());
    dkim_ctx_clear(&c);
    dkim_record_target() = nullptr;
    return out;
}
