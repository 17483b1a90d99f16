// E-mail to the tagged buyers as the window runs it: the orders chosen from
// the drawn rows, the compose page, and a send run against a real SMTP
// server (python3-aiosmtpd) with the record of each message on disk.

#include "messaging/compose.h"
#include "messaging/feature.h"
#include "pages/pages.h"
#include "platform/config.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/net/smtp_sink.h"
#include "tests/support/fake_shell.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"
#include "ui/served.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

std::string order(const std::string &item, const std::string &txn, const std::string &user, const std::string &email,
                  const std::string &title)
{
    return "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Buyer><Email>" + email + "</Email><UserID>" + user +
           "</UserID></Buyer><Item><ItemID>" + item + "</ItemID><Title>" + title +
           "</Title></Item><QuantityPurchased>1</QuantityPurchased><TransactionID>" + txn +
           "</TransactionID></Transaction>";
}

// The drawn view as the bulk read of the tag boxes finds it.
class RowsPage : public test::FakePage {
  public:
    std::vector<std::vector<std::string>> rows; // checked, ItemID, TransactionID, tracking, token
    std::vector<std::vector<std::string>> values(int, std::string_view selector,
                                                 const std::vector<std::string> &) override
    {
        return selector.find("input[name=\"tagged\"]") != std::string_view::npos
                   ? rows
                   : std::vector<std::vector<std::string>>{};
    }
    void tag(const std::string &item, const std::string &txn, bool on = true)
    {
        rows.push_back({on ? "true" : "false", item, txn, "", ""});
    }
};

class RowsShell : public test::FakeShell {
  public:
    RowsPage rowsPage;
    page::Page &page() override { return rowsPage; }
};

struct ComposeTest : ::testing::Test {
    void SetUp() override
    {
        setConfig(Config());
        session.openStore(dir.path());
        session.store.transactions() = xml::Document::parse(
            "<Transactions>" + order("100", "1", "anna", "anna@example.com", "Blue Mug") +
            order("200", "2", "anna", "anna@example.com", "Red Plate") +
            order("300", "3", "bob", "Invalid Request", "Bowl") + order("400", "4", "carl", "", "Cup") +
            order("500", "5", "dora", "nobody@example.com", "Jug") +
            order("600", "6", "emil", "reject@example.com", "Pot") +
            order("700", "7", "fritz", "silent@example.com", "Vase") + "</Transactions>");
        session.store.archived() = xml::Document::parse(
            "<Transactions>" + order("100", "1", "anna", "old@example.com", "Blue Mug (archived)") + "</Transactions>");
        messaging::registerFeature(session, shell, table);
        table.setRedraw([this] { ++redraws; });
        auto &p = shell.rowsPage;
        p.add("TABLE", "TransactionsTable");
        for (auto [tag, id] : {std::pair{"INPUT", "To"}, {"INPUT", "From"}, {"INPUT", "Subject"}})
            p.add(tag, id);
        p.add("TEXTAREA", "Message");
        cc = p.add("INPUT", "cc");
    }
    void TearDown() override { setConfig(Config()); }
    std::vector<std::string> selected()
    {
        std::vector<std::string> ids;
        if (session.orderSelection && session.orderSelection.root())
            for (xml::Node o : session.orderSelection.root().elements())
                ids.push_back(GetNodeText(o, "Item/ItemID"));
        return ids;
    }
    bool run(const char *action) { return table.runAction({{"Action", action}}); }
    std::string field(const char *name) { return shell.rowsPage.element(name).value(); }
    size_t recordsOnDisk()
    {
        xml::Document onDisk = xml::Document::load(session.store.path(store::Doc::SentMessages));
        return onDisk.selectAll("Messages/Message").size();
    }

    test::TempDir dir;
    Session session;
    RowsShell shell;
    FeatureTable table;
    int redraws = 0;
    int cc = 0;
};

TEST_F(ComposeTest, TheTaggedOrdersBecomeTheSelectionAndFillTheComposePage)
{
    session.currentView = "InTransit";
    auto &p = shell.rowsPage;

    ASSERT_TRUE(run("SendSMTPTemplateMessage"));
    EXPECT_EQ(shell.boxes,
              (std::vector<std::pair<std::string, std::string>>{{"Send SMTP Message", "Please tag an item first."}}));
    EXPECT_TRUE(shell.navigations.empty());

    // Untagged rows and rows of orders not stored do not count; the withheld
    // address is said and left out; table order is kept.
    shell.boxes.clear();
    p.tag("200", "2");
    p.tag("999", "9");
    p.tag("300", "3");
    p.tag("400", "4", false);
    p.tag("100", "1");
    run("SendSMTPTemplateMessage");
    EXPECT_EQ(shell.boxes, (std::vector<std::pair<std::string, std::string>>{
                               {"Send SMTP Message", "Unable to obtain email address for bob"}}));
    EXPECT_EQ(selected(), (std::vector<std::string>{"200", "100"}));
    // Copies: the store keeps its orders.
    EXPECT_EQ(session.store.transactions().selectAll("Transactions/Transaction").size(), 7u);
    ASSERT_EQ(shell.navigations.size(), 1u);
    EXPECT_EQ(shell.navigations[0].first, pages::url(ui::kComposeEmailPage));

    settings::set(session.store.settings(), "SMTPFrom", "shop@corner.example");
    settings::set(session.store.settings(), "InTransitMessage", "On its way: {Item/Title}");
    for (const auto &[path, fill] : table.pageFills())
        if (path == ui::kComposeEmailPage) fill(pages::url(path));
    EXPECT_EQ(field("To"), "<anna> <anna> ");
    EXPECT_EQ(field("From"), "<shop@corner.example> ");
    EXPECT_EQ(field("Subject"), "re: eBay Item {Item/ItemID} - {Item/Title}");
    EXPECT_EQ(field("Message"), "On its way: {Item/Title}");

    // A view without a message opens with an empty box.
    session.currentView = "NotShipped";
    messaging::DisplayComposeEmail(session, shell);
    EXPECT_EQ(field("Message"), "");

    // Only withheld addresses: nothing to compose, the selection goes.
    p.rows.clear();
    p.tag("300", "3");
    run("SendSMTPTemplateMessage");
    EXPECT_TRUE(selected().empty());
    EXPECT_EQ(shell.navigations.size(), 1u);
}

TEST_F(ComposeTest, TheArchivedViewLooksInTheArchive)
{
    session.currentView = "Archived";
    shell.rowsPage.tag("100", "1");
    shell.rowsPage.tag("200", "2");
    run("SendSMTPTemplateMessage");
    ASSERT_EQ(selected(), std::vector<std::string>{"100"});
    EXPECT_EQ(GetNodeText(session.orderSelection, "Transactions/Transaction/Buyer/Email"), "old@example.com");
}

TEST_F(ComposeTest, SettingsThatCannotWorkSendNothing)
{
    session.selectOrders(session.store.transactions(), {session.store.transactions().root().firstElement()});
    settings::set(session.store.settings(), "SMTPServer", "127.0.0.1");
    settings::set(session.store.settings(), "SMTPFrom", "shop@corner.example");
    for (const char *port : {"smtp", "0", "70000", "25 25"}) {
        settings::set(session.store.settings(), "SMTPPort", port);
        shell.boxes.clear();
        run("SMTPSend");
        ASSERT_EQ(shell.boxes.size(), 1u) << port;
        EXPECT_EQ(shell.boxes[0].second, "The SMTP port \"" + std::string(port) +
                                             "\" is not a whole number from 1 to 65535. Correct it under Tools > "
                                             "Options; no message was sent.");
    }
    settings::set(session.store.settings(), "SMTPPort", "");
    settings::set(session.store.settings(), "SMTPServer", "  ");
    shell.boxes.clear();
    run("SMTPSend");
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].second,
              "Enter your SMTP server and your e-mail address under Tools > Options; no message was sent.");
    EXPECT_EQ(recordsOnDisk(), 0u);
    EXPECT_TRUE(shell.statuses.empty());
    EXPECT_EQ(selected(), std::vector<std::string>{"100"});
    EXPECT_EQ(redraws, 0);
}

class ComposeServerTest : public ComposeTest {
  protected:
    void SetUp() override
    {
        ComposeTest::SetUp();
        std::string problem = sink.start();
        ASSERT_TRUE(problem.empty()) << problem;
        Config c;
        c.set("net/TimeoutSeconds", "10");
        c.set("net/SmtpEndOfDataTimeoutSeconds", "1");
        setConfig(c);
        auto &s = session.store.settings();
        settings::set(s, "SMTPServer", "127.0.0.1");
        settings::set(s, "SMTPPort", std::to_string(sink.port()));
        settings::set(s, "SMTPFrom", "Corner Shop <shop@corner.example>");
        shell.rowsPage.element("Subject").setValue("re: eBay Item {Item/ItemID} - {Item/Title}");
        shell.rowsPage.element("Message").setValue("Hello {Buyer/UserID}: {Tagged/TransactionList}");
    }
    void choose(std::initializer_list<const char *> items)
    {
        std::vector<xml::Node> orders;
        for (const char *item : items)
            orders.push_back(
                session.store.transactions().select("Transactions/Transaction[Item/ItemID=$i]", {{"i", item}}));
        session.selectOrders(session.store.transactions(), orders);
    }
    test::SmtpSink sink;
};

TEST_F(ComposeServerTest, OneMessagePerOrderEachFilledFromItsOwnOrderAndRecorded)
{
    test::MockClock clock(DateTime::fromParts(2008, 1, 5, 9, 3, 7), 0);
    const Clock *previous = setClock(&clock);
    choose({"100", "400", "200"});
    shell.rowsPage.el(cc).props["checked"] = "true";

    ASSERT_TRUE(run("SMTPSend"));
    setClock(previous);
    ASSERT_TRUE(shell.boxes.empty()) << shell.boxes[0].second;
    // The order without an address is skipped, yet counts among the three.
    EXPECT_EQ(shell.statuses, (std::vector<std::string>{"Sending 1 of 3", "Sending 2 of 3"}));
    // The overlay shows while it sends: no second click can start the run again.
    EXPECT_EQ(shell.overlays, (std::vector<std::string>{"Sending e-mail<br>1 of 3", "Sending e-mail<br>2 of 3"}));
    ASSERT_EQ(sink.count(), 2);
    for (int n : {1, 2}) {
        QJsonObject m = sink.received(n);
        const std::string item = n == 1 ? "100" : "200", title = n == 1 ? "Blue Mug" : "Red Plate";
        EXPECT_EQ(test::SmtpSink::recipients(m), (std::vector<std::string>{"anna@example.com", "shop@corner.example"}));
        auto headers = test::SmtpSink::headers(m);
        EXPECT_NE(std::find(headers.begin(), headers.end(),
                            std::pair<std::string, std::string>{"Cc", "Corner Shop <shop@corner.example>"}),
                  headers.end());
        EXPECT_NE(std::find(headers.begin(), headers.end(),
                            std::pair<std::string, std::string>{"Subject", "re: eBay Item " + item + " - " + title}),
                  headers.end());
        EXPECT_EQ(m["body"].toString().toStdString(), "Hello anna: 1 x " + title + " (" + item + ")\r\n");
    }

    // Both records are in the file, in order, each with the order's item.
    xml::Document onDisk = xml::Document::load(session.store.path(store::Doc::SentMessages));
    std::vector<xml::Node> records = onDisk.selectAll("Messages/Message");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(GetNodeText(records[0], "ItemID"), "100");
    EXPECT_EQ(GetNodeText(records[1], "ItemID"), "200");
    EXPECT_EQ(GetNodeText(records[1], "Text"), "Hello anna: 1 x Red Plate (200)");
    EXPECT_EQ(GetNodeText(records[0], "MessageID").size(), 20u);
    EXPECT_TRUE(selected().empty());
    EXPECT_EQ(redraws, 1);
    EXPECT_FALSE(shell.processingShown());
}

TEST_F(ComposeServerTest, AFailedSendStopsThereKeepsWhatWentAndSendingAgainReachesOnlyTheRest)
{
    for (const char *refused : {"500", "600"}) { // 550 at RCPT TO, 554 after the data
        SCOPED_TRACE(refused);
        const int before = sink.count();
        const size_t recorded = recordsOnDisk();
        choose({"100", refused, "200"});
        shell.boxes.clear();
        shell.statuses.clear();
        redraws = 0;

        run("SMTPSend");
        ASSERT_EQ(shell.boxes.size(), 1u);
        EXPECT_EQ(shell.boxes[0].first, "Send SMTP Message");
        const std::string user = std::string(refused) == "500" ? "dora" : "emil";
        const std::string description =
            std::string(refused) == "500"
                ? "The command RCPT TO failed. The server answered: 550 No such user here"
                : "The message was not accepted by the server. The server answered: 554 Message refused: content "
                  "not accepted";
        EXPECT_EQ(shell.boxes[0].second, "The message to " + user +
                                             " was not sent.\n\nSendMail error 5: " + description +
                                             "\n\nSending stopped at this order. 1 message was sent before it and "
                                             "is recorded. Send again to reach the orders not sent yet.");
        EXPECT_EQ(shell.lastStatus(), "");
        EXPECT_FALSE(shell.processingShown());
        EXPECT_EQ(sink.count(), before + 1);
        EXPECT_EQ(recordsOnDisk(), recorded + 1);
        EXPECT_EQ(redraws, 0);
        // The compose page stays with the orders not sent.
        EXPECT_EQ(selected(), (std::vector<std::string>{refused, "200"}));
        EXPECT_EQ(field("To"), "<" + user + "> <anna> ");
    }

    // Sending again does not write to anna twice: it stops at the same order.
    const int sentSoFar = sink.count();
    shell.boxes.clear();
    run("SMTPSend");
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].second, "The message to emil was not sent.\n\nSendMail error 5: The message was not "
                                     "accepted by the server. The server answered: 554 Message refused: content not "
                                     "accepted\n\nSending stopped at this order. Send again to reach the orders not "
                                     "sent yet.");
    EXPECT_EQ(sink.count(), sentSoFar);

    // With an address the server takes, the rest goes, and only the rest.
    SetChildText(session.orderSelection, "Transactions/Transaction[Item/ItemID='600']/Buyer", "Email",
                 "emil@example.com");
    run("SMTPSend");
    EXPECT_EQ(sink.count(), sentSoFar + 2);
    EXPECT_EQ(test::SmtpSink::recipients(sink.received(sentSoFar + 1)), std::vector<std::string>{"emil@example.com"});
    EXPECT_EQ(recordsOnDisk(), 4u);
    EXPECT_TRUE(selected().empty());
    EXPECT_EQ(redraws, 1);
}

TEST_F(ComposeServerTest, AMessageThatMayHaveBeenSentStopsTheRunUnrecordedAndLeavesTheList)
{
    // The server never answers the end of the second message.
    choose({"100", "700", "200"});
    run("SMTPSend");
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].second,
              "The message to fritz may have been sent.\n\nSendMail error 5: The server did not confirm the message "
              "within 1 second; it may have been sent.\n\nSending stopped at this order. It is out of the list so "
              "that the buyer does not get it twice: look in your mail or ask the buyer before you send it again. 1 "
              "message was sent before it and is recorded. Send again to reach the orders not sent yet.");
    EXPECT_EQ(sink.count(), 1);
    EXPECT_EQ(recordsOnDisk(), 1u);
    EXPECT_EQ(selected(), std::vector<std::string>{"200"});
    EXPECT_EQ(field("To"), "<anna> ");
    EXPECT_EQ(redraws, 0);

    // Alone in the list, it leaves the compose page for the view.
    choose({"700"});
    shell.boxes.clear();
    run("SMTPSend");
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].second.rfind("The message to fritz may have been sent.", 0), 0u);
    EXPECT_EQ(shell.boxes[0].second.find("Send again"), std::string::npos);
    EXPECT_TRUE(selected().empty());
    EXPECT_EQ(redraws, 1);
    EXPECT_EQ(recordsOnDisk(), 1u);
}

} // namespace
