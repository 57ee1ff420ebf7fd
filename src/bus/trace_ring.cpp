#include "bus/trace_ring.h"

namespace quorna {
namespace {

void appendHex(std::string& text, const std::uint8_t* bytes, int length) {
    constexpr char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < length; ++i) {
        if (i > 0) text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
}

}  // namespace

void TraceRing::beginExchange(const std::uint8_t* request, int length) {
    newest = (newest + 1) % static_cast<int>(entries.size());
    std::string& entry = entries[static_cast<std::size_t>(newest)];
    entry = "Send->";
    appendHex(entry, request, length);
    entry += '\r';
}

void TraceRing::endExchange(const std::uint8_t* response, int length) {
    std::string& entry = entries[static_cast<std::size_t>(newest)];
    entry += "Recv->";
    appendHex(entry, response, length);
    entry += "\r\n";
}

std::string TraceRing::text() const {
    std::string text;
    const int n = static_cast<int>(entries.size());
    for (int i = 1; i <= n; ++i) text += entries[static_cast<std::size_t>((newest + i) % n)];
    return text;
}

}  // namespace quorna
