#pragma once
// The frames a Modbus TCP server sees: a client's request behind its MBAP header (transaction id,
// protocol 0, length, unit id, PDU) taken out of the bytes received so far, and the answers the
// server sends back, the meter's own or an exception of its own. Plain functions on bytes, so
// that garbage from a client can be tried on them alone.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorna {

// The largest PDU Modbus allows; the MBAP length counts it and the unit id.
inline constexpr int kMaxPduLength = 253;
inline constexpr int kMbapHeaderLength = 7;

// Exception codes a gateway answers with.
inline constexpr std::uint8_t kIllegalFunction = 0x01;
inline constexpr std::uint8_t kIllegalDataValue = 0x03;
inline constexpr std::uint8_t kGatewayPathUnavailable = 0x0A;
inline constexpr std::uint8_t kGatewayTargetFailed = 0x0B;

struct MbapRequest {
    std::uint16_t transactionId = 0;
    std::uint8_t unit = 0;
    std::vector<std::uint8_t> pdu;  // the function code and its data, 1 to kMaxPduLength bytes
};

enum class MbapParse {
    Incomplete,  // the bytes so far are the start of a request: wait for more
    Request,     // a whole request stands at the front
    Malformed,   // a protocol id other than 0, or a length that no request can have
};

// Looks at the size bytes received from a client. On Request, out holds the first request and
// consumed the bytes it took; otherwise both are left as they were.
MbapParse parseMbapRequest(const std::uint8_t* data, std::size_t size, MbapRequest& out, std::size_t& consumed);

// What a gateway does with a request's PDU before the bus sees it: 0 when it goes to the meter,
// else the exception code it is answered with. The meters have read holding registers (3, 1 to
// 125 registers), write single register (6) and report slave ID (17).
std::uint8_t gatewayVerdict(const std::vector<std::uint8_t>& pdu);
// Whether the PDU writes (function 6 or 16).
bool isWriteRequest(const std::vector<std::uint8_t>& pdu);

// The whole answer frame to a request: MBAP header with the request's transaction id and unit,
// then the PDU.
std::vector<std::uint8_t> mbapAnswer(std::uint16_t transactionId, std::uint8_t unit, const std::uint8_t* pdu,
                                     std::size_t pduLength);
// An exception answer: the function code with its top bit set, then the code.
std::vector<std::uint8_t> mbapException(std::uint16_t transactionId, std::uint8_t unit, std::uint8_t function,
                                        std::uint8_t code);

}  // namespace quorna
