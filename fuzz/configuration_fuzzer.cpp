// "Quorna.cfg" as a hand or a damaged disk may leave it: whatever the reader takes from it, the
// writer writes a file that reads back to the same settings (reading and writing again gives the
// same text), and nothing crashes on the way.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "core/operator.h"
#include "settings/configuration.h"

namespace {

// Lines longer than this are read back in pieces, so only shorter ones can round-trip.
constexpr std::size_t kLinePiece = 511;

void enterScratchDirectory() {
    static const bool entered = [] {
        char shm[] = "/dev/shm/quorna-fuzz-XXXXXX";
        char tmp[] = "/tmp/quorna-fuzz-XXXXXX";
        const char* dir = mkdtemp(shm) != nullptr ? shm : mkdtemp(tmp);
        return dir != nullptr && chdir(dir) == 0;
    }();
    if (!entered) std::abort();
}

std::string fileText() {
    std::ifstream in(quorna::kConfigurationFileName, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Reads the file into fresh settings and writes them back; the text written.
std::string readAndWrite() {
    quorna::ConfigurationRecord settings;
    quorna::SerialLink link;
    quorna::readConfiguration(settings, link);
    quorna::SilentOperator op;
    const quorna::SaveRequest request{settings.locationName, quorna::nearestInterval(settings.loggingInterval)};
    if (!quorna::writeConfiguration(settings, link, op, request)) std::abort();
    return fileText();
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
    enterScratchDirectory();
    {
        std::ofstream out(quorna::kConfigurationFileName, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const std::string first = readAndWrite();
    const std::string second = readAndWrite();
    if (linesFitPieces(first) && first != second) {
        std::fprintf(stderr, "settings changed on their way through the file:\n--- first\n%s--- second\n%s",
                     first.c_str(), second.c_str());
        std::abort();
    }
    return 0;
}
