#include "platform/xml.h"
#include "sandbox/sandbox.h"
#include "tests/support/mock_clock.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtNetwork/QNetworkRequest>
#include <gtest/gtest.h>

#include <set>

using namespace tw;
using namespace tw::sandbox;
using xml::Document;
using xml::Node;

namespace {

struct Http {
    int status = 0;
    std::string body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    bool timedOut = false;
    std::string location;
};

Http exchange(const std::string &method, const std::string &url,
              const std::vector<std::pair<std::string, std::string>> &headers, const std::string &body,
              int timeoutMs = 10000)
{
    static QNetworkAccessManager *nam = new QNetworkAccessManager;
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    for (const auto &[name, value] : headers)
        request.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    QNetworkReply *reply = method == "POST" ? nam->post(request, QByteArray::fromStdString(body)) : nam->get(request);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    Http out;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        out.timedOut = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    if (!reply->isFinished()) loop.exec();
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.body = reply->readAll().toStdString();
    out.error = reply->error();
    out.location = reply->rawHeader("Location").toStdString();
    reply->deleteLater();
    return out;
}

class SandboxTest : public ::testing::Test {
  protected:
    // Eastern standard time, like a seller in Massachusetts.
    test::MockClock clock{DateTime::fromParts(2008, 7, 1, 9, 30, 0), -4 * 3600};
    std::unique_ptr<Sandbox> sb;

    void SetUp() override { startWith({}); }

    void startWith(Options options)
    {
        sb = std::make_unique<Sandbox>(options);
        ASSERT_TRUE(sb->start());
    }

    std::vector<std::pair<std::string, std::string>> ebayHeaders(const std::string &call)
    {
        const Config c = sb->config();
        return {{"Content-Type", "text/xml"},
                {"X-EBAY-API-COMPATIBILITY-LEVEL", "573"},
                {"X-EBAY-API-DEV-NAME", c.get("ebay/DevName")},
                {"X-EBAY-API-APP-NAME", c.get("ebay/AppName")},
                {"X-EBAY-API-CERT-NAME", c.get("ebay/CertName")},
                {"X-EBAY-API-CALL-NAME", call},
                {"X-EBAY-API-SITEID", "0"}};
    }

    static std::string envelope(const std::string &call, const std::string &inner,
                                const std::string &token = kDemoToken)
    {
        return "<?xml version=\"1.0\" encoding=\"utf-8\"?><" + call +
               "Request xmlns=\"urn:ebay:apis:eBLBaseComponents\"><RequesterCredentials><eBayAuthToken>" +
               xml::escape(token) + "</eBayAuthToken></RequesterCredentials>" + inner + "</" + call + "Request>";
    }

    Http raw(const std::string &call, const std::string &body, int timeoutMs = 10000)
    {
        return exchange("POST", sb->config().get("ebay/ApiUrl"), ebayHeaders(call), body, timeoutMs);
    }

    Document call(const std::string &call, const std::string &inner = {}, const std::string &token = kDemoToken)
    {
        Http h = raw(call, envelope(call, inner, token));
        EXPECT_EQ(h.status, 200) << call;
        std::string error;
        Document doc = Document::parse(h.body, &error);
        EXPECT_FALSE(doc.isNull()) << call << ": " << error;
        return doc;
    }

    Http track(const std::vector<std::string> &numbers, bool encode, const std::string &user = {})
    {
        std::string x =
            "<TrackFieldRequest USERID=\"" + (user.empty() ? sb->config().get("usps/UserID") : user) + "\">";
        for (const auto &n : numbers)
            x += "<TrackID ID=\"" + xml::escape(n) + "\"></TrackID>";
        x += "</TrackFieldRequest>";
        const std::string q = encode ? QUrl::toPercentEncoding(QString::fromStdString(x)).toStdString() : x;
        return exchange("GET", sb->config().get("usps/WebToolsUrl") + "?API=TrackV2&XML=" + q, {}, {});
    }

    // Every transaction of the window, page by page.
    std::vector<Document> allPages(const std::string &window, int perPage = 10)
    {
        std::vector<Document> pages;
        for (int page = 1; page < 1000; ++page) {
            Document d = call("GetSellerTransactions", "<Pagination><EntriesPerPage>" + std::to_string(perPage) +
                                                           "</EntriesPerPage><PageNumber>" + std::to_string(page) +
                                                           "</PageNumber></Pagination>" + window);
            const bool more = d.select("*/HasMoreTransactions").text() == "true";
            pages.push_back(std::move(d));
            if (!more) break;
        }
        return pages;
    }

    std::string window(int days) const
    {
        const DateTime now = sb->ebayNow();
        auto t = [](const DateTime &d) { return d.toString().replace(10, 1, "T") + "Z"; };
        return "<ModTimeFrom>" + t(now.addDays(-days)) + "</ModTimeFrom><ModTimeTo>" + t(now) + "</ModTimeTo>";
    }
};

std::string ack(const Document &d)
{
    return d.select("*/Ack").text();
}
std::string shortMessage(const Document &d)
{
    return d.select("*/Errors/ShortMessage").text();
}

TEST_F(SandboxTest, OfficialTimeFollowsTheLocalClockInUtcPlusTheSkew)
{
    Document d = call("GeteBayOfficialTime");
    EXPECT_EQ(ack(d), "Success");
    EXPECT_EQ(d.root().namespaceUri(), std::string(xml::kEbayNamespace));
    EXPECT_EQ(d.select("*/Timestamp").text(), "2008-07-01T13:30:00.000Z");

    sb->setClockSkewSeconds(-90);
    clock.advanceSecs(3600);
    Document official = call("GeteBayOfficialTime");
    EXPECT_EQ(official.select("*/Timestamp").text(), "2008-07-01T14:28:30.000Z");
}

TEST_F(SandboxTest, RefusesWrongHeadersTokensAndBodiesTheWayEbayDoes)
{
    struct Case {
        const char *what;
        std::string header, value, body;
        std::string expect;
    };
    const std::string ok = envelope("GeteBayOfficialTime", "");
    const std::vector<Case> cases = {
        {"call header differs from root", "X-EBAY-API-CALL-NAME", "GetItem", ok, "does not match"},
        {"unknown call", "X-EBAY-API-CALL-NAME", "GetBogus", ok, "Unsupported API call."},
        {"site", "X-EBAY-API-SITEID", "3", ok, "site"},
        {"application id", "X-EBAY-API-APP-NAME", "someone-else", ok, "application id"},
        {"developer id", "X-EBAY-API-DEV-NAME", "X", ok, "developer id"},
        {"certificate id", "X-EBAY-API-CERT-NAME", "X", ok, "certificate id"},
        {"level", "X-EBAY-API-COMPATIBILITY-LEVEL", "", ok, "COMPATIBILITY-LEVEL"},
        {"malformed", "", "", "<GeteBayOfficialTimeRequest><oops>", "XML Parse error."},
        {"bad token", "", "", envelope("GeteBayOfficialTime", "", "not-a-token"), "Auth token is invalid."},
        {"no token", "", "", envelope("GeteBayOfficialTime", "", ""), "Auth token is missing."},
        {"no namespace", "", "", "<GeteBayOfficialTimeRequest/>", "namespace"},
    };
    for (const Case &c : cases) {
        auto headers = ebayHeaders("GeteBayOfficialTime");
        for (auto &[name, value] : headers)
            if (name == c.header) value = c.value;
        Http h = exchange("POST", sb->config().get("ebay/ApiUrl"), headers, c.body);
        Document d = Document::parse(h.body);
        ASSERT_FALSE(d.isNull()) << c.what;
        EXPECT_EQ(ack(d), "Failure") << c.what;
        EXPECT_NE(shortMessage(d).find(c.expect), std::string::npos) << c.what << ": " << shortMessage(d);
    }
}

TEST_F(SandboxTest, SellerTransactionsPageThroughTheWindowOnceEach)
{
    const std::vector<Document> pages = allPages(window(28));
    const int total = std::stoi(pages[0].select("*/PaginationResult/TotalNumberOfEntries").text());
    const int totalPages = std::stoi(pages[0].select("*/PaginationResult/TotalNumberOfPages").text());
    EXPECT_GT(total, 40);
    EXPECT_EQ(int(pages.size()), totalPages);
    std::set<std::pair<std::string, std::string>> seen;
    std::string lastModified;
    for (const Document &page : pages) {
        for (Node t : page.selectAll("*/TransactionArray/Transaction")) {
            EXPECT_EQ(t.namespaceUri(), std::string(xml::kEbayNamespace));
            seen.insert({t.select("Item/ItemID").text(), t.select("TransactionID").text()});
            const std::string modified = t.select("Status/LastTimeModified").text();
            EXPECT_LE(lastModified, modified);
            lastModified = modified;
            for (const char *path :
                 {"Buyer/UserID", "Buyer/EIASToken", "Item/Title", "QuantityPurchased", "Status/PaymentMethodUsed",
                  "ShippingDetails/SellingManagerSalesRecordNumber", "ShippingServiceSelected/ShippingService",
                  "ShippingServiceSelected/ShippingServiceCost", "Buyer/BuyerInfo/ShippingAddress/CityName"})
                EXPECT_TRUE(t.select(path)) << path;
            if (t.select("ShippedTime")) {
                EXPECT_TRUE(t.select("PaidTime"));
            }
        }
    }
    EXPECT_EQ(int(seen.size()), total);

    // A window with nothing in it, and one too long for eBay.
    Document empty = call("GetSellerTransactions", "<NumberOfDays>1</NumberOfDays>");
    clock.advanceSecs(40 * 86400);
    empty = call("GetSellerTransactions", "<NumberOfDays>1</NumberOfDays>");
    EXPECT_EQ(ack(empty), "Success");
    EXPECT_FALSE(empty.select("*/TransactionArray"));
    EXPECT_EQ(empty.select("*/PaginationResult/TotalNumberOfPages").text(), "0");
    EXPECT_EQ(empty.select("*/HasMoreTransactions").text(), "false");
    EXPECT_EQ(ack(call("GetSellerTransactions", window(31))), "Failure");
}

TEST_F(SandboxTest, CompleteSaleShowsInTheNextDownloadAndAtUsps)
{
    const Order *target = nullptr;
    for (const Order &o : sb->state().orders)
        if (o.isPaid() && !o.isShipped()) target = &o;
    ASSERT_NE(target, nullptr);
    const std::string item = target->itemId, transaction = target->transactionId;
    const std::string number = "9101 <&> '1234'";

    clock.advanceSecs(600);
    Document r =
        call("CompleteSale", "<ItemID>" + item + "</ItemID><Shipment><ShipmentTrackingNumber>" + xml::escape(number) +
                                 "</ShipmentTrackingNumber><ShippingCarrierUsed>USPS</ShippingCarrierUsed>"
                                 "</Shipment><Shipped>True</Shipped><TransactionID>" +
                                 transaction + "</TransactionID>");
    EXPECT_EQ(ack(r), "Success");

    Node found;
    std::vector<Document> pages = allPages("<NumberOfDays>1</NumberOfDays>");
    for (const Document &page : pages)
        if (Node t = page.select("*/TransactionArray/Transaction[Item/ItemID=$i and TransactionID=$t]",
                                 {{"i", item}, {"t", transaction}}))
            found = t;
    ASSERT_TRUE(found);
    EXPECT_EQ(found.select("ShippedTime").text(), "2008-07-01T13:40:00.000Z");
    EXPECT_EQ(found.select("Status/LastTimeModified").text(), "2008-07-01T13:40:00.000Z");
    EXPECT_EQ(found.select("ShippingDetails/ShipmentTrackingNumber").text(), number);
    EXPECT_EQ(found.select("ShippingDetails/ShippingServiceUsed").text(), target->shippingService);

    Document usps = Document::parse(track({number}, true).body);
    EXPECT_TRUE(usps.select("TrackResponse/TrackInfo/TrackSummary/Event"));

    EXPECT_EQ(ack(call("CompleteSale", "<ItemID>1</ItemID><Shipped>true</Shipped><TransactionID>2</TransactionID>")),
              "Failure");
}

TEST_F(SandboxTest, SignInGrantsASessionWhoseTokenThenWorks)
{
    Document bad = call("GetSessionID", "<RuName>someone-else</RuName>", "");
    EXPECT_EQ(ack(bad), "Failure");

    const std::string ru = sb->config().get("ebay/RuName");
    Document s = call("GetSessionID", "<RuName>" + ru + "</RuName>", "");
    ASSERT_EQ(ack(s), "Success");
    const std::string session = s.select("*/SessionID").text();
    ASSERT_FALSE(session.empty());

    EXPECT_EQ(ack(call("FetchToken", "<SessionID>" + session + "</SessionID>", "")), "Failure");

    const std::string signIn =
        (sb->baseUrl() + "/signin/ws/eBayISAPI.dll") + "?SignIn&runame=" + ru + "&SessID=" + session;
    Http page = exchange("GET", signIn, {}, {});
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("id=\"agree\""), std::string::npos);
    EXPECT_NE(page.body.find((sb->baseUrl() + "/signin/aw-secure/auth_auth_cancel.html?")), std::string::npos);

    Http grant = exchange("POST", (sb->baseUrl() + "/signin/ws/eBayISAPI.dll") + "?GrantAccess&SessID=" + session,
                          {{"Content-Type", "application/x-www-form-urlencoded"}}, "userid=o.brien-sells&pass=x");
    EXPECT_EQ(grant.status, 302);
    EXPECT_NE(grant.location.find("auth_auth_thanks"), std::string::npos);
    EXPECT_NE(grant.location.find("&username=o.brien-sells&"), std::string::npos);
    EXPECT_EQ(exchange("GET", grant.location, {}, {}).status, 200);

    Document token = call("FetchToken", "<SessionID>" + session + "</SessionID>", "");
    ASSERT_EQ(ack(token), "Success");
    EXPECT_EQ(token.select("*/HardExpirationTime").text().substr(0, 4), "2009");
    EXPECT_EQ(ack(call("GeteBayOfficialTime", "", token.select("*/eBayAuthToken").text())), "Success");
}

TEST_F(SandboxTest, MessagesFeedbackAndTheContactPage)
{
    // Questions: paged within the window.
    const std::string w = "<MailMessageType>All</MailMessageType><StartCreationTime>2008-05-01T00:00:00Z"
                          "</StartCreationTime><EndCreationTime>2008-07-02T00:00:00Z</EndCreationTime>";
    Document q1 = call("GetMemberMessages", "<Pagination><EntriesPerPage>5</EntriesPerPage><PageNumber>1</PageNumber>"
                                            "</Pagination>" +
                                                w);
    EXPECT_EQ(ack(q1), "Success");
    EXPECT_EQ(q1.selectAll("*/MemberMessage/MemberMessageExchange").size(), 5u);
    EXPECT_EQ(q1.select("*/HasMoreItems").text(), "true");
    EXPECT_EQ(q1.select("*/PaginationResult/TotalNumberOfEntries").text(),
              std::to_string(sb->state().questions.size()));
    EXPECT_TRUE(q1.select("*/MemberMessage/MemberMessageExchange/Question/SenderID"));

    // The contact page records a message that GetMyMessages returns.
    const Order &o = sb->state().orders[3];
    const std::string buyer = sb->state().buyers[o.buyer].userId;
    const std::string contact = sb->config().get("ebay/ContactUrl");
    Http form = exchange("GET", contact + "?ReturnUserEmail&requested=" + buyer + "&iid=" + o.itemId, {}, {});
    EXPECT_NE(form.body.find("name=\"subject\""), std::string::npos);
    Http sent = exchange("POST", contact, {{"Content-Type", "application/x-www-form-urlencoded"}},
                         "requested=" + buyer + "&iid=" + o.itemId + "&subject=Shipped+%26+on+its+way&message=" +
                             QUrl::toPercentEncoding("Hi <b>O'Brien</b> & co\nThanks").toStdString());
    EXPECT_NE(sent.body.find("Your question has been sent"), std::string::npos);

    Document headers =
        call("GetMyMessages", "<DetailLevel>ReturnHeaders</DetailLevel><FolderID>1</FolderID>"
                              "<StartTime>2008-07-01T13:00:00Z</StartTime><EndTime>2008-07-01T14:00:00Z</EndTime>");
    ASSERT_EQ(headers.selectAll("*/Messages/Message").size(), 1u);
    EXPECT_FALSE(headers.select("*/Messages/Message/Text"));
    const std::string id = headers.select("*/Messages/Message/MessageID").text();
    Document full = call("GetMyMessages", "<DetailLevel>ReturnMessages</DetailLevel><MessageIDs><MessageID>" + id +
                                              "</MessageID></MessageIDs>");
    EXPECT_EQ(full.select("*/Messages/Message/SendToName").text(), buyer);
    EXPECT_EQ(full.select("*/Messages/Message/Subject").text(), "Shipped & on its way");
    const std::string html = full.select("*/Messages/Message/Text").text();
    EXPECT_NE(html.find("<div id=\"TextCTA\">Hi &lt;b&gt;O&#39;Brien&lt;/b&gt; &amp; co<br/>Thanks</div>"),
              std::string::npos)
        << html;

    std::string eleven;
    for (int i = 0; i < 11; ++i)
        eleven += "<MessageID>" + std::to_string(i) + "</MessageID>";
    EXPECT_EQ(
        ack(call("GetMyMessages", "<DetailLevel>ReturnMessages</DetailLevel><MessageIDs>" + eleven + "</MessageIDs>")),
        "Failure");

    // The API road records too.
    Document aaq =
        call("AddMemberMessageAAQToPartner", "<ItemID>" + o.itemId +
                                                 "</ItemID><MemberMessage><Body>Hello &amp; bye</Body>"
                                                 "<QuestionType>Shipping</QuestionType><RecipientID>" +
                                                 buyer + "</RecipientID><Subject>S</Subject></MemberMessage>");
    EXPECT_EQ(ack(aaq), "Success");
    EXPECT_EQ(sb->state().sentMessages.back().body, "Hello & bye");
    EXPECT_EQ(ack(call("AddMemberMessageAAQToPartner", "<ItemID>" + o.itemId +
                                                           "</ItemID><MemberMessage><Body>x</Body>"
                                                           "<RecipientID>nobody</RecipientID></MemberMessage>")),
              "Failure");

    Document bidder =
        call("AddMemberMessagesAAQToBidder",
             "<AddMemberMessagesAAQToBidderRequestContainer><CorrelationID>c1</CorrelationID><ItemID>" + o.itemId +
                 "</ItemID><MemberMessage><Body>Tracking &lt;soon&gt;</Body><MessageType>"
                 "ContactMyBidder</MessageType><RecipientID>" +
                 buyer + "</RecipientID></MemberMessage></AddMemberMessagesAAQToBidderRequestContainer>");
    EXPECT_EQ(bidder.select("*/AddMemberMessagesAAQToBidderResponseContainer[CorrelationID='c1']/Ack").text(),
              "Success");
    EXPECT_EQ(sb->state().sentMessages.back().body, "Tracking <soon>");

    Document item = call("GetItem", "<ItemID>" + o.itemId + "</ItemID>");
    EXPECT_EQ(item.select("*/Item/Title").text(), o.title);
    EXPECT_EQ(ack(call("GetItem", "<ItemID>0</ItemID>")), "Failure");

    // Feedback: the 100-entry pages and the 25-entry summary form.
    Document fb = call("GetFeedback", "<Pagination><EntriesPerPage>100</EntriesPerPage><PageNumber>1</PageNumber>"
                                      "</Pagination><DetailLevel>ReturnAll</DetailLevel>");
    EXPECT_EQ(fb.select("*/FeedbackDetailItemTotal").text(), std::to_string(sb->state().feedback.size()));
    EXPECT_EQ(fb.selectAll("*/FeedbackDetailArray/FeedbackDetail").size(), sb->state().feedback.size());
    Document summary = call("GetFeedback", "<DetailLevel>ReturnAll</DetailLevel><Pagination><EntriesPerPage>25"
                                           "</EntriesPerPage><PageNumber>1</PageNumber></Pagination>");
    EXPECT_TRUE(summary.select(
        "*/FeedbackSummary/SellerRatingSummaryArray/AverageRatingSummary[FeedbackSummaryPeriod='ThirtyDays']"
        "/AverageRatingDetails/Rating"));
    EXPECT_EQ(ack(call("GetSellerDashboard")), "Success");
}

TEST_F(SandboxTest, EbayDetailsCoverEveryServiceTheProgramMaps)
{
    Document d =
        call("GeteBayDetails", "<DetailName>URLDetails</DetailName><DetailName>ShippingServiceDetails</DetailName>");
    EXPECT_NE(d.select("*/URLDetails[URLType='ViewItemURL']/URL").text().find("/item/ws/eBayISAPI.dll?ViewItem&item="),
              std::string::npos);
    EXPECT_FALSE(d.select("*/TimeZoneDetails"));
    for (const char *s : {"USPSFirstClassLargeEnvelop", "USPSPriorityMailInternationalLargeFlatRateBox", "Pickup",
                          "USPSGlobalExpressGuaranteed", "UPSGround", "USPSMedia"}) {
        Node n = d.select("*/ShippingServiceDetails[ShippingService=$s]", {{"s", s}});
        ASSERT_TRUE(n) << s;
        EXPECT_FALSE(n.select("ShippingCarrier").text().empty());
        EXPECT_FALSE(n.select("Description").text().empty());
    }
    // Every service an order uses is described.
    for (const Order &o : sb->state().orders)
        EXPECT_TRUE(d.select("*/ShippingServiceDetails[ShippingService=$s]", {{"s", o.shippingService}}))
            << o.shippingService;
}

TEST_F(SandboxTest, UspsAnswersEachNumberInOrderRawOrEncoded)
{
    std::map<TrackingStatus, std::string> byStatus;
    for (const auto &[number, t] : sb->state().tracking)
        byStatus.emplace(t.status, number);
    sb->state().tracking["9101000000000000000001"] = {TrackingStatus::ArrivalAtUnit, clock.localNow().addDays(-5),
                                                      "APO", "AE", "09012"};
    sb->state().tracking["9101000000000000000002"] = {TrackingStatus::DeliveredAbroad, clock.localNow().addDays(-9),
                                                      "LONDON", "", "SW1A"};
    std::vector<std::string> numbers = {"9101000000000000000001", "NOT-A-NUMBER", "9101000000000000000002"};
    for (auto s : {TrackingStatus::InTransit, TrackingStatus::Delivered})
        if (byStatus.count(s)) numbers.push_back(byStatus[s]);

    for (bool encode : {true, false}) {
        Http h = track(numbers, encode);
        Document d = Document::parse(h.body);
        ASSERT_FALSE(d.isNull()) << h.body;
        std::vector<Node> infos = d.selectAll("TrackResponse/TrackInfo");
        ASSERT_EQ(infos.size(), numbers.size());
        for (std::size_t i = 0; i < numbers.size(); ++i)
            EXPECT_EQ(infos[i].attribute("ID"), numbers[i]);
        EXPECT_EQ(infos[0].select("TrackSummary/Event").text(), "Arrival at Unit");
        EXPECT_FALSE(infos[1].select("Error/Description").text().empty());
        EXPECT_FALSE(infos[1].select("TrackSummary"));
        EXPECT_EQ(infos[2].select("TrackSummary/Event").text(), "Delivered Abroad");
        EXPECT_FALSE(infos[2].select("TrackSummary/EventDate").text().empty());
        EXPECT_FALSE(infos[2].selectAll("TrackDetail").empty());
        if (numbers.size() > 4) {
            EXPECT_EQ(infos[4].select("TrackSummary/Event").text(), "Delivered");
        }
    }

    std::vector<std::string> eleven(11, "9101000000000000000001");
    Document tooMany = Document::parse(track(eleven, true).body);
    EXPECT_TRUE(tooMany.select("Error/Description"));
    Document wrongUser = Document::parse(track({"1"}, true, "WRONGUSER").body);
    EXPECT_NE(wrongUser.select("Error/Description").text().find("Authorization"), std::string::npos);
}

TEST_F(SandboxTest, FaultsHitTheChosenRequestOnly)
{
    sb->injectFault({"GeteBayOfficialTime", 2, FaultKind::Http500});
    EXPECT_EQ(raw("GeteBayOfficialTime", envelope("GeteBayOfficialTime", "")).status, 200);
    EXPECT_EQ(raw("GeteBayOfficialTime", envelope("GeteBayOfficialTime", "")).status, 500);
    EXPECT_EQ(raw("GeteBayOfficialTime", envelope("GeteBayOfficialTime", "")).status, 200);

    // Twice: the client resends once on a dropped kept-alive connection.
    sb->injectFault({"GeteBayOfficialTime", 0, FaultKind::Drop, 0, 2});
    EXPECT_NE(raw("GeteBayOfficialTime", envelope("GeteBayOfficialTime", "")).error, QNetworkReply::NoError);

    sb->injectFault({"GeteBayOfficialTime", 0, FaultKind::MalformedXml});
    EXPECT_TRUE(Document::parse(raw("GeteBayOfficialTime", envelope("GeteBayOfficialTime", "")).body).isNull());

    sb->injectFault({"GeteBayOfficialTime", 0, FaultKind::Truncated});
    Http cut = raw("GeteBayOfficialTime", envelope("GeteBayOfficialTime", ""));
    EXPECT_TRUE(cut.error != QNetworkReply::NoError || Document::parse(cut.body).isNull());

    sb->injectFault({"GeteBayOfficialTime", 0, FaultKind::Delay, 3000});
    EXPECT_TRUE(raw("GeteBayOfficialTime", envelope("GeteBayOfficialTime", ""), 200).timedOut);

    sb->injectFault({"GeteBayDetails", 0, FaultKind::AckWarning});
    Document warn = call("GeteBayDetails");
    EXPECT_EQ(ack(warn), "Warning");
    EXPECT_EQ(warn.select("*/Errors/SeverityCode").text(), "Warning");
    EXPECT_TRUE(warn.select("*/ShippingServiceDetails"));

    sb->injectFault({"TrackV2", 0, FaultKind::AckFailure});
    Document noMatch = Document::parse(track({"1"}, true).body);
    EXPECT_TRUE(noMatch.select("Error/Description"));

    const auto &log = sb->requestLog();
    ASSERT_GE(log.size(), 9u);
    EXPECT_EQ(log[1].status, 500);
    EXPECT_EQ(log[3].status, 0);
    EXPECT_EQ(log[3].faults, std::vector<FaultKind>{FaultKind::Drop});
    EXPECT_GE(sb->requests("GeteBayOfficialTime").size(), 8u);
    EXPECT_EQ(sb->requests("GeteBayOfficialTime")[0].headers.at("x-ebay-api-siteid"), "0");
}

TEST_F(SandboxTest, GeneratedWorldIsDeterministicVariedAndAwkward)
{
    Sandbox again;
    ASSERT_EQ(again.state().orders.size(), sb->state().orders.size());
    for (std::size_t i = 0; i < sb->state().orders.size(); ++i) {
        EXPECT_EQ(again.state().orders[i].itemId, sb->state().orders[i].itemId);
        EXPECT_EQ(again.state().orders[i].trackingNumber, sb->state().orders[i].trackingNumber);
    }
    Options other;
    other.data.seed = 7;
    Sandbox different(other);
    EXPECT_NE(different.state().orders[0].trackingNumber + different.state().orders[0].itemId +
                  different.state().buyers[0].address.city,
              sb->state().orders[0].trackingNumber + sb->state().orders[0].itemId + sb->state().buyers[0].address.city);

    const State &s = sb->state();
    EXPECT_EQ(s.orders.size(), 60u);
    EXPECT_EQ(s.buyers.size(), 35u);
    std::map<int, int> perBuyer;
    std::set<std::string> countries, payments, carriers;
    bool unpaid = false, territory = false, quantity = false, usps9101 = false, script = false, apostrophe = false;
    for (const Order &o : s.orders) {
        ++perBuyer[o.buyer];
        countries.insert(s.buyers[o.buyer].address.country);
        territory |= s.buyers[o.buyer].address.state == "PR" || s.buyers[o.buyer].address.state == "GU" ||
                     s.buyers[o.buyer].address.state == "AE";
        payments.insert(o.paymentMethod);
        carriers.insert(o.carrierUsed);
        unpaid |= !o.isPaid();
        quantity |= o.quantity > 1;
        usps9101 |= o.trackingNumber.rfind("9101", 0) == 0;
        script |= o.title.find("<script>") != std::string::npos;
        apostrophe |= s.buyers[o.buyer].address.name.find('\'') != std::string::npos;
    }
    EXPECT_TRUE(std::any_of(perBuyer.begin(), perBuyer.end(), [](auto &p) { return p.second > 1; }));
    EXPECT_GT(countries.size(), 1u);
    EXPECT_TRUE(payments.count("PayPal") && payments.size() > 2);
    EXPECT_TRUE(carriers.count("USPS") && carriers.count("UPS"));
    EXPECT_TRUE(unpaid && territory && quantity && usps9101 && script && apostrophe);
    std::set<std::string> kinds;
    bool old = false;
    for (const Feedback &f : s.feedback) {
        kinds.insert(f.commentType);
        old |= f.commentTime.daysTo(sb->ebayNow()) > 30;
    }
    EXPECT_GE(kinds.size(), 2u);
    // Feedback older than 30 days is there, so the download's cut-off is exercised.
    EXPECT_TRUE(old);
    EXPECT_FALSE(s.questions.empty());
    EXPECT_FALSE(s.sentMessages.empty());
}

TEST_F(SandboxTest, FiftyThousandOrdersServeATenEntryPageInMilliseconds)
{
    Options big;
    big.data.orders = 50000;
    QElapsedTimer generation;
    generation.start();
    startWith(big);
    const qint64 generated = generation.elapsed();
    call("GeteBayOfficialTime"); // connection warm
    QElapsedTimer t;
    t.start();
    Document d = call("GetSellerTransactions", "<Pagination><EntriesPerPage>10</EntriesPerPage><PageNumber>2000"
                                               "</PageNumber></Pagination>" +
                                                   window(28));
    const qint64 ms = t.elapsed();
    EXPECT_EQ(d.selectAll("*/TransactionArray/Transaction").size(), 10u);
    std::printf("50000 orders: generated in %lld ms, page 2000 of 10 answered in %lld ms\n", (long long)generated,
                (long long)ms);
    EXPECT_LT(ms, 250); // a few ms in practice; generous for a loaded machine
}

TEST_F(SandboxTest, WindowsAndPagesOfTheOtherDownloadsHoldExactlyTheirEntries)
{
    const State &s = sb->state();
    ASSERT_GE(s.sentMessages.size(), 3u);
    const SentMessage &middle = s.sentMessages[s.sentMessages.size() / 2];
    auto t = [](const DateTime &d) { return d.toString().replace(10, 1, "T") + "Z"; };
    std::size_t expected = 0;
    for (const SentMessage &m : s.sentMessages)
        expected += m.received <= middle.received;
    Document headers =
        call("GetMyMessages", "<DetailLevel>ReturnHeaders</DetailLevel><FolderID>1</FolderID><StartTime>" +
                                  t(DateTime::fromParts(2008, 1, 1)) + "</StartTime><EndTime>" + t(middle.received) +
                                  "</EndTime>");
    EXPECT_EQ(headers.selectAll("*/Messages/Message").size(), expected);

    Document none = call("GetMemberMessages", "<MailMessageType>All</MailMessageType><StartCreationTime>"
                                              "2001-01-01T00:00:00Z</StartCreationTime><EndCreationTime>"
                                              "2001-02-01T00:00:00Z</EndCreationTime>");
    EXPECT_EQ(ack(none), "Success");
    EXPECT_FALSE(none.select("*/MemberMessage"));
    EXPECT_EQ(none.select("*/HasMoreItems").text(), "false");

    auto feedbackPage = [&](int page) {
        Document d = call("GetFeedback", "<Pagination><EntriesPerPage>5</EntriesPerPage><PageNumber>" +
                                             std::to_string(page) + "</PageNumber></Pagination>");
        std::vector<std::string> ids;
        for (Node n : d.selectAll("*/FeedbackDetailArray/FeedbackDetail/FeedbackID"))
            ids.push_back(n.text());
        return ids;
    };
    const auto first = feedbackPage(1), second = feedbackPage(2);
    ASSERT_EQ(first.size(), 5u);
    EXPECT_EQ(first[0], s.feedback[0].feedbackId); // newest first
    EXPECT_FALSE(second.empty());
    EXPECT_EQ(std::find(first.begin(), first.end(), second[0]), first.end());

    // Marking an order not shipped takes its ShippedTime away again.
    const Order *shipped = nullptr;
    for (const Order &o : s.orders)
        if (o.isShipped()) shipped = &o;
    ASSERT_NE(shipped, nullptr);
    EXPECT_EQ(ack(call("CompleteSale", "<ItemID>" + shipped->itemId +
                                           "</ItemID><Shipped>false</Shipped>"
                                           "<TransactionID>" +
                                           shipped->transactionId + "</TransactionID>")),
              "Success");
    EXPECT_FALSE(shipped->isShipped());
    EXPECT_EQ(shipped->modified, sb->ebayNow());
}

TEST_F(SandboxTest, PagesEscapeWhatTheyShow)
{
    const std::string evil = "<script>alert(1)</script>";
    const std::string q = QUrl::toPercentEncoding(QString::fromStdString(evil)).toStdString();
    Http contact = exchange("GET", sb->config().get("ebay/ContactUrl") + "?ReturnUserEmail&requested=" + q, {}, {});
    EXPECT_EQ(contact.body.find(evil), std::string::npos);
    EXPECT_NE(contact.body.find("&lt;script&gt;"), std::string::npos);

    for (const Order &o : sb->state().orders) {
        if (o.title.find('<') == std::string::npos) continue;
        Http item = exchange("GET", sb->config().get("ebay/ItemUrl") + "?ViewItem&item=" + o.itemId, {}, {});
        EXPECT_EQ(item.status, 200);
        EXPECT_EQ(item.body.find(o.title), std::string::npos) << o.title;
        break;
    }
    EXPECT_EQ(exchange("GET", sb->baseUrl() + "/nowhere", {}, {}).status, 404);
}

} // namespace

TEST_F(SandboxTest, UspsRestHandsOutTokensAndAnswersBothFormsWithTheWebToolsHistory)
{
    const std::string base = sb->config().get("usps/RestApiUrl");
    auto token = [&](const std::string &secret) {
        return exchange("POST", base + "/oauth2/v3/token", {{"Content-Type", "application/json"}},
                        "{\"client_id\":\"" + std::string(kUspsClientId) + "\",\"client_secret\":\"" + secret +
                            "\",\"grant_type\":\"client_credentials\"}");
    };
    EXPECT_EQ(token("wrong").status, 401);
    Http granted = token(kUspsClientSecret);
    ASSERT_EQ(granted.status, 200);
    const QJsonObject answer = QJsonDocument::fromJson(QByteArray::fromStdString(granted.body)).object();
    const std::string bearer = "Bearer " + answer.value("access_token").toString().toStdString();
    EXPECT_EQ(answer.value("expires_in").toInt(), 3600);

    std::string known;
    for (const auto &[number, t] : sb->state().tracking)
        if (t.status == TrackingStatus::Delivered) known = number;
    ASSERT_FALSE(known.empty());
    auto get = [&](const std::string &number, const std::string &auth) {
        return exchange("GET", base + "/tracking/v3/tracking/" + number + "?expand=DETAIL", {{"Authorization", auth}},
                        {});
    };
    Http one = get(known, bearer);
    ASSERT_EQ(one.status, 200);
    const QJsonObject tracked = QJsonDocument::fromJson(QByteArray::fromStdString(one.body)).object();
    const QJsonArray events = tracked.value("trackingEvents").toArray();
    // The same story as the web tool tells, newest first.
    Document web = Document::parse(track({known}, true).body);
    ASSERT_EQ(qsizetype(web.selectAll("TrackResponse/TrackInfo/TrackDetail").size() + 1), events.size());
    EXPECT_EQ(events[0].toObject().value("eventType").toString().toStdString(),
              web.select("TrackResponse/TrackInfo/TrackSummary/Event").text());
    EXPECT_EQ(tracked.value("statusCategory").toString(), "Delivered");
    EXPECT_EQ(get("NOT-KNOWN", bearer).status, 404);
    EXPECT_EQ(get(known, "Bearer made-up").status, 401);

    auto post = [&](const std::vector<std::string> &numbers) {
        QJsonArray body;
        for (const auto &n : numbers)
            body.append(QJsonObject{{"trackingNumber", QString::fromStdString(n)}});
        return exchange("POST", base + "/tracking/v3r2/tracking",
                        {{"Authorization", bearer}, {"Content-Type", "application/json"}},
                        QJsonDocument(body).toJson().toStdString());
    };
    Http many = post({known, "NOT-KNOWN"});
    EXPECT_EQ(many.status, 207);
    const QJsonArray both = QJsonDocument::fromJson(QByteArray::fromStdString(many.body)).array();
    ASSERT_EQ(both.size(), 2);
    EXPECT_EQ(both[0].toObject().value("trackingEvents").toArray(), events);
    EXPECT_TRUE(both[1].toObject().contains("error"));
    EXPECT_EQ(post(std::vector<std::string>(35, known)).status, 200);
    EXPECT_EQ(post(std::vector<std::string>(36, known)).status, 400);

    // Faults of the REST stand-in; and a token lives its hour by the sandbox's clock.
    sb->injectFault({.call = "TrackingV3r2", .kind = FaultKind::RateLimited, .retryAfterSeconds = 120});
    Http limited = post({known});
    EXPECT_EQ(limited.status, 429);
    sb->injectFault({.call = "TrackingV3r2", .kind = FaultKind::Forbidden});
    EXPECT_EQ(post({known}).status, 403);
    sb->injectFault({.call = "TrackingV3", .kind = FaultKind::TokenExpired});
    EXPECT_EQ(get(known, bearer).status, 401);
    EXPECT_EQ(get(known, bearer).status, 401) << "the token stays revoked";
    Http fresh = token(kUspsClientSecret);
    const std::string second = "Bearer " + QJsonDocument::fromJson(QByteArray::fromStdString(fresh.body))
                                               .object()
                                               .value("access_token")
                                               .toString()
                                               .toStdString();
    EXPECT_EQ(get(known, second).status, 200);
    clock.advanceSecs(3601);
    EXPECT_EQ(get(known, second).status, 401);

    // The log keeps neither the secret nor a token.
    for (const auto &r : sb->requestLog()) {
        EXPECT_EQ(r.body.find(kUspsClientSecret), std::string::npos);
        EXPECT_EQ(r.response.find("usps-sandbox-token"), std::string::npos);
        if (r.headers.count("authorization")) {
            EXPECT_EQ(r.headers.at("authorization"), "Bearer ****");
        }
    }
    EXPECT_EQ(sb->requests("OAuthToken").size(), 3u);
    EXPECT_EQ(sb->requests("TrackingV3r2").back().status, 403);
}
