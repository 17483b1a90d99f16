#include "orders/merge.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

std::string order(const std::string &item, const std::string &txn, const std::string &extra = {})
{
    return "<Transaction><Item><ItemID>" + item + "</ItemID></Item><TransactionID>" + txn + "</TransactionID>" + extra +
           "</Transaction>";
}

xml::Document answer(const std::string &transactions)
{
    return xml::Document::parse("<GetSellerTransactionsResponse xmlns=\"urn:ebay:apis:eBLBaseComponents\">"
                                "<Ack>Success</Ack><TransactionArray>" +
                                transactions + "</TransactionArray></GetSellerTransactionsResponse>");
}

std::vector<std::string> keys(const xml::Document &doc)
{
    std::vector<std::string> out;
    for (auto t : doc.selectAll("Transactions/Transaction"))
        out.push_back(t.select("Item/ItemID").text() + "/" + t.select("TransactionID").text());
    return out;
}

struct MergeTest : ::testing::Test {
    test::TempDir dir;
    store::Store store;
    void SetUp() override { store.open(dir.path()); }
};

} // namespace

TEST_F(MergeTest, DownloadedOrdersReplaceStoredOnesAndStandFirst)
{
    orders::mergeTransactions(store, answer(order("1", "0") + order("2", "0") + order("3", "0")));
    EXPECT_EQ(keys(store.transactions()), (std::vector<std::string>{"3/0", "2/0", "1/0"}));

    // Give the stored order 2 the program's own children, then download it again.
    xml::Node two = orders::FindTransaction(store, "2", "0");
    two.appendElement("KORVA").appendElement("ShipmentStatus", "Shipped");
    two.appendElement("PaypalTransaction").appendElement("AMT", "9.99");
    two.appendElement("eBayRefund").appendElement("Status", "UNKNOWN");
    store.save(store::Doc::Transactions);

    // Same TransactionID with another item is another order.
    EXPECT_EQ(
        orders::mergeTransactions(store, answer(order("2", "0", "<ShippedTime>x</ShippedTime>") + order("4", "0"))), 2);
    EXPECT_EQ(keys(store.transactions()), (std::vector<std::string>{"4/0", "2/0", "3/0", "1/0"}));
    xml::Node again = orders::FindTransaction(store, "2", "0");
    EXPECT_TRUE(again.select("ShippedTime"));
    EXPECT_FALSE(again.select("KORVA"));
    EXPECT_FALSE(again.select("PaypalTransaction"));
    // A refund through eBay is ours to track until eBay confirms it.
    EXPECT_EQ(GetNodeText(again, "eBayRefund/Status"), "UNKNOWN");
    EXPECT_EQ(again.namespaceUri(), "urn:ebay:apis:eBLBaseComponents");

    // What was merged is on disk.
    EXPECT_EQ(keys(xml::Document::load(store.path(store::Doc::Transactions))), keys(store.transactions()));

    // An answer without TransactionArray merges nothing and loses nothing.
    orders::mergeTransactions(store, xml::Document::parse("<GetSellerTransactionsResponse><Ack>Failure</Ack>"
                                                          "</GetSellerTransactionsResponse>"));
    EXPECT_EQ(keys(store.transactions()).size(), 4u);
}

TEST_F(MergeTest, EachOrderOfAMultiQuantityListingIsItsOwnRecord)
{
    // One listing sold three times: one item, three transactions.
    orders::mergeTransactions(store, answer(order("7", "100") + order("7", "101") + order("7", "102")));
    EXPECT_EQ(keys(store.transactions()), (std::vector<std::string>{"7/102", "7/101", "7/100"}));

    // Re-downloading one of them replaces exactly that one.
    orders::mergeTransactions(store, answer(order("7", "101", "<ShippedTime>x</ShippedTime>")));
    EXPECT_EQ(keys(store.transactions()), (std::vector<std::string>{"7/101", "7/102", "7/100"}));
    EXPECT_TRUE(orders::FindTransaction(store, "7", "101").select("ShippedTime"));
    EXPECT_FALSE(orders::FindTransaction(store, "7", "100").select("ShippedTime"));
    EXPECT_FALSE(orders::FindTransaction(store, "7", "102").select("ShippedTime"));
}

TEST_F(MergeTest, TheBookmarkMovesOnlyAfterTheDataIsSaved)
{
    std::vector<std::string> told;
    store.setSaveErrorHandler([&](const std::string &m) { told.push_back(m); });
    auto bookmarkOnDisk = [&](const char *key) {
        xml::Document onDisk = xml::Document::load(store.path(store::Doc::Settings));
        return settings::read(onDisk, key);
    };

    // Transactions.xml cannot be replaced (here: a folder stands in its way,
    // as a protected file or a full disk would).
    std::filesystem::remove(store.path(store::Doc::Transactions));
    std::filesystem::create_directory(store.path(store::Doc::Transactions));
    const settings::Bookmark orders{"LastGetSellerTransactions", "2008-01-05T09:03:07Z"};
    EXPECT_EQ(orders::mergeTransactions(store, answer(order("1", "0")), orders), 1);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("Transactions.xml could not be saved"), std::string::npos) << told[0];
    EXPECT_EQ(settings::read(store.settings(), "LastGetSellerTransactions"), "");
    EXPECT_EQ(bookmarkOnDisk("LastGetSellerTransactions"), "");

    // Once the file can be written again, the next merge moves it.
    std::filesystem::remove(store.path(store::Doc::Transactions));
    orders::mergeTransactions(store, answer(order("1", "0")), orders);
    EXPECT_EQ(bookmarkOnDisk("LastGetSellerTransactions"), "2008-01-05T09:03:07Z");
    EXPECT_EQ(keys(xml::Document::load(store.path(store::Doc::Transactions))), (std::vector<std::string>{"1/0"}));

    // The same for questions and sent messages.
    for (store::Doc d : {store::Doc::Messages, store::Doc::SentMessages}) {
        std::filesystem::remove(store.path(d));
        std::filesystem::create_directory(store.path(d));
    }
    const settings::Bookmark questions{"LastGetMemberMessages", "2008-01-05T09:03:07Z"};
    const settings::Bookmark sent{"LastGetSentMessages", "2008-01-05T09:03:07Z"};
    orders::mergeMemberMessages(store,
                                xml::Document::parse("<GetMemberMessagesResponse><MemberMessage><MemberMessageExchange>"
                                                     "<CreationDate>x</CreationDate></MemberMessageExchange>"
                                                     "</MemberMessage></GetMemberMessagesResponse>"),
                                questions);
    orders::mergeSentMessages(
        store,
        xml::Document::parse("<GetMyMessagesResponse><Messages><Message><MessageID>1</MessageID></Message>"
                             "</Messages></GetMyMessagesResponse>"),
        sent);
    EXPECT_EQ(told.size(), 3u);
    EXPECT_EQ(bookmarkOnDisk("LastGetMemberMessages"), "");
    EXPECT_EQ(bookmarkOnDisk("LastGetSentMessages"), "");

    // A window without sent messages has nothing to save and is done with.
    orders::mergeSentMessages(store, xml::Document(nullptr), sent);
    EXPECT_EQ(bookmarkOnDisk("LastGetSentMessages"), "2008-01-05T09:03:07Z");
}

TEST_F(MergeTest, QuestionsAndSentMessagesAreStoredOnceAndMoveToTheEnd)
{
    auto question = [](const std::string &item, const std::string &sender, const std::string &date,
                       const std::string &body) {
        return "<MemberMessageExchange><Item><ItemID>" + item + "</ItemID></Item><Question><SenderID>" + sender +
               "</SenderID><Body>" + body + "</Body></Question><CreationDate>" + date +
               "</CreationDate></MemberMessageExchange>";
    };
    auto questions = [](const std::string &body) {
        return xml::Document::parse("<GetMemberMessagesResponse xmlns=\"urn:ebay:apis:eBLBaseComponents\">"
                                    "<MemberMessage>" +
                                    body + "</MemberMessage></GetMemberMessagesResponse>");
    };
    orders::mergeMemberMessages(store, questions(question("1", "o'brien", "2008-01-01T00:00:00.000Z", "a") +
                                                 question("1", "o'brien", "2008-01-02T00:00:00.000Z", "b")));
    orders::mergeMemberMessages(store, questions(question("1", "o'brien", "2008-01-01T00:00:00.000Z", "a2")));
    auto stored = store.doc(store::Doc::Messages).selectAll("Messages/MemberMessageExchange");
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].select("Question/Body").text(), "b");
    EXPECT_EQ(stored[1].select("Question/Body").text(), "a2");

    auto sent = [](const std::string &ids) {
        return xml::Document::parse("<GetMyMessagesResponse><Messages>" + ids + "</Messages></GetMyMessagesResponse>");
    };
    orders::mergeSentMessages(store, sent("<Message><MessageID>1</MessageID><Text>x</Text></Message>"
                                          "<Message><MessageID>2</MessageID></Message>"));
    orders::mergeSentMessages(store, sent("<Message><MessageID>1</MessageID><Text>y</Text></Message>"));
    auto messages = store.doc(store::Doc::SentMessages).selectAll("Messages/Message");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].select("Text").text(), "y");
    auto onDisk = xml::Document::load(store.path(store::Doc::SentMessages));
    EXPECT_EQ(onDisk.selectAll("Messages/Message").size(), 2u);
}
