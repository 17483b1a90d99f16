#pragma once
// The rows of the transactions view as HTML text: one row per order with its
// links, tag box, note, payment and shipping state and dated history. Every
// value from eBay, USPS, PayPal or the seller's notes is escaped; every value
// put into a link's query is percent-encoded first.
//
// A RowBuilder indexes everything a row looks up (notes, questions,
// feedback, sent messages, labels, tracking records, eBay's service details)
// once, so building n rows costs O(n + size of the store).

#include "orders/uploads.h"
#include "platform/datetime.h"
#include "platform/xml.h"
#include "store/order_index.h"
#include "store/session.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tw::ui {

inline constexpr std::string_view kDeliveredNeedsFollowUp = "DeliveredNeedsFollowUp";
inline constexpr std::string_view kInTransit = "InTransit";
inline constexpr std::string_view kNotShipped = "NotShipped";
inline constexpr std::string_view kArchived = "Archived";

// A seller-facing date: eBay time text (YYYY-MM-DDThh:mm:ssZ) turned into
// local time with the eBay clock offset, in the system's short date-time
// form; "" when the text is no date.
std::string localDateText(std::string_view eBayTime, double eBayClockOffset);

// The note editor and the add-note link of an order row's note area.
std::string noteEditorHtml(std::string_view transactionId, std::string_view itemId, std::string_view text = {});
std::string addNoteHtml(std::string_view transactionId, std::string_view itemId);

// Percent-encoding of a value for a link's query (RFC 3986 unreserved
// characters stay).
std::string queryEncode(std::string_view value);

class RowBuilder {
  public:
    // `session` must outlive the builder and not change while it is used;
    // `view` is one of the four view names; `now` the local time of the drawing.
    RowBuilder(const Session &session, std::string_view view, const DateTime &now);

    // The <tr> of `order`, the `position`-th order row of the drawing
    // (0-based; it chooses the alternating colour).
    std::string row(xml::Node order, int position) const;

    // The same lookups for another drawing: `view` and `now` as the
    // constructor takes them. Only while the orders and their records have
    // not changed; the settings the rows read are read again.
    void reuse(std::string_view view, const DateTime &now);

  private:
    void readSettings();

    using MultiIndex = std::unordered_map<std::string, std::vector<xml::Node>>;

    std::string cellPayment(xml::Node order) const;
    std::string cellOrder(xml::Node order, const std::string &item, const std::string &txn,
                          const std::string &buyer) const;
    std::string history(xml::Node order, const std::string &item, const std::string &txn,
                        const std::string &buyer) const;
    std::string postage(xml::Node order, const std::string &item, const std::string &txn) const;
    std::string cellTracking(xml::Node order, const std::string &number) const;
    std::string cellService(xml::Node order) const;
    std::string email(const std::string &address) const;
    std::string date(std::string_view eBayTime) const;

    const Session &m_session;
    std::string m_view;
    DateTime m_now;
    bool m_privateMode;
    bool m_flagPostage;
    std::string m_viewItemPrefix;
    std::string m_itemUrl, m_salesRecordUrl, m_contactUrl, m_feedbackUrl, m_uspsUrl, m_upsUrl, m_placeholder;

    store::RecordIndex m_notes;
    store::RecordIndex m_tracking;
    MultiIndex m_questions, m_feedback, m_sent;
    std::unordered_map<std::string, xml::Node> m_labels, m_services;
    // Tracking numbers of printed labels that eBay has not confirmed.
    std::unordered_map<std::string, orders::PendingUpload> m_pendingUploads;
};

} // namespace tw::ui
