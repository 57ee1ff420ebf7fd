#include "simulator.h"

#include "command_language.h"
#include "responder.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <poll.h>
#include <signal.h>

namespace quorna::metersim {

namespace {

constexpr auto kDriftPeriod = std::chrono::milliseconds(500);
constexpr std::size_t kReadBuffer = 512;

}  // namespace

Simulator::Simulator(const SimulatorOptions& options, std::optional<SerialLine> line)
    : m_options(options),
      m_line(std::move(line)),
      m_assembler(options.line.frameGap()),
      m_transmitter(options.line, options.turnaround, m_line && !m_line->isPseudoTerminal()),
      m_random(options.seed),
      m_start(Clock::now())
{
    m_bus.driftForNewMeters = options.drift;
    m_bus.checkLineSettings = options.checkLine;
}

std::unique_ptr<Simulator> Simulator::create(const SimulatorOptions& options, std::string& error)
{
    std::optional<SerialLine> line;
    if (options.wantsLine()) {
        line = options.device ? SerialLine::openDevice(*options.device, options.line, error)
                              : SerialLine::openPseudoTerminal(options.line, error);
        if (!line)
            return nullptr;
    }
    std::unique_ptr<Simulator> simulator(new Simulator(options, std::move(line)));
    for (const auto& [port, kind] : {std::pair{options.tcpPort, GatewayKind::ModbusTcp},
                                     std::pair{options.rtuTcpPort, GatewayKind::RtuOverTcp}}) {
        if (!port)
            continue;
        auto listener = NetworkListener::listenOn(kind, options.listenAddress, *port, options.line,
                                                  options.turnaround, error);
        if (!listener)
            return nullptr;
        simulator->m_listeners.push_back(std::move(listener));
    }
    if (options.requestLog) {
        simulator->m_log = RequestLog::open(*options.requestLog, error);
        if (!simulator->m_log)
            return nullptr;
    }
    if (options.link) {
        if (!makeLink(*options.link, simulator->m_line->path(), error))
            return nullptr;
        simulator->m_linked = true;
    }
    for (const auto& [address, model] : options.meters)
        simulator->m_bus.addMeter(address, model);
    if (options.scenario && !simulator->runScenario(*options.scenario, error))
        return nullptr;
    return simulator;
}

bool Simulator::openControl(std::string& error)
{
    if (!m_options.control)
        return true;
    m_control = ControlServer::listenOn(*m_options.control, error);
    return m_control != nullptr;
}

Simulator::~Simulator()
{
    m_control.reset();
    if (m_linked)
        removeLink(*m_options.link, m_line->path());
}

std::vector<std::string> Simulator::portNames() const
{
    std::vector<std::string> names;
    if (m_line)
        names.push_back(m_line->path());
    for (const auto& listener : m_listeners)
        names.push_back(listener->portName());
    return names;
}

bool Simulator::runScenario(const std::string& path, std::string& error)
{
    std::ifstream file(path);
    if (!file) {
        error = "cannot read scenario " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const auto reply = executeCommand(m_bus, line, CommandSource::Scenario);
        if (reply && reply->rfind("err", 0) == 0) {
            error = path + ":" + std::to_string(number) + ": " + reply->substr(4);
            return false;
        }
    }
    return true;
}

std::optional<AnswerPlan> Simulator::answerFrame(const ReceivedFrame& frame, bool onLine)
{
    if (m_log)
        m_log->record(std::chrono::duration<double>(frame.end - m_start).count(), frame.bytes);
    if (!crcIntact(frame.bytes) || frame.bytes[0] == kBroadcastAddress)
        return std::nullopt;
    const auto meter = m_bus.meters.find(frame.bytes[0]);
    if (meter == m_bus.meters.end())
        return std::nullopt;
    if (onLine && m_bus.checkLineSettings && !m_line->settingsMatch(m_options.line))
        return std::nullopt;
    // A silent meter does not hear the request, and a failing one carries nothing out: in
    // both cases a write leaves the registers as they were.
    const Fault fault = m_bus.faultAt(frame.bytes[0]);
    if (fault.kind == FaultKind::Silent)
        return std::nullopt;
    auto answer = refusesRequest(fault, frame.bytes) ? std::optional(buildException(frame.bytes[0], frame.bytes[1], kSlaveDeviceFailure))
                      : answerRequest(meter->second, frame.bytes);
    if (!answer)
        return std::nullopt;
    return shapeAnswer(frame.bytes, std::move(*answer), fault);
}

void Simulator::handleFrame(const ReceivedFrame& frame)
{
    if (auto plan = answerFrame(frame, true))
        m_transmitter.schedule(*plan, frame.end);
}

int Simulator::run(int stopFd)
{
    auto nextDrift = Clock::now() + kDriftPeriod;
    const auto writer = [this](std::span<const uint8_t> bytes) { writeToLine(bytes); };
    const auto commandHandler = [this](std::string_view line) {
        return executeCommand(m_bus, line, CommandSource::Control).value_or("ok");
    };
    const auto networkAnswer = [this](const ReceivedFrame& frame) { return answerFrame(frame, false); };
    std::vector<pollfd> fds;
    uint8_t buffer[kReadBuffer];
    for (;;) {
        auto now = Clock::now();
        if (auto stale = m_assembler.flushIfSilent(now))
            handleFrame(*stale);
        m_transmitter.writeDue(now, writer);
        for (auto& listener : m_listeners)
            listener->advance(now, networkAnswer);
        if (now >= nextDrift) {
            const double seconds = std::chrono::duration<double>(now - nextDrift + kDriftPeriod).count();
            for (auto& [address, meter] : m_bus.meters)
                meter.tick(seconds, m_random);
            nextDrift = now + kDriftPeriod;
        }

        auto wakeAt = nextDrift;
        for (const auto& deadline : {m_assembler.silenceDeadline(), m_transmitter.nextDue()})
            if (deadline)
                wakeAt = std::min(wakeAt, *deadline);
        for (const auto& listener : m_listeners)
            if (const auto deadline = listener->nextDeadline())
                wakeAt = std::min(wakeAt, *deadline);
        const auto wait = std::max(std::chrono::nanoseconds(0), wakeAt - Clock::now());
        const timespec timeout{static_cast<time_t>(wait.count() / 1'000'000'000),
                               static_cast<long>(wait.count() % 1'000'000'000)};

        fds.clear();
        fds.push_back(pollfd{stopFd, POLLIN, 0});
        // Without a line the slot stays, ignored, so that the indexes below hold.
        fds.push_back(pollfd{m_line ? m_line->fd() : -1, POLLIN, 0});
        for (const auto& listener : m_listeners)
            listener->addPollFds(fds);
        if (m_control)
            m_control->addPollFds(fds);
        if (ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0)
            continue;
        if (fds[0].revents != 0)
            return 0;
        if (m_line && (fds[1].revents & POLLIN)) {
            // Everything read in one go arrived together: on a pseudo-terminal the program's
            // whole request comes in one write.
            const std::size_t n = m_line->readAvailable(buffer);
            for (const auto& frame : m_assembler.feed(std::span(buffer, n), Clock::now()))
                handleFrame(frame);
        } else if (m_line && (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL))) {
            std::fprintf(stderr, "quorna-metersim: the line %s failed\n", m_line->path().c_str());
            return 1;
        }
        for (auto& listener : m_listeners)
            listener->serve(fds, networkAnswer);
        if (m_control)
            m_control->serve(fds, commandHandler);
    }
}

}  // namespace quorna::metersim
