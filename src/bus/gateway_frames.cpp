#include "bus/gateway_frames.h"

namespace quorna {
namespace {

constexpr std::uint8_t kReadHoldingRegisters = 3;
constexpr std::uint8_t kWriteSingleRegister = 6;
constexpr std::uint8_t kWriteMultipleRegisters = 16;
constexpr std::uint8_t kReportSlaveId = 17;
constexpr int kMaxGatewayReadCount = 125;  // what one Modbus read may ask

}  // namespace

MbapParse parseMbapRequest(const std::uint8_t* data, std::size_t size, MbapRequest& out, std::size_t& consumed) {
    // The header is judged as soon as its six bytes are in, so that garbage closes the connection
    // at once rather than after a length's worth of it.
    if (size >= 4 && (data[2] != 0 || data[3] != 0)) return MbapParse::Malformed;
    if (size < 6) return MbapParse::Incomplete;
    const int length = data[4] << 8 | data[5];  // the unit id and the PDU
    if (length < 2 || length > kMaxPduLength + 1) return MbapParse::Malformed;
    const std::size_t whole = 6 + static_cast<std::size_t>(length);
    if (size < whole) return MbapParse::Incomplete;
    out.transactionId = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
    out.unit = data[6];
    out.pdu.assign(data + kMbapHeaderLength, data + whole);
    consumed = whole;
    return MbapParse::Request;
}

std::uint8_t gatewayVerdict(const std::vector<std::uint8_t>& pdu) {
    if (pdu.empty()) return kIllegalFunction;
    switch (pdu[0]) {
        case kReadHoldingRegisters: {
            if (pdu.size() != 5) return kIllegalDataValue;
            const int count = pdu[3] << 8 | pdu[4];
            return count >= 1 && count <= kMaxGatewayReadCount ? 0 : kIllegalDataValue;
        }
        case kWriteSingleRegister: return pdu.size() == 5 ? 0 : kIllegalDataValue;
        case kReportSlaveId: return pdu.size() == 1 ? 0 : kIllegalDataValue;
        default: return kIllegalFunction;
    }
}

bool isWriteRequest(const std::vector<std::uint8_t>& pdu) {
    return !pdu.empty() && (pdu[0] == kWriteSingleRegister || pdu[0] == kWriteMultipleRegisters);
}

std::vector<std::uint8_t> mbapAnswer(std::uint16_t transactionId, std::uint8_t unit, const std::uint8_t* pdu,
                                     std::size_t pduLength) {
    const std::size_t length = pduLength + 1;
    std::vector<std::uint8_t> frame;
    frame.reserve(6 + length);
    frame.push_back(static_cast<std::uint8_t>(transactionId >> 8));
    frame.push_back(static_cast<std::uint8_t>(transactionId & 0xFF));
    frame.push_back(0);
    frame.push_back(0);
    frame.push_back(static_cast<std::uint8_t>(length >> 8));
    frame.push_back(static_cast<std::uint8_t>(length & 0xFF));
    frame.push_back(unit);
    frame.insert(frame.end(), pdu, pdu + pduLength);
    return frame;
}

std::vector<std::uint8_t> mbapException(std::uint16_t transactionId, std::uint8_t unit, std::uint8_t function,
                                        std::uint8_t code) {
    const std::uint8_t pdu[2] = {static_cast<std::uint8_t>(function | 0x80U), code};
    return mbapAnswer(transactionId, unit, pdu, 2);
}

}  // namespace quorna
