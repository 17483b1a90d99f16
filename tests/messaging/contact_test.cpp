// Messages through eBay: which contact page gets filled, what goes into it,
// eBay's confirmation, and the program's contact page sending through the
// Trading API (against the in-process sandbox).

#include "ebay/clseBayAPI.h"
#include "messaging/contact.h"
#include "messaging/feature.h"
#include "orders/download.h"
#include "platform/clock.h"
#include "platform/config.h"
#include "sandbox/sandbox.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/support/fake_shell.h"
#include "tests/support/temp_dir.h"
#include "ui/browser.h"
#include "ui/served.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

const std::string kOrders =
    "<Transactions>"
    "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Buyer><UserID>bob</UserID></Buyer>"
    "<ShippingDetails><ShipmentTrackingNumber>9400111</ShipmentTrackingNumber></ShippingDetails>"
    "<Item><ItemID>111</ItemID><Title>Lamp &amp; shade</Title></Item><QuantityPurchased>1</QuantityPurchased>"
    "<TransactionID>1</TransactionID></Transaction>"
    "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Buyer><UserID>bob</UserID></Buyer>"
    "<Item><ItemID>222</ItemID><Title>Mug</Title></Item><QuantityPurchased>2</QuantityPurchased>"
    "<TransactionID>2</TransactionID></Transaction>"
    "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Buyer><UserID>ann</UserID></Buyer>"
    "<Item><ItemID>11'1</ItemID><Title>Vase</Title></Item><TransactionID>22</TransactionID></Transaction>"
    "</Transactions>";

struct ContactTest : ::testing::Test {
    void SetUp() override
    {
        setConfig(Config());
        session.openStore(dir.path());
        session.store.transactions() = xml::Document::parse(kOrders);
        messaging::registerFeature(session, shell, table);
        table.setRedraw([this] { ++redraws; });
        shell.fake.add("INPUT", "subject");
        shell.fake.add("TEXTAREA", "message");
    }
    static std::string contact(const std::string &query)
    {
        return config().get("ebay/ContactUrl") + "?ReturnUserEmail&requested=bob&redirect=0" + query;
    }
    static std::string ownPage() { return ui::Browser::pageUrl(ui::kMainPage); }
    // The page layer let a navigation through, then the page loaded.
    void navigate(const std::string &url, const std::string &from)
    {
        for (const auto &watch : table.navigationWatchers())
            watch(url, from);
    }
    void complete(const std::string &url)
    {
        shell.fake.address = url;
        for (const auto &watch : table.pageWatchers())
            watch(url);
    }
    void open(const std::string &url, const std::string &from = ownPage())
    {
        navigate(url, from);
        complete(url);
    }
    std::string subject() { return shell.fake.element("subject").value(); }
    std::string message() { return shell.fake.element("message").value(); }
    void clear()
    {
        shell.fake.element("subject").setValue("");
        shell.fake.element("message").setValue("");
    }

    test::TempDir dir;
    Session session;
    test::FakeShell shell;
    FeatureTable table;
    int redraws = 0;
};

TEST_F(ContactTest, OnlyTheContactPageTheProgramOpenedIsFilledAndOnlyOnce)
{
    settings::set(session.store.settings(), "InTransitMessage", "Hello {Buyer/UserID}");
    const std::string url = contact("&iid=111&TransactionID=1&ItemID=111&MessageID=InTransit");

    // Opened by eBay's own page, by a redirect, or typed nowhere: left alone.
    open(url, "http://contact.ebay.com/ws/eBayISAPI.dll?Other");
    open(url, "redirect:" + url);
    EXPECT_EQ(message(), "");

    // From a row of our main page: filled; the same page loaded again is not.
    open(url);
    EXPECT_EQ(message(), "Hello bob");
    clear();
    complete(url);
    EXPECT_EQ(message(), "");

    // eBay asks the seller to sign in first: the contact page after it is
    // still the one opened, and the browser shows it decoded.
    navigate(url, ownPage());
    complete("https://signin.ebay.com/ws/eBayISAPI.dll?SignIn");
    complete(contact("&iid=111&TransactionID=%31&ItemID=111&MessageID=InTransit"));
    EXPECT_EQ(message(), "Hello bob");

    // Back on our own page first: the page opened earlier is forgotten.
    clear();
    navigate(url, ownPage());
    complete(ownPage());
    complete(url);
    EXPECT_EQ(message(), "");

    // Another contact address than the one opened is not filled.
    navigate(url, ownPage());
    complete(contact("&iid=222&TransactionID=2&ItemID=222&MessageID=InTransit"));
    EXPECT_EQ(message(), "");
}

TEST_F(ContactTest, AnAddressThatMerelyHoldsThePathIsNotFilled)
{
    auto &f = shell.fake;
    f.add("SPAN", "BuyerID");
    f.add("INPUT", "ItemID");
    const std::string own = ui::Browser::pageUrl(ui::kContactBuyerPage);
    for (const std::string &url :
         {"http://evil.example" + std::string(ui::kContactBuyerPage) + "?ItemID=111&TransactionID=1",
          "http://evil.example/?next=" + own + "?ItemID=111&TransactionID=1",
          config().get("ebay/ContactUrl") + "?x=/korva/contactbuyer.html?ItemID=111&TransactionID=1",
          std::string("http://evil.example/eBayISAPI.dll?ReturnUserEmail&requested=bob&iid=111&TransactionID=1"
                      "&ItemID=111&MessageID=Shipped")}) {
        open(url);
        EXPECT_EQ(f.element("BuyerID").innerText(), "") << url;
        EXPECT_EQ(message(), "") << url;
        EXPECT_EQ(subject(), "") << url;
    }
    // Our contact page with the ids twice over is not ours to read either.
    open(own + "?ItemID=111&TransactionID=1&x=" + own + "?ItemID=222&TransactionID=2");
    EXPECT_EQ(f.element("BuyerID").innerText(), "");
    // eBay's address with "eBayISAPI.dll?" twice is left unfilled.
    open(contact("&iid=111&TransactionID=1&ItemID=111&MessageID=Shipped&u=eBayISAPI.dll?x"));
    EXPECT_EQ(subject(), "");

    open(own + "?ItemID=111&TransactionID=1");
    EXPECT_EQ(f.element("BuyerID").innerText(), "bob");
    EXPECT_EQ(f.element("ItemID").value(), "111");
}

TEST_F(ContactTest, ShippedUsesTheDefaultsAndListsTheOrdersOfTheSelection)
{
    const std::string url = contact("&iid=111&TransactionID=1&ItemID=111&MessageID=Shipped");
    // Missing or empty templates: the built-in texts.
    settings::set(session.store.settings(), "ShippedMessageSubject", "");
    open(url);
    EXPECT_EQ(subject(), "Your order has been shipped");
    EXPECT_EQ(message(), "I just wanted to let you know we shipped your order.\r\n\r\n"
                         "Carrier: Unknown Carrier\r\n"
                         "Tracking Number: 9400111\r\n\r\n"
                         "1 x Lamp & shade (111)\r\n\r\n"
                         "Thank you again for your purchase!");

    // After postage the selection holds both orders of the label; the number
    // stored since then is the one that goes out.
    session.selectOrders(session.store.transactions(),
                         session.store.transactions().selectAll("Transactions/Transaction[Buyer/UserID='bob']"));
    SetChildText(session.store.transactions(), "Transactions/Transaction[TransactionID='1']/ShippingDetails",
                 "ShipmentTrackingNumber", "9400222");
    settings::set(session.store.settings(), "ShippedMessageSubject", "{Item/Title} is on its way");
    settings::set(session.store.settings(), "ShippedMessage",
                  "{ShippingDetails/ShipmentTrackingNumber}\n"
                  "{Tagged/TransactionList}");
    clear();
    open(url);
    EXPECT_EQ(subject(), "Lamp & shade is on its way");
    EXPECT_EQ(message(), "9400222\n1 x Lamp & shade (111)\r\n2 x Mug (222)");
    EXPECT_EQ(GetNodeText(session.orderSelection, "Transactions/Transaction[TransactionID='1']/"
                                                  "ShippingDetails/ShipmentTrackingNumber"),
              "9400222");
}

TEST_F(ContactTest, OtherMessagesComeFromTheirSettingOrTheHint)
{
    settings::set(session.store.settings(), "DeliveredNeedsFollowUpMessage", "Did the {Item/Title} arrive?");
    settings::set(session.store.settings(), "InTransitMessage", "");
    session.currentView = "DeliveredNeedsFollowUp";

    open(contact("&iid=11%271&TransactionID=22&ItemID=11%271&MessageID=DeliveredNeedsFollowUp"));
    EXPECT_EQ(message(), "Did the Vase arrive?");
    EXPECT_EQ(subject(), "");

    // A row's link names no message: the message of the view it is drawn in.
    clear();
    open(contact("&iid=111&TransactionID=1&ItemID=111"));
    EXPECT_EQ(message(), "Did the Lamp & shade arrive?");

    for (const char *name : {"InTransit", "NoSuchView", "x']|//*[('", ""}) {
        clear();
        session.currentView = "";
        open(contact("&iid=111&TransactionID=1&ItemID=111&MessageID=" + std::string(name)));
        EXPECT_EQ(message(), "This standard message can be customized by clicking Tools Options.") << name;
    }
}

// ---- with the sandbox ----------------------------------------------------

struct ContactSandboxTest : ContactTest {
    void SetUp() override
    {
        ASSERT_TRUE(sb.start());
        ContactTest::SetUp();
        Config c = sb.config();
        c.set("net/TimeoutSeconds", "10");
        setConfig(c);
        settings::write(session.store, "eBayAuthToken", sandbox::kDemoToken);
        // What the first main page measures: eBay's clock against ours.
        session.eBayClockOffset = tw::clock().localNow().daysTo(sb.ebayNow());
    }
    void TearDown() override { setConfig(Config()); }
    const sandbox::Order &anOrder() const { return sb.state().orders.front(); }
    std::string buyerOf(const sandbox::Order &o) const { return sb.state().buyers[size_t(o.buyer)].userId; }
    sandbox::Sandbox sb;
};

TEST_F(ContactSandboxTest, TheConfirmationRefreshesTheSentMessagesAndRedraws)
{
    const std::string contactUrl = config().get("ebay/ContactUrl");
    const sandbox::Order &o = anOrder();
    sb.state().addSentMessage({"", o.itemId, buyerOf(o), "Sent on eBay's page", "On its way", sb.ebayNow()});

    // Another page of eBay's, or the confirmation address without the words: nothing.
    shell.fake.body().setInnerHTML("<p>Please enter a message.</p>");
    complete(contactUrl);
    shell.fake.body().setInnerHTML("<p>Your question has been sent to x.</p>");
    complete(contactUrl + "?ReturnUserEmail&requested=x");
    EXPECT_TRUE(sb.requests("GetMyMessages").empty());
    EXPECT_EQ(redraws, 0);

    // The confirmation, its path in capitals.
    std::string upper = contactUrl;
    upper.replace(upper.find("/ws/eBayISAPI.dll"), 17, "/WS/EBAYISAPI.DLL");
    complete(upper);
    EXPECT_EQ(shell.fake.body().innerHTML().rfind("Message Sent. <br><br>Please wait while we update Tidewell...", 0),
              0u);
    EXPECT_FALSE(sb.requests("GetMyMessages").empty());
    EXPECT_EQ(GetNodeText(session.store.doc(store::Doc::SentMessages), "Messages/Message[Subject=$s]/ItemID", "",
                          {{"s", "Sent on eBay's page"}}),
              o.itemId);
    EXPECT_EQ(redraws, 1);
    EXPECT_FALSE(shell.processingShown());
}

TEST_F(ContactSandboxTest, SendMessageSendsThePageThroughEbay)
{
    const sandbox::Order &o = anOrder();
    const std::string buyer = buyerOf(o);
    auto &f = shell.fake;
    f.add("SPAN", "BuyerID");
    f.add("INPUT", "ItemID");
    f.add("INPUT", "Subject");
    f.add("TEXTAREA", "Message");
    const int cc = f.add("INPUT", "cc");
    f.element("BuyerID").setInnerText(" " + buyer + " ");
    f.element("ItemID").setValue(o.itemId);
    f.element("Subject").setValue("re: <b>&amp;</b>");
    f.element("Message").setValue("Thanks & <more>\n</MemberMessage><Body>x");
    f.el(cc).props["checked"] = "true";
    const size_t before = sb.state().sentMessages.size();

    ASSERT_TRUE(table.runAction({{"Action", "SendMessage"}}));
    ASSERT_EQ(sb.requests("AddMemberMessageAAQToPartner").size(), 1u);
    const std::string request = sb.requests("AddMemberMessageAAQToPartner")[0].body;
    xml::Document sent = xml::Document::parse(request);
    ASSERT_TRUE(sent) << request;
    const std::string r = "AddMemberMessageAAQToPartnerRequest/";
    EXPECT_EQ(GetNodeText(sent, r + "ItemID"), o.itemId);
    EXPECT_EQ(GetNodeText(sent, r + "MemberMessage/RecipientID"), buyer);
    EXPECT_EQ(GetNodeText(sent, r + "MemberMessage/Subject"), "re: <b>&amp;</b>");
    EXPECT_EQ(GetNodeText(sent, r + "MemberMessage/Body"), "Thanks & <more>\n</MemberMessage><Body>x");
    EXPECT_EQ(GetNodeText(sent, r + "MemberMessage/QuestionType"), "Shipping");
    EXPECT_EQ(GetNodeText(sent, r + "MemberMessage/EmailCopyToSender"), "true");
    EXPECT_EQ(sent.selectAll("//Body").size(), 1u);
    EXPECT_EQ(sb.requests("AddMemberMessageAAQToPartner")[0].headers.at("x-ebay-api-compatibility-level"), "557");

    ASSERT_EQ(sb.state().sentMessages.size(), before + 1);
    EXPECT_EQ(shell.statuses.front(), "Sending message...");
    EXPECT_EQ(shell.lastStatus(), "Message sent to " + buyer + ".");
    // Downloaded at once, so the order's row shows it.
    EXPECT_EQ(GetNodeText(session.store.doc(store::Doc::SentMessages), "Messages/Message[Subject=$s]/SendToName", "",
                          {{"s", "re: <b>&amp;</b>"}}),
              buyer);
    // The page offers no second send.
    EXPECT_EQ(f.body().innerHTML().find("Action=SendMessage"), std::string::npos);
    EXPECT_NE(f.body().innerHTML().find("Action=CancelMessage"), std::string::npos);
}

TEST_F(ContactSandboxTest, SendMessageShowsWhyEbayRefusedAndSendsNothingWithoutAnOrder)
{
    auto &f = shell.fake;
    f.add("SPAN", "BuyerID");
    f.add("INPUT", "ItemID");
    f.add("TEXTAREA", "Message");
    f.element("Message").setValue("Hello");
    const size_t before = sb.state().sentMessages.size();

    table.runAction({{"Action", "SendMessage"}});
    EXPECT_TRUE(sb.requests("AddMemberMessageAAQToPartner").empty());
    EXPECT_EQ(shell.lastStatus(), "Error: this page names no order. Open it again from the order.");

    f.element("BuyerID").setInnerText("not_a_buyer");
    f.element("ItemID").setValue(anOrder().itemId);
    table.runAction({{"Action", "SendMessage"}});
    EXPECT_EQ(shell.lastStatus(), "Error: The recipient has no transaction for this item.");
    EXPECT_EQ(sb.state().sentMessages.size(), before);
    EXPECT_TRUE(sb.requests("GetMyMessages").empty());

    // eBay's front answers with an error page instead: not sent.
    sb.injectFault({.call = "AddMemberMessageAAQToPartner", .kind = sandbox::FaultKind::Http500});
    f.element("BuyerID").setInnerText(buyerOf(anOrder()));
    table.runAction({{"Action", "SendMessage"}});
    EXPECT_EQ(shell.lastStatus(), "Error: eBay did not take the message.");
    EXPECT_EQ(sb.state().sentMessages.size(), before);

    // An answer that cannot be read: eBay may have sent it, and the seller is told so.
    sb.injectFault({.call = "AddMemberMessageAAQToPartner", .kind = sandbox::FaultKind::MalformedXml});
    table.runAction({{"Action", "SendMessage"}});
    EXPECT_EQ(shell.lastStatus(), "Error: no answer from eBay, so the message may not have been sent. Look at your "
                                  "sent messages on eBay before sending it again.");
    EXPECT_TRUE(sb.requests("GetMyMessages").empty());
    EXPECT_EQ(f.body().innerHTML().find("Message sent"), std::string::npos);
}

} // namespace
