// Refunds through eBay on the real program against the sandbox: a partial
// refund from an order's Refund link, pending and then refunded as getOrder
// says; a refusal told in words with the form kept; a lost answer that is
// not sent again and not offered again before getOrder has been asked.

#include "platform/xml.h"
#include "sandbox/sandbox.h"
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using namespace tw::e2e;
using tw::test::TempDir;

const QString kMain = "/KORVA/main-1.0.47.html";
const QString kForm = "ebayrefundform.html";

QString valueOf(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object()["value"].toString();
}

// The string `expression` gives once no overlay shows and `done` holds of it.
QString settle(DevTools &devTools, const QString &urlPart, const QString &expression,
               const std::function<bool(const QString &)> &done, int ms = 60000)
{
    const QString js = "(function () { var o = document.getElementById('ProcessingElement');"
                       "  if (o && o.style.visibility !== 'hidden') return '(busy)';"
                       "  return String(" +
                       expression + "); })()";
    QString answer;
    waitFor(
        [&] {
            answer = valueOf(devTools.evaluate(urlPart, js, 5000));
            return answer != "(busy)" && done(answer);
        },
        ms);
    return answer;
}

QString contains(DevTools &devTools, const QString &urlPart, const QString &expression, const QString &part)
{
    return settle(devTools, urlPart, expression, [&](const QString &a) { return a.contains(part); });
}

std::string rowOf(const tw::sandbox::Order &order)
{
    return "(function () { var rows = document.querySelectorAll('#TransactionsTable tr[ItemID]');"
           "  for (var i = 0; i < rows.length; ++i)"
           "    if (rows[i].getAttribute('ItemID') === '" +
           order.itemId + "' && rows[i].getAttribute('TransactionID') === '" + order.transactionId +
           "') return rows[i]; return null; })()";
}

QString rowText(const tw::sandbox::Order &order)
{
    return QString::fromStdString("(function () { var r = " + rowOf(order) +
                                  "; return r ? r.innerText : '(none)'; })()");
}

void later(DevTools &devTools, const QString &urlPart, const QString &script)
{
    devTools.evaluate(urlPart, "setTimeout(function () { " + script + " }, 0); true");
}

void display(DevTools &devTools, const QString &view)
{
    devTools.evaluate(kMain, "Array.prototype.forEach.call(document.querySelectorAll('#TransactionsTable tr[ItemID]'),"
                             " function (r) { r.setAttribute('data-stale', '1'); }); true");
    later(devTools, kMain, "location.href = 'http://plinthway/?Action=Display" + view + "';");
    settle(devTools, kMain, "document.querySelectorAll('#TransactionsTable tr[data-stale]').length",
           [](const QString &a) { return a == "0"; });
}

QString viewOf(const TempDir &dir, const tw::sandbox::Order &order)
{
    tw::xml::Document doc = tw::xml::Document::load(dir / "data" / "Transactions.xml");
    tw::xml::Node t = doc.select("Transactions/Transaction[Item/ItemID=$i and TransactionID=$t]",
                                 {{"i", order.itemId}, {"t", order.transactionId}});
    if (!t.select("ShippedTime")) return "NotShipped";
    const std::string status = t.select("KORVA/ShipmentStatus").text();
    return status == "Delivered" ? "DeliveredNeedsFollowUp" : status == "Shipped" ? "InTransit" : "(unknown)";
}

// The order's eBayRefund records in the saved store, "id:amount:status" each.
std::string savedRefunds(const TempDir &dir, const tw::sandbox::Order &order)
{
    tw::xml::Document doc = tw::xml::Document::load(dir / "data" / "Transactions.xml");
    std::string out;
    for (tw::xml::Node r : doc.selectAll("Transactions/Transaction[Item/ItemID=$i and TransactionID=$t]/eBayRefund",
                                         {{"i", order.itemId}, {"t", order.transactionId}}))
        out += (out.empty() ? "" : " ") + r.select("RefundID").text() + ":" + r.select("Amount").text() + ":" +
               r.select("Status").text();
    return out;
}

size_t asked(const tw::sandbox::Sandbox &sb, const std::string &call, const tw::sandbox::Order &order)
{
    size_t n = 0;
    for (const auto &r : sb.requests(call))
        if (r.target.find("/order/" + order.itemId + "-" + order.transactionId) != std::string::npos) ++n;
    return n;
}

// Draws the order's view, follows its Refund link, waits for the filled form.
void openForm(Tidewell &app, DevTools &devTools, const TempDir &dir, const tw::sandbox::Order &order)
{
    display(devTools, viewOf(dir, order));
    ASSERT_TRUE(contains(devTools, kMain, rowText(order), "Refund").contains("Refund"));
    later(devTools, kMain,
          QString::fromStdString("location.href = " + rowOf(order) +
                                 ".querySelector('a[href*=\"DisplayEbayRefundForm\"]').href;"));
    ASSERT_TRUE(app.nextContaining("page", kForm).endsWith(kForm)) << app.output().toStdString();
    ASSERT_EQ(settle(devTools, kForm, "document.getElementById('REASON').options.length",
                     [](const QString &a) { return a == "8"; }),
              "8");
}

void send(DevTools &devTools, const std::string &amount, const std::string &reason, const std::string &comment = "")
{
    later(devTools, kForm,
          QString::fromStdString("document.getElementById('AMT').value = '" + amount +
                                 "'; document.getElementById('REASON').value = '" + reason +
                                 "'; document.getElementById('COMMENT').value = " +
                                 QJsonDocument(QJsonArray{QString::fromStdString(comment)})
                                     .toJson(QJsonDocument::Compact)
                                     .mid(1)
                                     .chopped(1)
                                     .toStdString() +
                                 "; document.getElementById('EbayRefund').click();"));
}

TEST(EndToEndEbayRefund, PendingThenRefundedARefusalInWordsAndALostAnswerNotOfferedBeforeEbayIsAsked)
{
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    std::vector<const tw::sandbox::Order *> picked;
    for (const auto &o : sb.state().orders)
        if (o.paidThroughEbay() && o.isShipped() && o.total() > 5 && picked.size() < 2) picked.push_back(&o);
    ASSERT_EQ(picked.size(), 2u);
    const tw::sandbox::Order &a = *picked[0], &b = *picked[1];

    std::filesystem::create_directories(dir / "data");
    tw::test::writeFile(dir / "data" / "Settings.xml",
                        std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?><Settings><eBayID>") +
                            sb.state().sellerId + "</eBayID><eBayOAuthRefreshToken>" + tw::sandbox::kDemoRefreshToken +
                            "</eBayOAuthRefreshToken><eBayOAuthRefreshTokenExpirationTime>2099-01-01T00:00:00Z"
                            "</eBayOAuthRefreshTokenExpirationTime><LastGetSellerTransactions/>"
                            "<GetSellerTransactionsMaxDays>28</GetSellerTransactionsMaxDays></Settings>");
    const int port = freePort();
    Tidewell app(dir, {sb.config().toIni(), "", port});
    DevTools devTools(port);
    ASSERT_TRUE(app.next("page").endsWith(kMain)) << app.output().toStdString();
    ASSERT_TRUE(waitFor([&] { return !sb.requests("GeteBayOfficialTime").empty(); }));
    ASSERT_TRUE(waitIdle(devTools, kMain));
    app.send("click cmdDownloadOrders");
    ASSERT_TRUE(waitFor([&] { return !sb.requests("TrackV2").empty(); }, 60000)) << app.output().toStdString();
    ASSERT_TRUE(waitIdle(devTools, kMain, 60000));

    // The form's own check, then eBay's refusal: told in words, nothing
    // kept with the order, the form still there to send again.
    ASSERT_NO_FATAL_FAILURE(openForm(app, devTools, dir, a));
    char total[32];
    std::snprintf(total, sizeof total, "%.2f", a.total());
    EXPECT_TRUE(contains(devTools, kForm, "document.getElementById('topleft_td').innerText",
                         QString("Left to refund: $") + total)
                    .contains(total));
    send(devTools, "9999", "BUYER_RETURN");
    EXPECT_EQ(app.next("dialog"), QString("eBay Refund | This order has only $") + total + " left to refund.");
    sb.state().refundWindowDays = 0;
    send(devTools, "1.25", "SHIPPING_DISCOUNT");
    EXPECT_EQ(app.next("dialog", 60000),
              "eBay Refund | eBay refused the refund: it is too late to refund this order through eBay.");
    EXPECT_EQ(asked(sb, "issueRefund", a), 1u);
    EXPECT_EQ(settle(devTools, kForm, "document.getElementById('EbayRefund').disabled ? 'disabled' : 'usable'",
                     [](const QString &v) { return v == "usable"; }),
              "usable");
    EXPECT_EQ(savedRefunds(dir, a), "");

    // A partial refund: pending at the drawing after it, refunded at the next.
    sb.state().refundWindowDays = 180;
    send(devTools, "1.25", "SHIPPING_DISCOUNT", "<b>\"Thanks\" & sorry</b>");
    ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain)) << app.output().toStdString();
    ASSERT_EQ(asked(sb, "issueRefund", a), 2u);
    const std::string body = sb.requests("issueRefund").back().body;
    EXPECT_NE(body.find("\"legacyItemId\":\"" + a.itemId + "\""), std::string::npos) << body;
    EXPECT_NE(body.find("\"comment\":\"<b>\\\"Thanks\\\" & sorry</b>\""), std::string::npos) << body;
    ASSERT_EQ(sb.state().findOrder(a.itemId, a.transactionId)->ebayRefunds.size(), 1u);
    EXPECT_TRUE(contains(devTools, kMain, rowText(a), "Refund $1.25 pending").contains("pending"));
    const std::string refundId = sb.state().findOrder(a.itemId, a.transactionId)->ebayRefunds[0].refundId;
    EXPECT_EQ(savedRefunds(dir, a), refundId + ":1.25:PENDING");
    display(devTools, viewOf(dir, a));
    EXPECT_TRUE(contains(devTools, kMain, rowText(a), "Refund $1.25 refunded").contains("refunded"));
    EXPECT_EQ(savedRefunds(dir, a), refundId + ":1.25:REFUNDED");
    EXPECT_EQ(asked(sb, "getOrder", a), 2u);

    // The connection drops after eBay made the refund: "may have been
    // made", and Send again sends nothing.
    ASSERT_NO_FATAL_FAILURE(openForm(app, devTools, dir, b));
    sb.injectFault({.call = "issueRefund", .kind = tw::sandbox::FaultKind::Drop});
    send(devTools, "2.00", "BUYER_CANCEL");
    EXPECT_NE(app.nextContaining("status", "may have been made", 60000), "") << app.output().toStdString();
    const QString mayHave = app.next("dialog");
    EXPECT_TRUE(mayHave.startsWith("eBay Refund | A refund of this order may have been made")) << mayHave.toStdString();
    EXPECT_EQ(savedRefunds(dir, b), ":2.00:UNKNOWN");
    send(devTools, "2.00", "BUYER_CANCEL");
    EXPECT_EQ(app.next("dialog", 60000), mayHave);
    EXPECT_EQ(asked(sb, "issueRefund", b), 1u);
    EXPECT_EQ(asked(sb, "getOrder", b), 0u);

    // Back at the view, eBay is asked first (its token refused once on the
    // way, and renewed); the refund it made is the order's, and only now
    // is a Refund link offered again.
    const size_t tokens = sb.requests("IdentityToken").size();
    sb.injectFault({.call = "getOrder", .kind = tw::sandbox::FaultKind::TokenExpired});
    later(devTools, kForm, "document.getElementById('CancelEbayRefund').click();");
    ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain)) << app.output().toStdString();
    EXPECT_TRUE(contains(devTools, kMain, rowText(b), "Refund $2.00 pending").contains("pending"));
    EXPECT_EQ(asked(sb, "getOrder", b), 2u); // refused once, then answered
    EXPECT_EQ(sb.requests("IdentityToken").size(), tokens + 1);
    const std::string made = sb.state().findOrder(b.itemId, b.transactionId)->ebayRefunds.at(0).refundId;
    EXPECT_EQ(savedRefunds(dir, b), made + ":2.00:PENDING");
    EXPECT_EQ(valueOf(devTools.evaluate(
                  kMain, QString::fromStdString("String(!!" + rowOf(b) +
                                                ".querySelector('a[href*=\"DisplayEbayRefundForm\"]'))"))),
              "true");
    EXPECT_EQ(asked(sb, "issueRefund", b), 1u);

    // No token in what the program writes.
    for (const std::string &token : sb.issuedOAuthTokens())
        EXPECT_EQ(app.output().indexOf(QString::fromStdString(token)), -1);
    EXPECT_EQ(app.output().indexOf(tw::sandbox::kDemoRefreshToken), -1);
    const std::string log = tw::test::readFile(dir / "data" / "tidewell.log");
    for (const std::string &token : sb.issuedOAuthTokens())
        EXPECT_EQ(log.find(token), std::string::npos);
}

} // namespace
