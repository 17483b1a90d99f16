#include "orders/merge.h"

#include "ebay/refund.h"
#include "store/order_index.h"

namespace tw::orders {

using store::childText;
using store::compositeKey;
using store::RecordIndex;

int mergeTransactions(store::Store &store, const xml::Document &response, const settings::Bookmark &after)
{
    xml::Node root = store.transactions().root();
    if (!root || !response.root()) return 0;
    store::OrderIndex index(root);
    int merged = 0;
    for (xml::Node t : response.root().selectAll("TransactionArray/Transaction")) {
        store::OrderKey key = store::orderKey(t);
        xml::Node placed = root.insertBefore(t, root.firstElement());
        if (xml::Node old = index.find(key.itemId, key.transactionId)) {
            // The refunds made through eBay stay: eBay's record of the
            // order does not name them, and one may not be confirmed yet.
            // Built afresh in the new record, so they take its namespace.
            for (const ebay::RefundRecord &r : ebay::refundRecords(old))
                ebay::addRefundRecord(placed, r);
            index.remove(old);
            old.remove();
        }
        index.add(placed);
        ++merged;
    }
    if (store.save(store::Doc::Transactions)) settings::advance(store, after);
    return merged;
}

namespace {

int mergeAtEnd(store::Store &store, store::Doc doc, const std::vector<xml::Node> &downloaded,
               const std::string &recordName, RecordIndex::KeyOf keyOf)
{
    xml::Node root = store.doc(doc).root();
    if (!root) return 0;
    RecordIndex index(root, recordName, keyOf);
    for (xml::Node record : downloaded) {
        if (xml::Node old = index.find(keyOf(record))) {
            index.remove(old);
            old.remove();
        }
        index.add(root.append(record));
    }
    return int(downloaded.size());
}

} // namespace

int mergeMemberMessages(store::Store &store, const xml::Document &response, const settings::Bookmark &after)
{
    if (!response.root()) return 0;
    int n = mergeAtEnd(store, store::Doc::Messages, response.root().selectAll("MemberMessage/MemberMessageExchange"),
                       "MemberMessageExchange", [](xml::Node q) {
                           return compositeKey({childText(q, "Item/ItemID"), childText(q, "Question/SenderID"),
                                                childText(q, "CreationDate")});
                       });
    if (store.save(store::Doc::Messages)) settings::advance(store, after);
    return n;
}

int mergeSentMessages(store::Store &store, const xml::Document &response, const settings::Bookmark &after)
{
    int n = response.root() ? mergeAtEnd(store, store::Doc::SentMessages, response.root().selectAll("Messages/Message"),
                                         "Message", [](xml::Node m) { return childText(m, "MessageID"); })
                            : 0;
    if (n == 0 || store.save(store::Doc::SentMessages)) settings::advance(store, after);
    return n;
}

xml::Node FindTransaction(store::Store &store, std::string_view itemId, std::string_view transactionId)
{
    return store::findOrder(store.transactions(), itemId, transactionId);
}

} // namespace tw::orders
