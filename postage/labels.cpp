#include "postage/labels.h"

#include "postage/worldship.h"
#include "store/basFunctions.h"

#include <system_error>

namespace tw::postage {
namespace {

constexpr std::string_view kOrderPath = "*/Transaction[Item/ItemID=$item and TransactionID=$transaction]";

xml::Node findOrder(store::Store &store, store::Doc active, std::string_view itemId, std::string_view transactionId)
{
    return store.doc(active).select(kOrderPath,
                                    {{"item", std::string(itemId)}, {"transaction", std::string(transactionId)}});
}

xml::Node appendLabelHead(xml::Document &labels, const DateTime &eBayNow, std::string_view carrier,
                          std::string_view trackingNumber, std::string_view postage)
{
    xml::Node label = labels.root().appendElement("ShippingLabel");
    label.appendElement("PackingList");
    label.appendElement("TimeStamp", DateToeBayTime(eBayNow));
    label.appendElement("Carrier", carrier);
    label.appendElement("TrackingNumber", trackingNumber);
    label.appendElement("Postage", postage);
    return label;
}

} // namespace

store::Doc activeStoreDocument(std::string_view currentView)
{
    return currentView == "Archived" ? store::Doc::ArchivedTransactions : store::Doc::Transactions;
}

std::vector<DazzleOrder> selectionOrders(const xml::Node &selection)
{
    std::vector<DazzleOrder> orders;
    if (!selection) return orders;
    for (const xml::Node &order : selection.elements())
        orders.push_back({GetNodeText(order, "Item/ItemID"), GetNodeText(order, "TransactionID")});
    return orders;
}

xml::Document &ensureShippingLabels(store::Store &store)
{
    xml::Document &labels = store.doc(store::Doc::ShippingLabels);
    if (labels && labels.root()) return labels;
    const std::filesystem::path file = store.path(store::Doc::ShippingLabels);
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
        xml::Document loaded = xml::Document::load(file);
        if (loaded && loaded.root()) {
            labels = std::move(loaded);
            return labels;
        }
        std::filesystem::rename(file, store::keptAsideName(file), ec);
    }
    labels = xml::Document::parse(store::info(store::Doc::ShippingLabels).emptyTemplate);
    store.save(store::Doc::ShippingLabels);
    return labels;
}

RecordedLabel appendDazzleLabel(store::Store &store, store::Doc active, const DazzlePackage &package,
                                const DateTime &eBayNow)
{
    xml::Document &labels = ensureShippingLabels(store);
    RecordedLabel recorded{package.trackingNumber(), package.orders};
    xml::Node label = appendLabelHead(labels, eBayNow, "USPS", recorded.trackingNumber, package.finalPostage);
    label.append(labels.importNode(package.element, true));

    xml::Node packingList = label.element("PackingList");
    for (const DazzleOrder &order : package.orders) {
        xml::Node item = packingList.appendElement("Item");
        item.appendElement("ItemID", order.itemId);
        item.appendElement("TransactionID", order.transactionId);
        if (xml::Node found = findOrder(store, active, order.itemId, order.transactionId)) {
            item.appendElement("QuantityPurchased", GetNodeText(found, "QuantityPurchased"));
            item.appendElement("SKU", GetNodeText(found, "Item/SKU"));
            std::string product = GetNodeText(found, "SellingManagerProductDetails/ProductName");
            item.appendElement("ProductName", product.empty() ? GetNodeText(found, "Item/Title") : product);
            item.appendElement("TransactionPrice", GetNodeText(found, "TransactionPrice"));
        }
    }
    orders::addUploadRecords(label, package.orders);
    return recorded;
}

RecordedLabel appendWorldShipLabel(store::Store &store, const WorldShipOutput &output,
                                   const std::vector<DazzleOrder> &orders, const DateTime &eBayNow)
{
    xml::Document &labels = ensureShippingLabels(store);
    RecordedLabel recorded{output.trackingNumber, orders};
    xml::Node label = appendLabelHead(labels, eBayNow, "UPS", output.trackingNumber, "Unknown");
    if (output.openShipment) label.append(labels.importNode(output.openShipment, true));
    orders::addUploadRecords(label, orders);
    return recorded;
}

std::vector<ExistingLabel> labelsOf(const xml::Document &labels, std::string_view itemId,
                                    std::string_view transactionId)
{
    std::vector<ExistingLabel> found;
    if (!labels || !labels.root()) return found;
    const xml::Vars vars = {{"item", std::string(itemId)}, {"transaction", std::string(transactionId)}};
    for (const xml::Node &label :
         labels.root().selectAll("ShippingLabel[PackingList/Item[ItemID=$item and TransactionID=$transaction] or "
                                 "KORVA/Upload[ItemID=$item and TransactionID=$transaction]]",
                                 vars))
        found.push_back(
            {GetNodeText(label, "Carrier"), GetNodeText(label, "TrackingNumber"), GetNodeText(label, "TimeStamp")});
    return found;
}

} // namespace tw::postage
