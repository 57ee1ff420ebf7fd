#include "gui/alarms/alarm_delay_window.h"

#include <QLineEdit>
#include <QVBoxLayout>

#include "gui/alarms/breaker_grid.h"
#include "gui/main/help_anchors.h"

namespace quorna {
namespace {

constexpr int kDelayDigits = 5;

}  // namespace

AlarmDelayWindow::AlarmDelayWindow(AppShell& shell, AlarmDelayDialog& logic)
    : AlarmWindow(shell, QStringLiteral("Alarm Delay Setup"), help::kAlarmDelays), m_logic(logic) {
    setCancelLogic([&logic] { logic.cancel(); });

    const BreakersNameRow nameRow = makeBreakersNameRow(this);
    m_name = nameRow.name;

    m_grid = new BreakerGrid(kDelayDigits, this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(nameRow.layout);
    layout->addWidget(m_grid);
    layout->addLayout(buttonRow());

    for (int field = 0; field < BreakerPairs::kFieldCount; ++field) watchFocus(m_grid->edit(field));

    showTexts(m_logic.showFields());
}

QLineEdit* AlarmDelayWindow::editOfField(int field) const {
    if (field >= 0 && field < BreakerPairs::kFieldCount) return m_grid->edit(field);
    return field == AlarmDelayDialog::kMeterNameField ? m_name : nullptr;
}

std::optional<int> AlarmDelayWindow::takeFields() {
    AlarmDelayDialog::Texts texts;
    readTexts(texts);
    return m_logic.takeFields(texts);
}

}  // namespace quorna
