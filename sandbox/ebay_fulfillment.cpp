// eBay's Fulfillment API for refunds: getOrder (the order with its refunds)
// and issueRefund (accepted as PENDING, REFUNDED after a set number of
// getOrder reads; refused with eBay's error ids).

#include "sandbox/impl.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QString>

#include <cmath>
#include <set>

namespace tw::sandbox {

namespace {

const std::set<std::string> kReasons = {"BUYER_CANCEL",     "SELLER_CANCEL",         "ITEM_NOT_RECEIVED",
                                        "BUYER_RETURN",     "ITEM_NOT_AS_DESCRIBED", "OTHER_ADJUSTMENT",
                                        "SHIPPING_DISCOUNT"};

Reply json(int status, const QJsonObject &body)
{
    Reply r;
    r.status = status;
    r.contentType = "application/json";
    r.body = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
    return r;
}

Reply error(int status, int errorId, const std::string &message)
{
    QJsonObject e{{"errorId", errorId},
                  {"domain", "API_FULFILLMENT"},
                  {"category", status >= 500 ? "APPLICATION" : "REQUEST"},
                  {"message", QString::fromStdString(message)},
                  {"longMessage", QString::fromStdString(message)}};
    return json(status, {{"errors", QJsonArray{e}}});
}

QJsonObject amount(double value)
{
    return {{"value", QString::fromStdString(money(value))}, {"currency", "USD"}};
}

// The new-format order id of an order: fixed by its sales record number.
std::string newOrderId(const Order &o)
{
    char id[32];
    std::snprintf(id, sizeof id, "26-%05d-%05d", 10000 + o.salesRecordNumber, 77000 + o.salesRecordNumber);
    return id;
}

// "/sell/fulfillment/v1/order/{id}[/issue_refund]": the id, decoded.
std::string orderIdOf(const std::string &path)
{
    std::string rest = path.substr(std::string("/sell/fulfillment/v1/order/").size());
    rest = rest.substr(0, rest.find('/'));
    return QByteArray::fromPercentEncoding(QByteArray::fromStdString(rest)).toStdString();
}

// Amounts as eBay takes them: a positive number with at most two decimals.
bool readAmount(const QJsonValue &v, double &out)
{
    const QJsonObject o = v.toObject();
    const QString text = o.value("value").toString();
    const int point = text.indexOf('.');
    if (text.isEmpty() || (point >= 0 && text.size() - point - 1 > 2)) return false;
    bool ok = false;
    out = text.toDouble(&ok);
    return ok && out > 0;
}

} // namespace

Reply Sandbox::Impl::fulfillment(const Request &request, const std::string &call)
{
    const std::string id = orderIdOf(request.path);
    Order *order = nullptr;
    for (Order &o : state.orders)
        if (id == o.itemId + "-" + o.transactionId || id == newOrderId(o)) order = &o;
    if (!order) return error(404, call == "issueRefund" ? 34913 : 32100, "Order not found: " + id);
    Order &o = *order;

    if (call == "getOrder") {
        if (request.method != "GET") return error(405, 2004, "Method not allowed");
        QJsonArray refunds, lineRefunds;
        for (EbayRefund &r : o.ebayRefunds) {
            QJsonObject entry{{"refundId", QString::fromStdString(r.refundId)},
                              {"refundStatus", QString::fromStdString(r.status())},
                              {"refundDate", QString::fromStdString(ebayTime(r.date))},
                              {"amount", amount(r.amount)}};
            refunds.append(entry);
            if (r.lineLevel)
                lineRefunds.append(QJsonObject{{"refundId", QString::fromStdString(r.refundId)},
                                               {"refundDate", QString::fromStdString(ebayTime(r.date))},
                                               {"amount", amount(r.amount)}});
            if (r.readsLeft > 0) --r.readsLeft;
        }
        const double left = o.leftToRefund();
        const std::string paymentStatus = !o.isPaid()             ? "PENDING"
                                          : o.ebayRefunds.empty() ? "PAID"
                                          : left <= 0             ? "FULLY_REFUNDED"
                                                                  : "PARTIALLY_REFUNDED";
        QJsonObject payment{{"paymentMethod", o.paidThroughEbay() ? "EBAY" : "PAYPAL"},
                            {"paymentReferenceId", QString::fromStdString(o.itemId + o.transactionId)},
                            {"amount", amount(o.total())},
                            {"paymentStatus", o.isPaid() ? "PAID" : "PENDING"}};
        QJsonObject line{{"lineItemId", QString::fromStdString("1000" + o.itemId.substr(0, 6) + o.transactionId)},
                         {"legacyItemId", QString::fromStdString(o.itemId)},
                         {"title", QString::fromStdString(o.title)},
                         {"quantity", o.quantity},
                         {"lineItemCost", amount(o.price * o.quantity)},
                         {"total", amount(o.total())},
                         {"refunds", lineRefunds}};
        return json(200, {{"orderId", QString::fromStdString(newOrderId(o))},
                          {"legacyOrderId", QString::fromStdString(o.itemId + "-" + o.transactionId)},
                          {"creationDate", QString::fromStdString(ebayTime(o.created))},
                          {"orderPaymentStatus", QString::fromStdString(paymentStatus)},
                          {"orderFulfillmentStatus", o.isShipped() ? "FULFILLED" : "NOT_STARTED"},
                          {"sellerId", QString::fromStdString(state.sellerId)},
                          {"pricingSummary", QJsonObject{{"total", amount(o.total())}}},
                          {"paymentSummary", QJsonObject{{"payments", QJsonArray{payment}},
                                                         {"refunds", refunds},
                                                         {"totalDueSeller", amount(o.total())}}},
                          {"lineItems", QJsonArray{line}}});
    }

    // issueRefund
    if (request.method != "POST") return error(405, 2004, "Method not allowed");
    const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
    if (!o.paidThroughEbay()) return error(409, 34918, "This is not an eBay managed payments order.");
    if (!kReasons.count(body.value("reasonForRefund").toString().toStdString()))
        return error(400, 34901, "The reasonForRefund is missing or invalid.");
    if (body.value("comment").toString().size() > 100) return error(400, 34921, "The comment is too long.");
    double value = 0;
    bool lineLevel = false;
    if (body.contains("orderLevelRefundAmount")) {
        if (!readAmount(body.value("orderLevelRefundAmount"), value))
            return error(400, 34907, "Invalid refund amount.");
        if (body.value("orderLevelRefundAmount").toObject().value("currency").toString() != "USD")
            return error(400, 34909, "The currency must be the order's currency.");
    } else if (body.contains("refundItems")) {
        const QJsonArray items = body.value("refundItems").toArray();
        if (items.size() != 1) return error(400, 34910, "The line item reference is incomplete.");
        const QJsonObject item = items.first().toObject();
        const QJsonObject legacy = item.value("legacyReference").toObject();
        if (legacy.value("legacyItemId").toString().toStdString() != o.itemId ||
            legacy.value("legacyTransactionId").toString().toStdString() != o.transactionId)
            return error(400, 34911, "The legacy reference does not name a line of this order.");
        if (!readAmount(item.value("refundAmount"), value)) return error(400, 34907, "Invalid refund amount.");
        if (item.value("refundAmount").toObject().value("currency").toString() != "USD")
            return error(400, 34909, "The currency must be the order's currency.");
        lineLevel = true;
    } else {
        return error(400, 34905, "Neither orderLevelRefundAmount nor refundItems was given.");
    }
    if (o.created.daysTo(ebayNow()) > state.refundWindowDays)
        return error(400, 34920, "It is too late to issue a refund for this order.");
    for (const EbayRefund &r : o.ebayRefunds)
        if (r.readsLeft > 0) return error(409, 34922, "An earlier refund of this order is still processing.");
    const double left = o.leftToRefund();
    if (left <= 0) return error(409, 34917, "This order has already been refunded.");
    if (std::round(value * 100) > std::round(left * 100))
        return lineLevel ? error(409, 34924, "The refund amount exceeds the amount left on the line item.")
                         : error(400, 34915, "The refund amount exceeds the order amount.");
    EbayRefund refund;
    char refundId[32];
    std::snprintf(refundId, sizeof refundId, "50%08d", ++ebayRefundCounter);
    refund.refundId = refundId;
    refund.reason = body.value("reasonForRefund").toString().toStdString();
    refund.comment = body.value("comment").toString().toStdString();
    refund.amount = value;
    refund.lineLevel = lineLevel;
    refund.date = ebayNow();
    refund.readsLeft = state.refundPendingReads;
    o.ebayRefunds.push_back(refund);
    return json(200, {{"refundId", QString::fromStdString(refund.refundId)},
                      {"refundStatus", QString::fromStdString(refund.status())}});
}

} // namespace tw::sandbox
