#pragma once
// USPS tracking: which numbers need asking, and asking them through the
// chosen transport: the Web Tools (TrackV2 with a TrackFieldRequest, batches
// of at most 10) or USPS's REST API (orders/usps_rest.h). Either way the
// result is one merged TrackResponse.

#include "orders/usps_rest.h"
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
    // Whether the last exchange ended by its time-out.
    bool timedOut() const { return m_timedOut; }

    // The address an exchange for this request goes to (for tests and logs).
    static std::string requestUrl(const std::string &apiName, xml::Document &request, const std::string &rootName);

  private:
    bool m_timedOut = false;
};

class clsUSPSAPI {
  public:
    // `shell` shows the progress overlay and, for the REST transport, why
    // tracking stopped; none shows nothing. `settings` chooses the transport
    // (the Web Tools unless it says REST).
    explicit clsUSPSAPI(Shell *shell = nullptr, UspsSettings settings = {});

    // The TrackIDs (attribute ID) that need asking, given the stored
    // TrackingNumbers document: not delivered, not asked within the last
    // day, each number once. Deep copies under a TrackFieldRequest root,
    // longest unasked first (a number never asked counts as asked two days
    // ago), numbers equally old in input order: when USPS takes fewer
    // numbers than are due, the ones left are first in line next time.
    xml::Document selectDue(const std::vector<xml::Node> &trackIds, const xml::Document &trackingNumbers) const;

    // Asks about the due numbers, showing the overlay text "Downloading USPS
    // Tracking<br>N remaining" before each batch (10 numbers through the Web
    // Tools, 35 through REST). Returns one TrackResponse with the TrackInfo
    // elements of every batch in order, or a null document when no number
    // was due or none was answered. A batch that gets no answer is skipped;
    // its numbers keep their old LastChecked and are asked again next time.
    // A request that times out ends the run for this download (the status
    // bar says so): a silent USPS would cost a whole time-out per batch.
    // REST: when USPS asks to wait (429) the run ends there and the status
    // bar says until when.
    xml::Document SynchronousGetTrackingDetails(const std::vector<xml::Node> &trackIds,
                                                const xml::Document &trackingNumbers);

    clsUSPSConnection &connection() { return m_connection; }

  private:
    Shell *m_shell;
    UspsSettings m_settings;
    clsUSPSConnection m_connection;
};

} // namespace tw::orders
