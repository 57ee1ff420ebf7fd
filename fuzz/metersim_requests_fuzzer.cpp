// The simulator's side of the wire: any received bytes are cut into frames, and every intact
// frame gets the meter's answer or none, for every model, without a crash. An answer is always a
// whole frame with its CRC.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "frame_codec.h"
#include "meter.h"
#include "responder.h"

using namespace quorna::metersim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static constexpr int kModels[] = {230, 235, 236, 600, 8035, 8036};
    Meter meter(kModels[data[0] % 6], 1 + data[1] % 247);
    FrameAssembler assembler(std::chrono::microseconds(4000));
    const auto start = Clock::now();
    // Bytes arrive in bursts of the sizes the input's bytes give, 1 ms apart.
    std::size_t position = 2;
    int burst = 0;
    std::vector<ReceivedFrame> frames;
    while (position < size) {
        const std::size_t length = std::min<std::size_t>(1 + data[position] % 16, size - position);
        const auto now = start + std::chrono::milliseconds(burst++);
        for (auto& frame : assembler.feed(std::span(data + position, length), now)) frames.push_back(std::move(frame));
        if (auto late = assembler.flushIfSilent(now + std::chrono::milliseconds(data[position] % 8)))
            frames.push_back(std::move(*late));
        position += length;
    }
    for (const ReceivedFrame& frame : frames) {
        if (!crcIntact(frame.bytes)) continue;
        if (const auto answer = answerRequest(meter, frame.bytes)) {
            if (answer->size() < 5 || !crcIntact(*answer)) std::abort();
        }
    }
    return 0;
}
