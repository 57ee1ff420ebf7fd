// Gateways whose TCP stream misbehaves between the program and the meters: answers cut into small
// segments with pauses longer than the serial line's end-of-frame silence, and a connection that
// hangs in the middle of an answer and never answers again on it.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "bus/bus.h"
#include "bus/modbus_master.h"
#include "metersim_harness.h"
#include "recording_operator.h"

namespace quorna {
namespace {

using namespace std::chrono_literals;

int listenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) return -1;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

int connectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A gateway of the test's own in front of the simulator's: requests go through unchanged, answers
// as the mode says. One connection at a time; a new one replaces the old.
class MisbehavingGateway {
public:
    enum class Mode {
        Split,   // the first bytes one at a time, then 20-byte segments, 40 ms apart
        Wedge,   // the third answer on the first connection: half of it, then nothing more on it
    };

    MisbehavingGateway(int upstreamPort, Mode mode) : m_upstream(upstreamPort), m_mode(mode) {
        m_listen = listenOnLoopback(m_port);
        m_thread = std::thread([this] { run(); });
    }
    ~MisbehavingGateway() {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    MisbehavingGateway(const MisbehavingGateway&) = delete;
    MisbehavingGateway& operator=(const MisbehavingGateway&) = delete;

    [[nodiscard]] int port() const { return m_port; }
    [[nodiscard]] int connections() const { return m_connections; }

private:
    void run() {
        int client = -1;
        int upstream = -1;
        int answers = 0;
        bool wedged = false;
        std::array<std::uint8_t, 512> buffer{};
        while (!m_stop) {
            std::array<pollfd, 3> fds{pollfd{m_listen, POLLIN, 0}, pollfd{client, POLLIN, 0}, pollfd{upstream, POLLIN, 0}};
            if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
            if ((fds[0].revents & POLLIN) != 0) {
                if (client >= 0) ::close(client);
                if (upstream >= 0) ::close(upstream);
                client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                upstream = connectLoopback(m_upstream);
                answers = 0;
                wedged = false;
                ++m_connections;
                continue;
            }
            if (client >= 0 && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
                const ssize_t n = ::recv(client, buffer.data(), buffer.size(), 0);
                if (n <= 0) {
                    ::close(client);
                    client = -1;
                } else if (!wedged) {
                    (void)::send(upstream, buffer.data(), static_cast<std::size_t>(n), MSG_NOSIGNAL);
                }
            }
            if (upstream >= 0 && (fds[2].revents & POLLIN) != 0) {
                // The whole answer, as the simulator paces it at the line's speed: until 50 ms of quiet.
                std::size_t size = 0;
                for (pollfd more{upstream, POLLIN, 0}; size < buffer.size();) {
                    const ssize_t n = ::recv(upstream, buffer.data() + size, buffer.size() - size, 0);
                    if (n <= 0) break;
                    size += static_cast<std::size_t>(n);
                    if (::poll(&more, 1, 50) <= 0) break;
                }
                if (size == 0 || client < 0 || wedged) continue;
                if (m_mode == Mode::Split) {
                    for (std::size_t sent = 0; sent < size;) {
                        const std::size_t piece = sent < 3 ? 1 : std::min<std::size_t>(20, size - sent);
                        (void)::send(client, buffer.data() + sent, piece, MSG_NOSIGNAL);
                        sent += piece;
                        if (sent < size) std::this_thread::sleep_for(40ms);
                    }
                } else if (m_connections == 1 && ++answers == 3) {
                    (void)::send(client, buffer.data(), size / 2, MSG_NOSIGNAL);
                    wedged = true;
                } else {
                    (void)::send(client, buffer.data(), size, MSG_NOSIGNAL);
                }
            }
        }
        if (client >= 0) ::close(client);
        if (upstream >= 0) ::close(upstream);
    }

    int m_upstream;
    Mode m_mode;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

int portOf(const std::string& gatewayName) { return std::stoi(gatewayName.substr(gatewayName.rfind(':') + 1)); }

class GatewayStream : public ::testing::TestWithParam<std::string> {
protected:
    GatewayStream() : sim({"--meter", "3:230", "--tcp", "0", "--rtu-tcp", "0"}) {
        std::vector<int> currents;
        for (int i = 0; i < 49; ++i) currents.push_back(100 + i);
        sim.set(3, 0, currents);
    }
    // The port name of the scheme under test, pointing at the test's gateway.
    std::string nameFor(const MisbehavingGateway& gateway) const {
        return GetParam() + "127.0.0.1:" + std::to_string(gateway.port());
    }
    int upstream() const { return portOf(sim.gatewayName(GetParam())); }

    test::MeterSimulator sim;
    test::RecordingOperator op;
    Bus bus{op};
};

// 49 registers of meter 3, and whether they are the simulator's.
bool pollMatches(Bus& bus) {
    std::array<std::int32_t, 49> values{};
    if (readRegisters(bus, 3, 0, 49, values.data()) != ModbusError::Ok) return false;
    for (int i = 0; i < 49; ++i) {
        if (values[static_cast<std::size_t>(i)] != 100 + i) return false;
    }
    return true;
}

TEST_P(GatewayStream, AnAnswerInSmallSegmentsWithPausesIsReadWhole) {
    MisbehavingGateway gateway(upstream(), MisbehavingGateway::Mode::Split);
    ASSERT_TRUE(openPort(bus, nameFor(gateway), false));
    int good = 0;
    for (int i = 0; i < 4; ++i) good += pollMatches(bus) ? 1 : 0;
    EXPECT_EQ(good, 4);
    EXPECT_EQ(gateway.connections(), 1);
}

TEST_P(GatewayStream, AConnectionThatHangsMidAnswerIsMadeAnewAndPollingResumes) {
    MisbehavingGateway gateway(upstream(), MisbehavingGateway::Mode::Wedge);
    ASSERT_TRUE(openPort(bus, nameFor(gateway), false));
    EXPECT_TRUE(pollMatches(bus));
    EXPECT_TRUE(pollMatches(bus));
    EXPECT_FALSE(pollMatches(bus));  // half an answer, then nothing on this connection
    // The next request goes out on a fresh connection (at most a second after the last attempt).
    std::vector<bool> after;
    for (int i = 0; i < 4; ++i) after.push_back(pollMatches(bus));
    EXPECT_EQ(gateway.connections(), 2);
    EXPECT_TRUE(after.back()) << "polling did not resume";
    EXPECT_GE(std::count(after.begin(), after.end(), true), 2);
    EXPECT_TRUE(op.texts().empty());
}

INSTANTIATE_TEST_SUITE_P(Schemes, GatewayStream, ::testing::Values("tcp://", "rtu+tcp://"),
                         [](const auto& info) { return info.param == "tcp://" ? std::string("ModbusTcp") : std::string("RtuOverTcp"); });

// A gateway that accepts requests and never answers, whatever the meter: after a few answers in
// a row that did not come, the connection is made anew rather than used for ever.
TEST(GatewayStreamSilent, AConnectionWithoutAnswersIsMadeAnewAfterAFewTimeOuts) {
    int port = 0;
    const int listener = listenOnLoopback(port);
    std::atomic<int> accepted{0};
    std::atomic<bool> stop{false};
    std::thread server([&] {
        std::vector<int> held;
        while (!stop) {
            pollfd pfd{listener, POLLIN, 0};
            if (::poll(&pfd, 1, 20) > 0) {
                held.push_back(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
                ++accepted;
            }
        }
        for (const int fd : held) ::close(fd);
    });
    test::RecordingOperator op;
    Bus bus(op);
    ASSERT_TRUE(openPort(bus, "tcp://127.0.0.1:" + std::to_string(port), false));
    std::array<std::int32_t, 2> values{};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(readRegisters(bus, 3, 0, 2, values.data()), ModbusError::Timeout);
    EXPECT_EQ(accepted.load(), 2);
    stop = true;
    server.join();
    ::close(listener);
}

}  // namespace
}  // namespace quorna
