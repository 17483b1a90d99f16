#pragma once
// SendMail: a plain SMTP client (no authentication, no encryption) over a
// Winsock. One object per message: SmtpConnect, set the properties,
// SendMessage, Disconnect. Every wait is bounded by TimeoutValue seconds and
// keeps the Qt event loop running.
//
// Failures are thrown as NetError with source "SendMail" (or "Winsock" for
// errors of the socket that pass through). Header values lose any CR or LF,
// and body lines beginning with "." are dot-stuffed, so no value can end the
// message early or add headers or commands of its own.

#include "net/Winsock.h"
#include "platform/datetime.h"

#include <QEventLoop>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tw::net {

enum SendMailImportance { ImportanceLow = 0, ImportanceNormal = 1, ImportanceHigh = 2 };

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
    // Seconds to wait for the connection and for each reply.
    int TimeoutValue = 60;

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
    // HELO, MAIL FROM, RCPT TO for To, Cc and Bcc, DATA, headers, body, end of
    // data. Throws 10057 when not connected and 5 with the failed command's
    // text when a reply is not the expected one (0 = no reply in time); 5
    // "The message was not accepted by the server." when the reply to the end
    // of data is not 2xx or does not come in time.
    void SendMessage();
    // Sends QUIT without waiting for the reply, then closes. Never throws.
    void Disconnect();

    // The socket in use (nullptr before SmtpConnect). For tests and traces.
    Winsock *socket() const { return m_socket.get(); }
    // The last reply code (0 = none) and the text it came with.
    int lastReplyCode() const { return m_replyCode; }
    const std::string &LastReply() const { return m_lastReply; }

    // Address for headers: trimmed, "MAILTO:" and "SMTP:" removed in any capitals.
    static std::string cleanHeaderAddress(const std::string &address);
    // Address for the envelope: the part inside angle brackets, cleaned as above, bare.
    static std::string cleanEnvelopeAddress(const std::string &address);
    // "Sat, 05 Jan 2008 09:03:07 +0530": the local zone's offset comes from tw::clock().
    static std::string formatDate(const DateTime &local);
    // The body as it goes on the wire after DATA: CR LF line ends, lines that
    // begin with "." doubled.
    static std::string encodeBody(const std::string &body);

  private:
    void CloseConnection() override;
    void Connect() override;
    void DataArrival(long bytesTotal) override;
    void Error(int number, const std::string &description) override;

    void trace(const std::string &line);
    void sendLine(const std::string &line);
    int waitForReply();
    void handleData();
    [[noreturn]] void fail(int number, const std::string &description);

    std::unique_ptr<Winsock> m_socket;
    int m_importance = ImportanceNormal;
    std::vector<std::string> m_headerNames;
    std::vector<std::string> m_headerValues;
    std::string m_lastReply;
    std::string m_pending; // received text not yet ending in a complete line
    int m_replyCode = 0;
    bool m_dataArrived = false;
    bool m_awaiting = false;
    QEventLoop *m_waitLoop = nullptr;
};

} // namespace tw::net
