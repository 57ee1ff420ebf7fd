#include "delay_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <utility>

namespace quorna::test {
namespace {

using Clock = std::chrono::steady_clock;

// How often the threads look at the stop flag while nothing moves.
constexpr int kIdlePollMs = 20;

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

DelayProxy::DelayProxy(std::string unixSocketPath, std::chrono::milliseconds delayEachWay)
    : m_target(std::move(unixSocketPath)), m_delay(delayEachWay) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return;
    }
    m_listener = fd;
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

DelayProxy::~DelayProxy() {
    m_stop = true;
    if (m_acceptor.joinable()) m_acceptor.join();
    std::vector<std::thread> pipes;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        pipes = std::move(m_pipes);
    }
    for (std::thread& t : pipes) t.join();
    for (int fd : m_sockets) ::close(fd);
    if (m_listener >= 0) ::close(m_listener);
}

void DelayProxy::acceptLoop() {
    while (!m_stop) {
        pollfd p{m_listener, POLLIN, 0};
        if (::poll(&p, 1, kIdlePollMs) <= 0) continue;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        const int one = 1;
        (void)::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_target.c_str(), sizeof address.sun_path - 1);
        if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(client);
            if (server >= 0) ::close(server);
            continue;
        }
        ++m_accepted;
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_sockets.push_back(client);
        m_sockets.push_back(server);
        m_pipes.emplace_back([this, client, server] { forward(client, server); });
        m_pipes.emplace_back([this, client, server] { forward(server, client); });
    }
}

// Passes what `from` sends to `to`, each chunk once it is m_delay old; ends when either side
// closes (shutting the other direction) or the proxy stops.
void DelayProxy::forward(int from, int to) {
    std::deque<std::pair<Clock::time_point, std::string>> held;
    bool open = true;
    char buffer[64 * 1024];
    while (!m_stop && (open || !held.empty())) {
        int timeout = kIdlePollMs;
        if (!held.empty()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(held.front().first - Clock::now()).count();
            timeout = static_cast<int>(std::max<long long>(0, std::min<long long>(wait, kIdlePollMs)));
        }
        pollfd p{from, static_cast<short>(open ? POLLIN : 0), 0};
        if (::poll(&p, 1, timeout) > 0 && open) {
            const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
            if (n <= 0) {
                open = false;
            } else {
                held.emplace_back(Clock::now() + m_delay, std::string(buffer, static_cast<std::size_t>(n)));
            }
        }
        while (!held.empty() && held.front().first <= Clock::now()) {
            if (!writeAll(to, held.front().second.data(), held.front().second.size())) {
                held.clear();
                open = false;
                break;
            }
            held.pop_front();
        }
    }
    (void)::shutdown(to, SHUT_WR);
}

std::string testPostgresSocket() {
    const char* dir = std::getenv("QUORNA_TEST_ODBC_DIR");
    if (dir == nullptr || std::getenv("QUORNA_TEST_PG_DSN") == nullptr) return {};
    // The server's port as scripts/odbc-test-env.sh starts it.
    return std::string(dir) + "/pgsock/.s.PGSQL.54329";
}

TcpDataSource::TcpDataSource(const std::string& name, int port) {
    if (const char* previous = std::getenv("ODBCINI")) m_previous = previous;
    // A file of its own each time: unixODBC keeps what it read of an ini file while its time stamp
    // (in seconds) stays the same.
    static int made = 0;
    m_file = (std::filesystem::temp_directory_path() /
              ("quorna-tcp-dsn-" + std::to_string(::getpid()) + "-" + std::to_string(++made) + ".ini"))
                 .string();
    std::ofstream(m_file) << "[" << name << "]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=" << port
                          << "\nDatabase=quorna\nSSLMode=disable\n";
    ::setenv("ODBCINI", m_file.c_str(), 1);
}

TcpDataSource::~TcpDataSource() {
    if (m_previous.empty()) {
        ::unsetenv("ODBCINI");
    } else {
        ::setenv("ODBCINI", m_previous.c_str(), 1);
    }
    std::error_code ignored;
    std::filesystem::remove(m_file, ignored);
}

}  // namespace quorna::test
