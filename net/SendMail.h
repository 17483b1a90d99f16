#pragma once
// SendMail: a plain SMTP client (no authentication, no encryption) over a
// Winsock. One object per message: SmtpConnect, set the properties,
// SendMessage, Disconnect. Every wait is bounded (TimeoutValue seconds, the
// reply to the end of the data EndOfDataTimeoutValue) and keeps the Qt event
// loop running.
//
// Failures are thrown as NetError with source "SendMail" (or "Winsock" for
// errors of the socket that pass through); a refusal's description ends with
// the server's own reply. Header values lose any CR or LF, and body lines
// beginning with "." are dot-stuffed, so no value can end the message early
// or add headers or commands of its own. The message is UTF-8 text sent as
// quoted-printable, non-ASCII header text as RFC 2047 encoded words, so every
// line on the wire is 7-bit and short whatever the seller typed.

#include "net/Winsock.h"
#include "platform/datetime.h"

#include <QEventLoop>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tw::net {

enum SendMailImportance { ImportanceLow = 0, ImportanceNormal = 1, ImportanceHigh = 2 };

// How long the reply to the end of the data may take. Servers check a message
// before they answer, and one given up on too early may deliver it all the
// same (RFC 5321 4.5.3.2.6 asks clients to wait 10 minutes).
inline constexpr int kEndOfDataTimeoutSeconds = 600;

class SendMail : private IWinsockEvents {
  public:
    SendMail();
    ~SendMail() override;
    SendMail(const SendMail &) = delete;
    SendMail &operator=(const SendMail &) = delete;

    // One address each; a display name with the address in angle brackets is fine.
    std::string SendTo;
    std::string From;
    std::string Cc;
    std::string Bcc;
    std::string ReplyTo;
    std::string Subject;
    std::string Body;
    // Local times; invalid (the default) means "now" for SendDate and "none" for ReplyByDate.
    DateTime SendDate;
    DateTime ReplyByDate;
    bool FlagFollowUp = false;
    // When false, onSessionTrace is not called.
    bool ReportEvents = false;
    // Seconds to wait for the connection and for each reply but the last.
    int TimeoutValue = 60;
    // Seconds to wait for the reply to the end of the data.
    int EndOfDataTimeoutValue = kEndOfDataTimeoutSeconds;

    // 0 low, 1 normal (the default), 2 high; anything else throws error 380.
    int Importance() const { return m_importance; }
    void setImportance(int importance);

    // Extra header items, written after the standard headers in the order added.
    void AddHeaderItem(const std::string &name, const std::string &value);
    std::string HeaderItem(int index) const;  // 0-based; "" when out of range
    std::string HeaderValue(int index) const; // 0-based; "" when out of range
    int HeaderItemCount() const { return static_cast<int>(m_headerNames.size()); }

    // One line per call: ">>> " sent line, "<<< " received text, "--- Connected",
    // "--- Disconnected", "!!! Error: " socket error description.
    std::function<void(const std::string &line)> onSessionTrace;

    // Connects and waits for the server's greeting. Throws 5 "Could not
    // connect to SMTP server." when not connected, or the socket's error.
    void SmtpConnect(const std::string &server, int port = 25);
    // EHLO (HELO when the server refuses it), MAIL FROM, RCPT TO for To, Cc
    // and Bcc, DATA, headers, body, end of data. Throws 10057 when not
    // connected and 5 with the failed command's text and the server's reply
    // (or that none came) when a reply is not the expected one; 5 "The message
    // was not accepted by the server." when the reply to the end of data is
    // not 2xx. When the whole message left but no reply to its end came (none
    // in time, or the connection was lost), throws 5 and MayHaveBeenSent()
    // is true: the server may deliver it, so it must not be sent again on
    // its own.
    void SendMessage();
    bool MayHaveBeenSent() const { return m_mayHaveBeenSent; }
    // Sends QUIT without waiting for the reply, then closes. Never throws.
    void Disconnect();

    // The socket in use (nullptr before SmtpConnect). For tests and traces.
    Winsock *socket() const { return m_socket.get(); }
    // The last reply code (0 = none) and the text it came with.
    int lastReplyCode() const { return m_replyCode; }
    const std::string &LastReply() const { return m_lastReply; }
    // The last whole reply, every line of it, as one line of printable text.
    const std::string &LastReplyText() const { return m_replyText; }

    // Address for headers: trimmed, "MAILTO:" and "SMTP:" removed in any capitals.
    static std::string cleanHeaderAddress(const std::string &address);
    // Address for the envelope: the part inside angle brackets, cleaned as above, bare.
    static std::string cleanEnvelopeAddress(const std::string &address);
    // "Sat, 05 Jan 2008 09:03:07 +0530": the local zone's offset comes from tw::clock().
    static std::string formatDate(const DateTime &local);
    // Quoted-printable (RFC 2045 6.7) with CR LF line ends: a CR LF, CR or LF
    // is a line break; lines of at most 76 characters, longer ones broken
    // with a final "="; "=", bytes outside ASCII and a blank or tab at the
    // end of a line written as "=XX".
    static std::string encodeQuotedPrintable(std::string_view text);
    // The body as it goes on the wire after the headers: quoted-printable,
    // then lines that begin with "." doubled.
    static std::string encodeBody(const std::string &body);
    // RFC 2047 encoded words (UTF-8, Q encoding) for `text`, no character
    // split between two words, joined by CR LF and a blank (a folded header).
    static std::string encodeWords(std::string_view text);
    // A header value as sent: as it is when it is printable ASCII that cannot
    // pass for an encoded word, encoded words otherwise.
    static std::string headerText(const std::string &value);
    // An address header's value: a display name that is not plain ASCII
    // becomes encoded words; the address in angle brackets stays as it is.
    static std::string headerAddress(const std::string &address);

  private:
    void CloseConnection() override;
    void Connect() override;
    void DataArrival(long bytesTotal) override;
    void Error(int number, const std::string &description) override;
    void SendComplete() override;

    void trace(const std::string &line);
    void sendLine(const std::string &line);
    int waitForReply(int seconds);
    void handleData();
    // `what` and why: the server's reply, or that none came in `seconds`.
    std::string withReason(const std::string &what, int seconds) const;
    [[noreturn]] void fail(int number, const std::string &description);

    std::unique_ptr<Winsock> m_socket;
    int m_importance = ImportanceNormal;
    std::vector<std::string> m_headerNames;
    std::vector<std::string> m_headerValues;
    std::string m_lastReply;
    std::string m_pending;    // received text not yet ending in a complete line
    std::string m_replyLines; // the complete lines of the reply under way
    std::string m_replyText;  // the last whole reply, for the seller
    int m_replyCode = 0;
    bool m_dataArrived = false;
    bool m_awaiting = false;
    bool m_keepOnRefusal = false; // a refused EHLO is answered with HELO on the same connection
    bool m_mayHaveBeenSent = false;
    int m_blocksQueued = 0; // lines handed to the socket in this message
    int m_blocksSent = 0;   // and how many of them left
    QEventLoop *m_waitLoop = nullptr;
};

} // namespace tw::net
