// The SMTP client behind the session actions (mail/delivery.h).
#include "mail/delivery.h"
#include "smtp/smtp.h"
#include "smtp/wire.h"

namespace {

const MailDelivery smtp_delivery = {
    smtp_connect_and_login, smtp_send_message, smtp_quit, smtp_drop_connection,
    wire_apply_timeout, wire_peer_address, wire_global_init, wire_global_cleanup,
};

} // namespace

void smtp_install(void)
{
    wire_global_init();
    mail_set_delivery(&smtp_delivery);
}
