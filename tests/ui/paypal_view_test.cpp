// PayPal's details fetched while the view is drawn, against the sandbox's
// PayPal: missing ones with their overlay texts, pending ones again at each
// drawing until they complete, saved with the store, shown in the rows; none
// in the archive or without an API user.

#include "platform/config.h"
#include "sandbox/sandbox.h"
#include "store/basFunctions.h"
#include "store/order_index.h"
#include "store/settings.h"
#include "tests/support/fake_shell.h"
#include "tests/support/temp_dir.h"
#include "ui/rows.h"
#include "ui/view.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tw;
using namespace tw::ui;

namespace {

const std::string kNs = " xmlns=\"urn:ebay:apis:eBLBaseComponents\"";

std::string paypalOrder(const std::string &item, const std::string &paid, const std::string &paypalId,
                        const std::string &method = "PayPal")
{
    return "<Transaction" + kNs + "><Item><ItemID>" + item + "</ItemID><Title>Lamp</Title></Item>" +
           "<TransactionID>0</TransactionID><PaidTime>" + paid + "</PaidTime><Status><PaymentMethodUsed>" + method +
           "</PaymentMethodUsed></Status><ExternalTransaction><ExternalTransactionID>" + paypalId +
           "</ExternalTransactionID></ExternalTransaction></Transaction>";
}

struct PaypalViewTest : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(sb.start());
        setConfig(sb.config());
        session.openStore(dir.path());
        xml::Document &s = session.store.settings();
        settings::set(s, "PaypalAPIUser", sandbox::kPaypalUser);
        settings::set(s, "PaypalAPIPassword", sandbox::kPaypalPassword);
        settings::set(s, "PaypalAPISignature", sandbox::kPaypalSignature);
        settings::set(s, "PaypalAPIAuthMode", "Signature");
        // A rating answer that is not fetched again: the drawing asks eBay nothing.
        session.feedbackRating = xml::Document::parse("<GetFeedbackResponse><Ack>Failure</Ack></GetFeedbackResponse>");
        table = shell.fake.add("TABLE", "TransactionsTable");

        for (const auto &[id, p] : sb.state().paypal)
            (p.pendingFetches > 0 ? pending : completed) = &p;
        ASSERT_TRUE(pending && completed);
    }
    void TearDown() override { setConfig(Config()); }

    // Draws `view` afresh; the overlay texts of the drawing.
    std::vector<std::string> draw(std::string_view view)
    {
        session.currentView = std::string(view);
        shell.overlays.clear();
        shell.fake.el(table).props["innerHTML"] = "";
        DisplayTransactions(session, shell);
        return shell.overlays;
    }
    std::string rowsHtml() { return shell.fake.el(table).props["innerHTML"]; }
    std::vector<std::string> asked() const
    {
        std::vector<std::string> ids;
        for (const auto &r : sb.requests("GetTransactionDetails"))
            ids.push_back(r.body.substr(r.body.rfind('=') + 1));
        return ids;
    }
    std::string storedStatus(const std::string &item)
    {
        xml::Document saved = xml::Document::load(session.store.path(store::Doc::Transactions));
        return store::childText(store::findOrder(saved, item, "0"), "PaypalTransaction/PAYMENTSTATUS");
    }

    sandbox::Sandbox sb;
    const sandbox::PaypalPayment *pending = nullptr, *completed = nullptr;
    test::TempDir dir;
    Session session;
    test::FakeShell shell;
    int table = 0;
};

TEST_F(PaypalViewTest, MissingDetailsAreFetchedSavedAndShownAndPendingOnesAgainUntilComplete)
{
    session.store.transactions() =
        xml::Document::parse("<Transactions>" + paypalOrder("new", "2008-01-08T00:00:00Z", pending->transactionId) +
                             paypalOrder("old", "2008-01-01T00:00:00Z", completed->transactionId) +
                             paypalOrder("card", "2008-01-05T00:00:00Z", "", "MOCC") + "</Transactions>");

    const std::vector<std::string> first = draw(kNotShipped);
    // Each fetch in its turn, with "Rendering" again after it.
    const std::vector<std::string> expected = {
        "Downloading Paypal Transaction<br>" + pending->transactionId, "Rendering",
        "Downloading Paypal Transaction<br>" + completed->transactionId, "Rendering"};
    auto at = std::search(first.begin(), first.end(), expected.begin(), expected.end());
    EXPECT_NE(at, first.end()) << ::testing::PrintToString(first);
    EXPECT_EQ(asked(), (std::vector<std::string>{pending->transactionId, completed->transactionId}));
    EXPECT_EQ(storedStatus("new"), "Pending");
    EXPECT_EQ(storedStatus("old"), "Completed");
    EXPECT_NE(rowsHtml().find("</b> PayPal payment $" +
                              store::childText(store::findOrder(session.store.transactions(), "new", "0"),
                                               "PaypalTransaction/AMT") +
                              " received from " + xml::escape(pending->payerEmail) + " (Pending)</div>"),
              std::string::npos)
        << rowsHtml();
    EXPECT_FALSE(shell.processingShown());

    // The pending one is asked again at each drawing, and only it.
    const std::vector<std::string> second = draw(kNotShipped);
    EXPECT_NE(
        std::find(second.begin(), second.end(), "Checking Pending<br>Paypal Transaction<br>" + pending->transactionId),
        second.end());
    EXPECT_EQ(asked().size(), 3u);
    EXPECT_EQ(storedStatus("new"), "Pending");
    draw(kNotShipped);
    EXPECT_EQ(asked().size(), 4u);
    EXPECT_EQ(storedStatus("new"), "Completed");
    EXPECT_EQ(rowsHtml().find("(Pending)"), std::string::npos);
    EXPECT_NE(rowsHtml().find(xml::escape(pending->payerEmail) + "</div>"), std::string::npos);

    // Complete now: nothing more to ask.
    const std::string saved = test::readFile(session.store.path(store::Doc::Transactions));
    draw(kNotShipped);
    EXPECT_EQ(asked().size(), 4u);
    EXPECT_EQ(test::readFile(session.store.path(store::Doc::Transactions)), saved);
    // One PaypalTransaction per order however often it was fetched.
    EXPECT_EQ(session.store.transactions().selectAll("//Transaction[PaypalTransaction[2]]").size(), 0u);
}

TEST_F(PaypalViewTest, TheArchiveAndASellerWithoutAnApiUserAreNotFetched)
{
    session.store.archived() = xml::Document::parse(
        "<Transactions>" + paypalOrder("a", "2008-01-08T00:00:00Z", completed->transactionId) + "</Transactions>");
    session.store.transactions() = xml::Document::parse(
        "<Transactions>" + paypalOrder("b", "2008-01-08T00:00:00Z", completed->transactionId) + "</Transactions>");
    draw(kArchived);
    EXPECT_NE(rowsHtml().find("ItemID=\"a\""), std::string::npos);
    settings::set(session.store.settings(), "PaypalAPIUser", "");
    draw(kNotShipped);
    EXPECT_NE(rowsHtml().find("ItemID=\"b\""), std::string::npos);
    EXPECT_TRUE(asked().empty());
    EXPECT_TRUE(session.store.transactions().selectAll("//PaypalTransaction").empty());
}

TEST_F(PaypalViewTest, ADrawingWithoutPaypalAsksOnceAndSaysWhy)
{
    Config c = sb.config();
    c.set("paypal/SignatureApiUrl", "http://127.0.0.1:1/nvp");
    setConfig(c);
    session.store.transactions() =
        xml::Document::parse("<Transactions>" + paypalOrder("new", "2008-01-08T00:00:00Z", pending->transactionId) +
                             paypalOrder("old", "2008-01-01T00:00:00Z", completed->transactionId) + "</Transactions>");
    const std::vector<std::string> overlays = draw(kNotShipped);
    EXPECT_EQ(std::count_if(overlays.begin(), overlays.end(),
                            [](const std::string &o) { return o.rfind("Downloading Paypal", 0) == 0; }),
              1);
    EXPECT_NE(shell.lastStatus().find("PayPal payment details could not be fetched: PayPal could not be reached"),
              std::string::npos)
        << shell.lastStatus();
    // Both rows are drawn all the same.
    EXPECT_NE(rowsHtml().find("ItemID=\"new\""), std::string::npos);
    EXPECT_NE(rowsHtml().find("ItemID=\"old\""), std::string::npos);
    EXPECT_FALSE(shell.processingShown());
}

} // namespace
