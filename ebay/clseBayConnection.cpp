#include "ebay/clseBayConnection.h"

#include "pages/pages.h"
#include "platform/config.h"
#include "platform/http.h"
#include "store/basFunctions.h"
#include "store/settings.h"

#include <QCoreApplication>
#include <QTimer>

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

} // namespace

xml::Document FetchServedXml(std::string_view path)
{
    QByteArray bytes;
    if (pages::builtInBase()) {
        auto found = pages::bundled(path);
        if (!found) return xml::Document();
        bytes = *found;
    } else {
        http::Request r;
        r.url = pages::url(path);
        http::Response response = http::send(r);
        if (!response.ok || response.status != 200) return xml::Document();
        bytes = response.body;
    }
    xml::Document doc = xml::Document::parseUntrusted(std::string_view(bytes.constData(), size_t(bytes.size())));
    return doc ? std::move(doc) : xml::Document();
}

clseBayConnection::clseBayConnection(const xml::Document &settings) : m_settings(settings) {}

clseBayConnection::~clseBayConnection() = default;

xml::Document clseBayConnection::CreateInputXml(std::string_view callName, std::string_view level)
{
    return FetchServedXml("/KORVA/" + std::string(callName) + "-" + std::string(level) + ".xml");
}

bool clseBayConnection::prepare(std::string_view callName, std::string_view level, xml::Document &request)
{
    // The call name and level belong to the exchange in flight: a refused
    // request must not relabel the answer still to come.
    if (m_busy) return false;
    m_callName = std::string(callName);
    m_level = std::string(level);
    m_busy = true;
    xml::Node token = request.select(m_callName + "Request/RequesterCredentials/eBayAuthToken");
    if (token) token.setText(settings::read(m_settings, "eBayAuthToken"));
    return true;
}

void clseBayConnection::StartRequest(std::string_view callName, std::string_view level, xml::Document request)
{
    if (!prepare(callName, level, request)) return;
    m_inFlight = std::move(request);
    http::Request r = tradingRequest(m_callName, m_level, m_inFlight);
    // A finished exchange is released from the event loop, not from inside
    // its own completion.
    if (m_exchange) {
        http::Exchange *old = m_exchange.release();
        QTimer::singleShot(0, QCoreApplication::instance(), [old] { delete old; });
    }
    m_exchange = std::make_unique<http::Exchange>(r, [this](http::Response response) {
        xml::Document sent = m_inFlight.clone();
        xml::Document answer = parseResponse(response);
        m_inFlight = xml::Document(nullptr);
        m_busy = false;
        // Copies: the handler may start the next exchange, which renames the current one.
        std::string call = m_callName, level = m_level;
        if (RequestComplete) RequestComplete(call, level, std::move(sent), std::move(answer));
    });
}

xml::Document clseBayConnection::StartSynchronousRequest(std::string_view callName, std::string_view level,
                                                         xml::Document &request)
{
    if (!prepare(callName, level, request)) return xml::Document(nullptr);
    http::Response response = http::send(tradingRequest(m_callName, m_level, request));
    m_busy = false;
    return parseResponse(response);
}

} // namespace tw::ebay
