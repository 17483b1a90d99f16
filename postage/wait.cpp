#include "postage/wait.h"

#include "store/basFunctions.h"

namespace tw::postage {
namespace {

xml::Node findWait(const xml::Document &labels, Carrier carrier)
{
    if (!labels || !labels.root()) return {};
    return labels.root().select("KORVA/Wait[Carrier=$carrier]", {{"carrier", std::string(carrierName(carrier))}});
}

} // namespace

std::string_view carrierName(Carrier carrier)
{
    return carrier == Carrier::Dazzle ? "USPS" : "UPS";
}

std::optional<PostageWait> storedWait(const xml::Document &labels, Carrier carrier)
{
    xml::Node node = findWait(labels, carrier);
    if (!node) return std::nullopt;
    PostageWait wait;
    wait.carrier = carrier;
    wait.answerFile = GetNodeText(node, "AnswerFile");
    wait.exportFile = GetNodeText(node, "ExportFile");
    wait.testMode = GetNodeText(node, "TestMode") == "True";
    wait.active = GetNodeText(node, "Store") == "ArchivedTransactions" ? store::Doc::ArchivedTransactions
                                                                       : store::Doc::Transactions;
    wait.cancelled = GetNodeText(node, "Cancelled") == "True";
    for (const xml::Node &order : node.selectAll("Order"))
        wait.orders.push_back({GetNodeText(order, "ItemID"), GetNodeText(order, "TransactionID")});
    return wait;
}

void putWait(xml::Document &labels, const PostageWait &wait)
{
    dropWait(labels, wait.carrier);
    xml::Node own = labels.root().element("KORVA");
    if (!own) own = labels.root().appendElement("KORVA");
    xml::Node node = own.appendElement("Wait");
    node.appendElement("Carrier", carrierName(wait.carrier));
    node.appendElement("AnswerFile", wait.answerFile.string());
    node.appendElement("ExportFile", wait.exportFile.string());
    node.appendElement("TestMode", wait.testMode ? "True" : "False");
    node.appendElement("Store",
                       wait.active == store::Doc::ArchivedTransactions ? "ArchivedTransactions" : "Transactions");
    node.appendElement("Cancelled", wait.cancelled ? "True" : "False");
    for (const DazzleOrder &order : wait.orders) {
        xml::Node o = node.appendElement("Order");
        o.appendElement("ItemID", order.itemId);
        o.appendElement("TransactionID", order.transactionId);
    }
}

void dropWait(xml::Document &labels, Carrier carrier)
{
    if (xml::Node node = findWait(labels, carrier)) {
        xml::Node own = node.parent();
        node.remove();
        if (!own.firstElement()) own.remove();
    }
}

} // namespace tw::postage
