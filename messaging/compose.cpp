#include "messaging/compose.h"

#include "messaging/SmtpSend.h"
#include "pages/pages.h"
#include "platform/config.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/order_index.h"
#include "store/settings.h"
#include "ui/rows.h"
#include "ui/served.h"
#include "ui/tags.h"

#include <cstdlib>

namespace tw::messaging {
namespace {

std::vector<xml::Node> selectedOrders(const Session &session)
{
    std::vector<xml::Node> orders;
    if (session.orderSelection && session.orderSelection.root())
        for (xml::Node order : session.orderSelection.root().elements())
            if (order.name() == "Transaction") orders.push_back(order);
    return orders;
}

std::string recipientsText(const Session &session)
{
    std::string to;
    for (xml::Node order : selectedOrders(session))
        to += "<" + GetNodeText(order, "Buyer/UserID") + "> ";
    return to;
}

int secondsSetting(const char *key, int fallback)
{
    const int seconds = std::atoi(config().get(key).c_str());
    return seconds > 0 ? seconds : fallback;
}

// The orders of a run by key: the waits on the server let other events run,
// and no store node is held across them.
struct OrderKey {
    std::string itemId;
    std::string transactionId;
};

xml::Node findSelected(const Session &session, const OrderKey &key)
{
    if (!session.orderSelection) return {};
    return store::findOrder(session.orderSelection, key.itemId, key.transactionId);
}

std::string failureText(const std::string &user, const SendResult &send, int sent, bool restLeft)
{
    std::string text =
        "The message to " + user + (send.mayHaveBeenSent ? " may have been sent." : " was not sent.") + "\n\n";
    if (!send.errorSource.empty()) text += send.errorSource + " error " + std::to_string(send.errorNumber) + ": ";
    text += send.errorDescription + "\n\nSending stopped at this order. ";
    if (send.mayHaveBeenSent)
        text += "It is out of the list so that the buyer does not get it twice: look in your mail or ask the buyer "
                "before you send it again. ";
    if (sent > 0)
        text += std::to_string(sent) + (sent == 1 ? " message was" : " messages were") + " sent before it and " +
                (sent == 1 ? "is" : "are") + " recorded. ";
    return restLeft ? text + "Send again to reach the orders not sent yet." : text;
}

} // namespace

void SendSMTPTemplateMessage(Session &session, Shell &shell)
{
    const xml::Document &source = session.store.doc(
        session.currentView == ui::kArchived ? store::Doc::ArchivedTransactions : store::Doc::Transactions);
    const std::vector<ui::OrderRow> rows = ui::taggedRows(shell.page());
    if (rows.empty()) {
        session.orderSelection = xml::Document(nullptr);
        shell.messageBox(kSmtpTitle, "Please tag an item first.");
        return;
    }
    const store::OrderIndex index(source.root());
    std::vector<xml::Node> chosen;
    for (const ui::OrderRow &row : rows) {
        xml::Node order = index.find(row.itemId, row.transactionId);
        if (!order) continue;
        const Recipient recipient = orderRecipient(order);
        if (recipient.status == Recipient::Withheld) {
            shell.messageBox(kSmtpTitle, recipient.message);
            continue;
        }
        chosen.push_back(order);
    }
    if (chosen.empty()) {
        session.orderSelection = xml::Document(nullptr);
        return;
    }
    session.selectOrders(source, chosen);
    shell.navigate(pages::url(ui::kComposeEmailPage));
}

void DisplayComposeEmail(Session &session, Shell &shell)
{
    page::Page &page = shell.page();
    const xml::Document &settingsDoc = session.store.settings();
    page.element("To").setValue(recipientsText(session));
    page.element("Subject").setValue("re: eBay Item {Item/ItemID} - {Item/Title}");
    page.element("From").setValue("<" + settings::read(settingsDoc, "SMTPFrom") + "> ");
    page.element("Message").setValue(settings::read(settingsDoc, session.currentView + "Message", ""));
}

void SMTPSend(Session &session, Shell &shell, FeatureTable &table)
{
    std::vector<xml::Node> orders = selectedOrders(session);
    if (orders.empty()) {
        session.orderSelection = xml::Document(nullptr);
        table.RefreshGrid();
        return;
    }

    const xml::Document &settingsDoc = session.store.settings();
    const SmtpPort port = smtpPort(settings::read(settingsDoc, "SMTPPort"));
    if (!port.ok()) {
        shell.messageBox(kSmtpTitle, port.error);
        return;
    }
    EmailRun run;
    run.server = settings::read(settingsDoc, "SMTPServer");
    run.from = settings::read(settingsDoc, "SMTPFrom");
    if (trim(run.server).empty() || trim(run.from).empty()) {
        shell.messageBox(kSmtpTitle, "Enter your SMTP server and your e-mail address under Tools > Options; no "
                                     "message was sent.");
        return;
    }
    page::Page &page = shell.page();
    run.port = port.port;
    run.ccSender = page.element("cc").checked();
    run.subjectTemplate = page.element("Subject").value();
    run.bodyTemplate = page.element("Message").value();
    run.shippingLabels = &session.store.doc(store::Doc::ShippingLabels);
    run.eBayDetails = session.eBayDetails ? &session.eBayDetails : nullptr;
    run.timeoutSeconds = secondsSetting("net/TimeoutSeconds", 60);
    run.endOfDataTimeoutSeconds = secondsSetting("net/SmtpEndOfDataTimeoutSeconds", 600);

    std::vector<OrderKey> keys;
    for (xml::Node order : orders)
        keys.push_back({GetNodeText(order, "Item/ItemID"), GetNodeText(order, "TransactionID")});
    orders.clear();

    xml::Document &sentMessages = session.store.doc(store::Doc::SentMessages);
    const int total = int(keys.size());
    int number = 0;
    std::vector<OrderKey> sent;
    auto dropFromSelection = [&session](const OrderKey &key) {
        if (xml::Node order = findSelected(session, key)) order.remove();
    };
    for (const OrderKey &key : keys) {
        xml::Node order = findSelected(session, key);
        if (!order || orderRecipient(order).status != Recipient::Found) continue;
        ++number;
        // The overlay keeps a second click on Send (or any other link) out
        // while the run waits on the server: it would send every message twice.
        const std::string progress = std::to_string(number) + " of " + std::to_string(total);
        const std::string user = GetNodeText(order, "Buyer/UserID");
        shell.setStatus("Sending " + progress);
        shell.ProcessingImageDisplay("Sending e-mail<br>" + progress);
        const OrderEmailResult result = sendOrderEmail(run, order, sentMessages);
        if (result.status == OrderEmailResult::Sent) {
            session.store.save(store::Doc::SentMessages);
            sent.push_back(key);
            continue;
        }
        if (result.status == OrderEmailResult::Skipped) continue;

        // Stopped here. The orders sent leave the selection, and so does one
        // that may have been sent: Send again must not write to its buyer a
        // second time.
        shell.ProcessingImageHide();
        shell.setStatus("");
        for (const OrderKey &done : sent)
            dropFromSelection(done);
        if (result.status == OrderEmailResult::MayHaveBeenSent) dropFromSelection(key);
        const bool restLeft = !selectedOrders(session).empty();
        shell.messageBox(kSmtpTitle, failureText(user, result.send, int(sent.size()), restLeft));
        if (!restLeft) {
            session.orderSelection = xml::Document(nullptr);
            table.RefreshGrid();
            return;
        }
        page.element("To").setValue(recipientsText(session));
        return;
    }
    shell.ProcessingImageHide();
    session.orderSelection = xml::Document(nullptr);
    table.RefreshGrid();
}

} // namespace tw::messaging
