#pragma once
// The "Alarm Delay Setup" window on screen; its logic is AlarmDelayDialog.

#include "forms/alarms/alarm_delay_dialog.h"
#include "gui/alarms/alarm_window.h"

class QLineEdit;

namespace quorna {

class BreakerGrid;

class AlarmDelayWindow : public AlarmWindow {
    Q_OBJECT
public:
    AlarmDelayWindow(AppShell& shell, AlarmDelayDialog& logic);

    BreakerGrid* grid() const { return m_grid; }
    QLineEdit* nameField() const { return m_name; }
    QLineEdit* editOfField(int field) const override;

protected:
    std::optional<int> takeFields() override;
    std::optional<int> writeChanges() override { return m_logic.ok(); }

private:
    AlarmDelayDialog& m_logic;
    BreakerGrid* m_grid = nullptr;
    QLineEdit* m_name = nullptr;
};

}  // namespace quorna
