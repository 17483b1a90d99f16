#pragma once
// A loopback TCP peer that runs a script on its own thread against the one
// connection it accepts. Every wait is bounded; the destructor stops it.

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tw::test {

class ScriptedPeer {
  public:
    class Connection {
      public:
        explicit Connection(int fd, ScriptedPeer &peer) : m_fd(fd), m_peer(peer) {}
        void send(const std::string &bytes);
        // The next line without its CR LF; nullopt after `ms` or when the connection ends.
        std::optional<std::string> readLine(int ms = 5000);
        // Waits until the client closes (true) or `ms` pass (false).
        bool waitClosed(int ms = 5000);
        // Closes with a reset instead of an orderly close.
        void reset();
        void pause(int ms);
        int fd() const { return m_fd; }

      private:
        bool fill(int ms);
        int m_fd;
        ScriptedPeer &m_peer;
        std::string m_buffer;
    };
    using Script = std::function<void(Connection &)>;

    explicit ScriptedPeer(Script script);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer &) = delete;
    ScriptedPeer &operator=(const ScriptedPeer &) = delete;

    int port() const { return m_port; }
    // Every byte received so far.
    std::string received() const;
    bool finished() const { return m_finished; }

    // A loopback port that nobody listens on.
    static int closedPort();

  private:
    void run(Script script);

    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    mutable std::mutex m_mutex;
    std::string m_received;
    std::thread m_thread;
};

// Runs the Qt event loop until `done` is true or `ms` pass; returns `done()`.
bool waitUntil(const std::function<bool()> &done, int ms = 5000);

} // namespace tw::test
