#pragma once
// The logger's read-only HTTP endpoint: GET /metrics (Prometheus), GET /api/v1/meters (JSON) and
// GET / (the live panel page), served by civetweb from a few threads of its own. They only read
// the latest snapshot on the board; the station is never touched from them.
//
// Bounds: 4 worker threads and at most 16 accepted connections waiting for one (further clients
// wait in the kernel's backlog of 64); a request's line and headers together may take 8 KiB, and
// must arrive within 2 s of its first byte (a slow client is dropped then); no request body is
// read, no file is served, one request per connection.

#include <optional>
#include <string>

#include "logger/live_snapshot.h"

struct mg_context;

namespace quorna {

struct HttpAddress {
    std::string host = "127.0.0.1";
    int port = 0;
};
// "ADDRESS:PORT", ":PORT" (127.0.0.1), "[IPv6]:PORT"; nothing when it is none of them.
[[nodiscard]] std::optional<HttpAddress> parseHttpAddress(const std::string& text);

class HttpEndpoint {
public:
    explicit HttpEndpoint(const SnapshotBoard& board) : m_board(board) {}
    ~HttpEndpoint();  // stops the server and joins its threads
    HttpEndpoint(const HttpEndpoint&) = delete;
    HttpEndpoint& operator=(const HttpEndpoint&) = delete;

    // Binds and starts serving; false with the reason in *error when the address cannot be bound.
    bool start(const HttpAddress& address, std::string* error);

    [[nodiscard]] const SnapshotBoard& board() const { return m_board; }

private:
    const SnapshotBoard& m_board;
    mg_context* m_context = nullptr;
    bool m_libraryOpen = false;
};

}  // namespace quorna
