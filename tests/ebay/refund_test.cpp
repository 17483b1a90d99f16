// Refunds through eBay: the form's checks, the request bodies, eBay's
// refusals in words, and the records kept with the order as getOrder
// reports on them.

#include "ebay/refund.h"
#include "store/basFunctions.h"

#include <gtest/gtest.h>

namespace tw::ebay {
namespace {

TEST(EbayRefund, TheFormChecksAmountAgainstWhatIsLeftThenReasonThenComment)
{
    const std::string longest(kCommentLimit, 'x');
    // Characters, not bytes: 100 accented letters fit.
    std::string accented;
    for (int i = 0; i < kCommentLimit; ++i)
        accented += "\xC3\xA9";
    struct Case {
        long long left;
        const char *amount, *reason;
        std::string comment;
        std::string problem;
        long long cents;
    } cases[] = {
        {1000, "5", "BUYER_CANCEL", "", "", 500},
        {1000, " $10.00 ", "OTHER_ADJUSTMENT", longest, "", 1000},
        {1000, "0.5", "SHIPPING_DISCOUNT", accented, "", 50},
        {1000, "", "BUYER_CANCEL", "", "Please enter an amount.", -1},
        {1000, "abc", "BUYER_CANCEL", "", "Please enter an amount.", -1},
        {1000, "0.00", "BUYER_CANCEL", "", "Please enter an amount.", 0},
        {1000, "1.234", "BUYER_CANCEL", "", "Please enter an amount.", -1},
        {1000, "-1", "BUYER_CANCEL", "", "Please enter an amount.", -1},
        {1000, "10.01", "BUYER_CANCEL", "", "This order has only $10.00 left to refund.", 1001},
        {0, "1", "BUYER_CANCEL", "", "This order has nothing left to refund.", 100},
        {1000, "1", "", "", "Please choose eBay's reason for the refund.", 100},
        {1000, "1", "GOODWILL", "", "Please choose eBay's reason for the refund.", 100},
        {1000, "1", "BUYER_RETURN", longest + "y", "The comment to the buyer may hold at most 100 characters.", 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.amount) + " / " + c.reason);
        const FormCheck check = checkRefundForm(c.left, c.amount, c.reason, c.comment);
        EXPECT_EQ(check.problem, c.problem);
        EXPECT_EQ(check.cents, c.cents);
    }
}

TEST(EbayRefund, RequestBodiesNameTheLineOrTheOrderAndEscapeTheComment)
{
    RefundRequest line;
    line.orderId = "110123456789-2345678901001";
    line.itemId = "110123456789";
    line.transactionId = "2345678901001";
    line.cents = 350;
    line.reason = "SHIPPING_DISCOUNT";
    EXPECT_EQ(refundBody(line).toStdString(),
              R"({"reasonForRefund":"SHIPPING_DISCOUNT","refundItems":[{"legacyReference":{"legacyItemId":)"
              R"("110123456789","legacyTransactionId":"2345678901001"},"refundAmount":{"currency":"USD",)"
              R"("value":"3.50"}}]})");

    RefundRequest order = line;
    order.level = RefundLevel::Order;
    order.cents = 2400;
    order.reason = "BUYER_CANCEL";
    order.comment = "Sorry \"Jane\"\\ }, {\"orderLevelRefundAmount\": 1}\n\x01 caf\xC3\xA9";
    EXPECT_EQ(refundBody(order).toStdString(),
              R"({"comment":"Sorry \"Jane\"\\ }, {\"orderLevelRefundAmount\": 1}\n\u0001 caf)"
              "\xC3\xA9"
              R"(","orderLevelRefundAmount":{"currency":"USD","value":"24.00"},"reasonForRefund":"BUYER_CANCEL"})");

    // An id with a "/" stays one path segment.
    EXPECT_EQ(refundPath("12-3/4"), "/sell/fulfillment/v1/order/12-3%2F4/issue_refund");
}

TEST(EbayRefund, RefusalsAreToldInWordsByErrorId)
{
    struct Case {
        int status;
        long long errorId;
        std::string words;
    } cases[] = {
        {400, 34915, "eBay refused the refund: the refund is more than the order has left to refund."},
        {409, 34924, "eBay refused the refund: the refund is more than the item has left to refund."},
        {400, 34920, "eBay refused the refund: it is too late to refund this order through eBay."},
        {409, 34917, "eBay refused the refund: the order has been refunded already."},
        {409, 34922,
         "eBay refused the refund: an earlier refund of this order is still being processed. Try again "
         "once it shows as refunded."},
        {409, 34918, "eBay refused the refund: eBay did not take the payment of this order, so eBay cannot refund it."},
        {400, 99999, "eBay refused the refund: Something new (error 99999)"},
    };
    for (const Case &c : cases) {
        RestResponse r;
        r.outcome = RestResponse::Outcome::Answered;
        r.status = c.status;
        r.errors.push_back({c.errorId, "API_FULFILLMENT", "REQUEST", "short", "Something new"});
        EXPECT_EQ(refusalWords(r), c.words) << c.errorId;
    }
}

// An order paid through eBay with a record per status, as XML text.
xml::Document orderWith(const std::string &records)
{
    return xml::Document::parse(
        "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>11</ItemID></Item>"
        "<TransactionID>22</TransactionID><AmountPaid currencyID=\"USD\">24.0</AmountPaid>"
        "<PaidTime>2026-01-02T03:04:05Z</PaidTime><Status><PaymentMethodUsed>CreditCard</PaymentMethodUsed></Status>" +
        records + "</Transaction>");
}

std::string record(const std::string &id, const std::string &amount, const std::string &status)
{
    xml::Document doc = orderWith("");
    addRefundRecord(doc.root(), {"L" + id, id, parseCents(amount), "USD", status, "BUYER_RETURN", "LINE", ""});
    return doc.root().select("*[local-name()='eBayRefund']").xml();
}

std::string statuses(xml::Node order)
{
    std::string out;
    for (const RefundRecord &r : refundRecords(order))
        out += (out.empty() ? "" : " ") + (r.refundId.empty() ? "-" : r.refundId) + ":" + centsText(r.cents) + ":" +
               r.status;
    return out;
}

TEST(EbayRefund, RecordsKeptWithTheOrderFollowWhatGetOrderSays)
{
    const std::string sent = record("", "5.00", "UNKNOWN");
    struct Case {
        const char *name;
        std::string records;
        std::string getOrder;
        std::string after;
        long long left;
        bool changed;
    } cases[] = {
        {"a pending refund becomes refunded", record("R1", "5.00", "PENDING"),
         R"({"paymentSummary":{"refunds":[{"refundId":"R1","refundStatus":"REFUNDED","amount":{"value":"5.00"}}]}})",
         "R1:5.00:REFUNDED", 1900, true},
        {"a failed one leaves its amount to refund", record("R1", "5.00", "PENDING"),
         R"({"paymentSummary":{"refunds":[{"refundId":"R1","refundStatus":"FAILED","amount":{"value":"5.00"}}]}})",
         "R1:5.00:FAILED", 2400, true},
        {"a lost answer whose refund was made takes its id", record("R1", "2.00", "REFUNDED") + sent,
         R"({"paymentSummary":{"refunds":[{"refundId":"R1","refundStatus":"REFUNDED","amount":{"value":"2.00"}},)"
         R"({"refundId":"R2","refundStatus":"PENDING","amount":{"value":"5.00"}}]}})",
         "R1:2.00:REFUNDED R2:5.00:PENDING", 1700, true},
        {"a lost answer whose refund was not made goes", record("R1", "2.00", "REFUNDED") + sent,
         R"({"paymentSummary":{"refunds":[{"refundId":"R1","refundStatus":"REFUNDED","amount":{"value":"2.00"}}]}})",
         "R1:2.00:REFUNDED", 2200, true},
        {"a line's refund, and one made on eBay's site, are added", "",
         R"({"lineItems":[{"refunds":[{"refundId":"R9","amount":{"value":"1.50"},)"
         R"("refundDate":"2026-01-03T00:00:00.000Z"}]}]})",
         "R9:1.50:REFUNDED", 2250, true},
        {"nothing new changes nothing", record("R1", "5.00", "PENDING"),
         R"({"paymentSummary":{"refunds":[{"refundId":"R1","refundStatus":"PENDING","amount":{"value":"5.00"}}]}})",
         "R1:5.00:PENDING", 1900, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        xml::Document doc = orderWith(c.records);
        EXPECT_EQ(refundMayHaveBeenMade(doc.root()), c.records.find("UNKNOWN") != std::string::npos);
        EXPECT_EQ(applyOrderRefunds(doc.root(),
                                    parseOrderRefunds(QJsonDocument::fromJson(QByteArray::fromStdString(c.getOrder)))),
                  c.changed);
        // Stored with the order, in its namespace, and read back the same.
        xml::Document again = xml::Document::parse(doc.root().xml());
        EXPECT_EQ(statuses(again.root()), c.after);
        EXPECT_EQ(leftToRefundCents(again.root()), c.left);
        EXPECT_FALSE(refundMayHaveBeenMade(again.root()));
        EXPECT_TRUE(paidThroughEbay(again.root()));
    }
    const xml::Document plain = orderWith("");
    EXPECT_EQ(restOrderId(plain.root()), "11-22");
    const xml::Document paypal =
        xml::Document::parse("<Transaction><PaidTime>x</PaidTime><ExternalTransaction><ExternalTransactionID>P1"
                             "</ExternalTransactionID></ExternalTransaction></Transaction>");
    EXPECT_FALSE(paidThroughEbay(paypal.root()));
}

} // namespace
} // namespace tw::ebay
