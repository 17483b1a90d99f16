// The program composed as the window composes it, held against the action
// table of the command links, the window's controls and timers, and the
// pages that get filled. A name that is wired to nothing cannot hide: it is
// either registered or listed here as not built yet.

#include "app/features.h"
#include "pages/pages.h"
#include "platform/config.h"
#include "tests/support/fake_shell.h"
#include "tests/support/temp_dir.h"
#include "ui/browser.h"
#include "ui/served.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

using namespace tw;

namespace {

// Every action a command link may name.
const std::set<std::string> kActions = {
    "DisplayPaypalRefundForm",
    "PaypalRefundSend",
    "DisplayEbayRefundForm",
    "EbayRefundSend",
    "CancelEbayRefund",
    "PrintPostageSend",
    "PrintPostageSendWorldShip",
    "SMTPSend",
    "SendSMTPTemplateMessage",
    "PrintPostage",
    "PrintPostageWorldShip",
    "TagAll",
    "UnTagAll",
    "FlipTags",
    "TagWithFeedback",
    "DisplayDeliveredNeedsFollowUp",
    "DisplayInTransit",
    "DisplayNotShipped",
    "DisplayArchived",
    "ArchiveAll",
    "ArchiveTagged",
    "ArchiveTransaction",
    "RestoreTransaction",
    "RestoreTagged",
    "CancelMessage",
    "CancelPrintPostage",
    "ResendTracking",
    "CancelPaypalRefund",
    "SendMessage",
    "AddNoteClick",
    "DeleteNoteClick",
    "SaveNoteClick",
    "SaveSettings",
};

// Actions whose feature is not built yet; this list shrinks as they land.
const std::set<std::string> kNotBuilt = {};

// Clicks of the window's controls and menu entries (Exit is the window's own).
const std::set<std::string> kCommands = {
    "cmdDownloadOrders", "Label1",    "mnuAuthorizeeBayID", "mnuDownloadDaysofOrders", "mnuOptions",
    "mnuVisitWebsite",   "mnuReport", "mnuOnlineHelp",      "mnuRestoreBackup",        "mnuAbout"};
const std::set<std::string> kTimers = {"tmrWaitingForDazzle", "tmrWaitingForWorldShip"};
const std::set<std::string> kTimersNotBuilt = {};

// Pages filled when they have loaded.
const std::set<std::string> kFilledPages = {
    std::string(ui::kPrintPostagePage), std::string(ui::kPrintPostageWorldShipPage),
    std::string(ui::kComposeEmailPage), std::string(ui::kSettingsPage),
    std::string(ui::kMainPage),         std::string(ui::kPaypalRefundPage),
    std::string(ui::kEbayRefundPage)};
const std::set<std::string> kPagesNotBuilt = {};

struct FeaturesTest : ::testing::Test {
    void SetUp() override
    {
        // Nothing listens on port 1: eBay calls fail at once.
        Config c;
        c.set("ebay/ApiUrl", "http://127.0.0.1:1/ws/api.dll");
        setConfig(c);
        session.openStore(dir.path());
        app::composeFeatures(session, shell, table);
    }
    void TearDown() override { setConfig(Config()); }
    test::TempDir dir;
    Session session;
    test::FakeShell shell;
    FeatureTable table;
};

// A composed program on the main page with one active and one archived
// order, tagged rows, a note and feedback: enough for every action to do
// something a seller could see.
struct World {
    test::TempDir dir;
    Session session;
    test::FakeShell shell;
    FeatureTable table;

    World()
    {
        session.openStore(dir.path());
        auto order = [](const char *item, const char *txn) {
            return std::string("<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>") + item +
                   "</ItemID><Title>Lamp</Title></Item><TransactionID>" + txn +
                   "</TransactionID><Buyer><UserID>bob</UserID><Email>bob@example.com</Email></Buyer>"
                   "<PaidTime>2026-03-01T10:00:00.000Z</PaidTime></Transaction>";
        };
        session.store.transactions() = xml::Document::parse("<Transactions>" + order("I 1", "T1") + "</Transactions>");
        session.store.archived() = xml::Document::parse("<Transactions>" + order("A1", "T2") + "</Transactions>");
        session.store.doc(store::Doc::Notes) = xml::Document::parse(
            "<Notes><Note><TransactionID>T1</TransactionID><ItemID>I 1</ItemID><Text>old</Text></Note></Notes>");
        session.store.doc(store::Doc::Feedback) = xml::Document::parse(
            "<Feedbacks><FeedbackDetail><ItemID>I 1</ItemID><TransactionID>T1</TransactionID></FeedbackDetail>"
            "</Feedbacks>");
        app::composeFeatures(session, shell, table);

        test::FakePage &page = shell.fake;
        page.add("TABLE", "TransactionsTable");
        const int row = page.add("TR", ""), note = page.add("DIV", ""), input = page.add("INPUT", "", "note");
        page.el(input).props["value"] = "new";
        page.onQuery = [=](int, std::string_view selector) {
            if (selector.rfind("tr[", 0) == 0) return std::vector<int>{row};
            if (selector == ".note") return std::vector<int>{note};
            if (selector.find("input[name=\"note\"]") != std::string_view::npos) return std::vector<int>{input};
            return std::vector<int>{};
        };
        page.onValues = [](std::string_view selector) {
            if (selector.find("tagged") == std::string_view::npos) return std::vector<std::vector<std::string>>{};
            return std::vector<std::vector<std::string>>{{"true", "I 1", "T1", "", "e1"},
                                                         {"true", "A1", "T2", "", "e2"}};
        };
    }

    // Everything an action can change, as one text.
    std::string state()
    {
        std::string out;
        for (size_t n : {shell.statuses.size(), shell.overlays.size(), size_t(shell.hides), shell.boxes.size(),
                         shell.enabled.size(), shell.navigations.size(), shell.external.size(), shell.posted.size(),
                         size_t(shell.fake.writes)})
            out += std::to_string(n) + ",";
        for (const auto &[name, on] : shell.timers)
            out += name + (on ? "+" : "-");
        for (int d = 0; d < store::kDocCount; ++d)
            out += session.store.doc(store::Doc(d)).toString();
        return out + session.currentView + (session.orderSelection ? session.orderSelection.toString() : "");
    }
};

TEST_F(FeaturesTest, EveryActionIsRegisteredOrListedAsNotBuiltAndDoesSomething)
{
    ASSERT_EQ(kActions.size(), 33u);
    std::vector<std::string> registered = table.actionNames();
    for (const std::string &name : registered)
        EXPECT_TRUE(kActions.count(name)) << "registered but not a command-link action: " << name;
    for (const std::string &name : kActions) {
        bool isRegistered = std::find(registered.begin(), registered.end(), name) != registered.end();
        EXPECT_NE(isRegistered, kNotBuilt.count(name) == 1)
            << name << (isRegistered ? " is built: take it off the not-built list" : " is wired to nothing");
    }
    for (const std::string &name : kNotBuilt)
        EXPECT_TRUE(kActions.count(name)) << name;

    // Each built action, run once as its link would run it, leaves a trace:
    // one registered as a no-op does not pass for built.
    const std::map<std::string, Params> withParams = {
        {"DisplayPaypalRefundForm", {{"TransactionID", "T1"}, {"ItemID", "I 1"}, {"Amount", "1.00"}}},
        {"DisplayEbayRefundForm", {{"TransactionID", "T1"}, {"ItemID", "I 1"}, {"Amount", "1.00"}}},
        {"ArchiveTransaction", {{"itemID", "I 1"}, {"transactionID", "T1"}}},
        {"RestoreTransaction", {{"itemID", "A1"}, {"transactionID", "T2"}}},
        {"AddNoteClick", {{"TransactionID", "T1"}, {"ItemID", "I 1"}}},
        {"SaveNoteClick", {{"TransactionID", "T1"}, {"ItemID", "I 1"}}},
        {"DeleteNoteClick", {{"TransactionID", "T1"}, {"ItemID", "I 1"}}},
        {"SaveSettings", {{"Button", "Cancel"}}},
    };
    for (const std::string &name : kActions) {
        if (kNotBuilt.count(name)) continue;
        World world;
        Params params = withParams.count(name) ? withParams.at(name) : Params{};
        params["Action"] = name;
        const std::string before = world.state();
        EXPECT_TRUE(world.table.runAction(params)) << name;
        world.shell.runPosted();
        EXPECT_NE(world.state(), before) << name << " did nothing";
    }
}

TEST_F(FeaturesTest, EveryControlTimerAndFilledPageHasItsHandler)
{
    std::vector<std::string> commands = table.commandNames();
    EXPECT_EQ(std::set<std::string>(commands.begin(), commands.end()), kCommands);

    std::vector<std::string> timers = table.timerNames();
    std::set<std::string> expectedTimers;
    std::set_difference(kTimers.begin(), kTimers.end(), kTimersNotBuilt.begin(), kTimersNotBuilt.end(),
                        std::inserter(expectedTimers, expectedTimers.end()));
    EXPECT_EQ(std::set<std::string>(timers.begin(), timers.end()), expectedTimers);

    std::set<std::string> filled;
    for (const auto &[path, fill] : table.pageFills())
        filled.insert(path);
    for (const std::string &page : kFilledPages)
        EXPECT_NE(filled.count(page) == 1, kPagesNotBuilt.count(page) == 1) << page;
    for (const std::string &page : filled)
        EXPECT_TRUE(kFilledPages.count(page)) << page;
}

TEST_F(FeaturesTest, AnUnregisteredNameDoesNothing)
{
    EXPECT_FALSE(table.runAction({{"Action", "NoSuchAction"}}));
    EXPECT_FALSE(table.runAction({{"action", "CancelMessage"}}));
    EXPECT_FALSE(table.click("mnuNoSuchEntry"));
    EXPECT_FALSE(table.tick("tmrNoSuchTimer"));
    EXPECT_TRUE(shell.navigations.empty());
    EXPECT_TRUE(shell.statuses.empty());
    EXPECT_TRUE(shell.posted.empty());
}

TEST_F(FeaturesTest, ANameRegisteredTwiceIsRefused)
{
    EXPECT_THROW(table.addAction("CancelMessage", [](const Params &) {}), std::logic_error);
    EXPECT_THROW(table.addCommand("mnuOptions", [] {}), std::logic_error);
    EXPECT_THROW(table.setRedraw([] {}), std::logic_error);
}

TEST_F(FeaturesTest, MenuEntriesOpenTheirPages)
{
    table.click("mnuOptions");
    table.click("mnuOnlineHelp");
    table.click("Label1");
    table.click("mnuVisitWebsite");
    ASSERT_EQ(shell.navigations.size(), 3u);
    EXPECT_EQ(shell.navigations[0].first, pages::url(ui::kSettingsPage));
    EXPECT_EQ(shell.navigations[1].first, pages::url(ui::kHelpPage));
    EXPECT_EQ(shell.navigations[2].first, pages::url(ui::kMainPage));
    EXPECT_EQ(shell.external, std::vector<std::string>{config().get("web/ProductSite")});
}

TEST_F(FeaturesTest, CancelLinksOnOtherPagesBringTheViewBack)
{
    ui::Browser browser(session, shell, table);
    session.mainPageInitialised = true;
    for (auto [action, page] : {std::pair{"CancelMessage", ui::kComposeEmailPage},
                                {"CancelPrintPostage", ui::kPrintPostagePage},
                                {"CancelPaypalRefund", ui::kPaypalRefundPage}}) {
        shell.newDocument(pages::url(page));
        shell.navigations.clear();
        shell.overlays.clear();
        shell.startTimer("tmrWaitingForDazzle");
        EXPECT_TRUE(
            browser.WebBrowser1_BeforeNavigate2(std::string("http://plinthway/?Action=") + action, shell.fake.address));
        shell.runPosted();
        ASSERT_EQ(shell.navigations.size(), 1u) << action;
        EXPECT_EQ(shell.navigations[0].first, pages::url(ui::kMainPage)) << action;
        if (std::string(action) == "CancelPrintPostage") {
            EXPECT_FALSE(shell.timers["tmrWaitingForDazzle"]);
        }

        // The main page arrives and is drawn.
        shell.newDocument(pages::url(ui::kMainPage));
        shell.fake.add("TABLE", "TransactionsTable");
        browser.WebBrowser1_DocumentComplete(pages::url(ui::kMainPage));
        ASSERT_FALSE(shell.overlays.empty()) << action;
        EXPECT_EQ(shell.overlays.front(), "Rendering") << action;
        EXPECT_FALSE(shell.processingShown()) << action;
    }
}

} // namespace

namespace {

// One operation at a time: while work holds the window, nothing the seller
// starts runs inside it, but the program's own loads and the work's own
// cancel and timer do.
TEST_F(FeaturesTest, WhileTheWindowIsBusyOnlyTheWorksOwnCancelAndTimerRun)
{
    ui::Browser browser(session, shell, table);
    session.mainPageInitialised = true;
    shell.newDocument(pages::url(ui::kMainPage));
    const std::string ownPage = shell.fake.address;
    Busy &busy = table.busy();

    // A link is taken: the window is busy at once, before its action's first
    // page call, so a second click before it runs is refused.
    ASSERT_TRUE(browser.WebBrowser1_BeforeNavigate2("http://plinthway/?Action=CancelMessage", ownPage));
    EXPECT_TRUE(busy.busy());
    EXPECT_TRUE(browser.WebBrowser1_BeforeNavigate2("http://plinthway/?Action=DisplayArchived", ownPage));
    EXPECT_FALSE(table.click("mnuOptions"));
    shell.runPosted();
    EXPECT_FALSE(busy.busy());
    EXPECT_NE(session.currentView, "Archived");
    EXPECT_TRUE(shell.navigations.empty());

    struct Case {
        std::string cancel, timer, link, from;
        bool linkRuns;
    };
    const Case cases[] = {
        {"", "", "http://plinthway/?Action=TagAll", ownPage, false},
        {"CancelPrintPostage", "tmrWaitingForDazzle", "http://plinthway/?Action=CancelPrintPostage", ownPage, true},
        // A cancel named by another page's document is still not ours to obey.
        {"CancelPrintPostage", "tmrWaitingForDazzle", "http://plinthway/?Action=CancelPrintPostage",
         "https://evil.example/", false},
        {"CancelPrintPostage", "", "http://plinthway/?Action=ArchiveAll", ownPage, false},
        {"", "", "https://www.ebay.com/some/page", ownPage, false},
    };
    for (const Case &c : cases) {
        Busy::Token work = busy.hold(Busy::Options::wait(c.cancel, c.timer));
        int changes = 0;
        busy.whenIdle([&changes] { ++changes; });
        shell.startTimer("tmrWaitingForDazzle");
        EXPECT_EQ(busy.allowsAction("CancelPrintPostage"), c.cancel == "CancelPrintPostage") << c.link;
        // Cancelled navigations all; a plain web address only because the window is busy.
        EXPECT_TRUE(browser.WebBrowser1_BeforeNavigate2(c.link, c.from)) << c.link;
        shell.runPosted();
        EXPECT_EQ(!shell.timers["tmrWaitingForDazzle"], c.linkRuns) << c.link;
        // The program's own loads are not the seller's clicks.
        EXPECT_FALSE(browser.WebBrowser1_BeforeNavigate2(pages::url(ui::kMainPage), ""));
        EXPECT_FALSE(table.click("mnuOptions")) << c.link;
        EXPECT_EQ(table.tick("tmrWaitingForDazzle"), c.timer == "tmrWaitingForDazzle") << c.link;
        EXPECT_FALSE(table.tick("tmrWaitingForWorldShip"));
        EXPECT_EQ(changes, 0) << "a change event ran inside the work";
        work.reset();
        shell.runPosted();
        EXPECT_EQ(changes, 1) << c.link;
        EXPECT_FALSE(busy.busy());
    }

    // Closing while a refund waits asks; closing anyway runs the hold's clean-up.
    bool cleaned = false;
    {
        Busy::Token refund = busy.hold(
            Busy::Options::askBeforeClose("A refund is on its way. Close anyway?", [&cleaned] { cleaned = true; }));
        std::vector<std::string> asked;
        EXPECT_FALSE(busy.mayClose([&asked](const std::string &q) {
            asked.push_back(q);
            return false;
        }));
        EXPECT_FALSE(cleaned);
        EXPECT_TRUE(busy.mayClose([](const std::string &) { return true; }));
        EXPECT_TRUE(cleaned);
        EXPECT_EQ(asked, std::vector<std::string>{"A refund is on its way. Close anyway?"});
    }
    EXPECT_TRUE(busy.mayClose([](const std::string &) { return false; }));

    // Idle again: a click runs, and holds the window while it does.
    bool busyInside = false;
    table.addCommand("testProbe", [&] { busyInside = busy.busy(); });
    EXPECT_TRUE(table.click("testProbe"));
    EXPECT_TRUE(busyInside);
    EXPECT_FALSE(busy.busy());
}

} // namespace
