#include "logger/http_endpoint.h"

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <httplib.h>
#include <mutex>
#include <vector>

namespace quorna {
namespace {

constexpr int kWorkerThreads = 4;
constexpr std::size_t kWaitingConnections = 16;
constexpr int kReadTimeoutSeconds = 2;
constexpr int kWriteTimeoutSeconds = 2;
constexpr std::size_t kKeepAliveRequests = 5;

// cpp-httplib's own pool queues every accepted connection without a limit; this one holds at most
// kWaitingConnections and makes the acceptor wait for room, so that the kernel's backlog takes the
// rest.
class BoundedPool final : public httplib::TaskQueue {
public:
    BoundedPool() {
        for (int i = 0; i < kWorkerThreads; ++i) m_threads.emplace_back([this] { work(); });
    }
    ~BoundedPool() override { shutdown(); }
    BoundedPool(const BoundedPool&) = delete;
    BoundedPool& operator=(const BoundedPool&) = delete;

    void enqueue(std::function<void()> job) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_room.wait(lock, [this] { return m_jobs.size() < kWaitingConnections || m_stopping; });
        if (m_stopping) {
            lock.unlock();
            job();  // serves (or times out) the connection and closes its socket
            return;
        }
        m_jobs.push_back(std::move(job));
        m_ready.notify_one();
    }

    void shutdown() override {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping && m_threads.empty()) return;
            m_stopping = true;
        }
        m_ready.notify_all();
        m_room.notify_all();
        for (std::thread& t : m_threads) {
            if (t.joinable()) t.join();
        }
        m_threads.clear();
    }

private:
    void work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_ready.wait(lock, [this] { return !m_jobs.empty() || m_stopping; });
                if (m_jobs.empty()) return;  // stopping, nothing left
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            m_room.notify_one();
            job();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::condition_variable m_room;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    bool m_stopping = false;
};

void notAllowed(const httplib::Request&, httplib::Response& res) {
    res.status = 405;
    res.set_header("Allow", "GET, HEAD");
    res.set_content("405 Method Not Allowed: this endpoint is read-only\n", "text/plain");
}

}  // namespace

std::optional<HttpAddress> parseHttpAddress(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    HttpAddress address;
    std::string host = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    address.port = std::atoi(port.c_str());
    if (address.port < 1 || address.port > 65535) return std::nullopt;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        if (host.empty()) return std::nullopt;
    } else if (host.find(':') != std::string::npos) {
        return std::nullopt;  // an IPv6 address goes in brackets
    }
    if (!host.empty()) address.host = host;
    return address;
}

HttpEndpoint::HttpEndpoint(const SnapshotBoard& board) : m_board(board) {}

HttpEndpoint::~HttpEndpoint() {
    if (m_server) m_server->stop();
    if (m_listener.joinable()) m_listener.join();
}

bool HttpEndpoint::start(const HttpAddress& address, std::string* error) {
    m_server = std::make_unique<httplib::Server>();
    httplib::Server& s = *m_server;
    s.new_task_queue = [] { return new BoundedPool; };
    s.set_read_timeout(kReadTimeoutSeconds, 0);
    s.set_write_timeout(kWriteTimeoutSeconds, 0);
    s.set_keep_alive_max_count(kKeepAliveRequests);
    s.set_keep_alive_timeout(kReadTimeoutSeconds);
    s.set_payload_max_length(0);
    if (address.host.find(':') != std::string::npos) s.set_address_family(AF_INET6);
    const SnapshotBoard& board = m_board;
    s.Get("/metrics", [&board](const httplib::Request&, httplib::Response& res) {
        res.set_content(metricsText(*board.latest()), "text/plain; version=0.0.4; charset=utf-8");
    });
    s.Get("/api/v1/meters", [&board](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(metersJson(*board.latest()), "application/json");
    });
    s.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(livePageHtml(), "text/html; charset=utf-8");
    });
    s.Post(".*", notAllowed);
    s.Put(".*", notAllowed);
    s.Patch(".*", notAllowed);
    s.Delete(".*", notAllowed);
    s.Options(".*", notAllowed);
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) res.set_content(std::to_string(res.status) + "\n", "text/plain");
    });
    errno = 0;
    if (!s.bind_to_port(address.host, address.port)) {
        *error = errno != 0 ? std::strerror(errno) : "the address cannot be bound";
        m_server.reset();
        return false;
    }
    m_port = address.port;
    m_listener = std::thread([&s] { s.listen_after_bind(); });
    return true;
}

}  // namespace quorna
