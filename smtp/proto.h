// The SMTP client's pure pieces: the reply grammar with its caps, the EHLO
// capability parse, the parameter texts of MAIL FROM and RCPT TO, and the
// SASL responses. Nothing here touches a connection, so every rule about
// what the server may send and what goes on the wire is tested on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/secret.h"

// ---- replies -------------------------------------------------------------------

enum : size_t {
    // Bytes of one reply line without its CR LF. RFC 5321 allows 512 with
    // the line end; servers write longer texts, none this long.
    SMTP_REPLY_LINE_MAX = 4096,
    // Lines of one reply (an EHLO reply has a few dozen at most).
    SMTP_REPLY_LINES_MAX = 128,
};

// Where one reply stands while its lines are read; zero it for each reply.
struct SmtpReplyState {
    int code;     // the code of the first line; every line must carry it
    size_t lines; // lines taken so far
};

enum {
    SMTP_LINE_MORE = 0,  // a continuation line: read on
    SMTP_LINE_FINAL = 1, // the final line: st->code is the reply's code
    SMTP_LINE_BAD = -1,  // not a reply line (see *error)
};

// Takes one reply line (CR LF removed) of len bytes. A line is three digits
// followed by the end of the line, " " (final) or "-" (continuation); the
// lines of one reply carry the same code and are at most
// SMTP_REPLY_LINES_MAX. On SMTP_LINE_BAD *error is a fixed text:
// "Empty reply line from server", "Invalid reply from server", "Reply codes
// differ within one reply" or "Reply from server has more than 128 lines".
int smtp_reply_feed(SmtpReplyState *st, const char *line, size_t len, const char **error);

// ---- EHLO ----------------------------------------------------------------------

// What one EHLO reply offered.
struct SmtpEhloOffer {
    uint32_t flags;  // MAILF_SERVER_DSN and the MAILF_AUTH_* bits
    uint32_t flags2; // MAILF2_SERVER_SMTPUTF8
    int starttls;    // the reply offered STARTTLS
};

// Applies one line of an EHLO reply (code included, CR LF removed) to
// *offer. The keyword text starts at the fifth character and is compared
// without regard to ASCII case: "STARTTLS", "DSN" and "SMTPUTF8" as whole
// texts; "AUTH " followed by mechanism names separated by blanks, taken only
// when have_user is set and only for mechanisms not in no_mask (the session's
// MAILF_NO_* bits).
void smtp_ehlo_parse_line(SmtpEhloOffer *offer, const char *line, size_t len, int have_user,
                          uint32_t no_mask);

// ---- envelope parameters -------------------------------------------------------

enum { SMTP_NOTIFY_TEXT_SIZE = 30 };

// The NOTIFY parameter of 4 MAIL_NOTIFY_* bits into buf (SMTP_NOTIFY_TEXT_SIZE
// bytes): " NOTIFY=NEVER" when NEVER is set (the other bits then ignored),
// else " NOTIFY=" with SUCCESS, FAILURE, DELAY joined by ","; "" for no bit.
// Returns buf.
char *smtp_notify_text(char *buf, unsigned bits);

// RFC 3461 xtext: bytes outside "!" to "~", and "+" and "=", as "+" and two
// upper-case hexadecimal digits.
std::string smtp_xtext(const char *text);

// ---- SASL ----------------------------------------------------------------------

// Every SASL response and its base64 form live in a SecretText. The
// encoders below throw std::bad_alloc when the holder cannot be made (the
// stage fence of the SMTP client turns that into the out-of-memory mark).

// base64 (standard alphabet, "=" fill) of len bytes into out.
void smtp_sasl_base64(const void *data, size_t len, SecretText *out);

// PLAIN (RFC 4616): base64 of NUL, user, NUL, password.
void smtp_sasl_plain(const char *user, const char *password, SecretText *out);

// OAUTHBEARER (RFC 7628): base64 of "n,a=" user "," 0x01 "auth=Bearer "
// token 0x01 0x01, with "," and "=" in the user name written as "=2C" and
// "=3D". Tokens of any length. 0x01 separates the fields, so a user name or
// token that holds it is refused: 0 with *error (a static text naming which
// one; out untouched), else 1.
int smtp_sasl_oauthbearer(const char *user, const char *token, SecretText *out, const char **error);

// Longest CRAM-MD5 challenge taken, in decoded bytes (RFC 2195 challenges are
// a message identifier of a few dozen).
enum { SMTP_CRAM_CHALLENGE_MAX = 1024 };

// CRAM-MD5 (RFC 2195): from the base64 challenge (the text of the 334 line
// after "334 ", len bytes), base64 of the user name, a blank and the
// HMAC-MD5 of the challenge under the password as 32 lower-case hex digits.
// The challenge counts up to its first NUL byte. Returns 1, or 0 with *error
// "empty challenge" / "challenge too long" (nothing in out).
int smtp_sasl_cram_md5(const char *user, const char *password, const char *challenge, size_t len,
                       SecretText *out, const char **error);
