// DKIM canonicalisation and signing over any text: canonical output is a
// fixed point (canonicalising it again changes nothing), relaxed output
// has no blank runs, no blanks at line ends and no empty lines at the end,
// a canonical header field is one line, and the signer makes a field or
// says why for any header block, never reading past the message.
#include <cstdlib>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "dkim/dkim.h"
#include "fuzz.h"
#include "../unit/dkim_record.h"

namespace {

std::string body(int relaxed, const std::string &in)
{
    return dkim_record(relaxed ? DKIM_CANON_SIMPLE_RELAXED : DKIM_CANON_SIMPLE_SIMPLE, DKIM_HASH_BODY, in);
}

std::string header(int relaxed, const std::string &in)
{
    return dkim_record(relaxed ? DKIM_CANON_RELAXED_SIMPLE : DKIM_CANON_SIMPLE_SIMPLE, DKIM_HASH_FIELD, in);
}

// One Ed25519 key for every input: signing is what is fuzzed, not keys.
const DkimKeyDomain *signing_domain()
{
    static AvlNode *root = nullptr;
    static const DkimKeyDomain *d = [] {
        EVP_PKEY *key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
        BIO *bio = BIO_new(BIO_s_mem());
        PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
        char *data;
        long len = BIO_get_mem_data(bio, &data);
        std::string pem(data, static_cast<size_t>(len));
        BIO_free(bio);
        EVP_PKEY_free(key);
        return dkim_keys_add(&root, "example.com", "s", pem.c_str(), nullptr);
    }();
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t mode = in.byte();
    const std::string text = in.rest();

    for (int relaxed = 0; relaxed < 2; relaxed++) {
        std::string b = body(relaxed, text);
        FUZZ_CHECK(body(relaxed, b) == b);
        if (relaxed) {
            FUZZ_CHECK(b.empty() || (b.size() >= 2 && b.compare(b.size() - 2, 2, "\r\n") == 0));
            FUZZ_CHECK(b.find("  ") == std::string::npos && b.find('\t') == std::string::npos);
            FUZZ_CHECK(b.find(" \r\n") == std::string::npos);
            FUZZ_CHECK(b.size() < 4 || b.compare(b.size() - 4, 4, "\r\n\r\n") != 0);
        } else {
            FUZZ_CHECK(b.size() >= 2 && b.compare(b.size() - 2, 2, "\r\n") == 0);
        }
        std::string h = header(relaxed, text);
        if (relaxed) {
            FUZZ_CHECK(h.find_first_of("\r\n") == h.size() - 2);
            FUZZ_CHECK(h.find("  ") == std::string::npos && h.find('\t') == std::string::npos);
            // The canonical field, without its line end, is its own canonical form.
            FUZZ_CHECK(header(1, h.substr(0, h.size() - 2)) == h);
        }
    }

    // The text as a message: the header block ends at a line end chosen by
    // the input (or at the end), the body follows a line end later.
    size_t header_len = text.size();
    size_t at = text.find("\r\n");
    for (int n = mode % 8; at != std::string::npos && n > 0; n--)
        at = text.find("\r\n", at + 2);
    if (at != std::string::npos)
        header_len = at + 2;
    size_t body_start = header_len + 2 <= text.size() ? header_len + 2 : text.size();
    DkimContext ctx;
    FUZZ_CHECK(dkim_ctx_init(&ctx, text.data(), header_len, text.data() + body_start, text.size() - body_start));
    char *field = nullptr;
    const char *why = nullptr;
    int canon = 1 << (mode >> 6 & 3);
    if (dkim_sign(&ctx, canon, DKIM_ALG_ED25519_SHA256, signing_domain(), 0, &field, &why)) {
        FUZZ_CHECK(why == nullptr && field);
        std::string f = field;
        FUZZ_CHECK(f.compare(0, 15, "DKIM-Signature:") == 0 && f.compare(f.size() - 3, 3, ";\r\n") == 0);
        free(field);
    } else {
        FUZZ_CHECK(why != nullptr && field == nullptr);
    }
    dkim_ctx_clear(&ctx);
    return 0;
}
