#pragma once
// The refund form for orders eBay took the payment of, opened from the
// Refund link of the order's row (or its overcharged postage), and the check
// of refunds still pending or unknown while the view draws.

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"

#include <string_view>
#include <vector>

namespace tw::orders {

inline constexpr std::string_view kEbayRefundFormPage = "/korva/ebayrefundform.html";

inline constexpr std::string_view kEbayRefundTitle = "eBay Refund";
inline constexpr std::string_view kRefundMayHaveBeenMade =
    "A refund of this order may have been made: eBay's answer to it was lost. Tidewell asks eBay about the order "
    "the next time it draws the view, and offers the form again only if no refund was made.";
inline constexpr std::string_view kCloseWhileRefundingThroughEbay =
    "Tidewell is waiting for eBay's answer to a refund. If you close now, the refund may still be made; Tidewell asks "
    "eBay about the order before it offers a refund again. Close anyway?";

// Asks eBay (getOrder) about every order of `orders` (Transaction elements
// of the store) with a refund pending or unknown, and stores what eBay says.
// The calls let events run: keys are taken first and each order is looked
// up again after its answer. Stops at the first call that reaches no eBay
// answer (said in the status bar). True when Transactions.xml or the archive
// changed (and was saved).
bool checkEbayRefunds(Session &session, Shell &shell, const std::vector<xml::Node> &orders);

// Registers DisplayEbayRefundForm, EbayRefundSend, CancelEbayRefund and the
// form's fill. `session`, `shell` must outlive `table`.
void registerEbayRefunds(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::orders
