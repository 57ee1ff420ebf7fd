#pragma once
// quorna-logger as a child process of a test or benchmark: its arguments, standard error captured,
// exit code, and SIGTERM.

#include <ctime>
#include <filesystem>
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

// 7 March 2002, 14:15:00 local time: the first logging moment of most runs.
std::time_t firstMoment();
// The logger's test clock as an environment entry (see logger_app.h): `ticks` one-minute ticks
// `tickMs` apart from `epoch`; ticks < 0: the clock never stops.
std::string testClockAt(std::time_t epoch, int ticks, int tickMs = 20);
// Writes "Quorna.cfg" holding `text` into dir (made when missing); returns its path.
std::string settingsIn(const std::filesystem::path& dir, const std::string& text);
// How many of the lines hold `part`, and whether one does.
std::size_t linesWith(const std::vector<std::string>& lines, const std::string& part);
bool anyLineHas(const std::vector<std::string>& lines, const std::string& part);

}  // namespace quorna::test
