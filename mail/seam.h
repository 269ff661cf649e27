// What the two programs answer differently. The libraries are compiled
// once, with one layout of every record for both programs; each program
// links one small seam of each kind that answers for it:
//   tarvex        tarvex_mail_seam_full  (mail/seam_full.cpp, mail/dkim_policy.cpp)
//                 tarvex_cli_seam_full, tarvex_net_tls
//   tarvex-plain  tarvex_mail_seam_plain (mail/seam_plain.cpp)
//                 tarvex_cli_seam_plain, tarvex_net_tls_plain
// The plain program has no TLS, no DKIM signer, no password encryption and
// no address scanners; its seams say "not in this program" in their place.
// Every seam is linked whole (an object library): a program that links
// both of a kind fails on their shared definitions, one that links neither
// on the missing ones.
#pragma once

#include "mail/lists.h"
#include "mail/session.h"
#include "support/fmt.h"

// 1 in the full program, 0 in the plain one: the one answer to "is this
// the full program?". Where it is 0 the option rows marked full-only are
// missing and fail like unlisted option numbers, the front end refuses its
// full-only words as unknown and the SMTP client offers no TLS.
extern const int mail_full_program;

// The address scanners. Each returns 1, or 0 with the reason in the
// session's error text and nothing changed.
// Pushes every address of the recipient list file at path (with its
// display name) in front of *list.
int mail_scan_recipient_file(MailContext *ctx, Recipient **list, const char *path);
// Takes the recipients (the To and Cc fields, with recipients nonzero)
// and the sender (the From field, with sender nonzero) from the header of
// the session's message file.
int mail_scan_message_file(MailContext *ctx, int recipients, int sender);

// DKIM signing. 1 when the session signs its message: signing is on and a
// key is registered for the sender's domain or, failing that, for the
// default signing domain. The plain program never signs.
int mail_dkim_signs(MailContext *ctx);
// Appends to fields one DKIM-Signature field per chosen canonicalisation
// and algorithm (the session's defaults are stored when none is chosen)
// for the rendered message text (len bytes, header block header_len bytes,
// then the blank line). MIME_OK, or a failure with error_text saying why:
// MIME_FAIL_INPUT when no field could be made or a signature failed,
// MIME_FAIL_NOMEM. A chosen algorithm that no key of the domain fits is
// left out.
int mail_dkim_sign(MailContext *ctx, const char *text, size_t len, size_t header_len, StrBuf *fields);
// -dkim:domain:selector:keyfile - reads the key file and registers its key
// for the domain in the process's key registry; the session signs from
// then on. 1; 0 with *why (a static text) when the key cannot be used; -1
// when memory ran out; -2 when the domain is refused (no valid domain, see
// mail_dkim_domain_ascii), with the reason in the session's error text;
// -3 when the key file cannot be opened or read, with the reason and the
// system's in the session's error text.
// The plain program has no key registry and answers 0.
int mail_dkim_add_key(MailContext *ctx, const char *value, const char **why);
// Frees the process's DKIM key registry at the end of the run.
void mail_dkim_free_keys(void);
