// Order rows as HTML: every cell, the history, the links, and outside text
// that must stay text. The HTML is read back with libxml2's HTML parser.

#include "platform/config.h"
#include "platform/html.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"
#include "ui/commandlink.h"
#include "ui/rows.h"

#include <QDateTime>
#include <QLocale>
#include <QUrl>
#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>

using namespace tw;
using namespace tw::ui;

namespace {

const char *kNs = " xmlns=\"urn:ebay:apis:eBLBaseComponents\"";

xml::Document parseHtml(const std::string &html)
{
    const std::string page = "<html><body><table>" + html + "</table></body></html>";
    return xml::Document(htmlReadMemory(page.data(), int(page.size()), nullptr, "UTF-8",
                                        HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING));
}

std::string order(const std::string &item, const std::string &txn, const std::string &inner)
{
    return std::string("<Transaction") + kNs + "><Item><ItemID>" + item + "</ItemID><Title>Lamp</Title></Item>" +
           "<TransactionID>" + txn + "</TransactionID>" + inner + "</Transaction>";
}

struct RowsTest : ::testing::Test {
    void SetUp() override
    {
        setConfig(Config());
        session.openStore(dir.path());
        session.eBayDetails = xml::Document::parse(
            std::string("<GeteBayDetailsResponse") + kNs +
            "><ShippingServiceDetails><ShippingService>USPSPriority</ShippingService><ShippingCarrier>USPS"
            "</ShippingCarrier><Description>Priority Mail</Description></ShippingServiceDetails>"
            "<ShippingServiceDetails><ShippingService>UPSGround</ShippingService><ShippingCarrier>UPS"
            "</ShippingCarrier><Description>UPS Ground</Description></ShippingServiceDetails>"
            "<URLDetails><URLType>ViewItemURL</URLType><URL>http://item.example/v?i=</URL></URLDetails>"
            "</GeteBayDetailsResponse>");
    }
    void store(store::Doc d, const std::string &text) { session.store.doc(d) = xml::Document::parse(text); }
    // The row of the only order, drawn in `view` at `position`.
    xml::Document draw(std::string_view view, int position = 0)
    {
        RowBuilder builder(session, view, clock.localNow());
        return parseHtml(builder.row(session.store.transactions().root().firstElement(), position));
    }
    std::string text(const xml::Document &doc, const std::string &xpath) { return GetNodeText(doc, xpath); }

    test::MockClock clock{DateTime::fromParts(2008, 1, 9, 15, 0, 0)};
    test::TempDir dir;
    Session session;
};

TEST_F(RowsTest, AShippedOrderShowsItsLinksStateServiceAndHistoryNewestFirst)
{
    store(store::Doc::Transactions,
          "<Transactions>" +
              order("11", "22",
                    "<QuantityPurchased>2</QuantityPurchased><Buyer><UserID>bob</UserID><Email>bob@example.com</Email>"
                    "<FeedbackScore>57</FeedbackScore><Status>Suspended</Status><EIASToken>eias</EIASToken></Buyer>"
                    "<ShippedTime>2008-01-05T23:30:00.000Z</ShippedTime><ShippingDetails>"
                    "<SellingManagerSalesRecordNumber>101</SellingManagerSalesRecordNumber>"
                    "<ShipmentTrackingNumber>9101</ShipmentTrackingNumber><ShippingServiceUsed>USPSPriority"
                    "</ShippingServiceUsed></ShippingDetails><ShippingServiceSelected><ShippingServiceCost>5.00"
                    "</ShippingServiceCost></ShippingServiceSelected><PaypalTransaction><TRANSACTIONID>P1"
                    "</TRANSACTIONID><ORDERTIME>2008-01-04T10:00:00Z</ORDERTIME><AMT>20.00</AMT><EMAIL>"
                    "payer@example.com</EMAIL><PAYMENTSTATUS>Pending</PAYMENTSTATUS><NOTE>Gift wrap</NOTE>"
                    "</PaypalTransaction>") +
              "</Transactions>");
    store(store::Doc::TrackingNumbers, "<TrackingNumbers><TrackingNumber ID=\"9101\"><LastChecked>2008-01-09 12:00:00"
                                       "</LastChecked><TrackSummary><Event>Arrival at Unit</Event><EventDate>January "
                                       "8, 2008</EventDate></TrackSummary></TrackingNumber></TrackingNumbers>");
    store(store::Doc::Messages, std::string("<Messages><MemberMessageExchange") + kNs +
                                    "><Item><ItemID>11</ItemID></Item><Question><SenderID>bob</SenderID><Body>Where "
                                    "is it?</Body></Question><CreationDate>2008-01-06T08:00:00.000Z</CreationDate>"
                                    "</MemberMessageExchange></Messages>");
    store(store::Doc::Feedback, std::string("<Feedbacks><FeedbackDetail") + kNs +
                                    "><ItemID>11</ItemID><TransactionID>22</TransactionID><CommentType>Negative"
                                    "</CommentType><CommentText>Slow</CommentText><CommentTime>2008-01-08T08:00:00"
                                    ".000Z</CommentTime></FeedbackDetail></Feedbacks>");
    store(store::Doc::SentMessages,
          "<Messages><Message><ItemID>11</ItemID><SendToName>bob</SendToName><ReceiveDate>2008-01-07T08:00:00.000Z"
          "</ReceiveDate><Text>&lt;html&gt;&lt;body&gt;&lt;div&gt;eBay chrome&lt;/div&gt;&lt;div id=\"TextCTA\"&gt;"
          "On its way&lt;/div&gt;&lt;/body&gt;&lt;/html&gt;</Text></Message><Message><ItemID>11</ItemID><SendToName>"
          "bob</SendToName><ReceiveDate>2008-01-03T08:00:00.000Z</ReceiveDate><MessageSystem>SMTP</MessageSystem>"
          "<Text>Thanks!</Text></Message></Messages>");
    store(store::Doc::Notes, "<Notes><Note><TransactionID>22</TransactionID><ItemID>11</ItemID><Text>call "
                             "\"him\"</Text></Note></Notes>");

    xml::Document row = draw(kInTransit, 0);
    EXPECT_EQ(text(row, "//tr/@itemid"), "11");
    EXPECT_EQ(text(row, "//tr/@transactionid"), "22");
    EXPECT_EQ(text(row, "//tr/@trackingnumber"), "9101");
    EXPECT_EQ(text(row, "//tr/@buyereiastoken"), "eias");
    EXPECT_EQ(text(row, "//tr/@style"), "background-color: #DDDDFF;");
    ASSERT_EQ(row.selectAll("//tr/td").size(), 7u);
    EXPECT_EQ(text(row, "//tr/td[1]/a"), "101");
    EXPECT_EQ(text(row, "//tr/td[1]/a/@href"), config().get("ebay/SalesRecordUrl") + "&itemid=11&transid=22");
    EXPECT_TRUE(row.select("//tr/td[1]/input[@type='checkbox' and @name='tagged']"));
    EXPECT_EQ(text(row, "//tr/td[2]"), "4"); // shipped on the 5th, now the 9th

    EXPECT_EQ(text(row, "//tr/td[3]/a[1]/@href"), "http://item.example/v?i=11");
    EXPECT_NE(text(row, "//tr/td[3]").find("Qty: 2"), std::string::npos);
    EXPECT_EQ(text(row, "//tr/td[3]/div[1]/a[1]"), "Contact Buyer");
    EXPECT_EQ(text(row, "//tr/td[3]/div[1]/a[1]/@href"),
              config().get("ebay/ContactUrl") + "?ReturnUserEmail&requested=bob&redirect=0&iid=11&TransactionID=22"
                                                "&ItemID=11");
    EXPECT_EQ(text(row, "//tr/td[3]/div[1]/a[2]"), "57");
    EXPECT_EQ(text(row, "//tr/td[3]/div[1]/a[3]/@href"),
              config().get("ebay/FeedbackUrl") + "?LeaveFeedback2&transactid=22&item=11&useridto=bob");
    EXPECT_NE(text(row, "//tr/td[3]").find("[Suspended] bob@example.com"), std::string::npos);
    EXPECT_EQ(text(row, "//tr/td[3]//input[@name='note']/@value"), "call \"him\"");

    // History, newest first: feedback (8th), eBay message (7th), question (6th), shipping (5th), PayPal (4th), SMTP
    // (3rd).
    std::vector<xml::Node> entries = row.selectAll("//tr/td[3]/div[@class='history']");
    ASSERT_EQ(entries.size(), 7u);
    auto entry = [&](size_t k) { return entries[k].text(); };
    EXPECT_NE(entry(0).find("Negative Feedback: Slow"), std::string::npos);
    EXPECT_NE(entries[0].attribute("style").find("#ffc4c4"), std::string::npos);
    EXPECT_NE(entry(1).find("On its way"), std::string::npos);
    EXPECT_EQ(entry(1).find("eBay chrome"), std::string::npos);
    EXPECT_NE(entry(2).find("Where is it?"), std::string::npos);
    EXPECT_NE(entry(3).find("Item was shipped."), std::string::npos);
    EXPECT_EQ(entries[3].attribute("title"), "Buyer Paid: $5.00");
    EXPECT_NE(entry(4).find("PayPal payment $20.00 received from payer@example.com (Pending)"), std::string::npos);
    EXPECT_NE(entry(5).find("[PayPal Note] Gift wrap"), std::string::npos);
    EXPECT_NE(entry(6).find("[SMTP]"), std::string::npos);
    EXPECT_NE(entry(6).find("Thanks!"), std::string::npos);

    EXPECT_EQ(text(row, "//tr/td[4]/a"), "9101");
    EXPECT_NE(text(row, "//tr/td[4]/a/@href").find("strOrigTrackNum=9101"), std::string::npos);
    EXPECT_NE(text(row, "//tr/td[4]").find("Last Checked: 3.0 hrs ago"), std::string::npos);
    EXPECT_EQ(text(row, "//tr/td[5]"), "Priority Mail");
    EXPECT_EQ(text(row, "//tr/td[6]/@class"), "status");
    EXPECT_EQ(text(row, "//tr/td[6]"), "Arrival at Unit (in 3 days) Yesterday");

    // The second row has no colour; private mode hides every address.
    settings::set(session.store.settings(), "PrivateMode", "True");
    xml::Document second = draw(kDeliveredNeedsFollowUp, 1);
    EXPECT_EQ(text(second, "//tr/@style"), "");
    const std::string all = second.root().text();
    EXPECT_EQ(all.find("bob@example.com"), std::string::npos);
    EXPECT_EQ(all.find("payer@example.com"), std::string::npos);
    EXPECT_NE(all.find(config().get("privacy/PlaceholderEmail")), std::string::npos);
    // Last Checked belongs to In Transit only.
    EXPECT_EQ(all.find("Last Checked"), std::string::npos);
}

TEST_F(RowsTest, AnUnshippedOrderShowsItsPaymentAndItsChosenService)
{
    store(store::Doc::Transactions,
          "<Transactions>" +
              order("1", "2",
                    "<QuantityPurchased>1</QuantityPurchased><Buyer><UserID>amy</UserID><Email>Invalid Request</Email>"
                    "<Status>Confirmed</Status></Buyer><Status><eBayPaymentStatus>PayPalPaymentInProcess"
                    "</eBayPaymentStatus><BuyerSelectedShipping>false</BuyerSelectedShipping></Status>"
                    "<ShippingServiceSelected><ShippingService>UPSGround</ShippingService></ShippingServiceSelected>") +
              "</Transactions>");
    xml::Document row = draw(kNotShipped);
    EXPECT_EQ(text(row, "//tr/td[2]"), "PayPal Payment In Process");
    EXPECT_EQ(text(row, "//tr/td[5]"), "UPS Ground (Default)");
    const std::string order = text(row, "//tr/td[3]");
    EXPECT_EQ(order.find("Qty"), std::string::npos);
    EXPECT_EQ(order.find("["), std::string::npos);
    EXPECT_NE(order.find(" No Email Address"), std::string::npos);
    EXPECT_EQ(text(row, "//tr/td[3]//div[@class='note']/a"), "Add Note");
    EXPECT_TRUE(row.selectAll("//div[@class='history']").empty());

    xml::Node paid = session.store.transactions().root().firstElement().appendElement("PaidTime", "x");
    (void)paid;
    EXPECT_EQ(text(draw(kNotShipped), "//tr/td[2]/font/b"), "Paid");
}

TEST_F(RowsTest, PostageIsFlaggedOnlyWhenAskedAndBothAmountsAreNumbers)
{
    store(store::Doc::ShippingLabels,
          "<ShippingLabels><ShippingLabel><PackingList><Item><ItemID>1</ItemID><TransactionID>2</TransactionID></Item>"
          "</PackingList><Postage>3.25</Postage></ShippingLabel></ShippingLabels>");
    auto shippingEntry = [&](const std::string &cost) {
        store(store::Doc::Transactions,
              "<Transactions>" +
                  order("1", "2",
                        "<Buyer><UserID>b</UserID></Buyer><ShippedTime>2008-01-05T10:00:00Z</ShippedTime>"
                        "<ShippingServiceSelected><ShippingServiceCost>" +
                            cost +
                            "</ShippingServiceCost></ShippingServiceSelected><PaypalTransaction><TRANSACTIONID>PX&amp;1"
                            "</TRANSACTIONID></PaypalTransaction>") +
                  "</Transactions>");
        xml::Document row = draw(kInTransit);
        return row.select("//div[@class='history' and contains(., 'Item was shipped')]").xml();
    };
    EXPECT_NE(shippingEntry("5.00").find("#909090"), std::string::npos); // flag off
    settings::set(session.store.settings(), "FlagPostageDifferences", "True");
    std::string over = shippingEntry("5.00");
    EXPECT_NE(over.find("Postage: $3.25 (Overcharged)"), std::string::npos);
    EXPECT_NE(over.find("Open form to refund $1.75"), std::string::npos);
    xml::Document row = draw(kInTransit);
    Params refund = parseCommandLink(text(row, "//a[.='Refund']/@href"));
    EXPECT_EQ(refund["Action"], "DisplayPaypalRefundForm");
    EXPECT_EQ(refund["Amount"], "1.75");
    EXPECT_EQ(refund["PaypalTransactionID"], "PX&1"); // one parameter, not two
    EXPECT_EQ(refund.count("1"), 0u);
    EXPECT_NE(shippingEntry("1.00").find("Postage: $3.25 (Discount)"), std::string::npos);
    EXPECT_NE(shippingEntry("3.250").find("#909090"), std::string::npos);
    EXPECT_NE(shippingEntry("free").find("#909090"), std::string::npos);
}

TEST_F(RowsTest, OutsideTextStaysTextAndCannotAddCommandParameters)
{
    const std::string hostile = "x\"&gt;&lt;script&gt;alert(1)&lt;/script&gt;&lt;img src=x onerror=alert(2)&gt;";
    store(store::Doc::Transactions,
          "<Transactions>" +
              order("7&amp;Action=ArchiveAll", "8",
                    "<Buyer><UserID>" + hostile + "</UserID><Email>" + hostile + "</Email><Status>" + hostile +
                        "</Status></Buyer><ShippingDetails><ShipmentTrackingNumber>" + hostile +
                        "</ShipmentTrackingNumber></ShippingDetails>") +
              "</Transactions>");
    store(store::Doc::Notes, "<Notes><Note><TransactionID>8</TransactionID><ItemID>7&amp;Action=ArchiveAll</ItemID>"
                             "<Text>" +
                                 hostile + "</Text></Note></Notes>");
    RowBuilder builder(session, kNotShipped, clock.localNow());
    const std::string html = builder.row(session.store.transactions().root().firstElement(), 0);
    xml::Document row = parseHtml(html);
    EXPECT_TRUE(row.selectAll("//script").empty());
    EXPECT_TRUE(row.selectAll("//img").empty());
    EXPECT_TRUE(row.selectAll("//*[@onerror]").empty());
    EXPECT_EQ(text(row, "//tr/@itemid"), "7&Action=ArchiveAll");
    EXPECT_EQ(text(row, "//input[@name='note']/@value"), "x\"><script>alert(1)</script><img src=x onerror=alert(2)>");

    // Each command link of a row, as the browser hands it over (encoded by
    // the rules of a URL), gives back the ids the row was drawn with, and no
    // more parameters than it wrote.
    for (const std::string item : {"7&Action=ArchiveAll", "LOT 7 & 8", "100%", "#5?x=1", "a+b", "Zo\xC3\xAB"})
        for (bool withNote : {false, true})
            for (std::string_view view : {kNotShipped, kArchived}) {
                store(store::Doc::Transactions,
                      "<Transactions>" + order(xml::escape(item), "T 1&amp;2", "") + "</Transactions>");
                store(store::Doc::Notes, withNote ? "<Notes><Note><TransactionID>T 1&amp;2</TransactionID><ItemID>" +
                                                        xml::escape(item) + "</ItemID><Text/></Note></Notes>"
                                                  : std::string("<Notes/>"));
                std::vector<std::string> actions;
                const xml::Document drawn = draw(view);
                for (xml::Node href : drawn.selectAll("//a/@href")) {
                    const std::string travelled =
                        QUrl(QString::fromStdString(href.text())).toString(QUrl::FullyEncoded).toStdString();
                    if (!isCommandLink(travelled)) continue;
                    Params p = parseCommandLink(travelled);
                    actions.push_back(p["Action"]);
                    const bool lower = p.count("itemID") == 1; // the archive actions' spelling
                    EXPECT_EQ(p.size(), 3u) << travelled;
                    EXPECT_EQ(p[lower ? "itemID" : "ItemID"], item) << travelled;
                    EXPECT_EQ(p[lower ? "transactionID" : "TransactionID"], "T 1&2") << travelled;
                }
                const std::string move = view == kArchived ? "RestoreTransaction" : "ArchiveTransaction";
                const std::vector<std::string> expected =
                    withNote ? std::vector<std::string>{"SaveNoteClick", "DeleteNoteClick", move}
                             : std::vector<std::string>{"AddNoteClick", move};
                EXPECT_EQ(actions, expected) << item;
            }
}

} // namespace

TEST(HtmlText, LinesOfAMessageStaySeparateWordsAndScriptsAreLeftOut)
{
    EXPECT_EQ(html::elementText("<html><body><div>chrome</div><div id=\"TextCTA\">Hi Ann,<br>we shipped "
                                "it.<p>Thanks!</p><script>var x = 1;</script></div></body></html>",
                                "TextCTA"),
              "Hi Ann, we shipped it. Thanks!");
    EXPECT_EQ(html::elementText("<div name=\"TextCTA\">by name</div>", "TextCTA"), "by name");
    EXPECT_EQ(html::elementText("<div>no such element</div>", "TextCTA"), "");
    EXPECT_EQ(html::elementText("", "TextCTA"), "");
    EXPECT_EQ(html::text("<b>plain</b><style>p {}</style> words"), "plain words");
}

TEST(LocalDates, DatesAreWrittenAsTheSystemWritesThem)
{
    // Against Qt's own rendering of the same wall-clock times.
    const QLocale locale = QLocale::system();
    for (const char *text :
         {"2008-01-05T09:03:07.000Z", "2026-12-31T23:59:59Z", "2024-02-29T00:00:00Z", "1999-07-04T12:30:05Z"}) {
        DateTime t = eBayTimeToDate(text);
        QDateTime q(QDate(t.year(), t.month(), t.day()), QTime(t.hour(), t.minute(), t.second()), Qt::UTC);
        EXPECT_EQ(localDateText(text, 0), locale.toString(q, QLocale::ShortFormat).toStdString()) << text;
    }
    // The eBay clock offset is taken off: eBay two hours ahead.
    DateTime t = eBayTimeToDate("2008-01-05T09:03:07Z").addDays(-2.0 / 24);
    QDateTime q(QDate(t.year(), t.month(), t.day()), QTime(t.hour(), t.minute(), t.second()), Qt::UTC);
    EXPECT_EQ(localDateText("2008-01-05T09:03:07Z", 2.0 / 24), locale.toString(q, QLocale::ShortFormat).toStdString());
    EXPECT_EQ(localDateText("", 0), "");
    EXPECT_EQ(localDateText("soon", 0), "");
}
