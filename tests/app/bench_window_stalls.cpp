// bench-window-stalls: the longest time the window's event loop is kept from running, measured
// by a 10 ms timer that notes the gaps between its firings, in five situations:
//   1. a bus scan to address 63 with 60 silent addresses, run as the window runs it (a step per
//      address from the event loop), and for reference the whole scan in one handler;
//   2. a logging moment to a database server that accepts connections and never answers (needs
//      the test ODBC environment of scripts/odbc-test-env.sh; skipped without it);
//   3. a logging moment with four silent meters of five, the first one selected and polled;
//   4. a backlog of 100,000 spooled log-file records draining in slices;
//   5. the database link window picking a data source whose server accepts connections and never
//      answers (test ODBC environment needed, as for 2), and for reference the same step of the
//      window's logic called without the window's wait hook: the time the loop would have waited.
// Runs the real main window offscreen against the simulator. Figures, not a test: it prints and
// exits 0. `bench-window-stalls quick` scans to address 16 instead of 63 (and drains 10,000 records).

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>

#include "gui/logging/database_link_window.h"
#include "gui/main/main_window.h"
#include "logging/durable_queue.h"
#include "logging/odbc_library.h"
#include "logging/spool.h"
#include "meters/meter_scan.h"
#include "metersim_harness.h"
#include "silent_server.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Notes the longest gap between two firings of a 10 ms timer, less the 10 ms.
class StallMeter {
public:
    StallMeter() {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            m_longest = std::max(m_longest, msBetween(m_last, now) - 10.0);
            m_last = now;
        });
    }
    void start() {
        m_longest = 0;
        m_last = Clock::now();
        m_timer.start();
    }
    double stop() {
        m_timer.stop();
        return m_longest;
    }

private:
    QTimer m_timer;
    Clock::time_point m_last;
    double m_longest = 0;
};

// Runs the event loop until done() or the time limit; returns the seconds it ran.
double runUntil(const std::function<bool()>& done, int limitSeconds) {
    const auto start = Clock::now();
    while (!done() && msBetween(start, Clock::now()) < limitSeconds * 1000.0) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return msBetween(start, Clock::now()) / 1000.0;
}

struct Workspace {
    Workspace() {
        char pattern[] = "/tmp/quorna-stalls-XXXXXX";
        if (mkdtemp(pattern) != nullptr) path = pattern;
        fs::current_path(path);
    }
    ~Workspace() {
        fs::current_path("/");
        fs::remove_all(path);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    fs::path path;
};

void benchScan(int depth) {
    // Meters at 1, 2 and 3; every other address up to the depth is silent.
    quorna::test::MeterSimulator sim({"--meter", "1:230", "--meter", "2:230", "--meter", "3:236"});
    sim.useAsComPort(1);
    const Workspace work;
    std::ofstream(work.path / "Quorna.cfg") << "port COM1:\nscan " << depth << "\n";
    quorna::QtOperator op;
    quorna::Station station(op);
    quorna::MainWindow window(station, op);
    window.show();
    StallMeter stalls;
    // The first tick opens the port and begins the scan; its steps run from the event loop.
    runUntil([&station] { return station.scanning(); }, 5);
    stalls.start();
    const auto start = Clock::now();
    runUntil([&station] { return !station.scanning(); }, 400);
    const double stepped = stalls.stop();
    const double took = msBetween(start, Clock::now()) / 1000.0;
    std::printf("scan to address %d (%d silent), a step per address: longest stall %.0f ms, scan %.1f s, %zu meters\n",
                depth, depth - 3, stepped, took, station.meters().list().entries().size());

    // Reference: the same scan run whole inside one event, as the window ran it before; the event
    // loop waits for as long as that event takes.
    double whole = 0;
    QTimer::singleShot(0, [&station, &whole] {
        const auto begun = Clock::now();
        quorna::MeterScan(station.meters());
        whole = msBetween(begun, Clock::now());
    });
    runUntil([&whole] { return whole > 0; }, 400);
    std::printf("  reference, the whole scan in one event: the event loop waits %.0f ms\n", whole);

    // The steps themselves, timed one by one: a step sends a probe or waits at most a slice of
    // 50 ms for its answer, so a silent address takes many short steps.
    double longestStep = 0;
    int longestAddress = 0;
    int steps = 0;
    double longestSilentStep = 0;  // meters answer at 1, 2 and 3; a step there also reads names
    station.scan();
    while (station.scanning()) {
        const int address = station.meters().scanProgress().nextAddress;
        const auto begun = Clock::now();
        station.scanStep();
        ++steps;
        const double took = msBetween(begun, Clock::now());
        if (address > 3) longestSilentStep = std::max(longestSilentStep, took);
        if (took > longestStep) {
            longestStep = took;
            longestAddress = address;
        }
    }
    std::printf("  the longest single step: %.0f ms (address %d), of %d steps; at a silent address: %.0f ms\n",
                longestStep, longestAddress, steps, longestSilentStep);
    window.close();
}

// Whether the test ODBC environment is at hand; says the part is skipped when it is not.
bool odbcEnvironment(const char* part) {
    if (std::getenv("ODBCSYSINI") != nullptr && fs::exists("/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so")) return true;
    std::printf("%s: skipped (no test ODBC environment: source the env.sh of scripts/odbc-test-env.sh)\n", part);
    return false;
}

// The data source QuornaSilent, on a server that accepts connections and never answers.
void useSilentDataSource(const Workspace& work, const quorna::test::SilentServer& server) {
    const std::string ini = (work.path / "odbc.ini").string();
    std::ofstream(ini) << "[QuornaSilent]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=" << server.port()
                       << "\nDatabase=quorna\n";
    setenv("ODBCINI", ini.c_str(), 1);
}

void benchSilentDatabase() {
    if (!odbcEnvironment("silent database")) return;
    quorna::test::SilentServer server;
    quorna::test::MeterSimulator sim({"--meter", "1:230"});
    sim.useAsComPort(1);
    const Workspace work;
    useSilentDataSource(work, server);
    std::ofstream(work.path / "Quorna.cfg") << "port COM1:\nscan 1\ninterval 1\ndsn QuornaSilent\ntable readings\n"
                                               "user quorna\npasswd quorna\nlink 0 4 Meter\nlink 2 11 Date_Time\n";
    quorna::QtOperator op;
    quorna::Station station(op);
    quorna::MainWindow window(station, op);
    window.show();
    StallMeter stalls;
    stalls.start();
    // The first tick opens and scans, the second takes the first moment and connects.
    runUntil([] { return false; }, 4 + static_cast<int>(quorna::kOdbcLoginTimeoutSeconds));
    std::printf("logging moment to a database server that never answers: longest stall %.0f ms (login time-out %d s)\n",
                stalls.stop(), static_cast<int>(quorna::kOdbcLoginTimeoutSeconds));
    window.close();
}

// A Branch meter selected and polled at every tick, and a logging moment that reads it and four
// listed meters that have fallen silent; for reference, the same tick and moment run whole in
// one event, as the window ran them before.
void benchSilentMeters() {
    quorna::test::MeterSimulator sim({"--meter", "1:230", "--meter", "2:230", "--meter", "3:230", "--meter", "4:230",
                                      "--meter", "5:230"});
    sim.useAsComPort(1);
    const Workspace work;
    std::ofstream(work.path / "Quorna.cfg") << "port COM1:\nscan 5\ninterval 1\nsave_file "
                                            << (work.path / "readings.csv").string() << "\nformat 1\n";
    quorna::QtOperator op;
    quorna::Station station(op);
    quorna::MainWindow window(station, op);
    window.show();
    // The first tick opens the port and scans; then meters 2 to 5 fall silent.
    runUntil([&station] { return station.scanning(); }, 5);
    runUntil([&station] { return !station.busy(); }, 60);
    for (int address = 2; address <= 5; ++address) sim.fault(address, "silent");
    station.logging().setClock(0, 0);  // the next tick is a logging moment
    StallMeter stalls;
    stalls.start();
    const auto start = Clock::now();
    runUntil([&station] { return station.tickUnderWay(); }, 5);
    runUntil([&station] { return !station.tickUnderWay(); }, 60);
    const double took = msBetween(start, Clock::now()) / 1000.0;
    std::printf("logging moment with 4 of 5 meters silent, the first selected: longest stall %.0f ms, moment %.1f s\n",
                stalls.stop(), took);

    double whole = 0;
    station.logging().setClock(0, 0);
    QTimer::singleShot(0, [&station, &whole] {
        const auto begun = Clock::now();
        station.tick();
        while (station.tickUnderWay()) (void)station.step();
        whole = msBetween(begun, Clock::now());
    });
    runUntil([&whole] { return whole > 0; }, 60);
    std::printf("  reference, the same tick in one event: the event loop waits %.0f ms\n", whole);
    window.close();
}

void benchBacklog(int records) {
    quorna::test::MeterSimulator sim({"--meter", "1:230"});
    sim.useAsComPort(1);
    const Workspace work;
    const std::string log = (work.path / "readings.csv").string();
    std::ofstream(work.path / "Quorna.cfg") << "port COM1:\nscan 1\ninterval 1\nsave_file " << log << "\nformat 1\n";
    {
        quorna::Spool spool;
        spool.open((work.path / quorna::spoolFileNameFor("Quorna.cfg")).string());
        std::vector<quorna::RecordPtr> batch;
        const std::time_t t0 = 1700000000;
        for (int i = 0; i < records; ++i) {
            auto record = std::make_shared<quorna::ReadingsRecord>();
            record->model = 230;
            record->address = 1;
            record->time = t0 + 60 * i;
            record->current.fill(1.5F + static_cast<float>(i % 7));
            batch.push_back(std::move(record));
            if (batch.size() == 1000) {
                spool.append(batch, true, false);
                batch.clear();
            }
        }
        if (!batch.empty()) spool.append(batch, true, false);
    }
    quorna::QtOperator op;
    quorna::Station station(op);
    quorna::MainWindow window(station, op);
    window.show();
    StallMeter stalls;
    stalls.start();
    const auto start = Clock::now();
    runUntil([&station] { return station.logging().spool().isOpen() && quorna::recordsWaiting(station.logging()) == 0; }, 600);
    std::printf("backlog of %d spooled log-file records: longest stall %.0f ms, drained in %.1f s\n", records,
                stalls.stop(), msBetween(start, Clock::now()) / 1000.0);
    window.close();
}

void benchLinkWindow() {
    if (!odbcEnvironment("database link window")) return;
    quorna::test::SilentServer server;
    quorna::test::MeterSimulator sim({"--meter", "1:230"});
    sim.useAsComPort(1);
    const Workspace work;
    useSilentDataSource(work, server);
    std::ofstream(work.path / "Quorna.cfg") << "port COM1:\nscan 1\ninterval 1\n";
    quorna::QtOperator op;
    quorna::Station station(op);
    quorna::MainWindow window(station, op);
    window.show();
    runUntil([] { return false; }, 2);  // the port opened and the meter found: the tick polls it
    window.dispatch(32778);              // the Database command: the link window opens
    auto* link = window.findChild<quorna::DatabaseLinkWindow*>();
    const QList<QListWidgetItem*> found =
        link != nullptr ? link->dataSourceList()->findItems(QStringLiteral("QuornaSilent"), Qt::MatchExactly)
                        : QList<QListWidgetItem*>{};
    if (found.isEmpty()) {
        std::printf("database link window: the silent data source is not listed\n");
        window.close();
        return;
    }
    const int row = link->dataSourceList()->row(found.front());
    link->userEdit()->setText(QStringLiteral("quorna"));
    link->passwordEdit()->setText(QStringLiteral("quorna"));
    // The pick as the operator makes it, and then the same step of the window's logic called
    // without the window's wait hook; the loop runs on briefly after each so that the gap up to
    // the timer's next firing is noted too.
    const auto measure = [&](const std::function<void()>& pick) {
        StallMeter stalls;
        stalls.start();
        const auto start = Clock::now();
        pick();
        const double took = msBetween(start, Clock::now());
        runUntil([] { return false; }, 1);
        return std::pair<double, double>{stalls.stop(), took};
    };
    // The loop with the window open and no call, two seconds of the tick polling the meter.
    const double idleStall = measure([] { runUntil([] { return false; }, 1); }).first;
    const auto [stall, took] = measure([&] { link->dataSourceList()->setCurrentRow(row); });
    const auto [unhookedStall, unhookedTook] = measure([&] { station.databaseLink().selectDataSource(row); });
    std::printf("database link window to a server that never answers: longest stall %.0f ms (the pick %.1f s; "
                "login time-out %d s)\n",
                stall, took / 1000.0, static_cast<int>(quorna::kOdbcLoginTimeoutSeconds));
    std::printf("  for reference, the same call without the wait hook: longest stall %.0f ms (the call %.1f s); "
                "with no call, the tick alone: %.0f ms\n",
                unhookedStall, unhookedTook / 1000.0, idleStall);
    link->close();
    window.close();
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const bool quick = argc > 1 && std::string(argv[1]) == "quick";
    // `bench-window-stalls scan|database|meters|backlog|link` runs that part alone.
    const std::string only = argc > 1 && !quick ? argv[1] : "";
    QApplication app(argc, argv);
    if (only.empty() || only == "scan") benchScan(quick ? 16 : 63);
    if (only.empty() || only == "database") benchSilentDatabase();
    if (only.empty() || only == "meters") benchSilentMeters();
    if (only.empty() || only == "backlog") benchBacklog(quick ? 10000 : 100000);
    if (only.empty() || only == "link") benchLinkWindow();
    return 0;
}
