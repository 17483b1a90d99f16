#include "messaging/FillTemplate.h"

#include "store/basFunctions.h"

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace tw::messaging {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kUnknown = "Unknown";

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool matchesAt(std::string_view text, std::size_t at, std::string_view what, bool ignoreCase)
{
    if (text.size() - at < what.size()) return false;
    for (std::size_t i = 0; i < what.size(); ++i) {
        char a = text[at + i], b = what[i];
        if (ignoreCase ? lowerAscii(a) != lowerAscii(b) : a != b) return false;
    }
    return true;
}

// Left to right; what was put in is not searched again.
std::string replaceAll(std::string_view text, std::string_view what, std::string_view with, bool ignoreCase)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (matchesAt(text, i, what, ignoreCase)) {
            out.append(with);
            i += what.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string trimBlanks(std::string_view s)
{
    auto begin = s.find_first_not_of(' ');
    if (begin == std::string_view::npos) return {};
    return std::string(s.substr(begin, s.find_last_not_of(' ') - begin + 1));
}

class Filler {
  public:
    Filler(xml::Node order, const xml::Document *labels, const xml::Document *details)
        : m_order(order), m_labels(labels), m_details(details)
    {
    }

    std::string text(std::string_view path, std::string_view fallback = {}) const
    {
        return GetNodeText(m_order, path, fallback);
    }

    std::string firstName() const
    {
        std::string paypal = text("PaypalTransaction/FIRSTNAME");
        if (!paypal.empty()) return paypal;
        std::string name = shipToName();
        return name.substr(0, name.find(' '));
    }

    std::string lastName() const
    {
        std::string paypal = text("PaypalTransaction/LASTNAME");
        if (!paypal.empty()) return paypal;
        std::string name = shipToName();
        auto blank = name.rfind(' ');
        return blank == std::string::npos ? name : name.substr(blank + 1);
    }

    std::string service(std::string_view child, std::string_view fallback) const
    {
        std::string used = text("ShippingDetails/ShippingServiceUsed");
        if (used.empty() || !m_details || m_details->isNull()) return std::string(fallback);
        xml::Node entry = m_details->select("GeteBayDetailsResponse/ShippingServiceDetails[ShippingService=$service]",
                                            {{"service", used}});
        return entry ? GetNodeText(entry, child, fallback) : std::string(fallback);
    }

    std::string labelField(std::string_view path) const
    {
        xml::Node found = label();
        return found ? GetNodeText(found, path, kUnknown) : std::string(kUnknown);
    }

    std::string shipToBlock() const
    {
        xml::Node found = label();
        if (!found) return std::string(kUnknown);
        auto field = [&](std::string_view name) { return GetNodeText(found, "Package/" + std::string(name)); };
        std::string block;
        for (std::string_view name : {"ToName", "ToTitle", "ToCompany", "ToAddress1", "ToAddress2", "ToAddress3",
                                      "ToAddress4", "ToAddress5", "ToAddress6"}) {
            std::string value = field(name);
            if (!value.empty()) block.append(value).append(kCrLf);
        }
        block.append(field("ToCity")).append(", ").append(field("ToState")).append(" ");
        block.append(field("ToPostalCode")).append(kCrLf);
        std::string country = field("ToCountry");
        if (!country.empty()) block.append(country).append(kCrLf);
        return block;
    }

    std::string transactionList() const
    {
        std::vector<xml::Node> orders;
        if (xml::Node selection = m_order.parent())
            orders = selection.elements();
        else
            orders.push_back(m_order);
        std::string list;
        for (xml::Node o : orders) {
            list.append(GetNodeText(o, "QuantityPurchased", "1")).append(" x");
            std::string sku = GetNodeText(o, "Item/SKU");
            if (!sku.empty()) list.append(" [").append(sku).append("]");
            xml::Node product = o.select("SellingManagerProductDetails/ProductName");
            list.append(" ").append(product ? product.text() : GetNodeText(o, "Item/Title"));
            list.append(" (").append(GetNodeText(o, "Item/ItemID")).append(")").append(kCrLf);
        }
        if (list.ends_with(kCrLf)) list.resize(list.size() - kCrLf.size());
        return trimBlanks(list);
    }

  private:
    std::string shipToName() const { return text("Buyer/BuyerInfo/ShippingAddress/Name"); }

    // The first label that lists this order. Both ids must belong to one
    // packing-list entry: a package of several orders must not pass for an
    // order whose item id is in one entry and transaction id in another.
    xml::Node label() const
    {
        if (!m_label) {
            m_label = xml::Node();
            if (m_labels && !m_labels->isNull())
                m_label =
                    m_labels->root().select("ShippingLabel[PackingList/Item[ItemID=$item and TransactionID=$txn]]",
                                            {{"item", text("Item/ItemID")}, {"txn", text("TransactionID")}});
        }
        return *m_label;
    }

    xml::Node m_order;
    const xml::Document *m_labels;
    const xml::Document *m_details;
    mutable std::optional<xml::Node> m_label;
};

struct Placeholder {
    std::string_view text;
    std::function<std::string(const Filler &)> value;
};

std::function<std::string(const Filler &)> labelPath(std::string_view path)
{
    return [path](const Filler &f) { return f.labelField(path); };
}

// In the order they are filled; the first kCaseInsensitive ones match whatever their capitals.
constexpr std::size_t kCaseInsensitive = 12;
const std::array<Placeholder, 31> &placeholders()
{
    static const std::array<Placeholder, 31> table = {{
        {"{Item/ItemID}", [](const Filler &f) { return f.text("Item/ItemID"); }},
        {"{Item/Title}", [](const Filler &f) { return f.text("Item/Title"); }},
        {"{SellingManagerProductDetails/ProductName}",
         [](const Filler &f) { return f.text("SellingManagerProductDetails/ProductName"); }},
        {"{Item/SKU}", [](const Filler &f) { return f.text("Item/SKU"); }},
        {"{Buyer/BuyerInfo/ShippingAddress}",
         [](const Filler &f) { return f.text("Buyer/BuyerInfo/ShippingAddress"); }},
        {"{Buyer/UserID}", [](const Filler &f) { return f.text("Buyer/UserID"); }},
        {"{Buyer/FirstName}", [](const Filler &f) { return f.firstName(); }},
        {"{Buyer/LastName}", [](const Filler &f) { return f.lastName(); }},
        {"{QuantityPurchased}", [](const Filler &f) { return f.text("QuantityPurchased"); }},
        {"{AmountPaid}", [](const Filler &f) { return f.text("AmountPaid"); }},
        {"{TransactionPrice}", [](const Filler &f) { return f.text("TransactionPrice"); }},
        {"{ShippingDetails/ShipmentTrackingNumber}",
         [](const Filler &f) { return f.text("ShippingDetails/ShipmentTrackingNumber", "No Tracking Available"); }},
        {"{ShippingDetails/ShippingCarrier}",
         [](const Filler &f) { return f.service("ShippingCarrier", "Unknown Carrier"); }},
        {"{ShippingLabel/Postage}", labelPath("Postage")},
        {"{ShippingLabel/MailClass}", labelPath("Package/MailClass")},
        {"{ShippingLabel/ToName}", labelPath("Package/ToName")},
        {"{ShippingLabel/ToTitle}", labelPath("Package/ToTitle")},
        {"{ShippingLabel/ToCompany}", labelPath("Package/ToCompany")},
        {"{ShippingLabel/ToAddress1}", labelPath("Package/ToAddress1")},
        {"{ShippingLabel/ToAddress2}", labelPath("Package/ToAddress2")},
        {"{ShippingLabel/ToAddress3}", labelPath("Package/ToAddress3")},
        {"{ShippingLabel/ToAddress4}", labelPath("Package/ToAddress4")},
        {"{ShippingLabel/ToAddress5}", labelPath("Package/ToAddress5")},
        {"{ShippingLabel/ToAddress6}", labelPath("Package/ToAddress6")},
        {"{ShippingLabel/ToCity}", labelPath("Package/ToCity")},
        {"{ShippingLabel/ToState}", labelPath("Package/ToState")},
        {"{ShippingLabel/ToPostalCode}", labelPath("Package/ToPostalCode")},
        {"{ShippingLabel/ToCountry}", labelPath("Package/ToCountry")},
        {"{ShippingLabel/ShipToBlock}", [](const Filler &f) { return f.shipToBlock(); }},
        {"{ShippingDetails/Description}", [](const Filler &f) { return f.service("Description", "Unknown Service"); }},
        {"{Tagged/TransactionList}", [](const Filler &f) { return f.transactionList(); }},
    }};
    return table;
}

} // namespace

std::string FillTemplateWithXML(std::string_view templateText, xml::Node order, const xml::Document *shippingLabels,
                                const xml::Document *eBayDetails)
{
    std::string text(templateText);
    if (!order) return text;
    Filler filler(order, shippingLabels, eBayDetails);
    const auto &table = placeholders();
    for (std::size_t i = 0; i < table.size(); ++i) {
        // The test is on the template as written, not on what earlier values put in.
        if (templateText.find(table[i].text) == std::string_view::npos) continue;
        text = replaceAll(text, table[i].text, table[i].value(filler), i < kCaseInsensitive);
    }
    return text;
}

} // namespace tw::messaging
