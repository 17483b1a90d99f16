// File > Restore Backup..., Help > About and the secrets the log hides, as the
// composed program has them.

#include "app/features.h"
#include "pages/pages.h"
#include "platform/config.h"
#include "platform/log.h"
#include "store/backup.h"
#include "store/settings.h"
#include "tests/support/fake_shell.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"
#include "ui/served.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

struct DesktopTest : ::testing::Test {
    test::MockClock clock{DateTime::fromParts(2026, 3, 1, 9, 0, 0)};
    test::TempDir dir;
    Session session;
    test::FakeShell shell;
    FeatureTable table;
    int redraws = 0;

    void SetUp() override
    {
        setConfig(Config());
        ASSERT_TRUE(session.openStore(dir.path()).empty());
        app::composeFeatures(session, shell, table);
    }

    void saveSeller(const std::string &id) { ASSERT_TRUE(settings::write(session.store, "eBayID", id)); }
    std::string storedSeller() const
    {
        xml::Document stored = xml::Document::load(dir / "Settings.xml");
        return stored.select("Settings/eBayID").text();
    }
};

} // namespace

TEST_F(DesktopTest, RestoreBackupSaysSoWhenThereIsNone)
{
    EXPECT_TRUE(table.click("mnuRestoreBackup"));
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].first, "Restore Backup");
    EXPECT_NE(shell.boxes[0].second.find("There is no backup yet"), std::string::npos);
    EXPECT_TRUE(shell.lists.empty());
}

TEST_F(DesktopTest, RestoreBackupListsNewestFirstAndRestoresOnlyAfterYes)
{
    saveSeller("monday");
    ASSERT_TRUE(store::makeDailyBackup(dir.path()).made);
    clock.advanceSecs(86400);
    saveSeller("tuesday");
    ASSERT_TRUE(store::makeDailyBackup(dir.path()).made);
    saveSeller("now");

    // Cancelled at the list, then at the question: nothing changes.
    shell.answers = {"Cancel", "2026-03-01", "No"};
    table.click("mnuRestoreBackup");
    table.click("mnuRestoreBackup");
    ASSERT_EQ(shell.lists.size(), 2u);
    EXPECT_EQ(shell.lists[0], (std::vector<std::string>{"2026-03-02", "2026-03-01"}));
    ASSERT_EQ(shell.boxes.size(), 3u);
    EXPECT_NE(shell.boxes[2].second.find("backup 2026-03-01?"), std::string::npos) << shell.boxes[2].second;
    EXPECT_EQ(storedSeller(), "now");
    EXPECT_EQ(store::listBackups(dir.path()).size(), 2u);

    // Restored from the options page.
    shell.newDocument(pages::url(ui::kSettingsPage));
    shell.answers = {"2026-03-01", "Yes"};
    table.click("mnuRestoreBackup");
    EXPECT_EQ(storedSeller(), "monday");
    EXPECT_EQ(settings::read(session.store.settings(), "eBayID"), "monday");
    EXPECT_EQ(shell.lastStatus(), "Restored the backup 2026-03-01.");
    // The view is drawn again from the restored documents: not on the main
    // page, the redraw loads it.
    ASSERT_EQ(shell.navigations.size(), 1u);
    EXPECT_EQ(shell.navigations[0].first, pages::url(ui::kMainPage));

    // What was there before is offered as a backup of its own.
    shell.answers = {"Cancel"};
    table.click("mnuRestoreBackup");
    EXPECT_EQ(shell.lists.back().front(), "2026-03-02 09:00:00 (before a restore)");
}

TEST_F(DesktopTest, RestoreBackupWaitsWhileTidewellIsBusy)
{
    ASSERT_TRUE(store::makeDailyBackup(dir.path()).made);
    shell.ProcessingImageDisplay("Downloading");
    table.click("mnuRestoreBackup");
    EXPECT_TRUE(shell.lists.empty());
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_NE(shell.boxes[0].second.find("busy"), std::string::npos);
}

TEST_F(DesktopTest, ADamagedBackupIsToldAndNothingChanges)
{
    saveSeller("before");
    ASSERT_TRUE(store::makeDailyBackup(dir.path()).made);
    test::writeFile(store::backupsFolder(dir.path()) / "2026-03-01" / "Settings.xml", "<Settings>");
    saveSeller("current");
    shell.answers = {"2026-03-01", "Yes"};
    table.click("mnuRestoreBackup");
    EXPECT_EQ(storedSeller(), "current");
    ASSERT_FALSE(shell.boxes.empty());
    EXPECT_NE(shell.boxes.back().second.find("Settings.xml cannot be read"), std::string::npos);
    EXPECT_TRUE(shell.navigations.empty());
}

TEST_F(DesktopTest, AboutShowsTheVersionAndWhereTheDataIs)
{
    EXPECT_TRUE(table.click("mnuAbout"));
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].first, "About Tidewell");
    const std::string &text = shell.boxes[0].second;
    EXPECT_NE(text.find("Tidewell version " + app::version()), std::string::npos) << text;
    EXPECT_NE(text.find("Data folder: " + session.store.dataDir().string()), std::string::npos) << text;
    EXPECT_NE(text.find((session.store.dataDir() / "tidewell.log").string()), std::string::npos) << text;
    const std::string version = app::version();
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 2) << version;
}

TEST_F(DesktopTest, TheLogHidesTheSecretsAsStoredNow)
{
    Config c;
    c.set("ebay/CertName", "cert-0000-1111");
    c.set("paypal/ClientCertificatePassword", "p12-secret");
    setConfig(c);
    settings::write(session.store, "PaypalAPIPassword", "pp-password");
    settings::write(session.store, "PaypalAPISignature", "pp-signature");
    settings::write(session.store, "eBayAuthToken", "token-one");
    std::vector<std::string> secrets = app::knownSecrets(session);
    for (const char *s : {"cert-0000-1111", "p12-secret", "pp-password", "pp-signature", "token-one"})
        EXPECT_NE(std::find(secrets.begin(), secrets.end(), s), secrets.end()) << s;
    // A token stored later is known at once.
    settings::write(session.store, "eBayAuthToken", "token-two");
    secrets = app::knownSecrets(session);
    EXPECT_NE(std::find(secrets.begin(), secrets.end(), "token-two"), secrets.end());
    setConfig(Config());
}
