// dazzle-sim and worldship-sim run as real processes on the files the
// program writes, and the program reads what they answer.
#include "postage/dazzle.h"
#include "postage/worldship.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/postage/postage_support.h"
#include "tests/support/temp_dir.h"

#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

#if defined(TW_DAZZLE_SIM) && defined(TW_WORLDSHIP_SIM)

namespace tw::test {
namespace {

using namespace postage;

QStringList arguments(const std::vector<std::string> &args)
{
    QStringList list;
    for (const std::string &a : args)
        list << QString::fromStdString(a);
    return list;
}

class DazzleSimTest : public ::testing::Test {
  protected:
    TempDir temp;
    std::filesystem::path tempDir = temp / "temp dir";
    xml::Document settings = xml::Document::parse("<Settings/>");
    xml::Document selection = xml::Document::parse(
        "<Transactions><Transaction xmlns='urn:ebay:apis:eBLBaseComponents'><Item><ItemID>110</ItemID></Item>"
        "<TransactionID>0</TransactionID></Transaction><Transaction xmlns='urn:ebay:apis:eBLBaseComponents'>"
        "<Item><ItemID>111</ItemID></Item><TransactionID>7</TransactionID></Transaction></Transactions>");
    FormValues form = {{"MailClass", "PRIORITY"}, {"WeightLbs", "1"},      {"WeightOz", "4"},
                       {"ToName", "Ann Buyer"},   {"ToCountry", "USA"},    {"ReferenceID", "1044"},
                       {"TestMode", "False"},     {"Layout", "Zebra.lyt"}, {"CustomsValue1", "5"}};
    QProcess dazzle;

    void SetUp() override
    {
        std::filesystem::create_directories(tempDir);
        tw::settings::set(settings, "DazzleExePath", TW_DAZZLE_SIM);
    }
    void TearDown() override
    {
        if (dazzle.state() != QProcess::NotRunning) {
            dazzle.kill();
            dazzle.waitForFinished(5000);
        }
    }

    // Sends the form as "Print Postage" does and starts the simulator with
    // the command given back; the results file as the first read finds it.
    DazzleResults print(bool customs = false)
    {
        Checked<DazzlePrint> p =
            writeDazzlePackage(bundledDazzleDefinitions(), form, customs, settings, selection.root(), tempDir);
        EXPECT_TRUE(p) << p.error();
        if (!p) return {};
        resultsFile = p->files.resultsFile;
        dazzle.start(QString::fromStdString(p->command.program.string()), arguments(p->command.arguments));
        EXPECT_TRUE(dazzle.waitForStarted(10000));
        DazzleResults r;
        EXPECT_TRUE(
            waitFor([&] { return (r = readDazzleResults(resultsFile)).state != DazzleResults::State::Missing; }));
        return r;
    }
    DazzleResults finished()
    {
        EXPECT_TRUE(dazzle.waitForFinished(30000));
        EXPECT_EQ(dazzle.exitCode(), 0) << dazzle.readAllStandardError().toStdString();
        return readDazzleResults(resultsFile);
    }
    std::filesystem::path resultsFile;
};

TEST_F(DazzleSimTest, DomesticLabelHasAPicAndPostageAndEchoesTheOrders)
{
    print();
    DazzleResults r = finished();
    ASSERT_EQ(r.state, DazzleResults::State::Read);
    ASSERT_EQ(r.packages.size(), 1u);
    const DazzlePackage &p = r.packages[0];
    EXPECT_TRUE(p.printed());
    ASSERT_TRUE(p.pic.has_value());
    EXPECT_EQ(p.pic->size(), 22u);
    EXPECT_FALSE(p.customsNumber.has_value());
    EXPECT_NE(p.finalPostage, "0.00");
    ASSERT_EQ(p.orders.size(), 2u);
    EXPECT_EQ(p.orders[1].itemId, "111");
    EXPECT_EQ(p.orders[1].transactionId, "7");
}

TEST_F(DazzleSimTest, InternationalLabelHasACustomsNumberInsteadOfAPic)
{
    form["ToCountry"] = "Canada";
    form["MailClass"] = "INTLFIRST";
    print(true);
    DazzleResults r = finished();
    ASSERT_EQ(r.packages.size(), 1u);
    EXPECT_FALSE(r.packages[0].pic.has_value());
    EXPECT_EQ(r.packages[0].trackingNumber().substr(0, 2), "LZ");
}

TEST_F(DazzleSimTest, TestModeAndErrorMarkersGiveTheirStatuses)
{
    form["TestMode"] = "True";
    print();
    DazzleResults test = finished();
    ASSERT_EQ(test.packages.size(), 1u);
    EXPECT_FALSE(test.packages[0].printed());
    EXPECT_EQ(dazzleStatusCode(test.packages[0].status), "0");
    EXPECT_EQ(dazzleStatusMessage(test.packages[0].status), "Test Complete.");

    form["TestMode"] = "False";
    form["ToName"] = "Ann DAZZLE-ERROR(-3)";
    print();
    EXPECT_EQ(dazzleStatusMessage(finished().packages.at(0).status), "Address Verification failed");

    form["ToName"] = "Ann";
    form["ReferenceID"] = "DAZZLE-ERROR(-11)";
    print();
    EXPECT_EQ(dazzleStatusMessage(finished().packages.at(0).status), "Unexpected Dazzle Status: Rejected (-11)");

    form["ReferenceID"] = "DAZZLE-NOTRACKING";
    print();
    DazzleResults none = finished();
    EXPECT_TRUE(none.packages.at(0).printed());
    EXPECT_EQ(none.packages.at(0).trackingNumber(), "");

    form["ReferenceID"] = "DAZZLE-EMPTY";
    print();
    EXPECT_EQ(finished().state, DazzleResults::State::NoPackages);
}

TEST_F(DazzleSimTest, ASlowWriteIsUnreadableUntilItIsWhole)
{
    form["ReferenceID"] = "1044 DAZZLE-SLOW(60000)";
    DazzleResults first = print();
    EXPECT_EQ(first.state, DazzleResults::State::Unreadable);
    std::filesystem::path go = resultsFile;
    go += ".continue";
    writeFile(go, "");
    DazzleResults r;
    EXPECT_TRUE(waitFor([&] { return (r = readDazzleResults(resultsFile)).state == DazzleResults::State::Read; }));
    ASSERT_EQ(r.packages.size(), 1u);
    EXPECT_TRUE(r.packages[0].printed());
    finished();
}

class WorldShipSimTest : public ::testing::Test {
  protected:
    TempDir folder;
    xml::Document settings = xml::Document::parse("<Settings><UPSAccount>X9</UPSAccount></Settings>");
    FormValues form = {{"ToName", "Ann Buyer"}, {"MailClass", "GND"}, {"WeightLbs", "2"}, {"WeightOz", "8"}};
    QProcess worldship;

    void SetUp() override
    {
        tw::settings::set(settings, "UPSWorldShipAutoXMLImportFolder", folder.path().string());
        worldship.start(TW_WORLDSHIP_SIM,
                        {QString::fromStdString(folder.path().string()), "--once", "--timeout", "30"});
        ASSERT_TRUE(worldship.waitForStarted(10000));
    }
    void TearDown() override
    {
        if (worldship.state() != QProcess::NotRunning) {
            worldship.kill();
            worldship.waitForFinished(5000);
        }
    }
    WorldShipOutput send()
    {
        Checked<WorldShipFiles> files = writeWorldShipImport(form, settings);
        EXPECT_TRUE(files) << files.error();
        WorldShipOutput out;
        EXPECT_TRUE(waitFor(
            [&] { return (out = readWorldShipOutput(folder / "KORVA.Out")).state == WorldShipOutput::State::Read; }));
        EXPECT_TRUE(worldship.waitForFinished(30000));
        EXPECT_EQ(worldship.exitCode(), 0) << worldship.readAllStandardError().toStdString();
        return out;
    }
};

TEST_F(WorldShipSimTest, ImportFileIsAnsweredWithAUpsTrackingNumber)
{
    WorldShipOutput out = send();
    EXPECT_EQ(out.trackingNumber.size(), 18u);
    EXPECT_EQ(out.trackingNumber.substr(0, 10), "1ZX9000003");
    EXPECT_EQ(GetNodeText(out.openShipment, "ShipTo/CompanyOrName"), "Ann Buyer");
    EXPECT_TRUE(std::filesystem::exists(folder / "KORVA.xxx"));
    EXPECT_FALSE(std::filesystem::exists(folder / "KORVA.xml"));
}

TEST_F(WorldShipSimTest, WithoutAProcessMessageThereIsNoTrackingNumber)
{
    form["ToName"] = "Ann WORLDSHIP-NOMESSAGE";
    WorldShipOutput out = send();
    EXPECT_FALSE(out.openShipment.select("ProcessMessage"));
    EXPECT_EQ(out.trackingNumber, "");
    EXPECT_FALSE(out.shipped());
}

} // namespace
} // namespace tw::test

#endif
