#pragma once
// The record of printed labels (ShippingLabels.xml) and the store updates
// after eBay accepted a tracking number. Every function here saves what it
// changes; a failed save is told to the store's save-error handler and
// shows in the result.

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
    xml::Node label; // the new ShippingLabel
    std::string trackingNumber;
    bool saved = false;
};

// Appends the label of a printed DAZzle package: a packing list of its
// orders (with quantity, SKU, product name and price of those found in the
// `active` store document), TimeStamp `eBayNow`, carrier USPS, tracking
// number, postage and a copy of the package. Saves ShippingLabels.xml.
RecordedLabel recordDazzleLabel(store::Store &store, store::Doc active, const DazzlePackage &package,
                                const DateTime &eBayNow);

// Appends the label of a WorldShip shipment: empty packing list, TimeStamp
// `eBayNow`, carrier UPS, the tracking number read, postage "Unknown" and a
// copy of the OpenShipment. Saves ShippingLabels.xml. `output` must have
// been read (state Read).
RecordedLabel recordWorldShipLabel(store::Store &store, const WorldShipOutput &output, const DateTime &eBayNow);

enum class ShippedUpdate {
    NotFound, // the order is not in the active document: nothing changed
    Saved,
    NotSaved, // changed in memory, the save failed
};
// After eBay accepted the upload for one order: ShipmentTrackingNumber and
// ShippingServiceUsed (from the selected service) when the tracking number
// is not empty and the order has ShippingDetails, and ShippedTime `eBayNow`.
// Saves the active document.
ShippedUpdate markOrderShipped(store::Store &store, store::Doc active, std::string_view itemId,
                               std::string_view transactionId, std::string_view trackingNumber,
                               const DateTime &eBayNow);

// The overlay text while one order's tracking number goes to eBay
// ("Uploading Tracking to eBay<BR>Item: ..."), values escaped.
std::string uploadingTrackingHtml(std::string_view itemId, std::string_view transactionId, std::string_view carrier,
                                  std::string_view trackingNumber);

} // namespace tw::postage
