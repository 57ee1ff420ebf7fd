#include "raw_line_client.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace quorna::test {

uint16_t modbusCrc(const uint8_t* bytes, std::size_t count)
{
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

Frame withCrc(Frame frame)
{
    const uint16_t crc = modbusCrc(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

bool crcIntact(const Frame& frame)
{
    return frame.size() >= 4 && modbusCrc(frame.data(), frame.size()) == 0;
}

Frame readRequest(int address, int start, int count)
{
    return withCrc({static_cast<uint8_t>(address), 3, static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start & 0xFF),
                    static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count & 0xFF)});
}

Frame writeRequest(int address, int reg, int value)
{
    return withCrc({static_cast<uint8_t>(address), 6, static_cast<uint8_t>(reg >> 8), static_cast<uint8_t>(reg & 0xFF),
                    static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)});
}

Frame slaveIdRequest(int address)
{
    return withCrc({static_cast<uint8_t>(address), 17});
}

std::vector<int> answerValues(const Frame& answer)
{
    if (answer.size() < 5 || !crcIntact(answer) || answer[1] != 3 || answer[2] + 5u != answer.size())
        return {};
    std::vector<int> values;
    for (std::size_t i = 3; i + 1 < answer.size() - 2; i += 2)
        values.push_back(answer[i] << 8 | answer[i + 1]);
    return values;
}

Frame Reception::bytes() const
{
    Frame all;
    for (const auto& piece : pieces)
        all.insert(all.end(), piece.bytes.begin(), piece.bytes.end());
    return all;
}

double Reception::longestGap() const
{
    double longest = 0.0;
    for (std::size_t i = 1; i < pieces.size(); ++i)
        longest = std::max(longest, pieces[i].seconds - pieces[i - 1].seconds);
    return longest;
}

std::vector<Frame> Reception::bursts(double gap) const
{
    std::vector<Frame> result;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i == 0 || pieces[i].seconds - pieces[i - 1].seconds > gap)
            result.emplace_back();
        result.back().insert(result.back().end(), pieces[i].bytes.begin(), pieces[i].bytes.end());
    }
    return result;
}

RawLine::RawLine(const std::string& path, int baud, char parity)
{
    m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        throw std::runtime_error("open " + path + ": " + std::strerror(errno));
    termios settings{};
    tcgetattr(m_fd, &settings);
    cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    if (parity == 'E' || parity == 'O')
        settings.c_cflag |= PARENB;
    if (parity == 'O')
        settings.c_cflag |= PARODD;
    const speed_t speed = baud == 2400 ? B2400 : baud == 4800 ? B4800 : baud == 19200 ? B19200 : B9600;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    tcsetattr(m_fd, TCSANOW, &settings);
}

RawLine::~RawLine()
{
    close(m_fd);
}

void RawLine::send(const Frame& bytes)
{
    tcflush(m_fd, TCIFLUSH);
    m_sentAt = std::chrono::steady_clock::now();
    if (write(m_fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("short write to the line");
}

Reception RawLine::receive(std::chrono::milliseconds quiet, std::chrono::milliseconds wait)
{
    using Clock = std::chrono::steady_clock;
    Reception reception;
    const auto giveUp = Clock::now() + wait;
    for (;;) {
        const auto now = Clock::now();
        const auto deadline = reception.empty() ? giveUp
                                                : m_sentAt + std::chrono::duration_cast<Clock::duration>(
                                                                 std::chrono::duration<double>(reception.lastByte())) +
                                                      quiet;
        if (now >= deadline)
            return reception;
        pollfd entry{m_fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        if (poll(&entry, 1, static_cast<int>(left)) <= 0)
            continue;
        uint8_t buffer[512];
        const ssize_t n = read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        reception.pieces.push_back({std::chrono::duration<double>(Clock::now() - m_sentAt).count(),
                                    Frame(buffer, buffer + n)});
    }
}

Frame RawLine::transact(const Frame& request)
{
    send(request);
    return receive().bytes();
}

}  // namespace quorna::test
