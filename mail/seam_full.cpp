// The session's seam as the full program answers it.
#include "mail/seam.h"

#include "mail/scan.h"

const int mail_full_program = 1;

// Named on the link line of every program that links this seam (see
// mail/CMakeLists.txt), so that this file is always taken, whatever the
// order of the libraries; a program that links both seams fails to link.
extern const int mail_seam_full;
const int mail_seam_full = 1;

int mail_scan_recipient_file(MailContext *ctx, Recipient **list, const char *path)
{
    return addr_scan_recipient_file(ctx, list, path);
}

int mail_scan_message_file(MailContext *ctx, int recipients, int sender)
{
    return addr_scan_message_file(ctx, recipients, sender);
}
