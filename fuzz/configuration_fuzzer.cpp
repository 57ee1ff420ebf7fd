// "Quorna.cfg" as a hand or a damaged disk may leave it: whatever the reader takes from it, the
// writer writes a text that reads back to the same settings (reading and writing again gives the
// same text), and nothing crashes on the way. The reader and the writer work on the text in
// memory here, as they do on the file's contents.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "settings/configuration.h"

namespace {

// Lines longer than a piece are read back in pieces, so only shorter ones can round-trip.
constexpr std::size_t kLinePiece = 511;

// Reads the text into fresh settings; the text a save of them writes.
std::string readAndWrite(std::string_view text) {
    quorna::ConfigurationRecord settings;
    quorna::SerialLink link;
    quorna::parseConfiguration(text, settings, link);
    const quorna::SaveRequest request{settings.locationName, quorna::nearestInterval(settings.loggingInterval)};
    return quorna::configurationText(settings, link, request);
}

bool linesFitPieces(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.size() + 1 > kLinePiece) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string first = readAndWrite(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string second = readAndWrite(first);
    if (linesFitPieces(first) && first != second) {
        std::fprintf(stderr, "settings changed on their way through the file:\n--- first\n%s--- second\n%s",
                     first.c_str(), second.c_str());
        std::abort();
    }
    return 0;
}
