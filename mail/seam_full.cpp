// The session's seam as the full program answers it: the address scanners
// here, the DKIM policy in mail/dkim_policy.cpp.
#include "mail/seam.h"

#include "mail/scan.h"

const int mail_full_program = 1;

int mail_scan_recipient_file(MailContext *ctx, Recipient **list, const char *path)
{
    return addr_scan_recipient_file(ctx, list, path);
}

int mail_scan_message_file(MailContext *ctx, int recipients, int sender)
{
    return addr_scan_message_file(ctx, recipients, sender);
}
