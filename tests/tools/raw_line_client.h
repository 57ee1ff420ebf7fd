#pragma once
// A minimal Modbus RTU master of the tests' own, written straight against termios, so that
// the simulator is checked against something other than the program's bus code.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quorna::test {

using Frame = std::vector<uint8_t>;

// Bitwise Modbus CRC-16; low byte first on the wire.
[[nodiscard]] uint16_t modbusCrc(const uint8_t* bytes, std::size_t count);
[[nodiscard]] Frame withCrc(Frame frame);
[[nodiscard]] bool crcIntact(const Frame& frame);

[[nodiscard]] Frame readRequest(int address, int start, int count);
[[nodiscard]] Frame writeRequest(int address, int reg, int value);
[[nodiscard]] Frame slaveIdRequest(int address);

// The register values of an intact function-3 answer; empty when it is not one.
[[nodiscard]] std::vector<int> answerValues(const Frame& answer);

// What arrived after a request: every read with its time since the request was sent.
struct Reception {
    struct Piece {
        double seconds;
        Frame bytes;
    };
    std::vector<Piece> pieces;

    [[nodiscard]] Frame bytes() const;
    [[nodiscard]] bool empty() const { return pieces.empty(); }
    [[nodiscard]] double firstByte() const { return pieces.front().seconds; }
    [[nodiscard]] double lastByte() const { return pieces.back().seconds; }
    // Longest silence between two pieces, in seconds.
    [[nodiscard]] double longestGap() const;
    // The pieces grouped into bursts separated by more than `gap` seconds.
    [[nodiscard]] std::vector<Frame> bursts(double gap) const;
};

class RawLine {
public:
    // Opens `path` raw, 8 data bits, one stop bit, with the given speed and parity
    // ('N', 'E' or 'O'); throws std::runtime_error on failure.
    explicit RawLine(const std::string& path, int baud = 9600, char parity = 'N');
    ~RawLine();
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;

    // Discards stale input, then writes the bytes in one write.
    void send(const Frame& bytes);

    // Collects what arrives after the last send until `quiet` passes without a byte (once a
    // byte came) or `wait` passes with none.
    [[nodiscard]] Reception receive(std::chrono::milliseconds quiet = std::chrono::milliseconds(150),
                                    std::chrono::milliseconds wait = std::chrono::milliseconds(1000));

    // send + receive, returning only the bytes.
    [[nodiscard]] Frame transact(const Frame& request);

private:
    int m_fd = -1;
    std::chrono::steady_clock::time_point m_sentAt;
};

}  // namespace quorna::test
