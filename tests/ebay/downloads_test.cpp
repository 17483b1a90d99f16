#include "tests/ebay/ebay_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace tw::test {
namespace {

std::string transactions(const std::vector<std::string> &ids)
{
    std::string s = "<TransactionArray>";
    for (const std::string &id : ids)
        s += "<Transaction><TransactionID>" + id + "</TransactionID></Transaction>";
    return s + "</TransactionArray>";
}

std::string transactionsPage(int page, int pages, const std::string &array)
{
    return ebayResponse("GetSellerTransactions", "Success",
                        "<PaginationResult><TotalNumberOfPages>" + std::to_string(pages) +
                            "</TotalNumberOfPages><TotalNumberOfEntries>25</TotalNumberOfEntries></PaginationResult>"
                            "<HasMoreTransactions>" +
                            (page < pages ? "true" : "false") + "</HasMoreTransactions><PageNumber>" +
                            std::to_string(page) + "</PageNumber>" + array);
}

std::vector<std::string> ids(const xml::Document &doc, const std::string &xpath)
{
    std::vector<std::string> out;
    for (xml::Node n : doc.selectAll(xpath))
        out.push_back(n.text());
    return out;
}

using DownloadTest = EbayTest;

TEST_F(DownloadTest, TimeWindowOfTheSinceLastDownload)
{
    session.eBayClockOffset = 1.0 / 24; // eBay runs an hour ahead of this machine
    struct {
        std::string maxDays, last, from;
    } cases[] = {
        {"60", "", "2007-12-08T10:03:07Z"},                     // first download, 28 days at most
        {"10", "", "2007-12-26T10:03:07Z"},                     // a shorter limit
        {"28", "2008-01-02T09:03:07Z", "2008-01-02T08:58:07Z"}, // 3 days old: 5 minutes of overlap
        {"28", "2007-11-26T09:03:07Z", "2007-12-08T08:58:07Z"}, // 40 days old: pulled to the limit, local time
    };
    for (const auto &c : cases) {
        settings::set(settings(), "GetSellerTransactionsMaxDays", c.maxDays);
        settings::set(settings(), "LastGetSellerTransactions", c.last);
        peer.enqueue(transactionsPage(1, 1, transactions({"1"})));
        settings::Bookmark bookmark;
        api->SynchronousGetSellerTransactions(&bookmark);
        xml::Document request = sent(peer.requests().size() - 1);
        EXPECT_EQ(GetNodeText(request, "GetSellerTransactionsRequest/ModTimeFrom"), c.from) << c.maxDays << c.last;
        EXPECT_EQ(GetNodeText(request, "GetSellerTransactionsRequest/ModTimeTo"), "2008-01-05T10:03:07Z");
        // The end of the window becomes the bookmark, stored by whoever saves the orders.
        EXPECT_EQ(bookmark.key, "LastGetSellerTransactions");
        EXPECT_EQ(bookmark.value, "2008-01-05T10:03:07Z");
        EXPECT_EQ(setting("LastGetSellerTransactions"), c.last);
    }
}

TEST_F(DownloadTest, PagesAreMergedInOrderAndTheBookmarkIsHandedBackAfterTheLast)
{
    settings::set(settings(), "LastGetSellerTransactions", "2008-01-04T09:00:00Z");
    std::vector<std::string> bookmarkSeen;
    peer.setHandler([&](const RecordedRequest &r) {
        bookmarkSeen.push_back(setting("LastGetSellerTransactions"));
        std::string page =
            GetNodeText(xml::Document::parse(r.body), "GetSellerTransactionsRequest/Pagination/PageNumber");
        if (page == "1") return ScriptedResponse{200, transactionsPage(1, 3, "")}; // no TransactionArray at all
        if (page == "2") return ScriptedResponse{200, transactionsPage(2, 3, transactions({"A", "B"}))};
        return ScriptedResponse{200, transactionsPage(3, 3, transactions({"C"}))};
    });
    settings::Bookmark bookmark{"stale", "stale"};
    xml::Document result = api->SynchronousGetSellerTransactions(&bookmark);

    ASSERT_TRUE(result);
    EXPECT_EQ(ids(result, "GetSellerTransactionsResponse/TransactionArray/Transaction/TransactionID"),
              (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(GetNodeText(result, "GetSellerTransactionsResponse/PageNumber"), "1");
    const std::string old = "2008-01-04T09:00:00Z";
    EXPECT_EQ(bookmarkSeen, (std::vector<std::string>{old, old, old}));
    EXPECT_EQ(setting("LastGetSellerTransactions"), old);
    EXPECT_EQ(bookmark.key, "LastGetSellerTransactions");
    EXPECT_EQ(bookmark.value, "2008-01-05T09:03:07Z");
    EXPECT_EQ(ui.overlays,
              (std::vector<std::string>{"Downloading eBay Transactions", "Downloading eBay Transactions<br>Page 2 of 3",
                                        "Downloading eBay Transactions<br>Page 3 of 3"}));
}

TEST_F(DownloadTest, ByDaysNeverTouchesTheBookmark)
{
    settings::set(settings(), "LastGetSellerTransactions", "2008-01-04T09:00:00Z");
    peer.enqueue(transactionsPage(1, 2, transactions({"A"})));
    peer.enqueue(transactionsPage(2, 2, transactions({"B"})));
    xml::Document result = api->SynchronousGetSellerTransactionsByDays("7");
    EXPECT_EQ(peer.requests().size(), 2u);
    EXPECT_EQ(ids(result, "//Transaction/TransactionID"), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(setting("LastGetSellerTransactions"), "2008-01-04T09:00:00Z");
    EXPECT_EQ(GetNodeText(sent(1), "GetSellerTransactionsRequest/NumberOfDays"), "7");
}

TEST_F(DownloadTest, FailureAndUnconfirmedPagesEndTheDownloadWithoutMovingTheBookmark)
{
    settings::set(settings(), "LastGetSellerTransactions", "2008-01-04T09:00:00Z");
    peer.enqueue(transactionsPage(1, 2, transactions({"A"})));
    peer.enqueue(failure("GetSellerTransactions", "Auth token is invalid."));
    settings::Bookmark bookmark{"stale", "stale"};
    EXPECT_TRUE(api->SynchronousGetSellerTransactions(&bookmark).isNull());
    EXPECT_FALSE(bookmark);
    EXPECT_EQ(ui.lastStatus(), "Error: Auth token is invalid.");
    EXPECT_EQ(setting("LastGetSellerTransactions"), "2008-01-04T09:00:00Z");

    // A page eBay only warns about, or an answer that is not eBay's, is sent
    // again a bounded number of times.
    peer.setHandler([](const RecordedRequest &) {
        return ScriptedResponse{200, ebayResponse("GetSellerTransactions", "Warning")};
    });
    size_t before = peer.requests().size();
    EXPECT_TRUE(api->SynchronousGetSellerTransactions().isNull());
    EXPECT_EQ(peer.requests().size() - before, size_t(ebay::clseBayAPI::kMaxPageRetries + 1));
    EXPECT_NE(ui.lastStatus().find("Error: eBay did not confirm page 1 (answer \"Warning\")"), std::string::npos)
        << ui.lastStatus();
    EXPECT_EQ(setting("LastGetSellerTransactions"), "2008-01-04T09:00:00Z");

    int calls = 0;
    peer.setHandler([&](const RecordedRequest &) {
        if (++calls <= 2) return ScriptedResponse{200, "garbage"};
        return ScriptedResponse{200, transactionsPage(1, 1, transactions({"A"}))};
    });
    EXPECT_TRUE(api->SynchronousGetSellerTransactions());
    EXPECT_EQ(calls, 3);
}

TEST_F(DownloadTest, PagingStopsAfterThePagesEbayAnnounced)
{
    // eBay claims two pages but keeps saying there are more.
    peer.setHandler([&](const RecordedRequest &r) {
        std::string page =
            GetNodeText(xml::Document::parse(r.body), "GetSellerTransactionsRequest/Pagination/PageNumber");
        return ScriptedResponse{
            200, ebayResponse("GetSellerTransactions", "Success",
                              "<PaginationResult><TotalNumberOfPages>2</TotalNumberOfPages></PaginationResult>"
                              "<HasMoreTransactions>true</HasMoreTransactions><PageNumber>" +
                                  page + "</PageNumber>" + transactions({"T" + page}))};
    });
    settings::Bookmark bookmark{"stale", "stale"};
    xml::Document result = api->SynchronousGetSellerTransactions(&bookmark);
    EXPECT_EQ(peer.requests().size(), 2u);
    // What came is kept; the window is asked again next time.
    EXPECT_EQ(ids(result, "//Transaction/TransactionID"), (std::vector<std::string>{"T1", "T2"}));
    EXPECT_FALSE(bookmark);
    EXPECT_EQ(
        ui.lastStatus(),
        "Error: eBay still reported more after page 2 of 2; the download stopped there and is repeated next time.");

    // Without a page count the ceiling holds: an answer that jumps to the
    // page before it leaves room for one more request.
    const std::string lastPage = std::to_string(ebay::clseBayAPI::kMaxPages - 1);
    peer.setHandler([&](const RecordedRequest &) {
        return ScriptedResponse{
            200, ebayResponse("GetMemberMessages", "Success",
                              "<HasMoreItems>true</HasMoreItems><PageNumber>" + lastPage + "</PageNumber>")};
    });
    size_t before = peer.requests().size();
    EXPECT_TRUE(api->SynchronousGetMemberMessages(&bookmark));
    ASSERT_EQ(peer.requests().size() - before, 2u);
    EXPECT_EQ(GetNodeText(sent(before + 1), "GetMemberMessagesRequest/Pagination/PageNumber"),
              std::to_string(ebay::clseBayAPI::kMaxPages));
    EXPECT_FALSE(bookmark);
    EXPECT_NE(ui.lastStatus().find("of an unknown number"), std::string::npos) << ui.lastStatus();
}

TEST_F(DownloadTest, AnAnswerWithADocumentTypeDeclarationIsNoAnswer)
{
    // Entities would be copied into Transactions.xml as references it cannot
    // read back; the answer is treated like one that is not XML.
    peer.setHandler([](const RecordedRequest &) {
        std::string page = transactionsPage(1, 1, transactions({"&shop;"}));
        return ScriptedResponse{200, "<!DOCTYPE GetSellerTransactionsResponse [<!ENTITY shop \"Harbour\">]>" +
                                         page.substr(page.find("?>") + 2)};
    });
    settings::Bookmark bookmark;
    EXPECT_TRUE(api->SynchronousGetSellerTransactions(&bookmark).isNull());
    EXPECT_EQ(peer.requests().size(), size_t(ebay::clseBayAPI::kMaxPageRetries + 1));
    EXPECT_NE(ui.lastStatus().find("(no valid answer)"), std::string::npos) << ui.lastStatus();
    EXPECT_FALSE(bookmark);
}

TEST_F(DownloadTest, MemberMessagesArePagedAndBookmarked)
{
    settings::set(settings(), "LastGetMemberMessages", "2007-10-01T00:00:00Z"); // old, but not pulled forward
    auto page = [](int n, bool more, const std::string &id) {
        return ebayResponse("GetMemberMessages", "Success",
                            "<MemberMessage><MemberMessageExchange><Question><MessageID>" + id +
                                "</MessageID></Question></MemberMessageExchange></MemberMessage>"
                                "<PaginationResult><TotalNumberOfPages>2</TotalNumberOfPages></PaginationResult>"
                                "<HasMoreItems>" +
                                (more ? "true" : "false") + "</HasMoreItems><PageNumber>" + std::to_string(n) +
                                "</PageNumber>");
    };
    peer.enqueue(page(1, true, "Q1"));
    peer.enqueue(page(2, false, "Q2"));
    settings::Bookmark bookmark;
    xml::Document result = api->SynchronousGetMemberMessages(&bookmark);
    EXPECT_EQ(ids(result, "//MemberMessage/MemberMessageExchange/Question/MessageID"),
              (std::vector<std::string>{"Q1", "Q2"}));
    EXPECT_EQ(GetNodeText(sent(0), "GetMemberMessagesRequest/StartCreationTime"), "2007-09-30T23:55:00Z");
    EXPECT_EQ(GetNodeText(sent(1), "GetMemberMessagesRequest/Pagination/PageNumber"), "2");
    EXPECT_EQ(bookmark.key, "LastGetMemberMessages");
    EXPECT_EQ(bookmark.value, "2008-01-05T09:03:07Z");
    EXPECT_EQ(setting("LastGetMemberMessages"), "2007-10-01T00:00:00Z");
    EXPECT_EQ(ui.overlays.back(), "Downloading eBay Messages<br>Page 2 of 2");
}

class SentMessagesTest : public EbayTest {
  protected:
    void serve(int headers, std::string batchAck = "Success")
    {
        peer.setHandler([=](const RecordedRequest &r) {
            xml::Document request = xml::Document::parse(r.body);
            std::string inner = "<Messages>";
            if (GetNodeText(request, "GetMyMessagesRequest/DetailLevel") == "ReturnHeaders") {
                for (int i = 1; i <= headers; ++i)
                    inner += "<Message><MessageID>" + std::to_string(i) + "</MessageID></Message>";
                return ScriptedResponse{200, ebayResponse("GetMyMessages", "Success", inner + "</Messages>")};
            }
            if (batchAck == "Failure") return ScriptedResponse{200, failure("GetMyMessages", "Busy")};
            for (xml::Node id : request.selectAll("//MessageIDs/MessageID"))
                inner += "<Message><MessageID>" + id.text() + "</MessageID><Text>t</Text></Message>";
            return ScriptedResponse{200, ebayResponse("GetMyMessages", batchAck, inner + "</Messages>")};
        });
    }
};

TEST_F(SentMessagesTest, HeadersAreFetchedInBatchesOfTen)
{
    serve(25);
    settings::Bookmark bookmark;
    xml::Document result = api->SynchronousGetSentMessages(&bookmark);
    ASSERT_EQ(peer.requests().size(), 4u);
    std::vector<size_t> batch;
    for (size_t i = 1; i < 4; ++i) {
        xml::Document request = sent(i);
        batch.push_back(request.selectAll("//MessageIDs/MessageID").size());
    }
    EXPECT_EQ(batch, (std::vector<size_t>{10, 10, 5}));
    EXPECT_EQ(ids(result, "GetMyMessagesResponse/Messages/Message/MessageID").size(), 25u);
    EXPECT_EQ(ids(result, "GetMyMessagesResponse/Messages/Message/MessageID").back(), "25");
    EXPECT_EQ(ui.overlays,
              (std::vector<std::string>{"Downloading eBay Sent Messages", "Downloading eBay Sent Messages<br>10 of 25",
                                        "Downloading eBay Sent Messages<br>20 of 25",
                                        "Downloading eBay Sent Messages<br>25 of 25"}));
    EXPECT_EQ(bookmark.key, "LastGetSentMessages");
    EXPECT_EQ(bookmark.value, "2008-01-05T09:03:07Z");
    EXPECT_EQ(savedSetting("LastGetSentMessages"), "");
}

TEST_F(SentMessagesTest, NoHeadersNoMessageRequest)
{
    serve(0);
    settings::Bookmark bookmark;
    EXPECT_TRUE(api->SynchronousGetSentMessages(&bookmark).isNull());
    EXPECT_EQ(peer.requests().size(), 1u);
    // Nothing to fetch, but the window is done with.
    EXPECT_EQ(bookmark.value, "2008-01-05T09:03:07Z");
}

TEST_F(SentMessagesTest, AFailedBatchKeepsTheBookmark)
{
    settings::set(settings(), "LastGetSentMessages", "2008-01-01T00:00:00Z");
    serve(12, "Failure");
    settings::Bookmark bookmark{"stale", "stale"};
    EXPECT_TRUE(api->SynchronousGetSentMessages(&bookmark).isNull());
    EXPECT_FALSE(bookmark);
    EXPECT_EQ(peer.requests().size(), 2u); // the loop stops at the failure
    EXPECT_EQ(ui.lastStatus(), "Error: Busy");
    EXPECT_EQ(setting("LastGetSentMessages"), "2008-01-01T00:00:00Z");
}

class FeedbackTest : public EbayTest {
  protected:
    static std::string detail(const std::string &id, const std::string &time)
    {
        return "<FeedbackDetail><FeedbackID>" + id + "</FeedbackID><CommentTime>" + time +
               "</CommentTime></FeedbackDetail>";
    }
    static std::string page(const std::string &details, int total = 1000)
    {
        return ebayResponse("GetFeedback", "Success",
                            "<FeedbackDetailArray>" + details + "</FeedbackDetailArray><FeedbackDetailItemTotal>" +
                                std::to_string(total) + "</FeedbackDetailItemTotal>");
    }
    std::vector<std::string> stored()
    {
        return ids(xml::Document::load(session.store.path(store::Doc::Feedback)),
                   "Feedbacks/FeedbackDetail/FeedbackID");
    }
};

TEST_F(FeedbackTest, NewFeedbackIsStoredUntilAKnownOrOldEntry)
{
    peer.enqueue(page(detail("F1", "2008-01-04T10:00:00.000Z") + detail("F2", "2008-01-03T10:00:00.000Z")));
    peer.enqueue(page(detail("F3", "2007-12-10T10:00:00.000Z") + detail("F4", "2007-12-05T09:00:00.000Z") +
                      detail("F5", "2007-12-04T09:00:00.000Z")));
    api->SynchronousGetFeedbackNew();
    // F4 is 31 days old: not stored, and the download ends after its page.
    EXPECT_EQ(stored(), (std::vector<std::string>{"F1", "F2", "F3"}));
    ASSERT_EQ(peer.requests().size(), 2u);
    EXPECT_EQ(GetNodeText(sent(1), "GetFeedbackRequest/Pagination/PageNumber"), "2");
    EXPECT_EQ(ui.overlays.back(), "Downloading eBay Feedback<br>200 items");

    // A page starting with a stored entry ends the download after that page.
    peer.enqueue(page(detail("F1", "2008-01-04T10:00:00.000Z") + detail("F6", "2008-01-05T08:00:00.000Z")));
    peer.enqueue(page(detail("F7", "2008-01-05T08:00:00.000Z")));
    api->SynchronousGetFeedbackNew();
    EXPECT_EQ(stored(), (std::vector<std::string>{"F1", "F2", "F3", "F6"}));
    EXPECT_EQ(peer.requests().size(), 3u);
}

TEST_F(FeedbackTest, TheLastPageByCountEndsTheDownload)
{
    peer.enqueue(page(detail("F1", "2008-01-04T10:00:00.000Z"), 1));
    peer.enqueue(page(detail("F2", "2008-01-04T10:00:00.000Z")));
    api->SynchronousGetFeedbackNew();
    EXPECT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(stored(), (std::vector<std::string>{"F1"}));
}

TEST_F(DownloadTest, MarkShippedReturnsEbaysAck)
{
    peer.enqueue(ebayResponse("CompleteSale", "Warning"));
    peer.enqueue("not eBay");
    EXPECT_EQ(api->SynchronousMarkShippedStatus("1", "0", true, "USPS", "9400"), "Warning");
    EXPECT_EQ(api->SynchronousMarkShippedStatus("1", "0", true, "USPS", "9400"), "Failure");
    EXPECT_TRUE(ui.statuses.empty());
    EXPECT_TRUE(ui.overlays.empty());
    EXPECT_EQ(GetNodeText(sent(0), "CompleteSaleRequest/Shipped"), "True");
}

} // namespace
} // namespace tw::test
