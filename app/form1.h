#pragma once
// The main window: the browser, the download button, the "Display Orders"
// label, the menus, the status bar and the two polling timers. It is the
// features' Shell, forwards clicks and timer ticks to the FeatureTable and
// the browser's events to the page layer (ui::Browser).

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"
#include "ui/browser.h"

#include <QLabel>
#include <QMainWindow>

#include <filesystem>
#include <map>
#include <memory>
#include <vector>

class QAction;
class QPushButton;
class QStatusBar;
class QTimer;
class QWebEngineView;

namespace tw::web {
class WebPage;
}

namespace tw::app {

class ClickableLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;
  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

class form1 : public QMainWindow, public Shell {
    Q_OBJECT
  public:
    explicit form1(const std::filesystem::path &dataDir);
    ~form1() override;

    // Start-up: composes the features, opens the store and shows the first
    // page. Problems with store files are shown in message boxes.
    void Form_Load();

    Session &session() { return m_session; }

    // Shell
    page::Page &page() override;
    void setStatus(std::string_view text, int panel = 1) override;
    void ProcessingImageDisplay(std::string_view message = {}) override;
    void ProcessingImageHide() override;
    void ProcessingImageReposition() override;
    bool processingShown() const override { return m_processingShown; }
    void messageBox(std::string_view title, std::string_view text) override;
    bool askYesNo(std::string_view title, std::string_view text) override;
    std::optional<std::string> inputBox(std::string_view title, std::string_view prompt,
                                        std::string_view initial) override;
    std::optional<size_t> chooseItem(std::string_view title, std::string_view prompt,
                                     const std::vector<std::string> &items) override;
    void setEnabled(std::string_view objectName, bool enabled) override;
    void startTimer(std::string_view objectName) override;
    void stopTimer(std::string_view objectName) override;
    void navigate(const std::string &url, const std::string &target = {}) override;
    void openExternal(const std::string &url) override;
    void post(std::function<void()> task) override;
    void rowsShown(int shown, int total) override;

  protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    // A click of a control or menu entry, refused while the window is busy.
    void click(std::string_view objectName);
    void Form_Resize();
    [[noreturn]] void Form_Unload();
    void buildMenus();
    QTimer *timer(std::string_view objectName) const;
    // Every control and menu entry the seller can start work with (not Exit).
    std::vector<QObject *> controls() const;
    // Each control as its features want it, and off while the window is busy.
    void applyEnabled();
    // Whether the window may close now (a refund on its way asks first).
    bool mayClose();

    std::filesystem::path m_dataDir;
    Session m_session;
    FeatureTable m_features;
    std::unique_ptr<ui::Browser> m_browser;
    bool m_processingShown = false;
    // What the features last set for each control, by object name; on when never set.
    std::map<std::string, bool, std::less<>> m_wantEnabled;

    QWebEngineView *WebBrowser1;
    tw::web::WebPage *m_page;
    QStatusBar *StatusBar1;
    QLabel *m_statusPanel;
    QLabel *m_signInPanel;
    QPushButton *cmdDownloadOrders;
    ClickableLabel *Label1;
    QLabel *lblDSR;
    QTimer *tmrWaitingForDazzle;
    QTimer *tmrWaitingForWorldShip;
    QAction *mnuRestoreBackup = nullptr;
    QAction *mnuExit = nullptr;
    QAction *mnuAuthorizeeBayID = nullptr;
    QAction *mnuDownloadDaysofOrders = nullptr;
    QAction *mnuOptions = nullptr;
    QAction *mnuVisitWebsite = nullptr;
    QAction *mnuReport = nullptr;
    QAction *mnuOnlineHelp = nullptr;
    QAction *mnuAbout = nullptr;
};

} // namespace tw::app
