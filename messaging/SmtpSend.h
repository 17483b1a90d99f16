#pragma once
// E-mail to buyers over SMTP, without the window: the port setting, the
// address of an order's buyer, sending one message through SendMail, and the
// SentMessages.xml record of a message sent. Nothing here shows anything; the
// results say what failed in words a seller can act on.

#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/xml.h"

#include <functional>
#include <string>
#include <string_view>

namespace tw::messaging {

// The SMTPPort setting read as a port.
struct SmtpPort {
    int port = 0;      // 1 to 65535 when ok()
    std::string error; // for the seller when the setting is unusable; empty otherwise
    bool ok() const { return error.empty(); }
};
// Empty (or only blanks) gives 25; otherwise the setting, blanks around it
// ignored, must be a whole number from 1 to 65535. Anything else is an error
// and nothing may be sent.
SmtpPort smtpPort(std::string_view setting);

// Where the message for one order goes.
struct Recipient {
    enum Status {
        Found,    // `address` holds the buyer's e-mail
        Withheld, // eBay answered "Invalid Request" instead of the address: leave the order out
        Missing,  // no address stored: the order is skipped
    };
    Status status = Missing;
    std::string address;
    // Withheld: "Unable to obtain email address for " + the buyer's user id.
    // Missing: a sentence naming the buyer. Empty when Found.
    std::string message;
};
Recipient orderRecipient(xml::Node order);

// One e-mail as handed to the SMTP client.
struct SmtpMessage {
    std::string server;
    int port = 25;
    std::string from;      // the SMTPFrom setting
    std::string to;        // the buyer's address
    bool ccSender = false; // also send it to `from`, with a Cc header
    std::string subject;
    std::string body;
    DateTime date;                     // the Date header, local time; invalid means now
    int timeoutSeconds = 60;           // for the connection and for each reply but the last
    int endOfDataTimeoutSeconds = 600; // for the reply to the end of the message
};

struct SendResult {
    bool sent = false;
    // Not sent as far as we know, yet the whole message left and its end got
    // no answer: the server may deliver it. Never send it again on its own.
    bool mayHaveBeenSent = false;
    // When not sent: the client's numbered error (source "SendMail" or
    // "Winsock") and its description, or number 0 with an empty source when a
    // setting stopped the send before any connection was made.
    int errorNumber = 0;
    std::string errorSource;
    std::string errorDescription;
};

// Connects, sets the properties, sends and disconnects (also after a
// failure). Blocks up to the time-outs while the Qt event loop keeps running.
// `trace`, when given, receives the client's session trace lines. Never throws
// the client's errors: they come back in the result.
SendResult sendSmtpMessage(const SmtpMessage &message, const std::function<void(const std::string &)> &trace = {});

// The subject and body for one order, each filled from a copy of the order
// on its own, so "{Tagged/TransactionList}" lists that order only.
struct ComposedEmail {
    std::string subject;
    std::string body;
};
ComposedEmail composeOrderEmail(xml::Node order, std::string_view subjectTemplate, std::string_view bodyTemplate,
                                const xml::Document *shippingLabels, const xml::Document *eBayDetails);

// "SMTP-" and 15 digits: the local time as a day count from 30 December
// 1899 with its fraction (15 significant digits), the decimal point removed,
// zeros put in front up to 15 digits.
std::string smtpMessageId(const DateTime &local);

// Appends to the root of `sentMessages` (a root "Messages" is created when
// the document has none) the record of an e-mail sent for `order`: Message
// with MessageSystem "SMTP", Sender, SendToName (Buyer/UserID), Subject,
// MessageID, Text, ReceiveDate (local time as "YYYY-MM-DDThh:mm:ssZ") and
// ItemID, in this order. Returns the record, or a null node for a null
// document. Does not save: the caller saves the document after each record.
xml::Node appendSentMessageRecord(xml::Document &sentMessages, xml::Node order, std::string_view sender,
                                  std::string_view subject, std::string_view text, const Clock &clock = tw::clock());

// What one send run of the compose page shares for all its orders.
struct EmailRun {
    std::string server;    // SMTPServer
    int port = 25;         // from smtpPort(SMTPPort); check it before the run
    std::string from;      // SMTPFrom
    bool ccSender = false; // the page's cc box
    std::string subjectTemplate;
    std::string bodyTemplate;
    const xml::Document *shippingLabels = nullptr; // not owned; may be null
    const xml::Document *eBayDetails = nullptr;    // not owned; may be null
    int timeoutSeconds = 60;
    int endOfDataTimeoutSeconds = 600;
};

struct OrderEmailResult {
    enum Status { Sent, Skipped, Failed, MayHaveBeenSent };
    Status status = Skipped;
    std::string message; // Skipped: the recipient's message
    SendResult send;     // Failed, MayHaveBeenSent: the client's error
    xml::Node record;    // Sent: the record appended to the sent-messages document
};

// One order of a run: finds the buyer's address (an order without one is
// Skipped and nothing is sent), fills the templates for this order, sends,
// and on success appends the record to `sentMessages` (not saved: the caller
// saves it before the next order). A failed send records nothing; the run
// should stop there. So does a message that may have been sent: it is not
// recorded (the server never confirmed it), and the run must not offer it
// again. The order is read before the wait on the server, never after.
OrderEmailResult sendOrderEmail(const EmailRun &run, xml::Node order, xml::Document &sentMessages,
                                const Clock &clock = tw::clock(),
                                const std::function<void(const std::string &)> &trace = {});

} // namespace tw::messaging
