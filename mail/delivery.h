// The SMTP side of the session actions. The SMTP client sits above the
// session, so the session cannot call it by name: the client installs these
// functions (smtp_install), and the actions MAILOPT_CONNECT, MAILOPT_QUIT,
// MAILOPT_SEND, MAILOPT_DELIVER and MAILOPT_FREE call them, as do the
// process start-up and clean-up (mail_global_init) and mail_connection_info.
// Until they are installed, the actions that need a server fail with a
// message.
#pragma once

#include <cstddef>

#include "mail/session.h"

struct MailDelivery {
    int (*connect_and_login)(MailContext *ctx); // 1 when ready for MAIL FROM
    int (*send_message)(MailContext *ctx);      // 1 when the end of data was accepted
    int (*quit)(MailContext *ctx, int result);  // QUIT, close; report with a nonzero result
    int (*drop_connection)(MailContext *ctx);   // a lost connection: report and close
    void (*apply_timeout)(MailContext *ctx);    // ctx->timeout onto the open connection
    // The address text of the open connection's peer into buf (size
    // bytes); NULL (buf empty) when it cannot be read.
    char *(*peer_address)(const MailContext *ctx, char *buf, size_t size);
    void (*net_start)(void); // the network library's start-up (with TLS where built)
    int (*net_stop)(void);   // its clean-up; the system's result
};

// Installs the functions (NULL removes them). They must outlive every session.
void mail_set_delivery(const MailDelivery *delivery);
// The installed functions, or NULL.
const MailDelivery *mail_installed_delivery(void);
