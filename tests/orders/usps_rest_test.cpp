// The REST transport against the sandbox: tokens, batches, the fallback to
// one request per number, USPS's pause, and what ends up stored.

#include "orders/shipment.h"
#include "orders/usps.h"
#include "sandbox/sandbox.h"
#include "store/basFunctions.h"
#include "tests/support/fake_shell.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace tw;

namespace {

struct UspsRestTest : ::testing::Test {
    test::MockClock clock{DateTime::fromParts(2026, 3, 9, 12, 0, 0)};
    sandbox::Sandbox sb;
    Config previous = config();
    test::FakeShell ui;
    test::TempDir dir;
    store::Store store;
    orders::UspsSettings rest{true, sandbox::kUspsClientId, sandbox::kUspsClientSecret};

    void SetUp() override
    {
        orders::clsUSPSRestConnection::forgetAll();
        ASSERT_TRUE(sb.start());
        setConfig(sb.config());
        store.open(dir.path());
    }
    void TearDown() override
    {
        setConfig(previous);
        orders::clsUSPSRestConnection::forgetAll();
    }

    // `count` numbers USPS knows, delivered or in transit by turns, in the
    // store as shipped USPS orders.
    std::vector<std::string> shipments(int count, const std::string &prefix = "9400")
    {
        std::vector<std::string> numbers;
        std::string orders = "<Transactions>";
        for (int k = 0; k < count; ++k) {
            std::string n = prefix + std::to_string(100000 + k);
            numbers.push_back(n);
            sb.state().tracking[n] = {k % 2 ? sandbox::TrackingStatus::InTransit : sandbox::TrackingStatus::Delivered,
                                      clock.localNow().addDays(-4), "SPRINGFIELD", "IL", "62701"};
            orders += "<Transaction><Item><ItemID>" + n +
                      "</ItemID></Item><TransactionID>0</TransactionID><ShippedTime>2026-03-05T10:00:00.000Z"
                      "</ShippedTime><ShippingDetails><ShipmentTrackingNumber>" +
                      n +
                      "</ShipmentTrackingNumber><ShippingServiceUsed>USPSPriority</ShippingServiceUsed>"
                      "</ShippingDetails></Transaction>";
        }
        store.transactions() = xml::Document::parse(orders + "</Transactions>");
        return numbers;
    }

    bool check(const orders::UspsSettings &settings)
    {
        orders::clsUSPSAPI usps(&ui, settings);
        return orders::CheckDeliveryStatusOfTransactions(
            store, store.transactions().selectAll("Transactions/Transaction"), usps);
    }

    // The numbers of the n-th batch request (0-based).
    std::vector<std::string> batch(size_t n)
    {
        std::vector<std::string> out;
        auto log = sb.requests("TrackingV3r2");
        EXPECT_GT(log.size(), n);
        if (log.size() <= n) return out;
        for (const QJsonValue &v : QJsonDocument::fromJson(QByteArray::fromStdString(log[n].body)).array())
            out.push_back(v.toObject().value("trackingNumber").toString().toStdString());
        return out;
    }

    std::vector<std::string> storedIds()
    {
        std::vector<std::string> ids;
        for (auto r : store.trackingNumbers().selectAll("TrackingNumbers/TrackingNumber"))
            ids.push_back(r.attribute("ID"));
        return ids;
    }
};

std::vector<std::string> slice(const std::vector<std::string> &v, size_t from, size_t to)
{
    return {v.begin() + long(from), v.begin() + long(std::min(to, v.size()))};
}

} // namespace

TEST_F(UspsRestTest, ThirtySixNumbersGoAsThirtyFiveAndOneOnOneTokenReusedUntilShortlyBeforeItEnds)
{
    std::vector<std::string> numbers = shipments(36 + 30 + 5);
    // The first download knows 36 of the orders.
    xml::Document all = store.transactions().clone();
    std::vector<xml::Node> orders = store.transactions().selectAll("Transactions/Transaction");
    for (size_t k = 36; k < orders.size(); ++k)
        orders[k].remove();
    ASSERT_TRUE(check(rest));
    EXPECT_EQ(batch(0), slice(numbers, 0, 35));
    EXPECT_EQ(batch(1), slice(numbers, 35, 36));
    EXPECT_EQ(ui.overlays, (std::vector<std::string>{"Downloading USPS Tracking<br>36 remaining",
                                                     "Downloading USPS Tracking<br>1 remaining"}));
    EXPECT_EQ(storedIds(), slice(numbers, 0, 36));
    EXPECT_TRUE(ui.statuses.empty()) << ui.lastStatus();

    // Half an hour later 30 more orders: the same token.
    clock.advanceSecs(1800);
    store.transactions() = all.clone();
    orders = store.transactions().selectAll("Transactions/Transaction");
    for (size_t k = 66; k < orders.size(); ++k)
        orders[k].remove();
    ASSERT_TRUE(check(rest));
    EXPECT_EQ(batch(2), slice(numbers, 36, 66));
    EXPECT_EQ(sb.requests("OAuthToken").size(), 1u);

    // A minute before the hour is up the token is replaced before it is used.
    clock.set(DateTime::fromParts(2026, 3, 9, 12, 59, 30));
    store.transactions() = all.clone();
    ASSERT_TRUE(check(rest));
    EXPECT_EQ(batch(3), slice(numbers, 66, 71));
    ASSERT_EQ(sb.requests("OAuthToken").size(), 2u);
    for (const auto &r : sb.requestLog())
        EXPECT_NE(r.status, 401) << r.call;
    // The request carries the token as a bearer token; the log shows it masked.
    EXPECT_EQ(sb.requests("TrackingV3r2")[3].headers.at("authorization"), "Bearer ****");
    EXPECT_EQ(storedIds().size(), 71u);
}

TEST_F(UspsRestTest, ATokenRefusedMidRunIsFetchedAgainOnceThenTheRunStops)
{
    std::vector<std::string> numbers = shipments(70);
    sb.injectFault({.call = "TrackingV3r2", .nth = 2, .kind = sandbox::FaultKind::TokenExpired});
    ASSERT_TRUE(check(rest));
    EXPECT_EQ(sb.requests("OAuthToken").size(), 2u);
    ASSERT_EQ(sb.requests("TrackingV3r2").size(), 3u);
    EXPECT_EQ(sb.requests("TrackingV3r2")[1].status, 401);
    EXPECT_EQ(batch(2), slice(numbers, 35, 70)); // the refused batch again, with the new token
    EXPECT_EQ(storedIds().size(), 70u);
    EXPECT_TRUE(ui.statuses.empty()) << ui.lastStatus();

    // Refused again right after a fresh token: stop, say so, keep what came.
    clock.advanceSecs(2 * 86400);
    sb.clearLog();
    sb.injectFault({.call = "TrackingV3r2", .nth = 0, .kind = sandbox::FaultKind::TokenExpired, .times = 2});
    std::string before = test::readFile(store.path(store::Doc::TrackingNumbers));
    EXPECT_FALSE(check(rest));
    EXPECT_EQ(sb.requests("OAuthToken").size(), 2u); // the first run's token had lived out its hour
    EXPECT_EQ(sb.requests("TrackingV3r2").size(), 2u);
    EXPECT_EQ(test::readFile(store.path(store::Doc::TrackingNumbers)), before);
    EXPECT_NE(ui.lastStatus().find("Check USPSClientID and USPSClientSecret"), std::string::npos) << ui.lastStatus();
}

TEST_F(UspsRestTest, AnAccountWithoutTheBatchFormIsAskedOneNumberAtATimeFromThenOn)
{
    std::vector<std::string> numbers = shipments(4);
    // One number USPS does not know: stored as USPS's error for it.
    sb.state().tracking.erase(numbers[2]);
    sb.injectFault({.call = "TrackingV3r2", .nth = 0, .kind = sandbox::FaultKind::Forbidden, .times = -1});
    ASSERT_TRUE(check(rest));
    ASSERT_EQ(sb.requests("TrackingV3r2").size(), 1u);
    auto gets = sb.requests("TrackingV3");
    ASSERT_EQ(gets.size(), 4u);
    EXPECT_EQ(gets[0].target, "/tracking/v3/tracking/" + numbers[0] + "?expand=DETAIL");
    EXPECT_EQ(gets[2].status, 404);
    EXPECT_EQ(storedIds(), numbers);
    EXPECT_EQ(store.trackingNumbers().select("TrackingNumbers/TrackingNumber[1]/TrackSummary/Event").text(),
              "Delivered");
    EXPECT_TRUE(store.trackingNumbers().select("TrackingNumbers/TrackingNumber[3]/Error/Description"));
    EXPECT_TRUE(ui.statuses.empty()) << ui.lastStatus();

    // A day later the numbers not delivered are asked again, by GET straight away.
    sb.clearLog();
    sb.state().tracking[numbers[2]] = {sandbox::TrackingStatus::Delivered, clock.localNow().addDays(-4), "X", "IL",
                                       "62701"};
    clock.advanceSecs(86400 + 600);
    ASSERT_TRUE(check(rest));
    EXPECT_TRUE(sb.requests("TrackingV3r2").empty());
    ASSERT_EQ(sb.requests("TrackingV3").size(), 3u);
    EXPECT_EQ(storedIds().back(), numbers[3]);
    EXPECT_EQ(GetNodeText(store.trackingNumbers(),
                          "TrackingNumbers/TrackingNumber[@ID='" + numbers[2] + "']/TrackSummary/Event"),
              "Delivered");

    // A number with characters that mean something in a path travels encoded.
    orders::clsUSPSRestConnection::forgetAll();
    sb.clearFaults();
    sb.clearLog();
    orders::clsUSPSRestConnection connection(rest);
    sb.injectFault({.call = "TrackingV3r2", .nth = 0, .kind = sandbox::FaultKind::Forbidden});
    orders::UspsRestRun run = connection.track({"EJ 1/2?x=#"});
    ASSERT_EQ(sb.requests("TrackingV3").size(), 1u);
    EXPECT_EQ(sb.requests("TrackingV3")[0].target, "/tracking/v3/tracking/EJ%201%2F2%3Fx%3D%23?expand=DETAIL");
    ASSERT_TRUE(run.response);
    EXPECT_EQ(GetNodeText(run.response, "TrackResponse/TrackInfo[@ID='EJ 1/2?x=#']/Error/Number"), "-2147219302");
}

TEST_F(UspsRestTest, AQuotaPauseKeepsEarlierBatchesAndAsksTheRestOldestFirstOnceUspsIsBack)
{
    std::vector<std::string> numbers = shipments(80);
    sb.injectFault(
        {.call = "TrackingV3r2", .nth = 2, .kind = sandbox::FaultKind::RateLimited, .retryAfterSeconds = 290});
    ASSERT_TRUE(check(rest));
    EXPECT_EQ(sb.requests("TrackingV3r2").size(), 2u);
    EXPECT_EQ(storedIds(), slice(numbers, 0, 35));
    EXPECT_EQ(ui.lastStatus(), "USPS tracking paused: USPS takes requests again at 12:05.");

    // Before then USPS is not asked at all.
    clock.advanceSecs(240);
    EXPECT_FALSE(check(rest));
    EXPECT_EQ(sb.requests("TrackingV3r2").size(), 2u);
    EXPECT_EQ(ui.lastStatus(), "USPS tracking paused: USPS takes requests again at 12:05.");

    // A day later the 45 never asked go first, then those of the 35 asked a
    // day ago that were not delivered.
    clock.advanceSecs(86400);
    sb.clearLog();
    ui.statuses.clear();
    ASSERT_TRUE(check(rest));
    EXPECT_EQ(batch(0), slice(numbers, 35, 70));
    std::vector<std::string> second = slice(numbers, 70, 80);
    for (size_t k = 1; k < 35; k += 2)
        second.push_back(numbers[k]);
    EXPECT_EQ(batch(1), second);
    EXPECT_EQ(sb.requests("TrackingV3r2").size(), 2u);
    EXPECT_TRUE(ui.statuses.empty()) << ui.lastStatus();
    EXPECT_EQ(storedIds().size(), 80u);

    // A pause into the next day names the day; a 429 on the token stops as well.
    orders::clsUSPSRestConnection::forgetAll();
    clock.set(DateTime::fromParts(2026, 3, 12, 23, 58, 0));
    sb.injectFault({.call = "OAuthToken", .kind = sandbox::FaultKind::RateLimited, .retryAfterSeconds = 3600});
    EXPECT_FALSE(check(rest));
    EXPECT_EQ(ui.lastStatus(), "USPS tracking paused: USPS takes requests again at 00:58 on March 13.");
}

TEST_F(UspsRestTest, MixedAnswersStoreTheGoodOnesAndLeaveTheRestForNextTime)
{
    std::vector<std::string> numbers = shipments(6);
    sb.state().tracking.erase(numbers[5]);
    sb.injectFault({.call = "TrackingV3r2", .kind = sandbox::FaultKind::MixedAnswers});
    ASSERT_TRUE(check(rest));
    EXPECT_EQ(sb.requests("TrackingV3r2")[0].status, 207);
    // The number USPS does not know is an answer too: its error is stored.
    EXPECT_EQ(storedIds(), (std::vector<std::string>{numbers[0], numbers[2], numbers[4], numbers[5]}));

    // A batch that fails outright is left for next time; the run goes on and says so.
    clock.advanceSecs(60);
    sb.clearLog();
    sb.injectFault({.call = "TrackingV3r2", .kind = sandbox::FaultKind::Http500});
    EXPECT_FALSE(check(rest));
    EXPECT_EQ(ui.lastStatus(),
              "USPS tracking: 2 numbers got no answer from USPS (HTTP 500); asked again at the next download.");
    clock.advanceSecs(60);
    ASSERT_TRUE(check(rest));
    EXPECT_EQ(batch(1), (std::vector<std::string>{numbers[1], numbers[3]}));
    EXPECT_EQ(storedIds().size(), 6u);
}

TEST_F(UspsRestTest, CredentialsMissingOrRefusedAreNamedButTheSecretNeverShows)
{
    shipments(3);
    EXPECT_FALSE(check({true, "", ""}));
    EXPECT_TRUE(sb.requestLog().empty());
    EXPECT_NE(ui.lastStatus().find("USPSClientID"), std::string::npos);

    const std::string wrong = "not-the-secret-4711";
    EXPECT_FALSE(check({true, sandbox::kUspsClientId, wrong}));
    ASSERT_EQ(sb.requests("OAuthToken").size(), 1u);
    EXPECT_TRUE(sb.requests("TrackingV3r2").empty());
    EXPECT_NE(ui.lastStatus().find("refused the client id"), std::string::npos) << ui.lastStatus();

    // The right secret works; neither secret nor token is in the log or the window.
    ASSERT_TRUE(check(rest));
    for (const auto &r : sb.requestLog()) {
        for (const std::string &secret : {wrong, std::string(sandbox::kUspsClientSecret)}) {
            EXPECT_EQ(r.body.find(secret), std::string::npos);
            EXPECT_EQ(r.target.find(secret), std::string::npos);
        }
        EXPECT_EQ(r.response.find("usps-sandbox-token"), std::string::npos);
        for (const auto &[name, value] : r.headers)
            EXPECT_EQ(value.find("usps-sandbox-token"), std::string::npos) << name;
    }
    EXPECT_NE(sb.requests("OAuthToken")[1].body.find("\"client_secret\":\"****\""), std::string::npos);
    for (const auto &s : ui.statuses)
        EXPECT_EQ(s.find(wrong), std::string::npos);
}

TEST_F(UspsRestTest, BothTransportsStoreTheSameRecordsForTheSameShipments)
{
    std::vector<std::string> numbers = shipments(12);
    sb.state().tracking.erase(numbers[3]);
    sb.state().tracking[numbers[4]].status = sandbox::TrackingStatus::ArrivalAtUnit;
    sb.state().tracking[numbers[6]] = {sandbox::TrackingStatus::DeliveredAbroad, clock.localNow().addDays(-6),
                                       "SÃO PAULO", "", "01310-100"};
    ASSERT_TRUE(check({}));
    xml::Document webTools = store.trackingNumbers().clone();
    ASSERT_TRUE(webTools.select("TrackingNumbers/TrackingNumber[@ID=$n]/Error", {{"n", numbers[3]}}));
    int changed = orders::UpdateShipmentStatus(store);

    test::TempDir otherDir;
    store::Store other;
    other.open(otherDir.path());
    other.transactions() = xml::Document::parse(test::readFile(store.path(store::Doc::Transactions)));
    for (auto order : other.transactions().selectAll("Transactions/Transaction"))
        if (xml::Node k = order.element("KORVA")) k.remove();
    orders::clsUSPSAPI usps(&ui, rest);
    ASSERT_TRUE(orders::CheckDeliveryStatusOfTransactions(
        other, other.transactions().selectAll("Transactions/Transaction"), usps));
    EXPECT_EQ(orders::UpdateShipmentStatus(other), changed);
    EXPECT_EQ(other.transactions().toString(), store.transactions().toString());
    // The unknown number too waits a day before it is asked again.
    clock.advanceSecs(3600);
    xml::Document ids = orders::ConverteBayTransactionsToTrackID(other.transactions().selectAll("//Transaction"));
    const xml::Document due = usps.selectDue(ids.root().elements(), other.trackingNumbers());
    EXPECT_FALSE(due.root().firstElement());

    // Every record the same, the unknown number's error included.
    size_t compared = 0;
    for (auto record : webTools.selectAll("TrackingNumbers/TrackingNumber")) {
        xml::Node mine =
            other.trackingNumbers().select("TrackingNumbers/TrackingNumber[@ID=$n]", {{"n", record.attribute("ID")}});
        ASSERT_TRUE(mine) << record.attribute("ID");
        record.element("LastChecked").remove();
        mine.element("LastChecked").remove();
        EXPECT_EQ(mine.xml(), record.xml());
        ++compared;
    }
    EXPECT_EQ(compared, 12u);
    EXPECT_EQ(GetNodeText(other.trackingNumbers(),
                          "TrackingNumbers/TrackingNumber[@ID='" + numbers[6] + "']/TrackSummary/EventCity"),
              "SÃO PAULO");
}

TEST_F(UspsRestTest, ASilentUspsEndsTheRunAtTheFirstTimeOutWhicheverWayItIsAsked)
{
    Config c = config();
    c.set("net/TimeoutSeconds", "1");
    setConfig(c);
    struct Case {
        const char *what;
        orders::UspsSettings settings;
        const char *call; // the request that goes unanswered, from the nth on
        int nth;
        size_t stored;
        bool batchRefused = false;
    };
    const Case cases[] = {
        {"Web Tools, first batch", {}, "TrackV2", 1, 0},
        {"Web Tools, second batch", {}, "TrackV2", 2, 10},
        {"REST, second batch", rest, "TrackingV3r2", 2, 35},
        {"REST, one number at a time", rest, "TrackingV3", 3, 2, true},
        {"REST, token", rest, "OAuthToken", 1, 0},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        orders::clsUSPSRestConnection::forgetAll();
        sb.clearFaults();
        ui.statuses.clear();
        store.trackingNumbers() = xml::Document::parse("<TrackingNumbers/>");
        shipments(80);
        if (k.batchRefused)
            sb.injectFault({.call = "TrackingV3r2", .kind = sandbox::FaultKind::Forbidden, .times = -1});
        // A fault's nth counts from the sandbox's start, as the log does.
        const size_t before = sb.requests(k.call).size();
        sb.injectFault(
            {.call = k.call, .nth = int(before) + k.nth, .kind = sandbox::FaultKind::Delay, .delayMs = 4000});
        EXPECT_EQ(check(k.settings), k.stored > 0);
        EXPECT_EQ(sb.requests(k.call).size() - before, size_t(k.nth));
        EXPECT_EQ(storedIds().size(), k.stored);
        EXPECT_EQ(ui.lastStatus(), orders::kUspsDidNotAnswer);
    }
}

TEST(UspsRestAnswer, MissingFieldsOddTextAndOrderAreStoredSafely)
{
    const char *json = R"([
      {"trackingNumber": "A", "status": "Delivered, Front Door/Porch", "trackingEvents": [
        {"eventType": "Arrived at Post Office", "eventTimestamp": "2026-03-09T05:25:00Z", "eventCity": "ZÜRICH"},
        {"eventType": "Delivered, Front Door/Porch", "eventTimestamp": "2026-03-09T14:30:00Z",
         "eventCity": "<b>A&B</b> \u0001CITY", "eventState": "NY", "eventZIP": 10001, "authorizedAgent": true},
        {"eventType": "Acceptance", "eventTimestamp": "2026-03-07"}]},
      {"trackingNumber": "B", "status": "Pre-Shipment", "trackingEvents": []},
      {"trackingNumber": "C", "error": {"code": "404", "message": "not found"}},
      {"trackingNumber": "D"},
      {"trackingNumber": "E", "trackingEvents": [{"eventType": "Out for Delivery",
        "eventTimestamp": "2026-03-09T00:05:00.000-05:00"}, {"eventType": "Odd", "eventTimestamp": "soon"}]}
    ])";
    QJsonArray answers = QJsonDocument::fromJson(json).array();
    ASSERT_EQ(answers.size(), 5);
    xml::Document doc = xml::Document::parse("<TrackResponse/>");
    const char *ids[] = {"A", "B", "C", "D", "E"};
    std::vector<bool> taken;
    for (int k = 0; k < 5; ++k)
        taken.push_back(orders::appendTrackInfo(doc.root(), ids[k], answers[k].toObject()));
    EXPECT_EQ(taken, (std::vector<bool>{true, true, true, false, true}));

    // Saved and read back: the file stays well-formed and holds the texts.
    test::TempDir dir;
    ASSERT_TRUE(doc.save(dir / "t.xml"));
    xml::Document back = xml::Document::load(dir / "t.xml");
    ASSERT_TRUE(back);
    xml::Node a = back.select("TrackResponse/TrackInfo[@ID='A']");
    EXPECT_EQ(GetNodeText(a, "TrackSummary/Event"), "Delivered, Front Door/Porch");
    EXPECT_EQ(GetNodeText(a, "TrackSummary/EventDate"), "March 9, 2026");
    EXPECT_EQ(GetNodeText(a, "TrackSummary/EventTime"), "2:30 pm");
    EXPECT_EQ(GetNodeText(a, "TrackSummary/EventCity"), "<b>A&B</b> CITY");
    EXPECT_EQ(GetNodeText(a, "TrackSummary/EventZIPCode"), "10001");
    EXPECT_EQ(GetNodeText(a, "TrackSummary/AuthorizedAgent"), "true");
    EXPECT_EQ(GetNodeText(a, "TrackSummary/EventCountry"), "");
    std::vector<xml::Node> details = a.selectAll("TrackDetail");
    ASSERT_EQ(details.size(), 2u);
    EXPECT_EQ(GetNodeText(details[0], "EventCity"), "ZÜRICH");
    EXPECT_EQ(GetNodeText(details[0], "EventTime"), "5:25 am");
    EXPECT_EQ(GetNodeText(details[1], "EventDate"), "March 7, 2026");
    EXPECT_EQ(GetNodeText(details[1], "EventTime"), "");
    EXPECT_FALSE(details[1].element("AuthorizedAgent"));
    EXPECT_TRUE(orders::isDeliveryEvent(GetNodeText(a, "TrackSummary/Event")));

    xml::Node b = back.select("TrackResponse/TrackInfo[@ID='B']");
    EXPECT_EQ(GetNodeText(b, "TrackSummary/Event"), "Pre-Shipment");
    EXPECT_FALSE(b.element("TrackDetail"));
    // Times with a zone keep the clock as written; an unreadable time gives empty fields and keeps the order.
    xml::Node e = back.select("TrackResponse/TrackInfo[@ID='E']");
    EXPECT_EQ(GetNodeText(e, "TrackSummary/EventTime"), "12:05 am");
    EXPECT_EQ(GetNodeText(e, "TrackDetail/Event"), "Odd");
    EXPECT_EQ(GetNodeText(e, "TrackDetail/EventDate"), "");
}
