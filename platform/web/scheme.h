#pragma once
// The built-in pages server: the "tidewell" URL scheme answers
// tidewell://pages/<path> from the bundled files, whatever the path's case.

#include <QWebEngineUrlSchemeHandler>

class QWebEngineProfile;

namespace tw::web {

// Declares the scheme; must run before the QApplication is created.
void registerPagesScheme();

// Serves the scheme for `profile` (the handler is owned by the profile).
void installPagesScheme(QWebEngineProfile *profile);

class PagesSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
  public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob *job) override;
};

} // namespace tw::web
