// The client against a scripted peer: what is sent when, how answers are
// read, and how every kind of failure comes back.
#include "platform/http.h"
#include "tests/paypal/paypal_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/loopback_http.h"

namespace tw::test {
namespace {

using paypal::FailureKind;

class ClientTest : public PaypalTest {
  protected:
    void SetUp() override
    {
        PaypalTest::SetUp();
        Config config;
        config.set("paypal/SignatureApiUrl", peer.url("/nvp"));
        config.set("paypal/CertificateApiUrl", peer.url("/nvp"));
        config.set("paypal/ClientCertificate", testCertificates().clientCertificate.string());
        config.set("paypal/ClientCertificatePassword", testCertificates().clientPassword);
        setConfig(config);
    }
    void answer(const std::string &text) { peer.enqueue(ScriptedResponse{200, text, "text/plain"}); }
    // The failure text may name neither the password nor the signature.
    void expectNoSecrets()
    {
        EXPECT_EQ(api->lastFailure().message.find(kPassword), std::string::npos) << api->lastFailure().message;
        EXPECT_EQ(api->lastFailure().message.find(kSignature), std::string::npos) << api->lastFailure().message;
    }

    LoopbackHttp peer;
};

TEST_F(ClientTest, IncompleteCredentialsSendNothingAndSayWhatIsMissing)
{
    struct Setting {
        const char *user, *password, *signature, *mode, *missing;
    };
    for (const Setting &s : {
             Setting{kUser, kPassword, "", "Signature", "signature is not set"},
             Setting{"", "", kSignature, "Signature", "user name and password are not set"},
             Setting{kUser, "", "", "Certificate", "password is not set"},
             Setting{kUser, kPassword, kSignature, "signature", "mode \"signature\" is not known"},
             Setting{kUser, kPassword, kSignature, "", "mode \"\" is not known"},
         }) {
        useCredentials(s.user, s.password, s.signature, s.mode);
        EXPECT_TRUE(api->GetTransactionDetails("9S392321Y8493191P").isNull()) << s.missing;
        EXPECT_EQ(api->lastFailure().kind, FailureKind::MissingCredentials) << s.missing;
        EXPECT_NE(api->lastFailure().message.find(s.missing), std::string::npos) << api->lastFailure().message;
        EXPECT_TRUE(api->RefundTransaction("9S392321Y8493191P", "Full", "", "").isNull()) << s.missing;
        EXPECT_EQ(api->lastFailure().kind, FailureKind::MissingCredentials) << s.missing;
        expectNoSecrets();
    }
    EXPECT_TRUE(peer.requests().empty());
}

TEST_F(ClientTest, CredentialsAreReadAfreshAndAMissingModeMeansSignature)
{
    answer("ACK=Success&TRANSACTIONID=1");
    answer("ACK=Success&TRANSACTIONID=2");
    ASSERT_TRUE(api->GetTransactionDetails("1"));
    EXPECT_EQ(api->lastFailure().kind, FailureKind::None);
    settings.select("Settings/PaypalAPIAuthMode").remove();
    settings::set(settings, "PaypalAPIUser", "other");
    ASSERT_TRUE(api->GetTransactionDetails("2"));
    ASSERT_EQ(peer.requests().size(), 2u);
    EXPECT_EQ(
        peer.requests()[1].body.rfind("USER=other&PWD=pa+ss%26word%3D1&SIGNATURE=AbC%2B%2F%3Dsig%2Dnature%2Ex&", 0), 0u)
        << peer.requests()[1].body;
}

TEST_F(ClientTest, AnAnswerWithoutAnAmpersandAfterItsFirstCharacterGivesNothing)
{
    for (const char *text : {"ACK=Success", "&ACK=Success", "", "<html><body>Service Unavailable</body></html>",
                             "<html><a href=\"/?cmd=_home&amp;x=1\">home</a></html>"}) {
        answer(text);
        EXPECT_TRUE(api->GetTransactionDetails("X").isNull()) << text;
        EXPECT_EQ(api->lastFailure().kind, FailureKind::NotNameValuePairs) << text;
        answer(text);
        EXPECT_TRUE(api->RefundTransaction("X", "Full", "", "").isNull()) << text;
        EXPECT_EQ(api->lastFailure().kind, FailureKind::NotNameValuePairs) << text;
    }
    peer.enqueue(ScriptedResponse{503, "<html>busy</html>", "text/html"});
    EXPECT_TRUE(api->GetTransactionDetails("X").isNull());
    EXPECT_NE(api->lastFailure().message.find("HTTP 503"), std::string::npos) << api->lastFailure().message;
}

TEST_F(ClientTest, AckSaysWhetherTheCallWasDoneAndOnlyAFailureRefusesARefund)
{
    const struct {
        const char *ack;
        bool done;    // details given, refund made
        bool refused; // a refund's answer comes back as PayPal's refusal
        const char *reason;
    } acks[] = {
        {"Success", true, false, ""},        {"SuccessWithWarning", true, false, ""},
        {"Failure", false, true, "Warned"},  {"FailureWithWarning", false, true, "Warned"},
        {"Warning", false, false, "Warned"}, {"", false, false, "Warned"},
    };
    for (const auto &a : acks) {
        const std::string text = std::string("ACK=") + a.ack + "&TRANSACTIONID=1&L_SHORTMESSAGE0=Warned";
        answer(text);
        EXPECT_EQ(bool(api->GetTransactionDetails("1")), a.done) << a.ack;
        EXPECT_EQ(api->lastFailure().kind, a.done ? FailureKind::None : FailureKind::NotSuccess) << a.ack;
        EXPECT_EQ(api->lastFailure().message, a.reason) << a.ack;
        EXPECT_FALSE(api->lastFailure().mayHaveHappened) << a.ack;

        answer(text);
        xml::Document refund = api->RefundTransaction("1", "Full", "", "");
        EXPECT_EQ(bool(refund), a.done || a.refused) << a.ack;
        EXPECT_EQ(GetNodeText(refund, "RefundTransactionResponse/ACK", "(none)"),
                  a.done || a.refused ? a.ack : "(none)");
        EXPECT_EQ(paypal::isSuccessAck(a.ack), a.done) << a.ack;
        // Any other word leaves the refund unsettled: it may have been made.
        EXPECT_EQ(api->lastFailure().mayHaveHappened, !a.done && !a.refused) << a.ack;
    }

    // PayPal's long message wins; a secret echoed in it is masked.
    answer(std::string("ACK=Failure&L_SHORTMESSAGE0=Security+error&L_LONGMESSAGE0=Bad+password+") +
           URLEncode(kPassword) + "+or+signature+" + URLEncode(kSignature));
    EXPECT_TRUE(api->GetTransactionDetails("1").isNull());
    EXPECT_EQ(api->lastFailure().kind, FailureKind::NotSuccess);
    EXPECT_EQ(api->lastFailure().message, "Bad password **** or signature ****");

    answer("ACK=Failure&CORRELATIONID=1");
    EXPECT_TRUE(api->GetTransactionDetails("1").isNull());
    EXPECT_EQ(api->lastFailure().message, "PayPal answered \"Failure\".");
}

TEST_F(ClientTest, ARefundRefusedByPayPalStillComesBack)
{
    answer("TIMESTAMP=2008%2d06%2d30T12%3a00%3a00Z&ACK=Failure&L_ERRORCODE0=10009&L_SHORTMESSAGE0=Transaction%20"
           "refused&L_LONGMESSAGE0=The%20partial%20refund%20amount%20must%20be%20less%20than%20or%20equal%20to%20the%20"
           "remaining%20amount");
    xml::Document result = api->RefundTransaction("9S392321Y8493191P", "Partial", "500.00", "");
    ASSERT_TRUE(result);
    EXPECT_EQ(result.root().name(), "RefundTransactionResponse");
    EXPECT_EQ(GetNodeText(result, "RefundTransactionResponse/ACK"), "Failure");
    EXPECT_EQ(GetNodeText(result, "RefundTransactionResponse/L_ERRORCODE0"), "10009");
    EXPECT_EQ(api->lastFailure().kind, FailureKind::NotSuccess);
    EXPECT_EQ(api->lastFailure().message,
              "The partial refund amount must be less than or equal to the remaining amount");
}

TEST_F(ClientTest, FieldsThatCannotBeElementsAreLeftOutAndOddBytesKept)
{
    // A name with a NUL in it must not pass for the name before the NUL.
    answer("ACK=Success&1BAD=x&a%20b=y&x%3Ay=z&TRANSACTIONID=T1&LASTNAME=M%FCller&FIRSTNAME=Zo%C3%AB%01&"
           "LASTNAME%00X=Evil");
    xml::Document result = api->GetTransactionDetails("T1");
    ASSERT_TRUE(result);
    std::vector<std::string> names;
    for (const xml::Node &n : result.select("PaypalTransactions/PaypalTransaction").elements())
        names.push_back(n.name());
    EXPECT_EQ(names, (std::vector<std::string>{"ACK", "TRANSACTIONID", "LASTNAME", "FIRSTNAME"}));
    EXPECT_EQ(field(result, "LASTNAME"), "Müller"); // Latin-1, not UTF-8
    // The document stays readable after a save and a load.
    std::string error;
    xml::Document again = xml::Document::parse(result.toString(), &error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(field(again, "FIRSTNAME").rfind("Zoë", 0), 0u);
}

TEST_F(ClientTest, NoAnswerAndTimeOutAreToldApart)
{
    peer.enqueue(ScriptedResponse{.status = 200, .body = "", .contentType = "text/plain", .silent = true});
    api->setTimeoutMs(300);
    EXPECT_TRUE(api->GetTransactionDetails("X").isNull());
    EXPECT_EQ(api->lastFailure().kind, FailureKind::TimedOut);
    EXPECT_EQ(api->lastFailure().message, "PayPal did not answer within 1 second. Try again later.");

    Config config = tw::config();
    config.set("paypal/SignatureApiUrl", "http://127.0.0.1:1/nvp");
    setConfig(config);
    EXPECT_TRUE(api->RefundTransaction("X", "Full", "", "").isNull());
    EXPECT_EQ(api->lastFailure().kind, FailureKind::NoAnswer);
    expectNoSecrets();
}

TEST_F(ClientTest, CertificateModeWithoutAUsableCertificateSendsNothing)
{
    useCredentials(kUser, kPassword, "", "Certificate");
    Config config = tw::config();
    for (const auto &[file, password] : std::vector<std::pair<std::string, std::string>>{
             {"", ""},
             {testCertificates().clientCertificate.string() + ".gone", testCertificates().clientPassword},
             {testCertificates().clientCertificate.string(), "wrong password"},
             {testCertificates().caCertificate.string(), ""}}) {
        config.set("paypal/ClientCertificate", file);
        config.set("paypal/ClientCertificatePassword", password);
        setConfig(config);
        EXPECT_TRUE(api->GetTransactionDetails("X").isNull()) << file;
        EXPECT_EQ(api->lastFailure().kind, FailureKind::CertificateMissing) << file;
        EXPECT_EQ(api->lastFailure().message, paypal::kCertificateMissing);
    }
    EXPECT_TRUE(peer.requests().empty());
}

TEST_F(ClientTest, TheLogNamesTheMethodAndPayPalsVerdictButNeitherCredentialsNorBuyers)
{
    LogCapture capture;
    answer("ACK=Success&TRANSACTIONID=1&EMAIL=buyer%40mail.example&FIRSTNAME=Jane&PWD=" + URLEncode(kPassword));
    answer("ACK=Failure&L_ERRORCODE0=10009&L_LONGMESSAGE0=Bad+signature+" + URLEncode(kSignature));
    api->GetTransactionDetails("9S392321Y8493191P");
    api->RefundTransaction("9S392321Y8493191P", "Full", "", "");
    const std::string text = capture.text();
    EXPECT_NE(text.find(" paypal GetTransactionDetails: ACK Success ("), std::string::npos) << text;
    EXPECT_NE(text.find(" paypal RefundTransaction: ACK Failure, error 10009 ("), std::string::npos) << text;
    EXPECT_NE(text.find(" http POST "), std::string::npos) << text;
    for (const std::string &never :
         {std::string(kUser), std::string(kPassword), URLEncode(kPassword), std::string(kSignature),
          URLEncode(kSignature), std::string("buyer"), std::string("Jane"), std::string("9S392321Y8493191P")})
        EXPECT_EQ(text.find(never), std::string::npos) << never;
}

} // namespace
} // namespace tw::test
