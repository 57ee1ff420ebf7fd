#pragma once
// A TCP proxy on the loopback that holds every byte for a fixed delay in each direction before
// passing it on to the test PostgreSQL server's Unix socket: a database across a slow link. Each
// accepted connection gets a connection of its own to the server.

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorna::test {

class DelayProxy {
public:
    // Listens on 127.0.0.1 at a port the system picks; connections go to the Unix socket path.
    DelayProxy(std::string unixSocketPath, std::chrono::milliseconds delayEachWay);
    ~DelayProxy();  // closes the listener and every connection, and joins the threads
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    [[nodiscard]] bool listening() const { return m_listener >= 0; }
    [[nodiscard]] int port() const { return m_port; }
    [[nodiscard]] int connectionsAccepted() const { return m_accepted.load(); }

private:
    void acceptLoop();
    void forward(int from, int to);

    std::string m_target;
    std::chrono::milliseconds m_delay;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::thread m_acceptor;
    std::mutex m_mutex;  // guards the lists below
    std::vector<std::thread> m_pipes;
    std::vector<int> m_sockets;
};

// The PostgreSQL test server's Unix socket (scripts/odbc-test-env.sh), or empty without one.
std::string testPostgresSocket();

// Writes an ODBC data source "name" for the PostgreSQL test database reached over TCP at
// 127.0.0.1:port into a user ini file of its own and points unixODBC at it (ODBCINI) until the
// object goes, when the previous file is restored.
class TcpDataSource {
public:
    TcpDataSource(const std::string& name, int port);
    ~TcpDataSource();
    TcpDataSource(const TcpDataSource&) = delete;
    TcpDataSource& operator=(const TcpDataSource&) = delete;

private:
    std::string m_file;
    std::string m_previous;
};

}  // namespace quorna::test
