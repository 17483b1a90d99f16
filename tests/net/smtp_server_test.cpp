// The SMTP client against a real SMTP server (python3-aiosmtpd), which keeps
// each message it receives; Python's email package reads it back.

#include "net/SendMail.h"
#include "smtp_sink.h"
#include "tests/support/mock_clock.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace tw;
using namespace tw::net;

namespace {

class SmtpServerTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string problem = m_sink.start();
        ASSERT_TRUE(problem.empty()) << problem;
        m_port = m_sink.port();
    }

    QJsonObject received(int n) { return m_sink.received(n); }
    static std::vector<std::pair<std::string, std::string>> headers(const QJsonObject &message)
    {
        return test::SmtpSink::headers(message);
    }
    static std::vector<std::string> recipients(const QJsonObject &message)
    {
        return test::SmtpSink::recipients(message);
    }

    test::SmtpSink m_sink;
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
        {"MIME-Version", "1.0"},
        {"Content-Type", "text/plain; charset=UTF-8"},
        {"Content-Transfer-Encoding", "quoted-printable"},
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
            EXPECT_EQ(e.description().rfind("The command RCPT TO failed. The server answered: 5", 0), 0u)
                << e.description();
        }
    }
    SendMail mail;
    mail.TimeoutValue = 10;
    mail.SmtpConnect("127.0.0.1", m_port);
    mail.SendTo = "buyer@example.com";
    mail.From = "shop@corner.example";
    mail.Subject = "Thanks Zo\xc3\xab\r\nBcc: spy@evil.example\nX-Injected: yes";
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
    EXPECT_EQ(names, (std::vector<std::string>{"Date", "To", "From", "Subject", "MIME-Version", "Content-Type",
                                               "Content-Transfer-Encoding", "X-Mailer", "X-Priority",
                                               "X-MSMail-Priority", "Importance", "X-Message-Flag", "X-NoteX-Other"}));
    EXPECT_EQ(got[0].second, "Tue, 01 Jun 2010 12:00:00 -0500");
    EXPECT_EQ(got[3].second, "Thanks Zo\xc3\xab Bcc: spy@evil.example X-Injected: yes");
    EXPECT_EQ(got[8].second, "5 (Lowest)");
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

TEST_F(SmtpServerTest, RefusalsAreFailedSends)
{
    struct Case {
        std::string to;
        int code;
        std::string description;
    };
    for (const Case &c :
         {Case{"reject@example.com", 554,
               "The message was not accepted by the server. The server answered: 554 Message refused: content not "
               "accepted"},
          Case{"nobody@example.com", 550, "The command RCPT TO failed. The server answered: 550 No such user here"}}) {
        SCOPED_TRACE(c.to);
        SendMail mail;
        mail.TimeoutValue = 10;
        mail.SmtpConnect("127.0.0.1", m_port);
        mail.From = "shop@corner.example";
        mail.SendTo = c.to;
        mail.Body = "Hello";
        try {
            mail.SendMessage();
            ADD_FAILURE() << "a refused message passed for sent";
        } catch (const NetError &e) {
            EXPECT_EQ(e.number(), 5);
            EXPECT_EQ(e.source(), "SendMail");
            EXPECT_EQ(e.description(), c.description);
        }
        EXPECT_EQ(mail.lastReplyCode(), c.code);
        mail.Disconnect();
    }
    EXPECT_EQ(m_sink.count(), 0);
}
