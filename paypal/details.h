#pragma once
// PayPal's payment details beside the orders: each order paid through PayPal
// keeps the answer of GetTransactionDetails as its one PaypalTransaction
// child, fetched while the view draws the order's row.

#include "paypal/clsPaypalAPI.h"
#include "platform/shell.h"
#include "platform/xml.h"

#include <string>
#include <string_view>

namespace tw::paypal {

// Why a drawing of the view fetches an order's details.
enum class DetailsFetch {
    None,    // not paid through PayPal, no PayPal transaction id, no API user
             // in the settings, or the stored details are final
    Missing, // nothing stored yet
    Pending, // the stored payment is still "Pending"
};

// `settings` is the Settings document; `order` a Transaction element.
DetailsFetch detailsFetch(const xml::Document &settings, xml::Node order);

// The overlay text while the details of `order` are fetched for `why`
// (not None): the order's PayPal transaction id under a heading, escaped.
std::string detailsOverlay(DetailsFetch why, xml::Node order);

// Puts a copy of `details` (a PaypalTransaction element of any document)
// into `order` as its one PaypalTransaction child: in place of the first one
// there, extra ones removed, otherwise appended. The copy's elements take the
// order's namespace, so the order reads the same after a save. Returns the
// copy, owned by the order's document.
xml::Node putDetails(xml::Node order, xml::Node details);

// Fetches the details of the order (item id, transaction id) of `orders` (a
// Transactions document) and stores them with putDetails. The order is found
// again once PayPal has answered, since the call pumps events and the order
// may have been replaced meanwhile. Returns the new element (owned by
// `orders`), or null: no such order, no PayPal transaction id, incomplete
// credentials, or no usable answer (the reason in api.lastFailure()). When the
// client certificate is the problem the overlay says "PayPal Certificate is
// missing from your computer.". The caller saves.
xml::Node GetPaypalData(clsPaypalAPI &api, Shell &shell, xml::Document &orders, std::string_view itemId,
                        std::string_view transactionId);

// The fetching of one drawing of the view. Construct it per drawing;
// `settings` and `shell` must outlive it.
class DetailsFetcher {
  public:
    DetailsFetcher(const xml::Document &settings, Shell &shell);

    // When `copy` (the view's copy of an order of `orders`) needs its
    // details, shows the overlay text, fetches them into the stored order and
    // puts them into `copy` as well. True when it asked PayPal (the overlay
    // then shows the fetch's text). A failure is told in the status bar; after
    // one that would recur for every order (PayPal not reachable, no answer in
    // time, the certificate, an answer that is not PayPal's) nothing more is
    // asked in this drawing, so a drawing never waits out one time-out per
    // order.
    bool refresh(xml::Document &orders, xml::Node copy);

    // True once details were stored: the caller saves `orders`.
    bool fetchedAny() const { return m_fetched; }

  private:
    const xml::Document &m_settings;
    Shell &m_shell;
    clsPaypalAPI m_api;
    bool m_fetched = false;
    bool m_stopped = false;
};

} // namespace tw::paypal
