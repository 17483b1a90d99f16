#include "scripted_peer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tw::test {

void ScriptedPeer::Connection::send(const std::string &bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += n;
    }
}

bool ScriptedPeer::Connection::fill(int ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!m_peer.m_stop) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 20))) <= 0) continue;
        char buffer[4096];
        ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        m_buffer.append(buffer, n);
        std::lock_guard lock(m_peer.m_mutex);
        m_peer.m_received.append(buffer, n);
        return true;
    }
    return false;
}

std::optional<std::string> ScriptedPeer::Connection::readLine(int ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (auto nl = m_buffer.find("\r\n"); nl != std::string::npos) {
            std::string line = m_buffer.substr(0, nl);
            m_buffer.erase(0, nl + 2);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !fill(static_cast<int>(left.count()))) return std::nullopt;
    }
}

bool ScriptedPeer::Connection::waitClosed(int ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!m_peer.m_stop && std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        char buffer[4096];
        ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) return true;
        std::lock_guard lock(m_peer.m_mutex);
        m_peer.m_received.append(buffer, n);
    }
    return false;
}

void ScriptedPeer::Connection::reset()
{
    linger l{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(m_fd);
    m_fd = -1;
}

void ScriptedPeer::Connection::pause(int ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!m_peer.m_stop && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

ScriptedPeer::ScriptedPeer(Script script)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof at;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 ||
        ::listen(m_listenFd, 4) != 0 || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&at), &len) != 0)
        throw std::runtime_error("scripted peer: cannot listen on loopback");
    m_port = ntohs(at.sin_port);
    m_thread = std::thread([this, script = std::move(script)] { run(script); });
}

ScriptedPeer::~ScriptedPeer()
{
    m_stop = true;
    m_thread.join();
    ::close(m_listenFd);
}

void ScriptedPeer::run(Script script)
{
    int fd = -1;
    while (!m_stop && fd < 0) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) fd = ::accept(m_listenFd, nullptr, nullptr);
    }
    if (fd >= 0) {
        Connection connection(fd, *this);
        script(connection);
        // Stay open until the test ends, unless the script closed it.
        while (!m_stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (connection.fd() >= 0) ::close(connection.fd());
    }
    m_finished = true;
}

std::string ScriptedPeer::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

int ScriptedPeer::closedPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof at;
    ::bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&at), &len);
    ::close(fd);
    return ntohs(at.sin_port);
}

bool waitUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

} // namespace tw::test
