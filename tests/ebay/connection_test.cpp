#include "ebay/clseBayConnection.h"
#include "tests/ebay/ebay_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace tw::test {
namespace {

// Pumps events until `done` holds or `ms` pass.
template <typename Pred> bool waitUntil(Pred done, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

void pump(int ms)
{
    waitUntil([] { return false; }, ms);
}

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
    std::vector<std::string> completions;
    connection.RequestComplete = [&](const std::string &call, const std::string &level, xml::Document request,
                                     xml::Document response) {
        completions.push_back(call + "/" + level + "/" + request.root().name() + "/" +
                              GetNodeText(response.root(), "Ack"));
    };
    auto request = [] {
        return xml::Document::parse("<GeteBayOfficialTimeRequest xmlns=\"urn:ebay:apis:eBLBaseComponents\"/>");
    };
    connection.StartRequest("GeteBayOfficialTime", "557", request());
    // Refused, and it must not relabel the exchange in flight either.
    connection.StartRequest("GetItem", "561", request());
    xml::Document syncRequest = request();
    EXPECT_TRUE(connection.StartSynchronousRequest("GeteBayDetails", "573", syncRequest).isNull());

    ASSERT_TRUE(waitUntil([&] { return !completions.empty(); }));
    pump(200);
    EXPECT_EQ(completions, std::vector<std::string>{"GeteBayOfficialTime/557/GeteBayOfficialTimeRequest/Success"});
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0].header("X-EBAY-API-CALL-NAME"), "GeteBayOfficialTime");
    EXPECT_FALSE(connection.busy());
}

TEST_F(ConnectionTest, NextRequestMayStartFromTheCompletionHandler)
{
    peer.setHandler([](const RecordedRequest &) { return ScriptedResponse{200, ebayResponse("GetItem", "Success")}; });
    int completions = 0;
    connection.RequestComplete = [&](const std::string &, const std::string &, xml::Document request, xml::Document) {
        if (++completions < 3) connection.StartRequest("GetItem", "561", std::move(request));
    };
    connection.StartRequest("GetItem", "561", xml::Document::parse("<GetItemRequest/>"));
    ASSERT_TRUE(waitUntil([&] { return completions == 3; }));
    EXPECT_EQ(peer.requests().size(), 3u);
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

TEST_F(ConnectionTest, TemplatesComeFromTheBundleOrThePagesServer)
{
    xml::Document bundled = connection.CreateInputXml("GetItem", "561");
    ASSERT_TRUE(bundled.root());
    EXPECT_EQ(bundled.root().name(), "GetItemRequest");
    EXPECT_EQ(bundled.root().namespaceUri(), xml::kEbayNamespace);
    EXPECT_TRUE(bundled.select("GetItemRequest/RequesterCredentials/eBayAuthToken"));

    Config c = config();
    c.set("pages/BaseUrl", peer.url(""));
    setConfig(c);
    peer.enqueue(
        "<GetItemRequest xmlns=\"urn:ebay:apis:eBLBaseComponents\"><ItemID>from server</ItemID></GetItemRequest>");
    xml::Document served = connection.CreateInputXml("GetItem", "561");
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0].method, "GET");
    EXPECT_EQ(peer.requests()[0].target, "/KORVA/GetItem-561.xml");
    EXPECT_EQ(GetNodeText(served, "GetItemRequest/ItemID"), "from server");

    xml::Document missing = connection.CreateInputXml("NoSuchCall", "557");
    EXPECT_FALSE(missing.isNull());
    EXPECT_FALSE(missing.root());
}

} // namespace
} // namespace tw::test
