#pragma once
// The logger's word to the service manager, by the documented datagram protocol of systemd and
// without its library: "READY=1" once the first scan is done, "WATCHDOG=1" from the cycle at least
// every half of the watchdog period, "STOPPING=1" at the end. NOTIFY_SOCKET names the socket (a
// name starting with '@' is in the abstract namespace); WATCHDOG_USEC the period, WATCHDOG_PID the
// process it is meant for. Without NOTIFY_SOCKET nothing is sent; nothing ever waits.

#include <chrono>
#include <string>

namespace quorna {

class ServiceNotifier {
public:
    // Reads the environment.
    ServiceNotifier();
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    void ready();
    void stopping();
    // Sends WATCHDOG=1 when half the watchdog period has passed since the last one (or READY=1).
    void ping();

    [[nodiscard]] bool watchdogEnabled() const { return m_watchdogPeriod.count() > 0; }

private:
    bool send(const std::string& message);

    int m_fd = -1;
    std::string m_address;  // the socket's name, '\0' first in the abstract namespace
    std::chrono::microseconds m_watchdogPeriod{0};
    std::chrono::steady_clock::time_point m_lastPing{};
    bool m_ready = false;
};

}  // namespace quorna
