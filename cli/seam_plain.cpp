// The front end's seam as the plain program answers it: no crypto library,
// no password encryption.
#include "cli/seam.h"

const char *cli_seam_crypto_version(void) { return nullptr; }

int cli_seam_decrypt_password(const char *, char *out, const char **)
{
    out[0] = 0;
    return 0;
}

int cli_seam_encrypt_password(const char *, int, int *) { return 0; }
