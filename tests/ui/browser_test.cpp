#include "platform/config.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/support/fake_shell.h"
#include "tests/support/loopback_http.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"
#include "ui/browser.h"
#include "ui/commandlink.h"
#include "ui/feature.h"
#include "ui/overlay.h"
#include "ui/served.h"

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::ui;

namespace {

std::string ebayAnswer(const std::string &call, const std::string &inner)
{
    return "<" + call + "Response xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Success</Ack>" + inner + "</" + call +
           "Response>";
}

class BrowserTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        Config c;
        c.set("ebay/ApiUrl", peer.url("/ws/api.dll"));
        c.set("net/TimeoutSeconds", "5");
        setConfig(c);
        session.openStore(dir.path());
        table.addAction("TagAll", [this](const Params &p) { ran.push_back(p); });
    }
    void TearDown() override { setConfig(Config()); }

    // A click on a link of our main page: decide, then run what was posted.
    bool click(const std::string &url)
    {
        bool cancel = browser.WebBrowser1_BeforeNavigate2(url, shell.fake.address);
        shell.runPosted();
        return cancel;
    }

    test::LoopbackHttp peer;
    test::TempDir dir;
    Session session;
    test::FakeShell shell;
    FeatureTable table;
    Browser browser{session, shell, table};
    std::vector<Params> ran;
};

TEST(CommandLink, ParsesWhateverTheCaseOfThePrefixAndDecodesValuesOnly)
{
    EXPECT_TRUE(isCommandLink("HTTP://PLINTHWAY/?Action=TagAll"));
    EXPECT_FALSE(isCommandLink("http://plinthway/index.html"));
    Params p = parseCommandLink("HTTP://Plinthway/?Action=SaveSettings&Button=Save+Settings&Note=a%20b%26c%25d%23&"
                                "Lone&Odd=100%&Bad=%zz%4&a%20b=x");
    EXPECT_EQ(p, (Params{{"Action", "SaveSettings"},
                         {"Button", "Save+Settings"}, // a form's "+" stays: the options page compares it so
                         {"Note", "a b&c%d#"},
                         {"Lone", ""},
                         {"Odd", "100%"},
                         {"Bad", "%zz%4"},
                         {"a%20b", "x"}})); // keys are compared as written
    EXPECT_EQ(parseCommandLink("http://plinthway/?Action=X&v=a=b")["v"], "a=b");
}

TEST_F(BrowserTest, CommandLinksAreCancelledAndDispatchedByExactActionName)
{
    EXPECT_TRUE(click("HTTP://PLINTHWAY/?Action=TagAll&ItemID=1"));
    ASSERT_EQ(ran.size(), 1u);
    EXPECT_EQ(ran[0]["ItemID"], "1");

    EXPECT_TRUE(click("http://plinthway/?action=TagAll"));
    EXPECT_TRUE(click("http://plinthway/?Action=tagall"));
    EXPECT_TRUE(click("http://plinthway/?Action=NoSuchThing"));
    EXPECT_EQ(ran.size(), 1u);
    EXPECT_TRUE(shell.navigations.empty());
}

TEST_F(BrowserTest, CommandLinksFromOutsidePagesAreIgnored)
{
    EXPECT_TRUE(browser.WebBrowser1_BeforeNavigate2("http://plinthway/?Action=TagAll", "https://evil.example/"));
    shell.runPosted();
    EXPECT_TRUE(ran.empty());
    // The program's own navigations have no page behind them.
    browser.WebBrowser1_BeforeNavigate2("http://plinthway/?Action=TagAll", "");
    shell.runPosted();
    EXPECT_EQ(ran.size(), 1u);
}

TEST_F(BrowserTest, OrdinaryNavigationProceedsAndClearsTheStatus)
{
    EXPECT_FALSE(click(Browser::pageUrl(kHelpPage)));
    EXPECT_EQ(shell.statuses, std::vector<std::string>{""});
    EXPECT_TRUE(shell.navigations.empty());
}

TEST_F(BrowserTest, OutsideLinksGoToTheSystemBrowserOrThePlinthwayWindow)
{
    const std::string feedback = config().get("ebay/FeedbackUrl") + "?ViewFeedback2&userid=x";
    settings::set(session.store.settings(), "DefaultBrowser", "True");
    EXPECT_TRUE(click(feedback));
    EXPECT_EQ(shell.external, std::vector<std::string>{feedback});
    EXPECT_TRUE(shell.navigations.empty());

    settings::set(session.store.settings(), "DefaultBrowser", "False");
    EXPECT_TRUE(click(config().get("usps/TrackingPageUrl") + "/PTSInternetWeb/x"));
    ASSERT_EQ(shell.navigations.size(), 1u);
    EXPECT_EQ(shell.navigations[0].second, "plinthway");

    // The item prefix counts only once eBay's details name it.
    EXPECT_FALSE(click("http://items.example/view?item=1"));
    session.eBayDetails =
        xml::Document::parse("<GeteBayDetailsResponse><URLDetails><URLType>ViewItemURL</URLType>"
                             "<URL>http://items.example/view</URL></URLDetails></GeteBayDetailsResponse>");
    EXPECT_TRUE(click("http://ITEMS.example/view?item=1"));
}

TEST_F(BrowserTest, OnlyWebAddressesAreOpenedOrFollowed)
{
    settings::set(session.store.settings(), "DefaultBrowser", "True");
    const std::string feedback = config().get("ebay/FeedbackUrl");
    for (const std::string &url : {"file:///etc/passwd?" + feedback, "data:text/html,<a href='" + feedback + "'>",
                                   "ftp://files.example/" + feedback})
        EXPECT_TRUE(click(url)) << url;
    EXPECT_TRUE(shell.external.empty());
    EXPECT_TRUE(shell.navigations.empty());
    EXPECT_FALSE(click("https://www.example.com/"));
    EXPECT_FALSE(click(Browser::pageUrl(kHelpPage)));
    EXPECT_FALSE(click("about:blank"));
}

TEST_F(BrowserTest, ACaughtNavigationIsCancelledBeforeTheWatchersAndOutsideLinks)
{
    std::vector<std::string> watched;
    table.addNavigationWatcher([&](const std::string &url, const std::string &) { watched.push_back(url); });
    table.addNavigationCatcher(
        [](const std::string &url, const std::string &) { return url.find("code=") != std::string::npos; });
    const std::string feedback = config().get("ebay/FeedbackUrl");
    EXPECT_TRUE(browser.WebBrowser1_BeforeNavigate2(feedback + "?code=1", "redirect:" + feedback));
    EXPECT_FALSE(browser.WebBrowser1_BeforeNavigate2("https://shop.example/?state=1", "redirect:x"));
    EXPECT_EQ(watched, std::vector<std::string>{"https://shop.example/?state=1"});
    shell.runPosted();
    EXPECT_TRUE(shell.external.empty());
    EXPECT_TRUE(shell.navigations.empty());
}

TEST_F(BrowserTest, BusyGuardRefusesNavigationAndSaysPleaseWaitOnce)
{
    table.addAction("CancelPrintPostage", [this](const Params &p) { ran.push_back(p); });
    Busy::Token work = table.busy().hold(Busy::Options::wait("CancelPrintPostage", ""));
    shell.ProcessingImageDisplay("Downloading");
    EXPECT_TRUE(click("http://plinthway/?Action=TagAll"));
    EXPECT_TRUE(click(Browser::pageUrl(kHelpPage)));
    EXPECT_TRUE(ran.empty());
    std::string html = shell.fake.element("ProcessingElement").innerHTML();
    EXPECT_NE(html.find("Downloading<br>(Please wait)"), std::string::npos);
    EXPECT_EQ(html.find("Please wait"), html.rfind("Please wait"));

    // The wait's own cancel is the one way through.
    EXPECT_TRUE(click("http://plinthway/?Action=CancelPrintPostage"));
    EXPECT_EQ(ran.size(), 1u);

    work.reset();
    EXPECT_FALSE(click(Browser::pageUrl(kHelpPage)));
}

TEST_F(BrowserTest, OverlayShowsOneElementWithTheLatestMessage)
{
    ProcessingImageHide(shell.fake); // nothing to hide yet
    EXPECT_EQ(shell.fake.count("ProcessingElement"), 0);
    ProcessingImageDisplay(shell.fake, "first");
    ProcessingImageDisplay(shell.fake, "second");
    ASSERT_EQ(shell.fake.count("ProcessingElement"), 1);
    page::Element overlay = shell.fake.element("ProcessingElement");
    EXPECT_NE(overlay.innerHTML().find("<br>second"), std::string::npos);
    EXPECT_EQ(overlay.innerHTML().find("first"), std::string::npos);
    EXPECT_EQ(overlay.style("visibility"), "");
    EXPECT_EQ(overlay.style("top"), "300px"); // half the body's client height, no scroll
    ProcessingImageHide(shell.fake);
    EXPECT_EQ(overlay.style("visibility"), "hidden");
}

TEST_F(BrowserTest, SettingsCancelReturnsToMainPageWithoutSaving)
{
    registerOptions(session, shell, table);
    const std::string before = test::readFile(session.store.path(store::Doc::Settings));
    click("http://plinthway/?Action=SaveSettings&Button=Cancel");
    ASSERT_EQ(shell.navigations.size(), 1u);
    EXPECT_EQ(shell.navigations[0].first, Browser::pageUrl(kMainPage));
    EXPECT_EQ(test::readFile(session.store.path(store::Doc::Settings)), before);
}

TEST_F(BrowserTest, FirstMainPageRunsFirstTimeInitOnceAndFillsPages)
{
    peer.enqueue("<GeteBayDetailsResponse xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Failure</Ack><Errors>"
                 "<ShortMessage>Down</ShortMessage></Errors></GeteBayDetailsResponse>");
    int mains = 0, options = 0;
    std::vector<std::string> watched;
    table.addPageFill(std::string(kMainPage), [&](const std::string &) { ++mains; });
    table.addPageFill(std::string(kSettingsPage), [&](const std::string &) { ++options; });
    table.addPageWatcher([&](const std::string &url) { watched.push_back(url); });

    const std::string main = Browser::pageUrl(kMainPage);
    std::string upper = main;
    upper.replace(upper.find("KORVA/main"), 10, "korva/MAIN");
    browser.WebBrowser1_DocumentComplete(upper);
    browser.WebBrowser1_DocumentComplete(main);
    browser.WebBrowser1_DocumentComplete(Browser::pageUrl(kSettingsPage));
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0].header("X-EBAY-API-CALL-NAME"), "GeteBayDetails");
    EXPECT_EQ(shell.lastStatus(), "eBay start-up failed: eBay answered: Down. Downloads stay off; Tools > Authorize "
                                  "eBay Account signs in again.");
    EXPECT_TRUE(shell.isEnabled("mnuAuthorizeeBayID", false));
    EXPECT_EQ(mains, 2);
    EXPECT_EQ(options, 1);
    EXPECT_EQ(watched.size(), 3u);
    EXPECT_FALSE(shell.isEnabled("cmdDownloadOrders"));
    EXPECT_FALSE(shell.isEnabled("Label1", false));
    EXPECT_FALSE(shell.processingShown());
}

TEST_F(BrowserTest, FirstTimeInitMeasuresTheClockOffsetAndEnablesDownloads)
{
    test::MockClock clock(DateTime::fromParts(2010, 6, 1, 12, 0, 0));
    peer.enqueue(ebayAnswer("GeteBayDetails", "<URLDetails><URLType>ViewItemURL</URLType></URLDetails>"));
    // eBay's milliseconds count: a message sent within the second must fall
    // inside a download that ends "now".
    peer.enqueue(ebayAnswer("GeteBayOfficialTime", "<Timestamp>2010-06-01T18:00:00.75Z</Timestamp>"));
    FirstTimeInit(session, shell);
    EXPECT_DOUBLE_EQ(session.eBayClockOffset, 0.25 + 0.750 / 86400);
    EXPECT_EQ(GetNodeText(session.eBayDetails, "GeteBayDetailsResponse/URLDetails/URLType"), "ViewItemURL");
    ASSERT_TRUE(session.dazzleDefinitions);
    EXPECT_TRUE(session.dazzleDefinitions.select("DAZzle/Package/Services"));
    EXPECT_TRUE(shell.isEnabled("cmdDownloadOrders", false));
    EXPECT_TRUE(shell.isEnabled("Label1", false));
    EXPECT_TRUE(shell.isEnabled("mnuDownloadDaysofOrders", false));
    EXPECT_FALSE(shell.isEnabled("mnuAuthorizeeBayID"));
    EXPECT_FALSE(shell.processingShown());
}

TEST_F(BrowserTest, PostageCheckBoxesAreStoredInSettingsWhenTheyDiffer)
{
    const auto path = session.store.path(store::Doc::Settings);
    int testMode = shell.fake.add("INPUT", "", "TestMode");
    shell.fake.add("INPUT", "", "AutoClose");
    shell.fake.el(testMode).props["checked"] = "true";
    browser.mobjGenericHtmlEventHandler.EventHandler();
    xml::Document saved = xml::Document::load(path);
    EXPECT_EQ(GetNodeText(saved, "Settings/PrintPostageTestMode"), "True");
    EXPECT_EQ(GetNodeText(saved, "Settings/DazzleAutoClose", "missing"), "missing");
    EXPECT_EQ(GetNodeText(saved, "Settings/DazzleCustomsCertify", "missing"), "missing");

    // Nothing changed: nothing is written.
    const auto old = std::filesystem::file_time_type(std::chrono::seconds(1000000));
    std::filesystem::last_write_time(path, old);
    browser.mobjGenericHtmlEventHandler.EventHandler();
    EXPECT_EQ(std::filesystem::last_write_time(path), old);

    shell.fake.el(testMode).props["checked"] = "false";
    browser.mobjGenericHtmlEventHandler.EventHandler();
    EXPECT_EQ(GetNodeText(xml::Document::load(path), "Settings/PrintPostageTestMode"), "False");
}

} // namespace
