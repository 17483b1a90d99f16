#include "ebay/oauth.h"

#include "platform/clock.h"
#include "platform/config.h"
#include "platform/http.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/settings.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <algorithm>
#include <map>

namespace tw::ebay {
namespace {

// eBay's user tokens "typically expire within two hours".
constexpr long long kDefaultAccessSeconds = 7200;

constexpr const char *kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

std::string encoded(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size())).toPercentEncoding().toStdString();
}

std::string decoded(std::string_view text)
{
    return QByteArray::fromPercentEncoding(QByteArray(text.data(), qsizetype(text.size()))).toStdString();
}

std::string withoutQuery(std::string_view url)
{
    return std::string(url.substr(0, std::min(url.find('?'), url.find('#'))));
}

std::string scopeList()
{
    std::string out;
    for (std::string_view s : kScopes)
        out += (out.empty() ? "" : " ") + std::string(s);
    return out;
}

DateTime utcNow()
{
    const DateTime local = clock().localNow();
    return local.addSecs(-clock().utcOffsetSeconds(local));
}

// What the program keeps about one refresh token while it runs.
struct Account {
    std::string access;
    DateTime renewAt; // local
    bool refused = false;
    std::string refusal;
};

std::map<std::string, Account> &accounts()
{
    static std::map<std::string, Account> all;
    return all;
}

Account &accountFor(const std::string &refreshToken)
{
    // Hashed: the map is no second copy of the seller's refresh token.
    const QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(refreshToken), QCryptographicHash::Sha256).toHex();
    return accounts()[config().get("ebay/OAuthTokenUrl") + "\n" + config().get("ebay/AppName") + "\n" +
                      hash.toStdString()];
}

long long seconds(const QJsonValue &v)
{
    return v.isString() ? v.toString().toLongLong() : v.toInteger();
}

struct TokenAnswer {
    bool issued = false;
    bool answered = false; // a complete HTTP answer came
    int status = 0;
    std::string accessToken, refreshToken;
    long long accessSeconds = 0, refreshSeconds = 0;
    std::string error, description; // the OAuth error fields of a refusal
    std::string transportError;
};

TokenAnswer requestTokens(const std::string &body)
{
    http::Request r;
    r.method = "POST";
    r.url = config().get("ebay/OAuthTokenUrl");
    r.headers = {{"Content-Type", "application/x-www-form-urlencoded"}, {"Authorization", basicAuthorization()}};
    r.body = QByteArray::fromStdString(body);
    const http::Response response = http::send(r);
    TokenAnswer a;
    a.answered = response.ok;
    a.status = response.status;
    if (!response.ok) {
        a.transportError = response.timedOut ? "no answer in time" : "no connection: " + response.error;
        return a;
    }
    const QJsonObject o = QJsonDocument::fromJson(response.body).object();
    a.error = o.value("error").toString().toStdString();
    a.description = o.value("error_description").toString().toStdString();
    a.accessToken = o.value("access_token").toString().toStdString();
    a.refreshToken = o.value("refresh_token").toString().toStdString();
    a.accessSeconds = seconds(o.value("expires_in"));
    a.refreshSeconds = seconds(o.value("refresh_token_expires_in"));
    a.issued = response.status == 200 && !a.accessToken.empty();
    return a;
}

std::string describe(const TokenAnswer &a)
{
    if (!a.answered) return a.transportError;
    std::string out = "HTTP " + std::to_string(a.status);
    if (!a.error.empty()) out += ", " + a.error;
    if (!a.description.empty()) out += ": " + a.description;
    return out;
}

void keepAccess(Account &account, const TokenAnswer &a)
{
    const long long life = a.accessSeconds > 0 ? a.accessSeconds : kDefaultAccessSeconds;
    const long long margin = std::min<long long>(kRefreshMarginSeconds, life / 2);
    account.access = a.accessToken;
    account.renewAt = clock().localNow().addSecs(life - margin);
    account.refused = false;
    account.refusal.clear();
}

// The refresh token's end, local time; invalid when not known.
DateTime refreshEndsLocal(const xml::Document &settings)
{
    const std::string text = settings::read(settings, kRefreshTokenExpiryKey);
    const DateTime utc = text.empty() ? DateTime() : eBayTimeToDate(text);
    if (!utc.isValid()) return {};
    return utc.addSecs(clock().utcOffsetSeconds(clock().localNow()));
}

std::string dateText(const DateTime &t)
{
    return std::string(kMonths[t.month() - 1]) + " " + std::to_string(t.day()) + ", " + std::to_string(t.year());
}

std::string endedText(const DateTime &ends)
{
    return "Your eBay sign-in ended on " + dateText(ends) + ". Choose Tools > Authorize eBay Account to sign in again.";
}

} // namespace

Credential credentialOf(const xml::Document &settings)
{
    if (!settings::read(settings, kRefreshTokenKey).empty()) return Credential::OAuth;
    if (!settings::read(settings, "eBayAuthToken").empty()) return Credential::AuthToken;
    return Credential::None;
}

std::string newConsentState()
{
    std::string out;
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 4; ++i) {
        quint32 v = QRandomGenerator::system()->generate();
        for (int k = 0; k < 8; ++k, v >>= 4)
            out += hex[v & 0xF];
    }
    return out;
}

std::string consentUrl(std::string_view state)
{
    return config().get("ebay/OAuthAuthorizeUrl") + "?client_id=" + encoded(config().get("ebay/AppName")) +
           "&redirect_uri=" + encoded(config().get("ebay/RuName")) +
           "&response_type=code&scope=" + encoded(scopeList()) + "&state=" + encoded(state);
}

ConsentRedirect readConsentRedirect(std::string_view url, std::string_view state)
{
    const std::string base = withoutQuery(url);
    if (state.empty() || equalsNoCase(base, withoutQuery(config().get("ebay/OAuthAuthorizeUrl")))) return {};
    const size_t q = url.find('?');
    std::string_view query = q == std::string_view::npos ? std::string_view() : url.substr(q + 1);
    query = query.substr(0, query.find('#'));
    const auto params = splitQuery(query);
    const bool hasState = !queryValue(params, "state").empty();
    const bool ours = decoded(queryValue(params, "state")) == state;

    const std::string declined = withoutQuery(config().get("ebay/OAuthDeclinedUrl"));
    if (!declined.empty() && equalsNoCase(base, declined) && (ours || !hasState))
        return {ConsentRedirect::Kind::Declined, {}};
    if (!ours) return {};
    if (std::string code = queryValue(params, "code"); !code.empty())
        return {ConsentRedirect::Kind::Granted, std::move(code)};
    for (const auto &[name, value] : params)
        if (name == "error") return {ConsentRedirect::Kind::Declined, {}};
    return {};
}

std::string codeExchangeBody(std::string_view code)
{
    return "grant_type=authorization_code&redirect_uri=" + encoded(config().get("ebay/RuName")) +
           "&code=" + encoded(decoded(code));
}

std::string refreshBody(std::string_view refreshToken)
{
    return "grant_type=refresh_token&refresh_token=" + encoded(refreshToken) + "&scope=" + encoded(scopeList());
}

std::string basicAuthorization()
{
    const std::string pair = config().get("ebay/AppName") + ":" + config().get("ebay/CertName");
    return "Basic " + QByteArray::fromStdString(pair).toBase64().toStdString();
}

SignInResult completeSignIn(store::Store &store, std::string_view code)
{
    const TokenAnswer a = requestTokens(codeExchangeBody(code));
    if (!a.issued || a.refreshToken.empty()) {
        if (a.error == "invalid_grant")
            return {false, "eBay did not accept the sign-in code: it was used already or has expired"};
        if (!a.answered) return {false, "eBay could not be reached (" + a.transportError + ")"};
        return {false, "eBay issued no tokens (" + describe(a) + ")"};
    }
    xml::Document &settings = store.settings();
    const std::string ends = a.refreshSeconds > 0 ? DateToeBayTime(utcNow().addSecs(a.refreshSeconds)) : "";
    settings::set(settings, kRefreshTokenKey, a.refreshToken);
    settings::set(settings, kRefreshTokenExpiryKey, ends);
    settings::set(settings, "LastGetSellerTransactions", "");
    if (!store.save(store::Doc::Settings)) return {false, "Settings.xml could not be saved"};
    keepAccess(accountFor(a.refreshToken), a);
    return {true, {}};
}

AccessToken userAccessToken(const xml::Document &settings)
{
    const std::string refresh = settings::read(settings, kRefreshTokenKey);
    if (refresh.empty()) return {{}, "this needs an eBay sign-in: choose Tools > Authorize eBay Account", true};
    Account &account = accountFor(refresh);
    const DateTime now = clock().localNow();
    if (!account.access.empty() && now < account.renewAt) return {account.access, {}, false};
    account.access.clear();
    if (account.refused) return {{}, account.refusal, true};
    if (const DateTime ends = refreshEndsLocal(settings); ends.isValid() && !(now < ends))
        return {{}, endedText(ends), true};

    const TokenAnswer a = requestTokens(refreshBody(refresh));
    if (a.issued) {
        keepAccess(account, a);
        return {account.access, {}, false};
    }
    if (a.error == "invalid_grant") {
        // Revoked or ended early: asking again this run would only be refused again.
        account.refused = true;
        account.refusal = "eBay no longer accepts your sign-in (" + describe(a) +
                          "). Choose Tools > Authorize eBay Account to sign in again.";
        return {{}, account.refusal, true};
    }
    if (!a.answered) return {{}, "eBay could not be reached (" + a.transportError + ")", false};
    return {{}, "eBay issued no access token (" + describe(a) + ")", false};
}

void dropAccessToken(const xml::Document &settings, std::string_view token)
{
    const std::string refresh = settings::read(settings, kRefreshTokenKey);
    if (refresh.empty()) return;
    Account &account = accountFor(refresh);
    if (account.access == token) account.access.clear();
}

std::string signInNotice(const xml::Document &settings)
{
    const std::string refresh = settings::read(settings, kRefreshTokenKey);
    if (refresh.empty()) return {};
    if (const Account &account = accountFor(refresh); account.refused) return account.refusal;
    const DateTime ends = refreshEndsLocal(settings);
    if (!ends.isValid()) return {};
    const DateTime now = clock().localNow();
    if (!(now < ends)) return endedText(ends);
    if (now.daysTo(ends) > kSignInNoticeDays) return {};
    return "Your eBay sign-in ends on " + dateText(ends) + ". Choose Tools > Authorize eBay Account to renew it.";
}

std::vector<std::string> heldAccessTokens()
{
    std::vector<std::string> out;
    for (const auto &[key, account] : accounts())
        if (!account.access.empty()) out.push_back(account.access);
    return out;
}

void forgetTokens()
{
    accounts().clear();
}

} // namespace tw::ebay
