// Both calls in both modes against a scripted peer: the request body sent,
// compared byte for byte with tests/data/paypal/<case>/request.txt, and the
// document made of the answer in answer.txt, compared with result.xml
// (TW_UPDATE_GOLDEN=1 rewrites the expected files).
#include "tests/paypal/paypal_fixture.h"
#include "tests/support/loopback_http.h"

#include <cstdlib>
#include <filesystem>
#include <functional>

namespace tw::test {
namespace {

struct Case {
    std::string name;
    std::string mode;
    std::function<xml::Document(paypal::clsPaypalAPI &)> run;
};

class GoldenTest : public PaypalTest, public ::testing::WithParamInterface<Case> {};

TEST_P(GoldenTest, RequestAndResultMatch)
{
    const Case &c = GetParam();
    const std::filesystem::path dir = std::filesystem::path(TW_PAYPAL_TEST_DATA) / c.name;
    LoopbackHttp peer;
    peer.enqueue(ScriptedResponse{200, readFile(dir / "answer.txt"), "text/plain; charset=utf-8"});
    Config config;
    config.set("paypal/SignatureApiUrl", peer.url("/signature/nvp"));
    // The body does not depend on the transport; the peer speaks plain HTTP.
    config.set("paypal/CertificateApiUrl", peer.url("/certificate/nvp"));
    config.set("paypal/ClientCertificate", testCertificates().clientCertificate.string());
    config.set("paypal/ClientCertificatePassword", testCertificates().clientPassword);
    setConfig(config);
    useCredentials(kUser, kPassword, c.mode == "Signature" ? kSignature : "", c.mode);

    xml::Document result = c.run(*api);

    ASSERT_EQ(peer.requests().size(), 1u);
    const RecordedRequest &sent = peer.requests()[0];
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.target, c.mode == "Signature" ? "/signature/nvp" : "/certificate/nvp");
    EXPECT_EQ(sent.header("Content-Type"), "text/xml; text/plain");
    ASSERT_TRUE(result) << api->lastFailure().message;
    const std::string text = result.toString();
    if (std::getenv("TW_UPDATE_GOLDEN")) {
        writeFile(dir / "request.txt", sent.body);
        writeFile(dir / "result.xml", text);
    }
    EXPECT_EQ(sent.body, readFile(dir / "request.txt"));
    EXPECT_EQ(text, readFile(dir / "result.xml"));
}

xml::Document details(paypal::clsPaypalAPI &api)
{
    return api.GetTransactionDetails("9S392321Y8493191P");
}

xml::Document refund(paypal::clsPaypalAPI &api)
{
    return api.RefundTransaction("9S392321Y8493191P", "Partial", "5.00", "Sorry & thanks: 50% back + free ship, é");
}

INSTANTIATE_TEST_SUITE_P(Calls, GoldenTest,
                         ::testing::Values(Case{"GetTransactionDetails-Signature", "Signature", details},
                                           Case{"GetTransactionDetails-Certificate", "Certificate", details},
                                           Case{"RefundTransaction-Signature", "Signature", refund},
                                           Case{"RefundTransaction-Certificate", "Certificate", refund}),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             std::string name = info.param.name;
                             std::erase(name, '-');
                             return name;
                         });

} // namespace
} // namespace tw::test
