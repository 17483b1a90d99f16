#include "messaging/feature.h"
#include "platform/config.h"
#include "store/settings.h"
#include "tests/support/fake_shell.h"
#include "tests/support/temp_dir.h"
#include "ui/browser.h"
#include "ui/served.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

struct ContactTest : ::testing::Test {
    void SetUp() override
    {
        setConfig(Config());
        session.openStore(dir.path());
        messaging::registerFeature(session, shell, table);
    }
    void complete(const std::string &url)
    {
        for (const auto &watch : table.pageWatchers())
            watch(url);
    }
    test::TempDir dir;
    Session session;
    test::FakeShell shell;
    FeatureTable table;
};

TEST_F(ContactTest, ContactBuyerPageIsFilledFromTheOrder)
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
        shell.fake.add(tag, id);
    const std::string page = ui::Browser::pageUrl(ui::kContactBuyerPage);

    // Another order's ids fill nothing.
    complete(page + "?ItemID=11'1&TransactionID=23");
    EXPECT_EQ(shell.fake.element("BuyerID").innerText(), "");

    complete(page + "?ItemID=11'1&TransactionID=22");
    auto &f = shell.fake;
    EXPECT_EQ(f.element("BuyerID").innerText(), "bob");
    EXPECT_EQ(f.element("Item").innerText(), "Lamp & shade(11'1)");
    EXPECT_EQ(f.element("Subject").value(), "re: Lamp & shade(11'1)");
    EXPECT_EQ(f.element("Message").value(), "Did it arrive?");
    EXPECT_EQ(f.element("ItemID").value(), "11'1");
    EXPECT_EQ(f.element("TransactionID").value(), "22");
}

TEST_F(ContactTest, CancelRedrawsTheView)
{
    int redraws = 0;
    table.setRedraw([&] { ++redraws; });
    EXPECT_TRUE(table.runAction({{"Action", "CancelMessage"}}));
    EXPECT_EQ(redraws, 1);
}

} // namespace
