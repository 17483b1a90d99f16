#include "ui/feature.h"

#include "ebay/Authorization.h"
#include "ebay/clseBayAPI.h"
#include "orders/shipment.h"
#include "pages/pages.h"
#include "platform/config.h"
#include "platform/text.h"
#include "ui/served.h"

#include <memory>

namespace tw::ui {
namespace {

bool showing(Shell &shell, std::string_view path)
{
    return equalsNoCase(shell.page().url(), pages::url(path));
}

// The redraw of the current view: the shipment states brought up to date,
// then the tab counts and the shipping-state cells of the main page. On any
// other page the main page is loaded and its fill draws it.
void redraw(Session &session, Shell &shell)
{
    orders::UpdateShipmentStatus(session.store);
    if (!showing(shell, kMainPage)) {
        shell.navigate(pages::url(kMainPage));
        return;
    }
    orders::UpdateCounts(shell.page(), session.store);
    orders::DisplayTrackingNumbers(shell.page(), session);
}

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

    table.setRedraw([&session, &shell] { redraw(session, shell); });
    // The main page has loaded: draw it, unless the seller has moved on meanwhile.
    table.addPageFill(std::string(kMainPage), [&session, &shell](const std::string &) {
        if (showing(shell, kMainPage)) redraw(session, shell);
    });
}

void registerOptions(Session &, Shell &shell, FeatureTable &table)
{
    table.addAction("SaveSettings", [&shell](const Params &params) {
        auto button = params.find("Button");
        if (button != params.end() && button->second == "Cancel") shell.navigate(pages::url(kMainPage));
    });
}

} // namespace tw::ui
