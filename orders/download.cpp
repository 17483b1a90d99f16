#include "orders/download.h"

#include "ebay/clseBayAPI.h"
#include "orders/merge.h"
#include "orders/shipment.h"
#include "orders/uploads.h"
#include "orders/usps.h"
#include "platform/text.h"
#include "store/basFunctions.h"

#include <charconv>

namespace tw::orders {

void refreshSentMessages(Session &session, ebay::clseBayAPI &api)
{
    settings::Bookmark bookmark;
    xml::Document sent = api.SynchronousGetSentMessages(&bookmark);
    // Also without messages: a window that held none is done with.
    mergeSentMessages(session.store, sent, bookmark);
}

void cmdDownloadOrders_Click(Session &session, ebay::clseBayAPI &api, clsUSPSAPI &usps, Shell &shell,
                             const std::function<void()> &redraw)
{
    // The menu entry is the same action: run inside this one, it would hide
    // the overlay halfway through.
    shell.setEnabled("cmdDownloadOrders", false);
    shell.setEnabled("Label1", false);
    shell.setEnabled("mnuDownloadDaysofOrders", false);

    // Each bookmark moves only after the records it covers are saved.
    settings::Bookmark bookmark;
    bool askedEbay = false;
    if (xml::Document orders = api.SynchronousGetSellerTransactions(&bookmark)) {
        mergeTransactions(session.store, orders, bookmark);
        askedEbay = bool(bookmark);
    }
    // eBay's answer now shows which numbers it already has: only the others
    // go again, so none reaches eBay twice.
    std::string retried;
    if (askedEbay) retried = retrySummary(retryPendingUploads(session, api, shell, eBayTimeToDate(bookmark.value)));
    if (xml::Document questions = api.SynchronousGetMemberMessages(&bookmark))
        mergeMemberMessages(session.store, questions, bookmark);
    refreshSentMessages(session, api);
    api.SynchronousGetFeedbackNew();
    CheckDeliveryStatusOfTransactions(session.store, session.store.transactions().selectAll("Transactions/Transaction"),
                                      usps);
    if (redraw) redraw();
    if (!retried.empty()) shell.setStatus(retried);

    shell.ProcessingImageHide();
    shell.setEnabled("cmdDownloadOrders", true);
    shell.setEnabled("Label1", true);
    shell.setEnabled("mnuDownloadDaysofOrders", true);
}

std::optional<int> parseDayCount(std::string_view answer)
{
    // Blanks around the number are forgiven, as a seller would expect.
    const std::string text = trim(answer);
    answer = text;
    if (answer.empty()) return std::nullopt;
    int days = 0;
    auto [end, ec] = std::from_chars(answer.data(), answer.data() + answer.size(), days);
    if (ec != std::errc() || end != answer.data() + answer.size()) return std::nullopt;
    if (days < 1 || days > 30) return std::nullopt;
    return days;
}

void downloadDaysOfOrders(Session &session, ebay::clseBayAPI &api, Shell &shell, int days)
{
    if (xml::Document orders = api.SynchronousGetSellerTransactionsByDays(std::to_string(days)))
        mergeTransactions(session.store, orders);
    shell.ProcessingImageHide();
}

} // namespace tw::orders
