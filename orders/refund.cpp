#include "orders/refund.h"

#include "ebay/refund.h"
#include "pages/pages.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/order_index.h"

#include <algorithm>
#include <atomic>
#include <memory>

namespace tw::orders {

using store::childText;

namespace {

std::string esc(std::string_view text)
{
    return xml::escape(text);
}

// What the link that opened the form said, until the form is left. Keys
// only: the order is looked up again at each step.
struct OpenForm {
    bool open = false;
    std::string itemId, transactionId, amount, reason;
};

void closeForm(Session &session, OpenForm &form)
{
    session.orderSelection = xml::Document(nullptr);
    form = {};
}

std::string newLocalId()
{
    static std::atomic<int> counter{0};
    return std::to_string(tw::clock().localNow().toMsecs()) + "-" + std::to_string(++counter);
}

// The order's refunds so far and what is left, for the form's top left.
std::string orderSummaryHtml(xml::Node order)
{
    const std::string paid = childText(order, "AmountPaid");
    std::string html = "<b>eBay Payment</b><BR>Order: " + esc(ebay::restOrderId(order)) + "<br>Paid: $" +
                       esc(ebay::centsText(std::max(0LL, ebay::parseCents(paid)))) + "<br>";
    for (const ebay::RefundRecord &r : ebay::refundRecords(order))
        html += "Refund $" + esc(ebay::centsText(r.cents)) + " " + esc(lower(r.status)) + "<br>";
    html += "Left to refund: $" + esc(ebay::centsText(ebay::leftToRefundCents(order))) + "<br>";
    return html;
}

void DisplayEbayRefundForm(Session &session, Shell &shell, OpenForm &form, const Params &params)
{
    shell.ProcessingImageHide();
    const store::LocatedOrder found =
        store::locateOrder(session.store, paramValue(params, "ItemID"), paramValue(params, "TransactionID"));
    if (!found.order || !ebay::paidThroughEbay(found.order)) {
        shell.messageBox(kEbayRefundTitle, "Cannot locate transaction.");
        return;
    }
    if (ebay::refundMayHaveBeenMade(found.order)) {
        shell.messageBox(kEbayRefundTitle, kRefundMayHaveBeenMade);
        return;
    }
    session.selectOrders(session.store.doc(found.doc), {found.order});
    form.open = true;
    form.itemId = paramValue(params, "ItemID");
    form.transactionId = paramValue(params, "TransactionID");
    form.amount = paramValue(params, "Amount");
    form.reason = paramValue(params, "Reason");
    shell.navigate(pages::url(kEbayRefundFormPage));
}

void fillForm(Session &session, Shell &shell, const OpenForm &form)
{
    const store::LocatedOrder found = store::locateOrder(session.store, form.itemId, form.transactionId);
    if (!form.open || !found.order) return;
    page::Page &page = shell.page();
    page.element("AMT").setValue(form.amount);
    if (page::Element reasons = page.element("REASON")) {
        reasons.setInnerHTML("");
        reasons.addOption("Choose eBay's reason", "", form.reason.empty());
        for (const ebay::RefundReason &r : ebay::kRefundReasons)
            reasons.addOption(r.words, r.code, r.code == form.reason);
    }
    page.element("topleft_td").setInnerHTML(orderSummaryHtml(found.order));
    page.element("EbayRefund").setDisabled(false);
}

void EbayRefundSend(Session &session, Shell &shell, FeatureTable &table, OpenForm &form)
{
    page::Page &page = shell.page();
    shell.ProcessingImageDisplay("Refunding Payment");
    page::Element button = page.element("EbayRefund");
    button.setDisabled(true);

    auto finish = [&] {
        closeForm(session, form);
        shell.ProcessingImageHide();
        table.RefreshGrid();
    };
    // The form stays, for the seller to correct and send again.
    auto refuse = [&](std::string_view text) {
        shell.messageBox(kEbayRefundTitle, text);
        shell.ProcessingImageHide();
        button.setDisabled(false);
    };

    const std::string itemId = form.itemId, transactionId = form.transactionId;
    store::LocatedOrder live = store::locateOrder(session.store, itemId, transactionId);
    if (!form.open || !live.order || !ebay::paidThroughEbay(live.order)) {
        shell.messageBox(kEbayRefundTitle,
                         "We cannot locate the Transaction for this refund.  The refund will not be issued.");
        finish();
        return;
    }
    if (ebay::refundMayHaveBeenMade(live.order)) return refuse(kRefundMayHaveBeenMade);

    const std::string reason = page.element("REASON").value();
    const std::string comment = trim(page.element("COMMENT").value());
    const bool wholeOrder = page.element("SCOPE").value() == "ORDER";
    const ebay::FormCheck check =
        ebay::checkRefundForm(ebay::leftToRefundCents(live.order), page.element("AMT").value(), reason, comment);
    if (!check.problem.empty()) return refuse(check.problem);

    ebay::RefundRequest request;
    request.orderId = ebay::restOrderId(live.order);
    request.itemId = itemId;
    request.transactionId = transactionId;
    request.level = wholeOrder ? ebay::RefundLevel::Order : ebay::RefundLevel::Line;
    request.cents = check.cents;
    std::string currency = live.order.select("AmountPaid/@currencyID").text();
    if (!currency.empty()) request.currency = currency;
    request.reason = reason;
    request.comment = comment;

    // Kept with the order before it goes: whatever happens to the answer
    // (or to the program), the refund is never taken for one not made.
    ebay::RefundRecord record;
    record.localId = newLocalId();
    record.cents = check.cents;
    record.currency = request.currency;
    record.status = std::string(ebay::kUnknown);
    record.reason = reason;
    record.level = wholeOrder ? "ORDER" : "LINE";
    record.date = DateToeBayTime(session.eBayNow());
    ebay::addRefundRecord(live.order, record);
    if (!session.store.save(live.doc)) {
        if (xml::Node r = ebay::findRefundRecord(live.order, record.localId)) r.remove();
        return refuse("The refund was not sent: Tidewell could not save it with the order.");
    }
    live = {};

    ebay::SendOutcome outcome;
    {
        ebay::clseBayConnection eBay(session.store.settings());
        const Busy::Token waiting =
            table.busy().hold(Busy::Options::askBeforeClose(std::string(kCloseWhileRefundingThroughEbay), [] {}));
        outcome = ebay::issueRefund(eBay, request);
    }

    // The wait let events run: the order is looked up again.
    live = store::locateOrder(session.store, itemId, transactionId);
    xml::Node stored = ebay::findRefundRecord(live.order, record.localId);
    using Kind = ebay::SendOutcome::Kind;
    switch (outcome.kind) {
    case Kind::Accepted:
        if (stored) {
            SetNodeChildText(stored, "RefundID", outcome.refundId);
            SetNodeChildText(stored, "Status", outcome.status);
            session.store.save(live.doc);
        }
        if (outcome.status == ebay::kFailed) return refuse(outcome.words);
        finish();
        return;
    case Kind::Refused:
    case Kind::NotSent:
        if (stored) {
            stored.remove();
            session.store.save(live.doc);
        }
        return refuse(outcome.kind == Kind::Refused ? outcome.words : "The refund was not sent: " + outcome.words);
    case Kind::MayHaveHappened:
        shell.setStatus("eBay refund may have been made: " + outcome.words);
        return refuse(kRefundMayHaveBeenMade);
    }
}

} // namespace

bool checkEbayRefunds(Session &session, Shell &shell, const std::vector<xml::Node> &orders)
{
    struct Ask {
        std::string itemId, transactionId, orderId, title;
    };
    std::vector<Ask> asks;
    for (xml::Node order : orders)
        if (ebay::refundNeedsCheck(order))
            asks.push_back({childText(order, "Item/ItemID"), childText(order, "TransactionID"),
                            ebay::restOrderId(order), childText(order, "Item/Title")});
    if (asks.empty()) return false;
    bool changed = false;
    ebay::clseBayConnection eBay(session.store.settings());
    for (const Ask &ask : asks) {
        shell.ProcessingImageDisplay("Checking eBay Refund<br>" + esc(ask.title));
        const ebay::OrderAnswer answer = ebay::getOrderRefunds(eBay, ask.orderId);
        if (!answer.ok) {
            shell.setStatus("eBay refund not checked: " + answer.problem);
            if (answer.noAnswer || !eBay.signInProblem().empty()) break;
            continue;
        }
        const store::LocatedOrder live = store::locateOrder(session.store, ask.itemId, ask.transactionId);
        if (live.order && ebay::applyOrderRefunds(live.order, answer.refunds)) {
            session.store.save(live.doc);
            changed = true;
        }
    }
    shell.ProcessingImageDisplay("Rendering");
    return changed;
}

void registerEbayRefunds(Session &session, Shell &shell, FeatureTable &table)
{
    auto form = std::make_shared<OpenForm>();
    table.addAction(
        "DisplayEbayRefundForm",
        [&session, &shell, form](const Params &params) { DisplayEbayRefundForm(session, shell, *form, params); },
        FeatureTable::Rows::AsShown);
    table.addPageFill(std::string(kEbayRefundFormPage),
                      [&session, &shell, form](const std::string &) { fillForm(session, shell, *form); });
    table.addAction("EbayRefundSend",
                    [&session, &shell, &table, form](const Params &) { EbayRefundSend(session, shell, table, *form); });
    table.addAction("CancelEbayRefund", [&session, &shell, &table, form](const Params &) {
        closeForm(session, *form);
        shell.ProcessingImageHide();
        table.RefreshGrid();
    });
}

} // namespace tw::orders
