#include "platform/http_reader.h"

#include <algorithm>

namespace tw::http {

namespace {

// Longer heads or lines are not an answer worth waiting for.
constexpr qsizetype kMaxHead = 64 * 1024;

} // namespace

ResponseReader::State ResponseReader::feed(const QByteArray &bytes)
{
    m_in += bytes;
    m_started |= !bytes.isEmpty();
    while (m_state == State::Reading && (m_head ? readBody() : readHead())) {
    }
    // What was read goes at once per feed, not per chunk: an answer of many
    // small chunks that came in one piece costs its length, not its square.
    m_in.remove(0, m_at);
    m_at = 0;
    return m_state;
}

ResponseReader::State ResponseReader::closed()
{
    if (m_state == State::Reading && m_head && m_untilClose) {
        takeBody(available());
        m_state = State::Whole;
    }
    return m_state;
}

bool ResponseReader::bad(std::string problem)
{
    m_problem = std::move(problem);
    m_state = State::Bad;
    return false;
}

void ResponseReader::takeBody(qint64 n)
{
    m_body.append(m_in.constData() + m_at, qsizetype(n));
    m_at += qsizetype(n);
}

std::optional<QByteArray> ResponseReader::line()
{
    // However the bytes came: a line too long is refused whether or not its end has come.
    const qsizetype end = m_in.indexOf('\n', m_at);
    if ((end < 0 ? available() : end - m_at) > kMaxHead) {
        bad("a line of the answer is too long");
        return std::nullopt;
    }
    if (end < 0) return std::nullopt;
    QByteArray text = m_in.mid(m_at, end - m_at);
    m_at = end + 1;
    if (text.endsWith('\r')) text.chop(1);
    return text;
}

bool ResponseReader::readHead()
{
    const qsizetype end = m_in.indexOf("\r\n\r\n", m_at);
    // Up to three bytes of the end may have come already.
    if ((end < 0 ? available() - 3 : end - m_at) > kMaxHead) return bad("the answer's header is too long");
    if (end < 0) return false;
    const QList<QByteArray> lines = m_in.mid(m_at, end - m_at).split('\n');
    m_at = end + 4;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    bool number = false;
    const int status = first.size() >= 2 ? first[1].toInt(&number) : 0;
    if (!first[0].startsWith("HTTP/1.") || !number || status < 100 || status > 999)
        return bad("the answer is not HTTP");
    // An interim answer (100 Continue): the real one follows.
    if (status < 200) return true;
    m_status = status;
    qint64 length = -1;
    bool chunked = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon <= 0) continue;
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        m_headers.emplace_back(name.toStdString(), value.toStdString());
        if (name == "transfer-encoding") {
            chunked = value.toLower().endsWith("chunked");
        } else if (name == "content-length") {
            bool ok = false;
            const qint64 n = value.toLongLong(&ok);
            if (!ok || n < 0 || (length >= 0 && n != length)) return bad("the answer's length is not clear");
            length = n;
        }
    }
    m_head = true;
    if (status == 204 || status == 304)
        m_state = State::Whole;
    else if (chunked)
        m_chunked = true;
    else if (length >= 0)
        m_left = length;
    else
        m_untilClose = true;
    return true;
}

bool ResponseReader::readBody()
{
    if (m_untilClose) {
        takeBody(available());
        return false;
    }
    if (!m_chunked) {
        const qint64 n = std::min<qint64>(m_left, available());
        takeBody(n);
        m_left -= n;
        if (m_left == 0) m_state = State::Whole;
        return false;
    }
    if (m_trailers) {
        // After the last chunk, trailer lines up to an empty one.
        const auto text = line();
        if (!text) return false;
        if (text->isEmpty()) m_state = State::Whole;
        return true;
    }
    if (m_left > 0) {
        const qint64 n = std::min<qint64>(m_left, available());
        takeBody(n);
        m_left -= n;
        if (m_left > 0) return false;
        m_afterChunk = true;
    }
    if (m_afterChunk) {
        if (available() < 2) return false;
        if (m_in[m_at] != '\r' || m_in[m_at + 1] != '\n') return bad("a chunk of the answer is not closed");
        m_at += 2;
        m_afterChunk = false;
    }
    const auto text = line();
    if (!text) return false;
    const qsizetype extension = text->indexOf(';');
    const QByteArray size = (extension < 0 ? *text : text->left(extension)).trimmed();
    bool ok = false;
    const qint64 n = size.size() <= 15 ? size.toLongLong(&ok, 16) : -1;
    if (!ok || n < 0) return bad("a chunk size of the answer is not a number");
    if (n == 0)
        m_trailers = true;
    else
        m_left = n;
    return true;
}

} // namespace tw::http
