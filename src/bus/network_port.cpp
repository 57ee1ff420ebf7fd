#include "bus/network_port.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace quorna {
namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// The MBAP header: transaction id, protocol id and length (2 bytes each), then the unit id.
// The length counts the bytes after itself.
constexpr std::size_t kMbapLengthEnd = 6;

// Answers in a row that did not come before a connection is taken for wedged and made anew: a
// gateway whose connection hangs answers nothing more on it, while meters behind it that are
// merely silent lose nothing by a fresh connection.
constexpr int kWedgedAfterTimeouts = 3;

// What an RTU answer's first bytes tell of its length, CRC included.
constexpr std::size_t kUnknownLength = 0;               // not enough bytes yet
constexpr std::size_t kNoLength = static_cast<std::size_t>(-1);  // a function whose length we cannot tell

std::size_t rtuAnswerLength(const std::uint8_t* frame, std::size_t got) {
    constexpr std::size_t kCrc = 2;
    if (got < 2) return kUnknownLength;
    const std::uint8_t function = frame[1];
    if ((function & 0x80) != 0) return 3 + kCrc;  // address, function, exception code
    switch (function) {
        case 3:
        case 17:
            // Address, function, byte count, the data.
            return got < 3 ? kUnknownLength : 3 + static_cast<std::size_t>(frame[2]) + kCrc;
        case 6:
        case 16: return 6 + kCrc;  // address, function, register, value or count
        default: return kNoLength;
    }
}

// A name's resolution, shared with the resolver thread so that a resolver that outlasts the
// connect time-out finishes on its own after the caller has given up.
struct Resolution {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    addrinfo* addresses = nullptr;

    Resolution() = default;
    Resolution(const Resolution&) = delete;
    Resolution& operator=(const Resolution&) = delete;
    ~Resolution() {
        if (addresses != nullptr) ::freeaddrinfo(addresses);
    }
};

bool numericHost(const std::string& host) {
    in6_addr scratch{};
    return ::inet_pton(AF_INET, host.c_str(), &scratch) == 1 || ::inet_pton(AF_INET6, host.c_str(), &scratch) == 1;
}

// The host's addresses, or nullptr when it does not resolve by the deadline.
std::shared_ptr<Resolution> resolve(const NetworkAddress& address, Clock::time_point deadline) {
    auto resolution = std::make_shared<Resolution>();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    if (numericHost(address.host)) {
        hints.ai_flags |= AI_NUMERICHOST;
        if (::getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &resolution->addresses) != 0) return nullptr;
        return resolution;
    }
    // The system's resolver has time-outs of its own, longer than the window may wait.
    std::thread([resolution, host = address.host, port = address.port, hints] {
        addrinfo* found = nullptr;
        if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) found = nullptr;
        const std::lock_guard lock(resolution->mutex);
        resolution->addresses = found;
        resolution->done = true;
        resolution->finished.notify_all();
    }).detach();
    std::unique_lock lock(resolution->mutex);
    if (!resolution->finished.wait_until(lock, deadline, [&] { return resolution->done; })) return nullptr;
    return resolution->addresses != nullptr ? resolution : nullptr;
}

int remainingMillis(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A connected, non-blocking socket to the first address that accepts, or -1.
int connectTo(const addrinfo* addresses, Clock::time_point deadline) {
    for (const addrinfo* a = addresses; a != nullptr; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        bool connected = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
        if (!connected && errno == EINPROGRESS) {
            pollfd pfd{fd, POLLOUT, 0};
            int ready = 0;
            do {
                ready = ::poll(&pfd, 1, remainingMillis(deadline));
            } while (ready < 0 && errno == EINTR);
            int error = 0;
            socklen_t length = sizeof error;
            connected = ready > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        if (connected) {
            // A request is one small write that must leave at once; dead peers are noticed in time.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
            return fd;
        }
        ::close(fd);
        if (Clock::now() >= deadline) break;
    }
    return -1;
}

class NetworkPort final : public SerialPort {
public:
    NetworkPort(int fd, Framing framing) : m_fd(fd), m_framing(framing) {}
    ~NetworkPort() override { ::close(m_fd); }
    NetworkPort(const NetworkPort&) = delete;
    NetworkPort& operator=(const NetworkPort&) = delete;

    // The gateway's serial side has its own settings; the connection has none.
    void applySettings(const LineSettings&) override {}
    void setTimeouts(const CommTimeouts& timeouts) override { m_timeouts = timeouts; }

    bool write(const std::uint8_t* data, std::size_t count) override {
        if (m_lost) return false;
        m_awaitingAnswer = true;
        const auto deadline = Clock::now() + Millis(m_timeouts.writeTotalConstant +
                                                    m_timeouts.writeTotalMultiplier * static_cast<int>(count));
        std::size_t sent = 0;
        while (sent < count) {
            const ssize_t n = ::send(m_fd, data + sent, count - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                m_lost = true;
                return false;
            }
            pollfd pfd{m_fd, POLLOUT, 0};
            if (::poll(&pfd, 1, remainingMillis(deadline)) <= 0) return false;
        }
        return true;
    }

    // An answer ends when the length it announces has arrived: the MBAP header's length, or an RTU
    // answer's function and byte count, so that pauses the network puts inside an answer (small
    // segments, delayed acknowledgements) do not cut it. Only an RTU answer of a function whose
    // length its first bytes do not tell ends as on the serial line, after the interval of silence.
    // An answer that stops half-way leaves the stream at an unknown place, and answers that do not
    // come several times in a row mean a wedged connection: either way the port is lost, and the
    // link connects again.
    int read(std::uint8_t* buffer, std::size_t capacity) override {
        if (m_lost) return -1;
        const bool answer = m_awaitingAnswer;
        m_awaitingAnswer = false;
        const auto totalDeadline =
            Clock::now() + Millis(m_timeouts.readTotalConstant + m_timeouts.readTotalMultiplier * static_cast<int>(capacity));
        auto deadline = totalDeadline;
        std::size_t wanted = capacity;
        std::size_t got = 0;
        std::size_t frame = kUnknownLength;
        while (got < wanted) {
            const auto now = Clock::now();
            if (now >= deadline) break;
            pollfd pfd{m_fd, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
            const timespec ts{static_cast<time_t>(left.count() / 1000000000), static_cast<long>(left.count() % 1000000000)};
            const int ready = ::ppoll(&pfd, 1, &ts, nullptr);
            if (ready < 0) {
                if (errno == EINTR) continue;
                return -1;
            }
            if (ready == 0) break;
            const ssize_t n = ::recv(m_fd, buffer + got, wanted - got, 0);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
                if (m_framing == Framing::ModbusTcp) {
                    if (got >= kMbapLengthEnd) frame = kMbapLengthEnd + (static_cast<std::size_t>(buffer[4]) << 8 | buffer[5]);
                } else {
                    frame = rtuAnswerLength(buffer, got);
                }
                if (frame == kNoLength) {
                    if (m_timeouts.readInterval > 0) {
                        const auto intervalDeadline = Clock::now() + Millis(m_timeouts.readInterval);
                        deadline = intervalDeadline < totalDeadline ? intervalDeadline : totalDeadline;
                    }
                } else if (frame != kUnknownLength) {
                    wanted = frame < capacity ? frame : capacity;
                }
                continue;
            }
            if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
            // The gateway closed the connection or it broke: the port is lost.
            m_lost = true;
            return got > 0 ? static_cast<int>(got) : -1;
        }
        // A whole answer: its announced length arrived, or silence ended one whose length is not told.
        if (answer) noteAnswer(got, got > 0 && (frame == kNoLength || (frame != kUnknownLength && got >= wanted)));
        return static_cast<int>(got);
    }

    bool waitReadable(std::chrono::milliseconds wait) override {
        if (m_lost) return true;
        pollfd pfd{m_fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, wait.count() > 0 ? static_cast<int>(wait.count()) : 0);
        return ready > 0;
    }

    bool lost() const override { return m_lost; }
    Framing framing() const override { return m_framing; }
    std::chrono::milliseconds reopenPause() const override { return kReconnectPause; }

private:
    // How the read that followed a request ended: a whole answer, half of one, or nothing.
    void noteAnswer(std::size_t got, bool whole) {
        if (whole) {
            m_timeoutsInRow = 0;
            return;
        }
        if (got > 0) {
            m_lost = true;  // the rest of it may still come, in front of the next answer
            return;
        }
        if (++m_timeoutsInRow >= kWedgedAfterTimeouts) m_lost = true;
    }

    int m_fd;
    Framing m_framing;
    bool m_lost = false;
    bool m_awaitingAnswer = false;  // a request went out and its answer has not been read
    int m_timeoutsInRow = 0;        // requests in a row whose answer did not come
    CommTimeouts m_timeouts{};
};

}  // namespace

bool isNetworkPortName(std::string_view name) {
    return name.starts_with(kModbusTcpScheme) || name.starts_with(kRtuOverTcpScheme);
}

std::optional<NetworkAddress> parseNetworkPortName(std::string_view name) {
    NetworkAddress address;
    if (name.starts_with(kModbusTcpScheme)) {
        address.framing = Framing::ModbusTcp;
        name.remove_prefix(kModbusTcpScheme.size());
    } else if (name.starts_with(kRtuOverTcpScheme)) {
        address.framing = Framing::Rtu;
        name.remove_prefix(kRtuOverTcpScheme.size());
    } else {
        return std::nullopt;
    }
    std::string_view port;
    if (name.starts_with('[')) {
        const auto close = name.find(']');
        if (close == std::string_view::npos || close + 1 >= name.size() || name[close + 1] != ':') return std::nullopt;
        address.host = name.substr(1, close - 1);
        port = name.substr(close + 2);
    } else {
        const auto colon = name.rfind(':');
        if (colon == std::string_view::npos) return std::nullopt;
        address.host = name.substr(0, colon);
        port = name.substr(colon + 1);
        if (address.host.find(':') != std::string::npos) return std::nullopt;  // IPv6 needs its brackets
    }
    int number = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (address.host.empty() || port.empty() || error != std::errc() || end != port.data() + port.size() ||
        number < 1 || number > 65535) {
        return std::nullopt;
    }
    address.port = std::to_string(number);
    return address;
}

std::unique_ptr<SerialPort> openNetworkPort(const NetworkAddress& address, std::chrono::milliseconds connectTimeout) {
    const auto deadline = Clock::now() + connectTimeout;
    const auto resolution = resolve(address, deadline);
    if (!resolution) return nullptr;
    const int fd = connectTo(resolution->addresses, deadline);
    if (fd < 0) return nullptr;
    return std::make_unique<NetworkPort>(fd, address.framing);
}

}  // namespace quorna
