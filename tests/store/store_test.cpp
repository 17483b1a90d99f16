#include "platform/config.h"
#include "store/backup.h"
#include "store/order_index.h"
#include "store/session.h"
#include "store/settings.h"
#include "store/store.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

using tw::store::Doc;
using tw::store::Store;
using tw::test::readFile;
using tw::test::TempDir;
using tw::test::writeFile;

namespace {

std::set<std::string> filesIn(const std::filesystem::path &dir)
{
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

} // namespace

TEST(Store, FirstStartCreatesTheTenFilesFromTheirTemplates)
{
    TempDir dir;
    Store store;
    EXPECT_TRUE(store.open(dir.path()).empty());
    EXPECT_EQ(filesIn(dir.path()),
              (std::set<std::string>{"ShippingLabels.xml", "Transactions.xml", "ArchivedTransactions.xml",
                                     "TrackingNumbers.xml", "Notes.xml", "Messages.xml", "Items.xml",
                                     "SentMessages.xml", "Feeback.xml", "Settings.xml"}));
    for (int k = 0; k < tw::store::kDocCount; ++k) {
        Doc d = Doc(k);
        EXPECT_EQ(readFile(store.path(d)), tw::store::info(d).emptyTemplate) << tw::store::info(d).file;
        EXPECT_EQ(store.doc(d).root().name(), tw::store::info(d).root);
        // Settings.xml holds the eBay token and the PayPal credentials.
        EXPECT_EQ(std::filesystem::status(store.path(d)).permissions() & std::filesystem::perms::mask,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    EXPECT_EQ(readFile(dir / "ArchivedTransactions.xml"), "<?xml version=\"1.0\" encoding=\"utf-8\"?><Transactions/>");
    EXPECT_EQ(store.settings().select("Settings/GetSellerTransactionsMaxDays").text(), "28");
}

TEST(Store, ExistingFilesLoadUnchangedAndAreNotRewritten)
{
    TempDir dir;
    const std::string orders = "<?xml version=\"1.0\"?>\n<Transactions>\n  <Transaction "
                               "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><TransactionID>1</TransactionID>"
                               "</Transaction>\n</Transactions>\n";
    writeFile(dir / "Transactions.xml", orders);
    auto before = std::filesystem::last_write_time(dir / "Transactions.xml");
    Store store;
    EXPECT_TRUE(store.open(dir.path()).empty());
    EXPECT_EQ(readFile(dir / "Transactions.xml"), orders);
    EXPECT_EQ(std::filesystem::last_write_time(dir / "Transactions.xml"), before);
    EXPECT_EQ(store.transactions().select("Transactions/Transaction/TransactionID").text(), "1");
}

TEST(Store, LeftoversOfInterruptedSavesAreRemovedAndNothingElse)
{
    TempDir dir;
    writeFile(dir / "Transactions.xml.saving-a1B2c3", "<Transactions><Trans");
    writeFile(dir / "Notes.xml.saving-zzzzzz", "");
    writeFile(dir / "Notes.xml.saving-keep", "not ours");
    writeFile(dir / "MyNotes.txt", "the seller's own file");
    Store store;
    EXPECT_TRUE(store.open(dir.path()).empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "Transactions.xml.saving-a1B2c3"));
    EXPECT_FALSE(std::filesystem::exists(dir / "Notes.xml.saving-zzzzzz"));
    EXPECT_TRUE(std::filesystem::exists(dir / "Notes.xml.saving-keep"));
    EXPECT_TRUE(std::filesystem::exists(dir / "MyNotes.txt"));
}

TEST(Store, MalformedFileIsKeptAsideReportedAndStartsEmpty)
{
    TempDir dir;
    tw::test::MockClock clock(tw::DateTime::fromParts(2026, 12, 8, 14, 25, 1));
    const std::string broken = "<?xml version=\"1.0\"?><Transactions><Transaction>half";
    writeFile(dir / "Transactions.xml", broken);
    writeFile(dir / "Transactions.unreadable-20261208-142501.xml", "an earlier copy");
    Store store;
    auto problems = store.open(dir.path());
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("Transactions.xml could not be read"), std::string::npos) << problems[0];
    EXPECT_NE(problems[0].find("Transactions.unreadable-20261208-142501-2.xml"), std::string::npos) << problems[0];
    EXPECT_EQ(readFile(dir / "Transactions.unreadable-20261208-142501-2.xml"), broken);
    EXPECT_EQ(readFile(dir / "Transactions.unreadable-20261208-142501.xml"), "an earlier copy");
    EXPECT_EQ(readFile(dir / "Transactions.xml"), tw::store::info(Doc::Transactions).emptyTemplate);
    EXPECT_TRUE(store.transactions().root());

    // A second start finds a good file and reports nothing.
    Store again;
    EXPECT_TRUE(again.open(dir.path()).empty());
}

TEST(Store, AFileWithAnotherRootIsKeptAsideLikeAnUnreadableOne)
{
    TempDir dir;
    tw::test::MockClock clock(tw::DateTime::fromParts(2026, 12, 8, 14, 25, 1));
    const std::string foreign = "<?xml version=\"1.0\"?><Foo><eBayAuthToken>T</eBayAuthToken></Foo>";
    writeFile(dir / "Settings.xml", foreign);
    tw::Session session;
    auto problems = session.openStore(dir.path());
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("Settings.xml could not be read (its root element is Foo, not Settings)"),
              std::string::npos)
        << problems[0];
    EXPECT_EQ(readFile(dir / "Settings.unreadable-20261208-142501.xml"), foreign);

    // Settings work again and reach the file.
    EXPECT_TRUE(tw::settings::write(session.store, "SMTPServer", "mail.example.com"));
    tw::xml::Document onDisk = tw::xml::Document::load(dir / "Settings.xml");
    EXPECT_EQ(onDisk.root().name(), "Settings");
    EXPECT_EQ(onDisk.select("Settings/SMTPServer").text(), "mail.example.com");
    EXPECT_EQ(onDisk.select("Settings/GetSellerTransactionsMaxDays").text(), "28");

    // A write that cannot land is not reported as saved.
    tw::xml::Document detached = tw::xml::Document::parse("<Foo/>");
    EXPECT_FALSE(tw::settings::set(detached, "SMTPServer", "x"));
    session.store.settings() = std::move(detached);
    EXPECT_FALSE(tw::settings::write(session.store, "SMTPServer", "x"));
}

TEST(Store, SavesWriteWholeDocumentsAndReportFailures)
{
    TempDir dir;
    Store store;
    store.open(dir.path());
    store.transactions().root().appendElement("Transaction").appendElement("TransactionID", "5");
    store.trackingNumbers().root().appendElement("TrackingNumber").setAttribute("ID", "9101");
    EXPECT_TRUE(store.SaveData());
    Store reread;
    reread.open(dir.path());
    EXPECT_EQ(reread.transactions().select("Transactions/Transaction/TransactionID").text(), "5");
    EXPECT_EQ(reread.trackingNumbers().select("TrackingNumbers/TrackingNumber/@ID").text(), "9101");

    std::string told;
    store.setSaveErrorHandler([&](const std::string &m) { told = m; });
    std::filesystem::remove_all(dir.path());
    EXPECT_FALSE(store.save(Doc::Notes));
    EXPECT_NE(told.find("Notes.xml could not be saved"), std::string::npos);
}

TEST(Store, FilesWithSecretsAreOwnerOnlyAfterEverySaveOthersKeepTheirMode)
{
    using std::filesystem::perms;
    const perms shared = perms::owner_read | perms::owner_write | perms::group_read | perms::others_read;
    const perms ownerOnly = perms::owner_read | perms::owner_write;
    TempDir dir;
    tw::Session session;
    session.openStore(dir.path());
    ASSERT_TRUE(tw::store::makeDailyBackup(dir.path()).made);
    auto restore = [&] {
        for (const tw::store::Backup &b : tw::store::listBackups(dir.path()))
            if (!b.beforeRestore) return tw::store::restoreBackup(session, b).restored;
        return false;
    };
    tw::Config withPassword, without;
    withPassword.set("paypal/ClientCertificatePassword", "p12-secret");
    writeFile(dir / "tidewell.ini", "");

    // Each file arrives readable by all (copied in from elsewhere, say).
    const struct {
        const char *what, *file;
        std::function<bool()> save;
        perms after;
    } cases[] = {
        {"a setting saved", "Settings.xml", [&] { return tw::settings::write(session.store, "eBayID", "me"); },
         ownerOnly},
        {"a note saved", "Notes.xml", [&] { return session.store.save(Doc::Notes); }, shared},
        {"a backup restored", "Settings.xml", restore, ownerOnly},
        {"a backup restored", "Notes.xml", restore, shared},
        {"the certificate's password", "tidewell.ini", [&] { return withPassword.save(dir / "tidewell.ini"); },
         ownerOnly},
        {"no password", "tidewell.ini", [&] { return without.save(dir / "tidewell.ini"); }, shared},
    };
    for (const auto &c : cases) {
        std::filesystem::permissions(dir / c.file, shared);
        ASSERT_TRUE(c.save()) << c.what;
        EXPECT_EQ(std::filesystem::status(dir / c.file).permissions() & perms::mask, c.after)
            << c.what << ": " << c.file;
    }
}

TEST(Settings, StartUpUpgradesOlderFiles)
{
    TempDir dir;
    writeFile(dir / "Settings.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?><Settings><eBayID>me</eBayID>"
                                    "<DeliveredNeedsFollowUpMessage>old new</DeliveredNeedsFollowUpMessage>"
                                    "<DeliveredFollowUpMessage>Hello {Buyer/UserID}</DeliveredFollowUpMessage>"
                                    "<DefaultBrowser></DefaultBrowser><LastTab>InTransit</LastTab></Settings>");
    tw::Session session;
    EXPECT_TRUE(session.openStore(dir.path()).empty());
    EXPECT_EQ(session.currentView, "InTransit");
    auto &settings = session.store.settings();
    EXPECT_EQ(tw::settings::read(settings, "DeliveredNeedsFollowUpMessage"), "Hello {Buyer/UserID}");
    EXPECT_EQ(tw::settings::read(settings, "DefaultBrowser"), "True");

    tw::xml::Document onDisk = tw::xml::Document::load(dir / "Settings.xml");
    EXPECT_FALSE(onDisk.select("Settings/DeliveredFollowUpMessage"));
    EXPECT_EQ(onDisk.select("Settings/DeliveredNeedsFollowUpMessage").text(), "Hello {Buyer/UserID}");
    EXPECT_TRUE(onDisk.select("Settings/LastGetMemberMessages"));
    EXPECT_TRUE(onDisk.select("Settings/LastGetSentMessages"));
    // DefaultBrowser reaches the file only with the next save.
    EXPECT_EQ(onDisk.select("Settings/DefaultBrowser").text(), "");
    EXPECT_EQ(onDisk.select("Settings/eBayID").text(), "me");
}

TEST(Settings, ReadingAndWritingRules)
{
    TempDir dir;
    tw::Session session;
    session.openStore(dir.path());
    EXPECT_EQ(session.currentView, "DeliveredNeedsFollowUp");
    auto &settings = session.store.settings();
    using namespace tw::settings;

    // Defaults apply to missing elements only.
    EXPECT_EQ(read(settings, "SMTPPort"), "25");
    EXPECT_EQ(read(settings, "InsuredMail"), "OFF");
    EXPECT_EQ(read(settings, "DazzleLayout_INTLGXG"), "International Label Half Page.lyt");
    EXPECT_EQ(read(settings, "ShippedMessageSubject"), "Your order has been shipped");
    EXPECT_EQ(read(settings, "GetSellerTransactionsMaxDays"), "28");
    ASSERT_TRUE(write(session.store, "SMTPPort", ""));
    EXPECT_EQ(read(settings, "SMTPPort"), "");

    // A missing key is appended last; writing it again adds nothing.
    write(session.store, "PrivateMode", "true");
    write(session.store, "PrivateMode", "true");
    tw::xml::Document onDisk = tw::xml::Document::load(dir / "Settings.xml");
    EXPECT_EQ(onDisk.selectAll("Settings/PrivateMode").size(), 1u);
    EXPECT_EQ(onDisk.root().lastElement().name(), "PrivateMode");
    EXPECT_FALSE(readFlag(settings, "PrivateMode")); // only "True" is on
    write(session.store, "PrivateMode", "True");
    EXPECT_TRUE(readFlag(settings, "PrivateMode"));

    // "False" survives a restart; only an empty value turns into "True".
    write(session.store, "DefaultBrowser", "False");
    tw::Session restarted;
    restarted.openStore(dir.path());
    EXPECT_EQ(read(restarted.store.settings(), "DefaultBrowser"), "False");

    // Keys that are not element names read as their fallback and write nothing.
    EXPECT_EQ(read(settings, "a/../*", "x"), "x");
    set(settings, "bad key", "v");
    EXPECT_FALSE(settings.select("Settings/*[contains(.,'v') and local-name()='bad']"));
}

TEST(Orders, IndexAndQueryAgreeOnKeysWithQuotesAndNamespaces)
{
    tw::xml::Document doc = tw::xml::Document::parse(R"(<Transactions>
      <Transaction xmlns="urn:ebay:apis:eBLBaseComponents"><Item><ItemID>1'2</ItemID></Item><TransactionID>"0"</TransactionID></Transaction>
      <Transaction xmlns="urn:ebay:apis:eBLBaseComponents"><Item><ItemID>1</ItemID></Item><TransactionID>0</TransactionID></Transaction>
      <Transaction xmlns="urn:ebay:apis:eBLBaseComponents"><Item><ItemID>2</ItemID></Item><TransactionID>0</TransactionID></Transaction>
      <Transaction><Item><ItemID>3</ItemID></Item><TransactionID>0</TransactionID></Transaction>
    </Transactions>)");
    tw::store::OrderIndex index(doc.root());
    EXPECT_EQ(index.size(), 4u);
    // Same TransactionID, different items: two orders.
    for (auto [item, txn] :
         std::vector<std::pair<std::string, std::string>>{{"1'2", "\"0\""}, {"1", "0"}, {"2", "0"}, {"3", "0"}}) {
        tw::xml::Node viaIndex = index.find(item, txn);
        ASSERT_TRUE(viaIndex) << item;
        EXPECT_EQ(viaIndex, tw::store::findOrder(doc, item, txn)) << item;
    }
    EXPECT_FALSE(index.find("1", "1"));
    EXPECT_FALSE(tw::store::findOrder(doc, "1'2", "0"));
    // Keys cannot run into each other.
    EXPECT_FALSE(index.find("1'", "2\"0\""));

    tw::xml::Node two = index.find("2", "0");
    index.remove(two);
    two.remove();
    EXPECT_FALSE(index.find("2", "0"));
    tw::xml::Node added = doc.root().appendElement("Transaction");
    added.appendElement("Item").appendElement("ItemID", "2");
    added.appendElement("TransactionID", "0");
    index.add(added);
    EXPECT_EQ(index.find("2", "0"), added);
}

TEST(Session, TheOrderSelectionHoldsCopiesUnderTheSourcesRoot)
{
    tw::Session session;
    tw::xml::Document source = tw::xml::Document::parse(
        "<Transactions a=\"1\"><Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><TransactionID>1</TransactionID>"
        "</Transaction><Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><TransactionID>2</TransactionID>"
        "</Transaction></Transactions>");
    std::vector<tw::xml::Node> orders = source.selectAll("Transactions/Transaction");
    session.selectOrders(source, {orders[1], orders[0]});
    ASSERT_TRUE(session.orderSelection.root());
    EXPECT_EQ(session.orderSelection.root().name(), "Transactions");
    EXPECT_EQ(session.orderSelection.root().attribute("a"), "1");
    std::vector<tw::xml::Node> copies = session.orderSelection.selectAll("Transactions/Transaction/TransactionID");
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_EQ(copies[0].text(), "2");
    EXPECT_EQ(copies[1].text(), "1");
    // Copies: the store is untouched, and the next selection replaces this one.
    EXPECT_EQ(source.selectAll("Transactions/Transaction").size(), 2u);
    session.selectOrders(source, {orders[0]});
    EXPECT_EQ(session.orderSelection.selectAll("Transactions/Transaction").size(), 1u);
}
