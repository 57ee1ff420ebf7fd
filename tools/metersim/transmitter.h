// How a meter's answer goes onto the line: the faults a meter can be told to show, and the
// pacing of the answer at the line's speed after the turnaround delay.
#pragma once

#include "frame_codec.h"
#include "line_settings.h"

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorna::metersim {

enum class FaultKind { None, Silent, BadCrc, WrongAddress, Exception, Split, Trailing, Delay };

struct Fault {
    FaultKind kind = FaultKind::None;
    int argument = 0;  // trailing: garbage bytes; delay: milliseconds; exception: the register or kAnyRegister
};

inline constexpr int kAnyRegister = -1;

inline constexpr int kDefaultTrailingBytes = 2;
inline constexpr std::chrono::milliseconds kSplitPause{80};

// Parses "silent", "badcrc", "wrongaddr", "exception [REGISTER]", "split", "trailing [N]",
// "delay MS" or "none". On failure returns nullopt and sets `error`.
[[nodiscard]] std::optional<Fault> parseFault(const std::vector<std::string>& words, std::string& error);

// A run of bytes sent back to back, after a pause measured from the end of the previous one.
struct Burst {
    Bytes bytes;
    std::chrono::microseconds pauseBefore{0};
};

// What a meter puts on the line for one request. No bursts means silence.
struct AnswerPlan {
    std::vector<Burst> bursts;
    std::chrono::microseconds extraDelay{0};
};

// Turns the meter's correct answer to `request` into what it sends under `fault`.
// Whether an exception fault refuses this request (all of them, or those starting at its register).
[[nodiscard]] bool refusesRequest(const Fault& fault, std::span<const uint8_t> request);
[[nodiscard]] AnswerPlan shapeAnswer(std::span<const uint8_t> request, Bytes answer, const Fault& fault);

// Queues answers and releases them in chunks at the moments the line would have delivered
// them. A chunk is due when its last byte would have finished arriving, so an answer of n
// bytes ends n character times after it starts, and no chunk spans more than about 5 ms.
class Transmitter {
public:
    // `selfPaced`: the device is a real UART that paces its own output; each burst is then
    // handed over whole when it is due to start.
    Transmitter(LineSettings line, std::chrono::microseconds turnaround, bool selfPaced);

    void setLine(LineSettings line) { m_line = line; }

    // Schedules an answer to a request whose last byte arrived at `requestEnd`. An answer
    // never overlaps one still being sent: it starts when the line is free at the earliest.
    void schedule(const AnswerPlan& plan, Clock::time_point requestEnd);

    [[nodiscard]] std::optional<Clock::time_point> nextDue() const;

    // Hands every chunk due by `now` to `write`, in order.
    void writeDue(Clock::time_point now, const std::function<void(std::span<const uint8_t>)>& write);

private:
    struct Chunk {
        Clock::time_point due;
        Bytes bytes;
    };

    LineSettings m_line;
    std::chrono::microseconds m_turnaround;
    bool m_selfPaced;
    std::deque<Chunk> m_chunks;
    Clock::time_point m_lineFreeAt{};
};

}  // namespace quorna::metersim
