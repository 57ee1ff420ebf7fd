#include "logger/http_endpoint.h"

#include <civetweb.h>
#include <cstdlib>
#include <cstring>

namespace quorna {
namespace {

// A whole answer; the body is left out for HEAD.
void answer(mg_connection* conn, int status, const char* reason, const char* type, const std::string& body,
            const char* extraHeaders = "") {
    mg_printf(conn,
              "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\nCache-Control: no-store\r\n"
              "X-Content-Type-Options: nosniff\r\n%sConnection: close\r\n\r\n",
              status, reason, type, body.size(), extraHeaders);
    const mg_request_info* request = mg_get_request_info(conn);
    if (request != nullptr && request->request_method != nullptr && std::strcmp(request->request_method, "HEAD") == 0) {
        return;
    }
    mg_write(conn, body.data(), body.size());
}

int handle(mg_connection* conn, void* data) {
    const auto& endpoint = *static_cast<const HttpEndpoint*>(data);
    const mg_request_info* request = mg_get_request_info(conn);
    const char* method = request->request_method != nullptr ? request->request_method : "";
    if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0) {
        answer(conn, 405, "Method Not Allowed", "text/plain", "405 Method Not Allowed: this endpoint is read-only\n",
               "Allow: GET, HEAD\r\n");
        return 405;
    }
    // The path as sent (decoded, not cleaned): only the three names are served, nothing else.
    const std::string path = request->local_uri_raw != nullptr ? request->local_uri_raw : "";
    if (path == "/metrics") {
        answer(conn, 200, "OK", "text/plain; version=0.0.4; charset=utf-8", metricsText(*endpoint.board().latest()));
        return 200;
    }
    if (path == "/api/v1/meters") {
        answer(conn, 200, "OK", "application/json", metersJson(*endpoint.board().latest()));
        return 200;
    }
    if (path == "/") {
        answer(conn, 200, "OK", "text/html; charset=utf-8", livePageHtml());
        return 200;
    }
    answer(conn, 404, "Not Found", "text/plain", "404 Not Found\n");
    return 404;
}

// civetweb's own messages (a client that went away, a bad request) would end up on the logger's
// standard error between its lines: they are dropped.
int quiet(const mg_connection*, const char*) { return 1; }

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
    } else if (host.find_first_of(":[]") != std::string::npos) {
        return std::nullopt;  // an IPv6 address goes in brackets
    }
    if (host.find_first_of(" ,") != std::string::npos) return std::nullopt;
    if (!host.empty()) address.host = host;
    return address;
}

HttpEndpoint::~HttpEndpoint() {
    if (m_context != nullptr) mg_stop(m_context);
    if (m_libraryOpen) mg_exit_library();
}

bool HttpEndpoint::start(const HttpAddress& address, std::string* error) {
    if (!m_libraryOpen) {
        mg_init_library(0);
        m_libraryOpen = true;
    }
    const bool ipv6 = address.host.find(':') != std::string::npos;
    const std::string ports =
        (ipv6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
    const char* options[] = {"listening_ports", ports.c_str(),
                             "num_threads", "4",
                             "connection_queue", "16",
                             "listen_backlog", "64",
                             "max_request_size", "8192",
                             "request_timeout_ms", "2000",
                             "linger_timeout_ms", "0",
                             "enable_keep_alive", "no",
                             "enable_directory_listing", "no",
                             nullptr};
    mg_callbacks callbacks{};
    callbacks.log_message = quiet;
    mg_init_data init{};
    init.callbacks = &callbacks;
    init.user_data = this;
    init.configuration_options = options;
    char text[256] = "";
    unsigned code = 0;
    mg_error_data failure{};
    failure.code = &code;
    failure.text = text;
    failure.text_buffer_size = sizeof text;
    m_context = mg_start2(&init, &failure);
    if (m_context == nullptr) {
        *error = text[0] != '\0' ? text : "the address cannot be bound";
        return false;
    }
    mg_set_request_handler(m_context, "/", handle, this);
    return true;
}

}  // namespace quorna
