#pragma once
// Bringing downloaded eBay records into the store. Each merge replaces a
// stored record that has the same key and saves the document once. The
// download's bookmark (`after`) is stored only once that save succeeded: a
// failed save (disk full, a protected file) leaves the bookmark where it was,
// so the same records are downloaded again next time. Save failures reach
// the store's error handler.

#include "platform/xml.h"
#include "store/settings.h"
#include "store/store.h"

#include <string_view>

namespace tw::orders {

// Every TransactionArray/Transaction of a GetSellerTransactions answer, in
// answer order, replaces the stored order with its Item/ItemID +
// TransactionID and becomes the first child of Transactions, so the last one
// of the answer ends up first. The program's own children of a replaced
// order (KORVA, PaypalTransaction) are not carried over, but for its
// refunds through eBay (eBayRefund), which are moved to the new one. Saves
// Transactions.xml. Returns the number of orders merged.
int mergeTransactions(store::Store &store, const xml::Document &response, const settings::Bookmark &after = {});

// Every MemberMessage/MemberMessageExchange replaces the stored question
// with its Item/ItemID + Question/SenderID + CreationDate and is appended at
// the end. Saves Messages.xml.
int mergeMemberMessages(store::Store &store, const xml::Document &response, const settings::Bookmark &after = {});

// Every Messages/Message replaces the stored one with its MessageID and is
// appended at the end. Saves SentMessages.xml when the answer held any (the
// bookmark moves at once when it held none). A null `response` merges nothing.
int mergeSentMessages(store::Store &store, const xml::Document &response, const settings::Bookmark &after = {});

// The stored order with this key in Transactions.xml, or a null node.
xml::Node FindTransaction(store::Store &store, std::string_view itemId, std::string_view transactionId);

} // namespace tw::orders
