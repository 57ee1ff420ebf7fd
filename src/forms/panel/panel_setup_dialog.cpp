#include "forms/panel/panel_setup_dialog.h"

#include "meters/meters.h"
#include "forms/panel/panel_fields.h"

namespace quorna {

void PanelSetupDialog::open() {
    WaitCursor wait(m_meters.op());
    m_address = m_meters.selected().address;
    m_firstName = m_meters.fields().firstName;
    m_panelName = m_firstName;
    refreshRatings();
    int major = 0;
    int minor = 0;
    readFirmwareVersion(m_meters, m_address, major, minor);
    m_firmwareText = panel::firmwareText(major, minor);
    m_serialText = panel::serialText(readSerialNumber(m_meters, m_address));
    showFields();
}

void PanelSetupDialog::refreshRatings() {
    BreakerBlock block{};
    // A failed read leaves -1 in every entry, which then equals its snapshot and is never sent.
    (void)readPanelSetupBlock(m_meters, m_address, block);
    for (int i = 0; i < kBreakerCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        m_breakerRating[at] = panel::signed16(block[at]);
        m_snapshot.rating[at] = m_breakerRating[at];
    }
}

void PanelSetupDialog::showFields() {
    for (std::size_t i = 0; i < m_breakerRating.size(); ++i) texts.rating[i] = std::to_string(m_breakerRating[i]);
    texts.globalRating = std::to_string(m_globalRating);
    texts.firstName = m_firstName;
    texts.panelName = m_panelName;
    texts.firmwareText = m_firmwareText;
    texts.serialText = m_serialText;
}

std::optional<int> PanelSetupDialog::takeFields() {
    for (int i = 0; i < kBreakerCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        // A rating that still holds what the meter gave passes even outside 10 to 50 (a failed
        // read shows -1): it is never sent, and refusing it would keep the window from closing.
        const auto value = panel::takeInteger(m_meters.op(), texts.rating[at], kRatingLow, kRatingHigh, m_snapshot.rating[at]);
        if (!value) return i;
        m_breakerRating[at] = *value;
    }
    const auto global = panel::takeInteger(m_meters.op(), texts.globalRating, kRatingLow, kRatingHigh);
    if (!global) return kGlobalRatingField;
    m_globalRating = *global;
    m_firstName = texts.firstName;
    if (!panel::takeName(m_meters.op(), texts.panelName)) return kPanelNameField;
    m_panelName = texts.panelName;
    m_firmwareText = texts.firmwareText;
    m_serialText = texts.serialText;
    return std::nullopt;
}

std::optional<int> PanelSetupDialog::setGlobalRating() {
    if (const auto failed = takeFields()) return failed;
    (void)writeRegister(m_meters.bus(), m_address, kGlobalRatingRegister, m_globalRating);
    refreshRatings();
    showFields();
    return std::nullopt;
}

void PanelSetupDialog::storeName(const std::string& name) {
    m_firstName = name;
    m_panelName = name;
    // The main window shows the selected meter's name; the polling cycle keeps it for another one.
    if (m_meters.selected().address == m_address) {
        m_meters.setFirstName(name);
        m_meters.op().transferFields();
    }
}

std::optional<int> PanelSetupDialog::setPanelName() {
    if (const auto failed = takeFields()) return failed;
    (void)panel::writeName(m_meters.bus(), m_address, kBranchNameRegister, m_panelName);
    std::int32_t registers[2] = {0, 0};
    // When the read-back fails the window keeps the names it showed.
    if (readRegisters(m_meters.bus(), m_address, kBranchNameRegister, 2, registers) == ModbusError::Ok) {
        storeName(namesFromRegisters(registers, 2));
    }
    refreshRatings();
    showFields();
    return std::nullopt;
}

std::optional<int> PanelSetupDialog::accept() {
    if (const auto failed = takeFields()) return failed;
    WaitCursor wait(m_meters.op());
    for (int i = 0; i < kBreakerCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (m_breakerRating[at] != m_snapshot.rating[at]) {
            (void)writeRegister(m_meters.bus(), m_address, kPanelSetupRegister + i, m_breakerRating[at]);
        }
    }
    return std::nullopt;
}

}  // namespace quorna
