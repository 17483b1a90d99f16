#include "paypal/clsPaypalAPI.h"

#include "platform/config.h"
#include "platform/http.h"
#include "platform/log.h"
#include "store/basFunctions.h"
#include "store/settings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <libxml/tree.h>

namespace tw::paypal {

namespace {

constexpr std::string_view kVersion = "2.0";

bool isSignatureMode(const std::string &mode)
{
    return mode == "Signature";
}

// "a", "a and b", "a, b and c"
std::string listOf(const std::vector<std::string> &names)
{
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += i + 1 == names.size() ? " and " : ", ";
        out += names[i];
    }
    return out;
}

// PayPal sends UTF-8; a value that is not is taken as Latin-1 rather than
// losing its accented letters.
std::string asUtf8(std::string bytes)
{
    const QByteArray raw = QByteArray::fromStdString(bytes);
    if (raw.isValidUtf8()) return bytes;
    return QString::fromLatin1(raw).toUtf8().toStdString();
}

// An answer field becomes an element of that name; a name XML cannot hold
// would make the document unsavable, so such a field is left out.
bool isElementName(const std::string &name)
{
    // libxml2 reads up to the first NUL: "A\0B" would pass as "A" and store B's value under A.
    return !name.empty() && name.find('\0') == std::string::npos &&
           xmlValidateNCName(reinterpret_cast<const xmlChar *>(name.c_str()), 0) == 0;
}

std::string valueOf(const std::vector<std::pair<std::string, std::string>> &pairs, std::string_view name)
{
    std::string value;
    for (const auto &[n, v] : pairs)
        if (n == name) value = v; // the last one counts, as in the document
    return value;
}

} // namespace

bool isSuccessAck(std::string_view ack)
{
    return ack == "Success" || ack == "SuccessWithWarning";
}

struct clsPaypalAPI::Credentials {
    std::string user, password, signature, mode;
};

std::vector<std::pair<std::string, std::string>> parseNvp(std::string_view text)
{
    std::vector<std::pair<std::string, std::string>> out;
    if (text.empty() || text.find('&', 1) == std::string_view::npos) return out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view piece = text.substr(start, end - start);
        const std::size_t eq = piece.find('=');
        if (eq != std::string_view::npos) {
            std::string_view value = piece.substr(eq + 1);
            value = value.substr(0, value.find('='));
            out.emplace_back(asUtf8(URLDecode(piece.substr(0, eq))), asUtf8(URLDecode(value)));
        }
        start = end + 1;
    }
    return out;
}

clsPaypalAPI::clsPaypalAPI(const xml::Document &settings) : m_settings(settings) {}

void clsPaypalAPI::fail(const Credentials &credentials, FailureKind kind, std::string message)
{
    // Whatever the text came from, the seller's secrets do not go out in it.
    // Very short values are left alone: masking them would garble the text.
    for (const std::string *secret : {&credentials.password, &credentials.signature, &credentials.user}) {
        if (secret->size() < 4) continue;
        for (std::size_t at = message.find(*secret); at != std::string::npos; at = message.find(*secret, at + 4))
            message.replace(at, secret->size(), "****");
    }
    m_failure = {kind, std::move(message)};
}

bool clsPaypalAPI::readCredentials(Credentials &c)
{
    c.user = settings::read(m_settings, "PaypalAPIUser");
    c.password = settings::read(m_settings, "PaypalAPIPassword");
    c.signature = settings::read(m_settings, "PaypalAPISignature");
    c.mode = settings::read(m_settings, "PaypalAPIAuthMode");

    if (c.mode != "Signature" && c.mode != "Certificate") {
        fail(c, FailureKind::MissingCredentials,
             "The PayPal API authentication mode \"" + c.mode +
                 "\" is not known: choose Signature or Certificate under Tools > Options.");
        return false;
    }
    std::vector<std::string> missing;
    if (c.user.empty()) missing.push_back("user name");
    if (c.password.empty()) missing.push_back("password");
    if (isSignatureMode(c.mode) && c.signature.empty()) missing.push_back("signature");
    if (!missing.empty()) {
        fail(c, FailureKind::MissingCredentials,
             "Your PayPal API " + listOf(missing) + (missing.size() == 1 ? " is" : " are") + " not set: enter " +
                 (missing.size() == 1 ? "it" : "them") + " under Tools > Options.");
        return false;
    }
    return true;
}

bool clsPaypalAPI::call(const Credentials &c, std::string_view method,
                        const std::vector<std::pair<std::string_view, std::string_view>> &pairs, xml::Node container)
{
    const bool signature = isSignatureMode(c.mode);
    // A refund sent twice could pay the buyer back twice: an answer that does
    // not settle it leaves it "may have been made".
    const bool refund = method == "RefundTransaction";
    http::Request request;
    request.method = "POST";
    request.url = config().get(signature ? "paypal/SignatureApiUrl" : "paypal/CertificateApiUrl");
    request.headers = {{"Content-Type", "text/xml; text/plain"}};
    request.timeoutMs = m_timeoutMs;
    if (!signature) {
        request.clientCertificate = config().get("paypal/ClientCertificate");
        request.clientCertificatePassword = config().get("paypal/ClientCertificatePassword");
        if (request.clientCertificate.empty()) {
            fail(c, FailureKind::CertificateMissing, std::string(kCertificateMissing));
            return false;
        }
    }

    std::string body = "USER=" + URLEncode(c.user) + "&PWD=" + URLEncode(c.password);
    if (signature) body += "&SIGNATURE=" + URLEncode(c.signature);
    body += "&VERSION=" + std::string(kVersion) + "&METHOD=" + std::string(method);
    for (const auto &[name, value] : pairs)
        body += "&" + std::string(name) + "=" + URLEncode(value);
    request.body = QByteArray::fromStdString(body);

    QElapsedTimer timer;
    timer.start();
    const http::Response response = http::send(request);
    // The method and PayPal's verdict; the request and the answer stay out
    // of the log (credentials, buyers' names and addresses).
    auto logResult = [&](const std::string &result) {
        log::write("paypal", std::string(method) + ": " + result + " (" + std::to_string(timer.elapsed()) + " ms)");
    };
    // The request may have reached PayPal: a refund must not simply be sent again.
    const std::string after = refund ? " The refund may have been made all the same: check the "
                                       "payment's details before you send it again."
                                     : " Try again later.";
    auto lost = [&](FailureKind kind, std::string message) {
        fail(c, kind, std::move(message) + after);
        m_failure.mayHaveHappened = refund;
        return false;
    };
    if (!response.ok) {
        logResult(response.timedOut ? "no answer within the time-out" : "no answer");
        // The handshake failed before the request went out.
        if (response.clientCertificateFailed) {
            fail(c, FailureKind::CertificateMissing, std::string(kCertificateMissing));
            return false;
        }
        if (response.timedOut) {
            const int seconds = (m_timeoutMs + 999) / 1000;
            return lost(FailureKind::TimedOut, "PayPal did not answer within " + std::to_string(seconds) +
                                                   (seconds == 1 ? " second." : " seconds."));
        }
        return lost(FailureKind::NoAnswer, "PayPal could not be reached (" + response.error + ").");
    }

    const auto fields = parseNvp(response.body.toStdString());
    bool hasAck = false;
    for (const auto &[name, value] : fields)
        hasAck |= name == "ACK";
    const std::string status = " (HTTP " + std::to_string(response.status) + ")";
    // A server error may come after PayPal acted on a refund, whatever its body says.
    if (response.status >= 500 && refund) {
        logResult("server error, HTTP " + std::to_string(response.status));
        return lost(FailureKind::NotNameValuePairs, "PayPal answered with a server error" + status + ".");
    }
    if (!hasAck) {
        logResult("not an API answer, HTTP " + std::to_string(response.status));
        // An error page of a proxy or of PayPal's web front, not the API.
        return lost(FailureKind::NotNameValuePairs, "PayPal's answer could not be read" +
                                                        (response.status != 200 ? status : std::string()) +
                                                        ": it was not an API answer.");
    }

    const std::string ack = valueOf(fields, "ACK");
    const std::string code = valueOf(fields, "L_ERRORCODE0");
    logResult("ACK " + ack + (code.empty() ? "" : ", error " + code));
    if (isSuccessAck(ack)) {
        m_failure = {};
        storeNvp(container, fields);
        return true;
    }
    std::string reason = valueOf(fields, "L_LONGMESSAGE0");
    if (reason.empty()) reason = valueOf(fields, "L_SHORTMESSAGE0");
    if (reason.empty()) reason = "PayPal answered \"" + ack + "\".";
    // Only a failure refuses a refund; a word we do not know settles nothing.
    if (refund && ack != "Failure" && ack != "FailureWithWarning")
        return lost(FailureKind::NotSuccess, "PayPal answered \"" + ack + "\".");
    fail(c, FailureKind::NotSuccess, reason);
    storeNvp(container, fields);
    return true;
}

xml::Document clsPaypalAPI::GetTransactionDetails(std::string_view transactionId)
{
    m_failure = {};
    Credentials c;
    if (!readCredentials(c)) return xml::Document(nullptr);
    xml::Document doc = xml::Document::parse("<?xml version=\"1.0\" encoding=\"utf-8\"?><PaypalTransactions/>");
    xml::Node transaction = doc.root().appendElement("PaypalTransaction");
    if (!call(c, "GetTransactionDetails", {{"TRANSACTIONID", transactionId}}, transaction))
        return xml::Document(nullptr);
    if (m_failure.kind != FailureKind::None) return xml::Document(nullptr);
    return doc;
}

xml::Document clsPaypalAPI::RefundTransaction(std::string_view transactionId, std::string_view refundType,
                                              std::string_view amount, std::string_view note)
{
    m_failure = {};
    Credentials c;
    if (!readCredentials(c)) return xml::Document(nullptr);
    xml::Document doc = xml::Document::parse("<?xml version=\"1.0\" encoding=\"utf-8\"?><RefundTransactionResponse/>");
    if (!call(c, "RefundTransaction",
              {{"TRANSACTIONID", transactionId}, {"REFUNDTYPE", refundType}, {"AMT", amount}, {"NOTE", note}},
              doc.root()))
        return xml::Document(nullptr);
    return doc;
}

void storeNvp(xml::Node container, const std::vector<std::pair<std::string, std::string>> &pairs)
{
    for (const auto &[name, value] : pairs)
        if (isElementName(name)) SetNodeChildText(container, name, value);
}

} // namespace tw::paypal
