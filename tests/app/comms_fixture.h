#pragma once
// Shared set-up of the comms dialog tests: a clean core in a private working directory (the
// settings file "Quorna.cfg" lives there), simulated buses on COM ports, and the file's text.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "bus/serial_link.h"
#include "logging/logging_sampler.h"
#include "metersim_harness.h"
#include "station_fixture.h"
#include "settings/configuration.h"

namespace quorna::test {

class CommsTest : public StationTest {
protected:
    void SetUp() override {
        for (int n = 1; n <= 4; ++n) unsetenv(("QUORNA_COM" + std::to_string(n)).c_str());
        m_oldDir = std::filesystem::current_path();
        char pattern[] = "/tmp/quorna-comms-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        std::filesystem::current_path(m_dir);
    }
    void TearDown() override {
        dropStation();  // its port closes before the buses go
        m_buses.clear();
        for (int n = 1; n <= 4; ++n) unsetenv(("QUORNA_COM" + std::to_string(n)).c_str());
        std::filesystem::current_path(m_oldDir);
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    // A simulated bus with the given meters ("1:230", ...) reached as COMn:.
    MeterSimulator& busOnPort(int n, const std::vector<std::string>& meters, std::vector<std::string> extra = {}) {
        for (const auto& m : meters) {
            extra.push_back("--meter");
            extra.push_back(m);
        }
        m_buses.push_back(std::make_unique<MeterSimulator>(extra));
        m_buses.back()->useAsComPort(n);
        return *m_buses.back();
    }
    // COMn: names a device that does not exist.
    void absentPort(int n) const {
        setenv(("QUORNA_COM" + std::to_string(n)).c_str(), (m_dir + "/no-such-device").c_str(), 1);
    }

    std::string settingsFile() const {
        std::ifstream in(m_dir + "/Quorna.cfg");
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool settingsHas(const std::string& line) const {
        return settingsFile().find("\n" + line + "\n") != std::string::npos;
    }

    std::string m_dir;

private:
    std::filesystem::path m_oldDir;
    std::vector<std::unique_ptr<MeterSimulator>> m_buses;
};

}  // namespace quorna::test
