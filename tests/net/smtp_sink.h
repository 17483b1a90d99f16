#pragma once
// A real SMTP server (python3-aiosmtpd, smtp_sink.py) on an ephemeral
// loopback port, kept for one test. Each message it accepts is read back by
// Python's email package. Tests that use it define TW_SMTP_SINK_SCRIPT.

#include "tests/support/temp_dir.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tw::test {

class SmtpSink {
  public:
    // The first interpreter that has aiosmtpd: $TIDEWELL_PYTHON, Debian's, then the one on PATH.
    static std::string python()
    {
        std::vector<std::string> candidates;
        if (const char *own = std::getenv("TIDEWELL_PYTHON")) candidates.push_back(own);
        candidates.push_back("/usr/bin/python3");
        candidates.push_back("python3");
        for (const auto &python : candidates) {
            QProcess probe;
            probe.start(QString::fromStdString(python), {"-c", "import aiosmtpd"});
            if (probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
                return python;
            probe.kill();
            probe.waitForFinished(2000);
        }
        return {};
    }

    // Starts the server; on failure returns why (empty on success).
    std::string start()
    {
        std::string interpreter = python();
        if (interpreter.empty())
            return "No python3 with aiosmtpd found: install python3-aiosmtpd (scripts/deps.sh) or name an "
                   "interpreter in TIDEWELL_PYTHON";
        m_server.start(QString::fromStdString(interpreter),
                       {QString(TW_SMTP_SINK_SCRIPT), QString::fromStdString(m_dir.path().string())});
        if (!m_server.waitForStarted(10000)) return "cannot start the SMTP server script";
        if (!m_server.waitForReadyRead(20000))
            return "the SMTP server script said nothing: " + m_server.readAllStandardError().toStdString();
        m_port = m_server.readLine().trimmed().toInt();
        return m_port > 0 ? std::string() : "the SMTP server script gave no port";
    }

    ~SmtpSink()
    {
        if (m_server.state() == QProcess::NotRunning) return;
        m_server.closeWriteChannel(); // the script stops when its input closes
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

    int port() const { return m_port; }

    // The message the server kept as number `n` (from 1), once it is there;
    // empty after ten seconds without it.
    QJsonObject received(int n)
    {
        std::filesystem::path file = m_dir / ("message" + std::to_string(n) + ".json");
        QElapsedTimer timer;
        timer.start();
        while (!std::filesystem::exists(file) && timer.elapsed() < 10000) {
            QEventLoop loop;
            QTimer::singleShot(10, &loop, &QEventLoop::quit);
            loop.exec();
        }
        if (!std::filesystem::exists(file)) return {};
        return QJsonDocument::fromJson(QByteArray::fromStdString(readFile(file))).object();
    }

    // The data of message `n` as it arrived (after the message's JSON is there).
    std::string raw(int n) const { return readFile(m_dir / ("message" + std::to_string(n) + ".eml")); }

    // How many messages the server kept so far.
    int count() const
    {
        int n = 0;
        while (std::filesystem::exists(m_dir / ("message" + std::to_string(n + 1) + ".json")))
            ++n;
        return n;
    }

    static std::vector<std::pair<std::string, std::string>> headers(const QJsonObject &message)
    {
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto &item : message["headers"].toArray())
            out.emplace_back(item.toArray()[0].toString().toStdString(), item.toArray()[1].toString().toStdString());
        return out;
    }

    static std::vector<std::string> recipients(const QJsonObject &message)
    {
        std::vector<std::string> out;
        for (const auto &item : message["rcpt_tos"].toArray())
            out.push_back(item.toString().toStdString());
        return out;
    }

  private:
    TempDir m_dir;
    QProcess m_server;
    int m_port = 0;
};

} // namespace tw::test
