#pragma once
// A bare Modbus TCP client for the tests and the benchmark of the logger's gateway: one blocking
// connection, frames sent as given, answers read by their MBAP length with a time-out.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorna::test {

class ModbusTcpClient {
public:
    // Connects to port on the loopback, or on another address of this machine (host byte order).
    explicit ModbusTcpClient(int port, std::uint32_t address4 = INADDR_LOOPBACK) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(address4);
        if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        const int on = 1;
        if (m_fd >= 0) ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ~ModbusTcpClient() {
        if (m_fd >= 0) ::close(m_fd);
    }
    ModbusTcpClient(const ModbusTcpClient&) = delete;
    ModbusTcpClient& operator=(const ModbusTcpClient&) = delete;

    [[nodiscard]] bool connected() const { return m_fd >= 0; }

    bool sendRaw(const std::vector<std::uint8_t>& bytes) const {
        return m_fd >= 0 && ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // A request: MBAP header with the transaction id and unit, then the PDU.
    bool send(std::uint16_t transactionId, std::uint8_t unit, const std::vector<std::uint8_t>& pdu) const {
        std::vector<std::uint8_t> frame{static_cast<std::uint8_t>(transactionId >> 8),
                                        static_cast<std::uint8_t>(transactionId & 0xFF),
                                        0,
                                        0,
                                        static_cast<std::uint8_t>((pdu.size() + 1) >> 8),
                                        static_cast<std::uint8_t>((pdu.size() + 1) & 0xFF),
                                        unit};
        frame.insert(frame.end(), pdu.begin(), pdu.end());
        return sendRaw(frame);
    }
    // One whole answer frame (header included), or nothing when none came within timeoutMs;
    // closedByPeer tells an orderly close from a time-out.
    std::optional<std::vector<std::uint8_t>> receive(int timeoutMs, bool* closedByPeer = nullptr) {
        if (closedByPeer != nullptr) *closedByPeer = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (m_in.size() >= 6) {
                const std::size_t whole = 6 + static_cast<std::size_t>(m_in[4] << 8 | m_in[5]);
                if (m_in.size() >= whole) {
                    std::vector<std::uint8_t> frame(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(whole));
                    m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(whole));
                    return frame;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || m_fd < 0) return std::nullopt;
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
            std::uint8_t chunk[512];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                if (closedByPeer != nullptr) *closedByPeer = n == 0;
                return std::nullopt;
            }
            m_in.insert(m_in.end(), chunk, chunk + n);
        }
    }
    // Whether the server closed the connection within timeoutMs.
    bool closedWithin(int timeoutMs) {
        bool closed = false;
        while (!closed) {
            if (!receive(timeoutMs, &closed)) break;
        }
        return closed;
    }

private:
    int m_fd = -1;
    std::vector<std::uint8_t> m_in;
};

inline std::vector<std::uint8_t> readPdu(int start, int count) {
    return {3, static_cast<std::uint8_t>(start >> 8), static_cast<std::uint8_t>(start & 0xFF),
            static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count & 0xFF)};
}
inline std::vector<std::uint8_t> writePdu(int reg, int value) {
    return {6, static_cast<std::uint8_t>(reg >> 8), static_cast<std::uint8_t>(reg & 0xFF),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)};
}
// The registers of a read answer (frame with its header).
inline std::vector<int> registersOf(const std::vector<std::uint8_t>& frame) {
    std::vector<int> values;
    if (frame.size() < 9 || frame[7] != 3) return values;
    for (std::size_t i = 9; i + 1 < frame.size(); i += 2) values.push_back(frame[i] << 8 | frame[i + 1]);
    return values;
}
inline int transactionIdOf(const std::vector<std::uint8_t>& frame) { return frame[0] << 8 | frame[1]; }

}  // namespace quorna::test
