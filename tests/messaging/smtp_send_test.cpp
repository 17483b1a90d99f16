// E-mail to buyers: the port setting, the recipient, the sent-message record
// (tests/data/messaging/, TW_UPDATE_GOLDEN=1 rewrites it) and whole sends
// against a real SMTP server (python3-aiosmtpd).
#include "messaging/SmtpSend.h"
#include "tests/net/smtp_sink.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace tw;
using namespace tw::messaging;

namespace {

xml::Document parse(const std::string &text)
{
    std::string error;
    xml::Document doc = xml::Document::parse(text, &error);
    EXPECT_FALSE(doc.isNull()) << error;
    return doc;
}

std::string order(const std::string &itemId, const std::string &user, const std::string &email, const std::string &name,
                  const std::string &title)
{
    return "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Buyer>" + email + "<UserID>" + user +
           "</UserID><BuyerInfo><ShippingAddress><Name>" + name +
           "</Name></ShippingAddress></BuyerInfo></Buyer><ShippingDetails><ShippingServiceUsed>USPSPriority"
           "</ShippingServiceUsed><ShipmentTrackingNumber>9400111</ShipmentTrackingNumber></ShippingDetails><Item>"
           "<ItemID>" +
           itemId + "</ItemID><Title>" + title +
           "</Title><SKU>MUG-B</SKU></Item><QuantityPurchased>2</QuantityPurchased><TransactionID>7001"
           "</TransactionID></Transaction>";
}

std::vector<std::string> childNames(xml::Node node)
{
    std::vector<std::string> names;
    for (xml::Node c : node.elements())
        names.push_back(c.name());
    return names;
}

// A loopback port that nobody listens on.
int closedPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof at;
    ::bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&at), &len);
    ::close(fd);
    return ntohs(at.sin_port);
}

} // namespace

TEST(SmtpPort, EmptyMeansTwentyFiveAndOnlyWholePortNumbersPass)
{
    EXPECT_EQ(smtpPort("").port, 25);
    EXPECT_EQ(smtpPort("   ").port, 25);
    EXPECT_TRUE(smtpPort("").ok());
    EXPECT_EQ(smtpPort("587").port, 587);
    EXPECT_EQ(smtpPort(" 2525\t").port, 2525);
    EXPECT_EQ(smtpPort("1").port, 1);
    EXPECT_EQ(smtpPort("65535").port, 65535);
    EXPECT_EQ(smtpPort("00025").port, 25);
    for (const char *bad :
         {"0", "65536", "99999999999999999999999", "0065536", "-25", "+25", "25a", "2 5", "1e3", "25.0", "smtp"}) {
        SmtpPort p = smtpPort(bad);
        EXPECT_FALSE(p.ok()) << bad;
        EXPECT_EQ(p.error, std::string("The SMTP port \"") + bad +
                               "\" is not a whole number from 1 to 65535. Correct it under Tools > Options; no "
                               "message was sent.");
    }
}

TEST(SmtpRecipient, FoundWithheldOrMissing)
{
    xml::Document found = parse(order("1", "anna_b", "<Email>anna@example.com</Email>", "Anna", "Mug"));
    Recipient r = orderRecipient(found.root());
    EXPECT_EQ(r.status, Recipient::Found);
    EXPECT_EQ(r.address, "anna@example.com");
    EXPECT_EQ(r.message, "");

    xml::Document withheld = parse(order("1", "anna_b", "<Email>Invalid Request</Email>", "Anna", "Mug"));
    r = orderRecipient(withheld.root());
    EXPECT_EQ(r.status, Recipient::Withheld);
    EXPECT_EQ(r.address, "");
    EXPECT_EQ(r.message, "Unable to obtain email address for anna_b");

    for (const char *email : {"", "<Email/>"}) {
        xml::Document missing = parse(order("1", "bob_c", email, "Bob", "Mug"));
        r = orderRecipient(missing.root());
        EXPECT_EQ(r.status, Recipient::Missing) << email;
        EXPECT_EQ(r.message, "No email address is stored for bob_c.");
    }
}

TEST(SentMessageRecord, MessageIdIsTheDayCountInFifteenDigits)
{
    EXPECT_EQ(smtpMessageId(DateTime::fromParts(2008, 1, 5, 9, 3, 7)), "SMTP-394523771643519");
    EXPECT_EQ(smtpMessageId(DateTime::fromParts(2008, 1, 5, 12, 0, 0)), "SMTP-000000000394525");
    EXPECT_EQ(smtpMessageId(DateTime::fromParts(2008, 1, 5)), "SMTP-000000000039452");
    // The milliseconds count: two messages a moment apart get two ids.
    EXPECT_EQ(smtpMessageId(DateTime::fromParts(2026, 3, 14, 15, 9, 26, 535)), "SMTP-460956315571181");
    EXPECT_NE(smtpMessageId(DateTime::fromParts(2026, 3, 14, 15, 9, 26, 536)),
              smtpMessageId(DateTime::fromParts(2026, 3, 14, 15, 9, 26, 535)));
}

TEST(SentMessageRecord, AppendedAfterWhatIsThereAndSavedAsGolden)
{
    test::MockClock clock(DateTime::fromParts(2008, 1, 5, 9, 3, 7));
    xml::Document sent = parse("<?xml version=\"1.0\" encoding=\"utf-8\"?><Messages><Message><MessageID>ebay-1"
                               "</MessageID></Message></Messages>");
    xml::Document first = parse(order("110022", "anna_b", "", "Anna", "Mug"));
    xml::Node record = appendSentMessageRecord(sent, first.root(), "Corner Shop <shop@corner.example>",
                                               "re: eBay Item 110022 - Mug & <Cup>", "Hi Anna,\r\n\r\nThanks!", clock);
    ASSERT_TRUE(record);
    EXPECT_EQ(childNames(record), (std::vector<std::string>{"MessageSystem", "Sender", "SendToName", "Subject",
                                                            "MessageID", "Text", "ReceiveDate", "ItemID"}));
    clock.advanceSecs(90);
    xml::Document second = parse(order("330044", "bob_c", "", "Bob", "Plate"));
    appendSentMessageRecord(sent, second.root(), "shop@corner.example", "Plate", "", clock);

    test::TempDir dir;
    ASSERT_TRUE(sent.save(dir / "SentMessages.xml"));
    const std::filesystem::path golden = std::filesystem::path(TW_MESSAGING_TEST_DATA) / "SentMessages.xml";
    if (std::getenv("TW_UPDATE_GOLDEN")) test::writeFile(golden, test::readFile(dir / "SentMessages.xml"));
    EXPECT_EQ(test::readFile(dir / "SentMessages.xml"), test::readFile(golden)) << golden;

    // A document without a root gets one.
    xml::Document bare;
    ASSERT_TRUE(appendSentMessageRecord(bare, first.root(), "s", "t", "x", clock));
    EXPECT_EQ(bare.root().name(), "Messages");
    EXPECT_EQ(bare.root().elements().size(), 1u);
}

TEST(SmtpSend, SettingsThatStopTheSendBeforeAnyConnection)
{
    SmtpMessage m;
    m.server = " ";
    m.to = "anna@example.com";
    SendResult r = sendSmtpMessage(m);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.errorNumber, 0);
    EXPECT_EQ(r.errorDescription, "No SMTP server is set. Enter one under Tools > Options; no message was sent.");

    m.server = "127.0.0.1";
    m.port = 70000;
    r = sendSmtpMessage(m);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.errorDescription, smtpPort("70000").error);

    // A server that is not there: the socket's own error comes back.
    m.port = closedPort();
    m.timeoutSeconds = 5;
    r = sendSmtpMessage(m);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.errorSource, "Winsock");
    EXPECT_EQ(r.errorNumber, 10061);
}

class SmtpSendServerTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string problem = sink.start();
        ASSERT_TRUE(problem.empty()) << problem;
    }
    test::SmtpSink sink;
};

TEST_F(SmtpSendServerTest, OrderEmailsAsReceivedAndRecorded)
{
    test::MockClock clock(DateTime::fromParts(2008, 1, 5, 9, 3, 7), -5 * 3600);
    xml::Document details =
        parse("<GeteBayDetailsResponse><ShippingServiceDetails><ShippingService>USPSPriority</ShippingService>"
              "<ShippingCarrier>USPS</ShippingCarrier></ShippingServiceDetails></GeteBayDetailsResponse>");
    // The order selection of a run: three orders, the second without an
    // address, the third for a mailbox the server refuses after the data.
    xml::Document selection =
        parse("<Transactions>" +
              order("110022", "anna_b", "<Email>anna@example.com</Email>", "Anna  Maria Berg", "Blue Mug") +
              order("330044", "bob_c", "<Email/>", "Bob", "Plate") +
              order("550066", "carl_d", "<Email>reject@example.com</Email>", "Carl", "Bowl") + "</Transactions>");
    xml::Document sent = parse("<Messages/>");

    EmailRun run;
    run.server = "127.0.0.1";
    run.port = sink.port();
    run.from = "Corner Shop <shop@corner.example>";
    run.ccSender = true;
    run.subjectTemplate = "re: eBay Item {Item/ItemID} - {Item/Title}";
    run.bodyTemplate = "Hi {Buyer/FirstName},\r\n\r\n{Tagged/TransactionList}\r\n.\r\nCarrier: "
                       "{ShippingDetails/ShippingCarrier}, tracking {ShippingDetails/ShipmentTrackingNumber}";
    run.eBayDetails = &details;
    run.timeoutSeconds = 10;

    std::vector<std::string> trace;
    std::vector<xml::Node> orders = selection.root().elements();
    OrderEmailResult r =
        sendOrderEmail(run, orders[0], sent, clock, [&](const std::string &line) { trace.push_back(line); });
    EXPECT_EQ(r.status, OrderEmailResult::Sent) << r.send.errorDescription;
    EXPECT_NE(std::find(trace.begin(), trace.end(), ">>> DATA"), trace.end());

    QJsonObject message = sink.received(1);
    ASSERT_FALSE(message.isEmpty()) << "the server kept no message";
    EXPECT_EQ(message["mail_from"].toString(), "shop@corner.example");
    EXPECT_EQ(test::SmtpSink::recipients(message),
              (std::vector<std::string>{"anna@example.com", "shop@corner.example"}));
    std::vector<std::pair<std::string, std::string>> headers = {
        {"Date", "Sat, 05 Jan 2008 09:03:07 -0500"},    {"To", "anna@example.com"},
        {"From", "Corner Shop <shop@corner.example>"},  {"Cc", "Corner Shop <shop@corner.example>"},
        {"Subject", "re: eBay Item 110022 - Blue Mug"}, {"MIME-Version", "1.0"},
        {"Content-Type", "text/plain; charset=UTF-8"},  {"Content-Transfer-Encoding", "quoted-printable"},
        {"X-Mailer", "Brisklet SendMail Class 1.0"},
    };
    EXPECT_EQ(test::SmtpSink::headers(message), headers);
    // The list holds this order alone, though the order sits in a selection of three.
    EXPECT_EQ(message["body"].toString().toStdString(),
              "Hi Anna,\r\n\r\n2 x [MUG-B] Blue Mug (110022)\r\n.\r\nCarrier: USPS, tracking 9400111\r\n");

    ASSERT_TRUE(r.record);
    EXPECT_EQ(r.record.parent(), sent.root());
    EXPECT_EQ(r.record.select("Sender").text(), "Corner Shop <shop@corner.example>");
    EXPECT_EQ(r.record.select("SendToName").text(), "anna_b");
    EXPECT_EQ(r.record.select("Subject").text(), "re: eBay Item 110022 - Blue Mug");
    EXPECT_EQ(r.record.select("Text").text(),
              "Hi Anna,\r\n\r\n2 x [MUG-B] Blue Mug (110022)\r\n.\r\nCarrier: USPS, tracking 9400111");
    EXPECT_EQ(r.record.select("MessageID").text(), "SMTP-394523771643519");
    EXPECT_EQ(r.record.select("ReceiveDate").text(), "2008-01-05T09:03:07Z");
    EXPECT_EQ(r.record.select("ItemID").text(), "110022");

    // No address: skipped, nothing sent, nothing recorded.
    r = sendOrderEmail(run, orders[1], sent, clock);
    EXPECT_EQ(r.status, OrderEmailResult::Skipped);
    EXPECT_EQ(r.message, "No email address is stored for bob_c.");
    EXPECT_FALSE(r.record);

    // Refused after the data: a failure with the client's error, nothing recorded.
    run.ccSender = false;
    r = sendOrderEmail(run, orders[2], sent, clock);
    EXPECT_EQ(r.status, OrderEmailResult::Failed);
    EXPECT_EQ(r.send.errorNumber, 5);
    EXPECT_EQ(r.send.errorSource, "SendMail");
    EXPECT_EQ(r.send.errorDescription, "The message was not accepted by the server. The server answered: 554 Message "
                                       "refused: content not accepted");
    EXPECT_FALSE(r.send.mayHaveBeenSent);
    EXPECT_FALSE(r.record);

    EXPECT_EQ(sent.root().elements().size(), 1u);
    EXPECT_EQ(sink.count(), 1);
}
