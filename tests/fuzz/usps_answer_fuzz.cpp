// Any bytes as a USPS TrackV2 answer: parsed the way the client parses
// answers, stored as tracking records, then every shipped order classified.
// Each shipped order ends up Shipped or Delivered, the counts add up, and
// the saved files read back.
#include "orders/shipment.h"
#include "store/order_index.h"
#include "store/store.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tw;

namespace {

// Three shipped orders (two followed by their numbers), one not shipped.
constexpr const char *kOrders =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><Transactions>"
    "<Transaction><Item><ItemID>1</ItemID></Item><TransactionID>0</TransactionID><ShippedTime>2008-01-02T10:00:00.000Z"
    "</ShippedTime><ShippingDetails><ShipmentTrackingNumber>EJ958083578US</ShipmentTrackingNumber>"
    "<ShippingServiceUsed>USPSPriority</ShippingServiceUsed></ShippingDetails></Transaction>"
    "<Transaction><Item><ItemID>2</ItemID></Item><TransactionID>0</TransactionID><ShippedTime>2008-01-03T10:00:00.000Z"
    "</ShippedTime><ShippingDetails><ShipmentTrackingNumber>9101148008600000000001</ShipmentTrackingNumber>"
    "</ShippingDetails></Transaction>"
    "<Transaction><Item><ItemID>3</ItemID></Item><TransactionID>0</TransactionID><ShippedTime>2008-01-03T10:00:00.000Z"
    "</ShippedTime></Transaction>"
    "<Transaction><Item><ItemID>4</ItemID></Item><TransactionID>0</TransactionID></Transaction></Transactions>";
constexpr const char *kTracking =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><TrackingNumbers><TrackingNumber ID=\"EJ958083578US\">"
    "<LastChecked>2008-01-04 10:00:00</LastChecked><TrackSummary><Event>Acceptance</Event></TrackSummary>"
    "</TrackingNumber></TrackingNumbers>";

store::Store &freshStore()
{
    static store::Store store;
    static bool opened = false;
    if (!opened) {
        store.open(fuzz::dataFolder());
        store.setSaveErrorHandler([](const std::string &) {});
        opened = true;
    }
    store.doc(store::Doc::Transactions) = xml::Document::parse(kOrders);
    store.doc(store::Doc::TrackingNumbers) = xml::Document::parse(kTracking);
    return store;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    xml::Document answer = xml::Document::parseUntrusted(fuzz::text(data, size));
    if (!answer) return 0;
    store::Store &store = freshStore();

    orders::storeTrackingAnswers(store, answer);
    orders::UpdateShipmentStatus(store);

    int shipped = 0;
    for (xml::Node order : store.transactions().selectAll("Transactions/Transaction")) {
        if (!order.element("ShippedTime")) continue;
        ++shipped;
        std::string status = store::childText(order, "KORVA/ShipmentStatus");
        TW_FUZZ_CHECK(status == "Shipped" || status == "Delivered");
    }
    orders::ViewCounts counts = orders::countViews(store);
    TW_FUZZ_CHECK(counts.deliveredNeedsFollowUp + counts.inTransit == shipped);
    TW_FUZZ_CHECK(counts.notShipped == 1);

    // Every stored record: one per number, its event dates read or refused.
    for (xml::Node record : store.trackingNumbers().selectAll("TrackingNumbers/TrackingNumber")) {
        TW_FUZZ_CHECK(record.firstElement().name() == "LastChecked");
        orders::parseEventDate(store::childText(record, "TrackSummary/EventDate"));
    }
    for (store::Doc d : {store::Doc::Transactions, store::Doc::TrackingNumbers}) {
        xml::Document onDisk = xml::Document::load(store.path(d));
        TW_FUZZ_CHECK(onDisk && onDisk.root() && onDisk.root().name() == store::info(d).root);
    }
    return 0;
}
