// The program against the sandbox's eBay and USPS: signing in through eBay's
// consent page, and the order downloads.

#include "platform/xml.h"
#include "sandbox/sandbox.h"
#include "tests/e2e/harness.h"

#include <QUrl>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace {

using namespace tw::e2e;
using tw::test::TempDir;

std::string iniFor(const tw::sandbox::Sandbox &sb)
{
    return sb.config().toIni();
}

tw::xml::Document loadData(const TempDir &dir, const char *file)
{
    return tw::xml::Document::load(dir / "data" / file);
}

std::string setting(const TempDir &dir, const std::string &key)
{
    tw::xml::Document settings = loadData(dir, "Settings.xml");
    return settings.select("Settings/" + key).text();
}

std::vector<std::string> orderKeys(const TempDir &dir)
{
    tw::xml::Document orders = loadData(dir, "Transactions.xml");
    std::vector<std::string> keys;
    for (auto t : orders.selectAll("Transactions/Transaction"))
        keys.push_back(t.select("Item/ItemID").text() + "/" + t.select("TransactionID").text());
    return keys;
}

// Every file of the data folder but Settings.xml, the log included, and what
// the program wrote on its standard error.
QString everythingButSettings(const TempDir &dir, const Tidewell &app)
{
    QString all = app.output();
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir / "data"))
        if (entry.is_regular_file() && entry.path().filename() != "Settings.xml")
            all += QString::fromStdString(tw::test::readFile(entry.path()));
    return all;
}

TEST(EndToEndEbay, SigningInThroughEbaysConsentDownloadsWithTheUserTokenAlone)
{
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    const int port = freePort();
    Tidewell app(dir, {iniFor(sb), "", port});
    ASSERT_TRUE(app.next("page").endsWith("/KORVA/welcome.html")) << app.output().toStdString();

    app.send("click mnuAuthorizeeBayID");
    ASSERT_FALSE(app.nextContaining("page", "/oauth2/authorize").isEmpty()) << app.output().toStdString();
    DevTools devTools(port);
    ASSERT_FALSE(devTools.evaluate("/oauth2/authorize", "document.getElementById('agree').click(); true").isEmpty());
    ASSERT_FALSE(app.nextContaining("page", "/KORVA/main-1.0.47.html").isEmpty()) << app.output().toStdString();
    // eBay's redirect with the code was caught before it was shown.
    EXPECT_TRUE(sb.requests("/oauth/accepted").empty());
    ASSERT_EQ(sb.requests("IdentityToken").size(), 1u);
    EXPECT_FALSE(setting(dir, "eBayOAuthRefreshToken").empty());
    EXPECT_EQ(setting(dir, "eBayOAuthRefreshTokenExpirationTime").size(), 20u);
    EXPECT_EQ(setting(dir, "eBayAuthToken"), "");

    // The access token expires while the second page of orders is asked for:
    // renewed once, that page asked again, the download completes.
    sb.injectFault({.call = "GetSellerTransactions", .nth = 2, .kind = tw::sandbox::FaultKind::TokenExpired});
    app.send("click cmdDownloadOrders");
    ASSERT_EQ(app.next("clicked", 60000), "cmdDownloadOrders") << app.output().toStdString();
    EXPECT_EQ(sb.requests("IdentityToken").size(), 2u);
    const auto pages = sb.requests("GetSellerTransactions");
    ASSERT_GE(pages.size(), 3u);
    EXPECT_EQ(pages[1].body, pages[2].body);
    EXPECT_NE(pages[1].headers.at("x-ebay-api-iaf-token"), pages[2].headers.at("x-ebay-api-iaf-token"));
    EXPECT_FALSE(orderKeys(dir).empty());
    int trading = 0;
    for (const auto &r : sb.requestLog()) {
        if (r.service != "ebay" || r.call == "IdentityToken") continue;
        ++trading;
        EXPECT_FALSE(r.headers.count("x-ebay-api-iaf-token") == 0) << r.call;
        EXPECT_EQ(r.body.find("eBayAuthToken"), std::string::npos) << r.call;
    }
    EXPECT_GT(trading, 5);

    // Tokens and the client secret stay in Settings.xml and in memory.
    std::vector<std::string> secrets = sb.issuedOAuthTokens();
    secrets.push_back(sb.config().get("ebay/CertName"));
    const QString elsewhere = everythingButSettings(dir, app);
    for (const std::string &secret : secrets) {
        EXPECT_FALSE(elsewhere.contains(QString::fromStdString(secret))) << secret;
        EXPECT_FALSE(elsewhere.contains(QUrl::toPercentEncoding(QString::fromStdString(secret)))) << secret;
    }
}

TEST(EndToEndEbay, DecliningAtEbayStoresNothingAndLeadsBackToTheWelcomePage)
{
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    const int port = freePort();
    Tidewell app(dir, {iniFor(sb), "", port});
    ASSERT_TRUE(app.next("page").endsWith("/KORVA/welcome.html"));
    app.send("click mnuAuthorizeeBayID");
    ASSERT_FALSE(app.nextContaining("page", "/oauth2/authorize").isEmpty());
    DevTools devTools(port);
    ASSERT_FALSE(devTools.evaluate("/oauth2/authorize", "document.getElementById('decline').click(); true").isEmpty());
    EXPECT_TRUE(app.nextContaining("page", "/KORVA/welcome.html").endsWith("/KORVA/welcome.html"))
        << app.output().toStdString();
    EXPECT_TRUE(app.output().contains("status2: You declined Tidewell's access at eBay, so nothing was stored."));
    EXPECT_TRUE(sb.requests("/oauth/declined").empty());
    EXPECT_TRUE(sb.requests("IdentityToken").empty());

    app.send("click cmdDownloadOrders");
    EXPECT_EQ(app.next("clicked"), "cmdDownloadOrders");
    EXPECT_TRUE(sb.requests("GetSellerTransactions").empty());
    EXPECT_EQ(setting(dir, "eBayOAuthRefreshToken"), "");
}

TEST(EndToEndEbay, DownloadOrdersFillsTheStoreAndTheTabsAndComesBackReady)
{
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    signIn(dir, sb);
    const int port = freePort();
    Tidewell app(dir, {iniFor(sb), "0;31;abc;;1;30", port});
    ASSERT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html")) << app.output().toStdString();

    app.send("click cmdDownloadOrders");
    ASSERT_EQ(app.next("clicked", 60000), "cmdDownloadOrders") << app.output().toStdString();
    ASSERT_FALSE(sb.requests("TrackV2").empty()) << app.output().toStdString();
    // A folder with an Auth'n'Auth token keeps using it.
    EXPECT_TRUE(sb.requests("IdentityToken").empty());
    EXPECT_NE(sb.requests("GetSellerTransactions")[0].body.find(tw::sandbox::kDemoToken), std::string::npos);
    EXPECT_EQ(sb.requests("GetSellerTransactions")[0].headers.count("x-ebay-api-iaf-token"), 0u);

    std::vector<std::string> keys = orderKeys(dir);
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), keys.size());
    for (const char *file : {"Messages.xml", "SentMessages.xml", "Feeback.xml", "TrackingNumbers.xml"}) {
        tw::xml::Document doc = loadData(dir, file);
        EXPECT_TRUE(doc.root() && doc.root().firstElement()) << file;
    }
    tw::xml::Document orders = loadData(dir, "Transactions.xml");
    const size_t shipped = orders.selectAll("Transactions/Transaction[ShippedTime]").size();
    const size_t inTransit = orders.selectAll("Transactions/Transaction[KORVA/ShipmentStatus='Shipped']").size();
    const size_t delivered = orders.selectAll("Transactions/Transaction[KORVA/ShipmentStatus='Delivered']").size();
    EXPECT_GT(shipped, 0u);
    EXPECT_EQ(inTransit + delivered, shipped);

    DevTools devTools(port);
    QString tab = devTools.evaluate("/KORVA/main-1.0.47.html", "document.getElementById('TD_InTransit').innerHTML");
    EXPECT_TRUE(tab.contains(QString("In Transit</a> (%1)").arg(inTransit))) << tab.toStdString();
    tab = devTools.evaluate("/KORVA/main-1.0.47.html", "document.getElementById('TD_NotShipped').innerText");
    EXPECT_TRUE(tab.contains(QString("Not Shipped (%1)").arg(keys.size() - shipped))) << tab.toStdString();

    // The button is back: a second download (overlapping window) brings
    // stored orders again and adds no duplicates.
    const size_t before = sb.requests("GetSellerTransactions").size();
    app.send("click cmdDownloadOrders");
    ASSERT_EQ(app.next("clicked", 60000), "cmdDownloadOrders") << app.output().toStdString();
    const auto again = sb.requests("GetSellerTransactions");
    ASSERT_GT(again.size(), before);
    size_t redownloaded = 0;
    for (size_t k = before; k < again.size(); ++k) {
        tw::xml::Document page = tw::xml::Document::parse(again[k].response);
        for (tw::xml::Node t : page.selectAll("//TransactionArray/Transaction")) {
            const std::string key = t.select("Item/ItemID").text() + "/" + t.select("TransactionID").text();
            EXPECT_NE(std::find(keys.begin(), keys.end(), key), keys.end()) << key;
            ++redownloaded;
        }
    }
    EXPECT_GT(redownloaded, 0u) << "the second download must bring stored orders again";
    std::vector<std::string> afterSecond = orderKeys(dir);
    EXPECT_EQ(std::set<std::string>(afterSecond.begin(), afterSecond.end()),
              std::set<std::string>(keys.begin(), keys.end()));
    EXPECT_EQ(afterSecond.size(), keys.size());

    // Download x days: only "1" and "30" start a download.
    auto byDays = [&] {
        std::vector<std::string> days;
        for (const auto &r : sb.requests("GetSellerTransactions")) {
            size_t at = r.body.find("<NumberOfDays>");
            if (at != std::string::npos) days.push_back(r.body.substr(at + 14, r.body.find('<', at + 14) - at - 14));
        }
        return days;
    };
    for (int k = 0; k < 6; ++k) {
        app.send("click mnuDownloadDaysofOrders");
        EXPECT_EQ(app.next("dialog"), "Download Orders | How many days (max 30):");
        EXPECT_EQ(app.next("clicked", 60000), "mnuDownloadDaysofOrders");
        if (k == 3) {
            EXPECT_TRUE(byDays().empty()) << "0, 31, abc and nothing download nothing";
        }
    }
    std::vector<std::string> days = byDays();
    ASSERT_EQ(days.size() >= 2, true) << app.output().toStdString();
    EXPECT_EQ(days.front(), "1");
    EXPECT_EQ(days.back(), "30");
    // Re-downloaded orders stand first and have lost the program's own children until redrawn;
    // 30 days reach a little further back than the 28 of the button.
    tw::xml::Document after = loadData(dir, "Transactions.xml");
    tw::xml::Node first = after.root().firstElement();
    ASSERT_TRUE(first);
    EXPECT_FALSE(first.select("KORVA"));
    std::vector<std::string> now = orderKeys(dir);
    EXPECT_GE(now.size(), keys.size());
    EXPECT_EQ(std::set<std::string>(now.begin(), now.end()).size(), now.size());
}

TEST(EndToEndEbay, TheMainPageTwiceInitialisesOnceAndTheBusyOverlayAsksToWaitOnce)
{
    TempDir dir;
    tw::sandbox::Sandbox sb;
    ASSERT_TRUE(sb.start());
    signIn(dir, sb);
    const int port = freePort();
    Tidewell app(dir, {iniFor(sb), "", port});
    DevTools devTools(port);
    ASSERT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html"));
    ASSERT_TRUE(waitFor([&] { return !sb.requests("GetFeedback").empty(); }));
    ASSERT_TRUE(waitIdle(devTools, "/KORVA/main-1.0.47.html"));
    app.send("click Label1");
    ASSERT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html"));
    ASSERT_TRUE(waitIdle(devTools, "/KORVA/main-1.0.47.html"));
    app.send("click Label1");
    ASSERT_TRUE(app.next("page").endsWith("/KORVA/main-1.0.47.html"));
    ASSERT_TRUE(waitIdle(devTools, "/KORVA/main-1.0.47.html"));
    EXPECT_EQ(sb.requests("GeteBayDetails").size(), 1u);
    EXPECT_EQ(sb.requests("GeteBayOfficialTime").size(), 1u);

    // While a slow download shows the overlay, links and menu entries are
    // refused and the overlay says "(Please wait)", once however often the
    // user insists.
    sb.injectFault({.call = "GetSellerTransactions", .kind = tw::sandbox::FaultKind::Delay, .delayMs = 4000});
    app.send("click cmdDownloadOrders");
    ASSERT_TRUE(waitFor([&] {
        return devTools
            .evaluate(
                "/KORVA/main-1.0.47.html",
                "(function () { var o = document.getElementById('ProcessingElement');"
                "  return !!o && o.style.visibility !== 'hidden' && o.innerText.indexOf('Transactions') >= 0; })()",
                5000)
            .contains("true");
    }));
    app.send("click mnuOnlineHelp");
    ASSERT_EQ(app.next("clicked"), "mnuOnlineHelp"); // the entry is off: ignored
    for (int k = 0; k < 2; ++k) {
        devTools.evaluate("/KORVA/main-1.0.47.html", "location.href = 'http://plinthway/?Action=TagAll'; true");
        ASSERT_TRUE(app.nextLine("status")); // decided: refused
    }
    QString text =
        devTools.evaluate("/KORVA/main-1.0.47.html", "document.getElementById('ProcessingElement').innerText");
    EXPECT_EQ(text.count("(Please wait)"), 1) << text.toStdString();
    EXPECT_TRUE(app.nextContaining("page", "help.html", 2000).isEmpty()) << app.output().toStdString();
    EXPECT_FALSE(app.output().contains("action: TagAll")) << app.output().toStdString();
}

} // namespace
