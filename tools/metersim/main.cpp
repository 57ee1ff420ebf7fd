// quorna-metersim: Modbus RTU meters on a pseudo-terminal or a serial device.
#include "line_settings.h"
#include "meter.h"
#include "simulator.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>

#include <sys/prctl.h>
#include <unistd.h>
#include <string>
#include <string_view>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using namespace quorna::metersim;

constexpr int kUsageError = 2;

const char* const kHelp = R"(Usage: quorna-metersim [OPTIONS]

Emulates panelboard meters answering Modbus RTU (functions 3, 6 and 17) on a
pseudo-terminal or a serial device, and behind Ethernet gateways. Prints the path a program
opens as its serial port on the first line of standard output, then one line per gateway with
the port name a program opens ("tcp://127.0.0.1:1502", "rtu+tcp://127.0.0.1:1503"), then runs
until SIGINT or SIGTERM. With gateways and neither --link nor --device there is no
pseudo-terminal: the gateways' names come first.

Options:
  --link PATH          make PATH a symbolic link to the line (an existing link is replaced;
                       removed again at exit)
  --device PATH        use a serial device instead of a new pseudo-terminal
  --tcp PORT           serve the meters as a Modbus TCP gateway on PORT (0: any free port)
  --rtu-tcp PORT       serve them as a gateway that carries RTU frames over TCP on PORT
  --listen ADDRESS     where the gateways listen (default 127.0.0.1)
  --baud N             line speed: 2400, 4800, 9600 or 19200 (default 9600)
  --parity P           none, even or odd (default none); one stop bit, 8 data bits
  --meter ADDR:MODEL   a meter at address 1..247; MODEL is 230 (Branch), 235, 236 (Circuit),
                       600 (Temperature), 8035 (Energy-Only) or 8036 (Full-Data); repeatable
  --log-requests FILE  append every frame received to FILE, one line each:
                       "<seconds since start, 6 decimals> <bytes as upper-case hex pairs>"
  --scenario FILE      run the commands in FILE at start (see below)
  --control PATH       listen on a Unix stream socket for commands, one reply line each
  --turnaround MS      pause between the end of a request and the answer (default 5)
  --seed N             seed of the drift of the measured values (default 1)
  --drift on|off       whether meters start drifting (default on)
  --check-line         ignore requests when the program's port is not set to the meters'
                       speed and parity (pseudo-terminal only)
  --exit-with-parent   stop when the program that started the simulator ends (for tests)
  --help               show this text
  --version            show the version

A long option's value may also follow it after '=' (--meter=3:230). At least one --meter (or a
--scenario that adds meters) is needed.

Answers are paced at the line speed: 10 bits per character, 11 with parity. A Modbus TCP
gateway sends an answer once the whole of it would have come over the line.

Commands (scenario file and control socket; '#' starts a comment line):
  meter ADDR MODEL            add or replace a meter with realistic contents
  remove ADDR                 take a meter off the bus
  set ADDR REG V1 [V2 ...]    store values into consecutive registers (0x.. accepted)
  setf ADDR REG FLOAT         store a single-precision value in REG, REG+1, high word first
  name ADDR TEXT              first meter name (up to 4 characters, zero-padded)
  name2 ADDR TEXT             second meter name (Circuit meters)
  text ADDR DEVICE-TEXT...    device text reported by function 17 (at most 90 bytes)
  slaveid ADDR BYTE           slave ID byte reported by function 17
  fault ADDR KIND [ARG]       silent | badcrc | wrongaddr | exception [REG] | split |
                              trailing [N] | delay MS | none
  drift ADDR|all on|off       drift of measured values and alarm status following them
  linecheck on|off            as --check-line
  get ADDR REG COUNT          control socket only; replies "ok V1 V2 ..."
  ping                        replies "ok"
Replies: "ok ..." or "err <reason>".
)";

[[noreturn]] void usageError(const std::string& message)
{
    std::cerr << "quorna-metersim: " << message << "\nTry 'quorna-metersim --help' for more information.\n";
    std::exit(kUsageError);
}

long parseNumber(std::string_view text, const char* what)
{
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        usageError(std::string("bad ") + what + ": " + std::string(text));
    return value;
}

SimulatorOptions parseOptions(int argc, char** argv)
{
    SimulatorOptions options;
    bool exitWithParent = false;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        // A value follows its option as the next argument or after '=' ("--meter=3:230").
        std::optional<std::string> inlineValue;
        if (const auto eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = option.substr(eq + 1);
            option.erase(eq);
        }
        const bool isFlag = option == "--help" || option == "--version" || option == "--check-line" ||
                            option == "--exit-with-parent";
        const bool takesValue = option == "--link" || option == "--tcp" || option == "--rtu-tcp" ||
                                option == "--listen" || option == "--device" || option == "--baud" ||
                                option == "--parity" || option == "--meter" || option == "--log-requests" ||
                                option == "--scenario" || option == "--control" || option == "--turnaround" ||
                                option == "--seed" || option == "--drift";
        if (!isFlag && !takesValue)
            usageError("unknown option " + option);
        if (isFlag && inlineValue)
            usageError(option + " takes no value");
        if (option == "--help") {
            std::cout << kHelp;
            std::exit(0);
        }
        if (option == "--version") {
            std::cout << "quorna-metersim " << QUORNA_VERSION << "\n";
            std::exit(0);
        }
        if (option == "--check-line") {
            options.checkLine = true;
            continue;
        }
        if (option == "--exit-with-parent") {
            exitWithParent = true;
            continue;
        }
        if (!inlineValue && i + 1 >= argc)
            usageError("missing value after " + option);
        const std::string value = inlineValue ? *inlineValue : std::string(argv[++i]);
        if (option == "--link") {
            options.link = value;
        } else if (option == "--tcp" || option == "--rtu-tcp") {
            const long port = parseNumber(value, "TCP port");
            if (port < 0 || port > 65535)
                usageError("TCP port must be 0 to 65535");
            (option == "--tcp" ? options.tcpPort : options.rtuTcpPort) = static_cast<int>(port);
        } else if (option == "--listen") {
            options.listenAddress = value;
        } else if (option == "--device") {
            options.device = value;
        } else if (option == "--baud") {
            options.line.baud = static_cast<int>(parseNumber(value, "baud rate"));
            if (!isSupportedBaud(options.line.baud))
                usageError("baud rate must be 2400, 4800, 9600 or 19200");
        } else if (option == "--parity") {
            const auto parity = parseParity(value);
            if (!parity)
                usageError("parity must be none, even or odd");
            options.line.parity = *parity;
        } else if (option == "--meter") {
            const auto colon = value.find(':');
            if (colon == std::string::npos)
                usageError("--meter needs ADDR:MODEL");
            const long address = parseNumber(std::string_view(value).substr(0, colon), "address");
            const long model = parseNumber(std::string_view(value).substr(colon + 1), "model");
            if (address < kFirstMeterAddress || address > kLastMeterAddress)
                usageError("meter address must be 1 to 247");
            if (!isKnownModel(static_cast<int>(model)))
                usageError("unknown meter model " + value.substr(colon + 1));
            options.meters.emplace_back(static_cast<int>(address), static_cast<int>(model));
        } else if (option == "--log-requests") {
            options.requestLog = value;
        } else if (option == "--scenario") {
            options.scenario = value;
        } else if (option == "--control") {
            options.control = value;
        } else if (option == "--turnaround") {
            const long ms = parseNumber(value, "turnaround");
            if (ms < 0 || ms > 10000)
                usageError("turnaround must be 0 to 10000 ms");
            options.turnaround = std::chrono::milliseconds(ms);
        } else if (option == "--seed") {
            options.seed = static_cast<unsigned>(parseNumber(value, "seed"));
        } else if (option == "--drift") {
            if (value != "on" && value != "off")
                usageError("--drift takes on or off");
            options.drift = value == "on";
        }
    }
    if (options.meters.empty() && !options.scenario)
        usageError("no meter: give at least one --meter ADDR:MODEL");
    if (exitWithParent) {
        // A test killed on its time-out must not leave its meters answering on a stray line.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1) std::exit(0);
    }
    return options;
}

// SIGINT and SIGTERM arrive as readable data on the returned descriptor, so that the main
// loop ends between two steps and cleans up.
int stopSignalFd()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return signalfd(-1, &signals, SFD_CLOEXEC);
}

}  // namespace

int main(int argc, char** argv)
{
    const SimulatorOptions options = parseOptions(argc, argv);
    const int stopFd = stopSignalFd();
    if (stopFd < 0) {
        std::perror("quorna-metersim: signalfd");
        return 1;
    }
    std::string error;
    auto simulator = Simulator::create(options, error);
    if (!simulator) {
        std::cerr << "quorna-metersim: " << error << "\n";
        close(stopFd);
        return 1;
    }
    for (const std::string& name : simulator->portNames())
        std::cout << name << "\n";
    std::cout << std::flush;
    if (!simulator->openControl(error)) {
        std::cerr << "quorna-metersim: " << error << "\n";
        close(stopFd);
        return 1;
    }
    const int status = simulator->run(stopFd);
    simulator.reset();
    close(stopFd);
    return status;
}
