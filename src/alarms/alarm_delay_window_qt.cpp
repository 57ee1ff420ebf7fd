#include "alarms/alarm_delay_window_qt.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "alarms/breaker_grid_qt.h"

namespace quorna {
namespace {

constexpr int kDelayDigits = 5;

}  // namespace

AlarmDelayWindow::AlarmDelayWindow(AppShell& shell, AlarmDelayDialog& logic)
    : AlarmWindow(shell, QStringLiteral("Alarm Delay Setup")), m_logic(logic) {
    setCancelLogic([&logic] { logic.cancel(); });

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel(QStringLiteral("Breakers - "), this));
    m_name = makeNameField(this);
    m_name->setObjectName(QStringLiteral("meterName"));
    nameRow->addWidget(m_name);
    nameRow->addStretch(1);

    m_grid = new BreakerGrid(kDelayDigits, this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(nameRow);
    layout->addWidget(m_grid);
    layout->addLayout(buttonRow());

    for (int field = 0; field < BreakerPairs::kFieldCount; ++field) watchFocus(m_grid->edit(field));

    const AlarmDelayDialog::Texts texts = m_logic.showFields();
    for (int field = 0; field < AlarmDelayDialog::kFieldCount; ++field) {
        editOfField(field)->setText(QString::fromStdString(texts[static_cast<std::size_t>(field)]));
    }
}

QLineEdit* AlarmDelayWindow::editOfField(int field) const {
    if (field >= 0 && field < BreakerPairs::kFieldCount) return m_grid->edit(field);
    return field == AlarmDelayDialog::kMeterNameField ? m_name : nullptr;
}

std::optional<int> AlarmDelayWindow::takeFields() {
    AlarmDelayDialog::Texts texts;
    for (int field = 0; field < AlarmDelayDialog::kFieldCount; ++field) {
        texts[static_cast<std::size_t>(field)] = editOfField(field)->text().toStdString();
    }
    return m_logic.takeFields(texts);
}

QWidget* AlarmDelayWindow::widgetOfField(int field) const { return editOfField(field); }

}  // namespace quorna
