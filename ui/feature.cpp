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
    // The session id eBay gave for the sign-in in progress.
    auto pending = std::make_shared<std::string>();
    table.addCommand("mnuAuthorizeeBayID", [&session, &shell, pending] {
        ebay::clseBayAPI api(session, shell);
        ebay::AuthorizationStart start = ebay::startAuthorization(api, shell);
        if (start.sessionId.empty()) return;
        *pending = start.sessionId;
        shell.navigate(start.signInUrl);
    });
    table.addPageWatcher([&session, &shell, pending](const std::string &url) {
        if (!ebay::isAuthThanksUrl(url)) return;
        shell.page().body().setInnerHTML(ebay::kFetchingTokenText);
        ebay::clseBayAPI api(session, shell);
        ebay::AuthorizationResult result = ebay::completeAuthorization(session, api, shell, *pending, url);
        if (result != ebay::AuthorizationResult::NotPending && result != ebay::AuthorizationResult::NoUsername)
            pending->clear();
        if (result == ebay::AuthorizationResult::Stored) shell.navigate(pages::url(kMainPage));
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
