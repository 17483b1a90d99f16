#include "orders/usps.h"

#include "orders/shipment.h"
#include "platform/clock.h"
#include "platform/config.h"
#include "platform/http.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/order_index.h"

#include <QUrl>

#include <algorithm>
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
    const http::Response response = http::send(r);
    m_timedOut = !response.ok && response.timedOut;
    return parseAnswer(response);
}

clsUSPSAPI::clsUSPSAPI(Shell *shell, UspsSettings settings) : m_shell(shell), m_settings(std::move(settings)) {}

xml::Document clsUSPSAPI::selectDue(const std::vector<xml::Node> &trackIds, const xml::Document &trackingNumbers) const
{
    xml::Document candidates = xml::Document::parse(kBatchText);
    xml::Node root = candidates.root();
    store::RecordIndex stored(trackingNumbers.root(), "TrackingNumber", [](xml::Node r) { return r.attribute("ID"); });
    const DateTime now = clock().localNow();
    std::set<std::string> taken;
    std::vector<std::pair<DateTime, xml::Node>> due;
    for (xml::Node id : trackIds) {
        std::string number = id.attribute("ID");
        xml::Node record = stored.find(number);
        DateTime lastChecked = DateTime::fromString(store::childText(record, "LastChecked"));
        if (!lastChecked.isValid()) lastChecked = now.addDays(-2);
        // Only a delivery ends the questions: "Arrival at Unit" still moves.
        if (number.empty() || startsWithNoCase(store::childText(record, "TrackSummary/Event"), "Delivered")) continue;
        if (lastChecked.daysTo(now) < 1.0) continue;
        if (!taken.insert(number).second) continue;
        due.emplace_back(lastChecked, id);
    }
    std::stable_sort(due.begin(), due.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &entry : due)
        root.append(entry.second);
    return candidates;
}

xml::Document clsUSPSAPI::SynchronousGetTrackingDetails(const std::vector<xml::Node> &trackIds,
                                                        const xml::Document &trackingNumbers)
{
    xml::Document candidates = selectDue(trackIds, trackingNumbers);
    std::vector<xml::Node> left = candidates.root().elements();
    if (m_settings.rest) {
        std::vector<std::string> numbers;
        for (xml::Node id : left)
            numbers.push_back(id.attribute("ID"));
        clsUSPSRestConnection rest(m_settings);
        UspsRestRun run = rest.track(numbers, [this](std::size_t remaining) {
            if (m_shell)
                m_shell->ProcessingImageDisplay("Downloading USPS Tracking<br>" + std::to_string(remaining) +
                                                " remaining");
        });
        if (m_shell && !run.status.empty()) m_shell->setStatus(run.status);
        return std::move(run.response);
    }
    xml::Document result(nullptr);
    for (size_t start = 0; start < left.size(); start += kBatchSize) {
        if (m_shell)
            m_shell->ProcessingImageDisplay("Downloading USPS Tracking<br>" + std::to_string(left.size() - start) +
                                            " remaining");
        xml::Document batch = xml::Document::parse(kBatchText);
        for (size_t k = start; k < left.size() && k < start + kBatchSize; ++k)
            batch.root().append(left[k]);
        xml::Document response = m_connection.StartSynchronousRequest("TrackFieldRequest", "TrackV2", batch);
        if (m_connection.timedOut()) {
            // The numbers of this and the later batches are asked next time.
            if (m_shell) m_shell->setStatus(kUspsDidNotAnswer);
            break;
        }
        if (!response.root()) continue; // no answer: these numbers are asked again next time
        if (response.root().name() == "Error") {
            // USPS refused the whole request (a bad user id, an outage): the
            // seller must hear of it, and the numbers are asked again next time.
            if (m_shell)
                m_shell->setStatus("USPS tracking: " +
                                   trim(GetNodeText(response.root(), "Description", "USPS refused the request.")));
            continue;
        }
        if (!result)
            result = std::move(response);
        else
            for (xml::Node child = response.root().firstElement(); child; child = child.nextElement())
                result.root().append(child);
    }
    return result;
}

} // namespace tw::orders
