#pragma once
// Tags, notes and the archive of the transactions view. Tags live only in
// the drawn page: each order row of TransactionsTable carries the order's
// ids as attributes and a check box named "tagged".

#include "platform/features.h"
#include "platform/page.h"
#include "platform/shell.h"
#include "store/session.h"

#include <string>
#include <vector>

namespace tw::ui {

// An order row of the drawn table, as features read it back.
struct OrderRow {
    std::string itemId, transactionId, trackingNumber, buyerEIASToken;
    bool tagged = false;
};

// Every order row of the drawn table (rows with both ids), in page order,
// read in one exchange with the browser.
std::vector<OrderRow> orderRows(page::Page &page);
// The tagged ones.
std::vector<OrderRow> taggedRows(page::Page &page);

// Moves the orders of `rows` from `from` to `to` (both Transactions
// documents), in order, each inserted first in the target, which keeps one
// copy of each order. Rows whose order is not in `from` are skipped. Until
// keep() the move can be taken back whole with undo(): what it takes out of
// either document is held, not freed. Indexed: n rows against m orders cost
// O(n + m).
class OrderMove {
  public:
    OrderMove(xml::Document &from, xml::Document &to) : m_from(from), m_to(to) {}
    ~OrderMove() { undo(); } // a move not kept is taken back
    OrderMove(const OrderMove &) = delete;
    OrderMove &operator=(const OrderMove &) = delete;

    // Returns how many moved.
    int move(const std::vector<OrderRow> &rows);
    // Puts both documents back as they were before move().
    void undo();
    // Makes the move final.
    void keep();

  private:
    struct Step {
        xml::Node node;   // a node taken out (detached), or a copy put in
        xml::Node parent; // where a node taken out was
        xml::Node next;   // ... and what followed it (null: it was last)
        bool inserted = false;
    };
    xml::Document &m_from;
    xml::Document &m_to;
    std::vector<Step> m_steps;
};

// A move kept at once. Returns how many moved.
int moveOrders(xml::Document &from, xml::Document &to, const std::vector<OrderRow> &rows);

// Registers the tag, note, archive and restore actions. `session` and
// `shell` must outlive `table`.
void registerTags(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::ui
