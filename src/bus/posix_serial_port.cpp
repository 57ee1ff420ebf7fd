#include "bus/posix_serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace quorna {
namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

speed_t speedConstant(int baud) {
    switch (baud) {
        case 2400: return B2400;
        case 4800: return B4800;
        case 19200: return B19200;
        default: return B9600;
    }
}

// errno values with which the system tells that the device itself has gone.
bool deviceGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

class PosixSerialPort final : public SerialPort {
public:
    explicit PosixSerialPort(int fd) : m_fd(fd) {
        int status = 0;
        m_modemLines = ::ioctl(m_fd, TIOCMGET, &status) == 0;
        if (m_modemLines) {
            int dtr = TIOCM_DTR;
            ::ioctl(m_fd, TIOCMBIS, &dtr);
            // The kernel's RS-485 mode switches RTS around each frame by itself where the driver has it.
            serial_rs485 rs485{};
            rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
            m_kernelRs485 = ::ioctl(m_fd, TIOCSRS485, &rs485) == 0;
            if (!m_kernelRs485) setRts(false);
        }
    }

    ~PosixSerialPort() override {
        // The exclusive mode stays with the terminal after the close (a pseudo-terminal's slave
        // lives on while its master is open): without clearing it, only root could open it again.
        ::ioctl(m_fd, TIOCNXCL);
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }

    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    void applySettings(const LineSettings& settings) override {
        termios tio{};
        if (::tcgetattr(m_fd, &tio) != 0) return;
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        if (settings.parity != Parity::None) tio.c_cflag |= PARENB;
        if (settings.parity == Parity::Odd) tio.c_cflag |= PARODD;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ::cfsetispeed(&tio, speedConstant(settings.baud));
        ::cfsetospeed(&tio, speedConstant(settings.baud));
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }

    void setTimeouts(const CommTimeouts& timeouts) override { m_timeouts = timeouts; }

    bool write(const std::uint8_t* data, std::size_t count) override {
        if (m_lost) return false;
        const bool manualRts = m_modemLines && !m_kernelRs485;
        if (manualRts) setRts(true);
        const auto deadline = Clock::now() + Millis(m_timeouts.writeTotalConstant +
                                                    m_timeouts.writeTotalMultiplier * static_cast<int>(count));
        std::size_t sent = 0;
        bool ok = true;
        while (sent < count) {
            const ssize_t n = ::write(m_fd, data + sent, count - sent);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) {
                noteFailure(errno);
                ok = false;
                break;
            }
            if (!waitFor(POLLOUT, deadline)) {
                ok = false;
                break;
            }
        }
        // A real line is turned around only once the last stop bit has left the transmitter.
        // Pseudo-terminals have no modem lines and nothing to drain.
        if (m_modemLines && ok) {
            ::tcdrain(m_fd);
            waitTransmitterEmpty();
        }
        if (manualRts) setRts(false);
        return ok;
    }

    int read(std::uint8_t* buffer, std::size_t capacity) override {
        if (m_lost) return -1;
        const auto start = Clock::now();
        const auto totalDeadline =
            start + Millis(m_timeouts.readTotalConstant + m_timeouts.readTotalMultiplier * static_cast<int>(capacity));
        auto deadline = totalDeadline;
        std::size_t got = 0;
        while (got < capacity) {
            const auto now = Clock::now();
            if (now >= deadline) break;
            pollfd pfd{m_fd, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
            timespec ts{static_cast<time_t>(left.count() / 1000000000), static_cast<long>(left.count() % 1000000000)};
            const int ready = ::ppoll(&pfd, 1, &ts, nullptr);
            if (ready < 0) {
                if (errno == EINTR) continue;
                return -1;
            }
            if (ready == 0) break;
            const ssize_t n = ::read(m_fd, buffer + got, capacity - got);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
                if (m_timeouts.readInterval > 0) {
                    const auto intervalDeadline = Clock::now() + Millis(m_timeouts.readInterval);
                    deadline = intervalDeadline < totalDeadline ? intervalDeadline : totalDeadline;
                }
                continue;
            }
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            // End of file or an error with the device readable: it has hung up.
            noteFailure(n == 0 ? EIO : errno);
            if ((pfd.revents & (POLLHUP | POLLERR)) != 0 || m_lost) return got > 0 ? static_cast<int>(got) : -1;
            return -1;
        }
        return static_cast<int>(got);
    }

    bool waitReadable(std::chrono::milliseconds wait) override {
        if (m_lost) return true;
        pollfd pfd{m_fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, wait.count() > 0 ? static_cast<int>(wait.count()) : 0);
        return ready > 0;
    }

    bool lost() const override { return m_lost; }

private:
    void noteFailure(int error) {
        if (deviceGone(error)) m_lost = true;
    }

    void setRts(bool on) {
        int rts = TIOCM_RTS;
        ::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &rts);
    }

    bool waitFor(short events, Clock::time_point deadline) {
        const auto now = Clock::now();
        if (now >= deadline) return false;
        pollfd pfd{m_fd, events, 0};
        const int ms = static_cast<int>(std::chrono::duration_cast<Millis>(deadline - now).count()) + 1;
        const int ready = ::poll(&pfd, 1, ms);
        if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR)) != 0) {
            m_lost = true;
            return false;
        }
        return ready > 0 || (ready < 0 && errno == EINTR);
    }

    // Waits, briefly and boundedly, until the UART's shift register is empty where the driver can say so.
    void waitTransmitterEmpty() {
        for (int i = 0; i < 50; ++i) {
            unsigned int lsr = 0;
            if (::ioctl(m_fd, TIOCSERGETLSR, &lsr) != 0) return;
            if ((lsr & TIOCSER_TEMT) != 0) return;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    int m_fd;
    bool m_modemLines = false;
    bool m_kernelRs485 = false;
    bool m_lost = false;
    CommTimeouts m_timeouts{};
};

}  // namespace

std::string deviceForPortName(const std::string& portName) {
    if (portName.size() >= 5 && portName.compare(0, 3, "COM") == 0 && portName.back() == ':') {
        const std::string digits = portName.substr(3, portName.size() - 4);
        if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos && digits.size() <= 3) {
            const int n = std::atoi(digits.c_str());
            if (n >= 1) {
                const std::string variable = "QUORNA_COM" + digits;
                if (const char* device = std::getenv(variable.c_str()); device != nullptr && *device != '\0') {
                    return device;
                }
                return "/dev/ttyS" + std::to_string(n - 1);
            }
        }
    }
    return portName;
}

std::unique_ptr<SerialPort> openPosixSerialPort(const std::string& portName) {
    const std::string device = deviceForPortName(portName);
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // Not shared: a port another program holds (or another Quorna) must fail to open.
    if (::isatty(fd) == 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixSerialPort>(fd);
}

}  // namespace quorna
