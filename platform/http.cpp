#include "platform/http.h"

#include "platform/config.h"
#include "platform/log.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QIODevice>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#ifndef QT_NO_SSL
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tw::http {
namespace {

// One per thread; owned by the application object so that it goes away
// before Qt does.
thread_local QPointer<QNetworkAccessManager> t_manager;

// Run by the application object's destructor while the object is still
// whole: the manager's own thread may deliver a last event through it while
// it stops, which crashed once the application had cleared itself.
void dropManager()
{
    delete t_manager.data();
}

QNetworkAccessManager &manager()
{
    if (!t_manager) {
        t_manager = new QNetworkAccessManager(QCoreApplication::instance());
        if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
            qAddPostRoutine(dropManager);
    }
    return *t_manager;
}

// A body that can be read once only: Qt cannot rewind it to send the
// request a second time, and ends the exchange with an error instead.
class OneShotBody : public QIODevice {
  public:
    explicit OneShotBody(QByteArray bytes) : m_bytes(std::move(bytes)) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 bytesAvailable() const override { return m_bytes.size() - m_at + QIODevice::bytesAvailable(); }

  protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = std::min(maxSize, qint64(m_bytes.size()) - m_at);
        std::memcpy(data, m_bytes.constData() + m_at, size_t(n));
        m_at += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

  private:
    QByteArray m_bytes;
    qint64 m_at = 0;
};

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

// The kind of transport failure by its name in Qt, which never holds the
// address (Qt's error texts do, query and all).
std::string failureForLog(QNetworkReply::NetworkError error)
{
    const char *key = QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(error);
    return key ? key : "error " + std::to_string(int(error));
}

} // namespace

int defaultTimeoutMs()
{
    int seconds = std::atoi(config().get("net/TimeoutSeconds").c_str());
    if (seconds <= 0) seconds = 60;
    return seconds * 1000;
}

struct Exchange::Impl {
    std::function<void(Response)> done;
    QPointer<QNetworkReply> reply;
    // The manager of an exchange with a client certificate; null otherwise.
    QPointer<QNetworkAccessManager> ownManager;
    QTimer timer;
    QObject context;
    bool timedOut = false;
    bool finished = false;
    std::string logWhat;
    std::string logFailure; // the failure's kind for the log, when the reply failed
    QElapsedTimer elapsed;

    void logEnd(const std::string &result) const
    {
        log::write("http", logWhat + ": " + result + " (" + std::to_string(elapsed.elapsed()) + " ms)");
    }

    void finish(Response response)
    {
        if (finished) return;
        finished = true;
        timer.stop();
        if (response.ok)
            logEnd("HTTP " + std::to_string(response.status));
        else if (response.timedOut)
            logEnd("no answer within the time-out");
        else
            logEnd("failed, " + (logFailure.empty() ? std::string("not sent") : logFailure));
        QObject::disconnect(&context, nullptr, nullptr, nullptr);
        if (ownManager) ownManager->deleteLater();
        if (done) done(std::move(response));
    }
};

Exchange::Exchange(const Request &request, std::function<void(Response)> done) : m_impl(std::make_unique<Impl>())
{
    Impl *impl = m_impl.get();
    impl->done = std::move(done);
    impl->elapsed.start();

    QNetworkRequest qr{QUrl(QString::fromStdString(request.url))};
    impl->logWhat = describeForLog(request, qr.url());
    for (const auto &[name, value] : request.headers)
        qr.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));

    std::string setupError;
    bool certificateFailed = false;
#ifndef QT_NO_SSL
    QSslConfiguration ssl = qr.sslConfiguration();
    bool ready = qr.url().scheme() != "https" || applyExtraAuthorities(ssl, &setupError);
    if (ready && !request.clientCertificate.empty()) {
        ready = applyClientCertificate(ssl, request, &setupError);
        certificateFailed = !ready;
    }
    if (ready) qr.setSslConfiguration(ssl);
#else
    bool ready = request.clientCertificate.empty();
    if (!ready) {
        setupError = "this build has no TLS support for client certificates";
        certificateFailed = true;
    }
#endif
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

    // A shared manager keeps connections open and reuses them whatever
    // certificate a later request names: a client identity gets its own.
    QNetworkAccessManager *nam = &manager();
    if (!request.clientCertificate.empty()) {
        impl->ownManager = new QNetworkAccessManager(QCoreApplication::instance());
        nam = impl->ownManager;
    }
    QNetworkReply *reply = nullptr;
    if (request.method != "POST") {
        reply = nam->get(qr);
    } else if (request.sendOnce) {
        qr.setHeader(QNetworkRequest::ContentLengthHeader, request.body.size());
        qr.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        auto *body = new OneShotBody(request.body);
        reply = nam->post(qr, body);
        body->setParent(reply);
    } else {
        reply = nam->post(qr, request.body);
    }
    impl->reply = reply;

    impl->timer.setSingleShot(true);
    QObject::connect(&impl->timer, &QTimer::timeout, &impl->context, [impl] {
        impl->timedOut = true;
        if (impl->reply) impl->reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, &impl->context, [impl] {
        QNetworkReply *r = impl->reply;
        Response response;
        if (r) {
            response.status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            response.body = r->readAll();
            for (const auto &[name, value] : r->rawHeaderPairs())
                response.headers.emplace_back(name.toLower().toStdString(), value.toStdString());
            response.timedOut = impl->timedOut;
            // An HTTP error status is still a complete answer; the callers read its body.
            response.ok = !impl->timedOut && (r->error() == QNetworkReply::NoError || response.status != 0);
            if (!response.ok) {
                impl->logFailure = failureForLog(r->error());
                response.error = impl->timedOut ? "no answer within the time-out" : r->errorString().toStdString();
#ifndef QT_NO_SSL
                response.clientCertificateFailed = !impl->timedOut && isClientCertificateAlert(r->errorString());
#endif
            }
            r->deleteLater();
        }
        impl->finish(std::move(response));
    });
    impl->timer.start(request.timeoutMs > 0 ? request.timeoutMs : defaultTimeoutMs());
}

Exchange::~Exchange()
{
    if (!m_impl) return;
    bool wasFinished = m_impl->finished;
    m_impl->finished = true;
    QObject::disconnect(&m_impl->context, nullptr, nullptr, nullptr);
    QNetworkReply *r = m_impl->reply;
    if (!wasFinished) m_impl->logEnd("abandoned");
    if (r && !wasFinished) {
        QObject::disconnect(r, nullptr, &m_impl->context, nullptr);
        r->abort();
        r->deleteLater();
    }
    if (m_impl->ownManager && !wasFinished) m_impl->ownManager->deleteLater();
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
