#include "orders/feature.h"
#include "sandbox/sandbox.h"
#include "store/backup.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/support/fake_shell.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

struct OrdersFeatureTest : ::testing::Test {
    sandbox::Sandbox sb;
    Config previous = config();
    test::TempDir dir;
    Session session;
    test::FakeShell shell;
    FeatureTable table;
    int redraws = 0;

    void SetUp() override
    {
        ASSERT_TRUE(sb.start());
        setConfig(sb.config());
        session.openStore(dir.path());
        settings::write(session.store, "eBayAuthToken", sandbox::kDemoToken);
        orders::registerFeature(session, shell, table);
        table.setRedraw([this] { ++redraws; });
    }
    void TearDown() override { setConfig(previous); }
};

TEST_F(OrdersFeatureTest, DaysOfOrdersAsksAndDownloadsOnlyAValidCount)
{
    for (const char *answer : {"0", "31", "abc", "", "Cancel"}) {
        shell.answers = {answer};
        EXPECT_TRUE(table.click("mnuDownloadDaysofOrders"));
    }
    EXPECT_TRUE(sb.requests("GetSellerTransactions").empty());
    ASSERT_EQ(shell.boxes.size(), 5u);
    EXPECT_EQ(shell.boxes[0], (std::pair<std::string, std::string>{"Download Orders", "How many days (max 30):"}));

    shell.answers = {" 30 "};
    table.click("mnuDownloadDaysofOrders");
    auto asked = sb.requests("GetSellerTransactions");
    ASSERT_FALSE(asked.empty());
    xml::Document request = xml::Document::parse(asked[0].body);
    EXPECT_EQ(GetNodeText(request, "GetSellerTransactionsRequest/NumberOfDays"), "30");
    EXPECT_GT(session.store.transactions().selectAll("Transactions/Transaction").size(), 0u);
    // This download touches nothing else and draws nothing.
    EXPECT_TRUE(sb.requests("GetMemberMessages").empty());
    EXPECT_EQ(redraws, 0);
    EXPECT_FALSE(shell.processingShown());
}

TEST_F(OrdersFeatureTest, DownloadOrdersEndsWithTheRedrawAndTheButtonBack)
{
    EXPECT_TRUE(table.click("cmdDownloadOrders"));
    EXPECT_EQ(redraws, 1);
    // The days download was off while this one ran, and is back.
    EXPECT_NE(std::find(shell.enabled.begin(), shell.enabled.end(),
                        std::pair<std::string, bool>{"mnuDownloadDaysofOrders", false}),
              shell.enabled.end());
    EXPECT_TRUE(shell.isEnabled("mnuDownloadDaysofOrders", false));
    EXPECT_FALSE(sb.requests("GetFeedback").empty());
    EXPECT_TRUE(shell.isEnabled("cmdDownloadOrders", false));
    EXPECT_TRUE(shell.isEnabled("Label1", false));
    EXPECT_FALSE(shell.processingShown());
}

TEST_F(OrdersFeatureTest, TheFirstDownloadOfTheDayStartsWithABackupAndNoRestoreRunsDuringIt)
{
    test::MockClock clock(SystemClock().localNow());
    const std::string emptyOrders = test::readFile(dir / "Transactions.xml");
    // The restore entry is off while eBay is asked.
    std::vector<bool> restoreDuringCall;
    sb.setRequestObserver([&](const sandbox::LoggedRequest &) {
        restoreDuringCall.push_back(shell.isEnabled("mnuRestoreBackup", true));
    });

    table.click("cmdDownloadOrders");
    std::vector<store::Backup> backups = store::listBackups(dir.path());
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(test::readFile(backups[0].folder / "Transactions.xml"), emptyOrders);
    EXPECT_NE(test::readFile(dir / "Transactions.xml"), emptyOrders);
    ASSERT_FALSE(restoreDuringCall.empty());
    EXPECT_EQ(std::count(restoreDuringCall.begin(), restoreDuringCall.end(), true), 0);
    EXPECT_TRUE(shell.isEnabled("mnuRestoreBackup", false));

    // Later that day: no second backup, the first one stays as it was.
    shell.answers = {"3"};
    table.click("mnuDownloadDaysofOrders");
    table.click("cmdDownloadOrders");
    backups = store::listBackups(dir.path());
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(test::readFile(backups[0].folder / "Transactions.xml"), emptyOrders);

    // The next day's first download, through the menu, makes that day's.
    clock.advanceSecs(86400);
    shell.answers = {"3"};
    table.click("mnuDownloadDaysofOrders");
    backups = store::listBackups(dir.path());
    ASSERT_EQ(backups.size(), 2u);
    EXPECT_NE(test::readFile(backups[0].folder / "Transactions.xml"), emptyOrders);
    EXPECT_TRUE(shell.boxes.size() == 2u); // the two day-count questions only
}

TEST_F(OrdersFeatureTest, ABackupThatCannotBeMadeIsToldOnceAndTheDownloadGoesOn)
{
    test::writeFile(store::backupsFolder(dir.path()), "in the way");
    table.click("cmdDownloadOrders");
    const size_t asked = sb.requests("GetSellerTransactions").size();
    EXPECT_GT(asked, 0u);
    table.click("cmdDownloadOrders");
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_NE(shell.boxes[0].second.find("Today's backup of your data could not be made"), std::string::npos);
    EXPECT_GT(sb.requests("GetSellerTransactions").size(), asked);
    EXPECT_GT(session.store.transactions().selectAll("Transactions/Transaction").size(), 0u);
}

} // namespace
