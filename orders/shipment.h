#pragma once
// Shipment state of orders: which USPS numbers are followed, how answers are
// stored in TrackingNumbers.xml, each order's KORVA/ShipmentStatus, the tab
// counts and the shipping-state cells of the drawn rows.

#include "platform/page.h"
#include "platform/xml.h"
#include "store/session.h"
#include "store/store.h"

#include <string_view>
#include <vector>

namespace tw::orders {

class clsUSPSAPI;

// "Delivered", "Delivered Abroad", "Arrival at Unit", and any event that
// begins with "Delivered" in any capitals ("DELIVERED", "Delivered, In/At
// Mailbox"): USPS has worded deliveries differently over the years.
bool isDeliveryEvent(std::string_view event);

// A TrackIDs document: one TrackID (attribute ID) per followed number, in
// order. USPS services are followed; other UPS services are not; any other
// service is followed when its number begins with "9101".
xml::Document ConverteBayTransactionsToTrackID(const std::vector<xml::Node> &orders);

// Stores every TrackResponse/TrackInfo as a TrackingNumber record with
// LastChecked = now (local), replacing the number's older record and
// appending the new one at the end. Saves TrackingNumbers.xml.
void storeTrackingAnswers(store::Store &store, const xml::Document &response);

// Asks USPS about the followed numbers of `orders` and stores the answers.
// False when nothing came back (nothing is stored then).
bool CheckDeliveryStatusOfTransactions(store::Store &store, const std::vector<xml::Node> &orders, clsUSPSAPI &usps);

// Sets KORVA/ShipmentStatus of every shipped order of Transactions.xml from
// its tracking record: "Delivered" on a delivery event, otherwise "Shipped".
// Saves Transactions.xml when an order changed; returns how many changed.
int UpdateShipmentStatus(store::Store &store);

struct ViewCounts {
    int deliveredNeedsFollowUp = 0;
    int inTransit = 0;
    int notShipped = 0;
    int archived = 0;
};
ViewCounts countViews(const store::Store &store);

// Writes the four tab captions of the main page.
void UpdateCounts(page::Page &page, const store::Store &store);
void writeCounts(page::Page &page, const ViewCounts &counts);

// The shipping-state cell of an order row (the sixth cell) from the tracking
// record of its number: the event, and for a delivery the days in transit
// and since delivery; for a USPS error its description on a red row
// (`error`). HTML, outside text escaped; "" without a record. `shippedTime`
// is the order's ShippedTime (eBay time), `now` the local time.
struct ShippingState {
    std::string html;
    bool error = false;
};
ShippingState shippingStateCell(xml::Node record, std::string_view shippedTime, double eBayClockOffset,
                                const DateTime &now);

// A USPS EventDate ("April 22, 2015") as a date; invalid when it is not one.
DateTime parseEventDate(std::string_view text);

} // namespace tw::orders
