// The WorldShip import file and reading WorldShip's answer.
#include "postage/worldship.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace tw::test {
namespace {

using namespace postage;

TEST(OpenShipments, AFolderPathCannotBreakTheText)
{
    xml::Document doc = xml::Document::parse(openShipmentsText("/srv/ups & \"co\" <1>"));
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc.root().attribute("ShipmentOption"), "");
    EXPECT_EQ(doc.select("OpenShipments/OpenShipment").attribute("ShipmentOption"), "SC");
    EXPECT_EQ(doc.selectAll("OpenShipments/OpenShipment/*/*").size(), 24u);
}

class OpenShipmentsTest : public ::testing::Test {
  protected:
    xml::Document settings = xml::Document::parse("<Settings><UPSAccount>X9</UPSAccount></Settings>");
    FormValues form = {{"ToName", "Ann Buyer"}, {"ToCompany", "   "}, {"WeightLbs", "2"}, {"WeightOz", "8"}};

    std::string shipTo(const xml::Document &doc, const char *name)
    {
        return GetNodeText(doc, "OpenShipments/OpenShipment/ShipTo/" + std::string(name), "(none)");
    }
};

TEST_F(OpenShipmentsTest, BlankCompanyShipsToThePersonWithoutAttention)
{
    Checked<xml::Document> doc = buildOpenShipments(form, settings, "/f");
    ASSERT_TRUE(doc);
    EXPECT_EQ(shipTo(doc.value(), "CompanyOrName"), "Ann Buyer");
    EXPECT_EQ(shipTo(doc.value(), "Attention"), "");
    EXPECT_EQ(GetNodeText(doc.value(), "OpenShipments/OpenShipment/Package/Weight"), "2.5");
    EXPECT_EQ(GetNodeText(doc.value(), "OpenShipments/OpenShipment/ShipmentInformation/ShipperNumber"), "X9");

    form["ToCompany"] = " Harbour Ltd ";
    Checked<xml::Document> company = buildOpenShipments(form, settings, "/f");
    EXPECT_EQ(shipTo(company.value(), "CompanyOrName"), " Harbour Ltd ");
    EXPECT_EQ(shipTo(company.value(), "Attention"), "Ann Buyer");
}

TEST_F(OpenShipmentsTest, ABadWeightIsRefused)
{
    form["WeightLbs"] = "2lb";
    Checked<xml::Document> doc = buildOpenShipments(form, settings, "/f");
    ASSERT_FALSE(doc);
    EXPECT_NE(doc.error().find("\"2lb\""), std::string::npos);
}

TEST_F(OpenShipmentsTest, WritingDeletesTheEarlierFilesFirstAndNothingOnRefusal)
{
    TempDir dir;
    tw::settings::set(settings, "UPSWorldShipAutoXMLImportFolder", dir.path().string());
    for (const char *old : {"KORVA.xxx", "KORVA.Out", "KORVA.xml"})
        writeFile(dir / old, "earlier");

    form["WeightOz"] = "eight";
    ASSERT_FALSE(writeWorldShipImport(form, settings));
    for (const char *old : {"KORVA.xxx", "KORVA.Out", "KORVA.xml"})
        EXPECT_EQ(readFile(dir / old), "earlier") << old;

    form["WeightOz"] = "8";
    Checked<WorldShipFiles> files = writeWorldShipImport(form, settings);
    ASSERT_TRUE(files) << files.error();
    EXPECT_FALSE(std::filesystem::exists(dir / "KORVA.xxx"));
    EXPECT_FALSE(std::filesystem::exists(dir / "KORVA.Out"));
    EXPECT_EQ(files->importFile, dir / "KORVA.xml");
    EXPECT_EQ(files->outputFile, dir / "KORVA.Out");
    xml::Document written = xml::Document::load(dir / "KORVA.xml");
    EXPECT_EQ(GetNodeText(written, "OpenShipments/OpenShipment/ShipTo/CompanyOrName"), "Ann Buyer");
    EXPECT_EQ(written.root().namespaceUri(), "x-schema: " + (dir / "OpenShipments.xdr").string());
}

TEST_F(OpenShipmentsTest, AMissingImportFolderIsToldInTheProgramsWords)
{
    tw::settings::set(settings, "UPSWorldShipAutoXMLImportFolder", "/no/such/folder");
    EXPECT_EQ(writeWorldShipImport(form, settings).error(),
              "WorldShip Import Folder could not be found.  Please update path in Tools Options.");
    tw::settings::set(settings, "UPSWorldShipAutoXMLImportFolder", "");
    EXPECT_FALSE(writeWorldShipImport(form, settings));
}

TEST(WorldShipOutputFile, FirstShipmentItsStatusTrackingNumberAndErrors)
{
    TempDir dir;
    const std::string head = "<OpenShipments xmlns='x-schema: OpenShipments.xdr'>";
    writeFile(dir / "a.Out", head + "<OpenShipment ProcessStatus='Processed'><ProcessMessage><TrackingNumbers>"
                                    "<TrackingNumber>1ZFIRST</TrackingNumber><TrackingNumber>1ZSECOND</TrackingNumber>"
                                    "</TrackingNumbers></ProcessMessage></OpenShipment><OpenShipment><ProcessMessage>"
                                    "<TrackingNumbers><TrackingNumber>1ZOTHER</TrackingNumber></TrackingNumbers>"
                                    "</ProcessMessage></OpenShipment></OpenShipments>");
    WorldShipOutput a = readWorldShipOutput(dir / "a.Out");
    ASSERT_EQ(a.state, WorldShipOutput::State::Read);
    EXPECT_EQ(a.trackingNumber, "1ZFIRST");
    EXPECT_EQ(a.openShipment.attribute("ProcessStatus"), "Processed");

    EXPECT_TRUE(a.shipped());

    writeFile(dir / "b.Out", head + "<OpenShipment ProcessStatus='Processed'/></OpenShipments>");
    WorldShipOutput b = readWorldShipOutput(dir / "b.Out");
    EXPECT_EQ(b.trackingNumber, "");
    EXPECT_FALSE(b.shipped());

    // An error answer keeps WorldShip's words, even beside a number.
    writeFile(dir / "e.Out", head +
                                 "<OpenShipment ProcessStatus='Error'><ProcessMessage><Error><ErrorCode>1</ErrorCode>"
                                 "<ErrorDescription>Invalid postal code</ErrorDescription></Error><Error>No weight"
                                 "</Error><TrackingNumbers><TrackingNumber>1ZX</TrackingNumber></TrackingNumbers>"
                                 "</ProcessMessage></OpenShipment></OpenShipments>");
    WorldShipOutput e = readWorldShipOutput(dir / "e.Out");
    EXPECT_FALSE(e.shipped());
    EXPECT_EQ(e.errorText, "Invalid postal code; No weight");

    writeFile(dir / "c.Out", head + "</OpenShipments>");
    EXPECT_EQ(readWorldShipOutput(dir / "c.Out").state, WorldShipOutput::State::NoShipment);

    writeFile(dir / "d.Out", head + "<OpenShipment><Proc");
    WorldShipOutput d = readWorldShipOutput(dir / "d.Out");
    EXPECT_EQ(d.state, WorldShipOutput::State::Unreadable);
    EXPECT_NE(unreadableOutputMessage(d).find(d.error), std::string::npos);

    EXPECT_EQ(readWorldShipOutput(dir / "none.Out").state, WorldShipOutput::State::Missing);
}

} // namespace
} // namespace tw::test
