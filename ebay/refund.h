#pragma once
// Refunds through eBay for orders eBay took the payment of (no PayPal
// payment behind them): the Fulfillment API's issueRefund, and getOrder to
// learn what became of a refund, which eBay makes later (PENDING, then
// REFUNDED or FAILED).
//
// Each refund is kept with its order, as an eBayRefund child of the
// Transaction, from before it is sent: a record still "UNKNOWN" after the
// send (no answer, a cut-off one, a window closed while waiting) means the
// refund may have been made, and nothing is offered for the order until
// getOrder has said whether it was.

#include "ebay/clseBayConnection.h"
#include "platform/xml.h"

#include <QByteArray>
#include <QJsonDocument>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tw::ebay {

// eBay's reasons for a refund and how the form words them.
struct RefundReason {
    std::string_view code;
    std::string_view words;
};
inline constexpr std::array<RefundReason, 7> kRefundReasons = {{
    {"BUYER_CANCEL", "The buyer cancelled the order"},
    {"SELLER_CANCEL", "I cancelled the order"},
    {"BUYER_RETURN", "The buyer returned the item"},
    {"ITEM_NOT_RECEIVED", "The item did not arrive"},
    {"ITEM_NOT_AS_DESCRIBED", "The item was not as described"},
    {"SHIPPING_DISCOUNT", "Shipping cost less than the buyer paid"},
    {"OTHER_ADJUSTMENT", "Another adjustment"},
}};
// The words of `code`; "" for a code eBay does not know.
std::string_view reasonWords(std::string_view code);

// eBay's limit on the comment to the buyer, in characters.
inline constexpr int kCommentLimit = 100;

// What the order record says about a refund.
inline constexpr std::string_view kPending = "PENDING";
inline constexpr std::string_view kRefunded = "REFUNDED";
inline constexpr std::string_view kFailed = "FAILED";
inline constexpr std::string_view kUnknown = "UNKNOWN"; // sent, answer lost: may have been made

enum class RefundLevel {
    Line, // the order's line, named by its Trading item and transaction ids
    Order // the whole order
};

struct RefundRequest {
    std::string orderId;
    std::string itemId, transactionId; // for a line refund
    RefundLevel level = RefundLevel::Line;
    long long cents = 0;
    std::string currency = "USD";
    std::string reason;  // one of kRefundReasons' codes
    std::string comment; // "" for none
};

// The JSON body of issueRefund for `request`.
QByteArray refundBody(const RefundRequest &request);
// The REST paths of getOrder and issueRefund for an order id.
std::string orderPath(std::string_view orderId);
std::string refundPath(std::string_view orderId);

// Dollars and cents as a seller types them ("5", "5.5", "$5.50") in cents;
// -1 for anything else. And back: "5.50".
long long parseCents(std::string_view text);
std::string centsText(long long cents);

// The refund form's checks, in order; `problem` is "" when the refund may go.
struct FormCheck {
    std::string problem;
    long long cents = 0;
};
FormCheck checkRefundForm(long long leftCents, std::string_view typedAmount, std::string_view reason,
                          std::string_view comment);

// eBay's refusal of a refund, or of the call, in words a seller can act on.
std::string refusalWords(const RestResponse &response);

// ---- the records kept with the order ----------------------------------------

struct RefundRecord {
    std::string localId; // ours, to find the record again after a wait
    std::string refundId;
    long long cents = 0;
    std::string currency = "USD";
    std::string status; // kPending, kRefunded, kFailed or kUnknown
    std::string reason;
    std::string level; // "LINE", "ORDER", or "" for one made elsewhere
    std::string date;  // eBay time of the send (or of eBay's record)
};

std::vector<RefundRecord> refundRecords(xml::Node order);
// Appends the record as the order's last eBayRefund child.
void addRefundRecord(xml::Node order, const RefundRecord &record);
// The record with this local id; null when none.
xml::Node findRefundRecord(xml::Node order, std::string_view localId);

// Paid, and not through PayPal: eBay took the payment and refunds it.
bool paidThroughEbay(xml::Node order);
// What the buyer paid (AmountPaid) less every refund not known to have
// failed, in cents; never below zero.
long long leftToRefundCents(xml::Node order);
// A refund of the order may have been made (its answer was lost).
bool refundMayHaveBeenMade(xml::Node order);
// A refund is pending or unknown: the drawing asks eBay about the order.
bool refundNeedsCheck(xml::Node order);
// The order id eBay's REST calls take: the order it belongs to, else its
// Trading order line item id (item id "-" transaction id), which eBay
// takes as the legacy id of a one-line order.
std::string restOrderId(xml::Node order);

// What getOrder says of an order's refunds.
struct EbayRefund {
    std::string refundId;
    long long cents = 0;
    std::string status; // "" when eBay gave none
    std::string date;
};
std::vector<EbayRefund> parseOrderRefunds(const QJsonDocument &order);

// Brings the order's records in line with eBay's word: known refund ids
// take eBay's status; an UNKNOWN record takes the first refund eBay has of
// the same amount that no record holds, and is removed when there is none
// (no refund was made); refunds eBay has that no record holds (made on
// eBay's site) are added. True when anything changed.
bool applyOrderRefunds(xml::Node order, const std::vector<EbayRefund> &refunds);

// ---- the calls ---------------------------------------------------------------

struct SendOutcome {
    enum class Kind {
        Accepted,        // eBay took it: refundId and status (PENDING, or FAILED with words)
        Refused,         // nothing was made: words say why
        MayHaveHappened, // no usable answer: ask eBay before offering it again
        NotSent,         // nothing reached eBay: words say why
    } kind = Kind::NotSent;
    std::string refundId, status, words;
};
// Sends the refund once (never repeated by the transport, but a 401 is
// refreshed and sent once more, as eBay did nothing then).
SendOutcome issueRefund(clseBayConnection &connection, const RefundRequest &request);

struct OrderAnswer {
    bool ok = false;
    std::vector<EbayRefund> refunds;
    std::string problem; // when not ok
    bool noAnswer = false;
};
OrderAnswer getOrderRefunds(clseBayConnection &connection, std::string_view orderId);

} // namespace tw::ebay
