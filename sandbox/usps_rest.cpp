// USPS's REST APIs: the OAuth token, tracking of one number (GET) and of up
// to 35 (POST), with the same histories as the TrackV2 stand-in.

#include "sandbox/impl.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

namespace tw::sandbox {

namespace {

constexpr int kBatchLimit = 35;

Reply json(int status, const QJsonValue &value)
{
    Reply r;
    r.status = status;
    r.contentType = "application/json";
    const QJsonDocument doc = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    r.body = doc.toJson(QJsonDocument::Compact).toStdString();
    return r;
}

QJsonObject errorObject(int status, const QString &message, const QString &title = {})
{
    QJsonObject detail{{"status", QString::number(status)},
                       {"code", QString::number(status)},
                       {"title", title.isEmpty() ? message : title},
                       {"detail", message}};
    return QJsonObject{
        {"apiVersion", "v3"},
        {"error",
         QJsonObject{{"code", QString::number(status)}, {"message", message}, {"errors", QJsonArray{detail}}}}};
}

const char *kUnknownText = "The tracking number may be incorrect or the status update is not yet available. "
                           "Please verify your tracking number and try again later.";

QString stamp(const DateTime &t)
{
    // USPS writes the clock of the event's place and marks it "Z" all the same.
    std::string s = t.toString();
    if (s.size() > 10) s[10] = 'T';
    return QString::fromStdString(s) + "Z";
}

QString gmtOffset(int seconds)
{
    const int m = std::abs(seconds) / 60;
    return QString("%1%2:%3")
        .arg(seconds < 0 ? "-" : "+")
        .arg(m / 60, 2, 10, QChar('0'))
        .arg(m % 60, 2, 10, QChar('0'));
}

QString category(const std::string &event)
{
    if (event.rfind("Delivered", 0) == 0 || event == "Arrival at Unit") return "Delivered";
    if (event == "Out for Delivery") return "Out for Delivery";
    if (event == "Shipping Label Created") return "Pre-Shipment";
    if (event == "Acceptance") return "Accepted";
    return "In Transit";
}

QString eventCode(const std::string &event)
{
    if (event == "Delivered" || event == "Delivered Abroad") return "01";
    if (event == "Out for Delivery") return "OF";
    if (event == "Acceptance") return "03";
    if (event == "Shipping Label Created") return "GX";
    if (event == "Arrival at Unit") return "07";
    return "10";
}

QJsonObject trackingObject(const std::string &number, const std::vector<TrackEvent> &events, int utcOffset)
{
    QJsonArray list;
    for (const TrackEvent &e : events)
        list.append(QJsonObject{{"eventType", QString::fromStdString(e.text)},
                                {"eventTimestamp", stamp(e.when)},
                                {"GMTTimestamp", stamp(e.when.addSecs(-utcOffset))},
                                {"GMTOffset", gmtOffset(utcOffset)},
                                {"eventCountry", QString::fromStdString(e.country)},
                                {"eventCity", QString::fromStdString(e.city)},
                                {"eventState", QString::fromStdString(e.state)},
                                {"eventZIP", QString::fromStdString(e.zip)},
                                {"firm", ""},
                                {"name", ""},
                                {"authorizedAgent", false},
                                {"eventCode", eventCode(e.text)}});
    const TrackEvent &last = events.front();
    QString where = QString::fromStdString(last.city);
    if (!last.state.empty()) where += ", " + QString::fromStdString(last.state);
    return QJsonObject{
        {"trackingNumber", QString::fromStdString(number)},
        {"mailClass", "Priority Mail"},
        {"status", QString::fromStdString(last.text)},
        {"statusCategory", category(last.text)},
        {"statusSummary", QString("Latest update: %1 in %2.").arg(QString::fromStdString(last.text), where)},
        {"trackingEvents", list}};
}

std::string bearer(const Request &request)
{
    const std::string h = request.header("authorization");
    const std::string prefix = "Bearer ";
    if (h.size() <= prefix.size() || QString::fromStdString(h.substr(0, prefix.size()))
                                             .compare(QString::fromStdString(prefix), Qt::CaseInsensitive) != 0)
        return {};
    return h.substr(prefix.size());
}

} // namespace

Reply Sandbox::Impl::uspsRest(const Request &request, const std::string &call, const RestFaults &faults)
{
    if (faults.fail) return json(503, errorObject(503, "Service temporarily unavailable (injected by the sandbox)."));
    if (faults.retryAfter >= 0) {
        Reply r = json(429, errorObject(429, "Too many requests: the quota of this application is used up."));
        r.headers.emplace_back("Retry-After", std::to_string(faults.retryAfter));
        return r;
    }

    if (call == "OAuthToken") {
        if (request.method != "POST") return json(405, errorObject(405, "Method not allowed."));
        const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
        if (body.value("grant_type").toString() != "client_credentials")
            return json(400, QJsonObject{{"error", "unsupported_grant_type"},
                                         {"error_description", "grant_type must be client_credentials"}});
        if (body.value("client_id").toString().toStdString() != kUspsClientId ||
            body.value("client_secret").toString().toStdString() != kUspsClientSecret)
            return json(
                401, QJsonObject{{"error", "invalid_client"}, {"error_description", "Client authentication failed."}});
        const std::string token = "usps-sandbox-token-" + std::to_string(++uspsTokenCounter);
        uspsTokens[token] = localNow().addSecs(uspsTokenSeconds);
        return json(200, QJsonObject{{"access_token", QString::fromStdString(token)},
                                     {"token_type", "Bearer"},
                                     {"issued_at", QString::number(localNow().toMsecs())},
                                     {"expires_in", uspsTokenSeconds},
                                     {"status", "approved"},
                                     {"scope", "tracking"},
                                     {"issuer", "api.usps.com"},
                                     {"client_id", QString::fromStdString(kUspsClientId)},
                                     {"application_name", "Tidewell sandbox"}});
    }

    // Tracking: a live token first.
    const std::string token = bearer(request);
    auto live = uspsTokens.find(token);
    if (faults.unauthorized && live != uspsTokens.end()) {
        uspsTokens.erase(live);
        live = uspsTokens.end();
    }
    if (live == uspsTokens.end() || live->second <= localNow())
        return json(401, errorObject(401, "Unauthorized: the access token is missing, invalid or expired."));
    if (faults.forbidden) return json(403, errorObject(403, "Forbidden: this application may not use this resource."));

    const DateTime now = localNow();
    const int offset = utcOffset();
    auto answerFor = [&](const std::string &number) -> std::optional<QJsonObject> {
        auto it = state.tracking.find(number);
        if (it == state.tracking.end()) return std::nullopt;
        return trackingObject(number, trackingHistory(number, it->second, now), offset);
    };

    if (call == "TrackingV3") {
        if (request.method != "GET") return json(405, errorObject(405, "Method not allowed."));
        const std::string prefix = "/tracking/v3/tracking/";
        const std::string number =
            QByteArray::fromPercentEncoding(QByteArray::fromStdString(request.path.substr(prefix.size())))
                .toStdString();
        if (number.empty()) return json(400, errorObject(400, "A tracking number is required."));
        std::optional<QJsonObject> found = answerFor(number);
        if (!found) return json(404, errorObject(404, kUnknownText, "Tracking number not found"));
        return json(200, *found);
    }

    // TrackingV3r2: the batch form.
    if (request.method != "POST") return json(405, errorObject(405, "Method not allowed."));
    const QJsonDocument body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body));
    if (!body.isArray() || body.array().isEmpty())
        return json(400, errorObject(400, "The body must be a JSON array of tracking numbers."));
    if (body.array().size() > kBatchLimit)
        return json(400, errorObject(400, "At most 35 tracking numbers may be asked in one request."));
    QJsonArray out;
    bool anyFailed = false;
    int k = 0;
    for (const QJsonValue &entry : body.array()) {
        const std::string number = entry.toObject().value("trackingNumber").toString().toStdString();
        std::optional<QJsonObject> found = answerFor(number);
        if (found && !(faults.mixed && k % 2 == 1)) {
            out.append(*found);
        } else {
            anyFailed = true;
            QJsonObject failed =
                errorObject(found ? 503 : 404, found ? QString("Temporarily unavailable.") : QString(kUnknownText));
            failed.insert("trackingNumber", QString::fromStdString(number));
            out.append(failed);
        }
        ++k;
    }
    return json(anyFailed ? 207 : 200, out);
}

} // namespace tw::sandbox
