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
};
static_assert(1 + (4 * RAW_MAX + 2) / 3 == PW_TEXT_MAX, "the longest password fills the longest text");

// Bytes that may hold a secret, wiped whatever way the scope is left.
template <size_t N> struct Wiped {
    unsigned char b[N] = {};
    ~Wiped() { mem_wipe(b, N); }
};

// The machine key: the 16 bytes the machine identifier denotes, in text
// order. 1, or 0 when this computer has none.
int machine_key(unsigned char key[16])
{
    char guid[PLAT_MACHINE_GUID_SIZE] = {};
    int ok = pw_machine_guid(guid, sizeof guid) && str_parse_uuid(guid, key);
    mem_wipe(guid, sizeof guid);
    return ok;
}

// The payload of a machine-bound password, encrypted or decrypted in place
// at raw + HEAD_SIZE; its counter block starts with the 8 head bytes.
int machine_crypt(unsigned char *raw, size_t len)
{
    return pw_machine_crypt(raw + HEAD_SIZE, len, raw + HEAD_SIZE, raw, HEAD_SIZE);
}

} // namespace

int pw_machine_crypt(const unsigned char *in, size_t len, unsigned char *out, const unsigned char *iv,
                     size_t iv_len)
{
    Wiped<16> key;
    AesCtr ctx;
    return machine_key(key.b) && aes_ctr_init(&ctx, key.b, iv, iv_len) && aes_ctr_crypt(&ctx, in, out, len);
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
    Wiped<RAW_MAX> raw;
    if (RAND_bytes(raw.b, NONCE_SIZE) != 1) {
        *why = "no random bytes could be drawn";
        return 0;
    }
    raw.b[NONCE_SIZE] = bind ? 'h' : 'e';
    memcpy(raw.b + NONCE_SIZE + 1, marker, sizeof marker);
    memcpy(raw.b + HEAD_SIZE, password, len);
    if (bind && !machine_crypt(raw.b, len)) {
        *why = "this computer has no usable machine identifier";
        return 0;
    }
    AesCtr outer;
    if (!aes_ctr_init(&outer, outer_key, raw.b, NONCE_SIZE) ||
        !aes_ctr_crypt(&outer, raw.b + NONCE_SIZE, raw.b + NONCE_SIZE, len + 4)) {
        *why = "the encryption failed";
        return 0;
    }
    char text[1 + b64_encoded_size(RAW_MAX) + 1];
    text[0] = '$';
    text[1 + b64_encode_url(raw.b, static_cast<ptrdiff_t>(len + HEAD_SIZE), text + 1)] = 0;
    // Read back before it is handed out: a text that does not give the
    // password again must never be stored anywhere.
    Wiped<PW_OUT_SIZE> back;
    char *again = reinterpret_cast<char *>(back.b);
    if (pw_decrypt(text, again) != 1 || strlen(again) != len || memcmp(again, password, len) != 0) {
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
        return 0;
    // A text longer than any encryption is not decoded at all.
    size_t tlen = strnlen(text, PW_TEXT_MAX + 1);
    if (tlen > PW_TEXT_MAX)
        return 0;
    Wiped<b64_decoded_max(PW_TEXT_MAX - 1)> raw;
    size_t n = b64_decode(text + 1, static_cast<ptrdiff_t>(tlen - 1), raw.b);
    if (n < HEAD_SIZE)
        return 0;
    AesCtr outer;
    if (!aes_ctr_init(&outer, outer_key, raw.b, NONCE_SIZE) ||
        !aes_ctr_crypt(&outer, raw.b + NONCE_SIZE, raw.b + NONCE_SIZE, n - NONCE_SIZE))
        return -1;
    unsigned char type = raw.b[NONCE_SIZE];
    if ((type != 'e' && type != 'h') || memcmp(raw.b + NONCE_SIZE + 1, marker, sizeof marker) != 0)
        return 0;
    size_t len = n - HEAD_SIZE;
    if (type == 'h' && !machine_crypt(raw.b, len))
        return -1;
    // A NUL cannot be in a password given on a command line: such bytes
    // come from a key that is not this text's (another machine's) and
    // would be cut short silently.
    if (memchr(raw.b + HEAD_SIZE, 0, len))
        return -1;
    memcpy(out, raw.b + HEAD_SIZE, len);
    out[len] = 0;
    return 1;
}
