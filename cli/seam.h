// Where the two programs differ. The front end is compiled once; each
// program links one small unit that answers these questions:
// cli/seam_full.cpp into tarvex (TLS, DKIM and password encryption through
// libcrypto), cli/seam_plain.cpp into tarvex-plain, which has none of them
// and says so.
#pragma once

#include "mail/session.h"

// 1 when this program knows the option words marked full-only (TLS and,
// later, DKIM); the plain program refuses them as unknown words.
int cli_seam_knows_full_words(void);

// The crypto library's version text for the banner, or NULL when the
// program links none (the plain program's banner says "No SSL").
const char *cli_seam_crypto_version(void);

// Switches DKIM signing on in a new session where the program can sign (it
// signs only when a key fits the sender's domain); the plain program does
// nothing.
void cli_seam_dkim_on(MailContext *ctx);

// -dkim:domain:selector:keyfile - reads the key file and registers its key
// for the domain; the session signs from then on. 1; 0 with *why (a
// static text) when the key cannot be used; -1 when memory ran out. The
// plain program has no key registry and answers 0.
int cli_seam_dkim_add_key(MailContext *ctx, const char *value, const char **why);
// Frees the DKIM key registry at the end of the run.
void cli_seam_dkim_free(void);

// Room for a -host: password read from its encrypted form, NUL included.
enum { CLI_DECRYPTED_SIZE = 257 };
// Reads a -host: password that may be in the encrypted form. 1: out (of
// CLI_DECRYPTED_SIZE bytes) holds the password; 0: it is a plain password,
// taken as written (the plain program answers 0 for every one); -1: an
// encrypted password that cannot be decrypted on this computer.
int cli_seam_decrypt_password(const char *text, char *out);

// -encryptpass: prints the encrypted form of password (bound to this
// machine when bind is nonzero), stores the exit status of the run in
// *status and returns 1; returns 0 when this program cannot encrypt
// passwords (the caller reports the word as unknown).
int cli_seam_encrypt_password(const char *password, int bind, int *status);
