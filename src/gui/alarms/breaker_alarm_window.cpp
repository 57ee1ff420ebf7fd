#include "gui/alarms/breaker_alarm_window.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/alarms/breaker_grid.h"
#include "gui/main/help_anchors.h"

namespace quorna {
namespace {

using Setting = BreakerAlarmDialog::GlobalSetting;

constexpr std::size_t index(Setting setting) { return static_cast<std::size_t>(setting); }

constexpr int kThresholdDigits = 3;
constexpr int kGlobalDigits = 5;

}  // namespace

BreakerAlarmWindow::BreakerAlarmWindow(AppShell& shell, BreakerAlarmDialog& logic)
    : AlarmWindow(shell, QStringLiteral("Alarm Setup"), help::kBreakerAlarms), m_logic(logic) {
    setCancelLogic([&logic] { logic.cancel(); });

    const BreakersNameRow nameRow = makeBreakersNameRow(this);
    m_name = nameRow.name;

    m_grid = new BreakerGrid(kThresholdDigits, this);

    // A global setting row: "SET", its name, the edit, its unit.
    const auto settingRow = [this](QGridLayout* box, int row, Setting setting, const QString& name,
                                   const QString& unit) {
        auto* set = new QPushButton(QStringLiteral("SET"), this);
        set->setAutoDefault(false);
        auto* edit = new QLineEdit(this);
        edit->setAlignment(Qt::AlignRight);
        edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QString(kGlobalDigits + 1, QLatin1Char('0'))) + 12);
        box->addWidget(set, row, 0);
        box->addWidget(new QLabel(name, this), row, 1);
        box->addWidget(edit, row, 2);
        box->addWidget(new QLabel(unit, this), row, 3);
        m_setButton[index(setting)] = set;
        m_globalEdit[index(setting)] = edit;
        connect(set, &QPushButton::clicked, this, [this, setting] { onSet(setting); });
    };

    auto* limits = new QGroupBox(QStringLiteral("Global Limit Settings"), this);
    auto* limitsGrid = new QGridLayout(limits);
    settingRow(limitsGrid, 0, Setting::WarningPercent, QStringLiteral("Warning"), QStringLiteral("% Rated"));
    settingRow(limitsGrid, 1, Setting::AlarmPercent, QStringLiteral("Alarm"), QStringLiteral("% Rated"));

    auto* holdoffs = new QGroupBox(QStringLiteral("Global Holdoff Delays"), this);
    auto* holdoffGrid = new QGridLayout(holdoffs);
    settingRow(holdoffGrid, 0, Setting::WarningHoldoff, QStringLiteral("Warning"), QStringLiteral("Secs"));
    settingRow(holdoffGrid, 1, Setting::AlarmHoldoff, QStringLiteral("Alarm"), QStringLiteral("Secs"));

    auto* side = new QVBoxLayout;
    side->addWidget(limits);
    side->addWidget(holdoffs);
    side->addStretch(1);
    side->addLayout(buttonRow());

    auto* left = new QVBoxLayout;
    left->addLayout(nameRow.layout);
    left->addWidget(m_grid);

    auto* top = new QHBoxLayout(this);
    top->addLayout(left);
    top->addSpacing(12);
    top->addLayout(side);

    for (int field = 0; field < BreakerPairs::kFieldCount; ++field) watchFocus(m_grid->edit(field));
    for (QLineEdit* edit : m_globalEdit) watchFocus(edit);

    showFields();
}

QLineEdit* BreakerAlarmWindow::globalEdit(Setting setting) const { return m_globalEdit[index(setting)]; }
QPushButton* BreakerAlarmWindow::setButton(Setting setting) const { return m_setButton[index(setting)]; }

QLineEdit* BreakerAlarmWindow::editOfField(int field) const {
    if (field >= 0 && field < BreakerPairs::kFieldCount) return m_grid->edit(field);
    switch (field) {
    case BreakerAlarmDialog::kWarningPercentField: return globalEdit(Setting::WarningPercent);
    case BreakerAlarmDialog::kAlarmPercentField: return globalEdit(Setting::AlarmPercent);
    case BreakerAlarmDialog::kMeterNameField: return m_name;
    case BreakerAlarmDialog::kAlarmHoldoffField: return globalEdit(Setting::AlarmHoldoff);
    case BreakerAlarmDialog::kWarningHoldoffField: return globalEdit(Setting::WarningHoldoff);
    default: return nullptr;
    }
}

void BreakerAlarmWindow::showFields() {
    showTexts(m_logic.showFields());
}

std::optional<int> BreakerAlarmWindow::takeFields() {
    BreakerAlarmDialog::Texts texts;
    readTexts(texts);
    return m_logic.takeFields(texts);
}

void BreakerAlarmWindow::onSet(Setting setting) {
    if (!takeFromWindow()) return;
    if (const std::optional<int> refused = m_logic.set(setting)) {
        focusField(refused);
        return;
    }
    showFields();
}

}  // namespace quorna
