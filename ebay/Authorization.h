#pragma once
// Linking the program to the seller's eBay account through eBay's OAuth
// consent (ebay/oauth.h). The page layer (ui/feature.cpp) drives it:
//   mnuAuthorizeeBayID: startAuthorization; keep the state and navigate the
//     browser to the consent page.
//   before each navigation while a state is pending: readConsentRedirect;
//     an answer for our state is cancelled (the page is never shown), the
//     state is spent, and completeAuthorization runs after the event; then
//     the browser goes to the main page (Stored) or back to the page the
//     account calls for.

#include "ebay/oauth.h"
#include "platform/shell.h"
#include "store/session.h"

#include <string>

namespace tw::ebay {

struct AuthorizationStart {
    std::string state; // fresh, random; the redirect must carry it back
    std::string consentUrl;
};
// Shows "Showing eBay Authorization..." and makes the consent page's address.
AuthorizationStart startAuthorization(Shell &shell);

enum class AuthorizationResult {
    Stored,   // refresh token and its expiry saved; LastGetSellerTransactions cleared
    Declined, // the seller said no at eBay: nothing stored, the status bar's second panel says so
    Failed,   // eBay refused the code or did not answer: nothing stored, a box says why
};
// The steps after eBay's answer `redirect` (Granted or Declined). On Stored
// the sign-in notice is cleared and the menu entry switched off.
AuthorizationResult completeAuthorization(Session &session, Shell &shell, const ConsentRedirect &redirect);

} // namespace tw::ebay
