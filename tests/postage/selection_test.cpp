// The orders of one label, chosen from the tagged rows of the view.
#include "postage/printing.h"
#include "store/basFunctions.h"
#include "tests/support/fake_shell.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace tw::test {
namespace {

using namespace postage;

std::string order(const std::string &item, const std::string &txn, const std::string &buyer)
{
    return "<Transaction xmlns='urn:ebay:apis:eBLBaseComponents'><Item><ItemID>" + item +
           "</ItemID></Item><TransactionID>" + txn + "</TransactionID><Buyer><UserID>user-" + buyer +
           "</UserID><EIASToken>" + buyer + "</EIASToken></Buyer></Transaction>";
}

ui::OrderRow row(const std::string &item, const std::string &txn, const std::string &buyer, bool tagged)
{
    return {item, txn, "", buyer, tagged};
}

class SelectionTest : public ::testing::Test {
  protected:
    TempDir dir;
    Session session;
    FakeShell shell;
    FeatureTable table;
    std::unique_ptr<Printing> printing;

    void SetUp() override
    {
        session.openStore(dir.path());
        session.store.transactions() = xml::Document::parse(
            "<Transactions>" + order("1", "0", "ann") + order("2", "0", "ann") + order("3", "0", "ann") +
            order("4", "0", "bob") + order("5", "0", "ann") + "</Transactions>");
        session.store.archived() = xml::Document::parse("<Transactions>" + order("9", "0", "cy") + "</Transactions>");
        printing = std::make_unique<Printing>(session, shell, table);
    }

    // The selected orders as "item/transaction", in order.
    std::vector<std::string> selected() const
    {
        std::vector<std::string> out;
        if (!session.orderSelection) return out;
        for (const xml::Node &o : session.orderSelection.root().elements())
            out.push_back(GetNodeText(o, "Item/ItemID") + "/" + GetNodeText(o, "TransactionID"));
        return out;
    }
};

TEST_F(SelectionTest, NothingTaggedIsToldAndChangesNothing)
{
    session.selectOrders(session.store.transactions(), {session.store.transactions().select("*/Transaction")});
    EXPECT_FALSE(printing->selectOrders({row("1", "0", "ann", false)}));
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0], std::make_pair(std::string("Print Postage"), std::string("Please tag an item first.")));
    EXPECT_EQ(selected(), std::vector<std::string>{"1/0"});
}

TEST_F(SelectionTest, TheBuyersOtherOrdersAreOfferedOnceAndFollowTheTaggedOnes)
{
    // The page lists an untagged order of Ann's before the tagged ones.
    const std::vector<ui::OrderRow> rows = {row("3", "0", "ann", false), row("4", "0", "bob", false),
                                            row("1", "0", "ann", true), row("2", "0", "ann", true),
                                            row("5", "0", "ann", false)};
    shell.answers = {"No"};
    EXPECT_TRUE(printing->selectOrders(rows));
    EXPECT_EQ(selected(), (std::vector<std::string>{"1/0", "2/0"}));
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].second, "Would you like to automatically include other transactions from user-ann?");

    shell.boxes.clear();
    shell.answers = {"Yes"};
    EXPECT_TRUE(printing->selectOrders(rows));
    EXPECT_EQ(selected(), (std::vector<std::string>{"1/0", "2/0", "3/0", "5/0"}));
    EXPECT_EQ(shell.boxes.size(), 1u);
    // The copies keep the store's root and the orders' contents.
    EXPECT_EQ(session.orderSelection.root().name(), "Transactions");
    EXPECT_EQ(GetNodeText(session.orderSelection.root().firstElement(), "Buyer/UserID"), "user-ann");
}

TEST_F(SelectionTest, OrdersOfTwoBuyersAreRefusedWithoutAskingAboutMore)
{
    session.selectOrders(session.store.transactions(), {session.store.transactions().select("*/Transaction")});
    EXPECT_FALSE(
        printing->selectOrders({row("1", "0", "ann", true), row("4", "0", "bob", true), row("2", "0", "ann", false)}));
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0],
              std::make_pair(std::string("Tidewell"), std::string("Cannot combine orders from different buyers.")));
    EXPECT_FALSE(session.orderSelection);
    EXPECT_TRUE(shell.navigations.empty());
}

TEST_F(SelectionTest, RowsAreLookedUpInTheDocumentOfTheView)
{
    // The archived order is not found while another view shows, and no
    // other order is offered in its place...
    EXPECT_FALSE(printing->selectOrders({row("9", "0", "cy", true), row("1", "0", "", false)}));
    EXPECT_TRUE(shell.boxes.empty());
    EXPECT_FALSE(session.orderSelection);
    // ...and is in the Archived view; ids that would break a query find nothing.
    session.currentView = "Archived";
    EXPECT_TRUE(printing->selectOrders({row("9", "0", "cy", true), row("9' or '1'='1", "0", "cy", true)}));
    EXPECT_EQ(selected(), std::vector<std::string>{"9/0"});
}

} // namespace
} // namespace tw::test
