// The SMTP side of the session actions. The SMTP client sits above the
// session, so the session cannot call it by name: the client installs these
// functions (smtp_install), and the actions MAILOPT_CONNECT, MAILOPT_QUIT,
// MAILOPT_SEND, MAILOPT_DELIVER and MAILOPT_FREE call them. Until they are
// installed, the actions that need a server fail with a message.
#pragma once

#include "mail/session.h"

struct MailDelivery {
    int (*connect_and_login)(MailContext *ctx); // 1 when ready for MAIL FROM
    int (*send_message)(MailContext *ctx);      // 1 when the end of data was accepted
    int (*quit)(MailContext *ctx, int result);  // QUIT, close; report with a nonzero result
    int (*drop_connection)(MailContext *ctx);   // a lost connection: report and close
    void (*apply_timeout)(MailContext *ctx);    // ctx->timeout onto the open connection
};

// Installs the functions (NULL removes them). They must outlive every session.
void mail_set_delivery(const MailDelivery *delivery);
