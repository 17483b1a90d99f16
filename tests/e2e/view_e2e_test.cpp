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

// A click on Download Orders while a view of 2,000 orders is being drawn is
// refused: nothing runs inside the drawing, and its rows come out whole and in
// order. Once the drawing is over, the button works.
TEST(EndToEndView, DownloadOrdersClickedDuringADrawingIsRefused)
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
    // The same order the drawing must give: newest payment first, then buyer.
    std::vector<std::pair<std::string, std::string>> keys;
    {
        tw::xml::Document doc = tw::xml::Document::load(dir / "data" / "Transactions.xml");
        for (tw::xml::Node t : doc.selectAll("Transactions/Transaction"))
            keys.emplace_back(t.element("PaidTime").text(), t.element("Buyer").element("UserID").text());
    }
    std::string settingsXml = tw::test::readFile(dir / "data" / "Settings.xml");
    settingsXml.replace(settingsXml.find("</Settings>"), 11, "<LastTab>NotShipped</LastTab></Settings>");
    tw::test::writeFile(dir / "data" / "Settings.xml", settingsXml);

    const int port = freePort();
    Tidewell app(dir, {sb.config().toIni(), "", port});
    // The second batch of rows is on its way: the drawing is under way.
    ASSERT_FALSE(app.nextContaining("overlay", QString("of %1").arg(kOrders), 60000).isEmpty())
        << app.output().toStdString();
    app.send("click cmdDownloadOrders");
    ASSERT_EQ(app.next("clicked", 60000), "cmdDownloadOrders") << app.output().toStdString();
    ASSERT_TRUE(app.next("page", 60000).endsWith(kMain)) << app.output().toStdString();
    DevTools devTools(port);
    ASSERT_EQ(settle(devTools, kRows, quoted(QString::number(kOrders)), 60000), quoted(QString::number(kOrders)));
    EXPECT_TRUE(sb.requests("GetSellerTransactions").empty()) << "a download ran inside the drawing";

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

} // namespace
