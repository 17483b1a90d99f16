#pragma once
// The separate browser window named "plinthway" that outside links open in
// when the seller prefers not to use the system browser. One for the run,
// created on first use; it is an ordinary browser: no command links.

#include <QWebEngineView>

class QWebEngineProfile;

namespace tw::web {

class PlinthwayWindow : public QWebEngineView {
    Q_OBJECT
  public:
    explicit PlinthwayWindow(QWebEngineProfile *profile);

    // The window of the run (created hidden on first call).
    static PlinthwayWindow *instance(QWebEngineProfile *profile);
    void open(const QUrl &url);
};

} // namespace tw::web
