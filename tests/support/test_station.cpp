#include "test_station.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace quorna::test {
namespace {

// Test support only: which station the running test made, and the folder of its spool.
std::unique_ptr<Station>& current() {
    static std::unique_ptr<Station> held;
    return held;
}
std::filesystem::path& stateFolder() {
    static std::filesystem::path folder;
    return folder;
}

void dropStation() {
    current().reset();
    std::error_code ignored;
    if (!stateFolder().empty()) std::filesystem::remove_all(stateFolder(), ignored);
    stateFolder().clear();
}

}  // namespace

Station& useFreshStation(Operator& op) {
    dropStation();
    current() = std::make_unique<Station>(op);
    // Each station keeps its spool in a folder of its own, gone with the station.
    std::string folder = (std::filesystem::temp_directory_path() / "quorna-spool.XXXXXX").string();
    if (::mkdtemp(folder.data()) != nullptr) {
        stateFolder() = folder;
        current()->logging().useStateDirectory(folder + "/");
    }
    return *current();
}

Station& station() {
    if (!current()) {
        ADD_FAILURE() << "the test made no station";
        std::abort();
    }
    return *current();
}

void endStation() { dropStation(); }

}  // namespace quorna::test
