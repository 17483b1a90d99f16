#pragma once
// Drives the real tidewell binary: offscreen, in automation mode, in a data
// folder of the test. PageServer serves our pages from a loopback server of
// the test and can add a script to a page to act as a user would; DevTools
// reaches any page (eBay's sign-in page of the sandbox, say) through
// WebEngine's remote-debugging port.

#include "pages/pages.h"
#include "sandbox/sandbox.h"
#include "tests/support/temp_dir.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace tw::e2e {

// Lets the program and the test's own servers run for `ms`.
inline void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Pumps until `done` holds or `ms` pass; the result of `done` at the end.
inline bool waitFor(const std::function<bool()> &done, int ms = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        pump(50);
    }
    return true;
}

// A free loopback port (bound and released: good enough for one test).
inline int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

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

    std::map<QString, QString> scripts;  // lower-case path -> script
    std::map<QString, QByteArray> extra; // lower-case path -> whole page, or whole answer from "HTTP/" on

  private:
    void answer(QTcpSocket *s)
    {
        QByteArray request = s->readAll();
        QString path = QString::fromLatin1(request.split(' ').value(1)).section('?', 0, 0);
        QByteArray body;
        QByteArray type = "text/html; charset=utf-8";
        if (auto it = extra.find(path.toLower()); it != extra.end()) {
            if (it->second.startsWith("HTTP/")) { // a whole answer, headers included
                s->write(it->second);
                s->disconnectFromHost();
                return;
            }
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

// Nothing listens on port 1: eBay and USPS fail at once unless a test
// points them somewhere.
inline const char *kNoServices = "[ebay]\nApiUrl=http://127.0.0.1:1/ws/api.dll\n"
                                 "[usps]\nWebToolsUrl=http://127.0.0.1:1/ShippingAPI.dll\n";

class Tidewell {
  public:
    struct Options {
        std::string ini;      // the configuration file's text
        std::string answers;  // TIDEWELL_ANSWERS
        int devToolsPort = 0; // QTWEBENGINE_REMOTE_DEBUGGING when not 0
    };

    // Pages from `server`, no outside services.
    Tidewell(const test::TempDir &dir, const PageServer &server)
        : Tidewell(dir, Options{"[pages]\nBaseUrl=" + server.base().toStdString() + "\n[web]\nFeedbackForm=" +
                                    server.outside().toStdString() + "/outside.html\n" + kNoServices,
                                "", 0})
    {
    }

    Tidewell(const test::TempDir &dir, const Options &options)
    {
        test::writeFile(dir / "tidewell.ini", options.ini);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TIDEWELL_AUTOMATION", "1");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
        env.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
        env.remove("TIDEWELL_CONFIG");
        env.remove("TIDEWELL_DATA_DIR");
        env.insert("TIDEWELL_ANSWERS", QString::fromStdString(options.answers));
        if (options.devToolsPort)
            env.insert("QTWEBENGINE_REMOTE_DEBUGGING", QString("127.0.0.1:%1").arg(options.devToolsPort));
        m_process.setProcessEnvironment(env);
        QObject::connect(&m_process, &QProcess::readyReadStandardError,
                         [this] { m_output += QString::fromUtf8(m_process.readAllStandardError()); });
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

    // Waits (pumping events) for the program to end by itself.
    bool waitForExit(int ms = 15000)
    {
        return e2e::waitFor([this] { return m_process.state() == QProcess::NotRunning; }, ms);
    }
    int exitCode() const { return m_process.exitCode(); }
    qint64 pid() const { return m_process.processId(); }
    // Ends it as a crash or a power cut would: nothing of its own runs.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Waits (pumping events, at most `ms`) for the next automation line of
    // `kind` after those already consumed; returns its text or "" on time-out.
    QString next(const QString &kind, int ms = 15000) { return nextLine(kind, ms).value_or(QString()); }
    // The same, telling an empty line ("status: ") from none at all.
    std::optional<QString> nextLine(const QString &kind, int ms = 15000)
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
            e2e::pump(50);
        }
        return std::nullopt;
    }
    // Waits for a line of `kind` whose text contains `part`, skipping others.
    QString nextContaining(const QString &kind, const QString &part, int ms = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            QString line = next(kind, int(std::max<qint64>(1, ms - timer.elapsed())));
            if (line.contains(part)) return line;
        }
        return {};
    }
    static void pump(int ms) { e2e::pump(ms); }
    QString output() const { return m_output; }

  private:
    QProcess m_process;
    QString m_output;
    int m_consumed = 0;
};

// A minimal Chrome DevTools Protocol client: runs a script in the page whose
// address contains a given text.
class DevTools {
  public:
    explicit DevTools(int port) : m_port(port) {}

    // The result of `expression` as JSON text ("" when no such page answered
    // within `ms`).
    QString evaluate(const QString &urlPart, const QString &expression, int ms = 15000)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            QString socketUrl = findPage(urlPart);
            if (!socketUrl.isEmpty()) {
                QString result = run(socketUrl, expression, int(ms - timer.elapsed()));
                if (!result.isNull()) return result;
            }
            pump(200);
        }
        return {};
    }

  private:
    QString findPage(const QString &urlPart)
    {
        QNetworkAccessManager manager;
        QNetworkRequest request(QUrl(QString("http://127.0.0.1:%1/json").arg(m_port)));
        request.setTransferTimeout(3000);
        QNetworkReply *reply = manager.get(request);
        waitFor([reply] { return reply->isFinished(); }, 4000);
        QJsonArray pages = QJsonDocument::fromJson(reply->readAll()).array();
        reply->deleteLater();
        for (const auto &p : pages) {
            QJsonObject o = p.toObject();
            if (o["type"].toString() == "page" && o["url"].toString().contains(urlPart, Qt::CaseInsensitive))
                return o["webSocketDebuggerUrl"].toString();
        }
        return {};
    }

    QString run(const QString &socketUrl, const QString &expression, int ms)
    {
        QWebSocket socket;
        QString result;
        bool answered = false;
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString &message) {
            QJsonObject o = QJsonDocument::fromJson(message.toUtf8()).object();
            if (o["id"].toInt() != 1) return;
            answered = true;
            result = QString::fromUtf8(
                QJsonDocument(o["result"].toObject()["result"].toObject()).toJson(QJsonDocument::Compact));
        });
        socket.open(QUrl(socketUrl));
        if (!waitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, std::min(ms, 5000)))
            return QString();
        QJsonObject params{{"expression", expression}, {"returnByValue", true}};
        QJsonObject call{{"id", 1}, {"method", "Runtime.evaluate"}, {"params", params}};
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(call).toJson(QJsonDocument::Compact)));
        waitFor([&] { return answered; }, std::min(ms, 5000));
        return answered ? result : QString();
    }

    int m_port;
};

// Waits until the page whose address contains `urlPart` shows no busy
// overlay (the program has finished drawing or loading it).
inline bool waitIdle(DevTools &devTools, const QString &urlPart, int ms = 30000)
{
    return waitFor(
        [&] {
            QString answer = devTools.evaluate(urlPart,
                                               "(function () { var o = document.getElementById('ProcessingElement');"
                                               "  return !o || o.style.visibility === 'hidden'; })()",
                                               5000);
            return answer.contains("true");
        },
        ms);
}

// A data folder whose settings hold the sandbox's demo token.
inline void signIn(const test::TempDir &dir, const sandbox::Sandbox &sb)
{
    std::filesystem::create_directories(dir / "data");
    test::writeFile(dir / "data" / "Settings.xml",
                    std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?><Settings><eBayID>") + sb.state().sellerId +
                        "</eBayID><eBayAuthToken>" + sandbox::kDemoToken +
                        "</eBayAuthToken><LastGetSellerTransactions/><GetSellerTransactionsMaxDays>28"
                        "</GetSellerTransactionsMaxDays></Settings>");
}

} // namespace tw::e2e
