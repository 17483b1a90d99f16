#include "net/Winsock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

Q_LOGGING_CATEGORY(lcWinsock, "tw.net.winsock", QtWarningMsg)

namespace tw::net {
namespace {

constexpr const char *kSource = "Winsock";

// Listening sockets by handle, so that an Accept made by another object can
// re-arm the listener's accept notification.
std::unordered_map<int, Winsock *> &listeners()
{
    static std::unordered_map<int, Winsock *> map;
    return map;
}

void pumpEvents(int ms)
{
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void dropNotifier(std::unique_ptr<QSocketNotifier> &notifier)
{
    if (!notifier) return;
    notifier->setEnabled(false);
    // It may be the very notifier whose activation we are handling.
    notifier.release()->deleteLater();
}

std::string ownText(int number)
{
    switch (number) {
    case sckInvalidProcedureCall:
        return "Invalid procedure call or argument.";
    case sckOperationCanceled:
        return "The operation was canceled.";
    case sckBadState:
        return "Wrong protocol or connection state for the requested transaction or request.";
    case sckInvalidArg:
        return "The argument passed to a function was not in the correct format or in the specified range.";
    case sckUnsupported:
        return "Unsupported variant type.";
    case sckInvalidOp:
        return "Invalid operation at current state.";
    case sckOutOfRange:
        return "Argument is out of range.";
    case sckWrongProtocol:
        return "Wrong protocol for the requested transaction or request.";
    case sckVersionUnsupported:
        return "The installed version of Winsock is unsupported. Install Sockets version 2.0 or above.";
    }
    return {};
}

std::string systemText(int number)
{
    switch (number) {
    case WSAEINTR:
        return "A blocking operation was interrupted.";
    case WSAEACCES:
        return "An attempt was made to access a socket in a way forbidden by its access permissions.";
    case WSAEFAULT:
        return "The system detected an invalid pointer address.";
    case WSAEINVAL:
        return "An invalid argument was supplied.";
    case WSAEMFILE:
        return "Too many open sockets.";
    case WSAEWOULDBLOCK:
        return "A non-blocking socket operation could not be completed immediately.";
    case WSAEINPROGRESS:
        return "A blocking operation is currently executing.";
    case WSAEALREADY:
        return "An operation was attempted on a non-blocking socket that already had an operation in progress.";
    case WSAENOTSOCK:
        return "An operation was attempted on something that is not a socket.";
    case WSAEMSGSIZE:
        return "A message sent on a datagram socket was larger than the internal message buffer.";
    case WSAEAFNOSUPPORT:
        return "An address incompatible with the requested protocol was used.";
    case WSAEADDRINUSE:
        return "Only one usage of each socket address is normally permitted.";
    case WSAEADDRNOTAVAIL:
        return "The requested address is not valid in its context.";
    case WSAENETDOWN:
        return "A socket operation encountered a dead network.";
    case WSAENETUNREACH:
        return "A socket operation was attempted to an unreachable network.";
    case WSAECONNABORTED:
        return "An established connection was aborted by the software in your host machine.";
    case WSAECONNRESET:
        return "An existing connection was forcibly closed by the remote host.";
    case WSAENOBUFS:
        return "No buffer space was available for a socket operation.";
    case WSAEISCONN:
        return "A connect request was made on an already connected socket.";
    case WSAENOTCONN:
        return "The socket is not connected.";
    case WSAESHUTDOWN:
        return "The socket had already been shut down in that direction.";
    case WSAETIMEDOUT:
        return "The connection attempt timed out, or the connected host has failed to respond.";
    case WSAECONNREFUSED:
        return "No connection could be made because the target machine actively refused it.";
    case WSAEHOSTUNREACH:
        return "A socket operation was attempted to an unreachable host.";
    case WSAHOST_NOT_FOUND:
        return "No such host is known.";
    case WSATRY_AGAIN:
        return "The name could not be resolved now; try again later.";
    case WSANO_DATA:
        return "The requested name is valid, but no data of the requested type was found.";
    }
    return {};
}

std::string addressText(std::uint32_t networkOrder)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = networkOrder;
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

int systemHostLookup(const std::string &host, std::uint32_t &address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) return rc == EAI_AGAIN ? WSATRY_AGAIN : WSAHOST_NOT_FOUND;
    address = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return 0;
}

std::mutex lookupMutex;
HostLookup &installedLookup()
{
    static HostLookup lookup;
    return lookup;
}

} // namespace

void setHostLookup(HostLookup lookup)
{
    std::lock_guard lock(lookupMutex);
    installedLookup() = std::move(lookup);
}

HostLookup hostLookup()
{
    std::lock_guard lock(lookupMutex);
    return installedLookup() ? installedLookup() : HostLookup(systemHostLookup);
}

int wsaErrorFromErrno(int err)
{
    switch (err) {
    case EINTR:
        return WSAEINTR;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case EAGAIN:
        return WSAEWOULDBLOCK;
    case EINPROGRESS:
        return WSAEINPROGRESS;
    case EALREADY:
        return WSAEALREADY;
    case ENOTSOCK:
    case EBADF:
        return WSAENOTSOCK;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case EAFNOSUPPORT:
        return WSAEAFNOSUPPORT;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case ESHUTDOWN:
        return WSAESHUTDOWN;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case EHOSTUNREACH:
    case EHOSTDOWN:
        return WSAEHOSTUNREACH;
    }
    return err;
}

std::string getErrorDescription(int number, std::string_view separator)
{
    std::string text = systemText(number);
    if (text.empty()) text = ownText(number);
    if (text.empty())
        text = number > 0 && number < 10000 ? std::strerror(number) : "Unknown error " + std::to_string(number);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += separator;
        } else {
            out += text[i];
        }
    }
    if (!out.empty() && out.back() != '.' && out.back() != '?' && out.back() != '!') out += '.';
    return out;
}

Winsock::Winsock() = default;

Winsock::~Winsock()
{
    qCDebug(lcWinsock) << "Terminating object instance.";
    *m_alive = false;
    closeSocket();
}

[[noreturn]] void Winsock::raise(int number, const std::string &description) const
{
    throw NetError(number, kSource, description.empty() ? getErrorDescription(number) : description);
}

[[noreturn]] void Winsock::raiseSystem(int wsaCode, const std::string &prefix) const
{
    std::string text = getErrorDescription(wsaCode);
    throw NetError(wsaCode, kSource, prefix.empty() ? text : prefix + " " + text);
}

void Winsock::requireConnected() const
{
    if (m_state != sckConnected || m_fd < 0) raise(sckBadState);
}

void Winsock::setProtocol(int protocol)
{
    if (m_state != sckClosed) raise(sckInvalidOp);
    m_protocol = protocol;
}

void Winsock::setRemotePort(int port)
{
    if (port < 0 || port > 65535) raise(sckOutOfRange);
    m_remotePort = port;
}

void Winsock::createSocket()
{
    int type = 0;
    if (m_protocol == sckTCPProtocol)
        type = SOCK_STREAM;
    else if (m_protocol == sckUDPProtocol)
        type = SOCK_DGRAM;
    else
        raise(sckWrongProtocol, "Unexpected error. Unsupported protocol: " + std::to_string(m_protocol));
    // The descriptor is always non-blocking; blocking calls are waits of our own, bounded by TimeoutValue.
    int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) raiseSystem(wsaErrorFromErrno(errno), "Could not create socket.");
    m_fd = fd;
    m_state = sckOpen;
    m_mask = 0;
    m_readArmed = true;
    m_readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    m_writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    QObject::connect(m_readNotifier.get(), &QSocketNotifier::activated, [this] { onReadable(); });
    QObject::connect(m_writeNotifier.get(), &QSocketNotifier::activated, [this] { onWritable(); });
    updateNotifiers();
}

void Winsock::closeSocket()
{
    if (m_fd < 0) return;
    dropNotifier(m_readNotifier);
    dropNotifier(m_writeNotifier);
    listeners().erase(m_fd);
    // POSIX shutdown does not report an operation in progress, so there is no need to wait here.
    ::shutdown(m_fd, SHUT_RDWR);
    ::close(m_fd);
    m_fd = -1;
    m_state = sckClosed;
    m_mask = 0;
    m_queue.clear();
    m_readArmed = true;
    m_connectPending = false;
}

void Winsock::registerMask(int mask)
{
    m_mask = mask;
    updateNotifiers();
}

void Winsock::updateNotifiers()
{
    if (m_fd < 0 || !m_readNotifier) return;
    // While connecting, the end of the attempt (success or refusal) is
    // learnt from the write side alone, so it is reported once, as FD_CONNECT.
    bool wantRead = m_state != sckConnecting && m_readArmed && (m_mask & (FD_READ | FD_CLOSE | FD_ACCEPT)) != 0;
    bool wantWrite = m_state == sckConnecting || m_connectPending || (m_mask & FD_WRITE) != 0;
    m_readNotifier->setEnabled(wantRead);
    m_writeNotifier->setEnabled(wantWrite);
}

void Winsock::onReadable()
{
    if (m_fd < 0) return;
    if (m_state == sckConnecting) {
        completeConnect();
        return;
    }
    if (m_state == sckListening) {
        // Like the system, no further accept notification until someone accepts.
        m_readArmed = false;
        updateNotifiers();
        handleSocketNotification(FD_ACCEPT, 0);
        return;
    }
    char c;
    ssize_t n = ::recv(m_fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0 || (n == 0 && m_protocol == sckUDPProtocol)) {
        // Not again until the owner receives, or a handler that leaves the
        // bytes waiting would be called in a busy loop.
        m_readArmed = false;
        updateNotifiers();
        if (m_mask & FD_READ) handleSocketNotification(FD_READ, 0);
        return;
    }
    if (n == 0) {
        handleSocketNotification(FD_CLOSE, 0);
        return;
    }
    if (errno == EAGAIN || errno == EINTR) return;
    handleSocketNotification(FD_CLOSE, wsaErrorFromErrno(errno));
}

void Winsock::onWritable()
{
    if (m_fd < 0) return;
    if (m_state == sckConnecting || m_connectPending) {
        completeConnect();
        return;
    }
    if (m_mask & FD_WRITE) handleSocketNotification(FD_WRITE, 0);
}

void Winsock::completeConnect()
{
    m_connectPending = false;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    const int code = err ? wsaErrorFromErrno(err) : 0;
    // Connected before the notifiers are set again: a connected socket is
    // writable all the time and must not be watched for it unless a send
    // waits, or the event loop would never rest.
    if (!code) m_state = sckConnected;
    updateNotifiers();
    if (m_mask & FD_CONNECT)
        handleSocketNotification(FD_CONNECT, code);
    else if (code)
        handleSocketNotification(FD_CLOSE, code);
}

void Winsock::handleSocketNotification(int event, int errorCode)
{
    auto alive = m_alive;
    switch (event) {
    case FD_READ:
        if (errorCode) {
            raiseError(errorCode, getErrorDescription(errorCode));
            break;
        }
        if (long n = BytesReceived(); n > 0) raiseDataArrival(n);
        if (*alive && m_fd >= 0) registerMask(m_mask & ~FD_CONNECT);
        break;
    case FD_WRITE:
        if (errorCode) {
            raiseError(errorCode, getErrorDescription(errorCode));
            break;
        }
        registerMask(m_mask & ~FD_WRITE);
        // A send queued by a handler while we wait below is taken by this loop, in order.
        if (m_sending) break;
        m_sending = true;
        while (!m_queue.empty() && m_fd >= 0) {
            QByteArray block = std::move(m_queue.front());
            m_queue.pop_front();
            try {
                sendNow(block.constData(), block.size());
            } catch (const NetError &e) {
                if (!*alive) return;
                m_sending = false;
                raiseError(e.number(), e.description());
                return;
            }
            if (!*alive) return;
        }
        m_sending = false;
        break;
    case FD_ACCEPT:
        if (errorCode) {
            closeSocket();
            raiseError(errorCode, "Unable to accept incoming connection. " + getErrorDescription(errorCode));
            break;
        }
        raiseConnectionRequest(m_fd);
        break;
    case FD_CONNECT:
        if (errorCode) {
            closeSocket();
            raiseError(errorCode, getErrorDescription(errorCode));
            break;
        }
        m_state = sckConnected;
        raiseConnect();
        break;
    case FD_CLOSE:
        if (errorCode) raiseError(errorCode, getErrorDescription(errorCode));
        if (!*alive) return;
        closeSocket();
        raiseCloseConnection();
        break;
    }
}

std::uint32_t Winsock::resolve(const std::string &host, const QElapsedTimer &started)
{
    in_addr address{};
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1) return address.s_addr;

    // The system's lookup cannot be interrupted, so it runs on a thread of its
    // own that we wait for in the event loop. One that outlives the time-out
    // finishes on its own and its answer is dropped.
    struct Lookup {
        std::atomic<bool> done{false};
        int code = 0;
        std::uint32_t address = 0;
    };
    auto lookup = std::make_shared<Lookup>();
    HostLookup how = hostLookup();
    std::thread([lookup, how, host] {
        lookup->code = how(host, lookup->address);
        lookup->done = true;
    }).detach();

    auto alive = m_alive;
    const int fd = m_fd;
    const qint64 limit = qint64(m_timeoutSeconds) * 1000;
    while (!lookup->done) {
        const qint64 left = limit - started.elapsed();
        if (left <= 0) {
            closeSocket();
            raiseSystem(WSATRY_AGAIN);
        }
        pumpEvents(static_cast<int>(std::min<qint64>(left, 10)));
        if (!*alive) throw NetError(sckOperationCanceled, kSource, ownText(sckOperationCanceled));
        if (m_fd != fd) raise(sckOperationCanceled); // closed while we waited
    }
    if (lookup->code) {
        closeSocket();
        raiseSystem(lookup->code);
    }
    return lookup->address;
}

void Winsock::Connect(const std::string &remoteHost, int remotePort, bool blocking)
{
    if (m_state != sckClosed) raise(sckBadState);
    std::string host = remoteHost.empty() ? m_remoteHost : remoteHost;
    int port = remotePort < 1 ? m_remotePort : remotePort;
    if (port < 1 || port > 65535) raise(sckOutOfRange);
    m_remoteHost = host;
    m_remotePort = port;

    // One limit for the lookup and the connection together.
    QElapsedTimer started;
    started.start();
    createSocket();
    m_state = sckResolvingHost;
    in_addr address{};
    address.s_addr = resolve(host, started);
    m_remoteAddress = address.s_addr;
    m_state = sckHostResolved;

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr = address;

    if (!blocking) {
        registerMask(FD_READ | FD_CONNECT | FD_CLOSE);
        m_state = sckConnecting;
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0) {
            m_state = sckConnected;
            m_connectPending = true; // Connect is still raised from the event loop
            updateNotifiers();
            return;
        }
        if (errno == EINPROGRESS || errno == EAGAIN) {
            updateNotifiers();
            return;
        }
        int code = wsaErrorFromErrno(errno);
        closeSocket();
        raiseSystem(code);
    }

    // Blocking for the caller, not for the window: the wait runs the event loop.
    int err = 0;
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            auto alive = m_alive;
            const int fd = m_fd;
            const qint64 limit = qint64(m_timeoutSeconds) * 1000;
            for (;;) {
                pollfd p{fd, POLLOUT, 0};
                if (::poll(&p, 1, 0) > 0) {
                    socklen_t len = sizeof err;
                    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
                    break;
                }
                const qint64 left = limit - started.elapsed();
                if (left <= 0) {
                    err = ETIMEDOUT;
                    break;
                }
                pumpEvents(static_cast<int>(std::min<qint64>(left, 10)));
                if (!*alive) throw NetError(sckOperationCanceled, kSource, ownText(sckOperationCanceled));
                if (m_fd != fd) raise(sckOperationCanceled); // closed while we waited
            }
        }
    }
    if (err) {
        closeSocket();
        raiseSystem(wsaErrorFromErrno(err));
    }
    m_state = sckConnected;
    registerMask(FD_READ | FD_CLOSE);
}

void Winsock::Bind(int localPort, const std::string &localIP)
{
    if (m_state != sckClosed && m_state != sckOpen) raise(sckInvalidOp);
    if (localPort < 0 || localPort > 65535) raise(sckOutOfRange);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(localPort));
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!localIP.empty() && ::inet_pton(AF_INET, localIP.c_str(), &at.sin_addr) != 1) raise(sckInvalidArg);
    if (m_fd < 0) createSocket();
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) raiseSystem(wsaErrorFromErrno(errno));
    m_state = sckOpen;
}

void Winsock::Listen()
{
    if (m_state != sckOpen || m_protocol != sckTCPProtocol) raise(sckInvalidOp);
    if (::listen(m_fd, SOMAXCONN) != 0) raiseSystem(wsaErrorFromErrno(errno));
    listeners()[m_fd] = this;
    m_state = sckListening;
    registerMask(FD_ACCEPT | FD_CLOSE);
}

void Winsock::Accept(std::intptr_t requestId)
{
    if (m_state != sckClosed) raise(sckInvalidOp);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    int fd =
        ::accept4(static_cast<int>(requestId), reinterpret_cast<sockaddr *>(&from), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    int err = errno;
    if (auto it = listeners().find(static_cast<int>(requestId)); it != listeners().end()) {
        it->second->m_readArmed = true;
        it->second->updateNotifiers();
    }
    if (fd < 0) raiseSystem(wsaErrorFromErrno(err));

    m_fd = fd;
    m_readArmed = true;
    m_readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    m_writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    QObject::connect(m_readNotifier.get(), &QSocketNotifier::activated, [this] { onReadable(); });
    QObject::connect(m_writeNotifier.get(), &QSocketNotifier::activated, [this] { onWritable(); });
    m_remoteAddress = from.sin_addr.s_addr;
    m_remoteHost = addressText(m_remoteAddress);
    m_remotePort = ntohs(from.sin_port);
    m_state = sckConnected;
    registerMask(FD_READ | FD_WRITE | FD_CLOSE);
}

void Winsock::CloseConnection()
{
    closeSocket();
}

QByteArray Winsock::textToBytes(std::string_view text) const
{
    if (m_textMode != 1) return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QByteArray out;
    out.reserve(s.size() * 2);
    for (QChar ch : s) {
        out.append(static_cast<char>(ch.unicode() & 0xff));
        out.append(static_cast<char>(ch.unicode() >> 8));
    }
    return out;
}

std::string Winsock::bytesToText(const QByteArray &bytes) const
{
    if (m_textMode != 1) return bytes.toStdString();
    QString s;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        s.append(QChar(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8))));
    return s.toStdString();
}

void Winsock::SendData(const QByteArray &data, bool immediate)
{
    requireConnected();
    if (immediate) {
        if (data.isEmpty()) raise(sckInvalidProcedureCall);
        sendNow(data.constData(), data.size());
        return;
    }
    m_queue.push_back(data);
    registerMask(m_mask | FD_WRITE);
}

void Winsock::SendData(std::string_view text, bool immediate)
{
    requireConnected();
    SendData(textToBytes(text), immediate);
}

void Winsock::SendData(const void *data, long length, bool immediate)
{
    if (!data || length < 1) raise(sckInvalidProcedureCall);
    SendData(QByteArray(static_cast<const char *>(data), length), immediate);
}

void Winsock::sendNow(const char *data, long length)
{
    auto alive = m_alive;
    QElapsedTimer timer;
    timer.start();
    const qint64 limit = qint64(m_timeoutSeconds) * 1000;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(m_remotePort));
    to.sin_addr.s_addr = m_remoteAddress;

    long sent = 0;
    while (sent < length) {
        if (m_fd < 0) raise(sckOperationCanceled);
        ssize_t n = m_protocol == sckUDPProtocol ? ::sendto(m_fd, data + sent, length - sent, MSG_NOSIGNAL,
                                                            reinterpret_cast<sockaddr *>(&to), sizeof to)
                                                 : ::send(m_fd, data + sent, length - sent, MSG_NOSIGNAL);
        if (n >= 0) {
            sent += n;
            raiseSendProgress(sent, length - sent);
            if (!*alive) throw NetError(sckOperationCanceled, kSource, ownText(sckOperationCanceled));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) raiseSystem(wsaErrorFromErrno(errno), "Could not send data.");
        // The socket's buffer is full: wait for room, keeping the event loop running.
        for (;;) {
            if (m_fd < 0) raise(sckOperationCanceled);
            pollfd p{m_fd, POLLOUT, 0};
            if (::poll(&p, 1, 0) > 0) break;
            qint64 left = limit - timer.elapsed();
            if (left <= 0) raiseSystem(WSAETIMEDOUT, "Could not send data.");
            pumpEvents(static_cast<int>(std::min<qint64>(left, 10)));
            if (!*alive) throw NetError(sckOperationCanceled, kSource, ownText(sckOperationCanceled));
        }
    }
    raiseSendComplete();
}

QByteArray Winsock::receive(long maxLength, bool peek)
{
    requireConnected();
    long waiting = BytesReceived();
    long count = maxLength > 0 && maxLength <= waiting ? maxLength : waiting;
    if (count <= 0) return {};

    auto alive = m_alive;
    QElapsedTimer timer;
    timer.start();
    const qint64 limit = qint64(m_timeoutSeconds) * 1000;
    QByteArray buffer(count, '\0');
    for (;;) {
        if (m_fd < 0) raise(sckOperationCanceled);
        ssize_t n = ::recv(m_fd, buffer.data(), count, (peek ? MSG_PEEK : 0) | MSG_DONTWAIT);
        if (n >= 0) {
            buffer.resize(n);
            break;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) raiseSystem(wsaErrorFromErrno(errno), "Could not read data.");
        qint64 left = limit - timer.elapsed();
        if (left <= 0) raiseSystem(WSAETIMEDOUT, "Could not read data.");
        pumpEvents(static_cast<int>(std::min<qint64>(left, 10)));
        if (!*alive) throw NetError(sckOperationCanceled, kSource, ownText(sckOperationCanceled));
    }
    m_readArmed = true;
    updateNotifiers();
    return buffer;
}

QByteArray Winsock::GetData(long maxLength)
{
    return receive(maxLength, false);
}

QByteArray Winsock::PeekData(long maxLength)
{
    return receive(maxLength, true);
}

std::string Winsock::GetDataAsString(long maxLength)
{
    return bytesToText(receive(maxLength, false));
}

std::string Winsock::PeekDataAsString(long maxLength)
{
    return bytesToText(receive(maxLength, true));
}

long Winsock::GetData(void *buffer, long maxLength)
{
    if (!buffer || maxLength < 1) raise(sckInvalidProcedureCall);
    QByteArray bytes = receive(maxLength, false);
    std::memcpy(buffer, bytes.constData(), bytes.size());
    return bytes.size();
}

long Winsock::PeekData(void *buffer, long maxLength)
{
    if (!buffer || maxLength < 1) raise(sckInvalidProcedureCall);
    QByteArray bytes = receive(maxLength, true);
    std::memcpy(buffer, bytes.constData(), bytes.size());
    return bytes.size();
}

long Winsock::BytesReceived() const
{
    if (m_fd < 0) return 0;
    int n = 0;
    if (::ioctl(m_fd, FIONREAD, &n) != 0) return 0;
    return n;
}

std::string Winsock::LocalHostName() const
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string Winsock::LocalIP() const
{
    if (m_fd >= 0) {
        sockaddr_in at{};
        socklen_t len = sizeof at;
        if (::getsockname(m_fd, reinterpret_cast<sockaddr *>(&at), &len) == 0 && at.sin_addr.s_addr != 0)
            return addressText(at.sin_addr.s_addr);
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo *found = nullptr;
    std::string ip;
    if (::getaddrinfo(LocalHostName().c_str(), nullptr, &hints, &found) == 0 && found) {
        ip = addressText(reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr.s_addr);
        ::freeaddrinfo(found);
    }
    return ip;
}

int Winsock::LocalPort() const
{
    if (m_fd < 0) return 0;
    sockaddr_in at{};
    socklen_t len = sizeof at;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr *>(&at), &len) != 0) return 0;
    return ntohs(at.sin_port);
}

std::string Winsock::RemoteHostIP() const
{
    return m_remoteAddress ? addressText(m_remoteAddress) : std::string();
}

// Event delivery: traced, then to the callback object or the own event.

void Winsock::raiseCloseConnection()
{
    qCDebug(lcWinsock) << "RaiseEvent(1)";
    if (m_handler)
        m_handler->CloseConnection();
    else if (onCloseConnection)
        onCloseConnection();
}

void Winsock::raiseConnect()
{
    qCDebug(lcWinsock) << "RaiseEvent(2)";
    if (m_handler)
        m_handler->Connect();
    else if (onConnect)
        onConnect();
}

void Winsock::raiseConnectionRequest(std::intptr_t requestId)
{
    qCDebug(lcWinsock) << "RaiseEvent(3)";
    if (m_handler)
        m_handler->ConnectionRequest(requestId);
    else if (onConnectionRequest)
        onConnectionRequest(requestId);
}

void Winsock::raiseDataArrival(long bytes)
{
    qCDebug(lcWinsock) << "RaiseEvent(4)";
    if (m_handler)
        m_handler->DataArrival(bytes);
    else if (onDataArrival)
        onDataArrival(bytes);
}

void Winsock::raiseError(int number, const std::string &description)
{
    qCDebug(lcWinsock) << "RaiseEvent(5)";
    if (m_handler)
        m_handler->Error(number, description);
    else if (onError)
        onError(number, description);
}

void Winsock::raiseSendComplete()
{
    qCDebug(lcWinsock) << "RaiseEvent(6)";
    if (m_handler)
        m_handler->SendComplete();
    else if (onSendComplete)
        onSendComplete();
}

void Winsock::raiseSendProgress(long sent, long remaining)
{
    qCDebug(lcWinsock) << "RaiseEvent(7)";
    if (m_handler)
        m_handler->SendProgress(sent, remaining);
    else if (onSendProgress)
        onSendProgress(sent, remaining);
}

} // namespace tw::net
