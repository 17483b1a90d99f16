#include "ebay/clseBayAPI.h"
#include "orders/download.h"
#include "orders/usps.h"
#include "sandbox/sandbox.h"
#include "store/settings.h"
#include "tests/support/fake_shell.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

struct DownloadTest : ::testing::Test {
    sandbox::Sandbox sb;
    Config previous = config();
    test::TempDir dir;
    Session session;
    test::FakeShell ui;

    void SetUp() override
    {
        ASSERT_TRUE(sb.start());
        setConfig(sb.config());
        session.openStore(dir.path());
        settings::write(session.store, "eBayAuthToken", sandbox::kDemoToken);
    }
    void TearDown() override { setConfig(previous); }

    int redraws = 0;
    void download()
    {
        ebay::clseBayAPI api(session, ui);
        orders::clsUSPSAPI usps(&ui);
        orders::cmdDownloadOrders_Click(session, api, usps, ui, [this] { ++redraws; });
    }
    size_t count(store::Doc d, const char *xpath)
    {
        xml::Document onDisk = xml::Document::load(session.store.path(d));
        return onDisk.selectAll(xpath).size();
    }
    bool buttonEnabledAtEnd() const
    {
        for (auto it = ui.enabled.rbegin(); it != ui.enabled.rend(); ++it)
            if (it->first == "cmdDownloadOrders") return it->second;
        return false;
    }
};

} // namespace

TEST_F(DownloadTest, EveryStepRunsAndTheButtonComesBack)
{
    download();
    EXPECT_GT(count(store::Doc::Transactions, "Transactions/Transaction"), 0u);
    EXPECT_GT(count(store::Doc::Messages, "Messages/MemberMessageExchange"), 0u);
    EXPECT_GT(count(store::Doc::SentMessages, "Messages/Message"), 0u);
    EXPECT_GT(count(store::Doc::Feedback, "Feedbacks/FeedbackDetail"), 0u);
    EXPECT_GT(count(store::Doc::TrackingNumbers, "TrackingNumbers/TrackingNumber"), 0u);
    EXPECT_EQ(redraws, 1);
    EXPECT_TRUE(buttonEnabledAtEnd());
    EXPECT_EQ(ui.enabled.front(), (std::pair<std::string, bool>{"cmdDownloadOrders", false}));
}

TEST_F(DownloadTest, AFailingStepLosesNothingAndTheOthersStillRun)
{
    download();
    const size_t orders = count(store::Doc::Transactions, "Transactions/Transaction");
    const size_t questions = count(store::Doc::Messages, "Messages/MemberMessageExchange");
    const size_t tracked = count(store::Doc::TrackingNumbers, "TrackingNumbers/TrackingNumber");
    ui = {};
    redraws = 0;

    // eBay refuses the orders, questions come back broken, USPS drops the line.
    sb.injectFault({.call = "GetSellerTransactions", .kind = sandbox::FaultKind::AckFailure});
    sb.injectFault({.call = "GetMemberMessages", .kind = sandbox::FaultKind::MalformedXml});
    sb.injectFault({.call = "TrackV2", .kind = sandbox::FaultKind::Drop, .times = -1});
    const size_t feedbackCalls = sb.requests("GetFeedback").size();
    download();

    EXPECT_EQ(count(store::Doc::Transactions, "Transactions/Transaction"), orders);
    EXPECT_EQ(count(store::Doc::Messages, "Messages/MemberMessageExchange"), questions);
    EXPECT_EQ(count(store::Doc::TrackingNumbers, "TrackingNumbers/TrackingNumber"), tracked);
    EXPECT_GT(sb.requests("GetFeedback").size(), feedbackCalls);
    EXPECT_EQ(ui.lastStatus().rfind("Error: ", 0), 0u) << ui.lastStatus();
    EXPECT_EQ(redraws, 1);
    EXPECT_TRUE(buttonEnabledAtEnd());
}

TEST_F(DownloadTest, OrdersThatCouldNotBeSavedAreDownloadedAgain)
{
    test::MockClock frozen{tw::clock().localNow()}; // both downloads at the same moment
    std::vector<std::string> told;
    session.store.setSaveErrorHandler([&](const std::string &m) { told.push_back(m); });
    auto saved = [&](const char *key) {
        xml::Document onDisk = xml::Document::load(session.store.path(store::Doc::Settings));
        return settings::read(onDisk, key);
    };
    auto windowStart = [&](size_t request) {
        xml::Document sent = xml::Document::parse(sb.requests("GetSellerTransactions").at(request).body);
        return sent.select("GetSellerTransactionsRequest/ModTimeFrom").text();
    };

    // Transactions.xml cannot be replaced, as with a full disk or a protected file.
    const auto transactions = session.store.path(store::Doc::Transactions);
    std::filesystem::remove(transactions);
    std::filesystem::create_directory(transactions);
    download();
    EXPECT_FALSE(told.empty());
    EXPECT_EQ(saved("LastGetSellerTransactions"), "");
    // The steps whose data was saved moved their bookmarks.
    EXPECT_NE(saved("LastGetMemberMessages"), "");
    const size_t firstRun = sb.requests("GetSellerTransactions").size();

    std::filesystem::remove(transactions);
    download();
    // The same window is asked again, and now the orders and the bookmark land.
    EXPECT_EQ(windowStart(firstRun), windowStart(0));
    EXPECT_GT(count(store::Doc::Transactions, "Transactions/Transaction"), 0u);
    EXPECT_NE(saved("LastGetSellerTransactions"), "");
}

TEST(DayCount, OnlyWholeNumbersFromOneToThirty)
{
    for (const char *bad : {"0", "31", "abc", "", " ", "-1", "1.5", "1e1", "12abc"})
        EXPECT_FALSE(orders::parseDayCount(bad)) << bad;
    EXPECT_EQ(orders::parseDayCount("1"), 1);
    EXPECT_EQ(orders::parseDayCount("30"), 30);
    EXPECT_EQ(orders::parseDayCount(" 7 "), 7);
}
