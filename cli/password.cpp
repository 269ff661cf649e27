// Encrypted passwords: AES-128 in counter mode over libcrypto's block
// cipher, the nonce from RAND_bytes, the machine key from the platform
// layer.
#include "cli/password.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "cli/cli.h"
#include "platform/platform.h"
#include "support/encode.h"
#include "support/secret.h"
#include "support/str.h"
#include "support/util.h"

int (*pw_machine_guid)(char *out, size_t size) = plat_machine_guid;

AesCtr::~AesCtr()
{
    EVP_CIPHER_CTX_free(key); // cleanses the key schedule
    mem_wipe(counter, sizeof counter);
    mem_wipe(stream, sizeof stream);
}

int aes_ctr_init(AesCtr *ctx, const unsigned char key[16], const unsigned char *iv, size_t iv_len)
{
    EVP_CIPHER_CTX_free(ctx->key);
    ctx->key = nullptr;
    ctx->pos = 0;
    mem_wipe(ctx->stream, sizeof ctx->stream);
    mem_wipe(ctx->counter, sizeof ctx->counter);
    memcpy(ctx->counter, iv, iv_len < sizeof ctx->counter ? iv_len : sizeof ctx->counter);
    ctx->key = EVP_CIPHER_CTX_new();
    return ctx->key && EVP_EncryptInit_ex(ctx->key, EVP_aes_128_ecb(), nullptr, key, nullptr) == 1 &&
           EVP_CIPHER_CTX_set_padding(ctx->key, 0) == 1;
}

int aes_ctr_crypt(AesCtr *ctx, const unsigned char *in, unsigned char *out, size_t len)
{
    ctx->pos = 0;
    for (size_t i = 0; i < len; i++) {
        if (ctx->pos == 0) {
            int made = 0;
            if (EVP_EncryptUpdate(ctx->key, ctx->stream, &made, ctx->counter, sizeof ctx->counter) != 1 ||
                made != static_cast<int>(sizeof ctx->stream))
                return 0;
            // The next block's counter: plus one, carried from the last byte.
            for (size_t b = sizeof ctx->counter; b-- > 0 && ++ctx->counter[b] == 0;) {
            }
        }
        out[i] = static_cast<unsigned char>(in[i] ^ ctx->stream[ctx->pos]);
        ctx->pos = (ctx->pos + 1) % sizeof ctx->stream;
    }
    return 1;
}

namespace {

// The key of the outer encryption, built into the program.
const unsigned char outer_key[16] = {0x5f, 0x1c, 0x9a, 0x03, 0xe7, 0xb2, 0x4d, 0x86,
                                     0xa0, 0xc3, 0xf9, 0x12, 0x7e, 0x6b, 0x8d, 0x45};
const unsigned char marker[3] = {0x0A, 0x05, 0x0A};
enum {
    NONCE_SIZE = 4,
    HEAD_SIZE = 8, // nonce, type, marker
    RAW_MAX = HEAD_SIZE + PW_PASSWORD_MAX,
    MACHINE_KEY_SIZE = 16,
};
static_assert(1 + (4 * RAW_MAX + 2) / 3 == PW_TEXT_MAX, "the longest password fills the longest text");

// Room for n secret bytes in holder, all zero; NULL when memory ran out.
unsigned char *secret_room(SecretText *holder, size_t n)
{
    return reinterpret_cast<unsigned char *>(holder->resize(n));
}

enum {
    CRYPT_DONE = 1,
    CRYPT_NO_MACHINE_KEY = 0, // this computer has no machine identifier
    CRYPT_FAILED = -1,        // memory ran out, or libcrypto failed
};

// Encrypts or decrypts len bytes of in into out with the machine key: the
// 16 bytes the machine identifier denotes, in text order. One of CRYPT_*.
int machine_crypt(const unsigned char *in, size_t len, unsigned char *out, const unsigned char *iv,
                  size_t iv_len)
{
    SecretText guid, key;
    unsigned char *k = secret_room(&key, MACHINE_KEY_SIZE);
    if (!k || !guid.resize(PLAT_MACHINE_GUID_SIZE - 1))
        return CRYPT_FAILED;
    if (!pw_machine_guid(guid.data(), PLAT_MACHINE_GUID_SIZE) || !str_parse_uuid(guid.data(), k))
        return CRYPT_NO_MACHINE_KEY;
    AesCtr ctx;
    return aes_ctr_init(&ctx, k, iv, iv_len) && aes_ctr_crypt(&ctx, in, out, len) ? CRYPT_DONE : CRYPT_FAILED;
}

// The payload of a machine-bound password, encrypted or decrypted in place
// at raw + HEAD_SIZE; its counter block starts with the 8 head bytes.
int machine_crypt_payload(unsigned char *raw, size_t len)
{
    return machine_crypt(raw + HEAD_SIZE, len, raw + HEAD_SIZE, raw, HEAD_SIZE);
}

} // namespace

int pw_machine_crypt(const unsigned char *in, size_t len, unsigned char *out, const unsigned char *iv,
                     size_t iv_len)
{
    return machine_crypt(in, len, out, iv, iv_len) == CRYPT_DONE;
}

int pw_text_ok(const char *bytes, size_t len)
{
    for (size_t i = 0; i < len;) {
        uint32_t cp = 0;
        size_t n = utf8_decode(bytes + i, len - i, &cp);
        if (!n || cp < 0x20 || (cp >= 0x7f && cp <= 0x9f))
            return 0;
        i += n;
    }
    return 1;
}

void cli_computer_name(char *buf, size_t size)
{
    if (!buf || !size)
        return;
    const char *name = getenv("COMPUTERNAME");
    size_t n = 0;
    for (; name && name[n] && n + 1 < size; n++)
        buf[n] = name[n] >= 'A' && name[n] <= 'Z' ? static_cast<char>(name[n] - 'A' + 'a') : name[n];
    buf[n] = 0;
}

int pw_encrypt(const char *password, size_t len, int bind, char *out, const char **why)
{
    out[0] = 0;
    if (len > PW_PASSWORD_MAX) {
        *why = "a password of more than 183 bytes does not fit";
        return 0;
    }
    // Decryption takes only such passwords, so only they are encrypted.
    if (!pw_text_ok(password, len)) {
        *why = "the password holds a control character or is not valid UTF-8";
        return 0;
    }
    SecretText raw_holder, back;
    unsigned char *raw = secret_room(&raw_holder, RAW_MAX);
    if (!raw || !back.resize(PW_OUT_SIZE - 1)) {
        *why = "memory ran out";
        return 0;
    }
    if (RAND_bytes(raw, NONCE_SIZE) != 1) {
        *why = "no random bytes could be drawn";
        return 0;
    }
    raw[NONCE_SIZE] = bind ? 'h' : 'e';
    memcpy(raw + NONCE_SIZE + 1, marker, sizeof marker);
    memcpy(raw + HEAD_SIZE, password, len);
    if (bind) {
        int crypt = machine_crypt_payload(raw, len);
        if (crypt != CRYPT_DONE) {
            *why = crypt == CRYPT_NO_MACHINE_KEY ? "this computer has no usable machine identifier"
                                                 : "the encryption failed";
            return 0;
        }
    }
    AesCtr outer;
    if (!aes_ctr_init(&outer, outer_key, raw, NONCE_SIZE) ||
        !aes_ctr_crypt(&outer, raw + NONCE_SIZE, raw + NONCE_SIZE, len + 4)) {
        *why = "the encryption failed";
        return 0;
    }
    char text[1 + b64_encoded_size(RAW_MAX) + 1];
    text[0] = '$';
    text[1 + b64_encode_url(raw, static_cast<ptrdiff_t>(len + HEAD_SIZE), text + 1)] = 0;
    // Read back before it is handed out: a text that does not give the
    // password again must never be stored anywhere.
    char *again = back.data();
    if (pw_decrypt(text, again) != PW_DECRYPTED || strlen(again) != len || memcmp(again, password, len) != 0) {
        *why = "the encrypted text does not decrypt to the password";
        return 0;
    }
    memcpy(out, text, strlen(text) + 1);
    return 1;
}

int pw_encrypt_print(const char *password, int bind)
{
    size_t len = strlen(password);
    if (len > PW_TEXT_MAX)
        return 0;
    char text[PW_OUT_SIZE];
    const char *why = "";
    if (!pw_encrypt(password, len, bind, text, &why)) {
        cli_error("Failed to encrypt password: %s\n", why);
        return -1;
    }
    cli_out("%s\n", text);
    // A text that did not reach its reader whole must not look stored.
    if (fflush(stdout) != 0 || ferror(stdout)) {
        cli_error("Failed to encrypt password: standard output cannot be written\n");
        return -1;
    }
    return 1;
}

int pw_decrypt(const char *text, char *out)
{
    out[0] = 0;
    if (text[0] != '$')
        return PW_NOT_ENCRYPTED;
    // A text longer than any encryption is not decoded at all.
    size_t tlen = strnlen(text, PW_TEXT_MAX + 1);
    if (tlen > PW_TEXT_MAX)
        return PW_NOT_ENCRYPTED;
    SecretText raw_holder;
    unsigned char *raw = secret_room(&raw_holder, b64_decoded_max(PW_TEXT_MAX - 1));
    if (!raw)
        return PW_CIPHER_FAILED;
    size_t n = b64_decode(text + 1, static_cast<ptrdiff_t>(tlen - 1), raw);
    if (n < HEAD_SIZE)
        return PW_NOT_ENCRYPTED;
    AesCtr outer;
    if (!aes_ctr_init(&outer, outer_key, raw, NONCE_SIZE) ||
        !aes_ctr_crypt(&outer, raw + NONCE_SIZE, raw + NONCE_SIZE, n - NONCE_SIZE))
        return PW_CIPHER_FAILED;
    unsigned char type = raw[NONCE_SIZE];
    if ((type != 'e' && type != 'h') || memcmp(raw + NONCE_SIZE + 1, marker, sizeof marker) != 0)
        return PW_NOT_ENCRYPTED;
    size_t len = n - HEAD_SIZE;
    if (type == 'h') {
        int crypt = machine_crypt_payload(raw, len);
        if (crypt != CRYPT_DONE)
            return crypt == CRYPT_NO_MACHINE_KEY ? PW_NO_MACHINE_KEY : PW_CIPHER_FAILED;
    }
    // Another machine's key, or a changed byte, gives random bytes, which
    // go to no server. There is no check value in the stored layout: random
    // bytes that happen to look like a password pass.
    const char *password = reinterpret_cast<const char *>(raw + HEAD_SIZE);
    if (!pw_text_ok(password, len))
        return type == 'h' ? PW_FOREIGN : PW_ALTERED;
    memcpy(out, password, len);
    out[len] = 0;
    return PW_DECRYPTED;
}

const char *pw_decrypt_failure(int result)
{
    switch (result) {
    case PW_NO_MACHINE_KEY:
        return "the text is bound to a computer, and this one has no usable machine identifier";
    case PW_ALTERED:
        return "the text was altered (it decrypts to control characters or invalid UTF-8)";
    case PW_FOREIGN:
        return "the text was made with -bindpass on another computer, or altered; the two cannot be "
               "told apart (it decrypts to control characters or invalid UTF-8)";
    default:
        return "memory ran out or the cipher failed";
    }
}
