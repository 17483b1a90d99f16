#include "platform/web/scheme.h"

#include "pages/pages.h"

#include <QBuffer>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace tw::web {

void registerPagesScheme()
{
    QWebEngineUrlScheme scheme("tidewell");
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalAccessAllowed |
                    QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void installPagesScheme(QWebEngineProfile *profile)
{
    if (!profile->urlSchemeHandler("tidewell"))
        profile->installUrlSchemeHandler("tidewell", new PagesSchemeHandler(profile));
}

void PagesSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    const QUrl url = job->requestUrl();
    if (url.host().compare("pages", Qt::CaseInsensitive) != 0) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    const std::string path = url.path().toStdString();
    auto bytes = pages::bundled(path);
    if (!bytes) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    auto *buffer = new QBuffer(job);
    buffer->setData(*bytes);
    buffer->open(QIODevice::ReadOnly);
    // The pages declare their own charset; the job wants the bare type.
    std::string type = pages::contentType(path);
    job->reply(QByteArray::fromStdString(type.substr(0, type.find(';'))), buffer);
}

} // namespace tw::web
