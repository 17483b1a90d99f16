#pragma once
// Bringing downloaded eBay records into the store. Each merge replaces a
// stored record that has the same key and saves the document once.

#include "platform/xml.h"
#include "store/store.h"

#include <string_view>

namespace tw::orders {

// Every TransactionArray/Transaction of a GetSellerTransactions answer, in
// answer order, replaces the stored order with its Item/ItemID +
// TransactionID and becomes the first child of Transactions, so the last one
// of the answer ends up first. The program's own children of a replaced
// order (KORVA, PaypalTransaction) are not carried over. Saves
// Transactions.xml. Returns the number of orders merged.
int mergeTransactions(store::Store &store, const xml::Document &response);

// Every MemberMessage/MemberMessageExchange replaces the stored question
// with its Item/ItemID + Question/SenderID + CreationDate and is appended at
// the end. Saves Messages.xml.
int mergeMemberMessages(store::Store &store, const xml::Document &response);

// Every Messages/Message replaces the stored one with its MessageID and is
// appended at the end. Saves SentMessages.xml when the answer held any.
int mergeSentMessages(store::Store &store, const xml::Document &response);

// The stored order with this key in Transactions.xml, or a null node.
xml::Node FindTransaction(store::Store &store, std::string_view itemId, std::string_view transactionId);

} // namespace tw::orders
