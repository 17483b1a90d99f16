// Runs the tidewell binary in a fresh data folder with its pages served by a
// loopback server of the test, which can add a script to a page to act as a
// user would.

#include "pages/pages.h"
#include "tests/support/temp_dir.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

namespace {

using tw::test::TempDir;

// Serves the bundled pages on 127.0.0.1; `scripts` adds a script to a page.
class PageServer {
public:
    PageServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { answer(s); });
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QString base() const { return QString("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    // A host name that is not the pages base: an outside site.
    QString outside() const { return QString("http://localhost:%1").arg(m_server.serverPort()); }

    std::map<QString, QString> scripts; // lower-case path -> script
    std::map<QString, QByteArray> extra; // lower-case path -> whole page

private:
    void answer(QTcpSocket *s)
    {
        QByteArray request = s->readAll();
        QString path = QString::fromLatin1(request.split(' ').value(1)).section('?', 0, 0);
        QByteArray body;
        QByteArray type = "text/html; charset=utf-8";
        if (auto it = extra.find(path.toLower()); it != extra.end()) {
            body = it->second;
        } else if (auto bytes = tw::pages::bundled(path.toStdString())) {
            body = *bytes;
            type = QByteArray::fromStdString(tw::pages::contentType(path.toStdString()));
            if (auto sc = scripts.find(path.toLower()); sc != scripts.end())
                body.replace("</body>", "<script>addEventListener('load', function () { setTimeout(function () {" +
                                             sc->second.toUtf8() + "}, 100); });</script></body>");
        }
        QByteArray head = body.isEmpty() ? "HTTP/1.1 404 Not Found\r\n" : "HTTP/1.1 200 OK\r\n";
        head += "Content-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size()) +
                "\r\nConnection: close\r\n\r\n";
        s->write(head + body);
        s->disconnectFromHost();
    }
    QTcpServer m_server;
};

class Tidewell {
public:
    Tidewell(const TempDir &dir, const PageServer &server)
    {
        writeConfig(dir, server);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TIDEWELL_AUTOMATION", "1");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
        env.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
        env.remove("TIDEWELL_CONFIG");
        m_process.setProcessEnvironment(env);
        QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] {
            m_output += QString::fromUtf8(m_process.readAllStandardError());
        });
        m_process.start(TIDEWELL_BINARY, {"--data-dir", QString::fromStdString((dir / "data").string()), "--config",
                                          QString::fromStdString((dir / "tidewell.ini").string())});
    }
    ~Tidewell()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.write("quit\n");
            if (!m_process.waitForFinished(5000)) m_process.kill();
            m_process.waitForFinished(2000);
        }
    }

    void send(const QByteArray &line) { m_process.write(line + "\n"); }

    // Waits (pumping events, at most `ms`) for the next automation line of
    // `kind` after those already consumed; returns its text or "" on time-out.
    QString next(const QString &kind, int ms = 15000)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            QStringList lines = m_output.split('\n');
            for (int i = m_consumed; i < lines.size() - 1; ++i) {
                if (lines[i].startsWith(kind + ": ")) {
                    m_consumed = i + 1;
                    return lines[i].mid(kind.size() + 2);
                }
            }
            pump(50);
        }
        return {};
    }
    // Lets the program run for `ms` (events of the test's server included).
    static void pump(int ms)
    {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QString output() const { return m_output; }

private:
    void writeConfig(const TempDir &dir, const PageServer &server)
    {
        std::string ini = "[pages]\nBaseUrl=" + server.base().toStdString() + "\n[web]\nFeedbackForm=" +
                          server.outside().toStdString() + "/outside.html\n";
        tw::test::writeFile(dir / "tidewell.ini", ini);
    }
    QProcess m_process;
    QString m_output;
    int m_consumed = 0;
};

const char *kTokenSettings = "<?xml version=\"1.0\"?>\n<Settings><eBayAuthToken>AgAAAA-test</eBayAuthToken>"
                             "<DefaultBrowser>True</DefaultBrowser></Settings>\n";

TEST(EndToEnd, FirstRunCreatesTheStoreAndShowsTheWelcomePageWithDownloadsDisabled)
{
    TempDir dir;
    PageServer server;
    Tidewell app(dir, server);
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/welcome.html")) << app.output().toStdString();
    for (const char *file : {"ShippingLabels.xml", "Transactions.xml", "ArchivedTransactions.xml",
                             "TrackingNumbers.xml", "Notes.xml", "Messages.xml", "Items.xml", "SentMessages.xml",
                             "Settings.xml"})
        EXPECT_TRUE(std::filesystem::exists(dir / "data" / file)) << file;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "data"), {}), 10);

    // Disabled controls do nothing: the next page is the one Online Help opens.
    app.send("click Label1");
    app.send("click cmdDownloadOrders");
    app.send("click mnuOnlineHelp");
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/help.html")) << app.output().toStdString();
}

TEST(EndToEnd, CommandLinksRunOnlyFromOurOwnPagesAndOnlyWithTheKeyAction)
{
    TempDir dir;
    PageServer server;
    std::filesystem::create_directories(dir / "data");
    tw::test::writeFile(dir / "data" / "Settings.xml", kTokenSettings);
    // Help page: a link whose key is "action" (nothing), then Options.
    server.scripts["/korva/help.html"] = "location.href='http://plinthway/?action=SaveSettings&Button=Cancel';";
    server.extra["/outside.html"] = "<html><body><a id=x href='HTTP://PLINTHWAY/?Action=SaveSettings&Button=Cancel'>"
                                    "x</a><script>addEventListener('load', function () { setTimeout(function () {"
                                    "document.getElementById('x').click(); }, 100); });</script></body></html>";
    Tidewell app(dir, server);
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html")) << app.output().toStdString();

    app.send("click mnuOnlineHelp");
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/help.html"));
    Tidewell::pump(800);
    app.send("click mnuReport");
    EXPECT_TRUE(app.next("page").endsWith("/outside.html")) << app.output().toStdString();
    Tidewell::pump(800);
    // Neither link went back to the main page: the next page is Options.
    server.scripts["/korva/settings.html"] =
        "location.href='HTTP://PLINTHWAY/?Action=SaveSettings&Button=Cancel';";
    app.send("click mnuOptions");
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/settings.html")) << app.output().toStdString();
    // ... whose link in capitals runs its action.
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html")) << app.output().toStdString();
}

TEST(EndToEnd, CancelOnTheOptionsPageReturnsToTheMainPageWithoutSaving)
{
    TempDir dir;
    PageServer server;
    std::filesystem::create_directories(dir / "data");
    tw::test::writeFile(dir / "data" / "Settings.xml", kTokenSettings);
    server.scripts["/korva/settings.html"] = "document.getElementById('CancelSettings').click();";
    Tidewell app(dir, server);
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html"));
    const std::string before = tw::test::readFile(dir / "data" / "Settings.xml");
    app.send("click mnuOptions");
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/settings.html"));
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html")) << app.output().toStdString();
    EXPECT_EQ(tw::test::readFile(dir / "data" / "Settings.xml"), before);
}

} // namespace
