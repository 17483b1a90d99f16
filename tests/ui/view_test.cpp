// The view's pieces that need no browser: the sort orders, the command
// menu, the rating box and when it is fetched again, and moving orders
// between the store and the archive.

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

std::vector<std::string> ids(const SortedOrders &sorted)
{
    std::vector<std::string> out;
    for (xml::Node o : sorted.orders)
        out.push_back(store::childText(o, "Item/ItemID"));
    return out;
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

    EXPECT_EQ(ids(sortedOrders(session, kNotShipped)),
              (std::vector<std::string>{"new", "old", "unpaid-amy", "unpaid-zed"}));
    // Sales-record numbers sort as numbers: 10 before 9.
    EXPECT_EQ(ids(sortedOrders(session, kDeliveredNeedsFollowUp)), (std::vector<std::string>{"d10", "d9"}));
    EXPECT_EQ(ids(sortedOrders(session, kInTransit)), (std::vector<std::string>{"t2"}));
    EXPECT_EQ(ids(sortedOrders(session, kArchived)), (std::vector<std::string>{"a3", "a1"}));
    session.store.archived() = xml::Document::parse("<Transactions/>");
    EXPECT_TRUE(sortedOrders(session, kArchived).orders.empty());
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
