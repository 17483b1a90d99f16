#include "orders/shipment.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

std::string shippedOrder(const std::string &item, const std::string &service, const std::string &number,
                         bool shipped = true)
{
    return "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>" + item +
           "</ItemID></Item><TransactionID>0</TransactionID>" +
           (shipped ? "<ShippedTime>2008-01-05T10:00:00.000Z</ShippedTime>" : "") +
           "<ShippingDetails><ShipmentTrackingNumber>" + number + "</ShipmentTrackingNumber><ShippingServiceUsed>" +
           service + "</ShippingServiceUsed></ShippingDetails></Transaction>";
}

std::string trackInfo(const std::string &id, const std::string &event)
{
    return "<TrackInfo ID=\"" + id + "\"><TrackSummary><EventDate>January 7, 2008</EventDate><Event>" + event +
           "</Event></TrackSummary><TrackDetail><Event>Acceptance</Event></TrackDetail></TrackInfo>";
}

} // namespace

TEST(Shipment, DeliveryEventsOfEveryEra)
{
    for (const char *e : {"Delivered", "Delivered Abroad", "Arrival at Unit", "DELIVERED", "Delivered, In/At Mailbox",
                          "Delivered, Front Door/Porch", "delivered"})
        EXPECT_TRUE(orders::isDeliveryEvent(e)) << e;
    for (const char *e : {"", "Out for Delivery", "Arrival at Post Office", "arrival at unit", "Undeliverable"})
        EXPECT_FALSE(orders::isDeliveryEvent(e)) << e;
}

TEST(Shipment, WhichNumbersAreFollowed)
{
    xml::Document doc = xml::Document::parse(
        "<Transactions>" + shippedOrder("1", "USPSPriority", "A1") + shippedOrder("2", "UPSGround", "9101X") +
        shippedOrder("3", "Other", "9101222") + shippedOrder("4", "Other", "1Z999") +
        shippedOrder("5", "USPSFirstClass", "") + shippedOrder("6", "USPSPriority", "A1") + "</Transactions>");
    xml::Document ids = orders::ConverteBayTransactionsToTrackID(doc.selectAll("Transactions/Transaction"));
    std::vector<std::string> got;
    for (auto id : ids.selectAll("TrackIDs/TrackID"))
        got.push_back(id.attribute("ID"));
    EXPECT_EQ(got, (std::vector<std::string>{"A1", "9101222", "", "A1"}));
}

TEST(Shipment, AnswersAreStoredOnePerNumberAndDriveTheOrderStates)
{
    test::TempDir dir;
    test::MockClock clock(DateTime::fromParts(2008, 1, 9, 12, 0, 0));
    store::Store store;
    store.open(dir.path());
    store.transactions() = xml::Document::parse(
        "<Transactions>" + shippedOrder("1", "USPSPriority", "N1") + shippedOrder("2", "USPSPriority", "N2") +
        shippedOrder("3", "USPSPriority", "N3") + shippedOrder("4", "USPSPriority", "") +
        shippedOrder("5", "USPSPriority", "N5", false) + "</Transactions>");

    orders::storeTrackingAnswers(store, xml::Document::parse("<TrackResponse>" + trackInfo("N1", "Arrival at Unit") +
                                                             trackInfo("N2", "Delivered, In/At Mailbox") +
                                                             "<TrackInfo ID=\"N3\"><Error><Description>"
                                                             "No record</Description></Error></TrackInfo>"
                                                             "</TrackResponse>"));
    auto records = store.trackingNumbers().selectAll("TrackingNumbers/TrackingNumber");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].firstElement().name(), "LastChecked");
    EXPECT_EQ(DateTime::fromString(records[0].firstElement().text()), clock.localNow());
    EXPECT_EQ(records[0].select("TrackDetail/Event").text(), "Acceptance");

    EXPECT_EQ(orders::UpdateShipmentStatus(store), 4);
    auto status = [&](const std::string &item) {
        return store.transactions()
            .select("Transactions/Transaction[Item/ItemID=$i]/KORVA/ShipmentStatus", {{"i", item}})
            .text();
    };
    EXPECT_EQ(status("1"), "Delivered");
    EXPECT_EQ(status("2"), "Delivered");
    EXPECT_EQ(status("3"), "Shipped");
    EXPECT_EQ(status("4"), "Shipped");
    EXPECT_EQ(status("5"), "");
    EXPECT_EQ(orders::UpdateShipmentStatus(store), 0); // nothing to change, nothing saved

    // A later answer for N1 replaces its record at the end and moves the order back.
    clock.advanceSecs(3600);
    orders::storeTrackingAnswers(
        store, xml::Document::parse("<TrackResponse>" + trackInfo("N1", "Out for Delivery") + "</TrackResponse>"));
    records = store.trackingNumbers().selectAll("TrackingNumbers/TrackingNumber");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records.back().attribute("ID"), "N1");
    EXPECT_EQ(orders::UpdateShipmentStatus(store), 1);
    EXPECT_EQ(status("1"), "Shipped");
    EXPECT_EQ(store.transactions().selectAll("Transactions/Transaction[Item/ItemID='1']/KORVA").size(), 1u);

    auto onDisk = xml::Document::load(store.path(store::Doc::Transactions));
    EXPECT_EQ(onDisk.select("Transactions/Transaction[Item/ItemID='1']/KORVA/ShipmentStatus").text(), "Shipped");

    orders::ViewCounts counts = orders::countViews(store);
    EXPECT_EQ(counts.deliveredNeedsFollowUp, 1);
    EXPECT_EQ(counts.inTransit, 3);
    EXPECT_EQ(counts.notShipped, 1);
    EXPECT_EQ(counts.archived, 0);
}

TEST(Shipment, EventDates)
{
    EXPECT_EQ(orders::parseEventDate("April 22, 2015"), DateTime::fromParts(2015, 4, 22));
    EXPECT_EQ(orders::parseEventDate("May 1, 2001"), DateTime::fromParts(2001, 5, 1));
    EXPECT_FALSE(orders::parseEventDate("Apr 22, 2015").isValid());
    EXPECT_FALSE(orders::parseEventDate("April 31, 2015").isValid());
    EXPECT_FALSE(orders::parseEventDate("April 22, 2015 extra").isValid());
    EXPECT_FALSE(orders::parseEventDate("").isValid());
}
