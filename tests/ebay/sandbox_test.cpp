// The eBay calls against the in-process sandbox: a real server with its own
// checks of headers, tokens, windows and pagination.
#ifdef TW_HAVE_SANDBOX

#include "ebay/Authorization.h"
#include "sandbox/sandbox.h"
#include "tests/ebay/ebay_fixture.h"

namespace tw::test {
namespace {

class SandboxTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(sandbox.start());
        Config c = sandbox.config();
        c.set("net/TimeoutSeconds", "10");
        setConfig(c);
        session.openStore(dir.path());
        settings::set(session.store.settings(), "eBayAuthToken", sandbox::kDemoToken);
        session.store.save(store::Doc::Settings);
        api = std::make_unique<ebay::clseBayAPI>(session, ui);
    }
    void TearDown() override
    {
        api.reset();
        setConfig(Config());
    }
    std::string setting(const std::string &key) { return settings::read(session.store.settings(), key); }

    MockClock clock{DateTime::fromParts(2008, 1, 5, 9, 3, 7)};
    sandbox::Sandbox sandbox;
    TempDir dir;
    Session session;
    test::FakeShell ui;
    std::unique_ptr<ebay::clseBayAPI> api;
};

TEST_F(SandboxTest, DownloadsEveryPageOfTheWindow)
{
    settings::Bookmark bookmark;
    xml::Document result = api->SynchronousGetSellerTransactions(&bookmark);
    ASSERT_TRUE(result) << ui.lastStatus();
    const auto pages = sandbox.requests("GetSellerTransactions");
    const std::string total =
        GetNodeText(result, "GetSellerTransactionsResponse/PaginationResult/TotalNumberOfEntries");
    EXPECT_GT(pages.size(), 1u);
    EXPECT_EQ(std::to_string(result.selectAll("//TransactionArray/Transaction").size()), total);
    EXPECT_EQ(bookmark.value, "2008-01-05T09:03:07Z");

    // A warning on one page and a broken answer on another are retried.
    sandbox.injectFault(
        {.call = "GetSellerTransactions", .nth = int(pages.size()) + 2, .kind = sandbox::FaultKind::AckWarning});
    sandbox.injectFault(
        {.call = "GetSellerTransactions", .nth = int(pages.size()) + 4, .kind = sandbox::FaultKind::MalformedXml});
    xml::Document again = api->SynchronousGetSellerTransactions();
    ASSERT_TRUE(again) << ui.lastStatus();
    EXPECT_EQ(std::to_string(again.selectAll("//TransactionArray/Transaction").size()), total);
}

TEST_F(SandboxTest, AFailureLeavesTheBookmark)
{
    sandbox.injectFault({.call = "GetSellerTransactions", .nth = 2, .kind = sandbox::FaultKind::AckFailure});
    settings::Bookmark bookmark;
    EXPECT_TRUE(api->SynchronousGetSellerTransactions(&bookmark).isNull());
    EXPECT_FALSE(bookmark);
    EXPECT_EQ(ui.lastStatus(), "Error: Internal error to the application.");
    EXPECT_EQ(setting("LastGetSellerTransactions"), "");
}

TEST_F(SandboxTest, MessagesFeedbackAndStartUpCalls)
{
    settings::Bookmark questions, sent;
    EXPECT_TRUE(api->SynchronousGetMemberMessages(&questions)) << ui.lastStatus();
    EXPECT_TRUE(api->SynchronousGetSentMessages(&sent)) << ui.lastStatus();
    api->SynchronousGetFeedbackNew();
    EXPECT_TRUE(ui.lastStatus().empty()) << ui.lastStatus();
    EXPECT_FALSE(session.store.doc(store::Doc::Feedback).selectAll("Feedbacks/FeedbackDetail").empty());
    EXPECT_EQ(questions.value, "2008-01-05T09:03:07Z");
    EXPECT_EQ(sent.value, "2008-01-05T09:03:07Z");
    EXPECT_TRUE(api->SynchronousGeteBayDetails());

    sandbox.setClockSkewSeconds(3600);
    xml::Document official = api->SynchronousGeteBayOfficialTime();
    ASSERT_TRUE(official);
    DateTime ebayNow = eBayTimeToDate(GetNodeText(official.root(), "Timestamp"));
    EXPECT_NEAR(clock.localNow().daysTo(ebayNow) * 24, 1.0, 0.01);
}

TEST_F(SandboxTest, MarksAnOrderShipped)
{
    const sandbox::Order &order = sandbox.state().orders.front();
    EXPECT_EQ(api->SynchronousMarkShippedStatus(order.itemId, order.transactionId, true, "USPS", "9400 <1>"),
              "Success");
    EXPECT_EQ(sandbox.state().findOrder(order.itemId, order.transactionId)->trackingNumber, "9400 <1>");
    EXPECT_EQ(api->SynchronousMarkShippedStatus("nope", "0", true, "USPS", "1"), "Failure");
}

TEST_F(SandboxTest, AuthorisesAnAccount)
{
    settings::set(session.store.settings(), "eBayAuthToken", "");
    ebay::AuthorizationStart start = ebay::startAuthorization(*api, ui);
    ASSERT_FALSE(start.sessionId.empty()) << ui.lastStatus();
    EXPECT_EQ(start.signInUrl.rfind(config().get("ebay/SignInUrl") + "?SignIn&runame=", 0), 0u);

    // Before the user granted access eBay gives no token.
    const std::string thanks = sandbox.baseUrl() + "/signin/aw-secure/auth_auth_thanks.html?tknexp=x&username=joe";
    EXPECT_EQ(ebay::completeAuthorization(session, *api, ui, start.sessionId, thanks),
              ebay::AuthorizationResult::TokenFetchFailed);
    EXPECT_EQ(setting("eBayAuthToken"), "");

    sandbox.state().sessions[start.sessionId].userId = "joe";
    EXPECT_EQ(ebay::completeAuthorization(session, *api, ui, start.sessionId, thanks),
              ebay::AuthorizationResult::Stored);
    EXPECT_FALSE(setting("eBayAuthToken").empty());
    EXPECT_EQ(setting("eBayID"), "joe");
    // The new token is accepted by the next call.
    EXPECT_TRUE(api->SynchronousGeteBayOfficialTime()) << ui.lastStatus();
}

} // namespace
} // namespace tw::test

#endif
