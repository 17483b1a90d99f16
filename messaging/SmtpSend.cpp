#include "messaging/SmtpSend.h"

#include "messaging/FillTemplate.h"
#include "net/SendMail.h"
#include "store/basFunctions.h"

#include <algorithm>
#include <cstdint>

namespace tw::messaging {
namespace {

std::string trimmed(std::string_view s)
{
    auto begin = s.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    return std::string(s.substr(begin, s.find_last_not_of(" \t") - begin + 1));
}

SendResult refused(std::string sentence)
{
    SendResult result;
    result.errorDescription = std::move(sentence);
    return result;
}

} // namespace

SmtpPort smtpPort(std::string_view setting)
{
    std::string value = trimmed(setting);
    SmtpPort result;
    if (value.empty()) {
        result.port = 25;
        return result;
    }
    long number = 0;
    bool digits = true;
    for (char c : value) {
        if (c < '0' || c > '9')
            digits = false;
        else if (number <= 65535) // beyond that it stays too large, without overflowing
            number = number * 10 + (c - '0');
    }
    if (!digits || number < 1 || number > 65535) {
        result.error = "The SMTP port \"" + value +
                       "\" is not a whole number from 1 to 65535. Correct it under Tools > Options; no message "
                       "was sent.";
        return result;
    }
    result.port = int(number);
    return result;
}

Recipient orderRecipient(xml::Node order)
{
    Recipient r;
    std::string email = GetNodeText(order, "Buyer/Email");
    std::string user = GetNodeText(order, "Buyer/UserID");
    if (email == "Invalid Request") {
        r.status = Recipient::Withheld;
        r.message = "Unable to obtain email address for " + user;
    } else if (email.empty()) {
        r.status = Recipient::Missing;
        r.message = "No email address is stored for " + user + ".";
    } else {
        r.status = Recipient::Found;
        r.address = email;
    }
    return r;
}

SendResult sendSmtpMessage(const SmtpMessage &message, const std::function<void(const std::string &)> &trace)
{
    if (trimmed(message.server).empty())
        return refused("No SMTP server is set. Enter one under Tools > Options; no message was sent.");
    if (message.port < 1 || message.port > 65535) return refused(smtpPort(std::to_string(message.port)).error);

    net::SendMail mail;
    mail.TimeoutValue = message.timeoutSeconds;
    mail.EndOfDataTimeoutValue = message.endOfDataTimeoutSeconds;
    if (trace) {
        mail.ReportEvents = true;
        mail.onSessionTrace = trace;
    }
    SendResult result;
    try {
        mail.SmtpConnect(trimmed(message.server), message.port);
        mail.SendTo = message.to;
        mail.From = message.from;
        if (message.ccSender) mail.Cc = message.from;
        mail.Subject = message.subject;
        mail.Body = message.body;
        mail.SendDate = message.date;
        mail.SendMessage();
        result.sent = true;
    } catch (const net::NetError &e) {
        result.mayHaveBeenSent = mail.MayHaveBeenSent();
        result.errorNumber = e.number();
        result.errorSource = e.source();
        result.errorDescription = e.description();
    }
    mail.Disconnect();
    return result;
}

ComposedEmail composeOrderEmail(xml::Node order, std::string_view subjectTemplate, std::string_view bodyTemplate,
                                const xml::Document *shippingLabels, const xml::Document *eBayDetails)
{
    if (!order) return {std::string(subjectTemplate), std::string(bodyTemplate)};
    // A document of its own: the copy has no parent, so the list is this order alone.
    xml::Document alone;
    alone.setRoot(order);
    xml::Node copy = alone.root();
    return {FillTemplateWithXML(subjectTemplate, copy, shippingLabels, eBayDetails),
            FillTemplateWithXML(bodyTemplate, copy, shippingLabels, eBayDetails)};
}

std::string smtpMessageId(const DateTime &local)
{
    // Whole numbers, not a double: the 15th digit must not depend on how a
    // binary fraction happens to round. Day 0 is 30 December 1899.
    constexpr std::int64_t msPerDay = 86400000;
    std::int64_t ms = std::max<std::int64_t>(0, local.toMsecs() + 25569 * msPerDay);
    std::int64_t whole = ms / msPerDay;
    int wholeDigits = int(std::to_string(whole).size());
    int decimals = std::max(0, 15 - wholeDigits);
    __int128 scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    __int128 fraction = (__int128(ms % msPerDay) * scale * 2 + msPerDay) / (2 * msPerDay); // rounded half up
    if (fraction == scale) {
        ++whole;
        fraction = 0;
    }
    std::string digits = std::to_string(whole);
    std::string tail;
    for (int i = 0; i < decimals; ++i) {
        tail.insert(tail.begin(), char('0' + int(fraction % 10)));
        fraction /= 10;
    }
    while (!tail.empty() && tail.back() == '0')
        tail.pop_back();
    digits += tail;
    if (digits.size() < 15) digits.insert(0, 15 - digits.size(), '0');
    return "SMTP-" + digits;
}

xml::Node appendSentMessageRecord(xml::Document &sentMessages, xml::Node order, std::string_view sender,
                                  std::string_view subject, std::string_view text, const Clock &clock)
{
    if (sentMessages.isNull()) return {};
    if (!sentMessages.root()) sentMessages.setRoot(sentMessages.createElement("Messages"));
    const DateTime now = clock.localNow();
    xml::Node record = sentMessages.root().appendElement("Message");
    record.appendElement("MessageSystem", "SMTP");
    record.appendElement("Sender", sender);
    record.appendElement("SendToName", GetNodeText(order, "Buyer/UserID"));
    record.appendElement("Subject", subject);
    record.appendElement("MessageID", smtpMessageId(now));
    record.appendElement("Text", text);
    record.appendElement("ReceiveDate", DateToeBayTime(now));
    record.appendElement("ItemID", GetNodeText(order, "Item/ItemID"));
    return record;
}

OrderEmailResult sendOrderEmail(const EmailRun &run, xml::Node order, xml::Document &sentMessages, const Clock &clock,
                                const std::function<void(const std::string &)> &trace)
{
    OrderEmailResult result;
    Recipient recipient = orderRecipient(order);
    if (recipient.status != Recipient::Found) {
        result.status = OrderEmailResult::Skipped;
        result.message = recipient.message;
        return result;
    }
    ComposedEmail email =
        composeOrderEmail(order, run.subjectTemplate, run.bodyTemplate, run.shippingLabels, run.eBayDetails);
    // What the record needs, taken now: the wait below lets other events run.
    xml::Document alone;
    alone.setRoot(order);
    SmtpMessage message;
    message.server = run.server;
    message.port = run.port;
    message.from = run.from;
    message.to = recipient.address;
    message.ccSender = run.ccSender;
    message.subject = email.subject;
    message.body = email.body;
    message.date = clock.localNow();
    message.timeoutSeconds = run.timeoutSeconds;
    message.endOfDataTimeoutSeconds = run.endOfDataTimeoutSeconds;
    result.send = sendSmtpMessage(message, trace);
    if (!result.send.sent) {
        result.status = result.send.mayHaveBeenSent ? OrderEmailResult::MayHaveBeenSent : OrderEmailResult::Failed;
        return result;
    }
    result.status = OrderEmailResult::Sent;
    result.record = appendSentMessageRecord(sentMessages, alone.root(), run.from, email.subject, email.body, clock);
    return result;
}

} // namespace tw::messaging
