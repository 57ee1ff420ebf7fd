#include "logger_process.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quorna::test {

LoggerProcess::LoggerProcess(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
                             const std::string& errDir)
    : m_errPath(errDir + "/logger-stderr.txt") {
    std::vector<std::string> argStore{QUORNA_LOGGER_PATH};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<std::string> envStore;
    for (char** e = environ; *e != nullptr; ++e) envStore.emplace_back(*e);
    envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    const int errFd = ::open(m_errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (errFd < 0) throw std::runtime_error("cannot create " + m_errPath);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(errFd, STDERR_FILENO);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ::close(errFd);
    if (m_pid < 0) throw std::runtime_error("fork failed");
}

LoggerProcess::~LoggerProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

int LoggerProcess::wait(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (std::chrono::steady_clock::now() >= end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void LoggerProcess::signal(int sig) const {
    if (m_pid > 0) ::kill(m_pid, sig);
}

std::string LoggerProcess::errText() const { return readWholeFile(m_errPath); }

std::vector<std::string> LoggerProcess::errLines() const {
    std::vector<std::string> lines;
    std::istringstream in(errText());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

int runLoggerToEnd(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
                   const std::string& errDir, std::vector<std::string>* errLines) {
    LoggerProcess logger(args, extraEnv, errDir);
    const int code = logger.wait(30000);
    if (errLines != nullptr) *errLines = logger.errLines();
    return code;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::time_t firstMoment() {
    std::tm t{};
    t.tm_year = 102;
    t.tm_mon = 2;
    t.tm_mday = 7;
    t.tm_hour = 14;
    t.tm_min = 15;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

std::string testClockAt(std::time_t epoch, int ticks, int tickMs) {
    return std::string("QUORNA_LOGGER_TEST_CLOCK=") + std::to_string(epoch) + " 60 " + std::to_string(tickMs) + " " +
           std::to_string(ticks);
}

std::string settingsIn(const std::filesystem::path& dir, const std::string& text) {
    std::filesystem::create_directories(dir);
    const std::filesystem::path file = dir / "Quorna.cfg";
    std::ofstream(file) << text;
    return file.string();
}

std::size_t linesWith(const std::vector<std::string>& lines, const std::string& part) {
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; }));
}

bool anyLineHas(const std::vector<std::string>& lines, const std::string& part) { return linesWith(lines, part) > 0; }

}  // namespace quorna::test
