#include "ebay/clseBayConnection.h"

#include "ebay/oauth.h"
#include "platform/config.h"
#include "platform/http.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/settings.h"

#include <QJsonArray>
#include <QJsonObject>

namespace tw::ebay {
namespace {

xml::Document parseResponse(const http::Response &response)
{
    if (!response.ok) return xml::Document();
    xml::Document doc =
        xml::Document::parseUntrusted(std::string_view(response.body.constData(), size_t(response.body.size())));
    return doc ? std::move(doc) : xml::Document();
}

http::Request tradingRequest(const std::string &callName, const std::string &level, const xml::Document &body)
{
    http::Request r;
    r.method = "POST";
    r.url = config().get("ebay/ApiUrl");
    r.headers = {
        {"Content-Type", "text/xml"},
        {"X-EBAY-API-COMPATIBILITY-LEVEL", level},
        {"X-EBAY-API-DEV-NAME", config().get("ebay/DevName")},
        {"X-EBAY-API-APP-NAME", config().get("ebay/AppName")},
        {"X-EBAY-API-CERT-NAME", config().get("ebay/CertName")},
        {"X-EBAY-API-CALL-NAME", callName},
        {"X-EBAY-API-SITEID", "0"},
    };
    r.body = QByteArray::fromStdString(body.toString());
    return r;
}

std::string problemOf(const xml::Document &answer, const http::Response &response)
{
    if (answer.root()) return {};
    if (!response.ok) return "eBay could not be reached (" + response.error + ")";
    return "eBay's answer could not be read (HTTP status " + std::to_string(response.status) + ")";
}

// eBay's word that the access token is no good: a 401, or a Trading error
// about the IAF token ("IAF token supplied is expired", "... invalid").
bool accessTokenRefused(const http::Response &response, const xml::Document &answer)
{
    if (response.ok && response.status == 401) return true;
    if (!answer.root() || GetNodeText(answer.root(), "Ack") != "Failure") return false;
    for (xml::Node error : answer.root().selectAll("Errors"))
        if (containsNoCase(GetNodeText(error, "ShortMessage"), "IAF token") ||
            containsNoCase(GetNodeText(error, "LongMessage"), "IAF token"))
            return true;
    return false;
}

// A Failure answer of `callName` for an exchange that never reached eBay,
// so that every caller treats it as eBay's refusal: nothing happened.
xml::Document signInFailure(const std::string &callName, const std::string &why)
{
    xml::Document doc;
    doc.setRoot(doc.createElement(callName + "Response", xml::kEbayNamespace));
    xml::Node root = doc.root();
    root.appendElement("Ack", "Failure");
    xml::Node error = root.appendElement("Errors");
    error.appendElement("ShortMessage", why);
    error.appendElement("SeverityCode", "Error");
    return doc;
}

std::string restUrl(const RestRequest &request)
{
    std::string url = config().get("ebay/RestApiUrl");
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    url += request.path;
    char separator = '?';
    for (const auto &[name, value] : request.query) {
        url += separator + QByteArray::fromStdString(name).toPercentEncoding().toStdString() + "=" +
               QByteArray::fromStdString(value).toPercentEncoding().toStdString();
        separator = '&';
    }
    return url;
}

std::string restProblem(const RestResponse &r)
{
    if (r.outcome == RestResponse::Outcome::NoAnswer) return r.problem;
    if (r.ok()) return {};
    std::string out = "eBay answered HTTP " + std::to_string(r.status);
    if (!r.errors.empty()) {
        const RestError &e = r.errors.front();
        out += ": " + (e.longMessage.empty() ? e.message : e.longMessage);
        if (e.errorId) out += " (error " + std::to_string(e.errorId) + ")";
    }
    return out;
}

} // namespace

clseBayConnection::clseBayConnection(const xml::Document &settings) : m_settings(settings) {}

xml::Document clseBayConnection::StartSynchronousRequest(std::string_view callName, std::string_view level,
                                                         xml::Document &request)
{
    // The call name and level belong to the exchange in flight: a refused
    // request must not relabel the answer still to come.
    if (m_busy) return xml::Document(nullptr);
    m_callName = std::string(callName);
    m_level = std::string(level);
    m_busy = true;
    m_signInProblem.clear();
    xml::Document answer =
        credentialOf(m_settings) == Credential::OAuth ? sendWithUserToken(request) : sendWithAuthToken(request);
    m_busy = false;
    return answer;
}

xml::Document clseBayConnection::sendWithAuthToken(xml::Document &request)
{
    xml::Node token = request.select(m_callName + "Request/RequesterCredentials/eBayAuthToken");
    if (token) token.setText(settings::read(m_settings, "eBayAuthToken"));
    http::Response response = http::send(tradingRequest(m_callName, m_level, request));
    xml::Document answer = parseResponse(response);
    m_problem = problemOf(answer, response);
    return answer;
}

xml::Document clseBayConnection::sendWithUserToken(xml::Document &request)
{
    if (xml::Node token = request.select(m_callName + "Request/RequesterCredentials/eBayAuthToken")) {
        xml::Node credentials = token.parent();
        token.remove();
        if (!credentials.firstElement()) credentials.remove();
    }
    // A token eBay refuses is renewed once; a fresh one refused too ends it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const AccessToken access = userAccessToken(m_settings);
        if (access.token.empty()) {
            if (!access.signInProblem) {
                m_problem = access.problem;
                return xml::Document();
            }
            m_signInProblem = m_problem = access.problem;
            return signInFailure(m_callName, access.problem);
        }
        http::Request r = tradingRequest(m_callName, m_level, request);
        r.headers.emplace_back("X-EBAY-API-IAF-TOKEN", access.token);
        http::Response response = http::send(r);
        xml::Document answer = parseResponse(response);
        if (!accessTokenRefused(response, answer)) {
            m_problem = problemOf(answer, response);
            return answer;
        }
        dropAccessToken(m_settings, access.token);
    }
    m_signInProblem = m_problem =
        "eBay did not accept a new access token for your sign-in. Choose Tools > Authorize eBay Account to sign in "
        "again.";
    return signInFailure(m_callName, m_problem);
}

RestResponse clseBayConnection::SynchronousRestRequest(const RestRequest &request)
{
    RestResponse out;
    if (m_busy) {
        out.problem = "another eBay exchange is still running";
        return out;
    }
    m_busy = true;
    m_signInProblem.clear();
    if (credentialOf(m_settings) != Credential::OAuth) {
        m_busy = false;
        out.problem = "this needs an eBay sign-in: choose Tools > Authorize eBay Account";
        out.signInProblem = true;
        m_signInProblem = out.problem;
        return out;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        const AccessToken access = userAccessToken(m_settings);
        if (access.token.empty()) {
            out = RestResponse();
            out.problem = access.problem;
            out.signInProblem = access.signInProblem;
            break;
        }
        http::Request r;
        r.method = request.method;
        r.url = restUrl(request);
        r.headers = {{"Authorization", "Bearer " + access.token}, {"Accept", "application/json"}};
        if (!request.body.isEmpty()) r.headers.emplace_back("Content-Type", "application/json");
        r.body = request.body;
        r.timeoutMs = request.timeoutMs;
        const http::Response response = http::send(r);
        out = RestResponse();
        if (!response.ok) {
            out.outcome = RestResponse::Outcome::NoAnswer;
            out.problem = response.timedOut ? "eBay did not answer in time"
                                            : "eBay could not be reached (" + response.error + ")";
            break;
        }
        out.outcome = RestResponse::Outcome::Answered;
        out.status = response.status;
        out.body = response.body;
        out.headers = response.headers;
        out.json = QJsonDocument::fromJson(response.body);
        out.errors = parseRestErrors(out.json);
        out.problem = restProblem(out);
        if (response.status != 401) break;
        dropAccessToken(m_settings, access.token);
        if (attempt == 1) {
            out.signInProblem = true;
            out.problem = "eBay did not accept a new access token for your sign-in. Choose Tools > Authorize eBay "
                          "Account to sign in again.";
        }
    }
    if (out.signInProblem) m_signInProblem = out.problem;
    m_problem = out.problem;
    m_busy = false;
    return out;
}

std::string RestResponse::header(std::string_view name) const
{
    for (const auto &[n, value] : headers)
        if (equalsNoCase(n, name)) return value;
    return {};
}

std::vector<RestError> parseRestErrors(const QJsonDocument &body, const char *key)
{
    std::vector<RestError> out;
    for (const QJsonValue &v : body.object().value(QLatin1String(key)).toArray()) {
        const QJsonObject o = v.toObject();
        RestError e;
        const QJsonValue id = o.value("errorId");
        e.errorId = id.isString() ? id.toString().toLongLong() : id.toInteger();
        e.domain = o.value("domain").toString().toStdString();
        e.category = o.value("category").toString().toStdString();
        e.message = o.value("message").toString().toStdString();
        e.longMessage = o.value("longMessage").toString().toStdString();
        out.push_back(std::move(e));
    }
    return out;
}

std::string pathSegment(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size())).toPercentEncoding().toStdString();
}

} // namespace tw::ebay
