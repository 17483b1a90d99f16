#include "platform/web/plinthway.h"

#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineProfile>

namespace tw::web {

PlinthwayWindow::PlinthwayWindow(QWebEngineProfile *profile)
{
    setPage(new QWebEnginePage(profile, this));
    setObjectName("plinthway");
    setWindowTitle("plinthway");
    resize(1000, 700);
    connect(page(), &QWebEnginePage::titleChanged, this,
            [this](const QString &title) { setWindowTitle(title.isEmpty() ? QStringLiteral("plinthway") : title); });
}

PlinthwayWindow *PlinthwayWindow::instance(QWebEngineProfile *profile)
{
    static QPointer<PlinthwayWindow> window;
    if (!window) window = new PlinthwayWindow(profile);
    return window;
}

void PlinthwayWindow::open(const QUrl &url)
{
    load(url);
    show();
    raise();
}

} // namespace tw::web
