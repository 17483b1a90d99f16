#pragma once
// Finding a record by its key. A query scans the whole document; bulk work
// (merges, status passes, drawing) keeps an index instead and updates it as
// it changes the document, so n records against m keys cost O(n + m).

#include "platform/xml.h"

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tw::store {

// Records (children of one parent with one local name) by a key text.
class RecordIndex {
  public:
    using KeyOf = std::function<std::string(xml::Node)>;

    RecordIndex() = default;
    // Indexes every `recordName` child of `parent`. Where two records share
    // a key the first one in document order wins, as a query would find it.
    RecordIndex(xml::Node parent, std::string recordName, KeyOf keyOf);

    xml::Node find(const std::string &key) const;
    // Records a record that was added to the document.
    void add(xml::Node record);
    // Forgets a record; call before removing it from the document.
    void remove(xml::Node record);
    size_t size() const { return m_map.size(); }
    std::string keyOf(xml::Node record) const { return m_keyOf(record); }

  private:
    std::string m_recordName;
    KeyOf m_keyOf;
    std::unordered_map<std::string, xml::Node> m_map;
};

// Joins key parts with a character XML text cannot hold, so keys made of
// different parts never collide.
std::string compositeKey(std::initializer_list<std::string_view> parts);

// The text of a child path ("Item/ItemID"), by local names, without a query.
std::string childText(xml::Node node, std::string_view path);

struct OrderKey {
    std::string itemId;
    std::string transactionId;
};

// The key of a Transaction element: Item/ItemID + TransactionID, exact text.
OrderKey orderKey(xml::Node transaction);

// Transactions by Item/ItemID + TransactionID.
class OrderIndex : public RecordIndex {
  public:
    OrderIndex() = default;
    explicit OrderIndex(xml::Node root);
    xml::Node find(std::string_view itemId, std::string_view transactionId) const
    {
        return RecordIndex::find(compositeKey({itemId, transactionId}));
    }
};

// The stored order with this key, by query (null when there is none).
xml::Node findOrder(const xml::Document &doc, std::string_view itemId, std::string_view transactionId);

} // namespace tw::store
