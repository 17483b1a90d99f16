#include "paypal/details.h"

#include "store/order_index.h"
#include "store/settings.h"

namespace tw::paypal {

using store::childText;

namespace {

constexpr std::string_view kDetails = "PaypalTransaction";

} // namespace

DetailsFetch detailsFetch(const xml::Document &settings, xml::Node order)
{
    if (settings::read(settings, "PaypalAPIUser").empty()) return DetailsFetch::None;
    if (childText(order, "Status/PaymentMethodUsed") != "PayPal") return DetailsFetch::None;
    if (childText(order, "ExternalTransaction/ExternalTransactionID").empty()) return DetailsFetch::None;
    if (childText(order, "PaypalTransaction/TRANSACTIONID").empty()) return DetailsFetch::Missing;
    if (childText(order, "PaypalTransaction/PAYMENTSTATUS") == "Pending") return DetailsFetch::Pending;
    return DetailsFetch::None;
}

std::string detailsOverlay(DetailsFetch why, xml::Node order)
{
    const std::string heading = why == DetailsFetch::Pending ? "Checking Pending<br>Paypal Transaction<br>"
                                                             : "Downloading Paypal Transaction<br>";
    return heading + xml::escape(childText(order, "ExternalTransaction/ExternalTransactionID"));
}

xml::Node putDetails(xml::Node order, xml::Node details)
{
    if (!order || !details) return {};
    // Built beside the order rather than imported, so every element takes
    // the order's namespace (eBay's) as the file will give it on reading.
    xml::Node fresh = order.appendElement(kDetails);
    for (xml::Node field = details.firstElement(); field; field = field.nextElement())
        fresh.appendElement(field.name(), field.text());

    xml::Node first;
    for (xml::Node child = order.firstElement(); child;) {
        xml::Node next = child.nextElement();
        if (child != fresh && child.name() == kDetails) {
            if (!first)
                first = child;
            else
                child.remove();
        }
        child = next;
    }
    return first ? first.replaceWith(fresh) : fresh;
}

xml::Node GetPaypalData(clsPaypalAPI &api, Shell &shell, xml::Document &orders, std::string_view itemId,
                        std::string_view transactionId)
{
    std::string paypalId;
    if (xml::Node order = store::findOrder(orders, itemId, transactionId))
        paypalId = childText(order, "ExternalTransaction/ExternalTransactionID");
    if (paypalId.empty()) return {};

    xml::Document answer = api.GetTransactionDetails(paypalId);
    if (api.lastFailure().kind == FailureKind::CertificateMissing) shell.ProcessingImageDisplay(kCertificateMissing);
    if (!answer) return {};
    return putDetails(store::findOrder(orders, itemId, transactionId), answer.root().element(kDetails));
}

DetailsFetcher::DetailsFetcher(const xml::Document &settings, Shell &shell)
    : m_settings(settings), m_shell(shell), m_api(settings)
{
}

bool DetailsFetcher::refresh(xml::Document &orders, xml::Node copy)
{
    if (m_stopped) return false;
    const DetailsFetch why = detailsFetch(m_settings, copy);
    if (why == DetailsFetch::None) return false;

    const std::string itemId = childText(copy, "Item/ItemID"), transactionId = childText(copy, "TransactionID");
    if (!store::findOrder(orders, itemId, transactionId)) return false;

    m_shell.ProcessingImageDisplay(detailsOverlay(why, copy));
    xml::Node stored = GetPaypalData(m_api, m_shell, orders, itemId, transactionId);
    if (stored) {
        m_fetched = true;
        putDetails(copy, stored);
        return true;
    }
    const Failure &failure = m_api.lastFailure();
    switch (failure.kind) {
    case FailureKind::None:
        break; // the order went away meanwhile
    case FailureKind::NotSuccess:
        // About this payment only (an id PayPal does not know, say).
        m_shell.setStatus("PayPal payment details could not be fetched: " + failure.message);
        break;
    case FailureKind::MissingCredentials:
        // Not set up for PayPal: the view is drawn without PayPal's details.
        m_stopped = true;
        break;
    default:
        m_stopped = true;
        m_shell.setStatus("PayPal payment details could not be fetched: " + failure.message);
        break;
    }
    return true;
}

} // namespace tw::paypal
