// Options and messages to buyers on the real program: the options page
// saved and opened again, e-mail to tagged buyers through a real SMTP server
// (python3-aiosmtpd), and eBay's contact page against the sandbox.

#include "platform/xml.h"
#include "tests/e2e/harness.h"
#include "tests/net/smtp_sink.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace tw::e2e;
using tw::test::TempDir;

const QString kMain = "/KORVA/main-1.0.47.html";
const QString kSettings = "/KORVA/settings.html";
const QString kCompose = "/KORVA/ComposeEmail.html";

QString valueOf(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object()["value"].toString();
}

// The page's answer to `expression` as a string, "(busy)" while the
// overlay shows.
QString idleValue(DevTools &devTools, const QString &page, const QString &expression)
{
    return valueOf(devTools.evaluate(page,
                                     "(function () { var o = document.getElementById('ProcessingElement');"
                                     "  if (o && o.style.visibility !== 'hidden') return '(busy)';"
                                     "  return String(" +
                                         expression + "); })()",
                                     5000));
}

// The answer once the page is idle and it is `expected`; the last answer
// after the time-out.
QString settle(DevTools &devTools, const QString &page, const QString &expression, const QString &expected,
               int ms = 30000)
{
    QString answer;
    waitFor(
        [&] {
            answer = idleValue(devTools, page, expression);
            return answer == expected;
        },
        ms);
    return answer;
}

// Whether `expression` has a value once the page is idle, within `ms`.
bool filled(DevTools &devTools, const QString &page, const QString &expression, int ms = 30000)
{
    return waitFor(
        [&] {
            const QString answer = idleValue(devTools, page, expression);
            return !answer.isEmpty() && answer != "(busy)";
        },
        ms);
}

// The main page drawn to its end: its menu is there and the overlay gone.
bool drawn(DevTools &devTools)
{
    return settle(devTools, kMain, "document.getElementById('submenu').innerHTML.length > 0", "true") == "true";
}

// Follows a command link from `page`, as a click on it would.
void command(DevTools &devTools, const QString &page, const QString &query)
{
    devTools.evaluate(page, "setTimeout(function () { location.href = 'http://plinthway/?" + query + "'; }, 0); true");
}

size_t count(const TempDir &dir, const char *file, const char *xpath)
{
    const tw::xml::Document doc = tw::xml::Document::load(dir / "data" / file);
    return doc.selectAll(xpath).size();
}

std::string settingsFile(const tw::sandbox::Sandbox &sb, const std::string &more)
{
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?><Settings><eBayID>") + sb.state().sellerId +
           "</eBayID><eBayAuthToken>" + tw::sandbox::kDemoToken +
           "</eBayAuthToken><LastGetSellerTransactions/><GetSellerTransactionsMaxDays>28"
           "</GetSellerTransactionsMaxDays>" +
           more + "</Settings>";
}

// The text of the first node `xpath` selects, `fallback` when none does.
std::string textOf(const tw::xml::Node &context, const std::string &xpath, const std::string &fallback = {},
                   const tw::xml::Vars &vars = {})
{
    tw::xml::Node n = context.select(xpath, vars);
    return n ? n.text() : fallback;
}

QString q(const std::string &s)
{
    return QString::fromStdString(s);
}

TEST(EndToEndOptions, DefaultsSavedAsTypedTwiceWithoutGrowingAndLayoutsKeptWithoutDazzle)
{
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    std::filesystem::create_directories(dir / "data");
    tw::test::writeFile(dir / "data" / "Settings.xml",
                        settingsFile(sb, "<DazzleLayout_FIRST>Mine.lyt</DazzleLayout_FIRST>"));
    const int port = freePort();
    Tidewell app(dir, {sb.config().toIni(), "", port});
    ASSERT_TRUE(app.next("page").endsWith(kMain)) << app.output().toStdString();
    DevTools devTools(port);
    ASSERT_TRUE(drawn(devTools)) << app.output().toStdString();

    app.send("click mnuOptions");
    ASSERT_TRUE(app.nextContaining("page", kSettings).endsWith(kSettings)) << app.output().toStdString();
    auto input = [&](const char *name, const char *property = "value") {
        return QString("document.getElementsByName('%1')[0].%2").arg(name, property);
    };
    EXPECT_EQ(settle(devTools, kSettings, input("SMTPPort"), "25"), "25");
    EXPECT_EQ(
        settle(devTools, kSettings, input("DazzleExePath"), "C:\\Program Files\\Envelope Manager\\DAZzle\\DAZZLE.EXE"),
        "C:\\Program Files\\Envelope Manager\\DAZzle\\DAZZLE.EXE");
    EXPECT_EQ(settle(devTools, kSettings, input("InsuredMail"), "OFF"), "OFF");
    EXPECT_EQ(settle(devTools, kSettings, input("PaypalAPIAuthMode"), "Signature"), "Signature");
    EXPECT_EQ(settle(devTools, kSettings, input("DefaultBrowser", "checked"), "true"), "true");
    EXPECT_EQ(settle(devTools, kSettings, input("Stealth", "checked"), "false"), "false");
    EXPECT_EQ(settle(devTools, kSettings,
                     "document.getElementById('SettingsTable').innerText.indexOf('Please update the path to "
                     "Dazzle.exe') >= 0",
                     "true"),
              "true");

    // The seller types, empties the port and saves.
    devTools.evaluate(kSettings, input("SMTPServer") + " = ' mail.example.com'; " + input("SMTPPort") + " = ''; " +
                                     input("Stealth", "checked") + " = true; true");
    command(devTools, kSettings, "Action=SaveSettings&Button=Save+Settings");
    EXPECT_EQ(app.nextContaining("status", "Settings").toStdString(), "Settings saved.");
    ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain));
    tw::xml::Document saved = tw::xml::Document::load(dir / "data" / "Settings.xml");
    EXPECT_EQ(textOf(saved.node(), "Settings/SMTPServer"), " mail.example.com");
    EXPECT_TRUE(saved.select("Settings/SMTPPort"));
    EXPECT_EQ(textOf(saved.node(), "Settings/SMTPPort", "(missing)"), "");
    EXPECT_EQ(textOf(saved.node(), "Settings/Stealth"), "True");
    EXPECT_EQ(textOf(saved.node(), "Settings/DazzleLayout_FIRST"), "Mine.lyt");
    EXPECT_FALSE(saved.select("Settings/DazzleLayout_PRIORITY"));
    const size_t elements = count(dir, "Settings.xml", "Settings/*");
    const std::string once = tw::test::readFile(dir / "data" / "Settings.xml");

    // Opened again: the emptied port stays empty; saved again: nothing grows.
    ASSERT_TRUE(drawn(devTools));
    app.send("click mnuOptions");
    ASSERT_TRUE(app.nextContaining("page", kSettings).endsWith(kSettings));
    EXPECT_EQ(settle(devTools, kSettings, input("SMTPServer"), " mail.example.com"), " mail.example.com");
    EXPECT_EQ(settle(devTools, kSettings, input("SMTPPort"), ""), "");
    command(devTools, kSettings, "Action=SaveSettings&Button=Save+Settings");
    EXPECT_EQ(app.nextContaining("status", "Settings").toStdString(), "Settings saved.");
    ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain));
    EXPECT_EQ(count(dir, "Settings.xml", "Settings/*"), elements);
    EXPECT_EQ(tw::test::readFile(dir / "data" / "Settings.xml"), once);

    // Cancel saves nothing; the certificate instructions open outside.
    ASSERT_TRUE(drawn(devTools));
    app.send("click mnuOptions");
    ASSERT_TRUE(app.nextContaining("page", kSettings).endsWith(kSettings));
    ASSERT_EQ(settle(devTools, kSettings, input("SMTPPort"), ""), "");
    devTools.evaluate(kSettings, input("SMTPServer") + " = 'changed.example.com'; "
                                                       "setTimeout(function () { Array.prototype.filter.call("
                                                       "document.links, function (a) { return a.innerText === "
                                                       "'Certificate Instructions'; })[0].click(); }, 0); true");
    EXPECT_EQ(app.next("open").toStdString(), sb.config().get("web/CertificatePage"));
    command(devTools, kSettings, "Action=SaveSettings&Button=Cancel");
    ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain));
    EXPECT_EQ(tw::test::readFile(dir / "data" / "Settings.xml"), once);
}

// Four orders of the sandbox made unshipped and paid in a known order: the
// first two for one buyer, then one whose mailbox the server refuses at
// RCPT TO and one it refuses after the data.
struct MailOrders {
    std::vector<const tw::sandbox::Order *> orders;
    std::string buyer;
};

MailOrders prepareOrders(tw::sandbox::Sandbox &sb)
{
    auto &state = sb.state();
    MailOrders out;
    std::vector<int> picked;
    std::set<int> buyers;
    // Recent ones, well inside the days a download asks for.
    const tw::DateTime recent = sb.ebayNow().addDays(-20);
    for (int i = 0; i < int(state.orders.size()) && picked.size() < 4; ++i)
        if (recent < state.orders[size_t(i)].modified && buyers.insert(state.orders[size_t(i)].buyer).second)
            picked.push_back(i);
    if (picked.size() < 4) return out;
    const int first = state.orders[size_t(picked[0])].buyer;
    state.orders[size_t(picked[1])].buyer = first;
    state.buyers[size_t(first)].email = "anna@example.com";
    state.buyers[size_t(state.orders[size_t(picked[2])].buyer)].email = "nobody@example.com";
    state.buyers[size_t(state.orders[size_t(picked[3])].buyer)].email = "reject@example.com";
    const tw::DateTime now = sb.ebayNow();
    for (size_t k = 0; k < picked.size(); ++k) {
        tw::sandbox::Order &o = state.orders[size_t(picked[k])];
        o.paid = now.addSecs(-3600 * int(k + 1));
        o.shipped = tw::DateTime();
        o.trackingNumber.clear();
        o.shippingServiceUsed.clear();
        o.carrierUsed.clear();
        out.orders.push_back(&o);
    }
    state.reindex();
    out.buyer = state.buyers[size_t(first)].userId;
    return out;
}

QString row(const tw::sandbox::Order *o)
{
    return q("#TransactionsTable tr[ItemID=\"" + o->itemId + "\"][TransactionID=\"" + o->transactionId + "\"]");
}

void tag(DevTools &devTools, std::initializer_list<const tw::sandbox::Order *> orders)
{
    QString js;
    for (const auto *o : orders)
        js += "document.querySelector('" + row(o) + " input[name=\"tagged\"]').checked = true; ";
    devTools.evaluate(kMain, js + "true");
}

TEST(EndToEndSmtp, TaggedOrdersOfOneBuyerComposedSentRecordedAndShownAndRefusalsStopTheRun)
{
    tw::test::SmtpSink sink;
    const std::string problem = sink.start();
    ASSERT_TRUE(problem.empty()) << problem;
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    const MailOrders mail = prepareOrders(sb);
    ASSERT_EQ(mail.orders.size(), 4u);
    // One paragraph of some 1,250 characters (longer than a line may be on
    // the wire), with text beyond ASCII.
    std::string paragraph;
    while (paragraph.size() < 1300)
        paragraph += "Zo\u00eb \u00bd: thanks for your order, it leaves today. ";
    std::filesystem::create_directories(dir / "data");
    tw::test::writeFile(dir / "data" / "Settings.xml",
                        settingsFile(sb, "<LastTab>NotShipped</LastTab><SMTPServer>127.0.0.1</SMTPServer><SMTPPort>" +
                                             std::to_string(sink.port()) +
                                             "</SMTPPort><SMTPFrom>Corner Shop &lt;shop@corner.example&gt;</SMTPFrom>"
                                             "<NotShippedMessage>Hello {Buyer/UserID}, about {Item/Title} "
                                             "({Item/ItemID}). " +
                                             paragraph +
                                             "</NotShippedMessage>"
                                             "<ArchivedMessage>Archived: {Item/ItemID}</ArchivedMessage>"));
    const int port = freePort();
    const std::string ini = sb.config().toIni();
    const auto *o0 = mail.orders[0], *o1 = mail.orders[1], *nobody = mail.orders[2], *reject = mail.orders[3];
    {
        Tidewell app(dir, {ini, "", port});
        ASSERT_TRUE(app.next("page").endsWith(kMain)) << app.output().toStdString();
        DevTools devTools(port);
        ASSERT_TRUE(drawn(devTools)) << app.output().toStdString();
        app.send("click cmdDownloadOrders");
        ASSERT_TRUE(waitFor(
            [&] {
                return !sb.requests("GetFeedback").empty() &&
                       count(dir, "Transactions.xml", "//Transaction[KORVA]") > 0;
            },
            30000))
            << app.output().toStdString();
        for (const auto *o : mail.orders)
            ASSERT_EQ(settle(devTools, kMain, "!!document.querySelector('" + row(o) + "')", "true"), "true")
                << o->itemId;

        // Two orders of one buyer, composed and sent with a copy to the seller.
        tag(devTools, {o0, o1});
        command(devTools, kMain, "Action=SendSMTPTemplateMessage");
        ASSERT_TRUE(app.nextContaining("page", kCompose).endsWith(kCompose)) << app.output().toStdString();
        const QString to = q("<" + mail.buyer + "> <" + mail.buyer + "> ");
        ASSERT_EQ(settle(devTools, kCompose, "document.getElementById('To').value", to), to);
        EXPECT_EQ(
            settle(devTools, kCompose, "document.getElementById('From').value", "<Corner Shop <shop@corner.example>> "),
            "<Corner Shop <shop@corner.example>> ");
        devTools.evaluate(kCompose, "document.getElementById('cc').checked = true;"
                                    "document.getElementById('Subject').value += ' Zo\u00eb \u00bd'; true");
        command(devTools, kCompose, "Action=SMTPSend");
        EXPECT_EQ(app.nextContaining("status", "Sending").toStdString(), "Sending 1 of 2");
        EXPECT_EQ(app.nextContaining("status", "Sending").toStdString(), "Sending 2 of 2");
        ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain)) << app.output().toStdString();
        ASSERT_EQ(sink.count(), 2);
        for (int n : {1, 2}) {
            const auto *o = n == 1 ? o0 : o1;
            QJsonObject m = sink.received(n);
            EXPECT_EQ(m["body"].toString().toStdString(),
                      "Hello " + mail.buyer + ", about " + o->title + " (" + o->itemId + "). " + paragraph + "\r\n");
            auto headers = tw::test::SmtpSink::headers(m);
            EXPECT_NE(std::find(headers.begin(), headers.end(),
                                std::pair<std::string, std::string>{"Subject", "re: eBay Item " + o->itemId + " - " +
                                                                                   o->title + " Zo\u00eb \u00bd"}),
                      headers.end());
            // On the wire: short lines of 7-bit text.
            const std::string raw = sink.raw(n);
            for (size_t at = 0, nl; (nl = raw.find('\n', at)) != std::string::npos; at = nl + 1)
                EXPECT_LE(nl - at, 78u) << raw.substr(at, nl - at);
            EXPECT_TRUE(std::all_of(raw.begin(), raw.end(), [](char c) { return (c & 0x80) == 0; })) << raw;
            EXPECT_NE(std::find(headers.begin(), headers.end(),
                                std::pair<std::string, std::string>{"Cc", "Corner Shop <shop@corner.example>"}),
                      headers.end());
            EXPECT_EQ(tw::test::SmtpSink::recipients(m),
                      (std::vector<std::string>{"anna@example.com", "shop@corner.example"}));
        }
        EXPECT_EQ(count(dir, "SentMessages.xml", "Messages/Message[MessageSystem='SMTP']"), 2u);

        // 550 at RCPT TO: the order before it is sent and recorded, a box says why.
        ASSERT_TRUE(drawn(devTools));
        tag(devTools, {o0, nobody});
        command(devTools, kMain, "Action=SendSMTPTemplateMessage");
        ASSERT_TRUE(app.nextContaining("page", kCompose).endsWith(kCompose));
        ASSERT_TRUE(filled(devTools, kCompose, "document.getElementById('To').value"));
        command(devTools, kCompose, "Action=SMTPSend");
        const QString refused = app.nextContaining("dialog", "Send SMTP Message");
        EXPECT_TRUE(refused.contains("The command RCPT TO failed.")) << refused.toStdString();
        EXPECT_TRUE(refused.contains("1 message was sent before it")) << refused.toStdString();
        EXPECT_EQ(count(dir, "SentMessages.xml", "Messages/Message[MessageSystem='SMTP']"), 3u);
        EXPECT_EQ(sink.count(), 3);

        // 554 after the data, from the compose page's Cancel back to the view.
        command(devTools, kCompose, "Action=CancelMessage");
        ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain));
        ASSERT_TRUE(drawn(devTools));
        tag(devTools, {o1, reject});
        command(devTools, kMain, "Action=SendSMTPTemplateMessage");
        ASSERT_TRUE(app.nextContaining("page", kCompose).endsWith(kCompose));
        ASSERT_TRUE(filled(devTools, kCompose, "document.getElementById('To').value"));
        command(devTools, kCompose, "Action=SMTPSend");
        const QString rejected = app.nextContaining("dialog", "Send SMTP Message");
        EXPECT_TRUE(rejected.contains("The message was not accepted by the server.")) << rejected.toStdString();
        EXPECT_EQ(count(dir, "SentMessages.xml", "Messages/Message[MessageSystem='SMTP']"), 4u);
        EXPECT_EQ(sink.count(), 4);
        // The program is still there and answers.
        command(devTools, kCompose, "Action=CancelMessage");
        ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain));
    }

    // After a restart the records are there and the rows show them.
    Tidewell again(dir, {ini, "", port});
    ASSERT_TRUE(again.next("page").endsWith(kMain)) << again.output().toStdString();
    DevTools devTools(port);
    EXPECT_EQ(count(dir, "SentMessages.xml", "Messages/Message[MessageSystem='SMTP']"), 4u);
    const QString shown = "document.querySelector('" + row(o0) + "').innerText.split('[SMTP]').length - 1";
    EXPECT_EQ(settle(devTools, kMain, shown, "2"), "2");
    EXPECT_EQ(
        settle(devTools, kMain,
               "document.querySelector('" + row(o1) + "').innerText.indexOf('Hello " + q(mail.buyer) + ", about') >= 0",
               "true"),
        "true");

    // The archived view composes from the archive.
    ASSERT_TRUE(drawn(devTools));
    command(devTools, kMain,
            q("Action=ArchiveTransaction&itemID=" + o0->itemId + "&transactionID=" + o0->transactionId));
    ASSERT_TRUE(waitFor([&] { return count(dir, "ArchivedTransactions.xml", "Transactions/Transaction") == 1; }));
    ASSERT_EQ(settle(devTools, kMain, "!!document.querySelector('" + row(o0) + "')", "false"), "false");
    command(devTools, kMain, "Action=DisplayArchived");
    ASSERT_EQ(settle(devTools, kMain, "document.querySelectorAll('#TransactionsTable tr[ItemID]').length", "1"), "1");
    tag(devTools, {o0});
    command(devTools, kMain, "Action=SendSMTPTemplateMessage");
    ASSERT_TRUE(again.nextContaining("page", kCompose).endsWith(kCompose)) << again.output().toStdString();
    EXPECT_EQ(settle(devTools, kCompose, "document.getElementById('To').value", q("<" + mail.buyer + "> ")),
              q("<" + mail.buyer + "> "));
    EXPECT_EQ(settle(devTools, kCompose, "document.getElementById('Message').value", "Archived: {Item/ItemID}"),
              "Archived: {Item/ItemID}");
    command(devTools, kCompose, "Action=SMTPSend");
    ASSERT_TRUE(again.nextContaining("page", kMain).endsWith(kMain));
    ASSERT_EQ(sink.count(), 5);
    EXPECT_EQ(sink.received(5)["body"].toString().toStdString(), "Archived: " + o0->itemId + "\r\n");
}

TEST(EndToEndContact, ShippedMessageFilledFromTheRowSentOnEbaysPageAndShownAfterTheConfirmation)
{
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    std::filesystem::create_directories(dir / "data");
    tw::test::writeFile(dir / "data" / "Settings.xml",
                        settingsFile(sb, "<LastTab>InTransit</LastTab>"
                                         "<ShippedMessageSubject>Shipped: {Item/Title}</ShippedMessageSubject>"
                                         "<ShippedMessage>Tracking {ShippingDetails/ShipmentTrackingNumber} for "
                                         "{Item/Title}</ShippedMessage>"));
    const int port = freePort();
    Tidewell app(dir, {sb.config().toIni(), "", port});
    ASSERT_TRUE(app.next("page").endsWith(kMain)) << app.output().toStdString();
    DevTools devTools(port);
    ASSERT_TRUE(drawn(devTools)) << app.output().toStdString();
    app.send("click cmdDownloadOrders");
    ASSERT_TRUE(waitFor([&] { return !sb.requests("TrackV2").empty(); }, 30000)) << app.output().toStdString();
    QString rows;
    ASSERT_TRUE(waitFor(
        [&] {
            rows = idleValue(devTools, kMain, "document.querySelectorAll('#TransactionsTable tr[ItemID]').length");
            return rows != "(busy)" && rows.toInt() > 0;
        },
        30000))
        << rows.toStdString();

    // The first row's order, as the store holds it.
    const QString ids = valueOf(devTools.evaluate(
        kMain, "(function () { var r = document.querySelector('#TransactionsTable tr[ItemID]');"
               "  return r ? r.getAttribute('ItemID') + '/' + r.getAttribute('TransactionID') : ''; })()"));
    ASSERT_TRUE(ids.contains('/')) << app.output().toStdString();
    const std::string item = ids.section('/', 0, 0).toStdString(), txn = ids.section('/', 1).toStdString();
    tw::xml::Document stored = tw::xml::Document::load(dir / "data" / "Transactions.xml");
    tw::xml::Node order =
        stored.select("Transactions/Transaction[Item/ItemID=$i and TransactionID=$t]", {{"i", item}, {"t", txn}});
    ASSERT_TRUE(order);
    const std::string title = textOf(order, "Item/Title");
    const std::string number = textOf(order, "ShippingDetails/ShipmentTrackingNumber");
    ASSERT_FALSE(number.empty());

    // Contact Buyer from that row, as the postage pages link it.
    devTools.evaluate(kMain,
                      QString("setTimeout(function () { var a = Array.prototype.filter.call(document.querySelector('") +
                          "#TransactionsTable tr[ItemID]').querySelectorAll('a'), "
                          "function (x) { return x.innerText === 'Contact Buyer'; })[0];"
                          "  a.href = a.href + '&MessageID=Shipped'; a.click(); }, 0); true");
    ASSERT_TRUE(app.nextContaining("page", "ReturnUserEmail").contains("MessageID=Shipped"))
        << app.output().toStdString();
    const QString contact = "ReturnUserEmail";
    EXPECT_EQ(settle(devTools, contact, "document.getElementById('subject').value", q("Shipped: " + title)),
              q("Shipped: " + title));
    EXPECT_EQ(settle(devTools, contact, "document.getElementById('message').value",
                     q("Tracking " + number + " for " + title)),
              q("Tracking " + number + " for " + title));

    // Sent on eBay's page: the confirmation brings the message into the row.
    const size_t before = sb.requests("GetMyMessages").size();
    devTools.evaluate(contact, "setTimeout(function () { document.getElementById('contactForm').submit(); }, 0); true");
    ASSERT_TRUE(waitFor([&] { return sb.requests("GetMyMessages").size() > before; }, 30000))
        << app.output().toStdString();
    ASSERT_TRUE(app.nextContaining("page", kMain).endsWith(kMain)) << app.output().toStdString();
    EXPECT_EQ(settle(devTools, kMain,
                     "document.querySelector('#TransactionsTable tr[ItemID=\"" + q(item) + "\"][TransactionID=\"" +
                         q(txn) + "\"]').innerText.indexOf('Tracking " + q(number) + " for') >= 0",
                     "true"),
              "true");
    tw::xml::Document sent = tw::xml::Document::load(dir / "data" / "SentMessages.xml");
    // The sandbox holds earlier messages about this item too: look for ours.
    EXPECT_TRUE(sent.select("Messages/Message[ItemID=$i and Subject=$s]", {{"i", item}, {"s", "Shipped: " + title}}));
}

} // namespace
