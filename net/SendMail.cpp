#include "net/SendMail.h"

#include "platform/clock.h"
#include "platform/log.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>

namespace tw::net {
namespace {

constexpr const char *kSource = "SendMail";

std::string trim(const std::string &s)
{
    auto begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    auto end = s.find_last_not_of(" \t");
    return s.substr(begin, end - begin + 1);
}

std::string upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

// A value that goes into a header or a command line: each run of CR and LF
// becomes one blank, so no value can start a header or a command of its own.
std::string oneLine(const std::string &s)
{
    std::string out;
    out.reserve(s.size());
    bool inBreak = false;
    for (char c : s) {
        if (c == '\r' || c == '\n') {
            if (!inBreak) out += ' ';
            inBreak = true;
        } else {
            out += c;
            inBreak = false;
        }
    }
    return out;
}

void removeEvery(std::string &s, const std::string &what)
{
    for (;;) {
        std::string u = upper(s);
        auto at = u.find(what);
        if (at == std::string::npos) return;
        s.erase(at, what.size());
    }
}

// One log line per connection and per message: the server, how it ended,
// the last reply code and the time taken. Never an address: the failures'
// texts name the command, not its argument.
void logSmtp(const Winsock &socket, std::string_view step, const std::string &result, int replyCode,
             const QElapsedTimer &timer)
{
    std::string line =
        socket.RemoteHost() + ":" + std::to_string(socket.RemotePort()) + " " + std::string(step) + ": " + result;
    if (replyCode) line += ", reply " + std::to_string(replyCode);
    log::write("smtp", line + " (" + std::to_string(timer.elapsed()) + " ms)");
}

} // namespace

SendMail::SendMail() = default;

SendMail::~SendMail()
{
    if (m_socket) m_socket->setEventHandler(nullptr);
}

void SendMail::setImportance(int importance)
{
    if (importance < ImportanceLow || importance > ImportanceHigh)
        throw NetError(380, kSource, "Invalid property value.");
    m_importance = importance;
}

void SendMail::AddHeaderItem(const std::string &name, const std::string &value)
{
    m_headerNames.push_back(name);
    m_headerValues.push_back(value);
}

std::string SendMail::HeaderItem(int index) const
{
    return index >= 0 && index < HeaderItemCount() ? m_headerNames[index] : std::string();
}

std::string SendMail::HeaderValue(int index) const
{
    return index >= 0 && index < HeaderItemCount() ? m_headerValues[index] : std::string();
}

std::string SendMail::cleanHeaderAddress(const std::string &address)
{
    std::string s = oneLine(trim(address));
    removeEvery(s, "MAILTO:");
    removeEvery(s, "SMTP:");
    return s;
}

std::string SendMail::cleanEnvelopeAddress(const std::string &address)
{
    std::string s = trim(address);
    if (auto lt = s.find('<'); lt != std::string::npos) {
        s = s.substr(lt + 1);
        if (!s.empty() && s.back() == '>') s.pop_back();
    }
    s = cleanHeaderAddress(s);
    // An envelope address is one word; a blank left from a line break could otherwise pass as a parameter.
    s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
    return s;
}

std::string SendMail::formatDate(const DateTime &local)
{
    static const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::int64_t dayNumber = local.toMsecs() / 86400000;
    if (local.toMsecs() % 86400000 < 0) --dayNumber;
    int weekday = static_cast<int>(((dayNumber + 4) % 7 + 7) % 7); // 1 January 1970 was a Thursday
    int offset = tw::clock().utcOffsetSeconds(local);
    char sign = offset < 0 ? '-' : '+';
    int magnitude = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", days[weekday], local.day(),
                  months[local.month() - 1], local.year(), local.hour(), local.minute(), local.second(), sign,
                  magnitude / 3600, magnitude % 3600 / 60);
    return text;
}

std::string SendMail::encodeBody(const std::string &body)
{
    std::string out;
    out.reserve(body.size() + body.size() / 16);
    bool lineStart = true;
    for (std::size_t i = 0; i < body.size(); ++i) {
        char c = body[i];
        if (c == '\r' || c == '\n') {
            // Bare CR or LF would let a server see a line end where we see none.
            if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
            out += "\r\n";
            lineStart = true;
            continue;
        }
        // Otherwise a line holding only "." ends the data early.
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = false;
    }
    return out;
}

void SendMail::trace(const std::string &line)
{
    if (ReportEvents && onSessionTrace) onSessionTrace(line);
}

void SendMail::fail(int number, const std::string &description)
{
    m_awaiting = false;
    throw NetError(number, kSource, description);
}

void SendMail::sendLine(const std::string &line)
{
    m_replyCode = 0;
    m_dataArrived = false;
    trace(">>> " + line);
    m_socket->SendData(std::string_view(line + "\r\n"));
}

int SendMail::waitForReply()
{
    QElapsedTimer timer;
    timer.start();
    const qint64 limit = qint64(TimeoutValue) * 1000;
    for (;;) {
        qint64 left = limit - timer.elapsed();
        if (left <= 0) break;
        m_awaiting = true;
        {
            QEventLoop loop;
            m_waitLoop = &loop;
            QTimer::singleShot(static_cast<int>(std::min<qint64>(left, 50)), &loop, &QEventLoop::quit);
            loop.exec();
            m_waitLoop = nullptr;
        }
        m_awaiting = false;
        if (m_replyCode) break;
        if (!m_socket || m_socket->State() != sckConnected) break; // no reply can come any more
        if (m_socket->BytesReceived() > 0) break;
    }
    if (!m_replyCode && m_socket && m_socket->State() == sckConnected && m_socket->BytesReceived() > 0) handleData();
    return m_replyCode;
}

void SendMail::handleData()
{
    m_dataArrived = true;
    m_replyCode = 0;
    std::string text = m_socket->GetDataAsString();
    m_lastReply = text;
    std::string shown = text;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r'))
        shown.pop_back();
    trace("<<< " + shown);

    // A reply may come in pieces and span several lines ("250-...", "250 ...");
    // its code is that of the last line, once that line is complete.
    m_pending += text;
    int code = 0;
    std::size_t start = 0;
    for (std::size_t nl; (nl = m_pending.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = m_pending.substr(start, nl - start);
        if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
            std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2])) &&
            (line.size() == 3 || line[3] != '-'))
            code = std::stoi(line.substr(0, 3));
    }
    m_pending.erase(0, start);
    if (!code) return;
    m_replyCode = code;
    m_awaiting = false;
    if (m_waitLoop) m_waitLoop->quit();
    if (code >= 400) {
        Disconnect();
        m_replyCode = code; // the caller still needs to see why
    }
}

void SendMail::SmtpConnect(const std::string &server, int port)
{
    QElapsedTimer started;
    started.start();
    if (!m_socket) {
        m_socket = std::make_unique<Winsock>();
        m_socket->setEventHandler(this);
    } else if (m_socket->State() != sckClosed) {
        m_socket->CloseConnection();
    }
    m_socket->setTimeoutValue(TimeoutValue);
    m_socket->setRemoteHost(server);
    m_socket->setRemotePort(port);
    m_dataArrived = false;
    m_replyCode = 0;
    m_pending.clear();
    try {
        m_socket->Connect({}, 0, true);
    } catch (const NetError &e) {
        logSmtp(*m_socket, "connect", "failed, " + e.description(), 0, started);
        throw;
    }
    trace("--- Connected");

    QElapsedTimer timer;
    timer.start();
    const qint64 limit = qint64(TimeoutValue) * 1000;
    // The whole greeting, not its first piece: a late rest would be taken as the reply to HELO.
    while (!m_replyCode && m_socket->State() == sckConnected) {
        qint64 left = limit - timer.elapsed();
        if (left <= 0) break;
        QEventLoop loop;
        m_waitLoop = &loop;
        QTimer::singleShot(static_cast<int>(std::min<qint64>(left, 50)), &loop, &QEventLoop::quit);
        loop.exec();
        m_waitLoop = nullptr;
    }
    if (m_socket->State() != sckConnected) {
        logSmtp(*m_socket, "connect", "failed, no connection", m_replyCode, started);
        fail(5, "Could not connect to SMTP server.");
    }
    logSmtp(*m_socket, "connect", "connected", m_replyCode, started);
}

void SendMail::SendMessage()
{
    if (!m_socket || m_socket->State() != sckConnected) fail(10057, "Not Connected.");
    // Logged however it ends; a failure throws from many places below.
    struct LogWhenDone {
        const SendMail &mail;
        const int exceptionsBefore = std::uncaught_exceptions();
        QElapsedTimer started;
        LogWhenDone(const SendMail &m) : mail(m) { started.start(); }
        ~LogWhenDone()
        {
            const bool failed = std::uncaught_exceptions() > exceptionsBefore;
            logSmtp(*mail.socket(), "message", failed ? "failed" : "accepted", mail.lastReplyCode(), started);
        }
    } logWhenDone(*this);

    const std::string envelopeFrom = cleanEnvelopeAddress(From);
    std::string domain = envelopeFrom;
    if (auto at = envelopeFrom.find('@'); at != std::string::npos) domain = envelopeFrom.substr(at + 1);
    if (domain.empty()) domain = "localhost";

    auto command = [this](const std::string &line, std::initializer_list<int> accepted, const char *failure) {
        sendLine(line);
        int code = waitForReply();
        if (std::find(accepted.begin(), accepted.end(), code) == accepted.end()) fail(5, failure);
    };
    command("HELO " + domain, {220, 250, 354}, "The command HELO failed.");
    command("MAIL FROM: " + envelopeFrom, {250}, "The command MAIL FROM failed.");
    command("RCPT TO: " + cleanEnvelopeAddress(SendTo), {250}, "The command RCPT TO failed.");
    if (!Cc.empty()) command("RCPT TO: " + cleanEnvelopeAddress(Cc), {250}, "The command RCPT TO failed.");
    if (!Bcc.empty()) command("RCPT TO: " + cleanEnvelopeAddress(Bcc), {250}, "The command RCPT TO failed.");
    command("DATA", {354}, "The command DATA failed.");

    sendLine("Date: " + formatDate(SendDate.isValid() ? SendDate : tw::clock().localNow()));
    sendLine("To: " + cleanHeaderAddress(SendTo));
    sendLine("From: " + cleanHeaderAddress(From));
    if (!Cc.empty()) sendLine("Cc: " + cleanHeaderAddress(Cc));
    // No Bcc header: every recipient would read it, and a blind copy would be blind no more.
    sendLine("Subject: " + oneLine(Subject));
    sendLine("X-Mailer: Brisklet SendMail Class 1.0");
    if (!ReplyTo.empty()) sendLine("Reply-To: " + cleanHeaderAddress(ReplyTo));
    if (m_importance == ImportanceLow) {
        sendLine("X-Priority: 5 (Lowest)");
        sendLine("X-MSMail-Priority: Low");
        sendLine("Importance: Low");
    } else if (m_importance == ImportanceHigh) {
        sendLine("X-Priority: 1 (Highest)");
        sendLine("X-MSMail-Priority: High");
        sendLine("Importance: High");
    }
    if (ReplyByDate.isValid() || FlagFollowUp) sendLine("X-Message-Flag: Follow up");
    if (ReplyByDate.isValid()) sendLine("Reply-By: " + formatDate(ReplyByDate));
    for (std::size_t i = 0; i < m_headerNames.size(); ++i) {
        std::string name = trim(oneLine(m_headerNames[i]));
        name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
        if (upper(name.substr(0, 2)) != "X-") name = "X-" + name;
        if (name.back() != ':') name += ": ";
        sendLine(name + oneLine(m_headerValues[i]));
    }

    // The empty line that ends the headers, then the body; its last line end
    // is the one that the end-of-data mark begins with.
    std::string body = encodeBody(Body);
    if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0) body.resize(body.size() - 2);
    sendLine(body.empty() ? std::string() : "\r\n" + body);
    sendLine(".");
    // Only a 2xx reply means the server took the message; a refusal or no
    // answer at all means it may never be delivered.
    int code = waitForReply();
    if (code < 200 || code > 299) fail(5, "The message was not accepted by the server.");
}

void SendMail::Disconnect()
{
    if (!m_socket) return;
    if (m_socket->State() == sckConnected) {
        m_replyCode = 0;
        m_dataArrived = false;
        try {
            trace(">>> QUIT");
            // Sent at once: a queued QUIT would be dropped by the close just below.
            m_socket->SendData(std::string_view("QUIT\r\n"), true);
        } catch (const NetError &) {
        }
        m_socket->CloseConnection();
        trace("--- Disconnected");
    } else {
        m_socket->CloseConnection();
    }
}

void SendMail::CloseConnection()
{
    trace("--- Disconnected");
}

void SendMail::Connect()
{
    trace("--- Connected");
}

void SendMail::DataArrival(long)
{
    handleData();
}

void SendMail::Error(int, const std::string &description)
{
    trace("!!! Error: " + description);
}

} // namespace tw::net
