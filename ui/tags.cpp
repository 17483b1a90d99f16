#include "ui/tags.h"

#include "platform/log.h"
#include "store/order_index.h"
#include "ui/rows.h"

#include <unordered_set>

namespace tw::ui {
namespace {

using store::childText;
using store::compositeKey;

// The tag boxes of order rows: rows whose two ids are not empty.
constexpr std::string_view kOrderBoxes =
    "tr[TransactionID]:not([TransactionID=\"\"])[ItemID]:not([ItemID=\"\"]) input[name=\"tagged\"]";

std::string rowSelector(const std::string &transactionId, const std::string &itemId)
{
    return "tr[TransactionID=" + page::cssString(transactionId) + "][ItemID=" + page::cssString(itemId) + "]";
}

page::Element table(Shell &shell);

// The first element matching `selector` in the order's row. The row is found
// first: the browser has been seen to miss a descendant after two attribute
// tests in one selector.
page::Element inRow(Shell &shell, const std::string &transactionId, const std::string &itemId,
                    std::string_view selector)
{
    std::vector<page::Element> row = table(shell).query(rowSelector(transactionId, itemId));
    if (row.empty()) return {};
    std::vector<page::Element> found = row.front().query(selector);
    return found.empty() ? page::Element() : found.front();
}

page::Element table(Shell &shell)
{
    return shell.page().element("TransactionsTable");
}

void setTags(Shell &shell, const std::vector<OrderRow> &rows, const std::function<bool(const OrderRow &)> &on)
{
    std::vector<std::string> values;
    for (const OrderRow &row : rows)
        values.push_back(on(row) ? "true" : "false");
    if (!values.empty()) table(shell).setEach(kOrderBoxes, "checked", values);
}

// The view's source and the other document: archive or restore.
struct Move {
    store::Doc from, to;
};

// Moves the orders, saving first the file that receives them and the other
// only once that one is saved: an order is in one file or the other at every
// moment, never in neither. When a save fails the move is taken back and the
// user told once, here (not by the store's handler as well).
void moveAll(Session &session, Shell &shell, FeatureTable &table, Move move, const std::vector<OrderRow> &rows)
{
    store::Store &store = session.store;
    OrderMove change(store.doc(move.from), store.doc(move.to));
    const int moved = change.move(rows);
    if (moved == 0) {
        table.RefreshGrid();
        return;
    }
    std::string error;
    std::string copyLeft; // why the target's file still holds the orders
    if (store.trySave(move.to, error)) {
        if (store.trySave(move.from, error)) {
            change.keep();
            table.RefreshGrid();
            return;
        }
        // The orders are in both files now; the target's file gives them up again.
        change.undo();
        store.trySave(move.to, copyLeft);
    } else {
        change.undo();
        store.changed();
    }
    const bool one = moved == 1;
    const std::string verb = move.to == store::Doc::ArchivedTransactions ? "archived" : "restored";
    std::string message = std::string(one ? "The order" : "The orders") + " could not be " + verb + ": " + error + ".";
    if (copyLeft.empty())
        message += " Nothing was changed.";
    else
        message += std::string(one ? " It stays where it was, but " : " They stay where they were, but ") +
                   std::string(store::info(move.to).file) + " still holds a copy of " + (one ? "it" : "them") +
                   " as well (" + copyLeft + ").";
    log::write("store", message);
    shell.messageBox("Tidewell", message);
}

} // namespace

std::vector<OrderRow> orderRows(page::Page &page)
{
    std::vector<OrderRow> rows;
    page::Element t = page.element("TransactionsTable");
    for (const auto &v : t.values(
             kOrderBoxes, {"checked", "^tr@ItemID", "^tr@TransactionID", "^tr@TrackingNumber", "^tr@BuyerEIASToken"}))
        if (v.size() == 5) rows.push_back({v[1], v[2], v[3], v[4], v[0] == "true"});
    return rows;
}

std::vector<OrderRow> taggedRows(page::Page &page)
{
    std::vector<OrderRow> rows = orderRows(page);
    std::erase_if(rows, [](const OrderRow &r) { return !r.tagged; });
    return rows;
}

int OrderMove::move(const std::vector<OrderRow> &rows)
{
    xml::Node root = m_to.root();
    if (!m_from.root() || !root) return 0;
    store::OrderIndex source(m_from.root()), target(root);
    auto takeOut = [this](xml::Node node) {
        m_steps.push_back({node, node.parent(), node.nextSibling(), false});
        node.detach();
    };
    int moved = 0;
    for (const OrderRow &row : rows) {
        xml::Node order = source.find(row.itemId, row.transactionId);
        if (!order) continue;
        if (xml::Node twin = target.find(row.itemId, row.transactionId)) {
            target.remove(twin);
            takeOut(twin);
        }
        xml::Node copy = m_to.importNode(order, true);
        source.remove(order);
        takeOut(order);
        copy = root.firstElement() ? root.insertBefore(copy, root.firstElement()) : root.append(copy);
        m_steps.push_back({copy, {}, {}, true});
        target.add(copy);
        ++moved;
    }
    return moved;
}

void OrderMove::undo()
{
    // Last step first: each node goes back before the node that followed
    // it, which undoing the later steps has put back in place.
    while (!m_steps.empty()) {
        Step step = m_steps.back();
        m_steps.pop_back();
        if (step.inserted)
            step.node.remove();
        else
            step.parent.insertBefore(step.node, step.next);
    }
}

void OrderMove::keep()
{
    for (Step &step : m_steps)
        if (!step.inserted) step.node.remove();
    m_steps.clear();
}

int moveOrders(xml::Document &from, xml::Document &to, const std::vector<OrderRow> &rows)
{
    OrderMove change(from, to);
    const int moved = change.move(rows);
    change.keep();
    return moved;
}

void registerTags(Session &session, Shell &shell, FeatureTable &table)
{
    table.addAction("TagAll", [&shell](const Params &) {
        setTags(shell, orderRows(shell.page()), [](const OrderRow &) { return true; });
    });
    table.addAction("UnTagAll", [&shell](const Params &) {
        setTags(shell, orderRows(shell.page()), [](const OrderRow &) { return false; });
    });
    table.addAction("FlipTags", [&shell](const Params &) {
        setTags(shell, orderRows(shell.page()), [](const OrderRow &r) { return !r.tagged; });
    });
    table.addAction("TagWithFeedback", [&session, &shell](const Params &) {
        std::unordered_set<std::string> withFeedback;
        if (xml::Node root = session.store.doc(store::Doc::Feedback).root())
            for (xml::Node f = root.firstElement(); f; f = f.nextElement())
                if (f.name() == "FeedbackDetail")
                    withFeedback.insert(compositeKey({childText(f, "ItemID"), childText(f, "TransactionID")}));
        setTags(shell, orderRows(shell.page()), [&](const OrderRow &r) {
            return withFeedback.count(compositeKey({r.itemId, r.transactionId})) != 0;
        });
    });

    table.addAction(
        "AddNoteClick",
        [&shell](const Params &p) {
            const std::string t = paramValue(p, "TransactionID"), i = paramValue(p, "ItemID");
            if (page::Element area = inRow(shell, t, i, ".note")) area.setInnerHTML(noteEditorHtml(t, i));
        },
        FeatureTable::Rows::AsShown);
    table.addAction(
        "SaveNoteClick",
        [&session, &shell](const Params &p) {
            const std::string t = paramValue(p, "TransactionID"), i = paramValue(p, "ItemID");
            page::Element input = inRow(shell, t, i, "input[name=\"note\"]");
            if (!input) return;
            const std::string text = input.value();
            xml::Document &notes = session.store.doc(store::Doc::Notes);
            xml::Node root = notes.root();
            if (!root) return;
            if (xml::Node old = notes.select("Notes/Note[TransactionID=$t and ItemID=$i]", {{"t", t}, {"i", i}}))
                old.remove();
            xml::Node note = notes.createElement("Note");
            note.appendElement("TransactionID", t);
            note.appendElement("ItemID", i);
            note.appendElement("Text", text);
            if (xml::Node first = root.firstElement())
                root.insertBefore(note, first);
            else
                root.append(note);
            session.store.save(store::Doc::Notes);
        },
        FeatureTable::Rows::AsShown);
    table.addAction(
        "DeleteNoteClick",
        [&session, &shell](const Params &p) {
            const std::string t = paramValue(p, "TransactionID"), i = paramValue(p, "ItemID");
            if (page::Element area = inRow(shell, t, i, ".note")) area.setInnerHTML(addNoteHtml(t, i));
            xml::Document &notes = session.store.doc(store::Doc::Notes);
            if (xml::Node old = notes.select("Notes/Note[TransactionID=$t and ItemID=$i]", {{"t", t}, {"i", i}}))
                old.remove();
            session.store.save(store::Doc::Notes);
        },
        FeatureTable::Rows::AsShown);

    const Move archive{store::Doc::Transactions, store::Doc::ArchivedTransactions};
    const Move restore{store::Doc::ArchivedTransactions, store::Doc::Transactions};
    table.addAction(
        "ArchiveTransaction",
        [&session, &shell, &table, archive](const Params &p) {
            moveAll(session, shell, table, archive,
                    {{paramValue(p, "itemID"), paramValue(p, "transactionID"), {}, {}, true}});
        },
        FeatureTable::Rows::AsShown);
    table.addAction(
        "RestoreTransaction",
        [&session, &shell, &table, restore](const Params &p) {
            moveAll(session, shell, table, restore,
                    {{paramValue(p, "itemID"), paramValue(p, "transactionID"), {}, {}, true}});
        },
        FeatureTable::Rows::AsShown);
    table.addAction("ArchiveAll", [&session, &shell, &table, archive](const Params &) {
        if (!shell.askYesNo("Confirm", "Are you sure you want to archive all transactions in this view?")) return;
        moveAll(session, shell, table, archive, orderRows(shell.page()));
    });
    table.addAction("ArchiveTagged", [&session, &shell, &table, archive](const Params &) {
        moveAll(session, shell, table, archive, taggedRows(shell.page()));
    });
    table.addAction("RestoreTagged", [&session, &shell, &table, restore](const Params &) {
        moveAll(session, shell, table, restore, taggedRows(shell.page()));
    });
}

} // namespace tw::ui
