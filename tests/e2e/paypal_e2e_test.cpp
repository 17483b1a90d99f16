// PayPal on the real program against the sandbox: the payment entries of
// the rows after the first drawing, a pending payment asked again at each
// drawing until it completes, the refund form opened from an overcharged
// order's link with its checks, a refund that shows at the next drawing, and
// certificate mode over TLS with and without the client certificate.

#include "platform/xml.h"
#include "sandbox/sandbox.h"
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using namespace tw::e2e;
using tw::test::TempDir;

const QString kMain = "/KORVA/main-1.0.47.html";
const QString kForm = "paypalrefundform.html";
const char *kCertificateMissing = "PayPal Certificate is missing from your computer.";

std::string money(double amount)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", amount);
    return text;
}

QString valueOf(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object()["value"].toString();
}

// The string `expression` gives in the page whose address holds `urlPart`
// once no overlay shows there and `done` holds of it; the last answer after
// the time-out ("(busy)" while the overlay showed).
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

// The text of the order's row in the main page ("(none)" when it is not drawn).
QString rowText(const tw::sandbox::Order &order)
{
    return QString::fromStdString(
        "(function () { var rows = document.querySelectorAll('#TransactionsTable tr[ItemID]');"
        "  for (var i = 0; i < rows.length; ++i)"
        "    if (rows[i].getAttribute('ItemID') === '" +
        order.itemId + "' && rows[i].getAttribute('TransactionID') === '" + order.transactionId +
        "') return rows[i].innerText;"
        "  return '(none)'; })()");
}

// Runs `script` in the page after the evaluation has answered, as a click would.
void later(DevTools &devTools, const QString &urlPart, const QString &script)
{
    devTools.evaluate(urlPart, "setTimeout(function () { " + script + " }, 0); true");
}

// Draws `view` again through its command link and waits until the drawing
// has replaced every row there was.
void display(DevTools &devTools, const QString &view)
{
    devTools.evaluate(kMain, "Array.prototype.forEach.call(document.querySelectorAll('#TransactionsTable tr[ItemID]'),"
                             " function (r) { r.setAttribute('data-stale', '1'); }); true");
    later(devTools, kMain, "location.href = 'http://plinthway/?Action=Display" + view + "';");
    settle(devTools, kMain, "document.querySelectorAll('#TransactionsTable tr[data-stale]').length",
           [](const QString &a) { return a == "0"; });
}

void writeSettings(const TempDir &dir, const tw::sandbox::Sandbox &sb, const std::string &mode)
{
    std::filesystem::create_directories(dir / "data");
    tw::test::writeFile(dir / "data" / "Settings.xml",
                        std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?><Settings><eBayID>") +
                            sb.state().sellerId + "</eBayID><eBayAuthToken>" + tw::sandbox::kDemoToken +
                            "</eBayAuthToken><LastGetSellerTransactions/><GetSellerTransactionsMaxDays>28"
                            "</GetSellerTransactionsMaxDays><PaypalAPIUser>" +
                            tw::sandbox::kPaypalUser + "</PaypalAPIUser><PaypalAPIPassword>" +
                            tw::sandbox::kPaypalPassword + "</PaypalAPIPassword><PaypalAPISignature>" +
                            (mode == "Signature" ? tw::sandbox::kPaypalSignature : "") +
                            "</PaypalAPISignature><PaypalAPIAuthMode>" + mode +
                            "</PaypalAPIAuthMode><FlagPostageDifferences>True</FlagPostageDifferences></Settings>");
}

// The view an order landed in after the download.
QString viewOf(const TempDir &dir, const tw::sandbox::Order &order)
{
    tw::xml::Document doc = tw::xml::Document::load(dir / "data" / "Transactions.xml");
    tw::xml::Node t = doc.select("Transactions/Transaction[Item/ItemID=$i and TransactionID=$t]",
                                 {{"i", order.itemId}, {"t", order.transactionId}});
    if (!t.select("ShippedTime")) return "NotShipped";
    const std::string status = t.select("KORVA/ShipmentStatus").text();
    return status == "Delivered" ? "DeliveredNeedsFollowUp" : status == "Shipped" ? "InTransit" : "(unknown)";
}

// The GetTransactionDetails requests for one payment, and whether they came over TLS.
std::vector<tw::sandbox::LoggedRequest> detailsAsked(const tw::sandbox::Sandbox &sb, const std::string &paypalId)
{
    std::vector<tw::sandbox::LoggedRequest> out;
    for (const auto &r : sb.requests("GetTransactionDetails"))
        if (r.body.find("&TRANSACTIONID=" + paypalId) != std::string::npos) out.push_back(r);
    return out;
}

// Every text the overlay shows from now on, in the page's window.twOverlay:
// it is hidden again by the time the drawing has ended.
const QString kRecordOverlay =
    "window.twOverlay = [];"
    "new MutationObserver(function () {"
    "  var o = document.getElementById('ProcessingElement');"
    "  if (o && window.twOverlay[window.twOverlay.length - 1] !== o.textContent) window.twOverlay.push(o.textContent);"
    "}).observe(document.body, {childList: true, subtree: true, characterData: true}); 'recording'";

// Starts the program on `dir`, downloads, and waits for the drawing after it.
struct Downloaded {
    Downloaded(const TempDir &dir, const tw::sandbox::Sandbox &sb, const std::string &ini, int port)
        : app(dir, {ini, "", port}), devTools(port)
    {
        EXPECT_TRUE(app.next("page").endsWith(kMain)) << app.output().toStdString();
        EXPECT_TRUE(waitFor([&] { return !sb.requests("GeteBayOfficialTime").empty(); }));
        EXPECT_EQ(settle(devTools, kMain, "document.querySelectorAll('#TransactionsTable tr[ItemID]').length",
                         [](const QString &a) { return a == "0"; }),
                  "0");
        EXPECT_EQ(valueOf(devTools.evaluate(kMain, kRecordOverlay)), "recording");
        app.send("click cmdDownloadOrders");
        EXPECT_TRUE(waitFor([&] { return !sb.requests("TrackV2").empty(); }, 60000)) << app.output().toStdString();
        // The redraw after the download draws the Delivered view.
        EXPECT_NE(settle(devTools, kMain, "document.querySelectorAll('#TransactionsTable tr[ItemID]').length",
                         [](const QString &a) { return a.toInt() > 0; }),
                  "0");
    }
    Tidewell app;
    DevTools devTools;
};

// The RefundTransaction requests for one payment.
std::vector<tw::sandbox::LoggedRequest> refundsOf(const tw::sandbox::Sandbox &sb, const std::string &paypalId)
{
    std::vector<tw::sandbox::LoggedRequest> out;
    for (const auto &r : sb.requests("RefundTransaction"))
        if (r.body.find("&TRANSACTIONID=" + paypalId + "&") != std::string::npos) out.push_back(r);
    return out;
}

// Draws the order's view, follows its Refund link and waits for the form
// filled with its payment.
void openRefundForm(Tidewell &app, DevTools &devTools, const TempDir &dir, const tw::sandbox::Order &order)
{
    display(devTools, viewOf(dir, order));
    ASSERT_TRUE(settle(devTools, kMain, rowText(order), [](const QString &a) {
                    return a.contains("(Overcharged)") && a.contains("PayPal payment $");
                }).contains("(Overcharged)"));
    later(devTools, kMain,
          QString::fromStdString("var rows = document.querySelectorAll('#TransactionsTable tr[ItemID]');"
                                 "for (var i = 0; i < rows.length; ++i)"
                                 "  if (rows[i].getAttribute('ItemID') === '" +
                                 order.itemId + "' && rows[i].getAttribute('TransactionID') === '" +
                                 order.transactionId +
                                 "') location.href = rows[i].querySelector('a[href*=\"DisplayPaypalRefundForm\"]')"
                                 ".href;"));
    ASSERT_TRUE(app.nextContaining("page", kForm).endsWith(kForm)) << app.output().toStdString();
    const QString id = QString::fromStdString(order.paypalTransactionId);
    ASSERT_TRUE(settle(devTools, kForm, "document.getElementById('topleft_td').innerText", [&](const QString &a) {
                    return a.contains(id);
                }).contains(id));
}

TEST(EndToEndPaypal, PaymentsInTheRowsPendingAskedAgainAndARefundFromTheOverchargedLink)
{
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    const auto &paypal = sb.state().paypal;
    const tw::sandbox::Order *overcharged = nullptr;
    const tw::sandbox::PaypalPayment *pending = nullptr;
    for (const auto &o : sb.state().orders) {
        if (o.paymentMethod != "PayPal") continue;
        const auto &p = paypal.at(o.paypalTransactionId);
        if (!overcharged && o.isShipped() && o.shippingCost >= 2 && p.pendingFetches == 0 && p.refunds.empty())
            overcharged = &o;
        if (!pending && p.pendingFetches > 0) pending = &p;
    }
    ASSERT_TRUE(overcharged && pending);
    const tw::sandbox::Order &pendingOrder = sb.state().orders[size_t(pending->order)];
    const std::string refund = "0.75";
    writeSettings(dir, sb, "Signature");
    tw::test::writeFile(dir / "data" / "ShippingLabels.xml",
                        "<?xml version=\"1.0\" encoding=\"utf-8\"?><ShippingLabels><ShippingLabel><PackingList><Item>"
                        "<ItemID>" +
                            overcharged->itemId + "</ItemID><TransactionID>" + overcharged->transactionId +
                            "</TransactionID></Item></PackingList><Carrier>USPS</Carrier><Postage>" +
                            money(overcharged->shippingCost - 0.75) + "</Postage></ShippingLabel></ShippingLabels>");

    Downloaded run(dir, sb, sb.config().toIni(), freePort());
    Tidewell &app = run.app;
    DevTools &devTools = run.devTools;

    // Every PayPal order of the view shows its payment after that first drawing.
    tw::xml::Document orders = tw::xml::Document::load(dir / "data" / "Transactions.xml");
    const auto delivered =
        orders.selectAll("Transactions/Transaction[KORVA/ShipmentStatus='Delivered' and Status/PaymentMethodUsed="
                         "'PayPal' and ExternalTransaction/ExternalTransactionID!='']");
    ASSERT_FALSE(delivered.empty());
    const QString paymentRows = "Array.prototype.filter.call(document.querySelectorAll('#TransactionsTable "
                                "tr[ItemID]'), function (r) { return r.innerText.indexOf('PayPal payment $') >= 0; "
                                "}).length";
    EXPECT_EQ(
        settle(devTools, kMain, paymentRows, [&](const QString &a) { return a.toInt() == int(delivered.size()); }),
        QString::number(delivered.size()))
        << app.output().toStdString();
    // ... and the store holds them, saved.
    EXPECT_TRUE(waitFor([&] {
        tw::xml::Document saved = tw::xml::Document::load(dir / "data" / "Transactions.xml");
        return saved
                   .selectAll("Transactions/Transaction[KORVA/ShipmentStatus='Delivered' and "
                              "PaypalTransaction/TRANSACTIONID!='']")
                   .size() == delivered.size();
    }));

    // The pending payment: asked again at each drawing of its view until
    // PayPal says Completed, then no more.
    const QString pendingView = viewOf(dir, pendingOrder);
    ASSERT_NE(pendingView, "(unknown)");
    QString text;
    for (int drawing = 0; drawing < 4; ++drawing) {
        const size_t before = detailsAsked(sb, pending->transactionId).size();
        const bool wasPending = text.isEmpty() || text.contains("(Pending)");
        display(devTools, pendingView);
        text = valueOf(devTools.evaluate(kMain, rowText(pendingOrder)));
        ASSERT_TRUE(text.contains("PayPal payment $")) << text.toStdString();
        EXPECT_EQ(detailsAsked(sb, pending->transactionId).size(), before + (wasPending ? 1 : 0)) << drawing;
        if (!wasPending) break;
        EXPECT_EQ(text.contains("(Pending)"), detailsAsked(sb, pending->transactionId).size() <= 2)
            << text.toStdString();
    }
    EXPECT_FALSE(text.contains("(Pending)")) << text.toStdString();
    EXPECT_EQ(detailsAsked(sb, pending->transactionId).size(), 3u);

    // The overcharged order's refund link opens the form with the difference.
    ASSERT_NO_FATAL_FAILURE(openRefundForm(app, devTools, dir, *overcharged));
    EXPECT_EQ(settle(devTools, kForm, "document.getElementById('AMT').value",
                     [&](const QString &a) { return a == QString::fromStdString(refund); }),
              QString::fromStdString(refund));

    auto sendWith = [&](const std::string &amount) {
        later(devTools, kForm,
              QString::fromStdString("document.getElementById('AMT').value = '" + amount +
                                     "'; document.getElementById('PaypalRefund').click();"));
    };
    const QString buttonUsable = "document.getElementById('PaypalRefund').disabled ? 'disabled' : 'usable'";

    // Letters: asked for an amount, nothing sent, the button usable again.
    sendWith("abc");
    EXPECT_EQ(app.next("dialog"), "PayPal Refund | Please enter an amount.");
    EXPECT_EQ(settle(devTools, kForm, buttonUsable, [](const QString &a) { return a == "usable"; }), "usable");
    EXPECT_TRUE(sb.requests("RefundTransaction").empty());

    // More than was paid: PayPal refuses, the form stays.
    sendWith("9999.00");
    EXPECT_EQ(app.next("dialog"), "PayPal Refund | Refund failed.");
    EXPECT_EQ(settle(devTools, kForm, buttonUsable, [](const QString &a) { return a == "usable"; }), "usable");
    ASSERT_EQ(sb.requests("RefundTransaction").size(), 1u);
    EXPECT_NE(sb.requests("RefundTransaction")[0].response.find("ACK=Failure"), std::string::npos);
    EXPECT_EQ(valueOf(devTools.evaluate(kForm, "location.pathname")), "/korva/paypalrefundform.html");

    // The difference: refunded, the details dropped and fetched again at the
    // next drawing, which shows the refund.
    const size_t askedBefore = detailsAsked(sb, overcharged->paypalTransactionId).size();
    sendWith(refund);
    ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain)) << app.output().toStdString();
    ASSERT_EQ(sb.requests("RefundTransaction").size(), 2u);
    EXPECT_NE(sb.requests("RefundTransaction")[1].response.find("ACK=Success"), std::string::npos);
    EXPECT_NE(sb.requests("RefundTransaction")[1].body.find("&AMT=0%2E75&"), std::string::npos);
    ASSERT_TRUE(waitFor([&] { return detailsAsked(sb, overcharged->paypalTransactionId).size() == askedBefore + 1; }));
    EXPECT_TRUE(settle(devTools, kMain, rowText(*overcharged), [](const QString &a) {
                    return a.contains("(Partially-Refunded)");
                }).contains("(Partially-Refunded)"));
    EXPECT_TRUE(waitFor([&] {
        tw::xml::Document saved = tw::xml::Document::load(dir / "data" / "Transactions.xml");
        return saved
            .select("Transactions/Transaction[Item/ItemID=$i and TransactionID=$t]/PaypalTransaction"
                    "[PAYMENTSTATUS='Partially-Refunded' and TOTALREFUNDEDAMOUNT='0.75']",
                    {{"i", overcharged->itemId}, {"t", overcharged->transactionId}})
            .isElement();
    }));
    EXPECT_EQ(app.output().indexOf(tw::sandbox::kPaypalPassword), -1);
    EXPECT_EQ(app.output().indexOf(tw::sandbox::kPaypalSignature), -1);
}

// A refund goes to PayPal once: a double click on Send sends one, a refund
// answered SuccessWithWarning counts as made, and one whose answer is cut off
// cannot be sent again from the form; what the row shows next is PayPal's word.
TEST(EndToEndPaypal, ARefundIsSentOnceWhateverItsAnswer)
{
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    std::vector<const tw::sandbox::Order *> overcharged;
    for (const auto &o : sb.state().orders) {
        if (o.paymentMethod != "PayPal" || !o.isShipped() || o.shippingCost < 2) continue;
        const auto &p = sb.state().paypal.at(o.paypalTransactionId);
        if (p.pendingFetches == 0 && p.refunds.empty() && overcharged.size() < 2) overcharged.push_back(&o);
    }
    ASSERT_EQ(overcharged.size(), 2u);
    writeSettings(dir, sb, "Signature");
    std::string labels = "<?xml version=\"1.0\" encoding=\"utf-8\"?><ShippingLabels>";
    for (const tw::sandbox::Order *o : overcharged)
        labels += "<ShippingLabel><PackingList><Item><ItemID>" + o->itemId + "</ItemID><TransactionID>" +
                  o->transactionId + "</TransactionID></Item></PackingList><Carrier>USPS</Carrier><Postage>" +
                  money(o->shippingCost - 0.75) + "</Postage></ShippingLabel>";
    tw::test::writeFile(dir / "data" / "ShippingLabels.xml", labels + "</ShippingLabels>");

    Downloaded run(dir, sb, sb.config().toIni(), freePort());
    Tidewell &app = run.app;
    DevTools &devTools = run.devTools;
    const QString refunded = "(Partially-Refunded)";

    // Send clicked twice in quick succession (the second click lands as the
    // program starts on the first), PayPal answering with a warning: one
    // refund, taken as made, and the view shows PayPal's word on it.
    const tw::sandbox::Order &first = *overcharged[0];
    ASSERT_NO_FATAL_FAILURE(openRefundForm(app, devTools, dir, first));
    sb.injectFault({.call = "RefundTransaction", .kind = tw::sandbox::FaultKind::AckWarning});
    later(devTools, kForm,
          "var b = document.getElementById('PaypalRefund');"
          "new MutationObserver(function (changes, observer) {"
          "  var o = document.getElementById('ProcessingElement');"
          "  if (!o || o.textContent.indexOf('Refunding Payment') < 0) return;"
          "  observer.disconnect(); b.click();"
          "}).observe(document.body, {childList: true, subtree: true, characterData: true});"
          "b.click();");
    ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain)) << app.output().toStdString();
    ASSERT_EQ(refundsOf(sb, first.paypalTransactionId).size(), 1u);
    EXPECT_NE(refundsOf(sb, first.paypalTransactionId)[0].response.find("ACK=SuccessWithWarning"), std::string::npos);
    EXPECT_TRUE(settle(devTools, kMain, rowText(first), [&](const QString &a) {
                    return a.contains(refunded);
                }).contains(refunded));
    // The second click was refused, not run after the first.
    EXPECT_EQ(app.output().count("action: PaypalRefundSend\n"), 1) << app.output().toStdString();
    EXPECT_EQ(app.output().count("overlay: Refunding Payment\n"), 1) << app.output().toStdString();
    EXPECT_EQ(app.output().indexOf("dialog: PayPal Refund"), -1) << app.output().toStdString();
    EXPECT_EQ(refundsOf(sb, first.paypalTransactionId).size(), 1u);

    // The answer cut off halfway (PayPal made the refund): the seller is told
    // it may have been made, and Send again sends nothing.
    const tw::sandbox::Order &second = *overcharged[1];
    ASSERT_NO_FATAL_FAILURE(openRefundForm(app, devTools, dir, second));
    sb.injectFault({.call = "RefundTransaction", .kind = tw::sandbox::FaultKind::Truncated});
    const QString send = "document.getElementById('PaypalRefund').click();";
    later(devTools, kForm, send);
    // The status comes first, then the box.
    EXPECT_NE(app.nextContaining("status", "may have been made", 60000), "") << app.output().toStdString();
    EXPECT_EQ(app.next("dialog"), "PayPal Refund | Refund failed.");
    ASSERT_EQ(refundsOf(sb, second.paypalTransactionId).size(), 1u);
    EXPECT_EQ(settle(devTools, kForm, "document.getElementById('PaypalRefund').disabled ? 'disabled' : 'usable'",
                     [](const QString &a) { return a == "usable"; }),
              "usable");
    later(devTools, kForm, send);
    EXPECT_EQ(app.next("dialog", 60000), "PayPal Refund | We cannot locate the Paypal Transaction for this refund.  "
                                         "The refund will not be issued.");
    EXPECT_EQ(refundsOf(sb, second.paypalTransactionId).size(), 1u);
    later(devTools, kForm, "document.getElementById('CancelPaypalRefund').click();");
    ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain)) << app.output().toStdString();
    EXPECT_TRUE(settle(devTools, kMain, rowText(second), [&](const QString &a) {
                    return a.contains(refunded);
                }).contains(refunded));
    EXPECT_EQ(refundsOf(sb, second.paypalTransactionId).size(), 1u);
}

TEST(EndToEndPaypal, CertificateModeOverTlsWithAndWithoutTheClientCertificate)
{
    TempDir certificates;
    tw::sandbox::TlsFiles files;
    std::string error;
    ASSERT_TRUE(tw::sandbox::makeTestCertificates(certificates.path(), &files, &error)) << error;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    ASSERT_TRUE(sb.startTls(files, 0, &error)) << error;

    {
        TempDir dir;
        writeSettings(dir, sb, "Certificate");
        Downloaded run(dir, sb, sb.config().toIni(), freePort());
        const QString paymentRows = "Array.prototype.filter.call(document.querySelectorAll('#TransactionsTable "
                                    "tr[ItemID]'), function (r) { return r.innerText.indexOf('PayPal payment $') >= "
                                    "0; }).length";
        EXPECT_NE(settle(run.devTools, kMain, paymentRows, [](const QString &a) { return a.toInt() > 0; }), "0")
            << run.app.output().toStdString();
        const auto asked = sb.requests("GetTransactionDetails");
        ASSERT_FALSE(asked.empty());
        for (const auto &r : asked) {
            EXPECT_EQ(r.target, "/nvp");
            EXPECT_FALSE(r.clientCertificate.empty());
            EXPECT_EQ(r.body.find("SIGNATURE"), std::string::npos);
        }
        EXPECT_EQ(run.app.output().indexOf(kCertificateMissing), -1);
        EXPECT_EQ(run.app.output().indexOf(tw::sandbox::kPaypalPassword), -1);
    }

    sb.clearLog();
    TempDir dir;
    writeSettings(dir, sb, "Certificate");
    tw::Config without = sb.config();
    without.set("paypal/ClientCertificate", "");
    Downloaded run(dir, sb, without.toIni(), freePort());
    EXPECT_NE(run.app.nextContaining("status", kCertificateMissing), "") << run.app.output().toStdString();
    const QString overlays = valueOf(run.devTools.evaluate(kMain, "window.twOverlay.join('|')"));
    EXPECT_TRUE(overlays.contains(kCertificateMissing)) << overlays.toStdString();
    EXPECT_TRUE(sb.requests("GetTransactionDetails").empty());
    EXPECT_EQ(run.app.output().indexOf(tw::sandbox::kPaypalPassword), -1);
    tw::xml::Document saved = tw::xml::Document::load(dir / "data" / "Transactions.xml");
    EXPECT_TRUE(saved.selectAll("//PaypalTransaction").empty());
}

} // namespace
