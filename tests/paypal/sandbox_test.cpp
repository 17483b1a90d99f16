// The client against the sandbox's PayPal stand-ins: the signature endpoint
// on the plain server and the certificate endpoint over TLS, with the
// generated payments behind the generated orders.
#include "platform/http.h"
#include "tests/paypal/paypal_fixture.h"

#include <cmath>

namespace tw::test {
namespace {

using paypal::FailureKind;

class SandboxTest : public PaypalTest {
  protected:
    void SetUp() override
    {
        PaypalTest::SetUp();
        ASSERT_TRUE(sb.start());
        std::string error;
        ASSERT_TRUE(sb.startTls(testCertificates(), 0, &error)) << error;
        setConfig(sb.config());
        useCredentials(sandbox::kPaypalUser, sandbox::kPaypalPassword, sandbox::kPaypalSignature, "Signature");
    }

    // A generated payment that is neither pending nor refunded.
    const sandbox::PaypalPayment &completedPayment(int skip = 0)
    {
        for (const auto &[id, p] : sb.state().paypal)
            if (p.pendingFetches == 0 && p.refunds.empty() && skip-- == 0) return p;
        ADD_FAILURE() << "no completed payment";
        return sb.state().paypal.begin()->second;
    }

    std::vector<sandbox::LoggedRequest> paypalLog() const
    {
        std::vector<sandbox::LoggedRequest> out;
        for (const auto &r : sb.requestLog())
            if (r.service == "paypal") out.push_back(r);
        return out;
    }

    sandbox::Sandbox sb;
};

TEST_F(SandboxTest, DetailsOfAGeneratedOrderComeFromItsPayment)
{
    // Every PayPal order has its payment, and only those.
    std::size_t paypalOrders = 0;
    for (const auto &o : sb.state().orders) {
        if (o.paymentMethod != "PayPal") continue;
        ++paypalOrders;
        ASSERT_EQ(sb.state().paypal.count(o.paypalTransactionId), 1u) << o.itemId;
    }
    EXPECT_EQ(sb.state().paypal.size(), paypalOrders);

    const sandbox::PaypalPayment &p = completedPayment();
    const sandbox::Order &order = sb.state().orders[std::size_t(p.order)];
    xml::Document d = api->GetTransactionDetails(p.transactionId);
    ASSERT_TRUE(d) << api->lastFailure().message;
    EXPECT_EQ(field(d, "PaypalTransaction/TRANSACTIONID"), p.transactionId);
    EXPECT_EQ(field(d, "PAYMENTSTATUS"), "Completed");
    EXPECT_EQ(field(d, "EMAIL"), p.payerEmail);
    EXPECT_EQ(field(d, "FIRSTNAME"), p.firstName);
    EXPECT_EQ(field(d, "LASTNAME"), p.lastName);
    EXPECT_EQ(field(d, "SHIPTONAME"), p.shipTo.name);
    EXPECT_EQ(field(d, "SHIPTOSTREET"), p.shipTo.street1);
    EXPECT_EQ(field(d, "SHIPTOZIP"), p.shipTo.postalCode);
    EXPECT_EQ(std::stod(field(d, "AMT")), std::round((order.price * order.quantity + order.shippingCost) * 100) / 100);
    EXPECT_EQ(field(d, "ORDERTIME"), DateToeBayTime(order.paid));
    EXPECT_EQ(field(d, "L_NUMBER0"), order.itemId);
    EXPECT_EQ(field(d, "L_NAME0"), order.title);

    // The request went out whole; the log keeps no secret in clear.
    const auto log = paypalLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].call, "GetTransactionDetails");
    EXPECT_EQ(log[0].target, "/paypal/nvp");
    EXPECT_EQ(log[0].body, "USER=korva%5Fseller%5Fapi1%2Eexample%2Ecom&PWD=****&SIGNATURE=****&VERSION=2.0&METHOD="
                           "GetTransactionDetails&TRANSACTIONID=" +
                               p.transactionId);
}

TEST_F(SandboxTest, TheLogMasksSecretsHoweverTheyAreSpelt)
{
    http::Request request;
    request.method = "POST";
    request.url = sb.config().get("paypal/SignatureApiUrl");
    request.body = "USER=u&pwd=secret1&P%57D=secret2&SIGNATURE=secret3&METHOD=GetTransactionDetails";
    ASSERT_TRUE(http::send(request).ok);
    const auto log = paypalLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].body, "USER=u&pwd=****&P%57D=****&SIGNATURE=****&METHOD=GetTransactionDetails");
}

TEST_F(SandboxTest, APendingPaymentStaysPendingForTwoFetchesThenCompletes)
{
    const sandbox::PaypalPayment *pending = nullptr;
    for (const auto &[id, p] : sb.state().paypal)
        if (p.pendingFetches == 2) pending = &p;
    ASSERT_NE(pending, nullptr);
    std::vector<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        xml::Document d = api->GetTransactionDetails(pending->transactionId);
        ASSERT_TRUE(d) << api->lastFailure().message;
        seen.push_back(field(d, "PAYMENTSTATUS") + "/" + field(d, "PENDINGREASON"));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"Pending/echeck", "Pending/echeck", "Completed/None"}));
}

TEST_F(SandboxTest, RefundsChangeTheDetailsAndNeverExceedThePayment)
{
    const sandbox::PaypalPayment &p = completedPayment();
    const std::string id = p.transactionId;
    const double amount = p.amount;
    char part[16], rest[16], above[16];
    std::snprintf(part, sizeof part, "%.2f", 1.25);
    std::snprintf(rest, sizeof rest, "%.2f", amount - 1.25);
    std::snprintf(above, sizeof above, "%.2f", amount - 1.25 + 0.01);

    xml::Document r = api->RefundTransaction(id, "Partial", part, "Sorry & thanks");
    ASSERT_TRUE(r);
    EXPECT_EQ(GetNodeText(r, "RefundTransactionResponse/ACK"), "Success");
    EXPECT_EQ(GetNodeText(r, "RefundTransactionResponse/GROSSREFUNDAMT"), "1.25");
    EXPECT_EQ(sb.state().paypal.at(id).refunds.at(0).note, "Sorry & thanks");
    xml::Document d = api->GetTransactionDetails(id);
    EXPECT_EQ(field(d, "PAYMENTSTATUS"), "Partially-Refunded");
    EXPECT_EQ(field(d, "TOTALREFUNDEDAMOUNT"), "1.25");

    // More than is left, a full refund naming another amount, nonsense: refused.
    for (const auto &[type, amt] : std::vector<std::pair<std::string, std::string>>{
             {"Partial", above}, {"Full", part}, {"Partial", "abc"}, {"Partial", "-1.00"}, {"Sideways", rest}}) {
        r = api->RefundTransaction(id, type, amt, "");
        ASSERT_TRUE(r) << type << " " << amt;
        EXPECT_EQ(GetNodeText(r, "RefundTransactionResponse/ACK"), "Failure") << type << " " << amt;
        EXPECT_EQ(api->lastFailure().kind, FailureKind::NotSuccess);
    }
    r = api->RefundTransaction(id, "Partial", above, "");
    EXPECT_EQ(api->lastFailure().message,
              "The partial refund amount must be less than or equal to the remaining amount");
    EXPECT_EQ(sb.state().paypal.at(id).refunds.size(), 1u);

    // The rest, as a full refund; then nothing is left.
    r = api->RefundTransaction(id, "Full", rest, "");
    EXPECT_EQ(GetNodeText(r, "RefundTransactionResponse/ACK"), "Success") << api->lastFailure().message;
    d = api->GetTransactionDetails(id);
    EXPECT_EQ(field(d, "PAYMENTSTATUS"), "Refunded");
    EXPECT_EQ(std::stod(field(d, "TOTALREFUNDEDAMOUNT")), amount);
    r = api->RefundTransaction(id, "Full", "", "");
    EXPECT_EQ(api->lastFailure().message, "This transaction has already been fully refunded");
}

TEST_F(SandboxTest, RefusalsAndFaultsComeBackAsFailures)
{
    const std::string id = completedPayment().transactionId;
    EXPECT_TRUE(api->GetTransactionDetails("UNKNOWN0000000000").isNull());
    EXPECT_EQ(api->lastFailure().message, "The transaction id is not valid");

    useCredentials(sandbox::kPaypalUser, "wrong", sandbox::kPaypalSignature, "Signature");
    EXPECT_TRUE(api->GetTransactionDetails(id).isNull());
    EXPECT_EQ(api->lastFailure().message, "Security header is not valid");

    // A missing signature stops the call before the sandbox hears of it.
    const std::size_t before = paypalLog().size();
    useCredentials(sandbox::kPaypalUser, sandbox::kPaypalPassword, "", "Signature");
    EXPECT_TRUE(api->RefundTransaction(id, "Full", "", "").isNull());
    EXPECT_EQ(paypalLog().size(), before);

    useCredentials(sandbox::kPaypalUser, sandbox::kPaypalPassword, sandbox::kPaypalSignature, "Signature");
    sb.injectFault({.call = "GetTransactionDetails", .kind = sandbox::FaultKind::HtmlPage});
    EXPECT_TRUE(api->GetTransactionDetails(id).isNull());
    EXPECT_EQ(api->lastFailure().kind, FailureKind::NotNameValuePairs);
    sb.injectFault({.call = "RefundTransaction", .kind = sandbox::FaultKind::Http500});
    EXPECT_TRUE(api->RefundTransaction(id, "Full", "", "").isNull());
    EXPECT_EQ(api->lastFailure().kind, FailureKind::NotNameValuePairs);
    EXPECT_TRUE(sb.state().paypal.at(id).refunds.empty());
    sb.injectFault({.call = "GetTransactionDetails", .kind = sandbox::FaultKind::AckFailure});
    EXPECT_TRUE(api->GetTransactionDetails(id).isNull());
    EXPECT_EQ(api->lastFailure().message, "Internal Error");

    // The refund is made, then the connection drops: it is not sent again,
    // and the seller is told it may have gone through.
    const std::size_t refundsBefore = sb.requests("RefundTransaction").size();
    sb.injectFault({.call = "RefundTransaction", .kind = sandbox::FaultKind::Drop});
    EXPECT_TRUE(api->RefundTransaction(id, "Full", "", "").isNull());
    EXPECT_EQ(api->lastFailure().kind, FailureKind::NoAnswer);
    EXPECT_NE(api->lastFailure().message.find("The refund may have been made"), std::string::npos);
    EXPECT_EQ(sb.requests("RefundTransaction").size(), refundsBefore + 1);
    EXPECT_EQ(sb.state().paypal.at(id).refunds.size(), 1u);
    xml::Document d = api->GetTransactionDetails(id);
    EXPECT_EQ(field(d, "PAYMENTSTATUS"), "Refunded") << api->lastFailure().message;
}

TEST_F(SandboxTest, CertificateModeGoesOverTlsWithTheClientCertificate)
{
    useCredentials(sandbox::kPaypalUser, sandbox::kPaypalPassword, "", "Certificate");
    const sandbox::PaypalPayment &p = completedPayment();
    xml::Document d = api->GetTransactionDetails(p.transactionId);
    ASSERT_TRUE(d) << api->lastFailure().message;
    EXPECT_EQ(field(d, "PAYMENTSTATUS"), "Completed");
    xml::Document r = api->RefundTransaction(p.transactionId, "Full", "", "");
    EXPECT_EQ(GetNodeText(r, "RefundTransactionResponse/ACK"), "Success") << api->lastFailure().message;

    const auto log = paypalLog();
    ASSERT_EQ(log.size(), 2u);
    for (const auto &entry : log) {
        EXPECT_EQ(entry.target, "/nvp");
        EXPECT_EQ(entry.clientCertificate, "korva_seller_api1");
        EXPECT_EQ(entry.body.find("SIGNATURE"), std::string::npos) << entry.body;
        EXPECT_NE(entry.body.find("&PWD=****&VERSION=2.0&"), std::string::npos) << entry.body;
    }
    EXPECT_TRUE(sb.refusedHandshakes().empty());
}

TEST_F(SandboxTest, CertificateModeReportsACertificateTheServerRefuses)
{
    useCredentials(sandbox::kPaypalUser, sandbox::kPaypalPassword, "", "Certificate");
    // A connection opened with the right certificate is not lent to the next call.
    ASSERT_TRUE(api->GetTransactionDetails(completedPayment().transactionId)) << api->lastFailure().message;
    sb.clearLog();
    Config config = sb.config();
    config.set("paypal/ClientCertificate", testCertificates().strangerCertificate.string());
    setConfig(config);
    EXPECT_TRUE(api->GetTransactionDetails(completedPayment().transactionId).isNull());
    EXPECT_EQ(api->lastFailure().kind, FailureKind::CertificateMissing);
    EXPECT_EQ(api->lastFailure().message, "PayPal Certificate is missing from your computer.");
    EXPECT_EQ(sb.refusedHandshakes().size(), 1u);

    config.set("paypal/ClientCertificate", "");
    setConfig(config);
    EXPECT_TRUE(api->RefundTransaction(completedPayment().transactionId, "Full", "", "").isNull());
    EXPECT_EQ(api->lastFailure().kind, FailureKind::CertificateMissing);
    EXPECT_TRUE(paypalLog().empty());
}

TEST_F(SandboxTest, TheHttpLayerNamesTheMissingClientCertificateAndKeepsCheckingTheServer)
{
    http::Request request;
    request.method = "POST";
    request.url = sb.config().get("paypal/CertificateApiUrl");
    request.body = "METHOD=GetTransactionDetails";
    request.timeoutMs = 10000;
    http::Response response = http::send(request);
    EXPECT_FALSE(response.ok);
    EXPECT_TRUE(response.clientCertificateFailed) << response.error;

    // Without the test authority the server itself is not trusted: a TLS
    // failure, but none of the client certificate.
    Config config = sb.config();
    config.set("net/ExtraCaCertificates", "");
    setConfig(config);
    request.clientCertificate = testCertificates().clientCertificate.string();
    request.clientCertificatePassword = testCertificates().clientPassword;
    response = http::send(request);
    EXPECT_FALSE(response.ok);
    EXPECT_FALSE(response.clientCertificateFailed) << response.error;
    EXPECT_TRUE(paypalLog().empty());
}

} // namespace
} // namespace tw::test
