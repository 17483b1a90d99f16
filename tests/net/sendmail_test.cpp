#include "net/SendMail.h"
#include "scripted_peer.h"
#include "tests/support/log_capture.h"
#include "tests/support/mock_clock.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <unistd.h>
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

// Answers each command with the reply given for its first word, or as a
// willing server would; `seen` gets the commands, not the message's lines.
ScriptedPeer::Script smtpScript(std::map<std::string, std::string> replies, std::vector<std::string> *seen = nullptr)
{
    return [replies = std::move(replies), seen](ScriptedPeer::Connection &c) {
        c.send("220 peer.test ready\r\n");
        while (auto line = c.readLine()) {
            if (seen) seen->push_back(*line);
            std::string verb = line->substr(0, line->find(' '));
            if (auto it = replies.find(verb); it != replies.end()) {
                c.send(it->second);
            } else if (verb == "DATA") {
                c.send("354 go on\r\n");
                while (auto data = c.readLine())
                    if (*data == ".") break;
                c.send("250 queued\r\n");
            } else {
                c.send("250 OK\r\n");
            }
            if (verb == "QUIT") break;
        }
    };
}

// Takes one message and answers its end of data with `endReply` after
// `delayMs`; with an empty reply, says nothing, or closes when `close`.
ScriptedPeer::Script endOfDataScript(std::string endReply, int delayMs = 0, bool close = false)
{
    return [endReply = std::move(endReply), delayMs, close](ScriptedPeer::Connection &c) {
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
        if (close) {
            ::close(c.fd());
            return;
        }
        c.pause(delayMs);
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
            EXPECT_EQ(e.description(), "The message was not accepted by the server. The server answered: " +
                                           c.reply.substr(0, c.reply.size() - 2));
        }
        EXPECT_FALSE(mail.MayHaveBeenSent());
        mail.Disconnect();
        EXPECT_EQ(mail.socket()->State(), sckClosed);
        ASSERT_TRUE(tw::test::waitUntil([&] { return peer->received().find("QUIT\r\n") != std::string::npos; }));
    }
}

TEST(SendMail, TheEndOfDataWaitsLongerAndWithoutAnAnswerTheMessageMayHaveBeenSent)
{
    struct Case {
        const char *what;
        ScriptedPeer::Script script;
        int endOfDataSeconds;
        bool sent;
        bool mayHaveBeenSent;
        std::string description;
    };
    // Every other reply may take a second; the one to the end of the data longer.
    const std::vector<Case> cases = {
        {"late but in time", endOfDataScript("250 queued\r\n", 1500), 30, true, false, ""},
        {"never", endOfDataScript(""), 1, false, true,
         "The server did not confirm the message within 1 second; it may have been sent."},
        {"connection lost", endOfDataScript("", 0, true), 30, false, true,
         "The connection was lost before the server confirmed the message; it may have been sent."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer(c.script);
        SendMail mail;
        mail.TimeoutValue = 1;
        mail.EndOfDataTimeoutValue = c.endOfDataSeconds;
        mail.From = "shop@corner.example";
        mail.SendTo = "buyer@example.com";
        mail.SmtpConnect("127.0.0.1", peer.port());
        NetError e = thrownBy([&] { mail.SendMessage(); });
        EXPECT_EQ(e.number(), c.sent ? 0 : 5) << e.description();
        if (!c.sent) {
            EXPECT_EQ(e.description(), c.description);
        }
        EXPECT_EQ(mail.MayHaveBeenSent(), c.mayHaveBeenSent);
        EXPECT_NE(peer.received().find("\r\n.\r\n"), std::string::npos);
        mail.Disconnect();
        EXPECT_EQ(mail.socket()->State(), sckClosed);
    }
}

TEST(SendMail, EhloFirstHeloWhenRefusedAndTheServersWordsInTheRefusal)
{
    struct Case {
        std::map<std::string, std::string> replies;
        std::vector<std::string> seen;
        std::string description; // empty: sent
    };
    const std::vector<Case> cases = {
        {{{"EHLO", "250-peer.test\r\n250-SIZE 1000000\r\n250 HELP\r\n"}},
         {"EHLO corner.example", "MAIL FROM: shop@corner.example", "RCPT TO: buyer@example.com", "DATA", "QUIT"},
         ""},
        {{{"EHLO", "502 5.5.1 Command not implemented\r\n"}},
         {"EHLO corner.example", "HELO corner.example", "MAIL FROM: shop@corner.example", "RCPT TO: buyer@example.com",
          "DATA", "QUIT"},
         ""},
        {{{"EHLO", "500 what?\r\n"}, {"HELO", "550-Not\r\n550 you\r\n"}},
         {"EHLO corner.example", "HELO corner.example", "QUIT"},
         "The command HELO failed. The server answered: 550-Not 550 you"},
        {{{"EHLO", "421 4.3.2 Closing, try \x01later\r\n"}},
         {"EHLO corner.example", "QUIT"},
         "The command EHLO failed. The server answered: 421 4.3.2 Closing, try later"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.description);
        std::vector<std::string> seen; // written by the peer's thread, read after it is joined
        auto peer = std::make_unique<ScriptedPeer>(smtpScript(c.replies, &seen));
        SendMail mail;
        mail.TimeoutValue = 5;
        mail.From = "shop@corner.example";
        mail.SendTo = "buyer@example.com";
        mail.SmtpConnect("127.0.0.1", peer->port());
        NetError e = thrownBy([&] { mail.SendMessage(); });
        EXPECT_EQ(e.description(), c.description.empty() ? "nothing thrown" : c.description);
        mail.Disconnect();
        ASSERT_TRUE(tw::test::waitUntil([&] { return peer->received().find("QUIT\r\n") != std::string::npos; }));
        peer.reset();
        EXPECT_EQ(seen, c.seen);
    }
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
    EXPECT_EQ(e.description(), "The command RCPT TO failed. The server answered: 550 No such user here");
    EXPECT_EQ(mail.lastReplyCode(), 550);
    EXPECT_EQ(mail.socket()->State(), sckClosed);
    ASSERT_TRUE(tw::test::waitUntil([&] { return peer->received().find("QUIT\r\n") != std::string::npos; }));
    peer.reset();

    EXPECT_EQ(seen, (std::vector<std::string>{"EHLO corner.example", "MAIL FROM: shop@corner.example",
                                              "RCPT TO: buyer@example.com", "QUIT"}));
    EXPECT_EQ(trace.front(), "--- Connected");
    EXPECT_EQ(trace[1], "<<< 220 peer.test ready");
    EXPECT_EQ(trace[2], ">>> EHLO corner.example");
    EXPECT_NE(std::find(trace.begin(), trace.end(), "<<< 550 No such user here"), trace.end());
    EXPECT_EQ(trace.back(), "--- Disconnected");

    // Once closed, a further message is refused at once.
    EXPECT_EQ(thrownBy([&] { mail.SendMessage(); }).number(), 10057);
}

TEST(SendMail, SilentServerFailsEhloAfterTimeout)
{
    ScriptedPeer peer([](ScriptedPeer::Connection &c) { c.waitClosed(10000); });
    SendMail mail;
    mail.TimeoutValue = 1;
    mail.From = "shop@corner.example";
    mail.SendTo = "buyer@example.com";

    mail.SmtpConnect("127.0.0.1", peer.port()); // no greeting: still connected after the wait
    NetError e = thrownBy([&] { mail.SendMessage(); });
    EXPECT_EQ(e.description(), "The command EHLO failed. The server did not answer within 1 second.");
    EXPECT_EQ(mail.lastReplyCode(), 0);
    EXPECT_FALSE(mail.MayHaveBeenSent());
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
    EXPECT_EQ(e.description(), "Could not connect to SMTP server. The server answered: 554 Go away");
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

TEST(SendMail, BodyAndHeaderEncodings)
{
    const std::string a75(75, 'a');
    struct Case {
        std::string text;
        std::string wire;
    };
    // The body: quoted-printable lines of at most 76 characters, then dot-stuffed.
    for (const Case &c : std::vector<Case>{
             {"Hi\n.\nQUIT\r\n..x\r.y\n", "Hi\r\n..\r\nQUIT\r\n...x\r\n..y\r\n"},
             {"1+1=2 \t\nend ", "1+1=3D2 =09\r\nend=20"},
             {"Zo\xc3\xab \xc2\xbd\x7f", "Zo=C3=AB =C2=BD=7F"},
             {a75 + "a", a75 + "a"},
             {a75 + "ab", a75 + "=\r\nab"},
             {a75.substr(1) + "\xc3\xa9", a75.substr(1) + "=\r\n=C3=A9"},
             {a75 + ".b", a75 + "=\r\n..b"},
             {a75 + " b", a75 + "=\r\n b"},
             {a75 + "a ", a75 + "=\r\na=20"},
         }) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SendMail::encodeBody(c.text), c.wire);
    }
    // Header text: encoded words only where needed (a line over 998 characters is
    // refused), no character split between two.
    auto repeat = [](const std::string &piece, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += piece;
        return out;
    };
    auto words = [](const std::vector<std::string> &encoded) {
        std::string out;
        for (const std::string &e : encoded)
            out += (out.empty() ? "" : "\r\n ") + ("=?UTF-8?Q?" + e + "?=");
        return out;
    };
    for (const Case &c : std::vector<Case>{
             {"Your order 110022, thanks!", "Your order 110022, thanks!"},
             {"Zo\xc3\xab \xc2\xbd", words({"Zo=C3=AB_=C2=BD"})},
             {"a_b =?x?= c", words({"a=5Fb_=3D=3Fx=3F=3D_c"})},
             {"tab\there\x01", words({"tab=09here=01"})},
             {repeat("\xc3\xab", 20), words({repeat("=C3=AB", 7), repeat("=C3=AB", 7), repeat("=C3=AB", 6)})},
             {std::string(901, 'a'),
              [&] {
                  std::vector<std::string> pieces(20, std::string(45, 'a'));
                  pieces.push_back("a");
                  return words(pieces);
              }()},
         }) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SendMail::headerText(c.text), c.wire);
    }
    for (const Case &c : std::vector<Case>{
             {"Corner Shop <shop@corner.example>", "Corner Shop <shop@corner.example>"},
             {"Zo\xc3\xab's Shop <shop@corner.example>", "=?UTF-8?Q?Zo=C3=AB=27s_Shop?= <shop@corner.example>"},
             {"\"Zo\xc3\xab, Ltd\" <shop@corner.example>", "=?UTF-8?Q?Zo=C3=AB=2C_Ltd?= <shop@corner.example>"},
             {"shop@corner.example", "shop@corner.example"},
         }) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SendMail::headerAddress(c.text), c.wire);
    }
}

TEST(SendMail, AddressesAndBody)
{
    EXPECT_EQ(SendMail::cleanHeaderAddress("  MailTo:a@b.example "), "a@b.example");
    EXPECT_EQ(SendMail::cleanHeaderAddress("Shop <smtp:shop@b.example>"), "Shop <shop@b.example>");
    EXPECT_EQ(SendMail::cleanEnvelopeAddress(" Shop <SMTP:shop@b.example> "), "shop@b.example");
    EXPECT_EQ(SendMail::cleanEnvelopeAddress("mailto:a@b.example"), "a@b.example");
    // A line break cannot smuggle a second command into the envelope.
    EXPECT_EQ(SendMail::cleanEnvelopeAddress("a@b.example\r\nRCPT TO: c@d.example"), "a@b.exampleRCPTTO:c@d.example");

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
