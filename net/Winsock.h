#pragma once
// Winsock: an event-driven IPv4 TCP/UDP socket on POSIX sockets. Network
// events arrive on the thread's Qt event loop (QSocketNotifier) and are raised
// as the seven events below, either to an IWinsockEvents object or to the
// std::function members. Blocking reads and writes wait at most TimeoutValue
// seconds and keep the event loop running while they wait, so handlers of
// this and other objects may run inside SendData or GetData.
//
// Errors of methods are thrown as NetError with source "Winsock"; failures
// that a notification reports arrive as the Error event, never as throws.
// Not thread-safe: use an object only on the thread that created it.

#include <QByteArray>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

class QElapsedTimer;
class QSocketNotifier;

namespace tw::net {

// A numbered error with its source ("Winsock", "SendMail") and description.
class NetError : public std::runtime_error {
  public:
    NetError(int number, std::string source, std::string description)
        : std::runtime_error(description), m_number(number), m_source(std::move(source)),
          m_description(std::move(description))
    {
    }
    int number() const { return m_number; }
    const std::string &source() const { return m_source; }
    const std::string &description() const { return m_description; }

  private:
    int m_number;
    std::string m_source;
    std::string m_description;
};

// Error numbers of the socket object.
enum WinsockErrors {
    sckInvalidProcedureCall = 5,
    sckOperationCanceled = 1004,
    sckBadState = 40006,
    sckInvalidArg = 40014,
    sckUnsupported = 40018,
    sckInvalidOp = 40020,
    sckOutOfRange = 40021,
    sckWrongProtocol = 40026,
    sckVersionUnsupported = 40050,
};

// Windows Sockets numbers for the system failures we report (POSIX errno
// values are translated to these, so callers see one set of numbers).
enum WsaCodes {
    WSAEINTR = 10004,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEMSGSIZE = 10040,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAEHOSTUNREACH = 10065,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_DATA = 11004,
};

// Network event bits of the interest mask.
enum WinsockNetworkEvents { FD_READ = 1, FD_WRITE = 2, FD_ACCEPT = 8, FD_CONNECT = 16, FD_CLOSE = 32 };

enum WinsockState {
    sckClosed = 0,
    sckOpen = 1,
    sckListening = 2,
    sckResolvingHost = 4,
    sckHostResolved = 5,
    sckConnecting = 6,
    sckConnected = 7,
    sckClosing = 8,
};

enum WinsockProtocol { sckTCPProtocol = 0, sckUDPProtocol = 1 };

// Maps a POSIX errno value to its Windows Sockets number (unknown values pass through).
int wsaErrorFromErrno(int err);
// The text for a system error number, with line breaks replaced by
// `separator` and a final "." added when it lacks a closing mark.
std::string getErrorDescription(int number, std::string_view separator = " ");

// How host names become IPv4 addresses (network byte order): 0 on success,
// else a Windows Sockets number. Connect runs it on a worker thread and keeps
// the event loop running until it answers or TimeoutValue passes, so it may
// block. The system's lookup unless a test installs its own (empty = the
// system's again).
using HostLookup = std::function<int(const std::string &host, std::uint32_t &address)>;
void setHostLookup(HostLookup lookup);
HostLookup hostLookup();

// The events, in their numbering order 1 to 7. Every method has an empty default.
class IWinsockEvents {
  public:
    virtual ~IWinsockEvents() = default;
    virtual void CloseConnection() {}
    virtual void Connect() {}
    virtual void ConnectionRequest(std::intptr_t /*requestId*/) {}
    virtual void DataArrival(long /*bytesTotal*/) {}
    virtual void Error(int /*number*/, const std::string & /*description*/) {}
    virtual void SendComplete() {}
    virtual void SendProgress(long /*bytesSent*/, long /*bytesRemaining*/) {}
};

class Winsock {
  public:
    Winsock();
    ~Winsock();
    Winsock(const Winsock &) = delete;
    Winsock &operator=(const Winsock &) = delete;

    // Own events, used when no IWinsockEvents object is set.
    std::function<void()> onCloseConnection;
    std::function<void()> onConnect;
    std::function<void(std::intptr_t requestId)> onConnectionRequest;
    std::function<void(long bytesTotal)> onDataArrival;
    std::function<void(int number, const std::string &description)> onError;
    std::function<void()> onSendComplete;
    std::function<void(long bytesSent, long bytesRemaining)> onSendProgress;

    // Events go to `handler` (not owned; nullptr = own events) instead.
    void setEventHandler(IWinsockEvents *handler) { m_handler = handler; }

    // Connects to `remoteHost` (empty = RemoteHost) on `remotePort` (< 1 =
    // RemotePort). Only in state 0, else 40006. A host name is looked up
    // first, running the event loop while it waits. Non-blocking: then returns
    // and raises Connect (or Error, back in state 0) later. Blocking: waits
    // for the connection too, running the event loop; the lookup and the
    // connection together take at most TimeoutValue seconds (then 11002 or
    // 10060). A CloseConnection or the object's end during the wait ends it
    // with 1004.
    void Connect(const std::string &remoteHost = {}, int remotePort = 0, bool blocking = false);
    // Creates the socket if needed and binds it to `localPort` on `localIP`
    // (empty = any address). State 1.
    void Bind(int localPort = 0, const std::string &localIP = {});
    // Listens (after Bind); ConnectionRequest follows for each waiting peer. State 2.
    void Listen();
    // Accepts the waiting connection of ConnectionRequest's `requestId` into
    // this object, which must be closed (state 0). State 7.
    void Accept(std::intptr_t requestId);
    // Shuts the connection down both ways and closes it; drops unsent queued
    // data. State 0. Does nothing when there is no socket.
    void CloseConnection();

    // Sends bytes; only in state 7 (else 40006). Queued (the normal case):
    // copies the data, returns at once and sends on the next write
    // notification in the order queued. Immediate: sends now, waiting at most
    // TimeoutValue seconds per piece; an empty immediate send is error 5.
    // Text is converted as TextMode says (1 = UTF-16LE, else the bytes as they are).
    void SendData(const QByteArray &data, bool immediate = false);
    void SendData(std::string_view text, bool immediate = false);
    // `length` bytes at `data`; a null address or length < 1 is error 5.
    void SendData(const void *data, long length, bool immediate = false);

    // Reads (Get) or looks at (Peek) what has arrived: all waiting bytes, or
    // `maxLength` of them when it is positive and not larger. Nothing waiting
    // gives an empty result. Only in state 7 (else 40006).
    QByteArray GetData(long maxLength = 0);
    QByteArray PeekData(long maxLength = 0);
    std::string GetDataAsString(long maxLength = 0);
    std::string PeekDataAsString(long maxLength = 0);
    // Into memory: returns the count copied; null `buffer` or maxLength < 1 is error 5.
    long GetData(void *buffer, long maxLength);
    long PeekData(void *buffer, long maxLength);

    long BytesReceived() const;
    std::string LocalHostName() const;
    std::string LocalIP() const;
    int LocalPort() const;
    int Protocol() const { return m_protocol; }
    void setProtocol(int protocol); // only in state 0, else 40020
    const std::string &RemoteHost() const { return m_remoteHost; }
    void setRemoteHost(const std::string &host) { m_remoteHost = host; }
    std::string RemoteHostIP() const;
    int RemotePort() const { return m_remotePort; }
    void setRemotePort(int port); // 0..65535, else 40021
    std::intptr_t SocketHandle() const { return m_fd; }
    int State() const { return m_state; }
    int TextMode() const { return m_textMode; }
    void setTextMode(int mode) { m_textMode = mode; }
    // Any value the owner attaches; not used by the object.
    std::intptr_t UserData = 0;
    int TimeoutValue() const { return m_timeoutSeconds; }
    void setTimeoutValue(int seconds) { m_timeoutSeconds = seconds; }
    // The interest mask last registered (FD_* bits).
    int EventMask() const { return m_mask; }

    // What the socket notifier delivers: a network event (one FD_* bit) with
    // the Windows Sockets error number (0 = none). Public so a test can
    // deliver the notifications the system rarely produces.
    void handleSocketNotification(int event, int errorCode);

  private:
    // The address of `host`: a dotted address at once, a name through hostLookup().
    std::uint32_t resolve(const std::string &host, const QElapsedTimer &started);
    void createSocket();
    void closeSocket();
    void registerMask(int mask);
    void updateNotifiers();
    void onReadable();
    void onWritable();
    // The end of a non-blocking connect: FD_CONNECT with its outcome.
    void completeConnect();
    void sendNow(const char *data, long length);
    QByteArray receive(long maxLength, bool peek);
    [[noreturn]] void raise(int number, const std::string &description = {}) const;
    [[noreturn]] void raiseSystem(int wsaCode, const std::string &prefix = {}) const;
    void requireConnected() const;
    QByteArray textToBytes(std::string_view text) const;
    std::string bytesToText(const QByteArray &bytes) const;

    // Delivery of the seven events.
    void raiseCloseConnection();
    void raiseConnect();
    void raiseConnectionRequest(std::intptr_t requestId);
    void raiseDataArrival(long bytes);
    void raiseError(int number, const std::string &description);
    void raiseSendComplete();
    void raiseSendProgress(long sent, long remaining);

    int m_fd = -1;
    int m_state = sckClosed;
    int m_protocol = sckTCPProtocol;
    std::string m_remoteHost;
    int m_remotePort = 0;
    std::uint32_t m_remoteAddress = 0; // network byte order
    int m_timeoutSeconds = 60;
    int m_textMode = 0;
    int m_mask = 0;
    bool m_readArmed = true; // re-armed by each receive, as the system does
    bool m_sending = false;
    bool m_connectPending = false; // connected at once; Connect still to be raised
    std::deque<QByteArray> m_queue;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    IWinsockEvents *m_handler = nullptr;
    // Cleared by the destructor, so code still on the stack of a handler
    // that destroyed this object can tell.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace tw::net
