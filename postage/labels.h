#pragma once
// The record of printed labels (ShippingLabels.xml): a label appended for a
// printed DAZzle package or a WorldShip shipment, each with a record of its
// orders' tracking uploads (orders/uploads.h), and the labels an order
// already has. Appending does not save: the caller saves once, together
// with whatever else belongs to the same step.

#include "orders/uploads.h"
#include "platform/datetime.h"
#include "platform/xml.h"
#include "postage/dazzle.h"
#include "store/store.h"

#include <string>
#include <string_view>
#include <vector>

namespace tw::postage {

struct WorldShipOutput;

inline constexpr std::string_view kEbayRefusedUpload = "Could not update eBay with shipping information.";

// The store document the current view shows orders from: the archived
// orders for "Archived", otherwise Transactions.
store::Doc activeStoreDocument(std::string_view currentView);

// The orders of the selection (item id, transaction id), in order.
std::vector<DazzleOrder> selectionOrders(const xml::Node &selection);

// ShippingLabels, created when the store does not hold it yet: loaded from
// its file when that reads, otherwise made empty and saved at once (a file
// that does not read is kept aside first, never overwritten).
xml::Document &ensureShippingLabels(store::Store &store);

struct RecordedLabel {
    std::string trackingNumber;
    std::vector<DazzleOrder> orders; // the orders it was printed for
};

// Appends the label of a printed DAZzle package: a packing list of its
// orders (with quantity, SKU, product name and price of those found in the
// `active` store document), TimeStamp `eBayNow`, carrier USPS, tracking
// number, postage, a copy of the package and an Unconfirmed upload record
// per order. Not saved.
RecordedLabel appendDazzleLabel(store::Store &store, store::Doc active, const DazzlePackage &package,
                                const DateTime &eBayNow);

// Appends the label of a shipped WorldShip shipment (`output` read and
// shipped()): empty packing list, TimeStamp `eBayNow`, carrier UPS, the
// tracking number, postage "Unknown", a copy of the OpenShipment and an
// Unconfirmed upload record for each of `orders`. Not saved.
RecordedLabel appendWorldShipLabel(store::Store &store, const WorldShipOutput &output,
                                   const std::vector<DazzleOrder> &orders, const DateTime &eBayNow);

// A label already recorded for an order: in a DAZzle packing list or in a
// label's upload records.
struct ExistingLabel {
    std::string carrier, trackingNumber, timeStamp;
};
std::vector<ExistingLabel> labelsOf(const xml::Document &labels, std::string_view itemId,
                                    std::string_view transactionId);

} // namespace tw::postage
