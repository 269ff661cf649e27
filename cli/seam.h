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
// for the domain; the session signs from then on. 1, or 0 with *why (a
// static text; "out of memory" when memory ran out). The plain program
// has no key registry and answers 0.
int cli_seam_dkim_add_key(MailContext *ctx, const char *value, const char **why);
// Frees the DKIM key registry at the end of the run.
void cli_seam_dkim_free(void);

// 1 when a -host: password is in the encrypted form ("$" and base64 text
// long enough for nonce and marker), which only the full program can read;
// the plain program takes every password as written and answers 0.
int cli_seam_password_is_encrypted(const char *password);

// -encryptpass: prints the encrypted form of password (bound to this
// machine when bind is nonzero), stores the exit status of the run in
// *status and returns 1; returns 0 when this program cannot encrypt
// passwords (the caller reports the word as unknown).
int cli_seam_encrypt_password(const char *password, int bind, int *status);
