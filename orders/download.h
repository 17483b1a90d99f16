#pragma once
// "Download Orders" and "Download x Days of Orders": fetch from eBay, merge
// into the store, ask USPS, redraw.

#include "platform/shell.h"
#include "store/session.h"

#include <functional>
#include <optional>
#include <string_view>

namespace tw::ebay {
class clseBayAPI;
} // namespace tw::ebay

namespace tw::orders {

class clsUSPSAPI;

// The full download, in this order: orders, the tracking numbers of printed
// labels that have not reached eBay (once the orders came down whole),
// buyer questions, sent messages, feedback, the USPS check of every stored
// order, the redraw (`redraw`), then the overlay hidden and the controls
// enabled again. A step whose call yields nothing skips only its own merge.
void cmdDownloadOrders_Click(Session &session, ebay::clseBayAPI &api, clsUSPSAPI &usps, Shell &shell,
                             const std::function<void()> &redraw);

// Sent messages since the last time, merged into SentMessages.xml (also run
// after a message went out through eBay's contact page).
void refreshSentMessages(Session &session, ebay::clseBayAPI &api);

// The answer to "How many days (max 30):" as a day count from 1 to 30, or
// nothing (empty, not a number, out of range).
std::optional<int> parseDayCount(std::string_view answer);

// Downloads the last `days` days of orders and merges them; touches nothing
// else and leaves the controls as they are.
void downloadDaysOfOrders(Session &session, ebay::clseBayAPI &api, Shell &shell, int days);

} // namespace tw::orders
