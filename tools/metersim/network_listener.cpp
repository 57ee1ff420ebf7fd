#include "network_listener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorna::metersim {

namespace {

constexpr int kBacklog = 8;
constexpr std::size_t kReadChunk = 512;
constexpr std::size_t kMbapHeader = 7;
constexpr std::size_t kMbapLengthEnd = 6;
// A Modbus TCP frame carries at most 253 bytes of PDU after the unit id.
constexpr std::size_t kLongestMbapLength = 254;

void sendAll(int fd, std::span<const uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

}  // namespace

std::optional<Bytes> mbapAnswer(uint16_t transactionId, std::span<const uint8_t> rtuAnswer)
{
    if (rtuAnswer.size() < 4 || !crcIntact(rtuAnswer))
        return std::nullopt;
    const std::size_t length = rtuAnswer.size() - 2;  // unit id and PDU
    Bytes frame{static_cast<uint8_t>(transactionId >> 8), static_cast<uint8_t>(transactionId & 0xFF), 0, 0,
                static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF)};
    frame.insert(frame.end(), rtuAnswer.begin(), rtuAnswer.end() - 2);
    return frame;
}

std::unique_ptr<NetworkListener> NetworkListener::listenOn(GatewayKind kind, const std::string& address, int port,
                                                           const LineSettings& line,
                                                           std::chrono::microseconds turnaround, std::string& error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int status = ::getaddrinfo(address.c_str(), service.c_str(), &hints, &found); status != 0) {
        error = "cannot listen on " + address + ": " + gai_strerror(status);
        return nullptr;
    }
    int fd = -1;
    for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        const int on = 1;
        // A gateway restarted at once takes its port back.
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, kBacklog) != 0) {
            error = systemError("cannot listen on " + address + ":" + service);
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0)
        return nullptr;
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    int boundPort = port;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
        boundPort = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port)
                                                : ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
    }
    return std::unique_ptr<NetworkListener>(new NetworkListener(kind, fd, address, boundPort, line, turnaround));
}

NetworkListener::~NetworkListener()
{
    for (const auto& [fd, client] : m_clients)
        ::close(fd);
    ::close(m_fd);
}

std::string NetworkListener::portName() const
{
    const bool ipv6 = m_address.find(':') != std::string::npos;
    const std::string host = ipv6 ? "[" + m_address + "]" : m_address;
    return std::string(m_kind == GatewayKind::ModbusTcp ? "tcp://" : "rtu+tcp://") + host + ":" +
           std::to_string(m_port);
}

void NetworkListener::addPollFds(std::vector<pollfd>& fds) const
{
    fds.push_back(pollfd{m_fd, POLLIN, 0});
    for (const auto& [fd, client] : m_clients)
        fds.push_back(pollfd{fd, POLLIN, 0});
}

void NetworkListener::serve(const std::vector<pollfd>& fds, const Answerer& answer)
{
    std::vector<int> closed;
    for (const pollfd& p : fds) {
        if (p.revents == 0)
            continue;
        if (p.fd == m_fd) {
            const int client = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client >= 0) {
                const int on = 1;
                ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                // Over RTU the answer's chunks arrive as the line would deliver them; a Modbus TCP
                // gateway sends the whole answer once it has it.
                const bool selfPaced = m_kind == GatewayKind::ModbusTcp;
                m_clients.emplace(client, Client{FrameAssembler(m_line.frameGap()), {},
                                                 Transmitter(m_line, m_turnaround, selfPaced)});
            }
            continue;
        }
        const auto it = m_clients.find(p.fd);
        if (it == m_clients.end())
            continue;
        uint8_t buffer[kReadChunk];
        const ssize_t n = ::recv(p.fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            closed.push_back(p.fd);
            continue;
        }
        Client& client = it->second;
        const auto bytes = std::span<const uint8_t>(buffer, static_cast<std::size_t>(n));
        if (m_kind == GatewayKind::RtuOverTcp) {
            for (const auto& frame : client.assembler.feed(bytes, Clock::now()))
                dispatch(client, frame, answer);
        } else {
            client.pending.insert(client.pending.end(), bytes.begin(), bytes.end());
            if (!takeModbusTcp(p.fd, client, answer))
                closed.push_back(p.fd);
        }
    }
    for (const int fd : closed) {
        ::close(fd);
        m_clients.erase(fd);
    }
}

bool NetworkListener::takeModbusTcp(int fd, Client& client, const Answerer& answer)
{
    (void)fd;
    Bytes& pending = client.pending;
    while (pending.size() >= kMbapHeader) {
        const std::size_t length = static_cast<std::size_t>(pending[4] << 8 | pending[5]);
        if (pending[2] != 0 || pending[3] != 0 || length < 2 || length > kLongestMbapLength)
            return false;  // not Modbus: a gateway closes such a connection
        if (pending.size() < kMbapLengthEnd + length)
            return true;
        const uint16_t transactionId = static_cast<uint16_t>(pending[0] << 8 | pending[1]);
        // The meters on the gateway's line receive the unit id, the PDU and the CRC.
        ReceivedFrame request;
        request.bytes.assign(pending.begin() + kMbapLengthEnd, pending.begin() + static_cast<std::ptrdiff_t>(kMbapLengthEnd + length));
        appendCrc(request.bytes);
        request.end = Clock::now();
        request.lengthComplete = true;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(kMbapLengthEnd + length));
        auto plan = answer(request);
        if (!plan || plan->bursts.empty())
            continue;
        Bytes rtu;
        for (const Burst& burst : plan->bursts)
            rtu.insert(rtu.end(), burst.bytes.begin(), burst.bytes.end());
        const auto frame = mbapAnswer(transactionId, rtu);
        if (!frame)
            continue;
        // The answer leaves the gateway once the whole of it has come over the line.
        AnswerPlan sent;
        sent.extraDelay = plan->extraDelay + plan->bursts.back().pauseBefore +
                          std::chrono::duration_cast<std::chrono::microseconds>(m_line.transmitTime(static_cast<long long>(rtu.size())));
        sent.bursts.push_back(Burst{*frame, {}});
        client.transmitter.schedule(sent, request.end);
    }
    return true;
}

void NetworkListener::dispatch(Client& client, const ReceivedFrame& frame, const Answerer& answer)
{
    if (auto plan = answer(frame))
        client.transmitter.schedule(*plan, frame.end);
}

void NetworkListener::advance(Clock::time_point now, const Answerer& answer)
{
    for (auto& [fd, client] : m_clients) {
        if (m_kind == GatewayKind::RtuOverTcp) {
            if (auto stale = client.assembler.flushIfSilent(now))
                dispatch(client, *stale, answer);
        }
        const int target = fd;
        client.transmitter.writeDue(now, [target](std::span<const uint8_t> bytes) { sendAll(target, bytes); });
    }
}

std::optional<Clock::time_point> NetworkListener::nextDeadline() const
{
    std::optional<Clock::time_point> next;
    for (const auto& [fd, client] : m_clients) {
        for (const auto& deadline : {client.assembler.silenceDeadline(), client.transmitter.nextDue()}) {
            if (deadline && (!next || *deadline < *next))
                next = deadline;
        }
    }
    return next;
}

}  // namespace quorna::metersim
