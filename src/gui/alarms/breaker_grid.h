#pragma once
// The grid of the breaker alarm and delay windows: 42 rows of an "Alarm" and a "Warn" edit, odd
// breakers in the left column pair, even breakers in the right, each row labelled with its number.

#include <QWidget>
#include <array>

#include "meters/register_map.h"

class QHBoxLayout;
class QLineEdit;

namespace quorna {

class BreakerGrid : public QWidget {
    Q_OBJECT
public:
    // editChars: how many digits the edits have room for.
    BreakerGrid(int editChars, QWidget* parent);

    QLineEdit* alarmEdit(int breaker) const { return m_alarm.at(static_cast<std::size_t>(breaker - 1)); }
    QLineEdit* warnEdit(int breaker) const { return m_warn.at(static_cast<std::size_t>(breaker - 1)); }
    // Edit i of a window's take order: "Alarm" of breakers 1..42, then "Warn".
    QLineEdit* edit(int index) const {
        return index < kBreakerCount ? alarmEdit(index + 1) : warnEdit(index - kBreakerCount + 1);
    }

private:
    std::array<QLineEdit*, kBreakerCount> m_alarm{};
    std::array<QLineEdit*, kBreakerCount> m_warn{};
};

// The read-only, centred name field after "Breakers - ".
QLineEdit* makeNameField(QWidget* parent);

// The "Breakers - " row above a breaker grid, with the meter name field "meterName".
struct BreakersNameRow {
    QHBoxLayout* layout;
    QLineEdit* name;
};
BreakersNameRow makeBreakersNameRow(QWidget* parent);

}  // namespace quorna
