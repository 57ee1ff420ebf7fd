#include "gui/main/main_window_controls.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include "gui/main/lamp_pixmaps.h"

namespace quorna {
namespace {

// Breaker grid: row k holds breakers 2k+1 (left) and 2k+2 (right).
constexpr int kLeftLampX = 14, kRightLampX = 153;
constexpr int kLeftNumberX = 26, kRightNumberX = 143;
constexpr int kLeftFieldX = 36, kRightFieldX = 92;
constexpr int kLampTop = 23, kFieldTop = 21, kRowPitch = 11;
constexpr int kFirstNumberTop = 22;  // breaker 1's label sits one unit higher
constexpr int kNumberWidth = 10;
constexpr int kBreakerFieldWidth = 50, kFieldHeight = 11;
constexpr int kLabelHeight = 8;
constexpr int kPhaseFieldWidth = 40;
constexpr int kNameWidth = 29;

struct PhaseRow {
    const char* label;
    int labelX;
    int fieldX;
    int y;
    std::size_t group;  // index into kGroups: the field's accessible name starts with its title
};
// Same order as MainWindowControls::phaseField.
constexpr std::array<PhaseRow, kPhaseFieldCount> kPhaseRows{{
    {"A", 25, 56, 21, 0}, {"B", 25, 56, 32, 0}, {"C", 25, 56, 43, 0}, {"N", 25, 56, 54, 0}, {"Avg", 25, 56, 65, 0},
    {"A-N", 115, 147, 21, 2}, {"B-N", 115, 147, 32, 2}, {"C-N", 115, 147, 43, 2}, {"Avg", 115, 147, 65, 2},
    {"A-B", 115, 147, 87, 3}, {"B-C", 115, 147, 98, 3}, {"C-A", 115, 147, 109, 3}, {"Avg", 115, 147, 120, 3},
    {"kW", 25, 56, 87, 1}, {"kVAr", 25, 56, 98, 1}, {"KVA", 25, 56, 109, 1}, {"PF", 25, 56, 120, 1},
}};

struct GroupPlace {
    const char* title;
    int x, y, width, height;
};
constexpr std::array<GroupPlace, kPhaseGroupCount> kGroups{{
    {"Current", 15, 15, 85, 62},
    {"Power", 15, 79, 85, 54},
    {"L-N Volts", 105, 15, 85, 62},
    {"L-L Volts", 105, 79, 85, 54},
    {"Alarms", 200, 15, 70, 75},
}};

QLabel* label(QWidget* parent, const DialogUnits& u, const QString& text, int x, int y, int width = 0) {
    auto* l = new QLabel(text, parent);
    const int w = width > 0 ? u.x(width) : l->sizeHint().width();
    l->setGeometry(u.x(x), u.y(y), w, u.y(kLabelHeight));
    return l;
}

QLineEdit* field(QWidget* parent, const DialogUnits& u, int x, int y, int width) {
    auto* f = new QLineEdit(parent);
    f->setReadOnly(true);
    f->setFocusPolicy(Qt::NoFocus);
    f->setGeometry(u.rect(x, y, width, kFieldHeight));
    f->setTextMargins(0, 0, 0, 0);
    return f;
}

QLineEdit* nameField(QWidget* parent, const DialogUnits& u, int x, int y) {
    QLineEdit* f = field(parent, u, x, y, kNameWidth);
    f->setFrame(false);
    f->setAlignment(Qt::AlignCenter);
    // Shown as plain text on the window's ground, like a label.
    f->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    return f;
}

// A 13 x 13 picture whose top-left corner stands at the dialog-unit position.
QLabel* lamp(QWidget* parent, const DialogUnits& u, int x, int y) {
    auto* l = new QLabel(parent);
    l->setPixmap(lampPixmap(Lamp::Green));
    l->setGeometry(u.x(x), u.y(y), kLampSize, kLampSize);
    return l;
}

}  // namespace

QString lampAccessibleName(const QString& lamp, Lamp state) {
    switch (state) {
    case Lamp::Yellow: return lamp + QStringLiteral(", yellow");
    case Lamp::Red: return lamp + QStringLiteral(", red");
    case Lamp::Unknown: return lamp + QStringLiteral(", unknown");
    case Lamp::Green: break;
    }
    return lamp + QStringLiteral(", green");
}

MainWindowControls buildMainWindowControls(QWidget* client, const DialogUnits& u) {
    MainWindowControls c;
    // Group boxes first, so that the rows they frame stack above them.
    for (std::size_t g = 0; g < kGroups.size(); ++g) {
        const GroupPlace& p = kGroups[g];
        c.group[g] = new QGroupBox(QString::fromLatin1(p.title), client);
        c.group[g]->setGeometry(u.rect(p.x, p.y, p.width, p.height));
    }

    c.breakersLabel = label(client, u, QStringLiteral("Breakers - "), 65, 4);
    c.secondName = nameField(client, u, 70, 4);
    c.secondName->setAccessibleName(QStringLiteral("Second meter name"));
    c.firstName = nameField(client, u, 100, 4);
    c.firstName->setAccessibleName(QStringLiteral("First meter name"));

    for (int k = 0; k < 21; ++k) {
        for (int side = 0; side < 2; ++side) {
            const int breaker = 2 * k + side + 1;
            const auto i = static_cast<std::size_t>(breaker - 1);
            const bool left = side == 0;
            c.breakerLamp[i] = lamp(client, u, left ? kLeftLampX : kRightLampX, kLampTop + kRowPitch * k);
            c.breakerLamp[i]->setObjectName(QStringLiteral("lamp%1").arg(breaker));
            c.breakerLamp[i]->setAccessibleName(lampAccessibleName(QStringLiteral("Breaker %1 lamp").arg(breaker), Lamp::Green));
            const int numberTop = breaker == 1 ? kFirstNumberTop : kLampTop + kRowPitch * k;
            c.breakerNumber[i] = label(client, u, QString::number(breaker), left ? kLeftNumberX : kRightNumberX,
                                       numberTop, kNumberWidth);
            c.breakerField[i] = field(client, u, left ? kLeftFieldX : kRightFieldX, kFieldTop + kRowPitch * k,
                                      kBreakerFieldWidth);
            c.breakerField[i]->setObjectName(QStringLiteral("breaker%1").arg(breaker));
            c.breakerField[i]->setAccessibleName(QStringLiteral("Breaker %1 current").arg(breaker));
        }
    }

    for (std::size_t r = 0; r < kPhaseRows.size(); ++r) {
        const PhaseRow& row = kPhaseRows[r];
        c.phaseLabel[r] = label(client, u, QString::fromLatin1(row.label), row.labelX, row.y + 2);
        c.phaseField[r] = field(client, u, row.fieldX, row.y, kPhaseFieldWidth);
        c.phaseField[r]->setAccessibleName(QString::fromLatin1(kGroups[row.group].title) + QLatin1Char(' ') +
                                           QString::fromLatin1(row.label));
    }
    c.overLabel = label(client, u, QStringLiteral("Over"), 240, 25);
    c.ampsLabel = label(client, u, QStringLiteral("Amps"), 210, 45);
    c.voltsLabel = label(client, u, QStringLiteral("Volts"), 210, 70);
    c.overAmpsLamp = lamp(client, u, 245, 45);
    c.overAmpsLamp->setObjectName(QStringLiteral("overAmps"));
    c.overAmpsLamp->setAccessibleName(lampAccessibleName(QStringLiteral("Over amps lamp"), Lamp::Green));
    c.overVoltsLamp = lamp(client, u, 245, 70);
    c.overVoltsLamp->setObjectName(QStringLiteral("overVolts"));
    c.overVoltsLamp->setAccessibleName(lampAccessibleName(QStringLiteral("Over volts lamp"), Lamp::Green));

    c.upperListLabel = label(client, u, QStringLiteral("Available Meters"), 203, 68);
    c.lowerListLabel = label(client, u, QStringLiteral("Available Meters"), 85, 135);
    c.meterList = new QListWidget(client);
    c.meterList->setObjectName(QStringLiteral("meterList"));
    c.meterList->setAccessibleName(QStringLiteral("Available Meters"));
    c.meterList->setSelectionMode(QAbstractItemView::SingleSelection);
    c.meterList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    c.meterList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    c.meterList->setGeometry(u.rect(kListLeft, kListTop, kListWidth, kListHeight));
    return c;
}

}  // namespace quorna
