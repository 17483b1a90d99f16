#pragma once
// HTTP/1.1 exchanges over Qt Network's sockets, for the outside services
// (eBay, USPS, PayPal). Everything runs on the calling thread: a synchronous
// exchange waits in a nested event loop, so the user interface and other
// completions keep running during the wait. Every exchange ends by its
// time-out at the latest. TLS certificate checks are always on; the
// configuration key net/ExtraCaCertificates names a PEM file of authorities
// trusted in addition to the system's (the sandbox's test authority, a
// company's own).
//
// Each exchange has a connection of its own, closed at its end, and sends
// its request once: a connection that fails is never tried again behind the
// caller's back, since the server may have acted on the request (a refund).
// No redirect is followed and no proxy is used.

#include <QByteArray>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tw::http {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Request {
    std::string method = "GET"; // "GET" or "POST"
    std::string url;
    Headers headers; // sent in this order, after Host
    QByteArray body; // POST only
    // Milliseconds; 0 means the configured net/TimeoutSeconds.
    int timeoutMs = 0;
    // PKCS#12 client certificate file and its password (PayPal); none when empty.
    std::string clientCertificate;
    std::string clientCertificatePassword;
};

struct Response {
    // True when a whole HTTP response arrived (any status code): all of the
    // body its length or its chunks announced. An exchange that broke off
    // earlier is no answer, however much had come; its body is left empty.
    bool ok = false;
    bool timedOut = false;
    int status = 0;
    QByteArray body;
    // The answer's headers, names lower-cased, in the order received.
    Headers headers;
    // The first header of that name (any case); "" when there is none.
    std::string header(std::string_view name) const;
    // Transport failure in words; empty when ok.
    std::string error;
    // The client certificate could not be loaded (nothing was sent then), or
    // the server ended the TLS handshake with an alert about the client
    // certificate: it wanted one, or refused the one presented.
    bool clientCertificateFailed = false;
};

// The time-out in force when a request gives none.
int defaultTimeoutMs();

// Performs the exchange, pumping the event loop until it ends.
Response send(const Request &request);

// An exchange in progress. `done` is called once, from the event loop, when
// it ends (never from inside start()). Destroying the object aborts the
// exchange without calling `done`.
class Exchange {
  public:
    Exchange(const Request &request, std::function<void(Response)> done);
    ~Exchange();
    Exchange(const Exchange &) = delete;
    Exchange &operator=(const Exchange &) = delete;

    bool finished() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace tw::http
