#pragma once
// eBay's OAuth sign-in (the authorization code grant) and the seller's user
// tokens, which every eBay call carries once the account holds them: Trading
// calls in the X-EBAY-API-IAF-TOKEN header, REST calls as a Bearer token
// (both through clseBayConnection).
//
// Sign-in: the window opens consentUrl(state) with a fresh newConsentState();
// readConsentRedirect() recognises eBay's answer among the navigations that
// follow; completeSignIn() exchanges the code and stores the refresh token
// and its expiry in Settings.xml (eBayOAuthRefreshToken,
// eBayOAuthRefreshTokenExpirationTime, UTC in eBay's date-time text).
//
// The access token lives in memory only, one per refresh token for the whole
// run; it is renewed from the refresh token shortly before eBay says it ends,
// and once more when eBay refuses it (dropAccessToken). A refresh eBay
// refuses is remembered for the run, so eBay is not asked again with a dead
// refresh token.
//
// The client id and secret are the keyset's App ID (ebay/AppName) and Cert
// ID (ebay/CertName); the hosts are ebay/OAuthAuthorizeUrl and
// ebay/OAuthTokenUrl. Nothing here throws; every wait is bounded by the
// configured time-out.

#include "platform/xml.h"
#include "store/store.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tw::ebay {

inline constexpr std::string_view kRefreshTokenKey = "eBayOAuthRefreshToken";
inline constexpr std::string_view kRefreshTokenExpiryKey = "eBayOAuthRefreshTokenExpirationTime";

// What the program asks the seller to allow: the Trading calls, and the
// Fulfillment API's orders and refunds.
inline constexpr std::array<std::string_view, 3> kScopes = {
    "https://api.ebay.com/oauth/api_scope",
    "https://api.ebay.com/oauth/api_scope/sell.fulfillment",
    "https://api.ebay.com/oauth/api_scope/sell.finances",
};

// A sign-in ending within this many days is announced in the status bar.
inline constexpr int kSignInNoticeDays = 30;
// An access token is renewed this long before it ends (at most half its life).
inline constexpr int kRefreshMarginSeconds = 300;

// Which credential the account in Settings.xml holds. A refresh token wins
// over an Auth'n'Auth token, which is used only while no OAuth sign-in was
// made.
enum class Credential { None, AuthToken, OAuth };
Credential credentialOf(const xml::Document &settings);

// 32 random hexadecimal digits from the system's cryptographic source.
std::string newConsentState();
// eBay's consent page for `state`, every value percent-encoded.
std::string consentUrl(std::string_view state);

struct ConsentRedirect {
    enum class Kind {
        NotOurs,  // any other navigation: let it through
        Granted,  // eBay's redirect with a code for our state
        Declined, // the RuName's declined page, or an error for our state
    } kind = Kind::NotOurs;
    std::string code; // Granted: as it stands in the address (still percent-encoded)
};
// Reads a navigation while a consent for `state` is pending. An address
// under the consent page itself is never an answer.
ConsentRedirect readConsentRedirect(std::string_view url, std::string_view state);

// The token endpoint's form bodies. `code` is as eBay wrote it in the
// redirect: it is decoded once and encoded once, so exactly one layer of
// percent-encoding reaches eBay.
std::string codeExchangeBody(std::string_view code);
std::string refreshBody(std::string_view refreshToken);
// "Basic " and base64 of client id ":" secret.
std::string basicAuthorization();

struct SignInResult {
    bool stored = false;
    std::string problem; // why nothing was stored, in words; "" when stored
};
// Exchanges `code` for tokens; on success stores the refresh token and its
// expiry, clears LastGetSellerTransactions (the first download of the
// account covers the whole window) and saves Settings.xml. The Auth'n'Auth
// token is left as it is, unused from then on. Nothing is stored when eBay
// refuses the code or does not answer.
SignInResult completeSignIn(store::Store &store, std::string_view code);

struct AccessToken {
    std::string token;   // "" when there is none to send
    std::string problem; // why not, in words
    // The seller must sign in again (the sign-in ended or eBay refused it);
    // otherwise eBay could not be asked (no answer, an unreadable one).
    bool signInProblem = false;
};
// The access token for the account's refresh token, renewed first when it
// ends within the margin. At most one request to eBay.
AccessToken userAccessToken(const xml::Document &settings);
// eBay refused `token`: the next userAccessToken() asks for a new one.
void dropAccessToken(const xml::Document &settings, std::string_view token);

// The status bar's word on the sign-in: from kSignInNoticeDays before the
// refresh token ends, when it ends and how to renew it; after it ended or
// eBay refused it, that the seller must sign in again. "" otherwise (and for
// an Auth'n'Auth account).
std::string signInNotice(const xml::Document &settings);

// Every access token held now (they must not reach the log).
std::vector<std::string> heldAccessTokens();
// Forgets every access token and refusal held (tests).
void forgetTokens();

} // namespace tw::ebay
