#include "metersim_harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quorna::test {

std::ostream& operator<<(std::ostream& os, const ReadRequest& r) {
    return os << "{" << r.address << ", " << r.start << ", " << r.count << "}";
}

std::vector<ReadRequest> readRequests(const std::vector<SimRequest>& requests) {
    std::vector<ReadRequest> reads;
    for (const SimRequest& r : requests) {
        const auto& b = r.bytes;
        if (b.size() == 8 && b[1] == 3) reads.push_back({b[0], b[2] * 256 + b[3], b[4] * 256 + b[5]});
    }
    return reads;
}

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(5);
constexpr auto kStopTimeout = std::chrono::seconds(5);
constexpr auto kPollStep = std::chrono::milliseconds(5);
constexpr std::size_t kLongestSocketDir = 80;  // sockaddr_un holds about 108 bytes

std::string makeTempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string root = base != nullptr && *base != '\0' ? base : "/tmp";
    if (root.size() > kLongestSocketDir)
        root = "/tmp";
    std::string pattern = root + "/quorna-sim-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    return pattern;
}

bool exists(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

bool crcIntact(const std::vector<uint8_t>& frame)
{
    uint16_t crc = 0xFFFF;
    for (uint8_t byte : frame) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return frame.size() >= 4 && crc == 0;
}

}  // namespace

MeterSimulator::MeterSimulator(std::vector<std::string> extraArgs) : m_tempDir(makeTempDir())
{
    m_device = m_tempDir + "/ttyMETERSIM";
    m_controlPath = m_tempDir + "/control.sock";
    m_logPath = m_tempDir + "/requests.log";
    const std::string stdoutPath = m_tempDir + "/metersim.out";

    std::vector<std::string> args = {QUORNA_METERSIM_PATH, "--link",  m_device, "--log-requests", m_logPath,
                                      "--control",          m_controlPath, "--drift", "off", "--exit-with-parent"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int spawned = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::filesystem::remove_all(m_tempDir);
        throw std::runtime_error(std::string("cannot start ") + QUORNA_METERSIM_PATH + ": " + std::strerror(spawned));
    }

    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (!(exists(m_device) && exists(m_controlPath))) {
        int status = 0;
        const bool exited = waitpid(m_pid, &status, WNOHANG) == m_pid;
        if (exited || std::chrono::steady_clock::now() > deadline) {
            if (exited)
                m_pid = -1;
            stop();
            std::filesystem::remove_all(m_tempDir);
            throw std::runtime_error(exited ? "quorna-metersim exited at start (see its message above)"
                                            : "quorna-metersim did not come up within 5 s");
        }
        std::this_thread::sleep_for(kPollStep);
    }
}

MeterSimulator::~MeterSimulator()
{
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(m_tempDir, ignored);
}

void MeterSimulator::stop()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    m_pid = -1;
}

void MeterSimulator::useAsComPort(int n) const
{
    setenv(("QUORNA_COM" + std::to_string(n)).c_str(), m_device.c_str(), 1);
}

std::string MeterSimulator::gatewayName(const std::string& scheme) const
{
    // The names are printed before the control socket opens, so they are there by now.
    std::ifstream out(m_tempDir + "/metersim.out");
    for (std::string line; std::getline(out, line);) {
        if (line.rfind(scheme, 0) == 0)
            return line;
    }
    return {};
}

std::string MeterSimulator::command(const std::string& line)
{
    return sendCommand(line);
}

std::string MeterSimulator::sendCommand(const std::string& line) const
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::string("err control socket: ") + std::strerror(errno);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, m_controlPath.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const std::string reply = std::string("err control socket: ") + std::strerror(errno);
        close(fd);
        return reply;
    }
    const std::string request = line + "\n";
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    char c = 0;
    while (recv(fd, &c, 1, 0) == 1 && c != '\n')
        reply += c;
    close(fd);
    if (reply.empty())
        return "err control socket: no reply";
    return reply;
}

void MeterSimulator::set(int address, int reg, std::vector<int> values)
{
    std::string line = "set " + std::to_string(address) + " " + std::to_string(reg);
    for (int value : values) {
        line += ' ';
        line += std::to_string(value);
    }
    const std::string reply = command(line);
    if (reply != "ok")
        ADD_FAILURE() << "meter simulator refused \"" << line << "\": " << reply;
}

std::vector<int> MeterSimulator::get(int address, int reg, int count)
{
    const std::string line = "get " + std::to_string(address) + " " + std::to_string(reg) + " " + std::to_string(count);
    const std::string reply = command(line);
    std::istringstream words(reply);
    std::string status;
    words >> status;
    std::vector<int> values;
    for (int value = 0; words >> value;)
        values.push_back(value);
    if (status != "ok" || static_cast<int>(values.size()) != count) {
        ADD_FAILURE() << "meter simulator refused \"" << line << "\": " << reply;
        return {};
    }
    return values;
}

void MeterSimulator::fault(int address, const std::string& kind)
{
    const std::string line = "fault " + std::to_string(address) + " " + kind;
    const std::string reply = command(line);
    if (reply != "ok")
        ADD_FAILURE() << "meter simulator refused \"" << line << "\": " << reply;
}

std::vector<SimRequest> MeterSimulator::requests() const
{
    // The simulator reads the line before it serves the control socket, so once this ping is
    // answered every request already written to the line is in the log. The short pause
    // covers the kernel's hand-over of written bytes to the pseudo-terminal's other side.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    sendCommand("ping");
    std::ifstream log(m_logPath, std::ios::binary);
    log.seekg(static_cast<std::streamoff>(m_logOffset));
    std::vector<SimRequest> requests;
    std::string line;
    while (std::getline(log, line)) {
        if (log.eof())
            break;  // a line still being written has no newline yet
        std::istringstream words(line);
        SimRequest request{};
        words >> request.time;
        std::string hex;
        while (words >> hex)
            request.bytes.push_back(static_cast<uint8_t>(std::stoul(hex, nullptr, 16)));
        requests.push_back(std::move(request));
    }
    return requests;
}

std::vector<SimWrite> MeterSimulator::writes() const
{
    std::vector<SimWrite> writes;
    for (const SimRequest& request : requests()) {
        const auto& b = request.bytes;
        if (b.size() == 8 && b[1] == 6 && crcIntact(b))
            writes.push_back(SimWrite{b[0], b[2] << 8 | b[3], b[4] << 8 | b[5]});
    }
    return writes;
}

void MeterSimulator::clearRequests()
{
    sendCommand("ping");
    struct stat info {};
    m_logOffset = stat(m_logPath.c_str(), &info) == 0 ? static_cast<std::size_t>(info.st_size) : 0;
}

}  // namespace quorna::test
