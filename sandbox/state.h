#pragma once
// The sandbox's world: the seller's buyers, orders, questions, sent messages,
// feedback and USPS tracking histories, with the indexes the answers need.
// Times are eBay times (UTC, as eBay sends them) unless a name says local.
// Nothing here is thread-safe; the sandbox lives on one event loop.

#include "platform/datetime.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tw::sandbox {

struct Address {
    std::string name, street1, street2, city, state, postalCode, country, countryName, phone;
};

struct Buyer {
    std::string userId, email, eiasToken, status = "Confirmed";
    int feedbackScore = 0;
    Address address;
};

// A refund through eBay (issueRefund). Amount in dollars.
struct EbayRefund {
    std::string refundId, reason, comment;
    double amount = 0;
    bool lineLevel = true;
    DateTime date;     // eBay time
    int readsLeft = 0; // getOrder answers still to show it PENDING; each counts one down

    std::string status() const { return readsLeft > 0 ? "PENDING" : "REFUNDED"; }
};

struct Order {
    std::string itemId, transactionId, title, sku, productName;
    int buyer = 0; // index into State::buyers
    int quantity = 1;
    double price = 0, shippingCost = 0;
    std::string shippingService; // ShippingServiceSelected/ShippingService
    bool buyerSelectedShipping = true;
    std::string paymentMethod;       // "PayPal", "MOCC", "None" ...
    std::string paypalTransactionId; // ExternalTransaction, PayPal payments only
    int salesRecordNumber = 0;
    DateTime created, paid, shipped, modified; // paid/shipped invalid when not yet
    std::string trackingNumber, shippingServiceUsed, carrierUsed;
    double packageWidth = 0, packageLength = 0, packageDepth = 0;
    bool irregular = false;

    std::vector<EbayRefund> ebayRefunds;

    bool isPaid() const { return paid.isValid(); }
    // eBay took the payment (no PayPal payment behind the order).
    bool paidThroughEbay() const { return isPaid() && paypalTransactionId.empty(); }
    double total() const { return price * quantity + shippingCost; }
    double leftToRefund() const;
    bool isShipped() const { return shipped.isValid(); }
};

struct Question {
    std::string messageId, itemId, senderId, subject, body;
    DateTime created;
};

struct SentMessage {
    std::string messageId, itemId, sendToName, subject, body;
    DateTime received;
};

struct Feedback {
    std::string feedbackId, commentingUser, commentText, commentType, itemId, transactionId, itemTitle;
    int commentingUserScore = 0;
    double itemPrice = 0;
    DateTime commentTime;
};

enum class TrackingStatus { InTransit, Delivered, DeliveredAbroad, ArrivalAtUnit };

struct Tracking {
    TrackingStatus status = TrackingStatus::InTransit;
    DateTime shippedLocal; // when USPS accepted it, local time
    std::string city, state, zip;
};

struct PaypalRefund {
    std::string refundTransactionId, type, note;
    double gross = 0, fee = 0; // what the payer got back; the part of PayPal's fee returned
    DateTime time;
};

// The PayPal payment behind an order paid with PayPal (its
// ExternalTransactionID). Amounts in dollars.
struct PaypalPayment {
    std::string transactionId;
    int order = -1; // index into State::orders
    std::string payerId, payerEmail, payerStatus, firstName, lastName, note;
    Address shipTo;
    double amount = 0, fee = 0;
    DateTime orderTime; // eBay time
    // GetTransactionDetails answers still to come that show the payment as
    // "Pending" (an eCheck clearing); each such answer counts one down.
    int pendingFetches = 0;
    std::vector<PaypalRefund> refunds;

    double refunded() const;
    double leftToRefund() const;
    // "Pending", "Completed", "Partially-Refunded" or "Refunded".
    std::string status() const;
};

// A sign-in session of the token flow.
struct AuthSession {
    std::string userId; // set when the user granted access
    std::string token;  // set once FetchToken handed it out
};

struct GeneratorOptions {
    std::uint64_t seed = 20080105;
    int orders = 60;
    int buyers = 0; // 0 = about 7 buyers for every 12 orders
};

class State {
  public:
    std::string sellerId = "korva_seller";
    std::vector<Buyer> buyers;
    std::vector<Order> orders;
    std::vector<Question> questions;             // sorted by creation time
    std::vector<SentMessage> sentMessages;       // sorted by receive time
    std::vector<Feedback> feedback;              // newest first
    std::map<std::string, Tracking> tracking;    // by tracking number; others are unknown to USPS
    std::map<std::string, AuthSession> sessions; // by session id
    std::set<std::string> tokens;                // tokens issued by FetchToken
    std::map<std::string, PaypalPayment> paypal; // by PayPal transaction id
    // eBay's refunds: how many getOrder answers show a new refund PENDING
    // before it is REFUNDED, and how many days after its creation an order
    // can still be refunded (later: "too late").
    int refundPendingReads = 1;
    int refundWindowDays = 180;

    // Fills the world from `options`, with times before `ebayNow`. The same
    // options and time always give the same world.
    void generate(const GeneratorOptions &options, const DateTime &ebayNow, int utcOffsetSeconds);

    // The order with this item and transaction id, or nullptr.
    Order *findOrder(const std::string &itemId, const std::string &transactionId);
    const Order *findOrder(const std::string &itemId, const std::string &transactionId) const;
    bool hasItem(const std::string &itemId) const;
    const Order *firstOrderOfItem(const std::string &itemId) const;

    // Indexes (into `orders`) of the orders modified in [from, to], oldest
    // modification first. Uses the modification index; no scan.
    std::pair<std::size_t, std::size_t> modifiedRange(const DateTime &from, const DateTime &to) const;
    int orderAt(std::size_t indexPosition) const { return m_byModified[indexPosition]; }

    // Call after changing an order's `modified` time.
    void touched(int orderIndex, const DateTime &oldModified);
    // Rebuilds every index; call after editing the vectors directly.
    void reindex();

    // Appends a sent message (keeps the receive-time order) and returns its id.
    std::string addSentMessage(SentMessage message);

  private:
    std::vector<int> m_byModified;
    std::map<std::pair<std::string, std::string>, int> m_byId;
    std::map<std::string, int> m_firstOfItem;
    std::uint64_t m_nextMessageId = 0;
};

const char *trackingStatusName(TrackingStatus status);

} // namespace tw::sandbox
