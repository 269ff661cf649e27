// The session's seam as the full program answers it.
#include "mail/seam.h"

const int mail_full_program = 1;

// Named on the link line of every program that links this seam (see
// mail/CMakeLists.txt), so that this file is always taken, whatever the
// order of the libraries; a program that links both seams fails to link.
extern const int mail_seam_full;
const int mail_seam_full = 1;

// The address scanners are not part of the library yet: until they are,
// the full program refuses these requests with a reason rather than take
// nothing from the file.
int mail_scan_recipient_file(MailContext *ctx, Recipient **, const char *)
{
    mail_set_errorf(ctx, "Recipient list files are not available in this build");
    return 0;
}

int mail_scan_message_file(MailContext *ctx, int, int)
{
    mail_set_errorf(ctx, "Reading addresses from the message file is not available in this build");
    return 0;
}
