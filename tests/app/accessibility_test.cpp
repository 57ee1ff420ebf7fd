// Every control a screen reader can reach has a name: the main window and each window of the
// program, walked through Qt's accessibility tree as an assistive technology walks it.

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QStringList>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "forms/comms_config_dialog.h"
#include "forms/log_file_dialog.h"
#include "gui/alarms/alarm_delay_window.h"
#include "gui/alarms/breaker_alarm_window.h"
#include "gui/alarms/global_limits_window.h"
#include "gui/bus/protocol_trace_window.h"
#include "gui/logging/add_table_window.h"
#include "gui/logging/database_link_window.h"
#include "gui/logging/database_setup_window.h"
#include "gui/logging/log_file_window.h"
#include "gui/main/about_window.h"
#include "gui/main/comms_config_window.h"
#include "gui/main/main_window.h"
#include "gui/main/qt_operator.h"
#include "gui/panel/panel_config_window.h"
#include "gui/panel/panel_setup_window.h"
#include "recording_operator.h"
#include "spooled_station.h"
#include "stub_app_shell.h"

namespace quorna::test {
namespace {

// The roles of controls that an operator reads or works; each must carry a name.
const std::set<QAccessible::Role> kNamedRoles{
    QAccessible::EditableText, QAccessible::List,     QAccessible::Graphic,  QAccessible::CheckBox,
    QAccessible::RadioButton,  QAccessible::PushButton, QAccessible::ComboBox, QAccessible::SpinBox,
};

void collectNameless(QAccessibleInterface* node, QStringList& nameless, int depth = 0) {
    if (node == nullptr || depth > 40) return;
    if (!node->state().invisible && kNamedRoles.count(node->role()) != 0 &&
        node->text(QAccessible::Name).trimmed().isEmpty()) {
        QObject* object = node->object();
        nameless << QStringLiteral("%1 '%2' (role %3)")
                        .arg(object != nullptr ? QString::fromLatin1(object->metaObject()->className()) : QString(),
                             object != nullptr ? object->objectName() : QString())
                        .arg(static_cast<int>(node->role()));
    }
    for (int i = 0; i < node->childCount(); ++i) collectNameless(node->child(i), nameless, depth + 1);
}

// The nameless controls of a shown window.
std::vector<std::string> namelessControls(QWidget& window) {
    window.show();
    QApplication::processEvents();
    QStringList nameless;
    collectNameless(QAccessible::queryAccessibleInterface(&window), nameless);
    std::vector<std::string> result;
    for (const QString& control : nameless) result.push_back(control.toStdString());
    return result;
}

class AccessibilityTest : public ::testing::Test {
protected:
    void SetUp() override { m_station.fresh(); }
    void TearDown() override { m_station.drop(); }

    // The test's station, made in SetUp.
    Station& station() { return m_station.get(); }

    // Builds the window, shows it and lists its nameless controls; the window goes afterwards.
    std::vector<std::string> check(const std::function<QWidget*()>& build) {
        std::unique_ptr<QWidget> window(build());
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        return namelessControls(*window);
    }

    RecordingOperator op;
    StubAppShell shell{[this]() -> Station& { return station(); }};

private:
    HeldStation m_station{op};
};

TEST_F(AccessibilityTest, EveryControlOfTheMainWindowHasAName) {
    QtOperator windowOperator;
    Station station(windowOperator);
    MainWindow window(station, windowOperator);
    EXPECT_EQ(namelessControls(window), std::vector<std::string>{});

    // Breakers speak their current and lamps their colour.
    const MainWindowControls& c = window.controls();
    EXPECT_EQ(c.breakerField[6]->accessibleName(), "Breaker 7 current");
    EXPECT_EQ(c.breakerLamp[6]->accessibleName(), "Breaker 7 lamp, green");
    MeterLamps lamps;
    lamps.breaker[6] = Lamp::Red;
    lamps.overVolts = Lamp::Yellow;
    station.meters().showLamps(lamps);
    window.showLamps();
    EXPECT_EQ(c.breakerLamp[6]->accessibleName(), "Breaker 7 lamp, red");
    EXPECT_EQ(c.overVoltsLamp->accessibleName(), "Over volts lamp, yellow");
    EXPECT_EQ(c.phaseField[5]->accessibleName(), "L-N Volts A-N");
}

TEST_F(AccessibilityTest, EveryControlOfEveryOtherWindowHasAName) {
    Station& s = station();
    CommsConfigDialog comms(s.bus(), s.logging());
    LogFileDialog logFile(s.logging());
    const std::vector<std::pair<const char*, std::function<QWidget*()>>> windows{
        {"breaker alarms", [&] { return new BreakerAlarmWindow(shell, s.alarms().breakerAlarms); }},
        {"global limits", [&] { return new GlobalLimitsWindow(shell, s.alarms().globalLimits); }},
        {"alarm delays", [&] { return new AlarmDelayWindow(shell, s.alarms().alarmDelays); }},
        {"panel setup", [&] { return new PanelSetupWindow(shell, s.panelSetup(), &shell.window); }},
        {"panel configuration", [&] { return new PanelConfigWindow(shell, s.panelConfig(), &shell.window); }},
        {"comms", [&] { return new CommsConfigWindow(comms, &shell.window); }},
        {"log file", [&] { return new LogFileWindow(logFile, &shell.window); }},
        {"database link", [&] { return new DatabaseLinkWindow(shell, s.databaseLink(), &shell.window); }},
        {"add table", [&] { return new AddTableWindow(op, &shell.window); }},
        {"database setup", [&] { return new DatabaseSetupWindow(s.settings().database, &shell.window); }},
        {"protocol trace", [&] { return new ProtocolTraceWindow(s.trace(), &shell.window); }},
        {"about", [&] { return new AboutWindow(&shell.window); }},
    };
    for (const auto& [name, build] : windows) EXPECT_EQ(check(build), std::vector<std::string>{}) << name;
}

TEST_F(AccessibilityTest, TheTracePaneIsReadAsItsDescription) {
    std::unique_ptr<ProtocolTraceWindow> window(new ProtocolTraceWindow(station().trace(), &shell.window));
    std::uint8_t request[] = {0x03, 0x11, 0xC1, 0x2C};
    station().bus().traceRequest(request, 4);
    station().bus().traceAnswer(request, 0);
    window->refresh();
    auto* pane = window->findChild<QLabel*>(QStringLiteral("pane"));
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(pane);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->text(QAccessible::Name), "Protocol trace");
    EXPECT_NE(node->text(QAccessible::Description).indexOf("Send->03 11 C1 2C"), -1)
        << node->text(QAccessible::Description).toStdString();
}

}  // namespace
}  // namespace quorna::test
