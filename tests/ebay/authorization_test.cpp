#include "ebay/Authorization.h"
#include "tests/ebay/ebay_fixture.h"

namespace tw::test {
namespace {

using AuthorizationTest = EbayTest;

TEST_F(AuthorizationTest, ReadsTheUserFromTheThanksPage)
{
    const std::string base = "https://signin.ebay.com/ws/eBayISAPI.dll?ThirdPartyAuthSucessFailure&auth_auth_thanks";
    EXPECT_EQ(ebay::thanksPageUsername("https://x/auth_auth_thanks.html?a=1&username=seller%2B1&b=2"), "seller%2B1");
    EXPECT_EQ(ebay::thanksPageUsername("https://x/t?username=first&username=second"), "second");
    EXPECT_EQ(ebay::thanksPageUsername("https://x/t?usernames=x&Username=y"), "");
    EXPECT_EQ(ebay::thanksPageUsername("https://x/auth_auth_thanks.html"), "");
    EXPECT_TRUE(ebay::isAuthThanksUrl(base));

    const std::string cancel = config().get("ebay/AuthCancelUrl");
    EXPECT_TRUE(ebay::isAuthCancelUrl(cancel));
    EXPECT_FALSE(ebay::isAuthCancelUrl(cancel + "x=1"));
}

TEST_F(AuthorizationTest, StartShowsTheSignInPageForTheSession)
{
    peer.enqueue(ebayResponse("GetSessionID", "Success", "<SessionID>abc+/=1</SessionID>"));
    ebay::AuthorizationStart start = ebay::startAuthorization(*api, ui);
    EXPECT_EQ(start.sessionId, "abc+/=1");
    EXPECT_EQ(start.signInUrl, config().get("ebay/SignInUrl") + "?SignIn&runame=" + config().get("ebay/RuName") +
                                   "&SessID=abc%2B%2F%3D1");
    EXPECT_EQ(ui.lastStatus(), "Showing eBay Authorization...");
    EXPECT_EQ(ui.overlays, std::vector<std::string>{"Creating eBay Session"});

    // A refusal, a session-less answer and no answer each hide the overlay
    // (it would refuse every navigation) and say why.
    peer.enqueue(failure("GetSessionID", "Invalid RuName"));
    peer.enqueue(ebayResponse("GetSessionID", "Success", "<SessionID></SessionID>"));
    peer.enqueue("not XML");
    for (const char *why : {"eBay answered: Invalid RuName.", "eBay gave no sign-in session.",
                            "eBay's answer could not be read (HTTP status 200)."}) {
        ui.hides = 0;
        EXPECT_TRUE(ebay::startAuthorization(*api, ui).sessionId.empty());
        EXPECT_EQ(ui.lastStatus(), std::string("The eBay sign-in could not start: ") + why);
        EXPECT_EQ(ui.hides, 1);
        EXPECT_FALSE(ui.processingShown());
    }
}

TEST_F(AuthorizationTest, TheTokenIsStoredWithItsAccount)
{
    settings::set(settings(), "LastGetSellerTransactions", "2008-01-01T00:00:00Z");
    peer.enqueue(ebayResponse("FetchToken", "Success",
                              "<eBayAuthToken>NEW-TOKEN</eBayAuthToken>"
                              "<HardExpirationTime>2009-06-28T12:00:00.000Z</HardExpirationTime>"));
    auto result = ebay::completeAuthorization(session, *api, ui, "S1",
                                              "https://signin.ebay.com/auth_auth_thanks.html?x=1&username=joe&y=2");
    EXPECT_EQ(result, ebay::AuthorizationResult::Stored);
    EXPECT_EQ(GetNodeText(sent(0), "FetchTokenRequest/SessionID"), "S1");
    EXPECT_EQ(savedSetting("eBayAuthToken"), "NEW-TOKEN");
    EXPECT_EQ(savedSetting("eBayAuthTokenHardExpirationTime"), "2009-06-28T12:00:00.000Z");
    EXPECT_EQ(savedSetting("eBayID"), "joe");
    EXPECT_TRUE(session.store.settings().select("Settings/LastGetSellerTransactions"));
    EXPECT_EQ(savedSetting("LastGetSellerTransactions"), "");
    EXPECT_EQ(ui.enabled, (std::vector<std::pair<std::string, bool>>{{"mnuAuthorizeeBayID", false}}));
}

TEST_F(AuthorizationTest, AFailedTokenFetchKeepsTheOldAuthorisation)
{
    settings::set(settings(), "eBayID", "old-user");
    settings::set(settings(), "LastGetSellerTransactions", "2008-01-01T00:00:00Z");
    session.store.save(store::Doc::Settings);
    const std::string thanks = "https://signin.ebay.com/auth_auth_thanks.html?username=joe";

    peer.enqueue(failure("FetchToken", "The session is invalid."));
    peer.enqueue(ebayResponse("FetchToken", "Success")); // no token in it
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ebay::completeAuthorization(session, *api, ui, "S1", thanks),
                  ebay::AuthorizationResult::TokenFetchFailed);
        EXPECT_EQ(savedSetting("eBayAuthToken"), "TOKEN-1");
        EXPECT_EQ(savedSetting("eBayID"), "old-user");
        EXPECT_EQ(savedSetting("LastGetSellerTransactions"), "2008-01-01T00:00:00Z");
    }
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_NE(ui.boxes[0].second.find("not changed"), std::string::npos);

    EXPECT_EQ(ebay::completeAuthorization(session, *api, ui, "", thanks), ebay::AuthorizationResult::NotPending);
    EXPECT_EQ(ebay::completeAuthorization(session, *api, ui, "S1", "https://x/auth_auth_thanks.html?user=joe"),
              ebay::AuthorizationResult::NoUsername);
    EXPECT_EQ(peer.requests().size(), 2u);
}

} // namespace
} // namespace tw::test
