#pragma once
// The transactions view: the four views of the orders on the main page, with
// their tab captions, the seller's rating box, the command menu and one row
// per order.

#include "orders/shipment.h"
#include "platform/busy.h"
#include "platform/features.h"
#include "platform/shell.h"
#include "platform/xml.h"
#include "store/session.h"
#include "ui/rows.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw::ui {

// The orders of `view` in the order its sort gives: Not Shipped by payment
// time, newest first, then by buyer (unpaid orders last); the others by
// sales-record number as a number, highest first (orders without one last);
// equal keys keep their order in the store. Only Transaction records of
// eBay's namespace take part, as in eBay's answers. The nodes belong to the
// store: valid until it changes.
std::vector<xml::Node> viewOrders(const store::Store &store, std::string_view view);

// A view's orders as above, and whether any of them waits for eBay to say
// how its refund went.
struct ViewOrders {
    std::vector<xml::Node> orders;
    bool refundsToCheck = false;
};
// Several views at once, each under its name.
std::map<std::string, ViewOrders, std::less<>> viewOrders(const store::Store &store,
                                                          const std::vector<std::string_view> &views);

// The rating box from a GetFeedback answer.
std::string ratingBoxHtml(const xml::Document &feedback);
// The command menu of a view, wrapped.
std::string commandMenuHtml(std::string_view view, const xml::Document &settings);

// Draws views. What a drawing works out from the whole store (shipment
// states, counts, each view's order, the rows' lookups) is kept until the
// orders change, so a tab click costs the screenful it shows, not the store;
// the views not shown are sorted while the window is idle.
//
// A drawing shows the first screenful of rows at once. With a Busy, more
// follow a batch at a time while the window is idle, each batch built and
// handed to the page without letting other events run: the first few hundred
// rows at once, later ones as the seller scrolls near the end of those drawn.
// completeRows() draws what is left at once, before anything reads the
// table. Without a Busy, the whole view is drawn before draw() returns.
class View {
  public:
    // `session` and `shell` (and `busy`) must outlive the view.
    View(Session &session, Shell &shell, Busy *busy = nullptr);

    // Draws session.currentView on the main page; when another page shows,
    // loads the main page instead (its fill draws it). Outside the archive,
    // PayPal's details of the view's PayPal orders are fetched first where
    // missing or still pending, and Transactions.xml is saved once when any
    // came.
    void draw();
    // Draws every row the drawing still owes the page, now.
    void completeRows();
    // Rows still to come; 0 when the drawn view is whole (or gone).
    int rowsToCome();

  private:
    struct Pending {
        std::uint64_t drawing = 0;
        std::uint64_t document = 0;
        std::string view;
        DateTime now;
        size_t next = 0;
        bool inFlight = false;
    };

    // Drops what was worked out from an older store.
    void validate();
    // Changes to every store file but Settings.xml: the shipment states, the
    // views' orders and their counts do not depend on the settings.
    std::uint64_t ordersGeneration() const;
    const std::vector<xml::Node> &orders(const std::string &view);
    const RowBuilder &rows(const std::string &view, const DateTime &now);
    const ViewOrders &sortedView(const std::string &view);
    // The pending drawing's rows [next, next + count) as HTML; advances next.
    std::string takeRows(size_t count);
    bool pendingValid();
    // Runs `task` on this view once the window is idle, unless the view is gone.
    void whenIdle(std::function<void(View &)> task);
    // Draws the next batch once the window is idle; with `whenNearEnd`, only
    // once the seller has scrolled near the end of the rows as well.
    void drawMoreLater(bool whenNearEnd = false);
    void drawMore();
    void drawWhenNearEnd();
    // Sorts the views not sorted yet while the window is idle, so that a
    // tab's first click finds its order ready.
    void sortOthersLater();

    Session &m_session;
    Shell &m_shell;
    Busy *m_busy;

    std::uint64_t m_statusAt = ~std::uint64_t(0);
    std::uint64_t m_cacheAt = ~std::uint64_t(0);
    const void *m_detailsAt = nullptr;
    std::optional<orders::ViewCounts> m_counts;
    std::map<std::string, ViewOrders, std::less<>> m_sorted;
    std::optional<RowBuilder> m_rows;

    std::uint64_t m_drawings = 0;
    std::optional<Pending> m_pending;
    // Set while this object lives: a batch handed to the page may come back
    // after the view is gone.
    std::shared_ptr<View *> m_self;
};

// Draws the whole current view at once (a View without a Busy).
void DisplayTransactions(Session &session, Shell &shell);

// Registers the redraw, the main page's fill and the four tab actions.
// `session` and `shell` must outlive `table`.
void registerView(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::ui
