// eBay's OAuth: the consent page, the token endpoint, and a REST call that
// takes the user's token (the Developer Analytics user rate limits).

#include "sandbox/impl.h"

#include <QtCore/QByteArray>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QString>

#include <set>

namespace tw::sandbox {

namespace {

const std::set<std::string> kKnownScopes = {
    "https://api.ebay.com/oauth/api_scope",
    "https://api.ebay.com/oauth/api_scope/sell.fulfillment",
    "https://api.ebay.com/oauth/api_scope/sell.fulfillment.readonly",
    "https://api.ebay.com/oauth/api_scope/sell.finances",
};

Reply json(int status, const QJsonObject &body)
{
    Reply r;
    r.status = status;
    r.contentType = "application/json";
    r.body = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
    return r;
}

Reply oauthError(int status, const char *error, const std::string &description)
{
    return json(status, {{"error", error}, {"error_description", QString::fromStdString(description)}});
}

Reply htmlPage(int status, const std::string &title, const std::string &body)
{
    Reply r;
    r.status = status;
    r.contentType = "text/html; charset=utf-8";
    r.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + xml::escape(title) +
             "</title></head>\n<body>\n<h1>" + xml::escape(title) + "</h1>\n" + body + "\n</body></html>\n";
    return r;
}

bool scopesKnown(const std::string &scopes)
{
    const QStringList list = QString::fromStdString(scopes).split(' ', Qt::SkipEmptyParts);
    if (list.isEmpty()) return false;
    for (const QString &s : list)
        if (!kKnownScopes.count(s.toStdString())) return false;
    return true;
}

std::string hexOf(unsigned value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", value);
    return buf;
}

} // namespace

std::string Sandbox::Impl::newOAuthToken(const std::string &kind, int seconds, const std::string &user)
{
    const int n = ++oauthCounter;
    // eBay's tokens hold "^", "#", "+" and "/": they must survive every encoding.
    const std::string token =
        "v^1.1#i^1#p^3#r^1#I^3#f^0#t^TW" + kind + std::to_string(n) + "+" + hexOf(unsigned(n) * 2654435761u) + "/w==";
    OAuthGrant grant;
    grant.kind = kind;
    grant.user = user;
    grant.expires = localNow().addSecs(seconds);
    oauthTokens[token] = grant;
    return token;
}

bool Sandbox::Impl::liveAccessToken(const std::string &token) const
{
    auto it = oauthTokens.find(token);
    return it != oauthTokens.end() && it->second.kind == "ACCESS" && !it->second.revoked &&
           localNow() < it->second.expires;
}

void Sandbox::Impl::revokeOAuthToken(const std::string &token)
{
    if (auto it = oauthTokens.find(token); it != oauthTokens.end()) it->second.revoked = true;
}

Reply Sandbox::Impl::consentPage(const Request &request)
{
    if (request.path == "/oauth2/authorize") {
        const auto params = splitQuery(request.query, true);
        if (queryValue(params, "client_id") != ids.get("ebay/AppName"))
            return htmlPage(400, "Sign in error", "<p id=\"error\">invalid_client: unknown client_id.</p>");
        if (queryValue(params, "redirect_uri") != ids.get("ebay/RuName"))
            return htmlPage(400, "Sign in error",
                            "<p id=\"error\">invalid_request: the redirect_uri is not valid.</p>");
        if (queryValue(params, "response_type") != "code")
            return htmlPage(400, "Sign in error", "<p id=\"error\">unsupported_response_type.</p>");
        if (!scopesKnown(queryValue(params, "scope")))
            return htmlPage(400, "Sign in error", "<p id=\"error\">invalid_scope.</p>");
        return htmlPage(
            200, "Grant application access",
            "<p>Tidewell would like to access your eBay account: view and manage your orders and "
            "refunds.</p>\n<form id=\"consentForm\" method=\"post\" action=\"" +
                xml::escape(base() + "/oauth2/consent") + "\">\n<input type=\"hidden\" name=\"state\" value=\"" +
                xml::escape(queryValue(params, "state")) +
                "\">\n<label>User ID <input type=\"text\" id=\"userid\" name=\"userid\" value=\"" +
                xml::escape(state.sellerId) +
                "\"></label>\n"
                "<label>Password <input type=\"password\" id=\"pass\" name=\"pass\" value=\"sandbox\"></label>\n"
                "<button type=\"submit\" id=\"agree\" name=\"decision\" value=\"agree\">Agree</button>\n"
                "<button type=\"submit\" id=\"decline\" name=\"decision\" value=\"decline\">Not now</button>\n"
                "</form>");
    }
    if (request.path == "/oauth2/consent" && request.method == "POST") {
        const auto form = splitQuery(request.body, true);
        const std::string stateValue = queryValue(form, "state");
        const std::string suffix = stateValue.empty() ? std::string() : "state=" + percentEncode(stateValue);
        Reply r = htmlPage(302, "Redirecting", "<p>Redirecting...</p>");
        if (queryValue(form, "decision") != "agree") {
            r.headers.emplace_back("Location", base() + "/oauth/declined" + (suffix.empty() ? "" : "?" + suffix));
            return r;
        }
        std::string user = queryValue(form, "userid");
        if (user.empty()) user = state.sellerId;
        const int n = ++oauthCounter;
        const std::string code =
            "v^1.1#i^1#f^0#I^3#r^1#p^3#t^TWCODE" + std::to_string(n) + "+" + hexOf(unsigned(n) * 2246822519u) + "/==";
        oauthCodes[code] = {user, localNow().addSecs(299), false};
        r.headers.emplace_back("Location", base() + "/oauth/accepted?" + (suffix.empty() ? "" : suffix + "&") +
                                               "code=" + percentEncode(code) + "&expires_in=299");
        return r;
    }
    if (request.path == "/oauth/accepted")
        return htmlPage(200, "Authorization successfully completed", "<p>You may close this window.</p>");
    if (request.path == "/oauth/declined")
        return htmlPage(200, "Authorization declined", "<p>You did not grant this application access.</p>");
    return htmlPage(404, "Not found", "<p>Not served here.</p>");
}

Reply Sandbox::Impl::oauthToken(const Request &request, bool refuse)
{
    if (request.method != "POST") return oauthError(405, "invalid_request", "POST only");
    const std::string expected =
        "Basic " +
        QByteArray::fromStdString(ids.get("ebay/AppName") + ":" + ids.get("ebay/CertName")).toBase64().toStdString();
    if (request.header("authorization") != expected)
        return oauthError(401, "invalid_client", "client authentication failed");
    if (request.header("content-type").rfind("application/x-www-form-urlencoded", 0) != 0)
        return oauthError(400, "invalid_request", "request is missing a required parameter or malformed");
    const auto form = splitQuery(request.body, true);
    const std::string grant = queryValue(form, "grant_type");

    if (grant == "authorization_code") {
        auto it = oauthCodes.find(queryValue(form, "code"));
        if (refuse || queryValue(form, "redirect_uri") != ids.get("ebay/RuName") || it == oauthCodes.end() ||
            it->second.used || !(localNow() < it->second.expires))
            return oauthError(400, "invalid_grant",
                              "the provided authorization grant code is invalid or was issued to another client");
        it->second.used = true;
        const std::string user = it->second.user;
        const std::string access = newOAuthToken("ACCESS", oauthAccessSeconds, user);
        const std::string refresh = newOAuthToken("REFRESH", int(oauthRefreshSeconds), user);
        return json(200, {{"access_token", QString::fromStdString(access)},
                          {"expires_in", oauthAccessSeconds},
                          {"refresh_token", QString::fromStdString(refresh)},
                          {"refresh_token_expires_in", double(oauthRefreshSeconds)},
                          {"token_type", "User Access Token"}});
    }
    if (grant == "refresh_token") {
        const std::string refresh = queryValue(form, "refresh_token");
        auto it = oauthTokens.find(refresh);
        const bool demo = refresh == kDemoRefreshToken;
        const bool live = demo || (it != oauthTokens.end() && it->second.kind == "REFRESH" && !it->second.revoked &&
                                   localNow() < it->second.expires);
        if (refuse || !live || !scopesKnown(queryValue(form, "scope")))
            return oauthError(400, "invalid_grant",
                              "the provided authorization refresh token is invalid or was issued to another client");
        const std::string access = newOAuthToken("ACCESS", oauthAccessSeconds, demo ? state.sellerId : it->second.user);
        return json(200, {{"access_token", QString::fromStdString(access)},
                          {"expires_in", oauthAccessSeconds},
                          {"token_type", "User Access Token"}});
    }
    return oauthError(400, "unsupported_grant_type", "the authorization grant type is not supported");
}

Reply Sandbox::Impl::restApi(const Request &request, const std::string &call, bool tokenExpired)
{
    const std::string auth = request.header("authorization");
    const std::string token = auth.rfind("Bearer ", 0) == 0 ? auth.substr(7) : std::string();
    if (tokenExpired) revokeOAuthToken(token);
    if (!liveAccessToken(token)) {
        QJsonObject error{{"errorId", 1001},
                          {"domain", "OAuth"},
                          {"category", "REQUEST"},
                          {"message", "Invalid access token"},
                          {"longMessage", "Invalid access token. Check the value of the Authorization HTTP request "
                                          "header."}};
        return json(401, {{"errors", QJsonArray{error}}});
    }
    if (call == "getOrder" || call == "issueRefund") return fulfillment(request, call);
    if (call != "getUserRateLimits" || request.method != "GET") {
        QJsonObject error{
            {"errorId", 2002}, {"domain", "ACCESS"}, {"category", "REQUEST"}, {"message", "Resource not found"}};
        return json(404, {{"errors", QJsonArray{error}}});
    }
    QJsonObject rate{{"count", 120},
                     {"limit", 100000},
                     {"remaining", 99880},
                     {"reset", QString::fromStdString(ebayTime(ebayNow().addDays(1)))},
                     {"timeWindow", 86400}};
    QJsonObject resource{{"name", "sell.fulfillment"}, {"rates", QJsonArray{rate}}};
    QJsonObject limit{
        {"apiContext", "sell"}, {"apiName", "Fulfillment"}, {"apiVersion", "v1"}, {"resources", QJsonArray{resource}}};
    return json(200, {{"rateLimits", QJsonArray{limit}}});
}

} // namespace tw::sandbox
