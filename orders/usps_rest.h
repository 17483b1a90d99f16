#pragma once
// USPS's REST tracking API, the successor of the retired Web Tools: an OAuth
// client-credentials token, up to 35 numbers a request through the batch
// form, one request per number where the account is not served the batch
// form. Each answer becomes the TrackInfo element the Web Tools sent, so the
// stored tracking records read the same whichever way USPS was asked.

#include "platform/xml.h"

#include <QJsonObject>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tw::orders {

// The status bar's text when a request to USPS timed out, which ends the
// tracking run of this download (either transport).
inline constexpr std::string_view kUspsDidNotAnswer =
    "USPS tracking stopped for this download because USPS did not answer. The numbers left are asked at the next "
    "download.";

// How USPS is asked, from Settings.xml.
struct UspsSettings {
    // USPSTrackingApi is "REST" (any capitals); anything else means the Web Tools.
    bool rest = false;
    std::string clientId;     // USPSClientID
    std::string clientSecret; // USPSClientSecret: a credential, never shown or logged
};
UspsSettings readUspsSettings(const xml::Document &settings);

// Appends to `trackResponse` a TrackInfo with attribute ID = `number` made
// from one REST tracking object: TrackSummary from the newest event (its
// eventType as Event, so "Delivered" stays "Delivered"), TrackDetail for each
// older one, newest first; dates and times in the Web Tools' forms ("March 9,
// 2026", "2:30 pm", the clock USPS wrote). Missing fields give empty
// elements; text the XML cannot hold is dropped. An error object saying
// USPS does not know the number (code 404 or 400) gives the TrackInfo the
// Web Tools sent for such a number: an Error with Number -2147219302 and
// USPS's message as Description. Returns false and appends nothing when the
// object is no answer: any other error object, or neither events nor a status.
bool appendTrackInfo(xml::Node trackResponse, const std::string &number, const QJsonObject &answer);

// What one REST tracking run brought back.
struct UspsRestRun {
    // A TrackResponse with a TrackInfo per answered number, in the order
    // asked; null when no number was answered.
    xml::Document response{nullptr};
    // For the status bar: why tracking stopped or numbers went unanswered,
    // in words a seller can act on; "" when every number was asked.
    std::string status;
    int requests = 0; // tracking requests sent (token requests not counted)
};

// The REST transport. Tokens, the batch form being refused and USPS's
// "try again later" are kept for the whole run of the program, per address
// and client id, so later downloads reuse them.
class clsUSPSRestConnection {
  public:
    explicit clsUSPSRestConnection(UspsSettings settings);

    // Asks about `numbers` in this order (empty ones are skipped), 35 a
    // request. `progress` (may be empty) is called before each group of 35
    // with the count of numbers left. A number USPS does not know is
    // answered with the Web Tools' error (see appendTrackInfo). A 429 ends
    // the run: the numbers not yet asked are left out, and USPS is not asked
    // again before its Retry-After time. A request that times out ends the
    // run the same way (without a pause). A group whose request fails
    // otherwise is left out and the run goes on.
    UspsRestRun track(const std::vector<std::string> &numbers,
                      const std::function<void(std::size_t remaining)> &progress = {});

    // Forgets every token, refusal and pause held (for tests).
    static void forgetAll();

  private:
    UspsSettings m_settings;
};

} // namespace tw::orders
