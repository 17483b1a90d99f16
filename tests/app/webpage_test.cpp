#include "platform/web/scheme.h"
#include "platform/web/webpage.h"
#include "tests/app/real_page.h"
#include "tests/support/log_capture.h"
#include "ui/overlay.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <gtest/gtest.h>

using namespace tw;

namespace {

class WebPageTest : public test::RealPageTest {};

TEST_F(WebPageTest, ServesBundledPagesWhateverTheCaseOfThePath)
{
    ASSERT_TRUE(test::loadPage(*s_page, "tidewell://pages/korva/MAIN-1.0.47.HTML"));
    EXPECT_TRUE(s_page->element("TransactionsTable"));
    EXPECT_EQ(s_page->element("TransactionsTable").rows().size(), 1u);
    for (const char *id : {"TD_DeliveredNeedsFollowUp", "TD_InTransit", "TD_NotShipped", "TD_Archived", "message",
                           "submenu", "PrintPostageWorldShip"})
        EXPECT_TRUE(s_page->element(id)) << id;
    EXPECT_FALSE(test::loadPage(*s_page, "tidewell://pages/KORVA/no-such-page.html"));
}

TEST_F(WebPageTest, ReadsAndWritesElementsTablesAndForms)
{
    ASSERT_TRUE(test::loadPage(*s_page, "tidewell://pages/KORVA/ContactBuyer.html"));
    page::Page &p = *s_page;
    // By id and by name, across the document.
    page::Element subject = p.element("Subject");
    ASSERT_TRUE(subject);
    EXPECT_EQ(subject.tagName(), "INPUT");
    subject.setValue("re: <b>&'\"");
    EXPECT_EQ(p.element("Subject").value(), "re: <b>&'\"");
    EXPECT_EQ(subject.attribute("NAME"), "Subject");
    subject.setAttribute("data-x", "1");
    EXPECT_EQ(subject.attribute("data-x"), "1");
    EXPECT_EQ(subject.attribute("missing"), "");

    page::Element buyer = p.element("BuyerID");
    buyer.setInnerText("a < b");
    EXPECT_EQ(buyer.innerHTML(), "a &lt; b");
    buyer.setInnerHTML("<i>x</i>");
    EXPECT_EQ(buyer.innerText(), "x");
    buyer.setStyle("backgroundColor", "#DDDDFF");
    EXPECT_EQ(buyer.style("backgroundColor"), "rgb(221, 221, 255)");
    buyer.setStyle("visibility", "hidden");
    EXPECT_EQ(buyer.style("visibility"), "hidden");

    page::Element cc = p.element("cc");
    cc.setChecked(true);
    EXPECT_TRUE(p.element("cc").checked());
    cc.setDisabled(true);
    EXPECT_TRUE(cc.disabled());

    EXPECT_GT(p.bodyClientWidth(), 0);
    EXPECT_GT(p.bodyClientHeight(), 0);
    EXPECT_EQ(p.bodyScrollTop(), 0);
    EXPECT_FALSE(p.element("NoSuchElement"));
}

TEST_F(WebPageTest, TablesSelectsAndChangeEvents)
{
    ASSERT_TRUE(test::loadPage(*s_page, "tidewell://pages/KORVA/main-1.0.47.html"));
    page::Element table = s_page->element("TransactionsTable");
    page::Element row = table.insertRow();
    row.setAttribute("ItemID", "11");
    page::Element cell = row.insertCell();
    cell.setInnerHTML("<input type=checkbox name=tagged>");
    row.insertCell().setInnerText("second");
    EXPECT_EQ(table.rows().size(), 2u);
    EXPECT_EQ(table.rows()[1].cells().size(), 2u);
    EXPECT_EQ(s_page->elements("tagged").size(), 1u);
    EXPECT_EQ(table.query("tr[itemid]").size(), 1u);
    table.deleteRow(1);
    EXPECT_EQ(table.rows().size(), 1u);

    // The same page loaded again is a new document that numbers its elements
    // afresh: they listen anew.
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_TRUE(test::loadPage(*s_page, "tidewell://pages/KORVA/PrintPostageForm-1.0.57.html"));
        page::Element layout = s_page->element("Layout");
        layout.addOption("Label.lyt", "Label.lyt");
        layout.addOption("Other.lyt", "Other.lyt", true);
        EXPECT_EQ(layout.options().size(), 2u);
        EXPECT_EQ(layout.value(), "Other.lyt");
        layout.setSelectedIndex(0);
        EXPECT_EQ(layout.value(), "Label.lyt");

        int changes = 0;
        page::Element testMode = s_page->element("TestMode");
        testMode.onChange([&] { ++changes; });
        s_page->runJavaScript("document.getElementById('TestMode').click();");
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (changes) loop.quit();
        });
        poll.start(20);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        EXPECT_EQ(changes, 1) << pass;
        EXPECT_TRUE(testMode.checked()) << pass;
    }
}

// A view's rows as drawings use them: the previous rows leave at once as far
// as the program can see and are let go of while the page is idle, and the
// program hears when the seller has come near the end of the table.
TEST_F(WebPageTest, ATableLetsGoOfItsRowsInTheBackgroundAndSaysWhenItsEndIsNear)
{
    ASSERT_TRUE(test::loadPage(*s_page, "tidewell://pages/KORVA/main-1.0.47.html"));
    page::Element table = s_page->element("TransactionsTable");
    table.keepRows(1);
    // Text that must reach the page as written, past the script it travels in.
    const std::string odd = "q\"b\\s\x01 \xe2\x80\xa8\xe2\x80\xa9 \xc3\xa9 '\n";
    std::string rows;
    for (int i = 0; i < 400; ++i)
        rows += "<tr ItemID=\"" + std::to_string(i) + "\"><td style=\"height: 40px\"></td></tr>";
    for (int pass = 0; pass < 2; ++pass) {
        table.appendHTML(rows);
        ASSERT_EQ(table.rows().size(), 401u);
        table.rows()[0].cells()[0].setInnerHTML(odd);
        table.keepRows(1);
        // The handle names the table with its kept row, as does its id.
        ASSERT_EQ(table.rows().size(), 1u) << pass;
        EXPECT_EQ(s_page->element("TransactionsTable").rows().size(), 1u);
        EXPECT_EQ(table.rows()[0].cells()[0].innerHTML(), odd);
        EXPECT_TRUE(s_page->query("#TransactionsTable tr[ItemID]").empty());
        // Asked from the page's own world: the program's calls would keep it from being idle.
        EXPECT_TRUE(test::until([] {
            bool gone = false, answered = false;
            s_page->runJavaScript("document.querySelectorAll('tr[ItemID]').length === 0", [&](const QVariant &v) {
                gone = v.toBool();
                answered = true;
            });
            test::until([&] { return answered; }, 2000);
            return gone;
        })) << pass;
    }

    // A far end is not near until the seller scrolls there; a near one is at once.
    table.appendHTML(rows);
    bool farEnd = false, nearEnd = false;
    table.watchEnd([&] { farEnd = true; });
    s_page->element("submenu").watchEnd([&] { nearEnd = true; });
    ASSERT_TRUE(test::until([&] { return nearEnd; }));
    EXPECT_FALSE(farEnd);
    s_page->runJavaScript("window.scrollTo(0, document.body.scrollHeight);");
    EXPECT_TRUE(test::until([&] { return farEnd; }));
}

TEST_F(WebPageTest, OverlayIsOneElementShowingTheLatestMessageWithItsImage)
{
    ASSERT_TRUE(test::loadPage(*s_page, "tidewell://pages/KORVA/main-1.0.47.html"));
    s_page->element("Subject"); // absent here: no effect
    ui::ProcessingImageHide(*s_page);
    EXPECT_FALSE(s_page->element("ProcessingElement"));
    ui::ProcessingImageDisplay(*s_page, "Loading Settings");
    ui::ProcessingImageDisplay(*s_page, "Second");
    EXPECT_EQ(s_page->elements("ProcessingElement").size(), 1u);
    page::Element overlay = s_page->element("ProcessingElement");
    EXPECT_EQ(overlay.innerText().find("Loading"), std::string::npos);
    EXPECT_NE(overlay.innerText().find("Second"), std::string::npos);
    EXPECT_EQ(overlay.style("visibility"), "");
    EXPECT_EQ(overlay.style("top"), std::to_string(s_page->bodyClientHeight() / 2) + "px");
    // The header row survived: the overlay is added, not the body rewritten.
    EXPECT_EQ(s_page->element("TransactionsTable").rows().size(), 1u);
    ui::ProcessingImageHide(*s_page);
    EXPECT_EQ(overlay.style("visibility"), "hidden");
}

TEST_F(WebPageTest, CommandLinksReachTheProgramAsWrittenWithTheirPercentEncodingKept)
{
    ASSERT_TRUE(test::loadPage(*s_page, "tidewell://pages/KORVA/main-1.0.47.html"));
    std::vector<std::string> asked;
    s_page->beforeNavigate = [&](const std::string &url, const std::string &) {
        asked.push_back(url);
        return true; // refused, as the program does with command links
    };
    s_page->body().appendHTML("<a id=\"go\" href=\"http://plinthway/?Action=SaveSettings&Button=Save+Settings"
                              "&Note=a%26Action%3DArchiveAll\">go</a>");
    s_page->runJavaScript("document.getElementById('go').click()");
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!asked.empty()) loop.quit();
    });
    poll.start(20);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    s_page->beforeNavigate = nullptr;
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "http://plinthway/?Action=SaveSettings&Button=Save+Settings&Note=a%26Action%3DArchiveAll");
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    tw::web::registerPagesScheme();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST_F(WebPageTest, ACallThePageDoesNotAnswerInTimeIsEmptyAndLogged)
{
    test::LogCapture log;
    ASSERT_TRUE(test::loadPage(*s_page, "tidewell://pages/KORVA/main-1.0.47.html"));
    const int saved = s_page->callTimeoutMs;
    s_page->callTimeoutMs = 200;
    // The page's script is busy for longer than a call may wait.
    s_page->runJavaScript("var t = Date.now(); while (Date.now() - t < 1500) {}");
    EXPECT_FALSE(s_page->element("TransactionsTable"));
    s_page->callTimeoutMs = saved;
    EXPECT_NE(log.text().find("page no answer from the page to find within the time-out"), std::string::npos)
        << log.text();
    // Once the script is done the page answers again.
    EXPECT_TRUE(test::until([&] { return bool(s_page->element("TransactionsTable")); }));
}
