#pragma once
// Reads one HTTP/1.1 response from the bytes of a connection as they come,
// and says when it is whole: by its Content-Length, by its last chunk (and
// the trailer after it), or, with neither, by the end of the connection.
// Interim answers (1xx) are skipped. Bytes after the whole answer are left
// unread. Nothing is thrown; an answer that is not HTTP, or not framed in a
// way it can be read, is Bad with a reason.

#include "platform/http.h"

#include <QByteArray>
#include <QList>

#include <optional>
#include <string>

namespace tw::http {

class ResponseReader {
  public:
    enum class State { Reading, Whole, Bad };

    // The next bytes of the connection.
    State feed(const QByteArray &bytes);
    // The connection ended: the answer is whole only when its end is how it
    // is framed; otherwise it stays Reading (cut off).
    State closed();

    State state() const { return m_state; }
    // True once any byte of an answer has come.
    bool started() const { return m_started; }
    // Status, headers (names lower-cased, in order) and body, once Whole.
    int status() const { return m_status; }
    const Headers &headers() const { return m_headers; }
    const QByteArray &body() const { return m_body; }
    // Why the answer is Bad.
    const std::string &problem() const { return m_problem; }

  private:
    bool bad(std::string problem);
    qsizetype available() const { return m_in.size() - m_at; }
    // Moves the next `n` unread bytes into the body.
    void takeBody(qint64 n);
    // The next line without its CR LF; nothing until it has arrived.
    std::optional<QByteArray> line();
    // Each true when it read a part and the next may follow at once.
    bool readHead();
    bool readBody();

    QByteArray m_in;
    qsizetype m_at = 0; // read up to here
    bool m_started = false;
    State m_state = State::Reading;
    std::string m_problem;
    bool m_head = false;
    int m_status = 0;
    Headers m_headers;
    QByteArray m_body;
    bool m_untilClose = false;
    bool m_chunked = false;
    bool m_afterChunk = false;
    bool m_trailers = false;
    qint64 m_left = 0;
};

} // namespace tw::http
