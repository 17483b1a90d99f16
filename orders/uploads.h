#pragma once
// Tracking numbers sent to eBay (CompleteSale) and what became of each. A
// label keeps, for every order it was printed for, whether eBay took the
// number ("Sent"), refused it ("Refused", with eBay's words) or gave no
// answer ("Unconfirmed": it may have reached eBay). The record is an element
// of our own at the end of the label in ShippingLabels.xml:
//
//   <ShippingLabel> ... <KORVA><Upload><ItemID/><TransactionID/><Status/>
//                            <Asked/><Problem/></Upload> ... </KORVA></ShippingLabel>
//
// Asked is the eBay time the number was last sent (none: never sent). A
// refused number may be sent again at any time. An unconfirmed one is only
// sent again once eBay has been asked about the order after that time (a
// download of orders), so a number never goes to eBay twice on a guess.

#include "platform/shell.h"
#include "store/order_index.h"
#include "store/session.h"
#include "store/store.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw::ebay {
class clseBayAPI;
}

namespace tw::orders {

inline constexpr std::string_view kUploadSent = "Sent";
inline constexpr std::string_view kUploadRefused = "Refused";
inline constexpr std::string_view kUploadUnconfirmed = "Unconfirmed";

// Adds an Unconfirmed upload record for each order to `label`; not saved.
void addUploadRecords(xml::Node label, const std::vector<store::OrderKey> &orders);

// One order's number that eBay has not confirmed.
struct PendingUpload {
    std::string itemId, transactionId;
    std::string carrier, trackingNumber, timeStamp; // the label's
    std::string status;                             // Refused or Unconfirmed
    std::string asked;                              // eBay time of the last sending, "" for never
    std::string problem;                            // eBay's words for a refusal
};
// Every upload record of `labels` that is not Sent, in label order.
std::vector<PendingUpload> pendingUploads(const xml::Document &labels);
// The pending upload of one order (of its latest label), if any.
std::optional<PendingUpload> pendingUpload(const xml::Document &labels, std::string_view itemId,
                                           std::string_view transactionId);

enum class ShippedUpdate {
    NotFound, // the order is not in the document: nothing changed
    Saved,
    NotSaved, // changed in memory, the save failed
};
// After eBay accepted the upload for one order: ShipmentTrackingNumber and
// ShippingServiceUsed (from the selected service) when the tracking number
// is not empty and the order has ShippingDetails, and ShippedTime `eBayNow`.
// Saves the document `active`.
ShippedUpdate markOrderShipped(store::Store &store, store::Doc active, std::string_view itemId,
                               std::string_view transactionId, std::string_view trackingNumber,
                               const DateTime &eBayNow);

enum class UploadOutcome {
    Accepted, // eBay took it (Success or Warning)
    Refused,  // eBay answered Failure: it did not happen
    NoAnswer, // no answer, or one that could not be read: it may have happened
};
// Sends one order's tracking number to eBay and records what came of it in
// the upload record of the label with this order and tracking number
// (looked up again after the call, as events run while it waits). Accepted
// also marks the order shipped in `active` (or, when it is not there, in the
// other orders document). Saves what changed. `problem`, when given, gets
// eBay's words or why no answer came.
UploadOutcome uploadTracking(Session &session, ebay::clseBayAPI &api, const store::OrderKey &order,
                             const std::string &carrier, const std::string &trackingNumber, store::Doc active,
                             std::string *problem = nullptr);

struct RetryResult {
    int alreadyAtEbay = 0; // eBay showed the order shipped with the number
    int sent = 0;
    int refused = 0;
    int unanswered = 0;
    int total() const { return alreadyAtEbay + sent + refused + unanswered; }
};
// How long after a sending a download's window must end before its answer
// counts for that sending (eBay's order times lag a little behind).
inline constexpr int kAskedMarginSeconds = 60;

// To be run once eBay has been asked for the seller's orders changed up to
// the eBay time `askedUpTo` (the download merged them): a pending upload
// whose order eBay shows shipped with the label's number is settled as
// Sent; an unconfirmed one sent later than `askedUpTo` less the margin waits
// for the next download; every other one is sent again, one order at a
// time, with `shell`'s overlay telling which.
RetryResult retryPendingUploads(Session &session, ebay::clseBayAPI &api, Shell &shell, const DateTime &askedUpTo);
// The status-bar line after a retry; "" when nothing was pending.
std::string retrySummary(const RetryResult &result);

// The overlay text while one order's tracking number goes to eBay
// ("Uploading Tracking to eBay<BR>Item: ..."), values escaped.
std::string uploadingTrackingHtml(std::string_view itemId, std::string_view transactionId, std::string_view carrier,
                                  std::string_view trackingNumber);

} // namespace tw::orders
