// Any text as a message template, filled from an order with a label and
// eBay's service details; the second half of the input, when it parses, is
// the order itself. Nothing fails, and a template without a brace comes back
// unchanged.
#include "messaging/FillTemplate.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tw;

namespace {

constexpr const char *kOrder =
    "<Transactions><Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>11</ItemID><Title>Lamp "
    "{Item/Title}</Title><SKU>L-1</SKU></Item><TransactionID>22</TransactionID><QuantityPurchased>2"
    "</QuantityPurchased><Buyer><UserID>bob</UserID><BuyerInfo><ShippingAddress><Name>Ann  Lee </Name>"
    "</ShippingAddress></BuyerInfo></Buyer><ShippingDetails><ShippingServiceUsed>USPSPriority</ShippingServiceUsed>"
    "<ShipmentTrackingNumber>9101</ShipmentTrackingNumber></ShippingDetails></Transaction>"
    "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>12</ItemID></Item></Transaction>"
    "</Transactions>";
constexpr const char *kLabels =
    "<ShippingLabels><ShippingLabel><PackingList><Item><ItemID>11</ItemID><TransactionID>22</TransactionID></Item>"
    "</PackingList><Postage>4.10</Postage><Package><MailClass>PRIORITY</MailClass><ToName>Ann</ToName><ToCity>Salem"
    "</ToCity></Package></ShippingLabel></ShippingLabels>";
constexpr const char *kDetails =
    "<GeteBayDetailsResponse><ShippingServiceDetails><ShippingService>USPSPriority</ShippingService>"
    "<ShippingCarrier>USPS</ShippingCarrier><Description>Priority Mail</Description></ShippingServiceDetails>"
    "</GeteBayDetailsResponse>";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view input = fuzz::text(data, size);
    const size_t split = input.find('\0');
    const std::string_view templateText = input.substr(0, split);
    static const xml::Document labels = xml::Document::parse(kLabels);
    static const xml::Document details = xml::Document::parse(kDetails);
    xml::Document orders = xml::Document::parse(kOrder);
    if (split != std::string_view::npos)
        if (xml::Document own = xml::Document::parseUntrusted(input.substr(split + 1)); own && own.root())
            orders = std::move(own);
    xml::Node order = orders.root() ? orders.root().firstElement() : xml::Node();

    const std::string filled = messaging::FillTemplateWithXML(templateText, order, &labels, &details);
    if (templateText.find('{') == std::string_view::npos) TW_FUZZ_CHECK(filled == templateText);
    TW_FUZZ_CHECK(messaging::FillTemplateWithXML(templateText, xml::Node(), &labels, &details) == templateText);
    return 0;
}
