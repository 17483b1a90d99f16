#include "ebay/Authorization.h"

namespace tw::ebay {

AuthorizationStart startAuthorization(Shell &shell)
{
    AuthorizationStart start;
    start.state = newConsentState();
    start.consentUrl = consentUrl(start.state);
    shell.setStatus("Showing eBay Authorization...");
    return start;
}

AuthorizationResult completeAuthorization(Session &session, Shell &shell, const ConsentRedirect &redirect)
{
    if (redirect.kind != ConsentRedirect::Kind::Granted) {
        // The second panel: the first is cleared by the navigation that follows.
        shell.setStatus("You declined Tidewell's access at eBay, so nothing was stored. Tools > Authorize eBay "
                        "Account asks again.",
                        2);
        return AuthorizationResult::Declined;
    }
    shell.setStatus("Signing in to eBay...");
    const SignInResult result = completeSignIn(session.store, redirect.code);
    if (!result.stored) {
        // The sign-in held before (if any) stays in force.
        shell.setStatus("");
        shell.messageBox("Authorize eBay Account", "The eBay sign-in did not complete: " + result.problem +
                                                       ". Nothing was stored; please choose Tools > Authorize "
                                                       "eBay Account to try again.");
        return AuthorizationResult::Failed;
    }
    shell.setStatus("", 2);
    shell.setEnabled("mnuAuthorizeeBayID", false);
    return AuthorizationResult::Stored;
}

} // namespace tw::ebay
