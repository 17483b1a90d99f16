// Printing a label from the form as the seller sent it to the orders marked
// shipped: the simulators answer through their files, the in-process
// sandbox takes the tracking numbers as eBay would, and the timers tick as
// the window's would.
#include "ebay/clseBayAPI.h"
#include "orders/download.h"
#include "orders/uploads.h"
#include "orders/usps.h"
#include "postage/formpage.h"
#include "postage/printing.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/postage/postage_support.h"
#include "tests/support/fake_shell.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"
#include "ui/rows.h"

#include <gtest/gtest.h>

#if defined(TW_HAVE_SANDBOX) && defined(TW_DAZZLE_SIM) && defined(TW_WORLDSHIP_SIM)
#include "sandbox/sandbox.h"

#include <QProcess>

namespace tw::test {
namespace {

using namespace postage;

class PrintingTest : public ::testing::Test {
  protected:
    sandbox::Sandbox sb;
    Config previous;
    TempDir dir;
    Session session;
    FakeShell shell;
    FeatureTable table;
    std::unique_ptr<Printing> printing;
    std::filesystem::path temp = dir / "temp dir";
    std::vector<ui::OrderRow> rows; // the two orders of one buyer, tagged
    int redraws = 0;

    void SetUp() override
    {
        // Two paid, unshipped Priority Mail orders of one buyer in the States.
        sandbox::State &state = sb.state();
        int buyer = -1;
        for (size_t b = 0; b < state.buyers.size() && buyer < 0; ++b) {
            const sandbox::Address &a = state.buyers[b].address;
            if (a.country == "US" && !customsNeeded(a.countryName, a.state)) buyer = int(b);
        }
        ASSERT_GE(buyer, 0);
        ASSERT_GE(state.orders.size(), 2u);
        for (size_t k = 0; k < 2; ++k) {
            sandbox::Order &o = state.orders[k];
            o.buyer = buyer;
            o.paid = o.created;
            o.shipped = {};
            o.trackingNumber.clear();
            o.carrierUsed.clear();
            o.shippingServiceUsed.clear();
            o.shippingService = "USPSPriority";
            o.modified = sb.ebayNow().addSecs(-60);
            rows.push_back({o.itemId, o.transactionId, "", state.buyers[size_t(buyer)].eiasToken, true});
        }
        state.reindex();
        ASSERT_TRUE(sb.start());
        previous = config();
        setConfig(sb.config());

        session.openStore(dir / "data");
        settings::write(session.store, "eBayAuthToken", sandbox::kDemoToken);
        settings::write(session.store, "DazzleExePath", TW_DAZZLE_SIM);
        settings::write(session.store, "UPSAccount", "X9");
        {
            FakeShell quiet;
            ebay::clseBayAPI api(session, quiet);
            orders::clsUSPSAPI usps(&quiet);
            orders::cmdDownloadOrders_Click(session, api, usps, quiet, {});
        }
        ASSERT_FALSE(order(0).select("ShippedTime"));
        ASSERT_FALSE(order(1).select("ShippedTime"));

        std::filesystem::create_directories(temp);
        shell.fake.el(shell.fake.add("INPUT", "PrintPostage")).props["value"] = "Print Postage";
        shell.fake.add("SPAN", "PostagePaid");
        table.setRedraw([this] { ++redraws; });
        printing = std::make_unique<Printing>(session, shell, table);
        printing->setTempDir(temp);
        ASSERT_TRUE(printing->selectOrders(rows));
        sb.clearLog();
    }
    void TearDown() override { setConfig(previous); }

    // The k-th order of the label as stored on disk.
    xml::Node order(size_t k)
    {
        m_onDisk = xml::Document::load(session.store.path(store::Doc::Transactions));
        return m_onDisk.select("Transactions/Transaction[Item/ItemID=$i and TransactionID=$t]",
                               {{"i", rows[k].itemId}, {"t", rows[k].transactionId}});
    }
    std::vector<xml::Node> labels()
    {
        m_labels = xml::Document::load(session.store.path(store::Doc::ShippingLabels));
        return m_labels.selectAll("ShippingLabels/ShippingLabel");
    }
    FormValues form(FormKind kind)
    {
        const xml::Document &settings = session.store.settings();
        return sentForm(kind,
                        fillPostageForm(kind, formSources(session.orderSelection.root(), settings, &session.lookup)),
                        settings);
    }
    std::string button() { return shell.fake.el(shell.fake.find("PrintPostage")).props["value"]; }
    bool buttonDisabled() { return shell.fake.el(shell.fake.find("PrintPostage")).props["disabled"] == "true"; }

    // Ticks the timer as the window does, once it runs, until the wait ends.
    bool run(std::string_view timer, const std::function<bool()> &waiting)
    {
        return waitFor([&] {
            if (shell.timers[std::string(timer)]) table.tick(timer);
            return !waiting();
        });
    }
    bool runDazzle()
    {
        return run(kDazzleTimer, [this] { return printing->waitingForDazzle(); });
    }
    bool runWorldShip()
    {
        return run(kWorldShipTimer, [this] { return printing->waitingForWorldShip(); });
    }
    void registerTimers()
    {
        table.addTimer(std::string(kDazzleTimer), [this] { printing->tmrWaitingForDazzle_Timer(); });
        table.addTimer(std::string(kWorldShipTimer), [this] { printing->tmrWaitingForWorldShip_Timer(); });
    }
    // A DAZzle that takes the package and answers nothing: the test writes
    // the results file itself.
    void quietDazzle()
    {
        const std::filesystem::path dazzle = dir / "quiet dazzle";
        writeFile(dazzle, "#!/bin/sh\nexit 0\n");
        std::filesystem::permissions(dazzle, std::filesystem::perms::owner_all);
        settings::write(session.store, "DazzleExePath", dazzle.string());
    }
    bool shippedAtEbay(size_t k) { return sb.state().findOrder(rows[k].itemId, rows[k].transactionId)->isShipped(); }
    std::vector<orders::PendingUpload> pending()
    {
        return orders::pendingUploads(session.store.doc(store::Doc::ShippingLabels));
    }

  private:
    xml::Document m_onDisk{nullptr};
    xml::Document m_labels{nullptr};
};

TEST_F(PrintingTest, ADazzleLabelIsRecordedSentToEbayAndMarksBothOrdersShipped)
{
    registerTimers();
    printing->sendToDazzle(form(FormKind::Dazzle), false);
    ASSERT_TRUE(shell.boxes.empty()) << shell.boxes[0].second;
    EXPECT_EQ(shell.overlays.back(), "Printing");
    EXPECT_EQ(button(), "Waiting for Dazzle");
    EXPECT_TRUE(buttonDisabled());
    // The package file went to DAZzle as one argument, blank and all.
    EXPECT_TRUE(std::filesystem::exists(temp / "KORVA-Dazzle-Packages.xml"));
    ASSERT_TRUE(runDazzle());
    EXPECT_TRUE(shell.boxes.empty()) << shell.boxes[0].second;

    std::vector<xml::Node> recorded = labels();
    ASSERT_EQ(recorded.size(), 1u);
    const std::string pic = GetNodeText(recorded[0], "TrackingNumber");
    EXPECT_EQ(pic.size(), 22u);
    EXPECT_EQ(GetNodeText(recorded[0], "Carrier"), "USPS");
    EXPECT_EQ(recorded[0].selectAll("PackingList/Item").size(), 2u);
    EXPECT_EQ(GetNodeText(recorded[0], "Package/PIC"), pic);

    std::vector<sandbox::LoggedRequest> sales = sb.requests("CompleteSale");
    ASSERT_EQ(sales.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_NE(sales[k].body.find("<ItemID>" + rows[k].itemId + "</ItemID>"), std::string::npos);
        EXPECT_NE(sales[k].body.find("<ShipmentTrackingNumber>" + pic + "</ShipmentTrackingNumber>"),
                  std::string::npos);
        EXPECT_NE(sales[k].body.find("<ShippingCarrierUsed>USPS</ShippingCarrierUsed>"), std::string::npos);
        xml::Node stored = order(k);
        EXPECT_TRUE(stored.select("ShippedTime")) << k;
        EXPECT_EQ(GetNodeText(stored, "ShippingDetails/ShipmentTrackingNumber"), pic);
        EXPECT_EQ(GetNodeText(stored, "ShippingDetails/ShippingServiceUsed"), "USPSPriority");
    }
    EXPECT_EQ(shell.fake.el(shell.fake.find("PostagePaid")).props["innerText"], GetNodeText(recorded[0], "Postage"));
    EXPECT_EQ(button(), "Print Postage");
    EXPECT_TRUE(buttonDisabled());
    EXPECT_FALSE(shell.processingShown());
    EXPECT_NE(shell.lastStatus().find("2 of 2 orders updated on eBay"), std::string::npos) << shell.lastStatus();
    EXPECT_FALSE(shell.timers[std::string(kDazzleTimer)]);
}

TEST_F(PrintingTest, AnErrorStatusStoresNothingAndTheButtonCanBeUsedAgain)
{
    registerTimers();
    const std::string before = readFile(session.store.path(store::Doc::Transactions));
    FormValues f = form(FormKind::Dazzle);
    f["ReferenceID"] = "DAZZLE-ERROR(-3)";
    printing->sendToDazzle(f, false);
    ASSERT_TRUE(runDazzle());
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0], std::make_pair(std::string("Tidewell"), std::string("Address Verification failed")));
    EXPECT_EQ(button(), "Print Postage");
    EXPECT_FALSE(buttonDisabled());
    EXPECT_FALSE(shell.processingShown());
    EXPECT_TRUE(labels().empty());
    EXPECT_TRUE(sb.requests("CompleteSale").empty());
    EXPECT_EQ(readFile(session.store.path(store::Doc::Transactions)), before);
}

// What each answer of DAZzle or WorldShip leaves behind.
struct Answer {
    const char *name;
    bool worldShip;
    bool testMode;    // sent to DAZzle as a test label
    const char *file; // the answer as written; not XML: never reads
    bool recorded;    // a label in ShippingLabels.xml
    size_t uploads;   // CompleteSale calls
    const char *trackingAtEbay;
    const char *message; // the start of the one box shown, "" for none
};

const char kWorldShipHead[] = "<OpenShipments xmlns='x-schema: OpenShipments.xdr'>";

const Answer kAnswers[] = {
    {"DazzleLabel", false, false,
     "<DAZzle><Package><Status>Success</Status><PIC>9400111</PIC><FinalPostage>4.95</FinalPostage></Package></DAZzle>",
     true, 2, "9400111", ""},
    {"DazzleError", false, false, "<DAZzle><Package><Status>Rejected (-3)</Status></Package></DAZzle>", false, 0, "",
     "Address Verification failed"},
    {"DazzleWithoutNumber", false, false, "<DAZzle><Package><Status>Success</Status></Package></DAZzle>", true, 2, "",
     ""},
    // A DAZzle that charges for a test label all the same is not believed.
    {"DazzleTestMode", false, true, "<DAZzle><Package><Status>Success</Status><PIC>9400222</PIC></Package></DAZzle>",
     false, 0, "", "Test Complete."},
    {"DazzleUnreadable", false, false, "<DAZzle><Package><Sta", false, 0, "", "DAZzle's results could not be read ("},
    {"WorldShipShipment", true, false,
     "<OpenShipment ProcessStatus='Processed'><ProcessMessage><TrackingNumbers><TrackingNumber>1ZX9000001"
     "</TrackingNumber></TrackingNumbers></ProcessMessage></OpenShipment></OpenShipments>",
     true, 2, "1ZX9000001", ""},
    {"WorldShipError", true, false,
     "<OpenShipment ProcessStatus='Error'><ProcessMessage><Error><ErrorDescription>Invalid postal code"
     "</ErrorDescription></Error></ProcessMessage></OpenShipment></OpenShipments>",
     false, 0, "", "WorldShip reported: Invalid postal code. Nothing was marked shipped"},
    {"WorldShipWithoutNumber", true, false, "<OpenShipment ProcessStatus='Processed'/></OpenShipments>", false, 0, "",
     "WorldShip gave no tracking number. Nothing was marked shipped"},
    {"WorldShipUnreadable", true, false, "<OpenShipment ProcessStatus='Proc", false, 0, "",
     "WorldShip's answer could not be read ("},
};

void PrintTo(const Answer &a, std::ostream *os)
{
    *os << a.name;
}

class AnswerTest : public PrintingTest, public ::testing::WithParamInterface<Answer> {};

TEST_P(AnswerTest, LeavesTheLabelUploadsAndOrdersAsTheAnswerSays)
{
    const Answer &a = GetParam();
    registerTimers();
    quietDazzle();
    MockClock clock(SystemClock().localNow());
    const std::filesystem::path folder = dir / "world ship";
    std::filesystem::create_directories(folder);
    settings::write(session.store, "UPSWorldShipAutoXMLImportFolder", folder.string());
    std::filesystem::path answer;
    if (a.worldShip) {
        printing->sendToWorldShip(form(FormKind::WorldShip));
        answer = folder / "KORVA.Out";
        writeFile(answer, kWorldShipHead + std::string(a.file));
    } else {
        FormValues f = form(FormKind::Dazzle);
        if (a.testMode) f["TestMode"] = "True";
        printing->sendToDazzle(f, false);
        answer = temp / "KORVA-Dazzle-Results.xml";
        writeFile(answer, a.file);
    }
    const std::string_view timer = a.worldShip ? kWorldShipTimer : kDazzleTimer;
    ASSERT_TRUE(shell.timers[std::string(timer)]);
    table.tick(timer);
    clock.advanceSecs(30); // what does not read is given up after 30 seconds
    if (shell.timers[std::string(timer)]) table.tick(timer);

    EXPECT_FALSE(printing->waitingForDazzle() || printing->waitingForWorldShip());
    EXPECT_FALSE(shell.timers[std::string(timer)]);
    EXPECT_FALSE(shell.processingShown());
    EXPECT_EQ(labels().size(), a.recorded ? 1u : 0u);
    EXPECT_TRUE(pending().empty());
    EXPECT_EQ(sb.requests("CompleteSale").size(), a.uploads);
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(bool(order(k).select("ShippedTime")), a.uploads > 0) << k;
        EXPECT_EQ(shippedAtEbay(k), a.uploads > 0) << k;
        EXPECT_EQ(GetNodeText(order(k), "ShippingDetails/ShipmentTrackingNumber"), a.trackingAtEbay) << k;
    }
    if (*a.message) {
        ASSERT_EQ(shell.boxes.size(), 1u);
        EXPECT_EQ(shell.boxes[0].second.rfind(a.message, 0), 0u) << shell.boxes[0].second;
    } else {
        EXPECT_TRUE(shell.boxes.empty()) << shell.boxes[0].second;
    }
    // A read answer is done with; one that never read is left for the seller.
    EXPECT_EQ(std::filesystem::exists(answer), std::string(a.message).find("could not be read") != std::string::npos);
    // A wait ended by an answer leaves nothing behind for the next start.
    EXPECT_EQ(readFile(session.store.path(store::Doc::ShippingLabels)).find("<Wait>"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Answers, AnswerTest, ::testing::ValuesIn(kAnswers),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(PrintingTest, ANumberEbayRefusedOrDidNotConfirmStaysWithTheLabelUntilEbayHasIt)
{
    registerTimers();
    MockClock clock(SystemClock().localNow());
    // eBay refuses the first order's number (twice) and takes the second's
    // without the answer getting back.
    for (int nth : {1, 3}) {
        sandbox::Fault refuse;
        refuse.call = "CompleteSale";
        refuse.kind = sandbox::FaultKind::AckFailure;
        refuse.nth = nth;
        sb.injectFault(refuse);
    }
    sandbox::Fault lost;
    lost.call = "CompleteSale";
    lost.kind = sandbox::FaultKind::Drop;
    lost.nth = 2;
    sb.injectFault(lost);

    printing->sendToDazzle(form(FormKind::Dazzle), false);
    ASSERT_TRUE(runDazzle());
    ASSERT_EQ(shell.boxes.size(), 2u) << shell.boxes[0].second;
    EXPECT_EQ(shell.boxes[0].second.rfind("Could not update eBay with shipping information.", 0), 0u);
    EXPECT_EQ(shell.boxes[1].second.rfind("eBay did not answer", 0), 0u) << shell.boxes[1].second;
    ASSERT_EQ(labels().size(), 1u);
    const std::string pic = GetNodeText(labels()[0], "TrackingNumber");
    EXPECT_FALSE(order(0).select("ShippedTime"));
    EXPECT_FALSE(order(1).select("ShippedTime"));
    EXPECT_TRUE(shippedAtEbay(1));
    std::vector<orders::PendingUpload> left = pending();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].status, "Refused");
    EXPECT_EQ(left[1].status, "Unconfirmed");

    // The rows say so; only the refused number is offered again.
    {
        ui::RowBuilder builder(session, "NotShipped", clock.localNow());
        const std::string refused = builder.row(
            session.store.transactions().select("Transactions/Transaction[Item/ItemID=$i]", {{"i", rows[0].itemId}}),
            0);
        const std::string unconfirmed = builder.row(
            session.store.transactions().select("Transactions/Transaction[Item/ItemID=$i]", {{"i", rows[1].itemId}}),
            1);
        EXPECT_NE(refused.find("tracking has not reached eBay"), std::string::npos) << refused;
        EXPECT_NE(refused.find("Action=ResendTracking&amp;ItemID=" + rows[0].itemId), std::string::npos);
        EXPECT_NE(unconfirmed.find("has not confirmed"), std::string::npos) << unconfirmed;
        EXPECT_EQ(unconfirmed.find("ResendTracking"), std::string::npos);
    }
    // Printing again for them asks first.
    shell.answers = {"No"};
    EXPECT_FALSE(printing->selectOrders(rows));
    EXPECT_NE(shell.boxes.back().second.find("already have a label:"), std::string::npos) << shell.boxes.back().second;
    EXPECT_NE(shell.boxes.back().second.find("USPS " + pic), std::string::npos);
    EXPECT_FALSE(session.orderSelection);

    // The row's link sends only what eBay refused; eBay refuses it again.
    printing->ResendTracking(rows[1].itemId, rows[1].transactionId);
    EXPECT_EQ(sb.requests("CompleteSale").size(), 2u);
    printing->ResendTracking(rows[0].itemId, rows[0].transactionId);
    EXPECT_EQ(sb.requests("CompleteSale").size(), 3u);
    EXPECT_EQ(pending().size(), 2u);

    // The next download sends the refused number again. The other waits for a
    // download that asks eBay well after it was sent, which finds it at eBay.
    {
        FakeShell quiet;
        ebay::clseBayAPI api(session, quiet);
        orders::clsUSPSAPI usps(&quiet);
        orders::cmdDownloadOrders_Click(session, api, usps, quiet, {});
        EXPECT_EQ(quiet.lastStatus(), "Tracking numbers that had not reached eBay: 1 of 2 now on eBay, 1 without an "
                                      "answer from eBay.");
    }
    EXPECT_EQ(sb.requests("CompleteSale").size(), 4u);
    clock.advanceSecs(orders::kAskedMarginSeconds);
    {
        FakeShell quiet;
        ebay::clseBayAPI api(session, quiet);
        orders::clsUSPSAPI usps(&quiet);
        orders::cmdDownloadOrders_Click(session, api, usps, quiet, {});
        EXPECT_EQ(quiet.lastStatus(), "Tracking numbers that had not reached eBay: 1 of 1 now on eBay.");
    }
    std::vector<sandbox::LoggedRequest> sales = sb.requests("CompleteSale");
    ASSERT_EQ(sales.size(), 4u);
    EXPECT_NE(sales[3].body.find("<ItemID>" + rows[0].itemId + "</ItemID>"), std::string::npos);
    EXPECT_TRUE(pending().empty());
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_TRUE(order(k).select("ShippedTime")) << k;
        EXPECT_EQ(GetNodeText(order(k), "ShippingDetails/ShipmentTrackingNumber"), pic) << k;
    }
}

TEST_F(PrintingTest, AResultsFileStillBeingWrittenIsReadOnceWhole)
{
    registerTimers();
    FormValues f = form(FormKind::Dazzle);
    f["ReferenceID"] = "DAZZLE-SLOW(60000)";
    printing->sendToDazzle(f, false);
    const std::filesystem::path results = temp / "KORVA-Dazzle-Results.xml";
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(results); }));
    for (int k = 0; k < 5; ++k)
        table.tick(kDazzleTimer);
    EXPECT_TRUE(printing->waitingForDazzle());
    EXPECT_TRUE(shell.boxes.empty());
    EXPECT_TRUE(shell.timers[std::string(kDazzleTimer)]);

    writeFile(temp / "KORVA-Dazzle-Results.xml.continue", "");
    ASSERT_TRUE(runDazzle());
    EXPECT_TRUE(shell.boxes.empty()) << shell.boxes[0].second;
    EXPECT_EQ(labels().size(), 1u);
}

TEST_F(PrintingTest, AResultsFileThatNeverReadsIsGivenUpAfterThirtySeconds)
{
    registerTimers();
    MockClock clock(SystemClock().localNow());
    FormValues f = form(FormKind::Dazzle);
    f["ReferenceID"] = "DAZZLE-SLOW(60000)";
    printing->sendToDazzle(f, false);
    const std::filesystem::path results = temp / "KORVA-Dazzle-Results.xml";
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(results); }));
    table.tick(kDazzleTimer);
    clock.advanceSecs(29);
    table.tick(kDazzleTimer);
    EXPECT_TRUE(printing->waitingForDazzle());
    clock.advanceSecs(1);
    table.tick(kDazzleTimer);
    // Lets the simulator end, and waits until it has seen that: a simulator
    // left waiting outlives the test and holds its output open.
    const std::filesystem::path go = temp / "KORVA-Dazzle-Results.xml.continue";
    writeFile(go, "");
    EXPECT_TRUE(waitFor([&] { return !std::filesystem::exists(go); }));

    EXPECT_FALSE(printing->waitingForDazzle());
    EXPECT_FALSE(shell.timers[std::string(kDazzleTimer)]);
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].second.rfind("DAZzle's results could not be read (", 0), 0u) << shell.boxes[0].second;
    EXPECT_FALSE(buttonDisabled());
    EXPECT_FALSE(shell.processingShown());
    EXPECT_TRUE(labels().empty());
}

TEST_F(PrintingTest, ResultsWithoutAPackageOrARefusedFormEndWithAMessage)
{
    registerTimers();
    FormValues f = form(FormKind::Dazzle);
    f["ReferenceID"] = "DAZZLE-EMPTY";
    printing->sendToDazzle(f, false);
    ASSERT_TRUE(runDazzle());
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].second, noPackagesMessage());
    EXPECT_FALSE(buttonDisabled());
    EXPECT_FALSE(shell.processingShown());

    // A weight that is no number: nothing written, nothing started.
    std::filesystem::remove(temp / "KORVA-Dazzle-Packages.xml");
    f = form(FormKind::Dazzle);
    f["WeightLbs"] = "2 lb";
    printing->sendToDazzle(f, false);
    ASSERT_EQ(shell.boxes.size(), 2u);
    EXPECT_NE(shell.boxes[1].second.find("\"2 lb\""), std::string::npos) << shell.boxes[1].second;
    EXPECT_FALSE(printing->waitingForDazzle());
    EXPECT_FALSE(shell.timers[std::string(kDazzleTimer)]);
    EXPECT_FALSE(std::filesystem::exists(temp / "KORVA-Dazzle-Packages.xml"));
    EXPECT_EQ(button(), "Print Postage");
    EXPECT_FALSE(buttonDisabled());
    EXPECT_FALSE(shell.processingShown());
    EXPECT_TRUE(labels().empty());
}

TEST_F(PrintingTest, ResultsThatLeaveOutTheOrdersAreTakenForTheOrdersSent)
{
    // A DAZzle that answers without echoing the orders of the package.
    const std::filesystem::path dazzle = dir / "bare dazzle";
    writeFile(dazzle, "#!/bin/sh\n"
                      "out=$(sed -n 's/.*OutputFile=\"\\([^\"]*\\)\".*/\\1/p' \"$1\" | head -n 1)\n"
                      "printf '<DAZzle><Package><Status>Success</Status><PIC>9400111</PIC>"
                      "<FinalPostage>4.95</FinalPostage></Package></DAZzle>' > \"$out\"\n");
    std::filesystem::permissions(dazzle, std::filesystem::perms::owner_all);
    settings::write(session.store, "DazzleExePath", dazzle.string());
    registerTimers();
    printing->sendToDazzle(form(FormKind::Dazzle), false);
    ASSERT_TRUE(runDazzle());
    EXPECT_TRUE(shell.boxes.empty()) << shell.boxes[0].second;
    std::vector<xml::Node> recorded = labels();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].selectAll("PackingList/Item").size(), 2u);
    EXPECT_EQ(sb.requests("CompleteSale").size(), 2u);
    EXPECT_EQ(GetNodeText(order(1), "ShippingDetails/ShipmentTrackingNumber"), "9400111");
}

TEST_F(PrintingTest, ALabelDazzlePrintsAfterCancelIsCompletedEvenAfterARestart)
{
    registerTimers();
    quietDazzle();
    printing->sendToDazzle(form(FormKind::Dazzle), false);
    printing->CancelPrintPostage();
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].second.rfind("DAZzle already has this label and may still print it.", 0), 0u);
    EXPECT_FALSE(shell.processingShown());
    EXPECT_TRUE(shell.timers[std::string(kDazzleTimer)]);

    // The program ends before DAZzle answers; the next run picks the wait up.
    printing.reset();
    Session next;
    next.openStore(dir / "data");
    FakeShell nextShell;
    FeatureTable nextTable;
    Printing again(next, nextShell, nextTable);
    again.setTempDir(temp);
    again.resumeWaits();
    ASSERT_TRUE(nextShell.timers[std::string(kDazzleTimer)]);
    again.tmrWaitingForDazzle_Timer();
    EXPECT_TRUE(again.waitingForDazzle());

    writeFile(temp / "KORVA-Dazzle-Results.xml",
              "<DAZzle><Package><Status>Success</Status><PIC>9400333</PIC><FinalPostage>5.10</FinalPostage>"
              "</Package></DAZzle>");
    again.tmrWaitingForDazzle_Timer();
    EXPECT_FALSE(again.waitingForDazzle());
    ASSERT_EQ(labels().size(), 1u);
    std::vector<sandbox::LoggedRequest> sales = sb.requests("CompleteSale");
    ASSERT_EQ(sales.size(), 2u);
    EXPECT_NE(sales[0].body.find("<ShipmentTrackingNumber>9400333</ShipmentTrackingNumber>"), std::string::npos);
    EXPECT_EQ(GetNodeText(order(1), "ShippingDetails/ShipmentTrackingNumber"), "9400333");
    ASSERT_EQ(nextShell.boxes.size(), 1u);
    EXPECT_EQ(nextShell.boxes[0].second.rfind("DAZzle printed the label you had left", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(temp / "KORVA-Dazzle-Results.xml"));
}

class WorldShipPrintingTest : public PrintingTest {
  protected:
    std::filesystem::path folder = dir / "world ship";
    QProcess worldship;

    void SetUp() override
    {
        PrintingTest::SetUp();
        std::filesystem::create_directories(folder);
        settings::write(session.store, "UPSWorldShipAutoXMLImportFolder", folder.string());
    }
    void TearDown() override
    {
        if (worldship.state() != QProcess::NotRunning) {
            worldship.kill();
            worldship.waitForFinished(5000);
        }
        PrintingTest::TearDown();
    }
    void startWorldShip()
    {
        worldship.start(TW_WORLDSHIP_SIM, {QString::fromStdString(folder.string()), "--once", "--timeout", "30"});
        ASSERT_TRUE(worldship.waitForStarted(10000));
    }
};

TEST_F(WorldShipPrintingTest, AShipmentIsRecordedAndItsNumberSentToEbayForEveryOrder)
{
    registerTimers();
    startWorldShip();
    printing->sendToWorldShip(form(FormKind::WorldShip));
    EXPECT_EQ(shell.overlays.back(), "Waiting for WorldShip");
    ASSERT_TRUE(runWorldShip());
    EXPECT_TRUE(shell.boxes.empty()) << shell.boxes[0].second;

    std::vector<xml::Node> recorded = labels();
    ASSERT_EQ(recorded.size(), 1u);
    const std::string number = GetNodeText(recorded[0], "TrackingNumber");
    EXPECT_EQ(number.substr(0, 4), "1ZX9");
    EXPECT_EQ(GetNodeText(recorded[0], "Carrier"), "UPS");
    EXPECT_EQ(GetNodeText(recorded[0], "Postage"), "Unknown");
    EXPECT_TRUE(recorded[0].select("OpenShipment/ShipTo"));

    std::vector<sandbox::LoggedRequest> sales = sb.requests("CompleteSale");
    ASSERT_EQ(sales.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_NE(sales[k].body.find("<ShipmentTrackingNumber>" + number + "</ShipmentTrackingNumber>"),
                  std::string::npos);
        EXPECT_NE(sales[k].body.find("<ShippingCarrierUsed>UPS</ShippingCarrierUsed>"), std::string::npos);
        EXPECT_TRUE(order(k).select("ShippedTime")) << k;
        EXPECT_EQ(GetNodeText(order(k), "ShippingDetails/ShipmentTrackingNumber"), number);
    }
    EXPECT_FALSE(shell.processingShown());
    EXPECT_FALSE(shell.timers[std::string(kWorldShipTimer)]);

    // The same form makes no second shipment.
    printing->sendToWorldShip(form(FormKind::WorldShip));
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].second.rfind("A label has already been made from this form.", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(folder / "KORVA.xml"));
    EXPECT_FALSE(printing->waitingForWorldShip());
    EXPECT_FALSE(shell.processingShown());
}

TEST_F(WorldShipPrintingTest, CancelWithdrawsAShipmentNotTakenYetAndCompletesOneTakenWhenItsAnswerComes)
{
    registerTimers();
    printing->sendToWorldShip(form(FormKind::WorldShip));
    ASSERT_TRUE(printing->waitingForWorldShip());
    table.tick(kWorldShipTimer);
    printing->CancelPrintPostage();
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].second, "WorldShip had not taken the shipment yet: it has been withdrawn and nothing will "
                                     "print.");
    EXPECT_FALSE(std::filesystem::exists(folder / "KORVA.xml"));
    EXPECT_FALSE(printing->waitingForWorldShip());
    EXPECT_FALSE(shell.timers[std::string(kWorldShipTimer)]);
    EXPECT_FALSE(shell.processingShown());
    EXPECT_EQ(redraws, 1);

    // Sent again and taken by WorldShip before the seller leaves: its answer still counts.
    startWorldShip();
    FormValues f = form(FormKind::WorldShip);
    f["Reference4"] = "WORLDSHIP-LATE(30000)";
    printing->sendToWorldShip(f);
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(folder / "KORVA.xxx"); }));
    printing->CancelPrintPostage();
    ASSERT_EQ(shell.boxes.size(), 2u);
    EXPECT_EQ(shell.boxes[1].second.rfind("WorldShip has already taken this shipment and may still print", 0), 0u);
    EXPECT_TRUE(printing->waitingForWorldShip());
    EXPECT_TRUE(labels().empty());

    writeFile(folder / "KORVA.Out.continue", "");
    ASSERT_TRUE(runWorldShip());
    ASSERT_EQ(labels().size(), 1u);
    EXPECT_EQ(sb.requests("CompleteSale").size(), 2u);
    EXPECT_TRUE(order(0).select("ShippedTime"));
    ASSERT_EQ(shell.boxes.size(), 3u);
    EXPECT_EQ(shell.boxes[2].second.rfind("WorldShip shipped the shipment you had left", 0), 0u);
    EXPECT_FALSE(shell.processingShown());
}

TEST_F(WorldShipPrintingTest, AMissingImportFolderIsToldAndNothingWaits)
{
    settings::write(session.store, "UPSWorldShipAutoXMLImportFolder", (dir / "no such folder").string());
    printing->sendToWorldShip(form(FormKind::WorldShip));
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].second, kImportFolderMissing);
    EXPECT_FALSE(printing->waitingForWorldShip());
    EXPECT_FALSE(shell.timers[std::string(kWorldShipTimer)]);
    EXPECT_FALSE(shell.processingShown());
}

} // namespace
} // namespace tw::test

#endif
