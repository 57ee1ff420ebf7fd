#pragma once
// The logger's read-only HTTP endpoint: GET /metrics (Prometheus), GET /api/v1/meters (JSON) and
// GET / (the live panel page), served by cpp-httplib from a few threads of its own. They only read
// the latest snapshot on the board; the station is never touched from them.
//
// Bounds: 4 worker threads and at most 16 accepted connections waiting for one (the acceptor
// stops accepting meanwhile, further clients wait in the kernel's backlog); a request line or a
// header line longer than 8 KiB is refused, a body is never read (no route takes one); a client
// silent for 2 s is dropped, a keep-alive connection serves at most 5 requests.

#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "logger/live_snapshot.h"

namespace httplib {
class Server;
}

namespace quorna {

struct HttpAddress {
    std::string host = "127.0.0.1";
    int port = 0;
};
// "ADDRESS:PORT", ":PORT" (127.0.0.1), "[IPv6]:PORT"; nothing when it is none of them.
[[nodiscard]] std::optional<HttpAddress> parseHttpAddress(const std::string& text);

class HttpEndpoint {
public:
    explicit HttpEndpoint(const SnapshotBoard& board);
    ~HttpEndpoint();  // stops the server and joins its threads
    HttpEndpoint(const HttpEndpoint&) = delete;
    HttpEndpoint& operator=(const HttpEndpoint&) = delete;

    // Binds and starts serving; false with the reason in *error when the address cannot be bound.
    bool start(const HttpAddress& address, std::string* error);
    [[nodiscard]] int port() const { return m_port; }

private:
    const SnapshotBoard& m_board;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_listener;
    int m_port = 0;
};

}  // namespace quorna
