// The full program's answers at the seams: it knows the TLS words, names
// libcrypto in its banner, signs with DKIM, and recognises encrypted
// passwords.
#include "cli/seam.h"

#include <cstring>
#include <openssl/crypto.h>
#include <string>

#include "cli/secret.h"
#include "mail/option.h"
#include "support/encode.h"

int cli_seam_knows_full_words(void) { return 1; }

const char *cli_seam_crypto_version(void) { return OpenSSL_version(OPENSSL_VERSION); }

void cli_seam_dkim_on(MailContext *ctx)
{
    mail_set_option_basic(ctx, MAILOPT_DKIM, nullptr, nullptr, nullptr);
}

int cli_seam_password_is_encrypted(const char *password)
{
    // "$" and base64 text of at least the 8 bytes of nonce and marker; a
    // shorter "$" text is a plain password.
    if (password[0] != '$')
        return 0;
    size_t len = strlen(password + 1);
    std::string bytes(b64_decoded_max(len), '\0');
    size_t decoded = b64_decode(password + 1, static_cast<ptrdiff_t>(len),
                                reinterpret_cast<unsigned char *>(bytes.data()));
    cli_wipe(bytes.data(), bytes.size());
    return decoded >= 8;
}

// Password encryption comes with a later part of the program; until then
// the word is as unknown as in the plain program.
int cli_seam_encrypt_password(const char *, int, int *) { return 0; }
