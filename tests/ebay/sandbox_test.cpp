// The eBay calls against the in-process sandbox: a real server with its own
// checks of headers, tokens, windows and pagination.
#ifdef TW_HAVE_SANDBOX

#include "ebay/Authorization.h"
#include "platform/http.h"
#include "sandbox/sandbox.h"
#include "tests/ebay/ebay_fixture.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>

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

// The consent form posted as the seller's browser would, its redirect not followed.
std::string consentAnswer(const std::string &url, const std::string &form)
{
    QNetworkAccessManager nam;
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    request.setTransferTimeout(10000);
    QNetworkReply *reply = nam.post(request, QByteArray::fromStdString(form));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec();
    const std::string location = reply->rawHeader("Location").toStdString();
    delete reply;
    return location;
}

TEST_F(SandboxTest, SignsInThroughTheConsentPageAndCallsWithTheUserToken)
{
    using K = ebay::ConsentRedirect::Kind;
    ebay::forgetTokens();
    settings::set(session.store.settings(), "eBayAuthToken", "");
    sandbox.setOAuthLifetimes(60, 47304000);
    const ebay::AuthorizationStart start = ebay::startAuthorization(ui);
    http::Request get;
    get.url = start.consentUrl;
    const http::Response consent = http::send(get);
    ASSERT_EQ(consent.status, 200) << consent.body.toStdString();
    ASSERT_TRUE(consent.body.contains("id=\"decline\""));

    const std::string form = sandbox.baseUrl() + "/oauth2/consent";
    const std::string declined = consentAnswer(form, "state=" + start.state + "&decision=decline");
    EXPECT_EQ(ebay::readConsentRedirect(declined, start.state).kind, K::Declined) << declined;
    const ebay::ConsentRedirect granted = ebay::readConsentRedirect(
        consentAnswer(form, "state=" + start.state + "&userid=joe&decision=agree"), start.state);
    ASSERT_EQ(granted.kind, K::Granted);
    EXPECT_EQ(ebay::completeAuthorization(session, ui, granted), ebay::AuthorizationResult::Stored);
    const std::string refresh = setting("eBayOAuthRefreshToken");
    EXPECT_FALSE(refresh.empty());
    // A code is good once.
    EXPECT_EQ(ebay::completeAuthorization(session, ui, granted), ebay::AuthorizationResult::Failed);
    EXPECT_EQ(setting("eBayOAuthRefreshToken"), refresh);

    // Trading carries the IAF header only; REST the Bearer token.
    ASSERT_TRUE(api->SynchronousGeteBayOfficialTime()) << ui.lastStatus();
    const sandbox::LoggedRequest trading = sandbox.requests("GeteBayOfficialTime").back();
    EXPECT_FALSE(trading.headers.at("x-ebay-api-iaf-token").empty());
    EXPECT_EQ(trading.body.find("RequesterCredentials"), std::string::npos);
    ebay::RestRequest limits;
    limits.path = "/developer/analytics/v1_beta/user_rate_limit/";
    limits.query = {{"api_context", "sell"}};
    const ebay::RestResponse rest = api->connection().SynchronousRestRequest(limits);
    ASSERT_TRUE(rest.ok()) << rest.problem;
    EXPECT_EQ(rest.json["rateLimits"][0]["apiName"].toString(), "Fulfillment");
    // The exchange and the refused second use of its code.
    EXPECT_EQ(sandbox.requests("IdentityToken").size(), 2u);

    // A token of 60 s is renewed before it ends, and one eBay calls expired
    // midway is renewed once and the call sent again.
    clock.advanceSecs(31);
    EXPECT_TRUE(api->SynchronousGeteBayOfficialTime()) << ui.lastStatus();
    EXPECT_EQ(sandbox.requests("IdentityToken").size(), 3u);
    sandbox.injectFault({.call = "GeteBayOfficialTime", .kind = sandbox::FaultKind::TokenExpired});
    EXPECT_TRUE(api->SynchronousGeteBayOfficialTime()) << ui.lastStatus();
    EXPECT_EQ(sandbox.requests("IdentityToken").size(), 4u);
    EXPECT_EQ(sandbox.requests("GeteBayOfficialTime").size(), 4u);

    // A refresh eBay refuses ends the sign-in for this run: said once, asked once.
    sandbox.injectFault({.call = "getUserRateLimits", .kind = sandbox::FaultKind::TokenExpired});
    sandbox.injectFault({.call = "IdentityToken", .kind = sandbox::FaultKind::TokenExpired});
    const ebay::RestResponse refused = api->connection().SynchronousRestRequest(limits);
    EXPECT_TRUE(refused.signInProblem);
    EXPECT_FALSE(api->SynchronousGeteBayOfficialTime());
    EXPECT_EQ(sandbox.requests("IdentityToken").size(), 5u);
    EXPECT_EQ(ui.notice.rfind("eBay no longer accepts your sign-in", 0), 0u) << ui.notice;
    ebay::forgetTokens();
}

} // namespace
} // namespace tw::test

#endif
