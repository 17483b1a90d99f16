#include "app/form1.h"

#include "app/automation.h"
#include "app/features.h"
#include "app/lifetime.h"
#include "ebay/oauth.h"
#include "pages/pages.h"
#include "platform/defer.h"
#include "platform/log.h"
#include "platform/web/plinthway.h"
#include "platform/web/webpage.h"
#include "store/settings.h"
#include "ui/overlay.h"
#include "ui/served.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace tw::app {
namespace {

constexpr int kBrowserLeft = 5;
constexpr int kBrowserTop = 36;
constexpr int kMargin = 5;

} // namespace

void ClickableLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && isEnabled()) emit clicked();
    QLabel::mouseReleaseEvent(event);
}

form1::form1(const std::filesystem::path &dataDir) : m_dataDir(dataDir)
{
    setObjectName("form1");
    if (QFontDatabase::families().contains("Tahoma")) setFont(QFont("Tahoma", 9));
    resize(1024, 740);

    auto *central = new QWidget(this);
    setCentralWidget(central);

    cmdDownloadOrders = new QPushButton("Download Orders", central);
    cmdDownloadOrders->setObjectName("cmdDownloadOrders");
    cmdDownloadOrders->setGeometry(kBrowserLeft, 4, 140, 28);

    lblDSR = new QLabel("DSR:", central);
    lblDSR->setObjectName("lblDSR");
    lblDSR->setGeometry(160, 4, 240, 28);

    Label1 = new ClickableLabel("Display Orders", central);
    Label1->setObjectName("Label1");
    Label1->setCursor(Qt::PointingHandCursor);
    Label1->setStyleSheet("QLabel { color: #1d4e89; text-decoration: underline; } QLabel:disabled { color: #999; }");
    Label1->adjustSize();
    Label1->setFixedHeight(28);

    WebBrowser1 = new QWebEngineView(central);
    WebBrowser1->setObjectName("WebBrowser1");
    m_page = new tw::web::WebPage(QWebEngineProfile::defaultProfile(), WebBrowser1);
    WebBrowser1->setPage(m_page);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    m_statusPanel = new QLabel(StatusBar1);
    // Status texts carry eBay's messages: shown as text, never as markup.
    m_statusPanel->setTextFormat(Qt::PlainText);
    m_statusPanel->setObjectName("StatusBar1Panel1");
    StatusBar1->addWidget(m_statusPanel, 1);
    // The second panel keeps the word on the eBay sign-in (when it ends, how
    // to renew it) while the first shows each operation's news.
    m_signInPanel = new QLabel(StatusBar1);
    m_signInPanel->setTextFormat(Qt::PlainText);
    m_signInPanel->setObjectName("StatusBar1Panel2");
    StatusBar1->addPermanentWidget(m_signInPanel);
    setStatusBar(StatusBar1);

    tmrWaitingForDazzle = new QTimer(this);
    tmrWaitingForDazzle->setObjectName("tmrWaitingForDazzle");
    tmrWaitingForDazzle->setInterval(1000);
    tmrWaitingForWorldShip = new QTimer(this);
    tmrWaitingForWorldShip->setObjectName("tmrWaitingForWorldShip");
    tmrWaitingForWorldShip->setInterval(1000);
    for (QTimer *t : {tmrWaitingForDazzle, tmrWaitingForWorldShip})
        connect(t, &QTimer::timeout, this, [this, t] { m_features.tick(t->objectName().toStdString()); });

    buildMenus();

    connect(cmdDownloadOrders, &QPushButton::clicked, this, [this] { click("cmdDownloadOrders"); });
    connect(Label1, &ClickableLabel::clicked, this, [this] { click("Label1"); });

    Busy &busy = m_features.busy();
    busy.setPoster([this](std::function<void()> task) { post(std::move(task)); });
    busy.onChange = [this](bool busyNow) {
        applyEnabled();
        // An operation's overlay goes when the last of its work has ended (a
        // hide in between would show the page idle while it is not). Posted:
        // the hide waits on the page, and nothing may start inside it.
        if (!busyNow)
            post([this] {
                if (!m_features.busy().busy() && m_processingShown) ProcessingImageHide();
            });
    };
}

void form1::click(std::string_view objectName)
{
    // A click the busy window refuses (its control greyed a moment late,
    // say) is told like a refused link.
    if (m_features.busy().busy()) {
        if (m_browser) m_browser->pleaseWait();
        return;
    }
    m_features.click(objectName);
}

std::vector<QObject *> form1::controls() const
{
    std::vector<QObject *> out{cmdDownloadOrders, Label1};
    for (QAction *a : {mnuRestoreBackup, mnuAuthorizeeBayID, mnuDownloadDaysofOrders, mnuOptions, mnuVisitWebsite,
                       mnuReport, mnuOnlineHelp, mnuAbout})
        out.push_back(a);
    return out;
}

void form1::applyEnabled()
{
    const bool busy = m_features.busy().busy();
    for (QObject *control : controls()) {
        auto wanted = m_wantEnabled.find(control->objectName().toStdString());
        const bool on = !busy && (wanted == m_wantEnabled.end() || wanted->second);
        if (auto *action = qobject_cast<QAction *>(control))
            action->setEnabled(on);
        else if (auto *widget = qobject_cast<QWidget *>(control))
            widget->setEnabled(on);
    }
}

bool form1::mayClose()
{
    return m_features.busy().mayClose([this](const std::string &question) { return askYesNo("Tidewell", question); });
}

form1::~form1() = default;

void form1::buildMenus()
{
    auto add = [this](QMenu *menu, const char *name, const char *caption) {
        QAction *a = menu->addAction(QString::fromUtf8(caption));
        a->setObjectName(name);
        return a;
    };
    QMenu *file = menuBar()->addMenu("&File");
    file->setObjectName("mnuFile");
    mnuRestoreBackup = add(file, "mnuRestoreBackup", "&Restore Backup...");
    file->addSeparator();
    mnuExit = add(file, "mnuExit", "E&xit");

    QMenu *tools = menuBar()->addMenu("&Tools");
    tools->setObjectName("mnuTools");
    mnuAuthorizeeBayID = add(tools, "mnuAuthorizeeBayID", "Authorize eBay Account");
    tools->addSeparator();
    mnuDownloadDaysofOrders = add(tools, "mnuDownloadDaysofOrders", "Download x Days of Orders");
    tools->addSeparator();
    mnuOptions = add(tools, "mnuOptions", "Options");

    QMenu *help = menuBar()->addMenu("&Help");
    help->setObjectName("mnuHelp");
    mnuVisitWebsite = add(help, "mnuVisitWebsite", "Visit Our Website");
    mnuReport = add(help, "mnuReport", "Report Bug or Request Feature");
    mnuOnlineHelp = add(help, "mnuOnlineHelp", "Online Help");
    help->addSeparator();
    mnuAbout = add(help, "mnuAbout", "&About Tidewell");

    connect(mnuExit, &QAction::triggered, this, [this] {
        if (mayClose()) Form_Unload();
    });
    for (QAction *a : {mnuRestoreBackup, mnuAuthorizeeBayID, mnuDownloadDaysofOrders, mnuOptions, mnuVisitWebsite,
                       mnuReport, mnuOnlineHelp, mnuAbout})
        connect(a, &QAction::triggered, this, [this, a] { click(a->objectName().toStdString()); });
}

void form1::Form_Load()
{
    setWindowTitle(QStringLiteral("Tidewell (version %1.%2.%3)")
                       .arg(TW_VERSION_MAJOR)
                       .arg(TW_VERSION_MINOR)
                       .arg(TW_VERSION_PATCH));

    setEnabled("cmdDownloadOrders", false);
    setEnabled("Label1", false);
    setEnabled("mnuDownloadDaysofOrders", false);

    app::composeFeatures(m_session, *this, m_features);
    m_browser = std::make_unique<ui::Browser>(m_session, *this, m_features);
    m_page->beforeNavigate = [this](const std::string &url, const std::string &from) {
        return m_browser->WebBrowser1_BeforeNavigate2(url, from);
    };
    m_page->documentComplete = [this](const std::string &url) {
        m_browser->WebBrowser1_DocumentComplete(url);
        // Written once the page has been filled, so a script that waits for
        // it finds the page as the seller would.
        if (automationMode()) automationLine("page", url);
    };
    if (automationMode())
        m_browser->actionDone = [](const Params &params) {
            auto name = params.find("Action");
            automationLine("action", name == params.end() ? std::string() : name->second);
        };
    m_page->documentReplaced = [this] { m_processingShown = false; };
    m_page->runChangeHandler = [this](std::function<void()> handler) {
        m_features.busy().whenIdle(std::move(handler));
    };
    m_page->newWindowPage = [] {
        auto *window = web::PlinthwayWindow::instance(QWebEngineProfile::defaultProfile());
        window->show();
        return window->page();
    };

    m_session.store.setSaveErrorHandler([this](const std::string &problem) {
        log::write("store", problem);
        messageBox("Tidewell", problem);
    });
    // Read at each line, so a token stored during the run is covered at once.
    log::setSecretSource([this] { return app::knownSecrets(m_session); });

    // The browser loads the first page while the store is read: Settings.xml
    // alone says which page (read as opening it will read it), and nothing of
    // the page runs before the store is open, since no event is handled
    // until then.
    const xml::Document settingsFile = xml::Document::load(m_dataDir / store::info(store::Doc::Settings).file);
    const bool noToken = ebay::credentialOf(settingsFile) == ebay::Credential::None;
    navigate(pages::url(noToken ? ui::kWelcomePage : ui::kMainPage));

    for (const std::string &problem : m_session.openStore(m_dataDir)) {
        log::write("store", problem);
        messageBox("Tidewell", problem);
    }
}

void form1::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void form1::Form_Resize()
{
    // The central widget is the window's inner area above the status bar.
    const int innerWidth = width();
    const int innerHeight = height() - menuBar()->height();
    const int width = innerWidth - kBrowserLeft - kMargin;
    const int height = innerHeight - kBrowserTop - kMargin - StatusBar1->height();
    if (width > 0 && height > 0) WebBrowser1->setGeometry(kBrowserLeft, kBrowserTop, width, height);
    const int labelLeft = innerWidth - Label1->width() - kMargin;
    if (labelLeft > 0) Label1->move(labelLeft, 4);
}

void form1::closeEvent(QCloseEvent *event)
{
    if (!mayClose()) {
        event->ignore();
        return;
    }
    event->accept();
    Form_Unload();
}

void form1::Form_Unload()
{
    // Every change was saved when it was made; nothing is left to do.
    endProcess(0);
}

page::Page &form1::page()
{
    return *m_page;
}

void form1::setStatus(std::string_view text, int panel)
{
    QString t = QString::fromUtf8(text.data(), qsizetype(text.size()));
    if (panel == 2) {
        if (m_signInPanel->text() == t) return;
        m_signInPanel->setText(t);
        if (automationMode()) automationLine("status2", text);
        return;
    }
    if (panel != 1) return;
    m_statusPanel->setText(t);
    if (automationMode()) automationLine("status", text);
}

void form1::ProcessingImageDisplay(std::string_view message)
{
    if (automationMode()) automationLine("overlay", message);
    m_processingShown = true;
    ui::ProcessingImageDisplay(*m_page, message);
}

void form1::ProcessingImageHide()
{
    // While the window is busy the overlay stays; it goes when the work ends.
    if (m_features.busy().busy()) return;
    m_processingShown = false;
    ui::ProcessingImageHide(*m_page);
}

void form1::ProcessingImageReposition()
{
    ui::ProcessingImageReposition(*m_page);
}

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

void form1::messageBox(std::string_view title, std::string_view text)
{
    if (automationMode()) {
        scriptedAnswer(title, text, false);
        return;
    }
    // Texts carry eBay's, PayPal's and mail servers' words: never markup.
    QMessageBox box(QMessageBox::Information, qs(title), qs(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool form1::askYesNo(std::string_view title, std::string_view text)
{
    if (automationMode()) return scriptedAnswer(title, text, true);
    QMessageBox box(QMessageBox::Question, qs(title), qs(text), QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> form1::inputBox(std::string_view title, std::string_view prompt, std::string_view initial)
{
    if (automationMode()) return scriptedInput(title, prompt, initial);
    bool ok = false;
    QString v = QInputDialog::getText(this, qs(title), qs(prompt), QLineEdit::Normal, qs(initial), &ok);
    if (!ok) return std::nullopt;
    return v.toStdString();
}

std::optional<size_t> form1::chooseItem(std::string_view title, std::string_view prompt,
                                        const std::vector<std::string> &items)
{
    if (automationMode()) return scriptedChoice(title, prompt, items);
    if (items.empty()) return std::nullopt;
    QStringList entries;
    for (const std::string &item : items)
        entries << qs(item);
    bool ok = false;
    const QString chosen = QInputDialog::getItem(this, qs(title), qs(prompt), entries, 0, false, &ok);
    if (!ok) return std::nullopt;
    const qsizetype index = entries.indexOf(chosen);
    if (index < 0) return std::nullopt;
    return size_t(index);
}

QTimer *form1::timer(std::string_view objectName) const
{
    return findChild<QTimer *>(qs(objectName));
}

void form1::setEnabled(std::string_view objectName, bool enabled)
{
    m_wantEnabled[std::string(objectName)] = enabled;
    const QString n = qs(objectName);
    const bool on = enabled && !m_features.busy().busy();
    if (auto *action = findChild<QAction *>(n))
        action->setEnabled(on);
    else if (auto *widget = findChild<QWidget *>(n))
        widget->setEnabled(on);
}

void form1::startTimer(std::string_view objectName)
{
    if (QTimer *t = timer(objectName)) t->start();
}

void form1::stopTimer(std::string_view objectName)
{
    if (QTimer *t = timer(objectName)) t->stop();
}

void form1::navigate(const std::string &url, const std::string &target)
{
    QUrl u(QString::fromStdString(url));
    if (target.empty())
        m_page->navigate(u);
    else
        web::PlinthwayWindow::instance(QWebEngineProfile::defaultProfile())->open(u);
}

void form1::openExternal(const std::string &url)
{
    if (automationMode())
        automationLine("open", url);
    else
        QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void form1::rowsShown(int shown, int total)
{
    if (automationMode()) automationLine("rows", std::to_string(shown) + " of " + std::to_string(total));
}

void form1::post(std::function<void()> task)
{
    runAfterCurrentEvent(this, std::move(task));
}

} // namespace tw::app
