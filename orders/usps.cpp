#include "orders/usps.h"

#include "ebay/UiSink.h"
#include "orders/shipment.h"
#include "pages/pages.h"
#include "platform/clock.h"
#include "platform/config.h"
#include "store/order_index.h"

#include <QUrl>

#include <set>

namespace tw::orders {
namespace {

constexpr char kBatchText[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><TrackFieldRequest USERID=\"plinthway\"></TrackFieldRequest>";
constexpr int kBatchSize = 10;

xml::Document parseAnswer(const http::Response &response)
{
    // An error page is no tracking answer, even when it happens to be XML.
    if (!response.ok || response.status < 200 || response.status > 299) return xml::Document(nullptr);
    return xml::Document::parseUntrusted(std::string_view(response.body.constData(), size_t(response.body.size())));
}

} // namespace

clsUSPSConnection::~clsUSPSConnection() = default;

xml::Document clsUSPSConnection::CreateInputXml(const std::string &rootName, const std::string &apiName)
{
    std::string path = "/KORVA/" + rootName + "-" + apiName + ".xml";
    if (pages::builtInBase()) {
        auto bytes = pages::bundled(path);
        return bytes ? xml::Document::parse(bytes->toStdString()) : xml::Document(nullptr);
    }
    http::Request request;
    request.url = pages::url(path);
    return parseAnswer(http::send(request));
}

std::string clsUSPSConnection::requestUrl(const std::string &apiName, xml::Document &request,
                                          const std::string &rootName)
{
    xml::Node root = request.root();
    if (root && root.name() == rootName) root.setAttribute("USERID", config().get("usps/UserID"));
    QByteArray xml = QByteArray::fromStdString(root.xml());
    return config().get("usps/WebToolsUrl") + "?API=" + apiName + "&XML=" + QUrl::toPercentEncoding(xml).toStdString();
}

xml::Document clsUSPSConnection::StartSynchronousRequest(const std::string &rootName, const std::string &apiName,
                                                         xml::Document &request)
{
    http::Request r;
    r.url = requestUrl(apiName, request, rootName);
    return parseAnswer(http::send(r));
}

void clsUSPSConnection::StartRequest(const std::string &rootName, const std::string &apiName, xml::Document &request)
{
    http::Request r;
    r.url = requestUrl(apiName, request, rootName);
    auto sent = std::make_shared<xml::Document>(request.clone());
    m_exchanges.push_back(std::make_unique<http::Exchange>(r, [this, rootName, apiName, sent](http::Response resp) {
        xml::Document answer = parseAnswer(resp);
        if (RequestComplete) RequestComplete(rootName, apiName, *sent, answer);
    }));
    // Finished exchanges are dropped when the next one starts.
    std::erase_if(m_exchanges, [](const auto &e) { return e->finished(); });
}

clsUSPSAPI::clsUSPSAPI(ebay::UiSink *ui) : m_ui(ui) {}

xml::Document clsUSPSAPI::selectDue(const std::vector<xml::Node> &trackIds, const xml::Document &trackingNumbers) const
{
    xml::Document candidates = xml::Document::parse(kBatchText);
    xml::Node root = candidates.root();
    store::RecordIndex stored(trackingNumbers.root(), "TrackingNumber", [](xml::Node r) { return r.attribute("ID"); });
    const DateTime now = clock().localNow();
    std::set<std::string> taken;
    for (xml::Node id : trackIds) {
        std::string number = id.attribute("ID");
        xml::Node record = stored.find(number);
        DateTime lastChecked = DateTime::fromString(store::childText(record, "LastChecked"));
        if (!lastChecked.isValid()) lastChecked = now.addDays(-2);
        if (isDeliveryEvent(store::childText(record, "TrackSummary/Event"))) continue;
        if (lastChecked.daysTo(now) < 1.0) continue;
        if (!taken.insert(number).second) continue;
        root.append(id);
    }
    return candidates;
}

xml::Document clsUSPSAPI::SynchronousGetTrackingDetails(const std::vector<xml::Node> &trackIds,
                                                        const xml::Document &trackingNumbers)
{
    xml::Document candidates = selectDue(trackIds, trackingNumbers);
    std::vector<xml::Node> left = candidates.root().elements();
    xml::Document result(nullptr);
    for (size_t start = 0; start < left.size(); start += kBatchSize) {
        if (m_ui)
            m_ui->ProcessingImageDisplay("Downloading USPS Tracking<br>" + std::to_string(left.size() - start) +
                                         " remaining");
        xml::Document batch = xml::Document::parse(kBatchText);
        for (size_t k = start; k < left.size() && k < start + kBatchSize; ++k)
            batch.root().append(left[k]);
        xml::Document response = m_connection.StartSynchronousRequest("TrackFieldRequest", "TrackV2", batch);
        if (!response.root()) continue; // no answer: these numbers are asked again next time
        if (!result)
            result = std::move(response);
        else
            for (xml::Node child = response.root().firstElement(); child; child = child.nextElement())
                result.root().append(child);
    }
    return result;
}

void clsUSPSAPI::GetTrackingDetails(const std::vector<xml::Node> &trackIds, const xml::Document &trackingNumbers)
{
    xml::Document due = selectDue(trackIds, trackingNumbers);
    m_remaining = xml::Document::parse("<?xml version=\"1.0\" encoding=\"utf-8\"?><TrackIDs/>");
    for (xml::Node id = due.root().firstElement(); id; id = id.nextElement())
        m_remaining.root().append(id);
    m_connection.RequestComplete = [this](const std::string &rootName, const std::string &apiName,
                                          const xml::Document &, const xml::Document &response) {
        if (rootName != "TrackFieldRequest" || apiName != "TrackV2") return;
        bool more = m_remaining && m_remaining.root() && m_remaining.root().firstElement();
        if (GetTrackingDetailsComplete) GetTrackingDetailsComplete(more, response);
        if (more) sendNextBatch();
    };
    if (m_remaining.root().firstElement()) sendNextBatch();
}

void clsUSPSAPI::sendNextBatch()
{
    xml::Document request = m_connection.CreateInputXml("TrackFieldRequest", "TrackV2");
    if (!request.root()) request = xml::Document::parse(kBatchText);
    xml::Node root = request.root();
    for (int k = 0; k < kBatchSize; ++k) {
        xml::Node id = m_remaining.root().firstElement();
        if (!id) break;
        root.append(id);
        id.remove();
    }
    m_connection.StartRequest("TrackFieldRequest", "TrackV2", request);
}

} // namespace tw::orders
