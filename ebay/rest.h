#pragma once
// eBay's REST APIs (Fulfillment, Finances, ...) with the seller's OAuth user
// token: JSON over HTTPS beside the Trading calls, through the same
// connection object. How to make a call:
//
//     ebay::clseBayConnection eBay(session.store.settings());
//     ebay::RestRequest get;
//     get.path = "/sell/fulfillment/v1/order/" + ebay::pathSegment(orderId);
//     ebay::RestResponse r = eBay.SynchronousRestRequest(get);
//     if (r.ok()) ... r.json ...
//     else show r.problem (and r.errors for eBay's own error ids)
//
// The connection adds "Authorization: Bearer <access token>" and
// "Accept: application/json" (and "Content-Type: application/json" with a
// body), sends to ebay/RestApiUrl + path (+ "?" + the encoded query), waits
// at most the time-out, and when eBay answers 401 (an access token that
// ended early or was revoked) renews the token once and sends once more;
// never more. The transport never repeats a request on its own; a
// money-moving POST sets sendOnce to say so where it is made. An exchange
// without an answer comes back as NoAnswer, which means "may have happened":
// ask eBay (a GET) before offering it again.

#include "platform/http.h"

#include <QByteArray>
#include <QJsonDocument>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tw::ebay {

struct RestRequest {
    std::string method = "GET"; // "GET" or "POST"
    std::string path;           // from "/", every value in it through pathSegment()
    // Query parameters, percent-encoded by the connection, in this order.
    std::vector<std::pair<std::string, std::string>> query;
    QByteArray body;       // JSON text for a POST; empty for none
    bool sendOnce = false; // see above: marks calls that move money
    int timeoutMs = 0;     // 0: the configured net/TimeoutSeconds
};

// One entry of eBay's error body {"errors": [...]} (or "warnings").
struct RestError {
    long long errorId = 0;
    std::string domain, category, message, longMessage;
};

struct RestResponse {
    enum class Outcome {
        NotSent,  // nothing reached eBay: busy, no OAuth sign-in, no access token
        NoAnswer, // sent, but no complete answer came (time-out, broken connection)
        Answered, // eBay answered with `status`
    } outcome = Outcome::NotSent;
    int status = 0;
    QByteArray body;
    QJsonDocument json; // the body parsed; null when empty or not JSON
    http::Headers headers;
    std::vector<RestError> errors; // eBay's "errors" of the body
    // Why the call did not succeed, in words a seller can act on; "" for a 2xx.
    std::string problem;
    // The seller must sign in again (Tools > Authorize eBay Account).
    bool signInProblem = false;

    bool ok() const { return outcome == Outcome::Answered && status >= 200 && status < 300; }
    std::string header(std::string_view name) const;
};

// eBay's error list of a REST body ({"errors": [...]}); `key` "warnings"
// reads the warnings, which have the same shape.
std::vector<RestError> parseRestErrors(const QJsonDocument &body, const char *key = "errors");
// `text` percent-encoded for one path segment (a "/" in an id stays inside it).
std::string pathSegment(std::string_view text);

} // namespace tw::ebay
