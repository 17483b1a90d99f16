#pragma once
// Linking the program to the user's eBay account (eBay's token flow). The
// page layer (ui/feature.cpp, ui/browser.cpp) drives it:
//   mnuAuthorizeeBayID: startAuthorization; keep the session id and
//     navigate the browser to signInUrl when it is not empty.
//   before each navigation: isAuthCancelUrl(url) -> cancel it, navigate to
//     "about:blank" and disable cmdDownloadOrders.
//   page complete, isAuthThanksUrl(url): replace the body with
//     kFetchingTokenText, then completeAuthorization; on Stored navigate to
//     the main page. The pending session id is spent after any outcome but
//     NotPending and NoUsername.

#include "ebay/clseBayAPI.h"
#include "platform/shell.h"
#include "store/session.h"

#include <string>
#include <string_view>

namespace tw::ebay {

inline constexpr std::string_view kFetchingTokenText = "Please wait while we fetch your eBay Token...";
inline constexpr std::string_view kMainPagePath = "/KORVA/main-1.0.47.html";

// eBay's sign-in page for a session, from ebay/SignInUrl and ebay/RuName.
std::string signInUrl(std::string_view sessionId);

struct AuthorizationStart {
    std::string sessionId; // empty: the flow stopped (eBay refused, or no session)
    std::string signInUrl;
};
// Asks eBay for a session; on success shows "Showing eBay Authorization..."
// and hides the overlay.
AuthorizationStart startAuthorization(clseBayAPI &api, Shell &shell);

// eBay's authorisation-cancel page, whatever its case, with nothing after
// its "?".
bool isAuthCancelUrl(std::string_view url);
bool isAuthThanksUrl(std::string_view url);
// The value of the query parameter "username" (the last one when repeated),
// not percent-decoded; "" when absent.
std::string thanksPageUsername(std::string_view url);

enum class AuthorizationResult {
    NotPending,       // no session id was pending: nothing done
    NoUsername,       // the thanks page named no user: nothing stored
    TokenFetchFailed, // eBay gave no token: nothing stored, the user was told
    Stored,           // token, expiry and eBayID saved; LastGetSellerTransactions cleared
};
// The steps after eBay's thanks page: fetches the token for `pendingSessionId`
// and stores it with the user id of `thanksUrl`. The previous token and
// eBayID are kept unless a new token arrived.
AuthorizationResult completeAuthorization(Session &session, clseBayAPI &api, Shell &shell,
                                          const std::string &pendingSessionId, std::string_view thanksUrl);

} // namespace tw::ebay
