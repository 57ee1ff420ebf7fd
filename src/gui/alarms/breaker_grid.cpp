#include "gui/alarms/breaker_grid.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

namespace quorna {
namespace {

constexpr int kPairs = 2;           // odd breakers left, even breakers right
constexpr int kColumnsPerPair = 3;  // number, "Alarm", "Warn"
constexpr int kPairGap = 16;        // pixels between the two column pairs

}  // namespace

BreakerGrid::BreakerGrid(int editChars, QWidget* parent) : QWidget(parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    const int editWidth = fontMetrics().horizontalAdvance(QString(editChars + 1, QLatin1Char('0'))) + 12;

    for (int pair = 0; pair < kPairs; ++pair) {
        const int column = pair * (kColumnsPerPair + 1);
        grid->addWidget(new QLabel(QStringLiteral("Alarm"), this), 0, column + 1, Qt::AlignHCenter);
        grid->addWidget(new QLabel(QStringLiteral("Warn"), this), 0, column + 2, Qt::AlignHCenter);
    }
    grid->setColumnMinimumWidth(kColumnsPerPair, kPairGap);

    // Tab order runs along each row: left pair, then right pair.
    for (int breaker = 1; breaker <= kBreakerCount; ++breaker) {
        const int pair = (breaker - 1) % kPairs;
        const int row = 1 + (breaker - 1) / kPairs;
        const int column = pair * (kColumnsPerPair + 1);
        auto* number = new QLabel(QString::number(breaker), this);
        number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* alarm = new QLineEdit(this);
        auto* warn = new QLineEdit(this);
        for (QLineEdit* edit : {alarm, warn}) {
            edit->setFixedWidth(editWidth);
            edit->setAlignment(Qt::AlignRight);
        }
        alarm->setObjectName(QStringLiteral("alarm%1").arg(breaker));
        warn->setObjectName(QStringLiteral("warn%1").arg(breaker));
        alarm->setAccessibleName(QStringLiteral("Breaker %1 Alarm").arg(breaker));
        warn->setAccessibleName(QStringLiteral("Breaker %1 Warn").arg(breaker));
        grid->addWidget(number, row, column);
        grid->addWidget(alarm, row, column + 1);
        grid->addWidget(warn, row, column + 2);
        m_alarm[static_cast<std::size_t>(breaker - 1)] = alarm;
        m_warn[static_cast<std::size_t>(breaker - 1)] = warn;
    }
}

QLineEdit* makeNameField(QWidget* parent) {
    auto* name = new QLineEdit(parent);
    name->setReadOnly(true);
    name->setAlignment(Qt::AlignCenter);
    name->setFocusPolicy(Qt::NoFocus);
    name->setFixedWidth(name->fontMetrics().horizontalAdvance(QStringLiteral("WWWWWW")) + 12);
    return name;
}

BreakersNameRow makeBreakersNameRow(QWidget* parent) {
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Breakers - "), parent));
    QLineEdit* name = makeNameField(parent);
    name->setObjectName(QStringLiteral("meterName"));
    name->setAccessibleName(QStringLiteral("Meter name"));
    row->addWidget(name);
    row->addStretch(1);
    return {row, name};
}

}  // namespace quorna
