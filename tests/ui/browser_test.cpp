#include "platform/config.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/support/fake_page.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"
#include "ui/browser.h"
#include "ui/overlay.h"
#include "ui/served.h"

#include <gtest/gtest.h>

#include <deque>

using namespace tw;
using namespace tw::ui;

namespace {

class FakeHost : public Host {
  public:
    test::FakePage fake;
    std::vector<std::string> statuses, external;
    std::vector<std::pair<std::string, std::string>> navigations;
    std::map<std::string, bool, std::less<>> enabled;
    std::deque<std::function<void()>> queue;

    page::Page &page() override { return fake; }
    void setStatusText(std::string_view text) override { statuses.emplace_back(text); }
    void setControlEnabled(std::string_view name, bool on) override { enabled[std::string(name)] = on; }
    void navigate(const std::string &url, const std::string &target) override { navigations.push_back({url, target}); }
    void openExternal(const std::string &url) override { external.push_back(url); }
    void post(std::function<void()> task) override { queue.push_back(std::move(task)); }
    void runPosted()
    {
        while (!queue.empty()) {
            auto task = std::move(queue.front());
            queue.pop_front();
            task();
        }
    }
};

class BrowserTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        setConfig(Config());
        session.openStore(dir.path());
        browser.actions["TagAll"] = [this](const Params &p) { ran.push_back(p); };
    }
    // A click on a link of our main page: decide, then run what was posted.
    bool click(const std::string &url)
    {
        bool cancel = browser.WebBrowser1_BeforeNavigate2(url, host.fake.address);
        host.runPosted();
        return cancel;
    }

    test::TempDir dir;
    Session session;
    FakeHost host;
    Browser browser{session, host};
    std::vector<Params> ran;
};

TEST(CommandLink, ParsesVerbatimWhateverTheCaseOfThePrefix)
{
    EXPECT_TRUE(isCommandLink("HTTP://PLINTHWAY/?Action=TagAll"));
    EXPECT_FALSE(isCommandLink("http://plinthway/index.html"));
    Params p = parseCommandLink("HTTP://Plinthway/?Action=SaveSettings&Button=Save+Settings&Note=a%20b&Lone");
    EXPECT_EQ(p["Action"], "SaveSettings");
    EXPECT_EQ(p["Button"], "Save+Settings");
    EXPECT_EQ(p["Note"], "a%20b");
    EXPECT_EQ(p["Lone"], "");
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
}

TEST_F(BrowserTest, CommandLinksFromOutsidePagesAreIgnored)
{
    EXPECT_TRUE(browser.WebBrowser1_BeforeNavigate2("http://plinthway/?Action=TagAll", "https://evil.example/"));
    host.runPosted();
    EXPECT_TRUE(ran.empty());
    // The program's own navigations have no page behind them.
    browser.WebBrowser1_BeforeNavigate2("http://plinthway/?Action=TagAll", "");
    host.runPosted();
    EXPECT_EQ(ran.size(), 1u);
}

TEST_F(BrowserTest, OrdinaryNavigationProceedsAndClearsTheStatus)
{
    EXPECT_FALSE(click(Browser::pageUrl(kHelpPage)));
    EXPECT_EQ(host.statuses, std::vector<std::string>{""});
    EXPECT_TRUE(host.navigations.empty());
}

TEST_F(BrowserTest, OutsideLinksGoToTheSystemBrowserOrThePlinthwayWindow)
{
    const std::string feedback = config().get("ebay/FeedbackUrl") + "?ViewFeedback2&userid=x";
    settings::set(session.store.settings(), "DefaultBrowser", "True");
    EXPECT_TRUE(click(feedback));
    EXPECT_EQ(host.external, std::vector<std::string>{feedback});
    EXPECT_TRUE(host.navigations.empty());

    settings::set(session.store.settings(), "DefaultBrowser", "False");
    EXPECT_TRUE(click(config().get("usps/TrackingPageUrl") + "/PTSInternetWeb/x"));
    ASSERT_EQ(host.navigations.size(), 1u);
    EXPECT_EQ(host.navigations[0].second, "plinthway");

    // The item prefix counts only once eBay's details name it.
    EXPECT_FALSE(click("http://items.example/view?item=1"));
    session.eBayDetails =
        xml::Document::parse("<GeteBayDetailsResponse><URLDetails><URLType>ViewItemURL</URLType>"
                             "<URL>http://items.example/view</URL></URLDetails></GeteBayDetailsResponse>");
    EXPECT_TRUE(click("http://ITEMS.example/view?item=1"));
}

TEST_F(BrowserTest, AuthorisationCancelPageBlanksTheBrowser)
{
    EXPECT_TRUE(click(config().get("ebay/AuthCancelUrl")));
    ASSERT_EQ(host.navigations.size(), 1u);
    EXPECT_EQ(host.navigations[0].first, "about:blank");
    EXPECT_FALSE(host.enabled["cmdDownloadOrders"]);
}

TEST_F(BrowserTest, BusyGuardRefusesNavigationAndSaysPleaseWaitOnce)
{
    ProcessingImageDisplay(host.fake, "Downloading");
    EXPECT_TRUE(click("http://plinthway/?Action=TagAll"));
    EXPECT_TRUE(click(Browser::pageUrl(kHelpPage)));
    EXPECT_TRUE(ran.empty());
    std::string html = host.fake.element("ProcessingElement").innerHTML();
    EXPECT_NE(html.find("Downloading<br>(Please wait)"), std::string::npos);
    EXPECT_EQ(html.find("Please wait"), html.rfind("Please wait"));

    // Cancelling postage is the one way through.
    browser.actions["CancelPrintPostage"] = [this](const Params &p) { ran.push_back(p); };
    EXPECT_TRUE(click("http://plinthway/?Action=CancelPrintPostage"));
    EXPECT_EQ(ran.size(), 1u);

    ProcessingImageHide(host.fake);
    EXPECT_FALSE(click(Browser::pageUrl(kHelpPage)));
}

TEST_F(BrowserTest, OverlayShowsOneElementWithTheLatestMessage)
{
    ProcessingImageHide(host.fake); // nothing to hide yet
    EXPECT_EQ(host.fake.count("ProcessingElement"), 0);
    ProcessingImageDisplay(host.fake, "first");
    ProcessingImageDisplay(host.fake, "second");
    ASSERT_EQ(host.fake.count("ProcessingElement"), 1);
    page::Element overlay = host.fake.element("ProcessingElement");
    EXPECT_NE(overlay.innerHTML().find("<br>second"), std::string::npos);
    EXPECT_EQ(overlay.innerHTML().find("first"), std::string::npos);
    EXPECT_EQ(overlay.style("visibility"), "");
    EXPECT_EQ(overlay.style("top"), "300px"); // half the body's client height, no scroll
    ProcessingImageHide(host.fake);
    EXPECT_EQ(overlay.style("visibility"), "hidden");
}

TEST_F(BrowserTest, SettingsCancelReturnsToMainPageWithoutSaving)
{
    bool saved = false;
    browser.hooks.SaveSettings = [&] { saved = true; };
    click("http://plinthway/?Action=SaveSettings&Button=Cancel");
    EXPECT_FALSE(saved);
    ASSERT_EQ(host.navigations.size(), 1u);
    EXPECT_EQ(host.navigations[0].first, Browser::pageUrl(kMainPage));

    click("http://plinthway/?Action=SaveSettings&Button=Save+Settings");
    EXPECT_TRUE(saved);
    EXPECT_EQ(host.statuses.back(), "Settings saved.");
    EXPECT_EQ(host.navigations.size(), 2u);
}

TEST_F(BrowserTest, FirstMainPageRunsFirstTimeInitOnceAndFillsPages)
{
    int detailsCalls = 0, grids = 0, options = 0;
    browser.ebay.SynchronousGeteBayDetails = [&]() -> std::optional<xml::Document> {
        ++detailsCalls;
        return std::nullopt; // eBay unreachable
    };
    browser.hooks.RefreshGrid = [&] { ++grids; };
    browser.hooks.DisplayOptions = [&] { ++options; };

    const std::string main = Browser::pageUrl(kMainPage);
    std::string upper = main;
    upper.replace(upper.find("KORVA/main"), 10, "korva/MAIN");
    browser.WebBrowser1_DocumentComplete(upper);
    browser.WebBrowser1_DocumentComplete(main);
    browser.WebBrowser1_DocumentComplete(Browser::pageUrl(kSettingsPage));
    EXPECT_EQ(detailsCalls, 1);
    EXPECT_EQ(grids, 2);
    EXPECT_EQ(options, 1);
    EXPECT_FALSE(host.enabled["cmdDownloadOrders"]);
    EXPECT_EQ(host.enabled.count("Label1"), 0u);
}

TEST_F(BrowserTest, FirstTimeInitMeasuresTheClockOffsetAndEnablesDownloads)
{
    test::MockClock clock(DateTime::fromParts(2010, 6, 1, 12, 0, 0));
    browser.ebay.SynchronousGeteBayDetails = [] {
        return std::optional(
            xml::Document::parse("<GeteBayDetailsResponse><Ack>Success</Ack></GeteBayDetailsResponse>"));
    };
    browser.ebay.SynchronousGeteBayOfficialTime = [] {
        return std::optional(
            xml::Document::parse("<GeteBayOfficialTimeResponse xmlns=\"urn:ebay:apis:eBLBaseComponents\">"
                                 "<Timestamp>2010-06-01T18:00:00.000Z</Timestamp></GeteBayOfficialTimeResponse>"));
    };
    browser.FirstTimeInit();
    EXPECT_DOUBLE_EQ(session.eBayClockOffset, 0.25);
    EXPECT_EQ(GetNodeText(session.eBayDetails, "GeteBayDetailsResponse/Ack"), "Success");
    ASSERT_TRUE(session.dazzleDefinitions);
    EXPECT_TRUE(session.dazzleDefinitions.select("DAZzle/Package/Services"));
    EXPECT_TRUE(host.enabled["cmdDownloadOrders"]);
    EXPECT_TRUE(host.enabled["Label1"]);
    EXPECT_TRUE(host.enabled["mnuDownloadDaysofOrders"]);
    EXPECT_FALSE(host.enabled["mnuAuthorizeeBayID"]);
    EXPECT_FALSE(host.fake.processingShown);
}

TEST_F(BrowserTest, ContactBuyerPageIsFilledFromTheOrder)
{
    auto &tx = session.store.transactions();
    tx = xml::Document::parse("<Transactions><Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\">"
                              "<Buyer><UserID>bob</UserID></Buyer><Item><ItemID>11'1</ItemID><Title>Lamp &amp; "
                              "shade</Title></Item><TransactionID>22</TransactionID></Transaction></Transactions>");
    settings::set(session.store.settings(), "DeliveredNeedsFollowUpMessage", "Did it arrive?");
    for (auto [tag, id] : {std::pair{"SPAN", "BuyerID"},
                           {"SPAN", "Item"},
                           {"INPUT", "Subject"},
                           {"TEXTAREA", "Message"},
                           {"INPUT", "ItemID"},
                           {"INPUT", "TransactionID"}})
        host.fake.add(tag, id);
    browser.WebBrowser1_DocumentComplete(Browser::pageUrl(kContactBuyerPage) + "?ItemID=11'1&TransactionID=22");
    auto &f = host.fake;
    EXPECT_EQ(f.element("BuyerID").innerText(), "bob");
    EXPECT_EQ(f.element("Item").innerText(), "Lamp & shade(11'1)");
    EXPECT_EQ(f.element("Subject").value(), "re: Lamp & shade(11'1)");
    EXPECT_EQ(f.element("Message").value(), "Did it arrive?");
    EXPECT_EQ(f.element("ItemID").value(), "11'1");
    EXPECT_EQ(f.element("TransactionID").value(), "22");
}

TEST_F(BrowserTest, PostageCheckBoxesAreStoredInSettingsWhenTheyDiffer)
{
    int testMode = host.fake.add("INPUT", "", "TestMode");
    host.fake.add("INPUT", "", "AutoClose");
    host.fake.el(testMode).props["checked"] = "true";
    auto before = std::filesystem::last_write_time(session.store.path(store::Doc::Settings));
    browser.mobjGenericHtmlEventHandler.EventHandler();
    xml::Document saved = xml::Document::load(session.store.path(store::Doc::Settings));
    EXPECT_EQ(GetNodeText(saved, "Settings/PrintPostageTestMode"), "True");
    EXPECT_EQ(GetNodeText(saved, "Settings/DazzleCustomsCertify", "missing"), "missing");
    (void)before;
}

} // namespace
