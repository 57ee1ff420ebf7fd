#include "logger/logger_app.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "bus/network_port.h"
#include "bus/posix_serial_port.h"
#include "logger/modbus_gateway.h"
#include "logger/http_endpoint.h"
#include "logger/live_poller.h"
#include "logger/service_notifier.h"
#include "logger/stderr_operator.h"
#include "logging/durable_queue.h"
#include "logging/logging.h"
#include "logging/logging_sampler.h"
#include "meters/meter_model.h"
#include "meters/meter_scan.h"
#include "station/station.h"

namespace quorna {
namespace {

constexpr int kSecondsPerMinute = 60;
constexpr int kTickMs = 1000;  // the window program's timer period
constexpr int kMaxRescanMinutes = 7 * 24 * 60;

bool parseCount(const char* text, long low, long high, long& value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    value = v;
    return true;
}

// Why the device of a serial port name cannot be opened exclusively, or nothing when it can. A
// gateway's name is no device: the program's own opener connects to it at the first tick, and
// its failure ends the logger there.
std::string portProblem(const std::string& portName) {
    const std::string device = deviceForPortName(portName);
    if (isNetworkPortName(device)) return {};
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return device + ": " + (errno == EBUSY ? "in use by another program" : std::strerror(errno));
    std::string problem;
    if (::isatty(fd) == 0) {
        problem = device + ": not a serial port";
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        problem = device + ": in use by another program";
    }
    ::close(fd);
    return problem;
}

// A settings file is a few hundred bytes; anything much larger is not one.
constexpr off_t kMaxSettingsFileSize = 1024 * 1024;

// Why the settings file is not one the logger may read, or nothing. Checked without opening it,
// so that a FIFO without a writer cannot hold the logger, nor /dev/zero feed it for ever.
std::string settingsFileProblem(const std::string& file) {
    struct stat st{};
    if (::stat(file.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    if (st.st_size > kMaxSettingsFileSize) return "larger than 1 MiB, too large for a settings file";
    return {};
}

// Why the log file did not take the moment's lines, as near as can be told from outside the writer.
std::string logFileProblem(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return std::strerror(errno);
    std::string problem = "a write to it failed";
    struct stat st{};
    struct statvfs fs{};
    rlimit limit{};
    if (::fstat(fd, &st) == 0 && ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(st.st_size) >= limit.rlim_cur) {
        problem = std::strerror(EFBIG);
    } else if (::fstatvfs(fd, &fs) == 0 && fs.f_bavail == 0) {
        problem = std::strerror(ENOSPC);
    }
    ::close(fd);
    return problem;
}

// The records of the log file still waiting once a moment's writers are done.
std::size_t fileRecordsWaiting(const Logging& logging) {
    std::size_t waiting = 0;
    for (const RecordPtr& record : logging.fileQueue().records()) {
        if (record->model == kBranchMeter) ++waiting;
    }
    if (logging.spool().isOpen()) waiting += logging.spool().count(Sink::File);
    return waiting;
}

// The window says nothing when its log file cannot be written (the lines wait and go out once it
// can); nobody watches the logger, so it says it, folded like any message that comes back at
// every moment: once when it starts, once when it ends. The reason found when it started stays
// until it ends (`reason`), so that the line is one message however the cause moves.
void reportLogFile(StderrOperator& op, const Logging& logging, std::string& reason) {
    const ConfigurationRecord& settings = logging.settings();
    if (!settings.fileLoggingEnabled || settings.logFilePath.empty() || logging.fileBehind() ||
        fileRecordsWaiting(logging) == 0) {
        reason.clear();
        return;
    }
    if (reason.empty()) reason = logFileProblem(settings.logFilePath);
    op.repeated(MessageLevel::Error,
                "the log file " + settings.logFilePath + " cannot be written (" + reason + "): its lines wait in the spool");
}

// Why the settings file cannot be read.
std::string unreadableReason(const std::string& file) {
    std::FILE* f = std::fopen(file.c_str(), "r");
    if (f == nullptr) return std::strerror(errno);
    std::fclose(f);
    return "cannot be read";
}

bool logsSomewhere(const ConfigurationRecord& settings) {
    return (settings.fileLoggingEnabled && !settings.logFilePath.empty()) ||
           settings.databaseLogging == DatabaseLoggingState::Active;
}

std::string whereItLogs(const ConfigurationRecord& settings) {
    std::string where;
    if (settings.fileLoggingEnabled && !settings.logFilePath.empty()) where = "the file " + settings.logFilePath;
    if (settings.databaseLogging == DatabaseLoggingState::Active) {
        if (!where.empty()) where += " and ";
        where += "the table " + settings.database.table + " of the data source " + settings.database.dsn;
    }
    return where;
}

bool stopRequested() {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0) return false;
    return sigismember(&pending, SIGTERM) == 1 || sigismember(&pending, SIGINT) == 1;
}

enum class Wake { Timeout, Stop, Reload };

// Waits up to ms milliseconds for SIGTERM or SIGINT (a stop) or SIGHUP (read the settings again),
// all blocked, so only pending. Meanwhile the gateway serves its clients, in slices after which
// the signals are looked at.
Wake waitBetweenTicks(int ms, ModbusGateway& gateway) {
    constexpr long kSignalCheckMs = 50;
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const long left = std::max<long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
        const long wait = gateway.active() ? 0 : left;
        timespec timeout{wait / 1000, (wait % 1000) * 1000000L};
        const int sig = sigtimedwait(&signals, nullptr, &timeout);
        if (sig == SIGTERM || sig == SIGINT) return Wake::Stop;
        if (sig == SIGHUP) return Wake::Reload;
        if (sig < 0 && errno == EINTR) continue;  // another signal: the remaining time is lost, no matter
        if (left == 0 || !gateway.active()) return Wake::Timeout;
        gateway.serveFor(static_cast<int>(std::min(left, kSignalCheckMs)));
    }
}

// A silent meter holds the bus this long: its time-out and the bytes asked for.
constexpr int kWorstTransactionMs = 1000;

// The wait between ticks with live polling: the listed meters are polled one per step while the
// wait lasts, a signal still ending it between polls. A tick that may take a logging moment keeps
// its time: no poll starts when a silent meter could make it late.
Wake waitPolling(LivePoller& live, Station& station, SnapshotBoard& board, ModbusGateway& gateway, int ms,
                 bool momentNext) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int leftMs = static_cast<int>(std::max<long long>(0, left.count()));
        if (leftMs == 0) return waitBetweenTicks(0, gateway);
        int dueMs = leftMs;
        if ((momentNext && leftMs < kWorstTransactionMs) || !live.pollNext(station, &dueMs)) {
            const Wake wake = waitBetweenTicks(std::min(leftMs, std::max(dueMs, 1)), gateway);
            if (wake != Wake::Timeout) return wake;
            continue;
        }
        board.publish(live.snapshot(station));
        if (const Wake wake = waitBetweenTicks(0, gateway); wake != Wake::Timeout) return wake;
    }
}

// The time the logger's ticks read: the system clock, or the test clock.
class TickClock {
public:
    explicit TickClock(std::optional<TestClock> test) : m_test(test) {}
    // Tick k reads the time epoch + k * step, until the clock stands still.
    void tick() {
        if (m_test && (m_test->ticks < 0 || m_ticks + 1 < m_test->ticks)) ++m_ticks;
    }
    [[nodiscard]] std::time_t now() const {
        if (!m_test) return std::time(nullptr);
        return m_test->epoch + static_cast<std::time_t>(m_ticks < 0 ? 0 : m_ticks) * m_test->step;
    }
    [[nodiscard]] int periodMs() const { return m_test ? m_test->tickMs : kTickMs; }
    // The time the next tick will read.
    [[nodiscard]] std::time_t nextNow() const {
        if (!m_test) return std::time(nullptr) + kTickMs / 1000;
        if (m_test->ticks >= 0 && m_ticks + 1 >= m_test->ticks) return now();
        return now() + m_test->step;
    }
    [[nodiscard]] bool simulated() const { return m_test.has_value(); }

private:
    std::optional<TestClock> m_test;
    long m_ticks = -1;
};

// What the logger knows of the bus scans: whether the last one listed no meter, so that the next
// logging moment scans again, and whether it said so.
struct ScanState {
    bool empty = false;
    bool rescanSaid = false;
    bool readySent = false;
    bool once = false;  // --once: no later moment to scan at
};

void reportScan(StderrOperator& op, const Station& station, ScanState& scans) {
    const auto& entries = station.meters().list().entries();
    if (entries.empty()) {
        // Said once: the scans at the following moments find nothing quietly until one answers.
        if (scans.empty && scans.rescanSaid) return;
        op.write(MessageLevel::Warning, "the bus scan up to address " + std::to_string(station.settings().scanDepth) +
                                            " found no meter to log");
        if (!scans.rescanSaid && !scans.once) {
            op.write(MessageLevel::Info, "the bus is scanned again at every logging moment until a meter answers");
            scans.rescanSaid = true;
        }
        scans.empty = true;
        return;
    }
    scans.empty = false;
    scans.rescanSaid = false;
    std::string text = "the bus scan found " + std::to_string(entries.size()) + (entries.size() == 1 ? " meter:" : " meters:");
    for (std::size_t i = 0; i < entries.size(); ++i) text += (i == 0 ? " " : "; ") + entryText(entries[i]);
    op.write(MessageLevel::Info, text);
}

// Whether the logging sampler takes a moment when it runs now.
bool momentDue(const Logging& logging) {
    const std::time_t now = logging.now();
    return logging.nextMoment() == 0 || now >= logging.nextMoment();
}

// Runs the scan under way to its end, a step (one address) at a time, pinging the watchdog between
// them. A stop asked for meanwhile ends it after the address being asked: false then.
bool runScan(Station& station, ServiceNotifier& notifier) {
    while (station.scanning()) {
        if (stopRequested()) {
            station.cancelScan();
            return false;
        }
        notifier.ping();  // a long scan of a silent bus is no stuck logger
        if (!station.scanStep()) break;
    }
    return true;
}

// The station's tick with its steps, run to its end: the logger has no window to keep answering,
// only the watchdog to ping while a meter's answer is awaited.
void runTick(Station& station, ServiceNotifier& notifier) {
    station.tick();
    while (station.tickUnderWay()) {
        (void)station.step();
        notifier.ping();
    }
}

// One round of the logger around the station's tick, which the window runs too (with the poll of
// a selected meter switched off: it only feeds the window), adding what only the logger says. The tick that opens the port begins a
// scan, run here to its end; then the logging moment is taken if one is due. True when it opened
// the port or took a logging moment.
bool loggerRound(Station& station, StderrOperator& op, ScanState& scans, ServiceNotifier& notifier,
                 std::string& logFileTrouble) {
    const SerialLink& link = station.bus().link();
    bool worked = false;
    bool scanned = false;
    if (link.reopenRequested) {
        runTick(station, notifier);  // opens the port; when it opened, a scan has begun
        worked = true;
        if (station.scanning()) {
            if (!runScan(station, notifier)) return worked;
            scanned = true;
            reportScan(op, station, scans);
            if (!scans.readySent) {
                notifier.ready();
                scans.readySent = true;
            }
        }
        if (!link.portOpen) return worked;
    }
    if (!link.portOpen || station.scanning()) return worked;
    if (!logsSomewhere(station.settings())) return worked;
    // A stop asked for (during a scan, say) starts no logging moment: the logger ends first.
    if (stopRequested()) return worked;
    // Meters that did not answer the last scan (powered after the logger) are looked for again at
    // every logging moment until one answers.
    if (scans.empty && !scanned && momentDue(station.logging())) {
        station.scan();
        if (!runScan(station, notifier)) return true;
        reportScan(op, station, scans);
        if (!link.portOpen || stopRequested()) return true;
    }
    const std::time_t before = station.logging().nextMoment();
    runTick(station, notifier);
    if (station.logging().nextMoment() == before) return worked;
    // The spool's first opening runs beside the tick: the moment's lines meet the file once it is done.
    while (spoolOpening(station.logging()) && !stopRequested() && station.catchUp()) notifier.ping();
    reportLogFile(op, station.logging(), logFileTrouble);
    return true;
}

// "logging the meters on COM2: every minute to the file readings.csv"
std::string loggingSummary(const Station& station) {
    const ConfigurationRecord& settings = station.settings();
    return "logging the meters on " + station.bus().link().portName + " every " + std::to_string(settings.loggingInterval) +
           (settings.loggingInterval == 1 ? " minute to " : " minutes to ") + whereItLogs(settings);
}

// SIGHUP: the settings file read again between moments. Settings the logger could not start with
// are refused and the ones in use kept. A new port (or speed or parity) is opened at the next tick
// and the bus scanned there; a new scan depth scans the bus at once. The spool stays open, so that
// what waits in it goes to the writers of the new settings.
void reloadSettings(Station& station, StderrOperator& op, ScanState& scans, ServiceNotifier& notifier,
                    const std::string& file) {
    const std::string keeping = "; the settings in use are kept";
    if (const std::string problem = settingsFileProblem(file); !problem.empty()) {
        op.write(MessageLevel::Error, "the settings file " + file + " cannot be read: " + problem + keeping);
        return;
    }
    ConfigurationRecord fresh;
    SerialLink freshLink;
    if (!readConfiguration(fresh, freshLink, file.c_str())) {
        op.write(MessageLevel::Error, "the settings file " + file + " cannot be read: " + unreadableReason(file) + keeping);
        return;
    }
    if (freshLink.portName.empty()) {
        op.write(MessageLevel::Error, "the settings file " + file + " names no port (a line \"port COM1:\")" + keeping);
        return;
    }
    if (!logsSomewhere(fresh)) {
        op.write(MessageLevel::Error, "the settings file " + file +
                                          " names neither a log file (save_file) nor a database (dsn, table and link lines)" +
                                          keeping);
        return;
    }
    SerialLink& link = station.bus().link();
    const bool newPort = freshLink.portName != link.portName;
    if (newPort) {
        if (const std::string problem = portProblem(freshLink.portName); !problem.empty()) {
            op.write(MessageLevel::Error, "the port " + freshLink.portName + " cannot be opened: " + problem + keeping);
            return;
        }
    }
    const bool reopen = newPort || freshLink.speed != link.speed || freshLink.parity != link.parity;
    const bool rescan = fresh.scanDepth != station.settings().scanDepth;
    station.settings() = fresh;
    if (reopen) {
        closePort(link);
        link.portName = freshLink.portName;
        link.speed = freshLink.speed;
        link.parity = freshLink.parity;
        link.openFailures = 0;
        link.reopenRequested = true;  // the next tick opens it and scans the bus
    }
    op.write(MessageLevel::Info, "the settings file " + file + " was read again: " + loggingSummary(station));
    if (!reopen && rescan && link.portOpen) {
        station.scan();
        if (runScan(station, notifier)) reportScan(op, station, scans);
    }
}

}  // namespace

std::optional<LoggerOptions> parseLoggerOptions(int argc, const char* const* argv, std::string* error) {
    LoggerOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        // A long option's value follows it as the next argument or after '=' ("--config=/etc/x.cfg").
        std::optional<std::string> inlineValue;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.erase(eq);
        }
        const auto value = [&](const char* name) -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 >= argc) {
                *error = std::string(name) + " needs a value";
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        const auto flag = [&](bool& target) {
            if (inlineValue) {
                *error = arg + " takes no value";
                return false;
            }
            target = true;
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            if (!flag(options.help)) return std::nullopt;
        } else if (arg == "--version") {
            if (!flag(options.version)) return std::nullopt;
        } else if (arg == "--once") {
            if (!flag(options.once)) return std::nullopt;
        } else if (arg == "--config") {
            const auto file = value("--config");
            if (!file) return std::nullopt;
            if (file->empty()) {
                *error = "--config needs a file name";
                return std::nullopt;
            }
            options.configFile = *file;
        } else if (arg == "--gateway") {
            const auto address = value("--gateway");
            if (!address) return std::nullopt;
            if (!parseListenAddress(*address)) {
                *error = "--gateway takes ADDRESS:PORT, :PORT or [IPV6]:PORT, not '" + *address + "'";
                return std::nullopt;
            }
            options.gateway = *address;
        } else if (arg == "--live") {
            if (!flag(options.live)) return std::nullopt;
        } else if (arg == "--http") {
            const auto address = value("--http");
            if (!address) return std::nullopt;
            if (!parseHttpAddress(*address)) {
                *error = "--http takes ADDRESS:PORT or :PORT (for example 127.0.0.1:9750)";
                return std::nullopt;
            }
            options.http = *address;
        } else if (arg == "--rescan") {
            const auto minutes = value("--rescan");
            long m = 0;
            if (!minutes) return std::nullopt;
            if (!parseCount(minutes->c_str(), 1, kMaxRescanMinutes, m)) {
                *error = "--rescan takes a number of minutes from 1 to " + std::to_string(kMaxRescanMinutes);
                return std::nullopt;
            }
            options.rescanMinutes = static_cast<int>(m);
        } else {
            *error = "unknown option " + arg;
            return std::nullopt;
        }
    }
    return options;
}

std::string loggerOptionErrorText(const std::string& error) {
    return "quorna-logger: " + error + "\nTry 'quorna-logger --help' for more information.\n";
}

std::string loggerUsage() {
    return "Usage: quorna-logger [--config FILE] [--once] [--rescan MINUTES] [--gateway ADDRESS:PORT] [--live]\n"
           "                     [--http ADDRESS:PORT]\n"
           "Logs every meter of the bus at every logging moment to the log file and the database\n"
           "that the settings file names, without a window.\n"
           "\n"
           "  --config FILE      the settings file (default: Quorna.cfg in the working directory);\n"
           "                     the logging spool and Quorna-rejected.txt sit beside it\n"
           "  --once             scan the bus, take one logging moment at once, and exit\n"
           "  --rescan MINUTES   scan the bus again every MINUTES minutes (default: never)\n"
           "  --gateway ADDRESS:PORT  serve the bus to other programs as a Modbus TCP gateway on\n"
           "                     ADDRESS:PORT (:PORT alone is 127.0.0.1); writes from this machine only\n"
           "  --live             poll every meter between logging moments (or \"live on\" in the\n"
           "                     settings file); lamp changes go to Quorna-events.txt beside it\n"
           "  --http ADDRESS:PORT  serve /metrics (Prometheus), /api/v1/meters and the live page\n"
           "                     at / (or \"http ADDRESS:PORT\" in the settings file); :PORT alone\n"
           "                     listens on 127.0.0.1 only\n"
           "  --help             show this text\n"
           "  --version          show the version\n"
           "A long option's value may also follow it after '=' (--config=/etc/quorna/Quorna.cfg).\n"
           "\n"
           "Messages go to standard error, one line each: local time, level (error, warning, info), text.\n"
           "Without --once the logger runs until SIGTERM or SIGINT and then exits with 0.\n"
           "Exit codes: 0 every record written; 2 the options, the settings file or the port cannot be\n"
           "used, or the settings name neither a log file nor a database; 3 (--once) some records could\n"
           "not be written now and wait for a later run, or no meter answered the scan.\n";
}

std::optional<TestClock> parseTestClock(const char* text) {
    if (text == nullptr) return std::nullopt;
    std::istringstream in(text);
    long long epoch = 0;
    TestClock clock;
    if (!(in >> epoch >> clock.step >> clock.tickMs)) return std::nullopt;
    if (!(in >> clock.ticks)) clock.ticks = -1;
    if (clock.tickMs < 1 || clock.step < 0 || clock.ticks == 0) return std::nullopt;
    clock.epoch = static_cast<std::time_t>(epoch);
    return clock;
}

int runLogger(const LoggerOptions& options, std::ostream& err) {
    StderrOperator op(err, {}, lineStyleOfStandardError());
    Station station(op);
    station.useConfigFile(options.configFile);
    if (const std::string problem = settingsFileProblem(options.configFile); !problem.empty()) {
        op.write(MessageLevel::Error, "the settings file " + options.configFile + " cannot be read: " + problem);
        return kLoggerExitUnusable;
    }
    if (!station.readSettings()) {
        op.write(MessageLevel::Error,
                 "the settings file " + options.configFile + " cannot be read: " + unreadableReason(options.configFile));
        return kLoggerExitUnusable;
    }
    ConfigurationRecord& settings = station.settings();
    SerialLink& link = station.bus().link();
    if (link.portName.empty()) {
        op.write(MessageLevel::Error, "the settings file " + options.configFile + " names no port (a line \"port COM1:\")");
        return kLoggerExitUnusable;
    }
    if (!logsSomewhere(settings)) {
        op.write(MessageLevel::Error, "the settings file " + options.configFile +
                                          " names neither a log file (save_file) nor a database (dsn, table and link lines)");
        return kLoggerExitUnusable;
    }
    // One process per spool: a second logger (or a window) on the same settings would double lines.
    const std::string spool = spoolPath(station.logging());
    if (station.logging().spool().lock(spool) == SpoolLock::Busy) {
        op.write(MessageLevel::Error, "the spool " + spool + " is in use by another program logging with these settings");
        return kLoggerExitUnusable;
    }
    const std::string problem = portProblem(link.portName);
    if (!problem.empty()) {
        op.write(MessageLevel::Error, "the port " + link.portName + " cannot be opened: " + problem);
        return kLoggerExitUnusable;
    }

    // Live polling and the HTTP endpoint: the options, else the settings file.
    const std::string httpText = options.http.empty() ? settings.httpAddress : options.http;
    const std::optional<HttpAddress> httpAddress = httpText.empty() ? std::nullopt : parseHttpAddress(httpText);
    if (!httpText.empty() && !httpAddress) {
        op.write(MessageLevel::Error, "the HTTP address " + httpText + " is not ADDRESS:PORT or :PORT");
        return kLoggerExitUnusable;
    }
    LivePoller live(op, station.logging().stateDirectory() + kEventsFileName, options.live || settings.livePolling);
    SnapshotBoard board;
    HttpEndpoint http(board);
    if (httpAddress) {
        std::string why;
        if (!http.start(*httpAddress, &why)) {
            op.write(MessageLevel::Error, "the HTTP address " + httpText + " cannot be used: " + why);
            return kLoggerExitUnusable;
        }
        op.write(MessageLevel::Info, "serving /metrics, /api/v1/meters and the live page on http://" +
                                         (httpAddress->host.find(':') != std::string::npos ? "[" + httpAddress->host + "]"
                                                                                            : httpAddress->host) +
                                         ":" + std::to_string(httpAddress->port) + "/");
    }

    TickClock clock(parseTestClock(std::getenv(kTestClockVariable)));
    if (clock.simulated()) station.logging().useClock([&clock] { return clock.now(); });
    ServiceNotifier notifier;
    station.pollSelectedMeterEachTick(false);

    op.write(MessageLevel::Info, loggingSummary(station));
    // The Modbus TCP gateway, when one is asked for, serves other programs between the logger's own
    // transactions and ticks (see modbus_gateway.h).
    ModbusGateway gateway(station.bus(), op);
    if (const std::string listen = options.gateway.empty() ? settings.gateway : options.gateway;
        !listen.empty() && !options.once) {
        std::string error;
        if (!gateway.start(listen, settings.gatewayWriters, settings.gatewayReadOnly, &error)) {
            op.write(MessageLevel::Error, "the Modbus TCP gateway cannot listen on " + listen + ": " + error);
            op.finish();
            return kLoggerExitUnusable;
        }
    }
    const std::time_t rescanPeriod = static_cast<std::time_t>(options.rescanMinutes) * kSecondsPerMinute;
    std::time_t nextRescan = 0;
    int code = kLoggerExitOk;
    std::string logFileTrouble;  // why the log file could not be written, while it cannot
    ScanState scans;
    scans.once = options.once;
    for (;;) {
        clock.tick();
        notifier.ping();
        if (rescanPeriod > 0 && link.portOpen && clock.now() >= nextRescan) {
            station.scan();
            if (runScan(station, notifier)) reportScan(op, station, scans);
            op.endRound();
            nextRescan = clock.now() + rescanPeriod;
        }
        const bool wasOpen = link.portOpen;
        const bool worked = loggerRound(station, op, scans, notifier, logFileTrouble);
        // A backlog in the spool goes out a slice at a time, a stop asked for ending it between slices.
        while (!stopRequested() && station.catchUp()) {
            notifier.ping();
        }
        if (!wasOpen) {
            if (!link.portOpen && !stopRequested()) {
                op.finish();
                return kLoggerExitUnusable;  // the operator's line says which port
            }
            nextRescan = clock.now() + rescanPeriod;
        }
        if (worked) op.endRound();
        live.afterTick(station);
        board.publish(live.snapshot(station));
        if (!logsSomewhere(settings)) {
            // The database writer switches database logging off when the ODBC driver manager
            // cannot be loaded; with no log file either, nothing is left to do.
            op.write(MessageLevel::Error, "database logging was switched off (the ODBC driver manager libodbc.so.2 "
                                          "could not be loaded) and no log file is set: nothing to log to");
            code = kLoggerExitUnusable;
            break;
        }
        if (options.once) {
            const std::size_t waiting = recordsWaiting(station.logging());
            const std::size_t unkept = station.logging().fileQueue().size() + station.logging().databaseQueue().size();
            if (unkept > 0 && !station.logging().spool().isOpen()) {
                // Neither written nor spooled: they would be gone with the process.
                op.write(MessageLevel::Error, std::to_string(unkept) + (unkept == 1 ? " record" : " records") +
                                                  " could not be written, and the spool beside the settings file "
                                                  "could not keep them: they are lost");
                code = kLoggerExitUnusable;
            } else if (waiting > 0) {
                op.write(MessageLevel::Warning, std::to_string(waiting) + (waiting == 1 ? " record" : " records") +
                                                    " could not be written and wait for a later run");
                code = kLoggerExitWaiting;
            } else if (station.meters().list().entries().empty()) {
                // Nothing was logged: not the success of 0, but a run that a later one may make good.
                code = kLoggerExitWaiting;
            }
            break;
        }
        const std::time_t moment = station.logging().nextMoment();
        const Wake wake = live.polling() ? waitPolling(live, station, board, gateway, clock.periodMs(),
                                                       moment == 0 || clock.nextNow() >= moment)
                                         : waitBetweenTicks(clock.periodMs(), gateway);
        if (wake == Wake::Stop) {
            op.write(MessageLevel::Info, "stopping");
            break;
        }
        if (wake == Wake::Reload) reloadSettings(station, op, scans, notifier, options.configFile);
    }
    notifier.stopping();
    gateway.stop();
    op.finish();
    closePort(link);
    return code;
}

}  // namespace quorna
