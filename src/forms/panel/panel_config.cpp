#include "forms/panel/panel_config.h"

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
    WaitCursor wait(m_meters.op);
    m_address = m_meters.selected.address;
    m_model = m_meters.selected.model;
    m_firstName = m_meters.fields.firstName;
    m_panelName = m_firstName;
    m_secondName = m_meters.fields.secondName;
    m_boardName = m_secondName;
    int major = 0;
    int minor = 0;
    readFirmwareVersion(m_meters, m_address, major, minor);
    m_firmwareText = panel::firmwareText(major, minor);
    m_serialText = panel::serialText(readSerialNumber(m_meters, m_address));
    m_ctSize = kInitialCtSize;
    m_ctSizeFromMeter = false;
    m_boxes = MeterEnableWord::boxes(0, m_model);
    m_meterSelectionLocked = false;
    refresh();
    showFields();
}

void PanelConfigDialog::readNames() {
    std::int32_t registers[kCircuitNameCount] = {0, 0, 0, 0};
    if (readRegisters(m_meters.bus, m_address, kCircuitNameRegister, kCircuitNameCount, registers) != ModbusError::Ok) {
        return;
    }
    m_firstName = namesFromRegisters(registers, 2);
    m_panelName = m_firstName;
    m_secondName = namesFromRegisters(registers + 2, 2);
    m_boardName = m_secondName;
    // The main window shows the selected meter's names; the polling cycle keeps them for another one.
    if (m_meters.selected.address == m_address) {
        m_meters.fields.firstName = m_firstName;
        m_meters.fields.secondName = m_secondName;
        m_meters.op.transferFields();
    }
}

void PanelConfigDialog::refresh() {
    readNames();
    std::int32_t value = 0;
    if (readRegisters(m_meters.bus, m_address, kCtSizeRegister, 1, &value) == ModbusError::Ok) {
        m_ctSize = panel::signed16(value);
        m_ctSizeRead = m_ctSize;
        m_ctSizeFromMeter = true;
    }
    if (readRegisters(m_meters.bus, m_address, kMeterEnableRegister, 1, &value) == ModbusError::Ok) {
        m_boxes = MeterEnableWord::boxes(value, m_model);
        m_meterSelectionLocked = MeterEnableWord::locked(value);
    }
}

void PanelConfigDialog::showFields() {
    texts.firstName = m_firstName;
    texts.secondName = m_secondName;
    texts.panelName = m_panelName;
    texts.boardName = m_boardName;
    texts.ctSize = std::to_string(m_ctSize);
    texts.firmwareText = m_firmwareText;
    texts.serialText = m_serialText;
}

std::optional<int> PanelConfigDialog::takeFields() {
    m_firstName = texts.firstName;
    if (!panel::takeName(m_meters.op, texts.panelName)) return kPanelNameField;
    m_panelName = texts.panelName;
    m_secondName = texts.secondName;
    if (!panel::takeName(m_meters.op, texts.boardName)) return kBoardNameField;
    m_boardName = texts.boardName;
    // A CT size the meter itself holds passes even outside 1 to 5999; its "SET" still refuses it.
    const std::optional<int> unchanged = m_ctSizeFromMeter ? std::optional<int>(m_ctSizeRead) : std::nullopt;
    const auto ct = panel::takeInteger(m_meters.op, texts.ctSize, kCtSizeLow, kCtSizeHigh, unchanged);
    if (!ct) return kCtSizeField;
    m_ctSize = *ct;
    m_firmwareText = texts.firmwareText;
    m_serialText = texts.serialText;
    return std::nullopt;
}

std::optional<int> PanelConfigDialog::setName(const std::string& name, int firstRegister) {
    WaitCursor wait(m_meters.op);
    const std::array<int, 2> words = nameToRegisters(name);
    (void)writeRegister(m_meters.bus, m_address, firstRegister, words[0]);
    (void)writeRegister(m_meters.bus, m_address, firstRegister + 1, words[1]);
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
    if (m_ctSize < kCtSizeLow || m_ctSize > kCtSizeHigh) {
        m_meters.op.messageBox(integerRangeMessage(kCtSizeLow, kCtSizeHigh), "");
        return kCtSizeField;
    }
    (void)writeRegister(m_meters.bus, m_address, kCtSizeRegister, m_ctSize);
    showFields();
    return std::nullopt;
}

std::optional<int> PanelConfigDialog::setMeterEnable() {
    if (m_meterSelectionLocked) return std::nullopt;
    if (const auto failed = takeFields()) return failed;
    {
        WaitCursor wait(m_meters.op);
        (void)writeRegister(m_meters.bus, m_address, kMeterEnableRegister, MeterEnableWord::compose(m_boxes, m_model));
        refresh();
        showFields();
    }
    // Shown whether or not the meter took the word.
    m_meters.op.messageBox(kNetworkDisplayMessage, "");
    return std::nullopt;
}

void PanelConfigDialog::clickBox(int box) {
    if (box < 1 || box > kMeterEnableBoxCount) return;
    m_boxes[static_cast<std::size_t>(box - 1)] = MeterEnableWord::clicked(m_boxes, box, m_meterSelectionLocked, m_model);
}

}  // namespace quorna
