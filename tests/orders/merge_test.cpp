#include "orders/merge.h"
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
    store.save(store::Doc::Transactions);

    // Same TransactionID with another item is another order.
    EXPECT_EQ(
        orders::mergeTransactions(store, answer(order("2", "0", "<ShippedTime>x</ShippedTime>") + order("4", "0"))), 2);
    EXPECT_EQ(keys(store.transactions()), (std::vector<std::string>{"4/0", "2/0", "3/0", "1/0"}));
    xml::Node again = orders::FindTransaction(store, "2", "0");
    EXPECT_TRUE(again.select("ShippedTime"));
    EXPECT_FALSE(again.select("KORVA"));
    EXPECT_FALSE(again.select("PaypalTransaction"));
    EXPECT_EQ(again.namespaceUri(), "urn:ebay:apis:eBLBaseComponents");

    // What was merged is on disk.
    EXPECT_EQ(keys(xml::Document::load(store.path(store::Doc::Transactions))), keys(store.transactions()));

    // An answer without TransactionArray merges nothing and loses nothing.
    orders::mergeTransactions(store, xml::Document::parse("<GetSellerTransactionsResponse><Ack>Failure</Ack>"
                                                          "</GetSellerTransactionsResponse>"));
    EXPECT_EQ(keys(store.transactions()).size(), 4u);
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
