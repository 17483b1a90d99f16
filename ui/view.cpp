#include "ui/view.h"

#include "ebay/clseBayAPI.h"
#include "ebay/refund.h"
#include "orders/refund.h"
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
#include <libxml/xpath.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>

namespace tw::ui {
namespace {

// Rows that fill the window at once, and the rows handed to the page at a
// time while the window is idle: a batch the page lays out in a few tens of
// milliseconds, so the seller's scrolling and clicks are not held up. The
// browser lays a table out whole each time rows are added, so past the
// first few hundred rows a batch comes only as the seller scrolls near the
// end of what is drawn, a larger one the longer the table.
constexpr size_t kFirstBatch = 30;
constexpr size_t kLaterBatch = 60;
constexpr size_t kRowsUnasked = 300;
constexpr size_t kLargestBatch = 4000;
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
// the window handles events, so what it needs is copied out of the store
// first, and the rows are built from what the store holds after it. True
// when details were stored (and Transactions.xml saved).
bool fetchPaypalDetails(Session &session, Shell &shell, const std::vector<xml::Node> &orders)
{
    const xml::Document &settingsDoc = session.store.settings();
    // Without PayPal's API no order has details to fetch; asked once, not per order.
    if (settings::read(settingsDoc, "PaypalAPIUser").empty()) return false;
    xml::Document copies = xml::Document::parse("<Transactions/>");
    for (xml::Node order : orders)
        if (paypal::detailsFetch(settingsDoc, order) != paypal::DetailsFetch::None) copies.root().append(order);
    if (!copies.root().firstElement()) return false;
    xml::Document &source = session.store.transactions();
    paypal::DetailsFetcher fetcher(settingsDoc, shell);
    for (xml::Node copy : copies.root().elements())
        if (fetcher.refresh(source, copy)) shell.ProcessingImageDisplay("Rendering");
    if (!fetcher.fetchedAny()) return false;
    session.store.save(store::Doc::Transactions);
    return true;
}

// The first `path` element (eBay's namespace at each step) under `node` in
// document order.
xml::Node ebayPathFirst(xml::Node node, const std::string_view *step, const std::string_view *end)
{
    if (step == end) return node;
    for (xml::Node child = node.firstElement(); child; child = child.nextElement())
        if (child.hasName(*step) && child.inNamespace(xml::kEbayNamespace))
            if (xml::Node found = ebayPathFirst(child, step + 1, end)) return found;
    return {};
}

// Its string value, as the stylesheet's select reads it; "" when none.
std::string ebayPathText(xml::Node node, std::initializer_list<std::string_view> path)
{
    xml::Node found = ebayPathFirst(node, path.begin(), path.end());
    return found ? found.text() : std::string();
}

// A child path's text equals `value` for any of the matching elements (local
// names, as the view's query compares).
bool anyChildPathIs(xml::Node node, std::string_view first, std::string_view second, std::string_view value)
{
    for (xml::Node a = node.firstElement(); a; a = a.nextElement())
        if (a.hasName(first))
            for (xml::Node b = a.firstElement(); b; b = b.nextElement())
                if (b.hasName(second) && b.text() == value) return true;
    return false;
}

bool inView(xml::Node order, std::string_view view)
{
    if (view == kDeliveredNeedsFollowUp) return anyChildPathIs(order, "KORVA", "ShipmentStatus", "Delivered");
    if (view == kInTransit) return anyChildPathIs(order, "KORVA", "ShipmentStatus", "Shipped");
    if (view == kNotShipped) return !order.element("ShippedTime");
    return true;
}

// libxslt's comparison of two sort keys: numbers with NaN below every number,
// text byte by byte.
int compareNumbers(double a, double b)
{
    if (std::isnan(a)) return std::isnan(b) ? 0 : -1;
    if (std::isnan(b)) return 1;
    return a == b ? 0 : a > b ? 1 : -1;
}

int compareTexts(const std::string &a, const std::string &b)
{
    return xmlStrcmp(reinterpret_cast<const xmlChar *>(a.c_str()), reinterpret_cast<const xmlChar *>(b.c_str()));
}

struct Keyed {
    xml::Node order;
    std::string first, second;
    double number = 0;
};

Keyed keyOf(xml::Node order, bool byPayment)
{
    Keyed k{order, {}, {}, 0};
    if (byPayment) {
        k.first = ebayPathText(order, {"PaidTime"});
        k.second = ebayPathText(order, {"Buyer", "UserID"});
    } else {
        // The same conversion XSLT applies to a number key.
        const std::string record = ebayPathText(order, {"ShippingDetails", "SellingManagerSalesRecordNumber"});
        k.number = xmlXPathCastStringToNumber(reinterpret_cast<const xmlChar *>(record.c_str()));
    }
    return k;
}

std::vector<xml::Node> sorted(std::vector<Keyed> keyed, bool byPayment)
{
    // Stable: equal keys keep the store's order.
    std::stable_sort(keyed.begin(), keyed.end(), [byPayment](const Keyed &a, const Keyed &b) {
        if (!byPayment) return compareNumbers(a.number, b.number) > 0; // descending
        const int paid = compareTexts(a.first, b.first);
        if (paid != 0) return paid > 0; // descending
        return compareTexts(a.second, b.second) < 0;
    });
    std::vector<xml::Node> out;
    out.reserve(keyed.size());
    for (const Keyed &k : keyed)
        out.push_back(k.order);
    return out;
}

} // namespace

std::map<std::string, ViewOrders, std::less<>> viewOrders(const store::Store &store,
                                                          const std::vector<std::string_view> &views)
{
    // One walk over the file for all the views it holds: the walk is most of
    // the cost, the orders of a large store being spread over much memory.
    std::map<std::string, ViewOrders, std::less<>> out;
    for (bool archive : {false, true}) {
        std::vector<std::string_view> here;
        for (std::string_view view : views)
            if ((view == kArchived) == archive) here.push_back(view);
        if (here.empty()) continue;
        std::vector<std::vector<Keyed>> keyed(here.size());
        std::vector<bool> refunds(here.size(), false);
        const xml::Node root = store.doc(archive ? store::Doc::ArchivedTransactions : store::Doc::Transactions).root();
        for (xml::Node order = root ? root.firstElement() : xml::Node(); order; order = order.nextElement()) {
            if (!order.hasName("Transaction") || !order.inNamespace(xml::kEbayNamespace)) continue;
            std::optional<bool> needsCheck;
            for (size_t v = 0; v < here.size(); ++v) {
                if (!inView(order, here[v])) continue;
                keyed[v].push_back(keyOf(order, here[v] == kNotShipped));
                if (!needsCheck) needsCheck = ebay::refundNeedsCheck(order);
                if (*needsCheck) refunds[v] = true;
            }
        }
        for (size_t v = 0; v < here.size(); ++v)
            out[std::string(here[v])] = {sorted(std::move(keyed[v]), here[v] == kNotShipped), refunds[v]};
    }
    return out;
}

std::vector<xml::Node> viewOrders(const store::Store &store, std::string_view view)
{
    return std::move(viewOrders(store, std::vector<std::string_view>{view})[std::string(view)].orders);
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
    // Archive All moves orders out of Transactions.xml: the Archived view has none to move.
    menu += view == kArchived ? "&nbsp;&nbsp;<a href=\"http://plinthway/?Action=RestoreTagged\">Restore Tagged</a>"
                              : "&nbsp;&nbsp;<a href=\"http://plinthway/?Action=ArchiveTagged\">Archive Tagged</a>"
                                "&nbsp;&nbsp;<a href=\"http://plinthway/?Action=ArchiveAll\">Archive All</a>";
    return "<div style=\"display: inline;white-space: nowrap;\">" + menu + "</div>";
}

View::View(Session &session, Shell &shell, Busy *busy)
    : m_session(session), m_shell(shell), m_busy(busy), m_self(std::make_shared<View *>(this))
{
}

std::uint64_t View::ordersGeneration() const
{
    std::uint64_t sum = 0;
    for (int k = 0; k < store::kDocCount; ++k)
        if (store::Doc(k) != store::Doc::Settings) sum += m_session.store.generation(store::Doc(k));
    return sum;
}

void View::validate()
{
    const void *details = m_session.eBayDetails ? static_cast<const void *>(m_session.eBayDetails.raw()) : nullptr;
    if (m_cacheAt == ordersGeneration() && m_detailsAt == details) return;
    m_cacheAt = ordersGeneration();
    m_detailsAt = details;
    m_counts.reset();
    m_sorted.clear();
    m_rows.reset();
}

const ViewOrders &View::sortedView(const std::string &view)
{
    validate();
    auto it = m_sorted.find(view);
    if (it == m_sorted.end()) {
        // The views of the active orders come together: the first drawing
        // sorts them all, and a click on another tab finds its order ready.
        std::vector<std::string_view> views{view};
        if (view != kArchived)
            for (const Tab &tab : kTabs)
                if (tab.view != kArchived && tab.view != view && !m_sorted.count(tab.view)) views.push_back(tab.view);
        m_sorted.merge(viewOrders(m_session.store, views));
        it = m_sorted.find(view);
    }
    return it->second;
}

const std::vector<xml::Node> &View::orders(const std::string &view)
{
    return sortedView(view).orders;
}

const RowBuilder &View::rows(const std::string &view, const DateTime &now)
{
    validate();
    if (m_rows)
        m_rows->reuse(view, now);
    else
        m_rows.emplace(m_session, view, now);
    return *m_rows;
}

int View::rowsToCome()
{
    if (!m_pending) return 0;
    const size_t total = orders(m_pending->view).size();
    return total > m_pending->next ? int(total - m_pending->next) : 0;
}

std::string View::takeRows(size_t count)
{
    const std::vector<xml::Node> &list = orders(m_pending->view);
    const RowBuilder &builder = rows(m_pending->view, m_pending->now);
    std::string html;
    const size_t end = std::min(list.size(), m_pending->next + count);
    for (; m_pending->next < end; ++m_pending->next)
        html += builder.row(list[m_pending->next], int(m_pending->next));
    return html;
}

bool View::pendingValid()
{
    if (!m_pending) return false;
    if (m_shell.page().document() != m_pending->document || !onMainPage(m_shell)) {
        m_pending.reset();
        return false;
    }
    return true;
}

void View::draw()
{
    page::Page &page = m_shell.page();
    QElapsedTimer waited;
    waited.start();
    while (page.loading() && waited.elapsed() < kLoadWaitMs)
        processEvents();
    if (!onMainPage(m_shell)) {
        m_shell.navigate(pages::url(kMainPage));
        return;
    }
    // Whatever an earlier drawing still owed the page is not drawn now.
    m_pending.reset();
    // The previous rows go first: the page lets go of them while it is idle,
    // and the page calls below no longer wait on their layout.
    if (page::Element t = page.element("TransactionsTable")) t.keepRows(1);
    const std::uint64_t drawing = ++m_drawings;

    m_shell.ProcessingImageDisplay("Rendering");
    if (m_session.currentView.empty()) m_session.currentView = std::string(kNotShipped);
    const std::string view = m_session.currentView;
    if (settings::read(m_session.store.settings(), "LastTab") != view)
        settings::write(m_session.store, "LastTab", view);

    // Shipment states change only with the store.
    if (view != kArchived && m_statusAt != ordersGeneration()) {
        orders::UpdateShipmentStatus(m_session.store);
        m_statusAt = ordersGeneration();
    }
    for (const Tab &tab : kTabs)
        if (page::Element e = page.element(tab.element)) e.setStyle("backgroundColor", "#ffffff");

    m_shell.ProcessingImageDisplay("Grouping by Buyer");
    orders(view);
    m_shell.ProcessingImageDisplay("Rendering");

    for (const Tab &tab : kTabs)
        if (tab.view == view)
            if (page::Element e = page.element(tab.element)) e.setStyle("backgroundColor", "#cdcdff");
    validate();
    if (!m_counts) m_counts = orders::countViews(m_session.store);
    orders::writeCounts(page, *m_counts);

    drawRatingBox(m_session, m_shell);
    m_shell.ProcessingImageDisplay("Rendering");

    if (page::Element menu = page.element("submenu")) {
        menu.setInnerHTML(commandMenuHtml(view, m_session.store.settings()));
        menu.setStyle("backgroundColor", "#cdcdff");
    }

    page::Element table = page.element("TransactionsTable");
    if (table) {
        table.setStyle("visibility", "visible");
        std::vector<page::Element> header = table.rows();
        if (!header.empty()) {
            std::vector<page::Element> cells = header[0].cells();
            if (cells.size() > 1)
                cells[1].setInnerHTML(view == kNotShipped ? "Status" : "Days<br />Since<br />Shipped");
        }
        if (view != kArchived) fetchPaypalDetails(m_session, m_shell, orders(view));
        if (sortedView(view).refundsToCheck) orders::checkEbayRefunds(m_session, m_shell, orders(view));

        // The page calls above let events run; only now are the store's
        // records looked up for the rows, and nothing runs until they are
        // in the page.
        m_pending = Pending{drawing, page.document(), view, clock().localNow(), 0, false};
        const int total = int(orders(view).size());
        if (total > 0) {
            table.appendHTML(takeRows(kFirstBatch));
            m_shell.rowsShown(int(m_pending->next), total);
        }
        if (rowsToCome() == 0)
            m_pending.reset();
        else if (m_busy)
            drawMoreLater();
        else
            completeRows();
        if (m_busy) sortOthersLater();
    }
    m_shell.ProcessingImageHide();
}

void View::completeRows()
{
    if (!pendingValid() || rowsToCome() == 0) return;
    page::Element table = m_shell.page().element("TransactionsTable");
    const int total = int(orders(m_pending->view).size());
    // Later batches grow fourfold, so the page lays the table out only a few
    // times, up to a size whose text the window holds a few copies of with ease.
    size_t batch = kFirstBatch * 4;
    while (pendingValid() && rowsToCome() > 0) {
        m_shell.ProcessingImageDisplay("Rendering<br>" + std::to_string(m_pending->next) + " of " +
                                       std::to_string(total));
        table.appendHTML(takeRows(batch));
        if (!m_pending) break;
        m_shell.rowsShown(int(m_pending->next), total);
        batch = std::min(batch * 4, kLargestBatch);
    }
    m_pending.reset();
}

void View::whenIdle(std::function<void(View &)> task)
{
    std::weak_ptr<View *> self = m_self;
    // Never inside other work (nor inside the page's answer to a batch): it
    // waits until the window is idle.
    m_shell.post([self, task = std::move(task)] {
        if (auto view = self.lock())
            (*view)->m_busy->whenIdle(
                [self, task] {
                    if (auto again = self.lock()) task(**again);
                },
                false);
    });
}

void View::drawMoreLater(bool whenNearEnd)
{
    whenIdle([drawing = m_pending->drawing, whenNearEnd](View &v) {
        if (!v.m_pending || v.m_pending->drawing != drawing) return;
        if (whenNearEnd)
            v.drawWhenNearEnd();
        else
            v.drawMore();
    });
}

void View::sortOthersLater()
{
    whenIdle([](View &v) {
        // Orders sorted before the shipment states are brought up to date
        // would be sorted again at once.
        if (v.m_statusAt != v.ordersGeneration()) return;
        v.validate();
        for (const Tab &tab : kTabs)
            if (v.m_sorted.find(tab.view) == v.m_sorted.end()) {
                v.orders(std::string(tab.view));
                v.sortOthersLater();
                return;
            }
    });
}

void View::drawMore()
{
    if (!pendingValid() || m_pending->inFlight) return;
    const int total = int(orders(m_pending->view).size());
    std::string html = takeRows(std::max(kLaterBatch, m_pending->next / 8));
    const int shown = int(m_pending->next);
    m_pending->inFlight = true;
    std::weak_ptr<View *> self = m_self;
    const std::uint64_t drawing = m_pending->drawing;
    // The page takes the batch while the window goes on; the next batch is
    // built when the page has this one, so a click's own page calls never
    // queue behind more than one batch.
    m_shell.page().element("TransactionsTable").appendHTMLLater(html, [self, drawing, shown, total] {
        auto view = self.lock();
        if (!view) return;
        View *v = *view;
        if (!v->m_pending || v->m_pending->drawing != drawing) return;
        v->m_pending->inFlight = false;
        v->m_shell.rowsShown(shown, total);
        if (v->rowsToCome() == 0)
            v->m_pending.reset();
        else
            v->drawMoreLater(size_t(shown) >= kRowsUnasked);
    });
}

void View::drawWhenNearEnd()
{
    std::weak_ptr<View *> self = m_self;
    const std::uint64_t drawing = m_pending->drawing;
    m_shell.page().element("TransactionsTable").watchEnd([self, drawing] {
        auto view = self.lock();
        if (view && (*view)->m_pending && (*view)->m_pending->drawing == drawing) (*view)->drawMoreLater();
    });
}

void DisplayTransactions(Session &session, Shell &shell)
{
    View(session, shell).draw();
}

void registerView(Session &session, Shell &shell, FeatureTable &table)
{
    // A redraw asked for while one runs (a download ending, say) follows it.
    struct State {
        explicit State(Session &session, Shell &shell, Busy &busy) : view(session, shell, &busy) {}
        View view;
        bool drawing = false;
        bool again = false;
    };
    auto state = std::make_shared<State>(session, shell, table.busy());
    table.setRedraw([state] {
        if (state->drawing) {
            state->again = true;
            return;
        }
        state->drawing = true;
        do {
            state->again = false;
            state->view.draw();
        } while (state->again);
        state->drawing = false;
    });
    // What reads the table's rows reads them all.
    table.setRowsCompleter([state] { state->view.completeRows(); });
    // The main page has loaded: draw it, unless the seller has moved on meanwhile.
    table.addPageFill(std::string(kMainPage), [&shell, &table](const std::string &) {
        if (onMainPage(shell)) table.RefreshGrid();
    });
    for (const Tab &tab : kTabs)
        table.addAction(
            "Display" + std::string(tab.view),
            [&session, &table, view = tab.view](const Params &) {
                session.currentView = std::string(view);
                table.RefreshGrid();
            },
            FeatureTable::Rows::AsShown);
}

} // namespace tw::ui
