#pragma once
// The logger's Modbus TCP server: other programs (the window program, mbpoll, a building system)
// reach the meters on the logger's bus through it, since a Modbus RTU line has one master. Each
// request (MBAP header, unit id = the meter's address) waits in its client's queue and goes on
// the bus when the logger has time: between ticks, and one before each of the logger's own
// transactions during a logging moment. Clients are served in turn. The answer goes back with
// the client's transaction id; a silent meter gives exception 0x0B, a lost port 0x0A, a function
// the meters do not have 0x01. Writes are taken from the loopback only, from the listed writers
// besides, or from nobody.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <vector>

#include "bus/bus.h"
#include "bus/gateway_frames.h"

namespace quorna {

class StderrOperator;

// The limits of the server.
inline constexpr int kGatewayMaxClients = 8;            // more connections are closed at once
inline constexpr std::size_t kGatewayMaxQueue = 16;     // requests per client; more wait in the socket
inline constexpr std::chrono::milliseconds kGatewayIdleDrop{60000};  // a client silent this long is dropped
inline constexpr std::chrono::milliseconds kGatewayQueueWait{10000};  // a request waiting longer gets 0x0B
inline constexpr std::size_t kGatewayMaxUnsent = 64 * 1024;  // answers a client does not read: it is dropped
// For tests only: the idle drop in milliseconds instead of a minute.
inline constexpr const char* kGatewayIdleVariable = "QUORNA_GATEWAY_IDLE_MS";

// An address block allowed to write: an IPv4 or IPv6 address and the bits of it that count.
struct AddressBlock {
    bool v6 = false;
    std::uint8_t bytes[16]{};
    int bits = 0;
};

// "ADDRESS:PORT", ":PORT" (127.0.0.1), "[IPV6]:PORT"; numeric addresses only ("localhost" is
// 127.0.0.1). Nothing when the text is none of these.
std::optional<sockaddr_storage> parseListenAddress(const std::string& text);
// "10.0.4.0/24 192.168.1.7 fd00::/8": the blocks, or nothing with the word that is no block in *bad.
std::optional<std::vector<AddressBlock>> parseWriters(const std::string& text, std::string* bad);

struct GatewayCounters {
    long requests = 0;   // requests taken from clients
    long answered = 0;   // answered by a meter
    long silent = 0;     // 0x0B: the meter did not answer (or the request waited too long)
    long portLost = 0;   // 0x0A: the port was lost
    long refused = 0;    // answered by the gateway itself (0x01, 0x03: function, data, write refused)
};

class ModbusGateway {
public:
    ModbusGateway(Bus& bus, StderrOperator& op);
    ~ModbusGateway();
    ModbusGateway(const ModbusGateway&) = delete;
    ModbusGateway& operator=(const ModbusGateway&) = delete;

    // Listens on the address ("ADDRESS:PORT"); says where on standard error, and warns when it is
    // not the loopback. False, with the reason in *error, when it cannot listen there.
    bool start(const std::string& listen, const std::string& writers, bool readOnly, std::string* error);
    [[nodiscard]] bool active() const { return m_listen >= 0; }

    // Waits at most ms milliseconds for clients' bytes, takes them, and forwards at most one
    // waiting request on the bus. For the logger's time between ticks.
    void serveFor(int ms);
    // Takes what clients sent without waiting and forwards at most one waiting request: the
    // bus's betweenTransactions during the logger's own work.
    void serveBetween();
    void stop();  // closes every connection and the listening socket; says what was served

    [[nodiscard]] const GatewayCounters& counters() const { return m_counters; }

private:
    struct Client;

    void pump(int timeoutMs);
    void accept();
    void receive(Client& client);
    void flush(Client& client);
    bool forwardOne();
    void answer(Client& client, std::vector<std::uint8_t> frame);
    [[nodiscard]] bool mayWrite(const Client& client) const;
    void dropClosed();

    Bus& m_bus;
    StderrOperator& m_op;
    int m_listen = -1;
    std::vector<AddressBlock> m_writers;
    bool m_readOnly = false;
    std::chrono::milliseconds m_idleDrop = kGatewayIdleDrop;
    std::vector<std::unique_ptr<Client>> m_clients;
    std::size_t m_nextClient = 0;  // round robin: the client whose request goes next
    bool m_forwarding = false;     // a request is on the bus: no other one starts inside it
    GatewayCounters m_counters;
};

}  // namespace quorna
