// The control socket: a Unix stream socket on which any number of clients send command
// lines and get one reply line per command.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pollfd;

namespace quorna::metersim {

class ControlServer {
public:
    using Handler = std::function<std::string(std::string_view line)>;

    // Listens on `path` (an existing socket file there is replaced). Returns nullptr and sets
    // `error` on failure.
    [[nodiscard]] static std::unique_ptr<ControlServer> listenOn(const std::string& path, std::string& error);

    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;
    ~ControlServer();  // closes every connection and removes the socket file

    // Appends the descriptors to watch for input.
    void addPollFds(std::vector<pollfd>& fds) const;

    // Serves whatever `fds` reports ready among this server's descriptors: accepts new
    // clients, answers every complete line with `handler`'s reply, drops closed clients.
    void serve(const std::vector<pollfd>& fds, const Handler& handler);

private:
    ControlServer(int listenFd, std::string path) : m_listenFd(listenFd), m_path(std::move(path)) {}

    void serveClient(int fd, const Handler& handler);

    int m_listenFd;
    std::string m_path;
    std::map<int, std::string> m_clients;  // descriptor -> bytes of an unfinished line
};

}  // namespace quorna::metersim
