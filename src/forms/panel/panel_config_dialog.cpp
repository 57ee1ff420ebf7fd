#include "forms/panel/panel_config_dialog.h"

#include "forms/field_validation.h"
#include "meters/meters.h"
#include "meters/register_map.h"
#include "forms/panel/panel_fields.h"

namespace quorna {
namespace {

constexpr int kCircuitNameCount = 4;       // first name 38 to 39, second 40 to 41
constexpr int kCircuitSecondNameRegister = kCircuitNameRegister + 2;

}  // namespace

void PanelConfigDialog::open() {
    WaitCursor wait(m_meters.op());
    m_address = m_meters.selected().address;
    m_model = m_meters.selected().model;
    m_firstName = m_meters.fields().firstName;
    m_panelName = m_firstName;
    m_secondName = m_meters.fields().secondName;
    m_boardName = m_secondName;
    int major = 0;
    int minor = 0;
    readFirmwareVersion(m_meters, m_address, major, minor);
    m_firmwareText = panel::firmwareText(major, minor);
    m_serialText = panel::serialText(readSerialNumber(m_meters, m_address));
    m_ctSizeEntered = false;
    refresh();
    showFields();
}

void PanelConfigDialog::readNames() {
    std::int32_t registers[kCircuitNameCount] = {0, 0, 0, 0};
    if (readRegisters(m_meters.bus(), m_address, kCircuitNameRegister, kCircuitNameCount, registers) != ModbusError::Ok) {
        return;
    }
    m_firstName = namesFromRegisters(registers, 2);
    m_panelName = m_firstName;
    m_secondName = namesFromRegisters(registers + 2, 2);
    m_boardName = m_secondName;
    // The main window shows the selected meter's names; the polling cycle keeps them for another one.
    if (m_meters.selected().address == m_address) {
        m_meters.setNames(m_firstName, m_secondName);
        m_meters.op().transferFields();
    }
}

void PanelConfigDialog::refresh() {
    readNames();
    // A value the meter did not give is not known: the CT size shows empty, and an enable word
    // that could not be read shows the locked form, so that nothing derived from it is sent.
    std::int32_t value = 0;
    m_ctSizeFromMeter = readRegisters(m_meters.bus(), m_address, kCtSizeRegister, 1, &value) == ModbusError::Ok;
    if (m_ctSizeFromMeter) {
        m_ctSize = panel::signed16(value);
        m_ctSizeRead = m_ctSize;
    }
    m_ctSizeEntered = false;
    m_enableWordKnown = readRegisters(m_meters.bus(), m_address, kMeterEnableRegister, 1, &value) == ModbusError::Ok;
    if (m_enableWordKnown) {
        m_boxes = MeterEnableWord::boxes(value, m_model);
        m_meterSelectionLocked = MeterEnableWord::locked(value);
    } else {
        m_boxes = MeterEnableWord::boxes(0, m_model);
        m_meterSelectionLocked = true;
    }
}

void PanelConfigDialog::showFields() {
    texts.firstName = m_firstName;
    texts.secondName = m_secondName;
    texts.panelName = m_panelName;
    texts.boardName = m_boardName;
    texts.ctSize = m_ctSizeFromMeter || m_ctSizeEntered ? std::to_string(m_ctSize) : std::string();
    texts.firmwareText = m_firmwareText;
    texts.serialText = m_serialText;
}

std::optional<int> PanelConfigDialog::takeFields() {
    m_firstName = texts.firstName;
    if (!panel::takeName(m_meters.op(), texts.panelName)) return kPanelNameField;
    m_panelName = texts.panelName;
    m_secondName = texts.secondName;
    if (!panel::takeName(m_meters.op(), texts.boardName)) return kBoardNameField;
    m_boardName = texts.boardName;
    // A CT size the meter itself holds passes even outside 1 to 5999; its "SET" still refuses it.
    // A CT size the meter did not give shows empty, and passes while it stays so.
    if (m_ctSizeFromMeter || m_ctSizeEntered || !texts.ctSize.empty()) {
        const std::optional<int> unchanged = m_ctSizeFromMeter ? std::optional<int>(m_ctSizeRead) : std::nullopt;
        const auto ct = panel::takeInteger(m_meters.op(), texts.ctSize, kCtSizeLow, kCtSizeHigh, unchanged);
        if (!ct) return kCtSizeField;
        m_ctSize = *ct;
        m_ctSizeEntered = !m_ctSizeFromMeter;
    }
    m_firmwareText = texts.firmwareText;
    m_serialText = texts.serialText;
    return std::nullopt;
}

std::optional<int> PanelConfigDialog::setName(const std::string& name, int firstRegister) {
    WaitCursor wait(m_meters.op());
    (void)panel::writeName(m_meters.bus(), m_address, firstRegister, name);
    readNames();
    showFields();
    return std::nullopt;
}

std::optional<int> PanelConfigDialog::setPanelName() {
    if (const auto failed = takeFields()) return failed;
    return setName(m_panelName, kCircuitNameRegister);
}

std::optional<int> PanelConfigDialog::setBoardName() {
    if (m_meterSelectionLocked) return std::nullopt;
    if (const auto failed = takeFields()) return failed;
    return setName(m_boardName, kCircuitSecondNameRegister);
}

std::optional<int> PanelConfigDialog::setCtSize() {
    if (const auto failed = takeFields()) return failed;
    if (!m_ctSizeFromMeter && !m_ctSizeEntered) {
        m_meters.op().warning(kNotAnInteger);
        return kCtSizeField;
    }
    if (m_ctSize < kCtSizeLow || m_ctSize > kCtSizeHigh) {
        m_meters.op().warning(integerRangeMessage(kCtSizeLow, kCtSizeHigh));
        return kCtSizeField;
    }
    (void)writeRegister(m_meters.bus(), m_address, kCtSizeRegister, m_ctSize);
    showFields();
    return std::nullopt;
}

std::optional<int> PanelConfigDialog::setMeterEnable() {
    if (m_meterSelectionLocked || !m_enableWordKnown) return std::nullopt;
    if (const auto failed = takeFields()) return failed;
    {
        WaitCursor wait(m_meters.op());
        (void)writeRegister(m_meters.bus(), m_address, kMeterEnableRegister, MeterEnableWord::compose(m_boxes, m_model));
        refresh();
        showFields();
    }
    // Shown whether or not the meter took the word.
    m_meters.op().info(kNetworkDisplayMessage);
    return std::nullopt;
}

void PanelConfigDialog::clickBox(int box) {
    if (box < 1 || box > kMeterEnableBoxCount) return;
    m_boxes[static_cast<std::size_t>(box - 1)] = MeterEnableWord::clicked(m_boxes, box, m_meterSelectionLocked, m_model);
}

}  // namespace quorna
