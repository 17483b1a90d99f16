#include "platform/http.h"

#include "platform/config.h"
#include "platform/http_reader.h"
#include "platform/log.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMetaEnum>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#ifndef QT_NO_SSL
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#endif

#include <cstdlib>

namespace tw::http {
namespace {

#ifndef QT_NO_SSL
bool applyClientCertificate(QSslConfiguration &ssl, const Request &request, std::string *error)
{
    QFile file(QString::fromStdString(request.clientCertificate));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = "cannot read the client certificate " + request.clientCertificate;
        return false;
    }
    QSslKey key;
    QSslCertificate certificate;
    QList<QSslCertificate> chain;
    if (!QSslCertificate::importPkcs12(&file, &key, &certificate, &chain,
                                       QByteArray::fromStdString(request.clientCertificatePassword)) ||
        certificate.isNull() || key.isNull()) {
        *error = "the client certificate " + request.clientCertificate + " could not be opened";
        return false;
    }
    ssl.setPrivateKey(key);
    ssl.setLocalCertificate(certificate);
    ssl.setLocalCertificateChain(QList<QSslCertificate>{certificate} + chain);
    return true;
}

// Adding authorities to a configuration turns off the system's on-demand
// store, so the system's list is added explicitly (read once).
bool applyExtraAuthorities(QSslConfiguration &ssl, std::string *error)
{
    const std::string file = config().get("net/ExtraCaCertificates");
    if (file.empty()) return true;
    const QList<QSslCertificate> extra = QSslCertificate::fromPath(QString::fromStdString(file), QSsl::Pem);
    if (extra.isEmpty()) {
        *error = "no certificate could be read from " + file + " (net/ExtraCaCertificates)";
        return false;
    }
    static const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
    ssl.setCaCertificates(system + extra);
    return true;
}

// OpenSSL's words for an alert the server sends when it wants a client
// certificate or refuses the one it got. An alert received always speaks of
// our side, so these name the client certificate.
bool isClientCertificateAlert(const QString &error)
{
    static const QRegularExpression alert(
        "alert (certificate required|bad certificate|unknown ca|certificate unknown|unsupported certificate|"
        "certificate revoked|certificate expired)",
        QRegularExpression::CaseInsensitiveOption);
    return alert.match(error).hasMatch();
}
#endif

// What the log says of an exchange: method, host, path and the call's name
// (eBay's call-name header, the USPS API named in the query). Never the
// query itself, headers or bodies: they carry tokens, passwords and buyers'
// addresses.
std::string describeForLog(const Request &request, const QUrl &url)
{
    std::string out = request.method + " " + url.host().toStdString();
    if (url.port() > 0) out += ":" + std::to_string(url.port());
    out += url.path().toStdString();
    std::string call;
    for (const auto &[name, value] : request.headers)
        if (QByteArray::fromStdString(name).compare("X-EBAY-API-CALL-NAME", Qt::CaseInsensitive) == 0) call = value;
    if (call.empty()) call = QUrlQuery(url).queryItemValue("API").toStdString();
    if (!call.empty()) out += " " + call;
    return out;
}

// The kind of socket failure by its name in Qt, which never holds the
// address.
std::string failureForLog(QAbstractSocket::SocketError error)
{
    const char *key = QMetaEnum::fromType<QAbstractSocket::SocketError>().valueToKey(error);
    return key ? key : "error " + std::to_string(int(error));
}

} // namespace

int defaultTimeoutMs()
{
    int seconds = std::atoi(config().get("net/TimeoutSeconds").c_str());
    if (seconds <= 0) seconds = 60;
    return seconds * 1000;
}

// One request on a connection of its own, closed when the answer is whole.
// Nothing is ever sent twice: a connection that fails is the exchange's end.
struct Exchange::Impl {
    std::function<void(Response)> done;
    QPointer<QTcpSocket> socket;
    ResponseReader reader;
    QByteArray requestBytes;
    QTimer timer;
    QObject context;
    bool finished = false;
    std::string logWhat;
    QElapsedTimer elapsed;

    void logEnd(const std::string &result) const
    {
        log::write("http", logWhat + ": " + result + " (" + std::to_string(elapsed.elapsed()) + " ms)");
    }

    void finish(Response response, const std::string &failureForLog = {})
    {
        if (finished) return;
        finished = true;
        timer.stop();
        if (response.ok)
            logEnd("HTTP " + std::to_string(response.status));
        else if (response.timedOut)
            logEnd("no answer within the time-out");
        else
            logEnd("failed, " + (failureForLog.empty() ? std::string("not sent") : failureForLog));
        QObject::disconnect(&context, nullptr, nullptr, nullptr);
        dropSocket();
        if (done) done(std::move(response));
    }

    void dropSocket()
    {
        if (!socket) return;
        QObject::disconnect(socket, nullptr, &context, nullptr);
        socket->abort();
        socket->deleteLater();
        socket = nullptr;
    }

    void succeed()
    {
        Response r;
        r.ok = true;
        r.status = reader.status();
        r.body = reader.body();
        r.headers = reader.headers();
        finish(std::move(r));
    }

    void fail(std::string error, const std::string &kind, bool certificate = false)
    {
        Response r;
        r.status = reader.status();
        r.error = std::move(error);
        r.clientCertificateFailed = certificate;
        finish(std::move(r), kind);
    }

    void onData()
    {
        if (!socket) return;
        switch (reader.feed(socket->readAll())) {
        case ResponseReader::State::Whole:
            return succeed();
        case ResponseReader::State::Bad:
            return fail(reader.problem(), "answer not HTTP");
        case ResponseReader::State::Reading:
            return;
        }
    }

    // The connection ended (closed by the server, or an error).
    void onEnd(QAbstractSocket::SocketError error)
    {
        if (finished || !socket) return;
        if (socket->bytesAvailable() > 0) {
            onData();
            if (finished) return;
        }
        const bool remoteClosed = error == QAbstractSocket::RemoteHostClosedError;
        if (remoteClosed && reader.closed() == ResponseReader::State::Whole) return succeed();
        QString text = socket->errorString();
#ifndef QT_NO_SSL
        if (auto *ssl = qobject_cast<QSslSocket *>(socket.data()); ssl && !ssl->sslHandshakeErrors().isEmpty())
            text = ssl->sslHandshakeErrors().first().errorString();
#endif
        if (reader.started())
            return fail("the connection ended before the whole answer had arrived (" + text.toStdString() + ")",
                        "answer cut off, " + failureForLog(error));
#ifndef QT_NO_SSL
        fail(text.toStdString(), failureForLog(error), isClientCertificateAlert(text));
#else
        fail(text.toStdString(), failureForLog(error));
#endif
    }
};

Exchange::Exchange(const Request &request, std::function<void(Response)> done) : m_impl(std::make_unique<Impl>())
{
    Impl *impl = m_impl.get();
    impl->done = std::move(done);
    impl->elapsed.start();

    const QUrl url(QString::fromStdString(request.url));
    impl->logWhat = describeForLog(request, url);
    const bool https = url.scheme() == "https";

    std::string setupError;
    bool certificateFailed = false;
    bool ready = url.isValid() && (https || url.scheme() == "http") && !url.host().isEmpty();
    if (!ready) setupError = "the address is not an http or https address";
#ifndef QT_NO_SSL
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    if (ready && https) ready = applyExtraAuthorities(ssl, &setupError);
    if (ready && !request.clientCertificate.empty()) {
        ready = applyClientCertificate(ssl, request, &setupError);
        certificateFailed = !ready;
    }
#else
    if (ready && (https || !request.clientCertificate.empty())) {
        ready = false;
        setupError = "this build has no TLS support";
        certificateFailed = !request.clientCertificate.empty();
    }
#endif
    impl->timer.setSingleShot(true);
    QObject::connect(&impl->timer, &QTimer::timeout, &impl->context, [impl] {
        Response r;
        r.timedOut = true;
        r.error = "no answer within the time-out";
        impl->finish(std::move(r));
    });
    impl->timer.start(request.timeoutMs > 0 ? request.timeoutMs : defaultTimeoutMs());
    if (!ready) {
        // Reported from the event loop, as every other ending is.
        QTimer::singleShot(0, &impl->context, [impl, setupError, certificateFailed] {
            Response r;
            r.error = setupError;
            r.clientCertificateFailed = certificateFailed;
            impl->finish(std::move(r));
        });
        return;
    }

    // The request, whole, before the connection opens.
    const int defaultPort = https ? 443 : 80;
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (host.contains(':')) host = "[" + host + "]";
    if (url.port(defaultPort) != defaultPort) host += ":" + QByteArray::number(url.port());
    QByteArray target = url.path(QUrl::FullyEncoded).toUtf8();
    if (target.isEmpty()) target = "/";
    if (url.hasQuery()) target += "?" + url.query(QUrl::FullyEncoded).toUtf8();
    const bool post = request.method == "POST";
    QByteArray out = QByteArray(post ? "POST " : "GET ") + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    bool hasType = false, hasAgent = false;
    for (const auto &[name, value] : request.headers) {
        const QByteArray n = QByteArray::fromStdString(name);
        // A line break in a value would start a header of its own.
        QByteArray v = QByteArray::fromStdString(value);
        v.replace('\r', ' ').replace('\n', ' ');
        hasType |= n.compare("Content-Type", Qt::CaseInsensitive) == 0;
        hasAgent |= n.compare("User-Agent", Qt::CaseInsensitive) == 0;
        out += n + ": " + v + "\r\n";
    }
    if (!hasAgent) out += "User-Agent: Mozilla/5.0\r\n";
    if (post) {
        if (!hasType) out += "Content-Type: application/x-www-form-urlencoded\r\n";
        out += "Content-Length: " + QByteArray::number(request.body.size()) + "\r\n";
    }
    out += "Connection: close\r\n\r\n";
    if (post) out += request.body;
    impl->requestBytes = out;

    QTcpSocket *socket = nullptr;
#ifndef QT_NO_SSL
    if (https) {
        auto *s = new QSslSocket;
        s->setSslConfiguration(ssl);
        socket = s;
    }
#endif
    if (!socket) socket = new QTcpSocket;
    impl->socket = socket;
    QObject::connect(socket, &QTcpSocket::readyRead, &impl->context, [impl] { impl->onData(); });
    QObject::connect(socket, &QAbstractSocket::errorOccurred, &impl->context,
                     [impl](QAbstractSocket::SocketError error) { impl->onEnd(error); });
    QObject::connect(socket, &QAbstractSocket::disconnected, &impl->context,
                     [impl] { impl->onEnd(QAbstractSocket::RemoteHostClosedError); });
    auto send = [impl] {
        if (impl->socket) impl->socket->write(impl->requestBytes);
    };
#ifndef QT_NO_SSL
    if (auto *s = qobject_cast<QSslSocket *>(socket))
        QObject::connect(s, &QSslSocket::encrypted, &impl->context, send);
    else
#endif
        QObject::connect(socket, &QAbstractSocket::connected, &impl->context, send);
    // Started from the event loop, so that no ending is reported from inside
    // this constructor.
    QTimer::singleShot(0, &impl->context, [impl, hostName = url.host(), port = quint16(url.port(defaultPort))] {
        if (!impl->socket) return;
#ifndef QT_NO_SSL
        if (auto *s = qobject_cast<QSslSocket *>(impl->socket.data())) return s->connectToHostEncrypted(hostName, port);
#endif
        impl->socket->connectToHost(hostName, port);
    });
}

Exchange::~Exchange()
{
    if (!m_impl) return;
    const bool wasFinished = m_impl->finished;
    m_impl->finished = true;
    QObject::disconnect(&m_impl->context, nullptr, nullptr, nullptr);
    if (!wasFinished) m_impl->logEnd("abandoned");
    m_impl->dropSocket();
}

bool Exchange::finished() const
{
    return m_impl->finished;
}

std::string Response::header(std::string_view name) const
{
    const QByteArray wanted = QByteArray(name.data(), qsizetype(name.size())).toLower();
    for (const auto &[key, value] : headers)
        if (wanted == QByteArray::fromStdString(key)) return value;
    return {};
}

Response send(const Request &request)
{
    Response result;
    QEventLoop loop;
    bool ended = false;
    Exchange exchange(request, [&](Response r) {
        result = std::move(r);
        ended = true;
        loop.quit();
    });
    // The exchange's own timer ends the wait; the loop never outlives it.
    if (!ended) loop.exec();
    return result;
}

} // namespace tw::http
