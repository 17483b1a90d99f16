#include "orders/uploads.h"

#include "ebay/clseBayAPI.h"
#include "platform/datetime.h"
#include "store/basFunctions.h"

#include <map>

namespace tw::orders {
namespace {

constexpr std::string_view kOrderPath = "*/Transaction[Item/ItemID=$item and TransactionID=$transaction]";

// Every upload record with its label, in label order.
template <typename Visit> void eachUpload(const xml::Document &labels, Visit &&visit)
{
    if (!labels || !labels.root()) return;
    for (xml::Node label = labels.root().firstElement(); label; label = label.nextElement()) {
        if (label.name() != "ShippingLabel") continue;
        xml::Node own = label.element("KORVA");
        if (!own) continue;
        for (xml::Node upload = own.firstElement(); upload; upload = upload.nextElement())
            if (upload.name() == "Upload") visit(label, upload);
    }
}

PendingUpload describe(xml::Node label, xml::Node upload)
{
    return {GetNodeText(upload, "ItemID"),        GetNodeText(upload, "TransactionID"), GetNodeText(label, "Carrier"),
            GetNodeText(label, "TrackingNumber"), GetNodeText(label, "TimeStamp"),      GetNodeText(upload, "Status"),
            GetNodeText(upload, "Asked"),         GetNodeText(upload, "Problem")};
}

// The latest record of each order: a later label for an order replaces
// whatever an earlier one still waited for, so an old number never
// overwrites a newer one at eBay.
std::vector<PendingUpload> latestPerOrder(const xml::Document &labels)
{
    std::vector<PendingUpload> records;
    std::map<std::string, size_t> latest;
    eachUpload(labels, [&](xml::Node label, xml::Node upload) {
        PendingUpload p = describe(label, upload);
        const std::string key = store::compositeKey({p.itemId, p.transactionId});
        if (auto it = latest.find(key); it != latest.end())
            records[it->second] = std::move(p);
        else {
            latest.emplace(key, records.size());
            records.push_back(std::move(p));
        }
    });
    return records;
}

// The record of this order on the label with this tracking number (the
// latest such label).
xml::Node findRecord(const xml::Document &labels, std::string_view itemId, std::string_view transactionId,
                     std::string_view trackingNumber)
{
    xml::Node found;
    eachUpload(labels, [&](xml::Node label, xml::Node upload) {
        if (GetNodeText(upload, "ItemID") == itemId && GetNodeText(upload, "TransactionID") == transactionId &&
            GetNodeText(label, "TrackingNumber") == trackingNumber)
            found = upload;
    });
    return found;
}

void setStatus(xml::Node record, std::string_view status, std::string_view problem)
{
    SetNodeChildText(record, "Status", status);
    if (xml::Node old = record.element("Problem")) old.remove();
    if (!problem.empty()) record.appendElement("Problem", problem);
}

// Whether eBay's orders, as asked up to `askedUpTo`, can show the outcome of
// a sending at `asked` (never sent: nothing to show).
bool answeredSince(const std::string &asked, const DateTime &askedUpTo)
{
    if (asked.empty()) return true;
    const DateTime when = eBayTimeToDate(asked);
    return when.isValid() && when.addSecs(kAskedMarginSeconds) <= askedUpTo;
}

store::Doc otherDocument(store::Doc d)
{
    return d == store::Doc::Transactions ? store::Doc::ArchivedTransactions : store::Doc::Transactions;
}

} // namespace

void addUploadRecords(xml::Node label, const std::vector<store::OrderKey> &orders)
{
    xml::Node own = label.element("KORVA");
    if (!own) own = label.appendElement("KORVA");
    for (const store::OrderKey &order : orders) {
        xml::Node upload = own.appendElement("Upload");
        upload.appendElement("ItemID", order.itemId);
        upload.appendElement("TransactionID", order.transactionId);
        upload.appendElement("Status", kUploadUnconfirmed);
    }
}

std::vector<PendingUpload> pendingUploads(const xml::Document &labels)
{
    std::vector<PendingUpload> pending;
    for (PendingUpload &p : latestPerOrder(labels))
        if (p.status != kUploadSent) pending.push_back(std::move(p));
    return pending;
}

std::optional<PendingUpload> pendingUpload(const xml::Document &labels, std::string_view itemId,
                                           std::string_view transactionId)
{
    std::optional<PendingUpload> last;
    eachUpload(labels, [&](xml::Node label, xml::Node upload) {
        if (GetNodeText(upload, "ItemID") == itemId && GetNodeText(upload, "TransactionID") == transactionId)
            last = describe(label, upload);
    });
    if (last && last->status == kUploadSent) return std::nullopt;
    return last;
}

ShippedUpdate markOrderShipped(store::Store &store, store::Doc active, std::string_view itemId,
                               std::string_view transactionId, std::string_view trackingNumber, const DateTime &eBayNow)
{
    xml::Node order = store.doc(active).select(
        kOrderPath, {{"item", std::string(itemId)}, {"transaction", std::string(transactionId)}});
    if (!order) return ShippedUpdate::NotFound;
    if (!trackingNumber.empty())
        if (xml::Node details = order.element("ShippingDetails")) {
            SetNodeChildText(details, "ShipmentTrackingNumber", trackingNumber);
            SetNodeChildText(details, "ShippingServiceUsed",
                             GetNodeText(order, "ShippingServiceSelected/ShippingService"));
        }
    SetNodeChildText(order, "ShippedTime", DateToeBayTime(eBayNow));
    return store.save(active) ? ShippedUpdate::Saved : ShippedUpdate::NotSaved;
}

UploadOutcome uploadTracking(Session &session, ebay::clseBayAPI &api, const store::OrderKey &order,
                             const std::string &carrier, const std::string &trackingNumber, store::Doc active,
                             std::string *problem)
{
    store::Store &store = session.store;
    // Written down before it goes: should the program end during the call,
    // the record says it may have reached eBay, and from when.
    if (xml::Node record =
            findRecord(store.doc(store::Doc::ShippingLabels), order.itemId, order.transactionId, trackingNumber)) {
        setStatus(record, kUploadUnconfirmed, {});
        SetNodeChildText(record, "Asked", DateToeBayTime(session.eBayNow()));
        store.save(store::Doc::ShippingLabels);
    }
    const std::string ack =
        api.SynchronousMarkShippedStatus(order.itemId, order.transactionId, true, carrier, trackingNumber);
    UploadOutcome outcome = UploadOutcome::NoAnswer;
    if (ack == "Success" || ack == "Warning")
        outcome = UploadOutcome::Accepted;
    else if (api.lastCallAnswered())
        outcome = UploadOutcome::Refused;
    if (problem) *problem = outcome == UploadOutcome::Accepted ? std::string() : api.lastProblem();

    // Found again: the store may have changed while the call waited.
    if (xml::Node record =
            findRecord(store.doc(store::Doc::ShippingLabels), order.itemId, order.transactionId, trackingNumber)) {
        setStatus(record,
                  outcome == UploadOutcome::Accepted  ? kUploadSent
                  : outcome == UploadOutcome::Refused ? kUploadRefused
                                                      : kUploadUnconfirmed,
                  outcome == UploadOutcome::Refused ? api.lastProblem() : std::string());
        store.save(store::Doc::ShippingLabels);
    }
    if (outcome == UploadOutcome::Accepted &&
        markOrderShipped(store, active, order.itemId, order.transactionId, trackingNumber, session.eBayNow()) ==
            ShippedUpdate::NotFound)
        markOrderShipped(store, otherDocument(active), order.itemId, order.transactionId, trackingNumber,
                         session.eBayNow());
    return outcome;
}

RetryResult retryPendingUploads(Session &session, ebay::clseBayAPI &api, Shell &shell, const DateTime &askedUpTo)
{
    RetryResult result;
    // Keys only: every upload lets events run, and the store may change.
    for (const PendingUpload &p : pendingUploads(session.store.doc(store::Doc::ShippingLabels))) {
        store::Doc where = store::Doc::Transactions;
        xml::Node order = store::findOrder(session.store.doc(where), p.itemId, p.transactionId);
        if (!order) {
            where = store::Doc::ArchivedTransactions;
            order = store::findOrder(session.store.doc(where), p.itemId, p.transactionId);
        }
        const bool atEbay = order && order.element("ShippedTime") &&
                            (p.trackingNumber.empty() ||
                             GetNodeText(order, "ShippingDetails/ShipmentTrackingNumber") == p.trackingNumber);
        if (atEbay) {
            if (xml::Node record = findRecord(session.store.doc(store::Doc::ShippingLabels), p.itemId, p.transactionId,
                                              p.trackingNumber)) {
                setStatus(record, kUploadSent, {});
                session.store.save(store::Doc::ShippingLabels);
            }
            ++result.alreadyAtEbay;
            continue;
        }
        if (p.status == kUploadUnconfirmed && !answeredSince(p.asked, askedUpTo)) {
            ++result.unanswered; // the next download can tell
            continue;
        }
        shell.ProcessingImageDisplay(uploadingTrackingHtml(p.itemId, p.transactionId, p.carrier, p.trackingNumber));
        switch (uploadTracking(session, api, {p.itemId, p.transactionId}, p.carrier, p.trackingNumber, where)) {
        case UploadOutcome::Accepted:
            ++result.sent;
            break;
        case UploadOutcome::Refused:
            ++result.refused;
            break;
        case UploadOutcome::NoAnswer:
            ++result.unanswered;
            break;
        }
    }
    return result;
}

std::string retrySummary(const RetryResult &result)
{
    if (result.total() == 0) return {};
    std::string text =
        "Tracking numbers that had not reached eBay: " + std::to_string(result.alreadyAtEbay + result.sent) + " of " +
        std::to_string(result.total()) + " now on eBay";
    if (result.refused) text += ", " + std::to_string(result.refused) + " refused by eBay";
    if (result.unanswered) text += ", " + std::to_string(result.unanswered) + " without an answer from eBay";
    return text + ".";
}

std::string uploadingTrackingHtml(std::string_view itemId, std::string_view transactionId, std::string_view carrier,
                                  std::string_view trackingNumber)
{
    return "Uploading Tracking to eBay<BR>Item: " + xml::escape(itemId) +
           "<BR>Transaction: " + xml::escape(transactionId) + "<BR>" + xml::escape(carrier) + " " +
           xml::escape(trackingNumber);
}

} // namespace tw::orders
