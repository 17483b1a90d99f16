// Payment details beside the orders, against the sandbox's PayPal: which
// orders a drawing fetches, one PaypalTransaction per order however often it
// is fetched, nothing asked without an id or credentials, the certificate
// message, and a drawing that stops asking once PayPal cannot be reached.
#include "paypal/details.h"
#include "store/order_index.h"
#include "tests/paypal/paypal_fixture.h"
#include "tests/support/fake_shell.h"

namespace tw::test {
namespace {

using paypal::DetailsFetch;

const std::string kNs = " xmlns=\"urn:ebay:apis:eBLBaseComponents\"";

std::string order(const std::string &item, const std::string &method, const std::string &paypalId,
                  const std::string &inner = {})
{
    return "<Transaction" + kNs + "><Item><ItemID>" + item + "</ItemID></Item><TransactionID>0</TransactionID>" +
           "<Status><PaymentMethodUsed>" + method + "</PaymentMethodUsed></Status>" +
           (paypalId.empty() ? std::string()
                             : "<ExternalTransaction><ExternalTransactionID>" + paypalId +
                                   "</ExternalTransactionID></ExternalTransaction>") +
           inner + "<ShippingDetails/></Transaction>";
}

class DetailsTest : public PaypalTest {
  protected:
    void SetUp() override
    {
        PaypalTest::SetUp();
        ASSERT_TRUE(sb.start());
        setConfig(sb.config());
        useCredentials(sandbox::kPaypalUser, sandbox::kPaypalPassword, sandbox::kPaypalSignature, "Signature");
    }

    // A generated payment: pending (still showing "Pending" twice) or not.
    const sandbox::PaypalPayment &payment(bool pending, int skip = 0)
    {
        for (const auto &[id, p] : sb.state().paypal)
            if ((p.pendingFetches > 0) == pending && skip-- == 0) return p;
        ADD_FAILURE() << "no such payment";
        return sb.state().paypal.begin()->second;
    }
    size_t detailsAsked() const { return sb.requests("GetTransactionDetails").size(); }

    sandbox::Sandbox sb;
    FakeShell shell;
};

TEST_F(DetailsTest, OnlyPaypalOrdersWithAnIdAreFetchedWhenMissingOrPending)
{
    struct Case {
        std::string order;
        DetailsFetch expected;
    };
    const std::string details = "<PaypalTransaction><TRANSACTIONID>P1</TRANSACTIONID><PAYMENTSTATUS>";
    for (const Case &c : {
             Case{order("1", "PayPal", "P1"), DetailsFetch::Missing},
             Case{order("1", "PayPal", ""), DetailsFetch::None},
             Case{order("1", "MOCC", "P1"), DetailsFetch::None},
             Case{order("1", "PayPal", "P1", details + "Pending</PAYMENTSTATUS></PaypalTransaction>"),
                  DetailsFetch::Pending},
             Case{order("1", "PayPal", "P1", details + "Completed</PAYMENTSTATUS></PaypalTransaction>"),
                  DetailsFetch::None},
             Case{order("1", "PayPal", "P1", details + "Refunded</PAYMENTSTATUS></PaypalTransaction>"),
                  DetailsFetch::None},
             // Details without their id are as good as none.
             Case{order("1", "PayPal", "P1", "<PaypalTransaction><AMT>1.00</AMT></PaypalTransaction>"),
                  DetailsFetch::Missing},
         }) {
        xml::Document doc = xml::Document::parse(c.order);
        EXPECT_EQ(paypal::detailsFetch(settings, doc.root()), c.expected) << c.order;
    }
    // No API user, nothing is fetched at all.
    xml::Document doc = xml::Document::parse(order("1", "PayPal", "P1"));
    settings::set(settings, "PaypalAPIUser", "");
    EXPECT_EQ(paypal::detailsFetch(settings, doc.root()), DetailsFetch::None);

    xml::Document hostile = xml::Document::parse(order("1", "PayPal", "&lt;b&gt;&amp;&lt;/b&gt;"));
    EXPECT_EQ(paypal::detailsOverlay(DetailsFetch::Missing, hostile.root()),
              "Downloading Paypal Transaction<br>&lt;b&gt;&amp;&lt;/b&gt;");
    EXPECT_EQ(paypal::detailsOverlay(DetailsFetch::Pending, hostile.root()),
              "Checking Pending<br>Paypal Transaction<br>&lt;b&gt;&amp;&lt;/b&gt;");
}

TEST_F(DetailsTest, AFetchReplacesTheDetailsInPlaceAndAnOrderNeverHoldsTwo)
{
    const sandbox::PaypalPayment &p = payment(true);
    // Two stale copies, as a file edited by hand might hold.
    xml::Document orders =
        xml::Document::parse("<Transactions>" +
                             order("1", "PayPal", p.transactionId,
                                   "<PaypalTransaction><TRANSACTIONID>old</TRANSACTIONID></PaypalTransaction><Note/>"
                                   "<PaypalTransaction><TRANSACTIONID>older</TRANSACTIONID></PaypalTransaction>") +
                             "</Transactions>");
    paypal::clsPaypalAPI client(settings);

    for (const char *status : {"Pending", "Pending", "Completed"}) {
        xml::Node fresh = paypal::GetPaypalData(client, shell, orders, "1", "0");
        ASSERT_TRUE(fresh) << client.lastFailure().message;
        xml::Node stored = store::findOrder(orders, "1", "0");
        ASSERT_EQ(stored.selectAll("PaypalTransaction").size(), 1u) << status;
        EXPECT_EQ(fresh, stored.element("PaypalTransaction"));
        // In the place of the first one, before the order's other children.
        EXPECT_EQ(fresh.nextElement().name(), "Note");
        EXPECT_EQ(store::childText(stored, "PaypalTransaction/PAYMENTSTATUS"), status);
        EXPECT_EQ(store::childText(stored, "PaypalTransaction/TRANSACTIONID"), p.transactionId);
        EXPECT_EQ(store::childText(stored, "PaypalTransaction/EMAIL"), p.payerEmail);
        // eBay's namespace throughout, as the file reads back.
        EXPECT_EQ(fresh.namespaceUri(), xml::kEbayNamespace);
        EXPECT_EQ(fresh.element("AMT").namespaceUri(), xml::kEbayNamespace);
    }
    EXPECT_EQ(detailsAsked(), 3u);
}

TEST_F(DetailsTest, NothingIsAskedWithoutAnIdOrCredentials)
{
    xml::Document orders = xml::Document::parse("<Transactions>" + order("1", "PayPal", "") +
                                                order("2", "PayPal", payment(false).transactionId) + "</Transactions>");
    paypal::clsPaypalAPI client(settings);
    EXPECT_FALSE(paypal::GetPaypalData(client, shell, orders, "1", "0"));
    EXPECT_FALSE(paypal::GetPaypalData(client, shell, orders, "missing", "0"));
    settings::set(settings, "PaypalAPISignature", "");
    EXPECT_FALSE(paypal::GetPaypalData(client, shell, orders, "2", "0"));
    EXPECT_EQ(client.lastFailure().kind, paypal::FailureKind::MissingCredentials);
    EXPECT_TRUE(orders.selectAll("//PaypalTransaction").empty());
    EXPECT_EQ(detailsAsked(), 0u);
    EXPECT_TRUE(shell.overlays.empty());
}

TEST_F(DetailsTest, WithoutItsCertificateTheOverlaySaysSo)
{
    Config c = sb.config();
    c.set("paypal/ClientCertificate", "");
    setConfig(c);
    useCredentials(sandbox::kPaypalUser, sandbox::kPaypalPassword, "", "Certificate");
    xml::Document orders =
        xml::Document::parse("<Transactions>" + order("1", "PayPal", payment(false).transactionId) + "</Transactions>");
    paypal::clsPaypalAPI client(settings);
    EXPECT_FALSE(paypal::GetPaypalData(client, shell, orders, "1", "0"));
    EXPECT_EQ(shell.overlays, std::vector<std::string>{"PayPal Certificate is missing from your computer."});
    EXPECT_TRUE(orders.selectAll("//PaypalTransaction").empty());
}

TEST_F(DetailsTest, ADrawingFetchesIntoStoreAndCopyAndStopsWhenPaypalIsOutOfReach)
{
    const std::string good = payment(false).transactionId, other = payment(false, 1).transactionId;
    xml::Document orders =
        xml::Document::parse("<Transactions>" + order("1", "PayPal", "UNKNOWN0000000000") + order("2", "PayPal", good) +
                             order("3", "MOCC", "") + order("4", "PayPal", other) + "</Transactions>");
    xml::Document copy = orders.clone();
    std::vector<xml::Node> copies = copy.root().elements();

    // PayPal does not know the first id: that order goes without, the next is fetched.
    paypal::DetailsFetcher fetcher(settings, shell);
    EXPECT_TRUE(fetcher.refresh(orders, copies[0]));
    EXPECT_FALSE(fetcher.fetchedAny());
    ASSERT_EQ(shell.statuses.size(), 1u);
    EXPECT_EQ(shell.statuses[0], "PayPal payment details could not be fetched: The transaction id is not valid");
    EXPECT_TRUE(fetcher.refresh(orders, copies[1]));
    EXPECT_TRUE(fetcher.fetchedAny());
    EXPECT_FALSE(fetcher.refresh(orders, copies[2]));
    EXPECT_EQ(shell.overlays, (std::vector<std::string>{"Downloading Paypal Transaction<br>UNKNOWN0000000000",
                                                        "Downloading Paypal Transaction<br>" + good}));
    EXPECT_EQ(store::childText(copies[1], "PaypalTransaction/TRANSACTIONID"), good);
    EXPECT_EQ(GetNodeText(orders, "Transactions/Transaction[Item/ItemID='2']/PaypalTransaction/TRANSACTIONID"), good);
    EXPECT_EQ(detailsAsked(), 2u);

    // Unreachable: said once, and the rest of the drawing asks nothing.
    Config c = sb.config();
    c.set("paypal/SignatureApiUrl", "http://127.0.0.1:1/nvp");
    setConfig(c);
    paypal::DetailsFetcher unreachable(settings, shell);
    shell.statuses.clear();
    EXPECT_TRUE(unreachable.refresh(orders, copies[0]));
    EXPECT_FALSE(unreachable.refresh(orders, copies[3]));
    ASSERT_EQ(shell.statuses.size(), 1u);
    EXPECT_EQ(shell.statuses[0].rfind("PayPal payment details could not be fetched: PayPal could not be reached", 0),
              0u)
        << shell.statuses[0];
    EXPECT_FALSE(unreachable.fetchedAny());
    EXPECT_EQ(detailsAsked(), 2u);
}

} // namespace
} // namespace tw::test
