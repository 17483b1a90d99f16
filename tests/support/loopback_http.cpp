#include "tests/support/loopback_http.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cctype>
#include <deque>
#include <stdexcept>

namespace tw::test {
namespace {

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower((unsigned char)x) == std::tolower((unsigned char)y);
           });
}

std::string trim(std::string s)
{
    auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    return s;
}

const char *reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

std::string RecordedRequest::header(std::string_view name) const
{
    for (const auto &[n, v] : headers)
        if (sameName(n, name)) return v;
    return {};
}

struct LoopbackHttp::Impl {
    QTcpServer server;
    std::deque<ScriptedResponse> queue;
    Handler handler;
    std::vector<RecordedRequest> requests;

    void onData(QTcpSocket *socket)
    {
        QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
        socket->setProperty("buffer", buffer);
        int end = buffer.indexOf("\r\n\r\n");
        if (end < 0) return;
        RecordedRequest request;
        std::string head = buffer.left(end).toStdString();
        size_t lineEnd = head.find("\r\n");
        std::string first = head.substr(0, lineEnd);
        size_t s1 = first.find(' '), s2 = first.rfind(' ');
        request.method = first.substr(0, s1);
        request.target = first.substr(s1 + 1, s2 - s1 - 1);
        size_t contentLength = 0;
        while (lineEnd != std::string::npos) {
            size_t start = lineEnd + 2;
            lineEnd = head.find("\r\n", start);
            std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
            size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            request.headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
            if (sameName(request.headers.back().first, "Content-Length"))
                contentLength = std::stoul(request.headers.back().second);
        }
        if (size_t(buffer.size()) < end + 4 + contentLength) return;
        request.body = buffer.mid(end + 4, qsizetype(contentLength)).toStdString();
        socket->setProperty("buffer", QByteArray());

        ScriptedResponse response;
        if (handler) {
            response = handler(request);
        } else if (!queue.empty()) {
            response = queue.front();
            queue.pop_front();
        } else {
            response.status = 404;
        }
        requests.push_back(std::move(request));
        if (response.silent) return;
        if (response.drop) {
            socket->abort();
            return;
        }
        if (!response.raw.empty()) {
            socket->write(response.raw.data(), qint64(response.raw.size()));
            socket->disconnectFromHost();
            return;
        }
        std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " + reason(response.status) +
                          "\r\nContent-Type: " + response.contentType +
                          "\r\nContent-Length: " + std::to_string(response.body.size()) +
                          "\r\nConnection: close\r\n\r\n" + response.body;
        socket->write(out.data(), qint64(out.size()));
        socket->disconnectFromHost();
    }
};

LoopbackHttp::LoopbackHttp() : m_impl(std::make_unique<Impl>())
{
    if (!m_impl->server.listen(QHostAddress::LocalHost, 0)) throw std::runtime_error("loopback peer cannot listen");
    Impl *impl = m_impl.get();
    QObject::connect(&impl->server, &QTcpServer::newConnection, &impl->server, [impl] {
        while (QTcpSocket *socket = impl->server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [impl, socket] { impl->onData(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

LoopbackHttp::~LoopbackHttp() = default;

std::string LoopbackHttp::url(std::string_view path) const
{
    return "http://127.0.0.1:" + std::to_string(m_impl->server.serverPort()) + std::string(path);
}

void LoopbackHttp::enqueue(std::string body, int status)
{
    ScriptedResponse r;
    r.body = std::move(body);
    r.status = status;
    m_impl->queue.push_back(std::move(r));
}

void LoopbackHttp::enqueue(ScriptedResponse response)
{
    m_impl->queue.push_back(std::move(response));
}

void LoopbackHttp::setHandler(Handler handler)
{
    m_impl->handler = std::move(handler);
}

const std::vector<RecordedRequest> &LoopbackHttp::requests() const
{
    return m_impl->requests;
}

} // namespace tw::test
