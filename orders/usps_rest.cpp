#include "orders/usps_rest.h"

#include "platform/clock.h"
#include "platform/config.h"
#include "platform/http.h"
#include "store/settings.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

#include <algorithm>
#include <array>
#include <map>

namespace tw::orders {

namespace {

constexpr std::size_t kBatchSize = 35;
// A token is replaced this long before USPS says it ends, so that no request
// leaves with a token that expires on the way.
constexpr int kTokenMarginSeconds = 60;
// A 429 without a usable Retry-After pauses this long; USPS's quotas are
// counted by the hour, so asking sooner would most likely be refused again.
constexpr int kDefaultPauseSeconds = 15 * 60;
constexpr int kLongestPauseSeconds = 24 * 3600;

// What the Web Tools said of a number they did not know; a REST answer for
// such a number is stored with the same error, so that the row and the
// once-a-day rule treat it alike whichever way USPS was asked.
constexpr char kUnknownNumber[] = "-2147219302";
constexpr char kUnknownText[] = "The tracking number may be incorrect or the status update is not yet available. "
                                "Please verify your tracking number and try again later.";

const std::array<const char *, 12> kMonths = {"January", "February", "March",     "April",   "May",      "June",
                                              "July",    "August",   "September", "October", "November", "December"};

// What the program keeps about one USPS application between downloads.
struct Account {
    std::string token;
    DateTime renewAt; // local; the token is fetched again from then on
    bool batchRefused = false;
    DateTime pausedUntil; // local; invalid when USPS takes requests
};

std::map<std::string, Account> &accounts()
{
    static std::map<std::string, Account> all;
    return all;
}

Account &accountFor(const UspsSettings &s)
{
    // The secret is part of the key (hashed) so that new credentials never
    // ride on a token fetched with the old ones.
    const QByteArray secret =
        QCryptographicHash::hash(QByteArray::fromStdString(s.clientSecret), QCryptographicHash::Sha256).toHex();
    return accounts()[config().get("usps/RestApiUrl") + "\n" + s.clientId + "\n" + secret.toStdString()];
}

std::string apiUrl(const std::string &path)
{
    std::string base = config().get("usps/RestApiUrl");
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + path;
}

// Characters XML 1.0 cannot hold would make the saved file unreadable.
std::string xmlSafe(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF) continue;
        out.append(c);
    }
    return out.toStdString();
}

std::string field(const QJsonObject &o, const char *name)
{
    const QJsonValue v = o.value(QLatin1String(name));
    if (v.isString()) return xmlSafe(v.toString());
    if (v.isBool()) return v.toBool() ? "true" : "false";
    if (v.isDouble()) return QString::number(v.toDouble(), 'g', 15).toStdString();
    return {};
}

// USPS writes the clock of the event's place (and marks it "Z" all the
// same); the Web Tools showed that clock, so it is taken as written.
DateTime eventClock(const QJsonObject &event, bool *hasTime)
{
    const std::string stamp = field(event, "eventTimestamp");
    *hasTime = stamp.size() >= 16;
    if (stamp.size() >= 19) {
        if (DateTime t = DateTime::fromString(stamp.substr(0, 19)); t.isValid()) return t;
    }
    if (stamp.size() >= 16) {
        if (DateTime t = DateTime::fromString(stamp.substr(0, 16) + ":00"); t.isValid()) return t;
    }
    *hasTime = false;
    if (stamp.size() >= 10) return DateTime::fromString(stamp.substr(0, 10) + " 00:00:00");
    return {};
}

std::string webToolsDate(const DateTime &t)
{
    return std::string(kMonths[t.month() - 1]) + " " + std::to_string(t.day()) + ", " + std::to_string(t.year());
}

std::string webToolsTime(const DateTime &t)
{
    int h = t.hour() % 12;
    if (h == 0) h = 12;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d:%02d %s", h, t.minute(), t.hour() < 12 ? "am" : "pm");
    return buf;
}

void appendEvent(xml::Node info, const char *name, const QJsonObject &event)
{
    bool hasTime = false;
    const DateTime when = eventClock(event, &hasTime);
    xml::Node n = info.appendElement(name);
    n.appendElement("EventTime", when.isValid() && hasTime ? webToolsTime(when) : std::string());
    n.appendElement("EventDate", when.isValid() ? webToolsDate(when) : std::string());
    n.appendElement("Event", field(event, "eventType"));
    n.appendElement("EventCity", field(event, "eventCity"));
    n.appendElement("EventState", field(event, "eventState"));
    n.appendElement("EventZIPCode", field(event, "eventZIP"));
    n.appendElement("EventCountry", field(event, "eventCountry"));
    n.appendElement("FirmName", field(event, "firm"));
    n.appendElement("Name", field(event, "name"));
    if (event.contains("authorizedAgent")) n.appendElement("AuthorizedAgent", field(event, "authorizedAgent"));
}

// Newest first, as USPS sends them; put right should a server not.
std::vector<QJsonObject> eventsNewestFirst(const QJsonObject &answer)
{
    std::vector<QJsonObject> events;
    for (const QJsonValue &v : answer.value("trackingEvents").toArray())
        if (v.isObject()) events.push_back(v.toObject());
    std::vector<DateTime> when;
    for (const QJsonObject &e : events) {
        bool hasTime = false;
        DateTime t = eventClock(e, &hasTime);
        if (!t.isValid()) return events;
        when.push_back(t);
    }
    std::vector<std::size_t> order(events.size());
    for (std::size_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return when[a] > when[b]; });
    std::vector<QJsonObject> sorted;
    for (std::size_t k : order)
        sorted.push_back(events[k]);
    return sorted;
}

std::string normalised(std::string number)
{
    std::string out;
    for (char c : number)
        if (c != ' ' && c != '-') out += char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// Seconds from a Retry-After header: a count or an HTTP date.
int retryAfterSeconds(const std::string &value)
{
    const QString v = QString::fromStdString(value).trimmed();
    bool isNumber = false;
    long long seconds = v.toLongLong(&isNumber);
    if (!isNumber) {
        const QDateTime at = QDateTime::fromString(v, Qt::RFC2822Date);
        if (!at.isValid()) return kDefaultPauseSeconds;
        seconds = QDateTime::currentDateTimeUtc().secsTo(at);
    }
    return int(std::clamp<long long>(seconds, 0, kLongestPauseSeconds));
}

std::string pauseText(const DateTime &until)
{
    // Rounded up to the minute: a seller who comes back at that minute is served.
    DateTime shown = until;
    if (shown.second() != 0 || shown.msec() != 0)
        shown = DateTime::fromParts(until.year(), until.month(), until.day(), until.hour(), until.minute()).addSecs(60);
    char clockText[8];
    std::snprintf(clockText, sizeof clockText, "%02d:%02d", shown.hour(), shown.minute());
    const DateTime now = clock().localNow();
    std::string when = clockText;
    if (shown.year() != now.year() || shown.month() != now.month() || shown.day() != now.day())
        when += " on " + std::string(kMonths[shown.month() - 1]) + " " + std::to_string(shown.day());
    return "USPS tracking paused: USPS takes requests again at " + when + ".";
}

// A USPS that does not answer at all is not asked again in this download:
// every further request would wait out its whole time-out too.
bool silent(const http::Response &r)
{
    return !r.ok && r.timedOut;
}

std::string describe(const http::Response &r)
{
    if (!r.ok) return r.timedOut ? "no answer in time" : "no connection: " + r.error;
    return "HTTP " + std::to_string(r.status);
}

// One run's exchanges: the token, one new token after a 401, the pause.
class Run {
  public:
    Run(const UspsSettings &settings, Account &account) : m_settings(settings), m_account(account) {}

    // The answer to `request` sent with a token, or nothing when the run
    // must stop (the reason is in stopText()).
    std::optional<http::Response> send(http::Request request)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!haveToken()) return std::nullopt;
            http::Request r = request;
            r.headers.emplace_back("Authorization", "Bearer " + m_account.token);
            http::Response response = http::send(r);
            ++requests;
            if (silent(response)) {
                m_stop = std::string(kUspsDidNotAnswer);
                return std::nullopt;
            }
            if (response.ok && response.status == 429) {
                pause(response);
                return std::nullopt;
            }
            if (!(response.ok && response.status == 401)) return response;
            // Expired or revoked early: one new token per run, then give up.
            m_account.token.clear();
            if (m_refetched) break;
            m_refetched = true;
        }
        m_stop = "USPS tracking stopped: USPS did not accept a new access token for the client id " +
                 m_settings.clientId + ". Check USPSClientID and USPSClientSecret.";
        return std::nullopt;
    }

    const std::string &stopText() const { return m_stop; }
    int requests = 0;

  private:
    bool haveToken()
    {
        const DateTime now = clock().localNow();
        if (!m_account.token.empty() && now < m_account.renewAt) return true;
        m_account.token.clear();
        http::Request r;
        r.method = "POST";
        r.url = apiUrl("/oauth2/v3/token");
        r.headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
        QJsonObject body{{"client_id", QString::fromStdString(m_settings.clientId)},
                         {"client_secret", QString::fromStdString(m_settings.clientSecret)},
                         {"grant_type", "client_credentials"}};
        r.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
        const http::Response response = http::send(r);
        if (response.ok && response.status == 429) {
            pause(response);
            return false;
        }
        const QJsonObject answer = QJsonDocument::fromJson(response.body).object();
        const std::string token = answer.value("access_token").toString().toStdString();
        if (response.ok && response.status == 200 && !token.empty()) {
            const QJsonValue life = answer.value("expires_in");
            long long seconds = life.isString() ? life.toString().toLongLong() : life.toInteger();
            if (seconds <= 0) seconds = 3600;
            const long long margin = std::min<long long>(kTokenMarginSeconds, seconds / 2);
            m_account.token = token;
            m_account.renewAt = now.addSecs(seconds - margin);
            return true;
        }
        if (silent(response))
            m_stop = std::string(kUspsDidNotAnswer);
        else if (response.ok && (response.status == 400 || response.status == 401 || response.status == 403))
            m_stop = "USPS tracking stopped: USPS refused the client id " + m_settings.clientId +
                     " and its secret. Check USPSClientID and USPSClientSecret.";
        else
            m_stop = "USPS tracking stopped: no access token from USPS (" + describe(response) +
                     "). Tracking is asked again at the next download.";
        return false;
    }

    void pause(const http::Response &response)
    {
        m_account.pausedUntil = clock().localNow().addSecs(retryAfterSeconds(response.header("retry-after")));
        m_stop = pauseText(m_account.pausedUntil);
    }

    const UspsSettings &m_settings;
    Account &m_account;
    bool m_refetched = false;
    std::string m_stop;
};

// USPS's error object {"error": {"code": ..., "message": ...}}: whether it
// says the number is unknown (404, or 400 for one that cannot be a number),
// and its message.
bool unknownNumberError(const QJsonObject &answer, std::string *message)
{
    const QJsonObject error = answer.value("error").toObject();
    *message = field(error, "message");
    std::string code = field(error, "code");
    if (code.empty())
        if (const QJsonArray details = error.value("errors").toArray(); !details.isEmpty())
            code = field(details.first().toObject(), "status");
    return code == "404" || code == "400";
}

void appendUnknownNumber(xml::Node trackResponse, const std::string &number, const std::string &message)
{
    xml::Node info = trackResponse.appendElement("TrackInfo");
    info.setAttribute("ID", number);
    xml::Node error = info.appendElement("Error");
    error.appendElement("Number", kUnknownNumber);
    error.appendElement("Description", message.empty() ? std::string(kUnknownText) : message);
    error.appendElement("HelpFile");
    error.appendElement("HelpContext");
}

xml::Document newResponse()
{
    return xml::Document::parse("<?xml version=\"1.0\" encoding=\"utf-8\"?><TrackResponse/>");
}

} // namespace

UspsSettings readUspsSettings(const xml::Document &settings)
{
    UspsSettings s;
    s.rest = QString::fromStdString(settings::read(settings, "USPSTrackingApi"))
                 .trimmed()
                 .compare("REST", Qt::CaseInsensitive) == 0;
    s.clientId = QString::fromStdString(settings::read(settings, "USPSClientID")).trimmed().toStdString();
    s.clientSecret = QString::fromStdString(settings::read(settings, "USPSClientSecret")).trimmed().toStdString();
    return s;
}

bool appendTrackInfo(xml::Node trackResponse, const std::string &number, const QJsonObject &answer)
{
    if (answer.contains("error")) {
        std::string message;
        if (!unknownNumberError(answer, &message)) return false;
        appendUnknownNumber(trackResponse, number, message);
        return true;
    }
    const std::vector<QJsonObject> events = eventsNewestFirst(answer);
    const std::string status = field(answer, "status");
    if (events.empty() && status.empty()) return false;
    xml::Node info = trackResponse.appendElement("TrackInfo");
    info.setAttribute("ID", number);
    if (events.empty()) {
        // Known, but nothing has happened to it yet: the status is all there is.
        xml::Node summary = info.appendElement("TrackSummary");
        for (const char *name : {"EventTime", "EventDate"})
            summary.appendElement(name);
        summary.appendElement("Event", status);
        return true;
    }
    appendEvent(info, "TrackSummary", events.front());
    for (std::size_t k = 1; k < events.size(); ++k)
        appendEvent(info, "TrackDetail", events[k]);
    return true;
}

clsUSPSRestConnection::clsUSPSRestConnection(UspsSettings settings) : m_settings(std::move(settings)) {}

void clsUSPSRestConnection::forgetAll()
{
    accounts().clear();
}

UspsRestRun clsUSPSRestConnection::track(const std::vector<std::string> &numbers,
                                         const std::function<void(std::size_t)> &progress)
{
    UspsRestRun out;
    std::vector<std::string> asked;
    for (const std::string &n : numbers)
        if (!n.empty()) asked.push_back(n);
    if (asked.empty()) return out;
    if (m_settings.clientId.empty() || m_settings.clientSecret.empty()) {
        out.status = "USPS tracking needs your USPS API client id and secret: set USPSClientID and "
                     "USPSClientSecret, or USPSTrackingApi back to WebTools.";
        return out;
    }
    Account &account = accountFor(m_settings);
    if (account.pausedUntil.isValid() && clock().localNow() < account.pausedUntil) {
        out.status = pauseText(account.pausedUntil);
        return out;
    }
    account.pausedUntil = {};

    xml::Document result = newResponse();
    Run run(m_settings, account);
    std::size_t unanswered = 0;
    std::string lastFailure;
    bool stopped = false;

    auto takeAnswer = [&](const std::string &number, const QJsonObject &answer) {
        appendTrackInfo(result.root(), number, answer);
    };
    auto askOneByOne = [&](const std::vector<std::string> &group) {
        for (const std::string &number : group) {
            http::Request r;
            r.url = apiUrl("/tracking/v3/tracking/" +
                           QUrl::toPercentEncoding(QString::fromStdString(number)).toStdString() + "?expand=DETAIL");
            r.headers = {{"Accept", "application/json"}};
            std::optional<http::Response> response = run.send(r);
            if (!response) return false;
            if (response->ok && response->status == 200) {
                takeAnswer(number, QJsonDocument::fromJson(response->body).object());
            } else if (response->ok && (response->status == 404 || response->status == 400)) {
                std::string message;
                unknownNumberError(QJsonDocument::fromJson(response->body).object(), &message);
                appendUnknownNumber(result.root(), number, message);
            } else if (response->ok && response->status == 403) {
                out.status = "USPS tracking stopped: USPS refused tracking to the client id " + m_settings.clientId +
                             " (HTTP 403). Ask for access to the Tracking API in the USPS developer portal.";
                return false;
            } else {
                ++unanswered;
                lastFailure = describe(*response);
            }
        }
        return true;
    };

    for (std::size_t start = 0; start < asked.size() && !stopped; start += kBatchSize) {
        if (progress) progress(asked.size() - start);
        const std::vector<std::string> group(asked.begin() + long(start),
                                             asked.begin() + long(std::min(asked.size(), start + kBatchSize)));
        if (!account.batchRefused) {
            QJsonArray body;
            for (const std::string &number : group)
                body.append(QJsonObject{{"trackingNumber", QString::fromStdString(number)}});
            http::Request r;
            r.method = "POST";
            r.url = apiUrl("/tracking/v3r2/tracking");
            r.headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
            r.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
            std::optional<http::Response> response = run.send(r);
            if (!response) {
                stopped = true;
                break;
            }
            const int status = response->ok ? response->status : 0;
            if (status == 403 || status == 404 || status == 405) {
                // This account is not served the batch form: one request per number from now on.
                account.batchRefused = true;
            } else if (status == 200 || status == 207) {
                const QJsonDocument doc = QJsonDocument::fromJson(response->body);
                if (!doc.isArray()) {
                    unanswered += group.size();
                    lastFailure = "an answer that is not a list";
                    continue;
                }
                std::map<std::string, std::size_t> exact, loose;
                for (std::size_t k = 0; k < group.size(); ++k) {
                    exact.emplace(group[k], k);
                    loose.emplace(normalised(group[k]), k);
                }
                std::vector<bool> done(group.size(), false);
                const QJsonArray answers = doc.array();
                for (qsizetype k = 0; k < answers.size(); ++k) {
                    const QJsonObject answer = answers[k].toObject();
                    const std::string said = answer.value("trackingNumber").toString().toStdString();
                    std::size_t at = group.size();
                    if (auto it = exact.find(said); it != exact.end())
                        at = it->second;
                    else if (auto it2 = loose.find(normalised(said)); !said.empty() && it2 != loose.end())
                        at = it2->second;
                    else if (said.empty() && std::size_t(k) < group.size())
                        at = std::size_t(k); // no number given: the answers stand in the order asked
                    if (at == group.size() || done[at]) continue;
                    done[at] = true;
                    takeAnswer(group[at], answer);
                }
                continue;
            } else {
                unanswered += group.size();
                lastFailure = describe(*response);
                continue;
            }
        }
        if (!askOneByOne(group)) stopped = true;
    }

    out.requests = run.requests;
    if (stopped && out.status.empty()) out.status = run.stopText();
    if (out.status.empty() && unanswered > 0)
        out.status = "USPS tracking: " + std::to_string(unanswered) + (unanswered == 1 ? " number" : " numbers") +
                     " got no answer from USPS (" + lastFailure + "); asked again at the next download.";
    // Nothing of the credentials ever reaches the window.
    for (const std::string *secret : {&m_settings.clientSecret, &account.token}) {
        if (secret->size() < 4) continue;
        for (std::size_t at = out.status.find(*secret); at != std::string::npos; at = out.status.find(*secret, at))
            out.status.replace(at, secret->size(), "****");
    }
    if (result.root().firstElement()) out.response = std::move(result);
    return out;
}

} // namespace tw::orders
