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

constexpr char kHex[] = "0123456789ABCDEF";

// Printable ASCII (and tabs) that no reader could take for an encoded word.
bool plainHeaderText(std::string_view s)
{
    if (s.find("=?") != std::string_view::npos) return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return c == '\t' || (c >= 0x20 && c <= 0x7e); });
}

// A reply as the seller reads it: its lines on one line, without control
// characters, and not endless.
std::string printableReply(const std::string &text)
{
    std::string out;
    for (char c : text) {
        const bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
        if (control && (out.empty() || out.back() == ' ')) continue;
        out += control ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    constexpr std::size_t kLongest = 300;
    if (out.size() > kLongest) {
        std::size_t cut = kLongest;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut; // not inside a character
        out = out.substr(0, cut) + "...";
    }
    return out;
}

std::string durationText(int seconds)
{
    if (seconds >= 60 && seconds % 60 == 0)
        return std::to_string(seconds / 60) + (seconds == 60 ? " minute" : " minutes");
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
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

std::string SendMail::encodeQuotedPrintable(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t begin = 0;
    for (;;) {
        std::size_t end = begin;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        std::size_t width = 0; // of the encoded line so far
        for (std::size_t i = begin; i < end; ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            const bool last = i + 1 == end;
            // A blank at the end of a line would be taken off on the way.
            const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
            const std::size_t size = literal ? 1 : 3;
            // Room for the "=" of a soft break, unless this is the line's last character.
            if (width + size > (last ? 76u : 75u)) {
                out += "=\r\n";
                width = 0;
            }
            if (literal) {
                out += static_cast<char>(c);
            } else {
                out += '=';
                out += kHex[c >> 4];
                out += kHex[c & 15];
            }
            width += size;
        }
        if (end == text.size()) return out;
        if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
        out += "\r\n";
        begin = end + 1;
    }
}

std::string SendMail::encodeBody(const std::string &body)
{
    const std::string encoded = encodeQuotedPrintable(body);
    std::string out;
    out.reserve(encoded.size() + encoded.size() / 64);
    bool lineStart = true;
    for (char c : encoded) {
        // Otherwise a line holding only "." ends the data early.
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

std::string SendMail::encodeWords(std::string_view text)
{
    // "=?UTF-8?Q?" + 45 + "?=": a folded line of one word stays well short.
    constexpr std::size_t kLongestWord = 45;
    std::string out;
    std::string word;
    auto flush = [&] {
        if (word.empty()) return;
        if (!out.empty()) out += "\r\n ";
        out += "=?UTF-8?Q?" + word + "?=";
        word.clear();
    };
    for (std::size_t i = 0; i < text.size();) {
        // One character: its first byte and the bytes that continue it.
        std::size_t n = 1;
        while (n < 4 && i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80)
            ++n;
        std::string piece;
        for (std::size_t k = i; k < i + n; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[k]);
            // Only what may stand in a display name as well as in a subject (RFC 2047 5).
            if (c == ' ')
                piece += '_';
            else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' ||
                     c == '*' || c == '+' || c == '-' || c == '/')
                piece += static_cast<char>(c);
            else
                piece += {'=', kHex[c >> 4], kHex[c & 15]};
        }
        if (word.size() + piece.size() > kLongestWord) flush();
        word += piece;
        i += n;
    }
    flush();
    return out;
}

std::string SendMail::headerText(const std::string &value)
{
    // Up to 998 characters a line is lawful; beyond it servers refuse the message.
    return plainHeaderText(value) && value.size() <= 900 ? value : encodeWords(value);
}

std::string SendMail::headerAddress(const std::string &address)
{
    const auto lt = address.find('<');
    if (lt == std::string::npos) return address;
    std::string name = trim(address.substr(0, lt));
    if (plainHeaderText(name)) return address;
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    return encodeWords(name) + " " + address.substr(lt);
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
    m_replyLines.clear();
    trace(">>> " + line);
    m_socket->SendData(std::string_view(line + "\r\n"));
    ++m_blocksQueued;
}

int SendMail::waitForReply(int seconds)
{
    QElapsedTimer timer;
    timer.start();
    const qint64 limit = qint64(seconds) * 1000;
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
        m_replyLines += line + "\n";
        if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
            std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2])) &&
            (line.size() == 3 || line[3] != '-')) {
            code = std::stoi(line.substr(0, 3));
            m_replyText = printableReply(m_replyLines);
            m_replyLines.clear();
        }
    }
    m_pending.erase(0, start);
    if (!code) return;
    m_replyCode = code;
    m_awaiting = false;
    if (m_waitLoop) m_waitLoop->quit();
    if (code >= 400 && !m_keepOnRefusal) {
        Disconnect();
        m_replyCode = code; // the caller still needs to see why
    }
}

std::string SendMail::withReason(const std::string &what, int seconds) const
{
    if (m_replyCode) return what + " The server answered: " + m_replyText;
    if (!m_socket || m_socket->State() != sckConnected) return what + " The server closed the connection.";
    return what + " The server did not answer within " + durationText(seconds) + ".";
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
    m_replyLines.clear();
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
    // The whole greeting, not its first piece: a late rest would be taken as the reply to EHLO.
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
        fail(5, m_replyCode ? withReason("Could not connect to SMTP server.", TimeoutValue)
                            : "Could not connect to SMTP server.");
    }
    logSmtp(*m_socket, "connect", "connected", m_replyCode, started);
}

void SendMail::SendMessage()
{
    m_mayHaveBeenSent = false;
    if (!m_socket || m_socket->State() != sckConnected) fail(10057, "Not Connected.");
    m_blocksQueued = 0;
    m_blocksSent = 0;
    // Logged however it ends; a failure throws from many places below.
    struct LogWhenDone {
        const SendMail &mail;
        const int exceptionsBefore = std::uncaught_exceptions();
        QElapsedTimer started;
        LogWhenDone(const SendMail &m) : mail(m) { started.start(); }
        ~LogWhenDone()
        {
            const bool failed = std::uncaught_exceptions() > exceptionsBefore;
            logSmtp(*mail.socket(), "message",
                    !failed                  ? "accepted"
                    : mail.MayHaveBeenSent() ? "no answer to its end, may have been sent"
                                             : "failed",
                    mail.lastReplyCode(), started);
        }
    } logWhenDone(*this);

    const std::string envelopeFrom = cleanEnvelopeAddress(From);
    std::string domain = envelopeFrom;
    if (auto at = envelopeFrom.find('@'); at != std::string::npos) domain = envelopeFrom.substr(at + 1);
    if (domain.empty()) domain = "localhost";

    auto command = [this](const std::string &line, std::initializer_list<int> accepted, const char *failure) {
        sendLine(line);
        int code = waitForReply(TimeoutValue);
        if (std::find(accepted.begin(), accepted.end(), code) == accepted.end())
            fail(5, withReason(failure, TimeoutValue));
    };
    // EHLO first; a server that does not know it refuses it with a 5xx and is greeted the old way.
    m_keepOnRefusal = true;
    sendLine("EHLO " + domain);
    const int greeted = waitForReply(TimeoutValue);
    m_keepOnRefusal = false;
    if (greeted != 250) {
        const bool refused = greeted >= 500 && greeted <= 599;
        if (!refused || m_socket->State() != sckConnected) {
            const std::string why = withReason("The command EHLO failed.", TimeoutValue);
            if (greeted >= 400) Disconnect();
            fail(5, why);
        }
        command("HELO " + domain, {220, 250, 354}, "The command HELO failed.");
    }
    command("MAIL FROM: " + envelopeFrom, {250}, "The command MAIL FROM failed.");
    command("RCPT TO: " + cleanEnvelopeAddress(SendTo), {250}, "The command RCPT TO failed.");
    if (!Cc.empty()) command("RCPT TO: " + cleanEnvelopeAddress(Cc), {250}, "The command RCPT TO failed.");
    if (!Bcc.empty()) command("RCPT TO: " + cleanEnvelopeAddress(Bcc), {250}, "The command RCPT TO failed.");
    command("DATA", {354}, "The command DATA failed.");

    sendLine("Date: " + formatDate(SendDate.isValid() ? SendDate : tw::clock().localNow()));
    sendLine("To: " + headerAddress(cleanHeaderAddress(SendTo)));
    sendLine("From: " + headerAddress(cleanHeaderAddress(From)));
    if (!Cc.empty()) sendLine("Cc: " + headerAddress(cleanHeaderAddress(Cc)));
    // No Bcc header: every recipient would read it, and a blind copy would be blind no more.
    sendLine("Subject: " + headerText(oneLine(Subject)));
    sendLine("MIME-Version: 1.0");
    sendLine("Content-Type: text/plain; charset=UTF-8");
    sendLine("Content-Transfer-Encoding: quoted-printable");
    sendLine("X-Mailer: Brisklet SendMail Class 1.0");
    if (!ReplyTo.empty()) sendLine("Reply-To: " + headerAddress(cleanHeaderAddress(ReplyTo)));
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
        sendLine(name + headerText(oneLine(m_headerValues[i])));
    }

    // The empty line that ends the headers, then the body; its last line end
    // is the one that the end-of-data mark begins with.
    std::string body = encodeBody(Body);
    if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0) body.resize(body.size() - 2);
    sendLine(body.empty() ? std::string() : "\r\n" + body);
    sendLine(".");
    // Only a 2xx reply means the server took the message. A refusal means it
    // did not; no answer at all, once the whole message left, means it may
    // have, and sending it again could deliver it twice.
    const int code = waitForReply(EndOfDataTimeoutValue);
    if (code >= 200 && code <= 299) return;
    if (code) fail(5, withReason("The message was not accepted by the server.", EndOfDataTimeoutValue));
    if (m_blocksSent < m_blocksQueued) fail(5, withReason("The message was not sent.", EndOfDataTimeoutValue));
    m_mayHaveBeenSent = true;
    fail(5, m_socket->State() == sckConnected
                ? "The server did not confirm the message within " + durationText(EndOfDataTimeoutValue) +
                      "; it may have been sent."
                : "The connection was lost before the server confirmed the message; it may have been sent.");
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

void SendMail::SendComplete()
{
    ++m_blocksSent;
}

} // namespace tw::net
