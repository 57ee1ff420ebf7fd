#include "serial_line.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace quorna::metersim {

namespace {

speed_t speedFlag(int baud)
{
    switch (baud) {
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 19200:
        return B19200;
    default:
        return B9600;
    }
}

void applyRaw(termios& settings, const LineSettings& line)
{
    cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    if (line.parity != Parity::None)
        settings.c_cflag |= PARENB;
    if (line.parity == Parity::Odd)
        settings.c_cflag |= PARODD;
    settings.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, speedFlag(line.baud));
    cfsetospeed(&settings, speedFlag(line.baud));
}

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

}  // namespace

std::optional<SerialLine> SerialLine::openPseudoTerminal(const LineSettings& line, std::string& error)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) {
        error = systemError("posix_openpt");
        return std::nullopt;
    }
    char name[128] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        error = systemError("pseudo-terminal set-up");
        ::close(master);
        return std::nullopt;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = systemError(std::string("open ") + name);
        ::close(master);
        return std::nullopt;
    }
    termios settings{};
    if (tcgetattr(slave, &settings) == 0) {
        applyRaw(settings, line);
        tcsetattr(slave, TCSANOW, &settings);
    }
    return SerialLine(master, slave, name);
}

std::optional<SerialLine> SerialLine::openDevice(const std::string& path, const LineSettings& line, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = systemError("open " + path);
        return std::nullopt;
    }
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        error = systemError("tcgetattr " + path);
        ::close(fd);
        return std::nullopt;
    }
    applyRaw(settings, line);
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        error = systemError("tcsetattr " + path);
        ::close(fd);
        return std::nullopt;
    }
    tcflush(fd, TCIOFLUSH);
    return SerialLine(fd, -1, path);
}

SerialLine::SerialLine(SerialLine&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_slaveFd(std::exchange(other.m_slaveFd, -1)), m_path(std::move(other.m_path))
{
}

SerialLine& SerialLine::operator=(SerialLine&& other) noexcept
{
    if (this != &other) {
        std::swap(m_fd, other.m_fd);
        std::swap(m_slaveFd, other.m_slaveFd);
        std::swap(m_path, other.m_path);
    }
    return *this;
}

SerialLine::~SerialLine()
{
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
    if (m_fd >= 0)
        ::close(m_fd);
}

std::size_t SerialLine::readAvailable(std::span<uint8_t> buffer)
{
    const ssize_t n = ::read(m_fd, buffer.data(), buffer.size());
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void SerialLine::write(std::span<const uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

bool SerialLine::settingsMatch(const LineSettings& line) const
{
    if (m_slaveFd < 0)
        return true;
    termios settings{};
    if (tcgetattr(m_slaveFd, &settings) != 0)
        return true;
    const bool parity = (settings.c_cflag & PARENB) != 0;
    const bool odd = (settings.c_cflag & PARODD) != 0;
    const bool parityMatches = line.parity == Parity::None ? !parity : parity && (odd == (line.parity == Parity::Odd));
    return parityMatches && cfgetospeed(&settings) == speedFlag(line.baud);
}

bool makeLink(const std::string& link, const std::string& target, std::string& error)
{
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = link + " exists and is not a symbolic link";
            return false;
        }
        if (::unlink(link.c_str()) != 0) {
            error = systemError("unlink " + link);
            return false;
        }
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        error = systemError("symlink " + link);
        return false;
    }
    return true;
}

void removeLink(const std::string& link, const std::string& target)
{
    char buffer[4096];
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
    if (n >= 0 && std::string(buffer, static_cast<std::size_t>(n)) == target)
        ::unlink(link.c_str());
}

}  // namespace quorna::metersim
