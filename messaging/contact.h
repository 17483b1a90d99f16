#pragma once
// Messages to buyers through eBay: eBay's own contact page, filled from the
// seller's templates when the program opened it, eBay's confirmation that
// the message went out, and the program's contact page (ContactBuyer.html)
// whose Send link sends through the Trading API.

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"

#include <string>

namespace tw::messaging {

// Which contact page the program opened itself. Only that page is filled,
// and only its one load: a page that merely carries the path in its
// address, a page some other site led to, or the same page loaded again is
// left as it is.
class ContactFlow {
  public:
    // A navigation the page layer let through. Remembers it when it opens
    // eBay's contact page (ReturnUserEmail) or the program's ContactBuyer
    // page and was asked for by one of the program's own pages (a row's
    // "Contact Buyer" link, a postage page) or by the program itself.
    void navigating(const std::string &url, const std::string &fromUrl);
    // A page has loaded: true when it is the contact page remembered, which
    // is then forgotten. A page of the program's own (the seller went back)
    // forgets it too; other pages in between (eBay asking to sign in first)
    // do not.
    bool take(const std::string &url);

  private:
    std::string m_expected;
};

// eBay's contact page with its query ("ReturnUserEmail&requested=..."), at
// the configured contact address.
bool isEbayContactPage(const std::string &url);
// The program's ContactBuyer page with a query.
bool isContactBuyerPage(const std::string &url);

// Fills eBay's contact form from the query of `url`: for MessageID
// "Shipped" the subject and message from the shipped templates (their
// defaults when empty), for another name the message from the setting
// name + "Message" (a hint to customise it when that is empty). A link
// without MessageID uses the message of the current view. Templates are
// filled from the order of the link's ItemID and TransactionID; for
// "Shipped" from the order selection first, so the message lists every
// order of the shipment.
void fillEbayContactPage(Session &session, Shell &shell, const std::string &url);

// Fills the program's contact page from the order named by its query:
// buyer, item, subject "re: " + title + "(" + item id + ")", the Delivered
// view's message filled from the order, and the hidden ids.
void fillContactBuyer(Session &session, Shell &shell, const std::string &url);

// eBay's confirmation page (the contact address without a query, any case,
// saying "Your question has been sent"): says so on the page, downloads the
// sent messages and redraws the view. False for any other page.
bool confirmMessageSent(Session &session, Shell &shell, FeatureTable &table, const std::string &url);

// The Send link of the program's contact page: sends the page's subject and
// message to the buyer through eBay (question type "Shipping", a copy to
// the seller when "cc" is ticked). Shows "Sending message...", then eBay's
// refusal ("Error: " and its short message) or, once eBay took it, the
// sent messages downloaded and "Message sent to <buyer>." with the page
// replaced by a confirmation, so it cannot be sent twice by accident.
void SendMessage(Session &session, Shell &shell);

} // namespace tw::messaging
