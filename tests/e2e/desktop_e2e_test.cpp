// The program as a desktop program: one running copy per data folder, its
// command line, its log, and the backups restored from the File menu.

#include "sandbox/sandbox.h"
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace tw::e2e;
using tw::test::TempDir;

// Every file under `folder` with its size, time and content: what "touched"
// would change.
std::map<std::string, std::string> snapshot(const std::filesystem::path &folder)
{
    std::map<std::string, std::string> files;
    for (const auto &e : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = std::filesystem::relative(e.path(), folder).string();
        if (e.is_directory()) {
            files[name] = "folder";
            continue;
        }
        files[name] =
            std::to_string(e.last_write_time().time_since_epoch().count()) + "|" + tw::test::readFile(e.path());
    }
    return files;
}

// Runs the binary to its end with `arguments`, without a display.
struct Finished {
    int exitCode = -1;
    QString out, err;
};
Finished runBinary(const QStringList &arguments)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "TIDEWELL_AUTOMATION"})
        env.remove(name);
    p.setProcessEnvironment(env);
    p.start(TIDEWELL_BINARY, arguments);
    Finished r;
    if (!p.waitForFinished(15000)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

TEST(Desktop, VersionAndHelpNeedNoDisplayAndAWrongOptionIsRefused)
{
    Finished version = runBinary({"--version"});
    EXPECT_EQ(version.exitCode, 0) << version.err.toStdString();
    EXPECT_EQ(version.out, "tidewell " + QString(TIDEWELL_VERSION) + "\n");

    Finished help = runBinary({"--help"});
    EXPECT_EQ(help.exitCode, 0) << help.err.toStdString();
    for (const char *option : {"--config <FILE>", "--data-dir <DIR>", "--version", "--help", "TIDEWELL_DATA_DIR"})
        EXPECT_TRUE(help.out.contains(option)) << option << "\n" << help.out.toStdString();

    Finished wrong = runBinary({"--data-directory", "/tmp"});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_TRUE(wrong.err.contains("data-directory")) << wrong.err.toStdString();
}

TEST(Desktop, ASecondProgramOnTheSameDataFolderLeavesWithoutTouchingItUntilTheFirstIsGone)
{
    TempDir dir;
    PageServer server;
    auto first = std::make_unique<Tidewell>(dir, server);
    ASSERT_TRUE(first->next("page").endsWith("/KORVA/welcome.html")) << first->output().toStdString();
    const auto before = snapshot(dir / "data");
    ASSERT_TRUE(before.count("tidewell.lock"));
    ASSERT_TRUE(before.count("tidewell.log"));

    Tidewell second(dir, server);
    const QString said = second.next("dialog");
    EXPECT_TRUE(said.contains("Tidewell is already running with the data folder " +
                              QString::fromStdString((dir / "data").string())))
        << second.output().toStdString();
    ASSERT_TRUE(second.waitForExit());
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_FALSE(second.output().contains("page: "));
    EXPECT_EQ(snapshot(dir / "data"), before);

    // Killed, the first leaves its lock behind; the next start takes it over.
    first->kill();
    ASSERT_TRUE(std::filesystem::exists(dir / "data" / "tidewell.lock"));
    Tidewell third(dir, server);
    EXPECT_TRUE(third.next("page").endsWith("/KORVA/welcome.html")) << third.output().toStdString();
    EXPECT_TRUE(third.output().indexOf("dialog: ") < 0) << third.output().toStdString();

    // Exit gives the folder back at once.
    third.send("click mnuExit");
    ASSERT_TRUE(third.waitForExit());
    EXPECT_FALSE(std::filesystem::exists(dir / "data" / "tidewell.lock"));

    // A power cut in a program's first moments leaves the lock file empty:
    // it names nobody, nobody holds it, and the next start takes it over.
    tw::test::writeFile(dir / "data" / "tidewell.lock", "");
    Tidewell fourth(dir, server);
    EXPECT_TRUE(fourth.next("page").endsWith("/KORVA/welcome.html")) << fourth.output().toStdString();
    EXPECT_TRUE(fourth.output().indexOf("dialog: ") < 0) << fourth.output().toStdString();
}

TEST(Desktop, TheLogOfADownloadTellsEachExchangeAndHoldsNoSecret)
{
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    std::filesystem::create_directories(dir / "data");
    tw::test::writeFile(dir / "data" / "Settings.xml",
                        std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?><Settings><eBayID>") +
                            sb.state().sellerId + "</eBayID><eBayAuthToken>" + tw::sandbox::kDemoToken +
                            "</eBayAuthToken><PaypalAPIUser>" + tw::sandbox::kPaypalUser +
                            "</PaypalAPIUser><PaypalAPIPassword>" + tw::sandbox::kPaypalPassword +
                            "</PaypalAPIPassword><PaypalAPISignature>" + tw::sandbox::kPaypalSignature +
                            "</PaypalAPISignature><LastGetSellerTransactions/><GetSellerTransactionsMaxDays>28"
                            "</GetSellerTransactionsMaxDays></Settings>");
    {
        Tidewell app(dir, {sb.config().toIni(), "", 0});
        ASSERT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html")) << app.output().toStdString();
        app.send("click cmdDownloadOrders");
        ASSERT_EQ(app.next("clicked", 60000), "cmdDownloadOrders") << app.output().toStdString();
        ASSERT_FALSE(sb.requests("TrackV2").empty()) << app.output().toStdString();
    }
    const std::string log = tw::test::readFile(dir / "data" / "tidewell.log");
    for (const char *expected :
         {" start Tidewell ", " start data folder ",
          " http POST 127.0.0.1:", "/ws/api.dll GeteBayOfficialTime: HTTP 200",
          "/ws/api.dll GetSellerTransactions: HTTP 200", "/ShippingAPI.dll TrackV2: HTTP 200", " backup made "})
        EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;

    std::vector<std::string> secrets = {tw::sandbox::kDemoToken,          tw::sandbox::kPaypalPassword,
                                        tw::sandbox::kPaypalSignature,    tw::sandbox::kPaypalUser,
                                        sb.config().get("ebay/CertName"), sb.config().get("ebay/DevName"),
                                        sb.config().get("ebay/AppName")};
    for (const auto &buyer : sb.state().buyers)
        secrets.push_back(buyer.email);
    for (const std::string &secret : secrets) {
        ASSERT_FALSE(secret.empty());
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
    }
    EXPECT_EQ(log.find('@'), std::string::npos);
    EXPECT_EQ(log.find("XML="), std::string::npos);
}

TEST(Desktop, AboutAndRestoreBackupFromTheMenus)
{
    TempDir dir;
    PageServer server;
    const std::filesystem::path backup = dir / "data" / "backups" / "2026-01-10";
    std::filesystem::create_directories(backup);
    tw::test::writeFile(backup / "Settings.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?><Settings><eBayID>"
                                                 "from_backup</eBayID><eBayAuthToken/></Settings>");
    tw::test::writeFile(backup / "Notes.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?><Notes><Note><TransactionID>"
                                              "1</TransactionID><ItemID>2</ItemID><Text>kept</Text></Note></Notes>");
    const std::string ini = "[pages]\nBaseUrl=" + server.base().toStdString() + "\n" + kNoServices;
    Tidewell app(dir, {ini, "OK;2026-01-10;Yes", 0});
    ASSERT_TRUE(app.next("page").endsWith("/KORVA/welcome.html")) << app.output().toStdString();

    app.send("click mnuAbout");
    const QString about = app.next("dialog");
    EXPECT_TRUE(about.startsWith("About Tidewell | Tidewell version " + QString(TIDEWELL_VERSION)))
        << about.toStdString();
    EXPECT_TRUE(about.contains("Data folder: " + QString::fromStdString((dir / "data").string())))
        << about.toStdString();

    app.send("click mnuRestoreBackup");
    EXPECT_EQ(app.next("dialog"), "Restore Backup | Choose the backup to restore: | 2026-01-10");
    EXPECT_TRUE(app.next("dialog").startsWith("Restore Backup | Replace your orders")) << app.output().toStdString();
    EXPECT_EQ(app.nextContaining("status", "Restored"), "Restored the backup 2026-01-10.");
    // The view is drawn from the restored documents.
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html")) << app.output().toStdString();
    EXPECT_NE(tw::test::readFile(dir / "data" / "Settings.xml").find("from_backup"), std::string::npos);
    EXPECT_NE(tw::test::readFile(dir / "data" / "Notes.xml").find("kept"), std::string::npos);
    std::vector<std::string> folders;
    for (const auto &e : std::filesystem::directory_iterator(dir / "data" / "backups"))
        folders.push_back(e.path().filename().string());
    EXPECT_EQ(folders.size(), 2u);
}

} // namespace
