#pragma once
// Message templates: free text with placeholders such as "{Item/Title}" that
// are filled from one order.

#include "platform/xml.h"

#include <string>
#include <string_view>

namespace tw::messaging {

// Fills `templateText` from `order` (a Transaction element) and returns the
// text. Only the program's 31 placeholders are filled; any other text in
// braces stays. A placeholder is filled only when it occurs in the template
// exactly as written; the first twelve (item, title, product name, SKU,
// address, user id, first and last name, quantity, amount paid, price,
// tracking number) then replace every occurrence whatever its capitals.
//
// `shippingLabels` (root with ShippingLabel children) gives the label
// placeholders; `eBayDetails` (a GeteBayDetails response) gives the carrier
// and the service description. Either may be null or empty: the placeholders
// that need it get their fallback ("Unknown", "Unknown Carrier", "Unknown
// Service"). "{Tagged/TransactionList}" lists every order under the order's
// parent element (the order selection), or only this order when it has none:
// an order still inside a store document would list the whole store.
//
// Reads the documents, changes nothing, never fails: a null order returns
// the template unchanged, missing values give fallbacks or the empty text.
std::string FillTemplateWithXML(std::string_view templateText, xml::Node order,
                                const xml::Document *shippingLabels = nullptr,
                                const xml::Document *eBayDetails = nullptr);

} // namespace tw::messaging
