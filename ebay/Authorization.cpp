#include "ebay/Authorization.h"

#include "platform/config.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/settings.h"

#include <QByteArray>

namespace tw::ebay {
namespace {

std::string percentEncoded(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size())).toPercentEncoding().toStdString();
}

} // namespace

std::string signInUrl(std::string_view sessionId)
{
    // Encoded so that a "+" or "&" in eBay's session id reaches eBay intact.
    return config().get("ebay/SignInUrl") + "?SignIn&runame=" + percentEncoded(config().get("ebay/RuName")) +
           "&SessID=" + percentEncoded(sessionId);
}

AuthorizationStart startAuthorization(clseBayAPI &api, Shell &shell)
{
    xml::Document response = api.SynchronousGetSessionID();
    std::string sessionId = response ? GetNodeText(response.root(), "SessionID") : std::string();
    if (sessionId.empty()) {
        // Left showing, the overlay would refuse every navigation.
        shell.ProcessingImageHide();
        shell.setStatus("The eBay sign-in could not start: " +
                        (api.lastProblem().empty() ? std::string("eBay gave no sign-in session") : api.lastProblem()) +
                        ".");
        return {};
    }
    shell.setStatus("Showing eBay Authorization...");
    shell.ProcessingImageHide();
    return {sessionId, signInUrl(sessionId)};
}

bool isAuthCancelUrl(std::string_view url)
{
    return equalsNoCase(url, config().get("ebay/AuthCancelUrl"));
}

bool isAuthThanksUrl(std::string_view url)
{
    return url.find("auth_auth_thanks") != std::string_view::npos;
}

std::string thanksPageUsername(std::string_view url)
{
    size_t q = url.find('?');
    if (q == std::string_view::npos) return {};
    std::string_view query = url.substr(q + 1);
    return queryValue(splitQuery(query.substr(0, query.find('#'))), "username");
}

AuthorizationResult completeAuthorization(Session &session, clseBayAPI &api, Shell &shell,
                                          const std::string &pendingSessionId, std::string_view thanksUrl)
{
    if (pendingSessionId.empty()) return AuthorizationResult::NotPending;
    std::string user = thanksPageUsername(thanksUrl);
    if (user.empty()) return AuthorizationResult::NoUsername;

    xml::Document response = api.SynchronousFetchToken(pendingSessionId);
    std::string token = response ? GetNodeText(response.root(), "eBayAuthToken") : std::string();
    if (token.empty()) {
        // The old token (and the account it belongs to) stay in force.
        shell.ProcessingImageHide();
        shell.messageBox("Authorize eBay Account",
                         "eBay did not issue a token for this account, so the stored eBay authorization was not "
                         "changed. Please choose Tools > Authorize eBay Account to try again.");
        return AuthorizationResult::TokenFetchFailed;
    }

    xml::Document &settingsDoc = session.store.settings();
    settings::set(settingsDoc, "eBayID", user);
    settings::set(settingsDoc, "LastGetSellerTransactions", "");
    settings::set(settingsDoc, "eBayAuthToken", token);
    settings::set(settingsDoc, "eBayAuthTokenHardExpirationTime", GetNodeText(response.root(), "HardExpirationTime"));
    session.store.save(store::Doc::Settings);
    shell.ProcessingImageHide();
    shell.setEnabled("mnuAuthorizeeBayID", false);
    return AuthorizationResult::Stored;
}

} // namespace tw::ebay
