#include "paypal/refund.h"

#include "pages/pages.h"
#include "paypal/clsPaypalAPI.h"
#include "platform/config.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/order_index.h"
#include "store/settings.h"

#include <QByteArray>

#include <cstdio>
#include <memory>

namespace tw::paypal {

using store::childText;

namespace {

std::string esc(std::string_view text)
{
    return xml::escape(text);
}

// Dollars and cents ("5", "5.5", "$5.50") in cents; -1 for anything else.
long long cents(std::string_view text)
{
    std::string t = trim(text);
    if (!t.empty() && t[0] == '$') t.erase(0, 1);
    const size_t point = t.find('.');
    const std::string whole = t.substr(0, point);
    const std::string fraction = point == std::string::npos ? std::string() : t.substr(point + 1);
    if ((whole.empty() && fraction.empty()) || whole.size() > 9 || fraction.size() > 2 ||
        (point != std::string::npos && fraction.empty()))
        return -1;
    for (char c : whole + fraction)
        if (c < '0' || c > '9') return -1;
    long long value = whole.empty() ? 0 : std::stoll(whole);
    value *= 100;
    if (!fraction.empty()) value += std::stoll(fraction) * (fraction.size() == 1 ? 10 : 1);
    return value;
}

std::string dollars(long long cents)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s%lld.%02lld", cents < 0 ? "-" : "", (cents < 0 ? -cents : cents) / 100,
                  (cents < 0 ? -cents : cents) % 100);
    return buffer;
}

// What the link that opened the form said, until the refund is sent or
// cancelled.
struct OpenForm {
    bool open = false;
    std::string amount;
    std::string paypalTransactionId;
};

void closeForm(Session &session, OpenForm &form)
{
    session.orderSelection = xml::Document(nullptr);
    form = {};
}

std::vector<xml::Node> selectedOrders(const Session &session)
{
    std::vector<xml::Node> out;
    if (session.orderSelection && session.orderSelection.root())
        for (xml::Node n = session.orderSelection.root().firstElement(); n; n = n.nextElement())
            if (n.name() == "Transaction") out.push_back(n);
    return out;
}

// Forgets PayPal's details of the order, so that the next drawing fetches
// them afresh (showing a refund) and the form has no payment to refund until
// then. The order is looked up by its keys: a wait may have moved it.
void dropDetails(Session &session, std::string_view itemId, std::string_view transactionId)
{
    const store::LocatedOrder found = store::locateOrder(session.store, itemId, transactionId);
    if (!found.order) return;
    for (xml::Node details = found.order.element("PaypalTransaction"); details;
         details = found.order.element("PaypalTransaction"))
        details.remove();
    session.store.save(found.doc);
}

void DisplayPaypalRefundForm(Session &session, Shell &shell, OpenForm &form, const Params &params)
{
    shell.ProcessingImageHide();
    // Looked up before the form opens: a form for an order we cannot find
    // could only fail.
    const store::LocatedOrder found =
        store::locateOrder(session.store, paramValue(params, "ItemID"), paramValue(params, "TransactionID"));
    if (!found.order) {
        shell.messageBox(kRefundTitle, kCannotLocateOrder);
        return;
    }
    session.selectOrders(session.store.doc(found.doc), {found.order});
    form.open = true;
    form.amount = paramValue(params, "Amount");
    form.paypalTransactionId = paramValue(params, "PaypalTransactionID");
    if (form.paypalTransactionId.empty())
        form.paypalTransactionId = childText(found.order, "PaypalTransaction/TRANSACTIONID");
    shell.navigate(pages::url(kRefundFormPage));
}

void fillForm(Session &session, Shell &shell, const OpenForm &form)
{
    const std::vector<xml::Node> orders = selectedOrders(session);
    if (!form.open || orders.size() != 1) return;
    const xml::Node order = orders.front();
    const xml::Document &settingsDoc = session.store.settings();
    page::Page &page = shell.page();
    page.element("AMT").setValue(form.amount);
    page.element("topleft_td")
        .setInnerHTML(paymentSummaryHtml(order, form.paypalTransactionId,
                                         settings::isOn(settings::read(settingsDoc, "PrivateMode")),
                                         config().get("privacy/PlaceholderEmail")));
    page.element("topright_td").setInnerHTML(shipmentSummaryHtml(order, session.store.doc(store::Doc::ShippingLabels)));
    page.element("PaypalRefund").setDisabled(false);
}

void PaypalRefundSend(Session &session, Shell &shell, FeatureTable &table, OpenForm &form)
{
    page::Page &page = shell.page();
    shell.ProcessingImageDisplay("Refunding Payment");
    page::Element button = page.element("PaypalRefund");
    button.setDisabled(true);

    auto finish = [&] {
        closeForm(session, form);
        shell.ProcessingImageHide();
        table.RefreshGrid();
    };
    // The form stays, for the seller to correct and send again.
    auto refuse = [&](std::string_view text) {
        shell.messageBox(kRefundTitle, text);
        shell.ProcessingImageHide();
        button.setDisabled(false);
    };

    const std::vector<xml::Node> selected = selectedOrders(session);
    if (selected.size() != 1) {
        shell.messageBox(kRefundTitle, kNoTransaction);
        finish();
        return;
    }
    const std::string itemId = childText(selected.front(), "Item/ItemID");
    const std::string transactionId = childText(selected.front(), "TransactionID");
    const store::LocatedOrder live = store::locateOrder(session.store, itemId, transactionId);
    const std::string paypalId = childText(live.order, "PaypalTransaction/TRANSACTIONID");

    const std::string type = page.element("REFUNDTYPE").value();
    const std::optional<std::string> amount = refundAmount(page.element("AMT").value());
    const std::string note = trim(page.element("NOTE").value());

    if (!amount) return refuse(kEnterAmount);
    if (paypalId.empty()) return refuse(kNoPaypalTransaction);
    if (itemId.empty() || transactionId.empty()) return refuse(kNoTransaction);

    clsPaypalAPI api(session.store.settings());
    xml::Document answer(nullptr);
    {
        // A window closed during the wait leaves the refund unknown: the
        // next start asks PayPal before it offers the payment again.
        const Busy::Token waiting = table.busy().hold(
            Busy::Options::askBeforeClose(std::string(kCloseWhileRefunding), [&session, itemId, transactionId] {
                dropDetails(session, itemId, transactionId);
            }));
        answer = api.RefundTransaction(paypalId, type, *amount, note);
    }
    const Failure &failure = api.lastFailure();
    if (failure.kind == FailureKind::CertificateMissing) shell.ProcessingImageDisplay(kCertificateMissing);
    if (answer && isSuccessAck(GetNodeText(answer.root(), "ACK"))) {
        dropDetails(session, itemId, transactionId);
        finish();
        return;
    }
    // The refund may have reached PayPal without its answer reaching us:
    // what the order shows must come from PayPal again, and until then the
    // form has no payment to refund a second time.
    if (failure.mayHaveHappened) dropDetails(session, itemId, transactionId);
    if (!failure.message.empty()) shell.setStatus("PayPal refund failed: " + failure.message);
    refuse(kRefundFailed);
}

} // namespace

std::string paymentSummaryHtml(xml::Node order, std::string_view paypalTransactionId, bool privateMode,
                               std::string_view placeholder)
{
    return "<b>Paypal Payment Details</b><BR>Transaction: " + esc(paypalTransactionId) +
           "<br>Email: " + esc(privateMode ? std::string(placeholder) : childText(order, "PaypalTransaction/EMAIL")) +
           "<br>Amount: $" + esc(childText(order, "PaypalTransaction/AMT")) + "<br>";
}

std::string shipmentSummaryHtml(xml::Node order, const xml::Document &labels)
{
    std::string paid = childText(order, "ShippingServiceSelected/ShippingServiceCost");
    if (paid.empty()) paid = "0.00";
    std::string html = "<b>Shipment Details</b><BR>Shipping Paid: $" + esc(paid) + "<br>";
    if (!labels) return html;
    // A label packing several orders names each order's two ids in one Item.
    xml::Node label =
        labels.select("ShippingLabels/ShippingLabel[PackingList/Item[ItemID=$item and "
                      "TransactionID=$txn]]",
                      {{"item", childText(order, "Item/ItemID")}, {"txn", childText(order, "TransactionID")}});
    if (!label) return html;
    std::string postage = childText(label, "Postage");
    if (postage.empty()) postage = "0.00";
    html += "Cost of Postage: $" + esc(postage) + "<br>";
    // WorldShip's labels say "Unknown": no difference to show then.
    const long long paidCents = cents(paid), postageCents = cents(postage);
    if (paidCents >= 0 && postageCents >= 0) html += "Difference: $" + dollars(paidCents - postageCents) + "<br>";
    return html;
}

std::optional<std::string> refundAmount(std::string_view typed)
{
    const long long value = cents(typed);
    if (value <= 0) return std::nullopt;
    return dollars(value);
}

void registerRefunds(Session &session, Shell &shell, FeatureTable &table)
{
    auto form = std::make_shared<OpenForm>();
    table.addAction(
        "DisplayPaypalRefundForm",
        [&session, &shell, form](const Params &params) { DisplayPaypalRefundForm(session, shell, *form, params); },
        FeatureTable::Rows::AsShown);
    table.addPageFill(std::string(kRefundFormPage),
                      [&session, &shell, form](const std::string &) { fillForm(session, shell, *form); });
    table.addAction("PaypalRefundSend", [&session, &shell, &table, form](const Params &) {
        PaypalRefundSend(session, shell, table, *form);
    });
    table.addAction("CancelPaypalRefund", [&session, &shell, &table, form](const Params &) {
        closeForm(session, *form);
        shell.ProcessingImageHide();
        table.RefreshGrid();
    });
}

} // namespace tw::paypal
