#include "bench/order_data.h"

#include "platform/xml.h"

#include <cstdio>
#include <fstream>

namespace tw::bench {
namespace {

const char *kFirst[] = {"Mary", "José", "Li", "Sean", "Ana", "Tom", "Zoë", "Raj"};
const char *kLast[] = {"O'Brien", "Smith & Sons", "Müller", "Nguyen", "García", "Kowalski", "Dubois", "Tanaka"};
// A third of the orders not shipped; of the shipped, every other one delivered.
bool shippedOrder(int k)
{
    return k % 3 != 0;
}

const char *kTitles[] = {"Vintage brass lamp <b>rare</b>", "USB-C cable 2m & adapter",     "Wool scarf, hand-knit",
                         "Replacement filter (pack of 3)", "Children's book \"The Tide\"", "Ceramic mug 12oz"};

} // namespace

std::string transactionsXml(int count, int firstTransaction)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Transactions>";
    out.reserve(size_t(count) * 1700 + 100);
    char buf[4096];
    for (int i = 0; i < count; ++i) {
        int k = firstTransaction + i;
        int day = 1 + k % 28, month = 1 + (k / 28) % 12, year = 2005 + (k / 336) % 4;
        const std::string firstText = xml::escape(kFirst[k % 8]), lastText = xml::escape(kLast[(k / 8) % 8]),
                          titleText = xml::escape(kTitles[k % 6]);
        const char *first = firstText.c_str(), *last = lastText.c_str(), *title = titleText.c_str();
        bool shipped = shippedOrder(k);
        std::string shippedTime = shipped ? "<ShippedTime>" + std::to_string(year) + "-02-0" +
                                                std::to_string(1 + k % 9) + "T10:00:00.000Z</ShippedTime>"
                                          : "";
        std::snprintf(
            buf, sizeof buf,
            "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\">"
            "<AmountPaid currencyID=\"USD\">%d.%02d</AmountPaid>"
            "<Buyer><AboutMePage>false</AboutMePage><EIASToken>nY+sHZ2PrBmdj6wVnY+sEZ2PrA2dj6w%08dj6x9nY+seQ==</"
            "EIASToken>"
            "<Email>%s.%d@example.com</Email><FeedbackScore>%d</"
            "FeedbackScore><RegistrationDate>2001-05-0%dT12:00:00.000Z</RegistrationDate>"
            "<Site>US</Site><Status>Confirmed</Status><UserID>buyer%d</UserID><BuyerInfo><ShippingAddress><Name>%s "
            "%s</Name><Street1>%d Harbour Road</Street1>"
            "<Street2></Street2><CityName>Portland</CityName><StateOrProvince>OR</StateOrProvince><Country>US</Country>"
            "<CountryName>United States</CountryName><Phone>503 555 01%02d</Phone><PostalCode>97201</PostalCode>"
            "</ShippingAddress></BuyerInfo></Buyer>"
            "<ShippingDetails><ShippingServiceOptions><ShippingService>USPSPriority</"
            "ShippingService><ShippingServiceCost currencyID=\"USD\">4.95</ShippingServiceCost>"
            "</ShippingServiceOptions><ShippingType>Flat</ShippingType>"
            "<SellingManagerSalesRecordNumber>%d</SellingManagerSalesRecordNumber>"
            "%s<ShippingServiceUsed>USPSPriority</ShippingServiceUsed></ShippingDetails>"
            "<ConvertedAmountPaid currencyID=\"USD\">%d.%02d</ConvertedAmountPaid><ConvertedTransactionPrice "
            "currencyID=\"USD\">%d.00</ConvertedTransactionPrice>"
            "<CreatedDate>%d-%02d-%02dT08:%02d:00.000Z</CreatedDate>"
            "<Item><ItemID>%d</ItemID>"
            "<SellingStatus><CurrentPrice "
            "currencyID=\"USD\">%d.00</CurrentPrice><QuantitySold>%d</QuantitySold></SellingStatus>"
            "<Site>US</Site><Title>%s</Title><SKU>SKU-%04d</SKU></Item>"
            "<QuantityPurchased>%d</QuantityPurchased>"
            "<Status><eBayPaymentStatus>NoPaymentFailure</eBayPaymentStatus><CheckoutStatus>CheckoutComplete</"
            "CheckoutStatus>"
            "<LastTimeModified>%d-%02d-%02dT09:00:00.000Z</LastTimeModified><PaymentMethodUsed>PayPal</"
            "PaymentMethodUsed>"
            "<CompleteStatus>Complete</CompleteStatus><BuyerSelectedShipping>true</BuyerSelectedShipping></Status>"
            "<TransactionID>%d</TransactionID><TransactionPrice currencyID=\"USD\">%d.00</TransactionPrice>"
            "<ExternalTransaction><ExternalTransactionID>%08dPP%06d</ExternalTransactionID>"
            "<ExternalTransactionTime>%d-%02d-%02dT08:30:00.000Z</ExternalTransactionTime>"
            "<FeeOrCreditAmount currencyID=\"USD\">0.59</FeeOrCreditAmount><PaymentOrRefundAmount "
            "currencyID=\"USD\">%d.%02d</PaymentOrRefundAmount>"
            "</ExternalTransaction>%s<PaidTime>%d-%02d-%02dT08:30:00.000Z</PaidTime>"
            "<ShippingServiceSelected><ShippingService>USPSPriority</ShippingService><ShippingServiceCost "
            "currencyID=\"USD\">4.95</ShippingServiceCost></ShippingServiceSelected>"
            "<SellingManagerProductDetails><ProductName>%s</ProductName></SellingManagerProductDetails>"
            "</Transaction>\n",
            10 + k % 90, k % 100, k, first, k, k % 5000, 1 + k % 9, k % 20000, first, last, 1 + k % 999, k % 100,
            1000 + k,
            shipped ? ("<ShipmentTrackingNumber>9101" + std::to_string(100000000000000000LL + k) +
                       "</ShipmentTrackingNumber>")
                          .c_str()
                    : "",
            10 + k % 90, k % 100, 10 + k % 90, year, month, day, k % 60, 1100000000 + k / 3, 10 + k % 90, 1 + k % 3,
            title, k % 5000, 1 + k % 3, year, month, day, k, 10 + k % 90, k, k, year, month, day, 10 + k % 90, k % 100,
            shippedTime.c_str(), year, month, day, title);
        out += buf;
    }
    out += "</Transactions>\n";
    return out;
}

std::filesystem::path transactionsFile(int count)
{
    auto file =
        std::filesystem::temp_directory_path() / ("tidewell-bench-orders-thirds-" + std::to_string(count) + ".xml");
    if (!std::filesystem::exists(file)) xml::writeFileAtomically(file, transactionsXml(count));
    return file;
}

namespace {

std::string trackingNumber(int k)
{
    return "9101" + std::to_string(100000000000000000LL + k);
}

} // namespace

std::string trackingNumbersXml(int count)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<TrackingNumbers>";
    int shipped = 0;
    for (int k = 0; k < count; ++k) {
        if (!shippedOrder(k)) continue;
        bool delivered = shipped++ % 2 == 0;
        out += "<TrackingNumber ID=\"" + trackingNumber(k) +
               "\"><LastChecked>2008-01-01 00:00:00</LastChecked><TrackSummary><EventTime>9:24 am</EventTime>"
               "<EventDate>January 7, 2008</EventDate><Event>" +
               std::string(delivered ? "Delivered, In/At Mailbox" : "Out for Delivery") +
               "</Event><EventCity>PORTLAND</EventCity><EventState>OR</EventState></TrackSummary>"
               "<TrackDetail><EventDate>January 4, 2008</EventDate><Event>Acceptance</Event></TrackDetail>"
               "</TrackingNumber>\n";
    }
    return out + "</TrackingNumbers>\n";
}

std::string olderSettingsXml()
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><Settings><eBayID>harbour-goods</eBayID>"
           "<LastGetSellerTransactions>2008-01-04T09:00:00Z</LastGetSellerTransactions>"
           "<GetSellerTransactionsMaxDays>28</GetSellerTransactionsMaxDays><eBayAuthToken>AgAAAA**token</eBayAuthToken>"
           "<eBayAuthTokenHardExpirationTime/><DeliveredFollowUpMessage>Hello {Buyer/UserID}, did it arrive?"
           "</DeliveredFollowUpMessage><InTransitMessage/><NotShippedMessage/><ArchivedMessage/>"
           "<DefaultBrowser></DefaultBrowser><LastTab>InTransit</LastTab></Settings>";
}

std::filesystem::path dataFolder(int orders)
{
    auto dir = std::filesystem::temp_directory_path() / ("tidewell-bench-data-thirds-" + std::to_string(orders));
    if (std::filesystem::exists(dir / "Transactions.xml")) return dir;
    std::filesystem::create_directories(dir);
    auto write = [&](const char *name, const std::string &text) { xml::writeFileAtomically(dir / name, text); };

    write("ArchivedTransactions.xml", transactionsXml(orders / 5, orders));
    write("TrackingNumbers.xml", trackingNumbersXml(orders));
    std::string questions = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Messages>";
    std::string sent = questions;
    for (int i = 0; i < 2000; ++i) {
        const std::string item = std::to_string(1100000000 + (i * 7) % (orders / 3 + 1));
        questions += "<MemberMessageExchange xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>" + item +
                     "</ItemID><Title>Vintage brass lamp</Title></Item><Question><MessageType>AskSellerQuestion"
                     "</MessageType><SenderID>buyer" +
                     std::to_string(i) +
                     "</SenderID><Subject>Question</Subject><Body>Does it come with a shade &amp; bulb?</Body>"
                     "</Question><MessageStatus>Answered</MessageStatus><CreationDate>2008-01-0" +
                     std::to_string(1 + i % 9) + "T10:00:00.000Z</CreationDate></MemberMessageExchange>\n";
        sent += "<Message xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Sender>harbour-goods</Sender><SendToName>buyer" +
                std::to_string(i) + "</SendToName><Subject>Your order</Subject><MessageID>" +
                std::to_string(7000000 + i) + "</MessageID><ItemID>" + item +
                "</ItemID><Text>We shipped your order today. Thank you!</Text>"
                "<ReceiveDate>2008-01-03T10:00:00.000Z</ReceiveDate></Message>\n";
    }
    write("Messages.xml", questions + "</Messages>\n");
    write("SentMessages.xml", sent + "</Messages>\n");
    std::string feedback = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Feedbacks>";
    for (int i = 0; i < 5000; ++i)
        feedback +=
            "<FeedbackDetail xmlns=\"urn:ebay:apis:eBLBaseComponents\"><CommentingUser>buyer" + std::to_string(i) +
            "</CommentingUser><CommentingUserScore>42</CommentingUserScore><CommentText>Great seller, fast "
            "shipping!</CommentText><CommentTime>2007-12-20T10:00:00.000Z</CommentTime><CommentType>Positive"
            "</CommentType><ItemID>" +
            std::to_string(1100000000 + i / 3) + "</ItemID><TransactionID>" + std::to_string(i) +
            "</TransactionID><FeedbackID>" + std::to_string(5000000000LL + i) + "</FeedbackID></FeedbackDetail>\n";
    write("Feeback.xml", feedback + "</Feedbacks>\n");
    std::string notes = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Notes>";
    for (int i = 0; i < 1000; ++i)
        notes += "<Note><TransactionID>" + std::to_string(i * 3) + "</TransactionID><ItemID>" +
                 std::to_string(1100000000 + i) + "</ItemID><Text>Buyer asked for gift wrap.</Text></Note>\n";
    write("Notes.xml", notes + "</Notes>\n");
    std::string labels = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ShippingLabels>";
    for (int i = 0; i < 2000; ++i)
        labels += "<ShippingLabel><PackingList><Item><ItemID>" + std::to_string(1100000000 + i) +
                  "</ItemID><TransactionID>" + std::to_string(i * 3) +
                  "</TransactionID></Item></PackingList><TimeStamp>2008-01-03T10:00:00Z</TimeStamp><Carrier>USPS"
                  "</Carrier><TrackingNumber>" +
                  trackingNumber(i * 3 + 1) +
                  "</TrackingNumber><Postage>4.95</Postage><Package><Status>Success</Status><FinalPostage>4.95"
                  "</FinalPostage></Package></ShippingLabel>\n";
    write("ShippingLabels.xml", labels + "</ShippingLabels>\n");
    write("Items.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?><Items/>");
    write("Settings.xml", olderSettingsXml());
    // Last: its presence says the folder is complete.
    write("Transactions.xml", transactionsXml(orders));
    return dir;
}

} // namespace tw::bench
