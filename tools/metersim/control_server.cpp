#include "control_server.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace quorna::metersim {

namespace {

constexpr int kBacklog = 8;
constexpr std::size_t kLongestLine = 64 * 1024;

void sendAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

std::unique_ptr<ControlServer> ControlServer::listenOn(const std::string& path, std::string& error)
{
    // The socket is bound under a temporary name and takes its own name only once it listens:
    // whoever sees the path may connect at once, and is never refused in between.
    const std::string binding = path + ".new";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (binding.size() >= sizeof address.sun_path) {
        error = "control socket path too long: " + path;
        return nullptr;
    }
    std::memcpy(address.sun_path, binding.c_str(), binding.size() + 1);
    for (const std::string& stale : {path, binding}) {
        struct stat info {};
        if (lstat(stale.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
            ::unlink(stale.c_str());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return nullptr;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, kBacklog) != 0 ||
        ::rename(binding.c_str(), path.c_str()) != 0) {
        error = "control socket " + path + ": " + std::strerror(errno);
        ::unlink(binding.c_str());
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<ControlServer>(new ControlServer(fd, path));
}

ControlServer::~ControlServer()
{
    for (const auto& [fd, pending] : m_clients)
        ::close(fd);
    ::close(m_listenFd);
    ::unlink(m_path.c_str());
}

void ControlServer::addPollFds(std::vector<pollfd>& fds) const
{
    fds.push_back(pollfd{m_listenFd, POLLIN, 0});
    for (const auto& [fd, pending] : m_clients)
        fds.push_back(pollfd{fd, POLLIN, 0});
}

void ControlServer::serve(const std::vector<pollfd>& fds, const Handler& handler)
{
    for (const pollfd& entry : fds) {
        if (entry.revents == 0)
            continue;
        if (entry.fd == m_listenFd) {
            const int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                m_clients.emplace(client, std::string());
        } else if (m_clients.count(entry.fd) != 0) {
            serveClient(entry.fd, handler);
        }
    }
}

void ControlServer::serveClient(int fd, const Handler& handler)
{
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    std::string& pending = m_clients[fd];
    if (n <= 0) {
        ::close(fd);
        m_clients.erase(fd);
        return;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    std::size_t newline;
    std::string replies;
    while ((newline = pending.find('\n')) != std::string::npos) {
        const std::string line = pending.substr(0, newline);
        pending.erase(0, newline + 1);
        replies += handler(line) + "\n";
    }
    if (pending.size() > kLongestLine) {
        replies += "err line too long\n";
        pending.clear();
    }
    if (!replies.empty())
        sendAll(fd, replies);
}

}  // namespace quorna::metersim
