// The daily backups of the store files: made once a day, seven kept, and a
// restore that puts a backup back in the files and in memory.

#include "store/backup.h"
#include "store/settings.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace tw;
using namespace tw::store;

namespace {

struct BackupTest : ::testing::Test {
    test::MockClock clock{DateTime::fromParts(2026, 3, 1, 9, 0, 0)};
    test::TempDir dir;
    Session session;

    void SetUp() override { ASSERT_TRUE(session.openStore(dir.path()).empty()); }

    std::filesystem::path backups() const { return backupsFolder(dir.path()); }

    std::set<std::string> folders() const
    {
        std::set<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(backups()))
            names.insert(e.path().filename().string());
        return names;
    }

    void addNote(const std::string &text)
    {
        session.store.doc(Doc::Notes).root().appendElement("Note").appendElement("Text", text);
        ASSERT_TRUE(session.store.save(Doc::Notes));
    }

    std::string file(Doc d) const { return test::readFile(dir / std::string(info(d).file)); }
};

} // namespace

TEST_F(BackupTest, TheFirstCallOfTheDayCopiesTheTenFilesAndLaterCallsThatDayDoNothing)
{
    addNote("morning");
    BackupResult first = makeDailyBackup(dir.path());
    EXPECT_TRUE(first.made);
    EXPECT_EQ(first.folder, "2026-03-01");
    EXPECT_TRUE(first.error.empty());
    for (int k = 0; k < kDocCount; ++k) {
        const std::string name(info(Doc(k)).file);
        EXPECT_EQ(test::readFile(backups() / "2026-03-01" / name), test::readFile(dir / name)) << name;
    }

    addNote("evening");
    clock.set(DateTime::fromParts(2026, 3, 1, 23, 59, 59));
    BackupResult again = makeDailyBackup(dir.path());
    EXPECT_FALSE(again.made);
    EXPECT_EQ(again.error, "");
    EXPECT_EQ(test::readFile(backups() / "2026-03-01" / "Notes.xml").find("evening"), std::string::npos);

    clock.advanceSecs(1);
    BackupResult next = makeDailyBackup(dir.path());
    EXPECT_TRUE(next.made);
    EXPECT_EQ(next.folder, "2026-03-02");
    EXPECT_NE(test::readFile(backups() / "2026-03-02" / "Notes.xml").find("evening"), std::string::npos);
    EXPECT_EQ(folders(), (std::set<std::string>{"2026-03-01", "2026-03-02"}));
}

TEST_F(BackupTest, ACopyCutShortIsNotTheDaysBackup)
{
    std::filesystem::create_directories(backups() / ".partial-2026-03-01");
    test::writeFile(backups() / ".partial-2026-03-01" / "Notes.xml", "<Not");
    BackupResult result = makeDailyBackup(dir.path());
    EXPECT_TRUE(result.made);
    EXPECT_EQ(test::readFile(backups() / "2026-03-01" / "Notes.xml"), file(Doc::Notes));
    EXPECT_EQ(folders(), (std::set<std::string>{"2026-03-01"}));
}

TEST_F(BackupTest, AFailedCopyLeavesNoBackupAndSaysWhy)
{
    test::writeFile(backups(), "a file where the folder should be");
    BackupResult result = makeDailyBackup(dir.path());
    EXPECT_FALSE(result.made);
    EXPECT_NE(result.error.find("backups"), std::string::npos) << result.error;
    EXPECT_TRUE(listBackups(dir.path()).empty());
}

TEST_F(BackupTest, SevenDailyBackupsAndSevenKeptAsideAreKeptAndOtherFoldersLeftAlone)
{
    std::filesystem::create_directories(backups() / "my own copy");
    std::filesystem::create_directories(backups() / "2026-02-20-080000-before-restore");
    for (int day = 0; day < 10; ++day) {
        // Downloads on some days only: the last seven backups are kept, not seven calendar days.
        EXPECT_TRUE(makeDailyBackup(dir.path()).made);
        clock.advanceSecs(day % 3 == 0 ? 2 * 86400 : 86400);
    }
    std::set<std::string> daily;
    for (const std::string &name : folders())
        if (name.size() == 10) daily.insert(name);
    EXPECT_EQ(daily, (std::set<std::string>{"2026-03-05", "2026-03-07", "2026-03-08", "2026-03-09", "2026-03-11",
                                            "2026-03-12", "2026-03-13"}));
    EXPECT_TRUE(folders().count("my own copy"));
    EXPECT_TRUE(folders().count("2026-02-20-080000-before-restore"));

    for (int n = 0; n < 8; ++n)
        std::filesystem::create_directories(backups() /
                                            ("2026-03-0" + std::to_string(n + 1) + "-120000-before-restore"));
    rotateBackups(dir.path());
    EXPECT_FALSE(folders().count("2026-02-20-080000-before-restore"));
    EXPECT_FALSE(folders().count("2026-03-01-120000-before-restore"));
    EXPECT_TRUE(folders().count("2026-03-02-120000-before-restore"));
    EXPECT_EQ(folders().size(), 7u + 7u + 1u);
}

TEST_F(BackupTest, RestoreRoundTripKeepsTheCurrentFilesAsideAndReloadsTheDocuments)
{
    addNote("old note");
    settings::write(session.store, "eBayID", "old_seller");
    ASSERT_TRUE(makeDailyBackup(dir.path()).made);
    const std::string oldNotes = file(Doc::Notes);

    clock.advanceSecs(3600);
    addNote("new note");
    settings::write(session.store, "eBayID", "new_seller");
    session.store.doc(Doc::ShippingLabels).root().appendElement("ShippingLabel");
    ASSERT_TRUE(session.store.save(Doc::ShippingLabels));
    const std::string newNotes = file(Doc::Notes);

    std::vector<Backup> list = listBackups(dir.path());
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].label, "2026-03-01");
    EXPECT_FALSE(list[0].beforeRestore);

    RestoreResult restored = restoreBackup(session, list[0]);
    ASSERT_TRUE(restored.restored) << restored.error;
    EXPECT_EQ(restored.keptAside, "2026-03-01-100000-before-restore");
    EXPECT_EQ(file(Doc::Notes), oldNotes);
    // The documents in memory are those of the backup, ShippingLabels too.
    EXPECT_EQ(settings::read(session.store.settings(), "eBayID"), "old_seller");
    EXPECT_EQ(session.store.doc(Doc::Notes).selectAll("Notes/Note").size(), 1u);
    EXPECT_EQ(session.store.doc(Doc::ShippingLabels).selectAll("ShippingLabels/ShippingLabel").size(), 0u);
    EXPECT_EQ(test::readFile(backups() / restored.keptAside / "Notes.xml"), newNotes);

    // The files kept aside can be restored in turn.
    list = listBackups(dir.path());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(list[0].beforeRestore);
    EXPECT_EQ(list[0].label, "2026-03-01 10:00:00 (before a restore)");
    clock.advanceSecs(60);
    RestoreResult back = restoreBackup(session, list[0]);
    ASSERT_TRUE(back.restored) << back.error;
    EXPECT_EQ(file(Doc::Notes), newNotes);
    EXPECT_EQ(settings::read(session.store.settings(), "eBayID"), "new_seller");
    EXPECT_EQ(session.store.doc(Doc::ShippingLabels).selectAll("ShippingLabels/ShippingLabel").size(), 1u);
    // Saves after a restore go to the data folder as before.
    addNote("after");
    EXPECT_NE(file(Doc::Notes).find("after"), std::string::npos);
}

TEST_F(BackupTest, TwoRestoresInOneSecondKeepBothSetsAside)
{
    ASSERT_TRUE(makeDailyBackup(dir.path()).made);
    Backup daily = listBackups(dir.path())[0];
    RestoreResult a = restoreBackup(session, daily);
    RestoreResult b = restoreBackup(session, daily);
    ASSERT_TRUE(a.restored && b.restored);
    EXPECT_EQ(a.keptAside, "2026-03-01-090000-before-restore");
    EXPECT_EQ(b.keptAside, "2026-03-01-090000-before-restore-2");
    EXPECT_EQ(listBackups(dir.path()).size(), 3u);
}

TEST_F(BackupTest, ADamagedBackupChangesNothing)
{
    addNote("kept");
    ASSERT_TRUE(makeDailyBackup(dir.path()).made);
    test::writeFile(backups() / "2026-03-01" / "Notes.xml", "<Notes><Note>");
    addNote("current");
    const std::string before = file(Doc::Notes);

    RestoreResult result = restoreBackup(session, listBackups(dir.path())[0]);
    EXPECT_FALSE(result.restored);
    EXPECT_NE(result.error.find("Notes.xml cannot be read"), std::string::npos) << result.error;
    EXPECT_NE(result.error.find("Nothing was changed"), std::string::npos) << result.error;
    EXPECT_EQ(file(Doc::Notes), before);
    EXPECT_EQ(session.store.doc(Doc::Notes).selectAll("Notes/Note").size(), 2u);
    EXPECT_EQ(folders(), (std::set<std::string>{"2026-03-01"}));
}

TEST_F(BackupTest, ABackupWithoutSomeFilesLeavesThoseAsTheyAre)
{
    addNote("kept");
    ASSERT_TRUE(makeDailyBackup(dir.path()).made);
    std::filesystem::remove(backups() / "2026-03-01" / "Notes.xml");
    settings::write(session.store, "eBayID", "later");
    addNote("later");
    const std::string notes = file(Doc::Notes);

    RestoreResult result = restoreBackup(session, listBackups(dir.path())[0]);
    ASSERT_TRUE(result.restored) << result.error;
    EXPECT_EQ(file(Doc::Notes), notes);
    EXPECT_EQ(settings::read(session.store.settings(), "eBayID"), "");
}

TEST_F(BackupTest, ARestoreThatCannotWriteAFileChangesNothing)
{
    addNote("in the backup");
    ASSERT_TRUE(makeDailyBackup(dir.path()).made);
    addNote("current");
    settings::write(session.store, "eBayID", "current_seller");
    session.store.transactions().root().appendElement("Transaction").appendElement("TransactionID", "7");
    ASSERT_TRUE(session.store.save(Doc::Transactions));
    auto files = [&] {
        std::map<std::string, std::string> all;
        for (int k = 0; k < kDocCount; ++k)
            all[std::string(info(Doc(k)).file)] = file(Doc(k));
        return all;
    };
    const auto before = files();
    const Backup daily = listBackups(dir.path())[0];

    // Notes.xml comes after four files (Transactions.xml among them) that
    // are replaced by then.
    RestoreResult result = restoreBackup(session, daily, [&](const std::string &name) { return name != "Notes.xml"; });
    EXPECT_FALSE(result.restored);
    EXPECT_TRUE(result.error.starts_with("The backup 2026-03-01 could not be restored: Notes.xml could not be "
                                         "written (save abandoned)"))
        << result.error;
    EXPECT_TRUE(result.error.ends_with(". Nothing was changed.")) << result.error;
    EXPECT_EQ(files(), before);
    EXPECT_EQ(session.store.doc(Doc::Notes).selectAll("Notes/Note").size(), 2u);
    EXPECT_EQ(settings::read(session.store.settings(), "eBayID"), "current_seller");
    // No copy of files that never changed is left among the backups.
    EXPECT_TRUE(result.keptAside.empty());
    EXPECT_EQ(folders(), (std::set<std::string>{"2026-03-01"}));

    // When even putting a file back fails, the seller learns where the kept copies are.
    int transactionsAsked = 0;
    result = restoreBackup(session, daily, [&](const std::string &name) {
        if (name == "Transactions.xml") return ++transactionsAsked == 1;
        return name != "Notes.xml";
    });
    EXPECT_FALSE(result.restored);
    EXPECT_NE(result.error.find("Transactions.xml could not be put back"), std::string::npos) << result.error;
    EXPECT_NE(result.error.find((backups() / result.keptAside).string()), std::string::npos) << result.error;
    EXPECT_EQ(test::readFile(backups() / result.keptAside / "Notes.xml"), before.at("Notes.xml"));
}
