#include "net/Winsock.h"
#include "scripted_peer.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tw::net;
using tw::test::ScriptedPeer;
using tw::test::waitUntil;

namespace {

// Records every event as a short text, in order.
struct Recorder : IWinsockEvents {
    std::vector<std::string> events;
    long arrived = 0;
    int sendCompletes = 0;
    std::intptr_t requestId = -1;
    void CloseConnection() override { events.push_back("CloseConnection"); }
    void Connect() override { events.push_back("Connect"); }
    void ConnectionRequest(std::intptr_t id) override
    {
        requestId = id;
        events.push_back("ConnectionRequest");
    }
    void DataArrival(long bytes) override
    {
        arrived += bytes;
        events.push_back("DataArrival " + std::to_string(bytes));
    }
    void Error(int number, const std::string &) override { events.push_back("Error " + std::to_string(number)); }
    void SendComplete() override { ++sendCompletes; }
};

int errorNumber(const std::function<void()> &f)
{
    try {
        f();
    } catch (const NetError &e) {
        EXPECT_EQ(e.source(), "Winsock");
        return e.number();
    }
    return 0;
}

} // namespace

TEST(Winsock, ConnectInAnyStateButClosedRaises40006AndChangesNothing)
{
    ScriptedPeer peer([](ScriptedPeer::Connection &) {});
    Winsock socket;
    socket.Connect("127.0.0.1", peer.port(), true);
    EXPECT_EQ(socket.State(), sckConnected);
    EXPECT_EQ(socket.EventMask(), FD_READ | FD_CLOSE);
    std::intptr_t handle = socket.SocketHandle();

    EXPECT_EQ(errorNumber([&] { socket.Connect("127.0.0.1", peer.port(), true); }), sckBadState);
    EXPECT_EQ(socket.State(), sckConnected);
    EXPECT_EQ(socket.SocketHandle(), handle);
    EXPECT_EQ(socket.RemoteHostIP(), "127.0.0.1");
    EXPECT_EQ(socket.RemotePort(), peer.port());

    socket.CloseConnection();
    EXPECT_EQ(socket.State(), sckClosed);
    EXPECT_EQ(socket.SocketHandle(), -1);
    socket.CloseConnection(); // nothing to close: no error
}

TEST(Winsock, NonBlockingConnectRaisesConnectLater)
{
    ScriptedPeer peer([](ScriptedPeer::Connection &) {});
    Winsock socket;
    Recorder events;
    socket.setEventHandler(&events);
    socket.setRemoteHost("localhost"); // through the host database
    socket.setRemotePort(peer.port());
    socket.Connect();
    EXPECT_TRUE(events.events.empty());
    EXPECT_TRUE(waitUntil([&] { return !events.events.empty(); }));
    EXPECT_EQ(events.events, std::vector<std::string>{"Connect"});
    EXPECT_EQ(socket.State(), sckConnected);
}

TEST(Winsock, RefusedNonBlockingConnectRaisesErrorAndReturnsToClosed)
{
    Winsock socket;
    std::vector<std::string> seen;
    socket.onError = [&](int number, const std::string &description) {
        seen.push_back(std::to_string(number) + " " + description);
    };
    socket.onConnect = [&] { seen.push_back("Connect"); };
    socket.onCloseConnection = [&] { seen.push_back("CloseConnection"); };
    int raised = errorNumber([&] { socket.Connect("127.0.0.1", ScriptedPeer::closedPort(), false); });
    // Refused after the start: reported as the event, not thrown.
    EXPECT_EQ(raised, 0);
    EXPECT_TRUE(waitUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen, std::vector<std::string>{"10061 " + getErrorDescription(WSAECONNREFUSED)});
    EXPECT_EQ(socket.State(), sckClosed);
}

// How often the event loop wakes up within `ms` while nothing happens on
// the network: a notifier left on for a writable socket wakes it at once,
// again and again.
static int wakeUpsWithin(int ms)
{
    QEventLoop loop;
    bool over = false;
    QTimer::singleShot(ms, &loop, [&] { over = true; });
    int wakeUps = 0;
    while (!over && wakeUps < 100000) {
        loop.processEvents(QEventLoop::WaitForMoreEvents);
        ++wakeUps;
    }
    return wakeUps;
}

TEST(Winsock, EventsOfANonBlockingConnectInOrderAndNothingBetween)
{
    ScriptedPeer peer([](ScriptedPeer::Connection &c) {
        std::optional<std::string> line = c.readLine();
        if (line) c.send("got " + *line + "\r\n");
        c.waitClosed();
    });
    Winsock socket;
    Recorder events;
    socket.setEventHandler(&events);
    socket.Connect("127.0.0.1", peer.port());
    ASSERT_TRUE(waitUntil([&] { return !events.events.empty(); }));
    EXPECT_EQ(events.events, std::vector<std::string>{"Connect"});

    // Connected and idle: the loop sleeps until its own timer.
    EXPECT_LT(wakeUpsWithin(200), 20);
    EXPECT_EQ(events.events, std::vector<std::string>{"Connect"});

    socket.SendData(std::string_view("hello\r\n"));
    ASSERT_TRUE(waitUntil([&] { return events.arrived == 11; }));
    EXPECT_EQ(events.sendCompletes, 1);
    EXPECT_EQ(socket.GetDataAsString(), "got hello\r\n");
    EXPECT_EQ(events.events, (std::vector<std::string>{"Connect", "DataArrival 11"}));
    EXPECT_LT(wakeUpsWithin(200), 20);
}

TEST(Winsock, BlockingConnectFailuresAreRaised)
{
    Winsock socket;
    EXPECT_EQ(errorNumber([&] { socket.Connect("127.0.0.1", ScriptedPeer::closedPort(), true); }), WSAECONNREFUSED);
    EXPECT_EQ(socket.State(), sckClosed);
    EXPECT_EQ(errorNumber([&] { socket.Connect("no-such-host.invalid", 25, true); }), WSAHOST_NOT_FOUND);
    EXPECT_EQ(socket.State(), sckClosed);
    Winsock fresh; // no RemotePort to fall back on
    EXPECT_EQ(errorNumber([&] { fresh.Connect("127.0.0.1", 0, true); }), sckOutOfRange);
}

TEST(Winsock, ResetByPeerRaisesErrorThenCloseConnection)
{
    ScriptedPeer peer([](ScriptedPeer::Connection &c) {
        c.pause(100);
        c.reset();
    });
    Winsock socket;
    Recorder events;
    socket.setEventHandler(&events);
    socket.Connect("127.0.0.1", peer.port(), true);
    ASSERT_TRUE(waitUntil([&] { return events.events.size() >= 2; }));
    EXPECT_EQ(events.events, (std::vector<std::string>{"Error 10054", "CloseConnection"}));
    EXPECT_EQ(socket.State(), sckClosed);
}

TEST(Winsock, NotificationsWithErrorsAndWithoutBytes)
{
    ScriptedPeer peer([](ScriptedPeer::Connection &c) {
        c.pause(200);
        c.send("hello world");
    });
    Winsock socket;
    Recorder events;
    socket.setEventHandler(&events);
    socket.Connect("127.0.0.1", peer.port(), true);

    // A read notification with nothing waiting says nothing.
    socket.handleSocketNotification(FD_READ, 0);
    EXPECT_TRUE(events.events.empty());

    ASSERT_TRUE(waitUntil([&] { return events.arrived == 11; }));
    EXPECT_EQ(events.events, std::vector<std::string>{"DataArrival 11"});
    EXPECT_EQ(socket.PeekDataAsString(5), "hello");
    EXPECT_EQ(socket.BytesReceived(), 11);
    EXPECT_EQ(socket.GetDataAsString(5), "hello");
    char buffer[16] = {};
    EXPECT_EQ(socket.PeekData(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), " wo");
    EXPECT_EQ(socket.GetData(), QByteArray(" world"));
    EXPECT_EQ(socket.GetDataAsString(), "");
    EXPECT_EQ(socket.GetData(), QByteArray());
    EXPECT_EQ(errorNumber([&] { socket.GetData(nullptr, 4); }), sckInvalidProcedureCall);

    events.events.clear();
    socket.handleSocketNotification(FD_CLOSE, WSAECONNABORTED);
    EXPECT_EQ(events.events, (std::vector<std::string>{"Error 10053", "CloseConnection"}));
    EXPECT_EQ(socket.State(), sckClosed);
    EXPECT_EQ(errorNumber([&] { socket.GetDataAsString(); }), sckBadState);
}

TEST(Winsock, QueuedSendsLeaveInOrderOnTheNextWriteNotification)
{
    ScriptedPeer peer([](ScriptedPeer::Connection &c) { c.waitClosed(); });
    Winsock socket;
    Recorder events;
    socket.setEventHandler(&events);
    EXPECT_EQ(errorNumber([&] { socket.SendData(std::string_view("early")); }), sckBadState);
    socket.Connect("127.0.0.1", peer.port(), true);

    socket.SendData(std::string_view("first,"));
    socket.SendData(QByteArray("second"));
    EXPECT_EQ(events.sendCompletes, 0); // queued: nothing leaves before the event loop runs
    EXPECT_NE(socket.EventMask() & FD_WRITE, 0);
    ASSERT_TRUE(waitUntil([&] { return peer.received().size() >= 12; }));
    EXPECT_EQ(peer.received(), "first,second");
    EXPECT_TRUE(waitUntil([&] { return events.sendCompletes == 2; }));
    EXPECT_EQ(socket.EventMask() & FD_WRITE, 0);

    socket.SendData(std::string_view("now"), true);
    EXPECT_EQ(events.sendCompletes, 3);
    EXPECT_EQ(errorNumber([&] { socket.SendData(QByteArray(), true); }), sckInvalidProcedureCall);
    EXPECT_EQ(errorNumber([&] { socket.SendData(nullptr, 3); }), sckInvalidProcedureCall);
    ASSERT_TRUE(waitUntil([&] { return peer.received().size() >= 15; }));
    EXPECT_EQ(peer.received(), "first,secondnow");
}

TEST(Winsock, TextModeOneSendsSixteenBitCharacters)
{
    ScriptedPeer peer([](ScriptedPeer::Connection &c) {
        c.send(std::string("o\0k\0", 4));
        c.waitClosed();
    });
    Winsock socket;
    socket.setTextMode(1);
    socket.Connect("127.0.0.1", peer.port(), true);
    socket.SendData(std::string_view("h\xc3\xa9"), true); // "hé"
    ASSERT_TRUE(waitUntil([&] { return peer.received().size() >= 4; }));
    EXPECT_EQ(peer.received(), std::string("h\0\xe9\0", 4));
    ASSERT_TRUE(waitUntil([&] { return socket.BytesReceived() == 4; }));
    EXPECT_EQ(socket.GetDataAsString(), "ok");
}

TEST(Winsock, ListenAcceptAndTalkBothWays)
{
    Winsock listener;
    Recorder listenerEvents;
    listener.setEventHandler(&listenerEvents);
    listener.Bind(0, "127.0.0.1");
    EXPECT_EQ(listener.State(), sckOpen);
    listener.Listen();
    EXPECT_EQ(listener.State(), sckListening);
    EXPECT_EQ(listener.EventMask(), FD_ACCEPT | FD_CLOSE);
    ASSERT_GT(listener.LocalPort(), 0);

    Winsock client;
    Recorder clientEvents;
    client.setEventHandler(&clientEvents);
    client.Connect("127.0.0.1", listener.LocalPort());

    ASSERT_TRUE(waitUntil([&] { return listenerEvents.requestId != -1; }));
    Winsock accepted;
    Recorder acceptedEvents;
    accepted.setEventHandler(&acceptedEvents);
    accepted.Accept(listenerEvents.requestId);
    EXPECT_EQ(accepted.State(), sckConnected);
    EXPECT_EQ(accepted.EventMask(), FD_READ | FD_WRITE | FD_CLOSE);
    EXPECT_EQ(accepted.RemoteHostIP(), "127.0.0.1");
    EXPECT_EQ(accepted.RemotePort(), client.LocalPort());

    ASSERT_TRUE(waitUntil([&] { return client.State() == sckConnected && !clientEvents.events.empty(); }));
    EXPECT_EQ(clientEvents.events.front(), "Connect");

    accepted.SendData(std::string_view("ping"));
    ASSERT_TRUE(waitUntil([&] { return clientEvents.arrived == 4; }));
    EXPECT_EQ(client.GetDataAsString(), "ping");
    client.SendData(std::string_view("pong"));
    ASSERT_TRUE(waitUntil([&] { return acceptedEvents.arrived == 4; }));
    EXPECT_EQ(accepted.GetDataAsString(), "pong");

    client.CloseConnection();
    ASSERT_TRUE(waitUntil([&] { return accepted.State() == sckClosed; }));
    EXPECT_EQ(acceptedEvents.events.back(), "CloseConnection");
    EXPECT_EQ(listenerEvents.events, std::vector<std::string>{"ConnectionRequest"});
}

TEST(Winsock, ErrorDescriptions)
{
    EXPECT_EQ(getErrorDescription(sckBadState),
              "Wrong protocol or connection state for the requested transaction or request.");
    EXPECT_EQ(getErrorDescription(WSAECONNREFUSED),
              "No connection could be made because the target machine actively refused it.");
    // Every text ends in a closing mark, whatever its origin.
    for (int number : {5, 40020, 10054, 10060, 11001, 12345, 2}) {
        std::string text = getErrorDescription(number);
        ASSERT_FALSE(text.empty()) << number;
        EXPECT_NE(std::string(".?!").find(text.back()), std::string::npos) << text;
        EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    }
    Winsock socket;
    socket.setProtocol(5);
    EXPECT_EQ(errorNumber([&] { socket.Bind(0); }), sckWrongProtocol);
    EXPECT_EQ(errorNumber([&] { socket.setRemotePort(70000); }), sckOutOfRange);
}

// A loopback listener whose queue is full: a connection to it is neither
// taken nor refused, so the connect waits, as for a server that does not answer.
class UnansweringPort {
  public:
    UnansweringPort()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof at;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&at), sizeof at);
        ::listen(m_listener, 0);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&at), &len);
        m_port = ntohs(at.sin_port);
        m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::connect(m_filler, reinterpret_cast<sockaddr *>(&at), sizeof at); // takes the only place
    }
    ~UnansweringPort()
    {
        ::close(m_filler);
        ::close(m_listener);
    }
    int port() const { return m_port; }

  private:
    int m_listener = -1;
    int m_filler = -1;
    int m_port = 0;
};

TEST(Winsock, TheWindowRunsWhileTheLookupAndTheConnectWait)
{
    // A lookup that answers only once the event loop has run a timer.
    std::promise<void> timerRan;
    std::shared_future<void> ran = timerRan.get_future().share();
    setHostLookup([ran](const std::string &host, std::uint32_t &address) {
        if (ran.wait_for(std::chrono::seconds(5)) != std::future_status::ready || host != "slow.test")
            return int(WSAHOST_NOT_FOUND);
        address = htonl(INADDR_LOOPBACK);
        return 0;
    });
    struct Restore {
        ~Restore() { setHostLookup({}); }
    } restore;
    ScriptedPeer peer([](ScriptedPeer::Connection &c) { c.waitClosed(); });
    Winsock socket;
    socket.setTimeoutValue(10);
    QTimer::singleShot(0, [&] { timerRan.set_value(); });
    EXPECT_EQ(errorNumber([&] { socket.Connect("slow.test", peer.port(), true); }), 0);
    EXPECT_EQ(socket.State(), sckConnected);
    EXPECT_EQ(socket.RemoteHostIP(), "127.0.0.1");
    socket.CloseConnection();

    // A connect nobody answers: a timer of the window closes the socket, which ends the wait.
    UnansweringPort silent;
    bool closedByTimer = false;
    QTimer::singleShot(0, [&] {
        closedByTimer = socket.State() == sckHostResolved;
        socket.CloseConnection();
    });
    EXPECT_EQ(errorNumber([&] { socket.Connect("127.0.0.1", silent.port(), true); }), sckOperationCanceled);
    EXPECT_TRUE(closedByTimer);
    EXPECT_EQ(socket.State(), sckClosed);
}
