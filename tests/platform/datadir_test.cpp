// Which folder holds the data, and the lock that keeps a second program out
// of it.

#include "platform/datadir.h"
#include "tests/support/temp_dir.h"

#include <QProcess>
#include <QSysInfo>
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace tw;
using datadir::Lock;
using datadir::Source;

TEST(DataDir, TheFirstCandidateThatAppliesWins)
{
    datadir::Candidates c;
    c.commandLine = "/data/given";
    c.environment = "/data/env";
    c.executableFolder = "/opt/tidewell";
    c.executableFolderUsable = true;
    c.userFolder = "/home/seller/.local/share/Tidewell";

    datadir::Choice choice = datadir::choose(c);
    EXPECT_EQ(choice.folder, "/data/given");
    EXPECT_EQ(choice.source, Source::CommandLine);

    c.commandLine.clear();
    choice = datadir::choose(c);
    EXPECT_EQ(choice.folder, "/data/env");
    EXPECT_EQ(choice.source, Source::Environment);

    c.environment.clear();
    choice = datadir::choose(c);
    EXPECT_EQ(choice.folder, "/opt/tidewell");
    EXPECT_EQ(choice.source, Source::ExecutableFolder);

    c.executableFolderUsable = false;
    choice = datadir::choose(c);
    EXPECT_EQ(choice.folder, "/home/seller/.local/share/Tidewell");
    EXPECT_EQ(choice.source, Source::UserFolder);

    // A relative folder is taken from where the program was started.
    c.commandLine = "shop/../data";
    choice = datadir::choose(c);
    EXPECT_EQ(choice.folder, (std::filesystem::current_path() / "data").lexically_normal());
    EXPECT_EQ(datadir::describe(choice.source), "given by --data-dir");
}

TEST(DataDir, TheProgramsFolderHoldsTheDataOnlyWhenItIsAWritableFolderOfTheUser)
{
    test::TempDir dir;
    EXPECT_TRUE(datadir::executableFolderUsable(dir.path()));
    EXPECT_FALSE(datadir::executableFolderUsable(dir / "missing"));
    // Installed with the system's programs: never, even for root who could write there.
    EXPECT_FALSE(datadir::executableFolderUsable("/usr/bin"));
    EXPECT_FALSE(datadir::executableFolderUsable("/usr/local/bin"));
    EXPECT_FALSE(datadir::executableFolderUsable("/usr/bin/../lib/tidewell"));
    EXPECT_TRUE(datadir::executableFolderUsable(dir / ".." / dir.path().filename()));
}

TEST(DataDir, AReadOnlyProgramFolderDoesNotHoldTheData)
{
    test::TempDir dir;
    // A file where the folder should be takes no files, not even from root,
    // whether it may be run or not.
    test::writeFile(dir / "tidewell", "#!/bin/sh\n");
    for (auto mode : {std::filesystem::perms(0644), std::filesystem::perms(0755)}) {
        std::filesystem::permissions(dir / "tidewell", mode);
        EXPECT_FALSE(datadir::executableFolderUsable(dir / "tidewell")) << int(mode);
    }
    if (::geteuid() != 0) { // root writes into read-only folders
        std::filesystem::create_directory(dir / "read-only");
        ::chmod((dir / "read-only").c_str(), 0555);
        EXPECT_FALSE(datadir::executableFolderUsable(dir / "read-only"));
        ::chmod((dir / "read-only").c_str(), 0755);
    }
}

TEST(DataDirLock, ASecondHolderIsRefusedUntilTheFirstLetsGo)
{
    test::TempDir dir;
    auto first = std::make_unique<Lock>(dir.path());
    ASSERT_EQ(first->acquire(), Lock::Result::Acquired);
    ASSERT_TRUE(std::filesystem::exists(dir / Lock::kFileName));

    Lock second(dir.path());
    EXPECT_EQ(second.acquire(), Lock::Result::HeldByOther);
    EXPECT_EQ(second.holderPid(), ::getpid());
    EXPECT_EQ(second.holderHost(), QSysInfo::machineHostName().toStdString());

    first.reset();
    EXPECT_FALSE(std::filesystem::exists(dir / Lock::kFileName));
    EXPECT_EQ(second.acquire(), Lock::Result::Acquired);
    // Letting go of it twice is harmless.
    second.release();
    second.release();
    EXPECT_FALSE(std::filesystem::exists(dir / Lock::kFileName));
}

TEST(DataDirLock, TheLockOfAProgramThatDiedIsTakenOverButNotThatOfALiveOne)
{
    test::TempDir dir;
    // The lock file as a running program writes it, naming another process:
    // a "sleep" that stands in for a Tidewell that is still running.
    std::string ours;
    {
        Lock lock(dir.path());
        ASSERT_EQ(lock.acquire(), Lock::Result::Acquired);
        ours = test::readFile(dir / Lock::kFileName);
    }
    QProcess holder;
    holder.start("sleep", {"60"});
    ASSERT_TRUE(holder.waitForStarted(5000));
    const std::string rest = ours.substr(ours.find('\n', ours.find('\n') + 1)); // from the host name on
    test::writeFile(dir / Lock::kFileName, std::to_string(holder.processId()) + "\nsleep" + rest);
    // Held for hours, as a program left open all day holds it.
    std::filesystem::last_write_time(dir / Lock::kFileName,
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(5));

    Lock lock(dir.path());
    EXPECT_EQ(lock.acquire(), Lock::Result::HeldByOther);
    EXPECT_EQ(lock.holderPid(), holder.processId());
    // Refused without a change to the holder's file.
    EXPECT_EQ(test::readFile(dir / Lock::kFileName), std::to_string(holder.processId()) + "\nsleep" + rest);

    holder.kill();
    ASSERT_TRUE(holder.waitForFinished(5000));
    EXPECT_EQ(lock.acquire(), Lock::Result::Acquired);
    const std::string now = test::readFile(dir / Lock::kFileName);
    EXPECT_EQ(now.substr(0, now.find('\n')), std::to_string(::getpid()));
}

TEST(DataDirLock, ALockFileLeftEmptyOrGarbledIsTakenOverUnlessALiveProgramHoldsIt)
{
    // What a power cut in a program's first moments can leave: nothing,
    // text that names no process, or blocks that were never written.
    for (const std::string &left : {std::string(), std::string("tidewell\n"), std::string("\0\0\0\0", 4)}) {
        test::TempDir dir;
        {
            // A live holder whose file was spoilt under it keeps the folder.
            Lock live(dir.path());
            ASSERT_EQ(live.acquire(), Lock::Result::Acquired);
            test::writeFile(dir / Lock::kFileName, left);
            Lock second(dir.path());
            EXPECT_EQ(second.acquire(), Lock::Result::HeldByOther) << testing::PrintToString(left);
            EXPECT_EQ(test::readFile(dir / Lock::kFileName), left);
        }
        // Left behind by nobody: the next start takes it over.
        test::writeFile(dir / Lock::kFileName, left);
        Lock lock(dir.path());
        EXPECT_EQ(lock.acquire(), Lock::Result::Acquired) << testing::PrintToString(left);
        const std::string now = test::readFile(dir / Lock::kFileName);
        EXPECT_EQ(now.substr(0, now.find('\n')), std::to_string(::getpid()));
    }
}

TEST(DataDirLock, AFolderThatCannotHoldTheLockFileFails)
{
    test::TempDir dir;
    Lock lock(dir / "missing" / "folder");
    EXPECT_EQ(lock.acquire(), Lock::Result::Failed);
    EXPECT_FALSE(lock.error().empty());
}
