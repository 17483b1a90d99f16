#pragma once
// The main window: the browser, the download button, the "Display Orders"
// label, the menus, the status bar and the two polling timers. It forwards
// events to the page layer (ui::Browser) and serves as its Host.

#include "store/session.h"
#include "ui/browser.h"
#include "ui/host.h"

#include <QLabel>
#include <QMainWindow>

#include <filesystem>
#include <functional>
#include <memory>

class QAction;
class QPushButton;
class QStatusBar;
class QTimer;
class QWebEngineView;

namespace tw::web {
class WebPage;
}

namespace tw::app {

class Operations;

class ClickableLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;
  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

class form1 : public QMainWindow, public ui::Host {
    Q_OBJECT
  public:
    explicit form1(const std::filesystem::path &dataDir);
    ~form1() override;

    // Start-up: builds the window state, opens the store and shows the
    // first page. Problems with store files are shown in message boxes.
    void Form_Load();

    Session &session() { return m_session; }
    ui::Browser &browser() { return *m_browser; }

    // Operations of other parts, plugged in as they are built; unplugged
    // ones do nothing.
    struct Hooks {
        std::function<void()> DownloadOrders;
        std::function<void()> DownloadDaysofOrders;
        std::function<void()> AuthorizeeBayID;
    } hooks;

    // ui::Host
    page::Page &page() override;
    void setStatusText(std::string_view text) override;
    void setControlEnabled(std::string_view name, bool enabled) override;
    void navigate(const std::string &url, const std::string &target = {}) override;
    void openExternal(const std::string &url) override;
    void post(std::function<void()> task) override;

  protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    void Form_Resize();
    [[noreturn]] void Form_Unload();
    void buildMenus();

    std::filesystem::path m_dataDir;
    Session m_session;
    std::unique_ptr<ui::Browser> m_browser;
    std::unique_ptr<Operations> m_operations;

    QWebEngineView *WebBrowser1;
    tw::web::WebPage *m_page;
    QStatusBar *StatusBar1;
    QLabel *m_statusPanel;
    QPushButton *cmdDownloadOrders;
    ClickableLabel *Label1;
    QLabel *lblDSR;
    QTimer *tmrWaitingForDazzle;
    QTimer *tmrWaitingForWorldShip;
    QAction *mnuExit = nullptr;
    QAction *mnuAuthorizeeBayID = nullptr;
    QAction *mnuDownloadDaysofOrders = nullptr;
    QAction *mnuOptions = nullptr;
    QAction *mnuVisitWebsite = nullptr;
    QAction *mnuReport = nullptr;
    QAction *mnuOnlineHelp = nullptr;
};

} // namespace tw::app
