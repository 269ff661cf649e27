// What the two programs answer differently at the session's seams. The
// mail library is compiled once, with one layout of every record for both
// programs; each program links one small seam library that answers for it:
//   tarvex        links tarvex_mail_seam_full  (mail/seam_full.cpp)
//   tarvex-plain  links tarvex_mail_seam_plain (mail/seam_plain.cpp)
// The plain program has no DKIM signer, no password encryption and no
// address scanners; its seam says "not in this program" in their place.
#pragma once

#include "mail/lists.h"
#include "mail/session.h"
#include "support/fmt.h"

// 1 in the full program, 0 in the plain one. Where it is 0 the option rows
// marked full-only are missing and fail like unlisted option numbers.
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
