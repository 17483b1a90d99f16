#pragma once
// Orders are identified by Item/ItemID + TransactionID, compared as exact
// text. Looking one up by query scans the whole document; bulk work (merges,
// status passes, drawing) keeps an index instead and updates it as it goes.

#include "platform/xml.h"

#include <string>
#include <string_view>
#include <unordered_map>

namespace tw::store {

struct OrderKey {
    std::string itemId;
    std::string transactionId;
};

// The key of a Transaction element (children matched by local name).
OrderKey orderKey(xml::Node transaction);

class OrderIndex {
public:
    OrderIndex() = default;
    // Indexes every Transaction child of `root`. Where two records share a
    // key the first one in document order wins, as a query would find it.
    explicit OrderIndex(xml::Node root);

    xml::Node find(std::string_view itemId, std::string_view transactionId) const;
    // Records a Transaction that was added to the document.
    void add(xml::Node transaction);
    // Forgets a Transaction; call before removing it from the document.
    void remove(xml::Node transaction);
    size_t size() const { return m_map.size(); }

private:
    static std::string hashKey(std::string_view itemId, std::string_view transactionId);
    std::unordered_map<std::string, xml::Node> m_map;
};

// The stored order with this key, by query ("" when there is none).
xml::Node FindOrder(const xml::Document &doc, std::string_view itemId, std::string_view transactionId);

} // namespace tw::store
