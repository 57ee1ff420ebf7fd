#include "logger/modbus_gateway.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bus/modbus_master.h"
#include "logger/stderr_operator.h"

namespace quorna {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kListenBacklog = 16;
constexpr int kMaxAcceptsPerPump = 32;  // a flood of connections is taken in pieces
constexpr std::size_t kReceiveChunk = 512;
constexpr std::uint8_t kMaxUnit = 247;  // the highest address a meter may have

bool parsePort(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

std::string addressText(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &a.sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(a.sin6_port));
    }
    const auto& a = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &a.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(a.sin_port));
}

// The address as 16 bytes (an IPv4 address as its IPv6-mapped form) for comparing with blocks.
void addressBytes(const sockaddr_storage& address, std::uint8_t (&bytes)[16], bool& v4) {
    std::memset(bytes, 0, sizeof bytes);
    if (address.ss_family == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(address);
        std::memcpy(bytes, &a.sin6_addr, 16);
        v4 = IN6_IS_ADDR_V4MAPPED(&a.sin6_addr);
        if (v4) std::memmove(bytes, bytes + 12, 4);
        return;
    }
    const auto& a = reinterpret_cast<const sockaddr_in&>(address);
    std::memcpy(bytes, &a.sin_addr, 4);
    v4 = true;
}

bool isLoopback(const sockaddr_storage& address) {
    std::uint8_t bytes[16];
    bool v4 = false;
    addressBytes(address, bytes, v4);
    if (v4) return bytes[0] == 127;
    static const std::uint8_t kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::memcmp(bytes, kLoopback6, 16) == 0;
}

bool inBlock(const std::uint8_t* bytes, bool v4, const AddressBlock& block) {
    if (v4 == block.v6) return false;
    int bits = block.bits;
    for (int i = 0; bits > 0; ++i, bits -= 8) {
        const unsigned mask = bits >= 8 ? 0xFFU : (0xFFU << (8 - bits)) & 0xFFU;
        if (((bytes[i] ^ block.bytes[i]) & mask) != 0) return false;
    }
    return true;
}

}  // namespace

std::optional<sockaddr_storage> parseListenAddress(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    std::string host = text.substr(0, colon);
    std::uint16_t port = 0;
    if (!parsePort(text.substr(colon + 1), port)) return std::nullopt;
    sockaddr_storage address{};
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        auto& a = reinterpret_cast<sockaddr_in6&>(address);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        if (::inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &a.sin6_addr) != 1) return std::nullopt;
        return address;
    }
    if (host.empty() || host == "localhost") host = "127.0.0.1";
    auto& a = reinterpret_cast<sockaddr_in&>(address);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1) return std::nullopt;
    return address;
}

std::optional<std::vector<AddressBlock>> parseWriters(const std::string& text, std::string* bad) {
    std::vector<AddressBlock> blocks;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (std::isspace(static_cast<unsigned char>(text[i])) != 0 || text[i] == ',')) ++i;
        std::size_t end = i;
        while (end < text.size() && std::isspace(static_cast<unsigned char>(text[end])) == 0 && text[end] != ',') ++end;
        if (end == i) break;
        const std::string word = text.substr(i, end - i);
        i = end;
        const auto slash = word.find('/');
        const std::string host = word.substr(0, slash);
        AddressBlock block;
        if (::inet_pton(AF_INET, host.c_str(), block.bytes) == 1) {
            block.bits = 32;
        } else if (::inet_pton(AF_INET6, host.c_str(), block.bytes) == 1) {
            block.v6 = true;
            block.bits = 128;
        } else {
            if (bad != nullptr) *bad = word;
            return std::nullopt;
        }
        if (slash != std::string::npos) {
            const std::string bits = word.substr(slash + 1);
            const int most = block.bits;
            if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != std::string::npos ||
                std::atoi(bits.c_str()) > most) {
                if (bad != nullptr) *bad = word;
                return std::nullopt;
            }
            block.bits = std::atoi(bits.c_str());
        }
        blocks.push_back(block);
    }
    return blocks;
}

struct ModbusGateway::Client {
    struct Waiting {
        MbapRequest request;
        Clock::time_point since;
    };
    int fd = -1;
    sockaddr_storage peer{};
    std::vector<std::uint8_t> in;  // received, not yet a whole request
    std::deque<Waiting> queue;
    std::vector<std::uint8_t> out;  // answers not yet taken by the socket
    Clock::time_point lastHeard;
    bool closed = false;

    ~Client() {
        if (fd >= 0) ::close(fd);
    }
    // Whole requests out of the received bytes, while the queue has room. A malformed header
    // closes the connection: nothing after it can be trusted to be a frame.
    void parse() {
        while (!closed && queue.size() < kGatewayMaxQueue) {
            Waiting waiting;
            std::size_t consumed = 0;
            const MbapParse result = parseMbapRequest(in.data(), in.size(), waiting.request, consumed);
            if (result == MbapParse::Malformed) {
                closed = true;
                return;
            }
            if (result == MbapParse::Incomplete) return;
            in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(consumed));
            waiting.since = Clock::now();
            queue.push_back(std::move(waiting));
        }
    }
};

ModbusGateway::ModbusGateway(Bus& bus, StderrOperator& op) : m_bus(bus), m_op(op) {
    if (const char* idle = std::getenv(kGatewayIdleVariable); idle != nullptr && std::atoi(idle) > 0) {
        m_idleDrop = std::chrono::milliseconds(std::atoi(idle));
    }
}

ModbusGateway::~ModbusGateway() {
    if (m_listen >= 0) ::close(m_listen);
    m_bus.setBetweenTransactions(nullptr);
}

bool ModbusGateway::start(const std::string& listen, const std::string& writers, bool readOnly, std::string* error) {
    const auto address = parseListenAddress(listen);
    if (!address) {
        *error = "not an address and port (ADDRESS:PORT, :PORT, [IPV6]:PORT)";
        return false;
    }
    std::string bad;
    const auto blocks = parseWriters(writers, &bad);
    if (!blocks) {
        *error = "gateway_writers: " + bad + " is not an address or an address block";
        return false;
    }
    const int fd = ::socket(address->ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const socklen_t length = address->ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&*address), length) != 0 || ::listen(fd, kListenBacklog) != 0) {
        *error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    sockaddr_storage bound = *address;
    socklen_t boundLength = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    m_listen = fd;
    m_writers = *blocks;
    m_readOnly = readOnly;
    const std::string where = addressText(bound);
    const std::string writes = readOnly ? "no client may write"
                               : m_writers.empty() ? "writes from this machine only"
                                                   : "writes from this machine and the gateway_writers";
    m_op.write(MessageLevel::Info, "the Modbus TCP gateway listens on " + where + " (" + writes + ")");
    if (!isLoopback(bound)) {
        m_op.write(MessageLevel::Warning, "the Modbus TCP gateway listens on " + where +
                                              ", beyond this machine: anyone who reaches it can read the meters");
    }
    m_bus.setBetweenTransactions([this] { serveBetween(); });
    return true;
}

void ModbusGateway::serveFor(int ms) {
    if (!active()) return;
    const bool waiting = std::any_of(m_clients.begin(), m_clients.end(),
                                     [](const auto& c) { return !c->closed && !c->queue.empty(); });
    pump(waiting ? 0 : ms);
    forwardOne();
}

void ModbusGateway::serveBetween() {
    if (!active() || m_forwarding) return;
    pump(0);
    forwardOne();
}

void ModbusGateway::pump(int timeoutMs) {
    std::vector<pollfd> fds;
    fds.reserve(m_clients.size() + 1);
    fds.push_back({m_listen, POLLIN, 0});
    for (const auto& client : m_clients) {
        short events = 0;
        if (client->queue.size() < kGatewayMaxQueue) events |= POLLIN;
        if (!client->out.empty()) events |= POLLOUT;
        fds.push_back({client->fd, events, 0});
    }
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    if (ready > 0) {
        for (std::size_t i = 0; i < m_clients.size(); ++i) {
            Client& client = *m_clients[i];
            const short revents = fds[i + 1].revents;
            if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) receive(client);
            if ((revents & POLLOUT) != 0) flush(client);
        }
        if ((fds[0].revents & POLLIN) != 0) accept();
    }
    const auto now = Clock::now();
    for (const auto& client : m_clients) {
        client->parse();
        if (client->queue.empty() && client->out.empty() && now - client->lastHeard > m_idleDrop) client->closed = true;
    }
    dropClosed();
}

void ModbusGateway::accept() {
    for (int i = 0; i < kMaxAcceptsPerPump; ++i) {
        auto client = std::make_unique<Client>();
        socklen_t length = sizeof client->peer;
        client->fd = ::accept4(m_listen, reinterpret_cast<sockaddr*>(&client->peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client->fd < 0) return;  // none waiting (or out of descriptors: the next pump tries again)
        // Beyond the limit the connection is closed at once, so that a flood costs nothing kept.
        if (m_clients.size() >= static_cast<std::size_t>(kGatewayMaxClients)) continue;
        client->lastHeard = Clock::now();
        m_clients.push_back(std::move(client));
    }
}

void ModbusGateway::receive(Client& client) {
    while (!client.closed && client.queue.size() < kGatewayMaxQueue) {
        std::uint8_t chunk[kReceiveChunk];
        const ssize_t n = ::recv(client.fd, chunk, sizeof chunk, 0);
        if (n == 0) {
            client.closed = true;
            return;
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) client.closed = true;
            return;
        }
        client.lastHeard = Clock::now();
        client.in.insert(client.in.end(), chunk, chunk + n);
        client.parse();
    }
}

void ModbusGateway::flush(Client& client) {
    while (!client.closed && !client.out.empty()) {
        const ssize_t n = ::send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) client.closed = true;
            break;
        }
        client.out.erase(client.out.begin(), client.out.begin() + n);
    }
    // A client that sends requests but does not take its answers is not kept in memory.
    if (client.out.size() > kGatewayMaxUnsent) client.closed = true;
}

void ModbusGateway::answer(Client& client, std::vector<std::uint8_t> frame) {
    client.out.insert(client.out.end(), frame.begin(), frame.end());
    client.lastHeard = Clock::now();  // idle counts from its last request or answer
    flush(client);
}

bool ModbusGateway::mayWrite(const Client& client) const {
    if (m_readOnly) return false;
    if (isLoopback(client.peer)) return true;
    std::uint8_t bytes[16];
    bool v4 = false;
    addressBytes(client.peer, bytes, v4);
    return std::any_of(m_writers.begin(), m_writers.end(),
                       [&](const AddressBlock& block) { return inBlock(bytes, v4, block); });
}

bool ModbusGateway::forwardOne() {
    if (m_forwarding || m_clients.empty()) return false;
    Client* client = nullptr;
    for (std::size_t k = 0; k < m_clients.size(); ++k) {
        const std::size_t index = (m_nextClient + k) % m_clients.size();
        if (!m_clients[index]->closed && !m_clients[index]->queue.empty()) {
            client = m_clients[index].get();
            m_nextClient = index + 1;
            break;
        }
    }
    if (client == nullptr) return false;
    const Client::Waiting waiting = std::move(client->queue.front());
    client->queue.pop_front();
    const MbapRequest& request = waiting.request;
    const std::uint8_t function = request.pdu[0];
    const auto exception = [&](std::uint8_t code) {
        answer(*client, mbapException(request.transactionId, request.unit, function, code));
    };
    ++m_counters.requests;
    if (const std::uint8_t verdict = gatewayVerdict(request.pdu); verdict != 0) {
        ++m_counters.refused;
        exception(verdict);
    } else if (isWriteRequest(request.pdu) && !mayWrite(*client)) {
        ++m_counters.refused;
        exception(kIllegalFunction);
    } else if (request.unit == 0 || request.unit > kMaxUnit) {
        ++m_counters.portLost;  // no meter can have that address: no path leads there
        exception(kGatewayPathUnavailable);
    } else if (Clock::now() - waiting.since > kGatewayQueueWait) {
        ++m_counters.silent;
        exception(kGatewayTargetFailed);
    } else {
        std::vector<std::uint8_t> pdu;
        m_forwarding = true;
        const ForwardResult result = forwardRequest(m_bus, request.unit, request.pdu, pdu);
        m_forwarding = false;
        if (result == ForwardResult::Answered) {
            ++m_counters.answered;
            answer(*client, mbapAnswer(request.transactionId, request.unit, pdu.data(), pdu.size()));
        } else if (result == ForwardResult::PortLost) {
            ++m_counters.portLost;
            exception(kGatewayPathUnavailable);
        } else {
            ++m_counters.silent;
            exception(kGatewayTargetFailed);
        }
    }
    client->parse();  // requests held back while its queue was full
    return true;
}

void ModbusGateway::dropClosed() {
    for (std::size_t i = m_clients.size(); i-- > 0;) {
        if (!m_clients[i]->closed) continue;
        m_clients.erase(m_clients.begin() + static_cast<std::ptrdiff_t>(i));
        if (m_nextClient > i) --m_nextClient;
    }
    if (m_nextClient >= m_clients.size()) m_nextClient = 0;
}

void ModbusGateway::stop() {
    if (!active()) return;
    m_bus.setBetweenTransactions(nullptr);
    m_clients.clear();
    ::close(m_listen);
    m_listen = -1;
    const GatewayCounters& c = m_counters;
    m_op.write(MessageLevel::Info, "the Modbus TCP gateway served " + std::to_string(c.requests) + " requests: " +
                                       std::to_string(c.answered) + " answered by the meters, " +
                                       std::to_string(c.silent) + " without an answer (0x0B), " +
                                       std::to_string(c.portLost) + " without a path (0x0A), " +
                                       std::to_string(c.refused) + " refused by the gateway");
}

}  // namespace quorna
