// The transactions view in the real browser, with the sandbox's orders: the
// four views, their rows and captions, tags, notes, the archive, and outside
// text that must not run as script.

#include "ebay/clseBayAPI.h"
#include "orders/download.h"
#include "orders/shipment.h"
#include "orders/usps.h"
#include "pages/pages.h"
#include "platform/web/webpage.h"
#include "sandbox/sandbox.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/app/real_page.h"
#include "tests/support/fake_shell.h"
#include "tests/support/temp_dir.h"
#include "ui/rows.h"
#include "ui/served.h"
#include "ui/tags.h"
#include "ui/view.h"

#include <QEventLoop>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <gtest/gtest.h>

using namespace tw;
using namespace tw::ui;

namespace {

class ViewPageTest : public test::RealPageTest {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(sb.start());
        previous = config();
        setConfig(sb.config());
        session.openStore(dir.path());
        settings::write(session.store, "eBayAuthToken", sandbox::kDemoToken);
        {
            test::FakeShell quiet;
            ebay::clseBayAPI api(session, quiet);
            session.eBayDetails = api.SynchronousGeteBayDetails();
            orders::clsUSPSAPI usps(&quiet);
            orders::cmdDownloadOrders_Click(session, api, usps, quiet, {});
        }
        ASSERT_TRUE(test::loadPage(*s_page, pages::url(kMainPage)));
        registerTags(session, shell, table);
        table.setRedraw([this] { DisplayTransactions(session, shell); });
    }
    void TearDown() override { setConfig(previous); }

    void draw(std::string_view view)
    {
        session.currentView = std::string(view);
        DisplayTransactions(session, shell);
    }
    // The rows' attributes in page order (header left out).
    std::vector<std::vector<std::string>> rows(const std::vector<std::string> &paths)
    {
        return s_page->element("TransactionsTable").values("tr[ItemID]", paths);
    }
    void run(const std::string &action, Params params = {})
    {
        params["Action"] = action;
        ASSERT_TRUE(table.runAction(params)) << action;
    }
    std::string caption(const char *id) { return s_page->element(id).innerText(); }

    sandbox::Sandbox sb;
    Config previous;
    test::TempDir dir;
    Session session;
    test::WebShell shell{*s_page};
    FeatureTable table;
};

TEST_F(ViewPageTest, EachViewDrawsItsOrdersSortedWithCaptionsAndColours)
{
    const orders::ViewCounts counts = [&] {
        orders::UpdateShipmentStatus(session.store);
        return orders::countViews(session.store);
    }();
    ASSERT_GT(counts.notShipped, 0);
    ASSERT_GT(counts.deliveredNeedsFollowUp + counts.inTransit, 0);

    draw(kNotShipped);
    EXPECT_EQ(caption("TD_NotShipped"), "Not Shipped (" + std::to_string(counts.notShipped) + ")");
    EXPECT_EQ(caption("TD_InTransit"), "In Transit (" + std::to_string(counts.inTransit) + ")");
    EXPECT_EQ(s_page->element("TD_NotShipped").style("backgroundColor"), "rgb(205, 205, 255)");
    EXPECT_EQ(s_page->element("TD_InTransit").style("backgroundColor"), "rgb(255, 255, 255)");
    auto notShipped = rows({"@ItemID", "@TransactionID", "style.backgroundColor"});
    ASSERT_EQ(int(notShipped.size()), counts.notShipped);
    // Paid newest first, then the unpaid ones by buyer.
    const std::vector<xml::Node> expected = viewOrders(session.store, kNotShipped);
    for (size_t k = 0; k < notShipped.size(); ++k) {
        EXPECT_EQ(notShipped[k][0], store::childText(expected[k], "Item/ItemID")) << k;
        if (k > 0) {
            EXPECT_NE(notShipped[k][2], notShipped[k - 1][2]) << "rows " << k - 1 << " and " << k;
        }
    }
    EXPECT_EQ(s_page->element("TransactionsTable").rows()[0].cells()[1].innerText(), "Status");
    EXPECT_NE(s_page->element("submenu").innerHTML().find("Archive Tagged"), std::string::npos);
    EXPECT_NE(s_page->element("message").innerText().find("DSR Score"), std::string::npos);
    EXPECT_FALSE(shell.processingShown());

    draw(kInTransit);
    auto inTransit = rows({"@ItemID"});
    EXPECT_EQ(int(inTransit.size()), counts.inTransit);
    EXPECT_EQ(s_page->element("TransactionsTable").rows()[0].cells()[1].innerText(), "Days\nSince\nShipped");
    EXPECT_EQ(settings::read(xml::Document::load(session.store.path(store::Doc::Settings)), "LastTab"), "InTransit");

    draw(kArchived);
    EXPECT_TRUE(rows({"@ItemID"}).empty());
    EXPECT_EQ(s_page->element("TransactionsTable").rows().size(), 1u);
    EXPECT_EQ(caption("TD_Archived"), "Archived (0)");
    EXPECT_NE(s_page->element("submenu").innerHTML().find("Restore Tagged"), std::string::npos);
}

TEST_F(ViewPageTest, OutsideTextDoesNotRunAsScript)
{
    xml::Node first = session.store.transactions().root().firstElement();
    xml::Node title = first.select("Item/Title");
    title.setText("<img src=x onerror=\"document.body.setAttribute('pwned','img')\">"
                  "<script>document.body.setAttribute('pwned','script')</script>");
    SetNodeChildText(first, "PaidTime", "2099-01-01T00:00:00Z");
    first.select("Buyer/UserID").setText("eve\"><svg onload=\"document.body.setAttribute('pwned','svg')\">");
    draw(kNotShipped);
    // A broken image of our own, added after the rows: once its error has
    // fired, one the rows had made would have fired too.
    s_page->runJavaScript("var i = document.createElement('img'); i.onerror = function () {"
                          " document.body.setAttribute('sentinel', '1'); }; i.src = 'x';"
                          " document.body.appendChild(i);");
    ASSERT_TRUE(test::until([&] { return s_page->body().attribute("sentinel") == "1"; }));
    EXPECT_EQ(s_page->body().attribute("pwned"), "");
    page::Element table = s_page->element("TransactionsTable");
    EXPECT_TRUE(table.query("script").empty());
    EXPECT_TRUE(table.query("img").empty());
    EXPECT_TRUE(table.query("svg").empty());
    EXPECT_NE(table.innerText().find("<script>"), std::string::npos);
}

TEST_F(ViewPageTest, TagsNotesAndTheArchive)
{
    // Tagged with feedback: exactly the rows whose order has a feedback record.
    int withFeedback = 0;
    for (std::string_view view : {kDeliveredNeedsFollowUp, kInTransit})
        for (const OrderRow &row : (draw(view), run("TagWithFeedback"), orderRows(*s_page))) {
            bool has = bool(session.store.doc(store::Doc::Feedback)
                                .select("Feedbacks/FeedbackDetail[ItemID=$i and TransactionID=$t]",
                                        {{"i", row.itemId}, {"t", row.transactionId}}));
            EXPECT_EQ(row.tagged, has) << row.itemId;
            withFeedback += has;
        }
    EXPECT_GT(withFeedback, 0);

    draw(kNotShipped);
    auto all = orderRows(*s_page);
    ASSERT_GE(all.size(), 3u);

    run("TagAll");
    EXPECT_EQ(taggedRows(*s_page).size(), all.size());
    run("UnTagAll");
    EXPECT_TRUE(taggedRows(*s_page).empty());
    s_page->element("TransactionsTable")
        .setEach("tr[ItemID] input[name=\"tagged\"]", "checked", std::vector<std::string>(all.size(), "false"));
    std::vector<page::Element> boxes = s_page->element("TransactionsTable").query("input[name=\"tagged\"]");
    boxes[0].setChecked(true);
    run("FlipTags");
    auto flipped = orderRows(*s_page);
    EXPECT_FALSE(flipped[0].tagged);
    for (size_t k = 1; k < flipped.size(); ++k)
        EXPECT_TRUE(flipped[k].tagged) << k;

    // Notes: add, save, redraw, delete.
    const OrderRow first = all[0];
    const Params ids{{"TransactionID", first.transactionId}, {"ItemID", first.itemId}};
    run("AddNoteClick", ids);
    const std::string inRow = "tr[TransactionID=\"" + first.transactionId + "\"][ItemID=\"" + first.itemId + "\"] ";
    std::vector<page::Element> input = s_page->element("TransactionsTable").query(inRow + "input[name=\"note\"]");
    ASSERT_EQ(input.size(), 1u);
    input[0].setValue("Ring the \"back\" door & wait");
    run("SaveNoteClick", ids);
    xml::Document notes = xml::Document::load(session.store.path(store::Doc::Notes));
    EXPECT_EQ(GetNodeText(notes, "Notes/Note/Text"), "Ring the \"back\" door & wait");
    EXPECT_EQ(GetNodeText(notes, "Notes/Note/ItemID"), first.itemId);
    draw(kNotShipped);
    input = s_page->element("TransactionsTable").query(inRow + "input[name=\"note\"]");
    ASSERT_EQ(input.size(), 1u);
    EXPECT_EQ(input[0].value(), "Ring the \"back\" door & wait");
    run("DeleteNoteClick", ids);
    EXPECT_TRUE(s_page->element("TransactionsTable").query(inRow + "input[name=\"note\"]").empty());
    xml::Document noNotes = xml::Document::load(session.store.path(store::Doc::Notes));
    EXPECT_FALSE(noNotes.select("Notes/Note"));

    // Archive two tagged rows, then restore them.
    boxes = s_page->element("TransactionsTable").query("input[name=\"tagged\"]");
    boxes[1].setChecked(true);
    boxes[2].setChecked(true);
    run("ArchiveTagged");
    xml::Document archived = xml::Document::load(session.store.path(store::Doc::ArchivedTransactions));
    EXPECT_EQ(archived.selectAll("Transactions/Transaction").size(), 2u);
    EXPECT_TRUE(store::findOrder(archived, all[1].itemId, all[1].transactionId));
    EXPECT_FALSE(store::findOrder(xml::Document::load(session.store.path(store::Doc::Transactions)), all[1].itemId,
                                  all[1].transactionId));
    EXPECT_EQ(orderRows(*s_page).size(), all.size() - 2); // redrawn
    EXPECT_EQ(caption("TD_Archived"), "Archived (2)");

    draw(kArchived);
    run("TagAll");
    run("RestoreTagged");
    xml::Document emptied = xml::Document::load(session.store.path(store::Doc::ArchivedTransactions));
    EXPECT_FALSE(emptied.select("Transactions/*"));
    EXPECT_TRUE(store::findOrder(xml::Document::load(session.store.path(store::Doc::Transactions)), all[2].itemId,
                                 all[2].transactionId));

    // Archive all, answered No: nothing changes on disk.
    draw(kNotShipped);
    const std::string active = test::readFile(session.store.path(store::Doc::Transactions));
    const std::string archive = test::readFile(session.store.path(store::Doc::ArchivedTransactions));
    shell.answers = {"No"};
    run("ArchiveAll");
    EXPECT_EQ(shell.boxes.back(), (std::pair<std::string, std::string>{
                                      "Confirm", "Are you sure you want to archive all transactions in this view?"}));
    EXPECT_EQ(test::readFile(session.store.path(store::Doc::Transactions)), active);
    EXPECT_EQ(test::readFile(session.store.path(store::Doc::ArchivedTransactions)), archive);
    shell.answers = {"Yes"};
    run("ArchiveAll");
    EXPECT_TRUE(orderRows(*s_page).empty());
    EXPECT_EQ(caption("TD_NotShipped"), "Not Shipped (0)");
}

} // namespace
