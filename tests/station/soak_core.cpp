// The logging core as the fault soak runs it in a child process that may be killed at any time:
// one station on COM1: (QUORNA_COM1 names the simulator), file and database logging configured
// from the arguments, a clock that makes a logging moment of every second of wall time.
//   quorna-soak-core STATE_DIR LOG_FILE DSN USER PASSWORD TABLE BASE_TIME WALL_START WITNESS
// After each moment it appends "<time> <good reads>" to WITNESS. Ends on SIGTERM. With
// QUORNA_SOAK_KILL_AT_COMMIT=N in its environment it kills itself right after the spool's N-th
// commit of this run (a stop between the spool's commits).

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "core/operator.h"
#include "logging/durable_queue.h"
#include "logging/logging_sampler.h"
#include "logging/odbc_library.h"
#include "meters/meter_scan.h"
#include "station/station.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void stop(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
    using namespace quorna;
    if (argc != 10) {
        std::fprintf(stderr, "usage: %s STATE LOG DSN USER PASSWORD TABLE BASE WALL WITNESS\n", argv[0]);
        return 2;
    }
    signal(SIGTERM, stop);
    SilentOperator op;
    Station station(op);
    Logging& logging = station.logging();
    logging.useStateDirectory(std::string(argv[1]) + "/");
    ConfigurationRecord& settings = station.settings();
    settings.scanDepth = 3;
    settings.loggingInterval = 1;
    settings.fileLoggingEnabled = true;
    settings.logFilePath = argv[2];
    settings.databaseLogging = DatabaseLoggingState::Active;
    settings.database.dsn = argv[3];
    settings.database.user = argv[4];
    settings.database.password = argv[5];
    settings.database.table = argv[6];
    settings.database.links = {{0, SQL_INTEGER, "Meter"}, {2, SQL_TIMESTAMP, "Date_Time"}};
    for (int n = 1; n <= 42; ++n) settings.database.links.push_back({n + 2, SQL_FLOAT, "Amps" + std::to_string(n)});
    const std::time_t base = std::atoll(argv[7]);
    const std::time_t wallStart = std::atoll(argv[8]);
    logging.useClock([base, wallStart] { return base + 60 * (std::time(nullptr) - wallStart); });

    if (const char* at = std::getenv("QUORNA_SOAK_KILL_AT_COMMIT"); at != nullptr && std::atoi(at) > 0) {
        logging.spool().afterCommit = [n = std::atoi(at), commits = 0]() mutable {
            if (++commits == n) ::raise(SIGKILL);
        };
    }

    if (!openPort(station.bus(), "COM1:", false)) return 3;
    MeterScan(station.meters());

    while (g_stop == 0) {
        const std::time_t next = logging.nextMoment();
        const int goodBefore = station.bus().statistics().goodReads;
        LoggingSampler(logging);
        while (g_stop == 0 && catchUpLogging(logging)) {
        }
        if (logging.nextMoment() != next) {
            if (std::FILE* witness = std::fopen(argv[9], "a")) {
                std::fprintf(witness, "%lld %d\n", static_cast<long long>(logging.sampleTime()),
                             station.bus().statistics().goodReads - goodBefore);
                std::fclose(witness);
            }
        }
        ::usleep(100 * 1000);
    }
    return 0;
}
