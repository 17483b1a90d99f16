// The transactions view on the real program against the sandbox: switching
// views, tags, a note that survives a restart, archiving and restoring, and
// archive-all answered No.

#include "platform/xml.h"
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

namespace {

using namespace tw::e2e;

QString quoted(const QString &text)
{
    return "\"" + text + "\"";
}
using tw::test::TempDir;

const QString kMain = "/KORVA/main-1.0.47.html";

size_t count(const TempDir &dir, const char *file, const char *xpath)
{
    tw::xml::Document doc = tw::xml::Document::load(dir / "data" / file);
    return doc.selectAll(xpath).size();
}

// The page's answer to `expression` once the drawing is over and `expected`
// holds (JSON text of the value), or the last answer after the time-out.
// The string an evaluation gave ("" when it gave none).
QString valueOf(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object()["value"].toString();
}

QString settle(DevTools &devTools, const QString &expression, const QString &expected, int ms = 30000)
{

    const QString js = "(function () { var o = document.getElementById('ProcessingElement');"
                       "  if (o && o.style.visibility !== 'hidden') return '(busy)';"
                       "  return " +
                       expression + "; })()";
    QString answer;
    waitFor(
        [&] {
            answer = quoted(valueOf(devTools.evaluate(kMain, js, 5000)));
            return answer == expected;
        },
        ms);
    return answer;
}

// Runs a command link from the main page, as a click on it would. The
// navigation starts after the evaluation has answered.
void command(DevTools &devTools, const QString &query)
{
    devTools.evaluate(kMain, "setTimeout(function () { location.href = 'http://plinthway/?" + query + "'; }, 0); true");
}

const QString kRows = "String(document.querySelectorAll('#TransactionsTable tr[ItemID]').length)";

TEST(EndToEndView, ViewsTagsNotesAndTheArchiveOnTheRealProgram)
{
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    signIn(dir, sb);
    const int port = freePort();
    const std::string ini = sb.config().toIni();
    std::string noteKey;
    {
        Tidewell app(dir, {ini, "No", port});
        ASSERT_TRUE(app.next("page").endsWith(kMain)) << app.output().toStdString();
        DevTools devTools(port);
        ASSERT_TRUE(waitFor([&] { return !sb.requests("GetFeedback").empty(); })) << app.output().toStdString();
        ASSERT_EQ(settle(devTools, kRows, quoted("0")), quoted("0"));

        app.send("click cmdDownloadOrders");
        ASSERT_TRUE(waitFor([&] { return !sb.requests("TrackV2").empty(); }, 30000)) << app.output().toStdString();
        const size_t delivered = [&] {
            waitFor([&] { return count(dir, "Transactions.xml", "//Transaction[KORVA]") > 0; });
            return count(dir, "Transactions.xml", "Transactions/Transaction[KORVA/ShipmentStatus='Delivered']");
        }();
        ASSERT_GT(delivered, 0u);
        // The first view of a fresh store is Delivered.
        EXPECT_EQ(settle(devTools, kRows, quoted(QString::number(delivered))), quoted(QString::number(delivered)));

        // The sandbox's titles, questions and buyers hold markup and command
        // links: they show as text, nothing of them runs or links.
        EXPECT_EQ(settle(devTools,
                         "String(document.querySelectorAll('#TransactionsTable script, #TransactionsTable img, "
                         "#TransactionsTable [onerror], #TransactionsTable a[href*=\"ArchiveAll\"]').length)",
                         "\"0\""),
                  "\"0\"");
        EXPECT_EQ(settle(devTools,
                         "String(document.getElementById('TransactionsTable').innerText.indexOf("
                         "'<a href=\"http://plinthway/?Action=ArchiveAll\">') >= 0)",
                         "\"true\""),
                  "\"true\"");

        const size_t notShipped = count(dir, "Transactions.xml", "Transactions/Transaction[not(ShippedTime)]");
        command(devTools, "Action=DisplayNotShipped");
        ASSERT_EQ(settle(devTools, kRows, quoted(QString::number(notShipped))), quoted(QString::number(notShipped)));
        EXPECT_EQ(settle(devTools, "document.getElementById('TD_NotShipped').innerText",
                         quoted(QString("Not Shipped (%1)").arg(notShipped))),
                  quoted(QString("Not Shipped (%1)").arg(notShipped)));

        EXPECT_EQ(settle(devTools,
                         "String(document.getElementById('TransactionsTable').innerText.indexOf('<script>') >= 0)",
                         "\"true\""),
                  "\"true\"");

        // A note on the first row, saved.
        noteKey = valueOf(devTools.evaluate(kMain, "var r = document.querySelector('#TransactionsTable tr[ItemID]');"
                                                   "r.getAttribute('ItemID') + '/' + r.getAttribute('TransactionID')"))
                      .toStdString();
        ASSERT_NE(noteKey.find('/'), std::string::npos) << noteKey;
        const QString item = QString::fromStdString(noteKey.substr(0, noteKey.find('/')));
        const QString txn = QString::fromStdString(noteKey.substr(noteKey.find('/') + 1));
        command(devTools, "Action=AddNoteClick&TransactionID=" + txn + "&ItemID=" + item);
        ASSERT_EQ(
            settle(devTools, "String(!!document.querySelector('#TransactionsTable input[name=\"note\"]'))", "\"true\""),
            "\"true\"")
            << noteKey << app.output().toStdString();
        devTools.evaluate(kMain, "document.querySelector('#TransactionsTable input[name=\"note\"]').value = "
                                 "'Leave at the back door'; true");
        command(devTools, "Action=SaveNoteClick&TransactionID=" + txn + "&ItemID=" + item);
        ASSERT_TRUE(waitFor([&] { return count(dir, "Notes.xml", "Notes/Note") == 1; }));

        // Two rows tagged and archived.
        devTools.evaluate(kMain, "var b = document.querySelectorAll('#TransactionsTable input[name=\"tagged\"]');"
                                 "b[1].checked = true; b[2].checked = true; true");
        const std::string before = tw::test::readFile(dir / "data" / "Transactions.xml");
        command(devTools, "Action=ArchiveTagged");
        ASSERT_TRUE(waitFor([&] { return count(dir, "ArchivedTransactions.xml", "Transactions/Transaction") == 2; }));
        // The archive is saved first, so a failure in between loses no order.
        EXPECT_TRUE(waitFor([&] { return tw::test::readFile(dir / "data" / "Transactions.xml") != before; }));
        EXPECT_EQ(settle(devTools, kRows, quoted(QString::number(notShipped - 2))),
                  quoted(QString::number(notShipped - 2)));
        EXPECT_EQ(settle(devTools, "document.getElementById('TD_Archived').innerText", "\"Archived (2)\""),
                  "\"Archived (2)\"");

        // Restored from the archived view.
        command(devTools, "Action=DisplayArchived");
        ASSERT_EQ(settle(devTools, kRows, "\"2\""), "\"2\"");
        command(devTools, "Action=TagAll");
        settle(devTools, "String(document.querySelectorAll('input[name=\"tagged\"]:checked').length)", "\"2\"");
        command(devTools, "Action=RestoreTagged");
        ASSERT_TRUE(waitFor([&] { return count(dir, "ArchivedTransactions.xml", "Transactions/Transaction") == 0; }));
        EXPECT_EQ(settle(devTools, kRows, "\"0\""), "\"0\"");

        // Archive all, answered No: both files stay as they are.
        command(devTools, "Action=DisplayNotShipped");
        ASSERT_EQ(settle(devTools, kRows, quoted(QString::number(notShipped))), quoted(QString::number(notShipped)));
        const std::string active = tw::test::readFile(dir / "data" / "Transactions.xml");
        const std::string archive = tw::test::readFile(dir / "data" / "ArchivedTransactions.xml");
        command(devTools, "Action=ArchiveAll");
        EXPECT_EQ(app.next("dialog"), "Confirm | Are you sure you want to archive all transactions in this view?");
        EXPECT_EQ(settle(devTools, kRows, quoted(QString::number(notShipped))), quoted(QString::number(notShipped)));
        EXPECT_EQ(tw::test::readFile(dir / "data" / "Transactions.xml"), active);
        EXPECT_EQ(tw::test::readFile(dir / "data" / "ArchivedTransactions.xml"), archive);
    }

    // After a restart the last view and the note are back.
    Tidewell again(dir, {ini, "", port});
    ASSERT_TRUE(again.next("page").endsWith(kMain)) << again.output().toStdString();
    DevTools devTools(port);
    const QString item = QString::fromStdString(noteKey.substr(0, noteKey.find('/')));
    EXPECT_EQ(settle(devTools,
                     "(function () { var i = document.querySelector('#TransactionsTable tr[ItemID=\"" + item +
                         "\"] input[name=\"note\"]'); return i ? i.value : '(none)'; })()",
                     "\"Leave at the back door\""),
              "\"Leave at the back door\"");
    EXPECT_EQ(
        settle(devTools, "document.getElementById('TD_NotShipped').style.backgroundColor", "\"rgb(205, 205, 255)\""),
        "\"rgb(205, 205, 255)\"");
}

// A view of 2,000 orders. A click on Download Orders while the drawing waits
// (for the seller's rating, here) is refused: nothing runs inside a drawing.
// The first screenful comes first and the rest follow while the window is
// idle; Tag All meanwhile draws the rest first and tags every order. The
// rows come out whole and in order, and the button works afterwards.
TEST(EndToEndView, ADrawingOf2000OrdersRefusesClicksAndTagAllTagsThemAll)
{
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    signIn(dir, sb);
    constexpr int kOrders = 2000;
    std::string orders = "<?xml version=\"1.0\" encoding=\"utf-8\"?><Transactions>";
    for (int k = 0; k < kOrders; ++k) {
        char paidTime[32];
        std::snprintf(paidTime, sizeof paidTime, "2026-11-%02dT%02d:%02d:00.000Z", 1 + k % 28, k % 24, k % 60);
        orders += "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>" +
                  std::to_string(2200000000 + k) + "</ItemID><Title>Lamp " + std::to_string(k) +
                  "</Title></Item><TransactionID>" + std::to_string(k) + "</TransactionID><Buyer><UserID>buyer" +
                  std::to_string(k % 97) + "</UserID></Buyer><PaidTime>" + std::string(paidTime) +
                  "</PaidTime></Transaction>";
    }
    tw::test::writeFile(dir / "data" / "Transactions.xml", orders + "</Transactions>");
    // The order the drawing must give: newest payment first, then buyer.
    std::vector<std::pair<std::string, std::string>> keys;
    {
        tw::xml::Document doc = tw::xml::Document::load(dir / "data" / "Transactions.xml");
        for (tw::xml::Node t : doc.selectAll("Transactions/Transaction"))
            keys.emplace_back(t.element("PaidTime").text(), t.element("Buyer").element("UserID").text());
    }
    std::string settingsXml = tw::test::readFile(dir / "data" / "Settings.xml");
    settingsXml.replace(settingsXml.find("</Settings>"), 11, "<LastTab>NotShipped</LastTab></Settings>");
    tw::test::writeFile(dir / "data" / "Settings.xml", settingsXml);
    sb.injectFault({.call = "GetFeedback", .kind = tw::sandbox::FaultKind::Delay, .delayMs = 3000});

    const int port = freePort();
    Tidewell app(dir, {sb.config().toIni(), "", port});
    ASSERT_FALSE(app.nextContaining("overlay", "Getting DSR Score", 60000).isEmpty()) << app.output().toStdString();
    app.send("click cmdDownloadOrders");
    ASSERT_EQ(app.next("clicked", 60000), "cmdDownloadOrders") << app.output().toStdString();
    ASSERT_EQ(app.next("rows", 60000), QString("30 of %1").arg(kOrders)) << app.output().toStdString();
    EXPECT_TRUE(sb.requests("GetSellerTransactions").empty()) << "a download ran inside the drawing";

    // Past the first few hundred rows, more come only as the seller scrolls
    // near the end of those drawn.
    ASSERT_FALSE(app.nextContaining("rows", "330 of", 60000).isEmpty()) << app.output().toStdString();
    DevTools devTools(port);
    EXPECT_EQ(valueOf(devTools.evaluate(kMain, kRows)), "330");
    devTools.evaluate(kMain, "window.scrollTo(0, document.body.scrollHeight); true");
    ASSERT_EQ(app.next("rows", 60000), QString("390 of %1").arg(kOrders)) << app.output().toStdString();

    command(devTools, "Action=TagAll");
    ASSERT_FALSE(app.nextContaining("action", "TagAll", 60000).isEmpty()) << app.output().toStdString();
    const QString tagged = "String(document.querySelectorAll('#TransactionsTable tr[ItemID] "
                           "input[name=\"tagged\"]:checked').length)";
    EXPECT_EQ(valueOf(devTools.evaluate(kMain, tagged)), QString::number(kOrders));
    ASSERT_EQ(settle(devTools, kRows, quoted(QString::number(kOrders)), 60000), quoted(QString::number(kOrders)));

    // Rows in the drawing's order: paid time descending, then buyer.
    const QString shown = valueOf(
        devTools.evaluate(kMain, "Array.prototype.map.call(document.querySelectorAll('#TransactionsTable tr[ItemID]'),"
                                 "function (r) { return r.getAttribute('TransactionID'); }).join(',')"));
    std::vector<int> order;
    for (const QString &id : shown.split(','))
        order.push_back(id.toInt());
    ASSERT_EQ(order.size(), size_t(kOrders));
    for (size_t i = 1; i < order.size(); ++i) {
        const auto &a = keys[size_t(order[i - 1])], &b = keys[size_t(order[i])];
        EXPECT_TRUE(a.first > b.first || (a.first == b.first && a.second <= b.second))
            << "row " << i << " out of order";
    }

    app.send("click cmdDownloadOrders");
    EXPECT_EQ(app.next("clicked", 60000), "cmdDownloadOrders");
    EXPECT_FALSE(sb.requests("GetSellerTransactions").empty()) << app.output().toStdString();
}

// A row's own links, clicked as a seller clicks them: Add Note and Save on an
// order whose item id holds a blank, "&", "#" and "%", then the row's Archive
// link, and Restore from the Archived view.
TEST(EndToEndView, ARowsOwnLinksNoteArchiveAndRestoreWhateverItsItemIdHolds)
{
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    // The order not yet shipped that changed last gets such an id before the program sees it.
    const std::string odd = "LOT 7&8 #9 100%";
    tw::sandbox::Order *picked = nullptr;
    for (auto &o : sb.state().orders)
        if (!o.isShipped() && (!picked || o.modified > picked->modified)) picked = &o;
    ASSERT_TRUE(picked);
    picked->itemId = odd;
    const std::string txn = picked->transactionId;
    sb.state().reindex();
    signIn(dir, sb);
    const int port = freePort();
    Tidewell app(dir, {sb.config().toIni(), "", port});
    ASSERT_TRUE(app.next("page").endsWith(kMain)) << app.output().toStdString();
    DevTools devTools(port);
    ASSERT_TRUE(waitFor([&] { return !sb.requests("GetFeedback").empty(); })) << app.output().toStdString();
    app.send("click cmdDownloadOrders");
    ASSERT_TRUE(waitFor([&] { return !sb.requests("TrackV2").empty(); }, 30000)) << app.output().toStdString();

    auto stored = [&](const char *file, const char *xpath) {
        const tw::xml::Document doc = tw::xml::Document::load(dir / "data" / file);
        return bool(doc.select(xpath, {{"i", odd}, {"t", txn}}));
    };
    const char *order = "Transactions/Transaction[Item/ItemID=$i and TransactionID=$t]";
    ASSERT_TRUE(waitFor([&] { return stored("Transactions.xml", order); }));
    // The download is over once its drawing is (the first view of a fresh store is Delivered).
    ASSERT_TRUE(waitFor([&] { return count(dir, "Transactions.xml", "//Transaction[KORVA]") > 0; }));
    ASSERT_EQ(
        settle(devTools, "String(document.querySelectorAll('#TransactionsTable tr[ItemID]').length > 0)", "\"true\""),
        "\"true\"");
    const QString row = "Array.from(document.querySelectorAll('#TransactionsTable tr[ItemID]')).find(function (r) {"
                        " return r.getAttribute('ItemID') === 'LOT 7&8 #9 100%'; })";
    auto shown = [&](const QString &what) {
        return settle(devTools,
                      "(function () { var r = " + row + "; return String(!!(r && r.querySelector('" + what +
                          "'))); })()",
                      "\"true\"");
    };
    auto click = [&](const QString &action) {
        devTools.evaluate(kMain, "setTimeout(function () { (" + row + ").querySelector('a[href*=\"Action=" + action +
                                     "&\"]').click(); }, 0); true");
    };

    command(devTools, "Action=DisplayNotShipped");
    ASSERT_EQ(shown("a[href*=\"Action=AddNoteClick&\"]"), "\"true\"") << app.output().toStdString();
    EXPECT_EQ(settle(devTools,
                     "String(!!document.querySelector('#submenu a[href=\"http://plinthway/?Action=ArchiveAll\"]'))",
                     "\"true\""),
              "\"true\"");

    click("AddNoteClick");
    ASSERT_EQ(shown("input[name=\"note\"]"), "\"true\"") << app.output().toStdString();
    devTools.evaluate(kMain, "(" + row + ").querySelector('input[name=\"note\"]').value = 'Ring twice'; true");
    click("SaveNoteClick");
    EXPECT_TRUE(waitFor(
        [&] { return stored("Notes.xml", "Notes/Note[ItemID=$i and TransactionID=$t and Text='Ring twice']"); }));

    click("ArchiveTransaction");
    ASSERT_TRUE(waitFor([&] { return stored("ArchivedTransactions.xml", order); })) << app.output().toStdString();
    EXPECT_TRUE(waitFor([&] { return !stored("Transactions.xml", order); }));
    EXPECT_EQ(settle(devTools, "String(!!(" + row + "))", "\"false\""), "\"false\"");

    command(devTools, "Action=DisplayArchived");
    ASSERT_EQ(shown("a[href*=\"Action=RestoreTransaction&\"]"), "\"true\"") << app.output().toStdString();
    click("RestoreTransaction");
    ASSERT_TRUE(waitFor([&] { return stored("Transactions.xml", order); })) << app.output().toStdString();
    EXPECT_TRUE(waitFor([&] { return !stored("ArchivedTransactions.xml", order); }));
    EXPECT_EQ(settle(devTools, "String(!!(" + row + "))", "\"false\""), "\"false\"");
}

// Archive and restore when a store file cannot be replaced (a folder stands
// in its way): each move is taken back, the seller told once, and after a
// restart every order is in exactly one of the two files.
TEST(EndToEndView, AnArchiveOrRestoreThatCannotBeSavedLosesNoOrder)
{
    TempDir dir;
    const std::filesystem::path data = dir / "data";
    std::filesystem::create_directories(data);
    tw::test::writeFile(data / "Settings.xml", "<?xml version=\"1.0\"?>\n<Settings><eBayAuthToken>AgAAAA-test"
                                               "</eBayAuthToken><DefaultBrowser>True</DefaultBrowser><LastTab>"
                                               "NotShipped</LastTab></Settings>\n");
    std::string orders = "<?xml version=\"1.0\"?>\n<Transactions>";
    for (const char *id : {"1", "2", "3"})
        orders += std::string("<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>") + id +
                  "</ItemID><Title>Lamp " + id +
                  "</Title></Item><TransactionID>0</TransactionID><Buyer><UserID>"
                  "buyer" +
                  id + "</UserID></Buyer></Transaction>";
    tw::test::writeFile(data / "Transactions.xml", orders + "</Transactions>\n");
    const int port = freePort();
    auto where = [&](const std::string &id) {
        std::string in;
        for (const char *file : {"Transactions.xml", "ArchivedTransactions.xml"}) {
            tw::xml::Document doc = tw::xml::Document::load(data / file);
            if (doc.selectAll("Transactions/Transaction[Item/ItemID=$id]", {{"id", id}}).size() == 1)
                in += in.empty() ? file : std::string(" and ") + file;
        }
        return in;
    };
    // Replaces `file` by a folder while `run` runs, then puts it back as it was.
    auto blocked = [&](const char *file, const std::function<void()> &run) {
        const std::string bytes = tw::test::readFile(data / file);
        std::filesystem::remove(data / file);
        std::filesystem::create_directory(data / file);
        run();
        std::filesystem::remove(data / file);
        tw::test::writeFile(data / file, bytes);
    };
    {
        Tidewell app(dir, {kNoServices, "", port});
        ASSERT_TRUE(app.next("page").endsWith(kMain)) << app.output().toStdString();
        DevTools devTools(port);
        ASSERT_EQ(settle(devTools, kRows, "\"3\""), "\"3\"") << app.output().toStdString();
        const std::string active = tw::test::readFile(data / "Transactions.xml");

        // The archive cannot take the order: it stays where it was.
        blocked("ArchivedTransactions.xml", [&] {
            command(devTools, "Action=ArchiveTransaction&itemID=1&transactionID=0");
            const QString said = app.next("dialog");
            EXPECT_TRUE(said.startsWith("Tidewell | The order could not be archived: ArchivedTransactions.xml could "
                                        "not be saved: ") &&
                        said.endsWith(". Nothing was changed."))
                << said.toStdString();
            EXPECT_EQ(app.next("action"), "ArchiveTransaction");
        });
        EXPECT_EQ(tw::test::readFile(data / "Transactions.xml"), active);

        // The archive took it but the orders' file cannot let it go: the
        // archive gives it up again.
        blocked("Transactions.xml", [&] {
            command(devTools, "Action=ArchiveTransaction&itemID=2&transactionID=0");
            EXPECT_TRUE(app.next("dialog").startsWith(
                "Tidewell | The order could not be archived: Transactions.xml could not be saved: "));
            EXPECT_EQ(app.next("action"), "ArchiveTransaction");
        });
        EXPECT_EQ(where("2"), "Transactions.xml");

        // Archived, then the restore cannot reach the orders' file.
        command(devTools, "Action=ArchiveTransaction&itemID=3&transactionID=0");
        ASSERT_EQ(app.next("action"), "ArchiveTransaction");
        ASSERT_EQ(where("3"), "ArchivedTransactions.xml");
        blocked("Transactions.xml", [&] {
            command(devTools, "Action=RestoreTransaction&itemID=3&transactionID=0");
            EXPECT_TRUE(app.next("dialog").startsWith(
                "Tidewell | The order could not be restored: Transactions.xml could not be saved: "));
            EXPECT_EQ(app.next("action"), "RestoreTransaction");
        });
        EXPECT_EQ(app.output().count("dialog: "), 3) << app.output().toStdString();
    }

    Tidewell again(dir, {kNoServices, "", port});
    ASSERT_TRUE(again.next("page").endsWith(kMain)) << again.output().toStdString();
    DevTools devTools(port);
    EXPECT_EQ(settle(devTools, kRows, "\"2\""), "\"2\"");
    EXPECT_EQ(where("1"), "Transactions.xml");
    EXPECT_EQ(where("2"), "Transactions.xml");
    EXPECT_EQ(where("3"), "ArchivedTransactions.xml");
}

} // namespace
