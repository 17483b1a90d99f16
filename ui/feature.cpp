#include "ui/feature.h"

#include "ebay/Authorization.h"
#include "ebay/clseBayAPI.h"
#include "pages/pages.h"
#include "platform/config.h"
#include "ui/served.h"
#include "ui/tags.h"
#include "ui/view.h"

#include <memory>

namespace tw::ui {
namespace {

void registerSignIn(Session &session, Shell &shell, FeatureTable &table)
{
    // The state sent with the consent in progress; "" when none is pending.
    auto pending = std::make_shared<std::string>();
    table.addCommand("mnuAuthorizeeBayID", [&shell, pending] {
        ebay::AuthorizationStart start = ebay::startAuthorization(shell);
        *pending = start.state;
        shell.navigate(start.consentUrl);
    });
    // eBay's answer arrives as a redirect to the RuName's page; caught here it
    // is never shown, and the code in it is used once.
    table.addNavigationCatcher([&session, &shell, &table, pending](const std::string &url, const std::string &) {
        if (pending->empty()) return false;
        const ebay::ConsentRedirect redirect = ebay::readConsentRedirect(url, *pending);
        if (redirect.kind == ebay::ConsentRedirect::Kind::NotOurs) return false;
        pending->clear();
        shell.post([&session, &shell, &table, redirect] {
            Busy::Token hold = table.busy().hold();
            const bool stored =
                ebay::completeAuthorization(session, shell, redirect) == ebay::AuthorizationResult::Stored;
            // The new account's details and clock are asked afresh, and a
            // start-up that failed for an ended sign-in enables downloads now.
            if (stored) session.mainPageInitialised = false;
            const bool account = ebay::credentialOf(session.store.settings()) != ebay::Credential::None;
            shell.navigate(pages::url(stored || account ? kMainPage : kWelcomePage));
        });
        return true;
    });
}

} // namespace

void registerFeature(Session &session, Shell &shell, FeatureTable &table)
{
    table.addCommand("Label1", [&shell] { shell.navigate(pages::url(kMainPage)); });
    table.addCommand("mnuOptions", [&shell] { shell.navigate(pages::url(kSettingsPage)); });
    table.addCommand("mnuOnlineHelp", [&shell] { shell.navigate(pages::url(kHelpPage)); });
    table.addCommand("mnuVisitWebsite", [&shell] { shell.openExternal(config().get("web/ProductSite")); });
    table.addCommand("mnuReport", [&shell] { shell.navigate(config().get("web/FeedbackForm")); });
    registerSignIn(session, shell, table);
    registerView(session, shell, table);
    registerTags(session, shell, table);
}

} // namespace tw::ui
