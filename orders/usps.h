#pragma once
// The USPS tracking web tools (TrackV2 with a TrackFieldRequest): which
// numbers need asking, batches of at most 10, one merged TrackResponse.

#include "platform/shell.h"
#include "platform/xml.h"

#include <string>
#include <vector>

namespace tw::orders {

// One exchange with the web tools. The request's root gets the configured
// user id in USERID; the request travels percent-encoded in the query.
class clsUSPSConnection {
  public:
    // The answer, or a null document when no XML came back (transport
    // failure, time-out, HTTP error status, not XML).
    xml::Document StartSynchronousRequest(const std::string &rootName, const std::string &apiName,
                                          xml::Document &request);

    // The address an exchange for this request goes to (for tests and logs).
    static std::string requestUrl(const std::string &apiName, xml::Document &request, const std::string &rootName);
};

class clsUSPSAPI {
  public:
    // `shell` shows the progress overlay; none shows nothing.
    explicit clsUSPSAPI(Shell *shell = nullptr);

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

    clsUSPSConnection &connection() { return m_connection; }

  private:
    Shell *m_shell;
    clsUSPSConnection m_connection;
};

} // namespace tw::orders
