// The simulator's main loop: one thread that polls the line, the control socket and the
// stop signals together, answers requests on time and lets the meters drift.
#pragma once

#include "bus_state.h"
#include "control_server.h"
#include "frame_codec.h"
#include "line_settings.h"
#include "network_listener.h"
#include "request_log.h"
#include "serial_line.h"
#include "transmitter.h"

#include <chrono>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace quorna::metersim {

struct SimulatorOptions {
    LineSettings line;
    std::optional<std::string> device;       // a serial device instead of a pseudo-terminal
    std::optional<std::string> link;         // symbolic link to the line's path
    std::optional<std::string> requestLog;
    std::optional<std::string> scenario;
    std::optional<std::string> control;
    std::chrono::milliseconds turnaround{5};
    unsigned seed = 1;
    bool drift = true;
    bool checkLine = false;
    std::vector<std::pair<int, int>> meters;  // address, model
    std::optional<int> tcpPort;               // a Modbus TCP gateway on this port
    std::optional<int> rtuTcpPort;            // a gateway that carries the line's frames over TCP
    std::string listenAddress = "127.0.0.1";  // where the gateways listen

    // The pseudo-terminal (or device) is opened unless only gateways were asked for.
    [[nodiscard]] bool wantsLine() const { return device || link || (!tcpPort && !rtuTcpPort); }
};

class Simulator {
public:
    // Opens the line, makes the link, sets up the meters and runs the scenario file.
    // Returns nullptr and sets `error` on failure.
    [[nodiscard]] static std::unique_ptr<Simulator> create(const SimulatorOptions& options, std::string& error);

    // Opens the control socket, if one was asked for. Done last of all, after the line's path
    // is printed, so that the socket appearing tells a waiting client that everything is ready.
    [[nodiscard]] bool openControl(std::string& error);

    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator();  // removes the link and the control socket

    // What a program opens: the line's path, then each gateway's port name, one a line.
    [[nodiscard]] std::vector<std::string> portNames() const;

    // Runs until `stopFd` becomes readable (a signal arrived). Returns the exit status.
    [[nodiscard]] int run(int stopFd);

private:
    Simulator(const SimulatorOptions& options, std::optional<SerialLine> line);

    [[nodiscard]] bool runScenario(const std::string& path, std::string& error);
    // What the meters put on the bus for a frame they received (logged here), if anything.
    // onLine: it came over the pseudo-terminal, whose speed and parity the meters may check.
    [[nodiscard]] std::optional<AnswerPlan> answerFrame(const ReceivedFrame& frame, bool onLine);
    void handleFrame(const ReceivedFrame& frame);
    void writeToLine(std::span<const uint8_t> bytes) { m_line->write(bytes); }

    SimulatorOptions m_options;
    std::optional<SerialLine> m_line;
    std::vector<std::unique_ptr<NetworkListener>> m_listeners;
    BusState m_bus;
    FrameAssembler m_assembler;
    Transmitter m_transmitter;
    std::unique_ptr<RequestLog> m_log;
    std::unique_ptr<ControlServer> m_control;
    std::mt19937 m_random;
    Clock::time_point m_start;
    bool m_linked = false;
};

}  // namespace quorna::metersim
