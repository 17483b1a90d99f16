#include "ebay/clseBayConnection.h"
#include "tests/ebay/ebay_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace tw::test {
namespace {

class ConnectionTest : public EbayTest {
  protected:
    ebay::clseBayConnection connection{session.store.settings()};
};

TEST_F(ConnectionTest, SendsTheTokenAndEbayHeadersInOrder)
{
    peer.enqueue(ebayResponse("GeteBayOfficialTime", "Success"));
    xml::Document request = xml::Document::parse(
        "<GeteBayOfficialTimeRequest xmlns=\"urn:ebay:apis:eBLBaseComponents\"><RequesterCredentials>"
        "<eBayAuthToken/></RequesterCredentials></GeteBayOfficialTimeRequest>");
    xml::Document response = connection.StartSynchronousRequest("GeteBayOfficialTime", "573", request);

    ASSERT_TRUE(response);
    EXPECT_EQ(GetNodeText(response, "GeteBayOfficialTimeResponse/Ack"), "Success");
    ASSERT_EQ(peer.requests().size(), 1u);
    const RecordedRequest &r = peer.requests()[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/ws/api.dll");
    std::vector<std::pair<std::string, std::string>> ours;
    for (const auto &[name, value] : r.headers)
        if (name.rfind("X-EBAY-", 0) == 0 || name == "Content-Type") ours.emplace_back(name, value);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Content-Type", "text/xml"},
        {"X-EBAY-API-COMPATIBILITY-LEVEL", "573"},
        {"X-EBAY-API-DEV-NAME", config().get("ebay/DevName")},
        {"X-EBAY-API-APP-NAME", config().get("ebay/AppName")},
        {"X-EBAY-API-CERT-NAME", config().get("ebay/CertName")},
        {"X-EBAY-API-CALL-NAME", "GeteBayOfficialTime"},
        {"X-EBAY-API-SITEID", "0"},
    };
    EXPECT_EQ(ours, expected);
    EXPECT_EQ(GetNodeText(sent(0), "GeteBayOfficialTimeRequest/RequesterCredentials/eBayAuthToken"), "TOKEN-1");
    EXPECT_FALSE(connection.busy());
}

TEST_F(ConnectionTest, RequestWithoutCredentialsIsSentUnchanged)
{
    peer.enqueue(ebayResponse("FetchToken", "Success"));
    xml::Document request = xml::Document::parse(
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><FetchTokenRequest xmlns=\"urn:ebay:apis:eBLBaseComponents\">"
        "<SessionID>S&amp;1</SessionID></FetchTokenRequest>");
    const std::string before = request.toString();
    connection.StartSynchronousRequest("FetchToken", "573", request);
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0].body, before);
    EXPECT_EQ(peer.requests()[0].body.find("TOKEN-1"), std::string::npos);
}

TEST_F(ConnectionTest, OneExchangeAtATime)
{
    peer.setHandler([](const RecordedRequest &) {
        ScriptedResponse r;
        r.body = ebayResponse("GeteBayOfficialTime", "Success");
        return r;
    });
    auto request = [] {
        return xml::Document::parse("<GeteBayOfficialTimeRequest xmlns=\"urn:ebay:apis:eBLBaseComponents\"/>");
    };
    // A second call from an event handled while the first waits (a click,
    // say) is refused and must not relabel the exchange in flight.
    bool nestedRan = false;
    xml::Document nested(nullptr);
    QTimer::singleShot(0, [&] {
        xml::Document second = request();
        nested = connection.StartSynchronousRequest("GetItem", "561", second);
        nestedRan = true;
        EXPECT_EQ(connection.callName(), "GeteBayOfficialTime");
    });
    xml::Document first = request();
    xml::Document response = connection.StartSynchronousRequest("GeteBayOfficialTime", "573", first);
    ASSERT_TRUE(nestedRan);
    EXPECT_TRUE(nested.isNull());
    EXPECT_EQ(GetNodeText(response, "GeteBayOfficialTimeResponse/Ack"), "Success");
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0].header("X-EBAY-API-CALL-NAME"), "GeteBayOfficialTime");
    EXPECT_FALSE(connection.busy());
}

TEST_F(ConnectionTest, TransportFailuresGiveAnEmptyResponseWithinTheTimeOut)
{
    Config c = config();
    c.set("net/TimeoutSeconds", "1");
    setConfig(c);
    ScriptedResponse silent;
    silent.silent = true;
    peer.enqueue(silent);
    peer.enqueue("this is not XML");
    peer.enqueue(failure("GetItem", "Server trouble"), 500);

    xml::Document request = xml::Document::parse("<GetItemRequest/>");
    QElapsedTimer t;
    t.start();
    xml::Document timedOut = connection.StartSynchronousRequest("GetItem", "573", request);
    EXPECT_LT(t.elapsed(), 4000);
    ASSERT_FALSE(timedOut.isNull());
    EXPECT_FALSE(timedOut.root());
    EXPECT_FALSE(connection.busy());

    xml::Document garbage = connection.StartSynchronousRequest("GetItem", "573", request);
    ASSERT_FALSE(garbage.isNull());
    EXPECT_FALSE(garbage.root());

    // An HTTP error status still carries eBay's answer.
    xml::Document error = connection.StartSynchronousRequest("GetItem", "573", request);
    EXPECT_EQ(ebay::shortMessage(error), "Server trouble");
}

} // namespace
} // namespace tw::test
