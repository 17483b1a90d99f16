#pragma once
// E-mail to the tagged buyers: the "Compose SMTP Message" link, the compose
// page and its Send link. One message per order, each filled from its own
// order and recorded in SentMessages.xml once the server took it.

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"

#include <string_view>

namespace tw::messaging {

inline constexpr std::string_view kSmtpTitle = "Send SMTP Message";

// Puts the tagged orders of the drawn view (looked up in the archive when
// the Archived view shows) into the order selection and opens the compose
// page. No tagged order: "Please tag an item first."; an order whose address
// eBay withholds: "Unable to obtain email address for <user id>" and the
// order is left out. When no order is left the selection is dropped and the
// page stays.
void SendSMTPTemplateMessage(Session &session, Shell &shell);

// Fills the compose page from the order selection: To lists the buyers'
// user ids, Subject the subject template, From the sender, Message the
// current view's message (empty when unset).
void DisplayComposeEmail(Session &session, Shell &shell);

// Sends one message per order of the selection with the page's subject,
// message and cc box, showing "Sending N of M". An order without an
// address is skipped. Nothing is sent when the port, the server or the
// sender in the settings is unusable (a message box says which). Each
// message the server took is appended to SentMessages.xml and saved before
// the next one. A failed send stops the run there: a message box gives the
// client's error number and text, the status text is cleared, the orders
// sent are taken out of the selection and the compose page stays, so
// sending again reaches only the orders not sent yet. A message that may have
// been sent (the server never answered its end) stops the run the same way,
// is not recorded, and leaves the selection too: it goes again only when the
// seller chooses it again. After a whole run, or when no order is left, the
// selection is dropped and the view redrawn (`table`).
void SMTPSend(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::messaging
