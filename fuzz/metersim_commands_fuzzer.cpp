// The simulator's control language, as scenario files and the control socket feed it: any lines
// give a reply ("ok ..." or "err ...") or none, and leave a bus that still answers.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bus_state.h"
#include "command_language.h"

using namespace quorna::metersim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    BusState bus;
    bus.driftForNewMeters = false;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const auto source = (start / 7) % 2 == 0 ? CommandSource::Control : CommandSource::Scenario;
        if (const auto reply = executeCommand(bus, text.substr(start, end - start), source)) {
            if (reply->rfind("ok", 0) != 0 && reply->rfind("err", 0) != 0) std::abort();
        }
        start = end + 1;
    }
    return 0;
}
