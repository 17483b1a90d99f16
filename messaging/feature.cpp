#include "messaging/feature.h"

#include "ebay/clseBayAPI.h"
#include "orders/download.h"
#include "platform/config.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "ui/served.h"

namespace tw::messaging {
namespace {

// Form fields get a value, anything else its text.
void setElementText(page::Element element, const std::string &text)
{
    if (!element) return;
    std::string tag = element.tagName();
    if (tag == "INPUT" || tag == "TEXTAREA" || tag == "SELECT")
        element.setValue(text);
    else
        element.setInnerText(text);
}

// The program's own contact page, opened with the order's ids in its query.
void fillContactBuyer(Session &session, Shell &shell, const std::string &url)
{
    const std::string marker = lower(ui::kContactBuyerPage) + "?";
    const std::string address = lower(url);
    size_t at = address.find(marker);
    if (at == std::string::npos || address.find(marker, at + 1) != std::string::npos) return;
    auto query = splitQuery(std::string_view(url).substr(at + marker.size()));
    const xml::Vars vars{{"item", queryValue(query, "ItemID")}, {"transaction", queryValue(query, "TransactionID")}};
    xml::Node order = session.store.transactions().select(
        "Transactions/Transaction[Item/ItemID=$item and TransactionID=$transaction]", vars);
    if (!order) return;
    page::Page &page = shell.page();
    const std::string title = GetNodeText(order, "Item/Title");
    const std::string item = GetNodeText(order, "Item/ItemID");
    setElementText(page.element("BuyerID"), GetNodeText(order, "Buyer/UserID"));
    setElementText(page.element("Item"), title + "(" + item + ")");
    setElementText(page.element("Subject"), "re: " + title + "(" + item + ")");
    setElementText(page.element("Message"),
                   GetNodeText(session.store.settings(), "Settings/DeliveredNeedsFollowUpMessage"));
    setElementText(page.element("ItemID"), item);
    setElementText(page.element("TransactionID"), GetNodeText(order, "TransactionID"));
}

// eBay's contact page: its confirmation that the message went out.
void watchEbayContactPage(Session &session, Shell &shell, FeatureTable &table, const std::string &url)
{
    const std::string contact = config().get("ebay/ContactUrl");
    page::Page &page = shell.page();
    if (!contact.empty() && equalsNoCase(url, contact) &&
        page.body().innerText().find("Your question has been sent") != std::string::npos) {
        page.body().setInnerHTML("Message Sent. <br><br>Please wait while we update Tidewell...");
        ebay::clseBayAPI api(session, shell);
        orders::refreshSentMessages(session, api);
        shell.ProcessingImageHide();
        table.RefreshGrid();
    }
}

} // namespace

void registerFeature(Session &session, Shell &shell, FeatureTable &table)
{
    table.addAction("CancelMessage", [&table](const Params &) { table.RefreshGrid(); });
    table.addPageWatcher(
        [&session, &shell, &table](const std::string &url) { watchEbayContactPage(session, shell, table, url); });
    table.addPageWatcher([&session, &shell](const std::string &url) { fillContactBuyer(session, shell, url); });
}

} // namespace tw::messaging
