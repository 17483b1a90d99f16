// The DAZzle package file's rules, writing it, and reading DAZzle's results.
#include "postage/dazzle.h"
#include "store/settings.h"
#include "tests/postage/postage_support.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace tw::test {
namespace {

using namespace postage;

TEST(DazzleCountry, UnitedStatesFormsGoEmptyOthersAsTyped)
{
    for (const char *us : {"United States", "USA", "us", "U.S.A.", "u.s.", " USA "})
        EXPECT_EQ(dazzleToCountry(us), "") << us;
    EXPECT_EQ(dazzleToCountry("Canada"), "Canada");
    EXPECT_EQ(dazzleToCountry("canada "), "canada ");
    EXPECT_EQ(dazzleToCountry("United States of America"), "United States of America");
}

class DazzlePackageTest : public ::testing::Test {
  protected:
    xml::Document settings = xml::Document::parse("<Settings><DazzleExePath>/opt/DAZzle/DAZZLE.EXE</DazzleExePath>"
                                                  "</Settings>");
    xml::Document selection = xml::Document::parse(
        "<Transactions><Transaction xmlns='urn:ebay:apis:eBLBaseComponents'><Item><ItemID>1</ItemID></Item>"
        "<TransactionID>2</TransactionID></Transaction></Transactions>");
    FormValues form = {{"WeightLbs", "1"},         {"WeightOz", "2"},           {"BalloonRate", "True"},
                       {"CustomsWeight1", "18"},   {"CustomsQuantity1", "1"},   {"CustomsDescription1", "Chart"},
                       {"CustomsValue1", "12.50"}, {"CustomsDescription2", ""}, {"CustomsValue3", "4"},
                       {"ToCountry", "Canada"},    {"Layout", "Intl.lyt"},      {"TestMode", "True"}};

    xml::Document build(bool customsVisible)
    {
        Checked<xml::Document> doc =
            buildDazzlePackage(bundledDazzleDefinitions(), form, customsVisible, settings, selection.root(), "/t");
        EXPECT_TRUE(doc) << doc.error();
        return doc ? std::move(doc.value()) : xml::Document(nullptr);
    }
    static std::vector<std::string> children(const xml::Document &doc)
    {
        std::vector<std::string> names;
        for (const xml::Node &n : doc.select("DAZzle/Package").elements())
            names.push_back(n.name());
        return names;
    }
    static bool has(const std::vector<std::string> &names, const std::string &name)
    {
        return std::find(names.begin(), names.end(), name) != names.end();
    }
};

TEST_F(DazzlePackageTest, DomesticKeepsTheOptionsAndWritesNoCustoms)
{
    xml::Document doc = build(false);
    std::vector<std::string> names = children(doc);
    for (const char *option :
         {"BalloonRate", "SignatureWaiver", "ExpressMailPremiumService", "NoWeekendDelivery", "NoHolidayDelivery"})
        EXPECT_TRUE(has(names, option)) << option;
    for (const char *customs : {"CustomsFormType", "ContentsType", "CustomsSigner", "CustomsCertify", "CustomsWeight1"})
        EXPECT_FALSE(has(names, customs)) << customs;
    EXPECT_EQ(doc.select("DAZzle/Package/BalloonRate").text(), "TRUE");
}

TEST_F(DazzlePackageTest, InternationalDropsTheOptionsAndWritesOnlyFilledCustomsLines)
{
    xml::Document doc = build(true);
    std::vector<std::string> names = children(doc);
    for (const char *option :
         {"BalloonRate", "SignatureWaiver", "ExpressMailPremiumService", "NoWeekendDelivery", "NoHolidayDelivery"})
        EXPECT_FALSE(has(names, option)) << option;
    EXPECT_TRUE(has(names, "NonMachinable"));
    std::vector<std::string> customs(std::find(names.begin(), names.end(), "CustomsFormType"), names.end());
    EXPECT_EQ(customs, (std::vector<std::string>{"CustomsFormType", "ContentsType", "CustomsSigner", "CustomsCertify",
                                                 "CustomsWeight1", "CustomsQuantity1", "CustomsDescription1",
                                                 "CustomsValue1", "CustomsValue3"}));
}

TEST_F(DazzlePackageTest, RootAttributesWeightAndTransactions)
{
    xml::Document doc = build(true);
    xml::Node root = doc.root();
    EXPECT_EQ(root.attribute("Layout"), (std::filesystem::path("/opt/DAZzle") / "Intl.lyt").string());
    EXPECT_EQ(root.attribute("OutputFile"), (std::filesystem::path("/t") / "KORVA-Dazzle-Results.xml").string());
    EXPECT_EQ(root.attribute("Test"), "YES");
    EXPECT_EQ(root.attribute("AutoClose"), "NO");
    EXPECT_EQ(root.attribute("Start"), "PRINTING"); // the definitions' own attributes stay
    EXPECT_EQ(doc.select("DAZzle/Package/WeightOz").text(), "18");
    EXPECT_FALSE(doc.select("DAZzle/Package/WeightLbs"));
    EXPECT_EQ(doc.select("DAZzle/Package/ToCountry").text(), "Canada");
    EXPECT_EQ(doc.select("DAZzle/Package/Transactions/Transaction/eBayTransactionID").text(), "2");
    EXPECT_EQ(doc.select("DAZzle/Package/Transactions/Transaction/OrderSource").text(), "EBAY");
    EXPECT_EQ(doc.select("DAZzle/Package/Transactions/Transaction").namespaceUri(), "");
}

TEST_F(DazzlePackageTest, ConfirmationAndServices)
{
    form["Confirmation"] = "SignatureConfirmation";
    form["COD"] = "True";
    form["InsuredMail"] = "UPIC";
    xml::Document doc = build(false);
    xml::Node services = doc.select("DAZzle/Package/Services");
    EXPECT_EQ(services.attribute("DeliveryConfirmation"), "OFF");
    EXPECT_EQ(services.attribute("SignatureConfirmation"), "ON");
    EXPECT_EQ(services.attribute("COD"), "ON");
    EXPECT_EQ(services.attribute("CertifiedMail"), "OFF");
    EXPECT_EQ(services.attribute("InsuredMail"), "UPIC");

    form["Confirmation"] = "NONE";
    xml::Document none = build(false);
    EXPECT_EQ(none.select("DAZzle/Package/Services").attribute("DeliveryConfirmation"), "OFF");
    EXPECT_EQ(none.select("DAZzle/Package/Services").attribute("SignatureConfirmation"), "OFF");
}

TEST_F(DazzlePackageTest, DefinitionsWithoutAPackageAreRefused)
{
    xml::Document broken = xml::Document::parse("<DAZzle/>");
    EXPECT_FALSE(buildDazzlePackage(broken, form, false, settings, selection.root(), "/t"));
    EXPECT_FALSE(buildDazzlePackage(xml::Document(nullptr), form, false, settings, selection.root(), "/t"));
}

// --- writing the package file ------------------------------------------------------

class DazzleWriteTest : public DazzlePackageTest {
  protected:
    TempDir temp;
    std::filesystem::path tempDir = temp / "Temp Folder";
    std::filesystem::path exe = temp / "Program Files" / "DAZZLE.EXE";

    void SetUp() override
    {
        std::filesystem::create_directories(tempDir);
        std::filesystem::create_directories(exe.parent_path());
        writeFile(exe, "#");
        tw::settings::set(settings, "DazzleExePath", exe.string());
        writeFile(tempDir / "KORVA-Dazzle-Results.xml", "<DAZzle>earlier</DAZzle>");
        writeFile(tempDir / "KORVA-Dazzle-Packages.xml", "earlier");
    }
    Checked<DazzlePrint> write()
    {
        return writeDazzlePackage(bundledDazzleDefinitions(), form, false, settings, selection.root(), tempDir);
    }
};

TEST_F(DazzleWriteTest, WritesThePackageKeepsEarlierResultsAsideAndGivesTheCommand)
{
    Checked<DazzlePrint> print = write();
    ASSERT_TRUE(print) << print.error();
    EXPECT_FALSE(std::filesystem::exists(tempDir / "KORVA-Dazzle-Results.xml"));
    // Nobody read them: kept under a dated name, not deleted.
    std::vector<std::string> kept;
    for (const auto &entry : std::filesystem::directory_iterator(tempDir))
        if (entry.path().filename().string().rfind("KORVA-Dazzle-Results.unread-", 0) == 0)
            kept.push_back(readFile(entry.path()));
    EXPECT_EQ(kept, std::vector<std::string>{"<DAZzle>earlier</DAZzle>"});
    EXPECT_EQ(print->files.packageFile, tempDir / "KORVA-Dazzle-Packages.xml");
    xml::Document written = xml::Document::load(print->files.packageFile);
    EXPECT_EQ(written.root().attribute("OutputFile"), (tempDir / "KORVA-Dazzle-Results.xml").string());
    EXPECT_EQ(print->command.program, exe);
    // One argument, blanks and all.
    EXPECT_EQ(print->command.arguments, std::vector<std::string>{(tempDir / "KORVA-Dazzle-Packages.xml").string()});
}

TEST_F(DazzleWriteTest, ABadWeightOrAMissingDazzleLeavesEverythingAsItWas)
{
    form["WeightOz"] = "4 oz";
    Checked<DazzlePrint> refused = write();
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("\"4 oz\""), std::string::npos) << refused.error();
    EXPECT_EQ(readFile(tempDir / "KORVA-Dazzle-Results.xml"), "<DAZzle>earlier</DAZzle>");
    EXPECT_EQ(readFile(tempDir / "KORVA-Dazzle-Packages.xml"), "earlier");

    form["WeightOz"] = "4";
    tw::settings::set(settings, "DazzleExePath", (temp / "nowhere" / "DAZZLE.EXE").string());
    Checked<DazzlePrint> missing = write();
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), "Dazzle.exe could not be found.  Please update path in Tools Options.");
    EXPECT_EQ(readFile(tempDir / "KORVA-Dazzle-Packages.xml"), "earlier");
}

// --- results -------------------------------------------------------------------------

TEST(DazzleStatus, CodesAndMessages)
{
    EXPECT_EQ(dazzleStatusCode("Rejected (-3)"), "-3");
    EXPECT_EQ(dazzleStatusCode("Rejected (-3)(x)"), "-3");
    EXPECT_EQ(dazzleStatusCode("odd )-4("), "");
    EXPECT_EQ(dazzleStatusCode("Rejected -3"), std::nullopt);
    EXPECT_EQ(dazzleStatusCode("Rejected (-3"), std::nullopt);

    EXPECT_EQ(dazzleStatusMessage("Test Print (0)"), "Test Complete.");
    EXPECT_EQ(dazzleStatusMessage("Rejected (-3)"), "Address Verification failed");
    EXPECT_EQ(dazzleStatusMessage("Rejected (-10)"),
              "CONFIRM service error - denied, service unavailable or communication error");
    EXPECT_EQ(dazzleStatusMessage("Rejected (-11)"), "Unexpected Dazzle Status: Rejected (-11)");
    EXPECT_EQ(dazzleStatusMessage("Rejected (-3 )"), "Unexpected Dazzle Status: Rejected (-3 )");
    EXPECT_EQ(dazzleStatusMessage("Printer offline"), "Unexpected Dazzle Status: Printer offline");
}

TEST(DazzleResults, PackagesWithTheirTrackingNumbersPostageAndOrders)
{
    TempDir dir;
    writeFile(dir / "r.xml",
              "<DAZzle><Package ID='1'><Status>Success</Status><PIC>9400111</PIC><FinalPostage>4.60</FinalPostage>"
              "<Transactions><Transaction><eBayItemID>11</eBayItemID><eBayTransactionID>0</eBayTransactionID>"
              "</Transaction><Transaction><eBayItemID>12</eBayItemID><eBayTransactionID>5</eBayTransactionID>"
              "</Transaction></Transactions></Package>"
              "<Package><Status>Success</Status><CustomsNumber>LZ1US</CustomsNumber></Package>"
              "<Package><Status>Success</Status><PIC/><CustomsNumber>LZ2US</CustomsNumber></Package>"
              "<Package><Status>Success</Status></Package>"
              "<Other/></DAZzle>");
    DazzleResults r = readDazzleResults(dir / "r.xml");
    ASSERT_EQ(r.state, DazzleResults::State::Read);
    ASSERT_EQ(r.packages.size(), 4u);
    EXPECT_TRUE(r.packages[0].printed());
    EXPECT_EQ(r.packages[0].trackingNumber(), "9400111");
    EXPECT_EQ(r.packages[0].finalPostage, "4.60");
    ASSERT_EQ(r.packages[0].orders.size(), 2u);
    EXPECT_EQ(r.packages[0].orders[1].itemId, "12");
    EXPECT_EQ(r.packages[0].orders[1].transactionId, "5");
    EXPECT_EQ(r.packages[1].trackingNumber(), "LZ1US");
    EXPECT_FALSE(r.packages[1].pic.has_value());
    EXPECT_EQ(r.packages[1].finalPostage, "0.00");
    EXPECT_EQ(r.packages[2].trackingNumber(), "LZ2US");
    EXPECT_EQ(r.packages[3].trackingNumber(), "");
    EXPECT_EQ(r.packages[0].element.attribute("ID"), "1");
}

TEST(DazzleResults, MissingUnreadableAndEmptyAreToldApart)
{
    TempDir dir;
    EXPECT_EQ(readDazzleResults(dir / "none.xml").state, DazzleResults::State::Missing);

    writeFile(dir / "half.xml", "<?xml version=\"1.0\"?><DAZzle><Package><Status>Succ");
    DazzleResults half = readDazzleResults(dir / "half.xml");
    EXPECT_EQ(half.state, DazzleResults::State::Unreadable);
    EXPECT_FALSE(half.error.empty());
    EXPECT_NE(unreadableResultsMessage(half).find(half.error), std::string::npos);

    writeFile(dir / "zero.xml", "");
    EXPECT_EQ(readDazzleResults(dir / "zero.xml").state, DazzleResults::State::Unreadable);

    writeFile(dir / "empty.xml", "<DAZzle><Note>nothing printed</Note></DAZzle>");
    DazzleResults empty = readDazzleResults(dir / "empty.xml");
    EXPECT_EQ(empty.state, DazzleResults::State::NoPackages);
    EXPECT_TRUE(empty.packages.empty());
}

} // namespace
} // namespace tw::test
