#include "orders/shipment.h"
#include "orders/usps.h"
#include "sandbox/sandbox.h"
#include "tests/support/fake_shell.h"
#include "tests/support/loopback_http.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"

#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

using namespace tw;

namespace {

struct UspsTest : ::testing::Test {
    test::MockClock clock{DateTime::fromParts(2008, 1, 9, 12, 0, 0)};
    sandbox::Sandbox sb;
    Config previous = config();
    test::FakeShell ui;
    void SetUp() override
    {
        ASSERT_TRUE(sb.start());
        setConfig(sb.config());
    }
    void TearDown() override { setConfig(previous); }

    static xml::Document trackIds(const std::vector<std::string> &numbers)
    {
        xml::Document doc = xml::Document::parse("<TrackIDs/>");
        for (const auto &n : numbers)
            doc.root().appendElement("TrackID").setAttribute("ID", n);
        return doc;
    }
    std::vector<std::string> sentIds(size_t request)
    {
        auto log = sb.requests("TrackV2");
        EXPECT_GT(log.size(), request);
        std::vector<std::string> ids;
        if (log.size() <= request) return ids;
        std::string target = log[request].target;
        size_t at = target.find("&XML=");
        std::string xmlText = QUrl::fromPercentEncoding(QByteArray::fromStdString(target.substr(at + 5))).toStdString();
        xml::Document sent = xml::Document::parse(xmlText);
        for (auto id : sent.selectAll("TrackFieldRequest/TrackID"))
            ids.push_back(id.attribute("ID"));
        return ids;
    }
};

} // namespace

TEST_F(UspsTest, BatchesOfTenWithRemainingCountsMergedInOrder)
{
    std::vector<std::string> numbers;
    for (int k = 0; k < 23; ++k)
        numbers.push_back("EJ" + std::to_string(100000 + k) + "US");
    numbers.push_back(numbers[4]); // listed twice, asked once
    xml::Document ids = trackIds(numbers);
    xml::Document none = xml::Document::parse("<TrackingNumbers/>");

    orders::clsUSPSAPI usps(&ui);
    xml::Document result = usps.SynchronousGetTrackingDetails(ids.root().elements(), none);
    ASSERT_TRUE(result);
    auto infos = result.root().selectAll("TrackInfo");
    ASSERT_EQ(infos.size(), 23u);
    for (size_t k = 0; k < 23; ++k)
        EXPECT_EQ(infos[k].attribute("ID"), numbers[k]);
    EXPECT_EQ(ui.overlays, (std::vector<std::string>{"Downloading USPS Tracking<br>23 remaining",
                                                     "Downloading USPS Tracking<br>13 remaining",
                                                     "Downloading USPS Tracking<br>3 remaining"}));
    ASSERT_EQ(sb.requests("TrackV2").size(), 3u);
    EXPECT_EQ(sentIds(0).size(), 10u);
    EXPECT_EQ(sentIds(2).size(), 3u);
    // The request travels percent-encoded, with our user id.
    EXPECT_NE(sb.requests("TrackV2")[0].target.find("&XML=%3CTrackFieldRequest%20USERID%3D%22"), std::string::npos);
}

TEST_F(UspsTest, OnlyDueNumbersAreAsked)
{
    const std::string now = clock.localNow().toString();
    auto record = [](const std::string &id, const std::string &checked, const std::string &event) {
        return "<TrackingNumber ID=\"" + id + "\"><LastChecked>" + checked + "</LastChecked><TrackSummary><Event>" +
               event + "</Event></TrackSummary></TrackingNumber>";
    };
    xml::Document stored =
        xml::Document::parse("<TrackingNumbers>" + record("DELIV", "2008-01-01 00:00:00", "Delivered") +
                             record("DELIV2", "2008-01-01 00:00:00", "DELIVERED") +
                             record("FIVEH", clock.localNow().addSecs(-5 * 3600).toString(), "Out for Delivery") +
                             record("DAYAGO", clock.localNow().addSecs(-25 * 3600).toString(), "Out for Delivery") +
                             record("ODD", "not a date", "Acceptance") +
                             record("THREE", clock.localNow().addDays(-3).toString(), "Acceptance") +
                             record("ABROAD", "2008-01-01 00:00:00", "Delivered Abroad") +
                             record("UNIT", "2008-01-02 00:00:00", "Arrival at Unit") + "</TrackingNumbers>");
    orders::clsUSPSAPI usps(&ui);
    xml::Document ids = trackIds({"DELIV", "DELIV2", "FIVEH", "DAYAGO", "NEVER", "ODD", "THREE", "", "ABROAD", "UNIT"});
    xml::Document result = usps.SynchronousGetTrackingDetails(ids.root().elements(), stored);
    ASSERT_TRUE(result);
    // Longest unasked first; never asked counts as two days ago. A number at
    // its Army post office ("Arrival at Unit") is asked until it is
    // delivered; an empty number never.
    EXPECT_EQ(sentIds(0), (std::vector<std::string>{"UNIT", "THREE", "NEVER", "ODD", "DAYAGO"}));

    // Nothing due: no request and no result.
    sb.clearLog();
    xml::Document onlyDone = trackIds({"DELIV", "FIVEH"});
    EXPECT_FALSE(usps.SynchronousGetTrackingDetails(onlyDone.root().elements(), stored));
    EXPECT_TRUE(sb.requests("TrackV2").empty());
}

TEST_F(UspsTest, ABatchWithoutAnAnswerIsSkippedAndAskedAgainNextTime)
{
    test::TempDir dir;
    store::Store store;
    store.open(dir.path());
    std::vector<std::string> numbers;
    for (int k = 0; k < 25; ++k)
        numbers.push_back("N" + std::to_string(k));
    std::string orders = "<Transactions>";
    for (const auto &n : numbers)
        orders += "<Transaction><Item><ItemID>" + n +
                  "</ItemID></Item><TransactionID>0</TransactionID>"
                  "<ShippedTime>2008-01-05T10:00:00.000Z</ShippedTime><ShippingDetails><ShipmentTrackingNumber>" +
                  n +
                  "</ShipmentTrackingNumber><ShippingServiceUsed>USPSPriority</ShippingServiceUsed>"
                  "</ShippingDetails></Transaction>";
    store.transactions() = xml::Document::parse(orders + "</Transactions>");

    sb.injectFault({.call = "TrackV2", .nth = 1, .kind = sandbox::FaultKind::Http500});
    sb.injectFault({.call = "TrackV2", .nth = 2, .kind = sandbox::FaultKind::MalformedXml});
    orders::clsUSPSAPI usps(&ui);
    ASSERT_TRUE(orders::CheckDeliveryStatusOfTransactions(
        store, store.transactions().selectAll("Transactions/Transaction"), usps));
    xml::Document onDisk = xml::Document::load(store.path(store::Doc::TrackingNumbers));
    auto stored = onDisk.selectAll("TrackingNumbers/TrackingNumber");
    ASSERT_EQ(stored.size(), 5u);
    EXPECT_EQ(stored[0].attribute("ID"), "N20");

    // The next run asks only the 20 that got no answer.
    sb.clearLog();
    clock.advanceSecs(60);
    ASSERT_TRUE(orders::CheckDeliveryStatusOfTransactions(
        store, store.transactions().selectAll("Transactions/Transaction"), usps));
    EXPECT_EQ(sb.requests("TrackV2").size(), 2u);
    EXPECT_EQ(store.trackingNumbers().selectAll("TrackingNumbers/TrackingNumber").size(), 25u);

    // Every batch failing stores nothing and reports it.
    sb.injectFault({.call = "TrackV2", .nth = 0, .kind = sandbox::FaultKind::Drop, .times = -1});
    clock.advanceSecs(2 * 86400);
    std::string before = test::readFile(store.path(store::Doc::TrackingNumbers));
    EXPECT_FALSE(orders::CheckDeliveryStatusOfTransactions(
        store, store.transactions().selectAll("Transactions/Transaction"), usps));
    EXPECT_EQ(test::readFile(store.path(store::Doc::TrackingNumbers)), before);
}

TEST_F(UspsTest, AnAnswerWithADocumentTypeDeclarationIsNoAnswer)
{
    test::LoopbackHttp usps;
    usps.setHandler([](const test::RecordedRequest &) {
        return test::ScriptedResponse{200, "<!DOCTYPE TrackResponse [<!ENTITY e \"Delivered\">]><TrackResponse>"
                                           "<TrackInfo ID=\"EJ1US\"><TrackSummary><Event>&e;</Event></TrackSummary>"
                                           "</TrackInfo></TrackResponse>"};
    });
    Config c = sb.config();
    c.set("usps/WebToolsUrl", usps.url("/ShippingAPI.dll"));
    setConfig(c);
    orders::clsUSPSAPI client(&ui);
    xml::Document ids = trackIds({"EJ1US"});
    xml::Document none = xml::Document::parse("<TrackingNumbers/>");
    EXPECT_FALSE(client.SynchronousGetTrackingDetails(ids.root().elements(), none));
    EXPECT_EQ(usps.requests().size(), 1u);
}

TEST_F(UspsTest, AWholeRequestErrorIsToldAndItsNumbersAskedAgain)
{
    sb.injectFault({.call = "TrackV2", .nth = 1, .kind = sandbox::FaultKind::AckFailure});
    orders::clsUSPSAPI usps(&ui);
    xml::Document ids = trackIds({"EJ1US", "EJ2US"});
    xml::Document none = xml::Document::parse("<TrackingNumbers/>");
    EXPECT_FALSE(usps.SynchronousGetTrackingDetails(ids.root().elements(), none));
    ASSERT_EQ(sb.requests("TrackV2").size(), 1u);
    EXPECT_EQ(ui.lastStatus().rfind("USPS tracking: ", 0), 0u) << ui.lastStatus();
    EXPECT_GT(ui.lastStatus().size(), std::string("USPS tracking: ").size());
    xml::Document again = usps.SynchronousGetTrackingDetails(ids.root().elements(), none);
    ASSERT_TRUE(again);
    EXPECT_EQ(again.selectAll("TrackResponse/TrackInfo").size(), 2u);
}
