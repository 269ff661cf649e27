// The plain program's answers at the seams: no TLS words, no crypto
// library, no DKIM, no password encryption.
#include "cli/seam.h"

int cli_seam_knows_full_words(void) { return 0; }

const char *cli_seam_crypto_version(void) { return nullptr; }

void cli_seam_dkim_on(MailContext *) {}

int cli_seam_decrypt_password(const char *, char *out)
{
    out[0] = 0;
    return 0;
}

int cli_seam_encrypt_password(const char *, int, int *) { return 0; }

int cli_seam_dkim_add_key(MailContext *, const char *, const char **why)
{
    *why = "DKIM signing is not available in this program";
    return 0;
}

void cli_seam_dkim_free(void) {}
