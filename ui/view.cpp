#include "ui/view.h"

#include "ebay/clseBayAPI.h"
#include "orders/shipment.h"
#include "pages/pages.h"
#include "paypal/details.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "ui/rows.h"
#include "ui/served.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdint>
#include <memory>
#include <optional>

namespace tw::ui {
namespace {

// Rows that fill the window at once; later batches grow fourfold, so the
// page lays the table out only a few times.
constexpr int kFirstBatch = 30;
constexpr int kLoadWaitMs = 30000;

struct Tab {
    std::string_view view, element;
};
constexpr Tab kTabs[] = {{kDeliveredNeedsFollowUp, "TD_DeliveredNeedsFollowUp"},
                         {kInTransit, "TD_InTransit"},
                         {kNotShipped, "TD_NotShipped"},
                         {kArchived, "TD_Archived"}};

void processEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool onMainPage(Shell &shell)
{
    return equalsNoCase(shell.page().url(), pages::url(kMainPage));
}

// eBay's Timestamp of an answer, in local time.
DateTime answerTime(const xml::Document &answer, double offset)
{
    DateTime t = eBayTimeToDate(GetNodeText(answer.root(), "Timestamp"));
    return t.isValid() ? t.addDays(-offset) : t;
}

void drawRatingBox(Session &session, Shell &shell)
{
    auto fetch = [&] {
        shell.ProcessingImageDisplay("Getting DSR Score");
        ebay::clseBayAPI api(session, shell);
        xml::Document answer = api.SynchronousGetFeedback();
        if (answer) session.feedbackRating = std::move(answer);
        shell.ProcessingImageHide();
    };
    if (!session.feedbackRating) {
        fetch();
    } else if (GetNodeText(session.feedbackRating.root(), "Ack") == "Success") {
        DateTime fetched = answerTime(session.feedbackRating, session.eBayClockOffset);
        if (fetched.isValid() && fetched.daysTo(clock().localNow()) * 24 * 60 > 60) fetch();
    }
    if (session.feedbackRating)
        if (page::Element box = shell.page().element("message"))
            box.setInnerHTML(ratingBoxHtml(session.feedbackRating));
}

// PayPal's details of the orders about to be drawn, fetched where missing
// or still pending, before any row is built: a fetch waits for PayPal while
// the window handles events, and rows are built from what the store holds
// after it.
void fetchPaypalDetails(Session &session, Shell &shell, std::string_view view, SortedOrders &sorted)
{
    if (view == kArchived) return;
    xml::Document &source = session.store.transactions();
    paypal::DetailsFetcher fetcher(session.store.settings(), shell);
    for (xml::Node order : sorted.orders)
        if (fetcher.refresh(source, order)) shell.ProcessingImageDisplay("Rendering");
    if (fetcher.fetchedAny()) session.store.save(store::Doc::Transactions);
}

} // namespace

std::string sortStylesheet(std::string_view view)
{
    const std::string sort =
        view == kNotShipped ? "      <xsl:sort select=\"ebay:PaidTime\" data-type=\"text\" order=\"descending\"/>"
                              "      <xsl:sort select=\"ebay:Buyer/ebay:UserID\" data-type=\"text\"/>"
                            : "      <xsl:sort select=\"ebay:ShippingDetails/ebay:SellingManagerSalesRecordNumber\" "
                              "data-type=\"number\" order=\"descending\"/>";
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
           "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" "
           "xmlns:ebay=\"urn:ebay:apis:eBLBaseComponents\">"
           "  <xsl:output method=\"xml\" version=\"1.0\" encoding=\"utf-8\" />"
           "  <xsl:template match=\"Transactions\">"
           "    <Transactions>"
           "    <xsl:for-each select=\"ebay:Transaction\">" +
           sort +
           "          <xsl:copy-of select=\".\" />"
           "    </xsl:for-each>"
           "    </Transactions>"
           "  </xsl:template>"
           "</xsl:stylesheet>";
}

SortedOrders sortedOrders(const Session &session, std::string_view view)
{
    const xml::Document &source =
        session.store.doc(view == kArchived ? store::Doc::ArchivedTransactions : store::Doc::Transactions);
    SortedOrders out{xml::transform(xml::Document::parse(sortStylesheet(view)), source), {}};
    if (!out.sorted || !out.sorted.root()) return out;
    const char *select = view == kDeliveredNeedsFollowUp ? "Transaction[KORVA/ShipmentStatus='Delivered']"
                         : view == kInTransit            ? "Transaction[KORVA/ShipmentStatus='Shipped']"
                         : view == kNotShipped           ? "Transaction[not (ShippedTime)]"
                                                         : "Transaction";
    out.orders = out.sorted.root().selectAll(select);
    return out;
}

std::string ratingBoxHtml(const xml::Document &feedback)
{
    static const std::pair<const char *, const char *> rows[] = {
        {"Item As Described:", "ItemAsDescribed"},
        {"Communication:", "Communication"},
        {"Shipping Time:", "ShippingTime"},
        {"Shipping & Handling:", "ShippingAndHandlingCharges"},
    };
    std::string html = "<table style=\"border: 1px solid #9999FF;\"><tr><td colspan=\"2\"><b>DSR Score - Rolling 30 "
                       "Days</b></td></tr>";
    const xml::Node root = feedback.root();
    for (const auto &[label, detail] : rows) {
        const std::string base = "FeedbackSummary/SellerRatingSummaryArray/AverageRatingSummary[FeedbackSummaryPeriod="
                                 "'ThirtyDays']/AverageRatingDetails[RatingDetail=$detail]/";
        const xml::Vars vars{{"detail", detail}};
        const std::string rating = GetNodeText(root, base + "Rating", "--", vars);
        const std::string count = GetNodeText(root, base + "RatingCount", "0", vars);
        html += "<tr><td><font style=\"font-size: xx-small;\">" + xml::escape(label) +
                "</font></td><td><font style=\"font-size: xx-small;\">" + xml::escape(rating) + " (" +
                xml::escape(count) + " Ratings)</font></td></tr>";
    }
    return html + "</table>";
}

std::string commandMenuHtml(std::string_view view, const xml::Document &settingsDoc)
{
    auto entry = [](const char *action, const char *text) {
        return std::string("&nbsp;&nbsp;<a href=\"http://plinthway/?Action=") + action + "\">" + text + "</a> ";
    };
    std::string menu = entry("TagAll", "Tag All") + entry("UnTagAll", "UnTag All") + entry("FlipTags", "Flip Tags");
    if (view != kNotShipped) menu += entry("TagWithFeedback", "Tag Items with Feedback");
    if (!trim(settings::read(settingsDoc, "SMTPServer")).empty() &&
        !trim(settings::read(settingsDoc, "SMTPFrom")).empty())
        menu += entry("SendSMTPTemplateMessage", "Compose SMTP Message");
    menu += entry("PrintPostage", "Endicia");
    menu += view == kArchived ? "&nbsp;&nbsp;<a href=\"http://plinthway/?Action=RestoreTagged\">Restore Tagged</a>"
                              : "&nbsp;&nbsp;<a href=\"http://plinthway/?Action=ArchiveTagged\">Archive Tagged</a>";
    return "<div style=\"display: inline;white-space: nowrap;\">" + menu + "</div>";
}

void DisplayTransactions(Session &session, Shell &shell)
{
    page::Page &page = shell.page();
    QElapsedTimer waited;
    waited.start();
    while (page.loading() && waited.elapsed() < kLoadWaitMs)
        processEvents();
    if (!onMainPage(shell)) {
        shell.navigate(pages::url(kMainPage));
        return;
    }

    shell.ProcessingImageDisplay("Rendering");
    if (session.currentView.empty()) session.currentView = std::string(kNotShipped);
    const std::string view = session.currentView;
    if (settings::read(session.store.settings(), "LastTab") != view) settings::write(session.store, "LastTab", view);

    if (view != kArchived) orders::UpdateShipmentStatus(session.store);
    for (const Tab &tab : kTabs)
        if (page::Element e = page.element(tab.element)) e.setStyle("backgroundColor", "#ffffff");

    shell.ProcessingImageDisplay("Grouping by Buyer");
    SortedOrders sorted = sortedOrders(session, view);
    shell.ProcessingImageDisplay("Rendering");

    for (const Tab &tab : kTabs)
        if (tab.view == view)
            if (page::Element e = page.element(tab.element)) e.setStyle("backgroundColor", "#cdcdff");
    orders::UpdateCounts(page, session.store);

    drawRatingBox(session, shell);
    shell.ProcessingImageDisplay("Rendering");

    if (page::Element menu = page.element("submenu")) {
        menu.setInnerHTML(commandMenuHtml(view, session.store.settings()));
        menu.setStyle("backgroundColor", "#cdcdff");
    }

    page::Element table = page.element("TransactionsTable");
    if (table) {
        table.setStyle("visibility", "visible");
        table.keepRows(1);
        std::vector<page::Element> header = table.rows();
        if (!header.empty()) {
            std::vector<page::Element> cells = header[0].cells();
            if (cells.size() > 1)
                cells[1].setInnerHTML(view == kNotShipped ? "Status" : "Days<br />Since<br />Shipped");
        }
        fetchPaypalDetails(session, shell, view, sorted);
        // The orders are the drawing's own copies; what the builder looked up
        // in the store is looked up again when the store changed while the
        // window handled events between batches.
        const DateTime now = clock().localNow();
        std::optional<RowBuilder> builder;
        std::uint64_t builtAt = 0;
        const int total = int(sorted.orders.size());
        int batchSize = kFirstBatch;
        std::string batch;
        int inBatch = 0;
        for (int k = 0; k < total; ++k) {
            if (!builder || builtAt != session.store.generation()) {
                builder.emplace(session, view, now);
                builtAt = session.store.generation();
            }
            batch += builder->row(sorted.orders[size_t(k)], k);
            if (++inBatch < batchSize && k + 1 < total) continue;
            table.appendHTML(batch);
            shell.rowsShown(k + 1, total);
            batch.clear();
            inBatch = 0;
            batchSize *= 4;
            if (k + 1 < total) {
                shell.ProcessingImageDisplay("Rendering<br>" + std::to_string(k + 1) + " of " + std::to_string(total));
                processEvents();
            }
        }
    }
    shell.ProcessingImageHide();
}

void registerView(Session &session, Shell &shell, FeatureTable &table)
{
    // A redraw asked for while one runs (a download ending, say) follows it.
    struct State {
        bool drawing = false;
        bool again = false;
    };
    auto state = std::make_shared<State>();
    table.setRedraw([&session, &shell, state] {
        if (state->drawing) {
            state->again = true;
            return;
        }
        state->drawing = true;
        do {
            state->again = false;
            DisplayTransactions(session, shell);
        } while (state->again);
        state->drawing = false;
    });
    // The main page has loaded: draw it, unless the seller has moved on meanwhile.
    table.addPageFill(std::string(kMainPage), [&shell, &table](const std::string &) {
        if (onMainPage(shell)) table.RefreshGrid();
    });
    for (const Tab &tab : kTabs)
        table.addAction("Display" + std::string(tab.view), [&session, &table, view = tab.view](const Params &) {
            session.currentView = std::string(view);
            table.RefreshGrid();
        });
}

} // namespace tw::ui
