// Encrypted passwords: the text "-encryptpass:" prints and "-host:" reads,
// so that configuration files and scripts need not hold a password in clear.
//
// The text is "$" and the base64url encoding (no padding) of
//   nonce (4 random bytes) | AES-128-CTR(outer key, nonce + 12 zero bytes)
//                            of: type ("e" or "h"), 0x0A 0x05 0x0A, payload
// where the payload of type "e" is the password and that of type "h" the
// password encrypted once more with AES-128-CTR under this machine's key
// (the 16 bytes of its identifier), counter block nonce, "h", 0x0A, 0x05,
// 0x0A and 8 zero bytes. There is no length field: an n-byte password
// makes n + 8 bytes. Stored texts depend on every byte of this layout.
#pragma once

#include <cstddef>
#include <cstdint>

struct evp_cipher_ctx_st;

enum {
    PW_TEXT_MAX = 256,     // longest encrypted text read, "$" included
    PW_PASSWORD_MAX = 183, // longest password whose text fits PW_TEXT_MAX
    PW_OUT_SIZE = 257,     // room for a decrypted password and its NUL
};

// Encrypts len bytes of password (bound to this machine when bind is
// nonzero) into out (at least PW_OUT_SIZE bytes) as "$" and base64url
// text, then decrypts it again and compares. A password that decryption
// would refuse (see pw_text_ok) is refused here. 1, or 0 with *why (a
// static text that never holds the password; out empty).
int pw_encrypt(const char *password, size_t len, int bind, char *out, const char **why);

// -encryptpass: prints the encrypted text of password (bound to this
// machine when bind is nonzero) and a line end on standard output.
// 1: printed and flushed. 0: nothing printed, the password is longer than
// PW_TEXT_MAX bytes. -1: it could not be encrypted or the text could not
// be written; the reason (never the password) is on standard error.
int pw_encrypt_print(const char *password, int bind);

// What pw_decrypt made of a text.
enum {
    PW_NOT_ENCRYPTED = 0, // no "$", too short, longer than PW_TEXT_MAX (never
                          // decoded) or the marker does not match: the caller
                          // takes the text as written
    PW_DECRYPTED = 1,     // out holds the password
    PW_NO_MACHINE_KEY = -1, // machine-bound, and this computer has no machine identifier
    PW_ALTERED = -2,      // an unbound text that decrypts to bytes no password holds
    PW_FOREIGN = -3,      // the same for a machine-bound text: another computer's
                          // or altered, which cannot be told apart
    PW_CIPHER_FAILED = -4, // memory ran out, or libcrypto failed
};

// Reads text as an encrypted password: one of the PW_* results above; out
// (at least PW_OUT_SIZE bytes) holds the password for PW_DECRYPTED and is
// empty otherwise. A password is well-formed UTF-8 without a control
// character (C0, DEL, C1): a wrong key or a changed byte makes random
// bytes, which are very likely to break that rule, and such bytes never go
// to a server.
int pw_decrypt(const char *text, char *out);

// Why a negative result of pw_decrypt is one (a static text that never
// holds the password).
const char *pw_decrypt_failure(int result);

// 1 when the len bytes can be a password: well-formed UTF-8 without a
// control character (C0, DEL, C1); else 0.
int pw_text_ok(const char *bytes, size_t len);

// AES-128 in counter mode: the position within the current key-stream
// block, the counter block (counted up as a 128-bit big-endian number per
// block), the key-stream block and the expanded key (libcrypto's cipher
// context, encrypting single blocks). Encrypting and decrypting are the
// same operation. What it holds is wiped when it goes.
struct AesCtr {
    uint32_t pos = 0;
    unsigned char counter[16] = {};
    unsigned char stream[16] = {};
    evp_cipher_ctx_st *key = nullptr;

    AesCtr() = default;
    AesCtr(const AesCtr &) = delete;
    AesCtr &operator=(const AesCtr &) = delete;
    ~AesCtr();
};

// Clears ctx, starts its counter block with at most 16 bytes of iv (the
// rest zero) and expands the 128-bit key. 1, or 0 when libcrypto failed.
int aes_ctr_init(AesCtr *ctx, const unsigned char key[16], const unsigned char *iv, size_t iv_len);

// Encrypts (or decrypts) len bytes of in into out (they may be the same)
// from the start of a key-stream block: each block of key stream is the
// counter block encrypted, and the counter then counts up. 1, or 0 when
// libcrypto failed.
int aes_ctr_crypt(AesCtr *ctx, const unsigned char *in, unsigned char *out, size_t len);

// Encrypts or decrypts len bytes of in into out (they may be the same)
// with AES-128-CTR under this machine's key, the counter block the first
// iv_len (at most 16) bytes of iv followed by zeros. 1, or 0 when this
// computer has no machine identifier.
int pw_machine_crypt(const unsigned char *in, size_t len, unsigned char *out, const unsigned char *iv,
                     size_t iv_len);

// The environment's COMPUTERNAME, A-Z made lower case, into buf of size
// bytes (cut to fit, NUL-terminated); empty when it is not set.
void cli_computer_name(char *buf, size_t size);

// Where the machine identifier comes from (a UUID text into out of
// PLAT_MACHINE_GUID_SIZE bytes; 1 or 0): the platform layer's, unless
// replaced to stand for another machine.
extern int (*pw_machine_guid)(char *out, size_t size);
