#include "messaging/contact.h"

#include "ebay/clseBayAPI.h"
#include "messaging/FillTemplate.h"
#include "orders/download.h"
#include "platform/config.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/order_index.h"
#include "store/settings.h"
#include "ui/browser.h"
#include "ui/served.h"

namespace tw::messaging {
namespace {

constexpr std::string_view kIsapi = "eBayISAPI.dll?";

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%XX" becomes the byte; "+" stays (our links encode a plus as %2B).
std::string percentDecode(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        int hi = -1, lo = -1;
        if (text[i] == '%' && i + 2 < text.size()) {
            hi = hexDigit(text[i + 1]);
            lo = hexDigit(text[i + 2]);
        }
        if (hi >= 0 && lo >= 0) {
            out += char(hi * 16 + lo);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The browser reports an address the way it shows it and a navigation the
// way it sends it; decoded, the two compare equal.
bool sameAddress(const std::string &a, const std::string &b)
{
    return equalsNoCase(percentDecode(a), percentDecode(b));
}

std::string contactPrefix()
{
    const std::string contact = config().get("ebay/ContactUrl");
    return contact.empty() ? std::string() : contact + "?";
}

// The query after the contact address, "" when `url` is not at it.
std::string ebayContactQuery(const std::string &url)
{
    const std::string prefix = contactPrefix();
    if (prefix.empty() || !startsWithNoCase(url, prefix)) return {};
    return url.substr(prefix.size());
}

std::string contactBuyerPrefix()
{
    return ui::Browser::pageUrl(ui::kContactBuyerPage) + "?";
}

std::string decodedValue(const std::vector<std::pair<std::string, std::string>> &query, std::string_view key)
{
    return percentDecode(queryValue(query, key));
}

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

const xml::Document *labelsOf(const Session &session)
{
    return &session.store.doc(store::Doc::ShippingLabels);
}

const xml::Document *detailsOf(const Session &session)
{
    return session.eBayDetails ? &session.eBayDetails : nullptr;
}

// The stored order, in the active orders first, then in the archive.
xml::Node storedOrder(const Session &session, const std::string &item, const std::string &transaction)
{
    if (xml::Node order = store::findOrder(session.store.doc(store::Doc::Transactions), item, transaction))
        return order;
    return store::findOrder(session.store.doc(store::Doc::ArchivedTransactions), item, transaction);
}

// Fills `text` from a copy of the stored order on its own: an order inside
// the store would list the whole store as its transactions.
std::string fillFromStored(const Session &session, std::string_view text, const std::string &item,
                           const std::string &transaction)
{
    xml::Node order = storedOrder(session, item, transaction);
    if (!order) return FillTemplateWithXML(text, xml::Node());
    xml::Document alone;
    alone.setRoot(order);
    return FillTemplateWithXML(text, alone.root(), labelsOf(session), detailsOf(session));
}

// Brings the orders of the selection up to date with the store (a download
// may have added the tracking number since) and returns the one with these
// ids, null when the selection does not hold it.
xml::Node refreshedSelection(Session &session, const std::string &item, const std::string &transaction)
{
    if (!session.orderSelection || !session.orderSelection.root()) return {};
    xml::Node wanted;
    for (xml::Node copy : session.orderSelection.root().elements()) {
        const store::OrderKey key = store::orderKey(copy);
        if (xml::Node current = storedOrder(session, key.itemId, key.transactionId)) {
            xml::Node fresh = session.orderSelection.importNode(current, true);
            copy = copy.replaceWith(fresh);
        }
        if (!wanted && key.itemId == item && key.transactionId == transaction) wanted = copy;
    }
    return wanted;
}

} // namespace

void ContactFlow::navigating(const std::string &url, const std::string &fromUrl)
{
    if (!isEbayContactPage(url) && !isContactBuyerPage(url)) return;
    // Only our pages (or the program itself) open it; "redirect:" and
    // foreign pages do not count.
    if (ui::Browser::isOwnPage(fromUrl)) m_expected = url;
}

bool ContactFlow::take(const std::string &url)
{
    if (!m_expected.empty() && sameAddress(url, m_expected)) {
        m_expected.clear();
        return true;
    }
    if (ui::Browser::isOwnPage(url)) m_expected.clear();
    return false;
}

bool isEbayContactPage(const std::string &url)
{
    const auto pairs = splitQuery(ebayContactQuery(url));
    return !pairs.empty() && pairs.front().first == "ReturnUserEmail";
}

bool isContactBuyerPage(const std::string &url)
{
    return startsWithNoCase(url, contactBuyerPrefix());
}

void fillEbayContactPage(Session &session, Shell &shell, const std::string &url)
{
    const std::string query = ebayContactQuery(url);
    if (query.empty() || containsNoCase(query, kIsapi)) return;
    const auto pairs = splitQuery(query);
    std::string messageId = decodedValue(pairs, "MessageID");
    const std::string transaction = decodedValue(pairs, "TransactionID");
    const std::string item = decodedValue(pairs, "ItemID");
    const xml::Document &settingsDoc = session.store.settings();
    page::Page &page = shell.page();

    if (messageId == "Shipped") {
        std::string subject = settings::read(settingsDoc, "ShippedMessageSubject", "");
        if (subject.empty()) subject = std::string(settings::kShippedSubject);
        std::string body = settings::read(settingsDoc, "ShippedMessage", "");
        if (body.empty()) body = settings::kShippedBody;
        if (xml::Node chosen = refreshedSelection(session, item, transaction)) {
            subject = FillTemplateWithXML(subject, chosen, labelsOf(session), detailsOf(session));
            body = FillTemplateWithXML(body, chosen, labelsOf(session), detailsOf(session));
        } else {
            subject = fillFromStored(session, subject, item, transaction);
            body = fillFromStored(session, body, item, transaction);
        }
        setElementText(page.element("subject"), subject);
        setElementText(page.element("message"), body);
        return;
    }

    // A row's link names no message: the message of the view it came from.
    if (messageId.empty()) messageId = session.currentView;
    const std::string body = settings::read(settingsDoc, messageId + "Message", "");
    setElementText(page.element("message"), body.empty() ? std::string(settings::kStandardMessageHint)
                                                         : fillFromStored(session, body, item, transaction));
}

void fillContactBuyer(Session &session, Shell &shell, const std::string &url)
{
    const std::string prefix = lower(contactBuyerPrefix());
    const std::string address = lower(url);
    if (address.rfind(prefix, 0) != 0 || address.find(prefix, 1) != std::string::npos) return;
    const auto query = splitQuery(std::string_view(url).substr(prefix.size()));
    const std::string item = decodedValue(query, "ItemID");
    const std::string transaction = decodedValue(query, "TransactionID");
    xml::Node order = storedOrder(session, item, transaction);
    if (!order) return;
    page::Page &page = shell.page();
    const std::string title = GetNodeText(order, "Item/Title");
    const std::string itemId = GetNodeText(order, "Item/ItemID");
    setElementText(page.element("BuyerID"), GetNodeText(order, "Buyer/UserID"));
    setElementText(page.element("Item"), title + "(" + itemId + ")");
    setElementText(page.element("Subject"), "re: " + title + "(" + itemId + ")");
    // Filled here, where the seller sees the words the buyer will get.
    setElementText(page.element("Message"),
                   fillFromStored(session, settings::read(session.store.settings(), "DeliveredNeedsFollowUpMessage"),
                                  item, transaction));
    setElementText(page.element("ItemID"), itemId);
    setElementText(page.element("TransactionID"), GetNodeText(order, "TransactionID"));
}

bool confirmMessageSent(Session &session, Shell &shell, FeatureTable &table, const std::string &url)
{
    const std::string contact = config().get("ebay/ContactUrl");
    if (contact.empty() || lower(url) != lower(contact)) return false;
    page::Page &page = shell.page();
    if (page.body().innerText().find("Your question has been sent") == std::string::npos) return false;
    page.body().setInnerHTML("Message Sent. <br><br>Please wait while we update Tidewell...");
    ebay::clseBayAPI api(session, shell);
    orders::refreshSentMessages(session, api);
    shell.ProcessingImageHide();
    table.RefreshGrid();
    return true;
}

void SendMessage(Session &session, Shell &shell)
{
    page::Page &page = shell.page();
    const std::string buyer = trim(page.element("BuyerID").innerText());
    const std::string item = page.element("ItemID").value();
    const std::string subject = page.element("Subject").value();
    const std::string body = page.element("Message").value();
    const bool copy = page.element("cc").checked();
    if (buyer.empty() || item.empty()) {
        shell.setStatus("Error: this page names no order. Open it again from the order.");
        return;
    }
    shell.setStatus("Sending message...");
    ebay::clseBayAPI api(session, shell);
    if (!api.AddMemberMessageAAQToPartner(buyer, item, "Shipping", subject, body, copy)) return;

    // eBay has the message: the page must not offer to send it again.
    if (page::Element b = page.body())
        b.setInnerHTML("<h1>Message sent</h1><div class=\"panel\"><p>Your message to " + xml::escape(buyer) +
                       " was sent through eBay.</p><div class=\"actions\"><a class=\"button\" "
                       "href=\"http://plinthway/?Action=CancelMessage\">Back to the orders</a></div></div>");
    orders::refreshSentMessages(session, api);
    shell.ProcessingImageHide();
    shell.setStatus("Message sent to " + buyer + ".");
}

} // namespace tw::messaging
