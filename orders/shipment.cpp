#include "orders/shipment.h"

#include "orders/usps.h"
#include "platform/clock.h"
#include "store/basFunctions.h"
#include "store/order_index.h"

#include <cctype>
#include <cstdlib>

namespace tw::orders {

using store::childText;

bool isDeliveryEvent(std::string_view event)
{
    if (event == "Delivered" || event == "Delivered Abroad" || event == "Arrival at Unit") return true;
    constexpr std::string_view prefix = "delivered";
    if (event.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(event[i])) != prefix[i]) return false;
    return true;
}

xml::Document ConverteBayTransactionsToTrackID(const std::vector<xml::Node> &orders)
{
    xml::Document ids = xml::Document::parse("<?xml version=\"1.0\" encoding=\"utf-8\"?><TrackIDs/>");
    xml::Node root = ids.root();
    for (xml::Node order : orders) {
        std::string service = childText(order, "ShippingDetails/ShippingServiceUsed");
        std::string number = childText(order, "ShippingDetails/ShipmentTrackingNumber");
        bool follow;
        if (service.find("USPS") != std::string::npos)
            follow = true;
        else if (service.find("UPS") != std::string::npos)
            follow = false;
        else
            follow = number.rfind("9101", 0) == 0;
        if (follow) root.appendElement("TrackID").setAttribute("ID", number);
    }
    return ids;
}

namespace {
store::RecordIndex trackingIndex(xml::Node root)
{
    return store::RecordIndex(root, "TrackingNumber", [](xml::Node r) { return r.attribute("ID"); });
}
} // namespace

void storeTrackingAnswers(store::Store &store, const xml::Document &response)
{
    xml::Document &doc = store.trackingNumbers();
    xml::Node root = doc.root();
    if (!root || !response.root()) return;
    store::RecordIndex index = trackingIndex(root);
    const std::string now = clock().localNow().toString();
    for (xml::Node info : response.root().selectAll("TrackInfo")) {
        std::string id = info.attribute("ID");
        xml::Node record = doc.createElement("TrackingNumber");
        record.setAttribute("ID", id);
        record.appendElement("LastChecked", now);
        for (xml::Node child = info.firstElement(); child; child = child.nextElement())
            record.append(child);
        if (xml::Node old = index.find(id)) {
            index.remove(old);
            old.remove();
        }
        index.add(root.append(record));
    }
    store.save(store::Doc::TrackingNumbers);
}

bool CheckDeliveryStatusOfTransactions(store::Store &store, const std::vector<xml::Node> &orders, clsUSPSAPI &usps)
{
    xml::Document ids = ConverteBayTransactionsToTrackID(orders);
    xml::Document response = usps.SynchronousGetTrackingDetails(ids.root().elements(), store.trackingNumbers());
    if (!response) return false;
    storeTrackingAnswers(store, response);
    return true;
}

int UpdateShipmentStatus(store::Store &store)
{
    xml::Node root = store.transactions().root();
    xml::Node trackingRoot = store.trackingNumbers().root();
    if (!root) return 0;
    store::RecordIndex tracking = trackingIndex(trackingRoot);
    int changed = 0;
    for (xml::Node order = root.firstElement(); order; order = order.nextElement()) {
        if (order.name() != "Transaction" || !order.element("ShippedTime")) continue;
        std::string number = childText(order, "ShippingDetails/ShipmentTrackingNumber");
        std::string target = "Shipped";
        if (!number.empty())
            if (xml::Node record = tracking.find(number))
                if (isDeliveryEvent(childText(record, "TrackSummary/Event"))) target = "Delivered";
        if (childText(order, "KORVA/ShipmentStatus") == target) continue;
        xml::Node korva = order.element("KORVA");
        if (!korva) korva = order.appendElement("KORVA");
        korva.setText("");
        SetNodeChildText(korva, "ShipmentStatus", target);
        ++changed;
    }
    if (changed > 0) store.save(store::Doc::Transactions);
    return changed;
}

ViewCounts countViews(const store::Store &store)
{
    ViewCounts c;
    for (xml::Node order = store.doc(store::Doc::Transactions).root().firstElement(); order;
         order = order.nextElement()) {
        if (order.name() != "Transaction") continue;
        std::string status = childText(order, "KORVA/ShipmentStatus");
        if (status == "Delivered")
            ++c.deliveredNeedsFollowUp;
        else if (status == "Shipped")
            ++c.inTransit;
        if (!order.element("ShippedTime")) ++c.notShipped;
    }
    for (xml::Node order = store.doc(store::Doc::ArchivedTransactions).root().firstElement(); order;
         order = order.nextElement())
        if (order.name() == "Transaction") ++c.archived;
    return c;
}

void UpdateCounts(page::Page &page, const store::Store &store)
{
    writeCounts(page, countViews(store));
}

void writeCounts(page::Page &page, const ViewCounts &c)
{
    auto caption = [&](std::string_view id, std::string_view action, std::string_view label, int count) {
        if (page::Element e = page.element(id))
            e.setInnerHTML("<a href=\"http://plinthway/?Action=" + std::string(action) + "\">" + std::string(label) +
                           "</a> (" + std::to_string(count) + ")");
    };
    caption("TD_DeliveredNeedsFollowUp", "DisplayDeliveredNeedsFollowUp", "Delivered", c.deliveredNeedsFollowUp);
    caption("TD_InTransit", "DisplayInTransit", "In Transit", c.inTransit);
    caption("TD_NotShipped", "DisplayNotShipped", "Not Shipped", c.notShipped);
    caption("TD_Archived", "DisplayArchived", "Archived", c.archived);
}

DateTime parseEventDate(std::string_view text)
{
    static const char *months[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};
    if (DateTime iso = DateTime::fromString(text); iso.isValid()) return iso;
    size_t space = text.find(' ');
    if (space == std::string_view::npos) return {};
    std::string_view month = text.substr(0, space);
    int m = 0;
    for (int k = 0; k < 12; ++k)
        if (month == months[k]) m = k + 1;
    if (!m) return {};
    std::string rest(text.substr(space + 1));
    int day = 0, year = 0;
    char comma = 0;
    int consumed = 0;
    if (std::sscanf(rest.c_str(), "%d%c %d%n", &day, &comma, &year, &consumed) != 3 || comma != ',' ||
        size_t(consumed) != rest.size())
        return {};
    return DateTime::fromParts(year, m, day);
}

namespace {
DateTime dateOnly(const DateTime &t)
{
    return DateTime::fromParts(t.year(), t.month(), t.day());
}
long wholeDays(const DateTime &from, const DateTime &to)
{
    return long((to.toMsecs() - from.toMsecs()) / 86'400'000);
}
} // namespace

ShippingState shippingStateCell(xml::Node record, std::string_view shippedTime, double eBayClockOffset,
                                const DateTime &now)
{
    ShippingState state;
    if (!record) return state;
    std::string event = childText(record, "TrackSummary/Event");
    if (event.empty()) {
        state.html = xml::escape(childText(record, "Error/Description"));
        state.error = true;
        return state;
    }
    state.html = xml::escape(event);
    if (!isDeliveryEvent(event)) return state;
    DateTime eventDate = parseEventDate(childText(record, "TrackSummary/EventDate"));
    DateTime shippedLocal = eBayTimeToDate(shippedTime).addDays(-eBayClockOffset);
    if (eventDate.isValid() && !shippedTime.empty() && shippedLocal.isValid()) {
        long transit = wholeDays(dateOnly(shippedLocal), eventDate);
        state.html += transit == 1 ? " <div NOWRAP>(in 1 day)</div>"
                                   : " <div NOWRAP>(in " + std::to_string(transit) + " days)</div>";
        long since = wholeDays(eventDate, dateOnly(now));
        state.html += since == 0   ? " <div NOWRAP>Today</div>"
                      : since == 1 ? " <div NOWRAP>Yesterday</div>"
                                   : " <div NOWRAP>" + std::to_string(since) + " ago</div>";
    }
    return state;
}

} // namespace tw::orders
