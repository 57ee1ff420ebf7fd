#pragma once
// The last four exchanges on the bus as hex text, for the protocol trace window.

#include <array>
#include <cstdint>
#include <string>

namespace quorna {

struct TraceRing {
    std::array<std::string, 4> entries;  // each "Send->.. ..\rRecv->.. ..\r\n", or empty
    int newest = 0;                      // index of the newest entry

    // Advances to the next entry and starts it with the request's send line.
    void beginExchange(const std::uint8_t* request, int length);
    // Ends the current entry with the receive line of the bytes that arrived.
    void endExchange(const std::uint8_t* response, int length);
    // The four entries oldest first, as the trace window shows them.
    [[nodiscard]] std::string text() const;
};

}  // namespace quorna
