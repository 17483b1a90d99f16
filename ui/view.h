#pragma once
// The transactions view: the four views of the orders on the main page, with
// their tab captions, the seller's rating box, the command menu and one row
// per order.

#include "platform/features.h"
#include "platform/shell.h"
#include "platform/xml.h"
#include "store/session.h"

#include <string>
#include <string_view>
#include <vector>

namespace tw::ui {

// Draws the current view (session.currentView) on the main page. When
// another page shows, loads the main page instead; its fill draws it.
// Rows go in as HTML in a few batches, the first screenful first; the
// window keeps handling events between batches. Outside the archive, PayPal's
// details of the view's PayPal orders are fetched first where missing or
// still pending (paypal/details.h), and Transactions.xml is saved once when
// any came.
void DisplayTransactions(Session &session, Shell &shell);

// The XSLT that orders a view: Not Shipped by payment time, newest first,
// then by buyer; the others by sales-record number, highest first.
std::string sortStylesheet(std::string_view view);

// The orders of `view`, sorted: copies in `sorted`, which owns them.
struct SortedOrders {
    xml::Document sorted;
    std::vector<xml::Node> orders;
};
SortedOrders sortedOrders(const Session &session, std::string_view view);

// The rating box from a GetFeedback answer.
std::string ratingBoxHtml(const xml::Document &feedback);
// The command menu of a view, wrapped.
std::string commandMenuHtml(std::string_view view, const xml::Document &settings);

// Registers the redraw, the main page's fill and the four tab actions.
// `session` and `shell` must outlive `table`.
void registerView(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::ui
