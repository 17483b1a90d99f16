// The rules of the postage forms and what the page shows for a selection.
#include "postage/form.h"
#include "postage/numbers.h"
#include "store/lookup.h"
#include "store/settings.h"
#include "tests/postage/postage_support.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace tw::test {
namespace {

using namespace postage;

TEST(ServiceMapping, ServicesSetTheMailClassAndFlatRatesThePackageType)
{
    struct Row {
        const char *service, *mailClass, *packageType;
    };
    for (const Row &r : {
             Row{"USPSFirstClassLargeEnvelop", "FIRST", ""},
             Row{"USPSPriority", "PRIORITY", ""},
             Row{"USPSPriorityFlatRateEnvelope", "PRIORITY", "FLATRATEENVELOPE"},
             Row{"USPSPriorityFlatRateBox", "PRIORITY", "FLATRATEBOX"},
             Row{"USPSPriorityMailLargeFlatRateBox", "PRIORITY", "FLATRATELARGEBOX"},
             Row{"USPSExpressFlatRateEnvelope", "EXPRESS", ""},
             Row{"USPSPriorityMailInternationalFlatRateEnvelope", "INTLPRIORITY", "FLATRATEENVELOPE"},
             Row{"USPSPriorityMailInternationalLargeFlatRateBox", "INTLPRIORITY", "FLATRATELARGEBOX"},
             Row{"USPSExpressMailInternationalFlatRateEnvelope", "INTLEXPRESS", "FLATRATEENVELOPE"},
             // Exact and case-sensitive: anything else leaves the page alone.
             Row{"USPSFirstClassLargeEnvelope", "", ""},
             Row{"uspspriority", "", ""},
             Row{"UPSGround", "", ""},
             Row{"", "", ""},
         }) {
        ServiceMapping m = mapShippingService(r.service);
        EXPECT_EQ(m.mailClass, r.mailClass) << r.service;
        EXPECT_EQ(m.packageType, r.packageType) << r.service;
    }
}

TEST(ServiceMapping, LayoutKeyOfTheInternationalFlatRateEnvelopeIsItsOwn)
{
    EXPECT_EQ(layoutSettingKey("INTLPRIORITY", "FLATRATEENVELOPE"), "DazzleLayout_INTLPRIORITY_FLATRATEENVELOPE");
    EXPECT_EQ(layoutSettingKey("INTLPRIORITY", "FLATRATEBOX"), "DazzleLayout_INTLPRIORITY");
    EXPECT_EQ(layoutSettingKey("PRIORITY", "FLATRATEENVELOPE"), "DazzleLayout_PRIORITY");
}

TEST(MailClassRules, CustomsFormFollowsTheDeclaredValueForInternationalFirstClass)
{
    EXPECT_EQ(mailClassRules("INTLFIRST", "399.99")->customsFormType, "CN22");
    EXPECT_EQ(mailClassRules("INTLFIRST", "400")->customsFormType, "CP72");
    EXPECT_EQ(mailClassRules("INTLFIRST", " 400.00 ")->customsFormType, "CP72");
    EXPECT_EQ(mailClassRules("INTLFIRST", "1250.5")->customsFormType, "CP72");
    EXPECT_EQ(mailClassRules("INTLFIRST", "")->customsFormType, "CN22");
    EXPECT_EQ(mailClassRules("INTLFIRST", "lots")->customsFormType, "CN22");
    // The other classes do not look at the value.
    EXPECT_EQ(mailClassRules("INTLPRIORITY", "5")->customsFormType, "CP72");
    EXPECT_EQ(mailClassRules("FIRST", "5")->customsFormType, "CP72");
}

TEST(MailClassRules, OptionsStealthAndUnknownClasses)
{
    MailClassRules intl = *mailClassRules("INTLGXGNODOC", "");
    EXPECT_FALSE(intl.balloonRate || intl.signatureWaiver || intl.expressMailPremiumService || intl.noWeekendDelivery ||
                 intl.noHolidayDelivery);
    EXPECT_TRUE(intl.checkStealth);

    MailClassRules express = *mailClassRules("EXPRESS", "");
    EXPECT_TRUE(express.balloonRate && express.signatureWaiver && express.expressMailPremiumService &&
                express.noWeekendDelivery && express.noHolidayDelivery);
    EXPECT_FALSE(express.checkStealth);

    MailClassRules media = *mailClassRules("MEDIAMAIL", "");
    EXPECT_FALSE(media.expressMailPremiumService);
    EXPECT_TRUE(media.balloonRate && media.noHolidayDelivery);

    // A WorldShip service code or a typo changes nothing.
    EXPECT_FALSE(mailClassRules("GND", "").has_value());
    EXPECT_FALSE(mailClassRules("first", "").has_value());
}

TEST(Destination, UnitedStatesFormsTerritoriesAndMilitaryCodes)
{
    EXPECT_TRUE(customsNeeded(" USA ", "ae"));
    EXPECT_FALSE(customsNeeded("USA", "NY"));
    EXPECT_FALSE(customsNeeded("", ""));
    EXPECT_FALSE(customsNeeded("united states", "Texas"));
    EXPECT_FALSE(customsNeeded("US", "HI"));
    EXPECT_TRUE(customsNeeded("us", " Guam "));
    EXPECT_TRUE(customsNeeded("US", "u.s. virgin islands"));
    EXPECT_TRUE(customsNeeded("", "PR"));
    EXPECT_TRUE(customsNeeded("Canada", "ON"));
    EXPECT_TRUE(customsNeeded("GB", ""));
    // Only the forms the rule names count as the United States.
    EXPECT_TRUE(customsNeeded("U.S.A.", "NY"));
    EXPECT_TRUE(customsNeeded("United States of America", "NY"));
}

TEST(Weights, DazzleOuncesAndWorldShipPounds)
{
    EXPECT_EQ(dazzleWeightOz("2", "4").value(), "36");
    EXPECT_EQ(dazzleWeightOz("", "5").value(), "5");
    EXPECT_EQ(dazzleWeightOz("  ", " ").value(), "0");
    EXPECT_EQ(dazzleWeightOz("2.5", "").value(), "40");
    EXPECT_EQ(dazzleWeightOz("0", "3.5").value(), "3.5");
    EXPECT_EQ(upsWeightPounds("2", "8").value(), "2.5");
    EXPECT_EQ(upsWeightPounds("", "4").value(), "0.25");
    EXPECT_EQ(upsWeightPounds("1", "").value(), "1");
    EXPECT_EQ(upsWeightPounds("2.1", "8").value(), "2.6");
}

TEST(Weights, TextThatIsNotANumberIsRefusedNamingTheField)
{
    Checked<std::string> comma = dazzleWeightOz("2,5", "0");
    ASSERT_FALSE(comma);
    EXPECT_NE(comma.error().find("pounds (\"2,5\")"), std::string::npos) << comma.error();
    Checked<std::string> words = upsWeightPounds("2", "four");
    ASSERT_FALSE(words);
    EXPECT_NE(words.error().find("ounces (\"four\")"), std::string::npos) << words.error();
    for (const char *bad : {"-1", "1e2", "2 lb", "..", "."})
        EXPECT_FALSE(dazzleWeightOz(bad, "")) << bad;
}

TEST(Amounts, FixedPointSumsAndProducts)
{
    Amount total;
    for (int i = 0; i < 3; ++i)
        total = total + Amount::parseOrZero("0.10") * Amount::parseOrZero("1");
    EXPECT_EQ(total.toText(), "0.3");
    EXPECT_EQ((Amount::parseOrZero("12.99") * Amount::parseOrZero("3")).toText(), "38.97");
    EXPECT_EQ((Amount::parseOrZero("0.3333") * Amount::parseOrZero("0.5")).toText(), "0.1666"); // 0.16665, to even
    EXPECT_EQ(Amount::parseOrZero("1.00005").toText(), "1");
    EXPECT_EQ(Amount::parseOrZero("1.00015").toText(), "1.0002");
    EXPECT_EQ(Amount::parseOrZero("400.000").toText(), "400");
    EXPECT_FALSE(Amount::parse("$5").has_value());
}

// --- filling from the selection ---------------------------------------------------

xml::Document orders(const std::string &inner)
{
    return xml::Document::parse("<Transactions>" + inner + "</Transactions>");
}

std::string order(const std::string &major, const std::string &minor, const std::string &price = "1",
                  const std::string &quantity = "1", const std::string &extra = "")
{
    return "<Transaction xmlns='urn:ebay:apis:eBLBaseComponents'><ShippingDetails><CalculatedShippingRate>"
           "<WeightMajor>" +
           major + "</WeightMajor><WeightMinor>" + minor +
           "</WeightMinor></CalculatedShippingRate></ShippingDetails><QuantityPurchased>" + quantity +
           "</QuantityPurchased><TransactionPrice>" + price + "</TransactionPrice>" + extra + "</Transaction>";
}

class FillTest : public ::testing::Test {
  protected:
    xml::Document settings = xml::Document::parse("<Settings/>");
    xml::Document lookup = InitLookup();

    FormFill fill(const xml::Document &selection, FormKind kind = FormKind::Dazzle)
    {
        return fillPostageForm(kind, {selection.root(), &settings, &lookup, "https://contact.example/ws/eBayISAPI.dll",
                                      "hidden@example.invalid"});
    }
};

TEST_F(FillTest, SevenOrdersFillFiveCustomsLinesAndCountInEverythingElse)
{
    std::string inner;
    for (int i = 1; i <= 7; ++i)
        inner += order("0", std::to_string(i), std::to_string(i) + ".50", "2",
                       "<Item><SKU>S" + std::to_string(i) + "</SKU><Title>T" + std::to_string(i) + "</Title></Item>");
    xml::Document selection = orders(inner);
    FormFill f = fill(selection);

    EXPECT_EQ(f.orders, 7);
    EXPECT_TRUE(f.has("CustomsQuantity5"));
    EXPECT_FALSE(f.has("CustomsQuantity6"));
    // Each line declares price x quantity: 2 x 5.50.
    EXPECT_EQ(f.value("CustomsValue5"), "11");
    EXPECT_EQ(f.value("CustomsValue1"), "3");
    EXPECT_EQ(f.value("CustomsWeight3"), "3");
    EXPECT_EQ(f.value("CustomsQuantity2"), "2");
    EXPECT_EQ(f.value("CustomsDescription4"), "T4");
    // 2 x (1.5 + 2.5 + ... + 7.5) = 63; 1 + ... + 7 = 28 oz = 1 lb 12 oz.
    EXPECT_EQ(f.value("Value"), "63");
    EXPECT_EQ(f.value("WeightLbs"), "1");
    EXPECT_EQ(f.value("WeightOz"), "12");
    EXPECT_EQ(f.value("RubberStamp1"), "S1, S2, S3, S4, S5, S6, S7");
    EXPECT_EQ(f.value("RubberStamp2"), "2, 2, 2, 2, 2, 2, 2");
    size_t rows = 0;
    for (size_t at = 0; (at = f.selectedItemsHtml.find("<BR>", at)) != std::string::npos; ++at)
        ++rows;
    EXPECT_EQ(rows, 7u);
}

TEST_F(FillTest, WeightTotalsCarryOuncesIntoPoundsAndRoundHalvesToEven)
{
    xml::Document oneTwenty = orders(order("1", "20"));
    FormFill f = fill(oneTwenty);
    EXPECT_EQ(f.value("WeightLbs"), "2");
    EXPECT_EQ(f.value("WeightOz"), "4");
    EXPECT_EQ(f.value("CustomsWeight1"), "36");

    xml::Document halves = orders(order("0", "2.5") + order("0", "1"));
    EXPECT_EQ(fill(halves).value("WeightOz"), "3"); // 2.5 -> 2, then 3
    xml::Document odd = orders(order("0", "3.5"));
    EXPECT_EQ(fill(odd).value("WeightOz"), "4");
    xml::Document missing = orders("<Transaction/>");
    EXPECT_EQ(fill(missing).value("WeightLbs"), "0");
    EXPECT_EQ(fill(missing).value("WeightOz"), "0");
}

const char kAddressed[] =
    "<Transaction xmlns='urn:ebay:apis:eBLBaseComponents'><Buyer><Email>b@example.com</Email><UserID>b&amp;b</UserID>"
    "<BuyerInfo><ShippingAddress><Name>Bea</Name><Street1>1 eBay St</Street1><Street2>Unit 2</Street2>"
    "<CityName>Austin</CityName><StateOrProvince>TX</StateOrProvince><CountryName>United States</CountryName>"
    "<Phone>512</Phone><PostalCode>78701</PostalCode></ShippingAddress></BuyerInfo></Buyer>"
    "<Item><ItemID>42</ItemID><Title>&lt;script&gt;x&lt;/script&gt; &amp; more</Title><SKU>S\"1</SKU></Item>"
    "<TransactionID>7 8</TransactionID><QuantityPurchased>1</QuantityPurchased>"
    "<ShippingServiceSelected><ShippingService>USPSMedia</ShippingService></ShippingServiceSelected>";

TEST_F(FillTest, PrivateModeHidesStreetPostalCodePhoneAndEmail)
{
    tw::settings::set(settings, "PrivateMode", "True");
    xml::Document selection = orders(std::string(kAddressed) + "</Transaction>");
    FormFill f = fill(selection);
    EXPECT_EQ(f.value("ToAddress1"), "private");
    EXPECT_EQ(f.value("ToAddress2"), "private");
    EXPECT_EQ(f.value("ToPostalCode"), "private");
    EXPECT_EQ(f.value("ToPhone"), "private");
    EXPECT_EQ(f.value("ToEMail"), "hidden@example.invalid");
    EXPECT_EQ(f.value("ToName"), "Bea");
    EXPECT_EQ(f.value("ToCity"), "Austin");
    EXPECT_EQ(f.value("ToState"), "TX");
    EXPECT_EQ(f.value("ToCountry"), "United States");
}

TEST_F(FillTest, PaypalAddressWinsOnlyWithAStreetPhoneAndEmailStayEbays)
{
    xml::Document withPaypal =
        orders(std::string(kAddressed) + "<PaypalTransaction><SHIPTONAME>Pat</SHIPTONAME><SHIPTOSTREET>9 PayPal Rd"
                                         "</SHIPTOSTREET><SHIPTOCOUNTRYNAME>Canada</SHIPTOCOUNTRYNAME>"
                                         "</PaypalTransaction></Transaction>");
    FormFill f = fill(withPaypal);
    EXPECT_EQ(f.value("ToName"), "Pat");
    EXPECT_EQ(f.value("ToAddress1"), "9 PayPal Rd");
    EXPECT_EQ(f.value("ToAddress2"), "");
    EXPECT_EQ(f.value("ToCountry"), "Canada");
    EXPECT_EQ(f.value("ToPhone"), "512");
    EXPECT_EQ(f.value("ToEMail"), "b@example.com");

    xml::Document emptyStreet =
        orders(std::string(kAddressed) + "<PaypalTransaction><SHIPTONAME>Pat</SHIPTONAME><SHIPTOSTREET/>"
                                         "</PaypalTransaction></Transaction>");
    EXPECT_EQ(fill(emptyStreet).value("ToName"), "Bea");
}

TEST_F(FillTest, OrderValuesAreEscapedInTheMarkup)
{
    xml::Document selection = orders(std::string(kAddressed) + "</Transaction>");
    FormFill f = fill(selection);
    EXPECT_EQ(f.selectedItemsHtml, "<b>Items being shipped in this postage:</b><br>Qty:  1,  [S&quot;1] "
                                   "<span title=\"7 8\">42</span> &lt;script&gt;x&lt;/script&gt; &amp; more <BR>");
    EXPECT_EQ(f.linksHtml,
              "<a href=\"https://contact.example/ws/eBayISAPI.dll?ReturnUserEmail&amp;requested="
              "b%26b&amp;redirect=0&amp;iid=42&amp;TransactionID=7%208&amp;ItemID=42&amp;MessageID=Shipped\">"
              "Contact Buyer</a>");
    // Values for the page's inputs stay plain text.
    EXPECT_EQ(f.value("Description"), "<script>x</script> & more");
    EXPECT_EQ(f.value("MailClass"), "MEDIAMAIL");
    EXPECT_FALSE(f.has("PackageType"));
}

TEST_F(FillTest, WorldShipFormGetsTheUpsCountryCodeAndReferences)
{
    xml::Document selection = orders(std::string(kAddressed) +
                                     "<ShippingDetails><SellingManagerSalesRecordNumber>77</SellingManagerSalesRecord"
                                     "Number></ShippingDetails></Transaction>" +
                                     order("0", "1", "2", "3", "<Item><SKU>B</SKU><Title>Second</Title></Item>"));
    FormFill f = fill(selection, FormKind::WorldShip);
    EXPECT_EQ(f.value("ToCountry"), "US");
    EXPECT_FALSE(customsNeeded(f.value("ToCountry"), f.value("ToState")));
    EXPECT_EQ(f.value("Reference1"), "S\"1, B");
    EXPECT_EQ(f.value("Reference2"), "1, 3");
    EXPECT_EQ(f.value("Reference3"), "<script>x</script> & more, Second");
    EXPECT_EQ(f.value("Reference4"), "77, ");
    for (const char *absent :
         {"ToTitle", "ToAddress4", "ReferenceID", "ReturnAddress1", "RubberStamp1", "MailClass", "PackageType"})
        EXPECT_FALSE(f.has(absent)) << absent;
    EXPECT_TRUE(f.linksHtml.empty());

    xml::Document uk = orders("<Transaction><Buyer><BuyerInfo><ShippingAddress><CountryName>United Kingdom"
                              "</CountryName></ShippingAddress></BuyerInfo></Buyer></Transaction>");
    EXPECT_EQ(fill(uk, FormKind::WorldShip).value("ToCountry"), "GB");
    xml::Document typo = orders("<Transaction><Buyer><BuyerInfo><ShippingAddress><CountryName>Untied Kingdom"
                                "</CountryName></ShippingAddress></BuyerInfo></Buyer></Transaction>");
    EXPECT_EQ(fill(typo, FormKind::WorldShip).value("ToCountry"), "Untied Kingdom");
    xml::Document quote = orders("<Transaction><Buyer><BuyerInfo><ShippingAddress><CountryName>Cote d'Ivoire"
                                 "</CountryName></ShippingAddress></BuyerInfo></Buyer></Transaction>");
    EXPECT_EQ(fill(quote, FormKind::WorldShip).value("ToCountry"), "Cote d'Ivoire");
    // The DAZzle form keeps the name.
    EXPECT_EQ(fill(uk).value("ToCountry"), "United Kingdom");
}

TEST_F(FillTest, SettingsGiveReturnAddressCheckBoxesAndInsurance)
{
    tw::settings::set(settings, "ReturnAddress2", "Dock 4");
    tw::settings::set(settings, "PrintPostageTestMode", "True");
    tw::settings::set(settings, "DazzleAutoClose", "true"); // only "True" is on
    xml::Document selection = orders(order("0", "1"));
    FormFill f = fill(selection);
    EXPECT_EQ(f.value("ReturnAddress2"), "Dock 4");
    EXPECT_EQ(f.value("InsuredMail"), "OFF");
    EXPECT_EQ(f.checks, (std::vector<std::pair<std::string, bool>>{
                            {"TestMode", true}, {"AutoClose", false}, {"CustomsCertify", false}, {"Stealth", false}}));
    EXPECT_EQ(f.value("Confirmation"), "DeliveryConfirmation");
    EXPECT_FALSE(f.nonMachinable);
}

TEST_F(FillTest, EmptySelectionFillsNothing)
{
    xml::Document empty = orders("");
    EXPECT_EQ(fill(empty).orders, 0);
    EXPECT_TRUE(fill(empty).values.empty());
}

} // namespace
} // namespace tw::test
