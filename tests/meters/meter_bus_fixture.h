#pragma once
// A bus with simulated meters on COM1 and the recording operator, from program start.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bus/serial_link.h"
#include "metersim_harness.h"
#include "recording_operator.h"

namespace quorna::test {

class MeterBusTest : public ::testing::Test {
protected:
    void SetUp() override { useFreshStation(op); }
    void TearDown() override {
        endStation();
        m_sim.reset();
    }

    // Starts the simulator with the given meters ("3:230", ...) and opens COM1 on it.
    MeterSimulator& startBus(const std::vector<std::string>& meters, bool open = true) {
        std::vector<std::string> args;
        for (const auto& m : meters) {
            args.push_back("--meter");
            args.push_back(m);
        }
        m_sim = std::make_unique<MeterSimulator>(args);
        m_sim->useAsComPort(1);
        if (open) {
            EXPECT_TRUE(selectPort(station().bus, "COM1:"));
            m_sim->clearRequests();
        }
        return *m_sim;
    }

    RecordingOperator op;
    std::unique_ptr<MeterSimulator> m_sim;
};

// Function code and register count of a read request (function 3) as received by the meters.
inline int functionOf(const SimRequest& r) { return r.bytes.size() > 1 ? r.bytes[1] : -1; }
inline int addressOf(const SimRequest& r) { return r.bytes.empty() ? -1 : r.bytes[0]; }
inline int readStartOf(const SimRequest& r) { return r.bytes.size() > 3 ? (r.bytes[2] << 8) | r.bytes[3] : -1; }
inline int readCountOf(const SimRequest& r) { return r.bytes.size() > 5 ? (r.bytes[4] << 8) | r.bytes[5] : -1; }

}  // namespace quorna::test
