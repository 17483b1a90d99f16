#include "messaging/FillTemplate.h"

#include <gtest/gtest.h>

#include <string>

using namespace tw;
using tw::messaging::FillTemplateWithXML;

namespace {

const char *const kOrder = R"(<Transaction xmlns="urn:ebay:apis:eBLBaseComponents">
<AmountPaid>24.50</AmountPaid>
<Buyer><Email>anna@example.com</Email><UserID>anna_b</UserID>
  <BuyerInfo><ShippingAddress><Name>Anna  Maria Berg</Name><Street1>1 Elm St</Street1><CityName>Troy</CityName></ShippingAddress></BuyerInfo>
</Buyer>
<ShippingDetails><ShippingServiceUsed>USPSPriority</ShippingServiceUsed><ShipmentTrackingNumber>9400111</ShipmentTrackingNumber></ShippingDetails>
<Item><ItemID>110022</ItemID><Title>Blue Mug</Title><SKU>MUG-B</SKU></Item>
<QuantityPurchased>2</QuantityPurchased>
<TransactionID>7001</TransactionID>
<TransactionPrice>11.25</TransactionPrice>
<SellingManagerProductDetails><ProductName>Mug, blue</ProductName></SellingManagerProductDetails>
</Transaction>)";

const char *const kDetails = R"(<GeteBayDetailsResponse xmlns="urn:ebay:apis:eBLBaseComponents">
<ShippingServiceDetails><ShippingService>USPSFirstClass</ShippingService><ShippingCarrier>USPS</ShippingCarrier><Description>First-Class Mail</Description></ShippingServiceDetails>
<ShippingServiceDetails><ShippingService>USPSPriority</ShippingService><ShippingCarrier>USPS</ShippingCarrier><Description>Priority Mail</Description></ShippingServiceDetails>
<ShippingServiceDetails><ShippingService>Bob's "Fast" Freight</ShippingService><ShippingCarrier>Bob</ShippingCarrier></ShippingServiceDetails>
</GeteBayDetailsResponse>)";

xml::Document parse(const std::string &text)
{
    std::string error;
    xml::Document doc = xml::Document::parse(text, &error);
    EXPECT_FALSE(doc.isNull()) << error;
    return doc;
}

// The order with one child path's element replaced (or removed when `xml` is empty).
xml::Document orderWith(const std::string &path, const std::string &xml = {})
{
    xml::Document doc = parse(kOrder);
    xml::Node old = doc.root().select(path);
    EXPECT_TRUE(old) << path;
    if (xml.empty()) {
        old.remove();
    } else {
        xml::Document replacement = parse(xml);
        old.replaceWith(replacement.root());
    }
    return doc;
}

std::string label(const std::string &itemId, const std::string &transactionId, const std::string &postage,
                  const std::string &package)
{
    return "<ShippingLabel><PackingList><Item><ItemID>" + itemId + "</ItemID><TransactionID>" + transactionId +
           "</TransactionID></Item></PackingList><TimeStamp/><Carrier>USPS</Carrier><TrackingNumber/><Postage>" +
           postage + "</Postage><Package>" + package + "</Package></ShippingLabel>";
}

} // namespace

TEST(FillTemplate, OrderFieldsAndWhatStaysUnchanged)
{
    xml::Document order = parse(kOrder);
    xml::Document details = parse(kDetails);
    EXPECT_EQ(FillTemplateWithXML("{Item/ItemID} {Item/Title} {SellingManagerProductDetails/ProductName} "
                                  "{Item/SKU} {Buyer/UserID} {QuantityPurchased} {AmountPaid} {TransactionPrice} "
                                  "{ShippingDetails/ShipmentTrackingNumber}|{Buyer/BuyerInfo/ShippingAddress}",
                                  order.root(), nullptr, &details),
              "110022 Blue Mug Mug, blue MUG-B anna_b 2 24.50 11.25 9400111|Anna  Maria Berg1 Elm StTroy");

    const std::string plain = "Thanks {Foo/Bar} and {Item/Title";
    EXPECT_EQ(FillTemplateWithXML(plain, order.root()), plain);
    EXPECT_EQ(FillTemplateWithXML("{Item/Title}", xml::Node(), nullptr, &details), "{Item/Title}");
    EXPECT_EQ(FillTemplateWithXML("", order.root()), "");
}

TEST(FillTemplate, CapitalsMatterForTheTestAndForTheLaterPlaceholders)
{
    xml::Document order = parse(kOrder);
    xml::Document details = parse(kDetails);
    // Written only in other capitals: not filled.
    EXPECT_EQ(FillTemplateWithXML("{item/title}", order.root()), "{item/title}");
    // Once exactly: every spelling of the first twelve is filled.
    EXPECT_EQ(FillTemplateWithXML("{item/title} / {Item/Title} / {ITEM/TITLE} / {buyer/userid}", order.root()),
              "Blue Mug / Blue Mug / Blue Mug / {buyer/userid}");
    EXPECT_EQ(FillTemplateWithXML("{Item/SKU} {item/sku} {shippingdetails/shipmenttrackingnumber} "
                                  "{ShippingDetails/ShipmentTrackingNumber}",
                                  order.root()),
              "MUG-B MUG-B 9400111 9400111");
    // From the carrier on, only the exact spelling.
    EXPECT_EQ(FillTemplateWithXML("{ShippingDetails/Description} {shippingdetails/description} "
                                  "{ShippingDetails/ShippingCarrier} {SHIPPINGDETAILS/SHIPPINGCARRIER}",
                                  order.root(), nullptr, &details),
              "Priority Mail {shippingdetails/description} USPS {SHIPPINGDETAILS/SHIPPINGCARRIER}");
}

TEST(FillTemplate, ValuesAreNotFilledAgainUnlessTheTemplateAsksForThatPlaceholder)
{
    xml::Document order = orderWith("Item/Title", "<Title>Mug {Item/SKU} {Buyer/UserID}</Title>");
    EXPECT_EQ(FillTemplateWithXML("{Item/Title}", order.root()), "Mug {Item/SKU} {Buyer/UserID}");
    // A later placeholder that the template holds also fills the copy a value brought in.
    EXPECT_EQ(FillTemplateWithXML("{Item/Title} by {Buyer/UserID}", order.root()), "Mug {Item/SKU} anna_b by anna_b");
}

TEST(FillTemplate, TrackingNumberDefaultOnlyWhenTheElementIsMissing)
{
    const std::string t = "[{ShippingDetails/ShipmentTrackingNumber}]";
    xml::Document missing = orderWith("ShippingDetails/ShipmentTrackingNumber");
    EXPECT_EQ(FillTemplateWithXML(t, missing.root()), "[No Tracking Available]");
    xml::Document empty = orderWith("ShippingDetails/ShipmentTrackingNumber", "<ShipmentTrackingNumber/>");
    EXPECT_EQ(FillTemplateWithXML(t, empty.root()), "[]");
}

TEST(FillTemplate, ServiceLookupAndItsFallbacks)
{
    const std::string t = "{ShippingDetails/ShippingCarrier} / {ShippingDetails/Description}";
    xml::Document details = parse(kDetails);
    xml::Document order = parse(kOrder);
    EXPECT_EQ(FillTemplateWithXML(t, order.root(), nullptr, &details), "USPS / Priority Mail");
    EXPECT_EQ(FillTemplateWithXML(t, order.root(), nullptr, nullptr), "Unknown Carrier / Unknown Service");
    xml::Document none;
    EXPECT_EQ(FillTemplateWithXML(t, order.root(), nullptr, &none), "Unknown Carrier / Unknown Service");

    xml::Document unknown =
        orderWith("ShippingDetails/ShippingServiceUsed", "<ShippingServiceUsed>UPSGround</ShippingServiceUsed>");
    EXPECT_EQ(FillTemplateWithXML(t, unknown.root(), nullptr, &details), "Unknown Carrier / Unknown Service");
    xml::Document empty = orderWith("ShippingDetails/ShippingServiceUsed", "<ShippingServiceUsed/>");
    EXPECT_EQ(FillTemplateWithXML(t, empty.root(), nullptr, &details), "Unknown Carrier / Unknown Service");

    // Quotes of both kinds in the name find their entry; the entry lacks a description.
    xml::Document quoted = orderWith("ShippingDetails/ShippingServiceUsed",
                                     "<ShippingServiceUsed>Bob's \"Fast\" Freight</ShippingServiceUsed>");
    EXPECT_EQ(FillTemplateWithXML(t, quoted.root(), nullptr, &details), "Bob / Unknown Service");
}

TEST(FillTemplate, NameSplitAndPayPalNamesFirst)
{
    const std::string t = "<{Buyer/FirstName}|{Buyer/LastName}>";
    struct Case {
        std::string name;
        std::string expected;
    };
    for (const Case &c : {Case{"Anna  Maria Berg", "<Anna|Berg>"}, Case{"Cher", "<Cher|Cher>"},
                          Case{"Anna ", "<Anna|>"}, Case{" Berg", "<|Berg>"}, Case{"", "<|>"}}) {
        xml::Document order = orderWith("Buyer/BuyerInfo/ShippingAddress/Name", "<Name>" + c.name + "</Name>");
        EXPECT_EQ(FillTemplateWithXML(t, order.root()), c.expected) << '"' << c.name << '"';
    }

    xml::Document order = parse(kOrder);
    xml::Node paypal = order.root().appendElement("PaypalTransaction");
    xml::Node first = paypal.appendElement("FIRSTNAME", "Annie");
    EXPECT_EQ(FillTemplateWithXML(t, order.root()), "<Annie|Berg>");
    paypal.appendElement("LASTNAME", "Bergström");
    EXPECT_EQ(FillTemplateWithXML(t, order.root()), "<Annie|Bergström>");
    first.setText("");
    EXPECT_EQ(FillTemplateWithXML(t, order.root()), "<Anna|Bergström>");
}

TEST(FillTemplate, LabelPlaceholders)
{
    const std::string all = "{ShippingLabel/Postage}|{ShippingLabel/MailClass}|{ShippingLabel/ToName}|"
                            "{ShippingLabel/ToTitle}|{ShippingLabel/ToCompany}|{ShippingLabel/ToAddress1}|"
                            "{ShippingLabel/ToAddress2}|{ShippingLabel/ToAddress3}|{ShippingLabel/ToAddress4}|"
                            "{ShippingLabel/ToAddress5}|{ShippingLabel/ToAddress6}|{ShippingLabel/ToCity}|"
                            "{ShippingLabel/ToState}|{ShippingLabel/ToPostalCode}|{ShippingLabel/ToCountry}|"
                            "{ShippingLabel/ShipToBlock}";
    xml::Document order = parse(kOrder);
    const std::string unknown = "Unknown|Unknown|Unknown|Unknown|Unknown|Unknown|Unknown|Unknown|Unknown|Unknown|"
                                "Unknown|Unknown|Unknown|Unknown|Unknown|Unknown";
    EXPECT_EQ(FillTemplateWithXML(all, order.root()), unknown);

    // Another order's label, a package whose entries hold this order's ids
    // only crosswise, then this order's label (with no ToTitle element), then a second one.
    xml::Document labels =
        parse("<ShippingLabels>" + label("110022", "9999", "1.00", "<ToName>Other</ToName>") +
              "<ShippingLabel><PackingList><Item><ItemID>110022</ItemID><TransactionID>1</TransactionID></Item>"
              "<Item><ItemID>5</ItemID><TransactionID>7001</TransactionID></Item></PackingList><Postage>2.00</Postage>"
              "<Package><ToName>Crosswise</ToName></Package></ShippingLabel>" +
              label("110022", "7001", "4.60",
                    "<MailClass>PRIORITY</MailClass><ToName>Anna Berg</ToName><ToCompany></ToCompany>"
                    "<ToAddress1>1 Elm St</ToAddress1><ToAddress2/><ToAddress3/><ToAddress4/><ToAddress5/><ToAddress6/>"
                    "<ToCity>Troy</ToCity><ToState>NY</ToState><ToPostalCode>12180</ToPostalCode><ToCountry/>") +
              label("110022", "7001", "9.99", "<ToName>Later</ToName>") + "</ShippingLabels>");
    EXPECT_EQ(FillTemplateWithXML(all, order.root(), &labels),
              "4.60|PRIORITY|Anna Berg|Unknown||1 Elm St||||||Troy|NY|12180||"
              "Anna Berg\r\n1 Elm St\r\nTroy, NY 12180\r\n");
    xml::Document empty;
    EXPECT_EQ(FillTemplateWithXML(all, order.root(), &empty), unknown);
}

TEST(FillTemplate, ShipToBlockLines)
{
    xml::Document order = parse(kOrder);
    auto block = [&](const std::string &package) {
        xml::Document labels =
            parse("<ShippingLabels>" + label("110022", "7001", "1.00", package) + "</ShippingLabels>");
        return FillTemplateWithXML("{ShippingLabel/ShipToBlock}", order.root(), &labels);
    };
    EXPECT_EQ(block("<ToName>A</ToName><ToTitle>Dr</ToTitle><ToCompany>C</ToCompany><ToAddress1>1</ToAddress1>"
                    "<ToAddress2>2</ToAddress2><ToAddress3>3</ToAddress3><ToAddress4>4</ToAddress4>"
                    "<ToAddress5>5</ToAddress5><ToAddress6>6</ToAddress6><ToCity>Leeds</ToCity><ToState/>"
                    "<ToPostalCode>LS1</ToPostalCode><ToCountry>United Kingdom</ToCountry>"),
              "A\r\nDr\r\nC\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\nLeeds,  LS1\r\nUnited Kingdom\r\n");
    EXPECT_EQ(block(""), ",  \r\n");
}

TEST(FillTemplate, TransactionListOfTheSelection)
{
    xml::Document selection = parse(
        "<Transactions><Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>110022</ItemID>"
        "<Title>Blue Mug</Title><SKU>MUG-B</SKU></Item><QuantityPurchased>2</QuantityPurchased>"
        "<TransactionID>7001</TransactionID></Transaction>"
        "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>330044</ItemID><Title>Red Plate</Title>"
        "<SKU/></Item><TransactionID>7002</TransactionID><SellingManagerProductDetails><ProductName>Plate, red"
        "</ProductName></SellingManagerProductDetails></Transaction></Transactions>");
    const std::string t = "Your items:\r\n{Tagged/TransactionList}\r\nThanks";
    const std::string list = "2 x [MUG-B] Blue Mug (110022)\r\n1 x Plate, red (330044)";
    // Whichever order of the selection fills it, the list is the whole selection.
    EXPECT_EQ(FillTemplateWithXML(t, selection.root().firstElement()), "Your items:\r\n" + list + "\r\nThanks");
    EXPECT_EQ(FillTemplateWithXML("{Tagged/TransactionList}", selection.root().lastElement()), list);

    // An order on its own lists itself; blanks around the list go.
    xml::Document alone = parse(kOrder);
    alone.root().select("QuantityPurchased").setText("");
    EXPECT_EQ(FillTemplateWithXML("[{Tagged/TransactionList}]", alone.root()), "[x [MUG-B] Mug, blue (110022)]");
    // An empty product name is used as it is; the title stands in only for a missing one.
    alone.root().select("SellingManagerProductDetails/ProductName").setText("");
    EXPECT_EQ(FillTemplateWithXML("[{Tagged/TransactionList}]", alone.root()), "[x [MUG-B]  (110022)]");
}
