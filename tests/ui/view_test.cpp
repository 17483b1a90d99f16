// The view's pieces that need no browser: the sort orders, the command
// menu, the rating box and when it is fetched again, and moving orders
// between the store and the archive.

#include "orders/shipment.h"
#include "platform/config.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/support/fake_shell.h"
#include "tests/support/loopback_http.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"
#include "ui/rows.h"
#include "ui/tags.h"
#include "ui/view.h"

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::ui;

namespace {

const std::string kNs = " xmlns=\"urn:ebay:apis:eBLBaseComponents\"";

std::string order(const std::string &id, const std::string &inner)
{
    return "<Transaction" + kNs + "><Item><ItemID>" + id + "</ItemID></Item><TransactionID>0</TransactionID>" + inner +
           "</Transaction>";
}

std::vector<std::string> ids(const std::vector<xml::Node> &orders)
{
    std::vector<std::string> out;
    for (xml::Node o : orders)
        out.push_back(store::childText(o, "Item/ItemID"));
    return out;
}

// The view's orders the way the program first drew them: the whole source
// document copied through the view's XSLT sort stylesheet, then the view's
// query over the copy.
std::vector<xml::Node> byStylesheet(const xml::Document &source, std::string_view view, xml::Document &copy)
{
    const std::string sort =
        view == kNotShipped ? "      <xsl:sort select=\"ebay:PaidTime\" data-type=\"text\" order=\"descending\"/>"
                              "      <xsl:sort select=\"ebay:Buyer/ebay:UserID\" data-type=\"text\"/>"
                            : "      <xsl:sort select=\"ebay:ShippingDetails/ebay:SellingManagerSalesRecordNumber\" "
                              "data-type=\"number\" order=\"descending\"/>";
    const std::string stylesheet =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
        "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" "
        "xmlns:ebay=\"urn:ebay:apis:eBLBaseComponents\">"
        "  <xsl:output method=\"xml\" version=\"1.0\" encoding=\"utf-8\" />"
        "  <xsl:template match=\"Transactions\">    <Transactions>    <xsl:for-each select=\"ebay:Transaction\">" +
        sort +
        "          <xsl:copy-of select=\".\" />    </xsl:for-each>    </Transactions>  </xsl:template>"
        "</xsl:stylesheet>";
    copy = xml::transform(xml::Document::parse(stylesheet), source);
    const char *select = view == kDeliveredNeedsFollowUp ? "Transaction[KORVA/ShipmentStatus='Delivered']"
                         : view == kInTransit            ? "Transaction[KORVA/ShipmentStatus='Shipped']"
                         : view == kNotShipped           ? "Transaction[not (ShippedTime)]"
                                                         : "Transaction";
    return copy.root().selectAll(select);
}

struct ViewTest : ::testing::Test {
    void SetUp() override
    {
        Config c;
        c.set("ebay/ApiUrl", peer.url("/ws/api.dll"));
        c.set("net/TimeoutSeconds", "5");
        setConfig(c);
        session.openStore(dir.path());
    }
    void TearDown() override { setConfig(Config()); }

    test::MockClock clock{DateTime::fromParts(2008, 1, 9, 15, 0, 0)};
    test::LoopbackHttp peer;
    test::TempDir dir;
    Session session;
    test::FakeShell shell;
};

TEST_F(ViewTest, EachViewSelectsAndSortsItsOrders)
{
    auto paid = [](const char *time, const char *buyer) {
        return std::string("<Buyer><UserID>") + buyer + "</UserID></Buyer>" +
               (*time ? std::string("<PaidTime>") + time + "</PaidTime>" : std::string());
    };
    auto shipped = [](const char *record, const char *status) {
        return std::string("<ShippedTime>t</ShippedTime><ShippingDetails><SellingManagerSalesRecordNumber>") + record +
               "</SellingManagerSalesRecordNumber></ShippingDetails><KORVA><ShipmentStatus>" + status +
               "</ShipmentStatus></KORVA>";
    };
    session.store.transactions() = xml::Document::parse(
        "<Transactions>" + order("unpaid-zed", paid("", "zed")) + order("old", paid("2008-01-01T00:00:00Z", "c")) +
        order("unpaid-amy", paid("", "amy")) + order("new", paid("2008-01-08T00:00:00Z", "b")) +
        order("d9", shipped("9", "Delivered")) + order("d10", shipped("10", "Delivered")) +
        order("t2", shipped("2", "Shipped")) + "</Transactions>");
    session.store.archived() = xml::Document::parse("<Transactions>" + order("a1", shipped("1", "")) +
                                                    order("a3", shipped("3", "")) + "</Transactions>");

    EXPECT_EQ(ids(viewOrders(session.store, kNotShipped)),
              (std::vector<std::string>{"new", "old", "unpaid-amy", "unpaid-zed"}));
    // Sales-record numbers sort as numbers: 10 before 9.
    EXPECT_EQ(ids(viewOrders(session.store, kDeliveredNeedsFollowUp)), (std::vector<std::string>{"d10", "d9"}));
    EXPECT_EQ(ids(viewOrders(session.store, kInTransit)), (std::vector<std::string>{"t2"}));
    EXPECT_EQ(ids(viewOrders(session.store, kArchived)), (std::vector<std::string>{"a3", "a1"}));
    session.store.archived() = xml::Document::parse("<Transactions/>");
    EXPECT_TRUE(viewOrders(session.store, kArchived).empty());
}

// A store with every kind of key the sorts meet: equal keys, missing keys,
// keys that are no numbers, numbers written oddly, other scripts, records of
// no namespace. Each view drawn by the program holds the same rows, in the
// same order and byte for byte, as the stylesheets gave, with the same counts.
TEST_F(ViewTest, ViewsAreDrawnAsTheSortStylesheetsOrderedThem)
{
    const char *paid[] = {"",
                          "2008-01-02T10:00:00.000Z",
                          "2008-01-02T10:00:00Z",
                          "2008-01-10T00:00:00.000Z",
                          " 2008",
                          "zz",
                          "\xc3\x84rger"};
    const char *buyers[] = {"", "amy", "Amy", "zed", "\xc3\xa4my", "b b"};
    const char *records[] = {"", "10", "9", "09", " 12 ", "-3", "1e3", "abc", "7.5", ".5", "5.", "+4", "1,000", "10"};
    std::string tx = "<Transactions>", archive = "<Transactions>", tracking = "<TrackingNumbers>";
    for (int k = 0; k < 240; ++k) {
        const std::string ns = k % 37 == 5 ? "" : kNs; // a few records of no namespace
        std::string o = "<Transaction" + ns + "><Item><ItemID>" + std::to_string(100 + k % 50) +
                        "</ItemID><Title>Lamp " + std::to_string(k) + "</Title></Item><TransactionID>" +
                        std::to_string(k) + "</TransactionID><Buyer><UserID>" + buyers[k % 6] + "</UserID></Buyer>";
        if (*paid[k % 7]) o += std::string("<PaidTime>") + paid[k % 7] + "</PaidTime>";
        if (k % 3 != 0) {
            o += "<ShippedTime>2008-01-03T10:00:00.000Z</ShippedTime><ShippingDetails>";
            if (*records[k % 14])
                o += std::string("<SellingManagerSalesRecordNumber>") + records[k % 14] +
                     "</SellingManagerSalesRecordNumber>";
            o += "<ShipmentTrackingNumber>9101" + std::to_string(k) + "</ShipmentTrackingNumber></ShippingDetails>";
            tracking += "<TrackingNumber ID=\"9101" + std::to_string(k) + "\"><TrackSummary><Event>" +
                        (k % 4 == 1 ? "Delivered" : "Out for Delivery") + "</Event></TrackSummary></TrackingNumber>";
        }
        o += "</Transaction>";
        (k % 5 == 0 ? archive : tx) += o;
    }
    session.store.transactions() = xml::Document::parse(tx + "</Transactions>");
    session.store.archived() = xml::Document::parse(archive + "</Transactions>");
    session.store.trackingNumbers() = xml::Document::parse(tracking + "</TrackingNumbers>");
    // The shipping states as the drawing brings them up to date.
    orders::UpdateShipmentStatus(session.store);
    session.feedbackRating = xml::Document::parse("<GetFeedbackResponse><Ack>Failure</Ack></GetFeedbackResponse>");
    for (const char *id :
         {"message", "submenu", "TD_DeliveredNeedsFollowUp", "TD_InTransit", "TD_NotShipped", "TD_Archived"})
        shell.fake.add("DIV", id);
    const int table = shell.fake.add("TABLE", "TransactionsTable");

    const orders::ViewCounts counts = orders::countViews(session.store);
    // All views sorted in one walk, as the window sorts them, come out as each alone.
    auto together = viewOrders(session.store, {kDeliveredNeedsFollowUp, kInTransit, kNotShipped, kArchived});
    for (std::string_view view : {kDeliveredNeedsFollowUp, kInTransit, kNotShipped, kArchived}) {
        EXPECT_EQ(ids(together[std::string(view)].orders), ids(viewOrders(session.store, view))) << view;
        xml::Document copy;
        const std::vector<xml::Node> expected = byStylesheet(
            session.store.doc(view == kArchived ? store::Doc::ArchivedTransactions : store::Doc::Transactions), view,
            copy);
        ASSERT_GT(expected.size(), 5u) << view;
        EXPECT_EQ(ids(viewOrders(session.store, view)), ids(expected)) << view;
        std::vector<std::string> keys, expectedKeys;
        for (xml::Node o : viewOrders(session.store, view))
            keys.push_back(store::childText(o, "TransactionID"));
        for (xml::Node o : expected)
            expectedKeys.push_back(store::childText(o, "TransactionID"));
        EXPECT_EQ(keys, expectedKeys) << view;

        // The drawing itself: every row, byte for byte.
        RowBuilder builder(session, view, clock.localNow());
        std::string rows;
        for (size_t k = 0; k < expected.size(); ++k)
            rows += builder.row(expected[k], int(k));
        shell.fake.el(table).props.clear();
        session.currentView = std::string(view);
        DisplayTransactions(session, shell);
        EXPECT_EQ(shell.fake.el(table).props["innerHTML"], rows) << view;
    }
    EXPECT_EQ(shell.fake.element("TD_NotShipped").innerText(),
              "Not Shipped (" + std::to_string(counts.notShipped) + ")");
    EXPECT_EQ(shell.fake.element("TD_Archived").innerText(), "Archived (" + std::to_string(counts.archived) + ")");
    EXPECT_EQ(shell.fake.element("TD_InTransit").innerText(), "In Transit (" + std::to_string(counts.inTransit) + ")");
}

TEST_F(ViewTest, TheCommandMenuFollowsTheViewAndTheSmtpSettings)
{
    auto &s = session.store.settings();
    std::string notShipped = commandMenuHtml(kNotShipped, s);
    EXPECT_EQ(notShipped.find("TagWithFeedback"), std::string::npos);
    EXPECT_EQ(notShipped.find("SendSMTPTemplateMessage"), std::string::npos);
    EXPECT_NE(notShipped.find("Action=ArchiveTagged\">Archive Tagged</a>"), std::string::npos);
    EXPECT_NE(notShipped.find("<a href=\"http://plinthway/?Action=ArchiveAll\">Archive All</a>"), std::string::npos);
    EXPECT_EQ(notShipped.rfind("<div style=\"display: inline;white-space: nowrap;\">&nbsp;&nbsp;<a href=\"http://"
                               "plinthway/?Action=TagAll\">Tag All</a> ",
                               0),
              0u);
    settings::set(s, "SMTPServer", "mail.example");
    settings::set(s, "SMTPFrom", "  ");
    EXPECT_EQ(commandMenuHtml(kArchived, s).find("SendSMTPTemplateMessage"), std::string::npos);
    settings::set(s, "SMTPFrom", "me@example.com");
    std::string archived = commandMenuHtml(kArchived, s);
    EXPECT_NE(archived.find("Compose SMTP Message"), std::string::npos);
    EXPECT_NE(archived.find("Tag Items with Feedback"), std::string::npos);
    EXPECT_NE(archived.find("Restore Tagged"), std::string::npos);
    EXPECT_EQ(archived.find("Archive Tagged"), std::string::npos);
    EXPECT_EQ(archived.find("ArchiveAll"), std::string::npos);
}

std::string feedbackAnswer(const std::string &ack, const std::string &timestamp)
{
    return "<GetFeedbackResponse" + kNs + "><Timestamp>" + timestamp + "</Timestamp><Ack>" + ack +
           "</Ack><FeedbackSummary><SellerRatingSummaryArray><AverageRatingSummary><FeedbackSummaryPeriod>"
           "ThirtyDays</FeedbackSummaryPeriod><AverageRatingDetails><RatingDetail>Communication</RatingDetail>"
           "<Rating>4.9</Rating><RatingCount>12</RatingCount></AverageRatingDetails></AverageRatingSummary>"
           "</SellerRatingSummaryArray></FeedbackSummary></GetFeedbackResponse>";
}

TEST_F(ViewTest, TheRatingBoxIsFetchedAgainOnlyWhenASuccessIsOverAnHourOld)
{
    for (const char *id : {"TransactionsTable", "message", "submenu"})
        shell.fake.add(id == std::string("TransactionsTable") ? "TABLE" : "DIV", id);
    session.currentView = std::string(kNotShipped);
    peer.setHandler([](const test::RecordedRequest &) {
        return test::ScriptedResponse{200, feedbackAnswer("Success", "2008-01-09T15:00:00.000Z")};
    });
    DisplayTransactions(session, shell);
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0].header("X-EBAY-API-CALL-NAME"), "GetFeedback");
    const std::string box = shell.fake.element("message").innerHTML();
    EXPECT_NE(box.find("DSR Score - Rolling 30 Days"), std::string::npos);
    EXPECT_NE(box.find("Communication:</font></td><td><font style=\"font-size: xx-small;\">4.9 (12 Ratings)"),
              std::string::npos);
    EXPECT_NE(box.find("Item As Described:</font></td><td><font style=\"font-size: xx-small;\">-- (0 Ratings)"),
              std::string::npos);

    clock.advanceSecs(59 * 60);
    DisplayTransactions(session, shell);
    EXPECT_EQ(peer.requests().size(), 1u);
    clock.advanceSecs(2 * 60);
    DisplayTransactions(session, shell);
    EXPECT_EQ(peer.requests().size(), 2u);

    // A failure is shown as it is and not asked again by age.
    session.feedbackRating = xml::Document::parse(feedbackAnswer("Failure", "2008-01-01T00:00:00.000Z"));
    clock.advanceSecs(5 * 3600);
    DisplayTransactions(session, shell);
    EXPECT_EQ(peer.requests().size(), 2u);
    EXPECT_FALSE(shell.processingShown());
    EXPECT_EQ(settings::read(xml::Document::load(session.store.path(store::Doc::Settings)), "LastTab"), "NotShipped");
}

TEST_F(ViewTest, ARedrawOnAnotherPageLoadsTheMainPageFirst)
{
    shell.fake.address = "tidewell://pages/KORVA/ComposeEmail.html";
    DisplayTransactions(session, shell);
    ASSERT_EQ(shell.navigations.size(), 1u);
    EXPECT_EQ(shell.navigations[0].first, "tidewell://pages/KORVA/main-1.0.47.html");
    EXPECT_TRUE(peer.requests().empty());
    EXPECT_TRUE(shell.overlays.empty());
}

TEST_F(ViewTest, MovingKeepsOneCopyFirstInTheTargetAndSkipsMissingOrders)
{
    xml::Document active =
        xml::Document::parse("<Transactions>" + order("1", "<Title>a</Title>") + order("2", "") + "</Transactions>");
    xml::Document archive = xml::Document::parse("<Transactions>" + order("9", "") +
                                                 order("1", "<Title>old copy</Title>") + "</Transactions>");
    std::vector<OrderRow> rows = {{"1", "0", {}, {}, true}, {"missing", "0", {}, {}, true}};
    EXPECT_EQ(moveOrders(active, archive, rows), 1);
    EXPECT_EQ(active.selectAll("Transactions/Transaction").size(), 1u);
    std::vector<xml::Node> archived = archive.selectAll("Transactions/Transaction");
    ASSERT_EQ(archived.size(), 2u);
    EXPECT_EQ(store::childText(archived[0], "Title"), "a");
    EXPECT_EQ(store::childText(archived[1], "Item/ItemID"), "9");
    // The moved copy keeps eBay's namespace.
    EXPECT_EQ(archived[0].namespaceUri(), xml::kEbayNamespace);

    // Two orders of one multi-quantity listing move one at a time.
    xml::Document two = xml::Document::parse("<Transactions>" + order("5", "") + "<Transaction" + kNs +
                                             "><Item><ItemID>5</ItemID></Item><TransactionID>1"
                                             "</TransactionID></Transaction></Transactions>");
    xml::Document empty = xml::Document::parse("<Transactions/>");
    EXPECT_EQ(moveOrders(two, empty, {{"5", "1", {}, {}, true}}), 1);
    EXPECT_EQ(GetNodeText(two, "Transactions/Transaction/TransactionID"), "0");
    EXPECT_EQ(GetNodeText(empty, "Transactions/Transaction/TransactionID"), "1");
}

} // namespace
