#pragma once
// Local stand-ins for eBay (Trading API and the web pages the program opens),
// the USPS tracking web tools and PayPal's NVP API, on one loopback HTTP
// server, plus PayPal's certificate endpoint on a TLS server of its own.
//
//     tw::sandbox::Sandbox sb;            // 60 generated orders, seed fixed
//     ASSERT_TRUE(sb.start());            // ephemeral port on 127.0.0.1
//     tw::setConfig(sb.config());         // point the program at it
//     ... run the code under test on this thread's event loop ...
//     sb.requestLog();                    // what was asked, what was answered
//     sb.state().orders;                  // the world, readable and editable
//     sb.injectFault({.call = "GetSellerTransactions", .nth = 2,
//                     .kind = tw::sandbox::FaultKind::Http500});
//
// The server runs on the event loop of the thread that created it: a test
// must spin that loop (QEventLoop, QSignalSpy::wait ...) while it waits.
//
// Addresses under baseUrl():
//   POST /ws/api.dll                          Trading API
//   GET  /ShippingAPI.dll?API=TrackV2&XML=..  USPS tracking (XML raw or percent-encoded)
//   /signin/ws/eBayISAPI.dll?SignIn&runame=R&SessID=S   sign-in page; its form
//        (id "grantForm", user id field "userid", button "agree") grants access and
//        redirects to /signin/aw-secure/auth_auth_thanks.html?tknexp=..&username=..&ebaytkn=
//        and its link (id "cancel") goes to the authorisation-cancel page
//   /contact/ws/eBayISAPI.dll?ReturnUserEmail&requested=BUYER&iid=ITEM...  contact page
//        (form "contactForm", fields "subject" and "message", button "send"), which posts
//        to the bare /contact/ws/eBayISAPI.dll and shows "Your question has been sent"
//   /item/ws/eBayISAPI.dll?ViewItem&item=ID, /feedback/ws/eBayISAPI.dll?...,
//   /salesrecord/ws/eBayISAPI.dll?EditSalesRecord&itemid=..&transid=..,
//   /usps/..., /ups/...                       simple pages
//   GET  /oauth2/authorize?client_id=..&redirect_uri=RuName&response_type=code&scope=..&state=..
//        eBay's consent page: form "consentForm", user id field "userid", buttons
//        "agree" (redirects to /oauth/accepted?state=..&code=..&expires_in=299, the code
//        single-use and good for 299 s) and "decline" (to /oauth/declined?state=..)
//   POST /identity/v1/oauth2/token            eBay's token endpoint (call "IdentityToken"):
//        HTTP Basic with AppName:CertName, form grant_type=authorization_code or
//        refresh_token; invalid_grant for a used, unknown or expired code or refresh token
//   POST /ws/api.dll with X-EBAY-API-IAF-TOKEN  a live access token instead of
//        RequesterCredentials; an expired or revoked one fails with "IAF token
//        supplied is expired."
//   GET  /developer/analytics/v1_beta/user_rate_limit/  REST with a Bearer access token
//        (call "getUserRateLimits"); 401 with errorId 1001 for an expired one
//   GET  /sell/fulfillment/v1/order/{id}      getOrder (Bearer token): the order by its
//        legacy id (ItemID-TransactionID) or its new-format id, with its refunds
//   POST /sell/fulfillment/v1/order/{id}/issue_refund  issueRefund: orders paid without
//        PayPal only; PENDING for state().refundPendingReads getOrder answers, then
//        REFUNDED; refused with eBay's error ids (34915/34924 more than is left, 34917
//        refunded already, 34922 one still pending, 34918 a PayPal order, 34920 older
//        than state().refundWindowDays, 34921 a comment over 100 characters); a Drop
//        fault closes the connection after the refund was made
//   POST /paypal/nvp                          PayPal NVP, API-signature credentials
//   POST /oauth2/v3/token                     USPS REST: OAuth client-credentials token (JSON)
//   GET  /tracking/v3/tracking/{number}       USPS REST: one number (Bearer token)
//   POST /tracking/v3r2/tracking              USPS REST: up to 35 numbers (JSON array; 207
//        when some entries are errors, as for numbers USPS does not know)
//
// PayPal's certificate endpoint runs once startTls() is called:
//   POST https://127.0.0.1:<tlsPort()>/nvp    PayPal NVP, API-certificate credentials;
//        the TLS handshake requires a client certificate of the test authority
// Both check the credentials below and answer GetTransactionDetails and
// RefundTransaction from state().paypal. A payment with pendingFetches shows
// "Pending" that many times; refunds change its status and what is left.
// The log holds PayPal requests with PWD and SIGNATURE masked.
//
// The USPS REST stand-ins accept kUspsClientId and kUspsClientSecret; their
// tokens live an hour by the sandbox's clock (tw::clock()). Both USPS
// stand-ins tell the same history of a number. The log masks the client
// secret, the access token in the token answer and every Authorization header.
//
// Tokens: every token handed out by FetchToken is accepted, and so is the
// fixed kDemoToken, so the program can run without the sign-in dance.
// The eBay clock is tw::clock()'s local time turned to UTC plus the skew.

#include "platform/config.h"
#include "platform/datetime.h"
#include "sandbox/state.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tw::sandbox {

inline constexpr const char *kDemoToken = "AgAAAA**TIDEWELL-SANDBOX-DEMO-TOKEN**AQAAAA**";
// An OAuth refresh token the token endpoint always accepts (the demo signs
// in with it).
inline constexpr const char *kDemoRefreshToken = "v^1.1#i^1#r^1#I^3#f^0#p^3#t^TIDEWELL-SANDBOX-DEMO-REFRESH+/w==";

// The seller's PayPal API credentials the PayPal stand-ins accept (the
// certificate endpoint takes user and password, and no signature).
inline constexpr const char *kPaypalUser = "korva_seller_api1.example.com";
inline constexpr const char *kPaypalPassword = "SANDBOX7QFZCWN5HZ";
inline constexpr const char *kPaypalSignature = "A+Tidewell.Sandbox-Signature/0123456789abcdefXYZ";

// The seller's USPS REST API credentials the sandbox accepts.
inline constexpr const char *kUspsClientId = "TidewellSandboxUspsClientId0000";
inline constexpr const char *kUspsClientSecret = "SANDBOX-usps-secret-7d41Kq9";

enum class FaultKind {
    Delay,        // answer normally after delayMs
    Http500,      // HTTP 500 with a short HTML body
    Drop,         // close the connection without answering
    MalformedXml, // a body that is not well-formed XML
    Truncated,    // announce the full length, send half of it, close (after the
                  // call was done: a refund is made)
    AckWarning,   // eBay: normal payload, Ack "Warning" with a warning in Errors;
                  // PayPal: the call done, ACK=SuccessWithWarning with a warning in L_ fields
    AckFailure,   // eBay: Ack "Failure" with Errors/ShortMessage; USPS: a root Error;
                  // PayPal: ACK=Failure with an internal error
    HtmlPage,     // HTTP 200 with an HTML error page instead of the answer
    // USPS REST only:
    TokenExpired, // USPS REST and eBay: 401 (Trading: "IAF token supplied is expired."), and the
                  // token presented is revoked (as when it expired); eBay's IdentityToken: invalid_grant
    RateLimited,  // 429 with Retry-After: retryAfterSeconds
    Forbidden,    // 403 (an account that may not use this form)
    MixedAnswers, // batch form: every second entry an error object, HTTP 207
};

struct Fault {
    // Which requests: an eBay call name ("GetSellerTransactions"), "TrackV2",
    // USPS REST's "OAuthToken", "TrackingV3" (one number) or "TrackingV3r2"
    // (the batch form), a PayPal METHOD ("GetTransactionDetails", "RefundTransaction"), a page
    // path ("/contact/ws/eBayISAPI.dll"), or "" for every request.
    std::string call;
    // 0: every matching request; n: only the n-th request of `call` (counted
    // from the sandbox's start, 1-based; for "" the n-th request of all).
    int nth = 0;
    FaultKind kind = FaultKind::Http500;
    int delayMs = 0; // for Delay
    // How many requests it hits before it is used up; -1 for no end.
    int times = 1;
    int retryAfterSeconds = 60; // for RateLimited
};

struct LoggedRequest {
    int number = 0;                             // 1-based, in arrival order
    std::string service;                        // "ebay", "usps", "paypal" or "page"
    std::string call;                           // eBay call name, "TrackV2", "OAuthToken", "TrackingV3",
                                                // "TrackingV3r2", PayPal METHOD, or the page path
    std::string method;                         // "GET", "POST"
    std::string target;                         // path and query as received
    std::map<std::string, std::string> headers; // names lower-cased; Authorization's credentials masked
    std::string body;                           // as received; PayPal's PWD and SIGNATURE, USPS's client_secret masked
    std::string clientCertificate;              // TLS client certificate's common name; "" over plain HTTP
    int status = 0;                             // HTTP status sent (0 when dropped)
    std::string response;                       // body sent (before truncation or breaking); USPS access tokens masked
    std::vector<FaultKind> faults;              // faults applied to it
};

// The files of the certificate endpoint, all made by makeTestCertificates().
struct TlsFiles {
    std::filesystem::path caCertificate;     // PEM: the test authority (trust it with net/ExtraCaCertificates)
    std::filesystem::path serverCertificate; // PEM, for 127.0.0.1 and localhost, by the test authority
    std::filesystem::path serverKey;         // PEM, unencrypted
    std::filesystem::path clientCertificate; // PKCS#12, by the test authority, protected by clientPassword
    std::string clientPassword;
    // PKCS#12 by an authority the server does not trust, same password.
    std::filesystem::path strangerCertificate;
};

// Makes a test authority, a server certificate and two client certificates in
// `dir` (created when missing) with the openssl command, each step bounded to
// 30 seconds. Files already there are replaced. False with `error` when the
// command is missing or fails.
bool makeTestCertificates(const std::filesystem::path &dir, TlsFiles *files, std::string *error = nullptr);

struct Options {
    GeneratorOptions data;
    int clockSkewSeconds = 0; // eBay's clock minus true UTC
};

class Sandbox {
  public:
    explicit Sandbox(Options options = {});
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    // Listens on 127.0.0.1:`port` (0: an ephemeral port). False with `error`
    // when the port cannot be bound.
    bool start(unsigned short port = 0, std::string *error = nullptr);
    unsigned short port() const;
    // "http://127.0.0.1:<port>", no trailing slash.
    std::string baseUrl() const;

    // Starts PayPal's certificate endpoint on 127.0.0.1:`port` (0: ephemeral)
    // with `files`. False with `error` when the files cannot be read or the
    // port cannot be bound.
    bool startTls(const TlsFiles &files, unsigned short port = 0, std::string *error = nullptr);
    unsigned short tlsPort() const; // 0 until startTls succeeded
    // TLS handshakes the certificate endpoint refused, each with the reason.
    const std::vector<std::string> &refusedHandshakes() const;

    // The default configuration with every eBay, USPS and PayPal address and
    // the ids this server checks pointing here; pages/BaseUrl is left alone.
    // Once startTls() ran it also names the client certificate and trusts the
    // test authority; before, the certificate endpoint points at the plain
    // server, where every TLS attempt fails.
    Config config() const;
    // Writes config() to `file` (Config::save).
    bool writeConfig(const std::filesystem::path &file, std::string *error = nullptr) const;

    // The world the answers come from; tests may read and change it (call
    // state().reindex() after changing order times or adding orders).
    State &state();
    const State &state() const;

    const std::vector<LoggedRequest> &requestLog() const;
    // The logged requests of one call (eBay call name, "TrackV2", a USPS REST call or page path).
    std::vector<LoggedRequest> requests(const std::string &call) const;
    void clearLog();

    // eBay's OAuth stand-in: how long its access and refresh tokens live, in
    // seconds by tw::clock() (defaults 7200 and 47304000).
    void setOAuthLifetimes(int accessSeconds, long long refreshSeconds);
    // Every access and refresh token it handed out.
    std::vector<std::string> issuedOAuthTokens() const;

    void injectFault(const Fault &fault);
    void clearFaults();

    // eBay's clock now: tw::clock() local time, minus the zone offset, plus the skew.
    DateTime ebayNow() const;
    void setClockSkewSeconds(int seconds);

    // Called with each finished request (the command line prints them).
    void setRequestObserver(std::function<void(const LoggedRequest &)> observer);

    struct Impl;

  private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace tw::sandbox
