#include "orders/usps.h"

#include "orders/shipment.h"
#include "platform/clock.h"
#include "platform/config.h"
#include "platform/http.h"
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

clsUSPSAPI::clsUSPSAPI(Shell *shell) : m_shell(shell) {}

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
        if (m_shell)
            m_shell->ProcessingImageDisplay("Downloading USPS Tracking<br>" + std::to_string(left.size() - start) +
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

} // namespace tw::orders
