// Runs the tidewell binary in a fresh data folder with its pages served by a
// loopback server of the test, which can add a script to a page to act as a
// user would.

#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

namespace {

using namespace tw::e2e;
using tw::test::TempDir;

const char *kTokenSettings = "<?xml version=\"1.0\"?>\n<Settings><eBayAuthToken>AgAAAA-test</eBayAuthToken>"
                             "<DefaultBrowser>True</DefaultBrowser></Settings>\n";

// Runs `script` once the page's fill has hidden its overlay: while the
// overlay shows, a link is refused with "(Please wait)", as a seller's click is.
QString afterFill(const QString &script)
{
    return "(function go() { var o = document.getElementById('ProcessingElement');"
           " if (!o || o.style.visibility !== 'hidden') { setTimeout(go, 20); return; } " +
           script + " })();";
}

TEST(EndToEnd, FirstRunCreatesTheStoreAndShowsTheWelcomePageWithDownloadsDisabled)
{
    TempDir dir;
    PageServer server;
    Tidewell app(dir, server);
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/welcome.html")) << app.output().toStdString();
    for (const char *file :
         {"ShippingLabels.xml", "Transactions.xml", "ArchivedTransactions.xml", "TrackingNumbers.xml", "Notes.xml",
          "Messages.xml", "Items.xml", "SentMessages.xml", "Settings.xml"})
        EXPECT_TRUE(std::filesystem::exists(dir / "data" / file)) << file;
    // Besides the ten files: the lock held while the program runs, and its log.
    EXPECT_TRUE(std::filesystem::exists(dir / "data" / "tidewell.lock"));
    EXPECT_TRUE(std::filesystem::exists(dir / "data" / "tidewell.log"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "data"), {}), 12);

    // Disabled controls do nothing: the next page is the one Online Help opens.
    app.send("click Label1");
    app.send("click cmdDownloadOrders");
    app.send("click mnuOnlineHelp");
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/help.html")) << app.output().toStdString();
}

TEST(EndToEnd, CommandLinksRunOnlyFromOurOwnPagesAndOnlyWithTheKeyAction)
{
    TempDir dir;
    PageServer server;
    std::filesystem::create_directories(dir / "data");
    tw::test::writeFile(dir / "data" / "Settings.xml", kTokenSettings);
    // Help page: a link whose key is "action" (nothing), then Options.
    server.scripts["/korva/help.html"] = "location.href='http://plinthway/?action=SaveSettings&Button=Cancel';";
    server.extra["/outside.html"] = "<html><body><a id=x href='HTTP://PLINTHWAY/?Action=SaveSettings&Button=Cancel'>"
                                    "x</a><script>addEventListener('load', function () { setTimeout(function () {"
                                    "document.getElementById('x').click(); }, 100); });</script></body></html>";
    Tidewell app(dir, server);
    // The page is reported once FirstTimeInit (its calls go nowhere) has given up.
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html")) << app.output().toStdString();

    app.send("click mnuOnlineHelp");
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/help.html"));
    // The help page's link was decided and ran no action: its key is not "Action".
    EXPECT_EQ(app.nextLine("action"), QString()) << app.output().toStdString();
    app.send("click mnuReport");
    EXPECT_TRUE(app.next("page").endsWith("/outside.html")) << app.output().toStdString();
    // The outside page's link was decided (the status is cleared for every
    // navigation) and refused: no action line follows.
    EXPECT_TRUE(app.nextLine("status")) << app.output().toStdString();
    // Neither link went back to the main page: the next page is Options.
    server.scripts["/korva/settings.html"] =
        afterFill("location.href = 'HTTP://PLINTHWAY/?Action=SaveSettings&Button=Cancel';");
    app.send("click mnuOptions");
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/settings.html")) << app.output().toStdString();
    // ... whose link in capitals runs its action.
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html")) << app.output().toStdString();
}

TEST(EndToEnd, ACommandLinkReachedByAnOutsideRedirectDoesNothing)
{
    TempDir dir;
    PageServer server;
    std::filesystem::create_directories(dir / "data");
    tw::test::writeFile(dir / "data" / "Settings.xml", kTokenSettings);
    server.scripts["/korva/help.html"] = "location.href='" + server.outside() + "/redirect';";
    server.extra["/redirect"] = "HTTP/1.1 302 Found\r\nLocation: HTTP://PLINTHWAY/?Action=SaveSettings&Button=Cancel"
                                "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    Tidewell app(dir, server);
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html"));
    app.send("click mnuOnlineHelp");
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/help.html"));
    // Two navigations were decided: the outside address, then the command
    // link its server redirected to, which was refused.
    EXPECT_TRUE(app.nextLine("status"));
    EXPECT_TRUE(app.nextLine("status"));
    app.send("click mnuOptions");
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/settings.html")) << app.output().toStdString();
    EXPECT_EQ(app.output().count("action: "), 0) << app.output().toStdString();
}

TEST(EndToEnd, CancelOnTheOptionsPageReturnsToTheMainPageWithoutSaving)
{
    TempDir dir;
    PageServer server;
    std::filesystem::create_directories(dir / "data");
    tw::test::writeFile(dir / "data" / "Settings.xml", kTokenSettings);
    server.scripts["/korva/settings.html"] = afterFill("document.getElementById('CancelSettings').click();");
    Tidewell app(dir, server);
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html"));
    const std::string before = tw::test::readFile(dir / "data" / "Settings.xml");
    app.send("click mnuOptions");
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/settings.html"));
    EXPECT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html")) << app.output().toStdString();
    EXPECT_EQ(tw::test::readFile(dir / "data" / "Settings.xml"), before);
}

} // namespace
