#pragma once
// The meter simulator (quorna-metersim) as a test fixture: a private pseudo-terminal with
// meters on it, a control connection to change them, and the record of every request the
// meters received.

#include <cstdint>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorna::test {

struct SimRequest {
    double time;  // seconds since the simulator started, at the request's last byte
    std::vector<uint8_t> bytes;
};

struct SimWrite {
    int address;
    int reg;
    int value;
};

// A read-holding-registers request (function 3) as the meters received it.
struct ReadRequest {
    int address;
    int start;
    int count;
    bool operator==(const ReadRequest&) const = default;
};

std::ostream& operator<<(std::ostream& os, const ReadRequest& r);

// The function-3 requests among those the simulator logged, in order.
std::vector<ReadRequest> readRequests(const std::vector<SimRequest>& requests);

class MeterSimulator {
public:
    // Starts quorna-metersim (QUORNA_METERSIM_PATH) on a fresh pseudo-terminal in a private
    // temporary directory, with --link, --log-requests and --control there, plus extraArgs
    // (e.g. {"--meter","3:230","--baud","9600"}). Meters start without drift so that their
    // registers hold exactly what the test stores; pass {"--drift","on"} for live values.
    // Waits up to 5 s until the link and control socket exist; throws std::runtime_error
    // when the simulator does not come up.
    explicit MeterSimulator(std::vector<std::string> extraArgs = {});
    ~MeterSimulator();  // SIGTERM, waitpid, removes the temp dir

    MeterSimulator(const MeterSimulator&) = delete;
    MeterSimulator& operator=(const MeterSimulator&) = delete;

    const std::string& device() const { return m_device; }  // the symlink to the pty slave
    void useAsComPort(int n) const;                          // setenv("QUORNA_COMn", device())
    // The port name of a gateway the simulator was started with ({"--tcp", "0"}, {"--rtu-tcp",
    // "0"}) as it printed it: scheme "tcp://" or "rtu+tcp://". Empty when it has none.
    std::string gatewayName(const std::string& scheme) const;

    // One control command; returns the reply line without its newline ("ok ..." or
    // "err <reason>"; "err control socket: ..." when the simulator cannot be reached).
    std::string command(const std::string& line);

    // Store values / read registers; a refused command is reported as a test failure
    // (get then returns an empty vector).
    void set(int address, int reg, std::vector<int> values);
    std::vector<int> get(int address, int reg, int count);
    void fault(int address, const std::string& kind);  // e.g. "silent", "delay 200", "none"

    // Requests logged since the last clearRequests(). Every frame the simulator has read
    // before this call is included.
    std::vector<SimRequest> requests() const;
    // The function-6 requests (intact CRC, any address) among them, in order.
    std::vector<SimWrite> writes() const;
    void clearRequests();

    // Holds ttyMETERSIM (the link), control.sock, requests.log and metersim.out (the
    // simulator's standard output); tests may put files of their own there.
    std::string tempDir() const { return m_tempDir; }

private:
    std::string sendCommand(const std::string& line) const;
    void stop();

    std::string m_tempDir;
    std::string m_device;
    std::string m_controlPath;
    std::string m_logPath;
    pid_t m_pid = -1;
    std::size_t m_logOffset = 0;
};

}  // namespace quorna::test
