#include "logger/service_notifier.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quorna {

ServiceNotifier::ServiceNotifier() {
    const char* socketName = std::getenv("NOTIFY_SOCKET");
    if (socketName == nullptr || (socketName[0] != '/' && socketName[0] != '@')) return;
    m_address = socketName;
    if (m_address.size() >= sizeof(sockaddr_un::sun_path)) return;
    if (m_address[0] == '@') m_address[0] = '\0';
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);

    const char* usec = std::getenv("WATCHDOG_USEC");
    const char* pid = std::getenv("WATCHDOG_PID");
    // The period is meant for this process only when WATCHDOG_PID, if set, names it.
    const bool forUs = pid == nullptr || std::strtol(pid, nullptr, 10) == static_cast<long>(::getpid());
    if (usec != nullptr && forUs) {
        char* end = nullptr;
        const unsigned long long value = std::strtoull(usec, &end, 10);
        if (end != usec && *end == '\0') m_watchdogPeriod = std::chrono::microseconds(static_cast<long long>(value));
    }
}

ServiceNotifier::~ServiceNotifier() {
    if (m_fd >= 0) ::close(m_fd);
}

bool ServiceNotifier::send(const std::string& message) {
    if (m_fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, m_address.data(), m_address.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + m_address.size() +
                                               (m_address[0] == '\0' ? 0 : 1));
    for (;;) {
        const ssize_t n = ::sendto(m_fd, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address), length);
        if (n >= 0) return true;
        if (errno != EINTR) return false;  // a full or absent socket: the manager is not listening, no matter
    }
}

void ServiceNotifier::ready() {
    send("READY=1");
    m_ready = true;
    m_lastPing = std::chrono::steady_clock::now();
}

void ServiceNotifier::stopping() { send("STOPPING=1"); }

void ServiceNotifier::ping() {
    // Before READY=1 the manager's start time-out watches the logger, not the watchdog.
    if (!watchdogEnabled() || !m_ready) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastPing < m_watchdogPeriod / 2) return;
    if (send("WATCHDOG=1")) m_lastPing = now;
}

}  // namespace quorna
