#pragma once
// The "Alarm Setup" window of a Branch meter on screen; its logic is BreakerAlarmDialog.

#include "gui/alarms/alarm_window.h"
#include "forms/alarms/breaker_alarm_dialog.h"

class QLineEdit;
class QPushButton;

namespace quorna {

class BreakerGrid;

class BreakerAlarmWindow : public AlarmWindow {
    Q_OBJECT
public:
    // Shows what the logic holds; the opener has already read the meter.
    BreakerAlarmWindow(AppShell& shell, BreakerAlarmDialog& logic);

    BreakerGrid* grid() const { return m_grid; }
    QLineEdit* nameField() const { return m_name; }
    QLineEdit* globalEdit(BreakerAlarmDialog::GlobalSetting setting) const;
    QPushButton* setButton(BreakerAlarmDialog::GlobalSetting setting) const;
    QLineEdit* editOfField(int field) const override;

protected:
    std::optional<int> takeFields() override;
    std::optional<int> writeChanges() override { return m_logic.ok(); }

private:
    void showFields();
    void onSet(BreakerAlarmDialog::GlobalSetting setting);

    BreakerAlarmDialog& m_logic;
    BreakerGrid* m_grid = nullptr;
    QLineEdit* m_name = nullptr;
    std::array<QLineEdit*, 4> m_globalEdit{};     // by GlobalSetting
    std::array<QPushButton*, 4> m_setButton{};    // by GlobalSetting
};

}  // namespace quorna
