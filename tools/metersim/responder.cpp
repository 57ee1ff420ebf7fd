#include "responder.h"

namespace quorna::metersim {

namespace {

int word(std::span<const uint8_t> frame, std::size_t at)
{
    return frame[at] << 8 | frame[at + 1];
}

}  // namespace

std::optional<Bytes> answerRequest(Meter& meter, std::span<const uint8_t> request)
{
    const int address = request[0];
    const uint8_t function = request[1];
    const auto length = requestLength(function);
    if (!length)
        return buildException(address, function, kIllegalFunction);
    if (request.size() != *length)
        return std::nullopt;
    switch (function) {
    case kReadHoldingRegisters: {
        const int start = word(request, 2);
        const int count = word(request, 4);
        if (count < 1 || count > kMaxReadCount)
            return buildException(address, function, kIllegalDataValue);
        const auto values = meter.read(start, count);
        if (!values)
            return buildException(address, function, kIllegalDataAddress);
        return buildReadAnswer(address, *values);
    }
    case kWriteSingleRegister:
        if (!meter.writeFromBus(word(request, 2), static_cast<uint16_t>(word(request, 4))))
            return buildException(address, function, kIllegalDataAddress);
        return Bytes(request.begin(), request.end());
    default: {
        const std::string& text = meter.deviceText();
        return buildSlaveIdAnswer(address, meter.slaveId(),
                                  std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }
    }
}

}  // namespace quorna::metersim
