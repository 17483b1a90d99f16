#include "ebay/clseBayConnection.h"

#include "platform/config.h"
#include "platform/http.h"
#include "store/basFunctions.h"
#include "store/settings.h"

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
    // Telling eBay an order shipped happens once: a lost answer is not
    // followed by the same request on a new connection.
    r.sendOnce = callName == "CompleteSale";
    return r;
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
    xml::Node token = request.select(m_callName + "Request/RequesterCredentials/eBayAuthToken");
    if (token) token.setText(settings::read(m_settings, "eBayAuthToken"));
    http::Response response = http::send(tradingRequest(m_callName, m_level, request));
    m_busy = false;
    xml::Document answer = parseResponse(response);
    m_problem = answer.root() ? std::string()
                : !response.ok
                    ? "eBay could not be reached (" + response.error + ")"
                    : "eBay's answer could not be read (HTTP status " + std::to_string(response.status) + ")";
    return answer;
}

} // namespace tw::ebay
