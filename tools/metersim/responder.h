// What a meter answers to a request addressed to it.
#pragma once

#include "frame_codec.h"
#include "meter.h"

#include <optional>
#include <span>

namespace quorna::metersim {

// The meter's correct answer to an intact request (CRC checked by the caller) addressed to
// it: register values, the echo of a write, its slave ID and device text, or an exception
// (1 unknown function, 2 register not held, 3 bad count). A write changes the meter.
// nullopt when the frame is no request the meter can make sense of.
[[nodiscard]] std::optional<Bytes> answerRequest(Meter& meter, std::span<const uint8_t> request);

}  // namespace quorna::metersim
