// Meter models from device texts, the current scale, names, serial numbers and the block reads'
// failure values, against the simulator.

#include <gtest/gtest.h>

#include <cstdio>

#include "bus/serial_link.h"
#include "meters/meter_model.h"
#include "meters/register_map.h"
#include "metersim_harness.h"
#include "station_fixture.h"

namespace quorna::test {
namespace {

TEST(ModelFromDeviceText, RulesApplyInTheirOrder) {
    EXPECT_EQ(modelFromDeviceText("Tamsa Branch Circuit Meter 6, x"), kBranchMeter) << "Branch before Circuit";
    EXPECT_EQ(modelFromDeviceText("Tamsa Circuit Meter 6, Temperature"), kTemperatureMeter);
    EXPECT_EQ(modelFromDeviceText("Branch Circuit Monitor"), kNoModel) << "no Tamsa, no model";
    EXPECT_EQ(modelFromDeviceText("Tamsa Circuit Meter 8, Rev B"), kCircuitMeter8);
    EXPECT_EQ(modelFromDeviceText("Tamsa Circuit Meter 6, Rev B"), kCircuitMeter6);
    EXPECT_EQ(modelFromDeviceText("Tamsa Circuit Meter 6 Rev B"), kNoModel) << "the comma belongs to the rule";
    EXPECT_EQ(modelFromDeviceText("Tamsa Energy-Only Full-Data Temperature"), kEnergyOnlyMeter);
    EXPECT_EQ(modelFromDeviceText("Tamsa Full-Data Meter"), kFullDataMeter);
    EXPECT_EQ(modelFromDeviceText("tamsa branch"), kNoModel) << "letter case counts";
    EXPECT_EQ(modelFromDeviceText("03 - PNL1 [Tamsa Branch Circuit Monitor]"), kBranchMeter) << "a list entry";
}

TEST(CurrentScale, RangeRegisterSelectsTheFactor) {
    EXPECT_FLOAT_EQ(currentScaleFor(0), 0.0001F);
    EXPECT_FLOAT_EQ(currentScaleFor(5), 0.0001F);
    EXPECT_FLOAT_EQ(currentScaleFor(6), 0.001F);
    EXPECT_FLOAT_EQ(currentScaleFor(59), 0.001F);
    EXPECT_FLOAT_EQ(currentScaleFor(60), 0.01F);
    EXPECT_FLOAT_EQ(currentScaleFor(599), 0.01F);
    EXPECT_FLOAT_EQ(currentScaleFor(600), 0.1F);
    EXPECT_FLOAT_EQ(currentScaleFor(5999), 0.1F);
    EXPECT_EQ(currentScaleFor(6000), 0.0F);
    EXPECT_EQ(currentScaleFor(65535), 0.0F);
}

TEST(RegisterTexts, NamesEndAtAZeroByteAndArePaddedWithSpaces) {
    const std::int32_t abc[2] = {0x4142, 0x4300};
    EXPECT_EQ(namesFromRegisters(abc, 2), "ABC");
    const std::int32_t empty[2] = {0x0041, 0x4243};
    EXPECT_EQ(namesFromRegisters(empty, 2), "");
    EXPECT_EQ(nameToRegisters("AB"), (std::array<int, 2>{0x4142, 0x2020}));
    EXPECT_EQ(nameToRegisters("PNL1"), (std::array<int, 2>{0x504E, 0x4C31}));
    EXPECT_EQ(nameToRegisters(""), (std::array<int, 2>{0x2020, 0x2020}));
    EXPECT_EQ(nameToRegisters("\xE9t\xE9"), (std::array<int, 2>{0xE974, 0xE920})) << "bytes are unsigned";
    EXPECT_FLOAT_EQ(floatFromRegisters(0x41BC, 0x0000), 23.5F);
}

class RegisterMapTest : public StationTest {
protected:
    void SetUp() override {
        startBus({"3:230", "7:236", "2:600"});
        ASSERT_TRUE(station().bus().link().portOpen);
        station().meters().recordSlaveId(3, kBranchMeter);
        station().meters().recordSlaveId(7, kCircuitMeter6);
        station().meters().recordSlaveId(2, 0x58);
    }
};

TEST_F(RegisterMapTest, SerialNumbersAndFirmwareComeFromEachModelsRegisters) {
    sim->set(3, 261, {1, 34464});
    sim->set(7, 44, {0, 42});
    sim->set(3, 49, {2, 7});
    sim->set(7, 42, {3, 1});
    char text[32];
    std::snprintf(text, sizeof text, "Serial Number - %08u", readSerialNumber(station().meters(), 3));
    EXPECT_STREQ(text, "Serial Number - 00100000");
    EXPECT_EQ(readSerialNumber(station().meters(), 7), 42U);
    sim->clearRequests();
    EXPECT_EQ(readSerialNumber(station().meters(), 2), 0U);
    EXPECT_TRUE(sim->requests().empty()) << "other models have no serial number to read";
    int major = -1, minor = -1;
    readFirmwareVersion(station().meters(), 3, major, minor);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 7);
    readFirmwareVersion(station().meters(), 7, major, minor);
    EXPECT_EQ(major, 3);
    EXPECT_EQ(minor, 1);
}

TEST_F(RegisterMapTest, NamesOfBothModels) {
    sim->set(3, 273, {0x504E, 0x4C31});
    sim->set(7, 38, {0x4142, 0x4300, 0x4D41, 0x494E});
    EXPECT_EQ(readMeterNames(station().meters(), 3).first, "PNL1");
    EXPECT_EQ(readMeterNames(station().meters(), 3).second, "");
    const MeterNames circuit = readMeterNames(station().meters(), 7);
    EXPECT_EQ(circuit.first, "ABC");
    EXPECT_EQ(circuit.second, "MAIN");
    sim->clearRequests();
    EXPECT_EQ(readMeterNames(station().meters(), 2).first, "");
    EXPECT_TRUE(sim->requests().empty());
}

TEST_F(RegisterMapTest, BlockReadsAskTheirRegistersAndMarkFailures) {
    sim->set(3, 135, {85});
    BreakerBlock block{};
    ASSERT_EQ(readAlarmLimits(station().meters(), 3, block), ModbusError::Ok);
    EXPECT_EQ(block[0], 85);
    sim->set(7, 30, {27700, 20000, 1500, 100, 900, 10, 0, 5});
    BreakerBlock limits{};
    ASSERT_EQ(readAlarmLimits(station().meters(), 7, limits), ModbusError::Ok);
    EXPECT_EQ(limits[0], 27700);
    EXPECT_EQ(limits[7], 5);
    const auto requests = sim->requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[0].bytes[3], 135);
    EXPECT_EQ(requests[0].bytes[5], 42);
    EXPECT_EQ(requests[1].bytes[3], 30);
    EXPECT_EQ(requests[1].bytes[5], 8);

    // Each setup block from its own start register.
    sim->clearRequests();
    BreakerBlock any{};
    ASSERT_EQ(readPanelSetupBlock(station().meters(), 3, any), ModbusError::Ok);
    ASSERT_EQ(readWarningLimits(station().meters(), 3, any), ModbusError::Ok);
    ASSERT_EQ(readWarningDelays(station().meters(), 3, any), ModbusError::Ok);
    ASSERT_EQ(readAlarmDelays(station().meters(), 3, any), ModbusError::Ok);
    std::int32_t globalFlags = -1;
    ASSERT_EQ(readGlobalFlags(station().meters(), 7, globalFlags), ModbusError::Ok);
    std::vector<std::pair<int, int>> asked;
    for (const auto& r : sim->requests()) asked.emplace_back(r.bytes[2] << 8 | r.bytes[3], r.bytes[4] << 8 | r.bytes[5]);
    EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{51, 42}, {93, 42}, {177, 42}, {219, 42}, {73, 1}}));

    sim->fault(3, "silent");
    BreakerBlock failed{};
    EXPECT_EQ(readWarningDelays(station().meters(), 3, failed), ModbusError::Timeout);
    for (auto v : failed) EXPECT_EQ(v, -1);
    std::int32_t flags = 0;
    EXPECT_EQ(readGlobalFlags(station().meters(), 3, flags), ModbusError::Timeout);
    EXPECT_EQ(flags, 0x01010101);
    EXPECT_EQ(readSerialNumber(station().meters(), 3), 0U);
    int major = -1, minor = -1;
    readFirmwareVersion(station().meters(), 3, major, minor);
    EXPECT_EQ(major, 0);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(readMeterNames(station().meters(), 3).first, "");
}

}  // namespace
}  // namespace quorna::test
