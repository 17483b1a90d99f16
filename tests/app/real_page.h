// What the page tests share: one real WebEngine page per test suite, a
// bounded load, and the recording Shell over that page.
#pragma once

#include "platform/web/webpage.h"
#include "tests/support/fake_shell.h"

#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace tw::test {

// The recording Shell, but over a real WebEngine page.
class WebShell : public FakeShell {
  public:
    explicit WebShell(web::WebPage &page) : m_web(page)
    {
        page.documentReplaced = [this] { m_shown = false; };
    }
    page::Page &page() override { return m_web; }

  private:
    web::WebPage &m_web;
};

// Navigates to `url` as the program does and waits, at most 20 s, for the load
// to end. False when it failed or did not end.
inline bool loadPage(web::WebPage &page, const std::string &url)
{
    bool ok = false;
    QEventLoop loop;
    auto c = QObject::connect(&page, &QWebEnginePage::loadFinished, &loop, [&](bool done) {
        ok = done;
        loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    page.navigate(QUrl(QString::fromStdString(url)));
    loop.exec();
    QObject::disconnect(c);
    return ok;
}

// Pumps events until `done` holds, at most `ms`. A check asks the page and
// so pumps events itself: the poll must not start another check inside it.
inline bool until(const std::function<bool()> &done, int ms = 10000)
{
    QEventLoop loop;
    QTimer poll, limit;
    bool ok = done();
    bool checking = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (checking) return;
        checking = true;
        ok = done();
        checking = false;
        if (ok) loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (ok) return true;
    poll.start(20);
    limit.start(ms);
    loop.exec();
    return ok;
}

// A fixture whose suite shares one shown view and page.
class RealPageTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        s_view = new QWebEngineView;
        s_page = new web::WebPage(QWebEngineProfile::defaultProfile(), s_view);
        s_view->setPage(s_page);
        s_view->resize(1200, 900);
        s_view->show();
    }
    static void TearDownTestSuite()
    {
        delete s_view;
        s_view = nullptr;
        s_page = nullptr;
    }

    static inline QWebEngineView *s_view = nullptr;
    static inline web::WebPage *s_page = nullptr;
};

} // namespace tw::test
