#include "ebay/refund.h"

#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/order_index.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <set>

namespace tw::ebay {

using store::childText;

namespace {

constexpr std::string_view kRecord = "eBayRefund";

QJsonObject amountJson(long long cents, const std::string &currency)
{
    return {{"value", QString::fromStdString(centsText(cents))}, {"currency", QString::fromStdString(currency)}};
}

long long amountCents(const QJsonValue &amount)
{
    const QJsonValue value = amount.toObject().value("value");
    return parseCents(value.isString() ? value.toString().toStdString()
                                       : QString::number(value.toDouble(), 'f', 2).toStdString());
}

int characters(std::string_view utf8)
{
    int n = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

} // namespace

std::string_view reasonWords(std::string_view code)
{
    for (const RefundReason &r : kRefundReasons)
        if (r.code == code) return r.words;
    return {};
}

QByteArray refundBody(const RefundRequest &request)
{
    QJsonObject body{{"reasonForRefund", QString::fromStdString(request.reason)}};
    if (!request.comment.empty()) body.insert("comment", QString::fromStdString(request.comment));
    if (request.level == RefundLevel::Order) {
        body.insert("orderLevelRefundAmount", amountJson(request.cents, request.currency));
    } else {
        QJsonObject legacy{{"legacyItemId", QString::fromStdString(request.itemId)},
                           {"legacyTransactionId", QString::fromStdString(request.transactionId)}};
        body.insert("refundItems",
                    QJsonArray{QJsonObject{{"legacyReference", legacy},
                                           {"refundAmount", amountJson(request.cents, request.currency)}}});
    }
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

std::string orderPath(std::string_view orderId)
{
    return "/sell/fulfillment/v1/order/" + pathSegment(orderId);
}

std::string refundPath(std::string_view orderId)
{
    return orderPath(orderId) + "/issue_refund";
}

long long parseCents(std::string_view text)
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

std::string centsText(long long cents)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s%lld.%02lld", cents < 0 ? "-" : "", (cents < 0 ? -cents : cents) / 100,
                  (cents < 0 ? -cents : cents) % 100);
    return buffer;
}

FormCheck checkRefundForm(long long leftCents, std::string_view typedAmount, std::string_view reason,
                          std::string_view comment)
{
    FormCheck out;
    out.cents = parseCents(typedAmount);
    if (out.cents <= 0)
        out.problem = "Please enter an amount.";
    else if (out.cents > leftCents)
        out.problem = leftCents <= 0 ? "This order has nothing left to refund."
                                     : "This order has only $" + centsText(leftCents) + " left to refund.";
    else if (reasonWords(reason).empty())
        out.problem = "Please choose eBay's reason for the refund.";
    else if (characters(trim(comment)) > kCommentLimit)
        out.problem = "The comment to the buyer may hold at most " + std::to_string(kCommentLimit) + " characters.";
    return out;
}

std::string refusalWords(const RestResponse &response)
{
    if (response.signInProblem) return response.problem;
    static const std::pair<long long, const char *> words[] = {
        {34915, "the refund is more than the order has left to refund."},
        {34924, "the refund is more than the item has left to refund."},
        {34920, "it is too late to refund this order through eBay."},
        {34917, "the order has been refunded already."},
        {34922, "an earlier refund of this order is still being processed. Try again once it shows as refunded."},
        {34916, "a case is open on this order; settle it through eBay's case."},
        {34918, "eBay did not take the payment of this order, so eBay cannot refund it."},
        {34929, "the buyer's payment has not been processed yet."},
        {34925, "there is a problem with your payment method on eBay."},
        {34926, "there is a problem with your payment method on eBay."},
        {34927, "there is a problem with your payment method on eBay."},
        {34928, "there is a problem with your payment method on eBay."},
        {34930, "there is a problem with your payment method on eBay."},
        {34913, "eBay does not know this order."},
        {34907, "the amount must be positive, in dollars and cents."},
        {34909, "the amount must be in the order's currency."},
    };
    for (const RestError &e : response.errors)
        for (const auto &[id, text] : words)
            if (e.errorId == id) return std::string("eBay refused the refund: ") + text;
    if (!response.errors.empty()) {
        const RestError &e = response.errors.front();
        return "eBay refused the refund: " + (e.longMessage.empty() ? e.message : e.longMessage) +
               (e.errorId ? " (error " + std::to_string(e.errorId) + ")" : std::string());
    }
    return "eBay refused the refund: " + (response.problem.empty() ? "no reason given." : response.problem);
}

// ---- records ---------------------------------------------------------------

std::vector<RefundRecord> refundRecords(xml::Node order)
{
    std::vector<RefundRecord> out;
    if (!order) return out;
    for (xml::Node r = order.firstElement(); r; r = r.nextElement()) {
        if (r.name() != kRecord) continue;
        RefundRecord record;
        record.localId = childText(r, "LocalID");
        record.refundId = childText(r, "RefundID");
        record.cents = std::max(0LL, parseCents(childText(r, "Amount")));
        record.currency = childText(r, "Currency");
        record.status = childText(r, "Status");
        record.reason = childText(r, "Reason");
        record.level = childText(r, "Level");
        record.date = childText(r, "Date");
        out.push_back(std::move(record));
    }
    return out;
}

void addRefundRecord(xml::Node order, const RefundRecord &record)
{
    xml::Node r = order.appendElement(kRecord);
    r.appendElement("LocalID", record.localId);
    r.appendElement("RefundID", record.refundId);
    r.appendElement("Amount", centsText(record.cents));
    r.appendElement("Currency", record.currency);
    r.appendElement("Status", record.status);
    r.appendElement("Reason", record.reason);
    r.appendElement("Level", record.level);
    r.appendElement("Date", record.date);
}

xml::Node findRefundRecord(xml::Node order, std::string_view localId)
{
    if (!order || localId.empty()) return {};
    for (xml::Node r = order.firstElement(); r; r = r.nextElement())
        if (r.name() == kRecord && childText(r, "LocalID") == localId) return r;
    return {};
}

bool paidThroughEbay(xml::Node order)
{
    return order && order.element("PaidTime") &&
           childText(order, "ExternalTransaction/ExternalTransactionID").empty() &&
           !order.element("PaypalTransaction") && childText(order, "Status/PaymentMethodUsed") != "PayPal";
}

long long leftToRefundCents(xml::Node order)
{
    long long left = std::max(0LL, parseCents(childText(order, "AmountPaid")));
    for (const RefundRecord &r : refundRecords(order))
        if (r.status != kFailed) left -= r.cents;
    return std::max(0LL, left);
}

bool refundMayHaveBeenMade(xml::Node order)
{
    for (const RefundRecord &r : refundRecords(order))
        if (r.status == kUnknown) return true;
    return false;
}

bool refundNeedsCheck(xml::Node order)
{
    for (const RefundRecord &r : refundRecords(order))
        if (r.status == kUnknown || r.status == kPending) return true;
    return false;
}

std::string restOrderId(xml::Node order)
{
    std::string id = childText(order, "ContainingOrder/OrderID");
    if (id.empty()) id = childText(order, "OrderLineItemID");
    if (id.empty()) id = childText(order, "Item/ItemID") + "-" + childText(order, "TransactionID");
    return id;
}

std::vector<EbayRefund> parseOrderRefunds(const QJsonDocument &order)
{
    std::vector<EbayRefund> out;
    std::set<std::string> seen;
    auto read = [&](const QJsonValue &v) {
        const QJsonObject o = v.toObject();
        EbayRefund r;
        r.refundId = o.value("refundId").toString().toStdString();
        r.cents = amountCents(o.value("amount"));
        r.status = o.value("refundStatus").toString().toStdString();
        r.date = o.value("refundDate").toString().toStdString();
        if (r.refundId.empty() || r.cents < 0 || !seen.insert(r.refundId).second) return;
        out.push_back(std::move(r));
    };
    const QJsonObject root = order.object();
    for (const QJsonValue &v : root.value("paymentSummary").toObject().value("refunds").toArray())
        read(v);
    // A line's refunds name no status of their own: the order's list has it
    // when it holds them too.
    for (const QJsonValue &line : root.value("lineItems").toArray())
        for (const QJsonValue &v : line.toObject().value("refunds").toArray())
            read(v);
    return out;
}

bool applyOrderRefunds(xml::Node order, const std::vector<EbayRefund> &refunds)
{
    bool changed = false;
    std::set<std::string> held;
    for (const RefundRecord &r : refundRecords(order))
        if (!r.refundId.empty()) held.insert(r.refundId);
    auto set = [&](xml::Node record, std::string_view name, std::string_view value) {
        if (childText(record, name) == value) return;
        SetNodeChildText(record, name, value);
        changed = true;
    };
    std::vector<xml::Node> unknown;
    for (xml::Node record = order.firstElement(); record; record = record.nextElement()) {
        if (record.name() != kRecord) continue;
        const std::string id = childText(record, "RefundID");
        if (id.empty()) {
            if (childText(record, "Status") == kUnknown) unknown.push_back(record);
            continue;
        }
        for (const EbayRefund &e : refunds)
            if (e.refundId == id && !e.status.empty()) set(record, "Status", e.status);
    }
    for (xml::Node record : unknown) {
        const long long cents = parseCents(childText(record, "Amount"));
        const EbayRefund *made = nullptr;
        for (const EbayRefund &e : refunds)
            if (!held.count(e.refundId) && e.cents == cents) {
                made = &e;
                break;
            }
        if (!made) {
            record.remove();
            changed = true;
            continue;
        }
        held.insert(made->refundId);
        set(record, "RefundID", made->refundId);
        set(record, "Status", made->status.empty() ? std::string(kPending) : made->status);
    }
    for (const EbayRefund &e : refunds) {
        if (held.count(e.refundId)) continue;
        RefundRecord record;
        record.refundId = e.refundId;
        record.cents = e.cents;
        record.status = e.status.empty() ? std::string(kRefunded) : e.status;
        record.date = e.date.substr(0, 19) + (e.date.size() >= 19 ? "Z" : "");
        addRefundRecord(order, record);
        changed = true;
    }
    return changed;
}

// ---- calls -------------------------------------------------------------------

SendOutcome issueRefund(clseBayConnection &connection, const RefundRequest &request)
{
    RestRequest post;
    post.method = "POST";
    post.path = refundPath(request.orderId);
    post.body = refundBody(request);
    const RestResponse r = connection.SynchronousRestRequest(post);
    SendOutcome out;
    if (r.outcome == RestResponse::Outcome::NotSent) {
        out.words = r.problem;
        return out;
    }
    // eBay may have made it: no answer, a cut-off one, eBay's own failure, or
    // an acceptance without the refund's id.
    if (r.outcome == RestResponse::Outcome::NoAnswer || r.status >= 500) {
        out.kind = SendOutcome::Kind::MayHaveHappened;
        out.words = r.problem;
        return out;
    }
    if (!r.ok()) {
        out.kind = SendOutcome::Kind::Refused;
        out.words = refusalWords(r);
        return out;
    }
    const QJsonObject o = r.json.object();
    out.refundId = o.value("refundId").toString().toStdString();
    out.status = o.value("refundStatus").toString().toStdString();
    if (out.status == kFailed) {
        out.kind = SendOutcome::Kind::Accepted;
        out.words = r.errors.empty() ? "eBay could not make the refund." : refusalWords(r);
        return out;
    }
    if (out.refundId.empty()) {
        out.kind = SendOutcome::Kind::MayHaveHappened;
        out.words = "eBay's answer named no refund";
        return out;
    }
    out.kind = SendOutcome::Kind::Accepted;
    if (out.status != kRefunded) out.status = std::string(kPending);
    return out;
}

OrderAnswer getOrderRefunds(clseBayConnection &connection, std::string_view orderId)
{
    RestRequest get;
    get.path = orderPath(orderId);
    const RestResponse r = connection.SynchronousRestRequest(get);
    OrderAnswer out;
    out.noAnswer = r.outcome != RestResponse::Outcome::Answered;
    if (!r.ok() || !r.json.isObject()) {
        out.problem = r.problem.empty() ? "eBay's answer was not an order" : r.problem;
        return out;
    }
    out.ok = true;
    out.refunds = parseOrderRefunds(r.json);
    return out;
}

} // namespace tw::ebay
