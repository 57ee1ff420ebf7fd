#include "gui/alarms/global_limits_window.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "gui/alarms/breaker_grid.h"
#include "gui/main/help_anchors.h"

namespace quorna {
namespace {

using Dialog = GlobalLimitsDialog;

constexpr int kLimitChars = 9;  // "65535" and a few decimals

}  // namespace

GlobalLimitsWindow::GlobalLimitsWindow(AppShell& shell, GlobalLimitsDialog& logic)
    : AlarmWindow(shell, QStringLiteral("Alarm Setup"), help::kGlobalLimits), m_logic(logic) {
    setCancelLogic([&logic] { logic.cancel(); });

    // Second name on the left, first name on the right.
    auto* names = new QHBoxLayout;
    m_edit[Dialog::kSecondNameField] = makeNameField(this);
    m_edit[Dialog::kFirstNameField] = makeNameField(this);
    m_edit[Dialog::kSecondNameField]->setObjectName(QStringLiteral("secondName"));
    m_edit[Dialog::kFirstNameField]->setObjectName(QStringLiteral("firstName"));
    m_edit[Dialog::kSecondNameField]->setAccessibleName(QStringLiteral("Second meter name"));
    m_edit[Dialog::kFirstNameField]->setAccessibleName(QStringLiteral("First meter name"));
    names->addStretch(1);
    names->addWidget(m_edit[Dialog::kSecondNameField]);
    names->addSpacing(24);
    names->addWidget(m_edit[Dialog::kFirstNameField]);
    names->addStretch(1);

    const auto limitEdit = [this](int field) {
        auto* edit = new QLineEdit(this);
        edit->setAlignment(Qt::AlignRight);
        edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QString(kLimitChars, QLatin1Char('0'))) + 12);
        m_edit[static_cast<std::size_t>(field)] = edit;
        watchFocus(edit);
        return edit;
    };
    const auto box = [this](int which) {
        auto* check = new QCheckBox(QStringLiteral("Critical"), this);
        m_box[static_cast<std::size_t>(which)] = check;
        // A click is a change of field like a focus change: take everything.
        connect(check, &QCheckBox::clicked, this, [this] { (void)takeFromWindow(); });
        return check;
    };

    auto* group = new QGroupBox(QStringLiteral("Global Limit Settings"), this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Under"), this), 0, 1, Qt::AlignHCenter);
    grid->addWidget(new QLabel(QStringLiteral("Over"), this), 0, 3, Qt::AlignHCenter);
    struct Row {
        const char* name;
        int underField, underBox, overField, overBox;
    };
    const Row rows[] = {
        {"Voltage", Dialog::kVoltageUnderField, Dialog::kVoltageUnderBox, Dialog::kVoltageOverField, Dialog::kVoltageOverBox},
        {"Current", Dialog::kCurrentUnderField, Dialog::kCurrentUnderBox, Dialog::kCurrentOverField, Dialog::kCurrentOverBox},
        {"KVA", Dialog::kKvaUnderField, Dialog::kKvaUnderBox, Dialog::kKvaOverField, Dialog::kKvaOverBox},
    };
    int row = 1;
    for (const Row& r : rows) {
        grid->addWidget(new QLabel(QString::fromLatin1(r.name), this), row, 0);
        grid->addWidget(limitEdit(r.underField), row, 1);
        grid->addWidget(box(r.underBox), row, 2);
        grid->addWidget(limitEdit(r.overField), row, 3);
        grid->addWidget(box(r.overBox), row, 4);
        ++row;
    }
    grid->setRowMinimumHeight(row++, 8);
    grid->addWidget(new QLabel(QStringLiteral("Phase Loss Threshhold"), this), row, 0, 1, 2);
    grid->addWidget(limitEdit(Dialog::kPhaseLossField), row, 3);
    grid->addWidget(box(Dialog::kPhaseLossBox), row, 4);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(names);
    layout->addWidget(group);
    layout->addLayout(buttonRow());

    const Dialog::Controls controls = m_logic.showFields();
    showTexts(controls.texts);
    for (int which = 0; which < Dialog::kBoxCount; ++which) {
        criticalBox(which)->setChecked(controls.critical[static_cast<std::size_t>(which)]);
    }
}

std::optional<int> GlobalLimitsWindow::takeFields() {
    Dialog::Controls controls;
    readTexts(controls.texts);
    for (int which = 0; which < Dialog::kBoxCount; ++which) {
        controls.critical[static_cast<std::size_t>(which)] = criticalBox(which)->isChecked();
    }
    return m_logic.takeFields(controls);
}

}  // namespace quorna
