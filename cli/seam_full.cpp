// The front end's seam as the full program answers it: it names libcrypto
// in its banner, and encrypts and decrypts passwords.
#include "cli/seam.h"

#include <cstddef>
#include <openssl/crypto.h>

#include "cli/cli.h"
#include "cli/exitcode.h"
#include "cli/password.h"

const char *cli_seam_crypto_version(void) { return OpenSSL_version(OPENSSL_VERSION); }

int cli_seam_decrypt_password(const char *text, char *out, const char **why)
{
    static_assert(size_t(CLI_DECRYPTED_SIZE) >= size_t(PW_OUT_SIZE), "room for a decrypted password");
    int read = pw_decrypt(text, out);
    if (read >= 0)
        return read == PW_DECRYPTED ? 1 : 0;
    *why = pw_decrypt_failure(read);
    return -1;
}

int cli_seam_encrypt_password(const char *password, int bind, int *status)
{
    int printed = pw_encrypt_print(password, bind);
    if (printed == 0)
        cli_error("Failed to encrypt password: a password of more than %d bytes does not fit\n",
                  static_cast<int>(PW_TEXT_MAX));
    *status = printed == 1 ? EXIT_OK : EXIT_USAGE;
    return 1;
}
