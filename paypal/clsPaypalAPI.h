#pragma once
// PayPal's Name-Value-Pair API (version 2.0): the details of a payment and a
// refund. Each call is one blocking HTTPS POST that pumps the event loop while
// it waits, 60 seconds at most.
//
// The seller's API credentials are read from the Settings document at every
// call (PaypalAPIUser, PaypalAPIPassword, PaypalAPISignature,
// PaypalAPIAuthMode); the endpoints and, in certificate mode, the PKCS#12
// client certificate come from the configuration (paypal/SignatureApiUrl,
// paypal/CertificateApiUrl, paypal/ClientCertificate,
// paypal/ClientCertificatePassword).
//
// Answers become XML: one child element per answer field, named as PayPal
// names it and holding the decoded value; a repeated name keeps its last
// value. Nothing is thrown. A call that gives nothing says why in
// lastFailure(), in words a seller can act on; credentials never appear in
// those words.

#include "platform/xml.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tw::paypal {

enum class FailureKind {
    None,
    // A credential is empty or the mode is neither "Signature" nor
    // "Certificate"; nothing was sent.
    MissingCredentials,
    // Certificate mode without a usable client certificate: none configured,
    // unreadable, or refused by PayPal in the TLS handshake.
    CertificateMissing,
    // No whole answer: connection refused, dropped or cut off, TLS failure.
    NoAnswer,
    // No answer within the time-out.
    TimedOut,
    // The answer was not name-value pairs (an HTML error page, say).
    NotNameValuePairs,
    // PayPal answered, with an ACK that is not a success (see isSuccessAck).
    NotSuccess,
};

struct Failure {
    FailureKind kind = FailureKind::None;
    // For the seller; empty when kind is None.
    std::string message;
    // A refund whose answer did not settle what PayPal did: none came whole
    // (dropped, cut off, timed out), an error page or a 5xx came instead, or
    // an ACK we do not know. PayPal may have made the refund.
    bool mayHaveHappened = false;
};

// "Success" and "SuccessWithWarning": PayPal did what was asked (the warning
// is about something else). Every other ACK is not a success.
bool isSuccessAck(std::string_view ack);

// The seller-facing text of FailureKind::CertificateMissing.
inline constexpr std::string_view kCertificateMissing = "PayPal Certificate is missing from your computer.";

class clsPaypalAPI {
  public:
    static constexpr int kDefaultTimeoutMs = 60000;

    // `settings` is the Settings document; it must outlive this object.
    explicit clsPaypalAPI(const xml::Document &settings);

    // The payment `transactionId`: a document whose root PaypalTransactions
    // holds one PaypalTransaction element with the answer's fields. Null when
    // nothing usable came back, including an ACK that is not a success.
    xml::Document GetTransactionDetails(std::string_view transactionId);

    // Refunds `amount` of the payment `transactionId`. `refundType` ("Full",
    // "Partial", "Other"), `amount` and `note` are sent as given, once: never
    // again on a new connection. The answer document (root
    // RefundTransactionResponse) when PayPal's ACK says for certain whether
    // the refund was made; the caller checks it with isSuccessAck, and when
    // it is not a success lastFailure() holds PayPal's reason. Null
    // otherwise, and lastFailure().mayHaveHappened is set unless nothing
    // reached PayPal (incomplete credentials, the certificate).
    xml::Document RefundTransaction(std::string_view transactionId, std::string_view refundType,
                                    std::string_view amount, std::string_view note);

    // Why the last call gave nothing (or, for a refund, was not a success);
    // kind None after a successful call.
    const Failure &lastFailure() const { return m_failure; }

    // The bound on the wait for an answer, in milliseconds (tests shorten it).
    void setTimeoutMs(int milliseconds) { m_timeoutMs = milliseconds; }

  private:
    struct Credentials;
    // Sends `pairs` (name, raw value) after the credentials and parses the
    // answer into `container`. False, with m_failure set, when there was no
    // usable answer.
    bool call(const Credentials &credentials, std::string_view method,
              const std::vector<std::pair<std::string_view, std::string_view>> &pairs, xml::Node container);
    bool readCredentials(Credentials &out);
    void fail(const Credentials &credentials, FailureKind kind, std::string message);

    const xml::Document &m_settings;
    Failure m_failure;
    int m_timeoutMs = kDefaultTimeoutMs;
};

// The answer `text` as (name, value) pairs, decoded, in the order received.
// Empty unless the text is non-empty and holds "&" after its first
// character. Pieces without "=" are skipped; anything after a second "=" in a
// piece is dropped.
std::vector<std::pair<std::string, std::string>> parseNvp(std::string_view text);

// Stores the pairs as children of `container`, one per name (a repeated
// name keeps its last value); a name that XML cannot hold is left out, so
// the document always saves and reads back.
void storeNvp(xml::Node container, const std::vector<std::pair<std::string, std::string>> &pairs);

} // namespace tw::paypal
