// The front end's seam: its own use of the crypto library (the version
// text of the banner, password encryption). The front end is compiled once;
// tarvex links cli/seam_full.cpp, tarvex-plain cli/seam_plain.cpp, which
// has none of it and says so. Whether this is the full program at all is
// the session seam's answer (mail_full_program, mail/seam.h), which the
// other seams of each program follow.
#pragma once

// The crypto library's version text for the banner, or NULL when the
// program links none (the plain program's banner says "No SSL").
const char *cli_seam_crypto_version(void);

// Room for a -host: password read from its encrypted form, NUL included.
enum { CLI_DECRYPTED_SIZE = 257 };
// Reads a -host: password that may be in the encrypted form. 1: out (of
// CLI_DECRYPTED_SIZE bytes) holds the password; 0: it is a plain password,
// taken as written (the plain program answers 0 for every one); -1: an
// encrypted password that cannot be decrypted here, *why saying why (a
// static text that never holds the password).
int cli_seam_decrypt_password(const char *text, char *out, const char **why);

// -encryptpass: prints the encrypted form of password (bound to this
// machine when bind is nonzero), stores the exit status of the run in
// *status and returns 1; returns 0 when this program cannot encrypt
// passwords (the caller reports the word as unknown).
int cli_seam_encrypt_password(const char *password, int bind, int *status);
