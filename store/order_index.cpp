#include "store/order_index.h"

namespace tw::store {

OrderKey orderKey(xml::Node transaction)
{
    OrderKey key;
    if (xml::Node id = transaction.element("TransactionID")) key.transactionId = id.text();
    if (xml::Node item = transaction.element("Item"))
        if (xml::Node id = item.element("ItemID")) key.itemId = id.text();
    return key;
}

// U+001F cannot occur in XML text, so it cannot make two keys collide.
std::string OrderIndex::hashKey(std::string_view itemId, std::string_view transactionId)
{
    std::string k;
    k.reserve(itemId.size() + transactionId.size() + 1);
    k.append(itemId);
    k += '\x1f';
    k.append(transactionId);
    return k;
}

OrderIndex::OrderIndex(xml::Node root)
{
    for (xml::Node t = root.firstElement(); t; t = t.nextElement())
        if (t.name() == "Transaction") {
            OrderKey k = orderKey(t);
            m_map.emplace(hashKey(k.itemId, k.transactionId), t);
        }
}

xml::Node OrderIndex::find(std::string_view itemId, std::string_view transactionId) const
{
    auto it = m_map.find(hashKey(itemId, transactionId));
    return it == m_map.end() ? xml::Node() : it->second;
}

void OrderIndex::add(xml::Node transaction)
{
    OrderKey k = orderKey(transaction);
    m_map.emplace(hashKey(k.itemId, k.transactionId), transaction);
}

void OrderIndex::remove(xml::Node transaction)
{
    OrderKey k = orderKey(transaction);
    auto it = m_map.find(hashKey(k.itemId, k.transactionId));
    if (it != m_map.end() && it->second == transaction) m_map.erase(it);
}

xml::Node FindOrder(const xml::Document &doc, std::string_view itemId, std::string_view transactionId)
{
    return doc.select("Transactions/Transaction[Item/ItemID=$item and TransactionID=$txn]",
                      {{"item", std::string(itemId)}, {"txn", std::string(transactionId)}});
}

} // namespace tw::store
