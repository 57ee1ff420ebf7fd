#pragma once
// quorna-logger as a child process of a test or benchmark: its arguments, standard error captured,
// exit code, and SIGTERM.

#include <string>
#include <sys/types.h>
#include <vector>

namespace quorna::test {

class LoggerProcess {
public:
    // Starts QUORNA_LOGGER_PATH with the arguments; extraEnv ("NAME=value") is added to this
    // process's environment for the child only. Standard error goes to a file in errDir.
    LoggerProcess(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
                  const std::string& errDir);
    ~LoggerProcess();  // kills a child still running
    LoggerProcess(const LoggerProcess&) = delete;
    LoggerProcess& operator=(const LoggerProcess&) = delete;

    [[nodiscard]] pid_t pid() const { return m_pid; }
    // Waits up to timeoutMs for the exit; the exit code, or -1 on a time-out or a death by signal.
    int wait(int timeoutMs);
    void signal(int sig) const;
    [[nodiscard]] std::string errText() const;
    [[nodiscard]] std::vector<std::string> errLines() const;

private:
    pid_t m_pid = -1;
    std::string m_errPath;
};

// Runs the logger to its end (30 s at most); the exit code.
int runLoggerToEnd(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
                   const std::string& errDir, std::vector<std::string>* errLines = nullptr);

std::string readWholeFile(const std::string& path);

}  // namespace quorna::test
