#pragma once
// The meters on one bus: the directory of models by address, the "Available Meters" list and its
// selection, the meter being polled, the main window's readout, and the state of polling and
// scanning. A station owns one; the polling cycle, the scan, the commands and every setup window
// work on it through its commands, and read its state through its views.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "bus/bus.h"
#include "meters/main_window_fields.h"
#include "meters/meter_list.h"
#include "meters/meter_model.h"

namespace quorna {

struct ConfigurationRecord;

struct SelectedMeter {
    int address = -1;               // Modbus address, -1 for none
    int model = kNoModel;           // the model of the picked meter-list entry
};

// Where the scan under way stands: the address its next step asks, whether it has listed (and
// selected) a meter, whether its probe is out and its answer awaited, and how many scans asked for
// meanwhile follow it.
struct ScanProgress {
    int nextAddress = 0;
    bool found = false;
    bool probing = false;
    int waiting = 0;
};

class Meters {
public:
    Meters(Bus& bus, const ConfigurationRecord& settings) : m_bus(bus), m_op(bus.op()), m_settings(settings), m_list(bus.op()) {}
    Meters(const Meters&) = delete;
    Meters& operator=(const Meters&) = delete;

    // The bus the meters answer on, the operator told of what they do, and the settings (the
    // scan depth is read afresh for every address asked).
    [[nodiscard]] Bus& bus() { return m_bus; }
    [[nodiscard]] const Bus& bus() const { return m_bus; }
    [[nodiscard]] Operator& op() const { return m_op; }
    [[nodiscard]] const ConfigurationRecord& settings() const { return m_settings; }

    // The slave ID bytes the scan found, by address.
    [[nodiscard]] const MeterDirectory& directory() const { return m_directory; }
    [[nodiscard]] int modelAt(int address) const { return directoryModel(m_directory, address); }
    void recordSlaveId(int address, int slaveId);  // an address outside the directory is ignored
    void clearDirectory() { m_directory.fill(0); }

    // "Available Meters".
    [[nodiscard]] MeterList& list() { return m_list; }
    [[nodiscard]] const MeterList& list() const { return m_list; }

    // The meter the timer polls.
    [[nodiscard]] const SelectedMeter& selected() const { return m_selected; }
    void setSelected(SelectedMeter meter) { m_selected = meter; }
    // The operator picked an entry of the meter list (MeterList::selection): it is polled from now
    // on, and a Branch or Circuit meter shows its layout.
    void selectMeter();

    // The main window's readout.
    [[nodiscard]] const MainWindowFields& fields() const { return m_fields; }
    void setLayout(Layout layout) { m_fields.layout = layout; }
    // The layout of a model, which the window applies at once.
    void showLayoutFor(int model);
    // The names a panel window wrote to the selected meter.
    void setFirstName(const std::string& name) { m_fields.firstName = name; }
    void setNames(const std::string& first, const std::string& second);
    void showLamps(const MeterLamps& lamps);
    // Every breaker lamp and both Over lamps green.
    void setAllLampsGreen() { setAllLamps(Lamp::Green); }
    // Every lamp neither green nor red: the meter did not answer, its state is not known.
    void setAllLampsUnknown() { setAllLamps(Lamp::Unknown); }
    // Lamps from a poll block of the selected meter's model (registers 0 to 48 of a Branch meter,
    // 0 to 36 of a Circuit meter); other models leave every lamp green.
    void showAlarmLamps(const std::int32_t* block);

    // Scale of a Circuit meter's currents and powers, from its range register 29 as the last good
    // poll of the meter at currentScaleAddress read it; 0 and -1 until the first good poll. A
    // failed poll leaves both as they were.
    [[nodiscard]] float currentScale() const { return m_currentScale; }
    [[nodiscard]] int currentScaleAddress() const { return m_currentScaleAddress; }
    void setCurrentScale(int address, float scale);

    // Polls the selected meter once, when the port is open and no scan runs, in steps, so that
    // the window runs while an answer is awaited: beginPoll sends the poll's first request, or does
    // at once what needs no answer, and says whether an answer is awaited; each pollStep waits at
    // most `slice` for it and says whether the poll goes on (a good poll of a Branch or Circuit
    // meter goes on to read its names).
    bool beginPoll();
    bool pollStep(std::chrono::milliseconds slice);
    [[nodiscard]] bool polling() const { return m_poll.stage != PollStage::None; }
    // Failed polls since the last good one, shared by all meters.
    [[nodiscard]] int consecutiveFailures() const { return m_consecutiveFailures; }

    // The bus scan that fills "Available Meters" (meter_scan.h tells how it runs).
    [[nodiscard]] bool scanning() const { return m_scanning; }  // timer ticks do nothing meanwhile
    [[nodiscard]] const ScanProgress& scanProgress() const { return m_scan; }
    void startScan();
    bool scanStep();
    void cancelScan();
    // Addresses probed in the last scan with a garbled answer, asked again (meter_scan.h) in steps
    // as a scan runs: beginReprobe says whether any address is to be asked; each reprobeStep waits
    // at most `slice` for the answer, or asks the next address, and says whether more is to come.
    [[nodiscard]] const std::vector<int>& garbledAddresses() const { return m_garbledAddresses; }
    bool beginReprobe();
    bool reprobeStep(std::chrono::milliseconds slice);

private:
    // The polling cycle's steps (polling_cycle.cpp).
    void setAllLamps(Lamp lamp);
    void showBranch(const std::int32_t* block, const std::string& name);
    void showCircuit(int address, int model, const std::int32_t* block, const std::string& first,
                     const std::string& second);
    void showUnknown(int model);
    // The poll under way: the meter, the read whose answer is awaited, and what it has read so far.
    enum class PollStage { None, Displayed, Names, Counted };
    static constexpr int kPollBlockCapacity = 64;
    struct PollUnderWay {
        PollStage stage = PollStage::None;
        int address = 0;
        int model = kNoModel;
        int count = 0;            // registers the read under way asks for
        bool lampsGreen = false;  // a counted model's lamps go green after its poll
        std::array<std::int32_t, kPollBlockCapacity> block{};
        std::array<std::int32_t, 4> names{};
    };
    bool sendPollRead(PollStage stage, int start, int count);
    bool pollAnswered(ModbusError code);
    bool displayedAnswered(ModbusError code);
    void showDisplayed(const std::string& first, const std::string& second);
    // Where the reprobe under way stands: the garbled address it asks, whether its probe is out,
    // and the addresses still garbled so far.
    struct ReprobeProgress {
        bool underWay = false;
        std::vector<int> addresses;
        std::size_t next = 0;
        bool probing = false;
        std::vector<int> stillGarbled;
    };
    // The scan's steps (meter_scan.cpp).
    bool probeAnswered(int address, ModbusError code, int slaveId, const std::string& deviceText, bool& found);
    void beginScan();
    void endScan();

    Bus& m_bus;
    Operator& m_op;
    const ConfigurationRecord& m_settings;
    MeterDirectory m_directory{};
    MeterList m_list;
    SelectedMeter m_selected;
    MainWindowFields m_fields;
    float m_currentScale = 0.0F;
    int m_currentScaleAddress = -1;
    bool m_scanning = false;
    ScanProgress m_scan;
    int m_consecutiveFailures = 0;
    PollUnderWay m_poll;
    std::vector<int> m_garbledAddresses;
    ReprobeProgress m_reprobe;
};

}  // namespace quorna
