// Any bytes a client of the logger's Modbus TCP gateway may send: the request parser takes whole
// requests off the front of the stream until it needs more or calls the header malformed, never
// reading beyond what arrived, never taking a PDU outside 1 to 253 bytes; what the gateway does
// with each request and the answer frames it builds are consistent with the request.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bus/gateway_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    while (at < size) {
        quorna::MbapRequest request;
        std::size_t consumed = 0;
        const quorna::MbapParse result = quorna::parseMbapRequest(data + at, size - at, request, consumed);
        if (result != quorna::MbapParse::Request) break;
        if (consumed < 8 || consumed > size - at || request.pdu.empty() ||
            request.pdu.size() > static_cast<std::size_t>(quorna::kMaxPduLength) ||
            consumed != request.pdu.size() + quorna::kMbapHeaderLength) {
            std::abort();
        }
        const std::uint8_t verdict = quorna::gatewayVerdict(request.pdu);
        if (verdict != 0 && verdict != quorna::kIllegalFunction && verdict != quorna::kIllegalDataValue) std::abort();
        if (verdict == 0 && quorna::isWriteRequest(request.pdu) && request.pdu.size() != 5) std::abort();
        const auto exception = quorna::mbapException(request.transactionId, request.unit, request.pdu[0], verdict);
        if (exception.size() != 9 || exception[5] != 3 || (exception[7] & 0x80U) == 0) std::abort();
        const auto echo = quorna::mbapAnswer(request.transactionId, request.unit, request.pdu.data(), request.pdu.size());
        if (echo.size() != consumed || (echo[0] << 8 | echo[1]) != request.transactionId) std::abort();
        for (std::size_t i = 0; i < consumed; ++i) {
            if (echo[i] != data[at + i]) std::abort();  // a request's frame rebuilt is the request
        }
        at += consumed;
    }
    return 0;
}
