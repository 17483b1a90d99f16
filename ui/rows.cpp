#include "ui/rows.h"

#include "ebay/refund.h"
#include "orders/shipment.h"
#include "platform/config.h"
#include "platform/html.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/settings.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace tw::ui {

using store::childText;
using store::compositeKey;

namespace {

std::string esc(std::string_view text)
{
    return xml::escape(text);
}

std::string link(const std::string &url, const std::string &innerHtml)
{
    return "<a href=\"" + esc(url) + "\">" + innerHtml + "</a>";
}

// A query appended to a base address that may already carry one.
std::string withQuery(const std::string &base, std::string_view query)
{
    return base + (base.find('?') == std::string::npos ? "?" : "&") + std::string(query);
}

// A decimal number as a seller types it: optional sign, digits, one point.
bool numeric(std::string_view text, double &value)
{
    std::string t = trim(text);
    if (t.empty()) return false;
    size_t digits = 0, points = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        char c = t[i];
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.')
            ++points;
        else if (!((c == '-' || c == '+') && i == 0))
            return false;
    }
    if (digits == 0 || points > 1) return false;
    auto [end, ec] = std::from_chars(t.data() + (t[0] == '+' ? 1 : 0), t.data() + t.size(), value);
    return ec == std::errc() && end == t.data() + t.size();
}

std::string money(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    return buffer;
}

std::string paymentStatusText(const std::string &status)
{
    static const std::pair<const char *, const char *> texts[] = {
        {"BuyerCreditCardFailed", "Buyer Credit Card Failed"},
        {"BuyerECheckBounced", "Buyer ECheck Bounced"},
        {"BuyerFailedPaymentReportedBySeller", "Buyer Failed Payment Reported By Seller"},
        {"CustomCode", "Custom Code"},
        {"NoPaymentFailure", "No Payment"},
        {"PaymentInProcess", "Payment In Process"},
        {"PayPalPaymentInProcess", "PayPal Payment In Process"},
    };
    for (const auto &[code, text] : texts)
        if (status == code) return text;
    return status;
}

DateTime dateOnly(const DateTime &t)
{
    return DateTime::fromParts(t.year(), t.month(), t.day());
}

struct Entry {
    std::string colour;
    std::string title; // attribute text, unescaped
    std::string date;  // shown date, unescaped
    std::string html;  // after the date, starting with "</b>"
};

} // namespace

std::string queryEncode(std::string_view value)
{
    return QByteArray(value.data(), qsizetype(value.size())).toPercentEncoding().toStdString();
}

namespace {

// The system's short date-time form, read once and applied by hand: asking
// the locale to format each date was most of the cost of a row. The pattern
// letters are the locale's own (d, M, yy, H, h, m, s, AP, quoted text).
class LocalForm {
  public:
    LocalForm()
    {
        const QLocale locale = QLocale::system();
        for (int m = 1; m <= 12; ++m) {
            m_months[m][0] = locale.monthName(m, QLocale::ShortFormat).toStdString();
            m_months[m][1] = locale.monthName(m, QLocale::LongFormat).toStdString();
        }
        for (int d = 1; d <= 7; ++d) {
            m_days[d][0] = locale.dayName(d, QLocale::ShortFormat).toStdString();
            m_days[d][1] = locale.dayName(d, QLocale::LongFormat).toStdString();
        }
        m_am[0] = locale.amText().toUpper().toStdString();
        m_pm[0] = locale.pmText().toUpper().toStdString();
        m_am[1] = locale.amText().toLower().toStdString();
        m_pm[1] = locale.pmText().toLower().toStdString();
        // Locales that write numbers in their own digits (Arabic, say).
        const QString zero = locale.zeroDigit();
        if (zero != "0")
            for (int d = 0; d <= 9; ++d)
                m_digits[d] = QString(QChar(char32_t(zero.toUcs4().value(0) + char32_t(d)))).toStdString();
        const std::string f = locale.dateTimeFormat(QLocale::ShortFormat).toStdString();
        for (size_t i = 0; i < f.size();) {
            const char c = f[i];
            if (c == '\'') {
                size_t end = f.find('\'', i + 1);
                if (end == std::string::npos) end = f.size();
                m_tokens.push_back({0, end == i + 1 ? "'" : f.substr(i + 1, end - i - 1)});
                i = end + 1;
                continue;
            }
            if (std::string("dMyHhmszAa").find(c) == std::string::npos) {
                m_tokens.push_back({0, std::string(1, c)});
                ++i;
                continue;
            }
            size_t j = i;
            while (j < f.size() && f[j] == c)
                ++j;
            if ((c == 'A' || c == 'a') && j < f.size() && (f[j] == 'P' || f[j] == 'p')) ++j;
            m_tokens.push_back({c, f.substr(i, j - i)});
            i = j;
        }
    }

    std::string format(const DateTime &t) const
    {
        auto number = [this](int v, bool padded) {
            std::string text = (padded && v < 10 ? "0" : "") + std::to_string(v);
            if (m_digits[0].empty()) return text;
            std::string local;
            for (char c : text)
                local += m_digits[c - '0'];
            return local;
        };
        auto two = [&](int v) { return number(v, true); };
        auto one = [&](int v) { return number(v, false); };
        std::string out;
        for (const Token &token : m_tokens) {
            const size_t n = token.text.size();
            switch (token.letter) {
            case 0:
                out += token.text;
                break;
            case 'd':
                if (n <= 2)
                    out += n == 1 ? one(t.day()) : two(t.day());
                else
                    out += m_days[weekday(t)][n == 3 ? 0 : 1];
                break;
            case 'M':
                if (n <= 2)
                    out += n == 1 ? one(t.month()) : two(t.month());
                else
                    out += m_months[t.month()][n == 3 ? 0 : 1];
                break;
            case 'y':
                out += n <= 2 ? two(t.year() % 100) : one(t.year());
                break;
            case 'H':
                out += n == 1 ? one(t.hour()) : two(t.hour());
                break;
            case 'h': {
                const bool ampm = hasAmPm();
                const int h = ampm ? (t.hour() % 12 == 0 ? 12 : t.hour() % 12) : t.hour();
                out += n == 1 ? one(h) : two(h);
                break;
            }
            case 'm':
                out += n == 1 ? one(t.minute()) : two(t.minute());
                break;
            case 's':
                out += n == 1 ? one(t.second()) : two(t.second());
                break;
            case 'z':
                out += one(t.msec());
                break;
            case 'A':
                out += t.hour() < 12 ? m_am[0] : m_pm[0];
                break;
            case 'a':
                out += t.hour() < 12 ? m_am[1] : m_pm[1];
                break;
            }
        }
        return out;
    }

  private:
    struct Token {
        char letter; // 0 for literal text
        std::string text;
    };
    bool hasAmPm() const
    {
        for (const Token &token : m_tokens)
            if (token.letter == 'A' || token.letter == 'a') return true;
        return false;
    }
    // 1 = Monday ... 7 = Sunday, as the locale numbers days.
    static int weekday(const DateTime &t)
    {
        const long long days = t.toMsecs() / 86'400'000 - (t.toMsecs() < 0 && t.toMsecs() % 86'400'000 ? 1 : 0);
        return int(((days % 7) + 7 + 3) % 7) + 1; // 1 January 1970 was a Thursday
    }

    std::vector<Token> m_tokens;
    std::string m_months[13][2], m_days[8][2], m_am[2], m_pm[2], m_digits[10];
};

const LocalForm &localForm()
{
    static const LocalForm form;
    return form;
}

} // namespace

std::string localDateText(std::string_view eBayTime, double eBayClockOffset)
{
    DateTime t = eBayTimeToDate(eBayTime);
    if (eBayTime.empty() || !t.isValid()) return {};
    t = t.addDays(-eBayClockOffset);
    return localForm().format(t);
}

std::string noteEditorHtml(std::string_view transactionId, std::string_view itemId, std::string_view text)
{
    const std::string ids = "&TransactionID=" + queryEncode(transactionId) + "&ItemID=" + queryEncode(itemId);
    std::string value = text.empty() ? std::string() : " value=\"" + esc(text) + "\"";
    return "<input name=\"note\" class=\"note\" type=\"text\" size=\"40\"" + value + "/> <a href=\"" +
           esc("http://plinthway/?Action=SaveNoteClick" + ids) + "\">Save</a> <a href=\"" +
           esc("http://plinthway/?Action=DeleteNoteClick" + ids) + "\">Delete</a>";
}

std::string addNoteHtml(std::string_view transactionId, std::string_view itemId)
{
    return "<a href=\"" +
           esc("http://plinthway/?Action=AddNoteClick&TransactionID=" + queryEncode(transactionId) +
               "&ItemID=" + queryEncode(itemId)) +
           "\">Add Note</a>";
}

namespace {
// The link that moves the order to the archive, or back in the Archived view.
std::string moveHtml(std::string_view view, std::string_view transactionId, std::string_view itemId)
{
    const bool archived = view == kArchived;
    return "<a href=\"" +
           esc(std::string("http://plinthway/?Action=") + (archived ? "RestoreTransaction" : "ArchiveTransaction") +
               "&itemID=" + queryEncode(itemId) + "&transactionID=" + queryEncode(transactionId)) +
           "\">" + (archived ? "Restore" : "Archive") + "</a>";
}
} // namespace

void RowBuilder::readSettings()
{
    const xml::Document &settingsDoc = m_session.store.doc(store::Doc::Settings);
    m_privateMode = settings::isOn(settings::read(settingsDoc, "PrivateMode"));
    m_flagPostage = settings::isOn(settings::read(settingsDoc, "FlagPostageDifferences"));
}

void RowBuilder::reuse(std::string_view view, const DateTime &now)
{
    m_view = std::string(view);
    m_now = now;
    readSettings();
}

RowBuilder::RowBuilder(const Session &session, std::string_view view, const DateTime &now)
    : m_session(session), m_view(view), m_now(now)
{
    readSettings();
    if (session.eBayDetails)
        m_viewItemPrefix =
            GetNodeText(session.eBayDetails, "GeteBayDetailsResponse/URLDetails[URLType='ViewItemURL']/URL");
    m_itemUrl = config().get("ebay/ItemUrl");
    m_salesRecordUrl = config().get("ebay/SalesRecordUrl");
    m_contactUrl = config().get("ebay/ContactUrl");
    m_feedbackUrl = config().get("ebay/FeedbackUrl");
    m_uspsUrl = config().get("usps/TrackingPageUrl");
    m_upsUrl = config().get("ups/TrackingPageUrl");
    m_placeholder = config().get("privacy/PlaceholderEmail");

    // The most recently saved note stands first, as a query would find it.
    m_notes = store::RecordIndex(session.store.doc(store::Doc::Notes).root(), "Note", [](xml::Node n) {
        return compositeKey({childText(n, "TransactionID"), childText(n, "ItemID")});
    });
    m_tracking = store::RecordIndex(session.store.doc(store::Doc::TrackingNumbers).root(), "TrackingNumber",
                                    [](xml::Node r) { return r.attribute("ID"); });
    auto each = [](const xml::Document &doc, std::string_view name, auto &&add) {
        if (xml::Node root = doc.root())
            for (xml::Node n = root.firstElement(); n; n = n.nextElement())
                if (n.name() == name) add(n);
    };
    each(session.store.doc(store::Doc::Messages), "MemberMessageExchange", [this](xml::Node n) {
        m_questions[compositeKey({childText(n, "Item/ItemID"), childText(n, "Question/SenderID")})].push_back(n);
    });
    each(session.store.doc(store::Doc::Feedback), "FeedbackDetail", [this](xml::Node n) {
        m_feedback[compositeKey({childText(n, "ItemID"), childText(n, "TransactionID")})].push_back(n);
    });
    each(session.store.doc(store::Doc::SentMessages), "Message", [this](xml::Node n) {
        m_sent[compositeKey({childText(n, "ItemID"), childText(n, "SendToName")})].push_back(n);
    });
    // The first label that packed the order wins.
    each(session.store.doc(store::Doc::ShippingLabels), "ShippingLabel", [this](xml::Node label) {
        if (xml::Node list = label.element("PackingList"))
            for (xml::Node item = list.firstElement(); item; item = item.nextElement())
                if (item.name() == "Item")
                    m_labels.emplace(compositeKey({childText(item, "ItemID"), childText(item, "TransactionID")}),
                                     label);
    });
    for (orders::PendingUpload &p : orders::pendingUploads(session.store.doc(store::Doc::ShippingLabels)))
        m_pendingUploads.emplace(compositeKey({p.itemId, p.transactionId}), std::move(p));
    if (session.eBayDetails && session.eBayDetails.root())
        for (xml::Node d = session.eBayDetails.root().firstElement(); d; d = d.nextElement())
            if (d.name() == "ShippingServiceDetails") m_services.emplace(childText(d, "ShippingService"), d);
}

std::string RowBuilder::date(std::string_view eBayTime) const
{
    return localDateText(eBayTime, m_session.eBayClockOffset);
}

std::string RowBuilder::email(const std::string &address) const
{
    return m_privateMode ? m_placeholder : address;
}

std::string RowBuilder::cellPayment(xml::Node order) const
{
    if (m_view == kNotShipped) {
        if (order.element("PaidTime")) return "<font color=\"#216721\"><b>Paid</b></font>";
        return esc(paymentStatusText(childText(order, "Status/eBayPaymentStatus")));
    }
    xml::Node shipped = order.element("ShippedTime");
    if (!shipped) return {};
    DateTime t = eBayTimeToDate(shipped.text());
    if (!t.isValid()) return {};
    t = t.addDays(-m_session.eBayClockOffset);
    long days = long((dateOnly(m_now).toMsecs() - dateOnly(t).toMsecs()) / 86'400'000);
    return std::to_string(days);
}

std::string RowBuilder::cellOrder(xml::Node order, const std::string &item, const std::string &txn,
                                  const std::string &buyer) const
{
    std::string html;
    const std::string itemLink = m_viewItemPrefix.empty() ? withQuery(m_itemUrl, "ViewItem&item=" + queryEncode(item))
                                                          : m_viewItemPrefix + queryEncode(item);
    html += link(itemLink, esc(childText(order, "Item/Title")));
    int quantity = 0;
    std::string qty = childText(order, "QuantityPurchased");
    std::from_chars(qty.data(), qty.data() + qty.size(), quantity);
    if (quantity > 1) html += "&nbsp;<font color=\"#86101e\">Qty: " + esc(qty) + "</font> ";

    const std::string b = queryEncode(buyer), i = queryEncode(item), t = queryEncode(txn);
    html += "<br/><div style=\"display: inline;white-space: nowrap;\">";
    html += link(withQuery(m_contactUrl, "ReturnUserEmail&requested=" + b + "&redirect=0&iid=" + i +
                                             "&TransactionID=" + t + "&ItemID=" + i),
                 "Contact Buyer");
    html += ": " + esc(buyer) + " (" +
            link(withQuery(m_feedbackUrl, "ViewFeedback2&userid=" + b + "&ftab=AllFeedback"),
                 esc(childText(order, "Buyer/FeedbackScore"))) +
            ")";
    html += " " + link(withQuery(m_feedbackUrl, "LeaveFeedback2&transactid=" + t + "&item=" + i + "&useridto=" + b),
                       "Leave Feedback");
    if (ebay::paidThroughEbay(order) && !ebay::refundMayHaveBeenMade(order))
        html +=
            " " + link("http://plinthway/?Action=DisplayEbayRefundForm&TransactionID=" + t + "&ItemID=" + i, "Refund");
    html += "</div><br> ";
    std::string status = childText(order, "Buyer/Status");
    if (status != "Confirmed") html += " [" + esc(status) + "]";
    std::string address = childText(order, "Buyer/Email");
    html += address.empty() || address == "Invalid Request" ? " No Email Address" : " " + esc(email(address));

    html += "<BR/>";
    if (xml::Node note = m_notes.find(compositeKey({txn, item})))
        html += "<div NOWRAP class=\"note\">" + noteEditorHtml(txn, item, childText(note, "Text")) + "</div>";
    else
        html += "<div NOWRAP class=\"note\">" + addNoteHtml(txn, item) + "</div>";
    html += "<BR/>";
    html += history(order, item, txn, buyer);
    return html;
}

std::string RowBuilder::postage(xml::Node order, const std::string &item, const std::string &txn) const
{
    auto label = m_labels.find(compositeKey({item, txn}));
    if (label == m_labels.end()) return {};
    const std::string postage = childText(label->second, "Postage");
    const std::string cost = childText(order, "ShippingServiceSelected/ShippingServiceCost");
    double p = 0, c = 0;
    if (m_flagPostage && numeric(postage, p) && numeric(cost, c)) {
        // Cents, so that 4.10 against 4.1 is no difference.
        long long pc = std::llround(p * 100), cc = std::llround(c * 100);
        if (cc > pc) {
            const std::string amount = money(double(cc - pc) / 100);
            // Orders eBay took the payment of are refunded through eBay;
            // none is offered while one may have been made unseen.
            const bool eBay = ebay::paidThroughEbay(order);
            const std::string refund =
                eBay ? "http://plinthway/?Action=DisplayEbayRefundForm&TransactionID=" + queryEncode(txn) +
                           "&ItemID=" + queryEncode(item) + "&Amount=" + queryEncode(amount) +
                           "&Reason=SHIPPING_DISCOUNT"
                     : "http://plinthway/?Action=DisplayPaypalRefundForm&TransactionID=" + queryEncode(txn) +
                           "&ItemID=" + queryEncode(item) +
                           "&PaypalTransactionID=" + queryEncode(childText(order, "PaypalTransaction/TRANSACTIONID")) +
                           "&Amount=" + queryEncode(amount);
            const std::string offer = eBay && ebay::refundMayHaveBeenMade(order)
                                          ? std::string()
                                          : "<div style=\"display: inline;white-space: nowrap;\" title=\"" +
                                                esc("Open form to refund $" + amount) + "\"> " +
                                                link(refund, "Refund") + "</div>";
            return "<font style=\"font-size: xx-small;\" color=\"#86101e\"><b>Postage: $" + esc(postage) +
                   " (Overcharged)</b>" + offer + "</font>";
        }
        if (cc < pc)
            return "<font style=\"font-size: xx-small;\" color=\"#006200\"><b>Postage: $" + esc(postage) +
                   " (Discount)</b></font>";
    }
    return "<font style=\"font-size: xx-small;\" color=\"#909090\">Postage: $" + esc(postage) + "</font>";
}

std::string RowBuilder::history(xml::Node order, const std::string &item, const std::string &txn,
                                const std::string &buyer) const
{
    std::vector<std::pair<DateTime, Entry>> entries;
    auto add = [&](std::string_view eBayTime, Entry entry) {
        entry.date = date(eBayTime);
        DateTime when = eBayTimeToDate(eBayTime);
        entries.emplace_back(eBayTime.empty() ? DateTime() : when, std::move(entry));
    };

    if (xml::Node paypal = order.element("PaypalTransaction")) {
        const std::string time = childText(paypal, "ORDERTIME");
        std::string payment = "</b> PayPal payment $" + esc(childText(paypal, "AMT")) + " received from " +
                              esc(email(childText(paypal, "EMAIL")));
        const std::string status = childText(paypal, "PAYMENTSTATUS");
        if (status != "Completed") payment += " (" + esc(status) + ")";
        add(time, {"#ffff99", {}, {}, payment});
        const std::string note = childText(paypal, "NOTE");
        if (!note.empty()) add(time, {"#9bccf3", {}, {}, " [PayPal Note]</b> " + esc(note)});
    }
    for (const ebay::RefundRecord &r : ebay::refundRecords(order)) {
        const std::string amount = "Refund $" + ebay::centsText(r.cents);
        const std::string words(ebay::reasonWords(r.reason));
        const std::string why = words.empty() ? std::string() : " (" + words + ")";
        if (r.status == ebay::kUnknown)
            add(r.date, {"#ffcccc",
                         {},
                         {},
                         "</b> " + esc(amount) +
                             " may have been made: eBay's answer was lost. "
                             "Tidewell asks eBay about it at the next drawing." +
                             esc(why)});
        else
            add(r.date, {r.status == ebay::kFailed ? "#ffcccc" : "#e0e0ff",
                         r.refundId.empty() ? std::string() : "eBay refund " + r.refundId,
                         {},
                         "</b> " + esc(amount + " " + lower(r.status) + why)});
    }
    if (xml::Node shipped = order.element("ShippedTime")) {
        const std::string cost = childText(order, "ShippingServiceSelected/ShippingServiceCost");
        add(shipped.text(), {"#ffffcc",
                             cost.empty() ? "Buyer Paid: Unknown" : "Buyer Paid: $" + cost,
                             {},
                             "</b> Item was shipped. " + postage(order, item, txn)});
    }
    if (auto it = m_pendingUploads.find(compositeKey({item, txn})); it != m_pendingUploads.end()) {
        const orders::PendingUpload &p = it->second;
        const std::string label = "</b> Label printed (" + esc(p.carrier) +
                                  (p.trackingNumber.empty() ? std::string() : " " + esc(p.trackingNumber)) + ")";
        std::string text;
        if (p.status == orders::kUploadRefused) {
            // eBay said no, so nothing happened there: it may be sent again.
            text = label + ", but tracking has not reached eBay" +
                   (p.problem.empty() ? "" : " (" + esc(p.problem) + ")") + ". " +
                   link("http://plinthway/?Action=ResendTracking&ItemID=" + queryEncode(item) +
                            "&TransactionID=" + queryEncode(txn),
                        "Send it to eBay again");
        } else {
            // No answer: eBay may have it. Only a download, which asks eBay, sends it again.
            text = label + ", but eBay has not confirmed its tracking number. Download Orders asks eBay and sends it "
                           "again if it is missing.";
        }
        add(p.timeStamp, {"#ffcccc", {}, {}, text});
    }
    if (auto it = m_questions.find(compositeKey({item, buyer})); it != m_questions.end())
        for (xml::Node q : it->second)
            add(childText(q, "CreationDate"),
                {"#ffff99", {}, {}, "</b> Question: " + esc(childText(q, "Question/Body"))});
    if (auto it = m_feedback.find(compositeKey({item, txn})); it != m_feedback.end())
        for (xml::Node f : it->second) {
            const std::string type = childText(f, "CommentType");
            add(childText(f, "CommentTime"), {type == "Positive" ? "#c4ffc4" : "#ffc4c4",
                                              {},
                                              {},
                                              "</b> " + esc(type) + " Feedback: " + esc(childText(f, "CommentText"))});
        }
    if (auto it = m_sent.find(compositeKey({item, buyer})); it != m_sent.end())
        for (xml::Node m : it->second) {
            const std::string text = childText(m, "Text");
            std::string shown;
            if (childText(m, "MessageSystem") == "SMTP") {
                shown = "</b>&nbsp;&nbsp;[SMTP]&nbsp;&nbsp;" + esc(text);
            } else {
                // eBay's message is an HTML page; only the seller's words are shown.
                std::string words = html::elementText(text, "TextCTA");
                if (words.empty()) words = html::text(text);
                shown = "</b> " + esc(words);
            }
            add(childText(m, "ReceiveDate"), {"#ffffcc", {}, {}, shown});
        }

    if (!entries.empty()) SortByDateDescending(entries, 0, long(entries.size()) - 1);
    std::string html;
    for (const auto &[when, e] : entries) {
        html += "<div class=\"history\" style=\"background-color: " + e.colour + ";\"";
        if (!e.title.empty()) html += " title=\"" + esc(e.title) + "\"";
        html += "><b>" + esc(e.date) + e.html + "</div>";
    }
    return html;
}

std::string RowBuilder::cellTracking(xml::Node order, const std::string &number) const
{
    std::string html;
    const std::string service = childText(order, "ShippingDetails/ShippingServiceUsed");
    auto details = m_services.find(service);
    const std::string carrier =
        details == m_services.end() ? std::string() : childText(details->second, "ShippingCarrier");
    if (carrier == "USPS" && !number.empty())
        html = link(m_uspsUrl + "/PTSInternetWeb/InterLabelInquiry.do?strOrigTrackNum=" + queryEncode(number),
                    esc(number));
    else if (carrier == "UPS" && !number.empty())
        html = link(withQuery(m_upsUrl, "tracknum=" + queryEncode(number)), esc(number));
    else
        html = esc(number);
    if (m_view == kInTransit)
        if (xml::Node record = m_tracking.find(number); record && !number.empty()) {
            DateTime checked = DateTime::fromString(childText(record, "LastChecked"));
            if (checked.isValid()) {
                char hours[32];
                std::snprintf(hours, sizeof hours, "%.1f", checked.daysTo(m_now) * 24.0);
                html +=
                    "<br><div nowrap><font size=\"-2\" >Last Checked: " + std::string(hours) + " hrs ago</font></div>";
            }
        }
    return html;
}

std::string RowBuilder::cellService(xml::Node order) const
{
    const bool shipped = bool(order.element("ShippedTime"));
    const std::string service =
        childText(order, shipped ? "ShippingDetails/ShippingServiceUsed" : "ShippingServiceSelected/ShippingService");
    auto details = m_services.find(service);
    std::string html = details == m_services.end() ? std::string() : esc(childText(details->second, "Description"));
    if (!shipped && childText(order, "Status/BuyerSelectedShipping") != "true") html += " (Default)";
    return html;
}

std::string RowBuilder::row(xml::Node order, int position) const
{
    const std::string item = childText(order, "Item/ItemID");
    const std::string txn = childText(order, "TransactionID");
    const std::string buyer = childText(order, "Buyer/UserID");
    const std::string number = childText(order, "ShippingDetails/ShipmentTrackingNumber");

    orders::ShippingState state;
    if (!number.empty() && !item.empty() && !txn.empty())
        state = orders::shippingStateCell(m_tracking.find(number), childText(order, "ShippedTime"),
                                          m_session.eBayClockOffset, m_now);
    std::string colour = state.error ? "#ffc0c0" : position % 2 == 0 ? "#DDDDFF" : "";

    std::string html;
    html.reserve(4096);
    html += "<tr ItemID=\"" + esc(item) + "\" TransactionID=\"" + esc(txn) + "\" TrackingNumber=\"" + esc(number) +
            "\" BuyerEIASToken=\"" + esc(childText(order, "Buyer/EIASToken")) + "\"";
    if (!colour.empty()) html += " style=\"background-color: " + colour + ";\"";
    html += ">";
    html += "<td align=\"center\">" +
            link(withQuery(m_salesRecordUrl, "itemid=" + queryEncode(item) + "&transid=" + queryEncode(txn)),
                 esc(childText(order, "ShippingDetails/SellingManagerSalesRecordNumber"))) +
            "<br/><input type=\"checkbox\" name=\"tagged\"/></td>";
    html += "<td align=\"center\">" + cellPayment(order) + "</td>";
    html += "<td>" + cellOrder(order, item, txn, buyer) + "</td>";
    html += "<td>" + cellTracking(order, number) + "</td>";
    html += "<td>" + cellService(order) + "</td>";
    html += "<td class=\"status\">" + state.html + "</td>";
    html += "<td align=\"center\">" + moveHtml(m_view, txn, item) + "</td></tr>";
    return html;
}

} // namespace tw::ui
