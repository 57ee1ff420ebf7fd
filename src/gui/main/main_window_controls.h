#pragma once
// The controls of the main window, placed from their dialog-unit positions.

#include <array>

#include <QString>

#include "gui/main/dialog_units.h"
#include "meters/main_window_fields.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QWidget;

namespace quorna {

inline constexpr int kPhaseFieldCount = 17;
inline constexpr int kPhaseGroupCount = 5;
// The window's client area in dialog units.
inline constexpr int kClientWidthUnits = 312;
inline constexpr int kClientHeightUnits = 266;
// The meter list's place in the window template, in dialog units.
inline constexpr int kListLeft = 165, kListTop = 55, kListWidth = 140, kListHeight = 111;

struct MainWindowControls {
    std::array<QLabel*, 42> breakerLamp{};
    std::array<QLabel*, 42> breakerNumber{};
    std::array<QLineEdit*, 42> breakerField{};
    QLabel* breakersLabel = nullptr;
    QLineEdit* firstName = nullptr;
    QLineEdit* secondName = nullptr;

    // Phase fields and their row labels, in the order Current A, B, C, N, Avg; L-N Volts A-N,
    // B-N, C-N, Avg; L-L Volts A-B, B-C, C-A, Avg; Power kW, kVAr, KVA, PF.
    std::array<QLineEdit*, kPhaseFieldCount> phaseField{};
    std::array<QLabel*, kPhaseFieldCount> phaseLabel{};
    // "Current", "Power", "L-N Volts", "L-L Volts", "Alarms".
    std::array<QGroupBox*, kPhaseGroupCount> group{};
    QLabel* overLabel = nullptr;
    QLabel* ampsLabel = nullptr;
    QLabel* voltsLabel = nullptr;
    QLabel* overAmpsLamp = nullptr;
    QLabel* overVoltsLamp = nullptr;

    QListWidget* meterList = nullptr;
    QLabel* upperListLabel = nullptr;  // beside the breaker grid
    QLabel* lowerListLabel = nullptr;  // above the band of the Circuit layout
};

// Creates every control as a child of client, at its place.
MainWindowControls buildMainWindowControls(QWidget* client, const DialogUnits& units);

// What a screen reader says of a lamp: its name and its colour ("Breaker 7 lamp, red").
QString lampAccessibleName(const QString& lamp, Lamp state);

}  // namespace quorna
