// The line the meters hang on: a pseudo-terminal whose slave side the program opens as its
// serial port, or a real serial device.
#pragma once

#include "line_settings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quorna::metersim {

class SerialLine {
public:
    // Opens a fresh pseudo-terminal in raw mode with the given settings. The simulator keeps
    // the slave side open itself so that the line survives the program closing its port.
    // Returns nullopt and sets `error` on failure.
    [[nodiscard]] static std::optional<SerialLine> openPseudoTerminal(const LineSettings& line, std::string& error);

    // Opens a serial device raw: 8 data bits, the given parity, one stop bit, the given speed.
    [[nodiscard]] static std::optional<SerialLine> openDevice(const std::string& path, const LineSettings& line,
                                                              std::string& error);

    SerialLine(SerialLine&& other) noexcept;
    SerialLine& operator=(SerialLine&& other) noexcept;
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;
    ~SerialLine();

    [[nodiscard]] int fd() const { return m_fd; }
    // The path a program opens: the pseudo-terminal's slave, or the device itself.
    [[nodiscard]] const std::string& path() const { return m_path; }
    [[nodiscard]] bool isPseudoTerminal() const { return m_slaveFd >= 0; }

    // Reads what has arrived, without blocking; an empty result when nothing is there.
    [[nodiscard]] std::size_t readAvailable(std::span<uint8_t> buffer);

    // Writes without blocking. Bytes the line cannot take (nobody reading a full
    // pseudo-terminal) are dropped, as a real line drops them when nobody listens.
    void write(std::span<const uint8_t> bytes);

    // On a pseudo-terminal: whether the program set the same speed and parity as the meters.
    // A real device always matches, since the simulator set it.
    [[nodiscard]] bool settingsMatch(const LineSettings& line) const;

private:
    SerialLine(int fd, int slaveFd, std::string path) : m_fd(fd), m_slaveFd(slaveFd), m_path(std::move(path)) {}

    int m_fd = -1;
    int m_slaveFd = -1;
    std::string m_path;
};

// Makes `link` a symbolic link to `target`, replacing an existing symbolic link (but no
// other kind of file). Returns false and sets `error` on failure.
[[nodiscard]] bool makeLink(const std::string& link, const std::string& target, std::string& error);

// Removes `link` if it is still a symbolic link to `target`.
void removeLink(const std::string& link, const std::string& target);

}  // namespace quorna::metersim
