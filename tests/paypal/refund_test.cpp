// The refund form against the sandbox's PayPal, on the recording shell: the
// link opens the form filled for its order, the send checks come in order
// and keep the form, a refund PayPal refuses changes nothing, a good one
// removes the order's details and redraws.
#include "pages/pages.h"
#include "paypal/details.h"
#include "paypal/refund.h"
#include "store/order_index.h"
#include "tests/paypal/paypal_fixture.h"
#include "tests/support/fake_shell.h"

#include <algorithm>
#include <cstdio>

namespace tw::test {
namespace {

const std::string kNs = " xmlns=\"urn:ebay:apis:eBLBaseComponents\"";

std::string money(double amount)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", amount);
    return text;
}

class RefundTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(sb.start());
        setConfig(sb.config());
        session.openStore(dir.path());
        xml::Document &s = session.store.settings();
        settings::set(s, "PaypalAPIUser", sandbox::kPaypalUser);
        settings::set(s, "PaypalAPIPassword", sandbox::kPaypalPassword);
        settings::set(s, "PaypalAPISignature", sandbox::kPaypalSignature);
        settings::set(s, "PaypalAPIAuthMode", "Signature");

        for (const auto &[id, p] : sb.state().paypal)
            if (p.pendingFetches == 0 && p.amount > 5) {
                payment = &p;
                break;
            }
        ASSERT_TRUE(payment);
        // The refunded order (its item id needs decoding from the link), and
        // one beside it whose details must stay.
        session.store.transactions() = xml::Document::parse(
            "<Transactions>" + order("11&2", "7", payment->transactionId, "<b>payer</b>@example.com") +
            order("12", "0", "OTHER00000000000", "other@example.com") + "</Transactions>");
        session.store.doc(store::Doc::ShippingLabels) = xml::Document::parse(
            "<ShippingLabels><ShippingLabel><PackingList><Item><ItemID>11&amp;2</ItemID><TransactionID>7"
            "</TransactionID></Item></PackingList><Postage>3.95</Postage></ShippingLabel></ShippingLabels>");
        ASSERT_TRUE(session.store.save(store::Doc::Transactions));

        paypal::registerRefunds(session, shell, table);
        table.setRedraw([this] { ++redraws; });
        for (const auto &[path, fill] : table.pageFills())
            if (path == paypal::kRefundFormPage) fillForm = fill;
        ASSERT_TRUE(fillForm);
    }
    void TearDown() override { setConfig(Config()); }

    std::string order(const std::string &item, const std::string &txn, const std::string &paypalId,
                      const std::string &email)
    {
        return "<Transaction" + kNs + "><Item><ItemID>" + xml::escape(item) + "</ItemID></Item><TransactionID>" + txn +
               "</TransactionID><ExternalTransaction><ExternalTransactionID>" + paypalId +
               "</ExternalTransactionID></ExternalTransaction><ShippingServiceSelected><ShippingServiceCost>4.50</"
               "ShippingServiceCost>" +
               "</ShippingServiceSelected><PaypalTransaction><TRANSACTIONID>" + paypalId + "</TRANSACTIONID><EMAIL>" +
               xml::escape(email) + "</EMAIL><AMT>" + money(payment->amount) +
               "</AMT><PAYMENTSTATUS>Completed</PAYMENTSTATUS></PaypalTransaction></Transaction>";
    }
    // The form as the browser would have it once loaded.
    void openForm(const std::string &item = "11&2", const std::string &txn = "7")
    {
        ASSERT_TRUE(table.runAction({{"Action", "DisplayPaypalRefundForm"},
                                     {"TransactionID", txn},
                                     {"ItemID", item},
                                     {"PaypalTransactionID", payment->transactionId},
                                     {"Amount", "0.55"}}));
        if (shell.navigations.empty()) return;
        shell.newDocument(shell.navigations.back().first);
        for (const char *id : {"AMT", "NOTE", "PaypalRefund"})
            shell.fake.add("INPUT", id);
        shell.fake.add("SELECT", "REFUNDTYPE");
        shell.fake.add("TD", "topleft_td");
        shell.fake.add("TD", "topright_td");
        shell.fake.el(shell.fake.find("REFUNDTYPE")).props["value"] = "Partial";
        fillForm(shell.fake.address);
    }
    page::Element field(const char *id) { return shell.fake.element(id); }
    void send(const std::string &amount, const std::string &note = {})
    {
        field("AMT").setValue(amount);
        field("NOTE").setValue(note);
        shell.boxes.clear();
        ASSERT_TRUE(table.runAction({{"Action", "PaypalRefundSend"}}));
    }
    std::string storedFile() const { return readFile(session.store.path(store::Doc::Transactions)); }
    size_t refundsAsked() const { return sb.requests("RefundTransaction").size(); }

    sandbox::Sandbox sb;
    const sandbox::PaypalPayment *payment = nullptr;
    TempDir dir;
    Session session;
    FakeShell shell;
    FeatureTable table;
    FeatureTable::PageHandler fillForm;
    int redraws = 0;
};

TEST_F(RefundTest, TheLinkOpensTheFormFilledForItsOrder)
{
    shell.ProcessingImageDisplay("Rendering");
    openForm();
    ASSERT_EQ(shell.navigations.size(), 1u);
    EXPECT_EQ(shell.navigations[0].first, pages::url(paypal::kRefundFormPage));
    EXPECT_EQ(shell.hides, 1);
    // The selection is a copy of the one order.
    ASSERT_TRUE(session.orderSelection);
    EXPECT_EQ(session.orderSelection.root().name(), "Transactions");
    ASSERT_EQ(session.orderSelection.root().elements().size(), 1u);
    EXPECT_EQ(store::childText(session.orderSelection.root().firstElement(), "Item/ItemID"), "11&2");

    EXPECT_EQ(field("AMT").value(), "0.55");
    EXPECT_EQ(field("topleft_td").innerHTML(),
              "<b>Paypal Payment Details</b><BR>Transaction: " + payment->transactionId +
                  "<br>Email: &lt;b&gt;payer&lt;/b&gt;@example.com<br>Amount: $" + money(payment->amount) + "<br>");
    EXPECT_EQ(field("topright_td").innerHTML(), "<b>Shipment Details</b><BR>Shipping Paid: $4.50<br>Cost of Postage: "
                                                "$3.95<br>Difference: $0.55<br>");
    EXPECT_FALSE(field("PaypalRefund").disabled());

    // In private mode the payer's address stays hidden; an order no label
    // packed shows what the buyer paid only.
    settings::set(session.store.settings(), "PrivateMode", "True");
    shell.navigations.clear();
    openForm("12", "0");
    EXPECT_NE(field("topleft_td").innerHTML().find("Email: " + config().get("privacy/PlaceholderEmail") + "<br>"),
              std::string::npos);
    EXPECT_EQ(field("topleft_td").innerHTML().find("other@example.com"), std::string::npos);
    EXPECT_EQ(field("topright_td").innerHTML(), "<b>Shipment Details</b><BR>Shipping Paid: $4.50<br>");

    // An order that is not there: said, and the view stays.
    shell.navigations.clear();
    openForm("99", "0");
    EXPECT_TRUE(shell.navigations.empty());
    EXPECT_EQ(shell.boxes.back().second, "Cannot locate transaction.");
}

TEST_F(RefundTest, ChecksComeInOrderAndAFailureKeepsTheForm)
{
    openForm();
    const std::string before = storedFile();
    for (const char *typed : {"", "  ", "abc", "0", "-1", "1.234", "1e3"}) {
        send(typed);
        ASSERT_EQ(shell.boxes.size(), 1u) << typed;
        EXPECT_EQ(shell.boxes[0], std::make_pair(std::string("PayPal Refund"), std::string("Please enter an amount.")))
            << typed;
        // Usable again, and the overlay gone so the seller can correct it.
        EXPECT_FALSE(field("PaypalRefund").disabled()) << typed;
        EXPECT_FALSE(shell.processingShown()) << typed;
    }
    EXPECT_EQ(shell.overlays.back(), "Refunding Payment");

    // More than is left to refund: PayPal refuses, its reason in the status bar.
    send("9999.00");
    EXPECT_EQ(shell.boxes, (std::vector<std::pair<std::string, std::string>>{{"PayPal Refund", "Refund failed."}}));
    EXPECT_EQ(shell.lastStatus(), "PayPal refund failed: The partial refund amount must be less than or equal to the "
                                  "remaining amount");
    EXPECT_FALSE(field("PaypalRefund").disabled());
    EXPECT_FALSE(shell.processingShown());
    EXPECT_EQ(refundsAsked(), 1u);

    // The order's details gone meanwhile: no PayPal transaction to refund.
    store::findOrder(session.store.transactions(), "11&2", "7").element("PaypalTransaction").remove();
    send("0.55");
    EXPECT_EQ(shell.boxes.back().second,
              "We cannot locate the Paypal Transaction for this refund.  The refund will not be issued.");

    EXPECT_EQ(storedFile(), before);
    EXPECT_EQ(redraws, 0);
    EXPECT_EQ(shell.navigations.size(), 1u); // the form's own
    EXPECT_TRUE(session.orderSelection);
    EXPECT_EQ(refundsAsked(), 1u);

    // No selection (another action replaced it): said, and back to the view.
    session.orderSelection = xml::Document(nullptr);
    send("0.55");
    EXPECT_EQ(shell.boxes.back().second,
              "We cannot locate the Transaction for this refund.  The refund will not be issued.");
    EXPECT_EQ(redraws, 1);
    EXPECT_FALSE(shell.processingShown());
    EXPECT_EQ(refundsAsked(), 1u);
}

TEST_F(RefundTest, AGoodRefundRemovesTheDetailsSavesAndRedraws)
{
    openForm();
    shell.fake.el(shell.fake.find("REFUNDTYPE")).props["value"] = "Partial";
    send(" 0.55 ", "Postage refund & thanks");
    EXPECT_TRUE(shell.boxes.empty()) << shell.boxes[0].second;
    ASSERT_EQ(refundsAsked(), 1u);
    const std::string body = sb.requests("RefundTransaction")[0].body;
    EXPECT_NE(body.find("&TRANSACTIONID=" + payment->transactionId +
                        "&REFUNDTYPE=Partial&AMT=0%2E55&NOTE=Postage+"
                        "refund+%26+thanks"),
              std::string::npos)
        << body;

    // Gone from the order, in memory and in the file; the other order keeps its own.
    xml::Document saved = xml::Document::load(session.store.path(store::Doc::Transactions));
    EXPECT_FALSE(store::findOrder(saved, "11&2", "7").element("PaypalTransaction"));
    EXPECT_FALSE(store::findOrder(session.store.transactions(), "11&2", "7").element("PaypalTransaction"));
    EXPECT_TRUE(store::findOrder(saved, "12", "0").element("PaypalTransaction"));
    EXPECT_FALSE(session.orderSelection);
    EXPECT_FALSE(shell.processingShown());
    EXPECT_EQ(redraws, 1);

    // Fetched again, the details show the refund.
    paypal::clsPaypalAPI api(session.store.settings());
    ASSERT_TRUE(paypal::GetPaypalData(api, shell, session.store.transactions(), "11&2", "7"));
    xml::Node details = store::findOrder(session.store.transactions(), "11&2", "7").element("PaypalTransaction");
    EXPECT_EQ(store::childText(details, "PAYMENTSTATUS"), "Partially-Refunded");
    EXPECT_EQ(store::childText(details, "TOTALREFUNDEDAMOUNT"), "0.55");

    // A cancelled form leaves nothing selected.
    openForm();
    ASSERT_TRUE(session.orderSelection);
    ASSERT_TRUE(table.runAction({{"Action", "CancelPaypalRefund"}}));
    EXPECT_FALSE(session.orderSelection);
    EXPECT_EQ(redraws, 2);
}

TEST_F(RefundTest, ALostAnswerForgetsThePaymentSoItIsNotRefundedTwice)
{
    // PayPal makes the refund, and the connection drops before its answer.
    sb.injectFault({.call = "RefundTransaction", .kind = sandbox::FaultKind::Drop});
    openForm();
    send("0.55");
    EXPECT_EQ(shell.boxes.back().second, "Refund failed.");
    EXPECT_NE(shell.lastStatus().find("The refund may have been made all the same"), std::string::npos)
        << shell.lastStatus();
    xml::Document saved = xml::Document::load(session.store.path(store::Doc::Transactions));
    EXPECT_FALSE(store::findOrder(saved, "11&2", "7").element("PaypalTransaction"));

    // Sent again at once: nothing goes to PayPal.
    send("0.55");
    EXPECT_EQ(shell.boxes.back().second,
              "We cannot locate the Paypal Transaction for this refund.  The refund will not be issued.");
    EXPECT_EQ(refundsAsked(), 1u);

    // What the order shows next comes from PayPal: refunded.
    paypal::clsPaypalAPI api(session.store.settings());
    ASSERT_TRUE(paypal::GetPaypalData(api, shell, session.store.transactions(), "11&2", "7"));
    EXPECT_EQ(GetNodeText(session.store.transactions(), "//PaypalTransaction[TRANSACTIONID=$id]/PAYMENTSTATUS", {},
                          {{"id", payment->transactionId}}),
              "Partially-Refunded");
}

TEST_F(RefundTest, ACertificateProblemShowsAndTheRefundFails)
{
    Config c = sb.config();
    c.set("paypal/ClientCertificate", "");
    setConfig(c);
    settings::set(session.store.settings(), "PaypalAPIAuthMode", "Certificate");
    openForm();
    send("0.55");
    EXPECT_NE(
        std::find(shell.overlays.begin(), shell.overlays.end(), "PayPal Certificate is missing from your computer."),
        shell.overlays.end());
    EXPECT_EQ(shell.boxes.back().second, "Refund failed.");
    EXPECT_EQ(refundsAsked(), 0u);
    EXPECT_FALSE(field("PaypalRefund").disabled());
}

TEST(RefundAmount, DollarsAndCentsOnly)
{
    EXPECT_EQ(paypal::refundAmount("5"), "5.00");
    EXPECT_EQ(paypal::refundAmount(" 5.5 "), "5.50");
    EXPECT_EQ(paypal::refundAmount("$0.55"), "0.55");
    EXPECT_EQ(paypal::refundAmount(".5"), "0.50");
    EXPECT_EQ(paypal::refundAmount("1200.07"), "1200.07");
    for (const char *bad : {"", "abc", "0", "0.00", "-1", "1.234", "1.", ".", "1e3", "1,5", "12345678901"})
        EXPECT_FALSE(paypal::refundAmount(bad)) << bad;
}

} // namespace
} // namespace tw::test
