#include "orders/shipment.h"
#include "tests/support/fake_page.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

struct DrawnRows : ::testing::Test {
    test::TempDir dir;
    test::MockClock clock{DateTime::fromParts(2008, 1, 9, 15, 0, 0)};
    Session session;
    test::FakePage page;
    int table = 0;

    void SetUp() override
    {
        session.openStore(dir.path());
        table = page.add("TABLE", "TransactionsTable");
        page.el(page.insert(table, "row", -1)).tag = "TR"; // header row, no attributes
    }
    // An order row as drawn, six cells, the last one the shipping state.
    int row(const std::string &item, const std::string &txn, const std::string &number)
    {
        int r = page.insert(table, "row", -1);
        page.setAttribute(r, "ItemID", item);
        page.setAttribute(r, "TransactionID", txn);
        page.setAttribute(r, "TrackingNumber", number);
        for (int c = 0; c < 6; ++c)
            page.insert(r, "cell", -1);
        return r;
    }
    std::string state(int r) { return page.property(page.el(r).cells[5], "innerHTML"); }
};

} // namespace

TEST_F(DrawnRows, ShippingStateCellsShowEventsDaysAndErrors)
{
    xml::Document tracking = xml::Document::parse(
        "<TrackingNumbers>"
        "<TrackingNumber ID=\"A\"><LastChecked>2008-01-09 10:00:00</LastChecked><TrackSummary>"
        "<EventDate>January 8, 2008</EventDate><Event>Delivered, In/At Mailbox</Event></TrackSummary></TrackingNumber>"
        "<TrackingNumber ID=\"B\"><LastChecked>2008-01-09 10:00:00</LastChecked><TrackSummary>"
        "<EventDate>January 9, 2008</EventDate><Event>Delivered</Event></TrackSummary></TrackingNumber>"
        "<TrackingNumber ID=\"C\"><LastChecked>2008-01-09 10:00:00</LastChecked><TrackSummary>"
        "<Event>Out for Delivery &amp; &lt;b&gt;soon&lt;/b&gt;</Event></TrackSummary></TrackingNumber>"
        "<TrackingNumber ID=\"D\"><LastChecked>2008-01-09 10:00:00</LastChecked><Error>"
        "<Description>No record of &lt;that&gt; item</Description></Error></TrackingNumber>"
        "<TrackingNumber ID=\"E\"><TrackSummary><EventDate>January 1, 2008</EventDate>"
        "<Event>Delivered</Event></TrackSummary></TrackingNumber>"
        "</TrackingNumbers>");
    auto record = [&](const char *id) {
        return tracking.select("TrackingNumbers/TrackingNumber[@ID=$id]", {{"id", id}});
    };
    const DateTime now = clock.localNow();
    // Shipped 5 Jan 2008 23:30 eBay time; with eBay two hours ahead that is 21:30 local, the same day.
    const double offset = 2.0 / 24;
    auto cell = [&](const char *id, const char *shipped) {
        return orders::shippingStateCell(record(id), shipped, offset, now);
    };
    EXPECT_EQ(cell("A", "2008-01-05T23:30:00.000Z").html,
              "Delivered, In/At Mailbox <div NOWRAP>(in 3 days)</div> <div NOWRAP>Yesterday</div>");
    // Shipped and delivered on the same day: 0 days, in the plural.
    EXPECT_EQ(cell("B", "2008-01-09T08:00:00.000Z").html, "Delivered <div NOWRAP>(in 0 days)</div> "
                                                          "<div NOWRAP>Today</div>");
    EXPECT_EQ(cell("E", "2007-12-31T08:00:00.000Z").html, "Delivered <div NOWRAP>(in 1 day)</div> "
                                                          "<div NOWRAP>8 ago</div>");
    // No shipping time: the event alone.
    EXPECT_EQ(cell("E", "").html, "Delivered");
    // Outside text goes in as text, never as markup.
    EXPECT_EQ(cell("C", "2008-01-05T23:30:00.000Z").html, "Out for Delivery &amp; &lt;b&gt;soon&lt;/b&gt;");
    EXPECT_FALSE(cell("C", "").error);
    orders::ShippingState unknown = cell("D", "2008-01-05T23:30:00.000Z");
    EXPECT_EQ(unknown.html, "No record of &lt;that&gt; item");
    EXPECT_TRUE(unknown.error);
    orders::ShippingState untracked = cell("Z", "2008-01-05T23:30:00.000Z");
    EXPECT_EQ(untracked.html, "");
    EXPECT_FALSE(untracked.error);
}

TEST_F(DrawnRows, TabCaptionsCountTheViews)
{
    for (const char *id : {"TD_DeliveredNeedsFollowUp", "TD_InTransit", "TD_NotShipped", "TD_Archived"})
        page.add("TD", id);
    session.store.transactions() = xml::Document::parse(
        "<Transactions><Transaction><KORVA><ShipmentStatus>Delivered</ShipmentStatus></KORVA><ShippedTime>x"
        "</ShippedTime></Transaction><Transaction><KORVA><ShipmentStatus>Shipped</ShipmentStatus></KORVA>"
        "<ShippedTime>x</ShippedTime></Transaction><Transaction/><Transaction/></Transactions>");
    session.store.archived() = xml::Document::parse("<Transactions><Transaction/></Transactions>");
    orders::UpdateCounts(page, session.store);
    auto caption = [&](const char *id) { return page.property(page.find(id), "innerHTML"); };
    EXPECT_EQ(caption("TD_DeliveredNeedsFollowUp"),
              "<a href=\"http://plinthway/?Action=DisplayDeliveredNeedsFollowUp\">Delivered</a> (1)");
    EXPECT_EQ(caption("TD_InTransit"), "<a href=\"http://plinthway/?Action=DisplayInTransit\">In Transit</a> (1)");
    EXPECT_EQ(caption("TD_NotShipped"), "<a href=\"http://plinthway/?Action=DisplayNotShipped\">Not Shipped</a> (2)");
    EXPECT_EQ(caption("TD_Archived"), "<a href=\"http://plinthway/?Action=DisplayArchived\">Archived</a> (1)");
}
