#pragma once
// The "Alarm Setup" window of a Circuit meter on screen; its logic is GlobalLimitsDialog.

#include <array>

#include "gui/alarms/alarm_window.h"
#include "forms/alarms/global_limits_dialog.h"

class QCheckBox;
class QLineEdit;

namespace quorna {

class GlobalLimitsWindow : public AlarmWindow {
    Q_OBJECT
public:
    GlobalLimitsWindow(AppShell& shell, GlobalLimitsDialog& logic);

    QLineEdit* editOfField(int field) const override { return m_edit.at(static_cast<std::size_t>(field)); }
    QCheckBox* criticalBox(int box) const { return m_box.at(static_cast<std::size_t>(box)); }

protected:
    std::optional<int> takeFields() override;
    std::optional<int> writeChanges() override { return m_logic.ok(); }

private:
    GlobalLimitsDialog& m_logic;
    std::array<QLineEdit*, GlobalLimitsDialog::kFieldCount> m_edit{};
    std::array<QCheckBox*, GlobalLimitsDialog::kBoxCount> m_box{};
};

}  // namespace quorna
