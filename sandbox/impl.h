#pragma once
// Internals shared by the sandbox's source files.

#include "platform/xml.h"
#include "sandbox/sandbox.h"

#include <QtHttpServer/QAbstractHttpServer>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tw::sandbox {

struct Request {
    std::string method, path, query, target, body; // query: raw, still percent-encoded
    std::map<std::string, std::string> headers;    // lower-cased names
    bool tls = false;                              // came to the certificate endpoint
    std::string clientCertificate;                 // its common name
    std::string header(const std::string &lowerName) const
    {
        auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

struct Reply {
    int status = 200;
    std::string contentType = "text/xml; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

// "name=value&..." with percent-decoding ('+' as a space when `form`); a
// piece without "=" is kept as a name with an empty value. Names as given.
std::vector<std::pair<std::string, std::string>> splitQuery(const std::string &query, bool form);
// The value of the first parameter whose name matches without regard to case.
std::string queryValue(const std::vector<std::pair<std::string, std::string>> &params, const std::string &name);
std::string percentEncode(const std::string &text);
// The form body or query with the values of PWD and SIGNATURE replaced by "****".
std::string maskNvpSecrets(const std::string &text);
// A JSON object's text with the value of `name` replaced by "****".
std::string maskJsonSecret(const std::string &json, const std::string &name);

// "2008-06-30T12:00:00.000Z"
std::string ebayTime(const DateTime &t);
// Reads eBay's form (fraction and "Z" optional); invalid otherwise.
DateTime parseEbayTime(const std::string &text);
std::string money(double amount);

// One event of a shipment's USPS history (local time at the sandbox).
struct TrackEvent {
    DateTime when;
    std::string text, city, state, zip, country;
};
// The history of a known number, newest first: a function of the record and
// the clock only, so that both USPS stand-ins tell the same story.
std::vector<TrackEvent> trackingHistory(const std::string &number, const Tracking &t, const DateTime &localNow);

// Fault kinds the REST tracking stand-in acts on, gathered from a request's faults.
struct RestFaults {
    bool unauthorized = false; // 401 as for an expired token, and the token is revoked
    bool forbidden = false;    // 403
    bool mixed = false;        // batch form: every second entry an error, HTTP 207
    int retryAfter = -1;       // 429 with this Retry-After when >= 0
    bool fail = false;         // 503 with an error object
};

// A token or code of eBay's OAuth stand-in.
struct OAuthGrant {
    std::string kind; // "ACCESS" or "REFRESH"
    std::string user;
    DateTime expires; // local
    bool revoked = false;
};
struct OAuthCode {
    std::string user;
    DateTime expires; // local
    bool used = false;
};

class HttpServer;

struct Sandbox::Impl {
    Options options;
    Config ids; // the ids the server checks: build-time defaults
    State state;
    std::vector<LoggedRequest> log;
    std::vector<Fault> faults;
    std::map<std::string, int> callCounts;
    int total = 0;
    int sessionCounter = 0;
    std::function<void(const LoggedRequest &)> observer;
    std::unique_ptr<HttpServer> server;
    unsigned short port = 0;
    std::unique_ptr<HttpServer> tlsServer;
    unsigned short tlsPort = 0;
    TlsFiles tlsFiles;
    std::vector<std::string> refusedHandshakes;
    int paypalCounter = 0;                      // correlation and refund ids
    std::map<std::string, DateTime> uspsTokens; // REST access tokens and when they expire (local)
    int uspsTokenCounter = 0;
    int uspsTokenSeconds = 3600;
    std::map<std::string, OAuthCode> oauthCodes;   // eBay's authorization codes, single-use
    std::map<std::string, OAuthGrant> oauthTokens; // eBay's access and refresh tokens
    int oauthCounter = 0;
    int oauthAccessSeconds = 7200;
    long long oauthRefreshSeconds = 47304000;

    DateTime ebayNow() const;
    DateTime localNow() const;
    int utcOffset() const;
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port); }

    // Which service and call a request is for, before it is answered.
    std::pair<std::string, std::string> classify(const Request &request) const;
    std::vector<Fault> takeFaults(const std::string &call);
    Reply answer(const Request &request, const std::string &service, const std::vector<Fault> &faults);

    Reply tradingApi(const Request &request, bool warn, bool fail, bool tokenExpired);
    Reply consentPage(const Request &request);
    Reply oauthToken(const Request &request, bool refuse);
    Reply restApi(const Request &request, const std::string &call, bool tokenExpired);
    // The Fulfillment API's getOrder and issueRefund, for a live token.
    Reply fulfillment(const Request &request, const std::string &call);
    int ebayRefundCounter = 0;
    std::string newOAuthToken(const std::string &kind, int seconds, const std::string &user);
    bool liveAccessToken(const std::string &token) const;
    void revokeOAuthToken(const std::string &token);
    Reply usps(const Request &request, bool fail);
    Reply uspsRest(const Request &request, const std::string &call, const RestFaults &faults);
    Reply paypal(const Request &request, bool warn, bool fail);
    Reply page(const Request &request);
};

} // namespace tw::sandbox
