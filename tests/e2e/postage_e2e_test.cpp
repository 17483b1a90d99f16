// Printing postage on the real program: two orders of one buyer through
// DAZzle (its simulator), then two of another buyer through WorldShip (its
// simulator watching the import folder), each ending with the tracking
// number at the sandbox's eBay and the orders under In Transit.

#include "platform/xml.h"
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#if defined(TW_DAZZLE_SIM) && defined(TW_WORLDSHIP_SIM)

namespace {

using namespace tw::e2e;
using tw::test::TempDir;

const QString kMain = "/KORVA/main-1.0.47.html";
const QString kDazzleForm = "/KORVA/PrintPostageForm-1.0.57.html";
const QString kWorldShipForm = "/KORVA/PrintPostageFormWorldShip-1.0.57.html";
const QString kRows = "document.querySelectorAll('#TransactionsTable tr[ItemID]').length";

QString valueOf(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object()["value"].toString();
}

// The page's answer to `expression` once no overlay shows and it equals
// `expected`, or the last answer after the time-out.
QString settle(DevTools &devTools, const QString &page, const QString &expression, const QString &expected,
               int ms = 30000)
{
    const QString js = "(function () { var o = document.getElementById('ProcessingElement');"
                       "  if (o && o.style.visibility !== 'hidden') return '(busy)';"
                       "  return String(" +
                       expression + "); })()";
    QString answer;
    waitFor(
        [&] {
            answer = valueOf(devTools.evaluate(page, js, 5000));
            return answer == expected;
        },
        ms);
    return answer;
}

// Runs `script` in the page after the evaluation has answered (a click that
// navigates must not cut the evaluation short).
void later(DevTools &devTools, const QString &page, const QString &script)
{
    devTools.evaluate(page, "setTimeout(function () { " + script + " }, 0); true");
}

size_t count(const TempDir &dir, const char *file, const char *xpath, const tw::xml::Vars &vars = {})
{
    tw::xml::Document doc = tw::xml::Document::load(dir / "data" / file);
    return doc ? doc.selectAll(xpath, vars).size() : 0;
}

struct Sale {
    std::string itemId, transactionId;
};

class PostageEndToEnd : public ::testing::Test {
  protected:
    TempDir dir;
    tw::sandbox::Sandbox sb;
    std::vector<Sale> dazzleOrders, worldShipOrders, untagged;
    std::string dazzleBuyer;

    void SetUp() override
    {
        // Buyer A has three unshipped orders and buyer B two; nobody else
        // has orders of theirs.
        tw::sandbox::State &state = sb.state();
        std::vector<int> domestic;
        for (size_t b = 0; b < state.buyers.size(); ++b) {
            const tw::sandbox::Address &a = state.buyers[b].address;
            if (a.country == "US" && a.state.size() == 2 && a.state != "PR" && a.state != "AE" && a.state != "AP" &&
                a.state != "AA" && a.state != "GU" && a.state != "VI")
                domestic.push_back(int(b));
        }
        ASSERT_GE(domestic.size(), 3u);
        ASSERT_GE(state.orders.size(), 6u);
        const int a = domestic[0], b = domestic[1], other = domestic[2];
        for (tw::sandbox::Order &o : state.orders)
            if (o.buyer == a || o.buyer == b) o.buyer = other;
        for (size_t k = 0; k < 5; ++k) {
            tw::sandbox::Order &o = state.orders[k];
            o.buyer = k < 3 ? a : b;
            o.paid = o.created;
            o.shipped = {};
            o.trackingNumber.clear();
            o.carrierUsed.clear();
            o.shippingServiceUsed.clear();
            o.shippingService = "USPSPriority";
            o.modified = sb.ebayNow().addSecs(-60);
            (k < 2 ? dazzleOrders : k == 2 ? untagged : worldShipOrders).push_back({o.itemId, o.transactionId});
        }
        dazzleBuyer = state.buyers[size_t(a)].userId;
        state.reindex();
        ASSERT_TRUE(sb.start());

        std::filesystem::create_directories(dir / "data");
        std::filesystem::create_directories(dir / "world ship");
        std::filesystem::create_directories(dir / "tmp");
        tw::test::writeFile(dir / "data" / "Settings.xml",
                            "<?xml version=\"1.0\" encoding=\"utf-8\"?><Settings><eBayID>" + state.sellerId +
                                "</eBayID><eBayAuthToken>" + tw::sandbox::kDemoToken +
                                "</eBayAuthToken><LastGetSellerTransactions/><GetSellerTransactionsMaxDays>28"
                                "</GetSellerTransactionsMaxDays><DazzleExePath>" TW_DAZZLE_SIM
                                "</DazzleExePath><UPSWorldShipAutoXMLImportFolder>" +
                                tw::xml::escape((dir / "world ship").string()) +
                                "</UPSWorldShipAutoXMLImportFolder><UPSAccount>X9D3T4</UPSAccount></Settings>");
    }

    // Ticks the rows of `orders` in the drawn view.
    void tag(DevTools &devTools, const std::vector<Sale> &orders)
    {
        for (const Sale &s : orders)
            EXPECT_TRUE(
                devTools
                    .evaluate(kMain, QString::fromStdString("document.querySelector('#TransactionsTable tr[ItemID=\"" +
                                                            s.itemId + "\"][TransactionID=\"" + s.transactionId +
                                                            "\"] input[name=\"tagged\"]').checked = true; true"))
                    .contains("true"))
                << s.itemId;
    }
    // The program on the sandbox, with DAZzle's files in the test's own
    // temporary folder, its orders downloaded and Not Shipped drawn.
    struct Running {
        std::unique_ptr<Tidewell> app;
        std::unique_ptr<DevTools> devTools;
        size_t notShipped = 0;
    };
    Running startWithOrders()
    {
        Running r;
        const bool hadTmp = qEnvironmentVariableIsSet("TMPDIR");
        const QByteArray tmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QByteArray::fromStdString((dir / "tmp").string()));
        const int port = freePort();
        r.app = std::make_unique<Tidewell>(dir, Tidewell::Options{sb.config().toIni(), "No", port});
        // An empty TMPDIR is not an unset one: the tests after this one need
        // the system's temporary folder back.
        if (hadTmp)
            qputenv("TMPDIR", tmp);
        else
            qunsetenv("TMPDIR");
        Tidewell &app = *r.app;
        EXPECT_TRUE(app.next("page").endsWith(kMain)) << app.output().toStdString();
        r.devTools = std::make_unique<DevTools>(port);
        EXPECT_TRUE(waitFor([&] { return !sb.requests("GetFeedback").empty(); })) << app.output().toStdString();
        EXPECT_TRUE(waitIdle(*r.devTools, kMain));
        app.send("click cmdDownloadOrders");
        EXPECT_TRUE(waitFor([&] { return count(dir, "Transactions.xml", "//Transaction[KORVA]") > 0; }, 60000))
            << app.output().toStdString();
        r.notShipped = count(dir, "Transactions.xml", "Transactions/Transaction[not(ShippedTime)]");
        const QString n = QString::number(r.notShipped);
        // Asked again while the end of the download still refuses navigation.
        EXPECT_TRUE(waitFor(
            [&] {
                later(*r.devTools, kMain, "location.href = 'http://plinthway/?Action=DisplayNotShipped';");
                return settle(*r.devTools, kMain, kRows, n, 5000) == n;
            },
            60000));
        return r;
    }

    size_t shipped(const std::vector<Sale> &orders)
    {
        size_t n = 0;
        for (const Sale &s : orders)
            n += count(dir, "Transactions.xml",
                       "Transactions/Transaction[Item/ItemID=$i and TransactionID=$t]/ShippedTime",
                       {{"i", s.itemId}, {"t", s.transactionId}});
        return n;
    }
};

TEST_F(PostageEndToEnd, LabelsThroughDazzleAndWorldShipReachEbayAndMoveTheOrdersToInTransit)
{
    QProcess worldship;
    worldship.start(TW_WORLDSHIP_SIM, {QString::fromStdString((dir / "world ship").string())});
    ASSERT_TRUE(worldship.waitForStarted(10000));

    Running running = startWithOrders();
    ASSERT_FALSE(HasFailure());
    Tidewell &app = *running.app;
    DevTools &devTools = *running.devTools;
    const size_t notShipped = running.notShipped;
    const QString rows = kRows;

    // --- DAZzle: two of buyer A's three orders, the third left out. ---
    tag(devTools, dazzleOrders);
    later(devTools, kMain, "location.href = 'http://plinthway/?Action=PrintPostage';");
    EXPECT_EQ(app.next("dialog"), QString::fromStdString("Print Postage | Would you like to automatically include "
                                                         "other transactions from " +
                                                         dazzleBuyer + "?"));
    ASSERT_TRUE(app.nextContaining("page", kDazzleForm).endsWith(kDazzleForm)) << app.output().toStdString();
    const QString send = "document.getElementById('PrintPostage').click();";
    const QString button = "(function () { var b = document.getElementById('PrintPostage');"
                           "  return b.value + (b.disabled ? ' (off)' : ''); })()";
    ASSERT_EQ(settle(devTools, kDazzleForm, button, "Print Postage"), "Print Postage");
    EXPECT_EQ(valueOf(devTools.evaluate(kDazzleForm, "document.querySelectorAll('#Layout option').length > 0 ? "
                                                     "document.getElementById('Layout').value : ''")),
              "Zebra Label.lyt");

    // An error status is told and the button works again.
    devTools.evaluate(kDazzleForm, "document.getElementById('ReferenceID').value = 'DAZZLE-ERROR(-3)'; true");
    later(devTools, kDazzleForm, send);
    EXPECT_EQ(app.nextContaining("dialog", "Address"), "Tidewell | Address Verification failed");
    EXPECT_EQ(settle(devTools, kDazzleForm, button, "Print Postage"), "Print Postage");

    // Test mode prints a sample and stores nothing.
    devTools.evaluate(kDazzleForm, "document.getElementById('ReferenceID').value = '';"
                                   "document.getElementById('TestMode').checked = true; true");
    later(devTools, kDazzleForm, send);
    EXPECT_EQ(app.nextContaining("dialog", "Test"), "Tidewell | Test Complete.");
    EXPECT_EQ(settle(devTools, kDazzleForm, button, "Print Postage"), "Print Postage");
    EXPECT_EQ(count(dir, "ShippingLabels.xml", "ShippingLabels/ShippingLabel"), 0u);
    EXPECT_TRUE(sb.requests("CompleteSale").empty());

    devTools.evaluate(kDazzleForm, "document.getElementById('TestMode').checked = false; true");
    later(devTools, kDazzleForm, send);
    ASSERT_TRUE(waitFor([&] { return shipped(dazzleOrders) == 2; }, 60000)) << app.output().toStdString();
    ASSERT_EQ(settle(devTools, kDazzleForm, button, "Print Postage (off)"), "Print Postage (off)");
    EXPECT_NE(valueOf(devTools.evaluate(kDazzleForm, "document.getElementById('PostagePaid').innerText")), "");
    tw::xml::Document labels = tw::xml::Document::load(dir / "data" / "ShippingLabels.xml");
    ASSERT_EQ(labels.selectAll("ShippingLabels/ShippingLabel").size(), 1u);
    const std::string pic = labels.select("ShippingLabels/ShippingLabel/TrackingNumber").text();
    EXPECT_EQ(pic.size(), 22u);
    EXPECT_EQ(labels.selectAll("ShippingLabels/ShippingLabel/PackingList/Item").size(), 2u);
    std::vector<tw::sandbox::LoggedRequest> sales = sb.requests("CompleteSale");
    ASSERT_EQ(sales.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_NE(sales[k].body.find("<ItemID>" + dazzleOrders[k].itemId + "</ItemID>"), std::string::npos);
        EXPECT_NE(sales[k].body.find("<ShipmentTrackingNumber>" + pic + "</ShipmentTrackingNumber>"),
                  std::string::npos);
    }
    EXPECT_EQ(shipped(untagged), 0u);

    // Back to the view, and to In Transit.
    later(devTools, kDazzleForm, "location.href = 'http://plinthway/?Action=CancelPrintPostage';");
    ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain));
    ASSERT_EQ(settle(devTools, kMain, rows, QString::number(notShipped - 2)), QString::number(notShipped - 2));

    // --- WorldShip: buyer B's two orders. ---
    tag(devTools, worldShipOrders);
    later(devTools, kMain, "location.href = 'http://plinthway/?Action=PrintPostageWorldShip';");
    ASSERT_TRUE(app.nextContaining("page", kWorldShipForm).endsWith(kWorldShipForm)) << app.output().toStdString();
    ASSERT_EQ(settle(devTools, kWorldShipForm, "document.getElementById('ToCountry').value", "US"), "US");
    later(devTools, kWorldShipForm, "document.getElementById('PrintPostageSendWorldShip').click();");
    ASSERT_TRUE(waitFor([&] { return shipped(worldShipOrders) == 2; }, 60000)) << app.output().toStdString();
    labels = tw::xml::Document::load(dir / "data" / "ShippingLabels.xml");
    ASSERT_EQ(labels.selectAll("ShippingLabels/ShippingLabel").size(), 2u);
    const std::string ups = labels.select("ShippingLabels/ShippingLabel[2]/TrackingNumber").text();
    EXPECT_EQ(ups.substr(0, 8), "1ZX9D3T4");
    EXPECT_EQ(labels.select("ShippingLabels/ShippingLabel[2]/Carrier").text(), "UPS");
    sales = sb.requests("CompleteSale");
    ASSERT_EQ(sales.size(), 4u);
    for (size_t k = 2; k < 4; ++k) {
        EXPECT_NE(sales[k].body.find("<ShipmentTrackingNumber>" + ups + "</ShipmentTrackingNumber>"),
                  std::string::npos);
        EXPECT_NE(sales[k].body.find("<ShippingCarrierUsed>UPS</ShippingCarrierUsed>"), std::string::npos);
    }

    later(devTools, kWorldShipForm, "location.href = 'http://plinthway/?Action=CancelPrintPostage';");
    ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain));
    later(devTools, kMain, "location.href = 'http://plinthway/?Action=DisplayInTransit';");
    const QString printed = QString::fromStdString("[" + [&] {
        std::string list;
        for (const auto *orders : {&dazzleOrders, &worldShipOrders})
            for (const Sale &s : *orders)
                list += (list.empty() ? "'" : ",'") + s.itemId + "/" + s.transactionId + "'";
        return list;
    }() + "]");
    const QString inTransit = printed +
                              ".filter(function (k) { var p = k.split('/'); return document.querySelector("
                              "'#TransactionsTable tr[ItemID=\"' + p[0] + '\"][TransactionID=\"' + p[1] + '\"]'); })"
                              ".length";
    EXPECT_EQ(settle(devTools, kMain, inTransit, "4"), "4");

    worldship.kill();
    worldship.waitForFinished(5000);
}

TEST_F(PostageEndToEnd, ALabelLeftWithCancelReachesEbayAndAWorldShipErrorShipsNothing)
{
    QProcess worldship;
    worldship.start(TW_WORLDSHIP_SIM, {QString::fromStdString((dir / "world ship").string())});
    ASSERT_TRUE(worldship.waitForStarted(10000));
    Running running = startWithOrders();
    ASSERT_FALSE(HasFailure());
    Tidewell &app = *running.app;
    DevTools &devTools = *running.devTools;
    const size_t notShipped = running.notShipped;
    const QString rows = kRows;

    // --- DAZzle takes the label, the seller leaves, DAZzle prints it later. ---
    tag(devTools, dazzleOrders);
    later(devTools, kMain, "location.href = 'http://plinthway/?Action=PrintPostage';");
    ASSERT_TRUE(app.nextContaining("page", kDazzleForm).endsWith(kDazzleForm)) << app.output().toStdString();
    const QString button = "(function () { var b = document.getElementById('PrintPostage');"
                           "  return b.value + (b.disabled ? ' (off)' : ''); })()";
    ASSERT_EQ(settle(devTools, kDazzleForm, button, "Print Postage"), "Print Postage");
    devTools.evaluate(kDazzleForm, "document.getElementById('ReferenceID').value = 'DAZZLE-LATE(60000)'; true");
    later(devTools, kDazzleForm, "document.getElementById('PrintPostage').click();");
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(dir / "tmp" / "KORVA-Dazzle-Packages.xml"); }));
    later(devTools, kDazzleForm, "location.href = 'http://plinthway/?Action=CancelPrintPostage';");
    EXPECT_TRUE(app.nextContaining("dialog", "DAZzle already has this label").startsWith("Tidewell | "));
    ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain));
    EXPECT_TRUE(sb.requests("CompleteSale").empty());

    tw::test::writeFile(dir / "tmp" / "KORVA-Dazzle-Results.xml.continue", "");
    EXPECT_TRUE(app.nextContaining("dialog", "DAZzle printed the label you had left", 60000).startsWith("Tidewell | "))
        << app.output().toStdString();
    ASSERT_TRUE(waitFor([&] { return shipped(dazzleOrders) == 2; }, 60000)) << app.output().toStdString();
    tw::xml::Document labels = tw::xml::Document::load(dir / "data" / "ShippingLabels.xml");
    ASSERT_EQ(labels.selectAll("ShippingLabels/ShippingLabel").size(), 1u);
    const std::string pic = labels.select("ShippingLabels/ShippingLabel/TrackingNumber").text();
    EXPECT_EQ(pic.size(), 22u);
    std::vector<tw::sandbox::LoggedRequest> sales = sb.requests("CompleteSale");
    ASSERT_EQ(sales.size(), 2u);
    for (size_t k = 0; k < 2; ++k)
        EXPECT_NE(sales[k].body.find("<ShipmentTrackingNumber>" + pic + "</ShipmentTrackingNumber>"),
                  std::string::npos);
    ASSERT_EQ(settle(devTools, kMain, rows, QString::number(notShipped - 2)), QString::number(notShipped - 2));

    // --- WorldShip refuses the shipment: nothing is shipped. ---
    tag(devTools, worldShipOrders);
    later(devTools, kMain, "location.href = 'http://plinthway/?Action=PrintPostageWorldShip';");
    ASSERT_TRUE(app.nextContaining("page", kWorldShipForm).endsWith(kWorldShipForm)) << app.output().toStdString();
    ASSERT_EQ(settle(devTools, kWorldShipForm, "document.getElementById('ToCountry').value", "US"), "US");
    devTools.evaluate(kWorldShipForm,
                      "document.getElementById('ToCompany').value = 'WORLDSHIP-ERROR(Invalid postal code)'; true");
    later(devTools, kWorldShipForm, "document.getElementById('PrintPostageSendWorldShip').click();");
    EXPECT_EQ(app.nextContaining("dialog", "WorldShip reported", 60000),
              "Tidewell | WorldShip reported: Invalid postal code. Nothing was marked shipped or sent to eBay: check "
              "the shipment in WorldShip.")
        << app.output().toStdString();
    EXPECT_EQ(shipped(worldShipOrders), 0u);
    EXPECT_EQ(sb.requests("CompleteSale").size(), 2u);
    EXPECT_EQ(count(dir, "ShippingLabels.xml", "ShippingLabels/ShippingLabel"), 1u);
    later(devTools, kWorldShipForm, "location.href = 'http://plinthway/?Action=CancelPrintPostage';");
    ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain));
    EXPECT_EQ(settle(devTools, kMain, rows, QString::number(notShipped - 2)), QString::number(notShipped - 2));
    const QString worldShipRows = QString::fromStdString(
        "document.querySelectorAll('#TransactionsTable tr[ItemID=\"" + worldShipOrders[0].itemId +
        "\"][TransactionID=\"" + worldShipOrders[0].transactionId + "\"], #TransactionsTable tr[ItemID=\"" +
        worldShipOrders[1].itemId + "\"][TransactionID=\"" + worldShipOrders[1].transactionId + "\"]').length");
    EXPECT_EQ(settle(devTools, kMain, worldShipRows, "2"), "2");

    worldship.kill();
    worldship.waitForFinished(5000);
}

} // namespace

#endif
