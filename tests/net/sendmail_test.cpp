#include "net/SendMail.h"
#include "scripted_peer.h"
#include "tests/support/log_capture.h"
#include "tests/support/mock_clock.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tw;
using namespace tw::net;
using tw::test::ScriptedPeer;

namespace {

NetError thrownBy(const std::function<void()> &f)
{
    try {
        f();
    } catch (const NetError &e) {
        return e;
    }
    return NetError(0, "", "nothing thrown");
}

// Answers each command with the reply given for its first word.
ScriptedPeer::Script smtpScript(std::map<std::string, std::string> replies, std::vector<std::string> *seen = nullptr)
{
    return [replies = std::move(replies), seen](ScriptedPeer::Connection &c) {
        c.send("220 peer.test ready\r\n");
        while (auto line = c.readLine()) {
            if (seen) seen->push_back(*line);
            std::string verb = line->substr(0, line->find(' '));
            if (auto it = replies.find(verb); it != replies.end())
                c.send(it->second);
            else
                c.send("250 OK\r\n");
            if (verb == "QUIT") break;
        }
    };
}

// Takes one message and answers its end of data with `endReply`, or with nothing when it is empty.
ScriptedPeer::Script endOfDataScript(std::string endReply)
{
    return [endReply = std::move(endReply)](ScriptedPeer::Connection &c) {
        c.send("220 peer.test ready\r\n");
        while (auto line = c.readLine()) {
            if (*line == "DATA") {
                c.send("354 go on\r\n");
                break;
            }
            c.send("250 OK\r\n");
        }
        while (auto line = c.readLine())
            if (*line == ".") break;
        if (!endReply.empty()) c.send(endReply);
        c.waitClosed(10000);
    };
}

} // namespace

TEST(SendMail, OnlyA2xxReplyToTheEndOfDataIsASend)
{
    struct Case {
        std::string reply;
        int code;
        bool sent;
    };
    for (const Case &c : {Case{"554 Message refused\r\n", 554, false}, Case{"451 Try again later\r\n", 451, false},
                          Case{"354 more?\r\n", 354, false}, Case{"250 2.0.0 queued as 42\r\n", 250, true}}) {
        SCOPED_TRACE(c.reply);
        auto peer = std::make_unique<ScriptedPeer>(endOfDataScript(c.reply));
        SendMail mail;
        mail.TimeoutValue = 5;
        mail.From = "shop@corner.example";
        mail.SendTo = "buyer@example.com";
        mail.Body = "Thanks.";
        mail.SmtpConnect("127.0.0.1", peer->port());
        NetError e = thrownBy([&] { mail.SendMessage(); });
        EXPECT_EQ(mail.lastReplyCode(), c.code);
        if (c.sent) {
            EXPECT_EQ(e.number(), 0) << e.description();
        } else {
            EXPECT_EQ(e.number(), 5);
            EXPECT_EQ(e.source(), "SendMail");
            EXPECT_EQ(e.description(), "The message was not accepted by the server.");
        }
        mail.Disconnect();
        EXPECT_EQ(mail.socket()->State(), sckClosed);
        ASSERT_TRUE(tw::test::waitUntil([&] { return peer->received().find("QUIT\r\n") != std::string::npos; }));
    }
}

TEST(SendMail, NoReplyToTheEndOfDataFailsAfterTheTimeout)
{
    ScriptedPeer peer(endOfDataScript(""));
    SendMail mail;
    mail.TimeoutValue = 1;
    mail.From = "shop@corner.example";
    mail.SendTo = "buyer@example.com";
    mail.SmtpConnect("127.0.0.1", peer.port());

    QElapsedTimer timer;
    timer.start();
    NetError e = thrownBy([&] { mail.SendMessage(); });
    EXPECT_EQ(e.number(), 5);
    EXPECT_EQ(e.source(), "SendMail");
    EXPECT_EQ(e.description(), "The message was not accepted by the server.");
    EXPECT_EQ(mail.lastReplyCode(), 0);
    EXPECT_GE(timer.elapsed(), 900);
    EXPECT_LT(timer.elapsed(), 4000);
    EXPECT_NE(peer.received().find("\r\n.\r\n"), std::string::npos);
    mail.Disconnect();
    EXPECT_EQ(mail.socket()->State(), sckClosed);
}

TEST(SendMail, RefusedRecipientDisconnectsAndFailsRcptTo)
{
    std::vector<std::string> seen; // written by the peer's thread, read after it is joined
    auto peer = std::make_unique<ScriptedPeer>(smtpScript({{"RCPT", "550 No such user here\r\n"}}, &seen));
    SendMail mail;
    std::vector<std::string> trace;
    mail.ReportEvents = true;
    mail.onSessionTrace = [&](const std::string &line) { trace.push_back(line); };
    mail.TimeoutValue = 5;
    mail.From = " Corner Shop <SMTP:shop@corner.example> ";
    mail.SendTo = "buyer@example.com";
    mail.SmtpConnect("127.0.0.1", peer->port());

    NetError e = thrownBy([&] { mail.SendMessage(); });
    EXPECT_EQ(e.number(), 5);
    EXPECT_EQ(e.source(), "SendMail");
    EXPECT_EQ(e.description(), "The command RCPT TO failed.");
    EXPECT_EQ(mail.lastReplyCode(), 550);
    EXPECT_EQ(mail.socket()->State(), sckClosed);
    ASSERT_TRUE(tw::test::waitUntil([&] { return peer->received().find("QUIT\r\n") != std::string::npos; }));
    peer.reset();

    EXPECT_EQ(seen, (std::vector<std::string>{"HELO corner.example", "MAIL FROM: shop@corner.example",
                                              "RCPT TO: buyer@example.com", "QUIT"}));
    EXPECT_EQ(trace.front(), "--- Connected");
    EXPECT_EQ(trace[1], "<<< 220 peer.test ready");
    EXPECT_EQ(trace[2], ">>> HELO corner.example");
    EXPECT_NE(std::find(trace.begin(), trace.end(), "<<< 550 No such user here"), trace.end());
    EXPECT_EQ(trace.back(), "--- Disconnected");

    // Once closed, a further message is refused at once.
    EXPECT_EQ(thrownBy([&] { mail.SendMessage(); }).number(), 10057);
}

TEST(SendMail, SilentServerFailsHeloAfterTimeout)
{
    ScriptedPeer peer([](ScriptedPeer::Connection &c) { c.waitClosed(10000); });
    SendMail mail;
    mail.TimeoutValue = 1;
    mail.From = "shop@corner.example";
    mail.SendTo = "buyer@example.com";

    QElapsedTimer timer;
    timer.start();
    mail.SmtpConnect("127.0.0.1", peer.port()); // no greeting: still connected after the wait
    EXPECT_GE(timer.elapsed(), 900);
    timer.restart();
    NetError e = thrownBy([&] { mail.SendMessage(); });
    EXPECT_EQ(e.description(), "The command HELO failed.");
    EXPECT_EQ(mail.lastReplyCode(), 0);
    EXPECT_GE(timer.elapsed(), 900);
    EXPECT_LT(timer.elapsed(), 4000);
    mail.Disconnect();
    EXPECT_EQ(mail.socket()->State(), sckClosed);
}

TEST(SendMail, ConnectionFailures)
{
    SendMail mail;
    EXPECT_EQ(thrownBy([&] { mail.SendMessage(); }).description(), "Not Connected.");
    mail.Disconnect(); // nothing to close: no error

    NetError refused = thrownBy([&] { mail.SmtpConnect("127.0.0.1", ScriptedPeer::closedPort()); });
    EXPECT_EQ(refused.number(), WSAECONNREFUSED);
    EXPECT_EQ(refused.source(), "Winsock");

    // A greeting that refuses service closes the connection.
    ScriptedPeer busy([](ScriptedPeer::Connection &c) { c.send("554 Go away\r\n"); });
    NetError e = thrownBy([&] { mail.SmtpConnect("127.0.0.1", busy.port()); });
    EXPECT_EQ(e.number(), 5);
    EXPECT_EQ(e.description(), "Could not connect to SMTP server.");
}

TEST(SendMail, RepliesInPiecesAndOverSeveralLines)
{
    ScriptedPeer peer([](ScriptedPeer::Connection &c) {
        c.send("220-peer.test\r\n");
        c.pause(100);
        c.send("220 ready\r\n");
        c.readLine();
        c.send("25");
        c.pause(150);
        c.send("0 hello\r\n");
        c.readLine();
        c.send("250-first\r\n250 second\r\n");
        c.readLine();
        c.send("250 OK\r\n");
        c.readLine();
        c.send("354 go on\r\n");
        while (auto line = c.readLine())
            if (*line == ".") break;
        c.send("250 queued\r\n");
        c.waitClosed();
    });
    SendMail mail;
    mail.TimeoutValue = 5;
    mail.From = "shop@corner.example";
    mail.SendTo = "buyer@example.com";
    mail.SmtpConnect("127.0.0.1", peer.port());
    EXPECT_NO_THROW(mail.SendMessage());
    EXPECT_EQ(mail.lastReplyCode(), 250);
    EXPECT_EQ(mail.LastReply(), "250 queued\r\n");
    mail.Disconnect();
}

TEST(SendMail, DateCarriesTheLocalZone)
{
    test::MockClock clock(DateTime::fromParts(2008, 1, 5, 9, 3, 7), 5 * 3600 + 30 * 60);
    EXPECT_EQ(SendMail::formatDate(clock.localNow()), "Sat, 05 Jan 2008 09:03:07 +0530");
    clock.setUtcOffset(-5 * 3600);
    EXPECT_EQ(SendMail::formatDate(DateTime::fromParts(2024, 2, 29, 23, 59, 59)), "Thu, 29 Feb 2024 23:59:59 -0500");
    clock.setUtcOffset(-(3 * 3600 + 30 * 60));
    EXPECT_EQ(SendMail::formatDate(DateTime::fromParts(1969, 12, 31, 0, 0, 0)), "Wed, 31 Dec 1969 00:00:00 -0330");
    clock.setUtcOffset(0);
    EXPECT_EQ(SendMail::formatDate(DateTime::fromParts(2000, 10, 1, 7, 5, 0)), "Sun, 01 Oct 2000 07:05:00 +0000");
}

TEST(SendMail, AddressesAndBody)
{
    EXPECT_EQ(SendMail::cleanHeaderAddress("  MailTo:a@b.example "), "a@b.example");
    EXPECT_EQ(SendMail::cleanHeaderAddress("Shop <smtp:shop@b.example>"), "Shop <shop@b.example>");
    EXPECT_EQ(SendMail::cleanEnvelopeAddress(" Shop <SMTP:shop@b.example> "), "shop@b.example");
    EXPECT_EQ(SendMail::cleanEnvelopeAddress("mailto:a@b.example"), "a@b.example");
    // A line break cannot smuggle a second command into the envelope.
    EXPECT_EQ(SendMail::cleanEnvelopeAddress("a@b.example\r\nRCPT TO: c@d.example"), "a@b.exampleRCPTTO:c@d.example");

    EXPECT_EQ(SendMail::encodeBody("Hi\n.\nQUIT\r\n..x\r.y"), "Hi\r\n..\r\nQUIT\r\n...x\r\n..y");
    EXPECT_EQ(SendMail::encodeBody(".first"), "..first");
    EXPECT_EQ(SendMail::encodeBody("a.b\n"), "a.b\r\n");

    SendMail mail;
    EXPECT_EQ(mail.Importance(), ImportanceNormal);
    EXPECT_EQ(thrownBy([&] { mail.setImportance(3); }).number(), 380);
    EXPECT_EQ(mail.Importance(), ImportanceNormal);
    mail.AddHeaderItem("Order", "1");
    EXPECT_EQ(mail.HeaderItemCount(), 1);
    EXPECT_EQ(mail.HeaderItem(0), "Order");
    EXPECT_EQ(mail.HeaderValue(0), "1");
    EXPECT_EQ(mail.HeaderItem(1), "");
}

TEST(SendMail, TheLogTellsEachConnectionAndMessageButNoAddress)
{
    tw::test::LogCapture capture;
    for (bool refused : {false, true}) {
        auto peer = std::make_unique<ScriptedPeer>(refused ? smtpScript({{"RCPT", "550 No buyer@example.com\r\n"}})
                                                           : endOfDataScript("250 queued\r\n"));
        SendMail mail;
        mail.TimeoutValue = 5;
        mail.From = "Corner Shop <shop@corner.example>";
        mail.SendTo = "buyer@example.com";
        mail.Subject = "Your order";
        mail.Body = "Thanks.";
        mail.SmtpConnect("127.0.0.1", peer->port());
        thrownBy([&] { mail.SendMessage(); });
        mail.Disconnect();
    }
    thrownBy([] {
        SendMail mail;
        mail.SmtpConnect("127.0.0.1", ScriptedPeer::closedPort());
    });

    const std::string text = capture.text();
    std::vector<std::string> lines;
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(text.substr(at, nl - at));
    ASSERT_EQ(lines.size(), 5u) << text;
    EXPECT_NE(lines[0].find(" smtp 127.0.0.1:"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(" connect: connected, reply 220 ("), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" message: accepted, reply 250 ("), std::string::npos) << lines[1];
    EXPECT_NE(lines[3].find(" message: failed, reply 550 ("), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find(" connect: failed, "), std::string::npos) << lines[4];
    for (const char *never : {"buyer", "shop", "corner", "Your order"})
        EXPECT_EQ(text.find(never), std::string::npos) << never;
}
