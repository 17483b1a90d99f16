// Archive and restore when one of the two files cannot be saved: the move is
// taken back, the seller is told once, and every order stays in the file it
// was in.

#include "store/order_index.h"
#include "tests/support/fake_shell.h"
#include "tests/support/temp_dir.h"
#include "ui/tags.h"

#include <gtest/gtest.h>

#include <map>

using namespace tw;

namespace {

std::string order(const std::string &id, const std::string &title)
{
    return "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>" + id + "</ItemID><Title>" + title +
           "</Title></Item><TransactionID>0</TransactionID></Transaction>";
}

// The drawn view as the bulk read of the tag boxes finds it.
class RowsPage : public test::FakePage {
  public:
    std::vector<std::vector<std::string>> rows; // checked, ItemID, TransactionID, tracking, token
    std::vector<std::vector<std::string>> values(int, std::string_view selector,
                                                 const std::vector<std::string> &) override
    {
        return selector.find("input[name=\"tagged\"]") != std::string_view::npos
                   ? rows
                   : std::vector<std::vector<std::string>>{};
    }
};

class RowsShell : public test::FakeShell {
  public:
    RowsPage rowsPage;
    page::Page &page() override { return rowsPage; }
};

// ItemID -> title of every order in a file on disk.
std::map<std::string, std::string> onDisk(const std::filesystem::path &file)
{
    std::map<std::string, std::string> orders;
    xml::Document doc = xml::Document::load(file);
    for (xml::Node o : doc.selectAll("Transactions/Transaction"))
        orders[store::childText(o, "Item/ItemID")] += store::childText(o, "Item/Title");
    return orders;
}

TEST(Archive, AMoveWhoseSaveFailsIsTakenBackAndToldOnce)
{
    struct Move {
        const char *action;
        std::vector<std::string> shown; // ItemIDs of the drawn rows (all tagged)
        store::Doc to;
        int count;
    };
    const Move moves[] = {
        {"ArchiveTransaction", {}, store::Doc::ArchivedTransactions, 1},
        {"ArchiveAll", {"1", "2", "3"}, store::Doc::ArchivedTransactions, 3},
        {"ArchiveTagged", {"1", "3"}, store::Doc::ArchivedTransactions, 2},
        {"RestoreTransaction", {}, store::Doc::Transactions, 1},
        {"RestoreTagged", {"4", "5"}, store::Doc::Transactions, 2},
    };
    for (const Move &move : moves) {
        const store::Doc from =
            move.to == store::Doc::Transactions ? store::Doc::ArchivedTransactions : store::Doc::Transactions;
        for (const bool targetFails : {true, false}) {
            SCOPED_TRACE(std::string(move.action) + (targetFails ? ", the receiving file fails" : ", the other fails"));
            test::TempDir dir;
            Session session;
            ASSERT_TRUE(session.openStore(dir.path()).empty());
            RowsShell shell;
            FeatureTable table;
            int redraws = 0;
            table.setRedraw([&] { ++redraws; });
            ui::registerTags(session, shell, table);
            std::vector<std::string> told;
            session.store.setSaveErrorHandler([&](const std::string &m) { told.push_back(m); });

            // An old copy of order 1 in the archive too: the move replaces it.
            session.store.transactions() = xml::Document::parse("<Transactions>" + order("1", "a") + order("2", "b") +
                                                                order("3", "c") + "</Transactions>");
            session.store.archived() = xml::Document::parse("<Transactions>" + order("4", "d") + order("5", "e") +
                                                            order("1", "old a") + "</Transactions>");
            ASSERT_TRUE(session.store.save(store::Doc::Transactions));
            ASSERT_TRUE(session.store.save(store::Doc::ArchivedTransactions));
            const std::string active = session.store.transactions().toString();
            const std::string archived = session.store.archived().toString();

            // The file cannot be replaced: a folder stands in its way.
            const std::filesystem::path blocked = session.store.path(targetFails ? move.to : from);
            const std::string blockedBytes = test::readFile(blocked);
            std::filesystem::remove(blocked);
            std::filesystem::create_directory(blocked);

            shell.rowsPage.add("TABLE", "TransactionsTable");
            for (const std::string &id : move.shown)
                shell.rowsPage.rows.push_back({"true", id, "0", "", ""});
            shell.answers.push_back("Yes");
            const std::string one = move.to == store::Doc::Transactions ? "4" : "1";
            ASSERT_TRUE(table.runAction({{"Action", move.action}, {"itemID", one}, {"transactionID", "0"}}));

            // Both documents are as they were, and the seller was told once.
            EXPECT_EQ(session.store.transactions().toString(), active);
            EXPECT_EQ(session.store.archived().toString(), archived);
            EXPECT_TRUE(told.empty()) << told.front();
            ASSERT_EQ(shell.boxes.size(), move.action == std::string("ArchiveAll") ? 2u : 1u);
            const std::string text = shell.boxes.back().second;
            const std::string start = std::string(move.count == 1 ? "The order" : "The orders") + " could not be " +
                                      (move.to == store::Doc::Transactions ? "restored: " : "archived: ") +
                                      blocked.filename().string() + " could not be saved: ";
            EXPECT_EQ(text.substr(0, start.size()), start) << text;
            EXPECT_TRUE(text.ends_with(". Nothing was changed.")) << text;

            // On disk every order is still in the file it was in.
            std::filesystem::remove(blocked);
            test::writeFile(blocked, blockedBytes);
            EXPECT_EQ(onDisk(session.store.path(store::Doc::Transactions)),
                      (std::map<std::string, std::string>{{"1", "a"}, {"2", "b"}, {"3", "c"}}));
            EXPECT_EQ(onDisk(session.store.path(store::Doc::ArchivedTransactions)),
                      (std::map<std::string, std::string>{{"1", "old a"}, {"4", "d"}, {"5", "e"}}));

            // Once the file can be written, the same move goes through.
            shell.answers.push_back("Yes");
            ASSERT_TRUE(table.runAction({{"Action", move.action}, {"itemID", one}, {"transactionID", "0"}}));
            const auto target = onDisk(session.store.path(move.to)), source = onDisk(session.store.path(from));
            // The receiving file was saved first: the orders were never in neither.
            EXPECT_LE(std::filesystem::last_write_time(session.store.path(move.to)),
                      std::filesystem::last_write_time(session.store.path(from)));
            for (const std::string &id : move.shown.empty() ? std::vector<std::string>{one} : move.shown) {
                EXPECT_EQ(source.count(id), 0u) << id;
                EXPECT_EQ(target.count(id), 1u) << id;
            }
            // The fresh copy of order 1 took the old one's place.
            if (move.to == store::Doc::ArchivedTransactions) {
                EXPECT_EQ(target.at("1"), "a");
            }
        }
    }
}

} // namespace
