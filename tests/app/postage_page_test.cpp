// The two postage forms in the real browser: filled from the orders and the
// settings, kept consistent by their change handlers as the seller edits
// them, and read back as the seller left them when the label is sent.

#include "pages/pages.h"
#include "platform/web/webpage.h"
#include "postage/formpage.h"
#include "postage/printing.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/app/real_page.h"
#include "tests/support/fake_shell.h"
#include "tests/support/temp_dir.h"
#include "ui/served.h"

#include <QEventLoop>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <gtest/gtest.h>

using namespace tw;
using namespace tw::postage;

namespace {

std::string order(const std::string &item, const std::string &country, const std::string &state,
                  const std::string &service, const std::string &quantity, const std::string &price,
                  const std::string &pounds, const std::string &ounces, const std::string &title)
{
    return "<Transaction xmlns='urn:ebay:apis:eBLBaseComponents'><Buyer><UserID>tide_fan</UserID>"
           "<EIASToken>tok-1</EIASToken><Email>fan@example.com</Email><BuyerInfo><ShippingAddress>"
           "<Name>Ann O'Neil</Name><Street1>1 Harbour Rd</Street1><CityName>Halifax</CityName><StateOrProvince>" +
           state + "</StateOrProvince><PostalCode>B3H</PostalCode><CountryName>" + country +
           "</CountryName><Phone>902</Phone></ShippingAddress></BuyerInfo></Buyer><Item><ItemID>" + item +
           "</ItemID><Title>" + title + "</Title><SKU>SKU-" + item + "</SKU></Item><TransactionID>0</TransactionID>" +
           "<QuantityPurchased>" + quantity + "</QuantityPurchased><TransactionPrice>" + price +
           "</TransactionPrice><ShippingDetails><SellingManagerSalesRecordNumber>5" + item +
           "</SellingManagerSalesRecordNumber><CalculatedShippingRate><WeightMajor>" + pounds +
           "</WeightMajor><WeightMinor>" + ounces +
           "</WeightMinor></CalculatedShippingRate></ShippingDetails><ShippingServiceSelected><ShippingService>" +
           service + "</ShippingService><ShippingServiceCost>9.25</ShippingServiceCost></ShippingServiceSelected>" +
           "</Transaction>";
}

class PostagePageTest : public test::RealPageTest {
  protected:
    void SetUp() override
    {
        session.openStore(dir / "data");
        session.store.transactions() = xml::Document::parse(
            "<Transactions>" +
            order("110", "Canada", "NS", "USPSPriorityMailInternationalFlatRateEnvelope", "2", "10.00", "1", "4",
                  "&lt;b&gt;Tide&lt;/b&gt; &amp; co") +
            order("111", "Canada", "NS", "USPSPriority", "1", "5.50", "0", "12", "Rope") +
            order("120", "United Kingdom", "", "USPSPriority", "1", "7", "2", "8", "Chart") + "</Transactions>");
        std::filesystem::create_directories(dazzleDir);
        for (const char *file :
             {"DAZZLE.EXE", "Zebra Label.lyt", "Small Priority Mail International Shipping Label.lyt", "notes.txt"})
            test::writeFile(dazzleDir / file, "");
        settings::write(session.store, "DazzleExePath", (dazzleDir / "DAZZLE.EXE").string());
        settings::write(session.store, "DazzleLayout_INTLPRIORITY_FLATRATEENVELOPE", "Zebra Label.lyt");
        settings::write(session.store, "PrintPostageTestMode", "True");
        std::filesystem::create_directories(temp);
        printing.setTempDir(temp);
    }

    // The form of `kind` for the orders `items`, as the seller first sees it.
    void open(FormKind kind, const std::vector<std::string> &items)
    {
        std::vector<ui::OrderRow> rows;
        for (const std::string &item : items)
            rows.push_back({item, "0", "", "tok-1", true});
        ASSERT_TRUE(printing.selectOrders(rows));
        ASSERT_TRUE(test::loadPage(
            *s_page, pages::url(kind == FormKind::Dazzle ? ui::kPrintPostagePage : ui::kPrintPostageWorldShipPage)));
        printing.DisplayPrintPostage(kind);
    }
    // Runs a script in the page, as the seller's typing and clicking would.
    void js(const std::string &script) { s_page->runJavaScript(QString::fromStdString(script)); }
    // Types `value` into the field `id` and leaves it, firing its change event.
    void edit(const std::string &id, const std::string &value)
    {
        js("var e = document.getElementById('" + id + "'); e.value = '" + value +
           "'; e.dispatchEvent(new Event('change'));");
    }
    std::string value(const std::string &id) { return readForm(*s_page)[id]; }
    bool visible(const char *id) { return s_page->element(id).style("visibility").empty(); }

    test::TempDir dir;
    std::filesystem::path dazzleDir = dir / "DAZzle dir";
    std::filesystem::path temp = dir / "temp";
    Session session;
    test::WebShell shell{*s_page};
    FeatureTable table;
    Printing printing{session, shell, table};
};

TEST_F(PostagePageTest, TheDazzleFormIsFilledFromTheOrdersAndTheSettings)
{
    open(FormKind::Dazzle, {"110", "111"});
    EXPECT_TRUE(shell.boxes.empty());
    EXPECT_FALSE(shell.processingShown());
    FormValues form = readForm(*s_page);
    EXPECT_EQ(form["ToName"], "Ann O'Neil");
    EXPECT_EQ(form["ToCountry"], "Canada");
    EXPECT_EQ(form["ToEMail"], "fan@example.com");
    EXPECT_EQ(form["ReferenceID"], "5110");
    // The flat-rate envelope sets both selects; its layout has its own setting.
    EXPECT_EQ(form["MailClass"], "INTLPRIORITY");
    EXPECT_EQ(form["PackageType"], "FLATRATEENVELOPE");
    EXPECT_EQ(form["Layout"], "Zebra Label.lyt");
    EXPECT_EQ(s_page->element("Layout").options().size(), 2u);
    // 2 x 10.00 + 5.50; 1 lb 4 oz + 12 oz.
    EXPECT_EQ(form["Value"], "25.5");
    EXPECT_EQ(form["WeightLbs"], "2");
    EXPECT_EQ(form["WeightOz"], "0");
    EXPECT_EQ(form["CustomsQuantity1"], "2");
    EXPECT_EQ(form["CustomsWeight1"], "20");
    EXPECT_EQ(form["CustomsValue1"], "20");
    EXPECT_EQ(form["CustomsValue2"], "5.5");
    EXPECT_EQ(form["CustomsQuantity3"], "");
    EXPECT_EQ(form["RubberStamp1"], "SKU-110, SKU-111");
    // International Priority: customs shown, CP72, the domestic options off, Stealth ticked.
    EXPECT_TRUE(visible("customs"));
    EXPECT_TRUE(visible("customsitems"));
    EXPECT_EQ(form["CustomsFormType"], "CP72");
    EXPECT_EQ(form["Stealth"], "True");
    EXPECT_EQ(form["TestMode"], "True");
    EXPECT_TRUE(s_page->element("BalloonRate").disabled());
    EXPECT_TRUE(s_page->element("NoHolidayDelivery").disabled());
    EXPECT_EQ(s_page->element("CustomerShippingPaid").innerText(), "9.25");
    // Order text is shown as text, never as markup.
    page::Element items = s_page->element("selecteditems_td");
    EXPECT_NE(items.innerText().find("<b>Tide</b> & co"), std::string::npos) << items.innerHTML();
    EXPECT_EQ(items.query("b").size(), 1u); // the heading only
    page::Element links = s_page->element("links_td");
    EXPECT_EQ(links.innerText(), "Contact Buyer");
    EXPECT_NE(links.innerHTML().find("MessageID=Shipped"), std::string::npos);
}

TEST_F(PostagePageTest, TheHandlersFollowTheSellersEdits)
{
    open(FormKind::Dazzle, {"110"});
    // A state of the Union hides customs, a military post code needs it,
    // and an empty country counts as the United States.
    edit("ToCountry", " USA ");
    edit("ToState", "NY");
    EXPECT_TRUE(test::until([&] { return !visible("customs") && !visible("customsitems"); }));
    edit("ToState", "ae");
    EXPECT_TRUE(test::until([&] { return visible("customs") && visible("customsitems"); }));
    js("document.getElementById('ToState').value = 'NY';");
    edit("ToCountry", "");
    EXPECT_TRUE(test::until([&] { return !visible("customs"); }));

    // International First Class: the declared value chooses the customs form.
    edit("Value", "399.99");
    edit("MailClass", "INTLFIRST");
    EXPECT_TRUE(test::until([&] { return value("CustomsFormType") == "CN22"; }));
    edit("Value", "400");
    edit("MailClass", "INTLFIRST");
    EXPECT_TRUE(test::until([&] { return value("CustomsFormType") == "CP72"; }));
    edit("MailClass", "EXPRESS");
    EXPECT_TRUE(test::until([&] { return !s_page->element("ExpressMailPremiumService").disabled(); }));
    EXPECT_FALSE(s_page->element("BalloonRate").disabled());
    EXPECT_EQ(s_page->element("Layout").options().size(), 2u);

    // The test-mode box is stored as the seller leaves it.
    ASSERT_TRUE(test::until([&] { return value("TestMode") == "True"; }));
    js("document.getElementById('TestMode').click();");
    EXPECT_TRUE(test::until([&] {
        const xml::Document stored = xml::Document::load(session.store.path(store::Doc::Settings));
        return stored && stored.select("Settings/PrintPostageTestMode").text() == "False";
    }));
    EXPECT_TRUE(shell.boxes.empty());
}

TEST_F(PostagePageTest, WithoutDazzleTheSendButtonIsOffAndOnlyTheDazzleFormSaysSo)
{
    std::filesystem::remove(dazzleDir / "DAZZLE.EXE");
    open(FormKind::Dazzle, {"110"});
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].second, "Dazzle.exe could not be found.  Please update path in Tools Options.");
    EXPECT_TRUE(s_page->element("PrintPostage").disabled());
    EXPECT_TRUE(s_page->element("Layout").options().empty());

    shell.boxes.clear();
    open(FormKind::WorldShip, {"120"});
    EXPECT_TRUE(shell.boxes.empty());
    EXPECT_TRUE(s_page->element("Layout").options().empty());
}

TEST_F(PostagePageTest, TheLabelIsSentAsTheSellerLeftTheForm)
{
    open(FormKind::Dazzle, {"110", "111"});
    edit("ToName", "Ann & Bo");
    edit("WeightOz", "8");
    js("document.getElementById('CustomsCertify').checked = true;");
    ASSERT_TRUE(test::until([&] { return value("CustomsCertify") == "True"; }));
    // The DAZzle of this test is an empty file: the package is written, then
    // DAZzle cannot start, and the form is usable again.
    printing.PrintPostageSend();
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].second.rfind("DAZzle could not be started", 0), 0u) << shell.boxes[0].second;
    EXPECT_FALSE(printing.waitingForDazzle());
    EXPECT_FALSE(s_page->element("PrintPostage").disabled());
    EXPECT_EQ(value("PrintPostage"), "Print Postage");
    EXPECT_FALSE(shell.processingShown());

    xml::Document package = xml::Document::load(temp / "KORVA-Dazzle-Packages.xml");
    ASSERT_TRUE(package);
    EXPECT_EQ(GetNodeText(package, "DAZzle/Package/ToName"), "Ann & Bo");
    EXPECT_EQ(GetNodeText(package, "DAZzle/Package/WeightOz"), "40");
    EXPECT_EQ(GetNodeText(package, "DAZzle/Package/ToCountry"), "Canada");
    EXPECT_EQ(GetNodeText(package, "DAZzle/Package/CustomsCertify"), "TRUE");
    EXPECT_EQ(GetNodeText(package, "DAZzle/Package/CustomsQuantity2"), "1");
    EXPECT_FALSE(package.select("DAZzle/Package/BalloonRate"));
    EXPECT_EQ(package.root().attribute("Test"), "YES");
    EXPECT_EQ(package.root().attribute("Layout"), (dazzleDir / "Zebra Label.lyt").string());
    EXPECT_EQ(package.selectAll("DAZzle/Package/Transactions/Transaction").size(), 2u);
}

TEST_F(PostagePageTest, TheWorldShipFormTakesUpsCodesAndSendsTheShipment)
{
    const std::filesystem::path folder = dir / "World Ship";
    std::filesystem::create_directories(folder);
    settings::write(session.store, "UPSWorldShipAutoXMLImportFolder", folder.string());
    settings::write(session.store, "UPSAccount", "X9D3T4");
    open(FormKind::WorldShip, {"120"});
    FormValues form = readForm(*s_page);
    EXPECT_EQ(form["ToCountry"], "GB");
    EXPECT_EQ(form["MailClass"], "GND");
    EXPECT_EQ(form["Reference1"], "SKU-120");
    EXPECT_EQ(form["Reference4"], "5120");
    EXPECT_EQ(form["WeightLbs"], "2");
    EXPECT_EQ(form["WeightOz"], "8");
    EXPECT_TRUE(visible("customs"));
    EXPECT_FALSE(s_page->element("links_td"));

    edit("MailClass", "2DA");
    printing.PrintPostageSendWorldShip();
    EXPECT_TRUE(shell.boxes.empty());
    EXPECT_TRUE(printing.waitingForWorldShip());
    EXPECT_EQ(shell.overlays.back(), "Waiting for WorldShip");
    xml::Document shipment = xml::Document::load(folder / "KORVA.xml");
    ASSERT_TRUE(shipment);
    EXPECT_EQ(GetNodeText(shipment, "OpenShipments/OpenShipment/ShipTo/CountryTerritory"), "GB");
    EXPECT_EQ(GetNodeText(shipment, "OpenShipments/OpenShipment/ShipmentInformation/ServiceType"), "2DA");
    EXPECT_EQ(GetNodeText(shipment, "OpenShipments/OpenShipment/ShipmentInformation/ShipperNumber"), "X9D3T4");
    EXPECT_EQ(GetNodeText(shipment, "OpenShipments/OpenShipment/Package/Weight"), "2.5");
    printing.CancelPrintPostage();
    EXPECT_FALSE(printing.waitingForWorldShip());
}

} // namespace
