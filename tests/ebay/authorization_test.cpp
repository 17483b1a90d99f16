// eBay's OAuth sign-in and the user's tokens against a scripted peer that
// stands in for the token endpoint, the Trading API and the REST APIs.
#include "ebay/Authorization.h"
#include "ebay/oauth.h"
#include "tests/ebay/ebay_fixture.h"
#include "tests/support/golden.h"

#include <deque>
#include <filesystem>

namespace tw::test {
namespace {

std::string tokenJson(const std::string &access, int seconds, const std::string &refresh = {})
{
    std::string out = "{\"access_token\":\"" + access + "\",\"expires_in\":" + std::to_string(seconds);
    if (!refresh.empty()) out += ",\"refresh_token\":\"" + refresh + "\",\"refresh_token_expires_in\":47304000";
    return out + ",\"token_type\":\"User Access Token\"}";
}

const char *kInvalidGrant = "{\"error\":\"invalid_grant\",\"error_description\":\"the provided authorization "
                            "refresh token is invalid or was issued to another client\"}";

class OAuthTest : public EbayTest {
  protected:
    void SetUp() override
    {
        EbayTest::SetUp();
        Config c = config();
        c.set("ebay/OAuthTokenUrl", peer.url("/identity/v1/oauth2/token"));
        c.set("ebay/RestApiUrl", peer.url(""));
        c.set("ebay/OAuthAuthorizeUrl", "https://auth.example/oauth2/authorize");
        c.set("ebay/OAuthDeclinedUrl", "https://shop.example/declined?from=ebay");
        setConfig(c);
        ebay::forgetTokens();
        settings::set(settings(), "eBayOAuthRefreshToken", "REFRESH-1");
        peer.setHandler([this](const RecordedRequest &r) {
            std::deque<ScriptedResponse> &queue = isTokenRequest(r) ? tokenAnswers : apiAnswers;
            if (queue.empty() && isTokenRequest(r))
                return ScriptedResponse{200, tokenJson("ACCESS-" + std::to_string(tokenRequests().size()), 7200),
                                        "application/json"};
            if (queue.empty()) return ScriptedResponse{200, ebayResponse(r.header("X-EBAY-API-CALL-NAME"), "Success")};
            ScriptedResponse next = queue.front();
            queue.pop_front();
            return next;
        });
    }
    void TearDown() override
    {
        ebay::forgetTokens();
        EbayTest::TearDown();
    }
    static bool isTokenRequest(const RecordedRequest &r) { return r.target == "/identity/v1/oauth2/token"; }
    std::vector<RecordedRequest> tokenRequests() const { return filtered(true); }
    std::vector<RecordedRequest> apiRequests() const { return filtered(false); }
    std::vector<RecordedRequest> filtered(bool token) const
    {
        std::vector<RecordedRequest> out;
        for (const RecordedRequest &r : peer.requests())
            if (isTokenRequest(r) == token) out.push_back(r);
        return out;
    }
    void setExpiry(const std::string &utc) { settings::set(settings(), "eBayOAuthRefreshTokenExpirationTime", utc); }

    std::deque<ScriptedResponse> tokenAnswers, apiAnswers;
};

TEST_F(OAuthTest, RequestTextsCarryHostileValuesEncodedOnce)
{
    Config c = config();
    c.set("ebay/AppName", "App&Id=1 +/\xC3\xA9");
    c.set("ebay/CertName", "PRD-c:ert&1");
    c.set("ebay/RuName", "Ru_Name&redirect_uri=evil");
    setConfig(c);
    // eBay's code arrives percent-encoded, a raw "+" included; the body must
    // carry exactly one layer of encoding.
    const std::string text = "consent: " + ebay::consentUrl("s t&a=1") +
                             "\nexchange: " + ebay::codeExchangeBody("v%5E1.1%23i%5E1+x%2F%3D%3D%26") +
                             "\nrefresh: " + ebay::refreshBody("v^1.1#r^1+/w==&scope=x") +
                             "\nauthorization: " + ebay::basicAuthorization() + "\n";
    expectGolden(std::filesystem::path(TW_EBAY_TEST_DATA) / "OAuthRequests.txt", text);
    EXPECT_EQ(ebay::newConsentState().size(), 32u);
    EXPECT_NE(ebay::newConsentState(), ebay::newConsentState());
}

TEST_F(OAuthTest, ConsentAnswersAreOursOnlyWithOurState)
{
    using K = ebay::ConsentRedirect::Kind;
    struct Row {
        std::string url;
        K kind;
        std::string code;
    };
    const std::vector<Row> rows = {
        {"https://shop.example/accepted?state=S1&code=v%5E1.1%23&expires_in=299", K::Granted, "v%5E1.1%23"},
        {"https://signin.ebay.com/ws/eBayISAPI.dll?ThirdPartyAuthSucessFailure&isAuthSuccessful=true&code=C1&"
         "state=S1#top",
         K::Granted, "C1"},
        {"https://shop.example/accepted?state=S2&code=C1", K::NotOurs, ""},
        {"https://shop.example/accepted?code=C1", K::NotOurs, ""},
        {"https://shop.example/elsewhere?state=S1&error=access_denied", K::Declined, ""},
        {"https://shop.example/declined", K::Declined, ""},
        {"https://SHOP.example/declined?state=S1", K::Declined, ""},
        {"https://shop.example/declined?state=S2", K::NotOurs, ""},
        // eBay's own pages on the way may carry the state without a code.
        {"https://signin.ebay.com/consents?state=S1&client_id=x", K::NotOurs, ""},
        {"https://auth.example/oauth2/authorize?state=S1&code=C1", K::NotOurs, ""},
    };
    for (const Row &row : rows) {
        const ebay::ConsentRedirect r = ebay::readConsentRedirect(row.url, "S1");
        EXPECT_EQ(r.kind, row.kind) << row.url;
        EXPECT_EQ(r.code, row.code) << row.url;
    }
    EXPECT_EQ(ebay::readConsentRedirect("https://shop.example/accepted?state=&code=C1", "").kind, K::NotOurs);
}

TEST_F(OAuthTest, AccessTokenIsRenewedShortlyBeforeItEnds)
{
    struct Row {
        int lifetime;
        int later; // seconds after it was issued
        bool renewed;
    };
    for (const Row &row : std::vector<Row>{{7200, 6899, false}, {7200, 6900, true}, {60, 29, false}, {60, 30, true}}) {
        ebay::forgetTokens();
        const size_t before = tokenRequests().size();
        tokenAnswers = {{200, tokenJson("FIRST", row.lifetime), "application/json"},
                        {200, tokenJson("SECOND", row.lifetime), "application/json"}};
        EXPECT_EQ(ebay::userAccessToken(settings()).token, "FIRST");
        clock.advanceSecs(row.later);
        EXPECT_EQ(ebay::userAccessToken(settings()).token, row.renewed ? "SECOND" : "FIRST") << row.lifetime;
        EXPECT_EQ(tokenRequests().size() - before, row.renewed ? 2u : 1u) << row.lifetime << " " << row.later;
    }
    const RecordedRequest refresh = tokenRequests().back();
    EXPECT_EQ(refresh.body.rfind("grant_type=refresh_token&refresh_token=REFRESH-1&scope=", 0), 0u) << refresh.body;
    EXPECT_EQ(refresh.header("Authorization"), ebay::basicAuthorization());
}

// Trading and REST calls alike: the token goes in its own header, a refused
// one is renewed once and the call sent once more, never a third time.
TEST_F(OAuthTest, ARefusedTokenIsRenewedOnceAndTheCallSentOnceMore)
{
    const std::string iafExpired = failure("GeteBayOfficialTime", "IAF token supplied is expired.");
    struct Row {
        const char *name;
        std::vector<ScriptedResponse> answers;
        size_t sent;
        bool success;
    };
    const std::vector<Row> rows = {
        {"401", {{401, "", "text/plain"}}, 2, true},
        {"IAF expired", {{200, iafExpired}}, 2, true},
        {"refused twice", {{401, ""}, {200, iafExpired}}, 2, false},
        {"other failure", {{200, failure("GeteBayOfficialTime", "Internal error.")}}, 1, false},
    };
    for (const Row &row : rows) {
        ebay::forgetTokens();
        const size_t apiBefore = apiRequests().size(), tokensBefore = tokenRequests().size();
        apiAnswers.assign(row.answers.begin(), row.answers.end());
        ui.statuses.clear();
        xml::Document answer = api->SynchronousGeteBayOfficialTime();
        EXPECT_EQ(bool(answer), row.success) << row.name;
        const std::vector<RecordedRequest> all = apiRequests();
        const std::vector<RecordedRequest> sent(all.begin() + long(apiBefore), all.end());
        ASSERT_EQ(sent.size(), row.sent) << row.name;
        EXPECT_EQ(tokenRequests().size() - tokensBefore, row.sent) << row.name;
        for (size_t k = 0; k < sent.size(); ++k) {
            EXPECT_EQ(sent[k].header("X-EBAY-API-IAF-TOKEN"), "ACCESS-" + std::to_string(tokensBefore + k));
            EXPECT_EQ(sent[k].body.find("RequesterCredentials"), std::string::npos) << sent[k].body;
            EXPECT_EQ(sent[k].body.find("TOKEN-1"), std::string::npos);
        }
        if (std::string(row.name) == "refused twice") {
            EXPECT_EQ(ui.lastStatus(), "Error: eBay did not accept a new access token for your sign-in. Choose "
                                       "Tools > Authorize eBay Account to sign in again.");
            EXPECT_TRUE(ui.isEnabled("mnuAuthorizeeBayID", false));
        }
    }

    // REST: 401, then the call again with the new token.
    ebay::forgetTokens();
    apiAnswers = {{401, "{\"errors\":[{\"errorId\":1001,\"domain\":\"OAuth\",\"message\":\"Invalid access token\"}]}",
                   "application/json"},
                  {200, "{\"rateLimits\":[]}", "application/json"}};
    const size_t apiBefore = apiRequests().size(), tokensBefore = tokenRequests().size();
    ebay::RestRequest get;
    get.path = "/developer/analytics/v1_beta/user_rate_limit/";
    ebay::RestResponse r = api->connection().SynchronousRestRequest(get);
    EXPECT_TRUE(r.ok()) << r.problem;
    ASSERT_EQ(apiRequests().size() - apiBefore, 2u);
    EXPECT_EQ(tokenRequests().size() - tokensBefore, 2u);
    EXPECT_EQ(apiRequests()[apiBefore].header("Authorization"), "Bearer ACCESS-" + std::to_string(tokensBefore));
    EXPECT_EQ(apiRequests()[apiBefore + 1].header("Authorization"),
              "Bearer ACCESS-" + std::to_string(tokensBefore + 1));
}

TEST_F(OAuthTest, RestAnswersCarryEbaysErrorsAndEndWithinTheTimeOut)
{
    apiAnswers = {{404,
                   "{\"errors\":[{\"errorId\":32100,\"domain\":\"API_FULFILLMENT\",\"category\":\"REQUEST\","
                   "\"message\":\"Invalid order ID\",\"longMessage\":\"Invalid order ID: 12-3/4 #\"}]}",
                   "application/json"}};
    ebay::RestRequest get;
    get.path = "/sell/fulfillment/v1/order/" + ebay::pathSegment("12-3/4 #");
    get.query = {{"fieldGroups", "TAX_BREAKDOWN&x=1"}};
    ebay::RestResponse r = api->connection().SynchronousRestRequest(get);
    ASSERT_EQ(r.outcome, ebay::RestResponse::Outcome::Answered);
    EXPECT_EQ(apiRequests().back().target,
              "/sell/fulfillment/v1/order/12-3%2F4%20%23?fieldGroups=TAX_BREAKDOWN%26x%3D1");
    EXPECT_EQ(apiRequests().back().header("Accept"), "application/json");
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].errorId, 32100);
    EXPECT_EQ(r.errors[0].domain, "API_FULFILLMENT");
    EXPECT_EQ(r.problem, "eBay answered HTTP 404: Invalid order ID: 12-3/4 # (error 32100)");

    Config c = config();
    c.set("net/TimeoutSeconds", "1");
    setConfig(c);
    ScriptedResponse silent;
    silent.silent = true;
    apiAnswers = {silent};
    ebay::RestRequest post;
    post.method = "POST";
    post.path = "/sell/fulfillment/v1/order/1/issue_refund";
    post.body = "{}";
    r = api->connection().SynchronousRestRequest(post);
    EXPECT_EQ(r.outcome, ebay::RestResponse::Outcome::NoAnswer);
    EXPECT_EQ(r.problem, "eBay did not answer in time");
    EXPECT_EQ(apiRequests().back().header("Content-Type"), "application/json");
    EXPECT_FALSE(api->connection().busy());

    // An account with only an Auth'n'Auth token sends nothing over REST.
    settings::set(settings(), "eBayOAuthRefreshToken", "");
    const size_t before = peer.requests().size();
    r = api->connection().SynchronousRestRequest(get);
    EXPECT_EQ(r.outcome, ebay::RestResponse::Outcome::NotSent);
    EXPECT_TRUE(r.signInProblem);
    EXPECT_EQ(peer.requests().size(), before);
}

// The sign-in's health by the clock, and what a call does with it.
TEST_F(OAuthTest, TheSignInEndingIsAnnouncedAndAnEndedOneAsksForANewSignIn)
{
    // The mock clock stands at 2008-01-05 09:03:07 (UTC).
    struct Row {
        const char *expiry;
        std::string notice;
        bool sent; // the call reached eBay
    };
    const std::string renew = ". Choose Tools > Authorize eBay Account to renew it.";
    const std::string again = ". Choose Tools > Authorize eBay Account to sign in again.";
    const std::vector<Row> rows = {
        {"", "", true},
        {"2008-02-05T09:03:08Z", "", true},
        {"2008-02-04T09:03:07Z", "Your eBay sign-in ends on February 4, 2008" + renew, true},
        {"2008-01-05T09:03:08Z", "Your eBay sign-in ends on January 5, 2008" + renew, true},
        {"2008-01-05T09:03:07Z", "Your eBay sign-in ended on January 5, 2008" + again, false},
    };
    for (const Row &row : rows) {
        ebay::forgetTokens();
        setExpiry(row.expiry);
        ui.enabled.clear();
        const size_t before = peer.requests().size();
        EXPECT_EQ(ebay::signInNotice(settings()), row.notice) << row.expiry;
        xml::Document orders = api->SynchronousGetSellerTransactions();
        EXPECT_EQ(peer.requests().size() > before, row.sent) << row.expiry;
        EXPECT_EQ(ui.notice, row.notice) << row.expiry;
        EXPECT_EQ(ui.isEnabled("mnuAuthorizeeBayID", false), !row.notice.empty()) << row.expiry;
        if (!row.sent) {
            EXPECT_EQ(ui.lastStatus(), "Error: " + row.notice);
        }
    }

    // A refresh eBay refuses is remembered: eBay is not asked again this run.
    ebay::forgetTokens();
    setExpiry("");
    tokenAnswers = {{400, kInvalidGrant, "application/json"}};
    const size_t before = peer.requests().size();
    EXPECT_FALSE(api->SynchronousGeteBayOfficialTime());
    EXPECT_FALSE(api->SynchronousGeteBayOfficialTime());
    EXPECT_EQ(peer.requests().size() - before, 1u);
    EXPECT_EQ(ui.notice.rfind("eBay no longer accepts your sign-in (HTTP 400, invalid_grant: ", 0), 0u) << ui.notice;
    EXPECT_EQ(ui.lastStatus(), "Error: " + ui.notice);
}

TEST_F(OAuthTest, ASignInStoresTheRefreshTokenAndARefusedCodeStoresNothing)
{
    settings::set(settings(), "eBayOAuthRefreshToken", "");
    settings::set(settings(), "LastGetSellerTransactions", "2008-01-01T00:00:00Z");
    session.store.save(store::Doc::Settings);
    using K = ebay::ConsentRedirect::Kind;

    tokenAnswers = {{400,
                     "{\"error\":\"invalid_grant\",\"error_description\":\"the provided authorization grant code is "
                     "invalid or was issued to another client\"}",
                     "application/json"},
                    {200, tokenJson("ACCESS-NEW", 7200, "REFRESH-NEW"), "application/json"}};
    EXPECT_EQ(ebay::completeAuthorization(session, ui, {K::Granted, "C%5E1"}), ebay::AuthorizationResult::Failed);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].second, "The eBay sign-in did not complete: eBay did not accept the sign-in code: it was "
                                  "used already or has expired. Nothing was stored; please choose Tools > Authorize "
                                  "eBay Account to try again.");
    EXPECT_EQ(ebay::completeAuthorization(session, ui, {K::Declined, ""}), ebay::AuthorizationResult::Declined);
    EXPECT_EQ(ui.notice.rfind("You declined Tidewell's access at eBay, so nothing was stored.", 0), 0u);
    EXPECT_EQ(savedSetting("eBayOAuthRefreshToken"), "");
    EXPECT_EQ(savedSetting("LastGetSellerTransactions"), "2008-01-01T00:00:00Z");

    ui.notice = "stale";
    EXPECT_EQ(ebay::completeAuthorization(session, ui, {K::Granted, "C%5E2"}), ebay::AuthorizationResult::Stored);
    EXPECT_EQ(tokenRequests().back().body,
              "grant_type=authorization_code&redirect_uri=" + config().get("ebay/RuName") + "&code=C%5E2");
    EXPECT_EQ(savedSetting("eBayOAuthRefreshToken"), "REFRESH-NEW");
    EXPECT_EQ(savedSetting("eBayOAuthRefreshTokenExpirationTime"), "2009-07-05T21:03:07Z");
    EXPECT_EQ(savedSetting("LastGetSellerTransactions"), "");
    EXPECT_EQ(savedSetting("eBayAuthToken"), "TOKEN-1");
    EXPECT_EQ(ui.notice, "");
    EXPECT_FALSE(ui.isEnabled("mnuAuthorizeeBayID"));
    // The access token of the exchange serves the next call.
    const size_t tokens = tokenRequests().size();
    EXPECT_TRUE(api->SynchronousGeteBayOfficialTime());
    EXPECT_EQ(tokenRequests().size(), tokens);
    EXPECT_EQ(apiRequests().back().header("X-EBAY-API-IAF-TOKEN"), "ACCESS-NEW");
}

} // namespace
} // namespace tw::test
