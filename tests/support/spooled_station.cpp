#include "spooled_station.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace quorna::test {

SpoolFolder::SpoolFolder() {
    std::string folder = (std::filesystem::temp_directory_path() / "quorna-spool.XXXXXX").string();
    if (::mkdtemp(folder.data()) != nullptr) m_folder = folder + "/";
}

SpoolFolder::~SpoolFolder() {
    std::error_code ignored;
    if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ignored);
}

SpooledStation::SpooledStation(Operator& op) : Station(op) {
    if (!spoolFolder().empty()) logging().useStateDirectory(spoolFolder());
}

Station& HeldStation::get() {
    if (!m_station) {
        ADD_FAILURE() << "the test made no station";
        std::abort();
    }
    return *m_station;
}

Station& HeldStation::fresh() {
    m_station.reset();
    m_station = std::make_unique<SpooledStation>(m_op);
    return *m_station;
}

}  // namespace quorna::test
