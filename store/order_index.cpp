#include "store/order_index.h"

namespace tw::store {

std::string compositeKey(std::initializer_list<std::string_view> parts)
{
    std::string k;
    bool first = true;
    for (std::string_view p : parts) {
        if (!first) k += '\x1f';
        k.append(p);
        first = false;
    }
    return k;
}

std::string childText(xml::Node node, std::string_view path)
{
    while (node && !path.empty()) {
        size_t slash = path.find('/');
        node = node.element(path.substr(0, slash));
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return node ? node.text() : std::string();
}

RecordIndex::RecordIndex(xml::Node parent, std::string recordName, KeyOf keyOf)
    : m_recordName(std::move(recordName)), m_keyOf(std::move(keyOf))
{
    for (xml::Node r = parent.firstElement(); r; r = r.nextElement())
        if (r.name() == m_recordName) m_map.emplace(m_keyOf(r), r);
}

xml::Node RecordIndex::find(const std::string &key) const
{
    auto it = m_map.find(key);
    return it == m_map.end() ? xml::Node() : it->second;
}

void RecordIndex::add(xml::Node record)
{
    m_map.emplace(m_keyOf(record), record);
}

void RecordIndex::remove(xml::Node record)
{
    auto it = m_map.find(m_keyOf(record));
    if (it != m_map.end() && it->second == record) m_map.erase(it);
}

OrderKey orderKey(xml::Node transaction)
{
    return {childText(transaction, "Item/ItemID"), childText(transaction, "TransactionID")};
}

OrderIndex::OrderIndex(xml::Node root)
    : RecordIndex(root, "Transaction", [](xml::Node t) {
          OrderKey k = orderKey(t);
          return compositeKey({k.itemId, k.transactionId});
      })
{
}

xml::Node findOrder(const xml::Document &doc, std::string_view itemId, std::string_view transactionId)
{
    return doc.select("Transactions/Transaction[Item/ItemID=$item and TransactionID=$txn]",
                      {{"item", std::string(itemId)}, {"txn", std::string(transactionId)}});
}

} // namespace tw::store
