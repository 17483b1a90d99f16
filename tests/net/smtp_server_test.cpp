// The SMTP client against a real SMTP server (python3-aiosmtpd), which keeps
// each message it receives; Python's email package reads it back.

#include "net/SendMail.h"
#include "scripted_peer.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

using namespace tw;
using namespace tw::net;

namespace {

// The first interpreter that has aiosmtpd: $TIDEWELL_PYTHON, Debian's, then the one on PATH.
std::string pythonWithAiosmtpd()
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

class SmtpServerTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string python = pythonWithAiosmtpd();
        ASSERT_FALSE(python.empty()) << "No python3 with aiosmtpd found: install python3-aiosmtpd (scripts/deps.sh) "
                                        "or name an interpreter in TIDEWELL_PYTHON";
        m_server.start(QString::fromStdString(python),
                       {QString(TW_NET_TEST_DIR "/smtp_sink.py"), QString::fromStdString(m_dir.path().string())});
        ASSERT_TRUE(m_server.waitForStarted(10000)) << "cannot start the SMTP server script";
        ASSERT_TRUE(m_server.waitForReadyRead(20000))
            << "the SMTP server script said nothing: " << m_server.readAllStandardError().toStdString();
        m_port = m_server.readLine().trimmed().toInt();
        ASSERT_GT(m_port, 0);
    }

    void TearDown() override
    {
        m_server.closeWriteChannel(); // the script stops when its input closes
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

    // The message the server kept as number `n`, once it is there.
    QJsonObject received(int n)
    {
        std::filesystem::path file = m_dir / ("message" + std::to_string(n) + ".json");
        if (!test::waitUntil([&] { return std::filesystem::exists(file); }, 10000)) return {};
        return QJsonDocument::fromJson(QByteArray::fromStdString(test::readFile(file))).object();
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

    test::TempDir m_dir;
    QProcess m_server;
    int m_port = 0;
};

} // namespace

TEST_F(SmtpServerTest, FullMessageArrivesWhole)
{
    test::MockClock clock(DateTime::fromParts(2008, 1, 5, 9, 3, 7), 5 * 3600 + 30 * 60);
    SendMail mail;
    mail.TimeoutValue = 10;
    mail.SmtpConnect("127.0.0.1", m_port);
    mail.SendTo = "mailto:buyer@example.com";
    mail.From = "Corner Shop <shop@corner.example>";
    mail.Cc = "  SMTP:copy@corner.example ";
    mail.Bcc = "Books <books@corner.example>";
    mail.ReplyTo = "replies@corner.example";
    mail.Subject = "Your order 110022334455";
    mail.setImportance(ImportanceHigh);
    mail.ReplyByDate = DateTime::fromParts(2008, 1, 12, 17, 0, 0);
    mail.AddHeaderItem("Order:", "110022334455");
    mail.AddHeaderItem("x-Seller-Ref", "A&B <1>");
    mail.AddHeaderItem(" Tracking ", "9400 1000");
    mail.Body = "Hello,\n\n.\nQUIT\n..two dots\n.one dot\nThanks.";
    mail.SendMessage();
    EXPECT_EQ(mail.lastReplyCode(), 250);
    mail.Disconnect();

    QJsonObject message = received(1);
    ASSERT_FALSE(message.isEmpty()) << "the server kept no message";
    EXPECT_EQ(message["mail_from"].toString(), "shop@corner.example");
    EXPECT_EQ(recipients(message),
              (std::vector<std::string>{"buyer@example.com", "copy@corner.example", "books@corner.example"}));
    std::vector<std::pair<std::string, std::string>> expected = {
        {"Date", "Sat, 05 Jan 2008 09:03:07 +0530"},
        {"To", "buyer@example.com"},
        {"From", "Corner Shop <shop@corner.example>"},
        {"Cc", "copy@corner.example"},
        {"Subject", "Your order 110022334455"},
        {"X-Mailer", "Brisklet SendMail Class 1.0"},
        {"Reply-To", "replies@corner.example"},
        {"X-Priority", "1 (Highest)"},
        {"X-MSMail-Priority", "High"},
        {"Importance", "High"},
        {"X-Message-Flag", "Follow up"},
        {"Reply-By", "Sat, 12 Jan 2008 17:00:00 +0530"},
        {"X-Order", "110022334455"},
        {"x-Seller-Ref", "A&B <1>"},
        {"X-Tracking", "9400 1000"},
    };
    EXPECT_EQ(headers(message), expected);
    EXPECT_EQ(message["body"].toString().toStdString(),
              "Hello,\r\n\r\n.\r\nQUIT\r\n..two dots\r\n.one dot\r\nThanks.\r\n");
}

TEST_F(SmtpServerTest, ValuesCannotAddHeadersOrRecipients)
{
    test::MockClock clock(DateTime::fromParts(2010, 6, 1, 12, 0, 0), -5 * 3600);
    {
        // A line break in an address makes one bad address, never a second command.
        SendMail bad;
        bad.TimeoutValue = 10;
        bad.SmtpConnect("127.0.0.1", m_port);
        bad.From = "shop@corner.example";
        bad.SendTo = "buyer@example.com\r\nRCPT TO: spy@evil.example";
        try {
            bad.SendMessage();
            ADD_FAILURE() << "sent to a broken address";
        } catch (const NetError &e) {
            EXPECT_EQ(e.description(), "The command RCPT TO failed.");
        }
    }
    SendMail mail;
    mail.TimeoutValue = 10;
    mail.SmtpConnect("127.0.0.1", m_port);
    mail.SendTo = "buyer@example.com";
    mail.From = "shop@corner.example";
    mail.Subject = "Thanks\r\nBcc: spy@evil.example\nX-Injected: yes";
    mail.AddHeaderItem("Note\r\nX-Other", "a\r\n\r\nbody start");
    mail.setImportance(ImportanceLow);
    mail.FlagFollowUp = true;
    mail.Body = ".\r\nRCPT TO: spy@evil.example";
    mail.SendMessage();
    EXPECT_EQ(mail.lastReplyCode(), 250);
    mail.Disconnect();

    QJsonObject message = received(1);
    ASSERT_FALSE(message.isEmpty()) << "the server kept no message";
    EXPECT_EQ(recipients(message).size(), 1u);
    auto got = headers(message);
    std::vector<std::string> names;
    for (const auto &[name, value] : got)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Date", "To", "From", "Subject", "X-Mailer", "X-Priority",
                                               "X-MSMail-Priority", "Importance", "X-Message-Flag", "X-NoteX-Other"}));
    EXPECT_EQ(got[0].second, "Tue, 01 Jun 2010 12:00:00 -0500");
    EXPECT_EQ(got[3].second, "Thanks Bcc: spy@evil.example X-Injected: yes");
    EXPECT_EQ(got[5].second, "5 (Lowest)");
    EXPECT_EQ(got.back().second, "a body start");
    EXPECT_EQ(message["body"].toString().toStdString(), ".\r\nRCPT TO: spy@evil.example\r\n");
}

TEST_F(SmtpServerTest, OneConnectionPerMessageInARow)
{
    for (int n = 1; n <= 2; ++n) {
        SendMail mail;
        mail.TimeoutValue = 10;
        mail.SmtpConnect("127.0.0.1", m_port);
        mail.SendTo = "buyer" + std::to_string(n) + "@example.com";
        mail.From = "shop@corner.example";
        mail.Subject = "Message " + std::to_string(n);
        mail.Body = "";
        mail.SendMessage();
        mail.Disconnect();
        QJsonObject message = received(n);
        ASSERT_FALSE(message.isEmpty()) << "message " << n;
        EXPECT_EQ(recipients(message), std::vector<std::string>{mail.SendTo});
        EXPECT_EQ(message["body"].toString(), "");
    }
}
