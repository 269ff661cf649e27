// The session's seam as the plain program answers it: no DKIM, no address
// scanners.
#include "mail/seam.h"
#include "mail/writer.h"

const int mail_full_program = 0;

int mail_scan_recipient_file(MailContext *ctx, Recipient **, const char *)
{
    mail_set_errorf(ctx, "Recipient list files are not available in this program");
    return 0;
}

int mail_scan_message_file(MailContext *ctx, int, int)
{
    mail_set_errorf(ctx, "Reading addresses from the message file is not available in this program");
    return 0;
}

int mail_dkim_signs(MailContext *) { return 0; }

int mail_dkim_sign(MailContext *ctx, const char *, size_t, size_t, StrBuf *)
{
    mail_set_errorf(ctx, "DKIM signing is not available in this program");
    return MIME_FAIL_INPUT;
}

int mail_dkim_add_key(MailContext *, const char *, const char **why)
{
    *why = "DKIM signing is not available in this program";
    return 0;
}

void mail_dkim_free_keys(void) {}
