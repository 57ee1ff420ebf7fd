// The meters behind an Ethernet gateway: a TCP listener whose clients send Modbus TCP frames
// (MBAP header, unit id = the meter's address) or the line's RTU frames unchanged. Either way the
// meters see RTU requests and answer as they do on the line.
#pragma once

#include "frame_codec.h"
#include "line_settings.h"
#include "transmitter.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pollfd;

namespace quorna::metersim {

enum class GatewayKind { ModbusTcp, RtuOverTcp };

class NetworkListener {
public:
    // What the meters do with an RTU request: the answer they put on the line, if any.
    using Answerer = std::function<std::optional<AnswerPlan>(const ReceivedFrame& request)>;

    // Listens on address:port (port 0: one the system picks). Returns nullptr and sets `error`
    // on failure.
    [[nodiscard]] static std::unique_ptr<NetworkListener> listenOn(GatewayKind kind, const std::string& address,
                                                                   int port, const LineSettings& line,
                                                                   std::chrono::microseconds turnaround,
                                                                   std::string& error);

    NetworkListener(const NetworkListener&) = delete;
    NetworkListener& operator=(const NetworkListener&) = delete;
    ~NetworkListener();  // closes every connection

    // The name a program opens as its port: "tcp://ADDRESS:PORT" or "rtu+tcp://ADDRESS:PORT".
    [[nodiscard]] std::string portName() const;

    void addPollFds(std::vector<pollfd>& fds) const;
    // Accepts clients, reads what they sent and hands every complete request to `answer`.
    void serve(const std::vector<pollfd>& fds, const Answerer& answer);
    // Ends RTU requests that a silence completed, and sends the answers that are due.
    void advance(Clock::time_point now, const Answerer& answer);
    // The next moment advance() has something to do.
    [[nodiscard]] std::optional<Clock::time_point> nextDeadline() const;

private:
    struct Client {
        FrameAssembler assembler;  // RTU over TCP
        Bytes pending;             // Modbus TCP: bytes of an unfinished frame
        Transmitter transmitter;
    };

    NetworkListener(GatewayKind kind, int fd, std::string address, int port, const LineSettings& line,
                    std::chrono::microseconds turnaround)
        : m_kind(kind), m_fd(fd), m_address(std::move(address)), m_port(port), m_line(line), m_turnaround(turnaround)
    {
    }

    // False when the client broke the framing and must be dropped.
    bool takeModbusTcp(int fd, Client& client, const Answerer& answer);
    void dispatch(Client& client, const ReceivedFrame& frame, const Answerer& answer);

    GatewayKind m_kind;
    int m_fd;
    std::string m_address;
    int m_port;
    LineSettings m_line;
    std::chrono::microseconds m_turnaround;
    std::map<int, Client> m_clients;
};

// The Modbus TCP frame a gateway sends back for a meter's RTU answer: the request's transaction
// id, protocol 0, the length, the meter's address as unit id and the answer without its CRC.
// nullopt when the answer's CRC is broken (a gateway drops such an answer).
[[nodiscard]] std::optional<Bytes> mbapAnswer(uint16_t transactionId, std::span<const uint8_t> rtuAnswer);

}  // namespace quorna::metersim
