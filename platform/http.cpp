#include "platform/http.h"

#include "platform/config.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QUrl>
#ifndef QT_NO_SSL
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#endif

#include <cstdlib>

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

bool applyClientCertificate(QNetworkRequest &qr, const Request &request, std::string *error)
{
#ifndef QT_NO_SSL
    QFile file(QString::fromStdString(request.clientCertificate));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = "cannot read the client certificate " + request.clientCertificate;
        return false;
    }
    QSslKey key;
    QSslCertificate certificate;
    QList<QSslCertificate> chain;
    if (!QSslCertificate::importPkcs12(&file, &key, &certificate, &chain,
                                       QByteArray::fromStdString(request.clientCertificatePassword))) {
        *error = "the client certificate " + request.clientCertificate + " could not be opened";
        return false;
    }
    QSslConfiguration ssl = qr.sslConfiguration();
    ssl.setPrivateKey(key);
    ssl.setLocalCertificate(certificate);
    ssl.setLocalCertificateChain(QList<QSslCertificate>{certificate} + chain);
    qr.setSslConfiguration(ssl);
    return true;
#else
    (void)qr;
    (void)request;
    *error = "this build has no TLS support for client certificates";
    return false;
#endif
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
    QTimer timer;
    QObject context;
    bool timedOut = false;
    bool finished = false;

    void finish(Response response)
    {
        if (finished) return;
        finished = true;
        timer.stop();
        QObject::disconnect(&context, nullptr, nullptr, nullptr);
        if (done) done(std::move(response));
    }
};

Exchange::Exchange(const Request &request, std::function<void(Response)> done) : m_impl(std::make_unique<Impl>())
{
    Impl *impl = m_impl.get();
    impl->done = std::move(done);

    QNetworkRequest qr{QUrl(QString::fromStdString(request.url))};
    for (const auto &[name, value] : request.headers)
        qr.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));

    std::string certError;
    if (!request.clientCertificate.empty() && !applyClientCertificate(qr, request, &certError)) {
        // Reported from the event loop, as every other ending is.
        QTimer::singleShot(0, &impl->context, [impl, certError] {
            Response r;
            r.error = certError;
            impl->finish(std::move(r));
        });
        return;
    }

    QNetworkReply *reply = request.method == "POST" ? manager().post(qr, request.body) : manager().get(qr);
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
            response.timedOut = impl->timedOut;
            // An HTTP error status is still a complete answer; the callers read its body.
            response.ok = !impl->timedOut && (r->error() == QNetworkReply::NoError || response.status != 0);
            if (!response.ok)
                response.error = impl->timedOut ? "no answer within the time-out" : r->errorString().toStdString();
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
    if (r && !wasFinished) {
        QObject::disconnect(r, nullptr, &m_impl->context, nullptr);
        r->abort();
        r->deleteLater();
    }
}

bool Exchange::finished() const
{
    return m_impl->finished;
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
