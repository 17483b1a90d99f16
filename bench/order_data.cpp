#include "bench/order_data.h"

#include "platform/xml.h"

#include <cstdio>
#include <fstream>

namespace tw::bench {
namespace {

const char *kFirst[] = {"Mary", "José", "Li", "Sean", "Ana", "Tom", "Zoë", "Raj"};
const char *kLast[] = {"O'Brien", "Smith & Sons", "Müller", "Nguyen", "García", "Kowalski", "Dubois", "Tanaka"};
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
        bool shipped = k % 4 != 0;
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
    auto file = std::filesystem::temp_directory_path() / ("tidewell-bench-orders-" + std::to_string(count) + ".xml");
    if (!std::filesystem::exists(file)) xml::writeFileAtomically(file, transactionsXml(count));
    return file;
}

} // namespace tw::bench
