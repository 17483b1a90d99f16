#pragma once
// The USPS tracking web tools (TrackV2 with a TrackFieldRequest): which
// numbers need asking, batches of at most 10, one merged TrackResponse.

#include "platform/http.h"
#include "platform/xml.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tw::ebay {
struct UiSink;
}

namespace tw::orders {

// One exchange with the web tools. The request's root gets the configured
// user id in USERID; the request travels percent-encoded in the query.
class clsUSPSConnection {
  public:
    clsUSPSConnection() = default;
    ~clsUSPSConnection();

    // The request template /KORVA/<root>-<api>.xml; a null document when it
    // cannot be had.
    xml::Document CreateInputXml(const std::string &rootName, const std::string &apiName);

    // The answer, or a null document when no XML came back (transport
    // failure, time-out, not XML).
    xml::Document StartSynchronousRequest(const std::string &rootName, const std::string &apiName,
                                          xml::Document &request);

    // Starts an exchange and returns; RequestComplete follows from the event
    // loop with the answer (null document on failure). Each exchange is
    // independent: several may be in flight.
    void StartRequest(const std::string &rootName, const std::string &apiName, xml::Document &request);
    std::function<void(const std::string &rootName, const std::string &apiName, const xml::Document &request,
                       const xml::Document &response)>
        RequestComplete;

    // The address an exchange for this request goes to (for tests and logs).
    static std::string requestUrl(const std::string &apiName, xml::Document &request, const std::string &rootName);

  private:
    std::vector<std::unique_ptr<http::Exchange>> m_exchanges;
};

class clsUSPSAPI {
  public:
    explicit clsUSPSAPI(ebay::UiSink *ui = nullptr);

    // The TrackIDs (attribute ID) that need asking, given the stored
    // TrackingNumbers document: not delivered, not asked within the last
    // day, each number once. Deep copies under a TrackFieldRequest root.
    xml::Document selectDue(const std::vector<xml::Node> &trackIds, const xml::Document &trackingNumbers) const;

    // Asks about the due numbers in batches of 10, showing the overlay text
    // "Downloading USPS Tracking<br>N remaining". Returns one TrackResponse
    // with the TrackInfo elements of every batch in order, or a null
    // document when no number was due or no batch was answered. A batch that
    // gets no answer is skipped; its numbers keep their old LastChecked and
    // are asked again next time.
    xml::Document SynchronousGetTrackingDetails(const std::vector<xml::Node> &trackIds,
                                                const xml::Document &trackingNumbers);

    // Asynchronous form: GetTrackingDetailsComplete(more, response) once per
    // batch, more = true while batches follow.
    void GetTrackingDetails(const std::vector<xml::Node> &trackIds, const xml::Document &trackingNumbers);
    std::function<void(bool more, const xml::Document &response)> GetTrackingDetailsComplete;

    clsUSPSConnection &connection() { return m_connection; }

  private:
    void sendNextBatch();

    ebay::UiSink *m_ui;
    clsUSPSConnection m_connection;
    xml::Document m_remaining{nullptr}; // TrackIDs still to send (asynchronous form)
};

} // namespace tw::orders
