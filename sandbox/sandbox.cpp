#include "sandbox/sandbox.h"

#include "platform/clock.h"
#include "platform/text.h"
#include "sandbox/impl.h"

#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtHttpServer/QHttpServerRequest>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QSslConfiguration>
#include <QtNetwork/QSslKey>
#include <QtNetwork/QSslServer>
#include <QtNetwork/QSslSocket>
#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>

#include <cstdio>
#include <cstring>

namespace tw::sandbox {

// ---- small helpers ---------------------------------------------------------

std::vector<std::pair<std::string, std::string>> splitQuery(const std::string &query, bool form)
{
    auto decode = [form](std::string s) {
        if (form)
            for (auto &c : s)
                if (c == '+') c = ' ';
        return QByteArray::fromPercentEncoding(QByteArray::fromStdString(s)).toStdString();
    };
    std::vector<std::pair<std::string, std::string>> out = tw::splitQuery(query);
    for (auto &[key, value] : out) {
        key = decode(key);
        value = decode(value);
    }
    return out;
}

std::string queryValue(const std::vector<std::pair<std::string, std::string>> &params, const std::string &name)
{
    for (const auto &[key, value] : params)
        if (QString::fromStdString(key).compare(QString::fromStdString(name), Qt::CaseInsensitive) == 0) return value;
    return {};
}

std::string percentEncode(const std::string &text)
{
    return QUrl::toPercentEncoding(QString::fromStdString(text)).toStdString();
}

std::string maskJsonSecret(const std::string &json, const std::string &name)
{
    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        // Not JSON we can read: keep nothing of it that could be the secret.
        return json.find(name) == std::string::npos ? json : std::string("(masked: unreadable JSON)");
    }
    QJsonObject o = doc.object();
    const QString key = QString::fromStdString(name);
    if (o.contains(key)) o.insert(key, "****");
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

std::string ebayTime(const DateTime &t)
{
    std::string s = t.toString();
    if (s.size() > 10) s[10] = 'T';
    char ms[8];
    std::snprintf(ms, sizeof ms, ".%03dZ", t.msec());
    return s + ms;
}

DateTime parseEbayTime(const std::string &text)
{
    std::string s = text;
    if (!s.empty() && (s.back() == 'Z' || s.back() == 'z')) s.pop_back();
    return DateTime::fromString(s);
}

std::string money(double amount)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", amount);
    return buf;
}

// ---- the HTTP side -----------------------------------------------------------

namespace {

const char *reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 207:
        return "Multi-Status";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray head(const Reply &reply, qsizetype length)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " " + reason(reply.status) + "\r\n";
    out += "Content-Type: " + QByteArray::fromStdString(reply.contentType) + "\r\n";
    out += "Content-Length: " + QByteArray::number(length) + "\r\n";
    for (const auto &[name, value] : reply.headers)
        out += QByteArray::fromStdString(name) + ": " + QByteArray::fromStdString(value) + "\r\n";
    out += "\r\n";
    return out;
}

} // namespace

// Writes its answers straight to the socket, so that it can also answer
// late, half or not at all.
class HttpServer : public QAbstractHttpServer {
  public:
    HttpServer(Sandbox::Impl *impl, bool tls) : m_impl(impl), m_tls(tls) {}

  protected:
    bool handleRequest(const QHttpServerRequest &qreq, QTcpSocket *socket) override
    {
        Request request;
        switch (qreq.method()) {
        case QHttpServerRequest::Method::Get:
            request.method = "GET";
            break;
        case QHttpServerRequest::Method::Post:
            request.method = "POST";
            break;
        case QHttpServerRequest::Method::Head:
            request.method = "HEAD";
            break;
        default:
            request.method = "OTHER";
            break;
        }
        const QUrl url = qreq.url();
        request.path = url.path(QUrl::FullyEncoded).toStdString();
        request.query = url.query(QUrl::FullyEncoded).toStdString();
        request.target = request.path + (request.query.empty() ? "" : "?" + request.query);
        for (const auto &[name, value] : qreq.headers())
            request.headers[name.toLower().toStdString()] = value.toStdString();
        request.body = qreq.body().toStdString();
        request.tls = m_tls;
        if (auto *ssl = qobject_cast<QSslSocket *>(socket))
            request.clientCertificate =
                ssl->peerCertificate().subjectInfo(QSslCertificate::CommonName).join(", ").toStdString();

        auto [service, call] = m_impl->classify(request);
        const std::vector<Fault> faults = m_impl->takeFaults(call);
        Reply reply = m_impl->answer(request, service, faults);

        LoggedRequest entry;
        entry.number = ++m_impl->total;
        entry.service = service;
        entry.call = call;
        entry.method = request.method;
        entry.target = request.target;
        entry.headers = request.headers;
        entry.body = request.body;
        entry.clientCertificate = request.clientCertificate;
        entry.status = reply.status;
        entry.response = reply.body;
        // The seller's secrets never stand in a log in clear.
        if (service == "paypal") {
            entry.body = maskNvpSecrets(request.body);
            if (!request.query.empty()) entry.target = request.path + "?" + maskNvpSecrets(request.query);
        }
        if (auto auth = entry.headers.find("authorization"); auth != entry.headers.end()) {
            const std::size_t space = auth->second.find(' ');
            auth->second = (space == std::string::npos ? std::string() : auth->second.substr(0, space + 1)) + "****";
        }
        if (call == "OAuthToken") {
            entry.body = maskJsonSecret(entry.body, "client_secret");
            entry.response = maskJsonSecret(entry.response, "access_token");
        }

        int delay = 0;
        bool drop = false, truncate = false;
        for (const Fault &f : faults) {
            entry.faults.push_back(f.kind);
            if (f.kind == FaultKind::Delay) delay += std::max(0, f.delayMs);
            if (f.kind == FaultKind::Drop) drop = true;
            if (f.kind == FaultKind::Truncated) truncate = true;
        }
        if (drop) entry.status = 0;
        m_impl->log.push_back(entry);
        if (m_impl->observer) m_impl->observer(entry);

        QPointer<QTcpSocket> guard(socket);
        auto send = [guard, reply, drop, truncate]() {
            if (!guard) return;
            if (drop) {
                guard->abort();
                return;
            }
            QByteArray body = QByteArray::fromStdString(reply.body);
            if (truncate) {
                guard->write(head(reply, body.size()) + body.left(body.size() / 2));
                guard->disconnectFromHost();
                return;
            }
            guard->write(head(reply, body.size()) + body);
        };
        // Never act on the socket inside this call: closing it here would
        // free the request the server is still holding.
        QTimer::singleShot(delay, socket, send);
        return true;
    }

    void missingHandler(const QHttpServerRequest &, QTcpSocket *) override {}

  private:
    Sandbox::Impl *m_impl;
    bool m_tls;
};

// ---- the sandbox -------------------------------------------------------------

DateTime Sandbox::Impl::localNow() const
{
    return tw::clock().localNow();
}

int Sandbox::Impl::utcOffset() const
{
    return tw::clock().utcOffsetSeconds(localNow());
}

DateTime Sandbox::Impl::ebayNow() const
{
    const DateTime local = localNow();
    return local.addSecs(-tw::clock().utcOffsetSeconds(local) + options.clockSkewSeconds);
}

std::pair<std::string, std::string> Sandbox::Impl::classify(const Request &request) const
{
    const QString path = QString::fromStdString(request.path);
    if (path.compare(request.tls ? "/nvp" : "/paypal/nvp", Qt::CaseInsensitive) == 0) {
        std::string method = queryValue(splitQuery(request.body, true), "METHOD");
        return {"paypal", method.empty() ? std::string("paypal") : method};
    }
    if (request.tls) return {"page", request.path};
    if (path.compare("/ws/api.dll", Qt::CaseInsensitive) == 0) {
        std::string call = request.header("x-ebay-api-call-name");
        return {"ebay", call};
    }
    if (path == "/identity/v1/oauth2/token") return {"ebay", "IdentityToken"};
    if (path.startsWith("/developer/analytics/v1_beta/user_rate_limit")) return {"ebay", "getUserRateLimits"};
    if (path.startsWith("/sell/fulfillment/v1/order/")) {
        const QString rest = path.mid(int(std::strlen("/sell/fulfillment/v1/order/")));
        if (!rest.isEmpty() && !rest.contains('/')) return {"ebay", "getOrder"};
        if (rest.endsWith("/issue_refund") && rest.count('/') == 1) return {"ebay", "issueRefund"};
    }
    if (path.startsWith("/sell/") || path.startsWith("/commerce/")) return {"ebay", "REST " + request.path};
    if (path == "/oauth2/v3/token") return {"usps", "OAuthToken"};
    if (path == "/tracking/v3r2/tracking") return {"usps", "TrackingV3r2"};
    if (path.startsWith("/tracking/v3/tracking/")) return {"usps", "TrackingV3"};
    if (path.compare("/ShippingAPI.dll", Qt::CaseInsensitive) == 0) {
        std::string api = queryValue(splitQuery(request.query.substr(0, request.query.find("XML=")), false), "API");
        return {"usps", api.empty() ? std::string("TrackV2") : api};
    }
    return {"page", request.path};
}

std::vector<Fault> Sandbox::Impl::takeFaults(const std::string &call)
{
    const int nthOfCall = ++callCounts[call];
    const int nthOfAll = total + 1;
    std::vector<Fault> hit;
    for (Fault &f : faults) {
        if (f.times == 0) continue;
        if (!f.call.empty() && f.call != call) continue;
        const int n = f.call.empty() ? nthOfAll : nthOfCall;
        if (f.nth != 0 && f.nth != n) continue;
        hit.push_back(f);
        if (f.times > 0) --f.times;
    }
    return hit;
}

Reply Sandbox::Impl::answer(const Request &request, const std::string &service, const std::vector<Fault> &faults)
{
    bool warn = false, fail = false, http500 = false, malformed = false, html = false;
    RestFaults rest;
    for (const Fault &f : faults) {
        rest.unauthorized |= f.kind == FaultKind::TokenExpired;
        rest.forbidden |= f.kind == FaultKind::Forbidden;
        rest.mixed |= f.kind == FaultKind::MixedAnswers;
        if (f.kind == FaultKind::RateLimited) rest.retryAfter = std::max(0, f.retryAfterSeconds);
        warn |= f.kind == FaultKind::AckWarning;
        fail |= f.kind == FaultKind::AckFailure;
        http500 |= f.kind == FaultKind::Http500;
        malformed |= f.kind == FaultKind::MalformedXml;
        html |= f.kind == FaultKind::HtmlPage;
    }
    Reply reply;
    if (http500) {
        reply.status = 500;
        reply.contentType = "text/html; charset=utf-8";
        reply.body = "<html><body><h1>500 Internal Server Error</h1></body></html>";
        return reply;
    }
    if (html) {
        // What a proxy or a web front shows: "&" and "=" included, no answer fields.
        reply.contentType = "text/html; charset=utf-8";
        reply.body = "<html><head><title>Service Unavailable</title></head><body><p>We&#39;re sorry &amp; we will "
                     "be back soon.</p><a href=\"/?cmd=_home&amp;locale=en_US\">Home</a></body></html>";
        return reply;
    }
    const std::string call = classify(request).second;
    if (service == "ebay" && call == "IdentityToken")
        reply = oauthToken(request, rest.unauthorized);
    else if (service == "ebay" && (call == "getUserRateLimits" || call == "getOrder" || call == "issueRefund" ||
                                   call.rfind("REST ", 0) == 0))
        reply = restApi(request, call, rest.unauthorized);
    else if (service == "ebay")
        reply = tradingApi(request, warn, fail, rest.unauthorized);
    else if (service == "page" && !request.tls &&
             (request.path == "/oauth2/authorize" || request.path == "/oauth2/consent" ||
              request.path.rfind("/oauth/", 0) == 0))
        reply = consentPage(request);
    else if (service == "usps" && (call == "OAuthToken" || call == "TrackingV3" || call == "TrackingV3r2")) {
        rest.fail = fail;
        reply = uspsRest(request, call, rest);
    } else if (service == "usps")
        reply = usps(request, fail);
    else if (service == "paypal")
        reply = paypal(request, warn, fail);
    else if (request.tls) {
        reply.status = 404;
        reply.contentType = "text/html; charset=utf-8";
        reply.body = "<html><body><h1>404 Not Found</h1></body></html>";
    } else
        reply = page(request);
    if (malformed) {
        // Cut inside a tag and add a stray ampersand: no parser accepts it.
        std::string body = reply.body.substr(0, reply.body.size() * 2 / 3);
        reply.body = body + " & <broken attr=\"";
    }
    return reply;
}

Sandbox::Sandbox(Options options) : m_impl(std::make_unique<Impl>())
{
    m_impl->options = std::move(options);
    m_impl->state.generate(m_impl->options.data, m_impl->ebayNow(), m_impl->utcOffset());
}

Sandbox::~Sandbox() = default;

bool Sandbox::start(unsigned short port, std::string *error)
{
    if (m_impl->server) return true;
    auto server = std::make_unique<HttpServer>(m_impl.get(), false);
    auto *tcp = new QTcpServer(server.get());
    if (!tcp->listen(QHostAddress::LocalHost, port)) {
        if (error) *error = tcp->errorString().toStdString();
        return false;
    }
    server->bind(tcp);
    m_impl->port = tcp->serverPort();
    m_impl->server = std::move(server);
    return true;
}

unsigned short Sandbox::port() const
{
    return m_impl->port;
}

std::string Sandbox::baseUrl() const
{
    return m_impl->base();
}

bool Sandbox::startTls(const TlsFiles &files, unsigned short port, std::string *error)
{
    if (m_impl->tlsServer) return true;
    auto readFile = [](const std::filesystem::path &path) {
        QFile f(QString::fromStdString(path.string()));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QSslCertificate certificate(readFile(files.serverCertificate), QSsl::Pem);
    const QSslKey key(readFile(files.serverKey), QSsl::Ec, QSsl::Pem);
    const QList<QSslCertificate> authority =
        QSslCertificate::fromPath(QString::fromStdString(files.caCertificate.string()), QSsl::Pem);
    if (certificate.isNull() || key.isNull() || authority.isEmpty()) {
        if (error) *error = "cannot read the server certificate, its key or the test authority";
        return false;
    }
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setLocalCertificate(certificate);
    ssl.setPrivateKey(key);
    ssl.setCaCertificates(authority);
    ssl.setPeerVerifyMode(QSslSocket::VerifyPeer);
    // Refuse in the handshake, with an alert the client can name, both a
    // missing certificate and one of another authority.
    ssl.setMissingCertificateIsFatal(true);
    ssl.setHandshakeMustInterruptOnError(true);

    auto server = std::make_unique<HttpServer>(m_impl.get(), true);
    auto *tcp = new QSslServer(server.get());
    tcp->setSslConfiguration(ssl);
    Impl *impl = m_impl.get();
    // Emitted for failed handshakes only.
    QObject::connect(tcp, &QSslServer::errorOccurred, server.get(),
                     [impl](QSslSocket *socket, QAbstractSocket::SocketError) {
                         impl->refusedHandshakes.push_back(socket ? socket->errorString().toStdString()
                                                                  : std::string("handshake failed"));
                     });
    if (!tcp->listen(QHostAddress::LocalHost, port)) {
        if (error) *error = tcp->errorString().toStdString();
        return false;
    }
    server->bind(tcp);
    m_impl->tlsPort = tcp->serverPort();
    m_impl->tlsFiles = files;
    m_impl->tlsServer = std::move(server);
    return true;
}

unsigned short Sandbox::tlsPort() const
{
    return m_impl->tlsPort;
}

const std::vector<std::string> &Sandbox::refusedHandshakes() const
{
    return m_impl->refusedHandshakes;
}

Config Sandbox::config() const
{
    Config c;
    const std::string b = baseUrl();
    c.set("ebay/DevName", m_impl->ids.get("ebay/DevName"));
    c.set("ebay/AppName", m_impl->ids.get("ebay/AppName"));
    c.set("ebay/CertName", m_impl->ids.get("ebay/CertName"));
    c.set("ebay/RuName", m_impl->ids.get("ebay/RuName"));
    c.set("ebay/ApiUrl", b + "/ws/api.dll");
    c.set("ebay/OAuthAuthorizeUrl", b + "/oauth2/authorize");
    c.set("ebay/OAuthTokenUrl", b + "/identity/v1/oauth2/token");
    c.set("ebay/OAuthDeclinedUrl", b + "/oauth/declined");
    c.set("ebay/RestApiUrl", b);
    c.set("ebay/FeedbackUrl", b + "/feedback/ws/eBayISAPI.dll");
    c.set("ebay/ContactUrl", b + "/contact/ws/eBayISAPI.dll");
    c.set("ebay/SalesRecordUrl", b + "/salesrecord/ws/eBayISAPI.dll?EditSalesRecord");
    c.set("ebay/ItemUrl", b + "/item/ws/eBayISAPI.dll");
    c.set("usps/UserID", m_impl->ids.get("usps/UserID"));
    c.set("usps/WebToolsUrl", b + "/ShippingAPI.dll");
    c.set("usps/RestApiUrl", b);
    c.set("usps/TrackingPageUrl", b + "/usps");
    c.set("ups/TrackingPageUrl", b + "/ups/WebTracking/processInputRequest");
    c.set("paypal/SignatureApiUrl", b + "/paypal/nvp");
    if (m_impl->tlsServer) {
        const TlsFiles &tls = m_impl->tlsFiles;
        c.set("paypal/CertificateApiUrl", "https://127.0.0.1:" + std::to_string(m_impl->tlsPort) + "/nvp");
        c.set("paypal/ClientCertificate", tls.clientCertificate.string());
        c.set("paypal/ClientCertificatePassword", tls.clientPassword);
        c.set("net/ExtraCaCertificates", tls.caCertificate.string());
    } else {
        c.set("paypal/CertificateApiUrl", "https://127.0.0.1:" + std::to_string(m_impl->port) + "/nvp");
    }
    return c;
}

bool Sandbox::writeConfig(const std::filesystem::path &file, std::string *error) const
{
    return config().save(file, error);
}

State &Sandbox::state()
{
    return m_impl->state;
}
const State &Sandbox::state() const
{
    return m_impl->state;
}

const std::vector<LoggedRequest> &Sandbox::requestLog() const
{
    return m_impl->log;
}

std::vector<LoggedRequest> Sandbox::requests(const std::string &call) const
{
    std::vector<LoggedRequest> out;
    for (const auto &entry : m_impl->log)
        if (entry.call == call) out.push_back(entry);
    return out;
}

void Sandbox::clearLog()
{
    m_impl->log.clear();
}

void Sandbox::injectFault(const Fault &fault)
{
    m_impl->faults.push_back(fault);
}

void Sandbox::setOAuthLifetimes(int accessSeconds, long long refreshSeconds)
{
    m_impl->oauthAccessSeconds = accessSeconds;
    m_impl->oauthRefreshSeconds = refreshSeconds;
}

std::vector<std::string> Sandbox::issuedOAuthTokens() const
{
    std::vector<std::string> out;
    for (const auto &[token, grant] : m_impl->oauthTokens)
        out.push_back(token);
    return out;
}

void Sandbox::clearFaults()
{
    m_impl->faults.clear();
}

DateTime Sandbox::ebayNow() const
{
    return m_impl->ebayNow();
}

void Sandbox::setClockSkewSeconds(int seconds)
{
    m_impl->options.clockSkewSeconds = seconds;
}

void Sandbox::setRequestObserver(std::function<void(const LoggedRequest &)> observer)
{
    m_impl->observer = std::move(observer);
}

} // namespace tw::sandbox
